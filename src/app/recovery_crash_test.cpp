// The recovery copy against a real kill: a child process (this test program, run again with the child
// test selected) opens the main window on a data folder, starts a bid and edits it without end - typing
// into the pages' edits, filling shipment and volume cells, ticking boxes, picking list items, changing
// pages and pausing - while its recovery copy is written as the program writes it. It is killed with
// SIGKILL at a random instant. The next start (here, in the test) must offer the copy when one was
// written and restore every value typed before the last copy written, and never a bid that is damaged or
// half of one edit and half of another: the restored window must equal the window after one whole step of
// the child's edits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <map>

#include "app/bidwiring.h"
#include "app/tmainform.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "store/recovery.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

namespace tarvik {
namespace {

constexpr const char* kProgramVariable = "TARVIK_RECOVERY_PROGRAM";
constexpr const char* kSeedVariable = "TARVIK_RECOVERY_SEED";
constexpr int kIdleMilliseconds = 40;
constexpr int kLines = 3000;  // the child's grid: copies large enough that kills fall inside writes too
const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 30));

// One step of the child's editing: a value put into one place of the window, or a page change.
struct Edit {
    enum Kind { Text, ShipmentCell, VolumeCell, Check, Combo, Page, Pause } kind;
    QString name;  // control name (Text, Check, Combo)
    int col = 0;
    int row = 0;
    QString value;  // text or cell; Check: "1"/"0"; Combo: index; Page: index
};

const char* const kEdits[] = {"ebxCompanyName1", "ebxAddress", "ebxCity",         "ebxCommodity",
                              "ebxBusiness",     "ebxShipper", "ebxAHPctComment", "ebxPercentAH"};
const char* const kChecks[] = {"chkPortfolio", "chbMOB", "chbRegain", "chbValueYes", "chbResellerNo"};
const char* const kCombos[] = {"cbxIndustry", "cbxPLDTypes", "cbxSourceDist"};
const char* const kServices[] = {"Ground", "Express", "Economy", "TB Ground", "WW Express PAK"};
const int kVolumeRows[] = {1, 2, 3, 4, 8, 9, 11};  // service rows of the test folder's IncentiveGrid

// The child's edits, the same for the same seed. The state of every place before the first edit is the
// fresh bid's; checkState tells the state of a check box as step k leaves it.
class EditScript {
  public:
    explicit EditScript(quint32 seed) : random_(seed) {}
    Edit next(int k, const std::map<QString, QString>& state) {
        const int roll = int(random_.bounded(100));
        Edit e;
        if (roll < 30) {
            e.kind = Edit::Text;
            e.name = QLatin1String(kEdits[random_.bounded(int(std::size(kEdits)))]);
            e.value = QString::number(100000 + k);  // digits: every edit takes them
        } else if (roll < 62) {
            e.kind = Edit::ShipmentCell;
            e.row = 1 + int(random_.bounded(kLines + 20));
            e.col = 1 + int(random_.bounded(12));
            e.value = e.col == ShipmentPage::ColService
                          ? QLatin1String(kServices[random_.bounded(int(std::size(kServices)))])
                          : QString::number(k);
        } else if (roll < 72) {
            e.kind = Edit::VolumeCell;
            e.row = kVolumeRows[random_.bounded(int(std::size(kVolumeRows)))];
            e.col = 1 + int(random_.bounded(2));
            e.value = QString::number(k);
        } else if (roll < 80) {
            e.kind = Edit::Check;
            e.name = QLatin1String(kChecks[random_.bounded(int(std::size(kChecks)))]);
            const auto it = state.find(QStringLiteral("x:") + e.name);
            e.value = it != state.end() && it->second == QLatin1String("1") ? QStringLiteral("0")
                                                                            : QStringLiteral("1");
        } else if (roll < 86) {
            e.kind = Edit::Combo;
            e.name = QLatin1String(kCombos[random_.bounded(int(std::size(kCombos)))]);
            e.value = QString::number(random_.bounded(3));
        } else if (roll < 94) {
            e.kind = Edit::Page;
            e.value = QString::number(random_.bounded(6));
        } else {
            e.kind = Edit::Pause;
        }
        return e;
    }
    static QString key(const Edit& e) {
        switch (e.kind) {
            case Edit::Text:
                return QStringLiteral("e:") + e.name;
            case Edit::ShipmentCell:
                return QStringLiteral("s:%1:%2").arg(e.col).arg(e.row);
            case Edit::VolumeCell:
                return QStringLiteral("v:%1:%2").arg(e.col).arg(e.row);
            case Edit::Check:
                return QStringLiteral("x:") + e.name;
            case Edit::Combo:
                return QStringLiteral("c:") + e.name;
            case Edit::Page:
                return QStringLiteral("page");
            case Edit::Pause:
                return QString();
        }
        return QString();
    }

