#include "app/tmainform.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/appstyle.h"
#include "app/tableerrors.h"
#include "demodata/demofolder.h"
#include "pages/bidprofilepage.h"
#include "pages/choicegroups.h"
#include "pages/cubepage.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

namespace tarvik {
namespace {

using test::ScriptedPrompt;

class MainFormTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    std::unique_ptr<TMainForm> start(const test::DataFolderOptions& o = {},
                                     TMainForm::StartupHooks hooks = TMainForm::pageHooks()) {
        test::makeDataFolder(tmp_.path(), o);
        return std::make_unique<TMainForm>(tmp_.path(), std::move(hooks));
    }
    QTemporaryDir tmp_;
};

std::function<void(const PromptRequest&)> expectBox(const QString& text, const QString& caption,
                                                    PromptIcon icon, int buttons) {
    return [=](const PromptRequest& r) {
        EXPECT_EQ(r.text, text);
        EXPECT_EQ(r.caption, caption);
        EXPECT_EQ(r.icon, icon);
        EXPECT_EQ(r.buttons, buttons);
    };
}

TEST_F(MainFormTest, StartUpShowsTheSixPagesWithMainFirst) {
    QApplication* app = qApp;
    setupApplication(*app);
    EXPECT_EQ(QApplication::applicationName(), QStringLiteral("Incentive Model"));

    std::vector<std::string> order;
    QString cdxAtDefaults;
    TMainForm::StartupHooks hooks;
    hooks.applyBidDefaults = [&](TMainForm& f) {
        order.push_back("defaults");
        // The tables are prepared before the defaults are applied.
        cdxAtDefaults = ta::resolvePath(f.state().tablePath("POSTAL.CDX"));
    };
    hooks.buildGrids = [&](TMainForm&) { order.push_back("grids"); };
    hooks.loadReferenceLists = [&](TMainForm&) { order.push_back("lists"); };
    auto form = start({}, hooks);

    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tarvik v2012.1.0"));
    EXPECT_EQ(order, (std::vector<std::string>{"defaults", "grids", "lists"}));
    EXPECT_TRUE(QFileInfo::exists(cdxAtDefaults));
    EXPECT_TRUE(QFileInfo::exists(ta::resolvePath(form->state().tablePath("USZIP.CDX"))));

    const MainState& s = form->state();
    EXPECT_EQ(s.FProgramFolder, QDir::cleanPath(tmp_.path()));
    EXPECT_EQ(s.FDataFolder, QDir::cleanPath(tmp_.path()) + "/data");
    EXPECT_EQ(s.tablePath("Bids"), s.FDataFolder + "/Bids");
    EXPECT_FALSE(s.FLoading);
    EXPECT_FALSE(s.FNewBidGuard);
    EXPECT_EQ(s.FBidRecNo, 0);
    EXPECT_NE(s.DataContext, nullptr);

    QTabWidget* tabs = form->findChild<QTabWidget*>("tabEntryPages");
    ASSERT_NE(tabs, nullptr);
    const QStringList names = {"tbsMain",       "tbsShipperProfile", "tbsServices",
                               "tbsBidProfile", "tbsCubeAnalysis",   "tbsShipmentData"};
    const QStringList captions = {" Main ",          "  Shipper Profile  ", "  Services  ",
                                  "  Bid Profile  ", "Cube Analysis",       "Shipment Data"};
    ASSERT_EQ(tabs->count(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(tabs->widget(i)->objectName(), names[i]);
        EXPECT_EQ(tabs->tabText(i), captions[i]);
    }
    EXPECT_EQ(tabs->currentWidget()->objectName(), QStringLiteral("tbsMain"));

    // Window frame: minimum size, no maximise box.
    EXPECT_EQ(form->minimumSize(), QSize(485, 640));
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(MainFormTest, ProgramFolderWithTrailingSeparator) {
    test::makeDataFolder(tmp_.path());
    TMainForm form(tmp_.path() + "/");
    const MainState& s = form.state();
    EXPECT_FALSE(s.FProgramFolder.endsWith('/'));
    EXPECT_EQ(s.tablePath("Bids"), QDir::cleanPath(tmp_.path()) + "/data/Bids");
    EXPECT_FALSE(s.tablePath("Bids").contains("//"));
}

TEST_F(MainFormTest, BackAndNextWrapAround) {
    auto form = start();
    int servicesShown = 0, cubeShown = 0, shipmentShown = 0;
    form->tbsServicesShow = [&] { ++servicesShown; };
    form->tbsCubeAnalysisShow = [&] { ++cubeShown; };
    form->tbsShipmentDataShow = [&] { ++shipmentShown; };
    form->show();
    QTabWidget* tabs = form->tabEntryPages;
    auto* next = form->findChild<QPushButton*>("btnNext");
    auto* back = form->findChild<QPushButton*>("btnBack");
    ASSERT_TRUE(next && back);
    EXPECT_EQ(next->text(), QStringLiteral("Next >&>"));
    EXPECT_EQ(back->text(), QStringLiteral("&<< Back"));

    for (int i = 1; i <= 5; ++i) {
        QTest::mouseClick(next, Qt::LeftButton);
        EXPECT_EQ(tabs->currentIndex(), i);
    }
    EXPECT_EQ(tabs->currentWidget()->objectName(), QStringLiteral("tbsShipmentData"));
    EXPECT_EQ(servicesShown, 1);
    EXPECT_EQ(cubeShown, 1);
    EXPECT_EQ(shipmentShown, 1);
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(tabs->currentWidget()->objectName(), QStringLiteral("tbsMain"));
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(tabs->currentWidget()->objectName(), QStringLiteral("tbsShipmentData"));
    EXPECT_EQ(shipmentShown, 2);
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(tabs->currentWidget()->objectName(), QStringLiteral("tbsCubeAnalysis"));
    EXPECT_EQ(cubeShown, 2);
    // Every click left exactly the page that was asked for on top; nothing asked anything.
    form->hide();
}

TEST_F(MainFormTest, ClosingWithoutABidAsksAreYouSure) {
    auto form = start();
    form->show();
    ScriptedPrompt prompt;
    const auto check = expectBox("Are you sure?", "Program Exit", PromptIcon::Question, Yes | No);
    prompt.answer(No, check);
    QTest::mouseClick(form->btnExit, Qt::LeftButton);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->btnExit->text(), QStringLiteral("E&xit"));

    // The menu item asks the same question.
    prompt.answer(Yes, check);
    form->mnuExit->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(prompt.shown().size(), 2u);
}

TEST_F(MainFormTest, ClosingWithABidAsksToSaveIt) {
    auto form = start();
    int stored = 0;
    bool storeSucceeds = true;
    form->storeBid = [&] {
        ++stored;
        return storeSucceeds;
    };
    form->show();
    form->tbsMain->ebxLocalBidID->setText("AnnaBell4516012345");
    ScriptedPrompt prompt;
    const auto check =
        expectBox("Save Bid Working on?", "File Write", PromptIcon::Question, Yes | No | Cancel);

    prompt.answer(Cancel, check);
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(stored, 0);

    prompt.answer(No, check);
    EXPECT_TRUE(form->close());
    EXPECT_EQ(stored, 0);

    // A store that fails keeps the window open with the bid, and says so.
    form->show();
    storeSucceeds = false;
    prompt.answer(Yes, check);
    prompt.answer(
        Ok, expectBox("Bid AnnaBell4516012345 was not stored. It stays on screen; nothing else was done.",
                      "File Write", PromptIcon::Error, Ok));
    QTest::mouseClick(form->btnExit, Qt::LeftButton);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->tbsMain->ebxLocalBidID->text(), "AnnaBell4516012345");
    EXPECT_EQ(stored, 1);

    storeSucceeds = true;
    prompt.answer(Yes, check);
    QTest::mouseClick(form->btnExit, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(stored, 2);
}

TEST_F(MainFormTest, MenuBarHoldsEveryItem) {
    auto form = start();
    struct Item {
        const char* name;
        const char* caption;
    };
    const std::vector<std::pair<Item, std::vector<Item>>> menus = {
        {{"mnuFile", "&File"}, {{"mnuExit", "E&xit"}}},
        {{"mnuBids", "&Bids"},
         {{"mnuNewBid", "&New"},
          {"mnuSelect", "&Select"},
          {"mnuDeleteBid", "&Delete"},
          {"mnuSubmit", "Su&bmit"},
          {"", ""},
          {"mnuViewStatus", "&View Status"},
          {"mnuUpdateStatus", "&Update Status"},
          {"", ""},
          {"mnuPrintStatus", "&Print Status"}}},
        {{"mnuTools", "&Tools"},
         {{"mnuSalesRefTable", "&Sales Reference Table"}, {"mnuFTPSetup", "&FTP Setup"}}},
    };
    const auto top = form->menuBar()->actions();
    ASSERT_EQ(top.size(), 3);
    for (size_t m = 0; m < menus.size(); ++m) {
        QMenu* menu = top[m]->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->objectName(), QLatin1String(menus[m].first.name));
        EXPECT_EQ(menu->title(), QString::fromUtf8(menus[m].first.caption));
        const auto items = menu->actions();
        ASSERT_EQ(items.size(), static_cast<qsizetype>(menus[m].second.size())) << menus[m].first.name;
        for (qsizetype i = 0; i < items.size(); ++i) {
            const Item& want = menus[m].second[static_cast<size_t>(i)];
            if (!*want.name) {
                EXPECT_TRUE(items[i]->isSeparator());
                continue;
            }
            EXPECT_EQ(items[i]->objectName(), QLatin1String(want.name));
            EXPECT_EQ(items[i]->text(), QString::fromUtf8(want.caption));
            EXPECT_EQ(form->findChild<QAction*>(want.name), items[i]);
        }
    }
    // The items of later parts are there and do nothing yet: no question, no window.
    form->show();
    form->findChild<QAction*>("mnuUpdateStatus")->trigger();
    form->findChild<QAction*>("mnuPrintStatus")->trigger();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainFormTest, MainPageControls) {
    auto form = start();
    MainPage* page = form->tbsMain;
    struct Control {
        const char* name;
        const char* label;
        bool readOnly;
    };
    const std::vector<Control> controls = {
        {"cbxAccountName", "Account Executive Name", false},
        {"ebxCompanyName1", "Company Name", false},
        {"cbxSSA", "SSA", true},
        {"cbxASM", "ASM", true},
        {"cbxDistrict", "District", true},
        {"ebxRACFID", "EMail ID", true},
        {"ebxSSAEmail", "SSA EMail ID", true},
        {"ebxSubmitDate", "Submit Date", true},
        {"ebxLocalBidID", "Local Bid ID", true},
        {"ebxLocalStatus", "Local Status", true},
    };
    const auto labels = page->findChildren<QLabel*>();
    for (const Control& c : controls) {
        QWidget* w = page->findChild<QWidget*>(c.name);
        ASSERT_NE(w, nullptr) << c.name;
        const QLabel* label = nullptr;
        for (const QLabel* l : labels)
            if (l->buddy() == w) label = l;
        ASSERT_NE(label, nullptr) << c.name;
        EXPECT_EQ(label->text(), QString::fromUtf8(c.label));
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            EXPECT_EQ(e->isReadOnly(), c.readOnly) << c.name;
        }
        EXPECT_EQ(bool(w->focusPolicy() & Qt::TabFocus), !c.readOnly) << c.name;
    }
    EXPECT_FALSE(page->cbxAccountName->isEditable());
    EXPECT_EQ(page->btnNewBid->text(), QStringLiteral("&New Bid"));
    EXPECT_EQ(page->btnSelectBid->text(), QStringLiteral("&Select Bid"));
    EXPECT_EQ(page->chkPortfolio->text(), QStringLiteral("Portfolio Bid?"));

