// "C&lear": empties the shipment lines from a chosen row to the end of the grid.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvik {

class ShipmentPage;
struct MainState;

// "Clear Shipment Entries": the start row (editable) and the last row (shown only).
class TClearForm : public QDialog {
    Q_OBJECT
  public:
    explicit TClearForm(QWidget* owner = nullptr);

    QLineEdit* ebxClearFrom = nullptr;
    QLineEdit* ebxClearTo = nullptr;  // disabled
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

// Clears from line `start` on: up to 30 the grid goes back to 30 lines and lines start..30 are
// emptied; beyond 30 the grid is cut back so that line `start` is its last, and that line is emptied.
// Line labels stay as they are. FLastFromPostal is emptied. A start beyond the grid's last line does
// nothing (the grid never grows here).
void ClearShipmentLines(ShipmentPage& page, MainState& state, int start);

// The handler of btnClearShipGrid.
void btnClearShipGridClick(ShipmentPage& page, MainState& state);

}  // namespace tarvik
