// dbftool as administrators run it: the built program on copies of the peer-made fixtures and on tables
// it creates itself. Exit codes, messages, and what each command does to the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/dbf.h"
#include "tarvikversion.h"
#include "testkit_test.h"

namespace dbftool::test {
namespace {

// The fixture's expected records, keyed by record number.
struct ExpectedRecord {
    std::string postal, town, pop, area, active, opened;
    bool deleted = false;
    size_t noteLen = 0;
};

std::vector<ExpectedRecord> loadExpected(const std::string& base) {
    auto rows = parseCsv(readFile(kFixtures + "/" + base + "_expected.csv"));
    std::vector<ExpectedRecord> out;
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto& r = rows[i];
        EXPECT_EQ(r.size(), 9u) << "line " << i;
        if (r.size() < 9) continue;
        ExpectedRecord e{r[1], r[2], r[3],        r[4],
                         r[5], r[6], r[7] == "*", static_cast<size_t>(std::stoul(r[8]))};
        out.push_back(e);
    }
    return out;
}

std::string trim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    return s;
}

std::string upperAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// One line on stderr, starting with the program's name.
void expectOneLineMessage(const RunResult& r) {
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
}

// ---------------------------------------------------------------------------------------------------
TEST(DbftoolUsage, BadCallsExitTwoWithOneLine) {
    TempDir d;
    const std::vector<std::vector<std::string>> calls = {
        {},
        {"frobnicate", "x"},
        {"info"},
        {"info", d / "missing.dbf"},
        {"dump", d / "missing"},
        {"dump", d / "missing", "--bogus"},
        {"create", d / "t.dbf"},
        {"create", d / "t.dbf", "NAME:C:300"},
        {"create", d / "t.dbf", "NAME:C:3", "--format", "dbase4"},
        {"create", d / "t.dbf", "NAME:C:3", "--codepage", "1251"},
        {"load", d / "missing.dbf", d / "missing.csv"},
        {"seek", d / "missing.dbf", "TAG"},
        {"index", d / "missing.dbf", "TAG"},
        {"check"},
        {"pack", d / "missing.dbf"},
    };
    for (const auto& c : calls) {
        RunResult r = tool(c);
        std::string shown;
        for (const auto& a : c) shown += a + " ";
        EXPECT_EQ(r.rc, 2) << shown << r.err;
        expectOneLineMessage(r);
    }
    EXPECT_FALSE(fs::exists(d / "t.dbf")) << "a refused create must not leave a file";
    RunResult help = tool({"--help"});
    EXPECT_EQ(help.rc, 0);
    EXPECT_NE(help.out.find("seek TABLE TAG KEY"), std::string::npos);
    RunResult version = tool({"--version"});
    EXPECT_EQ(version.rc, 0);
    EXPECT_EQ(version.out, "dbftool " TARVIK_VERSION "\n");
}

// ---------------------------------------------------------------------------------------------------
TEST(DbftoolFixtures, InfoDescribesTheTable) {
    TempDir d;
    const std::string t = copyFixture(d, "fox_small");
    const auto expected = loadExpected("fox_small");
    const auto deleted = std::count_if(expected.begin(), expected.end(), [](auto& e) { return e.deleted; });
    ASSERT_GT(deleted, 0);
    RunResult r = tool({"info", t});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("0xF5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cp1252"), std::string::npos) << r.out;
    const std::string records =
        "Records:      " + std::to_string(expected.size()) + " (" + std::to_string(deleted) + " deleted)";
    EXPECT_NE(r.out.find(records), std::string::npos) << r.out;
    for (const char* f :
         {"POSTAL_COD C    6", "TOWN       C   30", "POP        N    9", "AREA       N   10  3",
          "ACTIVE     L    1", "OPENED     D    8", "NOTE       M   10"})
        EXPECT_NE(r.out.find(f), std::string::npos) << f << "\n" << r.out;
    EXPECT_NE(r.out.find("POSTAL: POSTAL_COD ascending"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("TOWN: UPPER( TOWN ) ascending"), std::string::npos)
        << r.out;  // as the peer stored it
    EXPECT_NE(r.out.find("POP: POP descending"), std::string::npos) << r.out;
    // the name is matched without regard to case, with or without ".dbf"
    RunResult r2 = tool({"info", d / "FOX_SMALL"});
    EXPECT_EQ(r2.rc, 0) << r2.err;
    EXPECT_EQ(r2.out, r.out);
}

