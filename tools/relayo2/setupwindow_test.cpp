#include "setupwindow.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "relaysender.h"
#include "relaysettings.h"
#include "relaytestsupport_test.h"

using namespace relaytest;

namespace {

mode_t modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return 07777;
    return st.st_mode & 07777;
}

TEST(RelaySettings, RoundTripKeepsEveryValueAndTheFileIsPrivate) {
    QTemporaryDir tmp;
    const QString ini = relay::settingsPathBeside(tmp.path());
    EXPECT_EQ(ini, tmp.filePath(QStringLiteral("relayo2.ini")));
    // An earlier file readable by everyone is replaced by a private one, whatever the umask.
    ASSERT_TRUE(writeFile(ini, "[Server]\nUrl=ftp://old\n"));
    ::chmod(QFile::encodeName(ini).constData(), 0644);
    const mode_t oldMask = ::umask(0);
    const relay::Settings s{QStringLiteral("ftps://bids.example.com:990"), QStringLiteral("vyn"),
                            QStringLiteral(" pa=ss;word "), QStringLiteral("in/bids")};
    QString problem;
    const bool saved = relay::saveSettings(ini, s, &problem);
    ::umask(oldMask);
    ASSERT_TRUE(saved) << problem.toStdString();
    EXPECT_EQ(modeOf(ini), mode_t(0600));
    EXPECT_FALSE(QFile::exists(ini + QStringLiteral(".tmp")));

    relay::Settings back;
    ASSERT_TRUE(relay::loadSettings(ini, back, &problem));
    EXPECT_EQ(back.url, s.url);
    EXPECT_EQ(back.user, s.user);
    EXPECT_EQ(back.password, s.password);  // blanks and '=' kept
    EXPECT_EQ(back.remoteFolder, s.remoteFolder);
    EXPECT_TRUE(relay::settingsProblem(back).isEmpty());

    // A line break typed into a value cannot add a line of its own.
    relay::Settings injected = s;
    injected.user = QStringLiteral("vyn\nUrl=ftp://evil");
    ASSERT_TRUE(relay::saveSettings(ini, injected, &problem));
    ASSERT_TRUE(relay::loadSettings(ini, back, &problem));
    EXPECT_EQ(back.url, s.url);
    EXPECT_EQ(back.user, QStringLiteral("vynUrl=ftp://evil"));
}

TEST(RelaySettings, ProblemsArePlainSentences) {
    EXPECT_EQ(relay::settingsProblem(relay::Settings{}), QStringLiteral("No server URL is set."));
    EXPECT_EQ(relay::settingsProblem(
                  relay::Settings{QStringLiteral("sftp://host"), QString(), QString(), QString()}),
              QStringLiteral("No user is set; SFTP needs one."));
    EXPECT_TRUE(
        relay::settingsProblem(relay::Settings{QStringLiteral("ftp://host"), QString(), QString(), QString()})
            .isEmpty());
    EXPECT_EQ(
        relay::settingsProblem(
            relay::Settings{QStringLiteral("bids.example.com"), QString(), QString(), QString()}),
        QStringLiteral(
            "The server URL \"bids.example.com\" does not start with ftp://, ftps://, ftpes:// or sftp://."));
    relay::Settings out;
    QString problem;
    EXPECT_FALSE(relay::loadSettings(QStringLiteral("/nonexistent/relayo2.ini"), out, &problem));
    EXPECT_EQ(problem, QStringLiteral("The settings file /nonexistent/relayo2.ini does not exist."));
}

struct WindowParts {
    QLineEdit* url;
    QLineEdit* user;
    QLineEdit* password;
    QLineEdit* folder;
    QPushButton* test;
    QPushButton* save;
    QPushButton* cancel;
    QLabel* result;
};

WindowParts partsOf(relay::SetupWindow& w) {
    return WindowParts{w.findChild<QLineEdit*>(QStringLiteral("ebxServerUrl")),
                       w.findChild<QLineEdit*>(QStringLiteral("ebxUser")),
                       w.findChild<QLineEdit*>(QStringLiteral("ebxPassword")),
                       w.findChild<QLineEdit*>(QStringLiteral("ebxRemoteFolder")),
                       w.findChild<QPushButton*>(QStringLiteral("btnTestConnection")),
                       w.findChild<QPushButton*>(QStringLiteral("btnSave")),
                       w.findChild<QPushButton*>(QStringLiteral("btnCancel")),
                       w.findChild<QLabel*>(QStringLiteral("lblResult"))};
}

