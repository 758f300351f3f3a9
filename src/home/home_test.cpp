#include "home/home.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace tarvik {
namespace {

// A program folder with, beside the program, nothing, a data folder (in some letter case) or a file
// that is merely called data.
enum class Beside { Nothing, DataFolder, DataFolderUpperCase, DataFile };

struct HomeCase {
    const char* what;
    Beside beside;
    QString option, variable, xdg, localAppData;
    bool windows;
    // expected: "<program>" stands for the program folder, "<cwd>" for the current folder
    QString folder;
    HomeSource source;
};

QString expand(QString s, const QString& program, const QString& cwd) {
    return s.replace(QStringLiteral("<program>"), program).replace(QStringLiteral("<cwd>"), cwd);
}

TEST(ProgramHome, FoundInTheOrderOptionVariableBesideTheProgramPerUser) {
    const HomeCase cases[] = {
        {"--home wins over everything", Beside::DataFolder, "/srv/one", "/srv/two", "/x", "", false,
         "/srv/one", HomeSource::Option},
        {"TARVIK_HOME wins over a data folder beside the program", Beside::DataFolder, "", "/srv/two", "", "",
         false, "/srv/two", HomeSource::Variable},
        {"a relative --home is taken from the current folder", Beside::Nothing, "mine/../bids", "", "", "",
         false, "<cwd>/bids", HomeSource::Option},
        {"a relative TARVIK_HOME likewise", Beside::Nothing, "", "t", "", "", false, "<cwd>/t",
         HomeSource::Variable},
        {"a trailing separator is dropped", Beside::Nothing, "/srv/one/", "", "", "", false, "/srv/one",
         HomeSource::Option},
        {"data beside the program: the portable layout", Beside::DataFolder, "", "", "/xdg", "", false,
         "<program>", HomeSource::BesideProgram},
        {"a data folder copied from Windows as Data", Beside::DataFolderUpperCase, "", "", "", "", false,
         "<program>", HomeSource::BesideProgram},
        {"a file named data is no data folder", Beside::DataFile, "", "", "", "", false,
         "/home/ann/.local/share/Tarvik", HomeSource::PerUser},
        {"installed: XDG_DATA_HOME", Beside::Nothing, "", "", "/xdg/share", "", false, "/xdg/share/Tarvik",
         HomeSource::PerUser},
        {"installed: no XDG_DATA_HOME", Beside::Nothing, "", "", "", "", false,
         "/home/ann/.local/share/Tarvik", HomeSource::PerUser},
        {"installed: a relative XDG_DATA_HOME is ignored", Beside::Nothing, "", "", "share", "", false,
         "/home/ann/.local/share/Tarvik", HomeSource::PerUser},
        {"Windows: LOCALAPPDATA", Beside::Nothing, "", "", "/xdg", "C:\\Users\\ann\\AppData\\Local", true,
         "C:/Users/ann/AppData/Local/Tarvik", HomeSource::PerUser},
        {"Windows without LOCALAPPDATA", Beside::Nothing, "", "", "", "", true,
         "/home/ann/AppData/Local/Tarvik", HomeSource::PerUser},
    };
    for (const HomeCase& c : cases) {
        QTemporaryDir program, cwd;
        ASSERT_TRUE(program.isValid() && cwd.isValid());
        QDir dir(program.path());
        switch (c.beside) {
            case Beside::Nothing:
                break;
            case Beside::DataFolder:
                ASSERT_TRUE(dir.mkdir(QStringLiteral("data")));
                break;
            case Beside::DataFolderUpperCase:
                ASSERT_TRUE(dir.mkdir(QStringLiteral("Data")));
                break;
            case Beside::DataFile: {
                QFile f(dir.filePath(QStringLiteral("data")));
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                break;
            }
        }
        HomeInputs in;
        in.homeOption = c.option;
        in.homeVariable = c.variable;
        in.programFolder = program.path() + QStringLiteral("/");
        in.currentFolder = cwd.path();
        in.xdgDataHome = c.xdg;
        in.userHome = QStringLiteral("/home/ann");
        in.localAppData = c.localAppData;
        in.windows = c.windows;
        const ProgramHome home = resolveHome(in);
        EXPECT_EQ(home.folder, expand(c.folder, QDir::cleanPath(program.path()), QDir::cleanPath(cwd.path())))
            << c.what;
        EXPECT_EQ(home.source, c.source) << c.what;
    }
}

TEST(ProgramHome, TheDataFolderIsTheEntryNamedDataInAnyCase) {
    const struct {
        const char* present;  // nullptr: none
        const char* expected;
    } cases[] = {{nullptr, "data"}, {"data", "data"}, {"Data", "Data"}, {"DATA", "DATA"}};
    for (const auto& c : cases) {
        QTemporaryDir home;
        if (c.present) ASSERT_TRUE(QDir(home.path()).mkdir(QLatin1String(c.present)));
        EXPECT_EQ(dataFolderOf(home.path()), home.path() + QLatin1Char('/') + QLatin1String(c.expected))
            << (c.present ? c.present : "(none)");
    }
}

TEST(ProgramHome, TheCommandLineTakesHelpVersionAndHomeAndLeavesTheRest) {
    const struct {
        QStringList args;
        bool help, version;
        QString home, error;
        QStringList rest;
    } cases[] = {
        {{}, false, false, "", "", {}},
        {{"--help"}, true, false, "", "", {}},
        {{"-h"}, true, false, "", "", {}},
        {{"--version"}, false, true, "", "", {}},
        {{"--home", "/srv/t"}, false, false, "/srv/t", "", {}},
        {{"--home=/srv/t", "/S"}, false, false, "/srv/t", "", {"/S"}},
        {{"/S", "--home", "rel"}, false, false, "rel", "", {"/S"}},
        {{"--home"}, false, false, "", "--home needs a folder", {}},
        {{"--home", "--version"}, false, true, "", "--home needs a folder", {}},
        {{"--home="}, false, false, "", "--home needs a folder", {}},
        {{"--bogus", "x"}, false, false, "", "", {"--bogus", "x"}},
    };
    for (const auto& c : cases) {
        const CommandLine line = parseCommandLine(c.args);
        const std::string what = c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(line.help, c.help) << what;
        EXPECT_EQ(line.version, c.version) << what;
        EXPECT_EQ(line.home, c.home) << what;
        EXPECT_EQ(line.error, c.error) << what;
        EXPECT_EQ(line.rest, c.rest) << what;
    }
}

}  // namespace
}  // namespace tarvik
