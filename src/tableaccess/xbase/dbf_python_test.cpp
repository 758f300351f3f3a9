// Round trips with independent readers and writers: tables the engine writes are read by Debian's
// python3-dbf and python3-dbfread, and tables python3-dbf writes are read by the engine.
#include <gtest/gtest.h>

#include <cstdio>

#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/dbf.h"
#include "tableaccess/xbase/testhelpers_test.h"

using namespace xbtest;

namespace {

// One record of the round-trip data, in UTF-8 and the forms the Python side prints.
struct Row {
    std::string name, amount, flag, day, notes;
    int count = 0;
    bool deleted = false;
};

std::string hex(const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out.push_back(d[c >> 4]);
        out.push_back(d[c & 15]);
    }
    return out;
}

std::vector<Row> sampleRows(int n) {
    std::vector<Row> rows;
    for (int i = 1; i <= n; ++i) {
        Row r;
        r.name = "Name " + std::to_string(i) + (i % 3 == 0 ? " Éèü ß" : "");
        char b[64];
        std::snprintf(b, sizeof b, "%.2f", i * 12.34 - 100);
        r.amount = b;
        r.flag = i % 2 == 0 ? "T" : "F";
        if (i % 5 != 0) {
            std::snprintf(b, sizeof b, "%04d%02d%02d", 1990 + i % 30, 1 + i % 12, 1 + i % 28);
            r.day = b;
        }
        if (i % 4 != 0)
            for (int k = 0; k < i; ++k) r.notes += "Line " + std::to_string(k) + " à la québécoise\r\n";
        r.count = i * 1000 - 5000;
        r.deleted = i % 7 == 3;
        rows.push_back(r);
    }
    return rows;
}

std::vector<xb::NewField> sampleFields(xb::Format f) {
    std::vector<xb::NewField> fields = {
        {"NAME", 'C', 30, 0, 0}, {"AMOUNT", 'N', 10, 2, 0}, {"FLAG", 'L', 1, 0, 0},
        {"DAY", 'D', 8, 0, 0},   {"NOTES", 'M', 10, 0, 0},
    };
    if (f == xb::Format::Vfp) fields.push_back({"CNT", 'I', 4, 0, 0});
    return fields;
}

void fill(xb::Table& t, const std::vector<Row>& rows) {
    const xb::Codepage cp = xb::codepageFromByte(t.codepageByte());
    const bool vfp = t.format() == xb::Format::Vfp;
    for (const Row& r : rows) {
        ASSERT_TRUE(t.appendBlank()) << t.error();
        ASSERT_TRUE(t.setText(t.fieldIndex("name"), xb::fromUtf8(r.name, cp))) << t.error();
        ASSERT_TRUE(t.setDouble(t.fieldIndex("amount"), std::stod(r.amount))) << t.error();
        ASSERT_TRUE(t.setLogical(t.fieldIndex("flag"), r.flag == "T")) << t.error();
        ASSERT_TRUE(t.setDate(t.fieldIndex("day"), r.day)) << t.error();
        ASSERT_TRUE(t.setText(t.fieldIndex("notes"), xb::fromUtf8(r.notes, cp))) << t.error();
        if (vfp) {
            ASSERT_TRUE(t.setInt(t.fieldIndex("cnt"), r.count)) << t.error();
        }
        if (r.deleted) {
            ASSERT_TRUE(t.deleteRecord()) << t.error();
        }
    }
    ASSERT_TRUE(t.flush()) << t.error();
}

// The line the Python scripts print for a record.
std::string line(const Row& r, bool vfp, bool withDeleted) {
    std::string s = (withDeleted ? std::string(r.deleted ? "1" : "0") + "\t" : std::string()) + hex(r.name) +
                    "\t" + r.amount + "\t" + r.flag + "\t" + r.day + "\t" + hex(r.notes);
    if (vfp) s += "\t" + std::to_string(r.count);
    return s;
}

const char* kPrinters = R"PY(
import sys, datetime
def h(s): return (s or '').rstrip(' ').encode('utf-8').hex()
def n(v): return '%.2f' % v
def l(v): return 'T' if v else 'F'
def d(v): return v.strftime('%Y%m%d') if v else ''
)PY";

class PythonRoundTrip : public ::testing::TestWithParam<xb::Format> {};

