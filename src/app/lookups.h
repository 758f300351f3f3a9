// Reference lookups: the main window's pickers filled from the reference tables, the account executive
// choice that copies the sales team into the Main page, and the sales reference table command.
//
// Every function works on the main window by the controls' object names (cbxAccountName, cbxIndustry,
// cbxServices, ...); a control that is not there is skipped, so the functions do not depend on which
// page builds which picker. Refills keep the picker's signals quiet: filling a list is not a choice.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "pages/mainstate.h"

class QComboBox;
class QFont;
class QWidget;

namespace tarvik {

// The list rule's items for one field of a table: every record's text, ordered without regard to case
// by the user's collation; a text equal to one already listed, letter case aside, is left out (the form
// met first in table order stays).
QStringList ListFromTable(const QString& tablePath, const QString& field, ta::DataContext ctx = nullptr);

// The list rule on a combo box: remembers its text, refills it from ListFromTable and selects the
// remembered text again (SelectComboText).
void LoadComboFromTable(QComboBox* combo, const QString& tablePath, const QString& field,
                        ta::DataContext ctx = nullptr);

// The service rule: an empty first item, then each Services `service` in table order, "... Single"
// records left out and "... Multi" listed without its "Multi".
void LoadServicesCombo(QComboBox* combo, const QString& tablePath, ta::DataContext ctx = nullptr);

// The country rule: "code" left-justified in six characters, blanks up to the width of seven "N" in
// font, "- " and the name; table order.
void LoadCountryCombo(QComboBox* combo, const QString& tablePath, const QFont& font,
                      ta::DataContext ctx = nullptr);

// Fills every picker of the main window from the data folder of state, and rebuilds the distribution
// source codes (state.FDistSourceTexts / FDistSourceValues: for each picker text, the `value` of the
// first DistributionSrc record with that `dist_src`).
void LoadReferenceLists(QWidget* mainWindow, MainState& state);

// Selects in cbxServices and cbxCountry the service and country of ShipmentGrid's current row.
void SyncShipmentPickers(QWidget* mainWindow);

// The account executive choice (cbxAccountName's change): copies the chosen executive's sales team
// from AELookUp into the Main page, shows the name on the Shipper Profile page and, with no bid open,
// asks "Create new Bid?"; newBid runs on Yes.
void cbxAccountNameChange(QWidget* mainWindow, MainState& state, const std::function<void()>& newBid);

// "&Sales Reference Table": the table editor on AELookup in edit mode, then LoadReferenceLists.
void mnuSalesRefTableClick(QWidget* mainWindow, MainState& state);

// The distribution source code stored for a picker text, and the picker text for a stored code (empty
// when unknown).
QString DistSourceValueFor(const MainState& state, const QString& text);
QString DistSourceTextFor(const MainState& state, const QString& value);

}  // namespace tarvik
