#include "relaysender.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "relaysettings.h"
#include "relaytestsupport_test.h"

using namespace relaytest;

namespace {

const QDateTime kNow(QDate(2026, 12, 7), QTime(21, 30, 5));
relay::NowFn fixedNow() {
    return [] { return kNow; };
}

// A program folder with Send/, the settings beside it and a server folder, as one temporary tree. The
// program folder has a data folder, so that it is the home of a program placed in it (the portable layout).
struct SendFixture {
    QTemporaryDir tmp;
    QString program() const { return tmp.filePath(QStringLiteral("prog")); }
    QString send() const { return tmp.filePath(QStringLiteral("prog/Send")); }
    QString server() const { return tmp.filePath(QStringLiteral("server")); }
    QString log() const { return tmp.filePath(QStringLiteral("work/Relayo2.log")); }
    QString ini() const { return relay::settingsPathBeside(program()); }
    relay::RunPaths paths() const { return relay::RunPaths{send(), log(), ini(), {}}; }

    SendFixture() {
        QDir(tmp.path()).mkpath(QStringLiteral("prog/Send"));
        QDir(tmp.path()).mkpath(QStringLiteral("prog/data"));
        QDir(tmp.path()).mkpath(QStringLiteral("server"));
        QDir(tmp.path()).mkpath(QStringLiteral("work"));
    }
    void configure(const QString& url, const QString& folder = QStringLiteral("incoming/bids")) const {
        relay::Settings s{url, QStringLiteral("bidder"), QStringLiteral("s3cret pass"), folder};
        QString problem;
        ASSERT_TRUE(relay::saveSettings(ini(), s, &problem)) << problem.toStdString();
    }
    QString put(const QString& name, int size, quint32 seed) const {
        const QString path = QDir(send()).filePath(name);
        EXPECT_TRUE(writeFile(path, randomBytes(size, seed)));
        return path;
    }
    QStringList sendEntries() const {
        return QDir(send()).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    }
};

TEST(RelaySend, UploadsEveryTableFileByteIdenticalMovesItAndLogsEachFile) {
    SendFixture fx;
    FtpServer server;
    ASSERT_TRUE(server.start(fx.server()));
    fx.configure(server.url());
    fx.put(QStringLiteral("ABC123Head.dbf"), 3000, 1);
    fx.put(QStringLiteral("ABC123Head.fpt"), 700, 2);
    fx.put(QStringLiteral("ABC123Tail.DBF"), 150000, 3);
    fx.put(QStringLiteral("notes.txt"), 10, 4);

    const relay::RunSummary r = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_EQ(r.sent, 3);
    EXPECT_EQ(r.failed, 0);
    EXPECT_FALSE(r.busy);
    EXPECT_FALSE(r.notConfigured);

    // Arrived in the remote folder (created on the way), byte for byte; moved to Send/sent.
    for (int i = 0; i < 3; ++i) {
        const QString name = QStringList{QStringLiteral("ABC123Head.dbf"), QStringLiteral("ABC123Head.fpt"),
                                         QStringLiteral("ABC123Tail.DBF")}[i];
        const QByteArray sent = readFile(QDir(fx.send()).filePath(QStringLiteral("sent/") + name));
        EXPECT_EQ(sent, randomBytes(QList<int>{3000, 700, 150000}[i], quint32(i + 1))) << name.toStdString();
        EXPECT_EQ(readFile(QDir(fx.server()).filePath(QStringLiteral("incoming/bids/") + name)), sent)
            << name.toStdString();
    }
    // Only what is not a table stays; the lock is gone.
    EXPECT_EQ(fx.sendEntries(), QStringList{QStringLiteral("notes.txt")});

    const QStringList lines = logLines(fx.log());
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines, r.lines);
    // The memo file travels before its table.
    EXPECT_TRUE(
        lines[0].startsWith(QStringLiteral("2026-12-07 21:30:05  ABC123Head.fpt sent to ftp://127.0.0.1:")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("/incoming/bids (700 bytes).")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("2026-12-07 21:30:05  ABC123Head.dbf sent")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("ABC123Tail.DBF sent")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("(150000 bytes).")));
    EXPECT_EQ(lines[3], QStringLiteral("2026-12-07 21:30:05  Relayo2 finished: 3 of 3 file(s) sent and moved "
                                       "to Send/sent, 0 left in Send."));
    for (const QString& l : lines) EXPECT_FALSE(l.contains(QStringLiteral("s3cret"))) << l.toStdString();

