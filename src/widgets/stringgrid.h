// The string grid of the component set: a grid of text cells addressed as (column, row), with one
// fixed row (row 0, the column headings) and one fixed column (column 0, row labels or line numbers),
// in-place editing, per-cell alignment and colour, and the events the pages hook into.
//
// Cells live in the grid's own model (no widget per cell), so tens of thousands of rows stay light.
// The fixed row and column are drawn as the view's headers and stay in view while the grid scrolls.
//
// Event order, as the pages rely on it:
//  - canSelectCell(col, row) runs before the current cell moves (keys, clicks, setCurrentCell);
//    returning false keeps the current cell.
//  - keyPress(ch) runs for every printable character typed on the grid or into its editor; setting ch
//    to a null QChar discards it. keyDown(key, modifiers) runs first for every key.
//  - editTextRequested(col, row) runs when an editor opens (the cell's text is what it shows).
//  - editTextChanged(col, row, text) runs after every change of the edited text; the cell already
//    holds the new text.
//  - topLeftChanged() runs when the grid scrolls.
//  - drawCell(painter, col, row, rect) runs after a cell (fixed ones included) has been drawn.
#pragma once

#include <QColor>
#include <QTableView>
#include <functional>
#include <memory>
#include <vector>

#include "widgets/fieldlimit.h"

class QLineEdit;
class QScrollBar;

namespace tarvik {

class StringGridModel;

class StringGrid : public QTableView {
    Q_OBJECT
public:
    explicit StringGrid(QWidget* parent = nullptr);
    ~StringGrid() override;

    // ---- Size (fixed row and column included, as in rowCount() == 31 for 30 lines) ----
    int rowCount() const;
    void setRowCount(int rows);  // keeps the cells of the rows that remain
    int colCount() const;
    void setColCount(int cols);

    // ---- Cells ----
    QString cell(int col, int row) const;
    void setCell(int col, int row, const QString& text);
    void setCellAlignment(int col, int row, Qt::Alignment alignment);
    void setColumnAlignment(int col, Qt::Alignment alignment);  // default for a column's cells
    void setCellColor(int col, int row, const QColor& text, const QColor& background = QColor());
    void clearCellColors();

    // ---- Current cell ----
    int row() const;  // current row (>= 1 while the grid has data rows)
    int col() const;  // current column (>= 1)
    // Moves the current cell; canSelectCell is asked unless force is set. Returns true when moved.
    bool setCurrentCell(int col, int row, bool force = false);

    // ---- Geometry ----
    void setColWidth(int col, int width);
    int colWidth(int col) const;
    // A column whose shown text is wider than the column widens to show it whole (numbers are never
    // shown cut or with an ellipsis); it never narrows by itself.
    void setColumnWidensToText(int col, bool on);
    void setColHiddenInGrid(int col, bool hidden);
    bool isColHiddenInGrid(int col) const;
    // Columns 1..count stay in view while the grid scrolls sideways (the record number, deletion mark
    // and first field of the table editor). With fixed columns the grid scrolls a column at a time:
    // leftCol() is the first column shown after the fixed ones, and columnScrollBar() (made on the
    // grid's parent; the owner places it under the grid) moves it.
    void setFixedColumns(int count);
    int fixedColumns() const;
    int leftCol() const;
    void setLeftCol(int col);
    int maxLeftCol() const;
    QScrollBar* columnScrollBar() const;
    void setDefaultRowHeight(int height);
    // Rectangle of a cell in viewport coordinates (fixed cells: in the grid's coordinates); empty when
    // the cell is not visible at all.
    QRect cellRect(int col, int row) const;
    // True when the whole cell is visible in the viewport.
    bool isCellFullyVisible(int col, int row) const;
    int topRow() const;  // first data row in view
    int visibleRowCount() const;

    // ---- Editing ----
    void setEditable(bool on);               // cell editing on the data cells
    void setColumnReadOnly(int col, bool readOnly);
    bool isEditing() const;
    QLineEdit* editor() const;               // the open editor, or nullptr
    void setEditorMaxLength(int length);     // 0: no limit
    void openEditor();                       // opens the editor on the current cell
    void closeEditor(bool accept = true);
    // Tab / Shift+Tab move the current cell, and past the last (first) cell the focus to the next
    // (previous) control; Ctrl+Tab / Ctrl+Shift+Tab leave the grid from any cell.
    void setTabMovesBetweenCells(bool on);
    // Whole-row selection: the current row is shown selected and no cell can be edited.
    void setRowSelect(bool on);
    bool rowSelect() const;

    // ---- Bulk changes: cell changes between these calls are announced once, at the end ----
    void beginUpdate();
    void endUpdate();

    // ---- Hooks (set by the owning page) ----
    std::function<bool(int col, int row)> canSelectCell;
    std::function<void(QChar& ch)> keyPress;
    std::function<void(int key, Qt::KeyboardModifiers modifiers)> keyDown;
    std::function<void(int col, int row)> editTextRequested;
    std::function<void(int col, int row, const QString& text)> editTextChanged;
    std::function<void()> topLeftChanged;
    std::function<void(QPainter* painter, int col, int row, const QRect& rect)> drawCell;
    // What the field that stores a cell can hold; the cell's editor refuses typed and pasted text beyond
    // it. Cells set by the program are not limited.
    std::function<FieldLimit(int col, int row)> cellLimit;

    // The cell store (widgets/stringgridmodel.h), for work on whole rows: setRowCells, swapRows,
    // insertGridRow, removeGridRow.
    StringGridModel* gridModel() const;

    // Scrolls the cell into view; with fixed columns the columns after them scroll a column at a time.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

  signals:
    void currentCellChanged(int col, int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void scrollContentsBy(int dx, int dy) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class StringGridDelegate;
    bool editorKey(QKeyEvent* event);
    void editorTextChanged(const QString& text);
    void widenToText(int col, const QString& text, int shownWidth);
    void applyColumnVisibility();
    void ensureColumnInView(int col);
    int scrollableWidth() const;
    int shownWidth(int col) const;  // a column's width, also while it is scrolled out
    void updateColumnScrollBar();
    bool tabMove(bool forward);  // false at the last (first) cell: there is no cell to move to
    void leaveGrid(bool forward);
    static bool isTabKey(const QKeyEvent* event, bool* forward);
    bool canSelect(int col, int row) const;

    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace tarvik
