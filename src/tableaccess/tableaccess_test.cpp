// Tests of the table-access facade: return codes, text conversion, error reports, index calls.
#include "tableaccess/tableaccess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <fstream>
#include <iterator>

#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/dbf.h"

namespace {

using namespace ta;

struct Report {
    QString file, problem;
};

// Installs a handler that records every report, and opens the run's context.
class Facade : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = setErrorHandler([this](const QString& f, const QString& p) {
            reports.push_back({f, p});
        });
        ctx = OpenData();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override {
        CloseData(ctx);
        setErrorHandler(previous_);
    }
    // A writable copy of a fixture set; returns the table path without extension.
    QString copyFixture(const QString& set) {
        for (const char* ext : {".dbf", ".fpt", ".cdx"}) {
            const QString from = QStringLiteral(TARVIK_FIXTURES_DIR "/") + set + QLatin1String(ext);
            const QString to = dir.filePath(set + QLatin1String(ext));
            QFile::remove(to);
            EXPECT_TRUE(QFile::copy(from, to));
            QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
        }
        return dir.filePath(set);
    }
    // An empty table with the fixture's layout (C, N, N(10,3), L, D, M), made through CopyStru.
    QString emptyTable(const QString& name) {
        const int src = mOpen(ctx, copyFixture(QStringLiteral("fox_small")));
        EXPECT_GT(src, 0);
        const QString path = dir.filePath(name);
        EXPECT_EQ(CopyStru(src, path), 0);
        EXPECT_EQ(d4close(src), 0);
        return path;
    }
    QByteArray bytes(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    DataContext ctx = nullptr;
    QTemporaryDir dir;
    std::vector<Report> reports;
    ErrorHandler previous_;
};

TEST_F(Facade, WalksAFixtureWithTheReturnCodesOfTheLibrary) {
    copyFixture(QStringLiteral("fox_small"));
    const int t = mOpen(ctx, dir.filePath(QStringLiteral("FOX_SMALL")));  // any case, no extension
    ASSERT_GT(t, 0);
    EXPECT_EQ(d4recCountDo(t), 300);
    EXPECT_EQ(d4numFields(t), 7);
    ASSERT_EQ(d4top(t), 0);
    EXPECT_EQ(d4recNo(t), 1);
    EXPECT_EQ(fetch(t, QStringLiteral("postal_cod")), QStringLiteral("A5G2V3"));
    EXPECT_EQ(fetch(t, QStringLiteral("TOWN")), QStringLiteral("QUÉBEC"));  // cp1252 -> Unicode, blanks cut
    EXPECT_EQ(ifetch(t, QStringLiteral("pop")), 604830);
    EXPECT_DOUBLE_EQ(dfetch(t, QStringLiteral("area")), 78605.871);
    EXPECT_FALSE(tfetch(t, QStringLiteral("active")));
    EXPECT_EQ(fetch(t, QStringLiteral("opened")), QStringLiteral("20200915"));
    EXPECT_EQ(dtfetch(t, QStringLiteral("opened")), QDate(2020, 9, 15));
    int n = 1;
    while (d4skip(t, 1) == 0) ++n;
    EXPECT_EQ(n, 300);
    EXPECT_NE(d4skip(t, 1), 0);
    EXPECT_EQ(d4go(t, 5), 0);
    EXPECT_EQ(fetch(t, QStringLiteral("opened")), QString());  // every 5th record has no date
    EXPECT_FALSE(dtfetch(t, QStringLiteral("opened")).isValid());
    EXPECT_EQ(d4go(t, 11), 0);
    EXPECT_NE(d4deleted(t), 0);
    EXPECT_EQ(d4go(t, 12), 0);
    EXPECT_EQ(d4deleted(t), 0);
    EXPECT_EQ(d4go(t, 4), 0);
    EXPECT_EQ(fetch(t, QStringLiteral("note")).size(), 100);
    EXPECT_EQ(d4skip(t, -1), 0);
    EXPECT_EQ(d4recNo(t), 3);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(d4close(t), 0);
}

// Splits one line of the fixtures' expected files (no quoted fields in them).
QStringList cells(const QString& line) {
    return line.split(QLatin1Char(','));
}

TEST_F(Facade, EveryFixtureRecordReadsBackThroughTheFacade) {
    for (const QString& set : {QStringLiteral("fox_small"), QStringLiteral("fox_large")}) {
        SCOPED_TRACE(set.toStdString());
        QFile csv(QStringLiteral(TARVIK_FIXTURES_DIR "/") + set + QStringLiteral("_expected.csv"));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines.removeFirst();
        const int t = mOpen(ctx, copyFixture(set));
        ASSERT_GT(t, 0);
        ASSERT_EQ(d4recCountDo(t), lines.size());
        int i = 0;
        for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1), ++i) {
            ASSERT_LT(i, lines.size());
            const QStringList c = cells(lines[i]);
            ASSERT_EQ(c.size(), 9);
            ASSERT_EQ(d4recNo(t), c[0].toInt());
            EXPECT_EQ(fetch(t, QStringLiteral("POSTAL_COD")), c[1]);
            EXPECT_EQ(fetch(t, QStringLiteral("town")), c[2]);
            EXPECT_EQ(ifetch(t, QStringLiteral("pop")), c[3].toInt());
            EXPECT_EQ(fetch(t, QStringLiteral("pop")).trimmed(), c[3].trimmed());
            EXPECT_EQ(fetch(t, QStringLiteral("area")).trimmed(), c[4].trimmed());
            EXPECT_EQ(tfetch(t, QStringLiteral("active")), c[5] == QStringLiteral("T"));
            EXPECT_EQ(fetch(t, QStringLiteral("opened")), c[6]);
            EXPECT_EQ(dtfetch(t, QStringLiteral("opened")),
                      QDate::fromString(c[6], QStringLiteral("yyyyMMdd")));
            EXPECT_EQ(d4deleted(t) != 0, c[7] == QStringLiteral("*"));
            EXPECT_EQ(f4memoStr(d4field(t, QStringLiteral("note"))).size(),
                      c[8].toInt());  // one byte per character
        }
        EXPECT_EQ(i, lines.size());
        EXPECT_EQ(d4close(t), 0);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Facade, EveryFailureIsReportedOnceWithFileAndProblem) {
    EXPECT_EQ(mOpen(ctx, dir.filePath(QStringLiteral("nothere"))), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].file.endsWith(QStringLiteral("nothere.dbf"))) << reports[0].file.toStdString();
    EXPECT_TRUE(reports[0].problem.contains(QStringLiteral("does not exist")));
    reports.clear();

    const int t = mOpen(ctx, copyFixture(QStringLiteral("fox_small")));
    ASSERT_GT(t, 0);
    EXPECT_EQ(fetch(t, QStringLiteral("nofield")), QString());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].file.endsWith(QStringLiteral("fox_small.dbf")));
    EXPECT_TRUE(reports[0].problem.contains(QStringLiteral("nofield")));
    reports.clear();

    // Switched off: unknown names are silent, other failures are still reported.
    EXPECT_EQ(code4errFieldName(ctx, 0), 1);
    EXPECT_EQ(d4fieldNumber(t, QStringLiteral("nofield")), 0);
    EXPECT_FALSE(d4field(t, QStringLiteral("nofield")));
    EXPECT_NE(replace(t, QStringLiteral("nofield"), QStringLiteral("x")), 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_NE(d4go(t, 999), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].problem.contains(QStringLiteral("999")));
    EXPECT_EQ(code4errFieldName(ctx, 1), 0);
    reports.clear();

    EXPECT_EQ(d4fieldNumber(t, QStringLiteral("Town")), 2);
    EXPECT_TRUE(TableHasField(t, QStringLiteral("ToWn")));
    EXPECT_FALSE(TableHasField(t, QStringLiteral("nofield")));
    EXPECT_TRUE(reports.empty());

    // A value that is not a number is refused for a numeric field, and the record is kept.
    ASSERT_EQ(d4go(t, 1), 0);
    EXPECT_NE(replace(t, QStringLiteral("pop"), QStringLiteral("many")), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].problem.contains(QStringLiteral("POP")));
    EXPECT_EQ(ifetch(t, QStringLiteral("pop")), 604830);
    EXPECT_EQ(d4close(t), 0);
    reports.clear();
    EXPECT_NE(d4close(t), 0);  // already closed
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(Facade, FieldKindsWriteAndReadBack) {
    const QString path = emptyTable(QStringLiteral("kinds"));
    int t = mOpen(ctx, path);
    ASSERT_GT(t, 0);
    EXPECT_EQ(d4recCountDo(t), 0);
    EXPECT_NE(d4top(t), 0);
    ASSERT_EQ(d4appendBlank(t), 0);
    EXPECT_EQ(replace(t, QStringLiteral("postal_cod"), QStringLiteral("K1A0B1")), 0);
    EXPECT_EQ(replace(t, QStringLiteral("town"), QStringLiteral("Montréal Ω €")), 0);  // Ω is not in cp1252
    EXPECT_EQ(reports.size(), 1u);
    reports.clear();
    EXPECT_EQ(replace(t, QStringLiteral("pop"), QStringLiteral("42")), 0);
    EXPECT_EQ(fetch(t, QStringLiteral("pop")), QStringLiteral("       42"));  // right-aligned in N(9)
    EXPECT_EQ(dreplace(t, QStringLiteral("area"), 12.3456), 0);
    EXPECT_EQ(fetch(t, QStringLiteral("area")), QStringLiteral("    12.346"));
    EXPECT_EQ(replace(t, QStringLiteral("active"), QStringLiteral("T")), 0);
    EXPECT_TRUE(tfetch(t, QStringLiteral("active")));
    EXPECT_EQ(dtreplace(t, QStringLiteral("opened"), QDate(2024, 1, 31)), 0);
    EXPECT_EQ(fetch(t, QStringLiteral("opened")), QStringLiteral("20240131"));
    const QString memo = QStringLiteral("line one\r\nline two Ω ü").repeated(20);
    EXPECT_EQ(replace(t, QStringLiteral("note"), memo), 0);
    reports.clear();  // the omega again
    ASSERT_EQ(d4appendBlank(t), 0);
    EXPECT_EQ(ireplace(t, QStringLiteral("pop"), -7), 0);
    EXPECT_EQ(treplace(t, QStringLiteral("active"), false), 0);
    EXPECT_EQ(replace(t, QStringLiteral("area"), QStringLiteral("1.5")), 0);
    EXPECT_NE(ireplace(t, QStringLiteral("pop"), 1234567890), 0);  // does not fit N(9)
    EXPECT_EQ(reports.size(), 1u);
    reports.clear();
    EXPECT_EQ(d4close(t), 0);

    t = mOpen(ctx, path);
    ASSERT_GT(t, 0);
    EXPECT_EQ(d4recCountDo(t), 2);
    ASSERT_EQ(d4top(t), 0);
    EXPECT_EQ(fetch(t, QStringLiteral("town")), QStringLiteral("Montréal ? €"));
    EXPECT_EQ(ifetch(t, QStringLiteral("pop")), 42);
    EXPECT_DOUBLE_EQ(dfetch(t, QStringLiteral("area")), 12.346);
    EXPECT_EQ(dtfetch(t, QStringLiteral("opened")), QDate(2024, 1, 31));
    QString want = memo;
    want.replace(QStringLiteral("Ω"), QStringLiteral("?"));
    EXPECT_EQ(fetch(t, QStringLiteral("note")), want);
    EXPECT_EQ(f4memoStr(d4field(t, QStringLiteral("note"))), want);
    EXPECT_EQ(f4type(d4field(t, QStringLiteral("note"))), 'M');
    // "" clears every kind
    for (const char* f : {"postal_cod", "town", "pop", "area", "active", "opened", "note"})
        EXPECT_EQ(replace(t, QString::fromLatin1(f), QString()), 0) << f;
    for (const char* f : {"postal_cod", "town", "pop", "area", "active", "opened", "note"})
        EXPECT_EQ(fetch(t, QString::fromLatin1(f)), QString()) << f;
    EXPECT_FALSE(dtfetch(t, QStringLiteral("opened")).isValid());
    ASSERT_EQ(d4skip(t, 1), 0);
    EXPECT_EQ(ifetch(t, QStringLiteral("pop")), -7);
    EXPECT_DOUBLE_EQ(dfetch(t, QStringLiteral("area")), 1.5);
    EXPECT_EQ(fetch(t, QStringLiteral("active")), QStringLiteral("F"));
    EXPECT_EQ(f4str(d4fieldJ(t, 3)), QStringLiteral("       -7"));
    const auto info = d4fieldInfo(t);
    ASSERT_EQ(info.size(), 7u);
    EXPECT_EQ(info[3].name, QStringLiteral("AREA"));
    EXPECT_EQ(info[3].type, 'N');
    EXPECT_EQ(info[3].length, 10);
    EXPECT_EQ(info[3].decimals, 3);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(d4close(t), 0);
}

