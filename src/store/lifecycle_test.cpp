#include "store/lifecycle.h"

#include <QPushButton>
#include <QTest>

#include "store/bidwindow_test.h"
#include "store/loadbid.h"
#include "store/storebid.h"
#include "tableedit/dbeditform.h"
#include "widgets/seams.h"

namespace tarvik {
namespace {

using test::BidWindowTest;
using test::ScriptedPrompt;

class LifecycleTest : public BidWindowTest {
protected:
    void SetUp() override {
        BidWindowTest::SetUp();
        clock_ = std::make_unique<test::FixedClock>(QDateTime(QDate(2000, 1, 1), QTime(6, 0)));
        LifecycleHooks h;
        h.accountNameChange = [this] {
            guardSeen_ << state_.FNewBidGuard;
            main->cbxSSA->setText(QStringLiteral("sales team of ") +
                                  main->cbxAccountName->currentText().left(20));
        };
        setLifecycleHooks(h);
    }
    void TearDown() override {
        setLifecycleHooks({});
        clock_.reset();
        BidWindowTest::TearDown();
    }

    // Stores a bid with that ID and number of lines, then leaves the window cleared.
    void storeBid(const QString& id, int lines) {
        ClearBidWindow(w(), state_);
        main->ebxLocalBidID->setText(id);
        main->ebxCompanyName1->setText(QStringLiteral("Company ") + id);
        for (int r = 1; r <= lines; ++r) setLine(r, QStringLiteral("Express"), r);
        StoreBid(w(), state_);
        ClearBidWindow(w(), state_);
    }

    // The next record picker: checks the record it opens on, then chooses the record with that number
    // (0: Cancel).
    void pickNext(int record, int expectedStartRecord = -1) {
        test::whenModalShown([=](QWidget* modal) {
            auto* picker = qobject_cast<TDBeditForm*>(modal);
            ASSERT_NE(picker, nullptr);
            EXPECT_TRUE(picker->pickerMode());
            StringGrid* g = picker->grid();
            if (expectedStartRecord > 0) EXPECT_EQ(g->cell(0, g->row()), QString::number(expectedStartRecord));
            if (record == 0) {
                QTest::mouseClick(picker->findChild<QPushButton*>("btnExit"), Qt::LeftButton);
                return;
            }
            // The picker lists the bids sorted by ID: find the record's row.
            for (int r = 1; r < g->rowCount(); ++r)
                if (g->cell(0, r) == QString::number(record)) g->setCurrentCell(1, r, true);
            ASSERT_EQ(g->cell(0, g->row()), QString::number(record));
            QTest::mouseClick(picker->findChild<QPushButton*>("btnOpen"), Qt::LeftButton);
        });
    }

    std::unique_ptr<test::FixedClock> clock_;
    QList<bool> guardSeen_;
};

TEST_F(LifecycleTest, BidIdOfANameWithBlanksAndPunctuation) {
    // 1 January 2000 is day 36526 after 30 December 1899; 06:00 is a quarter of a day.
    EXPECT_EQ(BidIdAt("  Carl O'Neil-Smith, Jr. ", QDateTime(QDate(2000, 1, 1), QTime(6, 0))),
              "CarlONeilSmithJr3652625000");
    EXPECT_EQ(BidIdAt("Anna Bell", QDateTime(QDate(2000, 1, 1), QTime(6, 0)), 1), "AnnaBell3652625001");
    EXPECT_EQ(BidIdAt("Anna Bell", QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 999)), 0), "AnnaBell3652600000")
        << "the last instant of a day rounds up to the next";
    // 1.296 seconds is exactly 1.5 steps; the printed day number 36526.000015 rounds as its binary value
    // lies, below the half, whereas the product with 100000 would round up.
    EXPECT_EQ(BidIdAt("Anna Bell", QDateTime(QDate(2000, 1, 1), QTime(0, 0, 1, 296))), "AnnaBell3652600001");
    EXPECT_EQ(BidIdAt("Anna Bell", QDateTime(QDate(2000, 1, 1), QTime(0, 0, 1, 296)), 1), "AnnaBell3652600002");
    EXPECT_EQ(BidIdAt("Anna Bell", QDateTime(QDate(2000, 1, 1), QTime(0, 0, 7, 344))), "AnnaBell3652600008");
}

