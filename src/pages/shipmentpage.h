// The Shipment Data page: the grid of sample shipments with its two in-cell pickers, and the buttons
// whose work lives with the shipment tools (import, copy, clear, find/replace) and with submission.
//
// Lines are rows 1 .. rowCount()-1 of ShipmentGrid; row 0 holds the headings and column 0 the line
// labels "#n". The grid grows by one line whenever the last line is edited.
//
// Postal and zip codes are checked when their cells are left. The checks themselves live with the
// shipment tools (they read the reference tables and show their own messages); the application hands
// them to the page through setCodeChecks. Without them every code is accepted.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "pages/mainstate.h"

class QComboBox;
class QPushButton;

namespace tarvik {

class StringGrid;

// The code checks of the leaving rules. Each returns true when the code is known and shows its own
// message when it is not.
struct ShipmentCodeChecks {
    std::function<bool(const QString& code)> checkPostalCode;
    std::function<bool(const QString& code)> checkZipCode;
};

// The tab sheet "tbsShipmentData" of the main window.
class ShipmentPage : public QWidget {
    Q_OBJECT
public:
    // Columns of ShipmentGrid.
    enum Column {
        ColLabel = 0,
        ColService = 1,
        ColTotPcs = 2,
        ColTotWgt = 3,
        ColFromPost = 4,
        ColPostal = 5,
        ColCountry = 6,
        ColCmpRate = 7,
        ColScPkUp = 8,
        ColScFwd = 9,
        ColScOther = 10,
        ColOtherDesc = 11,
        ColTotCmp = 12,
        ColumnCount = 13,
    };
    static constexpr int InitialLines = 30;

    ShipmentPage(MainState& state, QWidget* parent = nullptr);
    ~ShipmentPage() override;

    StringGrid* shipmentGrid() const { return ShipmentGrid; }
    QComboBox* servicesPicker() const { return cbxServices; }
    QComboBox* countryPicker() const { return cbxCountry; }

    void setCodeChecks(ShipmentCodeChecks checks);

    // ---- Grid operations ----
    // 13 columns with headings and widths (From Post. shown only while the MOB switch is on), 30 empty
    // numbered lines; FLastFromPostal emptied.
    void setupGrid();
    // Back to 30 lines, columns 1 to 12 of lines 1 to 30 emptied; the service and origin code repeated
    // into new lines (FLastService, FLastFromPostal) and the pickers' choices emptied too.
    void clearGrid();
    bool lineIsEmpty(int line) const;
    bool gridIsEmpty() const;
    int firstEmptyLine() const;  // 1 when no line is empty
    int lastLine() const;        // number of the last line (rowCount() - 1)
    int lastUsedLine() const;    // the last line that is not empty; 0 when every line is
    void appendLine();
    // Appends count empty numbered lines at once (for imports of many lines).
    void appendLines(int count);
    void lineTotal(int line);
    void serviceRules(int line);
    // The Service cell of every line, from line 1 to the last (empty ones included).
    QStringList serviceTexts() const;
    // The pickers select the items of the current line's Service and Cnty Cd cells.
    void syncPickers();
    // Scrolls the grid so that the line is the first one in view (the current cell stays where it is).
    void showLineAtTop(int line);
    // Tells listeners that lines changed after a bulk change made with signals blocked.
    void notifyLinesChanged() { emit linesChanged(); }
    bool fromPostShown() const { return fromPostShown_; }

    // ---- Page and grid events ----
    void tbsShipmentDataShow();
    bool ShipmentGridSelectCell(int col, int row);
    void ShipmentGridGetEditText(int col, int row);
    void ShipmentGridSetEditText(int col, int row, const QString& value);
    void ShipmentGridKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void ShipmentGridKeyPress(QChar& ch);
    void ShipmentGridTopLeftChanged();
    void cbxServicesChange();
    void cbxServicesExit();
    void cbxServicesKeyPress(int key);
    void cbxCountryChange();
    void cbxCountryExit();
    void cbxCountryKeyPress(int key);

    // ---- State of the grid ----
    const QString& lastService() const { return FLastService; }
    const QString& shipmentEditText() const { return FShipmentEditText; }

public slots:
    // The MOB switch of the Bid Profile page: shows (width 70) or hides the From Post. column.
    void showFromPostColumn(bool shown);

signals:
    // Lines were added, removed or edited (set-up, clearing, appending, a cell changed by the page).
    void linesChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeServicePicker(int line);
    void placeCountryPicker(int line);
    bool pickerCellVisible(int col, int line) const;
    QRect cellRectInGrid(int col, int line) const;
    void leaveCell(int col, int line);
    void returnFocusToGrid();
    bool checkPostal(const QString& code);
    bool checkZip(const QString& code);

    MainState& state_;
    StringGrid* ShipmentGrid = nullptr;
    QComboBox* cbxServices = nullptr;
    QComboBox* cbxCountry = nullptr;
    QPushButton* btnSubmitBid = nullptr;
    QPushButton* btnImport = nullptr;
    QPushButton* btnCopyLine = nullptr;
    QPushButton* btnClearShipGrid = nullptr;
    QPushButton* btnFindRepl = nullptr;

    ShipmentCodeChecks checks_;
    bool fromPostShown_ = false;

    QString FShipmentEditText;
    QString FLastService;
    int servicePickerShown_ = -1;  // the item the service picker showed when it was put on its line
    int FShipPrevCol = 0;
    int FShipPrevRow = 0;
    struct GridKey {
        int key = 0;
        Qt::KeyboardModifiers modifiers;
    } FLastGridKey;
};

}  // namespace tarvik
