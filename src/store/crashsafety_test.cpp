// Crash safety of storing and deleting bids: a child process (this test program, run again with the
// child test selected) stores and deletes bids in a loop and is killed with SIGKILL at random instants.
// After every kill both tables open, `dbftool check` passes, every bid the child never touches is exactly
// as it was, and every bid whose first store went through has exactly one header.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>
#include <csignal>
#include <cstdio>

#include "store/bidwindow_test.h"
#include "store/lifecycle.h"
#include "store/storebid.h"

namespace tarvik {
namespace {

using test::BidWindowTest;

constexpr const char* kChildFolderVariable = "TARVIK_STORE_LOOP_FOLDER";

// Every record of a table, each as the texts of all its fields (memos in full), grouped by local_bid.
QMap<QString, QList<QStringList>> recordsById(const MainState& state, const QString& table) {
    QMap<QString, QList<QStringList>> out;
    const int t = ta::mOpen(state.DataContext, state.tablePath(table));
    if (t <= 0) return out;
    const int fields = ta::d4numFields(t);
    if (ta::d4top(t) == 0) {
        do {
            QStringList row;
            for (int j = 1; j <= fields; ++j) row << ta::f4memoStr(ta::d4fieldJ(t, j));
            row << (ta::d4deleted(t) ? QStringLiteral("*") : QString());
            out[ta::fetch(t, QStringLiteral("local_bid")).trimmed()].append(row);
        } while (ta::d4skip(t, 1) == 0);
    }
    ta::d4close(t);
    return out;
}

class CrashSafetyTest : public BidWindowTest {
protected:
    // A bid of the loop: `lines` lines whose values depend on round so that every store changes them.
    void fillBid(const QString& id, int lines, int round) {
        ClearBidWindow(w(), state_);
        main->ebxLocalBidID->setText(id);
        main->ebxCompanyName1->setText(QStringLiteral("%1 round %2").arg(id).arg(round));
        profile->mmoSalesStrategy()->setPlainText(QString(round % 300, QLatin1Char('s')));
        volumeGrid()->setCell(1, volumeRow("gndm"), QString::number(round % 1000));
        for (int r = 1; r <= lines; ++r) setLine(r, QStringLiteral("Ground"), round + r);
    }
};

// The child: stores and deletes the loop's bids until it is killed. Runs only when started by the test
// below, with the data folder in the environment.
TEST_F(CrashSafetyTest, ChildStoreLoop) {
    const QString folder = qEnvironmentVariable(kChildFolderVariable);
    if (folder.isEmpty()) GTEST_SKIP() << "run by CrashSafetyTest.KilledWhileStoringLeavesOtherBidsIntact";
    window_.reset();
    state_.FDataFolder = folder;
    buildWindow();
    QFile log(folder + QStringLiteral("/../loop.log"));
    ASSERT_TRUE(log.open(QIODevice::Append | QIODevice::Text));
    auto note = [&](const QString& line) {
        log.write((line + QLatin1Char('\n')).toUtf8());
        log.flush();  // in the kernel's hands: a killed process loses nothing written
    };
    QRandomGenerator random(qEnvironmentVariable("TARVIK_STORE_LOOP_SEED").toUInt());
    note(QStringLiteral("ready"));
    for (int round = 1;; ++round) {
        const QString id = QStringLiteral("Loop%1").arg(random.bounded(4));
        if (random.bounded(8) == 0) {
            note(QStringLiteral("delete ") + id);
            const int bids = open(QStringLiteral("Bids"));
            if (ta::LocateByField(bids, QStringLiteral("local_bid"), false, id)) DeleteBidRecords(bids, state_);
            ta::d4close(bids);
            note(QStringLiteral("deleted ") + id);
        } else {
            fillBid(id, random.bounded(46), round);
            note(QStringLiteral("store ") + id);
            StoreBid(w(), state_);
            note(QStringLiteral("stored ") + id);
        }
    }
}

TEST_F(CrashSafetyTest, KilledWhileStoringLeavesOtherBidsIntact) {
    // Bids the child never touches, stored before and between the loop's records.
    const QStringList fixed = {QStringLiteral("Keep1"), QStringLiteral("Keep2"), QStringLiteral("Keep3")};
    for (int i = 0; i < fixed.size(); ++i) {
        fillBid(fixed[i], 5 + 7 * i, 1000 * (i + 1));
        StoreBid(w(), state_);
    }
    const auto headersBefore = recordsById(state_, QStringLiteral("Bids"));
    const auto detailsBefore = recordsById(state_, QStringLiteral("BidTail"));
    window_.reset();
    ta::CloseData(state_.DataContext);
    state_.DataContext = nullptr;

    const QString logPath = tmp_.path() + QStringLiteral("/loop.log");
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    QSet<QString> mustExist;  // stored at least once and not deleted since
    int kills = 0;
    int storesSeen = 0;
    int killsInPack = 0;
    for (int attempt = 0; attempt < 230; ++attempt) {
        QFile::remove(logPath);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(kChildFolderVariable), state_.FDataFolder);
        env.insert(QStringLiteral("TARVIK_STORE_LOOP_SEED"), QString::number(random.generate()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp_.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.setStandardOutputFile(QProcess::nullDevice());
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=CrashSafetyTest.ChildStoreLoop")});
        ASSERT_TRUE(child.waitForStarted(10000));
        // Wait for the child to be ready, then let it work for a random while.
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 20000) {
            QFile log(logPath);
            if (log.open(QIODevice::ReadOnly) && log.readAll().startsWith("ready")) break;
            if (child.state() == QProcess::NotRunning) break;
            QThread::msleep(5);
        }
        ASSERT_EQ(child.state(), QProcess::Running) << "the child stopped by itself";
        QThread::msleep(random.bounded(250));
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished(10000);
        ++kills;

        // What the child did: the stores that went through and the deletes that began.
        QFile log(logPath);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly | QIODevice::Text));
        for (const QString& line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString id = line.section(QLatin1Char(' '), 1);
            if (line.startsWith(QLatin1String("stored "))) {
                mustExist.insert(id);
                ++storesSeen;
            } else if (line.startsWith(QLatin1String("delete "))) {
                mustExist.remove(id);
            }
        }

