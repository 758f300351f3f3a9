// Postal and zip code checks against the reference tables of the data folder.
//
// POSTAL holds Canadian postal codes (tag "Postal" on POSTAL_COD, field town); USZIP holds US zip codes
// (tag "Zip_Code" on ZIP_CODE). A postal code is found by its first three and last three characters,
// so it may be keyed with or without its middle space; a key of the first three characters followed
// by "***" stands for every code that begins with them. A zip code is found by its first five
// characters (an extension after them is ignored). No pattern of letters and digits is checked, and an
// empty code is never found.
#pragma once

#include <QString>
#include <functional>

#include "pages/mainstate.h"

class QLineEdit;
class QWidget;

namespace tarvik {

class ShipmentPage;
class StringGrid;

// ---- Lookups on an open table (no message) ----
// table: POSTAL opened with the tag "Postal".
bool PostalCodeFound(int table, const QString& code);
// table: USZIP opened with the tag "Zip_Code".
bool ZipCodeFound(int table, const QString& code);

// ---- Single-code checks (open and close their table, show their own message) ----
// On success the town of the code goes into state.FLastTown; otherwise "Invalid Postal Code!".
bool CheckPostalCode(MainState& state, const QString& code);
// Otherwise "Invalid Zip Code!" (caption "Zip Code LookUp").
bool CheckZipCode(MainState& state, const QString& code);

// ---- Text helpers ----
// The two-letter province of a postal code by its first letter; empty when there is none.
QString ProvinceOfPostalCode(const QString& code);
// Lower case, then a capital at the start and after every space (only the space separates words).
QString TitleCaseWords(const QString& text);
// Case changes of codes and service names touch the letters A to Z only.
QString UpperCaseAZ(const QString& text);
QString LowerCaseAZ(const QString& text);

// ---- Shipper postal code ----
// Leaving the shipper's postal code: the edit is upper-cased (a 6-character code gets its middle
// space) and checked; a known code fills city (town in title case) and province, an unknown one takes
// the focus back to the edit. An empty edit is not checked.
void ebxPostalCodeExit(MainState& state, QLineEdit* ebxPostalCode, QLineEdit* ebxCity, QLineEdit* ebxProv);
// The same with the three edits found by their object names under root (nothing when one is missing).
void ebxPostalCodeExit(MainState& state, QWidget* root);

// ---- All shipment lines at once ----
// The shipment lines as a grid: lines 1 .. lastLine, cell(col, line) as in ShipmentGrid.
using ShipmentCell = std::function<QString(int col, int line)>;
// Checks every line's destination (Postal/Zip with its Cnty Cd) and origin (From Post., as CA when it
// is filled). True when every line passes; otherwise false with the lists of failures in message.
bool ValidateShipmentCodes(MainState& state, int lastLine, const ShipmentCell& cell, QString& message);
bool ValidateShipmentCodes(MainState& state, const StringGrid& grid, QString& message);

// Hands the single-code checks to the Shipment Data page, so that its cells are checked when left.
void wireShipmentCodeChecks(ShipmentPage& page, MainState& state);

}  // namespace tarvik
