// The CSV reader/writer and the schema parser of dbftool.
#include "csv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "schema.h"

namespace dbftool {
namespace {

TEST(Csv, QuotesOnlyWhatNeedsQuoting) {
    EXPECT_EQ(csvRecord({"plain", "with,comma", "say \"hi\"", "two\r\nlines", ""}),
              "plain,\"with,comma\",\"say \"\"hi\"\"\",\"two\r\nlines\",");
    EXPECT_EQ(csvRecord({" lead", "trail "}), " lead,trail ");
}

TEST(Csv, ParsesWhatItWritesIncludingEmbeddedLineEnds) {
    // (the first value starting with a byte order mark, which the reader would take for the file's own)
    std::vector<std::vector<std::string>> rows = {{"\xEF\xBB\xBF"
                                                   "A",
                                                   "B", "C"},
                                                  {"x,y", "\"q\"", ""},
                                                  {"multi\r\nline\nmemo", "É", ","},
                                                  {"", "", ""}};
    std::string text;
    for (const auto& r : rows) text += csvRecord(r) + "\r\n";
    std::vector<std::vector<std::string>> back;
    std::string error;
    ASSERT_TRUE(csvParse(text, back, error)) << error;
    EXPECT_EQ(back, rows);
}

TEST(Csv, AcceptsBomLfAndMissingFinalLineEnd) {
    std::vector<std::vector<std::string>> rows;
    std::string error;
    ASSERT_TRUE(csvParse("\xEF\xBB\xBFname,n\nabc,1\ndef,2", rows, error)) << error;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"name", "n"}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"def", "2"}));
    ASSERT_TRUE(csvParse("a,b\r\n1,\r\n", rows, error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"1", ""}));
}

TEST(Csv, RejectsMalformedQuotingWithTheLine) {
    std::vector<std::vector<std::string>> rows;
    std::string error;
    EXPECT_FALSE(csvParse("a,b\n\"open,1\n", rows, error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_FALSE(csvParse("a,b\nx\"y,1\n", rows, error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_FALSE(csvParse("a,b\n\"x\"y,1\n", rows, error));
}

// The reader looks for the end of an unquoted value several characters at a time: each special
// character, at every place in a long value and beside bytes that differ from it by one bit, must end
// the value (or, a quote, make it malformed) exactly where it stands.
TEST(Csv, EachSpecialCharacterEndsAValueWhereItStands) {
    const std::string near = "\xAC\x8D\x8A\xA2\x2D\x2B\x0B\x0C\x0E\x21\x23\x6C\x22\x2C\x0D\x0A";
    for (size_t len = 1; len <= 19; ++len) {
        // filler without special characters, from the bytes near them
        std::string filler;
        for (size_t i = 0; i < len; ++i) {
            const char c = near[(i * 7 + len) % 12];
            filler.push_back(c);
        }
        SCOPED_TRACE("value of " + std::to_string(len));
        std::vector<std::vector<std::string>> rows;
        std::string error;
        ASSERT_TRUE(csvParse(filler + "," + filler + "\n", rows, error)) << error;
        EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{filler, filler}}));
        ASSERT_TRUE(csvParse(filler + "\r" + filler, rows, error)) << error;
        EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{filler}, {filler}}));
        ASSERT_TRUE(csvParse(filler + "\n" + filler + "\r\n", rows, error)) << error;
        EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{filler}, {filler}}));
        // the reader also tells whether the row's characters are all 7-bit, at every place a high one lies
        for (size_t at = 0; at <= len; ++at) {
            std::string plain(len, 'a');
            if (at < len) plain[at] = '\xC3';
            const std::string text = "x," + plain + ",y\nz\n";
            CsvReader reader{std::string_view(text)};
            std::vector<std::string_view> row;
            ASSERT_TRUE(reader.next(row));
            EXPECT_EQ(reader.rowIs7Bit(), at == len) << "high character at " << at;
            ASSERT_TRUE(reader.next(row));
            EXPECT_TRUE(reader.rowIs7Bit());
        }
        EXPECT_FALSE(csvParse("h\n" + filler + "\"" + filler, rows, error));
        EXPECT_NE(error.find("quote inside an unquoted field on line 2"), std::string::npos) << error;
    }
}

