// The bid summary of "&Print Status": what an account executive hands to a manager about the bid on
// screen. GatherBidSummary reads it from the main window's controls (by object name, as storing does)
// into plain values; summaryprint.h lays it out on paper.
//
// The summary describes the bid as the window shows it, stored or not: its identity, the company and
// shipper profile, the account executive and sales team, the bid profile, the services with their
// weekly volumes and Primary? marks, the shipment lines summed up by service and by country with the
// ten heaviest lines, and the result of the completeness checks in their own words.
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

#include "pages/mainstate.h"

class QWidget;

namespace tarvik {

struct SummaryField {
    QString label;
    QString value;
};

struct SummarySection {
    QString title;
    std::vector<SummaryField> fields;
};

// A row of the Services page that carries a volume or a Primary? mark.
struct ServiceVolume {
    QString group;        // the heading row above it ("Canadian Domestic Services")
    QString description;  // as the page lists it
    QString otherVolume;  // the cells as typed
    QString biddingOn;
    QString totalVolume;
    bool primary = false;
    double other = 0;  // the numbers of the cells (text that is not a number counts as 0)
    double bidding = 0;
    double weekly() const { return other + bidding; }
};

// Shipment lines added up: by service, by country, or all of them.
struct ShipmentTotals {
    QString key;  // the service or country code as typed; empty for lines without one
    int lines = 0;
    double pieces = 0;
    double weight = 0;
    double competitorRate = 0;   // "Cmp Rate$"
    double competitorTotal = 0;  // "Tot Cmp $"
};

struct ShipmentLineSummary {
    int line = 0;  // its number on the Shipment Data page
    QString service;
    double pieces = 0;
    double weight = 0;
    QString postal;
    QString country;
    double competitorTotal = 0;
};

struct SummaryProblem {
    QString page;  // caption of the page that holds it
    QString message;
};

struct BidSummary {
    QString bidId;
    QString status;
    QString submitDate;
    QString company;
    QDateTime printedAt;  // the clock's time when the summary was gathered

    // The bid with its account executive and sales team, the company and shipper profile, the bid profile.
    std::vector<SummarySection> sections;
    QString salesStrategy;  // the memo, lines separated by '\n'

    std::vector<ServiceVolume> services;

    ShipmentTotals allLines;                    // every line that is not empty
    std::vector<ShipmentTotals> byService;      // most lines first, then by name
    std::vector<ShipmentTotals> byCountry;      // most lines first, then by code
    std::vector<ShipmentLineSummary> heaviest;  // at most 10, heaviest first, then by line number

    std::vector<SummaryProblem> problems;  // empty: ready to submit
};

// The summary of the bid in mainWindow. Runs the completeness checks without moving the page or focus.
BidSummary GatherBidSummary(MainState& state, QWidget* mainWindow);

// The shipment part alone, from the lines' cells (cell(col, line) as on ShipmentGrid, lines 1..lastLine).
struct ShipmentDigest {
    ShipmentTotals all;
    std::vector<ShipmentTotals> byService;
    std::vector<ShipmentTotals> byCountry;
    std::vector<ShipmentLineSummary> heaviest;
};
ShipmentDigest DigestShipmentLines(int lastLine,
                                   const std::function<const QString&(int col, int line)>& cell);

}  // namespace tarvik