    // Tab order: the five controls a person fills, in this order; nothing else of the page.
    QStringList chain;
    QWidget* w = page->cbxAccountName;
    for (int guard = 0; guard < 200 && chain.size() < 5; ++guard, w = w->nextInFocusChain())
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled())
            chain << w->objectName();
    EXPECT_EQ(chain, QStringList(
                         {"cbxAccountName", "btnNewBid", "btnSelectBid", "ebxCompanyName1", "chkPortfolio"}));

    // Keys: Tab from the account executive reaches the buttons.
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    page->cbxAccountName->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), page->cbxAccountName);
    for (QWidget* expected : std::initializer_list<QWidget*>{page->btnNewBid, page->btnSelectBid,
                                                             page->ebxCompanyName1, page->chkPortfolio}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected) << expected->objectName().toStdString();
    }
    // After the page control come the three buttons below it.
    for (QWidget* expected : std::initializer_list<QWidget*>{form->btnBack, form->btnNext, form->btnExit}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected) << expected->objectName().toStdString();
    }
    form->hide();
}

// The Main page as it is laid out: two framed groups, "Select Bid" left of "New Bid", the company name
// and the portfolio box (caption at the left) in the first group; the sales team in two columns and
// submit date, local bid ID and local status in that order in the second.
TEST_F(MainFormTest, MainPageLayout) {
    auto form = start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    MainPage* page = form->tbsMain;
    const auto groups = page->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(groups.size(), 2);
    QGroupBox* first = groups[0]->y() < groups[1]->y() ? groups[0] : groups[1];
    QGroupBox* second = first == groups[0] ? groups[1] : groups[0];
    for (QWidget* w :
         std::initializer_list<QWidget*>{page->cbxAccountName, page->btnSelectBid, page->btnNewBid,
                                         page->ebxCompanyName1, page->chkPortfolio})
        EXPECT_TRUE(first->isAncestorOf(w)) << w->objectName().toStdString();
    for (QWidget* w : std::initializer_list<QWidget*>{page->cbxSSA, page->cbxASM, page->cbxDistrict,
                                                      page->ebxRACFID, page->ebxSSAEmail, page->ebxSubmitDate,
                                                      page->ebxLocalBidID, page->ebxLocalStatus})
        EXPECT_TRUE(second->isAncestorOf(w)) << w->objectName().toStdString();
    auto at = [page](QWidget* w) { return w->mapTo(page, QPoint(0, 0)); };
    EXPECT_LT(at(page->btnSelectBid).x(), at(page->btnNewBid).x());
    EXPECT_EQ(at(page->btnSelectBid).y(), at(page->btnNewBid).y());
    EXPECT_LT(at(page->ebxCompanyName1).y(), at(page->chkPortfolio).y());
    EXPECT_EQ(page->chkPortfolio->layoutDirection(), Qt::RightToLeft) << "caption at the left";
    // Left column top to bottom; the e-mail ID to the right of the district, the SSA e-mail ID under it.
    const QWidget* column[] = {page->cbxSSA,        page->cbxASM,        page->cbxDistrict,
                               page->ebxSubmitDate, page->ebxLocalBidID, page->ebxLocalStatus};
    for (size_t i = 1; i < std::size(column); ++i) {
        EXPECT_LT(at(const_cast<QWidget*>(column[i - 1])).y(), at(const_cast<QWidget*>(column[i])).y());
        EXPECT_EQ(at(const_cast<QWidget*>(column[i - 1])).x(), at(const_cast<QWidget*>(column[i])).x());
    }
    EXPECT_EQ(at(page->ebxRACFID).y(), at(page->cbxDistrict).y());
    EXPECT_GT(at(page->ebxRACFID).x(), at(page->cbxDistrict).x() + page->cbxDistrict->width() - 1);
    EXPECT_EQ(at(page->ebxSSAEmail).x(), at(page->ebxRACFID).x());
    EXPECT_GT(at(page->ebxSSAEmail).y(), at(page->ebxRACFID).y());
    form->hide();
}

