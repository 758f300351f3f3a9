// Cross-checks with independent readers and writers: tables that dbftool creates and fills are read by
// Debian's python3-dbf and python3-dbfread exactly as loaded, and tables that python3-dbf writes are
// dumped by dbftool exactly as written. Index tags are checked against the other program's reading of
// the records: python3-dbf builds no index files, so the keys it gives (UPPER() done by Python's own
// Unicode tables, within the table's codepage) sorted by their bytes are what each tag must walk.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/dbf.h"
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
    SKIP_ON_WINDOWS("the cross-checks run Debian's python3-dbf and python3-dbfread");
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
    SKIP_ON_WINDOWS("the cross-checks run Debian's python3-dbf and python3-dbfread");
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

// Prints, for each argument TAG:FIELD:U (UPPER(FIELD)) or TAG:FIELD:P (FIELD), the keys of every record
// (deleted ones too) as python3-dbf reads them, sorted by (bytes, record number): "TAG<tab>hex<tab>recno".
const char* kKeysScript = R"PY(
import sys, dbf
path = sys.argv[1]
with open(path, 'rb') as f:
    mark = f.read(32)[29]
cp = {0x01: 'cp437', 0x02: 'cp850', 0xC8: 'cp1250'}.get(mark, 'cp1252')
def upper(s):
    out = ''
    for ch in s:
        u = ch.upper()
        try:
            fits = len(u) == 1 and len(u.encode(cp)) == 1
        except UnicodeEncodeError:
            fits = False
        out += u if fits else ch
    return out
t = dbf.Table(path)
t.open(dbf.READ_ONLY)
for tagdef in sys.argv[2:]:
    tag, field, how = tagdef.split(':')
    field = field.lower()
    width = t.field_info(field)[1]
    keys = []
    for r in t:
        text = r[field].rstrip(' ')
        if how == 'U': text = upper(text)
        keys.append((text.encode(cp).ljust(width, b' '), dbf.recno(r) + 1))
    for key, recno in sorted(keys):
        print(tag, key.hex(), recno, sep='\t')
t.close()
)PY";

std::string hexOf(const std::string& bytes) {
    std::string out;
    char b[3];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02x", c);
        out += b;
    }
    return out;
}

// The same lines from the engine's walk of each tag.
std::string engineKeys(const std::string& table, const std::vector<std::string>& tags) {
    std::string err, out;
    auto t = xb::Table::open(table, err, true);
    EXPECT_TRUE(t && t->index()) << err;
    if (!t || !t->index()) return err;
    for (const std::string& tag : tags) {
        std::vector<std::pair<std::string, uint32_t>> entries;
        EXPECT_TRUE(t->index()->walk(t->index()->findTag(tag), entries, err)) << err;
        for (const auto& [key, recno] : entries)
            out += tag + "\t" + hexOf(key) + "\t" + std::to_string(recno) + "\n";
    }
    return out;
}

// The tags NAMEU (UPPER(NAME)) and NAME of a table walk as Python sorts its reading of the records, and a
// seek of each key (through the engine, and a few through dbftool, typed in UTF-8) finds its first record.
void expectTagsAgreeWithPython(const std::string& table, const std::string& when) {
    SCOPED_TRACE(when);
    RunResult py = python(kKeysScript, {table, "NAMEU:NAME:U", "NAME:NAME:P"});
    ASSERT_EQ(py.rc, 0) << py.err;
    ASSERT_NE(py.out.find('\n'), std::string::npos);
    EXPECT_EQ(engineKeys(table, {"NAMEU", "NAME"}), py.out);
    std::map<std::string, uint32_t> first;  // NAMEU key (hex) -> first record in tag order
    for (const auto& line : parseCsv(py.out)) {
        const std::string& l = line[0];
        const size_t a = l.find('\t'), b = l.rfind('\t');
        if (l.substr(0, a) == "NAMEU") first.emplace(l.substr(a + 1, b - a - 1), std::stoul(l.substr(b + 1)));
    }
    std::string err;
    auto t = xb::Table::open(table, err, true);
    ASSERT_TRUE(t) << err;
    ASSERT_TRUE(t->selectTag("NAMEU"));
    const xb::Codepage cp = xb::codepageFromByte(t->codepageByte());
    int viaTool = 0;
    for (const auto& [hex, recno] : first) {
        std::string key;
        for (size_t i = 0; i < hex.size(); i += 2)
            key.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
        ASSERT_TRUE(t->seek(key)) << hex << ": " << t->error();
        EXPECT_EQ(t->recno(), recno) << hex;
        if (viaTool++ % 9 != 0) continue;
        while (!key.empty() && key.back() == ' ') key.pop_back();
        RunResult r = tool({"seek", table, "nameu", xb::toUtf8(key, cp)});
        EXPECT_EQ(r.rc, 0) << r.err;
        EXPECT_EQ(r.out, std::to_string(recno) + "\n") << hex;
    }
}

