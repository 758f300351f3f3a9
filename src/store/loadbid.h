// Loading a stored bid into the main window: the Bids.dbf header at a record number and every BidTail.dbf
// record with its local bid ID, in table order. The inverse of storing, with the same field names and the
// same walk of Services. Loading changes neither table.
#pragma once

#include <QString>

#include "pages/mainstate.h"

class QWidget;

namespace tarvik {

class CheckGroup;
class RadioGroup;

// Loads the header at record recNo (1-based) of Bids.dbf and its detail records into mainWindow, which
// the caller has cleared. A record number outside the table loads nothing.
void LoadBid(QWidget* mainWindow, MainState& state, int recNo);

// Radio prefix match: clears the group's selection, then selects the first item whose first
// text.size() characters equal text (letter case counts). An empty text selects nothing.
void ApplyRadioText(RadioGroup* group, const QString& text);

// Check-group codes: text cut into pieces of three characters from its start (a shorter rest is
// ignored); every item whose last three characters equal one of the pieces is ticked. Nothing is unticked.
void ApplyCheckGroupText(CheckGroup* group, const QString& text);

// The postal code as shown: trimmed; six characters are shown as three, a blank and three.
QString ShownPostalCode(const QString& stored);

}  // namespace tarvik