// Every record as the peer saw it: values, deleted flags, memo lengths, for both fixture sets.
TEST(DbftoolFixtures, DumpMatchesTheExpectedRecords) {
    for (const std::string base : {"fox_small", "fox_large"}) {
        SCOPED_TRACE(base);
        TempDir d;
        const std::string t = copyFixture(d, base);
        const std::string before = readFile(t);
        const auto expected = loadExpected(base);
        RunResult r = tool({"dump", t, "--deleted"});
        ASSERT_EQ(r.rc, 0) << r.err;
        auto rows = parseCsv(r.out);
        ASSERT_EQ(rows.size(), expected.size() + 1);
        EXPECT_EQ(rows[0], (std::vector<std::string>{"_deleted", "POSTAL_COD", "TOWN", "POP", "AREA",
                                                     "ACTIVE", "OPENED", "NOTE"}));
        for (size_t i = 0; i < expected.size(); ++i) {
            const auto& e = expected[i];
            const auto& row = rows[i + 1];
            ASSERT_EQ(row.size(), 8u);
            EXPECT_EQ(row[0], e.deleted ? "*" : "") << "record " << i + 1;
            EXPECT_EQ(row[1], e.postal) << "record " << i + 1;
            EXPECT_EQ(row[2], e.town) << "record " << i + 1;
            EXPECT_EQ(row[3], trim(e.pop)) << "record " << i + 1;
            EXPECT_EQ(row[4], trim(e.area)) << "record " << i + 1;
            EXPECT_EQ(row[5], e.active) << "record " << i + 1;
            EXPECT_EQ(row[6], e.opened) << "record " << i + 1;
            EXPECT_EQ(utf8Length(row[7]), e.noteLen) << "record " << i + 1;
        }
        // without --deleted, the deleted records are left out and there is no flag column
        RunResult live = tool({"dump", t});
        ASSERT_EQ(live.rc, 0) << live.err;
        auto liveRows = parseCsv(live.out);
        const size_t liveCount =
            std::count_if(expected.begin(), expected.end(), [](auto& e) { return !e.deleted; });
        ASSERT_EQ(liveRows.size(), liveCount + 1);
        EXPECT_EQ(liveRows[0][0], "POSTAL_COD");
        size_t k = 1;
        for (size_t i = 0; i < expected.size(); ++i)
            if (!expected[i].deleted) {
                EXPECT_EQ(liveRows[k++][0], expected[i].postal);
            }
        EXPECT_EQ(readFile(t), before) << "dump must not write to the table";
    }
}

// Every key of the expected file is found, on each tag, at the first record in tag order holding it.
TEST(DbftoolFixtures, SeekFindsEveryKeyOfEveryTag) {
    TempDir d;
    const std::string t = copyFixture(d, "fox_small");
    const auto expected = loadExpected("fox_small");
    std::map<std::string, uint32_t> firstPostal, firstTown;
    std::map<std::string, std::set<uint32_t>> pops;
    for (size_t i = 0; i < expected.size(); ++i) {
        const uint32_t recno = static_cast<uint32_t>(i + 1);
        firstPostal.emplace(expected[i].postal, recno);
        firstTown.emplace(expected[i].town, recno);
        pops[trim(expected[i].pop)].insert(recno);
    }
    for (const auto& [key, recno] : firstPostal) {
        RunResult r = tool({"seek", t, "postal", key});
        ASSERT_EQ(r.rc, 0) << key << r.err;
        EXPECT_EQ(r.out, std::to_string(recno) + "\n") << key;
    }
    // TOWN is UPPER(TOWN): ASCII towns are sought in upper case (accented ones in their stored upper form)
    for (const auto& [town, recno] : firstTown) {
        RunResult r = tool({"seek", t, "TOWN", upperAscii(town)});
        ASSERT_EQ(r.rc, 0) << town << r.err;
        EXPECT_EQ(r.out, std::to_string(recno) + "\n") << town;
    }
    for (const auto& [pop, recnos] : pops) {
        RunResult r = tool({"seek", t, "POP", pop});
        ASSERT_EQ(r.rc, 0) << pop << r.err;
        const uint32_t got = static_cast<uint32_t>(std::stoul(r.out));
        EXPECT_TRUE(recnos.count(got)) << pop << " found at record " << got;
    }
}

TEST(DbftoolFixtures, SeekNeedsTheWholeKey) {
    TempDir d;
    const std::string t = copyFixture(d, "fox_small");
    const auto expected = loadExpected("fox_small");
    const std::string key = expected[0].postal;
    // a prefix, an empty key, an over-long key, a key that is not there: not found, exit 1, no output
    for (const std::string& k : {key.substr(0, 3), std::string(), key + "X", std::string("ZZZZZZ")}) {
        RunResult r = tool({"seek", t, "POSTAL", k});
        EXPECT_EQ(r.rc, 1) << "'" << k << "' " << r.out;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    RunResult noTag = tool({"seek", t, "NOSUCHTAG", key});
    EXPECT_EQ(noTag.rc, 2);
    expectOneLineMessage(noTag);
}

TEST(DbftoolFixtures, CheckPassesOnTheFixtures) {
    for (const std::string base : {"fox_small", "fox_large"}) {
        TempDir d;
        const std::string t = copyFixture(d, base);
        RunResult r = tool({"check", t});
        EXPECT_EQ(r.rc, 0) << base << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find("no faults"), std::string::npos) << r.out;
    }
}

uint32_t get32le(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + size_t(i)]);
    return v;
}
uint32_t get32be(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + size_t(i)]);
    return v;
}
void put32le(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = static_cast<char>(v >> (8 * i));
}
void put32be(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = static_cast<char>(v >> (24 - 8 * i));
}

