// A bid from start to the send folder, through the real main window wired as the program wires it: the
// executive question starts the bid, the pages are filled, "&Submit Bid" checks, stores, writes the send
// tables and starts the transfer program beside the program file; "&View Status" shows its log.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/bidwiring.h"
#include "app/tmainform.h"
#include "demodata/demofolder.h"
#include "pages/choicegroups.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "submit/xmitlog.h"
#include "tableedit/dbeditform.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

namespace tarvik {
namespace {

using test::ScriptedPrompt;

class SubmitFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        test::makeDataFolder(tmp_.path());
        clock_ = std::make_unique<test::FixedClock>(QDateTime(QDate(2026, 3, 14), QTime(9, 30)));
        form_ = std::make_unique<TMainForm>(tmp_.path());
        wireBidStore(*form_);
        form_->show();
    }
    void TearDown() override {
        form_.reset();
        clock_.reset();
    }

    template <typename T>
    T* get(const char* name) {
        T* w = form_->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // Starts a bid the way the user does: the executive chosen, Yes to "Create new Bid?".
    QString startBid() {
        ScriptedPrompt prompt;
        prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Create new Bid?"); });
        QComboBox* c = get<QComboBox>("cbxAccountName");
        c->setCurrentIndex(0);
        emit c->activated(0);
        return get<QLineEdit>("ebxLocalBidID")->text();
    }

    // Every field the completeness checks ask for, filled the way its kind allows.
    void fillRequiredFields() {
        get<QLineEdit>("ebxBusiness")->setText(QStringLiteral("40"));
        for (const char* name : {"cbxIndustry", "cbxCompetitorName", "cbxBrokerage", "cbxPLDTypes",
                                 "cbxCustSource", "cbxSourceDist"}) {
            QComboBox* c = get<QComboBox>(name);
            if (c->count() == 0) c->addItem(QStringLiteral("Chosen"));
            c->setCurrentIndex(c->count() > 1 ? 1 : 0);
            if (c->isEditable() && c->currentText().isEmpty()) c->setEditText(QStringLiteral("Chosen"));
        }
        for (const char* name : {"rgBidType", "rgStrategy", "rgInfoSource", "rgBillWeight"})
            get<RadioGroup>(name)->setItemIndex(0);
        get<QCheckBox>("chbValueYes")->setChecked(true);
        get<QCheckBox>("chbResellerNo")->setChecked(true);
    }

    // Three shipment lines (Express, Economy, Express) with their weekly volumes.
    void keyLinesAndVolumes() {
        StringGrid* lines = form_->tbsShipmentData->shipmentGrid();
        const char* services[] = {"Express", "Economy", "Express"};
        for (int n = 1; n <= 3; ++n) {
            if (lines->rowCount() <= n) lines->setRowCount(n + 1);
            lines->setCell(ShipmentPage::ColService, n, QString::fromLatin1(services[n - 1]));
            lines->setCell(ShipmentPage::ColTotPcs, n, QString::number(n + 1));
            lines->setCell(ShipmentPage::ColTotWgt, n, QString::number(10 * n));
            lines->setCell(ShipmentPage::ColPostal, n, QStringLiteral("K1A0B1"));
            lines->setCell(ShipmentPage::ColCountry, n, QStringLiteral("CA"));
        }
        StringGrid* volumes = form_->tbsServices->incentiveGrid();
        for (int r = 0; r < volumes->rowCount(); ++r) {
            const QString label = volumes->cell(0, r).trimmed();
            if (label == QLatin1String("Express") || label == QLatin1String("Economy Ground"))
                volumes->setCell(2, r, QStringLiteral("12"));
        }
    }

    QString sendTable(const QString& name) const {
        return tmp_.path() + QStringLiteral("/Send/") + name + ".dbf";
    }

    QTemporaryDir tmp_;
    std::unique_ptr<test::FixedClock> clock_;
    std::unique_ptr<TMainForm> form_;
};

TEST_F(SubmitFlowTest, SubmittingABidWritesItsSendTablesStartsTheTransferAndClearsTheWindow) {
    const QString id = startBid();
    ASSERT_FALSE(id.isEmpty());
    fillRequiredFields();
    keyLinesAndVolumes();

    test::RecordingLauncher launcher;
    {
        ScriptedPrompt prompt;  // a complete bid asks nothing, and the user learns it was handed over
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_TRUE(
                r.text.contains(QStringLiteral("was handed to the File Transfer Program for sending")))
                << r.text.toStdString();
            EXPECT_EQ(r.icon, PromptIcon::Information);
        });
        QTest::mouseClick(get<QPushButton>("btnSubmitBid"), Qt::LeftButton);
    }
    ASSERT_EQ(launcher.starts.size(), 1u);
    EXPECT_EQ(launcher.starts[0].program, tmp_.path() + QStringLiteral("/relayo2"));
    EXPECT_TRUE(launcher.starts[0].arguments.isEmpty());
    EXPECT_TRUE(launcher.starts[0].workingFolder.isEmpty());

    EXPECT_EQ(test::readColumn(sendTable(id + "Head"), "local_bid"), QStringList{id});
    EXPECT_EQ(test::readColumn(sendTable(id + "Head"), "loc_stat"), QStringList{"Submitted"});
    EXPECT_EQ(test::readColumn(sendTable(id + "Tail"), "local_bid"), QStringList({id, id, id}));
    EXPECT_EQ(test::readColumn(sendTable(id + "Tail"), "svc_desc"),
              QStringList({"Express", "Economy", "Express"}));
    EXPECT_TRUE(QDir(tmp_.path() + QStringLiteral("/Recv")).exists());
    EXPECT_EQ(get<QLineEdit>("ebxLocalBidID")->text(), QString()) << "the window is cleared";

    // Selected again later, the bid shows the day it was submitted.
    clock_->time = QDateTime(QDate(2026, 4, 2), QTime(8, 0));
    test::whenModalShown([](QWidget* modal) {
        auto* picker = qobject_cast<TDBeditForm*>(modal);
        ASSERT_NE(picker, nullptr);
        QTest::mouseClick(picker->findChild<QPushButton*>("btnOpen"), Qt::LeftButton);
    });
    form_->mnuSelect->trigger();
    EXPECT_EQ(get<QLineEdit>("ebxLocalBidID")->text(), id);
    EXPECT_EQ(get<QLineEdit>("ebxLocalStatus")->text(), "Submitted");
    EXPECT_EQ(get<QLineEdit>("ebxSubmitDate")->text(), dateToText(QDate(2026, 3, 14)));
}