    // A later submission of the same bid replaces the earlier copy in sent.
    fx.put(QStringLiteral("ABC123Head.dbf"), 999, 9);
    const relay::RunSummary again = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_EQ(again.sent, 1);
    EXPECT_EQ(readFile(QDir(fx.send()).filePath(QStringLiteral("sent/ABC123Head.dbf"))), randomBytes(999, 9));
    EXPECT_EQ(readFile(QDir(fx.server()).filePath(QStringLiteral("incoming/bids/ABC123Head.dbf"))),
              randomBytes(999, 9));
    EXPECT_EQ(logLines(fx.log()).size(), 6);  // appended, not rewritten
}

// A new submission of the same bid while a run is sending it puts new tables in Send: the run must not
// move the new files to "sent" as if they had arrived.
// What reaches Send while a run is sending (a second submission, whose own run found this one busy) is
// sent by the running pass before it ends: a new table, or a new version of a table being sent. The last
// log line counts what Send really holds at the end.
TEST(RelaySend, TablesThatArriveWhileTheRunSendsAreSentBeforeItEnds) {
    struct Case {
        const char* what;
        QStringList arriving;  // written into Send after the first upload
        int sent;
    };
    const Case cases[] = {
        {"a new bid's tables", {QStringLiteral("NEW7Head.fpt"), QStringLiteral("NEW7Head.dbf")}, 5},
        {"a new version of the table being sent", {QStringLiteral("ABC123Head.fpt"), QStringLiteral("ABC123Head.dbf")},
         3},  // the first version arrived but is not moved; the new one is sent after it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SendFixture fx;
        FtpServer server;
        ASSERT_TRUE(server.start(fx.server()));
        fx.configure(server.url());
        fx.put(QStringLiteral("ABC123Head.fpt"), 500, 1);
        fx.put(QStringLiteral("ABC123Head.dbf"), 2000, 2);
        fx.put(QStringLiteral("XYZ9Tail.dbf"), 800, 3);
        relay::RunPaths paths = fx.paths();
        bool written = false;
        paths.afterUpload = [&](const QString& name) {
            if (written || name != QStringLiteral("ABC123Head.fpt")) return;
            written = true;
            // Written beside and renamed into place, as the submission does.
            for (const QString& n : c.arriving) {
                const QString fresh = QDir(fx.tmp.path()).filePath(n);
                ASSERT_TRUE(writeFile(fresh, randomBytes(n.endsWith(QStringLiteral("fpt")) ? 500 : 2000, 7)));
                ASSERT_TRUE(std::rename(QFile::encodeName(fresh).constData(),
                                        QFile::encodeName(QDir(fx.send()).filePath(n)).constData()) == 0);
            }
        };
        const relay::RunSummary r = relay::sendAll(paths, fixedNow());
        EXPECT_EQ(r.failed, 0);
        EXPECT_EQ(fx.sendEntries(), QStringList{}) << "nothing submitted is left behind";
        for (const QString& n : c.arriving)
            EXPECT_EQ(readFile(QDir(fx.server()).filePath(QStringLiteral("incoming/bids/") + n)),
                      randomBytes(n.endsWith(QStringLiteral("fpt")) ? 500 : 2000, 7))
                << n.toStdString();
        ASSERT_FALSE(r.lines.isEmpty());
        EXPECT_TRUE(r.lines.last().endsWith(
            QStringLiteral("Relayo2 finished: %1 of %1 file(s) sent and moved to Send/sent, 0 left in Send.")
                .arg(c.sent)))
            << r.lines.last().toStdString();
        EXPECT_EQ(r.sent, c.sent) << r.lines.join(QLatin1Char('\n')).toStdString();
    }
}

TEST(RelaySend, ServerDownLeavesEveryFileAndLogsTheFailure) {
    SendFixture fx;
    FtpServer server;
    ASSERT_TRUE(server.start(fx.server()));
    fx.configure(server.url());
    server.stop();
    fx.put(QStringLiteral("XY9Head.dbf"), 500, 5);
    fx.put(QStringLiteral("XY9Tail.dbf"), 600, 6);

    const relay::RunSummary r = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_EQ(r.sent, 0);
    EXPECT_EQ(r.failed, 2);
    EXPECT_EQ(fx.sendEntries(), (QStringList{QStringLiteral("XY9Head.dbf"), QStringLiteral("XY9Tail.dbf")}));
    EXPECT_EQ(readFile(QDir(fx.send()).filePath(QStringLiteral("XY9Head.dbf"))), randomBytes(500, 5));
    EXPECT_FALSE(QDir(fx.send()).exists(QStringLiteral("sent")));

    const QStringList lines = logLines(fx.log());
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("2026-12-07 21:30:05  XY9Head.dbf was not sent: ")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("It stays in Send for the next run.")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("2026-12-07 21:30:05  XY9Tail.dbf was not sent: ")));
    EXPECT_EQ(lines[2], QStringLiteral("2026-12-07 21:30:05  Relayo2 finished: 0 of 2 file(s) sent and moved "
                                       "to Send/sent, 2 left in Send."));
}

