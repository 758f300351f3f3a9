// Tests of xb::Table: reading the peer-made fixtures, writing, packing, tag order, damaged files.
#include "tableaccess/xbase/dbf.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/testhelpers_test.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

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

TEST(DbfFixtures, AFileMarkedReadOnlyIsNeverWritten) {
    TempDir dir;
    copyFixture("fox_small", dir);
    for (const char* ext : {".dbf", ".fpt", ".cdx"})
        std::filesystem::permissions(dir.file(std::string("fox_small") + ext),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read,
                                     std::filesystem::perm_options::replace);
    const std::string before = readBytes(dir.file("fox_small.dbf")) + readBytes(dir.file("fox_small.cdx"));
    std::string err;
    auto t = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(t) << err;
    EXPECT_TRUE(t->readOnly());
    ASSERT_TRUE(t->go(1));
    EXPECT_FALSE(t->setText(1, "X"));
    EXPECT_NE(t->error().find("reading only"), std::string::npos) << t->error();
    EXPECT_FALSE(t->appendBlank());
    EXPECT_FALSE(t->pack());
    t.reset();
    EXPECT_EQ(readBytes(dir.file("fox_small.dbf")) + readBytes(dir.file("fox_small.cdx")), before);
}

TEST(DbfFixtures, OpensByNameWithoutExtensionInAnyCase) {
    TempDir dir;
    copyFixture("fox_small", dir);
    std::filesystem::rename(dir.file("fox_small.dbf"), dir.file("Fox_Small.DBF"));
    std::string err;
    auto t = xb::Table::open(dir.file("FOX_SMALL"), err);
    ASSERT_TRUE(t) << err;
    // The path names the file as the folder spells it (Wine keeps the old spelling on a rename that
    // changes only the case).
    std::string onDisk;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().extension() != ".cdx" && e.path().extension() != ".fpt")
            onDisk = e.path().filename().string();
#ifndef _WIN32
    EXPECT_EQ(onDisk, "Fox_Small.DBF");
#endif
    EXPECT_EQ(t->path(), dir.file(onDisk));
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
    for (const auto& entry : want) {
        const std::string& key = entry.first;
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

namespace {

std::string fileState(const TempDir& dir, const std::string& set) {
    return readBytes(dir.file(set + ".dbf")) + "|" + readBytes(dir.file(set + ".fpt")) + "|" +
           readBytes(dir.file(set + ".cdx"));
}

size_t filesIn(const TempDir& dir) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++n;
    return n;
}

// Every tag passes its check against the records, and every key seeks to the first record that a
// linear scan in tag order finds for it.
void expectIndexSound(xb::Table& t) {
    xb::CdxFile* cdx = t.index();
    ASSERT_TRUE(cdx);
    for (int tag = 0; tag < static_cast<int>(cdx->tags().size()); ++tag) {
        std::vector<std::string> faults;
        EXPECT_TRUE(cdx->check(tag, t.reader(), faults))
            << cdx->tags()[tag].name << ": " << (faults.empty() ? "" : faults.front());
    }
    const int postal = t.fieldIndex("postal_cod");
    ASSERT_TRUE(t.selectTag("POSTAL")) << t.error();
    std::map<std::string, uint32_t> firstInTag;
    ASSERT_TRUE(t.top());
    uint32_t n = 0;
    do {
        firstInTag.emplace(t.getText(postal), t.recno());
        ++n;
    } while (t.skip(1));
    EXPECT_EQ(n, t.recordCount());
    for (const auto& [key, recno] : firstInTag) {
        ASSERT_TRUE(t.seek(trimmed(key))) << key;
        EXPECT_EQ(t.recno(), recno) << key;
    }
    ASSERT_TRUE(t.selectTag(""));
}

}  // namespace

