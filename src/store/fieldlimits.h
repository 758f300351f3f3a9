// The field limits of the bid tables, put on the controls and grid columns that fill them.
//
// Every text the user types into a stored control must fit the field that stores it. The limits are
// read from the structure of Bids.dbf and BidTail.dbf as they are open (a delivered layout may change
// widths and decimals) and applied once the tables are ready; a control whose field the layout lacks
// gets no limit.
#pragma once

#include <QHash>
#include <QString>

#include "pages/mainstate.h"
#include "widgets/fieldlimit.h"

class QWidget;

namespace tarvik {

// The limits of an open table's fields, by field name in lower case.
using FieldLimits = QHash<QString, FieldLimit>;
FieldLimits tableFieldLimits(int table);
// The same for a table of the data folder, opened and closed for the call (empty when it cannot be
// opened; the table layer has reported why).
FieldLimits readFieldLimits(const MainState& state, const QString& tableName);
// The limit of one field; an inactive limit when the table has no such field.
FieldLimit limitOf(const FieldLimits& limits, const QString& field);

// Puts the limits of Bids and BidTail on the edits, the editable competitor combos and the cells of
// IncentiveGrid (volumes), CubeGrid (dimensions) and ShipmentGrid (line columns) of mainWindow.
void ApplyFieldLimits(QWidget* mainWindow, const MainState& state);

}  // namespace tarvik