// The characters of bytes 0x80-0xFF that the codepage defines (Python refuses the others).
std::vector<std::string> highCharacters(xb::Codepage cp) {
    std::vector<std::string> out;
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char16_t c = xb::codepageTable(cp)[b];
        if (c >= 0x80 && c <= 0x9F) continue;  // a byte the codepage leaves undefined
        out.push_back(xb::toUtf8(std::string(1, char(b)), cp));
    }
    return out;
}

std::string quoted(const std::string& s) {
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// Rows for dbftool load in the layout of kSchemaBase (plus the Visual FoxPro fields): names of ASCII and
// every high character of the codepage in both cases, some twice, some equal but for case; multi-block
// memos of those characters; every 7th record marked deleted. Returns the CSV; live holds the expected
// reading of the live records (header first).
std::string highByteRows(xb::Codepage cp, bool vfp, std::vector<std::vector<std::string>>& live) {
    const std::vector<std::string> high = highCharacters(cp);
    std::string csv = "_deleted,NAME,AMOUNT,COUNT,FLAG,DAY,NOTES";
    live = {{"NAME", "AMOUNT", "COUNT", "FLAG", "DAY", "NOTES"}};
    if (vfp) {
        csv += ",ID,PRICE,RATIO,WHEN";
        for (const char* f : {"ID", "PRICE", "RATIO", "WHEN"}) live[0].push_back(f);
    }
    csv += "\r\n";
    std::vector<std::string> names;
    for (int i = 0; i < 70; ++i) {
        std::string name = std::string(1, char((i % 2 ? 'a' : 'A') + i % 26));
        for (int k = 0; k < 6; ++k) name += high[(size_t(i) * 5 + size_t(k) * 17) % high.size()];
        if (i % 10 == 9) name = names[size_t(i) - 5];  // the same name again
        if (i % 10 == 8)
            name = std::string(1, char('a' + i % 26)) + names[size_t(i) - 1].substr(1);  // case only
        names.push_back(name);
        char num[64];
        std::vector<std::string> row{name};
        std::snprintf(num, sizeof num, "%.2f", (i * 37 % 2000 - 1000) / 100.0);
        row.push_back(num);
        row.push_back(std::to_string(i * 11 - 300));
        row.push_back(i % 3 == 0 ? "T" : i % 3 == 1 ? "F" : "");
        std::snprintf(num, sizeof num, "%04d%02d%02d", 1950 + i, 1 + i % 12, 1 + i % 28);
        row.push_back(i % 5 == 4 ? "" : num);
        std::string memo;
        if (i % 4 == 0)
            for (int l = 0; l <= i % 25; ++l)
                memo += "ligne " + std::to_string(l) + " : " + name + high[size_t(l) % high.size()] + "\r\n";
        else if (i % 4 == 1)
            memo = "court " + high[size_t(i) % high.size()];
        row.push_back(memo);
        if (vfp) {
            row.push_back(std::to_string(i * 1000 - 30000));
            std::snprintf(num, sizeof num, "%.4f", i * 12.5 - 100);
            row.push_back(num);
            std::snprintf(num, sizeof num, "%.3f", i / 8.0 - 2);
            row.push_back(num);
            std::snprintf(num, sizeof num, "%04d%02d%02d%02d%02d%02d", 1990 + i, 1 + i % 12, 1 + i % 28,
                          i % 24, i % 60, (i * 7) % 60);
            row.push_back(i % 6 == 5 ? "" : num);
        }
        const bool deleted = i % 7 == 3;
        csv += deleted ? "*" : "";
        for (const auto& v : row) csv += "," + quoted(v);
        csv += "\r\n";
        if (!deleted) live.push_back(row);
    }
    return csv;
}

void expectPythonReads(const std::string& table, const std::vector<std::vector<std::string>>& live,
                       const std::string& types, const std::string& when) {
    for (const std::string lib : {"dbfread", "dbf"}) {
        RunResult py = python(kReadScript, {lib, table});
        ASSERT_EQ(py.rc, 0) << lib << ": " << py.err;
        expectSameTable(live, parseCsv(py.out), types, lib + " " + when);
    }
}

// Tables dbftool writes in each format and codepage, with deleted records and keys of every high byte:
// read by python3-dbf and python3-dbfread as loaded, their tags in the order of Python's sort of the
// records, before and after a pack.
TEST(CrossCheck, DbftoolTablesWithHighBytesDeletedRecordsAndPacksAgreeWithPython) {
    SKIP_ON_WINDOWS("the cross-checks run Debian's python3-dbf and python3-dbfread");
    const std::vector<std::pair<std::string, int>> kinds = {
        {"fox2", 1252}, {"db3", 437}, {"vfp", 850}, {"vfp", 1252}, {"fox2", 850}};
    for (const auto& [format, codepage] : kinds) {
        SCOPED_TRACE(format + " cp" + std::to_string(codepage));
        const bool vfp = format == "vfp";
        xb::Codepage cp{};
        ASSERT_TRUE(xb::codepageFromNumber(codepage, cp));
        TempDir d;
        const std::string t = d / "high.dbf";
        std::string schema = "NAME:C:20,AMOUNT:N:10:2,COUNT:N:6,FLAG:L,DAY:D,NOTES:M";
        if (vfp) schema += ",ID:I,PRICE:Y,RATIO:B,WHEN:T";
        RunResult c = tool({"create", t, schema, "--format", format, "--codepage", std::to_string(codepage)});
        ASSERT_EQ(c.rc, 0) << c.err;
        std::vector<std::vector<std::string>> live;
        writeFile(d / "in.csv", highByteRows(cp, vfp, live));
        RunResult l = tool({"load", t, d / "in.csv"});
        ASSERT_EQ(l.rc, 0) << l.err;
        for (const auto& [tag, expr] : {std::pair{"NAMEU", "UPPER(NAME)"}, std::pair{"NAME", "NAME"}}) {
            RunResult i = tool({"index", t, tag, expr});
            ASSERT_EQ(i.rc, 0) << i.err;
        }
        const std::string types = vfp ? "CNNLDMIYBT" : "CNNLDM";
        for (const char* stage : {"as loaded", "packed"}) {
            if (std::string(stage) == "packed") {
                RunResult p = tool({"pack", t});
                ASSERT_EQ(p.rc, 0) << p.err;
            }
            RunResult check = tool({"check", t});
            EXPECT_EQ(check.rc, 0) << stage << ": " << check.out << check.err;
            expectPythonReads(t, live, types, stage);
            expectTagsAgreeWithPython(t, stage);
        }
    }
}

// Tables python3-dbf writes (each of its formats, four codepages, names of every high character, deleted
// records): dbftool reads them as python3-dbfread does, indexes them in the order of Python's sort, and
// packs them into tables both Python libraries read as before without the deleted records.
TEST(CrossCheck, PythonTablesWithHighBytesAreIndexedAndPackedByDbftool) {
    SKIP_ON_WINDOWS("the cross-checks run Debian's python3-dbf and python3-dbfread");
    const char* kWrite = R"PY(
import sys, dbf
path, typ, cp = sys.argv[1], sys.argv[2], sys.argv[3]
high = []
for b in range(0x80, 0x100):
    try:
        high.append(bytes([b]).decode(cp))
    except UnicodeDecodeError:
        pass
t = dbf.Table(path, 'NAME C(16); AMOUNT N(8,2); NOTES M', dbf_type=typ, codepage=cp)
t.open(dbf.READ_WRITE)
prev = ''
for i in range(90):
    name = 'Bb'[i % 2] + ''.join(high[(i * 3 + k * 11) % len(high)] for k in range(5))
    if i % 10 == 9:  # the name before it in other letter case, where the codepage has the other case
        name = 'Bb'[i % 2] + ''.join(c.lower() if c.lower().encode(cp, 'ignore') else c for c in prev[1:])
    prev = name
    notes = '\r\n'.join('%d %s' % (l, ''.join(high[(i + l + k) % len(high)] for k in range(20))) for l in range(i % 12))
    t.append((name, i * 1.25 - 40, notes))
    if i % 5 == 2: dbf.delete(t[-1])
t.close()
)PY";
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"db3", "cp437"}, {"fp", "cp850"}, {"vfp", "cp1250"}, {"vfp", "cp1252"}, {"fp", "cp1252"}};
    for (const auto& [type, codepage] : kinds) {
        SCOPED_TRACE(type + " " + codepage);
        TempDir d;
        const std::string t = d / "frompy.dbf";
        RunResult w = python(kWrite, {t, type, codepage});
        ASSERT_EQ(w.rc, 0) << w.err;
        RunResult before = python(kReadScript, {"dbfread", t});
        ASSERT_EQ(before.rc, 0) << before.err;
        const auto live = parseCsv(before.out);
        ASSERT_GT(live.size(), 60u);
        RunResult dump = tool({"dump", t});
        ASSERT_EQ(dump.rc, 0) << dump.err;
        expectSameTable(live, parseCsv(dump.out), "CNM", "dbftool dump");
        for (const auto& [tag, expr] : {std::pair{"NAMEU", "UPPER(NAME)"}, std::pair{"NAME", "NAME"}}) {
            RunResult i = tool({"index", t, tag, expr});
            ASSERT_EQ(i.rc, 0) << i.err;
        }
        expectTagsAgreeWithPython(t, "indexed");
        RunResult p = tool({"pack", t});
        ASSERT_EQ(p.rc, 0) << p.err;
        RunResult check = tool({"check", t});
        EXPECT_EQ(check.rc, 0) << check.out << check.err;
        expectPythonReads(t, live, "CNM", "packed");
        expectTagsAgreeWithPython(t, "packed");
    }
}

}  // namespace
}  // namespace dbftool::test