// An executive whose name alone nearly fills `local_bid`: the ID keeps its whole time stamp and gives up
// the end of the name, so that it fits the narrower `local_bid` of the two bid tables. Stored again and
// again it stays one header with its lines, and deleting it leaves nothing behind.
TEST_F(LifecycleTest, AnIdFromALongNameFitsLocalBidAndStoresOnce) {
    const QString name = QStringLiteral("Marie-Christine Beauchemin-Lavallee");  // 32 letters
    EXPECT_EQ(BidIdAt(name, QDateTime(QDate(2000, 1, 1), QTime(6, 0))).size(), 42)
        << "what the name alone gives";
    EXPECT_EQ(BidIdAt(name, QDateTime(QDate(2000, 1, 1), QTime(6, 0)), 1, 40),
              "MarieChristineBeaucheminLavall3652625001");
    EXPECT_EQ(BidIdAt(name, QDateTime(QDate(2000, 1, 1), QTime(6, 0)), 0, 8), "3652625000")
        << "the time stamp is never shortened";

    struct Layout {
        int bidsWidth;
        int tailWidth;
        QString id;
    };
    const Layout layouts[] = {
        {40, 40, QStringLiteral("MarieChristineBeaucheminLavall3652625000")},
        {40, 24, QStringLiteral("MarieChristine3652625000")},  // a delivered detail table, narrower
        {20, 40, QStringLiteral("MarieChris3652625000")},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.id.toStdString());
        window_.reset();
        makeWindow(test::DataFolderOptions{});
        std::vector<test::FieldSpec> bids = demo::bidsLayout(demo::stemsOf(test::testServices()));
        std::vector<test::FieldSpec> tail = demo::bidTailLayout();
        for (auto* layout : {&bids, &tail})
            for (test::FieldSpec& f : *layout)
                if (f.name == QLatin1String("local_bid"))
                    f.length = layout == &bids ? l.bidsWidth : l.tailWidth;
        ta::CloseData(state_.DataContext);
        ASSERT_TRUE(test::createTable(bidsPath(), bids));
        ASSERT_TRUE(test::createTable(tailPath(), tail));
        state_.DataContext = ta::OpenData();

        main->cbxAccountName->addItem(name);
        main->cbxAccountName->setCurrentIndex(main->cbxAccountName->count() - 1);
        NewBid(w(), state_);
        const QString id = main->ebxLocalBidID->text();
        EXPECT_EQ(id, l.id);
        EXPECT_LE(id.size(), std::min(l.bidsWidth, l.tailWidth));
        main->ebxCompanyName1->setText(QStringLiteral("Long Name Freight"));
        setLine(1, QStringLiteral("Express"), 1);
        setLine(2, QStringLiteral("Express"), 2);
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(StoreBid(w(), state_));
        EXPECT_EQ(column("Bids", "local_bid"), QStringList{id});
        EXPECT_EQ(column("BidTail", "local_bid"), (QStringList{id, id}));

        ClearBidWindow(w(), state_);
        pickNext(1);
        SelectBid(w(), state_);
        EXPECT_EQ(main->ebxLocalBidID->text(), id);
        EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, 2), "2");
        EXPECT_TRUE(shipment->lineIsEmpty(3));

        ScriptedPrompt prompt;
        prompt.answer(Yes, [&](const PromptRequest& r) { EXPECT_EQ(r.text, "Delete Bid: " + id); });
        pickNext(1);
        DeleteBid(w(), state_);
        EXPECT_EQ(test::recordCount(bidsPath()), 0);
        EXPECT_EQ(test::recordCount(tailPath()), 0);
    }
}