// The fields the program fills are read-only and skipped by Tab, but their text can be selected and
// copied: a click puts the cursor in them, Ctrl+A and Ctrl+C copy.
TEST_F(MainFormTest, ReadOnlyFieldsCanBeSelectedAndCopied) {
    auto form = start();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    MainPage* page = form->tbsMain;
    struct Field {
        QLineEdit* edit;
        const char* text;
    };
    for (const Field& f : {Field{page->ebxLocalBidID, "AnnaBell4098243750"},
                           Field{page->ebxSSAEmail, "ssa@vyn.example"}, Field{page->ebxRACFID, "abell"}}) {
        SCOPED_TRACE(f.text);
        f.edit->setText(QString::fromLatin1(f.text));
        QApplication::clipboard()->clear();
        QTest::mouseClick(f.edit, Qt::LeftButton, Qt::NoModifier, QPoint(4, f.edit->height() / 2));
        EXPECT_TRUE(f.edit->hasFocus());
        QTest::keyClick(f.edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(f.edit, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(), QString::fromLatin1(f.text));
        QTest::keyClick(f.edit, Qt::Key_X);
        EXPECT_EQ(f.edit->text(), QString::fromLatin1(f.text)) << "still read-only";
    }
    page->ebxLocalBidID->clear();
    form->hide();
}

TEST_F(MainFormTest, ResizeKeepsThePageControlInsideTheWindow) {
    auto form = start();
    // Laid out from the start, before the window is ever shown.
    EXPECT_EQ(form->tabEntryPages->size(), QSize(form->width() - 30, form->height() - 90));
    form->show();
    form->resize(700, 720);
    EXPECT_EQ(form->tabEntryPages->size(), QSize(670, 630));
    // The buttons sit under the page control.
    for (QPushButton* b : {form->btnBack, form->btnNext, form->btnExit})
        EXPECT_GT(b->y(), form->tabEntryPages->geometry().bottom());
    EXPECT_LT(form->btnBack->x(), form->btnNext->x());
    EXPECT_LT(form->btnNext->x(), form->btnExit->x());
    form->hide();
}

// The brokerage controls live on the Bid Profile page; the test adds stand-ins while that page does
// not have them yet.
void ensureBrokerageControls(TMainForm& form) {
    QWidget* page = form.tbsBidProfile;
    if (!form.findChild<QWidget*>("cbxBrokerage")) (new QComboBox(page))->setObjectName("cbxBrokerage");
    if (!form.findChild<QWidget*>("lblBrokerage"))
        (new QLabel("Brokerage Customer using:", page))->setObjectName("lblBrokerage");
    if (!form.findChild<QWidget*>("chbBroker"))
        (new QCheckBox("C&ustomer using VYN Brokerage?", page))->setObjectName("chbBroker");
}

TEST_F(MainFormTest, BrokerageProbeWithTheField) {
    auto form = start();
    ensureBrokerageControls(*form);
    ScriptedPrompt prompt;  // no answers: any error box fails the test
    EXPECT_TRUE(form->BrokerageProbe());
    EXPECT_FALSE(form->findChild<QWidget*>("cbxBrokerage")->isHidden());
    EXPECT_FALSE(form->findChild<QWidget*>("lblBrokerage")->isHidden());
    EXPECT_TRUE(form->findChild<QWidget*>("chbBroker")->isHidden());
    EXPECT_TRUE(prompt.shown().empty());
}

TEST_F(MainFormTest, BrokerageProbeWithoutTheFieldReportsNothing) {
    test::DataFolderOptions o;
    o.brokerage = false;
    auto form = start(o);
    ensureBrokerageControls(*form);
    ScriptedPrompt prompt;
    EXPECT_FALSE(form->BrokerageProbe());
    EXPECT_TRUE(form->findChild<QWidget*>("cbxBrokerage")->isHidden());
    EXPECT_TRUE(form->findChild<QWidget*>("lblBrokerage")->isHidden());
    EXPECT_FALSE(form->findChild<QWidget*>("chbBroker")->isHidden());
    EXPECT_TRUE(prompt.shown().empty());
    // The field-name report is on again afterwards: an unknown field is reported as before.
    const int previous = ta::code4errFieldName(form->state().DataContext, 1);
    EXPECT_NE(previous, 0);
}

TEST_F(MainFormTest, StartUpUpgradesADeliveredLayout) {
    test::makeDataFolder(tmp_.path());
    const QString data = tmp_.path() + "/data";
    ASSERT_TRUE(
        test::appendRows(data + "/Bids.dbf", {{"B1", "", "Draft"}}, {"local_bid", "subm_date", "loc_stat"}));
    ASSERT_TRUE(test::writeTable(
        data + "/newBids.dbf", {{"local_bid", 'C', 40}, {"loc_stat", 'C', 10}, {"brokerage", 'C', 60}}, {}));
    TMainForm form(tmp_.path());
    EXPECT_EQ(test::readColumn(data + "/Bids.dbf", "local_bid"), QStringList({"B1"}));
    EXPECT_EQ(test::fieldNames(data + "/Bids.dbf").size(), 3);
    EXPECT_FALSE(QFileInfo::exists(data + "/newBids.dbf"));
}

TEST_F(MainFormTest, TableErrorsAreShownAsErrorBoxes) {
    auto form = start();
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.caption, QStringLiteral("Incentive Model"));
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, Ok);
        EXPECT_TRUE(r.text.contains("NoSuchTable")) << r.text.toStdString();
    });
    EXPECT_EQ(ta::mOpen(form->state().DataContext, form->state().tablePath("NoSuchTable")), 0);
    EXPECT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(tableErrorText("/x/Bids.dbf", "The file is damaged."),
              QStringLiteral("The file is damaged.\n\nFile: /x/Bids.dbf"));
    EXPECT_EQ(tableErrorText("", "Out of memory."), QStringLiteral("Out of memory."));
}

