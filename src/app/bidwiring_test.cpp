#include "app/bidwiring.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/tmainform.h"
#include "pages/choicegroups.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "tableaccess/tableaccess.h"
#include "tableedit/dbeditform.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {
namespace {

using test::ScriptedPrompt;

// The real main window over a test data folder, wired as the program wires it.
class BidWiringTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        test::makeDataFolder(tmp_.path());
        clock_ = std::make_unique<test::FixedClock>(QDateTime(QDate(2000, 1, 1), QTime(6, 0)));
        form_ = std::make_unique<TMainForm>(tmp_.path());
        wireBidStore(*form_);
    }
    void TearDown() override {
        form_.reset();
        clock_.reset();
    }
    QStringList column(const QString& table, const QString& field) {
        return test::readColumn(form_->state().tablePath(table), field);
    }
    // Chooses an account executive the way the user does (the combo's activation).
    void chooseExecutive(int index) {
        QComboBox* c = form_->tbsMain->cbxAccountName;
        c->setCurrentIndex(index);
        emit c->activated(index);
    }

    QTemporaryDir tmp_;
    std::unique_ptr<test::FixedClock> clock_;
    std::unique_ptr<TMainForm> form_;
};

TEST_F(BidWiringTest, ExecutiveQuestionStartsABidAndTheCloseQuestionStoresIt) {
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Create new Bid?"); });
        chooseExecutive(0);
    }
    EXPECT_EQ(form_->tbsMain->ebxLocalBidID->text(), "AnnaBell3652625000");
    EXPECT_EQ(form_->tbsMain->ebxLocalStatus->text(), "Draft");
    EXPECT_EQ(form_->tbsMain->cbxSSA->text(), "Sam Price") << "the sales team of the executive";
    EXPECT_FALSE(form_->state().FNewBidGuard);

    chooseExecutive(2);  // a bid is open: no question, no new bid
    EXPECT_EQ(form_->tbsMain->ebxLocalBidID->text(), "AnnaBell3652625000");

    form_->tbsMain->ebxCompanyName1->setText(QStringLiteral("Closing Co"));
    StringGrid* grid = form_->tbsShipmentData->shipmentGrid();
    grid->setCell(ShipmentPage::ColService, 1, QStringLiteral("Express"));
    grid->setCell(ShipmentPage::ColTotPcs, 1, QStringLiteral("3"));
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Save Bid Working on?");
            EXPECT_EQ(r.caption, "File Write");
        });
        EXPECT_TRUE(form_->FormCloseQuery());
    }
    EXPECT_EQ(column("Bids", "local_bid"), QStringList{"AnnaBell3652625000"});
    EXPECT_EQ(column("Bids", "comp_name"), QStringList{"Closing Co"});
    EXPECT_EQ(column("BidTail", "tot_pcs"), QStringList{"3"});
}

// Picks the record with that number in the next record picker (0: Cancel).
void pickNext(int record) {
    test::whenModalShown([record](QWidget* modal) {
        auto* picker = qobject_cast<TDBeditForm*>(modal);
        ASSERT_NE(picker, nullptr);
        if (record == 0) {
            QTest::mouseClick(picker->findChild<QPushButton*>("btnExit"), Qt::LeftButton);
            return;
        }
        StringGrid* g = picker->grid();
        for (int r = 1; r < g->rowCount(); ++r)
            if (g->cell(0, r) == QString::number(record)) g->setCurrentCell(1, r, true);
        QTest::mouseClick(picker->findChild<QPushButton*>("btnOpen"), Qt::LeftButton);
    });
}

TEST_F(BidWiringTest, NewSelectDeleteAndMobCommands) {
    {
        ScriptedPrompt prompt;
        prompt.answer(No);  // "Create new Bid?"
        chooseExecutive(1);
    }
    EXPECT_EQ(form_->tbsMain->ebxLocalBidID->text(), "");
    QTest::mouseClick(form_->tbsMain->btnNewBid, Qt::LeftButton);
    const QString id = form_->tbsMain->ebxLocalBidID->text();
    EXPECT_EQ(id, "CarlONeil3652625000");
    form_->storeBid();
    {
        ScriptedPrompt prompt;
        prompt.answer(Cancel, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Save Bid Working on?");
            EXPECT_EQ(r.caption, applicationTitle()) << "the new-bid form of the question";
        });
        form_->mnuNewBid->trigger();
    }
    EXPECT_EQ(form_->tbsMain->ebxLocalBidID->text(), id);

    form_->tbsShipperProfile->chbMOB()->setChecked(true);
    EXPECT_FALSE(form_->tbsShipmentData->shipmentGrid()->isColHiddenInGrid(ShipmentPage::ColFromPost));
    form_->tbsShipperProfile->chbMOB()->setChecked(false);
    EXPECT_TRUE(form_->tbsShipmentData->shipmentGrid()->isColHiddenInGrid(ShipmentPage::ColFromPost));

    {
        ScriptedPrompt prompt;
        prompt.answer(No, [](const PromptRequest& r) { EXPECT_EQ(r.caption, "File Write"); });
        pickNext(1);
        form_->mnuSelect->trigger();
    }
    EXPECT_EQ(form_->state().FBidRecNo, 1);
    EXPECT_EQ(form_->tbsMain->ebxLocalBidID->text(), id);
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes, [&](const PromptRequest& r) { EXPECT_EQ(r.text, "Delete Bid: " + id); });
        pickNext(1);
        form_->mnuDeleteBid->trigger();
    }
    EXPECT_TRUE(column("Bids", "local_bid").isEmpty());
    {
        ScriptedPrompt prompt;
        prompt.answer(No);  // the bid still on screen
        pickNext(0);
        QTest::mouseClick(form_->tbsMain->btnSelectBid, Qt::LeftButton);
    }
}