// Damage of each kind is found and reported, and check never writes.
TEST(DbftoolCheck, ReportsDamageAndLeavesTheFilesAlone) {
    struct Damage {
        const char* name;
        std::function<void(std::string& dbf, std::string& fpt, std::string& cdx)> apply;
        const char* expectInOutput;
    };
    // header of fox_small: header length at 8, record length at 10
    auto hdr16 = [](const std::string& dbf, int at) {
        return static_cast<int>(static_cast<unsigned char>(dbf[at]) | static_cast<unsigned char>(dbf[at + 1])
                                                                          << 8);
    };
    const std::vector<Damage> damages = {
        {"bad deletion flag", [&](std::string& dbf, std::string&, std::string&) { dbf[hdr16(dbf, 8)] = 'X'; },
         "record 1: deletion flag"},
        {"postal code changed behind the index",
         [&](std::string& dbf, std::string&, std::string&) {
             const int at = hdr16(dbf, 8) + hdr16(dbf, 10) * 4 + 1;  // record 5, POSTAL_COD
             dbf.replace(at, 6, "ZZ9ZZ9");
         },
         "tag POSTAL"},
        {"number field holding letters",
         [&](std::string& dbf, std::string&, std::string&) {
             const int at = hdr16(dbf, 8) + hdr16(dbf, 10) * 2 + 1 + 6 + 30;  // record 3, POP
             dbf.replace(at, 9, "   12ab34");
         },
         "record 3: field POP"},
        {"memo pointer past the end of the memo file",
         [&](std::string& dbf, std::string&, std::string&) {
             const int at =
                 hdr16(dbf, 8) + hdr16(dbf, 10) * 3 + 1 + 6 + 30 + 9 + 10 + 1 + 8;  // record 4, NOTE
             dbf.replace(at, 10, "    999999");
         },
         "record 4: field NOTE"},
        // fox_small.fpt: 64-byte blocks; record 4's memo (100 bytes) at block 16, record 8's at block 18.
        {"memo file's next free block near 2^32",
         [&](std::string&, std::string& fpt, std::string&) { put32be(fpt, 0, 0xFFFFFFF0u); },
         "gives the next free block as 4294967280, past the end of the file"},
        {"memo file's next free block inside its header",
         [&](std::string&, std::string& fpt, std::string&) { put32be(fpt, 0, 3); },
         "gives the next free block as 3, inside the 512-byte header"},
        {"memo length running into the next memo",
         [&](std::string&, std::string& fpt, std::string&) { put32be(fpt, 16 * 64 + 4, 200); },
         "record 4: field NOTE: its memo at block 16 (4 blocks) runs into the memo of record 8 (field NOTE, "
         "block 18)"},
        {"two records pointing at one memo",
         [&](std::string& dbf, std::string&, std::string&) {
             dbf.replace(hdr16(dbf, 8) + hdr16(dbf, 10) * 8 - 10, 10, "        16");  // record 8, NOTE
         },
         "record 8: field NOTE: memo block 16 is also the memo of record 4 (field NOTE)"},
        {"memo pointer inside the memo file header",
         [&](std::string& dbf, std::string&, std::string&) {
             dbf.replace(hdr16(dbf, 8) + hdr16(dbf, 10) * 4 - 10, 10, "         3");  // record 4, NOTE
         },
         "record 4: field NOTE: " /* the memo file's path */},
        // fox_small.cdx: the tag directory's leaf at 0x400 stores "TOWN", "STAL" (after "PO") and "POP"
        // back from its end; POSTAL's header at 0x600, TOWN's at 0x1600.
        {"a blank tag name in the directory",
         [&](std::string&, std::string&, std::string& cdx) { cdx.replace(0x600 - 11, 4, "    "); },
         "which is no tag name"},
        {"a key expression without its end",
         [&](std::string&, std::string&, std::string& cdx) {
             cdx.replace(0x600 + 512, 512, std::string(512, 'X'));
         },
         "tag POSTAL: the key expression or filter does not end within the 512-byte expression pool"},
        {"a leaf's sibling pointer naming another tag's node",
         [&](std::string&, std::string&, std::string& cdx) {
             const uint32_t firstLeaf = get32be(cdx, get32le(cdx, 0x600) + 12 + 6 + 4);
             put32le(cdx, firstLeaf + 8, get32le(cdx, 0x1600));
         },
         "tag POSTAL: node"},
        {"a child pointer naming a tag's header",
         [&](std::string&, std::string&, std::string& cdx) {
             put32be(cdx, get32le(cdx, 0x600) + 12 + 6 + 4, 0x1800);
         },
         "names the header of tag TOWN"},
    };
    for (const auto& dmg : damages) {
        SCOPED_TRACE(dmg.name);
        TempDir d;
        const std::string t = copyFixture(d, "fox_small");
        std::string dbf = readFile(t), fpt = readFile(d / "fox_small.fpt"),
                    cdx = readFile(d / "fox_small.cdx");
        dmg.apply(dbf, fpt, cdx);
        writeFile(t, dbf);
        writeFile(d / "fox_small.fpt", fpt);
        writeFile(d / "fox_small.cdx", cdx);
        RunResult r = tool({"check", t});
        EXPECT_EQ(r.rc, 1) << r.out << r.err;
        EXPECT_NE(r.out.find(dmg.expectInOutput), std::string::npos) << r.out;
        expectOneLineMessage(r);
        EXPECT_EQ(readFile(t), dbf);
        EXPECT_EQ(readFile(d / "fox_small.fpt"), fpt);
        EXPECT_EQ(readFile(d / "fox_small.cdx"), cdx);
    }
    // a truncated index or memo file: check fails (exit 1), naming that file, and writes nothing
    for (const char* ext : {".cdx", ".fpt"}) {
        SCOPED_TRACE(ext);
        TempDir d;
        const std::string t = copyFixture(d, "fox_small");
        const std::string damaged = d / (std::string("fox_small") + ext);
        std::string bytes = readFile(damaged);
        bytes.resize(bytes.size() * 2 / 3);
        writeFile(damaged, bytes);
        RunResult r = tool({"check", t});
        EXPECT_EQ(r.rc, 1) << r.out << r.err;
        EXPECT_NE(r.out.find(std::string("fox_small") + ext), std::string::npos) << r.out;
        expectOneLineMessage(r);
        EXPECT_EQ(readFile(damaged), bytes);
    }
    // a truncated table: check fails (exit 1), naming the file
    TempDir d;
    const std::string t = copyFixture(d, "fox_small");
    std::string dbf = readFile(t);
    dbf.resize(dbf.size() / 2);
    writeFile(t, dbf);
    RunResult r = tool({"check", t});
    EXPECT_EQ(r.rc, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("fox_small"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(t), dbf);
}

TEST(DbftoolFixtures, PackRemovesDeletedRecordsAndKeepsTheRest) {
    TempDir d;
    const std::string t = copyFixture(d, "fox_small");
    RunResult before = tool({"dump", t});
    ASSERT_EQ(before.rc, 0) << before.err;
    const auto expected = loadExpected("fox_small");
    const auto deleted = std::count_if(expected.begin(), expected.end(), [](auto& e) { return e.deleted; });
    RunResult p = tool({"pack", t});
    ASSERT_EQ(p.rc, 0) << p.err;
    const std::string counts = std::to_string(expected.size() - deleted) + " records remain, " +
                               std::to_string(deleted) + " removed";
    EXPECT_NE(p.out.find(counts), std::string::npos) << p.out;
    RunResult after = tool({"dump", t, "--deleted"});
    ASSERT_EQ(after.rc, 0) << after.err;
    auto beforeRows = parseCsv(before.out), afterRows = parseCsv(after.out);
    ASSERT_EQ(afterRows.size(), beforeRows.size());
    for (size_t i = 1; i < afterRows.size(); ++i) {
        EXPECT_EQ(afterRows[i][0], "") << "no deleted record survives a pack";
        std::vector<std::string> rest(afterRows[i].begin() + 1, afterRows[i].end());
        EXPECT_EQ(rest, beforeRows[i]) << "record " << i;
    }
    RunResult c = tool({"check", t});
    EXPECT_EQ(c.rc, 0) << c.out << c.err;
    // the index follows the new record numbers
    for (size_t i : {size_t(1), size_t(10), afterRows.size() - 1}) {
        size_t first = i;
        for (size_t k = 1; k < i; ++k)
            if (beforeRows[k][0] == beforeRows[i][0]) first = std::min(first, k);
        RunResult s = tool({"seek", t, "POSTAL", beforeRows[i][0]});
        EXPECT_EQ(s.rc, 0);
        EXPECT_EQ(s.out, std::to_string(first) + "\n");
    }
    EXPECT_LT(fs::file_size(d / "fox_small.fpt"), fs::file_size(kFixtures + "/fox_small.fpt"))
        << "the memos of deleted records are gone";
}

// ---------------------------------------------------------------------------------------------------
const char* kSchema = "NAME:C:20,AMOUNT:N:10:2,COUNT:N:5,FLAG:L,DAY:D,NOTES:M";

std::string sampleCsv() {
    return "name,amount,count,flag,day,notes\r\n"
           "Québec,12.500,3,T,20240131,\"first line\r\nsecond, with comma\"\r\n"
           "\"Say \"\"hi\"\"\",-0.75,,F,,\r\n"
           "Zürich,1234567.89,99999,,19991231,Ça va\r\n"
           ",,0,T,20000229,\"\"\r\n";
}

TEST(DbftoolCreateLoad, RoundTripsInEachFormat) {
    for (const std::string format : {"fox2", "db3", "vfp"}) {
        SCOPED_TRACE(format);
        TempDir d;
        const std::string t = d / "sample.dbf";
        RunResult c = tool({"create", t, kSchema, "--format", format});
        ASSERT_EQ(c.rc, 0) << c.err;
        EXPECT_TRUE(fs::exists(t));
        writeFile(d / "in.csv", sampleCsv());
        RunResult l = tool({"load", t, d / "in.csv"});
        ASSERT_EQ(l.rc, 0) << l.err;
        EXPECT_NE(l.out.find("added 4 records"), std::string::npos) << l.out;
        RunResult dump = tool({"dump", t});
        ASSERT_EQ(dump.rc, 0) << dump.err;
        auto rows = parseCsv(dump.out);
        auto want = parseCsv(sampleCsv());
        want[1][1] = "12.50";  // a zero beyond the field's decimals is dropped
        EXPECT_EQ(rows[0], (std::vector<std::string>{"NAME", "AMOUNT", "COUNT", "FLAG", "DAY", "NOTES"}));
        ASSERT_EQ(rows.size(), want.size());
        for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i], want[i]) << "row " << i;
        RunResult info = tool({"info", t});
        ASSERT_EQ(info.rc, 0) << info.err;
        const char* version = format == "fox2" ? "0xF5" : format == "db3" ? "0x83" : "0x30";
        EXPECT_NE(info.out.find(version), std::string::npos) << info.out;
        RunResult check = tool({"check", t});
        EXPECT_EQ(check.rc, 0) << check.out << check.err;
    }
}