TEST_F(Facade, DeletePackAndAppendRecordKeepMemos) {
    const QString src = copyFixture(QStringLiteral("fox_small"));
    const QString dst = emptyTable(QStringLiteral("copy"));
    const int s = mOpen(ctx, src);
    const int d = mOpen(ctx, dst);
    ASSERT_GT(s, 0);
    ASSERT_GT(d, 0);
    ASSERT_EQ(d4go(s, 4), 0);  // has a 100-byte memo
    EXPECT_EQ(AppendRecord(s, d), 0);
    ASSERT_EQ(d4go(s, 8), 0);
    EXPECT_EQ(AppendRecord(s, d), 0);
    EXPECT_EQ(d4recCountDo(d), 2);
    ASSERT_EQ(d4top(d), 0);
    ASSERT_EQ(d4go(s, 4), 0);
    EXPECT_EQ(fetch(d, QStringLiteral("note")), fetch(s, QStringLiteral("note")));
    EXPECT_EQ(fetch(d, QStringLiteral("town")), fetch(s, QStringLiteral("town")));
    EXPECT_EQ(d4delete(d), 0);
    EXPECT_NE(d4deleted(d), 0);
    EXPECT_EQ(d4recall(d), 0);
    EXPECT_EQ(d4deleted(d), 0);
    EXPECT_EQ(d4delete(d), 0);
    EXPECT_EQ(d4pack(d), 0);
    EXPECT_EQ(d4recCountDo(d), 1);
    ASSERT_EQ(d4top(d), 0);
    ASSERT_EQ(d4go(s, 8), 0);
    EXPECT_EQ(fetch(d, QStringLiteral("note")), fetch(s, QStringLiteral("note")));
    EXPECT_EQ(fetch(d, QStringLiteral("postal_cod")), fetch(s, QStringLiteral("postal_cod")));
    EXPECT_TRUE(reports.empty());
}

