// Every window and message box of the program is wide enough for its title bar to show the title in
// full ("Incen... odel", "Clear Ship... nt Entries" were cut): the windows at their default sizes, with
// the title fitting the program installs at start-up.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QMessageBox>
#include <QTest>
#include <functional>
#include <memory>

#include "app/importmessage.h"
#include "pages/expandedform.h"
#include "pages/mainstate.h"
#include "shiptools/clearform.h"
#include "shiptools/copyform.h"
#include "submit/xmitlog.h"
#include "widgets/seams.h"
#include "widgets/toplevel.h"

namespace tarvik {
namespace {

// The least a title bar needs: the title in bold and room for the icon and three buttons.
int leastWidthFor(const QString& title) {
    QFont bold = QApplication::font();
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(title) + 3 * 20 + 16;
}

TEST(WindowTitles, EveryWindowIsWideEnoughForItsTitle) {
    installTitleFitting();
    MainState state;
    struct Case {
        const char* what;
        std::function<QWidget*()> make;
    };
    auto progress = [&state](const char* caption) {
        return [&state, caption]() -> QWidget* {
            auto* w = new TImportMessage(state, nullptr);
            w->setWindowTitle(QString::fromUtf8(caption));
            return w;
        };
    };
    auto box = [](const char* caption, const char* text) {
        return [caption, text]() -> QWidget* {
            auto* b = new QMessageBox(QMessageBox::Question, QString::fromUtf8(caption),
                                      QString::fromUtf8(text), QMessageBox::Ok);
            return b;
        };
    };
    const Case cases[] = {
        {"Clear Shipment Entries", [] { return new TClearForm(); }},
        {"Copy Shipment Entry", [] { return new TCopyForm(); }},
        {"Full Details...", [] { return new TExpandedForm(QString(), QString(), QString(), nullptr); }},
        {"transfer log", [] { return new TfrmXmitLog(); }},
        {"File Write", progress("File Write")},
        {"File Read", progress("File Read")},
        {"File Import", progress("File Import")},
        {"message dialog", box("Incentive Model", "Create new Bid?")},
        {"postal list", box("Postal / Zip Code LookUp", "Invalid Postal Code(s) found: ")},
        {"zip", box("Zip Code LookUp", "Invalid Zip Code!")},
        {"rate options",
         box("Rate Options", "Does this customer currently have access to Single Piece Billing?")},
        {"abort", box("Shipment Data Import", "Abort Import?")},
        {"short text", box("Shipment Data Import", "No")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<QWidget> window(c.make());
        window->setAttribute(Qt::WA_DontShowOnScreen, false);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        EXPECT_FALSE(window->windowTitle().isEmpty());
        EXPECT_GE(window->width(), leastWidthFor(window->windowTitle()))
            << window->windowTitle().toStdString();
        window->hide();
    }
}

}  // namespace
}  // namespace tarvik
