#include "submit/submission.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include "submit/xmitlog.h"
#include "tableaccess/tableaccess.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"

using namespace tarvik;
using tarvik::test::RecordingLauncher;
using tarvik::test::ScriptedPrompt;

namespace {

// A program folder with the two bid tables, and a stand-in for the main window holding the three edits
// the submission reads and writes.
struct SubmitFixture {
    QTemporaryDir tmp;
    MainState state;
    QWidget window;
    QLineEdit* id = nullptr;
    QLineEdit* status = nullptr;
    QLineEdit* date = nullptr;

    SubmitFixture() {
        state.DataContext = ta::OpenData();
        state.FProgramFolder = tmp.path();
        tarvik::test::DataFolderOptions o;
        o.referenceTables = false;
        state.FDataFolder = tarvik::test::makeDataFolder(tmp.path(), o);
        auto* layout = new QVBoxLayout(&window);
        for (auto [edit, name] :
             {std::pair{&id, "ebxLocalBidID"}, {&status, "ebxLocalStatus"}, {&date, "ebxSubmitDate"}}) {
            *edit = new QLineEdit(&window);
            (*edit)->setObjectName(QLatin1String(name));
            layout->addWidget(*edit);
        }
    }
    ~SubmitFixture() { ta::CloseData(state.DataContext); }

    QString bids() const { return state.tablePath(QStringLiteral("Bids.dbf")); }
    QString bidTail() const { return state.tablePath(QStringLiteral("BidTail.dbf")); }
    QString send(const QString& name = QString()) const {
        return name.isEmpty() ? tmp.filePath(QStringLiteral("Send"))
                              : tmp.filePath(QStringLiteral("Send/") + name);
    }
    QStringList sendFiles() const {
        return QDir(send()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                      QDir::Name);
    }

