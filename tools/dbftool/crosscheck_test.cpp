// Cross-checks with independent readers and writers: tables that dbftool creates and fills are read by
// Debian's python3-dbf and python3-dbfread exactly as loaded, and tables that python3-dbf writes are
// dumped by dbftool exactly as written.
#include <gtest/gtest.h>

#include "testkit_test.h"

namespace dbftool::test {
namespace {

// Prints a table as dbftool dump would (CSV, UTF-8, header of field names, live records only), read by
// the library named in argv[1] ("dbf" or "dbfread").
const char* kReadScript = R"PY(
import sys, csv, codecs, datetime, decimal
sys.stdout.reconfigure(encoding='utf-8')
lib, path = sys.argv[1], sys.argv[2]
with open(path, 'rb') as f:
    header = f.read(32)
# a table without a codepage mark (dBase III) holds cp1252 text
out = csv.writer(sys.stdout, lineterminator='\r\n')
def fmt(v):
    if v is None: return ''
    if v is True: return 'T'
    if v is False: return 'F'
    if isinstance(v, datetime.datetime): return v.strftime('%Y%m%d%H%M%S')
    if isinstance(v, datetime.date): return v.strftime('%Y%m%d')
    if isinstance(v, float): return repr(v)
    if isinstance(v, str): return v.rstrip(' ')
    return str(v)
if lib == 'dbfread':
    import dbfread
    t = dbfread.DBF(path, char_decode_errors='strict', encoding=None if header[29] else 'cp1252')
    out.writerow([n.upper() for n in t.field_names])
    for rec in t:
        out.writerow([fmt(rec[n]) for n in t.field_names])
else:
    import dbf
    t = dbf.Table(path)
    t.open(dbf.READ_ONLY)
    if not header[29]: t._meta.decoder = codecs.getdecoder('cp1252')
    names = t.field_names
    out.writerow([n.upper() for n in names])
    for rec in t:
        if dbf.is_deleted(rec): continue
        out.writerow([fmt(rec[n]) for n in names])
    t.close()
)PY";

// Writes a table with python3-dbf (argv: path, dbf type) and prints what it wrote as dbftool would dump it.
const char* kWriteScript = R"PY(
import sys, csv, datetime, dbf
sys.stdout.reconfigure(encoding='utf-8')
path, typ = sys.argv[1], sys.argv[2]
layout = 'NAME C(20); AMOUNT N(10,2); COUNT N(6,0); FLAG L; DAY D; NOTES M'
if typ == 'vfp': layout += '; ID I; PRICE Y; RATIO B; WHEN T'
t = dbf.Table(path, layout, dbf_type=typ, codepage='cp1252')
t.open(dbf.READ_WRITE)
long_memo = '\r\n'.join('line %d: Montréal, Saint-Jérôme, Trois-Rivières' % i for i in range(40))
rows = [
    ('Québec', 12.5, 3, True, datetime.date(2024, 1, 31), 'first\r\nsecond, with comma'),
    ('Say "hi"', -0.75, -42, False, datetime.date(1999, 12, 31), long_memo),
    ('', None, None, None, None, ''),
    ('  lead', 1234567.89, 999999, True, datetime.date(2000, 2, 29), 'Ça coûte 5 €'),
]
extra = [(7, 12.34, 1.5, datetime.datetime(2024, 1, 2, 3, 4, 5)),
         (-2147483647, -922.5, -0.125, datetime.datetime(1999, 12, 31, 23, 59, 59)),
         (0, 0, 0.0, datetime.datetime(2000, 2, 29, 0, 0, 0)),
         (2147483646, 1e6, 6.02e23, datetime.datetime(1970, 1, 1, 12, 0, 0))]
def fmt(v):
    if v is None: return ''
    if v is True: return 'T'
    if v is False: return 'F'
    if isinstance(v, datetime.datetime): return v.strftime('%Y%m%d%H%M%S')
    if isinstance(v, datetime.date): return v.strftime('%Y%m%d')
    if isinstance(v, float): return repr(v)
    return str(v)
for i, r in enumerate(rows):
    if typ == 'vfp': r = r + extra[i]
    t.append(r)
t.close()
# what python3-dbf holds now, read back from the files it wrote
t.open(dbf.READ_ONLY)
out = csv.writer(sys.stdout, lineterminator='\r\n')
out.writerow([n.upper() for n in t.field_names])
for rec in t:
    out.writerow([fmt(rec[n].rstrip(' ') if isinstance(rec[n], str) else rec[n]) for n in t.field_names])
t.close()
)PY";