TEST(RelaySend, TableAndMemoStayTogetherWhenOneOfThemIsRefused) {
    SendFixture fx;
    FtpServer server;
    ASSERT_TRUE(server.start(fx.server()));
    fx.configure(server.url(), QString());
    // The server refuses the table: a folder of that name is in the way.
    ASSERT_TRUE(QDir(fx.server()).mkdir(QStringLiteral("Q1Head.dbf")));
    fx.put(QStringLiteral("Q1Head.dbf"), 400, 7);
    fx.put(QStringLiteral("Q1Head.fpt"), 128, 8);
    fx.put(QStringLiteral("Q1Tail.dbf"), 300, 9);

    const relay::RunSummary r = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_EQ(r.sent, 1);
    EXPECT_EQ(r.failed, 2);
    // The memo arrived, but stays with its table so that the next run sends the pair whole.
    EXPECT_EQ(fx.sendEntries(), (QStringList{QStringLiteral("Q1Head.dbf"), QStringLiteral("Q1Head.fpt")}));
    EXPECT_TRUE(QFile::exists(QDir(fx.send()).filePath(QStringLiteral("sent/Q1Tail.dbf"))));
    const QStringList lines = logLines(fx.log());
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("Q1Head.fpt sent")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("Q1Head.dbf was not sent: ")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("Q1Head.fpt stays in Send as well")));
    EXPECT_TRUE(lines[3].contains(QStringLiteral("Q1Tail.dbf sent")));
    EXPECT_TRUE(
        lines[4].endsWith(QStringLiteral("1 of 3 file(s) sent and moved to Send/sent, 2 left in Send.")));
}

TEST(RelaySend, LockKeepsASecondRunFromSendingTheSameFiles) {
    SendFixture fx;
    FtpServer server;
    ASSERT_TRUE(server.start(fx.server()));
    fx.configure(server.url());
    fx.put(QStringLiteral("L7Head.dbf"), 256, 10);

    {
        // A run in progress holds the send folder's lock.
        QLockFile running(QDir(fx.send()).filePath(relay::lockFileName()));
        ASSERT_TRUE(running.tryLock(0));
        const relay::RunSummary r = relay::sendAll(fx.paths(), fixedNow());
        EXPECT_TRUE(r.busy);
        EXPECT_EQ(r.sent, 0);
        EXPECT_TRUE(QFile::exists(QDir(fx.send()).filePath(QStringLiteral("L7Head.dbf"))));
        EXPECT_FALSE(QDir(fx.server()).exists(QStringLiteral("incoming")));
        EXPECT_EQ(logLines(fx.log()),
                  QStringList{QStringLiteral("2026-12-07 21:30:05  Nothing was sent: another Relayo2 run is "
                                             "sending the files of this send folder.")});

        // The real program, a second process, keeps off as well.
        QProcess p;
        p.setWorkingDirectory(fx.tmp.filePath(QStringLiteral("work")));
        QFile::copy(QStringLiteral(TARVIK_BIN_DIR "/relayo2"),
                    QDir(fx.program()).filePath(QStringLiteral("relayo2")));
        QFile::setPermissions(QDir(fx.program()).filePath(QStringLiteral("relayo2")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        p.start(QDir(fx.program()).filePath(QStringLiteral("relayo2")), {});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 3);
        EXPECT_TRUE(QFile::exists(QDir(fx.send()).filePath(QStringLiteral("L7Head.dbf"))));
        EXPECT_EQ(logLines(fx.log()).size(), 2);
    }
    // Once the first run is over, the files go.
    const relay::RunSummary r = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_FALSE(r.busy);
    EXPECT_EQ(r.sent, 1);
    EXPECT_EQ(readFile(QDir(fx.server()).filePath(QStringLiteral("incoming/bids/L7Head.dbf"))),
              randomBytes(256, 10));
}

TEST(RelaySend, MissingOrUnusableSettingsSayWhyAndDeleteNothing) {
    SendFixture fx;
    fx.put(QStringLiteral("M1Head.dbf"), 64, 11);

    relay::RunSummary r = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_TRUE(r.notConfigured);
    EXPECT_EQ(r.sent + r.failed, 0);
    QStringList lines = logLines(fx.log());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0],
              QStringLiteral("2026-12-07 21:30:05  Nothing was sent: the transfer settings are missing. The "
                             "settings file %1 does not exist. Run \"relayo2 /S\" to set them up.")
                  .arg(QDir::toNativeSeparators(fx.ini())));

    relay::Settings blank;
    ASSERT_TRUE(relay::saveSettings(fx.ini(), blank, nullptr));
    r = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_TRUE(r.notConfigured);
    lines = logLines(fx.log());
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1],
              QStringLiteral("2026-12-07 21:30:05  Nothing was sent: the transfer settings are incomplete. "
                             "No server URL is set. Run \"relayo2 /S\" to set them up."));

    ASSERT_TRUE(relay::saveSettings(fx.ini(),
                                    relay::Settings{QStringLiteral("http://example.org"), QStringLiteral("u"),
                                                    QStringLiteral("p"), QString()},
                                    nullptr));
    r = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_TRUE(r.notConfigured);
    EXPECT_TRUE(logLines(fx.log()).last().contains(
        QStringLiteral("does not start with ftp://, ftps://, ftpes:// or sftp://")));

    EXPECT_EQ(fx.sendEntries(), QStringList{QStringLiteral("M1Head.dbf")});
    EXPECT_EQ(readFile(QDir(fx.send()).filePath(QStringLiteral("M1Head.dbf"))), randomBytes(64, 11));
}