TEST(DbftoolCreateLoad, CodepageIsWrittenAndUsed) {
    TempDir d;
    const std::string t = d / "dos.dbf";
    ASSERT_EQ(tool({"create", t, "NAME:C:10", "--codepage", "437"}).rc, 0);
    EXPECT_EQ(static_cast<unsigned char>(readFile(t)[29]), 0x01);
    writeFile(d / "in.csv", "NAME\r\nÇa\r\n");
    ASSERT_EQ(tool({"load", t, d / "in.csv"}).rc, 0);
    const std::string bytes = readFile(t);
    EXPECT_NE(bytes.find("\x80"
                         "a"),
              std::string::npos)
        << "Ç is 0x80 in cp437";
    RunResult dump = tool({"dump", t});
    EXPECT_EQ(dump.out, "NAME\r\nÇa\r\n");
    // a character cp437 lacks is refused, not turned into '?'
    writeFile(d / "bad.csv", "NAME\r\n€uro\r\n");
    RunResult bad = tool({"load", t, d / "bad.csv"});
    EXPECT_EQ(bad.rc, 2);
    expectOneLineMessage(bad);
    EXPECT_EQ(tool({"dump", t}).out, "NAME\r\nÇa\r\n");
}

// A file with any bad value adds nothing at all, and says which row and field is wrong.
TEST(DbftoolCreateLoad, BadValuesAreRefusedBeforeAnythingIsWritten) {
    TempDir d;
    const std::string t = d / "t.dbf";
    ASSERT_EQ(tool({"create", t, kSchema}).rc, 0);
    writeFile(d / "good.csv", "NAME\r\nkeep\r\n");
    ASSERT_EQ(tool({"load", t, d / "good.csv"}).rc, 0);
    const std::string dbfBefore = readFile(t);
    const std::string fptBefore = readFile(d / "t.fpt");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"NAME,AMOUNT\r\nok,1\r\nthis name is far too long,2\r\n", "row 2, NAME"},
        {"NAME,AMOUNT\r\nok,12a\r\n", "row 1, AMOUNT"},
        {"NAME,AMOUNT\r\nok,123456789.5\r\n", "row 1, AMOUNT"},
        {"NAME,AMOUNT\r\nok,1.234\r\n", "more decimals"},
        {"NAME,COUNT\r\nok,1.5.1\r\n", "row 1, COUNT"},
        {"NAME,FLAG\r\nok,maybe\r\n", "row 1, FLAG"},
        {"NAME,DAY\r\nok,20230230\r\n", "row 1, DAY"},
        {"NAME,DAY\r\nok,2023-01-01\r\n", "row 1, DAY"},
        {"NAME,NOSUCH\r\nok,1\r\n", "NOSUCH"},
        {"NAME,name\r\nok,1\r\n", "twice"},
        {"NAME,AMOUNT\r\nok\r\n", "row 1"},
        {"NAME,AMOUNT\r\n\"unterminated,1\r\n", "unterminated"},
        {"_deleted,NAME\r\nyes,x\r\n", "_deleted"},
        // rows that write memos
        {"NAME,NOTES\r\nok,fine\r\nthis name is far too long,x\r\n", "row 2, NAME"},
        {"NAME,NOTES\r\nok,\"\xCE\xA9 not in the codepage\"\r\n", "row 1, NOTES"},
        {"NOTES,_deleted\r\nfine,yes\r\n", "_deleted"},
        {"NOTES,AMOUNT\r\nfine,1\r\nfine,x\r\n", "row 2, AMOUNT"},
    };
    // Rows kept in memory until the file is known good, and (no memory for them) a file read twice.
    std::vector<std::string> dumps;
    for (const char* memory : {"", "0", "40"}) {
        setEnvironment("DBFTOOL_LOAD_MEMORY", memory);
        for (const auto& [csv, where] : cases) {
            writeFile(d / "bad.csv", csv);
            RunResult r = tool({"load", t, d / "bad.csv"});
            EXPECT_EQ(r.rc, 2) << csv << " memory " << memory;
            expectOneLineMessage(r);
            EXPECT_NE(r.err.find(where), std::string::npos) << csv << " -> " << r.err;
            EXPECT_EQ(readFile(t), dbfBefore) << csv << " memory " << memory;
            EXPECT_EQ(readFile(d / "t.fpt"), fptBefore) << csv << " memory " << memory;
        }
        // and a good file loads the same either way, deleted rows and memos too
        const std::string fresh = d / (std::string("fresh") + memory + ".dbf");
        ASSERT_EQ(tool({"create", fresh, kSchema}).rc, 0);
        writeFile(d / "good2.csv",
                  "_deleted,NAME,AMOUNT,NOTES\r\n,a,1.5,first memo\r\n*,b,,\r\n,\"c,d\",-2,\"x\r\ny\"\r\n");
        ASSERT_EQ(tool({"load", fresh, d / "good2.csv"}).rc, 0) << memory;
        dumps.push_back(tool({"dump", fresh, "--deleted"}).out);
    }
    ASSERT_EQ(dumps.size(), 3u);
    EXPECT_EQ(dumps[1], dumps[0]);
    EXPECT_EQ(dumps[2], dumps[0]);
    EXPECT_NE(dumps[0].find(",a,1.50,"), std::string::npos) << dumps[0];
    EXPECT_NE(dumps[0].find("*,b,"), std::string::npos) << dumps[0];
    EXPECT_NE(dumps[0].find("\"x\r\ny\""), std::string::npos) << dumps[0];
    setEnvironment("DBFTOOL_LOAD_MEMORY", nullptr);
    writeFile(d / "bad.csv", "NAME\r\nok\r\n");
    setEnvironment("DBFTOOL_LOAD_MEMORY", "lots");
    RunResult refused = tool({"load", t, d / "bad.csv"});
    setEnvironment("DBFTOOL_LOAD_MEMORY", nullptr);
    EXPECT_EQ(refused.rc, 2);
    EXPECT_NE(refused.err.find("DBFTOOL_LOAD_MEMORY"), std::string::npos) << refused.err;
    RunResult missing = tool({"load", t, d / "nosuch.csv"});
    EXPECT_EQ(missing.rc, 2);
    expectOneLineMessage(missing);
}