TEST_P(PythonRoundTrip, EngineTablesReadBackIdenticallyInPython) {
    SKIP_ON_WINDOWS("the cross-checks run Debian's python3-dbf and python3-dbfread");
    ASSERT_TRUE(pythonAvailable())
        << "Debian python3-dbf and python3-dbfread are needed (scripts/packages.txt)";
    TempDir dir;
    const xb::Format format = GetParam();
    const bool vfp = format == xb::Format::Vfp;
    const auto rows = sampleRows(40);
    std::string err;
    auto t = xb::Table::create(dir.file("round.dbf"), sampleFields(format), format, 0x03, err);
    ASSERT_TRUE(t) << err;
    fill(*t, rows);
    // rewrite some memos so that grown memos move and shrunk ones stay: readers must see the last text
    std::vector<Row> want = rows;
    for (uint32_t r : {2u, 5u, 9u}) {
        ASSERT_TRUE(t->go(r));
        want[r - 1].notes = r == 5 ? std::string("short") : want[r - 1].notes + want[r - 1].notes + "more";
        ASSERT_TRUE(
            t->setText(t->fieldIndex("notes"), xb::fromUtf8(want[r - 1].notes, xb::Codepage::Cp1252)));
    }
    ASSERT_TRUE(t->flush()) << t->error();
    t.reset();

    std::string expectDbf, expectLive, expectDeleted;
    for (const Row& r : want) {
        expectDbf += line(r, vfp, true) + "\n";
        (r.deleted ? expectDeleted : expectLive) += line(r, vfp, false) + "\n";
    }
    const std::string path = dir.file("round.dbf");
    const std::string extra = vfp ? " + '\\t' + str(r.cnt)" : "";
    bool ok = false;
    const std::string viaDbf = runPython(dir,
                                         std::string(kPrinters) +
                                             "import dbf\n"
                                             "t = dbf.Table('" +
                                             path +
                                             "')\nt.open(dbf.READ_ONLY)\n"
                                             "for r in t:\n"
                                             "    print(('1' if dbf.is_deleted(r) else '0') + '\\t' + "
                                             "h(r.name) + '\\t' + n(r.amount) + '\\t' + l(r.flag) +"
                                             " '\\t' + d(r.day) + '\\t' + h(r.notes)" +
                                             extra + ")\n",
                                         ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(viaDbf, expectDbf);

    const std::string extraRead = vfp ? " + '\\t' + str(r['CNT'])" : "";
    const std::string viaDbfread = runPython(dir,
                                             std::string(kPrinters) +
                                                 "from dbfread import DBF\n"
                                                 "t = DBF('" +
                                                 path +
                                                 "', encoding='cp1252', char_decode_errors='strict')\n"
                                                 "def out(r): print(h(r['NAME']) + '\\t' + n(r['AMOUNT']) + "
                                                 "'\\t' + l(r['FLAG']) + '\\t' + d(r['DAY']) +"
                                                 " '\\t' + h(r['NOTES'])" +
                                                 extraRead +
                                                 ")\n"
                                                 "for r in t: out(r)\n"
                                                 "print('--deleted--')\n"
                                                 "for r in t.deleted: out(r)\n",
                                             ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(viaDbfread, expectLive + "--deleted--\n" + expectDeleted);
}

TEST_P(PythonRoundTrip, PythonTablesReadBackIdenticallyInTheEngine) {
    SKIP_ON_WINDOWS("the cross-checks run Debian's python3-dbf and python3-dbfread");
    ASSERT_TRUE(pythonAvailable())
        << "Debian python3-dbf and python3-dbfread are needed (scripts/packages.txt)";
    TempDir dir;
    const xb::Format format = GetParam();
    const bool vfp = format == xb::Format::Vfp;
    const auto rows = sampleRows(30);
    const char* type = format == xb::Format::Vfp ? "vfp" : format == xb::Format::DBase3 ? "db3" : "fp";
    std::string script =
        "import dbf, datetime\n"
        "def u(x): return bytes.fromhex(x).decode('utf-8')\n"
        "t = dbf.Table('" +
        dir.file("py.dbf") + "', 'NAME C(30); AMOUNT N(10,2); FLAG L; DAY D; NOTES M" +
        (vfp ? "; CNT I" : "") + "', dbf_type='" + type +
        "', codepage='cp1252')\n"
        "t.open(dbf.READ_WRITE)\n";
    for (const Row& r : rows) {
        const std::string day = r.day.empty()
                                    ? "None"
                                    : "datetime.date(" + std::to_string(std::stoi(r.day.substr(0, 4))) + "," +
                                          std::to_string(std::stoi(r.day.substr(4, 2))) + "," +
                                          std::to_string(std::stoi(r.day.substr(6, 2))) + ")";
        script += "t.append((u('" + hex(r.name) + "'), " + r.amount + ", " +
                  (r.flag == "T" ? "True" : "False") + ", " + day + ", u('" + hex(r.notes) + "')" +
                  (vfp ? ", " + std::to_string(r.count) : "") + "))\n";
        if (r.deleted) script += "dbf.delete(t[-1])\n";
    }
    script += "t.close()\n";
    bool ok = false;
    runPython(dir, script, ok);
    ASSERT_TRUE(ok);

    std::string err;
    auto t = xb::Table::open(dir.file("PY"), err);
    ASSERT_TRUE(t) << err;
    EXPECT_EQ(t->format(), format);
    ASSERT_EQ(t->recordCount(), rows.size());
    const xb::Codepage cp = xb::codepageFromByte(t->codepageByte());
    for (uint32_t i = 1; i <= rows.size(); ++i) {
        const Row& r = rows[i - 1];
        ASSERT_TRUE(t->go(i)) << t->error();
        EXPECT_EQ(xb::toUtf8(trimmed(t->getText(t->fieldIndex("name"))), cp), r.name);
        char b[64];
        std::snprintf(b, sizeof b, "%.2f", t->getDouble(t->fieldIndex("amount")));
        EXPECT_EQ(b, r.amount);
        EXPECT_EQ(t->getLogical(t->fieldIndex("flag")) ? "T" : "F", r.flag);
        EXPECT_EQ(t->getDate(t->fieldIndex("day")), r.day);
        EXPECT_EQ(xb::toUtf8(t->getText(t->fieldIndex("notes")), cp), r.notes) << "record " << i;
        EXPECT_TRUE(t->error().empty()) << t->error();
        EXPECT_EQ(t->deleted(), r.deleted);
        if (vfp) {
            EXPECT_EQ(t->getInt(t->fieldIndex("cnt")), r.count);
        }
    }
    // and the engine can go on writing to the Python table: append, change a memo, pack
    ASSERT_TRUE(t->appendBlank()) << t->error();
    ASSERT_TRUE(t->setText(t->fieldIndex("notes"), "appended by the engine")) << t->error();
    ASSERT_TRUE(t->go(1));
    ASSERT_TRUE(t->setText(t->fieldIndex("notes"), std::string(700, 'x'))) << t->error();
    ASSERT_TRUE(t->pack()) << t->error();
    t.reset();
    const std::string check = runPython(dir,
                                        "import dbf\nt = dbf.Table('" + dir.file("py.dbf") +
                                            "')\nt.open(dbf.READ_ONLY)\n"
                                            "print(len(t)); print(len(t[0].notes)); print(t[-1].notes)\n",
                                        ok);
    ASSERT_TRUE(ok);
    size_t live = 0;
    for (const Row& r : rows) live += r.deleted ? 0 : 1;
    EXPECT_EQ(check, std::to_string(live + 1) + "\n700\nappended by the engine\n");
}

TEST(PythonCrossCheck, VisualFoxProBinaryNullableAndAutoincrementFieldsReadInPython) {
    SKIP_ON_WINDOWS("the cross-checks run Debian's python3-dbf and python3-dbfread");
    ASSERT_TRUE(pythonAvailable())
        << "Debian python3-dbf and python3-dbfread are needed (scripts/packages.txt)";
    TempDir dir;
    std::string err;
    auto t = xb::Table::create(dir.file("v"),
                               {{"NAME", 'C', 10, 0, 0x02},
                                {"N", 'I', 4, 0, 0},
                                {"PRICE", 'Y', 8, 4, 0},
                                {"X", 'B', 8, 0, 0},
                                {"WHEN", 'T', 8, 0, 0},
                                {"MEMO", 'M', 4, 0, 0},
                                {"AMT", 'N', 8, 2, 0x02},
                                {"ID", 'I', 4, 0, 0x0C}},
                               xb::Format::Vfp, 0x03, err);
    ASSERT_TRUE(t) << err;
    ASSERT_TRUE(t->appendBlank());
    ASSERT_TRUE(t->setText(0, "abc"));
    ASSERT_TRUE(t->setInt(1, -5));
    ASSERT_TRUE(t->setDouble(2, 12.3456));
    ASSERT_TRUE(t->setDouble(3, 2.5));
    ASSERT_TRUE(t->setDate(4, "20240229"));
    ASSERT_TRUE(t->setText(5, "memo text"));
    ASSERT_TRUE(t->setDouble(6, 3.25));
    ASSERT_TRUE(t->appendBlank());
    ASSERT_TRUE(t->setInt(1, 7));
    ASSERT_TRUE(t->flush());
    t.reset();
    bool ok = false;
    const std::string out =
        runPython(dir,
                  "import dbf\nfrom dbfread import DBF\n"
                  "t = dbf.Table('" +
                      dir.file("v.dbf") +
                      "')\nt.open(dbf.READ_ONLY)\n"
                      "for r in t: print(repr([r[f] for f in t.field_names]))\n"
                      "for r in DBF('" +
                      dir.file("v.dbf") +
                      "'):\n"
                      "    r = dict(r); r.pop('_NullFlags', None); print(repr(list(r.values())))\n",
                  ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(
        out,
        "['abc       ', -5, Decimal('12.3456'), 2.5, datetime.datetime(2024, 2, 29, 0, 0), 'memo text', "
        "3.25, 1]\n"
        "['          ', 7, Decimal('0.0000'), 0.0, None, '', None, 2]\n"
        "['abc', -5, Decimal('12.3456'), 2.5, datetime.datetime(2024, 2, 29, 0, 0), 'memo text', 3.25, 1]\n"
        "['', 7, Decimal('0'), 0.0, None, None, None, 2]\n");
}

INSTANTIATE_TEST_SUITE_P(Formats, PythonRoundTrip,
                         ::testing::Values(xb::Format::Fox2, xb::Format::DBase3, xb::Format::Vfp),
                         [](const auto& info) {
                             return std::string(info.param == xb::Format::Fox2     ? "FoxPro2"
                                                : info.param == xb::Format::DBase3 ? "dBase3"
                                                                                   : "VisualFoxPro");
                         });

}  // namespace