// What dbftool loads: every field kind, accents, quotes, commas, line ends, long memos, empty values.
std::string sourceCsv(bool vfp) {
    std::string longMemo;
    for (int i = 0; i < 30; ++i)
        longMemo += "ligne " + std::to_string(i) + " : Hôtel-Dieu, Lévis, Sept-Îles\r\n";
    std::string csv = "NAME,AMOUNT,COUNT,FLAG,DAY,NOTES";
    if (vfp) csv += ",ID,PRICE,RATIO,WHEN";
    csv += "\r\n";
    const std::vector<std::string> rows = {
        "Québec,12.50,3,T,20240131,\"first line\r\nsecond, with comma\"",
        "\"Say \"\"hi\"\"\",-0.75,-42,F,19991231,\"" + longMemo + "\"",
        ",,,,,",
        "  lead,1234567.89,999999,T,20000229,Ça coûte 5 €",
        "Zoë,0.00,0,F,,x",
    };
    const std::vector<std::string> extra = {
        ",7,12.3400,1.5,20240102030405", ",-2147483647,-922.5000,-0.125,19991231235959", ",0,0.0000,0,",
        ",2147483646,1000000.0000,6.02e+23,19700101120000", ",1,0.0001,3.25,20000229000000"};
    for (size_t i = 0; i < rows.size(); ++i) csv += rows[i] + (vfp ? extra[i] : "") + "\r\n";
    return csv;
}

const char* kSchemaBase = "NAME:C:20,AMOUNT:N:10:2,COUNT:N:6,FLAG:L,DAY:D,NOTES:M";

// Text that a codepage lacks is left out of the sample for that codepage.
std::string forCodepage(std::string csv, const std::string& codepage) {
    auto replaceAll = [&](const std::string& from, const std::string& to) {
        for (size_t at = 0; (at = csv.find(from, at)) != std::string::npos; at += to.size())
            csv.replace(at, from.size(), to);
    };
    if (codepage != "1252") replaceAll("€", "E");
    if (codepage == "437") replaceAll("Î", "I");
    return csv;
}

TEST(CrossCheck, TablesDbftoolWritesReadBackInPythonDbfAndDbfread) {
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"fox2", "1252"}, {"db3", "1252"}, {"vfp", "1252"}, {"fox2", "850"}, {"vfp", "437"}};
    for (const auto& [format, codepage] : kinds) {
        SCOPED_TRACE(format + " cp" + codepage);
        const bool vfp = format == "vfp";
        TempDir d;
        const std::string t = d / "cross.dbf";
        std::string schema = kSchemaBase;
        if (vfp) schema += ",ID:I,PRICE:Y,RATIO:B,WHEN:T";
        RunResult c = tool({"create", t, schema, "--format", format, "--codepage", codepage});
        ASSERT_EQ(c.rc, 0) << c.err;
        const std::string source = forCodepage(sourceCsv(vfp), codepage);
        writeFile(d / "in.csv", source);
        RunResult l = tool({"load", t, d / "in.csv"});
        ASSERT_EQ(l.rc, 0) << l.err;
        const auto expected = parseCsv(source);
        const std::string types = vfp ? "CNNLDMIYBT" : "CNNLDM";
        RunResult own = tool({"dump", t});
        ASSERT_EQ(own.rc, 0) << own.err;
        expectSameTable(expected, parseCsv(own.out), types, "dbftool dump");
        for (const std::string lib : {"dbfread", "dbf"}) {
            RunResult py = python(kReadScript, {lib, t});
            ASSERT_EQ(py.rc, 0) << lib << ": " << py.err;
            expectSameTable(expected, parseCsv(py.out), types, lib);
        }
    }
}

TEST(CrossCheck, TablesPythonDbfWritesReadBackInDbftool) {
    for (const std::string type : {"fp", "db3", "vfp"}) {
        SCOPED_TRACE(type);
        TempDir d;
        const std::string t = d / "frompy.dbf";
        RunResult py = python(kWriteScript, {t, type});
        ASSERT_EQ(py.rc, 0) << py.err;
        const auto written = parseCsv(py.out);
        ASSERT_GT(written.size(), 1u);
        RunResult dump = tool({"dump", t});
        ASSERT_EQ(dump.rc, 0) << dump.err;
        const std::string types = type == "vfp" ? "CNNLDMIYBT" : "CNNLDM";
        expectSameTable(written, parseCsv(dump.out), types, "dbftool dump of a python3-dbf table");
        RunResult check = tool({"check", t});
        EXPECT_EQ(check.rc, 0) << check.out << check.err;
        // and what dbftool appends to it reads back in python3-dbf
        writeFile(d / "more.csv", "NAME,AMOUNT,NOTES\r\nAppended,3.25,added by dbftool\r\n");
        RunResult l = tool({"load", t, d / "more.csv"});
        ASSERT_EQ(l.rc, 0) << l.err;
        RunResult back = python(kReadScript, {"dbf", t});
        ASSERT_EQ(back.rc, 0) << back.err;
        auto rows = parseCsv(back.out);
        ASSERT_EQ(rows.size(), written.size() + 1);
        EXPECT_EQ(rows.back()[0], "Appended");
        EXPECT_TRUE(sameNumber(rows.back()[1], "3.25")) << rows.back()[1];
        EXPECT_EQ(rows.back()[5], "added by dbftool");
    }
}

}  // namespace
}  // namespace dbftool::test