TEST_F(MainFormTest, PickersFilledAtStartUpAndNewBidCommands) {
    auto form = start();
    int newBids = 0;
    form->newBid = [&] { ++newBids; };
    MainPage* page = form->tbsMain;
    // The pickers were filled at start-up, sorted, with nothing chosen.
    ASSERT_EQ(page->cbxAccountName->count(), 3);
    EXPECT_EQ(page->cbxAccountName->itemText(0), QStringLiteral("Anna Bell"));
    EXPECT_EQ(page->cbxAccountName->currentIndex(), -1);
    // "&New Bid" and "&New" start a new bid.
    form->show();
    QTest::mouseClick(page->btnNewBid, Qt::LeftButton);
    EXPECT_EQ(newBids, 1);
    form->mnuNewBid->trigger();
    EXPECT_EQ(newBids, 2);
    form->hide();
}

TEST_F(MainFormTest, StartsOnTheDemonstrationFolder) {
    const QString data = tmp_.path() + "/data";
    QString error;
    ASSERT_TRUE(demo::buildDemoFolder(QStringLiteral(TARVIK_SOURCE_DIR "/data/demo"), data, &error))
        << error.toStdString();
    ScriptedPrompt prompt;  // no answers: any table error fails the test
    TMainForm form(tmp_.path());
    EXPECT_TRUE(prompt.shown().empty());
    EXPECT_TRUE(QFileInfo::exists(ta::resolvePath(data + "/POSTAL.CDX")));
    EXPECT_TRUE(QFileInfo::exists(ta::resolvePath(data + "/USZIP.CDX")));
    EXPECT_TRUE(form.BrokerageProbe());
    // Every Canadian area is there under its three characters and "***", with its town.
    const int postal = ta::mOpen(form.state().DataContext, form.state().tablePath("Postal"), "Postal");
    ASSERT_GT(postal, 0);
    EXPECT_EQ(ta::d4recCountDo(postal), 1620);
    ASSERT_EQ(ta::d4seek(postal, "G5R***"), 0);
    EXPECT_EQ(ta::fetch(postal, "town"), QString::fromUtf8("RIVIÈRE-DU-LOUP"));
    ta::d4close(postal);
}

