// Whether a folder can serve as the data folder: the tables the program opens from the first moment on
// must be there (their names matched without regard to case). A bid table may also be present only as
// its delivered new layout (newBids.dbf, newBidTail.dbf), which start-up takes over.
#pragma once

#include <QString>
#include <QStringList>

namespace tarvik {

// The tables the program reads, as file names ("Bids.dbf", "Services.dbf", ...).
QStringList requiredTables();

// The required tables that folder lacks, in the order of requiredTables(); every one of them when the
// folder does not exist.
QStringList missingTables(const QString& folder);

}  // namespace tarvik