TEST_F(Facade, LocateByFieldScansFromTheTopOrOnward) {
    const int t = mOpen(ctx, emptyTable(QStringLiteral("bids")));
    ASSERT_GT(t, 0);
    for (const char* id : {"B-1", " B-2", "B-1", "b-1", "B-3"}) {
        ASSERT_EQ(d4appendBlank(t), 0);
        ASSERT_EQ(replace(t, QStringLiteral("town"), QString::fromLatin1(id)), 0);
    }
    EXPECT_TRUE(LocateByField(t, QStringLiteral("TOWN"), false, QStringLiteral(" B-1 ")));
    EXPECT_EQ(d4recNo(t), 1);
    EXPECT_TRUE(LocateByField(t, QStringLiteral("town"), true, QStringLiteral("B-1")));
    EXPECT_EQ(d4recNo(t), 3);  // "b-1" differs in case and is passed over
    EXPECT_FALSE(LocateByField(t, QStringLiteral("town"), true, QStringLiteral("B-1")));
    EXPECT_TRUE(
        LocateByField(t, QStringLiteral("town"), false, QStringLiteral("B-2")));  // both sides trimmed
    EXPECT_EQ(d4recNo(t), 2);
    EXPECT_TRUE(LocateByField(t, QStringLiteral("town"), false, QStringLiteral("B-3")));
    EXPECT_EQ(d4recNo(t), 5);
    EXPECT_FALSE(
        LocateByField(t, QStringLiteral("town"), true, QStringLiteral("B-3")));  // already at the last
    EXPECT_FALSE(LocateByField(t, QStringLiteral("town"), false, QStringLiteral("nothing")));
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(LocateByField(t, QStringLiteral("nofield"), false, QStringLiteral("B-1")));
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(Facade, CreateIndexCheckForTagAndSeek) {
    const QString path = emptyTable(QStringLiteral("POSTAL"));
    int t = mOpen(ctx, path);
    ASSERT_GT(t, 0);
    const QStringList codes = {QStringLiteral("K1A0B1"), QStringLiteral("H2X1Y4"), QStringLiteral("A1A1A1")};
    for (const QString& c : codes) {
        ASSERT_EQ(d4appendBlank(t), 0);
        ASSERT_EQ(replace(t, QStringLiteral("POSTAL_COD"), c), 0);
        ASSERT_EQ(replace(t, QStringLiteral("town"), c.toLower()), 0);
    }
    ASSERT_EQ(d4close(t), 0);
    std::vector<TagInfo> tags(8);
    tags[0] = TagInfo{QStringLiteral("POSTAL"), QStringLiteral("POSTAL_COD"), QString(), 0, 0};
    ASSERT_EQ(CreateIndex(ctx, dir.filePath(QStringLiteral("POSTAL")), tags), 0) << reports.size();
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("POSTAL.cdx"))));
    tags[0] = TagInfo{QStringLiteral("TOWN"), QStringLiteral("UPPER(TOWN)"), QString(), 0, 0};
    EXPECT_EQ(CheckForTag(ctx, dir.filePath(QStringLiteral("postal")), tags), 0);

    t = mOpen(ctx, dir.filePath(QStringLiteral("Postal")), QStringLiteral("Postal"));
    ASSERT_GT(t, 0);
    EXPECT_EQ(d4seek(t, QStringLiteral("H2X1Y4")), 0);
    EXPECT_EQ(d4recNo(t), 2);
    EXPECT_NE(d4seek(t, QStringLiteral("H2X")), 0);  // shorter keys do not match
    EXPECT_NE(d4seek(t, QString()), 0);              // an empty key never matches
    EXPECT_NE(d4seek(t, QStringLiteral("H2X1Y45")), 0);
    // the index follows appends and changes
    ASSERT_EQ(d4appendBlank(t), 0);
    ASSERT_EQ(replace(t, QStringLiteral("POSTAL_COD"), QStringLiteral("B2B2B2")), 0);
    ASSERT_EQ(d4go(t, 1), 0);
    ASSERT_EQ(replace(t, QStringLiteral("POSTAL_COD"), QStringLiteral("Z9Z9Z9")), 0);
    EXPECT_EQ(d4seek(t, QStringLiteral("B2B2B2")), 0);
    EXPECT_EQ(d4recNo(t), 4);
    EXPECT_EQ(d4seek(t, QStringLiteral("Z9Z9Z9")), 0);
    EXPECT_EQ(d4recNo(t), 1);
    EXPECT_NE(d4seek(t, QStringLiteral("K1A0B1")), 0);
    // tag order: A1A1A1 (3), B2B2B2 (4), H2X1Y4 (2), Z9Z9Z9 (1)
    ASSERT_EQ(d4top(t), 0);
    QList<int> order;
    do order << d4recNo(t);
    while (d4skip(t, 1) == 0);
    EXPECT_EQ(order, (QList<int>{3, 4, 2, 1}));
    EXPECT_EQ(d4close(t), 0);
    t = mOpen(ctx, dir.filePath(QStringLiteral("postal")), QStringLiteral("town"));
    ASSERT_GT(t, 0);
    EXPECT_EQ(d4seek(t, QStringLiteral("H2X1Y4")), 0);
    EXPECT_EQ(d4close(t), 0);
    EXPECT_EQ(mOpen(ctx, dir.filePath(QStringLiteral("postal")), QStringLiteral("zip_code")), 0);
    EXPECT_EQ(reports.size(), 1u);
}