TEST(DbfWrite, RandomChangesKeepTheIndexAndRecordsRight) {
    TempDir dir;
    copyFixture("fox_small", dir);
    std::string err;
    auto t = xb::Table::open(dir.file("fox_small.dbf"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_FALSE(t->readOnly());
    const int postal = t->fieldIndex("postal_cod"), town = t->fieldIndex("town"), pop = t->fieldIndex("pop"),
              note = t->fieldIndex("note");
    // a model of what the table must hold: postal code, population, memo, deleted
    struct M {
        std::string postal, memo;
        int64_t pop;
        bool deleted;
    };
    std::vector<M> model;
    ASSERT_TRUE(t->top());
    do model.push_back({t->getText(postal), t->getText(note), t->getInt(pop), t->deleted()});
    while (t->skip(1));
    std::mt19937 rng(7);
    const auto code = [&] {
        std::string c;
        for (int i = 0; i < 6; ++i) c.push_back(i % 2 ? char('0' + rng() % 10) : char('A' + rng() % 26));
        return c;
    };
    for (int step = 0; step < 400; ++step) {
        const int op = static_cast<int>(rng() % 5);
        if (op == 0) {
            ASSERT_TRUE(t->appendBlank()) << t->error();
            model.push_back({std::string(6, ' '), "", 0, false});
        } else {
            ASSERT_TRUE(t->go(1 + rng() % t->recordCount())) << t->error();
        }
        M& m = model[t->recno() - 1];
        if (op <= 2) {
            m.postal = code();
            ASSERT_TRUE(t->setText(postal, m.postal)) << t->error();
            ASSERT_TRUE(t->setText(town, "TOWN " + m.postal)) << t->error();
            m.pop = static_cast<int64_t>(rng() % 1000000);
            ASSERT_TRUE(t->setInt(pop, m.pop)) << t->error();
            if (rng() % 2) {
                m.memo = std::string(rng() % 300, static_cast<char>('a' + rng() % 26));
                ASSERT_TRUE(t->setText(note, m.memo)) << t->error();
            }
        } else if (op == 3) {
            ASSERT_TRUE(t->deleteRecord()) << t->error();
            m.deleted = true;
        } else {
            ASSERT_TRUE(t->recall()) << t->error();
            m.deleted = false;
        }
    }
    ASSERT_TRUE(t->flush()) << t->error();
    expectIndexSound(*t);
    ASSERT_TRUE(t->pack()) << t->error();
    std::vector<M> kept;
    for (const auto& m : model)
        if (!m.deleted) kept.push_back(m);
    // reopened from disk, the packed table holds exactly the live records, in order, memos included
    t.reset();
    t = xb::Table::open(dir.file("FOX_SMALL"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_EQ(t->recordCount(), kept.size());
    for (uint32_t r = 1; r <= kept.size(); ++r) {
        ASSERT_TRUE(t->go(r));
        EXPECT_EQ(t->getText(postal), kept[r - 1].postal);
        EXPECT_EQ(t->getInt(pop), kept[r - 1].pop);
        EXPECT_EQ(t->getText(note), kept[r - 1].memo) << "record " << r;
        EXPECT_FALSE(t->deleted());
    }
    expectIndexSound(*t);
    // no orphan blocks: the memo file holds the header and the live memos' blocks only
    uint64_t blocks = 512 / 64;
    for (const auto& m : kept)
        if (!m.memo.empty()) blocks += (8 + m.memo.size() + 63) / 64;
    EXPECT_EQ(std::filesystem::file_size(dir.file("fox_small.fpt")), blocks * 64);
    EXPECT_EQ(filesIn(dir), 3u);  // nothing left beside
}

// A scan in record order reads ahead in large pieces and does not copy each record twice; a change to
// a record reached that way still takes the record's old keys out of the index, also when the read-ahead
// is filled again (by a read far away) between the change and its write.
TEST(DbfWrite, ChangesDuringAScanInRecordOrderMoveTheirKeys) {
    TempDir dir;
    copyFixture("fox_large", dir);
    std::string err;
    auto t = xb::Table::open(dir.file("fox_large"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_GT(t->recordCount(), 20000u);  // more than one read-ahead piece
    const int postal = t->fieldIndex("postal_cod"), town = t->fieldIndex("town");
    std::vector<uint8_t> far;
    ASSERT_TRUE(t->top());
    for (uint32_t r = 1; r <= 60; ++r) {
        ASSERT_EQ(t->recno(), r);
        if (r % 3 == 0) {
            ASSERT_TRUE(t->setText(postal, "Z" + std::to_string(100000 + r).substr(1))) << t->error();
            ASSERT_TRUE(t->setText(town, "SCANNED " + std::to_string(r))) << t->error();
            if (r % 2 == 0) {
                ASSERT_TRUE(t->reader().readRecord(t->recordCount() - r, far));
            }
        }
        if (r % 10 == 0) {
            ASSERT_TRUE(t->deleted() ? t->recall() : t->deleteRecord()) << t->error();
        }
        ASSERT_TRUE(t->skip(1)) << t->error();
    }
    ASSERT_TRUE(t->flush()) << t->error();
    expectIndexSound(*t);
    ASSERT_TRUE(t->selectTag("POSTAL"));
    ASSERT_TRUE(t->seek("Z00033")) << t->error();
    EXPECT_EQ(t->recno(), 33u);
    EXPECT_EQ(trimmed(t->getText(town)), "SCANNED 33");
}

// Checks and index builds read many records at once: they get what reading them one at a time gives,
// from any record on, also the current record changed and not yet written and appends not yet written.
TEST(DbfRead, ManyRecordsAtOnceAreTheRecordsReadOneAtATime) {
    TempDir dir;
    copyFixture("fox_small", dir);
    std::string err;
    auto t = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(t) << err;
    const int town = t->fieldIndex("town");
    auto expectSame = [&](const char* state) {
        SCOPED_TRACE(state);
        xb::RecordReader& reader = t->reader();
        const uint32_t count = reader.recordCount();
        for (uint32_t first : {1u, 2u, count / 2, count - 1, count}) {
            std::vector<uint8_t> many, one;
            for (uint32_t at = first; at <= count;) {
                const uint32_t n = reader.readRecords(at, count - at + 1, many);
                ASSERT_GT(n, 0u) << "from record " << at;
                ASSERT_EQ(many.size() % n, 0u);
                const size_t length = many.size() / n;
                for (uint32_t i = 0; i < n; ++i) {
                    ASSERT_TRUE(reader.readRecord(at + i, one));
                    EXPECT_EQ(std::vector<uint8_t>(many.begin() + long(i * length),
                                                   many.begin() + long((i + 1) * length)),
                              one)
                        << "record " << at + i;
                }
                at += n;
            }
        }
    };
    expectSame("as stored");
    ASSERT_TRUE(t->go(5));
    ASSERT_TRUE(t->setText(town, "CHANGED IN MEMORY")) << t->error();
    expectSame("the current record changed");
    for (const char* name : {"APPENDED ONE", "APPENDED TWO"}) {
        ASSERT_TRUE(t->appendBlank()) << t->error();
        ASSERT_TRUE(t->setText(town, name)) << t->error();
    }
    expectSame("records appended");
}

// Records made as images and added many at once are the records appendRecord adds one at a time: the
// same table and index bytes, across several write batches, deleted records among them. What they cannot
// carry (memo text, a table that numbers its records) and images without a deletion flag are refused
// with nothing added.
// The copies of fox_small in two folders hold the same bytes: table, index and memo file (the table's
// header date, bytes 1-3, aside: it is the day each was written).
void expectSameTables(const TempDir& a, const TempDir& b) {
    EXPECT_EQ(readBytes(a.file("fox_small.dbf")).substr(4), readBytes(b.file("fox_small.dbf")).substr(4));
    EXPECT_EQ(readBytes(a.file("fox_small.cdx")), readBytes(b.file("fox_small.cdx")));
    EXPECT_EQ(readBytes(a.file("fox_small.fpt")), readBytes(b.file("fox_small.fpt")));
}

TEST(DbfWrite, RecordImagesAddWhatAppendRecordAdds) {
    TempDir one, many;
    copyFixture("fox_small", one);
    copyFixture("fox_small", many);
    std::string err;
    auto a = xb::Table::open(one.file("fox_small"), err);
    auto b = xb::Table::open(many.file("fox_small"), err);
    ASSERT_TRUE(a && b) << err;
    ASSERT_TRUE(b->takesRecordImages());
    const int postal = a->fieldIndex("postal_cod"), town = a->fieldIndex("town"), pop = a->fieldIndex("pop");
    const uint32_t before = a->recordCount();
    const uint32_t added = 9000;  // several batches of appends
    const size_t length = b->recordLength();
    std::vector<uint8_t> images(size_t(added) * length);
    const auto named = [](std::string name, uint32_t n) { return name.append(std::to_string(n)); };
    for (uint32_t i = 0; i < added; ++i) {
        const std::vector<xb::NewValue> values = {{postal, named("Q", i % 977), false},
                                                  {town, named("Town ", i), false},
                                                  {pop, std::to_string(i * 7), false}};
        ASSERT_TRUE(a->appendRecord(values, i % 7 == 3)) << a->error();
        ASSERT_TRUE(b->makeRecord(values, i % 7 == 3, images.data() + i * length)) << b->error();
    }
    ASSERT_EQ(b->recordCount(), before);  // making records adds nothing
    // a few gathered into a batch, then the rest: whole batches written from the images themselves
    ASSERT_TRUE(b->appendRecords(images.data(), 10)) << b->error();
    ASSERT_TRUE(b->appendRecords(images.data() + 10 * length, added - 10)) << b->error();
    EXPECT_EQ(b->recordCount(), before + added);
    EXPECT_EQ(b->recno(), before + added);
    EXPECT_EQ(b->getText(town).substr(0, 9), named("Town ", added - 1));
    ASSERT_TRUE(a->flush() && b->flush());
    a.reset();
    b.reset();
    expectSameTables(many, one);

    b = xb::Table::open(many.file("fox_small"), err);
    ASSERT_TRUE(b) << err;
    const std::string dbf = readBytes(many.file("fox_small.dbf"));
    const int note = b->fieldIndex("note");
    std::vector<uint8_t> image(length);
    EXPECT_FALSE(b->makeRecord(std::vector<xb::NewValue>{{note, "a memo", false}}, false, image.data()));
    EXPECT_NE(b->error().find("memo"), std::string::npos) << b->error();
    ASSERT_TRUE(b->makeRecord(std::vector<xb::NewValue>{{postal, "OK", false}, {note, "", false}}, false,
                              image.data()))
        << b->error();
    EXPECT_FALSE(b->makeRecord(std::vector<xb::NewValue>{{pop, "many", false}}, false, image.data()));
    image[0] = 'x';
    EXPECT_FALSE(b->appendRecords(image.data(), 1));
    EXPECT_NE(b->error().find("deletion flag"), std::string::npos) << b->error();
    EXPECT_EQ(b->recordCount(), before + added);
    b.reset();
    EXPECT_EQ(readBytes(many.file("fox_small.dbf")), dbf);

    // Records with memos: made without them, and added with their text beside them.
    TempDir memoOne, memoImaged;
    copyFixture("fox_small", memoOne);
    copyFixture("fox_small", memoImaged);
    a = xb::Table::open(memoOne.file("fox_small"), err);
    b = xb::Table::open(memoImaged.file("fox_small"), err);
    ASSERT_TRUE(a && b) << err;
    for (uint32_t i = 0; i < 3000; ++i) {
        const std::string text = i % 3 ? named("memo ", i) + std::string(i % 150, 'm') : std::string();
        ASSERT_TRUE(a->appendRecord({{postal, named("M", i), false}, {note, text, false}}, i % 5 == 1))
            << a->error();
        ASSERT_TRUE(b->makeRecord(std::vector<xb::NewValue>{{postal, named("M", i), false}}, i % 5 == 1,
                                  image.data()))
            << b->error();
        const std::vector<xb::MemoText> memos = {{note, text}};
        ASSERT_TRUE(b->appendRecordImage(image.data(), memos)) << b->error();
    }
    EXPECT_FALSE(b->appendRecordImage(image.data(), std::vector<xb::MemoText>{{postal, "not a memo field"}}));
    ASSERT_TRUE(a->flush() && b->flush());
    a.reset();
    b.reset();
    expectSameTables(memoImaged, memoOne);

    auto counted = xb::Table::create(many.file("auto"), {{"ID", 'I', 4, 0, 0x0C}, {"NAME", 'C', 5, 0, 0}},
                                     xb::Format::Vfp, 0x03, err);
    ASSERT_TRUE(counted) << err;
    EXPECT_FALSE(counted->takesRecordImages());
    image.assign(counted->recordLength(), ' ');
    EXPECT_FALSE(counted->makeRecord(std::vector<xb::NewValue>{{1, "x", false}}, false, image.data()));
    EXPECT_FALSE(counted->appendRecords(image.data(), 1));
    EXPECT_EQ(counted->recordCount(), 0u);
}

// A double holds 15 significant digits; a numeric field holds up to 20 characters. A number of more
// digits is written from its own digits (rounded half away from zero to the field's decimals), never
// through a double that would change its last digits or push it past the field.
TEST(DbfWrite, NumbersOfMoreDigitsThanADoubleHoldsAreWrittenAsTyped) {
    TempDir dir;
    std::string err;
    auto t = xb::Table::create(dir.file("n"), {{"W", 'N', 20, 0}, {"M", 'N', 20, 2}, {"F", 'N', 20, 18}},
                               xb::Format::Fox2, 0x03, err);
    ASSERT_TRUE(t) << err;
    ASSERT_TRUE(t->appendBlank());
    struct Case {
        int field;
        const char* typed;
        const char* stored;  // nullptr: refused, the field as it was
    };
    const Case cases[] = {
        {0, "99999999999999999910", "99999999999999999910"},
        {0, "12345678901234567891", "12345678901234567891"},
        {0, "-1234567890123456789", "-1234567890123456789"},
        {0, "+00001234567890123456", "    1234567890123456"},
        {0, "1234567890123456.5", "    1234567890123457"},
        {0, "-1234567890123456.5", "   -1234567890123457"},
        {0, "123456789012345678901", nullptr},
        {1, "1234567890123456.785", " 1234567890123456.79"},
        {1, "12345678901234567.99", "12345678901234567.99"},
        {1, "-9999999999999999.995", nullptr},  // rounds to 21 characters
        {2, "0.1234567890123456789", "0.123456789012345679"},
        {2, "0.99999999999999999999", "1.000000000000000000"},
        {2, "9.99999999999999999999", nullptr},  // rounds to 10.000000000000000000
        {1, "3.5", "                3.50"},      // 15 digits or fewer: as before
        {0, "2.5", "                   2"},      // to the nearest even, as printf on the binary value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        const std::string before = t->getText(c.field);
        EXPECT_EQ(t->setText(c.field, c.typed), c.stored != nullptr) << t->error();
        EXPECT_EQ(t->getText(c.field), c.stored ? std::string(c.stored) : before);
    }
    ASSERT_TRUE(t->setText(0, "12345678901234567891"));
    ASSERT_TRUE(t->flush());
    t.reset();
    t = xb::Table::open(dir.file("n"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_TRUE(t->go(1));
    EXPECT_EQ(t->getText(0), "12345678901234567891");
    EXPECT_EQ(t->getText(2), "1.000000000000000000");
}

// Plain decimals and one-letter logicals, the values loads are made of, take a shorter way into the
// record: each must be written as the general way writes it (a number through the double it reads as,
// a logical from its long form), and refused where that refuses it.
TEST(DbfWrite, PlainNumbersAndLogicalsAreWrittenAsTheGeneralWayWritesThem) {
    TempDir dir;
    std::string err;
    auto t = xb::Table::create(
        dir.file("p"),
        {{"A", 'N', 10, 2}, {"B", 'N', 20, 4}, {"C", 'N', 5, 0}, {"D", 'F', 12, 3}, {"L", 'L', 1, 0}},
        xb::Format::Fox2, 0x03, err);
    ASSERT_TRUE(t) << err;
    ASSERT_TRUE(t->appendBlank());
    std::mt19937 rng(2026);
    const auto digits = [&](size_t n) {
        std::string d;
        for (size_t i = 0; i < n; ++i) d.push_back(char('0' + rng() % 10));
        return d;
    };
    for (int k = 0; k < 20000; ++k) {
        // sign, whole digits (leading zeros too), a point or none, decimals up to one more than kept
        static const char* const signs[] = {"", "", "-", "+"};
        const int field = int(rng() % 4);
        const int dec = field == 0 ? 2 : field == 1 ? 4 : field == 2 ? 0 : 3;
        std::string text = signs[rng() % 4];
        text.append(digits(rng() % 17));
        if (rng() % 3) text.append(1, '.').append(digits(rng() % size_t(dec + 2)));
        if (rng() % 8 == 0) text.insert(0, 1, ' ').append(1, ' ');
        std::string_view number = text;
        while (!number.empty() && number.front() == ' ') number.remove_prefix(1);
        while (!number.empty() && number.back() == ' ') number.remove_suffix(1);
        if (!number.empty() && number.front() == '+') number.remove_prefix(1);
        double value = 0;
        const auto parsed = std::from_chars(number.data(), number.data() + number.size(), value);
        // (a text of more than 15 significant digits is written from its digits, not through a double)
        size_t significant = 0;
        for (char c : number) significant += (c >= '1' && c <= '9') || (significant && c == '0');
        if (parsed.ec != std::errc() || parsed.ptr != number.data() + number.size() || significant > 15)
            continue;
        SCOPED_TRACE(std::string("field ").append(std::to_string(field)).append(": ").append(text));
        const bool typed = t->setText(field, text);
        const std::string asTyped = t->rawField(field);
        const bool general = t->setDouble(field, value);
        EXPECT_EQ(typed, general) << t->error();
        EXPECT_EQ(asTyped, t->rawField(field));
    }
    struct Logical {
        const char* typed;
        char stored;  // 0: refused
    };
    for (const Logical& l : {Logical{"T", 'T'},
                             {"t", 'T'},
                             {"Y", 'T'},
                             {"y", 'T'},
                             {"F", 'F'},
                             {"f", 'F'},
                             {"N", 'F'},
                             {"n", 'F'},
                             {"?", '?'},
                             {" y ", 'T'},
                             {".T.", 'T'},
                             {"x", 0},
                             {"", ' '}}) {
        SCOPED_TRACE(l.typed);
        ASSERT_TRUE(t->setText(4, "?"));
        EXPECT_EQ(t->setText(4, l.typed), l.stored != 0);
        EXPECT_EQ(t->rawField(4), std::string(1, l.stored ? l.stored : '?'));
    }
}

TEST(DbfWrite, HeaderCountDateAndEndMarkerStayRight) {
    TempDir dir;
    std::string err;
    auto t = xb::Table::create(dir.file("t"), {{"A", 'C', 5, 0, 0}, {"B", 'N', 6, 2, 0}, {"D", 'D', 8, 0, 0}},
                               xb::Format::Fox2, 0x03, err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->version(), 0x03);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(t->appendBlank());
        ASSERT_TRUE(t->setText(0, "abcdefgh"));  // cut to the field's 5 bytes
        ASSERT_TRUE(t->setText(1, "3.5"));
    }
    const std::time_t before = std::time(nullptr);
    ASSERT_TRUE(t->flush());
    const std::time_t after = std::time(nullptr);
    const std::string bytes = readBytes(dir.file("t.dbf"));
    const uint32_t headerLength = uint8_t(bytes[8]) | (uint8_t(bytes[9]) << 8);
    EXPECT_EQ(headerLength, 32u + 3 * 32 + 1);
    EXPECT_EQ(uint8_t(bytes[4]), 3);
    EXPECT_EQ(bytes.size(), headerLength + 3 * 20 + 1);
    EXPECT_EQ(bytes.back(), '\x1A');
    EXPECT_EQ(bytes.substr(headerLength, 20), " abcde  3.50        ");  // N(6,2): written with its decimals
    // the last-update date is the local date of the flush (a flush at midnight may give either day)
    const auto localDate = [](std::time_t when) {
        std::tm tm{};
#ifdef _WIN32
        localtime_s(&tm, &when);
#else
        localtime_r(&when, &tm);
#endif
        return std::string{char(tm.tm_year), char(tm.tm_mon + 1), char(tm.tm_mday)};
    };
    const std::string written = bytes.substr(1, 3);
    EXPECT_TRUE(written == localDate(before) || written == localDate(after))
        << int(uint8_t(written[0])) << '-' << int(written[1]) << '-' << int(written[2]);
    // values that do not fit are refused and leave the field as it was
    EXPECT_FALSE(t->setText(1, "12345.6"));
    EXPECT_NE(t->error().find("does not fit"), std::string::npos) << t->error();
    EXPECT_FALSE(t->setDate(2, "2024"));
    EXPECT_FALSE(t->setDate(2, "20230229"));
    EXPECT_TRUE(t->setDate(2, "20240229"));
    EXPECT_EQ(t->getDate(2), "20240229");
    EXPECT_TRUE(t->setText(2, ""));
    EXPECT_EQ(t->getDate(2), "");
    EXPECT_EQ(t->getText(1), "  3.50");
    // a record written past the count (an append cut short by a crash) is ignored, and overwritten
    t.reset();
    writeBytes(dir.file("t.dbf"), bytes.substr(0, bytes.size() - 1) + " zzzzz 99.0020240101\x1A");
    t = xb::Table::open(dir.file("t.dbf"), err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->recordCount(), 3u);
    ASSERT_TRUE(t->appendBlank());
    ASSERT_TRUE(t->setText(0, "new"));
    t.reset();
    t = xb::Table::open(dir.file("t.dbf"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_EQ(t->recordCount(), 4u);
    ASSERT_TRUE(t->go(4));
    EXPECT_EQ(t->getText(0), "new  ");
    EXPECT_EQ(t->getText(1), "      ");
}

// Power loss between flushes may leave the header's count on the disk ahead of the records appended
// after the last flush. Appends mark the header (byte 14) until flush has made them durable; an open
// that finds the count ahead of the file with the mark takes the records the file holds.
TEST(DbfWrite, AppendsLostToAPowerCutLeaveAnOpenableTable) {
    TempDir dir;
    std::string err;
    auto t = xb::Table::create(dir.file("t"), {{"A", 'C', 5, 0, 0}}, xb::Format::Fox2, 0x03, err);
    ASSERT_TRUE(t) << err;
    for (const char* a : {"one", "two", "three"}) ASSERT_TRUE(t->appendBlank() && t->setText(0, a));
    ASSERT_TRUE(t->go(1));                                // writes the pending record
    EXPECT_EQ(readBytes(dir.file("t.dbf"))[14], '\x01');  // appended, not yet flushed
    ASSERT_TRUE(t->flush());
    const std::string flushed = readBytes(dir.file("t.dbf"));
    EXPECT_EQ(flushed[14], '\0');
    EXPECT_EQ(uint8_t(flushed[4]), 3);
    t.reset();

    // What the disk may hold after two more appends: the header page (count 5, marked) and, of the
    // records, only the start of the fourth.
    std::string cut = flushed.substr(0, flushed.size() - 1) + " fou";
    cut[4] = 5;
    cut[14] = '\x01';
    writeBytes(dir.file("t.dbf"), cut);
    auto reading = xb::Table::open(dir.file("t"), err, true);
    ASSERT_TRUE(reading) << err;
    EXPECT_EQ(reading->recordCount(), 3u);
    ASSERT_TRUE(reading->bottom());
    EXPECT_EQ(reading->getText(0), "three");
    reading.reset();
    EXPECT_EQ(readBytes(dir.file("t.dbf")), cut);  // reading writes nothing
    // opened for writing, the count is corrected and appends go on after the records that arrived
    t = xb::Table::open(dir.file("t"), err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->recordCount(), 3u);
    std::string now = readBytes(dir.file("t.dbf"));
    EXPECT_EQ(uint8_t(now[4]), 3);
    EXPECT_EQ(now[14], '\0');
    ASSERT_TRUE(t->appendBlank() && t->setText(0, "four") && t->flush()) << t->error();
    t.reset();
    t = xb::Table::open(dir.file("t"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_EQ(t->recordCount(), 4u);
    ASSERT_TRUE(t->go(4));
    EXPECT_EQ(t->getText(0), "four ");
    ASSERT_TRUE(t->go(3));
    EXPECT_EQ(t->getText(0), "three");
    t.reset();

    // Without the mark a count ahead of the file is damage: refused, and nothing is written.
    cut[14] = 0;
    writeBytes(dir.file("t.dbf"), cut);
    EXPECT_FALSE(xb::Table::open(dir.file("t"), err));
    EXPECT_NE(err.find("truncated"), std::string::npos) << err;
    EXPECT_EQ(readBytes(dir.file("t.dbf")), cut);
}

// Appends are written in batches. A batch the disk refuses (here: the file size limit of the process is
// reached) adds none of its records and takes back the memos written for them: the table then holds
// exactly the records written before, each whole with its memo, and goes on from there.
TEST(DbfWrite, ABatchOfAppendsTheDiskRefusesAddsNothing) {
    SKIP_ON_WINDOWS("limits the file size of a process");
#ifndef _WIN32
    TempDir dir;
    std::string err;
    {
        auto t = xb::Table::create(dir.file("t"), {{"N", 'N', 8, 0, 0}, {"NOTE", 'M', 10, 0, 0}},
                                   xb::Format::Fox2, 0x03, err);
        ASSERT_TRUE(t) << err;
    }
    const auto memo = [](uint32_t i) { return "memo " + std::to_string(i) + std::string(i % 200, 'm'); };
    struct Case {
        const char* what;
        uint64_t limit;  // bytes a file of the process may reach
        bool flushEach;  // flush after each record (a batch of one)
        bool images;     // records made first and added many at once (no memos)
    };
    for (const Case& c : {Case{"in batches", 4000000, false, false}, Case{"one by one", 40000, true, false},
                          Case{"as images", 3000000, false, true}}) {
        SCOPED_TRACE(c.what);
        for (const char* f : {"t.dbf", "t.fpt"}) std::filesystem::remove(dir.file(f));
        {
            auto t = xb::Table::create(dir.file("t"), {{"N", 'N', 8, 0, 0}, {"NOTE", 'M', 10, 0, 0}},
                                       xb::Format::Fox2, 0x03, err);
            ASSERT_TRUE(t) << err;
        }
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // The child appends until the disk refuses; exit code 0 when the refusal left the count the
            // table reports, 1 otherwise.
            signal(SIGXFSZ, SIG_IGN);
            rlimit lim{c.limit, c.limit};
            setrlimit(RLIMIT_FSIZE, &lim);
            std::string e;
            auto t = xb::Table::open(dir.file("t"), e);
            if (!t) _exit(2);
            if (c.images) {
                // chunks of 50,000 records, each written whole from the images: the records of the
                // chunks the disk took must all be there, and none of the one it refused
                std::vector<uint8_t> images(50000 * size_t(t->recordLength()));
                for (uint32_t i = 1; i < 1000000; i += 50000) {
                    for (uint32_t k = 0; k < 50000; ++k)
                        if (!t->makeRecord(std::vector<xb::NewValue>{{0, std::to_string(i + k), false}},
                                           false, images.data() + size_t(k) * t->recordLength()))
                            _exit(4);
                    if (!t->appendRecords(images.data(), 50000)) {
                        const bool counted = t->recordCount() == i - 1 && !t->error().empty();
                        t.reset();
                        _exit(counted ? 0 : 1);
                    }
                }
                _exit(3);
            }
            for (uint32_t i = 1; i < 1000000; ++i) {
                bool ok = t->appendRecord({{0, std::to_string(i), false}, {1, memo(i), false}});
                if (ok && c.flushEach) ok = t->flush();
                if (!ok) {
                    const bool counted = t->recordCount() < i && !t->error().empty();
                    t.reset();
                    _exit(counted ? 0 : 1);
                }
            }
            _exit(3);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 0);
        auto t = xb::Table::open(dir.file("t"), err);
        ASSERT_TRUE(t) << err;
        const uint32_t held = t->recordCount();
        ASSERT_GT(held, 0u);
        uint32_t r = 0;
        for (bool more = t->top(); more; more = t->skip(1)) {
            ASSERT_EQ(t->getInt(0), int64_t(++r));
            ASSERT_EQ(t->getText(1), c.images ? std::string() : memo(r)) << "record " << r;
        }
        ASSERT_EQ(r, held) << t->error();
        if (c.images) {
            EXPECT_EQ(held % 50000, 0u) << "a batch written in part";
            continue;
        }
        // the memo file ends with the last record's memo: the refused batch's memos were taken back
        ASSERT_TRUE(t->go(held));
        const uint32_t lastBlock = uint32_t(std::stoul(std::string(t->rawView(1))));
        EXPECT_EQ(std::filesystem::file_size(dir.file("t.fpt")),
                  uint64_t(lastBlock) * 64 + (8 + memo(held).size() + 63) / 64 * 64);
        ASSERT_TRUE(t->appendRecord({{0, std::to_string(held + 1), false}, {1, memo(held + 1), false}}));
        ASSERT_TRUE(t->flush()) << t->error();
        t.reset();
        t = xb::Table::open(dir.file("t"), err);
        ASSERT_TRUE(t && t->go(held + 1)) << err;
        EXPECT_EQ(t->getText(1), memo(held + 1));
    }
#endif
}

TEST(DbfWrite, CopyStructureAndAppendRecordFrom) {
    TempDir dir;
    copyFixture("fox_small", dir);
    std::string err;
    auto src = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(src) << err;
    auto copy = src->copyStructure(dir.file("Copy"), err);
    ASSERT_TRUE(copy) << err;
    EXPECT_EQ(copy->version(), src->version());
    EXPECT_EQ(copy->codepageByte(), src->codepageByte());
    EXPECT_EQ(copy->recordCount(), 0u);
    EXPECT_EQ(copy->index(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Copy.cdx")));
    ASSERT_TRUE(std::filesystem::exists(dir.file("Copy.fpt")));
    ASSERT_EQ(copy->fieldCount(), src->fieldCount());
    for (int i = 0; i < src->fieldCount(); ++i) {
        EXPECT_EQ(copy->fields()[i].name, src->fields()[i].name);
        EXPECT_EQ(copy->fields()[i].type, src->fields()[i].type);
        EXPECT_EQ(copy->fields()[i].length, src->fields()[i].length);
        EXPECT_EQ(copy->fields()[i].decimals, src->fields()[i].decimals);
    }
    for (uint32_t r : {4u, 11u, 8u}) {
        ASSERT_TRUE(src->go(r));
        ASSERT_TRUE(copy->appendRecordFrom(*src)) << copy->error();
    }
    copy.reset();
    copy = xb::Table::open(dir.file("copy.dbf"), err);
    ASSERT_TRUE(copy) << err;
    ASSERT_EQ(copy->recordCount(), 3u);
    uint32_t i = 1;
    for (uint32_t r : {4u, 11u, 8u}) {
        ASSERT_TRUE(src->go(r));
        ASSERT_TRUE(copy->go(i++));
        for (int f = 0; f < src->fieldCount(); ++f)
            EXPECT_EQ(copy->getText(f), src->getText(f)) << r << " " << f;
        EXPECT_EQ(copy->deleted(), src->deleted());
    }
}

TEST(DbfWrite, VisualFoxProNullsBinaryFieldsAndUnknownBytes) {
    TempDir dir;
    std::string err;
    auto t = xb::Table::create(dir.file("v"),
                               {{"NAME", 'C', 10, 0, 0x02},
                                {"N", 'I', 4, 0, 0},
                                {"PRICE", 'Y', 8, 4, 0},
                                {"X", 'B', 8, 0, 0},
                                {"WHEN", 'T', 8, 0, 0},
                                {"MEMO", 'M', 4, 0, 0}},
                               xb::Format::Vfp, 0xC8, err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->version(), 0x30);
    EXPECT_EQ(t->headerLength(), 32 + 7 * 32 + 1 + 263);
    EXPECT_EQ(t->fieldCount(), 6);  // _NullFlags is not shown
    ASSERT_TRUE(t->appendBlank());
    EXPECT_FALSE(t->isNull(0));
    ASSERT_TRUE(t->setText(0, "\xA5\xB9"));  // cp1250 bytes, kept as they are
    ASSERT_TRUE(t->setInt(1, -123456));
    ASSERT_TRUE(t->setDouble(2, 12.3456));
    ASSERT_TRUE(t->setDouble(3, 1e100));
    ASSERT_TRUE(t->setDate(4, "20240229"));
    ASSERT_TRUE(t->setText(5, "memo"));
    ASSERT_TRUE(t->flush());
    const std::string raw = t->rawField(4);
    t.reset();
    t = xb::Table::open(dir.file("v"), err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->codepageByte(), 0xC8);
    EXPECT_EQ(xb::toUtf8(trimmed(t->getText(0)), xb::codepageFromByte(t->codepageByte())), "Ąą");
    EXPECT_EQ(t->getInt(1), -123456);
    EXPECT_DOUBLE_EQ(t->getDouble(2), 12.3456);
    EXPECT_DOUBLE_EQ(t->getDouble(3), 1e100);
    EXPECT_EQ(t->getDate(4), "20240229");
    EXPECT_EQ(t->rawField(4), raw);
    EXPECT_EQ(t->getText(5), "memo");
    // a field marked null reads empty; writing a value clears the mark
    std::vector<uint8_t> rec = t->recordBuffer();
    const uint32_t nullOffset = 1 + 10 + 4 + 8 + 8 + 8 + 4;
    ASSERT_EQ(rec.size(), nullOffset + 1);
    ASSERT_TRUE(t->appendBlank());
    std::string bytes = t->rawField(0);
    ASSERT_TRUE(t->flush());
    t.reset();
    std::string file = readBytes(dir.file("v.dbf"));
    const size_t second = (uint8_t(file[8]) | (uint8_t(file[9]) << 8)) + rec.size();
    file[second + nullOffset] = 0x01;
    writeBytes(dir.file("v.dbf"), file);
    t = xb::Table::open(dir.file("v"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_TRUE(t->go(2));
    EXPECT_TRUE(t->isNull(0));
    EXPECT_EQ(t->getText(0), "");
    ASSERT_TRUE(t->setText(0, "x"));
    EXPECT_FALSE(t->isNull(0));
    // unknown field types are kept byte for byte
    EXPECT_FALSE(t->setRawField(1, "abc"));
    ASSERT_TRUE(t->setRawField(1, std::string("\x01\x02\x03\x04", 4)));
    EXPECT_EQ(t->getInt(1), 0x04030201);
}

TEST(DbfWrite, VisualFoxProAutoincrementCountsAcrossHandles) {
    TempDir dir;
    std::string err;
    auto t = xb::Table::create(dir.file("auto"), {{"ID", 'I', 4, 0, 0x0C}, {"NAME", 'C', 5, 0, 0}},
                               xb::Format::Vfp, 0x03, err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->version(), 0x31);
    auto other = xb::Table::open(dir.file("auto"), err);
    ASSERT_TRUE(other) << err;
    ASSERT_TRUE(t->appendBlank());
    ASSERT_TRUE(t->appendBlank());
    ASSERT_TRUE(other->appendBlank());  // sees the count and the counter the first handle left
    EXPECT_EQ(other->recno(), 3u);
    EXPECT_EQ(other->getInt(0), 3);
    other.reset();
    t.reset();
    t = xb::Table::open(dir.file("auto"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_EQ(t->recordCount(), 3u);
    for (uint32_t r = 1; r <= 3; ++r) {
        ASSERT_TRUE(t->go(r));
        EXPECT_EQ(t->getInt(0), r);
    }
    ASSERT_TRUE(t->appendBlank());
    EXPECT_EQ(t->getInt(0), 4);
}

// Visual FoxPro marks an autoincrementing integer with both bits 0x0C of the field flags; 0x04 alone is
// the binary flag (and 0x08 alone means nothing). Only an autoincrementing field is numbered by appends
// and has its next value (descriptor bytes 19-22, step at 23) counted on.
TEST(DbfWrite, OnlyBothFlagBitsMakeAnIntegerFieldAutoincrement) {
    struct Case {
        uint8_t flags;
        bool autoinc;
    };
    for (const Case c :
         {Case{0x00, false}, Case{0x04, false}, Case{0x08, false}, Case{0x06, false}, Case{0x0C, true}}) {
        SCOPED_TRACE("flags " + std::to_string(c.flags));
        TempDir dir;
        std::string err;
        auto t = xb::Table::create(dir.file("flags"), {{"N", 'I', 4, 0, c.flags}, {"NAME", 'C', 5, 0, 0}},
                                   xb::Format::Vfp, 0x03, err);
        ASSERT_TRUE(t) << err;
        EXPECT_EQ(t->version(), c.autoinc ? 0x31 : 0x30);
        t.reset();
        // The next value and step as another program may have left them in the field's descriptor.
        std::string bytes = readBytes(dir.file("flags.dbf"));
        ASSERT_EQ(bytes[32 + 18], char(c.flags));
        bytes.replace(32 + 19, 5, std::string("\x07\0\0\0\x02", 5));
        writeBytes(dir.file("flags.dbf"), bytes);
        t = xb::Table::open(dir.file("flags"), err);
        ASSERT_TRUE(t) << err;
        ASSERT_TRUE(t->appendBlank()) << t->error();
        ASSERT_TRUE(t->setText(1, "a"));
        ASSERT_TRUE(t->appendBlank()) << t->error();
        EXPECT_EQ(t->getInt(0), c.autoinc ? 9 : 0);
        ASSERT_TRUE(t->go(1));
        EXPECT_EQ(t->getInt(0), c.autoinc ? 7 : 0);
        t.reset();
        // The two field descriptors: only an autoincrementing field's next value has moved on.
        const std::string before = bytes.substr(32, 64);
        std::string after = readBytes(dir.file("flags.dbf")).substr(32, 64);
        if (c.autoinc) {
            EXPECT_EQ(after.substr(19, 5), std::string("\x0B\0\0\0\x02", 5));
            after.replace(19, 4, before.substr(19, 4));
        }
        EXPECT_EQ(after, before);
    }
}

TEST(DbfWrite, AppendRecordFromConvertsTextBetweenCodepages) {
    TempDir dir;
    std::string err;
    auto dos = xb::Table::create(dir.file("dos"), {{"NAME", 'C', 12, 0, 0}, {"QTY", 'N', 5, 0, 0}},
                                 xb::Format::Fox2, 0x01, err);
    ASSERT_TRUE(dos) << err;
    auto win = xb::Table::create(dir.file("win"), {{"QTY", 'N', 8, 1, 0}, {"name", 'C', 12, 0, 0}},
                                 xb::Format::Fox2, 0x03, err);
    ASSERT_TRUE(win) << err;
    ASSERT_TRUE(dos->appendBlank());
    ASSERT_TRUE(dos->setText(0, xb::fromUtf8("Zürich ½", xb::Codepage::Cp437)));
    ASSERT_TRUE(dos->setInt(1, 42));
    ASSERT_TRUE(win->appendRecordFrom(*dos)) << win->error();
    EXPECT_EQ(xb::toUtf8(trimmed(win->getText(1)), xb::Codepage::Cp1252), "Zürich ½");
    EXPECT_EQ(win->getText(0), "    42.0");  // converted to the target's width and decimals
}

TEST(DbfWrite, CodepagesConvertBothWays) {
    struct Case {
        xb::Codepage cp;
        uint8_t byte;
        std::string utf8;
    };
    for (const Case& c :
         {Case{xb::Codepage::Cp1252, 0x03, "Québec € œ ß"}, Case{xb::Codepage::Cp437, 0x01, "Zürich ½ ░"},
          Case{xb::Codepage::Cp850, 0x02, "São Tomé ø Ø"}, Case{xb::Codepage::Cp1250, 0xC8, "Łódź Žluť"}}) {
        EXPECT_EQ(xb::codepageFromByte(c.byte), c.cp);
        EXPECT_EQ(xb::codepageByte(c.cp), c.byte);
        bool lossy = false;
        const std::string bytes = xb::fromUtf8(c.utf8, c.cp, &lossy);
        EXPECT_FALSE(lossy) << c.utf8;
        EXPECT_LT(bytes.size(), c.utf8.size());
        EXPECT_EQ(xb::toUtf8(bytes, c.cp), c.utf8);
        EXPECT_EQ(xb::toUtf32(bytes, c.cp).size(), bytes.size());
        EXPECT_EQ(xb::fromUtf32(xb::toUtf32(bytes, c.cp), c.cp), bytes);
    }
    EXPECT_EQ(xb::codepageFromByte(0x00), xb::Codepage::Cp1252);
    bool lossy = false;
    EXPECT_EQ(xb::fromUtf8("a\xE2\x82", xb::Codepage::Cp1252, &lossy), "a??");  // cut sequence
    EXPECT_TRUE(lossy);
    lossy = false;
    EXPECT_EQ(xb::fromUtf8("Ω", xb::Codepage::Cp1252, &lossy), "?");
    EXPECT_TRUE(lossy);
    // every byte survives a round trip through Unicode in every codepage
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    for (auto cp : {xb::Codepage::Cp1252, xb::Codepage::Cp437, xb::Codepage::Cp850, xb::Codepage::Cp1250}) {
        lossy = false;
        EXPECT_EQ(xb::fromUtf8(xb::toUtf8(all, cp), cp, &lossy), all);
        EXPECT_FALSE(lossy);
    }
}

// ---- Damaged files: a clear error naming the file and the problem, and nothing written ----

TEST(DbfDamage, EachCorruptionGivesItsErrorAndLeavesTheFilesUnchanged) {
    struct Case {
        const char* what;
        std::function<void(std::string& dbf, std::string& fpt, std::string& cdx)> damage;
        const char* file;     // the file the message must name
        const char* problem;  // a part of the message
    };
    const auto le16 = [](std::string& s, size_t at, unsigned v) {
        s[at] = char(v & 0xFF);
        s[at + 1] = char(v >> 8);
    };
    const std::vector<Case> cases = {
        {"cut in the middle of the records",
         [](std::string& d, std::string&, std::string&) { d.resize(d.size() / 2); }, "fox_small.dbf",
         "truncated"},
        {"shorter than a header", [](std::string& d, std::string&, std::string&) { d.resize(20); },
         "fox_small.dbf", "truncated"},
        {"header length past the end", [&](std::string& d, std::string&, std::string&) { le16(d, 8, 60000); },
         "fox_small.dbf", "header length"},
        {"record length disagreeing with the fields",
         [&](std::string& d, std::string&, std::string&) { le16(d, 10, 70); }, "fox_small.dbf",
         "record length"},
        {"record count past the end", [](std::string& d, std::string&, std::string&) { d[5] = char(0x7F); },
         "fox_small.dbf", "truncated"},
        {"field list without its end",
         [](std::string& d, std::string&, std::string&) { d[32 + 7 * 32] = 'X'; }, "fox_small.dbf",
         "field list"},
        {"memo file cut to less than its header",
         [](std::string&, std::string& f, std::string&) { f.resize(100); }, "fox_small.fpt", "truncated"},
        {"index cut short", [](std::string&, std::string&, std::string& c) { c.resize(1000); },
         "fox_small.cdx", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        copyFixture("fox_small", dir);
        std::string dbf = readBytes(dir.file("fox_small.dbf")), fpt = readBytes(dir.file("fox_small.fpt")),
                    cdx = readBytes(dir.file("fox_small.cdx"));
        c.damage(dbf, fpt, cdx);
        writeBytes(dir.file("fox_small.dbf"), dbf);
        writeBytes(dir.file("fox_small.fpt"), fpt);
        writeBytes(dir.file("fox_small.cdx"), cdx);
        const std::string before = fileState(dir, "fox_small");
        std::string err;
        auto t = xb::Table::open(dir.file("fox_small"), err);
        EXPECT_FALSE(t);
        EXPECT_NE(err.find(c.file), std::string::npos) << err;
        EXPECT_NE(err.find(c.problem), std::string::npos) << err;
        t.reset();
        EXPECT_EQ(fileState(dir, "fox_small"), before);
        EXPECT_EQ(filesIn(dir), 3u);
    }
}

// Damage below a tag's root is found on the tag's first use, not at open: the table opens and reads in
// record order, while a seek on the tag and any change report the damage (naming the index) and leave
// every file as it was.
TEST(DbfDamage, IndexDamageBelowTheRootStopsSeeksAndChanges) {
    TempDir dir;
    copyFixture("fox_small", dir);
    std::string cdx = readBytes(dir.file("fox_small.cdx"));
    const auto at32 = [&](size_t at, bool bigEndian) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(static_cast<unsigned char>(cdx[at + i])) << (bigEndian ? 24 - 8 * i : 8 * i);
        return v;
    };
    // POSTAL's header is at 0x600; its root is an interior node: its first child goes past the end.
    const uint32_t root = at32(0x600, false);
    const size_t child = root + 12 + 6 + 4;
    for (int i = 0; i < 4; ++i) cdx[child + i] = char(0x7F);
    writeBytes(dir.file("fox_small.cdx"), cdx);
    const std::string before = fileState(dir, "fox_small");

    std::string err;
    auto t = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(t) << err;
    uint32_t seen = 0;
    for (bool ok = t->top(); ok; ok = t->skip(1)) ++seen;
    EXPECT_EQ(seen, t->recordCount());
    EXPECT_TRUE(t->error().empty()) << t->error();

    ASSERT_TRUE(t->go(1)) << t->error();
    EXPECT_FALSE(t->setText(t->fieldIndex("POSTAL_COD"), "H0H0H0"));
    EXPECT_NE(t->error().find("fox_small.cdx"), std::string::npos) << t->error();
    EXPECT_NE(t->error().find("outside the file"), std::string::npos) << t->error();
    EXPECT_FALSE(t->deleteRecord());
    EXPECT_FALSE(t->appendBlank());
    EXPECT_NE(t->error().find("outside the file"), std::string::npos) << t->error();

    ASSERT_TRUE(t->selectTag("postal")) << t->error();
    EXPECT_FALSE(t->top());
    EXPECT_NE(t->error().find("outside the file"), std::string::npos) << t->error();
    EXPECT_FALSE(t->seek("H0H0H0"));
    EXPECT_NE(t->error().find("outside the file"), std::string::npos) << t->error();
    EXPECT_TRUE(t->flush()) << t->error();
    t.reset();
    EXPECT_EQ(fileState(dir, "fox_small"), before);
    EXPECT_EQ(filesIn(dir), 3u);
}

// A header whose record length agrees with its fields, but gives a fixed-size kind (D, L, T, ...) fewer
// bytes than it takes: writing such a field would run past it (into the next field or out of the
// record), and a datetime of another size would be passed back and forth between its writers forever.
TEST(DbfDamage, FieldsTooShortForTheirKindAreRefusedAtOpen) {
    struct Case {
        xb::Format format;
        std::vector<xb::NewField> fields;
        int field;        // 0-based position of the field whose length is changed
        uint8_t length;   // its new length
        const char* say;  // part of the message
    };
    const std::vector<Case> cases = {
        {xb::Format::Fox2, {{"NAME", 'C', 10, 0, 0}, {"OPENED", 'D', 8, 0, 0}}, 1, 3, "OPENED (type D)"},
        {xb::Format::Fox2, {{"ACTIVE", 'L', 1, 0, 0}, {"NAME", 'C', 4, 0, 0}}, 0, 0, "ACTIVE (type L)"},
        {xb::Format::Vfp, {{"STAMP", 'T', 8, 0, 0}}, 0, 10, "STAMP (type T)"},
        {xb::Format::Vfp, {{"N", 'I', 4, 0, 0}, {"C", 'C', 2, 0, 0}}, 0, 2, "N (type I)"},
        {xb::Format::Vfp, {{"PRICE", 'Y', 8, 0, 0}}, 0, 5, "PRICE (type Y)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.say);
        TempDir dir;
        std::string err;
        {
            auto t = xb::Table::create(dir.file("t"), c.fields, c.format, 0x03, err);
            ASSERT_TRUE(t) << err;
            ASSERT_TRUE(t->appendBlank() && t->flush()) << t->error();
        }
        std::string dbf = readBytes(dir.file("t.dbf"));
        const size_t descriptor = 32 + 32 * size_t(c.field);
        const int change = int(c.length) - uint8_t(dbf[descriptor + 16]);
        dbf[descriptor + 16] = char(c.length);
        // the record length and the one record follow, so that only the field's size is wrong
        const unsigned recordLength = (uint8_t(dbf[10]) | (uint8_t(dbf[11]) << 8)) + change;
        dbf[10] = char(recordLength & 0xFF);
        dbf[11] = char(recordLength >> 8);
        const size_t headerLength = uint8_t(dbf[8]) | (uint8_t(dbf[9]) << 8);
        dbf.resize(headerLength);
        dbf += std::string(recordLength, ' ') + "\x1A";
        writeBytes(dir.file("t.dbf"), dbf);
        auto t = xb::Table::open(dir.file("t"), err);
        EXPECT_FALSE(t);
        EXPECT_NE(err.find("t.dbf"), std::string::npos) << err;
        EXPECT_NE(err.find(c.say), std::string::npos) << err;
        EXPECT_NE(err.find("a length of " + std::to_string(c.length)), std::string::npos) << err;
        t.reset();
        EXPECT_EQ(readBytes(dir.file("t.dbf")), dbf);
    }
}

TEST(DbfDamage, MemoPointerPastTheEndIsReportedAndNothingIsWritten) {
    TempDir dir;
    copyFixture("fox_small", dir);
    std::string dbf = readBytes(dir.file("fox_small.dbf"));
    // record 4 has a memo; point it far past the end of the memo file
    const size_t headerLength = uint8_t(dbf[8]) | (uint8_t(dbf[9]) << 8);
    const size_t recordLength = uint8_t(dbf[10]) | (uint8_t(dbf[11]) << 8);
    const size_t memoAt = headerLength + 3 * recordLength + recordLength - 10;
    dbf.replace(memoAt, 10, "   9999999");
    writeBytes(dir.file("fox_small.dbf"), dbf);
    const std::string before = fileState(dir, "fox_small");
    std::string err;
    auto t = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_TRUE(t->go(4));
    EXPECT_EQ(t->getText(t->fieldIndex("note")), "");
    EXPECT_NE(t->error().find("fox_small.fpt"), std::string::npos) << t->error();
    EXPECT_NE(t->error().find("past the end"), std::string::npos) << t->error();
    EXPECT_TRUE(t->go(5));  // other records read on
    EXPECT_TRUE(t->error().empty());
    // pack reads every memo: it stops with the error and leaves everything as it was
    EXPECT_FALSE(t->pack());
    EXPECT_NE(t->error().find("past the end"), std::string::npos) << t->error();
    t.reset();
    EXPECT_EQ(fileState(dir, "fox_small"), before);
    EXPECT_EQ(filesIn(dir), 3u);
}

TEST(DbfDamage, AnIndexTheEngineCannotMaintainRefusesWrites) {
    TempDir dir;
    copyFixture("fox_small", dir);
    std::string cdx = readBytes(dir.file("fox_small.cdx"));
    const size_t at = cdx.find("UPPER( TOWN )");
    ASSERT_NE(at, std::string::npos);
    cdx.replace(at, 13, "LOWER( TOWN )");  // a function the engine does not evaluate
    writeBytes(dir.file("fox_small.cdx"), cdx);
    const std::string before = fileState(dir, "fox_small");
    std::string err;
    auto t = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_TRUE(t->go(1));  // reading works
    EXPECT_FALSE(t->setText(0, "X"));
    EXPECT_NE(t->error().find("index"), std::string::npos) << t->error();
    EXPECT_FALSE(t->appendBlank());
    EXPECT_FALSE(t->deleteRecord());
    EXPECT_FALSE(t->pack());
    t.reset();
    EXPECT_EQ(fileState(dir, "fox_small"), before);
}

// A record changed behind the index's back (by a program that does not keep the index) leaves a stale key
// in its tags. An edit that must move that key refuses before anything is written, naming the tag, rather
// than writing the record and leaving it in the tag twice; an edit that does not move it goes through.
TEST(DbfIndex, AStaleKeyRefusesTheEditThatMustMoveItBeforeAnythingIsWritten) {
    struct Case {
        const char* what;
        const char* field;
        const char* value;
        bool refused;
    };
    const Case cases[] = {
        {"the stale key itself", "POSTAL_COD", "X1X1X1", true},
        {"another tag's key", "TOWN", "Elsewhere", false},
        {"no key at all", "AREA", "1.5", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        copyFixture("fox_small", dir);
        std::string dbf = readBytes(dir.file("fox_small.dbf"));
        const size_t headerLength = uint8_t(dbf[8]) | uint8_t(dbf[9]) << 8;
        const size_t recordLength = uint8_t(dbf[10]) | uint8_t(dbf[11]) << 8;
        dbf.replace(headerLength + 4 * recordLength + 1, 6, "Q9Q9Q9");  // record 5's POSTAL_COD
        writeBytes(dir.file("fox_small.dbf"), dbf);
        const std::string before = fileState(dir, "fox_small");
        std::string err;
        auto t = xb::Table::open(dir.file("fox_small"), err);
        ASSERT_TRUE(t) << err;
        ASSERT_TRUE(t->go(5));
        ASSERT_TRUE(t->setText(t->fieldIndex(c.field), c.value)) << t->error();
        const bool written = t->go(6);
        EXPECT_EQ(written, !c.refused) << t->error();
        if (c.refused) {
            EXPECT_NE(t->error().find("tag POSTAL"), std::string::npos) << t->error();
            EXPECT_NE(t->error().find("record 5"), std::string::npos) << t->error();
            t.reset();
            EXPECT_EQ(fileState(dir, "fox_small"), before);
            continue;
        }
        // The tag keeps its one stale entry for record 5, nothing more.
        std::vector<std::string> faults;
        ASSERT_TRUE(t->index());
        EXPECT_FALSE(t->index()->check(t->index()->findTag("POSTAL"), t->reader(), faults));
        for (const std::string& f : faults) EXPECT_EQ(f.find("more than once"), std::string::npos) << f;
        t.reset();
        EXPECT_NE(fileState(dir, "fox_small"), before);
    }
}

// ---- Pack is crash-safe: stopped at any step, the next open finds the old or the new table whole ----

TEST(DbfPack, StoppedAtAnyStepTheNextOpenFindsAWholeTable) {
    const std::vector<std::string> steps = {"write",       "sync",         "index",        "commit",
                                            "rename-memo", "rename-index", "rename-table", "reopen"};
    const Expected e = loadExpected("fox_small");
    size_t live = 0;
    for (const auto& row : e.rows) live += row[7].empty() ? 1 : 0;
    for (size_t s = 0; s < steps.size(); ++s) {
        SCOPED_TRACE(steps[s]);
        TempDir dir;
        copyFixture("fox_small", dir);
        const std::string before = fileState(dir, "fox_small");
        {
            std::string err;
            auto t = xb::Table::open(dir.file("fox_small"), err);
            ASSERT_TRUE(t) << err;
            xb::Table::packStepHook() = [&](const char* step) { return steps[s] != step; };
            EXPECT_FALSE(t->pack());
            xb::Table::packStepHook() = nullptr;
        }
        const bool committed = s >= 4;  // from the rename on, the pack is finished by the next open
        if (!committed) {
            EXPECT_EQ(fileState(dir, "fox_small"), before);
        }
        std::string err;
        auto t = xb::Table::open(dir.file("fox_small"), err);
        ASSERT_TRUE(t) << err;
        EXPECT_EQ(t->recordCount(), committed ? live : e.rows.size());
        // every record that remains reads as expected, memos included
        const int note = t->fieldIndex("note"), postal = t->fieldIndex("postal_cod");
        uint32_t r = 1;
        for (const auto& row : e.rows) {
            if (committed && !row[7].empty()) continue;
            ASSERT_TRUE(t->go(r++));
            EXPECT_EQ(trimmed(t->getText(postal)), row[1]);
            EXPECT_EQ(std::to_string(t->getText(note).size()), row[8]);
        }
        expectIndexSound(*t);
        t.reset();
        EXPECT_EQ(filesIn(dir), 3u);  // no marker, no new files left beside
    }
}

// Random damage anywhere in the three files: opening and reading every record and field either works
// or fails with a message, never crashes, and reading writes nothing.
TEST(DbfDamage, RandomByteDamageNeverCrashesAndReadingWritesNothing) {
    TempDir dir;
    copyFixture("fox_small", dir);
    const std::string dbf0 = readBytes(dir.file("fox_small.dbf")),
                      fpt0 = readBytes(dir.file("fox_small.fpt")),
                      cdx0 = readBytes(dir.file("fox_small.cdx"));
    std::mt19937 rng(2026);
    int opened = 0, refused = 0;
    for (int round = 0; round < 150; ++round) {
        std::string dbf = dbf0, fpt = fpt0, cdx = cdx0;
        std::string* target = round % 3 == 0 ? &dbf : round % 3 == 1 ? &fpt : &cdx;
        const size_t limit = target == &dbf ? 300 : target->size();  // the dbf header matters most
        for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k)
            (*target)[rng() % limit] = static_cast<char>(rng() % 256);
        if (rng() % 8 == 0) target->resize(rng() % target->size());
        writeBytes(dir.file("fox_small.dbf"), dbf);
        writeBytes(dir.file("fox_small.fpt"), fpt);
        writeBytes(dir.file("fox_small.cdx"), cdx);
        const std::string before = fileState(dir, "fox_small");
        std::string err;
        auto t = xb::Table::open(dir.file("fox_small"), err);
        if (!t) {
            EXPECT_FALSE(err.empty());
            ++refused;
        } else {
            ++opened;
            if (t->top()) {
                do {
                    for (int f = 0; f < t->fieldCount(); ++f) {
                        t->getText(f);
                        t->getDouble(f);
                        t->getDate(f);
                    }
                } while (t->skip(1));
            }
            for (const char* tag : {"POSTAL", "TOWN", "POP"}) {
                if (!t->selectTag(tag)) continue;
                if (t->top())
                    while (t->skip(1)) {
                    }
                t->seek("A1A1A1");
            }
            t.reset();
        }
        ASSERT_EQ(fileState(dir, "fox_small"), before) << "round " << round;
    }
    EXPECT_GT(opened, 0);
    EXPECT_GT(refused, 0);
}

TEST(DbfCreate, RefusesBadLayoutsAndExistingFiles) {
    TempDir dir;
    std::string err;
    const auto refused = [&](std::vector<xb::NewField> fields, xb::Format f, const std::string& part) {
        err.clear();
        auto t = xb::Table::create(dir.file("bad"), fields, f, 0x03, err);
        EXPECT_FALSE(t);
        EXPECT_NE(err.find(part), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("bad.dbf")));
    };
    refused({}, xb::Format::Fox2, "fields");
    refused({{"1ABC", 'C', 5, 0, 0}}, xb::Format::Fox2, "invalid name");
    refused({{"ELEVENCHARS", 'C', 5, 0, 0}}, xb::Format::Fox2, "invalid name");
    refused({{"A", 'C', 5, 0, 0}, {"a", 'N', 5, 0, 0}}, xb::Format::Fox2, "named twice");
    refused({{"A", 'C', 0, 0, 0}}, xb::Format::Fox2, "length");
    refused({{"A", 'N', 21, 0, 0}}, xb::Format::Fox2, "length");
    refused({{"A", 'N', 5, 4, 0}}, xb::Format::Fox2, "decimals");
    refused({{"A", 'I', 4, 0, 0}}, xb::Format::Fox2, "Visual FoxPro");
    refused({{"A", 'Q', 4, 0, 0}}, xb::Format::Vfp, "type");
    auto t = xb::Table::create(dir.file("good"), {{"a_1", 'c', 5, 0, 0}}, xb::Format::DBase3, 0, err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->fields()[0].name, "A_1");
    EXPECT_EQ(t->fields()[0].type, 'C');
    EXPECT_EQ(t->codepageByte(), 0x03);
    t.reset();
    EXPECT_FALSE(xb::Table::create(dir.file("GOOD.DBF"), {{"B", 'C', 5, 0, 0}}, xb::Format::Fox2, 0, err));
    EXPECT_NE(err.find("exists"), std::string::npos) << err;
}

TEST(DbfNavigation, TopBottomSkipAndEndsInRecordOrder) {
    TempDir dir;
    std::string err;
    auto t = xb::Table::create(dir.file("nav"), {{"N", 'N', 3, 0, 0}}, xb::Format::Fox2, 0x03, err);
    ASSERT_TRUE(t) << err;
    EXPECT_FALSE(t->top());
    EXPECT_TRUE(t->eof());
    EXPECT_TRUE(t->error().empty());
    EXPECT_FALSE(t->skip(1));
    EXPECT_FALSE(t->setText(0, "1"));  // no current record
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(t->appendBlank());
        ASSERT_TRUE(t->setInt(0, i));
    }
    ASSERT_TRUE(t->top());
    EXPECT_EQ(t->getInt(0), 1);
    EXPECT_FALSE(t->skip(-1));
    EXPECT_TRUE(t->bof());
    EXPECT_EQ(t->recno(), 1u);
    ASSERT_TRUE(t->bottom());
    EXPECT_EQ(t->getInt(0), 3);
    EXPECT_FALSE(t->skip(1));
    EXPECT_TRUE(t->eof());
    EXPECT_EQ(t->recno(), 4u);
    EXPECT_EQ(t->getText(0), "   ");  // blank at the end
    ASSERT_TRUE(t->skip(-1));         // back from the end to the last record
    EXPECT_EQ(t->recno(), 3u);
    EXPECT_FALSE(t->go(0));
    EXPECT_FALSE(t->go(4));
    EXPECT_NE(t->error().find("record 4"), std::string::npos) << t->error();
    // a pending change is written when the table moves on
    ASSERT_TRUE(t->go(2));
    ASSERT_TRUE(t->setInt(0, 20));
    ASSERT_TRUE(t->skip(1));
    auto other = xb::Table::open(dir.file("nav"), err, true);
    ASSERT_TRUE(other) << err;
    ASSERT_TRUE(other->go(2));
    EXPECT_EQ(other->getInt(0), 20);
}

// Scans read ahead in large pieces (and jumps in small ones): every record seen must be the file's own
// bytes, in record order both ways and in tag order, with changes written as the scan moves on.
TEST(DbfNavigation, ScansSeeTheFileAsItIsInEveryOrder) {
    TempDir dir;
    copyFixture("fox_large", dir);
    std::string err;
    auto t = xb::Table::open(dir.file("fox_large"), err);
    ASSERT_TRUE(t) << err;
    const size_t header = t->headerLength(), length = t->recordLength();
    const uint32_t count = t->recordCount();
    ASSERT_GT(size_t(count) * length, size_t(3) * 256 * 1024);  // several pieces of read-ahead
    std::string file = readBytes(dir.file("fox_large.dbf"));
    const auto stored = [&](uint32_t recno) { return file.substr(header + (recno - 1) * length, length); };
    const auto current = [&] {
        return std::string(reinterpret_cast<const char*>(t->recordBuffer().data()), length);
    };

    // forwards, changing every 997th record's town on the way (written when the scan moves on)
    const int town = t->fieldIndex("town");
    uint32_t n = 0;
    for (bool ok = t->top(); ok; ok = t->skip(1)) {
        ++n;
        ASSERT_EQ(t->recno(), n);
        ASSERT_EQ(current(), stored(n)) << "record " << n;
        if (n % 997 == 0) {
            ASSERT_TRUE(t->setText(town, "CHANGED " + std::to_string(n))) << t->error();
        }
    }
    EXPECT_EQ(n, count);
    EXPECT_TRUE(t->eof());
    EXPECT_TRUE(t->error().empty()) << t->error();
    ASSERT_TRUE(t->flush()) << t->error();
    for (uint32_t r = 997; r <= count; r += 997) {
        std::string want = stored(r);
        const std::string text = "CHANGED " + std::to_string(r);
        want.replace(t->fields()[town].offset, 30, text + std::string(30 - text.size(), ' '));
        file.replace(header + (r - 1) * length, length, want);
    }
    // The flush stamps the header's last-update date (bytes 1-3) with the day it ran; every other
    // byte, the record count among them, must be exactly the original file with the changed towns.
    const std::string written = readBytes(dir.file("fox_large.dbf"));
    ASSERT_EQ(written.size(), file.size());
    const auto month = uint8_t(written[2]), day = uint8_t(written[3]);
    EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31) << int(month) << "/" << int(day);
    file.replace(1, 3, written, 1, 3);
    EXPECT_EQ(written, file);

    // backwards from the end
    n = count;
    for (bool ok = t->bottom(); ok; ok = t->skip(-1), --n) {
        ASSERT_EQ(t->recno(), n);
        ASSERT_EQ(current(), stored(n)) << "record " << n;
    }
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(t->bof());

    // in tag order (records far apart), and forwards again after a jump into the middle
    std::vector<std::pair<std::string, uint32_t>> keys;
    ASSERT_TRUE(t->index()->walk(t->index()->findTag("town"), keys, err)) << err;
    ASSERT_TRUE(t->selectTag("town"));
    size_t i = 0;
    for (bool ok = t->top(); ok; ok = t->skip(1), ++i) {
        ASSERT_LT(i, keys.size());
        ASSERT_EQ(t->recno(), keys[i].second);
        ASSERT_EQ(current(), stored(keys[i].second)) << "record " << keys[i].second;
    }
    EXPECT_EQ(i, keys.size());
    ASSERT_TRUE(t->selectTag(""));
    ASSERT_TRUE(t->go(count / 2));
    for (n = count / 2; t->skip(1);) {
        ++n;
        ASSERT_EQ(current(), stored(n)) << "record " << n;
    }
    EXPECT_EQ(n, count);

    // a record appended through another handle is seen by the next scan
    auto other = xb::Table::open(dir.file("fox_large"), err);
    ASSERT_TRUE(other) << err;
    ASSERT_TRUE(other->appendBlank() && other->setText(0, "Z9Z9Z9") && other->flush()) << other->error();
    other.reset();
    n = 0;
    for (bool ok = t->top(); ok; ok = t->skip(1)) ++n;
    EXPECT_EQ(n, count + 1);
    ASSERT_TRUE(t->bottom());
    EXPECT_EQ(t->getText(0), "Z9Z9Z9");
}

TEST(DbfIndex, EnsureTagsTakesOverAnIndexTheHeaderDoesNotFlag) {
    TempDir dir;
    copyFixture("fox_small", dir);
    // clear the flag: the index beside the table is no longer the production index
    std::string dbf = readBytes(dir.file("fox_small.dbf"));
    dbf[28] = 0;
    writeBytes(dir.file("fox_small.dbf"), dbf);
    std::string err;
    auto t = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->index(), nullptr);
    ASSERT_TRUE(t->go(1));
    ASSERT_TRUE(t->setText(0, "ZZZ999"));  // the unflagged index is not kept up to date
    xb::TagSpec areaTag;
    areaTag.name = "AREA";
    areaTag.expression = "AREA";
    ASSERT_TRUE(t->ensureTags({areaTag})) << t->error();
    ASSERT_NE(t->index(), nullptr);
    t.reset();
    t = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(t) << err;
    ASSERT_NE(t->index(), nullptr);
    EXPECT_EQ(t->index()->tags().size(), 4u);  // the three it had and the new one
    expectIndexSound(*t);
    ASSERT_TRUE(t->selectTag("postal"));
    ASSERT_TRUE(t->seek("ZZZ999"));
    EXPECT_EQ(t->recno(), 1u);
}

TEST(DbfWrite, ASecondHandleSeesAppendsAndNewMemos) {
    TempDir dir;
    copyFixture("fox_small", dir);
    std::string err;
    auto reader = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(reader) << err;
    auto writer = xb::Table::open(dir.file("fox_small"), err);
    ASSERT_TRUE(writer) << err;
    const int note = writer->fieldIndex("note");
    const std::string text(1000, 'm');
    ASSERT_TRUE(writer->appendBlank());
    ASSERT_TRUE(writer->setText(note, text));
    ASSERT_TRUE(writer->flush());
    ASSERT_TRUE(reader->go(301)) << reader->error();
    EXPECT_EQ(reader->getText(note), text) << reader->error();
    // and the reader's own memo goes after the writer's, not over it
    ASSERT_TRUE(reader->go(1));
    ASSERT_TRUE(reader->setText(note, "from the reader"));
    ASSERT_TRUE(reader->flush());
    ASSERT_TRUE(writer->go(301));
    EXPECT_EQ(writer->getText(note), text);
    ASSERT_TRUE(writer->go(1));
    EXPECT_EQ(writer->getText(note), "from the reader");
}

// ---- Damage that a write would spread: each write is refused before it writes, or stays in its own place

namespace {

// Header fields of a table file (header length at 8, record length at 10).
size_t headerLengthOf(const std::string& dbf) {
    return uint8_t(dbf[8]) | (uint8_t(dbf[9]) << 8);
}
size_t recordLengthOf(const std::string& dbf) {
    return uint8_t(dbf[10]) | (uint8_t(dbf[11]) << 8);
}

// The bytes of one field of one record (1-based) of a table file.
std::string& setFieldBytes(std::string& dbf, uint32_t recno, size_t offset, const std::string& bytes) {
    dbf.replace(headerLengthOf(dbf) + (recno - 1) * recordLengthOf(dbf) + offset, bytes.size(), bytes);
    return dbf;
}

void put32be(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char(v >> (24 - 8 * i));
}

// fox_small's NOTE pointer is the last 10 bytes of a record.
std::string& setNotePointer(std::string& dbf, uint32_t recno, uint32_t block) {
    std::string p = std::to_string(block);
    p.insert(0, 10 - p.size(), ' ');
    return setFieldBytes(dbf, recno, recordLengthOf(dbf) - 10, p);
}

}  // namespace

// A change refused because of damage writes nothing: not the record, not the header's date (which a
// dirty flag left on the way used to carry out when the table was closed), not a memo.
TEST(DbfDamage, RefusedChangesWriteNothing) {
    struct Case {
        const char* what;
        std::function<void(std::string& dbf, std::string& fpt)> damage;
        std::function<bool(xb::Table&)> change;  // must fail
        const char* say;                         // part of the error
    };
    const auto note = [](xb::Table& t) { return t.fieldIndex("NOTE"); };
    const std::vector<Case> cases = {
        {"pack reaching a memo pointer past the end after records with memos",
         [](auto& dbf, auto&) { setNotePointer(dbf, 9, 999999); }, [](xb::Table& t) { return t.pack(); },
         "past the end"},
        {"a memo into a memo file whose next free block is past its end",
         [](auto&, auto& fpt) { put32be(fpt, 0, 0xFFFFFFF0u); },
         [&](xb::Table& t) { return t.go(2) && t.setText(note(t), "new text") && t.flush(); },
         "next free block as 4294967280"},
        {"an append to that table", [](auto&, auto& fpt) { put32be(fpt, 0, 0xFFFFFFF0u); },
         [](xb::Table& t) { return t.appendBlank(); }, "memo file is damaged"},
        {"a change of a character field of that table", [](auto&, auto& fpt) { put32be(fpt, 0, 3); },
         [](xb::Table& t) { return t.go(2) && t.setText(0, "H0H0H0") && t.go(3); },
         "inside the 512-byte header"},
        {"a record with a value its field refuses", [](auto&, auto&) {},
         [&](xb::Table& t) {
             return t.appendRecord({{0, "A1A1A1", false}, {note(t), "a memo", false}, {2, "12ab", false}});
         },
         "\"12ab\" is not a number"},
        {"a record with raw bytes of the wrong length", [](auto&, auto&) {},
         [&](xb::Table& t) {
             return t.appendRecord({{note(t), "a memo", false}, {4, "TF", true}});
         },
         "holds 1 bytes, not 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        copyFixture("fox_small", dir);
        std::string dbf = readBytes(dir.file("fox_small.dbf")), fpt = readBytes(dir.file("fox_small.fpt"));
        dbf[1] = dbf[2] = dbf[3] = 0;  // a date no write gives: any header write shows
        c.damage(dbf, fpt);
        writeBytes(dir.file("fox_small.dbf"), dbf);
        writeBytes(dir.file("fox_small.fpt"), fpt);
        const std::string before = fileState(dir, "fox_small");
        std::string err;
        auto t = xb::Table::open(dir.file("fox_small"), err);
        ASSERT_TRUE(t) << err;
        EXPECT_FALSE(c.change(*t));
        EXPECT_NE(t->error().find(c.say), std::string::npos) << t->error();
        t.reset();
        EXPECT_EQ(fileState(dir, "fox_small"), before);
        EXPECT_EQ(filesIn(dir), 3u);
    }
}

// A memo rewritten with no more blocks than it has keeps its place only when those blocks are its own:
// a stored length running into the next memo, or a second record pointing at the same memo, sends the
// new text to the end of the file, and the other record's memo stays as it was. Pack then gives each
// record its own copy of what it read.
TEST(DbfDamage, AMemoRewriteNeverReachesIntoAnotherRecordsMemo) {
    struct Case {
        const char* what;
        std::function<void(std::string& dbf, std::string& fpt)> damage;
        uint32_t rewrite;                 // the record whose memo is rewritten
        std::string text;                 // its new memo
        bool inPlace;                     // whether the memo file keeps its size
        std::vector<std::string> expect;  // the three memos afterwards
    };
    const std::string a(40, 'a'), b(40, 'b'), c(40, 'c');
    // Records 1 to 3 have memos of 40 bytes at blocks 8, 9 and 10 (64-byte blocks).
    const std::vector<Case> cases = {
        {"a sound table: a shorter text stays in place",
         [](auto&, auto&) {},
         2,
         "short",
         true,
         {a, "short", c}},
        {"record 1's stored length running into record 2's memo",
         [](auto&, auto& fpt) { put32be(fpt, 8 * 64 + 4, 150); },
         1,
         std::string(100, 'n'),
         false,
         {std::string(100, 'n'), b, c}},
        {"records 1 and 2 pointing at one memo",
         [](auto& dbf, auto&) { setNotePointer(dbf, 2, 8); },
         1,
         "new",
         false,
         {"new", a, c}},
        {"the last memo, alone in its blocks", [](auto&, auto&) {}, 3, "ccc", true, {a, b, "ccc"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TempDir dir;
        std::string err;
        {
            auto t = xb::Table::create(dir.file("fox_small"), {{"NAME", 'C', 10}, {"NOTE", 'M', 10}},
                                       xb::Format::Fox2, 0x03, err);
            ASSERT_TRUE(t) << err;
            for (const std::string* text : {&a, &b, &c})
                ASSERT_TRUE(t->appendRecord({{0, "x"}, {1, *text}})) << t->error();
        }
        std::string dbf = readBytes(dir.file("fox_small.dbf")), fpt = readBytes(dir.file("fox_small.fpt"));
        k.damage(dbf, fpt);
        writeBytes(dir.file("fox_small.dbf"), dbf);
        writeBytes(dir.file("fox_small.fpt"), fpt);
        auto t = xb::Table::open(dir.file("fox_small"), err);
        ASSERT_TRUE(t) << err;
        ASSERT_TRUE(t->go(k.rewrite) && t->setText(1, k.text) && t->flush()) << t->error();
        EXPECT_EQ(std::filesystem::file_size(dir.file("fox_small.fpt")) == fpt.size(), k.inPlace);
        for (uint32_t r = 1; r <= 3; ++r) {
            ASSERT_TRUE(t->go(r));
            EXPECT_EQ(t->getText(1), k.expect[r - 1]) << "record " << r;
        }
        ASSERT_TRUE(t->pack()) << t->error();
        for (uint32_t r = 1; r <= 3; ++r) {
            ASSERT_TRUE(t->go(r));
            EXPECT_EQ(t->getText(1), k.expect[r - 1]) << "record " << r << " after the pack";
        }
    }
}

// The files an interrupted pack leaves go in place only when each is exactly what the pack wrote (the
// marker names their sizes and digests). A damaged one, before anything was replaced, is left out and
// the table stays as it was; after some files were replaced, the table is refused and nothing changes.
TEST(DbfPack, LeftoversOfAnInterruptedPackGoInPlaceOnlyWhenSound) {
    struct Case {
        const char* what;
        const char* stopAt;  // the pack step where the "crash" happens
        std::function<void(const TempDir&)> tamper;
        const char* say;   // part of the error when the open is refused; nullptr: it opens
        uint32_t records;  // the records of the table that opens
    };
    const auto flipByte = [](const std::string& path, size_t at) {
        std::string bytes = readBytes(path);
        bytes[at] = char(bytes[at] ^ 0x20);
        writeBytes(path, bytes);
    };
    const std::vector<Case> cases = {
        {"a damaged new table, nothing replaced yet", "rename-memo",
         [&](const TempDir& d) { flipByte(d.file("fox_small.dbf.pack~"), 2000); }, nullptr, 300},
        {"a new memo file missing, nothing replaced yet", "rename-memo",
         [](const TempDir& d) { std::filesystem::remove(d.file("fox_small.fpt.pack~")); }, nullptr, 300},
        {"a damaged new table after the memo file and index were replaced", "rename-table",
         [&](const TempDir& d) { flipByte(d.file("fox_small.dbf.pack~"), 2000); }, "cannot be finished", 0},
        {"a damaged new table beside a table that does not open either", "rename-memo",
         [&](const TempDir& d) {
             flipByte(d.file("fox_small.dbf.pack~"), 2000);
             std::filesystem::resize_file(d.file("fox_small.dbf"), 1000);
         },
         "truncated", 0},
        {"another table's marker beside the new files of a pack stopped before its commit", "commit",
         [](const TempDir& d) {
             writeBytes(d.file("fox_small.dbf.packing~"),
                        "xbase pack 1\ntable 100 0000000000000001 other.dbf\n");
         },
         nullptr, 300},
        {"a marker cut short by a kill while it was being written", "commit",
         [](const TempDir& d) { writeBytes(d.file("fox_small.dbf.packing~.tmp"), "xbase pack 1\nmemo 12"); },
         nullptr, 300},
        {"a marker this engine does not write", "rename-memo",
         [](const TempDir& d) { writeBytes(d.file("fox_small.dbf.packing~"), "pack\n"); }, "cannot be read",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        copyFixture("fox_small", dir);
        const std::string intact = fileState(dir, "fox_small");
        {
            std::string err;
            auto t = xb::Table::open(dir.file("fox_small"), err);
            ASSERT_TRUE(t) << err;
            xb::Table::packStepHook() = [&](const char* step) { return std::string(step) != c.stopAt; };
            EXPECT_FALSE(t->pack());
            xb::Table::packStepHook() = nullptr;
        }
        c.tamper(dir);
        const std::string before = fileState(dir, "fox_small");
        const size_t filesBefore = filesIn(dir);
        std::string err;
        auto t = xb::Table::open(dir.file("fox_small"), err);
        if (c.say) {
            EXPECT_FALSE(t);
            EXPECT_NE(err.find(c.say), std::string::npos) << err;
            EXPECT_NE(err.find(dir.path()), std::string::npos) << err;
            EXPECT_EQ(fileState(dir, "fox_small"), before);
            EXPECT_EQ(filesIn(dir), filesBefore);
            continue;
        }
        ASSERT_TRUE(t) << err;
        EXPECT_EQ(t->recordCount(), c.records);
        t.reset();
        EXPECT_EQ(fileState(dir, "fox_small"), intact);
        EXPECT_EQ(filesIn(dir), 3u);
    }
}

// A pack interrupted under an engine that wrote its marker with the first digest ("xbase pack 1": the
// bytes taken one at a time) is finished by this one when the files are the ones that marker names, and
// left out (the table as it was) when they are not.
TEST(DbfPack, AMarkerOfTheFirstDigestIsStillVerified) {
    const auto digestV1 = [](const std::string& bytes) {
        uint64_t h = 0x243F6A8885A308D3ull;
        for (unsigned char b : bytes) {
            h = (h ^ b) * 0x100000001B3ull;
            h ^= h >> 29;
        }
        return h;
    };
    struct Case {
        const char* what;
        bool matching;     // the marker's digests are those of the files
        uint32_t records;  // the records of the table that opens
    };
    for (const Case& c :
         {Case{"digests of the files", true, 0}, Case{"digests of other files", false, 300}}) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        copyFixture("fox_small", dir);
        uint32_t packed = 0;
        {
            std::string err;
            auto t = xb::Table::open(dir.file("fox_small"), err);
            ASSERT_TRUE(t) << err;
            for (uint32_t r = 1; r <= t->recordCount(); ++r) {
                ASSERT_TRUE(t->go(r));
                if (r % 3 == 0 && !t->deleted()) {
                    ASSERT_TRUE(t->deleteRecord());
                }
                packed += !t->deleted();
            }
            ASSERT_TRUE(t->flush());
            xb::Table::packStepHook() = [](const char* step) { return std::string(step) != "rename-memo"; };
            EXPECT_FALSE(t->pack());
            xb::Table::packStepHook() = nullptr;
        }
        // the marker as the older engine wrote it
        std::string marker = "xbase pack 1\n";
        for (const auto& [role, name] : {std::pair<const char*, const char*>{"memo", "fox_small.fpt"},
                                         {"index", "fox_small.cdx"},
                                         {"table", "fox_small.dbf"}}) {
            const std::string fresh = readBytes(dir.file(std::string(name) + ".pack~"));
            char line[96];
            std::snprintf(line, sizeof line, "%s %zu %016llx %s\n", role, fresh.size(),
                          static_cast<unsigned long long>(digestV1(fresh) ^ (c.matching ? 0 : 1)), name);
            marker += line;
        }
        writeBytes(dir.file("fox_small.dbf.packing~"), marker);
        std::string err;
        auto t = xb::Table::open(dir.file("fox_small"), err);
        ASSERT_TRUE(t) << err;
        EXPECT_EQ(t->recordCount(), c.matching ? packed : c.records);
        EXPECT_EQ(filesIn(dir), 3u);
    }
}

// copyStructure copies the header it read: the field descriptors as they are, the backlink of a Visual
// FoxPro table cleared only where it is (after the field list, however long). The new table replaces
// an existing one only once it is written whole.
TEST(DbfWrite, CopyStructureKeepsTheHeaderItRead) {
    std::vector<xb::NewField> fields;
    for (int i = 0; i < 9; ++i)
        fields.push_back({std::string("F") + std::to_string(i), 'C', uint16_t(3 + i)});
    fields.push_back({"NOTE", 'M', 4});
    for (const size_t backlink : {263u, 100u, 0u}) {
        SCOPED_TRACE(::testing::Message() << "backlink of " << backlink << " bytes");
        TempDir dir;
        std::string err;
        {
            auto t = xb::Table::create(dir.file("src"), fields, xb::Format::Vfp, 0x03, err);
            ASSERT_TRUE(t) << err;
        }
        // the header cut to its field list and the backlink bytes wanted, the backlink naming a database
        std::string dbf = readBytes(dir.file("src.dbf"));
        const size_t terminator = 32 + 32 * fields.size();
        ASSERT_EQ(dbf[terminator], '\x0D');
        dbf.resize(terminator + 1 + backlink);
        std::fill(dbf.begin() + long(terminator) + 1, dbf.end(), 'D');
        dbf[8] = char(dbf.size() & 0xFF);
        dbf[9] = char(dbf.size() >> 8);
        dbf.push_back('\x1A');
        writeBytes(dir.file("src.dbf"), dbf);
        auto src = xb::Table::open(dir.file("src"), err);
        ASSERT_TRUE(src) << err;
        // an existing table of the target's name, with a memo, is replaced
        {
            auto old = xb::Table::create(dir.file("copy"), {{"OLD", 'C', 4}, {"M", 'M', 10}},
                                         xb::Format::Fox2, 0x03, err);
            ASSERT_TRUE(old) << err;
            ASSERT_TRUE(old->appendRecord({{0, "old"}, {1, "an old memo"}})) << old->error();
        }
        // a copy whose new memo file or table cannot be written replaces nothing and leaves nothing beside
        const std::string oldDbf = readBytes(dir.file("copy.dbf")), oldFpt = readBytes(dir.file("copy.fpt"));
        for (const char* blocked : {"copy.fpt.new~", "copy.dbf.new~"}) {
            SCOPED_TRACE(std::string("cannot write ") + blocked);
            std::filesystem::create_directory(dir.file(blocked));
            EXPECT_FALSE(src->copyStructure(dir.file("copy"), err));
            EXPECT_NE(err.find("copy"), std::string::npos) << err;
            std::filesystem::remove(dir.file(blocked));
            EXPECT_EQ(readBytes(dir.file("copy.dbf")), oldDbf);
            EXPECT_EQ(readBytes(dir.file("copy.fpt")), oldFpt);
            EXPECT_EQ(filesIn(dir), 4u);
        }
        auto copy = src->copyStructure(dir.file("copy"), err);
        ASSERT_TRUE(copy) << err;
        EXPECT_EQ(copy->headerLength(), src->headerLength());
        ASSERT_EQ(copy->fieldCount(), src->fieldCount());
        for (int i = 0; i < src->fieldCount(); ++i) {
            EXPECT_EQ(copy->fields()[i].name, src->fields()[i].name);
            EXPECT_EQ(copy->fields()[i].length, src->fields()[i].length);
        }
        const std::string copied = readBytes(dir.file("copy.dbf"));
        EXPECT_EQ(copied.substr(32, terminator + 1 - 32), dbf.substr(32, terminator + 1 - 32));
        EXPECT_EQ(copied.substr(terminator + 1, backlink), std::string(backlink, '\0'));
        EXPECT_EQ(copy->recordCount(), 0u);
        ASSERT_TRUE(copy->appendRecord({{0, "abc"}, {9, "a new memo"}})) << copy->error();
        EXPECT_EQ(copy->getText(9), "a new memo");
        copy.reset();
        EXPECT_EQ(filesIn(dir), 4u);  // src.dbf, src.fpt, copy.dbf, copy.fpt: nothing left beside
    }
}

// Records a handle has read are kept (the read-ahead of a scan, the pages around records reached by
// seek, go and tag order); a write through another handle of the same file, or through this one, must
// never leave a stale copy behind, however the record is reached again.
TEST(DbfNavigation, RecordsKeptByAHandleAreReadAgainAfterAnyHandleWrites) {
    struct Write {
        const char* name;
        bool sameHandle;  // the reader writes it itself (and goes back to where it waited)
        bool remove;      // deletes the record rather than change a field
    };
    using Step = std::function<bool(xb::Table&, uint32_t, const std::string&)>;
    struct Move {
        const char* name;
        Step wait;   // reads the record (and its neighbours) and stops next to it
        Step reach;  // back at the record
    };
    const std::vector<Write> writes = {
        {"another handle changes it", false, false},
        {"another handle deletes it", false, true},
        {"the same handle changes it", true, false},
    };
    const Step nearby = [](xb::Table& t, uint32_t recno, const std::string& key) {
        return t.selectTag("postal") && t.seek(key) && t.go(recno + 1);
    };
    const std::vector<Move> moves = {
        {"seek", nearby, [](xb::Table& t, uint32_t, const std::string& key) { return t.seek(key); }},
        {"go", nearby, [](xb::Table& t, uint32_t recno, const std::string&) { return t.go(recno); }},
        {"skip forwards in record order",
         [](xb::Table& t, uint32_t recno, const std::string&) {
             bool ok = t.selectTag("") && t.top();  // a scan: the read-ahead holds the record
             while (ok && t.recno() + 1 < recno) ok = t.skip(1);
             return ok;
         },
         [](xb::Table& t, uint32_t, const std::string&) { return t.skip(1); }},
        {"skip backwards in record order",
         [](xb::Table& t, uint32_t recno, const std::string&) {
             bool ok = t.selectTag("") && t.bottom();
             while (ok && t.recno() > recno + 1) ok = t.skip(-1);
             return ok;
         },
         [](xb::Table& t, uint32_t, const std::string&) { return t.skip(-1); }},
        {"skip in tag order",
         [](xb::Table& t, uint32_t, const std::string& key) {
             return t.selectTag("postal") && t.seek(key) && t.skip(1);
         },
         [](xb::Table& t, uint32_t, const std::string&) { return t.skip(-1); }},
    };
    int n = 0;
    for (const Write& w : writes)
        for (const Move& m : moves)
            for (const uint32_t target : {2u, 150u, 299u}) {  // near both ends and in the middle
                SCOPED_TRACE(std::string(w.name) + ", then " + m.name + ", record " + std::to_string(target));
                TempDir dir;
                copyFixture("fox_small", dir);
                std::string err;
                auto reader = xb::Table::open(dir.file("fox_small"), err);
                ASSERT_TRUE(reader) << err;
                auto writer = xb::Table::open(dir.file("fox_small"), err);
                ASSERT_TRUE(writer) << err;
                const int area = reader->fieldIndex("area"), postal = reader->fieldIndex("postal_cod");
                ASSERT_TRUE(reader->go(target));
                const std::string key = reader->getText(postal);
                ASSERT_TRUE(reader->selectTag("postal") && reader->seek(key));
                ASSERT_EQ(reader->recno(), target) << "the key must name the record alone";
                ASSERT_TRUE(m.wait(*reader, target, key)) << reader->error();
                ASSERT_NE(reader->recno(), target);

                const std::string value = std::to_string(1000 + ++n) + ".500";
                xb::Table& by = w.sameHandle ? *reader : *writer;
                const uint32_t waited = reader->recno();
                ASSERT_TRUE(by.go(target));
                ASSERT_TRUE(w.remove ? by.deleteRecord() : by.setText(area, value)) << by.error();
                ASSERT_TRUE(by.flush()) << by.error();
                if (w.sameHandle) {
                    ASSERT_TRUE(by.go(waited));
                }

                ASSERT_TRUE(m.reach(*reader, target, key)) << reader->error();
                ASSERT_EQ(reader->recno(), target);
                EXPECT_EQ(reader->deleted(), w.remove);
                if (!w.remove) {
                    EXPECT_EQ(reader->getText(area), std::string(10 - value.size(), ' ') + value);
                }
            }
}

// A handle that has read the last records keeps them; the records it appends after them (still in its
// batch, or written) are found by every move, with the values they were given.
TEST(DbfNavigation, AHandleReachesItsOwnAppendsPastTheRecordsItKept) {
    using Reach = std::function<bool(xb::Table&, uint32_t, const std::string&)>;
    const std::vector<std::pair<const char*, Reach>> moves = {
        {"seek",
         [](xb::Table& t, uint32_t, const std::string& key) { return t.selectTag("postal") && t.seek(key); }},
        {"go", [](xb::Table& t, uint32_t recno, const std::string&) { return t.go(recno); }},
        {"skip from the record before",
         [](xb::Table& t, uint32_t recno, const std::string&) {
             return t.selectTag("") && t.go(recno - 1) && t.skip(1);
         }},
        {"skip back from the record after",
         [](xb::Table& t, uint32_t recno, const std::string&) {
             return t.selectTag("") && t.go(recno + 1) && t.skip(-1);
         }},
        {"skip back in tag order",
         [](xb::Table& t, uint32_t, const std::string& key) {
             return t.selectTag("postal") && t.seek(key) && t.skip(1) && t.skip(-1);
         }},
    };
    for (const bool flushed : {false, true})
        for (const auto& [name, reach] : moves) {
            SCOPED_TRACE(std::string(name) +
                         (flushed ? ", the appends written" : ", the appends in the batch"));
            TempDir dir;
            copyFixture("fox_small", dir);
            std::string err;
            auto t = xb::Table::open(dir.file("fox_small"), err);
            ASSERT_TRUE(t) << err;
            const int postal = t->fieldIndex("postal_cod"), town = t->fieldIndex("town");
            // the last records read by jumps and by a scan, so that both keep the end of the table
            ASSERT_TRUE(t->selectTag("postal") && t->top());
            while (t->skip(1)) {
            }
            ASSERT_TRUE(t->go(300) && t->go(298) && t->selectTag("") && t->bottom());
            const std::vector<std::pair<std::string, std::string>> added = {{"!!0001", "FIRST ADDED"},
                                                                            {"!!0002", "SECOND ADDED"},
                                                                            {"!!0003", "THIRD ADDED"},
                                                                            {"!!0004", "LAST"}};
            for (const auto& [key, name] : added)
                ASSERT_TRUE(t->appendRecord({{postal, key}, {town, name}})) << t->error();
            if (flushed) {
                ASSERT_TRUE(t->flush()) << t->error();
            }
            for (uint32_t i = 0; i + 1 < added.size(); ++i) {  // each has a record after it
                const uint32_t recno = 301 + i;
                SCOPED_TRACE("record " + std::to_string(recno));
                ASSERT_TRUE(reach(*t, recno, added[i].first)) << t->error();
                ASSERT_EQ(t->recno(), recno);
                EXPECT_EQ(t->getText(postal), added[i].first);
                EXPECT_EQ(t->getText(town).substr(0, added[i].second.size()), added[i].second);
            }
        }
}