    // Headers of ZZ9, ABC123 (with a sales strategy memo) and ABC1234; five lines of three bids.
    void addBids() {
        ASSERT_TRUE(
            tarvik::test::appendRows(bids(),
                                     {{"ZZ9", "Draft", "Zed Co", ""},
                                      {"ABC123", "Draft", "Acme Freight", "Beat them by five percent."},
                                      {"ABC1234", "Draft", "Other Co", ""}},
                                     {"local_bid", "loc_stat", "comp_name", "sale_strat"}));
        ASSERT_TRUE(tarvik::test::appendRows(bidTail(),
                                             {{"ABC123", "Line one", "1"},
                                              {"ZZ9", "Zed line", "4"},
                                              {"ABC123", "Line two", "2"},
                                              {"ABC1234", "Other line", "5"},
                                              {"ABC123", "Line three", "3"}},
                                             {"local_bid", "svc_desc", "tot_pcs"}));
    }
};

TEST(WriteSendFiles, CopiesTheHeaderAndEveryLineOfThatBidInTableOrder) {
    SubmitFixture fx;
    fx.addBids();
    fx.id->setText(QStringLiteral("ABC123"));
    Submission sub(fx.state, &fx.window);
    ASSERT_TRUE(sub.WriteSendFiles());

    EXPECT_EQ(fx.sendFiles(), (QStringList{"ABC123Head.dbf", "ABC123Head.fpt", "ABC123Tail.dbf"}));
    EXPECT_TRUE(QDir(fx.tmp.filePath(QStringLiteral("Recv"))).exists());
    EXPECT_TRUE(QDir(fx.tmp.filePath(QStringLiteral("Recv"))).isEmpty());

    const QString head = fx.send(QStringLiteral("ABC123Head.dbf"));
    EXPECT_EQ(tarvik::test::recordCount(head), 1);
    EXPECT_EQ(tarvik::test::readColumn(head, QStringLiteral("local_bid")), QStringList{"ABC123"});
    EXPECT_EQ(tarvik::test::readColumn(head, QStringLiteral("comp_name")), QStringList{"Acme Freight"});
    EXPECT_EQ(tarvik::test::readColumn(head, QStringLiteral("sale_strat")),
              QStringList{"Beat them by five percent."});
    EXPECT_EQ(tarvik::test::fieldNames(head), tarvik::test::fieldNames(fx.bids()));

    const QString tail = fx.send(QStringLiteral("ABC123Tail.dbf"));
    EXPECT_EQ(tarvik::test::recordCount(tail), 3);
    EXPECT_EQ(tarvik::test::readColumn(tail, QStringLiteral("svc_desc")),
              (QStringList{"Line one", "Line two", "Line three"}));
    EXPECT_EQ(tarvik::test::readColumn(tail, QStringLiteral("local_bid")),
              (QStringList{"ABC123", "ABC123", "ABC123"}));
    EXPECT_EQ(tarvik::test::fieldNames(tail), tarvik::test::fieldNames(fx.bidTail()));

    // The bid tables themselves are unchanged.
    EXPECT_EQ(tarvik::test::recordCount(fx.bids()), 3);
    EXPECT_EQ(tarvik::test::recordCount(fx.bidTail()), 5);
}

TEST(WriteSendFiles, ABidWithoutLinesGetsAnEmptyTail) {
    SubmitFixture fx;
    fx.addBids();
    ASSERT_TRUE(tarvik::test::appendRows(fx.bids(), {{"NOLINES1"}}, {"local_bid"}));
    fx.id->setText(QStringLiteral("NOLINES1"));
    Submission sub(fx.state, &fx.window);
    ASSERT_TRUE(sub.WriteSendFiles());
    EXPECT_EQ(tarvik::test::recordCount(fx.send(QStringLiteral("NOLINES1Head.dbf"))), 1);
    EXPECT_EQ(tarvik::test::recordCount(fx.send(QStringLiteral("NOLINES1Tail.dbf"))), 0);
    EXPECT_EQ(tarvik::test::fieldNames(fx.send(QStringLiteral("NOLINES1Tail.dbf"))),
              tarvik::test::fieldNames(fx.bidTail()));
}

TEST(WriteSendFiles, ASecondSubmissionReplacesTheTablesWithTheirMemoFiles) {
    SubmitFixture fx;
    fx.addBids();
    fx.id->setText(QStringLiteral("ABC123"));
    Submission sub(fx.state, &fx.window);
    ASSERT_TRUE(sub.WriteSendFiles());

    // Lines removed since (one left) and a stray memo file of an older Tail in other letter case.
    const int t = ta::mOpen(fx.state.DataContext, fx.bidTail());
    ASSERT_GT(t, 0);
    for (int rec : {3, 5}) {
        ta::d4go(t, rec);
        ta::d4delete(t);
    }
    ta::d4pack(t);
    ta::d4close(t);
    QFile stray(fx.send(QStringLiteral("abc123tail.FPT")));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.write(QByteArray(512, 'x'));
    stray.close();

    ASSERT_TRUE(sub.WriteSendFiles());
    EXPECT_EQ(fx.sendFiles(), (QStringList{"ABC123Head.dbf", "ABC123Head.fpt", "ABC123Tail.dbf"}));
    EXPECT_EQ(tarvik::test::recordCount(fx.send(QStringLiteral("ABC123Head.dbf"))), 1);
    EXPECT_EQ(
        tarvik::test::readColumn(fx.send(QStringLiteral("ABC123Head.dbf")), QStringLiteral("sale_strat")),
        QStringList{"Beat them by five percent."});
    EXPECT_EQ(tarvik::test::readColumn(fx.send(QStringLiteral("ABC123Tail.dbf")), QStringLiteral("svc_desc")),
              QStringList{"Line one"});
}

TEST(WriteSendFiles, AnExistingSendFolderWorksTheSameAndKeepsOtherFiles) {
    SubmitFixture fx;
    fx.addBids();
    ASSERT_TRUE(QDir(fx.tmp.path()).mkpath(QStringLiteral("Send/sent")));
    QFile other(fx.send(QStringLiteral("ZZ9Head.dbf")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("not touched");
    other.close();
    fx.id->setText(QStringLiteral("ABC123"));
    Submission sub(fx.state, &fx.window);
    ASSERT_TRUE(sub.WriteSendFiles());
    EXPECT_EQ(fx.sendFiles(),
              (QStringList{"ABC123Head.dbf", "ABC123Head.fpt", "ABC123Tail.dbf", "ZZ9Head.dbf", "sent"}));
    EXPECT_EQ(tarvik::test::recordCount(fx.send(QStringLiteral("ABC123Tail.dbf"))), 3);
    QFile check(fx.send(QStringLiteral("ZZ9Head.dbf")));
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), QByteArray("not touched"));
}

TEST(WriteSendFiles, LinesMarkedDeletedAreNotSent) {
    SubmitFixture fx;
    fx.addBids();
    const int t = ta::mOpen(fx.state.DataContext, fx.bidTail());
    ASSERT_GT(t, 0);
    ta::d4go(t, 3);  // "Line two"
    ta::d4delete(t);
    ta::d4close(t);
    fx.id->setText(QStringLiteral("ABC123"));
    Submission sub(fx.state, &fx.window);
    ASSERT_TRUE(sub.WriteSendFiles());
    EXPECT_EQ(tarvik::test::readColumn(fx.send(QStringLiteral("ABC123Tail.dbf")), QStringLiteral("svc_desc")),
              (QStringList{"Line one", "Line three"}));
}

TEST(WriteSendFiles, ABidMissingFromTheTableWritesNothingAndSaysSo) {
    SubmitFixture fx;
    fx.addBids();
    fx.id->setText(QStringLiteral("NOTSTORED9"));
    Submission sub(fx.state, &fx.window);
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, QStringLiteral(
                              "Bid NOTSTORED9 is not in the bid table; its send tables were not written."));
        EXPECT_EQ(r.caption, QStringLiteral("ERROR"));
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, int(Ok));
    });
    EXPECT_FALSE(sub.WriteSendFiles());
    EXPECT_FALSE(QDir(fx.send()).exists());
    EXPECT_FALSE(QDir(fx.tmp.filePath(QStringLiteral("Recv"))).exists());
}

