// Tests of xb::Table: reading the peer-made fixtures, writing, packing, tag order, damaged files.
#include "tableaccess/xbase/dbf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/testhelpers_test.h"

using namespace xbtest;

namespace {

struct Expected {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
};

Expected loadExpected(const std::string& set) {
    Expected e;
    auto rows = readCsv(readBytes(fixture(set + "_expected.csv")));
    e.header = rows.front();
    e.rows.assign(rows.begin() + 1, rows.end());
    return e;
}

// Compares every record of the open table with the expected file: values, deleted flags, memo length.
void expectTableMatches(xb::Table& t, const Expected& e) {
    ASSERT_EQ(t.recordCount(), e.rows.size());
    const int postal = t.fieldIndex("postal_cod"), town = t.fieldIndex("Town"), pop = t.fieldIndex("POP"),
              area = t.fieldIndex("area"), active = t.fieldIndex("active"), opened = t.fieldIndex("opened"),
              note = t.fieldIndex("note");
    ASSERT_GE(std::min({postal, town, pop, area, active, opened, note}), 0);
    const xb::Codepage cp = xb::codepageFromByte(t.codepageByte());
    ASSERT_TRUE(t.top()) << t.error();
    size_t i = 0;
    do {
        const auto& row = e.rows[i];
        ASSERT_EQ(std::to_string(t.recno()), row[0]);
        EXPECT_EQ(xb::toUtf8(trimmed(t.getText(postal)), cp), row[1]) << "record " << row[0];
        EXPECT_EQ(xb::toUtf8(trimmed(t.getText(town)), cp), row[2]) << "record " << row[0];
        EXPECT_EQ(trimmed(t.getText(pop)), trimmed(row[3])) << "record " << row[0];
        EXPECT_EQ(t.getInt(pop), std::stoll(row[3]));
        EXPECT_EQ(trimmed(t.getText(area)), trimmed(row[4])) << "record " << row[0];
        EXPECT_DOUBLE_EQ(t.getDouble(area), std::stod(row[4]));
        EXPECT_EQ(t.getLogical(active) ? "T" : "F", row[5]) << "record " << row[0];
        EXPECT_EQ(t.getDate(opened), row[6]) << "record " << row[0];
        EXPECT_EQ(t.deleted() ? "*" : "", row[7]) << "record " << row[0];
        const std::string memo = t.getText(note);
        EXPECT_TRUE(t.error().empty()) << t.error();
        EXPECT_EQ(std::to_string(memo.size()), row[8]) << "record " << row[0];
        ++i;
    } while (t.skip(1));
    EXPECT_TRUE(t.error().empty()) << t.error();
    EXPECT_TRUE(t.eof());
    EXPECT_EQ(i, e.rows.size());
}


}  // namespace

TEST(DbfFixtures, EveryRecordReadsBackAsExpected) {
    for (const std::string set : {"fox_small", "fox_large"}) {
        SCOPED_TRACE(set);
        std::string err;
        auto t = xb::Table::open(fixture(set), err, true);
        ASSERT_TRUE(t) << err;
        EXPECT_EQ(t->version(), 0xF5);
        EXPECT_EQ(t->format(), xb::Format::Fox2);
        EXPECT_TRUE(t->index() != nullptr);
        EXPECT_FALSE(t->memoPath().empty());
        ASSERT_EQ(t->fieldCount(), 7);
        EXPECT_EQ(t->fields()[1].name, "TOWN");
        EXPECT_EQ(t->fields()[1].length, 30);
        EXPECT_EQ(t->fields()[3].decimals, 3);
        expectTableMatches(*t, loadExpected(set));
    }
}

TEST(DbfFixtures, OpensByNameWithoutExtensionInAnyCase) {
    TempDir dir;
    copyFixture("fox_small", dir);
    std::filesystem::rename(dir.file("fox_small.dbf"), dir.file("Fox_Small.DBF"));
    std::string err;
    auto t = xb::Table::open(dir.file("FOX_SMALL"), err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->path(), dir.file("Fox_Small.DBF"));
    EXPECT_EQ(t->recordCount(), 300u);
    auto missing = xb::Table::open(dir.file("nothere"), err);
    EXPECT_FALSE(missing);
    EXPECT_NE(err.find("nothere.dbf"), std::string::npos) << err;
    EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
}

TEST(DbfFixtures, TagOrderAndSeekFollowTheIndex) {
    std::string err;
    auto t = xb::Table::open(fixture("fox_small"), err, true);
    ASSERT_TRUE(t) << err;
    const Expected e = loadExpected("fox_small");
    // POSTAL ascending: (key, recno) in byte order of the key, ties by record number.
    std::vector<std::pair<std::string, uint32_t>> want;
    for (const auto& row : e.rows) want.emplace_back(row[1], std::stoul(row[0]));
    std::sort(want.begin(), want.end());
    ASSERT_TRUE(t->selectTag("postal")) << t->error();
    ASSERT_TRUE(t->top());
    size_t i = 0;
    do {
        ASSERT_LT(i, want.size());
        EXPECT_EQ(t->recno(), want[i].second) << "position " << i;
        ++i;
    } while (t->skip(1));
    EXPECT_EQ(i, want.size());
    // and backwards from the bottom
    ASSERT_TRUE(t->bottom());
    i = want.size();
    do {
        --i;
        EXPECT_EQ(t->recno(), want[i].second);
    } while (t->skip(-1));
    EXPECT_EQ(i, 0u);
    EXPECT_TRUE(t->bof());
    // every key is found at its first record; shorter, empty and over-long keys are not
    for (const auto& [key, recno] : want) {
        const auto first = std::find_if(want.begin(), want.end(), [&](auto& p) { return p.first == key; });
        ASSERT_TRUE(t->seek(key)) << key << " " << t->error();
        EXPECT_EQ(t->recno(), first->second);
    }
    EXPECT_FALSE(t->seek(""));
    EXPECT_TRUE(t->error().empty());
    EXPECT_FALSE(t->seek(want[0].first.substr(0, 3)));
    EXPECT_FALSE(t->seek(want[0].first + "X"));
    EXPECT_FALSE(t->selectTag("nosuchtag"));
    EXPECT_NE(t->error().find("nosuchtag"), std::string::npos) << t->error();
}
