#pragma once

#include <QWidget>

#include "pages/mainstate.h"

class QLineEdit;

namespace tarvik {

class RadioGroup;
class StringGrid;

// The tab sheet "tbsCubeAnalysis" of the main window: up to 15 package types with their dimensions in
// inches and number of packages, each type's cube and total cube in cubic feet, the package-weighted
// average cube, the source of the dimensions, the share needing special handling and what the billable
// weights reflect.
class CubePage : public QWidget {
    Q_OBJECT
public:
    CubePage(MainState& state, QWidget* parent = nullptr);
    ~CubePage() override;

    static constexpr int kPackageRows = 15;

    // Lays the grid out (once, at start-up; the constructor runs it too).
    void setupCubeGrid();

    StringGrid* cubeGrid() const { return grid_; }
    QLineEdit* ebxAverageCube() const { return ebxAverageCube_; }
    RadioGroup* rgInfoSource() const { return rgInfoSource_; }
    QLineEdit* ebxPercentAH() const { return ebxPercentAH_; }
    QLineEdit* ebxAHPctComment() const { return ebxAHPctComment_; }
    RadioGroup* rgBillWeight() const { return rgBillWeight_; }

    // Computes Cube and Tot. Cube of one package row and then the average cube.
    void rowCube(int row);
    void averageCube();
    // Empties columns 1 to 6 of the package rows.
    void ClearGrid();
    // Empties the edits of the page and leaves the radio groups without a selection.
    void clearControls();

    // The page was shown: current cell (1, 1).
    void tbsCubeAnalysisShow();

    // ---- Grid handlers ----
    void CubeGridKeyPress(QChar& ch);
    void CubeGridGetEditText(int col, int row);
    void CubeGridSetEditText(int col, int row, const QString& text);

    QString FCubeEditText;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void sizeCubeColumns();

    MainState& state_;
    StringGrid* grid_;
    QLineEdit* ebxAverageCube_;
    RadioGroup* rgInfoSource_;
    QLineEdit* ebxPercentAH_;
    QLineEdit* ebxAHPctComment_;
    RadioGroup* rgBillWeight_;
    bool settingBack_ = false;
};

}  // namespace tarvik