// A file is read in pieces of 1 MB: each piece of syntax that straddles the end of a piece (a CRLF, a
// doubled quote, a quoted line end, a trailing comma at the end of the text, a malformed quote) reads
// as it does in a text held whole, with the same line numbers in errors.
TEST(Csv, AStreamReadInPiecesReadsAsTheWholeText) {
    const size_t piece = 1 << 20;
    const std::vector<std::string> tails = {
        "a,b\r\nc,d\r\n",
        "\"say \"\"hi\"\"\",x\n",
        "\"two\r\nlines\",y\r\n",
        "last,",
        "\"x\"y,1\n",
        "\"open,1\n",
        "x\"y\n",
        "p\rq\r",
    };
    for (const std::string& tail : tails) {
        for (size_t shift = 0; shift < tail.size() + 2; ++shift) {
            // filler rows up to just before the end of the first piece, then the tail across it
            std::string text = "\xEF\xBB\xBFh1,h2\n";
            const std::string filler = "0123456789,abcdefghij\n";
            while (text.size() + filler.size() < piece - shift) text += filler;
            text += std::string(piece - shift - text.size(), 'z') + "\n" + tail;
            std::vector<std::vector<std::string>> whole;
            std::string wholeError;
            const bool wholeOk = csvParse(text, whole, wholeError);
            std::istringstream in(text);
            CsvReader reader(in);
            std::vector<std::vector<std::string>> streamed;
            std::vector<std::string> row;
            while (reader.next(row)) streamed.push_back(row);
            SCOPED_TRACE("tail " + tail + ", shift " + std::to_string(shift));
            EXPECT_EQ(reader.error().empty(), wholeOk);
            EXPECT_EQ(reader.error(), wholeError);
            if (wholeOk) {
                ASSERT_EQ(streamed.size(), whole.size());
                EXPECT_EQ(streamed.front(), (std::vector<std::string>{"h1", "h2"}));
                EXPECT_TRUE(std::equal(whole.end() - 3, whole.end(), streamed.end() - 3));
            }
        }
    }
}

TEST(Schema, ParsesEveryKindWithLengths) {
    std::vector<xb::NewField> f;
    std::string error;
    ASSERT_TRUE(
        parseSchema("name:C:20,Amount:N:10:2,FLAG:L,DAY:D,NOTES:M,RATE:F:12:4", xb::Format::Fox2, f, error))
        << error;
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[0].name, "NAME");
    EXPECT_EQ(f[0].type, 'C');
    EXPECT_EQ(f[0].length, 20);
    EXPECT_EQ(f[1].name, "AMOUNT");
    EXPECT_EQ(f[1].length, 10);
    EXPECT_EQ(f[1].decimals, 2);
    EXPECT_EQ(f[2].length, 1);
    EXPECT_EQ(f[3].length, 8);
    EXPECT_EQ(f[4].type, 'M');
    EXPECT_EQ(f[5].type, 'F');
    EXPECT_EQ(f[5].decimals, 4);
    ASSERT_TRUE(parseSchema("ID:I,PRICE:Y,WHEN:T,RATIO:B", xb::Format::Vfp, f, error)) << error;
    EXPECT_EQ(f[0].length, 4);
    EXPECT_EQ(f[2].length, 8);
}

TEST(Schema, RejectsBadEntriesNamingThem) {
    std::vector<xb::NewField> f;
    std::string error;
    const char* bad[] = {
        "",        "NAME",    "NAME:C",      "NAME:C:0", "NAME:C:255", "NAME:C:10:2", "TOOLONGNAME1:C:5",
        "1ST:C:5", "A-B:C:5", "A:C:5,a:N:3", "AMT:N:25", "AMT:N:5:4",  "FLAG:L:1",    "X:Q:4",
        "ID:I",    "AMT:N:x"};
    for (const char* s : bad) {
        EXPECT_FALSE(parseSchema(s, xb::Format::Fox2, f, error)) << s;
        EXPECT_FALSE(error.empty()) << s;
    }
    EXPECT_FALSE(parseSchema("OK:C:5,AMT:N:5:4", xb::Format::Fox2, f, error));
    EXPECT_NE(error.find("AMT:N:5:4"), std::string::npos) << error;
}

}  // namespace
}  // namespace dbftool
