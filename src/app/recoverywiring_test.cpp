// The recovery copy in the real main window, wired as the program wires it: every way a bid leaves the
// window removes its copy or keeps it as the user's answer says, and the next start offers it back.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/bidwiring.h"
#include "app/tmainform.h"
#include "pages/choicegroups.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "store/recovery.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

namespace tarvik {
namespace {

using test::ScriptedPrompt;

class RecoveryWiringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        test::makeDataFolder(tmp_.path());
        clock_ = std::make_unique<test::FixedClock>(QDateTime(QDate(2026, 3, 14), QTime(9, 30)));
        start();
    }
    void TearDown() override {
        form_.reset();
        clock_.reset();
    }
    // The program's start over the folder.
    void start() {
        form_.reset();
        form_ = std::make_unique<TMainForm>(tmp_.path());
        wireBidStore(*form_);
        form_->show();
        ASSERT_NE(form_->recovery, nullptr);
    }

    template <typename T>
    T* get(const char* name) {
        T* w = form_->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // A bid started as the user starts one, something typed on two pages, and the page changed: the
    // copy is on disk.
    QString typeABid() {
        {
            ScriptedPrompt prompt;
            prompt.answer(Yes);  // "Create new Bid?"
            QComboBox* c = form_->tbsMain->cbxAccountName;
            c->setCurrentIndex(0);
            emit c->activated(0);
        }
        const QString id = form_->tbsMain->ebxLocalBidID->text();
        QTest::keyClicks(form_->tbsMain->ebxCompanyName1, QStringLiteral("Typed Co"));
        StringGrid* lines = form_->tbsShipmentData->shipmentGrid();
        lines->setCell(ShipmentPage::ColService, 1, QStringLiteral("Express"));
        lines->setCell(ShipmentPage::ColTotPcs, 1, QStringLiteral("3"));
        QTest::mouseClick(form_->btnNext, Qt::LeftButton);
        form_->recovery->flush();
        EXPECT_TRUE(QFile::exists(copyOf(id)));
        return id;
    }
    QString copyOf(const QString& id) const { return form_->recovery->copyPath(id); }
    QStringList recoverFiles() const {
        return QDir(tmp_.path() + QStringLiteral("/data/Recover")).entryList(QDir::Files);
    }

    QTemporaryDir tmp_;
    std::unique_ptr<test::FixedClock> clock_;
    std::unique_ptr<TMainForm> form_;
};

// Each flow that the user can leave a bid by: the copy goes exactly when what was typed is stored or
// dropped at the user's word; Cancel and a failed store keep it.
TEST_F(RecoveryWiringTest, EveryWayOutOfABidRemovesOrKeepsItsCopyAsTheAnswerSays) {
    struct Flow {
        const char* name;
        std::vector<int> answers;  // to the prompts, in order
        std::function<void(TMainForm&)> run;
        bool copyStays;
    };
    const QString data = tmp_.path() + QStringLiteral("/data");
    const std::vector<Flow> flows = {
        {"new bid, Yes to saving", {Yes}, [](TMainForm& f) { f.mnuNewBid->trigger(); }, false},
        {"new bid, No", {No}, [](TMainForm& f) { f.mnuNewBid->trigger(); }, false},
        {"new bid, Cancel", {Cancel}, [](TMainForm& f) { f.mnuNewBid->trigger(); }, true},
        {"exit, No", {No}, [](TMainForm& f) { EXPECT_TRUE(f.close()); }, false},
        {"exit, Cancel", {Cancel}, [](TMainForm& f) { EXPECT_FALSE(f.close()); }, true},
        {"exit, Yes but the store fails",
         {Yes, Ok, Ok},
         [data](TMainForm& f) {
             ASSERT_TRUE(
                 QFile::rename(data + QStringLiteral("/BidTail.dbf"), data + QStringLiteral("/away")));
             EXPECT_FALSE(f.close());
             ASSERT_TRUE(
                 QFile::rename(data + QStringLiteral("/away"), data + QStringLiteral("/BidTail.dbf")));
         },
         true},
        {"exit, Yes", {Yes}, [](TMainForm& f) { EXPECT_TRUE(f.close()); }, false},
    };
    for (const Flow& flow : flows) {
        SCOPED_TRACE(flow.name);
        start();
        const QString id = typeABid();
        {
            ScriptedPrompt prompt;
            for (int a : flow.answers) prompt.answer(a);
            flow.run(*form_);
        }
        form_->recovery->flush();
        EXPECT_EQ(QFile::exists(copyOf(id)), flow.copyStays);
        QDir(data + QStringLiteral("/Recover")).removeRecursively();
    }
}

TEST_F(RecoveryWiringTest, SubmittingRemovesTheCopy) {
    const QString id = typeABid();
    for (const char* name : {"cbxIndustry", "cbxCompetitorName", "cbxBrokerage", "cbxPLDTypes",
                             "cbxCustSource", "cbxSourceDist"}) {
        QComboBox* c = get<QComboBox>(name);
        if (c->count() == 0) c->addItem(QStringLiteral("Chosen"));
        c->setCurrentIndex(c->count() > 1 ? 1 : 0);
    }
    get<QLineEdit>("ebxBusiness")->setText(QStringLiteral("40"));
    for (const char* name : {"rgBidType", "rgStrategy", "rgInfoSource", "rgBillWeight"})
        get<RadioGroup>(name)->setItemIndex(0);
    get<QCheckBox>("chbValueYes")->setChecked(true);
    get<QCheckBox>("chbResellerNo")->setChecked(true);
    StringGrid* lines = form_->tbsShipmentData->shipmentGrid();
    lines->setCell(ShipmentPage::ColPostal, 1, QStringLiteral("K1A0B1"));
    lines->setCell(ShipmentPage::ColCountry, 1, QStringLiteral("CA"));
    StringGrid* volumes = form_->tbsServices->incentiveGrid();
    for (int r = 1; r < volumes->rowCount(); ++r)
        if (form_->tbsServices->isServiceRow(r) && form_->tbsServices->dbfField(r) == QLatin1String("exp"))
            volumes->setCell(2, r, QStringLiteral("12"));
    get<QCheckBox>("chbMultiOnly")->setChecked(true);
    QTest::mouseClick(form_->btnNext, Qt::LeftButton);
    form_->recovery->flush();
    ASSERT_TRUE(QFile::exists(copyOf(id)));

    test::RecordingLauncher launcher;
    {
        ScriptedPrompt prompt;  // a complete bid asks nothing; the user learns it was handed over
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_TRUE(r.text.contains(QStringLiteral("was handed to the File Transfer Program")));
        });
        form_->mnuSubmit->trigger();
    }
    form_->recovery->flush();
    EXPECT_TRUE(form_->tbsMain->ebxLocalBidID->text().isEmpty()) << "submitted and cleared";
    EXPECT_TRUE(recoverFiles().isEmpty());
}