// "&Update Status" of the Bids menu starts the transfer program for the tables waiting in Send.
TEST_F(BidWiringTest, UpdateStatusStartsTheTransferForWhatWaitsInSend) {
    test::RecordingLauncher launcher;
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok,
                      [](const PromptRequest& r) { EXPECT_TRUE(r.text.startsWith("No bid is waiting")); });
        form_->mnuUpdateStatus->trigger();
    }
    EXPECT_TRUE(launcher.starts.empty());
    ASSERT_TRUE(QDir(tmp_.path()).mkpath(QStringLiteral("Send")));
    QFile waiting(tmp_.path() + QStringLiteral("/Send/Bid7Head.dbf"));
    ASSERT_TRUE(waiting.open(QIODevice::WriteOnly));
    waiting.close();
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) { EXPECT_TRUE(r.text.contains("1 file(s) waiting")); });
        form_->mnuUpdateStatus->trigger();
    }
    ASSERT_EQ(launcher.starts.size(), 1u);
    EXPECT_EQ(launcher.starts[0].program, tmp_.path() + QStringLiteral("/relayo2"));
}

// Fails the running test when a modal window (a picker) opens while it lives, and closes that window.
class NoModalWindow {
  public:
    NoModalWindow() {
        QObject::connect(&timer_, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                ADD_FAILURE() << "unexpected window " << modal->objectName().toStdString();
                modal->close();
            }
        });
        timer_.start(5);
    }

  private:
    QTimer timer_;
};

// Leaving the bid on screen with "Yes" to "Save Bid Working on?" while a bid table cannot be written: the
// table error shows, then "was not stored", and the window keeps the bid with everything typed. Each
// flow that passes the save question, with either table missing.
TEST_F(BidWiringTest, AStoreThatFailsKeepsTheBidOnScreenInEveryFlowThatLeavesIt) {
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes);  // "Create new Bid?"
        chooseExecutive(0);
    }
    const QString id = form_->tbsMain->ebxLocalBidID->text();
    ASSERT_FALSE(id.isEmpty());
    StringGrid* grid = form_->tbsShipmentData->shipmentGrid();
    const QString data = form_->state().FDataFolder;

    struct Flow {
        const char* name;
        std::function<void(TMainForm&)> run;
    };
    const Flow flows[] = {
        {"exit", [](TMainForm& f) { EXPECT_FALSE(f.close()); }},
        {"new bid", [](TMainForm& f) { QTest::mouseClick(f.tbsMain->btnNewBid, Qt::LeftButton); }},
        {"new menu", [](TMainForm& f) { f.mnuNewBid->trigger(); }},
        {"select", [](TMainForm& f) { QTest::mouseClick(f.tbsMain->btnSelectBid, Qt::LeftButton); }},
        {"select menu", [](TMainForm& f) { f.mnuSelect->trigger(); }},
    };
    for (const char* table : {"Bids.dbf", "BidTail.dbf"}) {
        for (const Flow& flow : flows) {
            SCOPED_TRACE(std::string(table) + " missing, " + flow.name);
            form_->show();
            form_->tbsMain->ebxCompanyName1->setText(QStringLiteral("Unsaved Co"));
            grid->setCell(ShipmentPage::ColService, 1, QStringLiteral("Express"));
            grid->setCell(ShipmentPage::ColTotPcs, 1, QStringLiteral("7"));
            ASSERT_TRUE(QFile::rename(data + QLatin1Char('/') + QLatin1String(table),
                                      data + QStringLiteral("/away")));
            {
                ScriptedPrompt prompt;
                prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Save Bid Working on?"); });
                prompt.answer(Ok, [&](const PromptRequest& r) {
                    EXPECT_EQ(r.icon, PromptIcon::Error);
                    EXPECT_TRUE(r.text.contains(QLatin1String(table), Qt::CaseInsensitive))
                        << r.text.toStdString();
                });
                prompt.answer(Ok, [&](const PromptRequest& r) {
                    EXPECT_EQ(r.text,
                              "Bid " + id + " was not stored. It stays on screen; nothing else was done.");
                    EXPECT_EQ(r.icon, PromptIcon::Error);
                });
                NoModalWindow noPicker;
                flow.run(*form_);
            }
            ASSERT_TRUE(QFile::rename(data + QStringLiteral("/away"),
                                      data + QLatin1Char('/') + QLatin1String(table)));
            EXPECT_TRUE(form_->isVisible());
            EXPECT_EQ(form_->tbsMain->ebxLocalBidID->text(), id);
            EXPECT_EQ(form_->tbsMain->ebxCompanyName1->text(), "Unsaved Co");
            EXPECT_EQ(grid->cell(ShipmentPage::ColService, 1), "Express");
            EXPECT_EQ(grid->cell(ShipmentPage::ColTotPcs, 1), "7");
        }
    }
    // With the tables back, the same answer stores the bid and the window may close.
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes);
        EXPECT_TRUE(form_->FormCloseQuery());
    }
    EXPECT_EQ(column("Bids", "local_bid"), QStringList{id});
    EXPECT_EQ(column("BidTail", "tot_pcs"), QStringList{"7"});
}

