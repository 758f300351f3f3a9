// The recovery copy of the bid on screen, on the six real pages: what it holds and gives back, the file
// that is never restored when damaged, when it is written and removed, and the question at start.
#include "store/recovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "store/bidwindow_test.h"
#include "store/lifecycle.h"
#include "store/loadbid.h"
#include "store/storebid.h"
#include "widgets/seams.h"

namespace tarvik {
namespace {

using test::BidWindowTest;
using test::ScriptedPrompt;
using Snapshot = RecoverySnapshot;

// The controls by name (two windows made alike may list them in another order).
std::vector<Snapshot::Control> byName(std::vector<Snapshot::Control> controls) {
    std::sort(controls.begin(), controls.end(), [](const auto& x, const auto& y) { return x.name < y.name; });
    return controls;
}

bool sameControls(const Snapshot& a, const Snapshot& b, std::string* diff) {
    if (a.controls.size() != b.controls.size()) {
        *diff =
            "control count " + std::to_string(a.controls.size()) + " vs " + std::to_string(b.controls.size());
        return false;
    }
    const std::vector<Snapshot::Control> as = byName(a.controls);
    const std::vector<Snapshot::Control> bs = byName(b.controls);
    for (size_t i = 0; i < as.size(); ++i) {
        const Snapshot::Control& x = as[i];
        const Snapshot::Control& y = bs[i];
        if (x.name != y.name || x.kind != y.kind || x.number != y.number || x.text != y.text ||
            x.enabled != y.enabled) {
            *diff = x.name.toStdString() + ": " + std::to_string(x.number) + " \"" + x.text.toStdString() +
                    "\" " + (x.enabled ? "enabled" : "disabled") + " vs " + y.name.toStdString() + ": " +
                    std::to_string(y.number) + " \"" + y.text.toStdString() + "\" " +
                    (y.enabled ? "enabled" : "disabled");
            return false;
        }
    }
    return true;
}

bool sameGrids(const Snapshot& a, const Snapshot& b, std::string* diff) {
    if (a.grids.size() != b.grids.size()) {
        *diff = "grid count";
        return false;
    }
    for (size_t i = 0; i < a.grids.size(); ++i) {
        const Snapshot::Grid& x = a.grids[i];
        const Snapshot::Grid& y = b.grids[i];
        if (x.name != y.name || x.rows != y.rows || x.cols != y.cols || x.marks != y.marks) {
            *diff = x.name.toStdString() + " shape: " + std::to_string(x.rows) + "x" +
                    std::to_string(x.cols) + " vs " + std::to_string(y.rows) + "x" + std::to_string(y.cols);
            return false;
        }
        for (size_t k = 0; k < x.cells.size(); ++k)
            if (x.cells[k] != y.cells[k]) {
                *diff = x.name.toStdString() + " cell " + std::to_string(k) + ": \"" +
                        x.cells[k].toStdString() + "\" vs \"" + y.cells[k].toStdString() + "\"";
                return false;
            }
    }
    return true;
}

// The whole window, compared as the copy sees it (the saved time apart).
void expectSameWindow(const Snapshot& a, const Snapshot& b, const char* what) {
    std::string diff;
    EXPECT_TRUE(sameControls(a, b, &diff)) << what << ": " << diff;
    EXPECT_TRUE(sameGrids(a, b, &diff)) << what << ": " << diff;
    EXPECT_EQ(a.page, b.page) << what;
    EXPECT_EQ(a.bidId, b.bidId) << what;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class RecoveryTest : public BidWindowTest {
  protected:
    void SetUp() override {
        BidWindowTest::SetUp();
        clock_ = std::make_unique<test::FixedClock>(QDateTime(QDate(2026, 3, 14), QTime(9, 30)));
        recovery_ = std::make_unique<BidRecovery>(state_, w());
        // The store and lifecycle tell the watcher, as the application wires it.
        BidStoreEvents events;
        events.beforeStore = [this](QWidget*, const QString& id) { recovery_->beforeStore(id); };
        events.afterStore = [this](QWidget*, const QString& id, bool ok) { recovery_->afterStore(id, ok); };
        events.deleted = [this](const QString& id) { recovery_->bidDeleted(id); };
        events.cleared = [this](QWidget*, const QString& id) { recovery_->bidCleared(id); };
        setBidStoreEvents(std::move(events));
    }
    void TearDown() override {
        setBidStoreEvents({});
        recovery_.reset();
        clock_.reset();
        BidWindowTest::TearDown();
    }

    QString copy(const QString& id = QStringLiteral("AnnaBell4609539583")) const {
        return recovery_->copyPath(id);
    }
    QStringList recoverFiles() const {
        return QDir(RecoveryFolder(state_)).entryList(QDir::Files, QDir::Name);
    }

    // A bid of every kind of value, including what storing would change or drop: a raw postal code,
    // neither answer of a question, a line without a service and empty lines between lines, a typed
    // competitor, a volume with a leading zero, a percentage that does not convert, a Primary? mark on a row
    // without volume.
    void fillEverything(int lines = 45) {
        main->ebxLocalBidID->setText(QStringLiteral("AnnaBell4609539583"));
        main->ebxLocalStatus->setText(QStringLiteral("Draft"));
        main->ebxCompanyName1->setText(QStringLiteral("Harbour Frêight & Söns \"Ltd.\""));
        main->cbxAccountName->setCurrentIndex(1);
        main->chkPortfolio->setChecked(true);
        shipper->ebxPostalCode()->setText(QStringLiteral("k1a 0b1 "));
        shipper->ebxAddress()->setText(QStringLiteral("  12 Wharf Road  "));
        shipper->ebxValueDutyPct()->setText(QStringLiteral("12abc"));
        shipper->chbMOB()->setChecked(true);
        shipper->chbValueYes()->setChecked(true);
        shipper->cbxIndustry()->setCurrentIndex(2);
        profile->findChild<RadioGroup*>(QStringLiteral("rgBidType"))->setItemIndex(2);
        profile->findChild<QComboBox*>(QStringLiteral("cbxCompetitorName2"))
            ->setEditText(QStringLiteral("Loomis Express"));
        profile->cbxCompetitorName()->setCurrentIndex(1);
        auto* billing = profile->findChild<CheckGroup*>(QStringLiteral("cgBillingOption"));
        billing->setItemChecked(1, true);
        billing->setItemChecked(2, true);
        profile->mmoSalesStrategy()->setPlainText(QStringLiteral("Line one\n\n  Line three\twith a tab\n"));
        profile->findChild<RadioGroup*>(QStringLiteral("rgStrategy"))->setItemIndex(0);
        profile->ebxBeatPercent()->setEnabled(true);
        profile->ebxBeatPercent()->setCurrentIndex(3);
        volumeGrid()->setCell(1, volumeRow(QStringLiteral("exp")), QStringLiteral("20"));
        volumeGrid()->setCell(2, volumeRow(QStringLiteral("exp")), QStringLiteral("040"));
        services->primaryBox(volumeRow(QStringLiteral("tbgnd")))->setChecked(true);
        cube->findChild<StringGrid*>(QStringLiteral("CubeGrid"))->setCell(3, 7, QStringLiteral("12.5"));
        for (int r = 1; r <= lines; ++r)
            if (r % 7 != 3) setLine(r, r % 5 == 0 ? QString() : QStringLiteral("Express"), r);
        tabs->setCurrentIndex(3);
    }

    std::unique_ptr<test::FixedClock> clock_;
    std::unique_ptr<BidRecovery> recovery_;
};

// ---- The file ----

TEST_F(RecoveryTest, TheCopyReadsBackAsWrittenAndADamagedFileIsNeverTakenForOne) {
    fillEverything(40);
    const Snapshot taken = CaptureBidWindow(w());
    const QByteArray bytes = EncodeRecoveryCopy(taken);
    const std::optional<Snapshot> back = DecodeRecoveryCopy(bytes);
    ASSERT_TRUE(back.has_value());
    expectSameWindow(taken, *back, "read back");
    EXPECT_EQ(back->savedDate, QDate(2026, 3, 14));
    EXPECT_EQ(back->savedTime, QTime(9, 30));
    EXPECT_EQ(back->company, QStringLiteral("Harbour Frêight & Söns \"Ltd.\""));

    struct Damage {
        const char* what;
        std::function<QByteArray(QByteArray)> make;
    };
    const qsizetype n = bytes.size();
    const std::vector<Damage> damages = {
        {"empty", [](QByteArray) { return QByteArray(); }},
        {"cut in the header", [](QByteArray b) { return b.left(20); }},
        {"cut after the header", [](QByteArray b) { return b.left(52); }},
        {"cut in the middle", [n](QByteArray b) { return b.left(n / 2); }},
        {"last byte missing", [n](QByteArray b) { return b.left(n - 1); }},
        {"a byte more", [](QByteArray b) { return b + 'x'; }},
        {"a cell's letter changed",
         [n](QByteArray b) {
             b[n - 40] = char(b[n - 40] ^ 0x01);
             return b;
         }},
        {"a byte of the checksum changed",
         [](QByteArray b) {
             b[25] = char(b[25] ^ 0x80);
             return b;
         }},
        {"another file", [n](QByteArray) { return QByteArray(int(n), 'A'); }},
        {"another version",
         [](QByteArray b) {
             b[8] = 7;
             return b;
         }},
        {"zeroes where the disk lost a block",
         [n](QByteArray b) {
             b.replace(n / 3, 512, QByteArray(512, '\0'));
             return b;
         }},
    };
    for (const Damage& d : damages) {
        QString why;
        EXPECT_FALSE(DecodeRecoveryCopy(d.make(bytes), &why).has_value()) << d.what;
        EXPECT_FALSE(why.isEmpty()) << d.what;
    }
}

TEST_F(RecoveryTest, RestoringGivesTheWindowBackExactlyAndStoresNothing) {
    fillEverything();
    const Snapshot before = CaptureBidWindow(w());
    ClearBidWindow(w(), state_);
    tabs->setCurrentIndex(0);
    RestoreBidWindow(w(), state_, *DecodeRecoveryCopy(EncodeRecoveryCopy(before)));
    expectSameWindow(before, CaptureBidWindow(w()), "restored");
    // What storing would have changed is back as typed.
    EXPECT_EQ(shipper->ebxPostalCode()->text(), QStringLiteral("k1a 0b1 "));
    EXPECT_EQ(shipper->ebxValueDutyPct()->text(), QStringLiteral("12abc"));
    EXPECT_FALSE(shipper->chbResellerYes()->isChecked());
    EXPECT_FALSE(shipper->chbResellerNo()->isChecked());
    EXPECT_EQ(shipGrid()->rowCount(), 45);  // line 44 is the last line typed
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, 5), QStringLiteral("5"));  // a line without service
    EXPECT_TRUE(shipGrid()->cell(ShipmentPage::ColService, 5).isEmpty());
    EXPECT_TRUE(shipment->lineIsEmpty(3));  // an empty line between lines
    EXPECT_TRUE(shipment->fromPostShown());
    EXPECT_TRUE(profile->ebxBeatPercent()->isEnabled());
    EXPECT_TRUE(profile->lblBeatPercent()->isEnabled());
    EXPECT_EQ(profile->cbxCompetitorName()->currentText(), QStringLiteral("FedEx"));
    EXPECT_EQ(tabs->currentIndex(), 3);
    EXPECT_FALSE(state_.FLoading);
    EXPECT_EQ(test::recordCount(bidsPath()), 0);
    EXPECT_EQ(test::recordCount(tailPath()), 0);
    recovery_->flush();
    EXPECT_TRUE(recoverFiles().isEmpty()) << "restoring writes no copy of its own";
}

// A window with fewer lines than the copy grows; one with more shrinks to the copy's lines.
TEST_F(RecoveryTest, TheShipmentGridTakesTheCopysNumberOfLines) {
    for (const int lines : {3, 30, 31, 200}) {
        ClearBidWindow(w(), state_);
        main->ebxLocalBidID->setText(QStringLiteral("Lines%1").arg(lines));
        for (int r = 1; r <= lines; ++r) setLine(r, QStringLiteral("Ground"), r);
        if (lines < 30) shipGrid()->setRowCount(lines + 1);
        const Snapshot before = CaptureBidWindow(w());
        ClearBidWindow(w(), state_);
        for (int r = 1; r <= 250; ++r) setLine(r, QStringLiteral("Express"), 1000 + r);
        RestoreBidWindow(w(), state_, before);
        expectSameWindow(before, CaptureBidWindow(w()), qPrintable(QString::number(lines)));
    }
}

// ---- When the copy is written ----

TEST_F(RecoveryTest, ACopyIsWrittenOnceTypingStopsAndAtEveryPageChange) {
    recovery_->setIdleInterval(30);
    // No bid open: nothing is copied.
    main->ebxCompanyName1->setText(QStringLiteral("Before any bid"));
    EXPECT_FALSE(recovery_->changedSinceCopy());

    main->ebxLocalBidID->setText(QStringLiteral("AnnaBell4609539583"));
    QTest::keyClicks(main->ebxCompanyName1, QStringLiteral(" and Sons"));
    EXPECT_TRUE(recovery_->changedSinceCopy());
    EXPECT_FALSE(QFile::exists(copy())) << "written before typing stopped";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !recovery_->changedSinceCopy(); }, 10000));
    recovery_->flush();
    std::optional<Snapshot> on = DecodeRecoveryCopy(readAll(copy()));
    ASSERT_TRUE(on.has_value());
    EXPECT_EQ(on->company, QStringLiteral("Before any bid and Sons"));

    // A page change writes at once what changed since.
    recovery_->setIdleInterval(600000);
    shipGrid()->setCell(ShipmentPage::ColService, 1, QStringLiteral("Ground"));
    tabs->setCurrentIndex(1);
    recovery_->flush();
    on = DecodeRecoveryCopy(readAll(copy()));
    ASSERT_TRUE(on.has_value());
    EXPECT_EQ(on->grids.back().cells[0], QStringLiteral("Ground"));
    EXPECT_EQ(on->page, 1);
}