// A header written with an ID longer than `local_bid` (cut by the table) is found by that ID: lookups
// compare IDs as the table stores them.
TEST_F(LifecycleTest, LookupsCompareIdsAsStored) {
    const QString longId = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");  // 52
    ASSERT_TRUE(test::appendRows(bidsPath(), {{longId.left(40), QStringLiteral("Draft")}},
                                 {QStringLiteral("local_bid"), QStringLiteral("loc_stat")}));
    ASSERT_TRUE(test::appendRows(tailPath(), {{longId.left(40), QStringLiteral("Express")}},
                                 {QStringLiteral("local_bid"), QStringLiteral("svc_desc")}));
    for (const char* table : {"Bids", "BidTail"}) {
        const int t = open(QLatin1String(table));
        ASSERT_GT(t, 0);
        EXPECT_EQ(findRecords(t, state_.tablePath(QLatin1String(table)), QStringLiteral("local_bid"), longId)
                      .records,
                  std::vector<int>{1})
            << table;
        EXPECT_EQ(findRecordsByLocate(t, QStringLiteral("local_bid"), longId).records, std::vector<int>{})
            << "the plain search alone misses it";
        ta::d4close(t);
    }
}

// A bid whose last line used Ground from M5V 3L9, then the window is given another bid: a new bid, a
// selected bid, or the clearing after a submission. Line 1 of the next bid stays empty when the page is
// shown, the service picker shows nothing, leaving it writes nothing, and the next bid stores no line.
TEST_F(LifecycleTest, NothingOfOneBidAppearsInTheNext) {
    storeBid(QStringLiteral("Other"), 0);  // record 1: a stored bid without lines
    struct Flow {
        const char* name;
        std::function<void()> run;
    };
    const Flow flows[] = {
        {"new bid",
         [this] {
             ScriptedPrompt prompt;
             prompt.answer(No);
             NewBid(w(), state_);
         }},
        {"select",
         [this] {
             ScriptedPrompt prompt;
             prompt.answer(No);
             pickNext(1);
             SelectBid(w(), state_);
         }},
        {"cleared after a submission",
         [this] {
             ClearBidWindow(w(), state_);
             main->ebxLocalBidID->setText(QStringLiteral("Later1"));
         }},
    };
    window_->show();
    QComboBox* picker = shipment->servicesPicker();
    for (const Flow& flow : flows) {
        SCOPED_TRACE(flow.name);
        ClearBidWindow(w(), state_);
        main->cbxAccountName->setCurrentIndex(0);
        main->ebxLocalBidID->setText(QStringLiteral("First1"));
        tabs->setCurrentWidget(shipment);
        shipment->tbsShipmentDataShow();
        shipment->ShipmentGridSetEditText(ShipmentPage::ColFromPost, 1, QStringLiteral("M5V3L9"));
        picker->setCurrentIndex(picker->findText(QStringLiteral("Ground")));
        emit picker->activated(picker->currentIndex());
        shipment->cbxServicesExit();
        ASSERT_EQ(shipGrid()->cell(ShipmentPage::ColService, 1), "Ground");
        ASSERT_EQ(state_.FLastFromPostal, "M5V3L9");

        flow.run();
        const QString next = main->ebxLocalBidID->text();
        ASSERT_FALSE(next.isEmpty());
        ASSERT_NE(next, "First1");
        EXPECT_EQ(picker->currentText(), "") << "the picker keeps nothing of the earlier bid";
        tabs->setCurrentWidget(main);
        tabs->setCurrentWidget(shipment);
        shipment->tbsShipmentDataShow();
        picker->setFocus();
        shipment->cbxServicesExit();
        EXPECT_TRUE(shipment->lineIsEmpty(1))
            << shipGrid()->cell(ShipmentPage::ColService, 1).toStdString() << " / "
            << shipGrid()->cell(ShipmentPage::ColFromPost, 1).toStdString();
        EXPECT_TRUE(state_.FLastFromPostal.isEmpty());
        EXPECT_TRUE(StoreBid(w(), state_));
        EXPECT_FALSE(column("BidTail", "local_bid").contains(next)) << "the next bid stores no line";
    }
}

TEST_F(LifecycleTest, NewBidNeedsAnAccountExecutive) {
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Please Select an Account Executive Name...");
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, Ok);
    });
    NewBid(w(), state_);
    EXPECT_EQ(main->ebxLocalBidID->text(), "");
    EXPECT_FALSE(state_.FNewBidGuard);
}