TEST_F(MainFormTest, LeavingTheShipperPostalCodeFillsCityAndProvince) {
    auto form = start();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->tabEntryPages->setCurrentIndex(1);
    auto* postal = form->findChild<QLineEdit*>(QStringLiteral("ebxPostalCode"));
    auto* city = form->findChild<QLineEdit*>(QStringLiteral("ebxCity"));
    auto* prov = form->findChild<QLineEdit*>(QStringLiteral("ebxProv"));
    ASSERT_TRUE(postal && city && prov);
    postal->setFocus();
    QTest::keyClicks(postal, QStringLiteral("k1a0b1"));
    QTest::keyClick(postal, Qt::Key_Tab);
    EXPECT_EQ(postal->text(), QStringLiteral("K1A 0B1"));
    EXPECT_EQ(city->text(), QStringLiteral("Ottawa"));
    EXPECT_EQ(prov->text(), QStringLiteral("ON"));
}

TEST_F(MainFormTest, FindReplaceWindowGetsTheMainWindowsLook) {
    auto form = start();
    form->show();
    form->tabEntryPages->setCurrentWidget(form->tbsShipmentData);
    auto* button = form->findChild<QPushButton*>(QStringLiteral("btnFindRepl"));
    ASSERT_NE(button, nullptr);
    QString look;
    bool ownerless = false;
    test::whenModalShown([&](QWidget* w) {
        look = w->styleSheet();
        ownerless = w->parentWidget() == nullptr;
        QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("Button2")), Qt::LeftButton);
    });
    ScriptedPrompt prompt;  // the code check after the window finds nothing to report
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(ownerless);
    EXPECT_FALSE(look.isEmpty());
    EXPECT_EQ(look, form->styleSheet());
    EXPECT_TRUE(prompt.shown().empty());
    form->hide();
}

