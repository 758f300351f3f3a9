// The first-start window on the real widgets: what it says about the home's data folder, opening a
// copied data folder, creating the demonstration data, and what is never lost or half made.
#include "app/firststart.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <map>

#include "app/tmainform.h"
#include "pages/mainpage.h"
#include "store/datacheck.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"

namespace tarvik {
namespace {

using test::ScriptedFileChooser;
using test::ScriptedPrompt;

const QString kDemoCsv = QStringLiteral(TARVIK_SOURCE_DIR "/data/demo");

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file of a folder and its subfolders with its bytes, by its path in the folder.
std::map<QString, QByteArray> contents(const QString& folder) {
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        files[QDir(folder).relativeFilePath(file)] = readAll(file);
    }
    return files;
}

ProgramHome homeIn(const QString& folder) {
    return ProgramHome{folder, HomeSource::PerUser};
}

// Runs PrepareHome with the first-start window driven by `drive` once it is shown. `shown` tells whether
// the window came up at all.
bool prepareDriven(const ProgramHome& home, const QString& csv, std::function<void(TFirstStartForm*)> drive,
                   bool* shown = nullptr) {
    if (shown) *shown = false;
    // Polls the event loop that the window runs; a window that never comes is not waited for.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* form = qobject_cast<TFirstStartForm*>(QApplication::activeModalWidget());
        if (!form || !form->isVisible()) return;
        poll.stop();
        if (shown) *shown = true;
        drive(form);
        if (form->isVisible()) form->reject();  // a script that left it open ends here
    });
    poll.start();
    return PrepareHome(home, csv);
}

TEST(FirstStart, TheWindowNamesTheDataFolderAndWhatItLacks) {
    const struct {
        const char* what;
        std::function<void(const QString& home)> make;
        bool window;
        QStringList missing;  // named in the window
    } cases[] = {
        {"no home folder at all", [](const QString& home) { QDir(home).removeRecursively(); }, true, {}},
        {"a home without data", [](const QString&) {}, true, {}},
        {"a data folder cut short (data.new) is no data folder",
         [](const QString& home) {
             test::makeDataFolder(home);
             QDir(home).rename("data", "data.new");
         },
         true,
         {}},
        {"an empty data folder", [](const QString& home) { QDir(home).mkpath("data"); }, true,
         requiredTables()},
        {"a data folder without its postal tables",
         [](const QString& home) {
             test::makeDataFolder(home);
             QFile::remove(home + "/data/POSTAL.dbf");
             QFile::remove(home + "/data/USZIP.dbf");
         },
         true,
         {"POSTAL.dbf", "USZIP.dbf"}},
        {"only reference tables",
         [](const QString& home) {
             test::makeDataFolder(home);
             QFile::remove(home + "/data/Bids.dbf");
         },
         true,
         {"Bids.dbf"}},
        {"complete", [](const QString& home) { test::makeDataFolder(home); }, false, {}},
        {"a delivered bid table waiting to be taken over",
         [](const QString& home) {
             test::makeDataFolder(home);
             QDir(home + "/data").rename("Bids.dbf", "newBids.dbf");
         },
         false,
         {}},
        {"names in other letter cases, as copied from Windows",
         [](const QString& home) {
             test::makeDataFolder(home);
             QDir(home).rename("data", "Data");
             QDir(home + "/Data").rename("USZIP.dbf", "uszip.DBF");
         },
         false,
         {}},
    };
    for (const auto& c : cases) {
        QTemporaryDir tmp;
        const QString home = tmp.filePath("home");
        QDir().mkpath(home);
        c.make(home);
        const DataFolderReport report = inspectDataFolder(home);
        EXPECT_EQ(report.complete(), !c.window) << c.what;

        QString situation, where;
        bool shown = false;
        const bool ready = prepareDriven(
            homeIn(home), kDemoCsv,
            [&](TFirstStartForm* form) {
                situation = form->lblSituation->text();
                where = form->lblHome->text();
                EXPECT_EQ(form->windowTitle(), "Tarvik v2012.1.0 - Data Folder");
                EXPECT_EQ(form->btnOpenFolder->text(), "&Open a Data Folder...");
                EXPECT_EQ(form->btnCreateDemo->text(), "&Create the Demonstration Data");
                EXPECT_EQ(form->btnQuit->text(), "&Quit");
                QTest::mouseClick(form->btnQuit, Qt::LeftButton);
            },
            &shown);
        EXPECT_EQ(shown, c.window) << c.what;
        EXPECT_EQ(ready, !c.window) << c.what;
        if (!c.window) continue;
        EXPECT_TRUE(
            where.startsWith("The data folder will be:\n" + QDir::toNativeSeparators(home + "/data") + "\n"))
            << c.what << ": " << where.toStdString();
        EXPECT_TRUE(where.contains("Tarvik's home, " + QDir::toNativeSeparators(home))) << c.what;
        if (c.missing.isEmpty()) {
            EXPECT_TRUE(situation.startsWith("Tarvik has no data folder yet.")) << c.what;
        } else {
            EXPECT_TRUE(situation.startsWith("The data folder " + QDir::toNativeSeparators(report.folder) +
                                             " lacks tables the program needs: " + c.missing.join(", ") +
                                             "."))
                << c.what << ": " << situation.toStdString();
        }
        // Quitting changes nothing.
        EXPECT_FALSE(QFileInfo::exists(home + "/data.incomplete")) << c.what;
    }
}