TEST_F(SubmitFlowTest, AnIncompleteBidShowsTheEntryErrorAndStartsNothing) {
    startBid();
    test::RecordingLauncher launcher;
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "'% Business' must be entered.\r\nPlease fix and try again...");
            EXPECT_EQ(r.caption, "ENTRY ERROR");
            EXPECT_EQ(r.icon, PromptIcon::Error);
            EXPECT_EQ(r.buttons, Ok);
        });
        form_->mnuSubmit->trigger();
    }
    EXPECT_TRUE(launcher.starts.empty());
    EXPECT_EQ(form_->tabEntryPages->currentIndex(), 1);
    EXPECT_FALSE(QDir(tmp_.path() + QStringLiteral("/Send")).exists());
    EXPECT_EQ(get<QLineEdit>("ebxLocalStatus")->text(), "Draft");
}

// The demonstration data folder as the program ships it: services chosen from the picker's own items,
// a postal code of the delivered postal table; the bid reaches the send folder.
TEST(SubmitFlowOnDemoData, ABidOfTheDemonstrationFolderReachesTheSendFolder) {
    QTemporaryDir tmp;
    QString error;
    ASSERT_TRUE(
        demo::buildDemoFolder(QStringLiteral(TARVIK_SOURCE_DIR "/data/demo"), tmp.path() + "/data", &error))
        << error.toStdString();
    test::FixedClock clock(QDateTime(QDate(2026, 5, 4), QTime(14, 15)));
    test::RecordingLauncher launcher;
    TMainForm form(tmp.path());
    wireBidStore(form);
    form.show();
    auto* executive = form.findChild<QComboBox*>("cbxAccountName");
    ASSERT_TRUE(executive && executive->count() > 0);
    {
        ScriptedPrompt prompt;
        prompt.answer(Yes);  // "Create new Bid?"
        executive->setCurrentIndex(2);
        emit executive->activated(2);
    }
    const QString id = form.findChild<QLineEdit*>("ebxLocalBidID")->text();
    ASSERT_FALSE(id.isEmpty());

    form.findChild<QLineEdit*>("ebxBusiness")->setText("60");
    for (const char* name : {"cbxIndustry", "cbxCompetitorName", "cbxBrokerage", "cbxPLDTypes",
                             "cbxCustSource", "cbxSourceDist"}) {
        auto* c = form.findChild<QComboBox*>(name);
        ASSERT_NE(c, nullptr) << name;
        ASSERT_GT(c->count(), 1) << name << " is filled";
        c->setCurrentIndex(1);
    }
    for (const char* name : {"rgBidType", "rgStrategy", "rgInfoSource", "rgBillWeight"})
        form.findChild<RadioGroup*>(name)->setItemIndex(0);
    form.findChild<QCheckBox*>("chbValueNo")->setChecked(true);
    form.findChild<QCheckBox*>("chbResellerYes")->setChecked(true);

    // Services as the picker lists them, with weekly volume on their rows of the Services page.
    auto* picker = form.findChild<QComboBox*>("cbxServices");
    ASSERT_NE(picker, nullptr);
    const QStringList chosen{"Express", "Expedited", "TB Express"};
    for (const QString& s : chosen) ASSERT_GE(picker->findText(s), 0) << s.toStdString();
    const QString postal =
        test::readColumn(tmp.path() + "/data/POSTAL", "POSTAL_COD").value(0).left(3) + "1A1";
    StringGrid* lines = form.tbsShipmentData->shipmentGrid();
    for (int n = 1; n <= chosen.size(); ++n) {
        lines->setCell(ShipmentPage::ColService, n, chosen[n - 1]);
        lines->setCell(ShipmentPage::ColTotPcs, n, "2");
        lines->setCell(ShipmentPage::ColTotWgt, n, "15");
        lines->setCell(ShipmentPage::ColPostal, n, postal);
        lines->setCell(ShipmentPage::ColCountry, n, "CA");
    }
    StringGrid* volumes = form.tbsServices->incentiveGrid();
    for (int r = 1; r < volumes->rowCount(); ++r) {
        const QString label = volumes->cell(0, r).trimmed();
        if (label == "Express (end of day)" || label == "Expedited (2 days)" || label == "TB Express")
            volumes->setCell(2, r, "20");
    }
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_TRUE(
                r.text.contains(QStringLiteral("was handed to the File Transfer Program for sending")))
                << r.text.toStdString();
            EXPECT_EQ(r.icon, PromptIcon::Information);
        });
        QTest::mouseClick(form.findChild<QPushButton*>("btnSubmitBid"), Qt::LeftButton);
    }
    ASSERT_EQ(launcher.starts.size(), 1u);
    EXPECT_EQ(launcher.starts[0].program, tmp.path() + "/relayo2");
    const QString send = tmp.path() + "/Send/";
    EXPECT_EQ(test::readColumn(send + id + "Head", "local_bid"), QStringList{id});
    EXPECT_EQ(test::readColumn(send + id + "Head", "subm_date"), QStringList{"20260504"});
    EXPECT_EQ(test::readColumn(send + id + "Tail", "svc_desc"), chosen);
}