TEST(RelaySend, NothingToSendIsReportedNotAFault) {
    SendFixture fx;
    fx.configure(QStringLiteral("ftp://127.0.0.1:9"));
    relay::RunSummary r = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_EQ(r.sent + r.failed, 0);
    EXPECT_EQ(logLines(fx.log()),
              QStringList{QStringLiteral("2026-12-07 21:30:05  Relayo2 finished: no files to send.")});

    QDir(fx.send()).removeRecursively();
    r = relay::sendAll(fx.paths(), fixedNow());
    EXPECT_TRUE(
        logLines(fx.log()).last().contains(QStringLiteral("Nothing to send: there is no send folder")));
    EXPECT_FALSE(QDir(fx.send()).exists());  // not created by a run
}

TEST(RelaySend, RealProgramSendsFromBesideItselfAndLogsInItsWorkingFolder) {
    SendFixture fx;
    FtpServer server;
    ASSERT_TRUE(server.start(fx.server()));
    fx.configure(server.url(), QStringLiteral("drop"));
    fx.put(QStringLiteral("P2Head.dbf"), 2048, 12);
    const QString exe = QDir(fx.program()).filePath(QStringLiteral("relayo2"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TARVIK_BIN_DIR "/relayo2"), exe));
    QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess p;
    p.setWorkingDirectory(fx.tmp.filePath(QStringLiteral("work")));
    p.start(exe, {});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(readFile(QDir(fx.server()).filePath(QStringLiteral("drop/P2Head.dbf"))), randomBytes(2048, 12));
    EXPECT_TRUE(QFile::exists(QDir(fx.send()).filePath(QStringLiteral("sent/P2Head.dbf"))));
    const QStringList lines = logLines(fx.log());
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("P2Head.dbf sent to")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("1 of 1 file(s) sent")));
    EXPECT_FALSE(QFile::exists(QDir(fx.program()).filePath(QStringLiteral("Relayo2.log"))));
}