// What a user types is found on an UPPER() tag in the table's own codepage: the facade turns the typed
// text into the codepage's bytes, and the tag holds the codepage's capitals of what was stored.
TEST_F(Facade, TypedKeysFindUpperCaseTagsInTheTablesCodepage) {
    struct Case {
        int codepage;
        const char *stored, *typed;  // UTF-8
    };
    const Case cases[] = {
        {437, "Zürich", "ZÜRICH"},         {437, "straße", "STRAßE"}, {850, "où", "OÙ"},
        {850, "Ærøskøbing", "ÆRØSKØBING"}, {1250, "Łódź", "ŁÓDŹ"},    {1250, "žilina", "ŽILINA"},
        {1252, "œuvre", "ŒUVRE"},          {1252, "ÿvoir", "ŸVOIR"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.codepage) + " " + c.stored);
        const QString path = dir.filePath(QStringLiteral("towns%1").arg(++n));
        xb::Codepage cp{};
        ASSERT_TRUE(xb::codepageFromNumber(c.codepage, cp));
        std::string err;
        ASSERT_TRUE(xb::Table::create(path.toStdString(), {{"TOWN", 'C', 20, 0, 0}}, xb::Format::Fox2,
                                      xb::codepageByte(cp), err))
            << err;
        int t = mOpen(ctx, path);
        ASSERT_GT(t, 0);
        for (const char* town : {"Aachen", c.stored, "zz"}) {
            ASSERT_EQ(d4appendBlank(t), 0);
            ASSERT_EQ(replace(t, QStringLiteral("TOWN"), QString::fromUtf8(town)), 0);
        }
        ASSERT_EQ(d4close(t), 0);
        std::vector<TagInfo> tags(2);
        tags[0] = TagInfo{QStringLiteral("TOWN"), QStringLiteral("UPPER(TOWN)"), QString(), 0, 0};
        ASSERT_EQ(CreateIndex(ctx, path, tags), 0);
        t = mOpen(ctx, path, QStringLiteral("TOWN"));
        ASSERT_GT(t, 0);
        EXPECT_EQ(d4seek(t, QString::fromUtf8(c.typed)), 0);
        EXPECT_EQ(d4recNo(t), 2);
        EXPECT_EQ(fetch(t, "TOWN"), QString::fromUtf8(c.stored));
        // and it is kept so when the record changes
        ASSERT_EQ(replace(t, QStringLiteral("TOWN"), QString::fromUtf8(c.stored) + QStringLiteral("x")), 0);
        ASSERT_EQ(d4go(t, 1), 0);
        EXPECT_EQ(d4seek(t, QString::fromUtf8(c.typed) + QStringLiteral("X")), 0);
        EXPECT_EQ(d4recNo(t), 2);
        EXPECT_EQ(d4close(t), 0);
    }
    EXPECT_TRUE(reports.empty()) << reports.front().problem.toStdString();
}