TEST(WriteSendFiles, ASendFolderThatCannotBeMadeIsReported) {
    SubmitFixture fx;
    fx.addBids();
    QFile blocker(fx.send());  // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    fx.id->setText(QStringLiteral("ABC123"));
    Submission sub(fx.state, &fx.window);
    ScriptedPrompt prompt;
    prompt.answer(Ok, [&](const PromptRequest& r) {
        EXPECT_EQ(r.text, QStringLiteral("The send tables of bid ABC123 could not be written to %1.")
                              .arg(QDir::toNativeSeparators(fx.send())));
        EXPECT_EQ(r.caption, QStringLiteral("ERROR"));
        EXPECT_EQ(r.icon, PromptIcon::Error);
    });
    // The table layer reports its own failure to create the table through its error callback.
    auto previous = ta::setErrorHandler([](const QString&, const QString&) {});
    EXPECT_FALSE(sub.WriteSendFiles());
    ta::setErrorHandler(previous);
    EXPECT_TRUE(QFileInfo(fx.send()).isFile());
}

TEST(BidIdIsSafe, OnlyLettersAndDigitsMayNameSendFiles) {
    EXPECT_TRUE(BidIdIsSafe(QStringLiteral("ABC123")));
    EXPECT_TRUE(BidIdIsSafe(QStringLiteral("  AnnaBell4609712345  ")));  // trimmed first
    for (const char* bad : {"", "   ", "../../etc", "A B", "A.B", "a/b", "a\\b", "C:x", "ABC-1", "x*"})
        EXPECT_FALSE(BidIdIsSafe(QString::fromLatin1(bad))) << bad;
}

// ---- SubmitBid ----

struct Recorded {
    std::vector<std::string> calls;
};

SubmitHooks recordingHooks(SubmitFixture& fx, Recorded& rec, bool complete = true,
                           QString message = QString(), bool stores = true) {
    SubmitHooks h;
    h.CheckBidComplete = [&rec, complete, message](QString& m) {
        rec.calls.push_back("check");
        m = message;
        return complete;
    };
    h.StoreBid = [&fx, &rec, stores] {
        // Storing sees the status and date already set, and comes before the send tables.
        rec.calls.push_back("store:" + fx.status->text().toStdString() + ":" + fx.date->text().toStdString() +
                            (QDir(fx.send()).exists() ? ":send" : ":nosend"));
        return stores;
    };
    h.ClearBidWindow = [&fx, &rec] {
        rec.calls.push_back("clear");
        fx.id->clear();
        fx.status->clear();
        fx.date->clear();
    };
    return h;
}

