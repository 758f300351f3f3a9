// Storing the bid on screen: one header record in Bids.dbf, found by its local bid ID, and one BidTail.dbf
// record per shipment line that has a service.
//
// The header is written field by field from the controls of the main window; the volume triples of the
// Services page follow the rows of IncentiveGrid as Services lays them out. A bid's existing detail
// records are overwritten in table order, further lines are appended and records beyond the stored lines
// deleted; the detail table is packed only when it holds deleted records.
//
// A crash at any instant leaves both tables openable and every other bid untouched: records are changed in
// place or appended (the engine writes a record before the header count), a newly appended header is on
// disk with its ID before any other field is written, and packing builds the new file beside the old one.
#pragma once

#include <QString>

#include "pages/mainstate.h"

class QWidget;

namespace tarvik {

// Stores the bid of mainWindow. True when the bid is stored whole (or there is nothing to store: the
// local bid ID is blank, and nothing happens). False when a table could not be opened or a write failed
// (each failure has been reported through the table layer's error report): the bid on screen is then the
// only complete copy, and callers must not clear or replace it.
bool StoreBid(QWidget* mainWindow, MainState& state);

// The postal code as stored: trimmed and upper-cased; longer than 5 characters, its first three
// characters, trimmed, and its last three, trimmed ("k1a 0b1" -> "K1A0B1").
QString StoredPostalCode(const QString& text);

}  // namespace tarvik