// With MOB off the From Postal boxes of Find/Replace are disabled, and look it in the program's palette:
// their field is not the white of the enabled To Postal boxes, and their row label is greyed too.
TEST_F(MainFormTest, FindReplaceFromPostalBoxesLookDisabledWhenMobIsOff) {
    const QPalette before = QApplication::palette();
    QApplication::setPalette(applicationPalette(QApplication::style()->standardPalette()));
    auto form = start();
    form->show();
    form->tabEntryPages->setCurrentWidget(form->tbsShipmentData);
    auto* button = form->findChild<QPushButton*>(QStringLiteral("btnFindRepl"));
    ASSERT_NE(button, nullptr);
    auto* mob = form->findChild<QCheckBox*>(QStringLiteral("chbMOB"));
    for (bool mobOn : {false, true}) {
        SCOPED_TRACE(mobOn ? "MOB on" : "MOB off");
        mob->setChecked(mobOn);
        QColor fromField, toField;
        bool fromEnabled = !mobOn, labelEnabled = !mobOn;
        test::whenModalShown([&](QWidget* w) {
            auto* fromFind = w->findChild<QLineEdit*>(QStringLiteral("ebxFromFind"));
            auto* find = w->findChild<QLineEdit*>(QStringLiteral("ebxFind"));
            fromEnabled = fromFind->isEnabled();
            labelEnabled = w->findChild<QLabel*>(QStringLiteral("Label3"))->isEnabled();
            // The field's inside, away from its frame and text.
            const QPoint inside(fromFind->width() - 6, fromFind->height() / 2);
            fromField = fromFind->grab().toImage().pixelColor(inside);
            toField = find->grab().toImage().pixelColor(inside);
            QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("Button2")), Qt::LeftButton);
        });
        ScriptedPrompt prompt;
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(fromEnabled, mobOn);
        EXPECT_EQ(labelEnabled, mobOn);
        if (mobOn)
            EXPECT_EQ(fromField, toField);
        else
            EXPECT_NE(fromField, toField) << "a disabled box does not look like an enabled one";
    }
    form->hide();
    form.reset();
    QApplication::setPalette(before);
}