TEST_F(LifecycleTest, NewBidGivesIdDraftAndTheDefaultsOfAFreshBid) {
    main->cbxAccountName->setCurrentIndex(1);
    shipper->ebxShipper()->setText(QStringLiteral("4711"));
    profile->ebxAssociated()->setText(QStringLiteral("other"));
    profile->cgBillingOption()->setItemChecked(1, true);
    profile->chbMultiOnly()->setChecked(false);
    setLine(1, QStringLiteral("Express"), 1);
    volumeGrid()->setCell(1, volumeRow("gndm"), QStringLiteral("5"));
    services->primaryBox(volumeRow("gndm"))->setChecked(true);
    tabs->setCurrentWidget(shipment);

    NewBid(w(), state_);  // no bid open: no question
    EXPECT_EQ(main->ebxLocalBidID->text(), "CarlONeil3652625000");
    EXPECT_EQ(main->ebxLocalStatus->text(), "Draft");
    EXPECT_EQ(main->cbxAccountName->currentIndex(), 1) << "the executive stays chosen";
    EXPECT_EQ(guardSeen_, QList<bool>{true}) << "the change handler runs once, guarded";
    EXPECT_EQ(main->cbxSSA->text(), "sales team of Carl O'Neil");
    EXPECT_FALSE(state_.FNewBidGuard);
    EXPECT_EQ(tabs->currentWidget(), main);
    EXPECT_EQ(shipper->ebxShipper()->text(), "New");
    EXPECT_EQ(profile->ebxAssociated()->text(), "Not part of a VYN approved association");
    EXPECT_TRUE(profile->chbMultiOnly()->isChecked());
    EXPECT_TRUE(profile->cgBillingOption()->isItemChecked(0));
    EXPECT_FALSE(profile->cgBillingOption()->isItemChecked(1));
    EXPECT_EQ(profile->rgBidType()->itemIndex(), -1);
    EXPECT_FALSE(profile->ebxBeatPercent()->isEnabled());
    EXPECT_EQ(shipGrid()->rowCount(), 31);
    EXPECT_TRUE(shipment->gridIsEmpty());
    EXPECT_EQ(shipGrid()->cell(0, 30), "#30");
    EXPECT_EQ(volumeGrid()->cell(1, volumeRow("gndm")), "");
    EXPECT_FALSE(services->primaryBox(volumeRow("gndm"))->isChecked());
    for (int r = 1; r < volumeGrid()->rowCount(); ++r)
        if (services->isHeadingRow(r)) EXPECT_TRUE(volumeGrid()->cell(1, r).startsWith("-----")) << "dashes stay " << r;
    EXPECT_EQ(test::recordCount(bidsPath()), 0) << "a new bid is not stored";
}

TEST_F(LifecycleTest, NewBidWithABidOpenAsksToSaveAndCancelChangesNothing) {
    main->cbxAccountName->setCurrentIndex(0);
    main->ebxLocalBidID->setText(QStringLiteral("Open1"));
    main->ebxCompanyName1->setText(QStringLiteral("Kept Ltd"));
    {
        ScriptedPrompt prompt;
        prompt.answer(Cancel, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Save Bid Working on?");
            EXPECT_EQ(r.caption, applicationTitle());
            EXPECT_EQ(r.icon, PromptIcon::Question);
            EXPECT_EQ(r.buttons, Yes | No | Cancel);
        });
        NewBid(w(), state_);
    }
    EXPECT_EQ(main->ebxLocalBidID->text(), "Open1");
    EXPECT_EQ(main->ebxCompanyName1->text(), "Kept Ltd");
    EXPECT_FALSE(state_.FNewBidGuard);
    EXPECT_EQ(test::recordCount(bidsPath()), 0);

    {
        ScriptedPrompt prompt;
        prompt.answer(Yes);
        NewBid(w(), state_);
    }
    EXPECT_EQ(column("Bids", "local_bid"), QStringList{"Open1"}) << "Yes stores the bid on screen first";
    EXPECT_EQ(column("Bids", "comp_name"), QStringList{"Kept Ltd"});
    EXPECT_EQ(main->ebxLocalBidID->text(), "AnnaBell3652625000");
    EXPECT_EQ(main->ebxCompanyName1->text(), "");
}

