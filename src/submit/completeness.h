// The completeness checks run before a bid is submitted: a fixed sequence over the whole bid as the
// main window's pages hold it, stopping at the first failure. A failing check brings the page with the
// problem to the front (tabEntryPages), puts the focus on the control to fix and returns false with one
// message; no message box is shown here.
//
// Every control is found by its object name under the main window, so the checks need no page class.
#pragma once

#include <QString>
#include <vector>

#include "pages/mainstate.h"

class QWidget;

namespace tarvik {

// The whole sequence: bid ID, postal and zip codes of the shipment lines, services against volumes,
// the required fields, the credit card and reseller questions.
bool CheckBidComplete(MainState& state, QWidget* mainWindow, QString& message);

// One unmet requirement of a complete bid: the page that holds it (its index on tabEntryPages), the
// message in the checks' own words, and the control to fix (nullptr when the window lacks it).
struct BidProblem {
    int page = 0;
    QString message;
    QWidget* control = nullptr;
};

// Every check of the sequence, each failing one reported in order, without moving the page or the
// focus; empty when the bid is complete. The same messages CheckBidComplete gives one at a time.
std::vector<BidProblem> ListBidProblems(MainState& state, QWidget* mainWindow);

// The caption of a page of the main window by its index, as its tab shows it, without the padding.
QString BidPageName(int page);

// One required field: an edit box or a combo box passes with any text (a single blank too), a radio group
// when one of its items is selected, any other control always. On failure the page is shown and the
// control gets the focus.
bool CheckRequiredControl(QWidget* mainWindow, QWidget* control, int page);

// The services of the shipment lines against the weekly volumes of the Services page, both ways.
bool CheckServiceVolumes(MainState& state, QWidget* mainWindow, QString& message);

}  // namespace tarvik