// The program is ended without a word (the window is simply destroyed, as a kill leaves it): the next
// start offers the bid back, and Yes gives back everything typed.
TEST_F(RecoveryWiringTest, TheNextStartOffersTheBidBack) {
    const QString id = typeABid();
    QTest::keyClicks(form_->tbsMain->ebxCompanyName1, QStringLiteral(" and Sons"));
    form_->tbsShipmentData->shipmentGrid()->setCell(ShipmentPage::ColTotWgt, 1, QStringLiteral("12.5"));
    QTest::mouseClick(form_->btnNext, Qt::LeftButton);
    form_->recovery->flush();
    form_.reset();  // no closing questions: what a killed program leaves

    form_ = std::make_unique<TMainForm>(tmp_.path());
    wireBidStore(*form_);
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes, [&](const PromptRequest& r) {
            EXPECT_TRUE(
                r.text.startsWith(QStringLiteral("Bid %1 of Typed Co and Sons was not stored").arg(id)))
                << r.text.toStdString();
        });
        EXPECT_TRUE(form_->recovery->offerRestore());
    }
    EXPECT_EQ(form_->tbsMain->ebxLocalBidID->text(), id);
    EXPECT_EQ(form_->tbsMain->ebxCompanyName1->text(), QStringLiteral("Typed Co and Sons"));
    EXPECT_EQ(form_->tbsMain->cbxAccountName->currentText(), QStringLiteral("Anna Bell"));
    EXPECT_EQ(form_->tbsMain->cbxSSA->text(), QStringLiteral("Sam Price"));
    StringGrid* lines = form_->tbsShipmentData->shipmentGrid();
    EXPECT_EQ(lines->cell(ShipmentPage::ColService, 1), QStringLiteral("Express"));
    EXPECT_EQ(lines->cell(ShipmentPage::ColTotWgt, 1), QStringLiteral("12.5"));
    EXPECT_EQ(form_->tabEntryPages->currentIndex(), 2);
    EXPECT_EQ(test::recordCount(tmp_.path() + QStringLiteral("/data/Bids.dbf")), 0) << "nothing stored";
}

}  // namespace
}  // namespace tarvik
