// What storing, loading and the bid lifecycle share: the field names of the two bid tables, the way the
// bid's controls are found in the main window, the progress window, and the sequential search of a bid's
// records by local bid ID.
//
// The bid lives only in the main window's controls. Every control is found by its object name under the
// main window; the three grids and the Primary? boxes through the public interface of their pages.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "pages/mainstate.h"

namespace tarvik {

class BidProfilePage;
class CubePage;
class MainPage;
class ServicesPage;
class ShipmentPage;
class ShipperProfilePage;

// ---- Field names shared by storing and loading ----
// The six cube field prefixes, columns 1 to 6 of CubeGrid; each is followed by the row number 1 to 15.
const QStringList& cubeFieldPrefixes();
// The BidTail fields of ShipmentGrid's columns 1 to 12, in column order (column 4 is `from_post`).
const QStringList& detailFieldNames();
// The words stored in `comp_src` for the items 0 to 3 of cbxCustSource.
const QStringList& competitorSourceWords();

// ---- The main window ----
// The control of that object name and type under window, or nullptr.
template <typename T>
T* bidControl(QWidget* window, const char* name) {
    return window ? window->findChild<T*>(QLatin1String(name)) : nullptr;
}

// The text of the line edit or combo box of that name under window; empty when there is none.
QString bidControlText(QWidget* window, const char* name);
// The text of the selected item of the combo box of that name; empty when none is selected.
QString bidSelectedItem(QWidget* window, const char* name);

// The six pages of the main window (any of them nullptr when the window has none).
struct BidPages {
    MainPage* main = nullptr;
    ShipperProfilePage* shipper = nullptr;
    ServicesPage* services = nullptr;
    BidProfilePage* bidProfile = nullptr;
    CubePage* cube = nullptr;
    ShipmentPage* shipment = nullptr;
    static BidPages of(QWidget* window);
};

// ---- The service rows ----
// Walks the Services table as IncentiveGrid was laid out and calls visit with the grid row and the
// `dbf_field` stem of every service record. A record without a description takes no row, a heading
// record (its description starts with "-") takes a row but has no volumes, and a record without a stem
// takes no row. Nothing is visited, and the result is false, when Services cannot be opened.
bool forEachServiceRow(const MainState& state,
                       const std::function<void(int row, const QString& stem)>& visit);

// ---- Progress window ----
// Makes and shows the small window "caption" / "text" over owner and lets it paint; the window goes away
// when the returned object is destroyed. The application installs its progress window; without one
// nothing is shown.
using ProgressWindowFactory =
    std::function<std::unique_ptr<QObject>(QWidget* owner, const QString& caption, const QString& text)>;
void setProgressWindowFactory(ProgressWindowFactory factory);
std::unique_ptr<QObject> showProgressWindow(QWidget* owner, const QString& caption, const QString& text);

// ---- What happens to bids ----
// Told of every store (before it begins and after it ends, with whether the bid was stored whole), of
// every bid deleted and of every bid cleared from a window. The application installs the recovery copy's
// watcher here; without one nothing is told.
struct BidStoreEvents {
    std::function<void(QWidget* window, const QString& id)> beforeStore;
    std::function<void(QWidget* window, const QString& id, bool stored)> afterStore;
    std::function<void(const QString& id)> deleted;
    std::function<void(QWidget* window, const QString& id)> cleared;
};
void setBidStoreEvents(BidStoreEvents events);
const BidStoreEvents& bidStoreEvents();

// ---- Finding a bid's records ----
// The records of an open table whose `field`, trimmed, equals value, trimmed, in table order, deleted
// records included: what a chain of LocateByField calls (from the top, then from the next record) finds.
// anyDeleted tells whether any record of the table at all is marked deleted.
struct RecordMatches {
    std::vector<int> records;      // 1-based record numbers
    std::vector<bool> deleted;     // per match: marked deleted
    bool anyDeleted = false;
};
// The value is compared as the field stores it: a text longer than a character field is cut to its width,
// as writing it would cut it, so that a bid ID longer than `local_bid` still finds the records written
// with it.
// One sequential pass over the table's file, read in large blocks beside the open handle (which must
// have nothing unwritten). Falls back to LocateByField and d4deleted when the file cannot be read that
// way (an unusual header, a value outside ASCII, a record count that differs from the handle's).
RecordMatches findRecords(int table, const QString& tablePath, const QString& field, const QString& value);
// The value as a character field of the open table stores it: cut to the field's width (unchanged for
// other fields, and when the table has no such field).
QString valueAsStored(int table, const QString& field, const QString& value);
// The width that every local bid ID must keep to: the narrower `local_bid` of Bids and BidTail; 0 when
// neither table can be read.
int bidIdWidth(const MainState& state);
// The same search with LocateByField only (the fallback, and a yardstick for tests and benchmarks).
RecordMatches findRecordsByLocate(int table, const QString& field, const QString& value);

}  // namespace tarvik
