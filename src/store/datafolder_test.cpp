#include "store/datafolder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <map>

#include "testsupport/testdata.h"

namespace tarvik {
namespace {

using test::FieldSpec;

// A data folder with a table context and a recorder of every table error reported.
class DataFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        state_.FProgramFolder = tmp_.path();
        state_.FDataFolder = tmp_.path() + QStringLiteral("/data");
        ASSERT_TRUE(QDir().mkpath(state_.FDataFolder));
        previous_ = ta::setErrorHandler([this](const QString& file, const QString& problem) {
            reports_ << file + QStringLiteral(": ") + problem;
        });
        state_.DataContext = ta::OpenData();
    }
    void TearDown() override {
        setUpgradeInterruptHook({});
        ta::CloseData(state_.DataContext);
        ta::setErrorHandler(previous_);
    }

    QString path(const QString& name) const { return state_.tablePath(name); }
    bool exists(const QString& name) const { return QFileInfo::exists(path(name)); }
    QStringList files() const {
        QStringList l = QDir(state_.FDataFolder).entryList(QDir::Files);
        l.sort();
        return l;
    }

    // The table before the upgrade: three records, the second marked deleted; a memo field.
    void writeOldBids() {
        const std::vector<FieldSpec> layout = {{"LOCAL_BID", 'C', 20}, {"Comp_Name", 'C', 30},
                                               {"OLDNAME", 'C', 10},   {"SALE_STRAT", 'M'},
                                               {"VAL_DUTY", 'N', 4},   {"GONE", 'C', 5}};
        ASSERT_TRUE(test::writeTable(path("Bids.dbf"), layout,
                                     {{"B1", "First Co", "x1", "strategy one", "10", "g1"},
                                      {"B2", "Second Co", "x2", "strategy two", "20", "g2"},
                                      {"B3", "Third Co", "x3", "strategy three", "30", "g3"}}));
        deleteRecord(path("Bids.dbf"), 2);
        oldDbf_ = bytes("Bids.dbf");
        oldFpt_ = bytes("Bids.fpt");
    }
    QByteArray bytes(const QString& name) const {
        QFile f(ta::resolvePath(path(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    // The delivered layout: comp_name in another case and wider, OLDNAME renamed, a new logical field.
    void writeNewBids(const std::vector<QStringList>& rows = {}, bool memo = true) {
        std::vector<FieldSpec> layout = {
            {"local_bid", 'C', 20}, {"comp_name", 'C', 40}, {"newname", 'C', 10}};
        if (memo) layout.push_back({"sale_strat", 'M'});
        layout.push_back({"val_duty", 'N', 4});
        layout.push_back({"brokerage", 'C', 30});
        ASSERT_TRUE(test::writeTable(path("newBids.dbf"), layout, rows));
    }
    static void deleteRecord(const QString& table, int recno) {
        const int t = ta::mOpen(ta::currentContext(), table);
        ASSERT_GT(t, 0);
        ta::d4go(t, recno);
        ta::d4delete(t);
        ta::d4close(t);
    }

    // The state every completed upgrade of writeOldBids/writeNewBids must reach.
    void expectUpgraded(bool memo = true) {
        EXPECT_EQ(test::fieldNames(path("Bids.dbf")).join(',').toLower(),
                  memo ? QStringLiteral("local_bid,comp_name,newname,sale_strat,val_duty,brokerage")
                       : QStringLiteral("local_bid,comp_name,newname,val_duty,brokerage"));
        EXPECT_EQ(test::readColumn(path("Bids.dbf"), "local_bid"), QStringList({"B1", "B3"}));
        EXPECT_EQ(test::readColumn(path("Bids.dbf"), "COMP_NAME"), QStringList({"First Co", "Third Co"}));
        EXPECT_EQ(test::readColumn(path("Bids.dbf"), "newname"), QStringList({"", ""}));
        EXPECT_EQ(test::readColumn(path("Bids.dbf"), "val_duty"), QStringList({"10", "30"}));
        if (memo) {
            EXPECT_EQ(test::readColumn(path("Bids.dbf"), "sale_strat"),
                      QStringList({"strategy one", "strategy three"}));
        }
        // The former files, byte for byte.
        EXPECT_EQ(bytes("Bids.dbf.old"), oldDbf_);
        EXPECT_EQ(bytes("Bids.fpt.old"), oldFpt_);
        EXPECT_EQ(exists("Bids.fpt"), memo);
        EXPECT_FALSE(exists("newBids.dbf"));
        EXPECT_FALSE(exists("newBids.fpt"));
        for (const QString& f : files()) EXPECT_FALSE(f.startsWith(QLatin1String("upg"))) << f.toStdString();
    }

    QTemporaryDir tmp_;
    MainState state_;
    QStringList reports_;
    ta::ErrorHandler previous_;
    QByteArray oldDbf_, oldFpt_;
};

TEST_F(DataFolderTest, UpgradeCarriesLiveRecordsIntoTheDeliveredLayout) {
    writeOldBids();
    writeNewBids();
    UpgradeBidTables(state_);
    expectUpgraded();
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

TEST_F(DataFolderTest, RecordsOfTheDeliveredTableStayInFront) {
    writeOldBids();
    writeNewBids({{"N0", "Delivered", "", "", "5", "Own"}});
    UpgradeBidTables(state_);
    EXPECT_EQ(test::readColumn(path("Bids.dbf"), "local_bid"), QStringList({"N0", "B1", "B3"}));
    EXPECT_EQ(test::readColumn(path("Bids.dbf"), "brokerage"), QStringList({"Own", "", ""}));
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

TEST_F(DataFolderTest, ReadOnlyBackupOfAnEarlierUpgradeIsReplaced) {
    writeOldBids();
    writeNewBids();
    // An earlier upgrade's backups, read-only.
    for (const char* name : {"Bids.dbf.old", "Bids.fpt.old"}) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an earlier table");
        f.close();
        ASSERT_TRUE(QFile::setPermissions(path(name), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    }
    UpgradeBidTables(state_);
    expectUpgraded();
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

TEST_F(DataFolderTest, SecondStartAfterAnUpgradeChangesNothing) {
    writeOldBids();
    writeNewBids();
    UpgradeBidTables(state_);
    std::map<QString, QByteArray> before;
    for (const QString& f : files()) {
        QFile file(path(f));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        before[f] = file.readAll();
    }
    UpgradeBidTables(state_);
    QStringList names;
    for (const auto& [name, bytes] : before) names << name;
    ASSERT_EQ(files(), names);
    for (const QString& f : files()) {
        QFile file(path(f));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), before[f]) << f.toStdString();
    }
}

TEST_F(DataFolderTest, FieldNamesAndFileNamesMatchWithoutRegardToCase) {
    // A folder copied from another system: the table spelled in capitals.
    writeOldBids();
    ASSERT_TRUE(QFile::rename(path("Bids.dbf"), path("BIDS.DBF")));
    ASSERT_TRUE(QFile::rename(path("Bids.fpt"), path("BIDS.FPT")));
    writeNewBids();
    UpgradeBidTables(state_);
    EXPECT_EQ(test::readColumn(path("Bids.dbf"), "comp_name"), QStringList({"First Co", "Third Co"}));
    EXPECT_EQ(bytes("Bids.dbf.old"), oldDbf_);
    // One table, one memo file: no second spelling left behind.
    int tables = 0;
    for (const QString& f : files()) tables += f.compare("Bids.dbf", Qt::CaseInsensitive) == 0;
    EXPECT_EQ(tables, 1);
    EXPECT_FALSE(exists("newBids.dbf"));
}

TEST_F(DataFolderTest, DeliveredLayoutWithoutTableBecomesTheTable) {
    writeNewBids({{"N0", "Delivered", "", "memo text", "5", ""}});
    UpgradeBidTables(state_);
    EXPECT_EQ(test::readColumn(path("Bids.dbf"), "local_bid"), QStringList({"N0"}));
    EXPECT_EQ(test::readColumn(path("Bids.dbf"), "sale_strat"), QStringList({"memo text"}));
    EXPECT_FALSE(exists("newBids.dbf"));
    EXPECT_FALSE(exists("newBids.fpt"));
    EXPECT_FALSE(exists("Bids.dbf.old"));
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

TEST_F(DataFolderTest, MemoLessDeliveredLayoutLeavesNoMemoBehind) {
    writeOldBids();
    writeNewBids({}, /*memo=*/false);
    UpgradeBidTables(state_);
    expectUpgraded(/*memo=*/false);
    // The table does not claim a memo file that is not there.
    QFile dbf(path("Bids.dbf"));
    ASSERT_TRUE(dbf.open(QIODevice::ReadOnly));
    const auto version = static_cast<unsigned char>(dbf.read(1).at(0));
    EXPECT_EQ(version & 0x80, 0) << "header byte " << int(version);
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

TEST_F(DataFolderTest, UpgradeBidTailToo) {
    ASSERT_TRUE(test::writeTable(path("BidTail.dbf"), demo::bidTailLayout(false),
                                 {{"B1", "20", "GND", "F", "D", "1.5", "Ground"}}));
    ASSERT_TRUE(test::writeTable(path("newBidTail.dbf"), demo::bidTailLayout(true), {}));
    UpgradeBidTables(state_);
    EXPECT_TRUE(test::fieldNames(path("BidTail.dbf")).contains("FROM_POST", Qt::CaseInsensitive));
    EXPECT_EQ(test::readColumn(path("BidTail.dbf"), "svc_desc"), QStringList({"Ground"}));
    EXPECT_FALSE(exists("newBidTail.dbf"));
    EXPECT_TRUE(exists("BidTail.dbf.old"));
}

// Killed after each step of the upgrade: the next start must end with the upgraded table, every record
// carried, and nothing left over; and at no point may a start find no table at all.
class UpgradeCrashTest : public DataFolderTest,
                         public ::testing::WithParamInterface<std::tuple<UpgradeStep, bool>> {};

TEST_P(UpgradeCrashTest, NextStartCompletesTheUpgrade) {
    const auto [step, memo] = GetParam();
    writeOldBids();
    writeNewBids({}, memo);
    bool stopped = false;
    setUpgradeInterruptHook([&stopped, step = step](UpgradeStep s) {
        if (s != step) return false;
        stopped = true;
        return true;
    });
    UpgradeBidTables(state_);
    setUpgradeInterruptHook({});
    EXPECT_TRUE(stopped);
    if (step == UpgradeStep::WorkTableBuilt || step == UpgradeStep::JournalWritten) {
        // Nothing moved yet: the old table is in place with all its records.
        EXPECT_EQ(test::recordCount(path("Bids.dbf")), 3);
        EXPECT_TRUE(exists("newBids.dbf"));
    }
    UpgradeBidTables(state_);  // the next start
    expectUpgraded(memo);
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

// The same with a real kill: a child process runs the upgrade and is killed with SIGKILL at the step.
TEST_P(UpgradeCrashTest, KilledProcessLeavesARecoverableFolder) {
    const auto [step, memo] = GetParam();
    writeOldBids();
    writeNewBids({}, memo);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setUpgradeInterruptHook([step = step](UpgradeStep s) {
            if (s == step) ::kill(::getpid(), SIGKILL);
            return false;
        });
        UpgradeBidTables(state_);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child was not killed at the step";
    UpgradeBidTables(state_);  // the next start
    expectUpgraded(memo);
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, UpgradeCrashTest,
    ::testing::Combine(::testing::Values(UpgradeStep::WorkTableBuilt, UpgradeStep::JournalWritten,
                                         UpgradeStep::TableMovedToOld, UpgradeStep::MemoMovedToOld,
                                         UpgradeStep::TablePlaced, UpgradeStep::MemoPlaced,
                                         UpgradeStep::DeliveredRemoved),
                       ::testing::Bool()));

TEST_F(DataFolderTest, HalfWrittenWorkTableIsThrownAway) {
    writeOldBids();
    writeNewBids();
    // Killed while the work table was being written: no journal, a damaged work table.
    QFile junk(path("upgBids.dbf"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("\xF5\x01\x02", 3);
    junk.close();
    UpgradeBidTables(state_);
    expectUpgraded();
}

TEST_F(DataFolderTest, DamagedTableIsNotReplacedBlindly) {
    // A table that cannot be opened is reported and kept; the delivered layout waits for the next start.
    QFile damaged(path("Bids.dbf"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("\xF5\x7A\x0C\x07 not a table");
    damaged.close();
    const QByteArray before = bytes("Bids.dbf");
    writeNewBids();
    UpgradeBidTables(state_);
    EXPECT_FALSE(reports_.isEmpty());
    EXPECT_EQ(bytes("Bids.dbf"), before);
    EXPECT_TRUE(exists("newBids.dbf"));
    EXPECT_FALSE(exists("Bids.dbf.old"));
    for (const QString& f : files()) EXPECT_FALSE(f.startsWith(QLatin1String("upg"))) << f.toStdString();
}

TEST_F(DataFolderTest, ReplaceFileRules) {
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    auto read = [&](const QString& name) {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    };
    write("a.txt", "A");
    write("b.txt", "B");
    QFile::setPermissions(path("b.txt"), QFileDevice::ReadOwner);
    EXPECT_TRUE(ReplaceFile(path("a.txt"), path("b.txt")));
    EXPECT_EQ(read("b.txt"), QByteArray("A"));
    EXPECT_FALSE(exists("a.txt"));

    // Same name, trimmed and upper-cased: nothing happens.
    EXPECT_FALSE(
        ReplaceFile(path("b.txt"), QStringLiteral(" ") + path("B.TXT").toLower() + QStringLiteral(" ")));
    EXPECT_EQ(read("b.txt"), QByteArray("A"));

    // A missing source leaves the target in place.
    EXPECT_FALSE(ReplaceFile(path("missing.txt"), path("b.txt")));
    EXPECT_EQ(read("b.txt"), QByteArray("A"));

    // The target is found whatever the case of its name.
    write("c.txt", "C");
    EXPECT_TRUE(ReplaceFile(path("c.txt"), path("B.TXT")));
    EXPECT_EQ(read("b.txt"), QByteArray("C"));
    EXPECT_EQ(files(), QStringList({"b.txt"}));
}

class PostalIndexTest : public DataFolderTest {
  protected:
    void SetUp() override {
        DataFolderTest::SetUp();
        test::makeDataFolder(tmp_.path());
    }
    // Opens table with tag selected and seeks key; the record number found, 0 when not found.
    int seek(const QString& table, const QString& tag, const QString& key) {
        const int t = ta::mOpen(state_.DataContext, path(table), tag);
        if (t <= 0) return -1;
        const int found = ta::d4seek(t, key) == 0 ? ta::d4recNo(t) : 0;
        ta::d4close(t);
        return found;
    }
    QString cdx(const QString& name) const { return ta::resolvePath(path(name)); }
};

TEST_F(PostalIndexTest, MissingIndexesAreCreatedWithTheirTags) {
    ASSERT_FALSE(QFileInfo::exists(cdx("POSTAL.CDX")));
    ASSERT_FALSE(QFileInfo::exists(cdx("USZIP.CDX")));
    CheckPostalIndexes(state_);
    EXPECT_TRUE(QFileInfo::exists(cdx("POSTAL.CDX")));
    EXPECT_TRUE(QFileInfo::exists(cdx("USZIP.CDX")));
    // The names the program uses later, in their own spelling.
    EXPECT_EQ(seek("Postal", "Postal", "M5V***"), 2);
    EXPECT_EQ(seek("Postal", "Postal", "M5V"), 0);
    EXPECT_EQ(seek("USZip", "Zip_Code", "60601"), 3);
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

TEST_F(PostalIndexTest, ExistingIndexKeepsItsTagsAndGetsTheMissingOne) {
    // An index made elsewhere: a town tag only.
    ASSERT_EQ(ta::CreateIndex(state_.DataContext, path("POSTAL"), {ta::TagInfo{"TOWN", "TOWN", "", 0, 0}}),
              0);
    CheckPostalIndexes(state_);
    EXPECT_EQ(seek("POSTAL", "TOWN", "MONTREAL"), 3);
    EXPECT_EQ(seek("POSTAL", "POSTAL", "V6B***"), 4);
    // A second start changes nothing.
    QFile f(cdx("POSTAL.CDX"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    CheckPostalIndexes(state_);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

}  // namespace
}  // namespace tarvik