TEST(SubmitBid, MarksStoresWritesStartsTheTransferAndClears) {
    SubmitFixture fx;
    fx.addBids();
    fx.id->setText(QStringLiteral("ABC123"));
    fx.status->setText(QStringLiteral("Draft"));
    tarvik::test::FixedClock clock(QDateTime(QDate(2026, 3, 9), QTime(14, 5)));
    RecordingLauncher launcher;
    Recorded rec;
    Submission sub(fx.state, &fx.window, recordingHooks(fx, rec));
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_EQ(r.text,
                      QStringLiteral("Bid ABC123 was handed to the File Transfer Program for sending.\r\n"
                                     "\"View Status\" shows how the sending goes."));
            EXPECT_EQ(r.icon, PromptIcon::Information);
            EXPECT_EQ(r.buttons, int(Ok));
        });
        sub.SubmitBid();
    }

    const std::string today = dateToText(QDate(2026, 3, 9)).toStdString();
    EXPECT_EQ(rec.calls,
              (std::vector<std::string>{"check", "store:Submitted:" + today + ":nosend", "clear"}));
    EXPECT_EQ(tarvik::test::recordCount(fx.send(QStringLiteral("ABC123Head.dbf"))), 1);
    EXPECT_EQ(tarvik::test::recordCount(fx.send(QStringLiteral("ABC123Tail.dbf"))), 3);
    ASSERT_EQ(launcher.starts.size(), 1u);
    EXPECT_EQ(launcher.starts[0].program, sub.transferProgram());
    EXPECT_EQ(launcher.starts[0].program, fx.tmp.path() + QStringLiteral("/relayo2"));
    EXPECT_TRUE(launcher.starts[0].arguments.isEmpty());
    EXPECT_TRUE(launcher.starts[0].workingFolder.isEmpty());
    EXPECT_TRUE(fx.id->text().isEmpty());
}

TEST(SubmitBid, AnIncompleteBidIsNeitherStoredNorSent) {
    SubmitFixture fx;
    fx.addBids();
    fx.id->setText(QStringLiteral("ABC123"));
    fx.status->setText(QStringLiteral("Draft"));
    RecordingLauncher launcher;
    Recorded rec;
    Submission sub(fx.state, &fx.window,
                   recordingHooks(fx, rec, false, QStringLiteral("'Bid Type' must be selected.")));
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, QStringLiteral("'Bid Type' must be selected.\r\nPlease fix and try again..."));
        EXPECT_EQ(r.caption, QStringLiteral("ENTRY ERROR"));
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, int(Ok));
    });
    sub.SubmitBid();
    EXPECT_EQ(rec.calls, std::vector<std::string>{"check"});
    EXPECT_TRUE(launcher.starts.empty());
    EXPECT_FALSE(QDir(fx.send()).exists());
    EXPECT_EQ(fx.status->text(), QStringLiteral("Draft"));
    EXPECT_EQ(fx.id->text(), QStringLiteral("ABC123"));
}

TEST(SubmitBid, AnIdThatCouldLeaveTheSendFolderIsRefusedBeforeAnythingHappens) {
    SubmitFixture fx;
    ASSERT_TRUE(tarvik::test::appendRows(fx.bids(), {{"../../x"}}, {"local_bid"}));
    fx.id->setText(QStringLiteral("../../x"));
    fx.status->setText(QStringLiteral("Draft"));
    RecordingLauncher launcher;
    Recorded rec;
    Submission sub(fx.state, &fx.window, recordingHooks(fx, rec));
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, QStringLiteral(
                              "The Bid ID \"../../x\" may hold only letters and digits; this bid cannot be "
                              "submitted.\r\nPlease fix and try again..."));
        EXPECT_EQ(r.caption, QStringLiteral("ENTRY ERROR"));
        EXPECT_EQ(r.icon, PromptIcon::Error);
    });
    sub.SubmitBid();
    EXPECT_EQ(rec.calls, std::vector<std::string>{"check"});
    EXPECT_TRUE(launcher.starts.empty());
    EXPECT_FALSE(QDir(fx.send()).exists());
    EXPECT_EQ(fx.status->text(), QStringLiteral("Draft"));
    EXPECT_TRUE(fx.date->text().isEmpty());
    // And writing the send tables directly refuses it too.
    EXPECT_FALSE(sub.WriteSendFiles());
    EXPECT_FALSE(QDir(fx.send()).exists());
}