// Changes the program makes itself (loading a bid, clearing, starting a new bid, the empty line kept at
// the end of the grid) are not typing: they make no copy.
TEST_F(RecoveryTest, ChangesOfLoadingClearingAndANewBidMakeNoCopy) {
    fillEverything(5);
    StoreBid(w(), state_);
    recovery_->flush();
    EXPECT_TRUE(recoverFiles().isEmpty());

    struct Case {
        const char* what;
        std::function<void()> run;
    };
    const std::vector<Case> cases = {
        {"load",
         [&] {
             ClearBidWindow(w(), state_);
             LoadBid(w(), state_, 1);
             shipment->appendLine();  // as selecting a bid does after loading
         }},
        {"clear", [&] { ClearBidWindow(w(), state_); }},
        {"new bid",
         [&] {
             state_.FNewBidGuard = true;
             ClearBidWindow(w(), state_);
             main->ebxLocalBidID->setText(QStringLiteral("Fresh1"));
             main->ebxLocalStatus->setText(QStringLiteral("Draft"));
             state_.FNewBidGuard = false;
         }},
    };
    for (const Case& c : cases) {
        c.run();
        EXPECT_FALSE(recovery_->changedSinceCopy()) << c.what;
        tabs->setCurrentIndex((tabs->currentIndex() + 1) % 6);
        recovery_->flush();
        EXPECT_TRUE(recoverFiles().isEmpty()) << c.what;
    }
}

