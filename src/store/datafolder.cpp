#include "store/datafolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "tableaccess/tableaccess.h"

namespace tarvik {

namespace {

UpgradeInterruptHook gInterrupt;

bool interrupted(UpgradeStep step) {
    return gInterrupt && gInterrupt(step);
}

// The real path of a file whose name matches without regard to case, or empty when there is none.
QString existing(const QString& path) {
    const QString p = ta::resolvePath(path);
    return QFileInfo::exists(p) ? p : QString();
}

// name.dbf -> name.fpt (any case of ".dbf"); other names get ".fpt" appended.
QString memoOf(const QString& tablePath) {
    if (tablePath.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive))
        return tablePath.left(tablePath.size() - 4) + QStringLiteral(".fpt");
    return tablePath + QStringLiteral(".fpt");
}

QString baseName(const QString& tableName) {
    return tableName.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive)
               ? tableName.left(tableName.size() - 4)
               : tableName;
}

void syncFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void syncFolder(const QString& path) {
    syncFile(QFileInfo(path).absolutePath());
}

void removeFile(const QString& path) {
    const QString p = existing(path);
    if (p.isEmpty()) return;
    QFile::setPermissions(p, QFile::permissions(p) | QFileDevice::WriteOwner);
    QFile::remove(p);
}

struct UpgradeFiles {
    QString table, memo;  // current table and its memo file
    QString delivered, deliveredMemo;
    QString work, workMemo;  // the table being built
    QString journal;         // exists once the work table is complete
};

UpgradeFiles filesOf(const MainState& state, const QString& current, const QString& newName) {
    UpgradeFiles f;
    f.table = state.tablePath(current);
    f.memo = memoOf(f.table);
    f.delivered = state.tablePath(newName);
    f.deliveredMemo = memoOf(f.delivered);
    const QString base = baseName(current);
    f.work = state.tablePath(QStringLiteral("upg") + base + QStringLiteral(".dbf"));
    f.workMemo = memoOf(f.work);
    f.journal = state.tablePath(QStringLiteral("upg") + base + QStringLiteral(".ready"));
    return f;
}

// Moves the complete work table into place. Every step looks at what is on disk, so that running it again
// after an interruption at any point finishes the job.
void finishUpgrade(const UpgradeFiles& f) {
    if (!existing(f.work).isEmpty()) {
        // The work table not yet placed: the current files are still the old ones.
        if (!existing(f.table).isEmpty()) ReplaceFile(f.table, f.table + QStringLiteral(".old"));
        if (interrupted(UpgradeStep::TableMovedToOld)) return;
        if (!existing(f.memo).isEmpty()) ReplaceFile(f.memo, f.memo + QStringLiteral(".old"));
        if (interrupted(UpgradeStep::MemoMovedToOld)) return;
        ReplaceFile(f.work, f.table);
        syncFolder(f.table);
        if (interrupted(UpgradeStep::TablePlaced)) return;
    }
    if (!existing(f.workMemo).isEmpty()) ReplaceFile(f.workMemo, f.memo);
    syncFolder(f.table);
    if (interrupted(UpgradeStep::MemoPlaced)) return;
    removeFile(f.delivered);
    removeFile(f.deliveredMemo);
    syncFolder(f.table);
    if (interrupted(UpgradeStep::DeliveredRemoved)) return;
    removeFile(f.journal);
    syncFolder(f.table);
}

// Resumes an upgrade whose journal exists; throws away a work table that was never completed.
void recoverUpgrade(const UpgradeFiles& f) {
    if (!existing(f.journal).isEmpty()) {
        finishUpgrade(f);
        return;
    }
    removeFile(f.work);
    removeFile(f.workMemo);
}

// Copies every record of the open table `from` that is not marked deleted into `to`, field by field
// where the names agree without regard to case.
void carryRecords(int from, int to) {
    const auto fromFields = ta::d4fieldInfo(from);
    const auto toFields = ta::d4fieldInfo(to);
    QStringList shared;
    for (const auto& ff : fromFields)
        for (const auto& tf : toFields)
            if (ff.name.toLower() == tf.name.toLower()) {
                shared << ff.name;
                break;
            }
    const int count = ta::d4recCountDo(from);
    ta::d4top(from);
    for (int i = 0; i < count; ++i) {
        if (!ta::d4deleted(from)) {
            ta::d4appendBlank(to);
            for (const QString& name : shared) {
                const ta::Field4 target = ta::d4field(to, name);
                const ta::Field4 source = ta::d4field(from, name);
                if (!target || !source) continue;
                const QString text = ta::f4memoStr(source);
                if (ta::f4type(target) == 'M')
                    ta::f4memoAssign(target, text);
                else
                    ta::f4assign(target, text);
            }
        }
        ta::d4skip(from, 1);
    }
}

}  // namespace