TEST(SubmitBid, ATransferProgramThatDoesNotStartLeavesTheBidSubmittedAndItsTables) {
    SubmitFixture fx;
    fx.addBids();
    fx.id->setText(QStringLiteral("ABC123"));
    RecordingLauncher launcher;
    launcher.succeed = false;
    Recorded rec;
    Submission sub(fx.state, &fx.window, recordingHooks(fx, rec));
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, QStringLiteral("Could not start File Transfer Program!"));
        EXPECT_EQ(r.caption, QStringLiteral("ERROR"));
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, int(Ok));
    });
    sub.SubmitBid();
    ASSERT_EQ(rec.calls.size(), 3u);
    EXPECT_EQ(rec.calls[1].rfind("store:Submitted:", 0), 0u);
    EXPECT_EQ(rec.calls[2], "clear");
    EXPECT_EQ(launcher.starts.size(), 1u);
    EXPECT_EQ(tarvik::test::recordCount(fx.send(QStringLiteral("ABC123Head.dbf"))), 1);
}

// Storing failed to put the header into Bids: nothing can be sent, and clearing the window would lose the
// bid, so it stays on screen after the error box.
TEST(SubmitBid, ABidWhoseSendTablesCannotBeWrittenStaysInTheWindow) {
    SubmitFixture fx;
    fx.addBids();
    fx.id->setText(QStringLiteral("NEWBID7"));
    fx.status->setText(QStringLiteral("Draft"));
    RecordingLauncher launcher;
    Recorded rec;
    Submission sub(fx.state, &fx.window, recordingHooks(fx, rec));
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text,
                  QStringLiteral("Bid NEWBID7 is not in the bid table; its send tables were not written."));
        EXPECT_EQ(r.caption, QStringLiteral("ERROR"));
    });
    sub.SubmitBid();
    ASSERT_EQ(rec.calls.size(), 2u);
    EXPECT_EQ(rec.calls[1].rfind("store:Submitted:", 0), 0u);
    EXPECT_EQ(launcher.starts.size(), 1u) << "the transfer program still sends what else waits in Send";
    EXPECT_EQ(fx.id->text(), QStringLiteral("NEWBID7"));
    EXPECT_FALSE(QDir(fx.send()).exists());
}

// Storing failed: the header in Bids is missing or older than the window, so nothing is sent, the transfer
// program is not started, and the window keeps the bid with the status and date it had.
TEST(SubmitBid, ABidThatCannotBeStoredIsNotSentAndKeepsItsFormerStatus) {
    SubmitFixture fx;
    fx.addBids();
    fx.id->setText(QStringLiteral("ABC123"));
    fx.status->setText(QStringLiteral("Draft"));
    fx.date->clear();
    tarvik::test::FixedClock clock(QDateTime(QDate(2026, 3, 9), QTime(14, 5)));
    RecordingLauncher launcher;
    Recorded rec;
    Submission sub(fx.state, &fx.window, recordingHooks(fx, rec, true, QString(), false));
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text,
                  QStringLiteral("Bid ABC123 was not stored, so it was not submitted. It stays on screen."));
        EXPECT_EQ(r.caption, QStringLiteral("ERROR"));
        EXPECT_EQ(r.icon, PromptIcon::Error);
    });
    sub.SubmitBid();
    ASSERT_EQ(rec.calls.size(), 2u) << "checked and stored, never cleared";
    EXPECT_EQ(rec.calls[1].rfind("store:Submitted:", 0), 0u);
    EXPECT_TRUE(launcher.starts.empty());
    EXPECT_FALSE(QDir(fx.send()).exists());
    EXPECT_EQ(fx.id->text(), QStringLiteral("ABC123"));
    EXPECT_EQ(fx.status->text(), QStringLiteral("Draft"));
    EXPECT_EQ(fx.date->text(), QString());
}

TEST(SubmitBid, WithoutACheckHookTheCompletenessChecksRun) {
    SubmitFixture fx;
    fx.addBids();
    RecordingLauncher launcher;
    Recorded rec;
    SubmitHooks hooks = recordingHooks(fx, rec);
    hooks.CheckBidComplete = nullptr;
    Submission sub(fx.state, &fx.window, hooks);
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, QStringLiteral("No Bid ID assigned yet.\r\nPlease fix and try again..."));
        EXPECT_EQ(r.caption, QStringLiteral("ENTRY ERROR"));
    });
    sub.SubmitBid();
    EXPECT_TRUE(rec.calls.empty());
    EXPECT_TRUE(launcher.starts.empty());
}