// dump --deleted and load carry the deleted flags, so a table can be copied through CSV.
// A row whose memo cannot be written (here: the memo file's block numbers run out; it has one-byte blocks
// and is a sparse file of nearly 4 GB) is not added at all: the rows before it are, and the message says
// exactly how many. The table then passes check.
// The record images of a table, as the file holds them.
std::vector<std::string> recordImages(const std::string& dbf) {
    const std::string b = readFile(dbf);
    const auto le = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint32_t(uint8_t(b[at + size_t(i)])) << (8 * i);
        return size_t(v);
    };
    std::vector<std::string> out;
    const size_t count = le(4, 4), header = le(8, 2), length = le(10, 2);
    for (size_t r = 0; r < count; ++r) out.push_back(b.substr(header + r * length, length));
    return out;
}

// Rows of plain 7-bit text for character fields go straight into their records; every other row takes
// the checked conversion. Both must give the same bytes: the same file loaded with a _deleted column
// (which always takes the checked conversion) must load to the same records, in each codepage, with
// values of every width and every character around those the reader looks for.
TEST(DbftoolCreateLoad, TextRowsLoadAsTheCheckedConversionMakesThem) {
    TempDir d;
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"a", "hello"},
        {"", ""},
        {"abcd", "0123456789"},
        {"ab  ", "trailing  "},
        {"abcd   ", "  lead"},
        {"a\tb", "x;y:z"},
        {"\"q,1\"", "\"two\r\nlines\""},
        {"Z\xC3\xBC", "M\xC3\xBCnchen"},
        {"\"a\"\"b\"", "~!#$%&"},
        {"a", "\x7F\x01 "},
    };
    std::string plain = "A,B\r\n", marked = "_deleted,A,B\r\n";
    for (const auto& [a, b] : rows) {
        plain += a + "," + b + "\r\n";
        marked += "," + a + "," + b + "\r\n";
    }
    writeFile(d / "plain.csv", plain);
    writeFile(d / "marked.csv", marked);
    writeFile(d / "long.csv", "A,B\r\nok,fine\r\nabcde,x\r\n");
    for (const char* cp : {"1252", "437", "850"}) {
        SCOPED_TRACE(cp);
        const std::string fast = d / (std::string("fast") + cp + ".dbf");
        const std::string checked = d / (std::string("checked") + cp + ".dbf");
        for (const std::string& t : {fast, checked})
            ASSERT_EQ(tool({"create", t, "A:C:4,B:C:10", "--codepage", cp}).rc, 0);
        ASSERT_EQ(tool({"load", fast, d / "plain.csv"}).rc, 0);
        ASSERT_EQ(tool({"load", checked, d / "marked.csv"}).rc, 0);
        const auto got = recordImages(fast);
        ASSERT_EQ(got.size(), rows.size());
        EXPECT_EQ(got, recordImages(checked));
        EXPECT_EQ(got[3], " ab  trailing  ");
        EXPECT_EQ(got[4], " abcd  lead    ");
        EXPECT_EQ(got[6], " q,1 two\r\nlines");
        EXPECT_EQ(got[7].substr(0, 3), std::string(" Z") + (std::string(cp) == "1252" ? "\xFC" : "\x81"));
        // a value too long is refused by name, and nothing of the file is added
        const std::string before = readFile(fast);
        const RunResult r = tool({"load", fast, d / "long.csv"});
        EXPECT_EQ(r.rc, 2);
        EXPECT_NE(r.err.find("row 2, A"), std::string::npos) << r.err;
        EXPECT_EQ(readFile(fast), before);
    }
    // Text is no value for a general (OLE) field, however plain it is: refused by name, nothing added.
    // (The engine makes no general fields: a memo field's type is changed to one in the file.)
    {
        std::string err;
        auto general = xb::Table::create(d / "general.dbf", {{"NAME", 'C', 10, 0, 0}, {"PIC", 'M', 4, 0, 0}},
                                         xb::Format::Vfp, 0x03, err);
        ASSERT_TRUE(general) << err;
    }
    std::string made = readFile(d / "general.dbf");
    ASSERT_EQ(made[32 + 32 + 11], 'M');  // the second field descriptor's type
    made[32 + 32 + 11] = 'G';
    writeFile(d / "general.dbf", made);
    writeFile(d / "general.csv", "NAME,PIC\r\nok,plain text\r\n");
    const std::string before = readFile(d / "general.dbf");
    const RunResult r = tool({"load", d / "general.dbf", d / "general.csv"});
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("row 1, PIC"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(d / "general.dbf"), before);
}