// ---- When the copy goes ----

TEST_F(RecoveryTest, StoringDeletingClearingAndClosingRemoveTheCopyAndAFailedStoreKeepsIt) {
    const QString id = QStringLiteral("AnnaBell4609539583");
    const QString kept = RecoveryFolder(state_) + QStringLiteral("/AnnaBell4609539583.20260313-080000.kept");
    struct Case {
        const char* what;
        std::function<void()> event;
        bool copyStays;
        bool keptStays;
    };
    const std::vector<Case> cases = {
        {"stored", [&] { EXPECT_TRUE(StoreBid(w(), state_)); }, false, false},
        {"store failed",
         [&] {
             ASSERT_TRUE(QFile::rename(tailPath(), tailPath() + "~away"));
             {
                 // The table layer reports the missing table.
                 EXPECT_FALSE(StoreBid(w(), state_));
             }
             ASSERT_TRUE(QFile::rename(tailPath() + "~away", tailPath()));
             reports_.clear();
         },
         true, true},
        {"deleted",
         [&] {
             const int bids = open(QStringLiteral("Bids"));
             ASSERT_TRUE(ta::LocateByField(bids, QStringLiteral("local_bid"), false, id));
             DeleteBidRecords(bids, state_);
             ta::d4close(bids);
         },
         false, false},
        {"cleared", [&] { ClearBidWindow(w(), state_); }, false, true},
        {"window closed", [&] { recovery_->windowClosed(); }, false, true},
    };
    for (const Case& c : cases) {
        ClearBidWindow(w(), state_);
        fillEverything(8);
        StoreBid(w(), state_);  // a stored bid, for the delete
        QTest::keyClicks(main->ebxCompanyName1, QStringLiteral(" (changed)"));
        tabs->setCurrentIndex(0);
        recovery_->flush();
        ASSERT_TRUE(QFile::exists(copy(id))) << c.what;
        {
            QFile f(kept);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        c.event();
        recovery_->flush();
        EXPECT_EQ(QFile::exists(copy(id)), c.copyStays) << c.what;
        EXPECT_EQ(QFile::exists(kept), c.keptStays) << c.what;
        if (c.copyStays) {
            // The copy holds everything typed up to the store that failed.
            const std::optional<Snapshot> on = DecodeRecoveryCopy(readAll(copy(id)));
            ASSERT_TRUE(on.has_value());
            EXPECT_TRUE(on->company.endsWith(QStringLiteral(" (changed)"))) << c.what;
        }
        QFile::remove(copy(id));
        QFile::remove(kept);
    }
}

// A copy that cannot be written is said, once, and never taken for written.
TEST_F(RecoveryTest, ACopyThatCannotBeWrittenIsSaidOnce) {
    {
        QFile blocker(RecoveryFolder(state_));  // a file where the folder of the copies would be
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    main->ebxLocalBidID->setText(QStringLiteral("AnnaBell4609539583"));
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.caption, QStringLiteral("Recover Bid"));
        EXPECT_EQ(r.icon, PromptIcon::Warning);
        EXPECT_TRUE(r.text.startsWith(
            QStringLiteral("The recovery copy of the bid on screen could not be written (")))
            << r.text.toStdString();
        EXPECT_TRUE(r.text.endsWith(
            QStringLiteral("Until the bid is stored, what is typed is kept only on screen.")));
    });
    for (int page : {1, 2, 3}) {
        QTest::keyClicks(main->ebxCompanyName1, QStringLiteral("x"));
        tabs->setCurrentIndex(page);
        recovery_->flush();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(prompt.shown().size(), 1u);
    EXPECT_FALSE(QFileInfo(RecoveryFolder(state_)).isDir());
}