        // Kills that fell inside a pack leave its work files beside the tables.
        if (!QDir(state_.FDataFolder).entryList({QStringLiteral("*~")}, QDir::Files).isEmpty()) ++killsInPack;
        // Every table opens (an interrupted pack is finished or rolled back here) ...
        state_.DataContext = ta::OpenData();
        for (const char* name : {"Bids", "BidTail"}) {
            const int t = open(QLatin1String(name));
            ASSERT_GT(t, 0) << name << " after kill " << kills;
            ta::d4close(t);
        }
        // ... every other bid is exactly as it was ...
        const auto headers = recordsById(state_, QStringLiteral("Bids"));
        const auto details = recordsById(state_, QStringLiteral("BidTail"));
        for (const QString& id : fixed) {
            ASSERT_EQ(headers.value(id), headersBefore.value(id)) << id.toStdString() << " after kill " << kills;
            ASSERT_EQ(details.value(id), detailsBefore.value(id)) << id.toStdString() << " after kill " << kills;
        }
        // ... and a stored bid has its one header.
        for (auto it = headers.begin(); it != headers.end(); ++it)
            ASSERT_LE(it.value().size(), 1) << it.key().toStdString() << " has more than one header";
        for (const QString& id : mustExist)
            ASSERT_TRUE(headers.contains(id)) << id.toStdString() << " lost after kill " << kills;
        ta::CloseData(state_.DataContext);
        state_.DataContext = nullptr;
        for (const char* name : {"Bids.dbf", "BidTail.dbf"}) {
            bool ok = false;
            const QString out = test::dbftoolCheck(state_.FDataFolder + QLatin1Char('/') + QLatin1String(name), &ok);
            ASSERT_TRUE(ok) << name << " after kill " << kills << ": " << out.toStdString();
        }
    }
    std::printf("crash safety: %d kills (%d inside a pack) among %d completed stores\n", kills, killsInPack,
                storesSeen);
    EXPECT_GE(kills, 200);
    EXPECT_GT(storesSeen, kills) << "the kills should fall among many stores";
    state_.DataContext = ta::OpenData();  // for the fixture's own checks
}

}  // namespace
}  // namespace tarvik
