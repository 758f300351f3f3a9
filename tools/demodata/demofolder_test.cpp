#include "demodata/demofolder.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>

#include "tableaccess/tableaccess.h"

namespace tarvik::demo {
namespace {

// The demonstration folder, built once for the suite from the reference CSVs of the repository.
class DemoFolderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tmp_ = new QTemporaryDir;
        reports_ = new QStringList;
        previous_ =
            ta::setErrorHandler([](const QString& f, const QString& p) { *reports_ << f + ": " + p; });
        ctx_ = ta::OpenData();
        QString error;
        built_ = buildDemoFolder(QStringLiteral(TARVIK_SOURCE_DIR "/data/demo"), data(), &error);
        error_ = error;
    }
    static void TearDownTestSuite() {
        ta::CloseData(ctx_);
        ta::setErrorHandler(previous_);
        delete tmp_;
        delete reports_;
    }
    static QString data() { return tmp_->path() + QStringLiteral("/data"); }
    static QString table(const char* name) { return data() + QLatin1Char('/') + QLatin1String(name); }
    void SetUp() override {
        ASSERT_TRUE(built_) << error_.toStdString();
        ASSERT_TRUE(reports_->isEmpty()) << reports_->join('\n').toStdString();
    }

    static inline QTemporaryDir* tmp_ = nullptr;
    static inline QStringList* reports_ = nullptr;
    static inline ta::ErrorHandler previous_;
    static inline ta::DataContext ctx_ = nullptr;
    static inline bool built_ = false;
    static inline QString error_;
};

TEST_F(DemoFolderTest, ServicesHoldEveryRuleShape) {
    const QStringList service = readColumn(table("Services"), "service");
    const QStringList desc = readColumn(table("Services"), "service_d");
    const QStringList stem = readColumn(table("Services"), "dbf_field");
    const QStringList code = readColumn(table("Services"), "svc_code");
    const QStringList letter = readColumn(table("Services"), "letter");
    const QStringList market = readColumn(table("Services"), "market");
    ASSERT_EQ(desc.size(), static_cast<qsizetype>(demoServices().size()));
    // The first record is a heading: the page's own heading.
    EXPECT_TRUE(desc.first().startsWith('-'));
    EXPECT_GE(std::count_if(desc.begin(), desc.end(), [](const QString& d) { return d.startsWith('-'); }), 3);
    // A Multi record followed by its Single record; the Multi record's short name is the one the picker
    // lists ("Ground"), so lines keyed from the picker find it.
    const qsizetype multi = desc.indexOf("Ground Multi");
    ASSERT_GE(multi, 0);
    ASSERT_LT(multi + 1, desc.size());
    EXPECT_EQ(desc[multi + 1], "Ground Single");
    EXPECT_EQ(service[multi], "Ground");
    EXPECT_EQ(service[multi + 1], "Ground Single");
    // PAK and Pkg, letters, Economy, the three markets, codes 8, 20 and 68, auto_gen, a description
    // without volumes, and the world-wide express trio.
    for (const char* s :
         {"Express PAK", "Express Pkg", "WW Express PAK", "WW Express Pkg", "WW Express Letter"})
        EXPECT_TRUE(service.contains(s)) << s;
    EXPECT_TRUE(
        std::any_of(desc.begin(), desc.end(), [](const QString& d) { return d.contains("Economy"); }));
    for (const char* m : {"D", "I", "S"}) EXPECT_TRUE(market.contains(m)) << m;
    for (const char* c : {"8", "20", "68"}) EXPECT_TRUE(code.contains(c)) << c;
    EXPECT_TRUE(stem.contains("auto_gen"));
    bool descriptionWithoutStem = false;
    for (qsizetype i = 0; i < desc.size(); ++i)
        descriptionWithoutStem |= !desc[i].isEmpty() && !desc[i].startsWith('-') && stem[i].isEmpty();
    EXPECT_TRUE(descriptionWithoutStem);
    for (qsizetype i = 0; i < service.size(); ++i)
        if (service[i].endsWith("Letter")) {
            EXPECT_EQ(letter[i], "T") << service[i].toStdString();
        }
}

TEST_F(DemoFolderTest, BidTablesHoldEveryField) {
    const QStringList bids = fieldNames(table("Bids"));
    EXPECT_LE(bids.size(), 255);
    for (const QString& s : stemsOf(demoServices()))
        for (const char* suffix : {"1", "2", "p"})
            EXPECT_TRUE(bids.contains(s + suffix, Qt::CaseInsensitive)) << (s + suffix).toStdString();
    for (const char* f : {"local_bid", "subm_date", "brokerage", "broker", "m_o_b", "sale_strat",
                          "No_Pkgs_15", "Tot_Cube15", "Length_1", "val_duty", "PLD_type"})
        EXPECT_TRUE(bids.contains(f, Qt::CaseInsensitive)) << f;
    // sale_strat is a memo, kept in Bids.fpt.
    const int t = ta::mOpen(ctx_, table("Bids"));
    ASSERT_GT(t, 0);
    EXPECT_EQ(ta::f4type(ta::d4field(t, "sale_strat")), 'M');
    ta::d4close(t);
    EXPECT_TRUE(QFileInfo::exists(ta::resolvePath(table("Bids.fpt"))));
    EXPECT_TRUE(fieldNames(table("BidTail")).contains("from_post", Qt::CaseInsensitive));
    EXPECT_EQ(recordCount(table("Bids")), 0);
}