// ---- At start ----

class RecoveryStartTest : public RecoveryTest {
  protected:
    // The bid of fillEverything copied to disk, then a fresh window as at the next start.
    Snapshot leaveACopy() {
        fillEverything();
        QTest::keyClicks(main->ebxCompanyName1, QStringLiteral("!"));
        tabs->setCurrentIndex(0);  // the page change writes the copy
        const Snapshot typed = CaptureBidWindow(w());
        recovery_->flush();
        recovery_.reset();
        window_.reset();
        buildWindow();
        recovery_ = std::make_unique<BidRecovery>(state_, w());
        return typed;
    }
};

TEST_F(RecoveryStartTest, YesRestoresTheBidNamedInTheQuestionWithoutStoringIt) {
    const Snapshot typed = leaveACopy();
    clock_->time = QDateTime(QDate(2026, 3, 15), QTime(8, 0));  // the next day
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes, [](const PromptRequest& r) {
            EXPECT_EQ(r.caption, QStringLiteral("Recover Bid"));
            EXPECT_EQ(r.icon, PromptIcon::Question);
            EXPECT_EQ(r.buttons, Yes | No);
            EXPECT_EQ(r.text, QStringLiteral(
                                  "Bid AnnaBell4609539583 of Harbour Frêight & Söns \"Ltd.\"! was not stored "
                                  "when the program last ended.\r\nA recovery copy of it was saved on "
                                  "3/14/2026 at 09:30.\r\n\r\nRestore it? Yes puts the bid on screen as it "
                                  "was, without storing it; No keeps the copy aside."));
        });
        EXPECT_TRUE(recovery_->offerRestore());
    }
    expectSameWindow(typed, CaptureBidWindow(w()), "restored at start");
    EXPECT_EQ(test::recordCount(bidsPath()), 0);
    EXPECT_FALSE(recovery_->changedSinceCopy());
    // The copy stays until the bid is stored.
    EXPECT_TRUE(QFile::exists(copy()));
    EXPECT_TRUE(StoreBid(w(), state_));
    recovery_->flush();
    EXPECT_TRUE(recoverFiles().isEmpty());
}