TEST_F(Facade, CheckForTagRebuildsAMissingIndexAndCreateIndexReplacesADamagedOne) {
    const QString path = emptyTable(QStringLiteral("USZIP"));
    int t = mOpen(ctx, path);
    ASSERT_GT(t, 0);
    for (const char* zip : {"90210", "10001", "60601"}) {
        ASSERT_EQ(d4appendBlank(t), 0);
        ASSERT_EQ(replace(t, QStringLiteral("postal_cod"), QString::fromLatin1(zip)), 0);
    }
    ASSERT_EQ(d4close(t), 0);
    std::vector<TagInfo> tags(8);
    tags[0] = TagInfo{QStringLiteral("ZIP_CODE"), QStringLiteral("POSTAL_COD"), QString(), 0, 0};
    ASSERT_EQ(CreateIndex(ctx, path, tags), 0);
    // the flagged index disappears: the table no longer opens, CheckForTag builds it again
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("USZIP.cdx"))));
    EXPECT_EQ(mOpen(ctx, path), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].problem.contains(QStringLiteral("missing"))) << reports[0].problem.toStdString();
    reports.clear();
    EXPECT_EQ(CheckForTag(ctx, dir.filePath(QStringLiteral("uszip")), tags), 0);
    t = mOpen(ctx, path, QStringLiteral("Zip_Code"));
    ASSERT_GT(t, 0);
    EXPECT_EQ(d4seek(t, QStringLiteral("60601")), 0);
    EXPECT_EQ(d4recNo(t), 3);
    ASSERT_EQ(d4close(t), 0);
    // a damaged index is replaced by CreateIndex
    QFile cdx(dir.filePath(QStringLiteral("USZIP.cdx")));
    ASSERT_TRUE(cdx.open(QIODevice::WriteOnly | QIODevice::Truncate));
    cdx.write(QByteArray(700, 'x'));
    cdx.close();
    EXPECT_EQ(mOpen(ctx, path), 0);
    EXPECT_EQ(reports.size(), 1u);
    reports.clear();
    ASSERT_EQ(CreateIndex(ctx, path, tags), 0);
    t = mOpen(ctx, path, QStringLiteral("zip_code"));
    ASSERT_GT(t, 0);
    EXPECT_EQ(d4seek(t, QStringLiteral("90210")), 0);
    EXPECT_EQ(d4recNo(t), 1);
    EXPECT_TRUE(reports.empty());
}