TEST_F(LifecycleTest, TwoNewBidsInTheSameStepGetDifferentIds) {
    main->cbxAccountName->setCurrentIndex(0);
    NewBid(w(), state_);
    const QString first = main->ebxLocalBidID->text();
    EXPECT_EQ(first, "AnnaBell3652625000");
    StoreBid(w(), state_);
    {
        ScriptedPrompt prompt;
        prompt.answer(No);
        NewBid(w(), state_);  // same clock reading
    }
    const QString second = main->ebxLocalBidID->text();
    EXPECT_EQ(second, "AnnaBell3652625001");
    main->ebxCompanyName1->setText(QStringLiteral("Second"));
    StoreBid(w(), state_);
    EXPECT_EQ(column("Bids", "local_bid"), (QStringList{first, second})) << "the second store overwrites nothing";
    {
        ScriptedPrompt prompt;
        prompt.answer(No);
        NewBid(w(), state_);
    }
    EXPECT_EQ(main->ebxLocalBidID->text(), "AnnaBell3652625002");
    // That third bid was never stored; a fourth in the same step still differs from the one on screen.
    {
        ScriptedPrompt prompt;
        prompt.answer(No);
        NewBid(w(), state_);
    }
    EXPECT_EQ(main->ebxLocalBidID->text(), "AnnaBell3652625003");
    EXPECT_EQ(test::recordCount(bidsPath()), 2);
}

TEST_F(LifecycleTest, SelectBidAsksInItsFormLoadsAndEndsWithAnEmptyLine) {
    storeBid(QStringLiteral("First"), 2);
    storeBid(QStringLiteral("Second"), 30);
    main->ebxLocalBidID->setText(QStringLiteral("Unsaved"));
    {
        ScriptedPrompt prompt;
        prompt.answer(Cancel, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Save Bid Working on?");
            EXPECT_EQ(r.caption, "File Write");
            EXPECT_EQ(r.icon, PromptIcon::Question);
            EXPECT_EQ(r.buttons, Yes | No | Cancel);
        });
        SelectBid(w(), state_);  // Cancel: no picker at all
    }
    EXPECT_EQ(main->ebxLocalBidID->text(), "Unsaved");
    EXPECT_EQ(shipGrid()->rowCount(), 31) << "Cancel at the question ends the flow";

    {
        ScriptedPrompt prompt;
        prompt.answer(No);
        pickNext(2);
        SelectBid(w(), state_);
    }
    EXPECT_EQ(state_.FBidRecNo, 2);
    EXPECT_EQ(main->ebxLocalBidID->text(), "Second");
    EXPECT_EQ(main->ebxCompanyName1->text(), "Company Second");
    EXPECT_EQ(shipGrid()->rowCount(), 32) << "30 lines and an empty one appended";
    EXPECT_TRUE(shipment->lineIsEmpty(31));
    EXPECT_EQ(shipment->servicesPicker()->currentText(), "Express") << "the pickers follow the current line";
    EXPECT_EQ(test::recordCount(bidsPath()), 2) << "No stores nothing";
}

TEST_F(LifecycleTest, PickerCancelKeepsTheBidOnScreen) {
    storeBid(QStringLiteral("Stored"), 1);
    main->ebxLocalBidID->setText(QStringLiteral("OnScreen"));
    main->ebxCompanyName1->setText(QStringLiteral("Screen Co"));
    for (int r = 1; r <= 30; ++r) setLine(r, QStringLiteral("TB Ground"), r);
    {
        ScriptedPrompt prompt;
        prompt.answer(No);
        pickNext(0);
        SelectBid(w(), state_);
    }
    EXPECT_EQ(state_.FBidRecNo, 0);
    EXPECT_EQ(main->ebxLocalBidID->text(), "OnScreen");
    EXPECT_EQ(main->ebxCompanyName1->text(), "Screen Co");
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, 30), "30");
    EXPECT_EQ(shipGrid()->rowCount(), 32) << "an empty last line is ensured";
}