// The real program finds Tarvik's home as Tarvik does: --home, TARVIK_HOME (how Tarvik hands its own
// over), the program folder when a data folder is beside it, else $XDG_DATA_HOME/Tarvik. Without settings
// it names the settings file it looked for, which shows the home it used.
TEST(RelayHome, TheRealProgramWorksInTheHomeTarvikWouldUse) {
    const struct {
        const char* what;
        bool dataBeside;
        const char* option;    // --home, relative to the temporary tree; nullptr: none
        const char* variable;  // TARVIK_HOME; nullptr: unset
        const char* expected;  // the home, relative to the temporary tree
    } cases[] = {
        {"--home", true, "chosen", "handed", "chosen"},
        {"TARVIK_HOME from Tarvik", true, nullptr, "handed", "handed"},
        {"portable: data beside the program", true, nullptr, nullptr, "prog"},
        {"installed: the per-user folder", false, nullptr, nullptr, "xdg/Tarvik"},
    };
    for (const auto& c : cases) {
        QTemporaryDir tmp;
        QDir root(tmp.path());
        ASSERT_TRUE(root.mkpath(QStringLiteral("prog")) && root.mkpath(QStringLiteral("work")));
        if (c.dataBeside) ASSERT_TRUE(root.mkpath(QStringLiteral("prog/data")));
        const QString exe = root.filePath(QStringLiteral("prog/relayo2"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(TARVIK_BIN_DIR "/relayo2"), exe));
        QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("TARVIK_HOME"));
        if (c.variable) env.insert(QStringLiteral("TARVIK_HOME"), root.filePath(QLatin1String(c.variable)));
        env.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("xdg")));
        env.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("user")));
        QStringList args;
        if (c.option) args << QStringLiteral("--home") << root.filePath(QLatin1String(c.option));
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(root.filePath(QStringLiteral("work")));
        p.start(exe, args);
        ASSERT_TRUE(p.waitForFinished(60000)) << c.what;
        EXPECT_EQ(p.exitCode(), 2) << c.what;  // no settings
        const QStringList lines = logLines(root.filePath(QStringLiteral("work/Relayo2.log")));
        ASSERT_EQ(lines.size(), 1) << c.what;
        const QString ini = root.filePath(QLatin1String(c.expected) + QStringLiteral("/relayo2.ini"));
        EXPECT_TRUE(lines[0].contains(QStringLiteral("settings file %1 does not exist").arg(ini)))
            << c.what << ": " << lines[0].toStdString();
    }
}

// --help, --version and a wrong command line answer on the terminal without touching any folder.
TEST(RelayCommandLine, HelpVersionAndWrongArgumentsAnswerOnTheTerminal) {
    const struct {
        QStringList args;
        int exitCode;
        const char* out;  // the standard output starts with this
        const char* err;  // the standard error starts with this
    } cases[] = {
        {{QStringLiteral("--version")}, 0, "relayo2 2012.1.0\n", ""},
        {{QStringLiteral("--help")}, 0, "Usage: relayo2 [/S] [--home DIR]\n", ""},
        {{QStringLiteral("--bogus")}, 2, "", "relayo2: unknown argument --bogus\n"},
        {{QStringLiteral("--home")}, 2, "", "relayo2: --home needs a folder\n"},
    };
    for (const auto& c : cases) {
        QTemporaryDir cwd;
        QProcess p;
        p.setWorkingDirectory(cwd.path());
        p.start(QStringLiteral(TARVIK_BIN_DIR "/relayo2"), c.args);
        ASSERT_TRUE(p.waitForFinished(60000));
        const std::string what = c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(p.exitCode(), c.exitCode) << what;
        EXPECT_TRUE(p.readAllStandardOutput().startsWith(c.out)) << what;
        EXPECT_TRUE(p.readAllStandardError().startsWith(c.err)) << what;
        EXPECT_TRUE(QDir(cwd.path()).isEmpty()) << what << ": no log written";
    }
}

TEST(RelayUrl, FolderAndNameArePercentEncodedBelowTheServerPath) {
    relay::Settings s{QStringLiteral("ftp://files.example.com:2100/base/"), QStringLiteral("u"),
                      QStringLiteral("p"), QStringLiteral("/in box/bids/")};
    EXPECT_EQ(relay::remoteUrl(s, QStringLiteral("A B#1.dbf")),
              QStringLiteral("ftp://files.example.com:2100/base/in%20box/bids/A%20B%231.dbf"));
    s.url = QStringLiteral("ftpes://files.example.com");
    s.remoteFolder.clear();
    // Explicit TLS is asked for on an ordinary FTP connection.
    EXPECT_EQ(relay::remoteUrl(s, QStringLiteral("X.dbf")), QStringLiteral("ftp://files.example.com/X.dbf"));
    s.url = QStringLiteral("sftp://user:pw@host.example.com/~/up");
    EXPECT_EQ(relay::remoteUrl(s, QStringLiteral("X.fpt")),
              QStringLiteral("sftp://host.example.com/~/up/X.fpt"));
}

}  // namespace
