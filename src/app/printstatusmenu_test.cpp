// "&Print Status" in the Bids menu of the real main window opens the window "Print Status" on the bid
// on screen.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/bidwiring.h"
#include "app/tmainform.h"
#include "pages/mainpage.h"
#include "submit/printstatus.h"
#include "submit/summaryprint.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"

namespace tarvik {
namespace {

TEST(PrintStatusMenu, OpensTheSummaryOfTheBidOnScreen) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    test::makeDataFolder(tmp.path());
    test::FixedClock clock(QDateTime(QDate(2026, 3, 14), QTime(9, 30)));
    TMainForm form(tmp.path());
    wireBidStore(form);
    form.tbsMain->ebxLocalBidID->setText(QStringLiteral("Menu1"));
    form.tbsMain->ebxCompanyName1->setText(QStringLiteral("Menu Company"));

    QString caption;
    int pages = 0;
    std::vector<QString> texts;
    test::whenModalShown([&](QWidget* w) {
        auto* status = qobject_cast<TPrintStatusForm*>(w);
        ASSERT_NE(status, nullptr);
        caption = status->windowTitle();
        pages = status->document().pageCount();
        for (const auto& item : status->document().pageItems(0)) texts.push_back(item.text);
        EXPECT_EQ(status->btnPrint->text(), QStringLiteral("&Print..."));
        EXPECT_EQ(status->btnSavePdf->text(), QStringLiteral("Save as &PDF..."));
        status->btnClose->click();
    });
    form.mnuPrintStatus->trigger();
    EXPECT_EQ(caption, QStringLiteral("Print Status"));
    EXPECT_GE(pages, 1);
    EXPECT_NE(std::find(texts.begin(), texts.end(), QStringLiteral("Menu Company")), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), QStringLiteral("Menu1")), texts.end());
}

}  // namespace
}  // namespace tarvik