TEST_F(LifecycleTest, DeleteRemovesHeaderAndDetailsAndTheShownBidCanBeStoredAgain) {
    storeBid(QStringLiteral("One"), 2);
    storeBid(QStringLiteral("Two"), 3);
    storeBid(QStringLiteral("Three"), 1);
    // Show bid Two, then delete it.
    {
        ScriptedPrompt prompt;
        pickNext(2);
        SelectBid(w(), state_);
    }
    ASSERT_EQ(main->ebxLocalBidID->text(), "Two");
    {
        ScriptedPrompt prompt;
        prompt.answer(No, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Delete Bid: Two");
            EXPECT_EQ(r.caption, "WARNING");
            EXPECT_EQ(r.icon, PromptIcon::Warning);
            EXPECT_EQ(r.buttons, Yes | No);
            EXPECT_EQ(r.defaultButton, No);
        });
        pickNext(2, 2);  // the picker opens on the bid chosen last
        DeleteBid(w(), state_);
    }
    EXPECT_EQ(column("Bids", "local_bid"), (QStringList{"One", "Two", "Three"})) << "No deletes nothing";
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes);
        pickNext(2, 2);
        DeleteBid(w(), state_);
    }
    EXPECT_EQ(column("Bids", "local_bid"), (QStringList{"One", "Three"}));
    EXPECT_EQ(column("BidTail", "local_bid"), (QStringList{"One", "One", "Three"}));
    EXPECT_EQ(main->ebxLocalBidID->text(), "Two") << "the window is not cleared";
    EXPECT_EQ(state_.FBidRecNo, 2);

    // The next picker opens on the record that now has the old number: bid Three.
    {
        ScriptedPrompt prompt;
        prompt.answer(No, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Delete Bid: Three"); });
        pickNext(2, 2);
        DeleteBid(w(), state_);
    }

    StoreBid(w(), state_);
    EXPECT_EQ(column("Bids", "local_bid"), (QStringList{"One", "Three", "Two"})) << "a new header at the end";
    EXPECT_EQ(column("BidTail", "local_bid"), (QStringList{"One", "One", "Three", "Two", "Two", "Two"}));
}

// Delete offers only the bid picked in that picker: Cancel cancels, whatever bid was chosen before, and a
// picker without bids chooses none. No question is asked and nothing is deleted.
TEST_F(LifecycleTest, DeleteAppliesOnlyToTheBidPickedThere) {
    storeBid(QStringLiteral("One"), 1);
    storeBid(QStringLiteral("Two"), 1);
    for (int remembered : {0, 1, 2, 5}) {
        SCOPED_TRACE(remembered);
        state_.FBidRecNo = remembered;  // chosen earlier (5: from a longer table)
        ScriptedPrompt prompt;          // nothing may be asked
        pickNext(0);
        DeleteBid(w(), state_);
        EXPECT_EQ(column("Bids", "local_bid"), (QStringList{"One", "Two"}));
    }
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Delete Bid: Two"); });
        pickNext(2);
        DeleteBid(w(), state_);
        prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Delete Bid: One"); });
        pickNext(1);
        DeleteBid(w(), state_);
    }
    ASSERT_EQ(test::recordCount(bidsPath()), 0);
    // The picker of an empty table shows one empty row; choosing it chooses no bid.
    test::whenModalShown([](QWidget* modal) {
        auto* picker = qobject_cast<TDBeditForm*>(modal);
        ASSERT_NE(picker, nullptr);
        EXPECT_EQ(picker->grid()->cell(0, picker->grid()->row()), "");
        QTest::mouseClick(picker->findChild<QPushButton*>("btnOpen"), Qt::LeftButton);
    });
    ScriptedPrompt prompt;
    DeleteBid(w(), state_);
}

TEST_F(LifecycleTest, LoadingAMissingRecordLoadsNothing) {
    storeBid(QStringLiteral("Real"), 2);
    profile->rgBidType()->setItemIndex(-1);
    LoadBid(w(), state_, 7);
    EXPECT_EQ(main->ebxLocalBidID->text(), "");
    EXPECT_EQ(profile->rgBidType()->selectedText(), "Conversion");
    EXPECT_EQ(shipGrid()->rowCount(), 31);
    EXPECT_TRUE(shipment->gridIsEmpty());
    LoadBid(w(), state_, 0);
    EXPECT_EQ(main->ebxLocalBidID->text(), "");
    EXPECT_FALSE(state_.FLoading);
}

