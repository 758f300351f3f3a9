// Index maintenance seen from outside: random appends, replaces, deletes and recalls through the engine
// on a copy of a fixture, then a pack; after each stage `dbftool check` passes and every seek finds what
// a linear scan of the records finds.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/dbf.h"
#include "tableaccess/xbase/keyexpr.h"
#include "testkit_test.h"

namespace dbftool::test {
namespace {

std::string randomPostal(std::mt19937& rng) {
    std::string s(6, ' ');
    for (int i = 0; i < 6; ++i)
        s[i] = i % 2 == 0 ? static_cast<char>('A' + rng() % 26) : static_cast<char>('0' + rng() % 10);
    return s;
}

const std::vector<std::string> kTowns = {"Halifax",
                                         "Qu\xE9"
                                         "bec",
                                         "Trois-Rivi\xE8res",
                                         "ottawa",
                                         "St. John's",
                                         "Montr\xE9"
                                         "al",
                                         "Sept-\xCEles",
                                         "Regina",
                                         "iqaluit",
                                         "L\xE9vis"};

// What a linear scan finds: per tag, the record numbers holding each key, in record order.
struct ScanResult {
    std::map<std::string, std::vector<uint32_t>> byTag[3];
};

const char* kTagNames[3] = {"POSTAL", "TOWN", "POP"};

ScanResult scan(xb::Table& t) {
    ScanResult r;
    xb::CdxFile* cdx = t.index();
    EXPECT_NE(cdx, nullptr);
    std::vector<std::unique_ptr<xb::KeyExpr>> exprs;
    for (const char* name : kTagNames) {
        const int tag = cdx->findTag(name);
        EXPECT_GE(tag, 0) << name;
        std::string error;
        exprs.push_back(xb::KeyExpr::compile(cdx->tags()[tag].expression, t.fields(), error));
        EXPECT_TRUE(exprs.back()) << error;
    }
    std::vector<uint8_t> rec;
    for (uint32_t n = 1; n <= t.recordCount(); ++n) {
        EXPECT_TRUE(t.reader().readRecord(n, rec));
        for (int i = 0; i < 3; ++i) r.byTag[i][exprs[i]->evaluate(rec.data())].push_back(n);
    }
    return r;
}

// Every key the scan found is sought on its tag: ascending tags give the first record holding the key,
// the descending numeric tag one of them; keys that no record holds any more are not found.
void verifySeeks(const std::string& path, const std::set<std::string> removedPostals[1], const char* stage) {
    SCOPED_TRACE(stage);
    std::string error;
    auto t = xb::Table::open(path, error, true);
    ASSERT_TRUE(t) << error;
    const ScanResult s = scan(*t);
    // Every key through the index itself, every 25th also through the table (which makes the record current).
    xb::CdxFile* cdx = t->index();
    for (int i = 0; i < 3; ++i) {
        const int tag = cdx->findTag(kTagNames[i]);
        ASSERT_TRUE(t->selectTag(kTagNames[i]));
        size_t n = 0;
        for (const auto& [key, recnos] : s.byTag[i]) {
            std::string seekKey = key;
            if (i == 2) {
                // numeric tag: sought by the value as text
                const double v = xb::decodeNumericKey(key.data());
                seekKey = std::to_string(static_cast<long long>(v));
            }
            const uint32_t found = cdx->seek(tag, seekKey, error);
            ASSERT_NE(found, 0u) << kTagNames[i] << " '" << seekKey << "' " << error;
            if (i < 2) {
                EXPECT_EQ(found, recnos.front()) << kTagNames[i] << " '" << key << "'";
            } else {
                EXPECT_NE(std::find(recnos.begin(), recnos.end(), found), recnos.end()) << "POP " << seekKey;
            }
            if (n++ % 25 == 0) {
                ASSERT_TRUE(t->seek(seekKey)) << kTagNames[i] << " '" << seekKey << "' " << t->error();
                EXPECT_EQ(t->recno(), found);
            }
        }
    }
    ASSERT_TRUE(t->selectTag("POSTAL"));
    for (const auto& key : removedPostals[0]) {
        if (s.byTag[0].count(key)) continue;
        EXPECT_FALSE(t->seek(key)) << "'" << key << "' is held by no record any more";
    }
    // the program finds the same through its own seek
    const size_t step = std::max<size_t>(7, s.byTag[0].size() / 40);
    size_t n = 0;
    for (const auto& [key, recnos] : s.byTag[0]) {
        if (n++ % step) continue;
        RunResult r = tool({"seek", path, "POSTAL", key});
        EXPECT_EQ(r.rc, 0) << key;
        EXPECT_EQ(r.out, std::to_string(recnos.front()) + "\n") << key;
    }
}

void expectCheckPasses(const std::string& path, const char* stage) {
    RunResult r = tool({"check", path});
    EXPECT_EQ(r.rc, 0) << stage << "\n" << r.out << r.err;
}

void randomChanges(const std::string& base, int steps, unsigned seed) {
    TempDir d;
    const std::string path = copyFixture(d, base);
    std::mt19937 rng(seed);
    std::set<std::string> removed[1];
    {
        std::string error;
        auto t = xb::Table::open(path, error);
        ASSERT_TRUE(t) << error;
        ASSERT_NE(t->index(), nullptr);
        const int fPostal = t->fieldIndex("POSTAL_COD"), fTown = t->fieldIndex("TOWN"),
                  fPop = t->fieldIndex("POP"), fNote = t->fieldIndex("NOTE");
        ASSERT_GE(fPostal, 0);
        ASSERT_GE(fTown, 0);
        ASSERT_GE(fPop, 0);
        ASSERT_GE(fNote, 0);
        std::vector<std::string> used;  // postal codes seen, to make duplicates
        int appends = 0, replaces = 0, deletes = 0, recalls = 0;
        for (int step = 0; step < steps; ++step) {
            const int op = static_cast<int>(rng() % 10);
            const uint32_t count = t->recordCount();
            if (op < 3) {
                ASSERT_TRUE(t->appendBlank()) << t->error();
                std::string postal =
                    (!used.empty() && rng() % 4 == 0) ? used[rng() % used.size()] : randomPostal(rng);
                ASSERT_TRUE(t->setText(fPostal, postal)) << t->error();
                ASSERT_TRUE(t->setText(fTown, kTowns[rng() % kTowns.size()])) << t->error();
                ASSERT_TRUE(t->setInt(fPop, static_cast<int64_t>(rng() % 1000000))) << t->error();
                if (rng() % 3 == 0) {
                    ASSERT_TRUE(t->setText(fNote, std::string(rng() % 300 + 1, 'm'))) << t->error();
                }
                used.push_back(postal);
                ++appends;
            } else if (op < 7) {
                ASSERT_TRUE(t->go(static_cast<uint32_t>(rng() % count + 1))) << t->error();
                const std::string old = t->getText(fPostal);
                const int what = static_cast<int>(rng() % 4);
                if (what == 0 || what == 3) {
                    std::string postal =
                        (!used.empty() && rng() % 3 == 0) ? used[rng() % used.size()] : randomPostal(rng);
                    ASSERT_TRUE(t->setText(fPostal, postal)) << t->error();
                    removed[0].insert(old);
                    used.push_back(postal);
                }
                if (what == 1 || what == 3) {
                    ASSERT_TRUE(t->setText(fTown, kTowns[rng() % kTowns.size()]));
                }
                if (what == 2 || what == 3) {
                    ASSERT_TRUE(t->setInt(fPop, static_cast<int64_t>(rng() % 1000000)));
                }
                ++replaces;
            } else if (op < 9) {
                ASSERT_TRUE(t->go(static_cast<uint32_t>(rng() % count + 1))) << t->error();
                ASSERT_TRUE(t->deleteRecord()) << t->error();
                ++deletes;
            } else {
                ASSERT_TRUE(t->go(static_cast<uint32_t>(rng() % count + 1))) << t->error();
                ASSERT_TRUE(t->recall()) << t->error();
                ++recalls;
            }
        }
        ASSERT_TRUE(t->flush()) << t->error();
        EXPECT_GT(appends, 0);
        EXPECT_GT(replaces, 0);
        EXPECT_GT(deletes, 0);
        EXPECT_GT(recalls, 0);
    }
    expectCheckPasses(path, "after random changes");
    verifySeeks(path, removed, "after random changes");

    {
        std::string error;
        auto t = xb::Table::open(path, error);
        ASSERT_TRUE(t) << error;
        uint32_t live = 0;
        std::vector<uint8_t> rec;
        for (uint32_t n = 1; n <= t->recordCount(); ++n) {
            ASSERT_TRUE(t->reader().readRecord(n, rec));
            if (rec[0] != '*') ++live;
        }
        ASSERT_TRUE(t->pack()) << t->error();
        EXPECT_EQ(t->recordCount(), live);
    }
    expectCheckPasses(path, "after pack");
    verifySeeks(path, removed, "after pack");
}

TEST(IndexMaintenance, RandomChangesAndPackOnTheSmallFixture) {
    randomChanges("fox_small", 800, 2012);
}

// The large fixture's tags have interior nodes: changes split and merge them.
TEST(IndexMaintenance, RandomChangesAndPackOnTheLargeFixture) {
    randomChanges("fox_large", 4000, 71);
}

}  // namespace
}  // namespace dbftool::test