TEST_F(RecoveryStartTest, NoKeepsTheCopyAsideUntilTheBidIsNextStored) {
    const Snapshot typed = leaveACopy();
    {
        ScriptedPrompt prompt;
        prompt.answer(No);
        EXPECT_FALSE(recovery_->offerRestore());
    }
    EXPECT_TRUE(main->ebxLocalBidID->text().isEmpty());
    EXPECT_EQ(recoverFiles(), QStringList{QStringLiteral("AnnaBell4609539583.20260314-093000.kept")});
    // The kept copy is whole, and it is not offered again.
    const std::optional<Snapshot> kept = DecodeRecoveryCopy(
        readAll(RecoveryFolder(state_) + QStringLiteral("/AnnaBell4609539583.20260314-093000.kept")));
    ASSERT_TRUE(kept.has_value());
    expectSameWindow(typed, *kept, "kept");
    EXPECT_FALSE(recovery_->offerRestore());
    // Another bid stored leaves it; the bid itself stored removes it.
    main->ebxLocalBidID->setText(QStringLiteral("Other1"));
    EXPECT_TRUE(StoreBid(w(), state_));
    recovery_->flush();
    EXPECT_EQ(recoverFiles().size(), 1);
    main->ebxLocalBidID->setText(QStringLiteral("AnnaBell4609539583"));
    EXPECT_TRUE(StoreBid(w(), state_));
    recovery_->flush();
    EXPECT_TRUE(recoverFiles().isEmpty());
}

