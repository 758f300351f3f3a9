// The demonstration bid on the demonstration data folder is complete, and its printed summary holds the
// values the example in docs/ shows.
#include "bidexample/demobid.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "app/bidwiring.h"
#include "app/tmainform.h"
#include "demodata/demofolder.h"
#include "pages/mainpage.h"
#include "submit/bidsummary.h"
#include "submit/summaryprint.h"
#include "tableaccess/tableaccess.h"
#include "testsupport/scriptedprompt.h"

namespace tarvik {
namespace {

TEST(DemonstrationBid, IsCompleteAndItsSummaryPrintsItsValues) {
    QTemporaryDir program;
    ASSERT_TRUE(program.isValid());
    {
        ta::DataContext ctx = ta::OpenData();
        QString error;
        ASSERT_TRUE(demo::buildDemoFolder(QStringLiteral(TARVIK_SOURCE_DIR "/data/demo"),
                                          program.filePath(QStringLiteral("data")), &error))
            << error.toStdString();
        ta::CloseData(ctx);
    }
    test::FixedClock clock(QDateTime(QDate(2026, 3, 14), QTime(9, 30)));
    TMainForm form(program.path());
    wireBidStore(form);
    keyDemonstrationBid(form);
    EXPECT_EQ(form.tbsMain->ebxLocalBidID->text(), QStringLiteral("ChloeMartin4609539583"));

    const BidSummary summary = GatherBidSummary(form.state(), &form);
    std::vector<QString> problems;
    for (const SummaryProblem& p : summary.problems) problems.push_back(p.page + ": " + p.message);
    EXPECT_EQ(problems, std::vector<QString>{});
    EXPECT_EQ(summary.allLines.lines, 12);
    ASSERT_EQ(summary.byService.size(), 5u);
    EXPECT_EQ(summary.byService[0].key, QStringLiteral("Ground"));

    const SummaryDocument document(summary);
    EXPECT_EQ(document.chartPage(), 0) << "the chart belongs on page 1";
    const QString pdf = program.filePath(QStringLiteral("example.pdf"));
    ASSERT_TRUE(document.writePdf(pdf));
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString text = QString::fromUtf8(p.readAllStandardOutput())
                             .replace(QRegularExpression(QStringLiteral("[ \\t]+")), QStringLiteral(" "));
    for (const char* e :
         {"Northern Widget Supply Ltd.", "Local Bid ID ChloeMartin4609539583",
          "Account Executive Chloe Martin", "Industry Automotive Parts", "Strategy Beat Competitor by 5%",
          "Ground Multi 180 120 300 Yes", "TB Express PAK 15 45 60 Yes",
          "All lines 12 23 220.00 360.00 392.85", "Result: ready to submit"})
        EXPECT_TRUE(text.contains(QLatin1String(e))) << e << "\n" << text.toStdString();
}

}  // namespace
}  // namespace tarvik