TEST_F(MainFormTest, ExpandedStrategyWindowListsTheDistributionSourcesAsTheTableHoldsThemNow) {
    auto form = start();
    // A source added after start-up is offered by the expanded window, though the page's picker
    // still shows the list of the last refill.
    ASSERT_TRUE(test::appendRows(form->state().tablePath("DistributionSrc.dbf"), {{"Trade Show", "TRD"}}));
    auto* expand = form->findChild<QPushButton*>(QStringLiteral("btnExpand"));
    ASSERT_NE(expand, nullptr);
    QStringList offered;
    test::whenModalShown([&](QWidget* dialog) {
        auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("cbxSourceDist"));
        for (int i = 0; combo && i < combo->count(); ++i) offered << combo->itemText(i);
        dialog->close();
    });
    form->show();
    form->tabEntryPages->setCurrentIndex(3);
    QTest::mouseClick(expand, Qt::LeftButton);
    EXPECT_TRUE(offered.contains(QStringLiteral("Trade Show"))) << offered.join(", ").toStdString();
    EXPECT_TRUE(offered.contains(QStringLiteral("Catalogue")));
    form->hide();
}

TEST_F(MainFormTest, TheNewPageTakesTheFocus) {
    auto form = start();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTabWidget* tabs = form->tabEntryPages;
    const QStringList firstControls = {"", "", "IncentiveGrid", "", "CubeGrid", "ShipmentGrid"};
    for (int i = 1; i <= 6; ++i) {
        QTest::mouseClick(form->btnNext, Qt::LeftButton);
        QWidget* page = tabs->currentWidget();
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        // Focus is on a control of the new page that the user can see, not on the button.
        EXPECT_TRUE(page->isAncestorOf(focus))
            << page->objectName().toStdString() << " focus on " << focus->objectName().toStdString();
        EXPECT_TRUE(focus->isVisible());
        const QString want = firstControls[i % 6];
        if (!want.isEmpty()) {
            EXPECT_EQ(focus->objectName(), want);
        }
    }
    // Back to Main: the account executive.
    EXPECT_EQ(QApplication::focusWidget(), form->tbsMain->cbxAccountName);
    QTest::mouseClick(form->btnBack, Qt::LeftButton);
    EXPECT_TRUE(form->tbsShipmentData->isAncestorOf(QApplication::focusWidget()));
    form->hide();
}

// A key as the window system delivers it to the focused control (Shift+Tab arrives as Backtab).
void pressKey(int key, Qt::KeyboardModifiers modifiers) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(focus, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(QApplication::focusWidget(), &release);
}