// The program's own launcher with the transfer program really beside the program folder: it runs, and
// its log, written in the current folder, is what "&View Status" shows.
TEST_F(SubmitFlowTest, TheRealTransferProgramBesideTheProgramIsStartedAndItsLogShown) {
    const QString relay = QStringLiteral(TARVIK_BIN_DIR "/relayo2");
    ASSERT_TRUE(QFile::exists(relay)) << "relayo2 is built with the program";
    ASSERT_TRUE(QFile::copy(relay, tmp_.path() + QStringLiteral("/relayo2")));
    QTemporaryDir cwd;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path()));

    const QString id = startBid();
    fillRequiredFields();
    keyLinesAndVolumes();
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_TRUE(
                r.text.contains(QStringLiteral("was handed to the File Transfer Program for sending")))
                << r.text.toStdString();
            EXPECT_EQ(r.icon, PromptIcon::Information);
        });
        form_->mnuSubmit->trigger();
    }
    EXPECT_TRUE(QFile::exists(sendTable(id + "Head")));
    // No settings yet: the program says so in its log and leaves the tables where they are.
    const QString log = cwd.path() + QStringLiteral("/Relayo2.log");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log) && QFileInfo(log).size() > 0, 30000);
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains("transfer settings are missing")) << text.toStdString();
    EXPECT_TRUE(QFile::exists(sendTable(id + "Tail")));

    QString shown;
    test::whenModalShown([&shown](QWidget* modal) {
        auto* window = qobject_cast<TfrmXmitLog*>(modal);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle(), "Relayo Log");
        shown = window->mmoXmitLog->toPlainText();
        QTest::mouseClick(window->btnOk, Qt::LeftButton);
    });
    form_->mnuViewStatus->trigger();
    EXPECT_EQ(shown, text.trimmed());

    // Without the program beside it, the start fails with the launcher's message; the bid stays submitted.
    ASSERT_TRUE(QFile::remove(tmp_.path() + QStringLiteral("/relayo2")));
    clock_->time = clock_->time.addSecs(60);  // a new bid ID
    const QString second = startBid();
    ASSERT_NE(second, id);
    fillRequiredFields();
    keyLinesAndVolumes();
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Could not start File Transfer Program!");
            EXPECT_EQ(r.caption, "ERROR");
            EXPECT_EQ(r.icon, PromptIcon::Error);
        });
        form_->mnuSubmit->trigger();
    }
    EXPECT_TRUE(QFile::exists(sendTable(second + "Head")));
    const QStringList ids = test::readColumn(form_->state().tablePath("Bids"), "local_bid");
    const QStringList states = test::readColumn(form_->state().tablePath("Bids"), "loc_stat");
    ASSERT_EQ(ids.size(), states.size());
    ASSERT_TRUE(ids.contains(second));
    EXPECT_EQ(states[ids.indexOf(second)], "Submitted");

    // "&FTP Setup" without the program: its own message.
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Problem Setting up File Transfer Program!");
            EXPECT_EQ(r.caption, "ERROR");
        });
        form_->mnuFTPSetup->trigger();
    }
    QDir::setCurrent(before);
}

}  // namespace
}  // namespace tarvik