// Several copies are offered newest first; the first Yes restores, later ones wait for the next start.
TEST_F(RecoveryStartTest, SeveralCopiesAreOfferedNewestFirst) {
    leaveACopy();
    for (const auto& [id, hour] : {std::pair{"Older1", 7}, std::pair{"Newer1", 11}}) {
        Snapshot s = CaptureBidWindow(w());
        s.bidId = QLatin1String(id);
        s.savedTime = QTime(hour, 0);
        QDir().mkpath(RecoveryFolder(state_));
        QFile f(copy(s.bidId));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(EncodeRecoveryCopy(s));
    }
    std::vector<QString> asked;
    {
        ScriptedPrompt prompt;
        prompt.answer(No, [&](const PromptRequest& r) { asked.push_back(r.text.section(' ', 1, 1)); });
        prompt.answer(Yes, [&](const PromptRequest& r) { asked.push_back(r.text.section(' ', 1, 1)); });
        EXPECT_TRUE(recovery_->offerRestore());
    }
    EXPECT_EQ(asked, (std::vector<QString>{"Newer1", "AnnaBell4609539583"}));
    EXPECT_EQ(main->ebxLocalBidID->text(), QStringLiteral("AnnaBell4609539583"));
    EXPECT_TRUE(QFile::exists(copy(QStringLiteral("Older1"))));
}

TEST_F(RecoveryStartTest, ADamagedCopyIsSetAsideWithAWordAndNeverRestored) {
    leaveACopy();
    QByteArray bytes = readAll(copy());
    bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x20);
    {
        QFile f(copy());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [&](const PromptRequest& r) {
            EXPECT_EQ(r.caption, QStringLiteral("Recover Bid"));
            EXPECT_EQ(r.icon, PromptIcon::Warning);
            EXPECT_EQ(
                r.text,
                QStringLiteral("A recovery copy of a bid cannot be restored: the checksum does not match.\r\n"
                               "It was set aside as %1.")
                    .arg(QDir::toNativeSeparators(copy() + QStringLiteral(".damaged"))));
        });
        EXPECT_FALSE(recovery_->offerRestore());
    }
    EXPECT_TRUE(main->ebxLocalBidID->text().isEmpty());
    EXPECT_EQ(recoverFiles(), QStringList{QStringLiteral("AnnaBell4609539583.rcv.damaged")});
}

TEST(RecoveryFileName, AnIdOfAnyCharactersNamesOneFileInTheFolder) {
    const std::vector<std::pair<QString, QString>> cases = {
        {QStringLiteral("AnnaBell4609539583"), QStringLiteral("AnnaBell4609539583.rcv")},
        {QStringLiteral("  padded  "), QStringLiteral("padded.rcv")},
        {QStringLiteral("../../etc/passwd"),
         QStringLiteral("_002e_002e_002f_002e_002e_002fetc_002fpasswd.rcv")},
        {QStringLiteral("Zoë O'Neil"), QStringLiteral("Zo_00eb_0020O_0027Neil.rcv")},
        {QStringLiteral("a.b.kept"), QStringLiteral("a_002eb_002ekept.rcv")},
    };
    for (const auto& [id, name] : cases) EXPECT_EQ(RecoveryFileName(id), name) << id.toStdString();
}

}  // namespace
}  // namespace tarvik