// An index damaged below a tag's root: the table opens and reads in record order; a seek on the tag and
// a change are reported (naming the index) and change nothing; CheckForTag builds the index anew.
TEST_F(Facade, AnIndexDamagedBelowARootIsFoundOnUseAndRebuiltByCheckForTag) {
    const QString path = copyFixture(QStringLiteral("fox_small"));
    QFile cdx(dir.filePath(QStringLiteral("fox_small.cdx")));
    ASSERT_TRUE(cdx.open(QIODevice::ReadWrite));
    QByteArray bytes = cdx.readAll();
    // POSTAL's header is at 0x600; its root is an interior node whose first child is sent past the end.
    const auto root = qFromLittleEndian<quint32>(bytes.constData() + 0x600);
    bytes.replace(int(root) + 12 + 6 + 4, 4, QByteArray(4, '\x7F'));
    ASSERT_TRUE(cdx.seek(0));
    ASSERT_EQ(cdx.write(bytes), bytes.size());
    cdx.close();
    const QByteArray dbfBefore = [&] {
        QFile f(dir.filePath(QStringLiteral("fox_small.dbf")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    int t = mOpen(ctx, path, QStringLiteral("postal"));
    ASSERT_GT(t, 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(d4seek(t, QStringLiteral("H0H0H0")), -1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].file.endsWith(QStringLiteral("fox_small.cdx"))) << reports[0].file.toStdString();
    EXPECT_TRUE(reports[0].problem.contains(QStringLiteral("outside the file")))
        << reports[0].problem.toStdString();
    reports.clear();
    ASSERT_EQ(d4close(t), 0);
    t = mOpen(ctx, path);
    ASSERT_GT(t, 0);
    int seen = 0;
    for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) ++seen;
    EXPECT_EQ(seen, d4recCountDo(t));
    ASSERT_EQ(d4top(t), 0);
    EXPECT_EQ(replace(t, QStringLiteral("POSTAL_COD"), QStringLiteral("H0H0H0")), -1);
    EXPECT_EQ(reports.size(), 1u);
    reports.clear();
    ASSERT_EQ(d4close(t), 0);
    {
        QFile f(dir.filePath(QStringLiteral("fox_small.dbf")));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), dbfBefore);
    }

    std::vector<TagInfo> tags(8);
    tags[0] = TagInfo{QStringLiteral("POSTAL"), QStringLiteral("POSTAL_COD"), QString(), 0, 0};
    EXPECT_EQ(CheckForTag(ctx, path, tags), 0);
    EXPECT_TRUE(reports.empty());
    t = mOpen(ctx, path, QStringLiteral("postal"));
    ASSERT_GT(t, 0);
    ASSERT_EQ(d4go(t, 3), 0);
    const QString third = fetch(t, "POSTAL_COD");
    ASSERT_EQ(d4seek(t, third), 0);
    EXPECT_EQ(fetch(t, "POSTAL_COD"), third);
    EXPECT_TRUE(reports.empty());
    ASSERT_EQ(d4close(t), 0);
}

TEST_F(Facade, StructureCallsAndTheEndsOfTheTable) {
    const int t = mOpen(ctx, copyFixture(QStringLiteral("fox_small")));
    ASSERT_GT(t, 0);
    const Field4 area = d4fieldJ(t, 4);
    ASSERT_TRUE(area);
    EXPECT_EQ(f4name(area), QStringLiteral("AREA"));
    EXPECT_EQ(f4type(area), 'N');
    EXPECT_EQ(f4len(area), 10);
    EXPECT_EQ(f4decimals(area), 3);
    EXPECT_EQ(d4fieldNumber(t, QStringLiteral("area")), 4);
    EXPECT_FALSE(d4fieldJ(t, 8));
    EXPECT_FALSE(d4fieldJ(t, 0));
    EXPECT_EQ(reports.size(), 2u);
    reports.clear();
    ASSERT_EQ(d4bottom(t), 0);
    EXPECT_EQ(d4recNo(t), 300);
    EXPECT_NE(d4skip(t, 1), 0);   // past the end
    EXPECT_EQ(d4skip(t, -1), 0);  // and back to the last record
    EXPECT_EQ(d4recNo(t), 300);
    ASSERT_EQ(d4top(t), 0);
    EXPECT_NE(d4skip(t, -1), 0);  // before the first
    EXPECT_EQ(d4recNo(t), 1);
    EXPECT_NE(d4seek(t, QStringLiteral("A1A1A1")), 0);  // no tag selected: reported
    EXPECT_EQ(reports.size(), 1u);
    reports.clear();
    EXPECT_EQ(d4close(t), 0);
}