TEST_F(DemoFolderTest, ReferenceTables) {
    EXPECT_EQ(readColumn(table("AELookUp"), "ae_name").size(), 12);
    EXPECT_FALSE(readColumn(table("AELookUp"), "SSA_Name").contains(""));
    QStringList dist = readColumn(table("DistributionSrc"), "dist_src");
    QStringList sorted = dist;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return QString::localeAwareCompare(a, b) < 0; });
    EXPECT_EQ(dist, sorted);
    EXPECT_FALSE(readColumn(table("DistributionSrc"), "value").contains(""));
    EXPECT_GT(recordCount(table("IndustryTypes")), 5);
    EXPECT_GT(recordCount(table("PLDTypes")), 2);
    EXPECT_GT(recordCount(table("District")), 5);

    // Countries, postal areas and zip codes: every row of the CSVs, none invented.
    EXPECT_EQ(recordCount(table("Country")),
              static_cast<int>(readCsv(TARVIK_SOURCE_DIR "/data/demo/countries.csv").size()));
    EXPECT_TRUE(readColumn(table("Country"), "name").contains(QString::fromUtf8("Côte d'Ivoire")));
    const QStringList postal = readColumn(table("POSTAL"), "POSTAL_COD");
    EXPECT_EQ(postal.size(),
              static_cast<qsizetype>(readCsv(TARVIK_SOURCE_DIR "/data/demo/ca_fsa.csv").size()));
    for (const QString& p : postal) {
        ASSERT_EQ(p.size(), 6) << p.toStdString();
        ASSERT_TRUE(p.endsWith("***")) << p.toStdString();
    }
    EXPECT_EQ(recordCount(table("USZIP")),
              static_cast<int>(readCsv(TARVIK_SOURCE_DIR "/data/demo/us_zip.csv").size()));
    // No town lost a letter to the codepage.
    for (const QString& town : readColumn(table("POSTAL"), "town"))
        ASSERT_FALSE(town.contains('?')) << town.toStdString();
}

TEST(DemoData, ReadCsvHandlesQuotesCommasAndCrLf) {
    QTemporaryDir tmp;
    const QString p = tmp.path() + "/x.csv";
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("code,name\r\nKR,\"Korea, Republic of\"\r\nCI,\"C\xC3\xB4te d'Ivoire \"\"x\"\"\"\r\n,\n");
    f.close();
    QStringList header;
    const auto rows = readCsv(p, &header);
    EXPECT_EQ(header, QStringList({"code", "name"}));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], QStringList({"KR", "Korea, Republic of"}));
    EXPECT_EQ(rows[1], QStringList({"CI", QString::fromUtf8("Côte d'Ivoire \"x\"")}));
    EXPECT_EQ(rows[2], QStringList({"", ""}));
    EXPECT_TRUE(readCsv(tmp.path() + "/missing.csv").empty());
}

TEST(DemoData, RepairTownPutsBackTheLostCapitals) {
    const QChar x(0xFFFD);
    auto t = [&](const char* s) { return repairTown(QString::fromUtf8(s).replace('#', x)); };
    EXPECT_EQ(t("RIVI#RE-DU-LOUP"), QString::fromUtf8("RIVIÈRE-DU-LOUP"));
    EXPECT_EQ(t("TROIS-RIVI#RES WEST"), QString::fromUtf8("TROIS-RIVIÈRES WEST"));
    EXPECT_EQ(t("SEPT-#LES"), QString::fromUtf8("SEPT-ÎLES"));
    EXPECT_EQ(t("C#TE-SAINT-LUC"), QString::fromUtf8("CÔTE-SAINT-LUC"));
    EXPECT_EQ(t("SAINT-J#R#ME"), QString::fromUtf8("SAINT-JÉRÔME"));
    EXPECT_EQ(t("SAINT-FRAN#OIS"), QString::fromUtf8("SAINT-FRANÇOIS"));
    EXPECT_EQ(t("CH#TEAUGUAY"), QString::fromUtf8("CHÂTEAUGUAY"));
    EXPECT_EQ(t("SAINTE-TH#R#SE"), QString::fromUtf8("SAINTE-THÉRÈSE"));
    EXPECT_EQ(t("LAM#QUE"), QString::fromUtf8("LAMÈQUE"));
    EXPECT_EQ(t("GASP#"), QString::fromUtf8("GASPÉ"));
    EXPECT_EQ(t("TORONTO"), QStringLiteral("TORONTO"));
}

}  // namespace
}  // namespace tarvik::demo