  private:
    QRandomGenerator random_;
};

// The expected values after each step: states[k] is the window after step k (0: the fresh bid).
std::vector<std::map<QString, QString>> expectedStates(quint32 seed, int steps) {
    std::vector<std::map<QString, QString>> states(1);
    EditScript script(seed);
    for (int k = 1; k <= steps; ++k) {
        std::map<QString, QString> s = states.back();
        const Edit e = script.next(k, s);
        if (e.kind != Edit::Pause) s[EditScript::key(e)] = e.value;
        states.push_back(std::move(s));
    }
    return states;
}

// The window's value of a place, as the copy would hold it.
QString valueOf(TMainForm& form, const QString& key) {
    const QString name = key.section(QLatin1Char(':'), 1, 1);
    if (key == QLatin1String("page")) return QString::number(form.tabEntryPages->currentIndex());
    if (key.startsWith(QLatin1String("e:"))) return form.findChild<QLineEdit*>(name)->text();
    if (key.startsWith(QLatin1String("x:"))) return form.findChild<QCheckBox*>(name)->isChecked() ? "1" : "0";
    if (key.startsWith(QLatin1String("c:")))
        return QString::number(form.findChild<QComboBox*>(name)->currentIndex());
    const int col = name.toInt();
    const int row = key.section(QLatin1Char(':'), 2, 2).toInt();
    StringGrid* grid = key.startsWith(QLatin1String("s:")) ? form.tbsShipmentData->shipmentGrid()
                                                           : form.tbsServices->incentiveGrid();
    return row < grid->rowCount() ? grid->cell(col, row) : QString();  // a line not there yet is empty
}

// The lines of the shipment grid after the edits of a state: 30, or as many as the last line filled.
int expectedLines(const std::map<QString, QString>& state) {
    int lines = kLines;
    for (const auto& [key, value] : state)
        if (key.startsWith(QLatin1String("s:")))
            lines = std::max(lines, key.section(QLatin1Char(':'), 2, 2).toInt());
    return lines;
}

class RecoveryCrashTest : public ::testing::Test {};

// A prompt that answers Yes to the restore question and fails on anything else.
class RestorePrompt : public Prompt {
  public:
    RestorePrompt() : previous_(Prompt::installed()) { Prompt::install(this); }
    ~RestorePrompt() override { Prompt::install(previous_); }
    int ask(const PromptRequest& r) override {
        if (r.caption == QLatin1String("Recover Bid") && (r.buttons & Yes)) {
            ++questions;
            return Yes;
        }
        ADD_FAILURE() << "unexpected message: " << r.text.toStdString();
        return (r.buttons & No) ? No : Ok;
    }
    int questions = 0;

  private:
    Prompt* previous_;
};

