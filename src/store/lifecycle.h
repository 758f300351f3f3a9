// The bid lifecycle of the main window: starting a new bid, selecting a stored one, deleting one, and
// returning the window to an empty bid. A bid is open while the local bid ID on the Main page is not empty.
//
// The window holds at most one bid; it reaches the tables only when it is stored (Yes to "Save Bid
// Working on?", and submission). The flows work on the main window's controls by object name and on the
// pages' grids; the parts owned by the application come in as hooks.
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

#include "pages/mainstate.h"

class QWidget;

namespace tarvik {

class StringGrid;

struct LifecycleHooks {
    // The account executive change handler (fills the sales team from AELookUp). NewBid runs it with
    // FNewBidGuard set, so it asks nothing.
    std::function<void()> accountNameChange;
};
void setLifecycleHooks(LifecycleHooks hooks);
const LifecycleHooks& lifecycleHooks();

// "&New Bid" / "&New", and Yes to "Create new Bid?".
void NewBid(QWidget* mainWindow, MainState& state);
// "&Select Bid" / "&Select": the save question, the record picker on Bids, then loading the chosen bid.
void SelectBid(QWidget* mainWindow, MainState& state);
// "&Delete": the record picker on Bids, then "Delete Bid: <ID>" for the bid picked there; Cancel in the
// picker, or a picker without bids, deletes nothing and asks nothing.
void DeleteBid(QWidget* mainWindow, MainState& state);
// Deletes the header the open Bids table is positioned on and every detail record with its ID, packing
// both tables (the detail table only when it holds deleted records).
void DeleteBidRecords(int bidsTable, const MainState& state);

// Empties every control of the window and applies the defaults of a fresh bid, with FLoading set.
void ClearBidWindow(QWidget* mainWindow, MainState& state);
// Clears one of IncentiveGrid, CubeGrid, ShipmentGrid (found in mainWindow) by its rules.
void ClearGrid(QWidget* mainWindow, StringGrid* grid);
// The values of a fresh bid.
void ApplyBidDefaults(QWidget* mainWindow);

// The save question. Only when a bid is open: Yes stores it, No goes on, Cancel stops the flow. A store
// that fails stops the flow too, after ReportBidNotStored. True when the flow goes on.
enum class SaveQuestion {
    MessageBox,    // caption "File Write", question icon (selecting a bid, closing the window)
    Confirmation,  // confirmation dialog with the application's title (a new bid)
};
bool AskSaveBid(QWidget* mainWindow, MainState& state, SaveQuestion form);
// Tells the user that the bid with that ID was not stored and stays on screen (after the table layer has
// reported why): "File Write", error icon, OK.
void ReportBidNotStored(const QString& id);

// The local bid ID for an account executive's name at a time: the name's letters and digits followed by
// the time as a day number since 30 December 1899 with five decimals, point removed; step n adds n times
// one hundred-thousandth of a day (0.864 seconds). With a width above 0 the name part is shortened so
// that the whole ID has at most that many characters (the time stamp is never shortened).
QString BidIdAt(const QString& name, const QDateTime& time, int step = 0, int width = 0);
// The ID of a new bid: BidIdAt for cbxAccountName's text and the clock's time, shortened to the width of
// `local_bid` in the bid tables, advanced one step at a time until it is neither the ID on screen nor one
// already in Bids.dbf.
QString MakeBidId(QWidget* mainWindow, const MainState& state);

}  // namespace tarvik