// A submitted bid selected again on a later day shows the day it was submitted, in the short date form
// that storing reads back: storing the loaded bid again keeps that date.
TEST_F(BidWiringTest, SubmitDateShownAfterALaterSelectAndStoredAgainUnchanged) {
    clock_->time = QDateTime(QDate(2026, 3, 14), QTime(9, 30));
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes);  // "Create new Bid?"
        chooseExecutive(0);
    }
    const QString id = form_->tbsMain->ebxLocalBidID->text();
    ASSERT_FALSE(id.isEmpty());
    // What the completeness checks ask for, and one line with its service's volume.
    auto get = [this](const char* name) { return form_->findChild<QWidget*>(QLatin1String(name)); };
    qobject_cast<QLineEdit*>(get("ebxBusiness"))->setText(QStringLiteral("40"));
    for (const char* name :
         {"cbxIndustry", "cbxCompetitorName", "cbxBrokerage", "cbxPLDTypes", "cbxCustSource", "cbxSourceDist"}) {
        auto* c = qobject_cast<QComboBox*>(get(name));
        ASSERT_NE(c, nullptr) << name;
        if (c->count() == 0) c->addItem(QStringLiteral("Chosen"));
        c->setCurrentIndex(c->count() > 1 ? 1 : 0);
    }
    for (const char* name : {"rgBidType", "rgStrategy", "rgInfoSource", "rgBillWeight"})
        qobject_cast<RadioGroup*>(get(name))->setItemIndex(0);
    qobject_cast<QCheckBox*>(get("chbValueYes"))->setChecked(true);
    qobject_cast<QCheckBox*>(get("chbResellerNo"))->setChecked(true);
    StringGrid* lines = form_->tbsShipmentData->shipmentGrid();
    lines->setCell(ShipmentPage::ColService, 1, QStringLiteral("Express"));
    lines->setCell(ShipmentPage::ColTotPcs, 1, QStringLiteral("2"));
    StringGrid* volumes = form_->tbsServices->incentiveGrid();
    for (int r = 0; r < volumes->rowCount(); ++r)
        if (volumes->cell(0, r).trimmed() == QLatin1String("Express")) volumes->setCell(2, r, QStringLiteral("12"));

    test::RecordingLauncher launcher;
    {
        ScriptedPrompt prompt;  // a complete bid asks nothing, and the user learns it was handed over
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_TRUE(
                r.text.contains(QStringLiteral("was handed to the File Transfer Program for sending")))
                << r.text.toStdString();
            EXPECT_EQ(r.icon, PromptIcon::Information);
        });
        QTest::mouseClick(form_->findChild<QPushButton*>(QStringLiteral("btnSubmitBid")), Qt::LeftButton);
    }
    ASSERT_EQ(launcher.starts.size(), 1u);
    ASSERT_EQ(form_->tbsMain->ebxLocalBidID->text(), "") << "submission clears the window";

    clock_->time = QDateTime(QDate(2026, 4, 2), QTime(8, 0));
    pickNext(1);
    form_->mnuSelect->trigger();  // no bid open: no save question
    EXPECT_EQ(form_->tbsMain->ebxLocalBidID->text(), id);
    EXPECT_EQ(form_->tbsMain->ebxLocalStatus->text(), "Submitted");
    const QString shown = form_->tbsMain->ebxSubmitDate->text();
    EXPECT_EQ(shown, dateToText(QDate(2026, 3, 14)));
    EXPECT_TRUE(shown.contains(QLatin1String("2026"))) << "a four-digit year: " << shown.toStdString();
    EXPECT_EQ(textToDate(shown), QDate(2026, 3, 14));

    {
        ScriptedPrompt prompt;
        prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Save Bid Working on?"); });
        EXPECT_TRUE(form_->FormCloseQuery());
    }
    const int bids = ta::mOpen(form_->state().DataContext, form_->state().tablePath(QStringLiteral("Bids")));
    ASSERT_GT(bids, 0);
    ASSERT_EQ(ta::d4recCountDo(bids), 1);
    ta::d4go(bids, 1);
    EXPECT_EQ(ta::dtfetch(bids, "subm_date"), QDate(2026, 3, 14)) << "the shown date reads back as stored";
    EXPECT_EQ(ta::fetch(bids, "loc_stat"), "Submitted");
    ta::d4close(bids);
}

}  // namespace
}  // namespace tarvik
