// The tarvik program's command line, on the real program: --version and --help answer on the terminal
// without a window system and without touching any folder; a wrong argument is refused.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "tarvikversion.h"

namespace {

TEST(TarvikCommandLine, VersionHelpAndWrongArgumentsAnswerOnTheTerminal) {
    const struct {
        QStringList args;
        int exitCode;
        QString out;  // the standard output starts with this (or holds it, for the home line)
        QString err;  // the standard error starts with this
    } cases[] = {
        {{"--version"}, 0, "tarvik " TARVIK_VERSION "\n", ""},
        {{"--help"}, 0, "Usage: tarvik [--home DIR] [Qt options]\n", ""},
        {{"--home", "HOMEDIR", "--help"}, 0, "The home now: HOMEDIR (chosen with --home)", ""},
        {{"--bogus"}, 2, "", "tarvik: unknown argument --bogus\n"},
        {{"--home"}, 2, "", "tarvik: --home needs a folder\n"},
    };
    for (const auto& c : cases) {
        QTemporaryDir cwd, home, runtime;
        QStringList args = c.args;
        args.replaceInStrings("HOMEDIR", home.path());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");  // a wrong argument is found after Qt has started
        env.remove("TARVIK_HOME");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(cwd.path());
        p.start(QStringLiteral(TARVIK_BIN_DIR "/tarvik"), args);
        ASSERT_TRUE(p.waitForFinished(60000));
        const std::string what = args.join(' ').toStdString();
        EXPECT_EQ(p.exitCode(), c.exitCode) << what;
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QString expected = c.out;
        expected.replace("HOMEDIR", QDir::toNativeSeparators(home.path()));
        if (expected.isEmpty())
            EXPECT_TRUE(out.isEmpty()) << what << ": " << out.toStdString();
        else if (expected.startsWith("The home now"))
            EXPECT_TRUE(out.contains(expected)) << what << ": " << out.toStdString();
        else
            EXPECT_TRUE(out.startsWith(expected)) << what << ": " << out.toStdString();
        if (c.err.isEmpty())
            EXPECT_TRUE(err.isEmpty()) << what << ": " << err.toStdString();
        else
            EXPECT_TRUE(err.startsWith(c.err)) << what << ": " << err.toStdString();
        EXPECT_TRUE(QDir(cwd.path()).isEmpty()) << what;
        EXPECT_TRUE(QDir(home.path()).isEmpty()) << what << ": --help makes no home";
    }
}

}  // namespace