TEST(RelaySetupWindow, TypedSettingsAreTestedAgainstARealServerAndSaved) {
    QTemporaryDir tmp;
    const QString ini = relay::settingsPathBeside(tmp.path());
    QDir(tmp.path()).mkdir(QStringLiteral("server"));
    QDir(tmp.path()).mkpath(QStringLiteral("server/in"));
    FtpServer server;
    ASSERT_TRUE(
        server.start(tmp.filePath(QStringLiteral("server")), QStringLiteral("vyn"), QStringLiteral("pw1")));

    relay::SetupWindow w(ini);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Relayo2 Setup"));
    WindowParts p = partsOf(w);
    ASSERT_TRUE(p.url && p.user && p.password && p.folder && p.test && p.save && p.cancel && p.result);
    EXPECT_EQ(p.test->text(), QStringLiteral("&Test connection"));
    EXPECT_EQ(p.password->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(p.result->text().startsWith(QStringLiteral("No settings yet")));
    w.show();

    QTest::keyClicks(p.url, server.url());
    QTest::keyClicks(p.user, QStringLiteral("vyn"));
    QTest::keyClicks(p.password, QStringLiteral("wrong"));
    QTest::keyClicks(p.folder, QStringLiteral("in"));
    QTest::mouseClick(p.test, Qt::LeftButton);
    EXPECT_TRUE(p.result->text().startsWith(QStringLiteral("Connection failed: ")))
        << p.result->text().toStdString();

    p.password->clear();
    QTest::keyClicks(p.password, QStringLiteral("pw1"));
    QTest::mouseClick(p.test, Qt::LeftButton);
    EXPECT_EQ(p.result->text(), QStringLiteral("Connection OK; the remote folder \"in\" is there."));
    p.folder->clear();
    QTest::keyClicks(p.folder, QStringLiteral("in/new"));
    QTest::mouseClick(p.test, Qt::LeftButton);
    EXPECT_EQ(
        p.result->text(),
        QStringLiteral(
            "Connection OK; the remote folder \"in/new\" is not there yet: the first upload creates it."));
    p.folder->clear();
    QTest::keyClicks(p.folder, QStringLiteral("in"));
    EXPECT_FALSE(QFile::exists(ini));  // testing saves nothing

    QTest::mouseClick(p.save, Qt::LeftButton);
    EXPECT_EQ(w.result(), int(QDialog::Accepted));
    EXPECT_EQ(modeOf(ini), mode_t(0600));
    relay::Settings back;
    ASSERT_TRUE(relay::loadSettings(ini, back, nullptr));
    EXPECT_EQ(back.url, server.url());
    EXPECT_EQ(back.user, QStringLiteral("vyn"));
    EXPECT_EQ(back.password, QStringLiteral("pw1"));
    EXPECT_EQ(back.remoteFolder, QStringLiteral("in"));

    // Shown again, the window holds what was saved.
    relay::SetupWindow again(ini);
    WindowParts q = partsOf(again);
    EXPECT_EQ(q.url->text(), server.url());
    EXPECT_EQ(q.password->text(), QStringLiteral("pw1"));
    EXPECT_EQ(q.folder->text(), QStringLiteral("in"));
    EXPECT_TRUE(q.result->text().isEmpty());
}

TEST(RelaySetupWindow, AnUnusableUrlIsNotSavedAndCancelKeepsTheFile) {
    QTemporaryDir tmp;
    const QString ini = relay::settingsPathBeside(tmp.path());
    {
        relay::SetupWindow w(ini);
        WindowParts p = partsOf(w);
        w.show();
        QTest::keyClicks(p.url, QStringLiteral("www.example.com"));
        QTest::mouseClick(p.save, Qt::LeftButton);
        EXPECT_EQ(p.result->text(),
                  QStringLiteral("The server URL \"www.example.com\" does not start with ftp://, ftps://, "
                                 "ftpes:// or sftp://. Nothing was saved."));
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(QFile::exists(ini));
    }
    ASSERT_TRUE(relay::saveSettings(
        ini, relay::Settings{QStringLiteral("ftp://a"), QString(), QString(), QString()}, nullptr));
    relay::SetupWindow w(ini);
    WindowParts p = partsOf(w);
    w.show();
    p.url->clear();
    QTest::keyClicks(p.url, QStringLiteral("ftp://b"));
    QTest::mouseClick(p.cancel, Qt::LeftButton);
    EXPECT_EQ(w.result(), int(QDialog::Rejected));
    relay::Settings back;
    ASSERT_TRUE(relay::loadSettings(ini, back, nullptr));
    EXPECT_EQ(back.url, QStringLiteral("ftp://a"));
}

}  // namespace
