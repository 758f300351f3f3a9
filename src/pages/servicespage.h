#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "pages/mainstate.h"

class QCheckBox;
class QLabel;

namespace tarvik {

class BidProfilePage;
class StringGrid;

// One record of the Services table as the grid needs it.
struct ServiceRecord {
    QString description;  // service_d
    QString dbfField;     // dbf_field
    int svcCode = 0;      // svc_code
};

// One shipment line as the shipment markers need it: its Service and its total pieces (TotPcs).
struct ShipmentLineInfo {
    QString service;
    QString totalPieces;
};

// The tab sheet "tbsServices" of the main window: IncentiveGrid, one row per qualifying Services
// record (headings and services), with the shipper's weekly volumes, their total, a Primary? box per
// service row and a red marker for services that already have sample shipments.
class ServicesPage : public QWidget {
    Q_OBJECT
public:
    ServicesPage(MainState& state, QWidget* parent = nullptr);
    ~ServicesPage() override;

    // ---- Set-up (once, at start-up) ----
    // Reads Services from the data folder (state.tablePath("Services")) and builds the grid.
    void setupIncentiveGrid();
    // Builds the grid from records in table order (the table reader calls this).
    void setupIncentiveGrid(const std::vector<ServiceRecord>& records);
    // The records that take a row: a non-empty trimmed description and a dbf_field, or a description
    // that begins with "-" (a heading).
    static bool qualifies(const ServiceRecord& record);

    StringGrid* incentiveGrid() const { return grid_; }
    int rowCount() const;

    // ---- What storing and loading need, by grid row ----
    bool isHeadingRow(int row) const;  // heading rows and the fixed row 0 hold no volumes
    bool isServiceRow(int row) const;  // a data row (1 and on) built from a service record
    QString dbfField(int row) const;   // trimmed dbf_field of a service row
    int svcCode(int row) const;
    QCheckBox* primaryBox(int row) const;  // FPrimaryBoxes: one per row, heading rows included
    bool primaryBoxAllowed(int row) const;  // service rows other than "Single" / "Economy" rows
    const std::vector<QCheckBox*>& FPrimaryBoxes() const { return primaryBoxes_; }

    // Recomputes column 3 (Total Volume) of a row from columns 1 and 2.
    void rowTotal(int row);
    // Empties the volumes of every row from row 1 on (heading rows keep their dashes), unticks every
    // Primary? box and ticks chbMultiOnly again.
    void ClearGrid();
    // True when a service with code 8, 20 or 68 carries volume in Other Volume or Bidding On.
    bool rateOptionCheck() const;
    // True when the row shows the red marker: the Shipment Data page holds a line for its service.
    bool shipmentMarker(int row) const;

    // The shipment lines (from line 1 on), supplied by the shipment page's owner. When unset, the
    // lines are read from the StringGrid named "ShipmentGrid" in this page's window.
    std::function<std::vector<ShipmentLineInfo>()> shipmentLines;
    // Wires the bid profile page: its rate-option questions ask this grid, the markers read its
    // chbMultiOnly and clearing the grid ticks that box again. Without a call the page links itself
    // to the BidProfilePage of its window when it is first shown or cleared.
    void linkBidProfile(BidProfilePage* page);
    // chbMultiOnly as the markers read it (checked when no bid profile page is linked).
    bool multiOnly() const;

    // The page was shown: current cell (1, 1), FIncentivePrevRow 0.
    void tbsServicesShow();

    // ---- Grid handlers ----
    void IncentiveGridKeyPress(QChar& ch);
    void IncentiveGridGetEditText(int col, int row);
    void IncentiveGridSetEditText(int col, int row, const QString& text);
    bool IncentiveGridSelectCell(int col, int row);
    void IncentiveGridDrawCell(QPainter* painter, int col, int row, const QRect& rect);

    int FIncentivePrevRow = 0;
    QString FIncentiveEditText;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct RowInfo {
        bool built = false;  // the row was built from a Services record
        bool heading = true;
        QString dbfField;
        int svcCode = 0;
    };
    void createPrimaryBoxes();
    void placePrimaryBoxes();
    std::vector<ShipmentLineInfo> currentShipmentLines() const;
    void ensureLinked();
    void finishPendingMove();
    void updateCorner();
    void sizeLabelColumn();
    bool isHeadingCell(int col, int row) const;

    MainState& state_;
    StringGrid* grid_;
    QCheckBox* chbTemplate_;
    QLabel* cornerHeading_;
    QLabel* cornerPrimary_;
    std::vector<RowInfo> rows_;
    std::vector<QCheckBox*> primaryBoxes_;
    std::vector<bool> primaryBoxPlaced_;  // FPrimaryBoxPlaced
    BidProfilePage* bidProfile_ = nullptr;
    bool settingBack_ = false;
    // While the label column paints, the shipment lines are read once for all of its rows (a grid of
    // 65,536 lines would otherwise be copied once per row drawn).
    bool paintingLabels_ = false;
    std::vector<ShipmentLineInfo> paintLines_;
    int pendingRow_ = -1;  // row to move to after a refused heading-row selection
    int pendingCol_ = 1;
};

}  // namespace tarvik