// fetch writes its text into a buffer it reuses once the caller has let go of the last result; a result
// the caller keeps (or changes) must stay as it was, and names given as C strings read the same fields.
TEST_F(Facade, FetchedTextsStayAsTheyWereAndNamesAsCStringsReadTheSameFields) {
    const int t = mOpen(ctx, copyFixture(QStringLiteral("fox_small")));
    const int u = mOpen(ctx, copyFixture(QStringLiteral("fox_large")));
    ASSERT_GT(t, 0);
    ASSERT_GT(u, 0);
    std::vector<QString> kept;
    std::vector<QString> expected;  // deep copies
    int n = 0;
    for (int rc = d4top(t); rc == 0 && n < 40; rc = d4skip(t, 1), ++n) {
        for (const char* name : {"POSTAL_COD", "town", "pop", "area", "active", "opened", "note"}) {
            const QString byName = fetch(t, QString::fromLatin1(name));
            const QString byCString = fetch(t, name);
            EXPECT_EQ(byCString, byName) << name << " record " << d4recNo(t);
            EXPECT_EQ(byCString.isNull(), byName.isNull()) << name;
        }
        QString town = fetch(t, "town");
        kept.push_back(town);
        expected.push_back(QString(town.constData(), town.size()));
        // changing a result does not change the next one
        QString changed = fetch(t, "postal_cod");
        const QString original(changed.constData(), changed.size());
        changed.replace(0, 1, QStringLiteral("#"));
        EXPECT_EQ(fetch(t, "postal_cod"), original);
        // another table between two fetches of this one (the last handle is remembered)
        EXPECT_EQ(fetch(u, "postal_cod").size(), 6);
        EXPECT_EQ(fetch(t, "town"), expected.back());
    }
    EXPECT_EQ(n, 40);
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i], expected[i]) << "record " << i + 1;
    // a blank field reads as empty text either way
    ASSERT_EQ(d4appendBlank(t), 0);
    EXPECT_TRUE(fetch(t, "town").isEmpty());
    EXPECT_TRUE(fetch(t, QStringLiteral("town")).isEmpty());
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(fetch(t, "nofield"), QString());
    EXPECT_EQ(fetch(t, "nofield"), QString());
    ASSERT_EQ(reports.size(), 2u);  // an unknown name is reported every time
    EXPECT_TRUE(reports[1].problem.contains(QStringLiteral("nofield")));
    reports.clear();
    // a closed handle is not found again through what was remembered of it
    EXPECT_EQ(d4close(t), 0);
    EXPECT_EQ(fetch(t, "town"), QString());
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(fetch(u, "postal_cod").size(), 6);
    EXPECT_EQ(d4close(u), 0);
    EXPECT_NE(d4skip(u, 1), 0);
    EXPECT_EQ(reports.size(), 2u);
}

// fetch remembers the last name it was given as a C string; a name that only begins or ends like it,
// or differs from it only in case or a trailing blank, is looked up for what it is.
TEST_F(Facade, ANameLikeTheLastOneGivenAsACStringIsLookedUpForWhatItIs) {
    const int t = mOpen(ctx, copyFixture(QStringLiteral("fox_small")));
    ASSERT_GT(t, 0);
    ASSERT_EQ(d4go(t, 7), 0);
    const std::vector<std::pair<const char*, const char*>> pairs = {
        {"town", "tow"},   {"tow", "town"},   {"pop", "popx"}, {"popx", "pop"}, {"area", "AREA"},
        {"area", "area "}, {"active", "act"}, {"", "pop"},     {"pop", ""},     {"opened", "opene"},
    };
    for (const auto& [first, second] : pairs) {
        SCOPED_TRACE(std::string("\"") + first + "\" then \"" + second + "\"");
        reports.clear();
        const QString want = fetch(t, QString::fromLatin1(second));
        const size_t wantReports = reports.size();
        reports.clear();
        fetch(t, first);
        reports.clear();
        EXPECT_EQ(fetch(t, second), want);
        EXPECT_EQ(reports.size(), wantReports) << "a missing field is reported, a present one is not";
    }
    reports.clear();
    EXPECT_EQ(d4close(t), 0);
}