TEST(DbftoolCreateLoad, ALoadStoppedByAMemoThatCannotBeWrittenSaysWhatItAdded) {
    TempDir d;
    const std::string t = d / "t.dbf", fpt = d / "t.fpt";
    ASSERT_EQ(tool({"create", t, "NAME:C:10,NOTES:M"}).rc, 0);
    const uint32_t nextFree = 0xFFFFFFFFu - 199;  // 199 blocks left
    {
        std::string header = readFile(fpt);
        ASSERT_EQ(header.size(), 512u);
        put32be(header, 0, nextFree);
        header[6] = 0;
        header[7] = 1;  // one-byte blocks
        writeFile(fpt, header);
        fs::resize_file(fpt, nextFree);
    }
    writeFile(d / "in.csv", "NAME,NOTES\r\none," + std::string(50, 'm') + "\r\ntwo,\r\nthree," +
                                std::string(150, 'n') + "\r\nfour,x\r\n");
    RunResult r = tool({"load", t, d / "in.csv"});
    EXPECT_EQ(r.rc, 2) << r.out << r.err;
    expectOneLineMessage(r);
    EXPECT_NE(r.err.find("the memo file is full"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("stopped at row 3; 2 rows were added"), std::string::npos) << r.err;
    EXPECT_EQ(fs::file_size(fpt), uint64_t(nextFree) + 58);  // the first row's memo, nothing of the third
    RunResult dump = tool({"dump", t});
    ASSERT_EQ(dump.rc, 0) << dump.err;
    EXPECT_EQ(dump.out, "NAME,NOTES\r\none," + std::string(50, 'm') + "\r\ntwo,\r\n");
    RunResult check = tool({"check", t});
    EXPECT_EQ(check.rc, 0) << check.out << check.err;
}

TEST(DbftoolCreateLoad, DeletedFlagsSurviveDumpAndLoad) {
    TempDir d;
    const std::string src = copyFixture(d, "fox_small");
    RunResult dump = tool({"dump", src, "--deleted"});
    ASSERT_EQ(dump.rc, 0);
    writeFile(d / "all.csv", dump.out);
    const std::string copy = d / "copy.dbf";
    ASSERT_EQ(
        tool({"create", copy, "POSTAL_COD:C:6,TOWN:C:30,POP:N:9,AREA:N:10:3,ACTIVE:L,OPENED:D,NOTE:M"}).rc,
        0);
    RunResult l = tool({"load", copy, d / "all.csv"});
    ASSERT_EQ(l.rc, 0) << l.err;
    RunResult back = tool({"dump", copy, "--deleted"});
    EXPECT_EQ(back.out, dump.out);
}

TEST(DbftoolIndex, CreatesRebuildsAndSeeksTags) {
    TempDir d;
    const std::string t = d / "people.dbf";
    ASSERT_EQ(tool({"create", t, "NAME:C:12,CITY:C:10,AGE:N:3,BORN:D"}).rc, 0);
    writeFile(d / "in.csv",
              "NAME,CITY,AGE,BORN\r\nsmith,Oslo,40,19840105\r\njones,Bergen,33,19910717\r\n"
              "Smith,Oslo,21,20030302\r\nadams,Trondheim,40,19840611\r\n");
    ASSERT_EQ(tool({"load", t, d / "in.csv"}).rc, 0);
    RunResult i1 = tool({"index", t, "name", "UPPER(NAME)"});
    ASSERT_EQ(i1.rc, 0) << i1.err;
    RunResult i2 = tool({"index", t, "AGE", "AGE", "--descending"});
    ASSERT_EQ(i2.rc, 0) << i2.err;
    RunResult i3 = tool({"index", t, "CITY", "CITY", "--unique"});
    ASSERT_EQ(i3.rc, 0) << i3.err;
    RunResult i4 = tool({"index", t, "BORN", "DTOS(BORN)"});
    ASSERT_EQ(i4.rc, 0) << i4.err;
    RunResult info = tool({"info", t});
    EXPECT_NE(info.out.find("NAME: UPPER(NAME) ascending"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("AGE: AGE descending"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("CITY: CITY ascending unique"), std::string::npos) << info.out;
    EXPECT_EQ(static_cast<unsigned char>(readFile(t)[28]) & 0x01, 0x01)
        << "the header flags the production index";
    EXPECT_EQ(tool({"seek", t, "NAME", "SMITH"}).out, "1\n");
    EXPECT_EQ(tool({"seek", t, "NAME", "smith"}).rc, 1) << "keys are upper case";
    EXPECT_EQ(tool({"seek", t, "CITY", "Oslo"}).out, "1\n");
    EXPECT_EQ(tool({"seek", t, "BORN", "19910717"}).out, "2\n");
    RunResult age = tool({"seek", t, "AGE", "40"});
    EXPECT_EQ(age.rc, 0);
    EXPECT_TRUE(age.out == "1\n" || age.out == "4\n") << age.out;
    EXPECT_EQ(tool({"seek", t, "AGE", "41"}).rc, 1);
    EXPECT_EQ(tool({"check", t}).rc, 0);
    // rebuilding a tag with another expression replaces it; the others stay
    RunResult re = tool({"index", t, "NAME", "NAME"});
    ASSERT_EQ(re.rc, 0) << re.err;
    EXPECT_NE(re.out.find("rebuilt"), std::string::npos);
    EXPECT_EQ(tool({"seek", t, "NAME", "smith"}).out, "1\n");
    EXPECT_EQ(tool({"seek", t, "NAME", "Smith"}).out, "3\n");
    EXPECT_EQ(tool({"seek", t, "BORN", "19910717"}).out, "2\n");
    // the index is kept as records are added
    writeFile(d / "more.csv", "NAME,CITY,AGE\r\nbaker,Oslo,50\r\n");
    ASSERT_EQ(tool({"load", t, d / "more.csv"}).rc, 0);
    EXPECT_EQ(tool({"seek", t, "NAME", "baker"}).out, "5\n");
    EXPECT_EQ(tool({"seek", t, "AGE", "50"}).out, "5\n");
    RunResult c = tool({"check", t});
    EXPECT_EQ(c.rc, 0) << c.out << c.err;
    // an expression the engine cannot evaluate is refused and the index is left as it was
    const std::string cdxBefore = readFile(d / "people.cdx");
    RunResult bad = tool({"index", t, "BAD", "NOSUCHFIELD+1"});
    EXPECT_EQ(bad.rc, 2);
    expectOneLineMessage(bad);
    EXPECT_EQ(readFile(d / "people.cdx"), cdxBefore);
    EXPECT_EQ(tool({"index", t, "TOO_LONG_TAG", "NAME"}).rc, 2);
}

// A table whose production index is lost or damaged does not open; `index` makes a new one.
TEST(DbftoolIndex, ReplacesAMissingOrDamagedIndex) {
    for (const bool remove : {true, false}) {
        SCOPED_TRACE(remove ? "missing" : "damaged");
        TempDir d;
        const std::string t = copyFixture(d, "fox_small");
        const std::string cdx = d / "fox_small.cdx";
        if (remove) {
            fs::remove(cdx);
        } else {
            std::string bytes = readFile(cdx);
            bytes.resize(bytes.size() / 2);
            writeFile(cdx, bytes);
        }
        EXPECT_EQ(tool({"info", t}).rc, 2);
        RunResult r = tool({"index", t, "POSTAL", "POSTAL_COD"});
        ASSERT_EQ(r.rc, 0) << r.err;
        EXPECT_NE(r.out.find("holds only this tag"), std::string::npos) << r.out;
        RunResult c = tool({"check", t});
        EXPECT_EQ(c.rc, 0) << c.out << c.err;
        const auto expected = loadExpected("fox_small");
        uint32_t first = 1;
        for (size_t i = 0; i < expected.size(); ++i)
            if (expected[i].postal == expected[9].postal) {
                first = static_cast<uint32_t>(i + 1);
                break;
            }
        EXPECT_EQ(tool({"seek", t, "POSTAL", expected[9].postal}).out, std::to_string(first) + "\n");
        EXPECT_EQ(tool({"seek", t, "TOWN", "OTTAWA"}).rc, 2) << "the other tags are gone";
    }
}

// Loads write their rows in batches. A load killed at any instant (here: at instants spread over the
// time a whole load takes) leaves a table that opens, passes check and holds the first rows of the file,
// each whole with its memo; a second load then goes on after them.
TEST(DbftoolCreateLoad, AKilledLoadLeavesTheFirstRowsWhole) {
    SKIP_ON_WINDOWS("kills the program with a signal");
#ifndef _WIN32
    TempDir d;
    const uint32_t rows = 100000;
    std::string csv = "NAME,NUM,NOTES\n";
    auto row = [](uint32_t i) {
        return "r" + std::to_string(i) + "," + std::to_string(i) + ",memo of row " + std::to_string(i) + " " +
               std::string(i % 90, 'm');
    };
    for (uint32_t i = 1; i <= rows; ++i) csv += row(i) + "\n";
    writeFile(d / "in.csv", csv);
    const std::string whole = d / "whole.dbf", t = d / "t.dbf";
    const std::string schema = "NAME:C:10,NUM:N:8,NOTES:M";
    ASSERT_EQ(tool({"create", whole, schema}).rc, 0);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(tool({"load", whole, d / "in.csv"}).rc, 0);
    const auto took = std::chrono::steady_clock::now() - started;

    int cutShort = 0;  // kills that landed while rows were being added
    for (int attempt = 0; attempt < 40 && (attempt < 12 || cutShort == 0); ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        for (const char* ext : {".dbf", ".fpt"}) fs::remove(d / ("t" + std::string(ext)));
        ASSERT_EQ(tool({"create", t, schema}).rc, 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            const std::string csvPath = d / "in.csv";
            execl(kTool.c_str(), kTool.c_str(), "load", t.c_str(), csvPath.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(took * ((attempt % 12) + 0.5) / 12);
        ::kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);

        RunResult dump = tool({"dump", t});
        ASSERT_EQ(dump.rc, 0) << dump.err;
        const auto got = parseCsv(dump.out);
        ASSERT_GE(got.size(), 1u);
        const size_t held = got.size() - 1;
        if (held > 0 && held < rows) ++cutShort;
        for (size_t i = 1; i <= held; ++i) ASSERT_EQ(csvRecord(got[i]), row(uint32_t(i))) << "record " << i;
        RunResult check = tool({"check", t});
        EXPECT_EQ(check.rc, 0) << check.out << check.err;
        if (attempt == 0 || held == 0 || held == rows) continue;
        // the rest of the file goes on after the rows that arrived
        std::string rest = "NAME,NUM,NOTES\n";
        for (uint32_t i = uint32_t(held) + 1; i <= rows && i <= held + 1000; ++i) rest += row(i) + "\n";
        writeFile(d / "rest.csv", rest);
        ASSERT_EQ(tool({"load", t, d / "rest.csv"}).rc, 0);
        const auto after = parseCsv(tool({"dump", t}).out);
        ASSERT_EQ(after.size(), std::min<size_t>(rows, held + 1000) + 1);
        EXPECT_EQ(csvRecord(after.back()), row(uint32_t(after.size() - 1)));
    }
    EXPECT_GT(cutShort, 0) << "no kill landed while the rows were being added";
#endif
}

}  // namespace
}  // namespace dbftool::test