TEST(FirstStart, OpeningACopiedDataFolderCopiesItIntoTheHomeAndLeavesTheSourceAlone) {
    QTemporaryDir tmp;
    const QString source = test::makeDataFolder(tmp.filePath("usb"));
    QFile extra(source + "/KORVALEX.INI");  // whatever else the folder holds comes along
    ASSERT_TRUE(extra.open(QIODevice::WriteOnly));
    extra.write("[System settings]\r\nLANGUAGE=1\r\n");
    extra.close();
    QDir(source).mkpath("Recover");  // a recovery copy of a bid typed there comes along
    QFile copy(source + "/Recover/ABC123.rcv");
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write("typed, not stored");
    copy.close();
    const auto before = contents(source);
    const QString home = tmp.filePath("home");

    ScriptedFileChooser chooser;
    chooser.next(source);
    const bool ready = prepareDriven(homeIn(home), kDemoCsv, [](TFirstStartForm* form) {
        QTest::mouseClick(form->btnOpenFolder, Qt::LeftButton);
    });
    EXPECT_TRUE(ready);
    ASSERT_EQ(chooser.requests().size(), 1u);
    EXPECT_EQ(chooser.requests()[0].caption, "Open a Data Folder");
    EXPECT_EQ(contents(home + "/data"), before);
    EXPECT_EQ(contents(source), before);
    EXPECT_EQ(before.count("Recover/ABC123.rcv"), 1u);
    EXPECT_FALSE(QFileInfo::exists(home + "/data.new"));
}

// A folder that is not a complete data folder, or none chosen, leaves the window open and the home as
// it was; the message names the folder and what it lacks.
TEST(FirstStart, AFolderThatIsNoDataFolderIsNamedWithWhatItLacks) {
    const struct {
        const char* what;
        std::function<QString(const QString& tmp)> make;  // the folder chosen; "" cancels the chooser
        QString message;                                  // "%1": the folder; empty: no message
    } cases[] = {
        {"the chooser cancelled", [](const QString&) { return QString(); }, ""},
        {"a folder that does not exist", [](const QString& tmp) { return tmp + "/nowhere"; },
         "The folder %1 is not a complete data folder: it lacks " + requiredTables().join(", ") + "."},
        {"a folder of other files",
         [](const QString& tmp) {
             QDir(tmp).mkpath("docs");
             QFile f(tmp + "/docs/Bids.txt");
             f.open(QIODevice::WriteOnly);
             return tmp + "/docs";
         },
         "The folder %1 is not a complete data folder: it lacks " + requiredTables().join(", ") + "."},
        {"a data folder without the bid detail table",
         [](const QString& tmp) {
             const QString d = test::makeDataFolder(tmp + "/copy");
             QFile::remove(d + "/BidTail.dbf");
             return d;
         },
         "The folder %1 is not a complete data folder: it lacks BidTail.dbf."},
    };
    for (const auto& c : cases) {
        QTemporaryDir tmp;
        const QString chosen = c.make(tmp.path());
        const QString home = tmp.filePath("home");
        ScriptedFileChooser chooser;
        chooser.next(chosen);
        ScriptedPrompt prompt;
        if (!c.message.isEmpty())
            prompt.answer(Ok, [&](const PromptRequest& r) {
                EXPECT_EQ(r.text, c.message.arg(QDir::toNativeSeparators(chosen))) << c.what;
                EXPECT_EQ(r.caption, "Open a Data Folder") << c.what;
                EXPECT_EQ(r.icon, PromptIcon::Error) << c.what;
            });
        bool stillOpen = false;
        const bool ready = prepareDriven(homeIn(home), kDemoCsv, [&](TFirstStartForm* form) {
            QTest::mouseClick(form->btnOpenFolder, Qt::LeftButton);
            stillOpen = form->isVisible();
            QTest::mouseClick(form->btnQuit, Qt::LeftButton);
        });
        EXPECT_TRUE(stillOpen) << c.what;
        EXPECT_FALSE(ready) << c.what;
        EXPECT_FALSE(QFileInfo::exists(home + "/data")) << c.what;
        EXPECT_FALSE(QFileInfo::exists(home + "/data.new")) << c.what;
    }
}