TEST_F(LifecycleTest, LoadingSpecialValues) {
    // A header written by hand: values the window never stores itself.
    ASSERT_TRUE(test::appendRows(bidsPath(),
                                 {{"Hand1", "Ex Employee", "Old SSA", "M5V3L9", "Beat", "5", "P/PF/CX", "Penet",
                                   "Physical", "Dim", "Nobody", "XYZ"}},
                                 {"local_bid", "ae_name", "ssa_name", "postal", "strategy", "beat_by", "bill_opt",
                                  "bid_type", "info_src", "bill_wgt", "competr3", "dist_src"}));
    LoadBid(w(), state_, 1);
    EXPECT_EQ(main->cbxAccountName->currentIndex(), -1);
    EXPECT_EQ(shipper->ebxAccountName()->text(), "");
    EXPECT_EQ(main->cbxSSA->text(), "Old SSA");
    EXPECT_EQ(shipper->ebxPostalCode()->text(), "M5V 3L9");
    EXPECT_EQ(profile->rgStrategy()->selectedText(), "Beat Competitor");
    EXPECT_EQ(profile->ebxBeatPercent()->currentText(), "5");
    EXPECT_TRUE(profile->ebxBeatPercent()->isEnabled());
    EXPECT_TRUE(profile->lblBeatPercent()->isEnabled());
    EXPECT_TRUE(profile->cgBillingOption()->isItemChecked(0));
    EXPECT_TRUE(profile->cgBillingOption()->isItemChecked(1));
    EXPECT_FALSE(profile->cgBillingOption()->isItemChecked(2)) << "a short rest is ignored";
    EXPECT_EQ(profile->rgBidType()->selectedText(), "Penetration");
    EXPECT_EQ(cube->rgInfoSource()->selectedText(), "Physical Audit");
    EXPECT_EQ(cube->rgBillWeight()->selectedText(), "Dimensional");
    EXPECT_EQ(profile->cbxCompetitorName3()->currentText(), "Nobody");
    EXPECT_EQ(profile->cbxSourceDist()->currentIndex(), -1);
    EXPECT_EQ(shipper->ebxValueDutyPct()->text(), "0");
    EXPECT_EQ(main->ebxSubmitDate->text(), "") << "no date stored";
    EXPECT_TRUE(shipper->chbValueNo()->isChecked());

    EXPECT_EQ(ShownPostalCode(" K1A0B1 "), "K1A 0B1");
    EXPECT_EQ(ShownPostalCode("90210"), "90210");
    EXPECT_EQ(ShownPostalCode("K1A 0B1"), "K1A 0B1");
    RadioGroup g(QStringLiteral("g"), {QStringLiteral("Beat Competitor"), QStringLiteral("Match Competitor")}, 1);
    g.setItemIndex(0);
    ApplyRadioText(&g, QString());
    EXPECT_EQ(g.itemIndex(), -1);
    ApplyRadioText(&g, QStringLiteral("match"));
    EXPECT_EQ(g.itemIndex(), -1) << "letter case counts";
    ApplyRadioText(&g, QStringLiteral("Match Competitor and more"));
    EXPECT_EQ(g.itemIndex(), -1);
}

TEST_F(LifecycleTest, FortyFiveDetailRecordsFillRowsOneToFortyFive) {
    storeBid(QStringLiteral("Long"), 45);
    {
        ScriptedPrompt prompt;
        pickNext(1);
        SelectBid(w(), state_);
    }
    EXPECT_EQ(shipGrid()->rowCount(), 47) << "45 lines and the empty one the select flow adds";
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, 45), "45");
    EXPECT_EQ(shipGrid()->cell(0, 46), "#46");
    EXPECT_TRUE(shipment->lineIsEmpty(46));
}

}  // namespace
}  // namespace tarvik
