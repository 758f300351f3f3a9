// The data folder: bringing the bid tables to a newly delivered layout (table upgrade), and making sure
// that the two postal tables have their indexes. Both run once at start-up, before any other table access.
//
// The table upgrade is crash-safe. The records are carried into a work table (upg<table>.dbf) beside the
// old one, built from scratch with the delivered layout and flushed; only then a journal file
// (upg<table>.ready) is written, and the files are moved. At the next start an interrupted upgrade is
// finished when its journal exists, and otherwise its work table is thrown away and the upgrade starts
// again from the untouched tables. At no moment is the program left without its table.
#pragma once

#include <QString>
#include <functional>

#include "pages/mainstate.h"

namespace tarvik {

// Moves source over target. Nothing happens when the two names, trimmed and upper-cased, are the same.
// The target's read-only attribute is cleared and the source takes its place in one atomic rename, so
// the target is never missing. A missing source leaves the target as it is. True when the move was done.
bool ReplaceFile(const QString& source, const QString& target);

// Finishes or rolls back an upgrade that was interrupted, then runs UpgradeTable("Bids.dbf",
// "newBids.dbf") when newBids.dbf exists and UpgradeTable("BidTail.dbf", "newBidTail.dbf") when
// newBidTail.dbf exists.
void UpgradeBidTables(const MainState& state);

// Replaces the table `current` (a name with ".dbf" in the data folder) by the delivered layout
// `newName`, carrying over every record of `current` that is not marked deleted, field by field where the
// names agree without regard to case (fields the new layout lacks are dropped, new fields stay blank).
// Records the new layout held already stay in front. The former files are kept as <name>.old. When
// `current` does not exist, the delivered layout simply becomes it. When either table cannot be opened,
// nothing is moved.
void UpgradeTable(const MainState& state, const QString& current, const QString& newName);

// Creates POSTAL.CDX with the tag POSTAL (key POSTAL_COD) when it is missing, otherwise makes sure that
// the tag exists; the same for USZIP.CDX with the tag ZIP_CODE (key ZIP_CODE).
void CheckPostalIndexes(const MainState& state);

// The steps of an upgrade, in order. For tests: a hook that returns true after a step stops the upgrade
// there, as if the program had been killed at that moment.
enum class UpgradeStep {
    WorkTableBuilt = 1,  // work table complete and flushed, no journal yet
    JournalWritten,      // from here on the next start finishes the upgrade
    TableMovedToOld,     // Bids.dbf -> Bids.dbf.old
    MemoMovedToOld,      // Bids.fpt -> Bids.fpt.old
    TablePlaced,         // upgBids.dbf -> Bids.dbf
    MemoPlaced,          // upgBids.fpt -> Bids.fpt
    DeliveredRemoved,    // newBids.dbf and newBids.fpt deleted
};
using UpgradeInterruptHook = std::function<bool(UpgradeStep)>;
void setUpgradeInterruptHook(UpgradeInterruptHook hook);  // empty: never stop

}  // namespace tarvik
