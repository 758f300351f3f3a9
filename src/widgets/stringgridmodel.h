// The cell store behind StringGrid: a rectangle of texts addressed as (column, row), row 0 and column 0
// being the fixed heading row and column. The view shows rows 1.. and columns 1.. as its items, row 0
// as the horizontal header and column 0 as the vertical header.
//
// Alignment and colour belong to a cell position, not to the text: swapping or removing rows moves
// the texts only.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QHash>
#include <QString>
#include <vector>

namespace tarvik {

class StringGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit StringGridModel(QObject* parent = nullptr);

    // Size of the grid, fixed row and column included.
    int gridRowCount() const { return static_cast<int>(rows_.size()); }
    int gridColCount() const { return cols_; }
    void setGridRowCount(int rows);
    void setGridColCount(int cols);

    QString cell(int col, int row) const;
    // What a screen reader is told of a data cell besides its text: its column heading and its line
    // ("Postal/Zip, line 3"; the row label when it is not a line number, "record 12" for a record number).
    QString cellDescription(int col, int row) const;
    // The stored text without a copy; col and row must be in range.
    const QString& cellRef(int col, int row) const { return rows_[row][col]; }
    void setCell(int col, int row, const QString& text);
    // A whole row at once (missing columns become empty).
    void setRowCells(int row, const QStringList& texts);

    void setCellAlignment(int col, int row, Qt::Alignment alignment);
    void setColumnAlignment(int col, Qt::Alignment alignment);
    Qt::Alignment cellAlignment(int col, int row) const;
    void setCellColor(int col, int row, const QColor& text, const QColor& background);
    void clearCellColors();

    // Editing permission of the data cells.
    void setCellsEditable(bool on);
    bool cellsEditable() const { return editable_; }
    void setColumnReadOnly(int col, bool readOnly);
    bool isColumnReadOnly(int col) const;

    // Row operations on data rows (>= 1): the texts of every column, the fixed column included.
    void swapRows(int a, int b);
    void insertGridRow(int row);  // an empty row before row (row == gridRowCount() appends)
    void removeGridRow(int row);

    // While a bulk update runs, cell changes are not announced one by one; the end announces every
    // cell once. Size changes are always announced. Calls nest.
    void beginBulkUpdate();
    void endBulkUpdate();
    bool inBulkUpdate() const { return bulk_ > 0; }

    // QAbstractTableModel: item (r, c) is grid cell (c + 1, r + 1).
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Colors {
        QColor text;
        QColor background;
    };
    static qint64 key(int col, int row) { return (static_cast<qint64>(row) << 32) | static_cast<quint32>(col); }
    void announce(int col, int row);

    std::vector<std::vector<QString>> rows_;
    int cols_ = 0;
    QHash<qint64, Qt::Alignment> cellAlign_;
    std::vector<Qt::Alignment> colAlign_;
    QHash<qint64, Colors> colors_;
    std::vector<bool> readOnly_;
    bool editable_ = false;
    int bulk_ = 0;
};

}  // namespace tarvik