TEST(FtpSetup, StartsTheTransferProgramWithItsSetupSwitch) {
    SubmitFixture fx;
    Submission sub(fx.state, &fx.window);
    {
        RecordingLauncher launcher;
        sub.mnuFTPSetupClick();
        ASSERT_EQ(launcher.starts.size(), 1u);
        EXPECT_EQ(launcher.starts[0].program, fx.tmp.path() + QStringLiteral("/relayo2"));
        EXPECT_EQ(launcher.starts[0].arguments, QStringList{QStringLiteral("/S")});
        EXPECT_TRUE(launcher.starts[0].workingFolder.isEmpty());
    }
    RecordingLauncher failing;
    failing.succeed = false;
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, QStringLiteral("Problem Setting up File Transfer Program!"));
        EXPECT_EQ(r.caption, QStringLiteral("ERROR"));
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, int(Ok));
    });
    sub.mnuFTPSetupClick();
}

// ---- Update Status ----

// "&Update Status" starts the transfer program only when tables wait in Send, and says what it did.
TEST(UpdateStatus, StartsTheTransferProgramWhenTablesWaitInSend) {
    struct Case {
        const char* what;
        QStringList files;  // in Send (a file in Send/sent is sent already)
        bool startSucceeds;
        int starts;
        QString text;
        PromptIcon icon;
    };
    const Case cases[] = {
        {"nothing waits",
         {QStringLiteral("sent/ABC1Head.dbf"), QStringLiteral("notes.txt")},
         true,
         0,
         QStringLiteral("No bid is waiting in the send folder: every submitted bid has been sent."),
         PromptIcon::Information},
        {"a bid waits",
         {QStringLiteral("ABC1Head.dbf"), QStringLiteral("ABC1Head.fpt"), QStringLiteral("ABC1Tail.dbf")},
         true,
         1,
         QStringLiteral(
             "The File Transfer Program was started for the 3 file(s) waiting in the send folder.\r\n"
             "\"View Status\" shows how the sending goes."),
         PromptIcon::Information},
        {"the program does not start",
         {QStringLiteral("ABC1Tail.DBF")},
         false,
         1,
         QStringLiteral("Could not start File Transfer Program!"),
         PromptIcon::Error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SubmitFixture fx;
        for (const QString& name : c.files) {
            const QString path = fx.send(name);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        RecordingLauncher launcher;
        launcher.succeed = c.startSucceeds;
        Submission sub(fx.state, &fx.window);
        ScriptedPrompt prompt;
        prompt.answer(Ok, [&](const PromptRequest& r) {
            EXPECT_EQ(r.text, c.text);
            EXPECT_EQ(r.icon, c.icon);
        });
        sub.mnuUpdateStatusClick();
        ASSERT_EQ(int(launcher.starts.size()), c.starts);
        if (c.starts) {
            EXPECT_EQ(launcher.starts[0].program, sub.transferProgram());
            EXPECT_TRUE(launcher.starts[0].arguments.isEmpty());
        }
    }
}

// ---- View Status ----

// Runs mnuViewStatusClick with the current folder set to dir, and returns what the log window showed.
struct Shown {
    QString caption, memo, button;
    bool closedByDone = false;
    bool cursorAtEnd = false;    // the text cursor stands after the last line
    bool scrolledToEnd = false;  // the vertical scroll bar is at its end
    bool scrollsVertically = false;
    bool scrollsSideways = true;  // a horizontal scroll range (no wrapping)
};
Shown viewStatusIn(const QString& dir, SubmitFixture& fx, const QString& typeIntoMemo = QString()) {
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir);
    Shown shown;
    tarvik::test::whenModalShown([&](QWidget* w) {
        auto* log = qobject_cast<TfrmXmitLog*>(w);
        ASSERT_NE(log, nullptr);
        shown.caption = log->windowTitle();
        auto* memo = log->findChild<QPlainTextEdit*>(QStringLiteral("mmoXmitLog"));
        auto* done = log->findChild<QPushButton*>(QStringLiteral("btnOk"));
        ASSERT_TRUE(memo && done);
        shown.memo = memo->toPlainText();
        shown.button = done->text();
        shown.cursorAtEnd = memo->textCursor().atEnd();
        shown.scrollsVertically = memo->verticalScrollBar()->maximum() > 0;
        shown.scrolledToEnd = memo->verticalScrollBar()->value() == memo->verticalScrollBar()->maximum();
        shown.scrollsSideways = memo->horizontalScrollBar()->maximum() > 0;
        EXPECT_FALSE(memo->isReadOnly());
        if (!typeIntoMemo.isEmpty()) QTest::keyClicks(memo, typeIntoMemo);
        QTest::mouseClick(done, Qt::LeftButton);
        shown.closedByDone = !log->isVisible();
    });
    Submission sub(fx.state, &fx.window);
    sub.mnuViewStatusClick();
    QDir::setCurrent(before);
    return shown;
}

TEST(ViewStatus, WithoutALogTheWindowSaysSo) {
    SubmitFixture fx;
    QTemporaryDir cwd;
    const Shown s = viewStatusIn(cwd.path(), fx);
    EXPECT_EQ(s.caption, QStringLiteral("Relayo Log"));
    EXPECT_EQ(s.memo, QStringLiteral("No Status file..."));
    EXPECT_EQ(s.button, QStringLiteral("&Done"));
    EXPECT_TRUE(s.closedByDone);
    EXPECT_FALSE(QFile::exists(QDir(cwd.path()).filePath(QStringLiteral("Relayo2.log"))));
}

TEST(ViewStatus, TheLogOfTheCurrentFolderIsShownAndNeverWrittenBack) {
    SubmitFixture fx;
    QTemporaryDir cwd;
    const QByteArray log =
        "2026-12-07 21:30:05  ABC123Head.fpt sent to ftp://127.0.0.1:2121/in (700 bytes).\r\n"
        "2026-12-07 21:30:05  ABC123Head.dbf sent to ftp://127.0.0.1:2121/in (3000 bytes).\n"
        "2026-12-07 21:30:06  Relayo2 finished: 2 of 2 file(s) sent and moved to Send/sent, 0 left in "
        "Send.\n";
    QFile f(QDir(cwd.path()).filePath(QStringLiteral("Relayo2.log")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(log);
    f.close();
    const Shown s = viewStatusIn(cwd.path(), fx, QStringLiteral("typed"));
    EXPECT_EQ(
        s.memo.split(QLatin1Char('\n')),
        (QStringList{"2026-12-07 21:30:05  ABC123Head.fpt sent to ftp://127.0.0.1:2121/in (700 bytes).",
                     "2026-12-07 21:30:05  ABC123Head.dbf sent to ftp://127.0.0.1:2121/in (3000 bytes).",
                     "2026-12-07 21:30:06  Relayo2 finished: 2 of 2 file(s) sent and moved to Send/sent, 0 "
                     "left in Send."}));
    EXPECT_TRUE(s.closedByDone);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), log);
}

// A long log opens at its newest lines, the last one in view, with long lines wrapped instead of running
// out of the window sideways.
TEST(ViewStatus, ALongLogOpensAtItsNewestLinesWrapped) {
    SubmitFixture fx;
    QTemporaryDir cwd;
    QFile f(QDir(cwd.path()).filePath(QStringLiteral("Relayo2.log")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (int i = 1; i <= 300; ++i)
        f.write(QStringLiteral("2026-12-07 21:30:05  Bid%1Head.dbf was not sent: the server refused the "
                               "connection after the greeting; it stays in Send for the next run.\n")
                    .arg(i)
                    .toUtf8());
    f.close();
    const Shown s = viewStatusIn(cwd.path(), fx);
    EXPECT_TRUE(
        s.memo.endsWith(QStringLiteral("Bid300Head.dbf was not sent: the server refused the connection "
                                       "after the greeting; it stays in Send for the next run.")));
    EXPECT_TRUE(s.scrollsVertically);
    EXPECT_TRUE(s.cursorAtEnd);
    EXPECT_TRUE(s.scrolledToEnd) << "the newest lines are in view";
    EXPECT_FALSE(s.scrollsSideways) << "long lines wrap";
}

TEST(ViewStatus, TheWindowHasNoTitleBarButtonsAndWrapsItsLines) {
    QWidget owner;
    owner.setGeometry(100, 100, 900, 700);
    TfrmXmitLog w(&owner);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(w.mmoXmitLog->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(w.mmoXmitLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_GT(w.mmoXmitLog->font().pointSizeF(), owner.font().pointSizeF());
}

}  // namespace