// A report may run anything (the program shows a message box, whose event loop may close tables or put
// another handler in place); the call that reported must not touch the table afterwards.
TEST_F(Facade, AHandlerThatClosesTheTableWhileAReportRunsIsSurvived) {
    int t = mOpen(ctx, copyFixture(QStringLiteral("fox_small")));
    ASSERT_GT(t, 0);
    ASSERT_EQ(d4go(t, 3), 0);
    const QString before = fetch(t, QStringLiteral("town"));
    int closedBy = 0;
    setErrorHandler([&](const QString& f, const QString& p) {
        reports.push_back({f, p});
        if (t > 0 && d4close(t) == 0) closedBy = int(reports.size());
        t = 0;
    });
    // The text holds a character cp1252 lacks: reported while the value is being converted, and the
    // table is gone when the report returns.
    const int handle = t;
    EXPECT_NE(replace(handle, QStringLiteral("town"), QStringLiteral("Ω")), 0);
    EXPECT_EQ(closedBy, 1);
    EXPECT_EQ(t, 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].problem.contains(QStringLiteral("cp1252")) ||
                reports[0].problem.contains(QStringLiteral("1252")))
        << reports[0].problem.toStdString();
    // The record was not written: the table reads as before.
    const int again = mOpen(ctx, dir.filePath(QStringLiteral("fox_small")));
    ASSERT_GT(again, 0);
    ASSERT_EQ(d4go(again, 3), 0);
    EXPECT_EQ(fetch(again, QStringLiteral("town")), before);

    // The same through a field handle, and a handler that puts another handler in place while it runs.
    int replaced = 0;
    t = again;
    setErrorHandler([&](const QString& f, const QString& p) {
        reports.push_back({f, p});
        if (t > 0) d4close(t);
        t = 0;
        setErrorHandler([&](const QString&, const QString&) { ++replaced; });
    });
    reports.clear();
    EXPECT_NE(f4assign(d4field(again, QStringLiteral("town")), QStringLiteral("Ω")), 0);
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(t, 0);
    EXPECT_NE(d4close(again), 0);  // closed by the handler: reported to the handler now in place
    EXPECT_EQ(replaced, 1);
}

// A context closed by CloseData is gone: tables are not opened into it and its settings are not
// written (it was freed memory).
TEST_F(Facade, AClosedContextIsNotUsedAgain) {
    DataContext other = OpenData();
    EXPECT_EQ(currentContext(), other);
    const int t = mOpen(other, copyFixture(QStringLiteral("fox_small")));
    ASSERT_GT(t, 0);
    CloseData(other);
    EXPECT_EQ(currentContext(), ctx);
    EXPECT_NE(d4top(t), 0);  // closed with its context
    ASSERT_EQ(reports.size(), 1u);
    reports.clear();
    EXPECT_EQ(mOpen(other, dir.filePath(QStringLiteral("fox_small"))), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].problem.contains(QStringLiteral("closed"))) << reports[0].problem.toStdString();
    EXPECT_EQ(code4errFieldName(other, 0), 1);
    // the open context is untouched by that
    EXPECT_EQ(code4errFieldName(ctx, 0), 1);
    EXPECT_EQ(code4errFieldName(ctx, 1), 0);
}

TEST(FacadeText, CopyLeftRightIsNumberIsAlpha) {
    EXPECT_EQ(CopyLeft(QStringLiteral("K1A0B1"), 3), QStringLiteral("K1A"));
    EXPECT_EQ(CopyLeft(QStringLiteral("K1"), 3), QStringLiteral("K1"));
    EXPECT_EQ(CopyLeft(QStringLiteral("K1"), -1), QString());
    EXPECT_EQ(CopyRight(QStringLiteral("K1A0B1"), 3), QStringLiteral("0B1"));
    EXPECT_EQ(CopyRight(QStringLiteral("K1"), 5), QStringLiteral("K1"));
    EXPECT_TRUE(IsNumber(QStringLiteral("7")));
    EXPECT_FALSE(IsNumber(QStringLiteral("77")));
    EXPECT_FALSE(IsNumber(QStringLiteral("x")));
    EXPECT_FALSE(IsNumber(QString()));
    EXPECT_TRUE(IsAlpha(QStringLiteral("é")));
    EXPECT_TRUE(IsAlpha(QStringLiteral("K")));
    EXPECT_FALSE(IsAlpha(QStringLiteral("1")));
    EXPECT_FALSE(IsAlpha(QStringLiteral("ab")));
}

TEST(FacadeText, ResolvePathMatchesWithoutRegardToCase) {
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("AELookup.DBF")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(resolvePath(dir.filePath(QStringLiteral("aelookup.dbf"))),
              dir.filePath(QStringLiteral("AELookup.DBF")));
    EXPECT_EQ(resolvePath(dir.filePath(QStringLiteral("none.dbf"))),
              dir.filePath(QStringLiteral("none.dbf")));
}

}  // namespace