void setUpgradeInterruptHook(UpgradeInterruptHook hook) {
    gInterrupt = std::move(hook);
}

bool ReplaceFile(const QString& source, const QString& target) {
    if (source.trimmed().toUpper() == target.trimmed().toUpper()) return false;
    const QString from = existing(source);
    if (from.isEmpty()) return false;
    QString to = existing(target);
    if (to.isEmpty()) {
        to = target;
    } else {
        QFile::setPermissions(to, QFile::permissions(to) | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    }
    // rename() replaces the target atomically: a crash leaves either the old or the new file in place.
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

void UpgradeTable(const MainState& state, const QString& current, const QString& newName) {
    const UpgradeFiles f = filesOf(state, current, newName);
    recoverUpgrade(f);
    if (existing(f.delivered).isEmpty()) return;

    if (existing(f.table).isEmpty()) {
        // No table to carry over: the delivered layout becomes the table, memo file first so that the
        // table never stands without the memo file it needs.
        ReplaceFile(f.deliveredMemo, f.memo);
        ReplaceFile(f.delivered, f.table);
        syncFolder(f.table);
        return;
    }

    const int c = ta::mOpen(state.DataContext, f.table);
    const int n = c > 0 ? ta::mOpen(state.DataContext, f.delivered) : 0;
    if (c <= 0 || n <= 0) {
        if (c > 0) ta::d4close(c);
        return;
    }
    // The work table: the delivered layout, a memo file exactly when that layout has memo fields.
    int w = 0;
    if (ta::CopyStru(n, f.work) == 0) w = ta::mOpen(state.DataContext, f.work);
    if (w <= 0) {
        ta::d4close(n);
        ta::d4close(c);
        removeFile(f.work);
        removeFile(f.workMemo);
        return;
    }
    // Records the delivered table holds already come first.
    const int delivered = ta::d4recCountDo(n);
    ta::d4top(n);
    for (int i = 0; i < delivered; ++i) {
        if (ta::AppendRecord(n, w) == 0 && ta::d4deleted(n)) ta::d4delete(w);
        ta::d4skip(n, 1);
    }
    ta::d4top(c);
    carryRecords(c, w);
    ta::d4close(w);
    ta::d4close(n);
    ta::d4close(c);
    syncFile(existing(f.work));
    if (!existing(f.workMemo).isEmpty()) syncFile(existing(f.workMemo));
    if (interrupted(UpgradeStep::WorkTableBuilt)) return;

    QFile journal(f.journal);
    if (!journal.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;  // the old table stays
    journal.write(QFile::encodeName(current) + '\n');
    journal.close();
    syncFile(f.journal);
    syncFolder(f.journal);
    if (interrupted(UpgradeStep::JournalWritten)) return;
    finishUpgrade(f);
}

void UpgradeBidTables(const MainState& state) {
    const QString tables[][2] = {{QStringLiteral("Bids.dbf"), QStringLiteral("newBids.dbf")},
                                 {QStringLiteral("BidTail.dbf"), QStringLiteral("newBidTail.dbf")}};
    for (const auto& t : tables) {
        const UpgradeFiles f = filesOf(state, t[0], t[1]);
        recoverUpgrade(f);
        if (!existing(f.delivered).isEmpty()) UpgradeTable(state, t[0], t[1]);
    }
}

void CheckPostalIndexes(const MainState& state) {
    struct Index {
        const char* table;
        const char* tag;
        const char* key;
    };
    for (const Index& x : {Index{"POSTAL", "POSTAL", "POSTAL_COD"}, Index{"USZIP", "ZIP_CODE", "ZIP_CODE"}}) {
        const std::vector<ta::TagInfo> tags = {
            ta::TagInfo{QLatin1String(x.tag), QLatin1String(x.key), QString(), 0, 0}};
        const QString table = state.tablePath(QLatin1String(x.table));
        if (existing(table + QStringLiteral(".CDX")).isEmpty())
            ta::CreateIndex(state.DataContext, table, tags);
        else
            ta::CheckForTag(state.DataContext, table, tags);
    }
}

}  // namespace tarvik