// The demonstration data is created from the installed CSV files, and the main window then starts on it
// without a single message.
TEST(FirstStart, TheDemonstrationDataIsCreatedAndTheMainWindowStartsOnIt) {
    QTemporaryDir tmp;
    const QString home = tmp.filePath("home");
    const bool ready = prepareDriven(homeIn(home), kDemoCsv, [](TFirstStartForm* form) {
        QTest::mouseClick(form->btnCreateDemo, Qt::LeftButton);
    });
    ASSERT_TRUE(ready);
    EXPECT_TRUE(missingTables(home + "/data").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home + "/data.new"));

    ScriptedPrompt noMessages;
    TMainForm form(home);
    EXPECT_GT(form.tbsMain->cbxAccountName->count(), 5);
}

// A data folder copied from Windows as "Data" is the main window's data folder too: it starts without a
// message.
TEST(FirstStart, ADataFolderSpelledDataIsTheMainWindowsToo) {
    QTemporaryDir tmp;
    const QString home = tmp.filePath("home");
    test::makeDataFolder(home);
    ASSERT_TRUE(QDir(home).rename("data", "Data"));
    ASSERT_TRUE(prepareDriven(homeIn(home), kDemoCsv, [](TFirstStartForm*) {
        ADD_FAILURE() << "a complete data folder needs no first-start window";
    }));
    ScriptedPrompt noMessages;
    TMainForm form(home);
    EXPECT_EQ(form.state().FDataFolder, home + "/Data");
    EXPECT_EQ(form.tbsMain->cbxAccountName->count(), 3);
}

// An incomplete data folder is never deleted: it is renamed aside (data.incomplete, then
// data.incomplete-2) with everything in it, and the user is told where it went.
TEST(FirstStart, AnIncompleteDataFolderIsKeptUnderAnotherName) {
    QTemporaryDir tmp;
    const QString home = tmp.filePath("home");
    const QString source = test::makeDataFolder(tmp.filePath("usb"));
    for (const QString aside : {home + "/data.incomplete", home + "/data.incomplete-2"}) {
        QDir(home).removeRecursively();
        test::makeDataFolder(home);
        if (aside.endsWith("-2")) {
            QDir().mkpath(home + "/data.incomplete");
            QFile::remove(home + "/data/Country.dbf");
        } else {
            QFile::remove(home + "/data/Services.dbf");
        }
        const auto incomplete = contents(home + "/data");
        ScriptedFileChooser chooser;
        chooser.next(source);
        ScriptedPrompt prompt;
        prompt.answer(Ok, [&](const PromptRequest& r) {
            EXPECT_EQ(r.text,
                      "The incomplete data folder was kept as " + QDir::toNativeSeparators(aside) + ".");
            EXPECT_EQ(r.icon, PromptIcon::Information);
        });
        const bool ready = prepareDriven(homeIn(home), kDemoCsv, [](TFirstStartForm* form) {
            QTest::mouseClick(form->btnOpenFolder, Qt::LeftButton);
        });
        EXPECT_TRUE(ready) << aside.toStdString();
        EXPECT_EQ(contents(aside), incomplete) << aside.toStdString();
        EXPECT_EQ(contents(home + "/data"), contents(source)) << aside.toStdString();
    }
}

TEST(FirstStart, WithoutTheDemonstrationFilesTheWindowSaysSoAndStays) {
    QTemporaryDir tmp;
    const QString home = tmp.filePath("home");
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "The demonstration files are not installed with this program.");
        EXPECT_EQ(r.caption, "Create the Demonstration Data");
        EXPECT_EQ(r.icon, PromptIcon::Error);
    });
    bool stillOpen = false;
    const bool ready = prepareDriven(homeIn(home), QString(), [&](TFirstStartForm* form) {
        QTest::mouseClick(form->btnCreateDemo, Qt::LeftButton);
        stillOpen = form->isVisible();
        QTest::mouseClick(form->btnQuit, Qt::LeftButton);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(ready);
    EXPECT_FALSE(QFileInfo::exists(home + "/data"));
}

TEST(FirstStart, TheDemonstrationFilesAreFoundBesideAnInstalledOrAPortableProgram) {
    const struct {
        const char* what;
        const char* csvAt;  // folder holding ca_fsa.csv, relative to the tree; nullptr: none
        const char* expected;
    } cases[] = {
        {"installed: share/tarvik/demo beside bin", "share/tarvik/demo", "share/tarvik/demo"},
        {"portable: demo beside the program", "bin/demo", "bin/demo"},
        {"neither", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        QTemporaryDir tmp;
        QDir(tmp.path()).mkpath("bin");
        if (c.csvAt) {
            QDir(tmp.path()).mkpath(c.csvAt);
            QFile f(tmp.filePath(QString(c.csvAt) + "/ca_fsa.csv"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        EXPECT_EQ(findDemoCsvFolder(tmp.filePath("bin")), c.expected ? tmp.filePath(c.expected) : QString())
            << c.what;
    }
}

}  // namespace
}  // namespace tarvik