// The child: edits its bid until it is killed. Runs only when started by the test below.
TEST_F(RecoveryCrashTest, ChildEditsUntilKilled) {
    const QString program = qEnvironmentVariable(kProgramVariable);
    if (program.isEmpty()) GTEST_SKIP() << "run by RecoveryCrashTest.EveryKillLeavesAWholeCopyOfWhatWasTyped";
    const quint32 seed = qEnvironmentVariable(kSeedVariable).toUInt();
    const int log = ::open(QFile::encodeName(program + QStringLiteral("/edits.log")).constData(),
                           O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    ASSERT_GE(log, 0);
    // One write per line: whole lines reach the kernel, whatever thread writes them and whenever the kill.
    auto note = [log](const QByteArray& line) {
        const QByteArray l = line + '\n';
        if (::write(log, l.constData(), size_t(l.size())) != l.size()) std::perror("edits.log");
    };

    test::FixedClock clock(kNow);
    TMainForm form(program);
    wireBidStore(form);
    form.show();
    form.recovery->setIdleInterval(kIdleMilliseconds);
    form.recovery->setWrittenObserver(
        [&note](quint64 serial) { note("written " + QByteArray::number(serial)); });
    {
        test::ScriptedPrompt prompt;
        prompt.answer(Yes);  // "Create new Bid?"
        form.tbsMain->cbxAccountName->setCurrentIndex(0);
        emit form.tbsMain->cbxAccountName->activated(0);
    }
    test::ScriptedPrompt noOtherPrompt;  // any message fails the child (and shows in its output)
    form.tbsShipmentData->appendLines(kLines - form.tbsShipmentData->lastLine());
    note("ready " + form.tbsMain->ebxLocalBidID->text().toUtf8());

    EditScript script(seed);
    std::map<QString, QString> state;
    quint64 noted = 0;
    auto noteCaptures = [&](int k) {
        if (form.recovery->lastSerial() == noted) return;
        noted = form.recovery->lastSerial();
        note("captured " + QByteArray::number(noted) + ' ' + QByteArray::number(k));
    };
    for (int k = 1;; ++k) {
        const Edit e = script.next(k, state);
        switch (e.kind) {
            case Edit::Text: {
                auto* edit = form.findChild<QLineEdit*>(e.name);
                edit->selectAll();
                QTest::keyClicks(edit, e.value);
                break;
            }
            case Edit::ShipmentCell: {
                StringGrid* grid = form.tbsShipmentData->shipmentGrid();
                if (e.row >= grid->rowCount())
                    form.tbsShipmentData->appendLines(e.row - grid->rowCount() + 1);
                grid->setCell(e.col, e.row, e.value);
                break;
            }
            case Edit::VolumeCell:
                form.tbsServices->incentiveGrid()->setCell(e.col, e.row, e.value);
                break;
            case Edit::Check:
                form.findChild<QCheckBox*>(e.name)->setChecked(e.value == QLatin1String("1"));
                break;
            case Edit::Combo:
                form.findChild<QComboBox*>(e.name)->setCurrentIndex(e.value.toInt());
                break;
            case Edit::Page:
                form.tabEntryPages->setCurrentIndex(e.value.toInt());
                break;
            case Edit::Pause:
                break;
        }
        if (e.kind != Edit::Pause) state[EditScript::key(e)] = e.value;
        note("typed " + QByteArray::number(k));
        noteCaptures(k);
        QTest::qWait(e.kind == Edit::Pause ? 3 * kIdleMilliseconds : 1);
        noteCaptures(k);
    }
}

TEST_F(RecoveryCrashTest, EveryKillLeavesAWholeCopyOfWhatWasTyped) {
    QTemporaryDir program;
    ASSERT_TRUE(program.isValid());
    test::makeDataFolder(program.path());
    const QString logPath = program.filePath(QStringLiteral("edits.log"));
    const QString recover = program.filePath(QStringLiteral("data/Recover"));
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    // A fresh bid's values, for places the child had not yet touched.
    test::FixedClock clock(kNow);
    int kills = 0, killsInWrite = 0, restores = 0, noCopy = 0, valuesCompared = 0, stepsTyped = 0;
    constexpr int kKills = 100;
    for (int attempt = 0; attempt < kKills; ++attempt) {
        QFile::remove(logPath);
        QDir(recover).removeRecursively();
        const quint32 childSeed = random.generate();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(kProgramVariable), program.path());
        env.insert(QLatin1String(kSeedVariable), QString::number(childSeed));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), program.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.setStandardOutputFile(QProcess::nullDevice());
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=RecoveryCrashTest.ChildEditsUntilKilled")});
        ASSERT_TRUE(child.waitForStarted(10000));
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 30000) {
            QFile log(logPath);
            if (log.open(QIODevice::ReadOnly) && log.readAll().startsWith("ready")) break;
            if (child.state() == QProcess::NotRunning) break;
            QThread::msleep(5);
        }
        ASSERT_EQ(child.state(), QProcess::Running) << "the child stopped by itself";
        QThread::msleep(random.bounded(900));
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished(10000);
        ++kills;
        // A kill inside a write leaves the file it was writing beside the copy.
        if (!QDir(recover).entryList({QStringLiteral("*.new~")}, QDir::Files).isEmpty()) ++killsInWrite;

        // What the child did: its last step, and the step each copy written holds at least.
        QFile log(logPath);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly | QIODevice::Text));
        QString id;
        int typed = 0;
        std::map<quint64, int> captured;
        std::vector<quint64> written;
        for (const QString& line :
             QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList w = line.split(QLatin1Char(' '));
            if (w[0] == QLatin1String("ready")) id = w.value(1);
            if (w[0] == QLatin1String("typed")) typed = w.value(1).toInt();
            if (w[0] == QLatin1String("captured")) captured[w.value(1).toULongLong()] = w.value(2).toInt();
            if (w[0] == QLatin1String("written")) written.push_back(w.value(1).toULongLong());
        }
        stepsTyped += typed;
        // The copy written last holds at least the steps typed when it was taken (a copy whose taking
        // the kill kept out of the log holds at least those of the copy taken before it).
        int atLeast = 0;
        for (quint64 s : written) {
            auto it = captured.upper_bound(s);
            if (it == captured.begin()) continue;
            --it;
            atLeast = std::max(atLeast, it->second);
        }

        // The next start.
        RestorePrompt prompt;
        TMainForm form(program.path());
        wireBidStore(form);
        const bool restored = form.recovery->offerRestore();
        EXPECT_EQ(restored, prompt.questions == 1) << "kill " << kills;
        if (!written.empty()) {
            ASSERT_TRUE(restored) << "a copy was written but none was offered, kill " << kills;
        }
        if (!restored) {
            ++noCopy;
            continue;
        }
        ++restores;
        ASSERT_EQ(form.tbsMain->ebxLocalBidID->text(), id) << "kill " << kills;
        ASSERT_EQ(form.tbsMain->ebxLocalStatus->text(), QStringLiteral("Draft"));

        // The window equals the one after some whole step j, typed - at the most - and the last copy
        // written - at the least.
        const std::vector<std::map<QString, QString>> states = expectedStates(childSeed, typed + 1);
        const std::map<QString, QString>& last = states.back();
        TMainForm fresh(program.path());
        std::map<QString, QString> freshValues;
        for (const auto& [key, value] : last) freshValues[key] = valueOf(fresh, key);
        int matched = -1;
        int compared = 0;
        const int lines = form.tbsShipmentData->shipmentGrid()->rowCount() - 1;
        for (int j = std::min(typed + 1, int(states.size()) - 1); j >= atLeast && matched < 0; --j) {
            bool all = lines == expectedLines(states[size_t(j)]);
            compared = 1;
            for (const auto& [key, unused] : last) {
                if (!all) break;
                const auto it = states[size_t(j)].find(key);
                const QString expected = it != states[size_t(j)].end() ? it->second : freshValues[key];
                ++compared;
                if (valueOf(form, key) != expected) {
                    all = false;
                    break;
                }
            }
            if (all) matched = j;
        }
        std::string differences;
        if (matched < 0) {
            const auto& nearest = states[size_t(std::min(typed, int(states.size()) - 1))];
            differences = "lines " + std::to_string(lines) + " vs " + std::to_string(expectedLines(nearest));
            for (const auto& [key, unused] : last) {
                const auto it = nearest.find(key);
                const QString expected = it != nearest.end() ? it->second : freshValues[key];
                if (valueOf(form, key) != expected)
                    differences += "; " + key.toStdString() + ": \"" + valueOf(form, key).toStdString() +
                                   "\" instead of \"" + expected.toStdString() + "\"";
            }
        }
        ASSERT_GE(matched, atLeast) << differences << "\nkill " << kills
                                    << ": the restored bid is no whole step between step " << atLeast
                                    << " (last copy written) and step " << typed + 1;
        valuesCompared += compared;
        EXPECT_EQ(test::recordCount(program.filePath(QStringLiteral("data/Bids.dbf"))), 0)
            << "nothing is stored";
    }
    std::printf(
        "recovery: %d kills (%d inside a write, %d before any copy), %d restores, %d values compared, "
        "%d steps typed\n",
        kills, killsInWrite, noCopy, restores, valuesCompared, stepsTyped);
    EXPECT_EQ(kills, kKills);
    EXPECT_GE(restores, kKills / 2) << "the kills should mostly fall after copies were written";
}

}  // namespace
}  // namespace tarvik