// The grids take Tab and Shift+Tab to move between their cells, but never keep the keyboard in: past
// the last (first) cell the focus moves on to the next (previous) control, Ctrl+Tab and Ctrl+Shift+Tab
// leave from any cell (an open cell editor too), and Ctrl+PgDown / Ctrl+PgUp switch the page.
TEST_F(MainFormTest, GridsLetTheKeyboardOut) {
    auto form = start();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTabWidget* tabs = form->tabEntryPages;
    struct Page {
        QWidget* page;
        StringGrid* grid;
        QWidget* after;   // the control Tab reaches after the grid
        QWidget* before;  // the control Shift+Tab reaches before it
    };
    QTabBar* tabBar = tabs->tabBar();
    const Page pages[] = {
        {form->tbsServices, form->tbsServices->incentiveGrid(), form->btnBack, tabBar},
        {form->tbsCubeAnalysis, form->tbsCubeAnalysis->findChild<StringGrid*>("CubeGrid"),
         form->tbsCubeAnalysis->findChild<RadioGroup*>("rgInfoSource")->button(0), tabBar},
        {form->tbsShipmentData, form->tbsShipmentData->shipmentGrid(),
         form->tbsShipmentData->findChild<QWidget*>("btnImport"), tabBar},
    };
    for (const Page& p : pages) {
        SCOPED_TRACE(p.page->objectName().toStdString());
        ASSERT_NE(p.grid, nullptr);
        tabs->setCurrentWidget(p.page);
        const int pageIndex = tabs->currentIndex();
        const int lastCol = p.grid->colCount() - 1, lastRow = p.grid->rowCount() - 1;
        const int midCol = 2, midRow = 2;
        auto focusCell = [&](int col, int row) {
            p.grid->setFocus(Qt::MouseFocusReason);
            p.grid->setCurrentCell(col, row, true);
        };
        auto inGrid = [&] {
            QWidget* f = QApplication::focusWidget();
            return f == p.grid || p.grid->isAncestorOf(f);
        };
        struct Case {
            const char* what;
            int col, row;
            bool openEditor;
            int key;
            Qt::KeyboardModifiers modifiers;
            QWidget* expected;  // nullptr: stays in the grid, one cell on
        };
        const Case cases[] = {
            {"Tab inside the grid moves one cell", midCol, midRow, false, Qt::Key_Tab, Qt::NoModifier,
             nullptr},
            {"Tab on the last cell", lastCol, lastRow, false, Qt::Key_Tab, Qt::NoModifier, p.after},
            {"Tab on the last cell while editing it", 2, lastRow, true, Qt::Key_Tab, Qt::NoModifier, nullptr},
            {"Shift+Tab on the first cell", 1, 1, false, Qt::Key_Backtab, Qt::ShiftModifier, p.before},
            {"Ctrl+Tab from a middle cell", midCol, midRow, false, Qt::Key_Tab, Qt::ControlModifier, p.after},
            {"Ctrl+Shift+Tab from a middle cell", midCol, midRow, false, Qt::Key_Backtab,
             Qt::ControlModifier | Qt::ShiftModifier, p.before},
            {"Ctrl+Tab from an open editor", midCol, midRow, true, Qt::Key_Tab, Qt::ControlModifier, p.after},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            focusCell(c.col, c.row);
            if (c.openEditor && !(p.grid->model()->flags(p.grid->currentIndex()) & Qt::ItemIsEditable))
                continue;
            if (c.openEditor) {
                p.grid->openEditor();
                ASSERT_TRUE(p.grid->isEditing());
            }
            pressKey(c.key, c.modifiers);
            EXPECT_EQ(tabs->currentIndex(), pageIndex) << "the page stays";
            if (c.expected) {
                EXPECT_FALSE(inGrid());
                EXPECT_EQ(QApplication::focusWidget(), c.expected)
                    << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                                    : "");
                EXPECT_FALSE(p.grid->isEditing());
            } else {
                EXPECT_TRUE(inGrid());
                EXPECT_NE(p.grid->col() * 100000 + p.grid->row(), c.col * 100000 + c.row) << "moved one cell";
            }
        }
        // The page switch from a grid cell.
        focusCell(midCol, midRow);
        pressKey(Qt::Key_PageDown, Qt::ControlModifier);
        EXPECT_EQ(tabs->currentIndex(), (pageIndex + 1) % tabs->count());
        tabs->setCurrentWidget(p.page);
        focusCell(midCol, midRow);
        pressKey(Qt::Key_PageUp, Qt::ControlModifier);
        EXPECT_EQ(tabs->currentIndex(), pageIndex - 1);
        tabs->setCurrentWidget(p.page);
    }
    form->tbsMain->ebxLocalBidID->clear();
    form->hide();
}

}  // namespace
}  // namespace tarvik
