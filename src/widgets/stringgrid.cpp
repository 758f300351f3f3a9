#include "widgets/stringgrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QWheelEvent>
#include <algorithm>

#include "widgets/stringgridmodel.h"

namespace tarvik {

// ============================================================================================
// StringGridModel
// ============================================================================================

StringGridModel::StringGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void StringGridModel::setGridRowCount(int rows) {
    rows = std::max(0, rows);
    const int old = gridRowCount();
    if (rows == old) return;
    // Model rows are the grid rows after the fixed one.
    const int oldItems = std::max(0, old - 1);
    const int newItems = std::max(0, rows - 1);
    if (newItems > oldItems) {
        beginInsertRows(QModelIndex(), oldItems, newItems - 1);
        rows_.resize(rows, std::vector<QString>(cols_));
        endInsertRows();
    } else if (newItems < oldItems) {
        beginRemoveRows(QModelIndex(), newItems, oldItems - 1);
        rows_.resize(rows);
        endRemoveRows();
    } else {
        rows_.resize(rows, std::vector<QString>(cols_));  // 0 <-> 1: only the fixed row
        emit headerDataChanged(Qt::Horizontal, 0, std::max(0, cols_ - 2));
    }
    // Styles of rows that are gone are forgotten.
    if (rows < old) {
        for (auto it = cellAlign_.begin(); it != cellAlign_.end();)
            it = (it.key() >> 32) >= rows ? cellAlign_.erase(it) : std::next(it);
        for (auto it = colors_.begin(); it != colors_.end();)
            it = (it.key() >> 32) >= rows ? colors_.erase(it) : std::next(it);
    }
}

void StringGridModel::setGridColCount(int cols) {
    cols = std::max(0, cols);
    if (cols == cols_) return;
    const int oldItems = std::max(0, cols_ - 1);
    const int newItems = std::max(0, cols - 1);
    auto resizeAll = [&] {
        for (auto& r : rows_) r.resize(cols);
        cols_ = cols;
        colAlign_.resize(cols, Qt::AlignLeft | Qt::AlignVCenter);
        readOnly_.resize(cols, false);
    };
    if (newItems > oldItems) {
        beginInsertColumns(QModelIndex(), oldItems, newItems - 1);
        resizeAll();
        endInsertColumns();
    } else if (newItems < oldItems) {
        beginRemoveColumns(QModelIndex(), newItems, oldItems - 1);
        resizeAll();
        endRemoveColumns();
    } else {
        resizeAll();
        emit headerDataChanged(Qt::Vertical, 0, std::max(0, gridRowCount() - 2));
    }
    for (auto it = cellAlign_.begin(); it != cellAlign_.end();)
        it = static_cast<int>(it.key() & 0xffffffff) >= cols ? cellAlign_.erase(it) : std::next(it);
    for (auto it = colors_.begin(); it != colors_.end();)
        it = static_cast<int>(it.key() & 0xffffffff) >= cols ? colors_.erase(it) : std::next(it);
}

QString StringGridModel::cell(int col, int row) const {
    if (row < 0 || row >= gridRowCount() || col < 0 || col >= cols_) return QString();
    return rows_[row][col];
}

void StringGridModel::announce(int col, int row) {
    if (bulk_ > 0) return;
    if (row == 0 && col == 0) return;
    if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, col - 1, col - 1);
    } else if (col == 0) {
        emit headerDataChanged(Qt::Vertical, row - 1, row - 1);
    } else {
        const QModelIndex i = index(row - 1, col - 1);
        emit dataChanged(i, i);
    }
}

void StringGridModel::setCell(int col, int row, const QString& text) {
    if (row < 0 || row >= gridRowCount() || col < 0 || col >= cols_) return;
    QString& c = rows_[row][col];
    if (c == text && c.isNull() == text.isNull()) return;
    c = text;
    announce(col, row);
}

void StringGridModel::setRowCells(int row, const QStringList& texts) {
    if (row < 0 || row >= gridRowCount()) return;
    auto& r = rows_[row];
    for (int c = 0; c < cols_; ++c) r[c] = c < texts.size() ? texts[c] : QString();
    if (bulk_ > 0) return;
    if (row == 0) {
        if (cols_ > 1) emit headerDataChanged(Qt::Horizontal, 0, cols_ - 2);
    } else {
        emit headerDataChanged(Qt::Vertical, row - 1, row - 1);
        if (cols_ > 1) emit dataChanged(index(row - 1, 0), index(row - 1, cols_ - 2));
    }
}

void StringGridModel::setCellAlignment(int col, int row, Qt::Alignment alignment) {
    cellAlign_.insert(key(col, row), alignment);
    announce(col, row);
}

void StringGridModel::setColumnAlignment(int col, Qt::Alignment alignment) {
    if (col < 0 || col >= cols_) return;
    colAlign_[col] = alignment;
    if (bulk_ == 0 && col > 0 && gridRowCount() > 1)
        emit dataChanged(index(0, col - 1), index(gridRowCount() - 2, col - 1), {Qt::TextAlignmentRole});
}

Qt::Alignment StringGridModel::cellAlignment(int col, int row) const {
    auto it = cellAlign_.constFind(key(col, row));
    if (it != cellAlign_.constEnd()) return *it;
    if (col >= 0 && col < cols_) return colAlign_[col];
    return Qt::AlignLeft | Qt::AlignVCenter;
}

void StringGridModel::setCellColor(int col, int row, const QColor& text, const QColor& background) {
    if (!text.isValid() && !background.isValid())
        colors_.remove(key(col, row));
    else
        colors_.insert(key(col, row), Colors{text, background});
    announce(col, row);
}

void StringGridModel::clearCellColors() {
    if (colors_.isEmpty()) return;
    colors_.clear();
    if (bulk_ == 0 && gridRowCount() > 1 && cols_ > 1)
        emit dataChanged(index(0, 0), index(gridRowCount() - 2, cols_ - 2));
}

void StringGridModel::setCellsEditable(bool on) { editable_ = on; }

void StringGridModel::setColumnReadOnly(int col, bool readOnly) {
    if (col < 0) return;
    if (col >= static_cast<int>(readOnly_.size())) readOnly_.resize(col + 1, false);
    readOnly_[col] = readOnly;
}

bool StringGridModel::isColumnReadOnly(int col) const {
    return col >= 0 && col < static_cast<int>(readOnly_.size()) && readOnly_[col];
}

void StringGridModel::swapRows(int a, int b) {
    if (a == b || a < 1 || b < 1 || a >= gridRowCount() || b >= gridRowCount()) return;
    std::swap(rows_[a], rows_[b]);
    if (bulk_ > 0) return;
    for (int r : {a, b}) {
        emit headerDataChanged(Qt::Vertical, r - 1, r - 1);
        if (cols_ > 1) emit dataChanged(index(r - 1, 0), index(r - 1, cols_ - 2));
    }
}

void StringGridModel::insertGridRow(int row) {
    if (row < 1 || row > gridRowCount()) return;
    beginInsertRows(QModelIndex(), row - 1, row - 1);
    rows_.insert(rows_.begin() + row, std::vector<QString>(cols_));
    endInsertRows();
}

void StringGridModel::removeGridRow(int row) {
    if (row < 1 || row >= gridRowCount()) return;
    beginRemoveRows(QModelIndex(), row - 1, row - 1);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void StringGridModel::beginBulkUpdate() { ++bulk_; }

void StringGridModel::endBulkUpdate() {
    if (bulk_ == 0 || --bulk_ > 0) return;
    if (cols_ > 1) emit headerDataChanged(Qt::Horizontal, 0, cols_ - 2);
    if (gridRowCount() > 1) {
        emit headerDataChanged(Qt::Vertical, 0, gridRowCount() - 2);
        if (cols_ > 1) emit dataChanged(index(0, 0), index(gridRowCount() - 2, cols_ - 2));
    }
}

int StringGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(0, gridRowCount() - 1);
}

int StringGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(0, cols_ - 1);
}

namespace {

// The text colour (Qt::ForegroundRole) or background colour (Qt::BackgroundRole) set for the cell of
// cellKey, or no value when none is set.
template <typename ColorMap>
QVariant roleColor(const ColorMap& colors, qint64 cellKey, int role) {
    auto it = colors.constFind(cellKey);
    if (it == colors.constEnd()) return QVariant();
    const QColor& color = role == Qt::ForegroundRole ? it->text : it->background;
    return color.isValid() ? QVariant(color) : QVariant();
}

}  // namespace

QVariant StringGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return QVariant();
    const int col = index.column() + 1;
    const int row = index.row() + 1;
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return cell(col, row);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(cellAlignment(col, row));
        case Qt::ForegroundRole:
        case Qt::BackgroundRole:
            return roleColor(colors_, key(col, row), role);
        case Qt::AccessibleDescriptionRole:
            return cellDescription(col, row);
        default:
            return QVariant();
    }
}

QString StringGridModel::cellDescription(int col, int row) const {
    // A screen reader reads the cell's text as its name and this as its description: the column's
    // heading and the line, as the fixed row and column show them.
    const QString heading = cell(col, 0).simplified();
    const QString label = cell(0, row).simplified();
    QString line;
    if (label.isEmpty()) {
        line = QStringLiteral("line %1").arg(row);
    } else if (label.startsWith(QLatin1Char('#'))) {
        line = QStringLiteral("line ") + label.mid(1).trimmed();
    } else {
        bool number = false;
        label.toInt(&number);
        line = number ? QStringLiteral("record ") + label : label;
    }
    return heading.isEmpty() ? line : heading + QStringLiteral(", ") + line;
}

bool StringGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    setCell(index.column() + 1, index.row() + 1, value.toString());
    return true;
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editable_ && !isColumnReadOnly(index.column() + 1)) f |= Qt::ItemIsEditable;
    return f;
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    const int col = orientation == Qt::Horizontal ? section + 1 : 0;
    const int row = orientation == Qt::Horizontal ? 0 : section + 1;
    switch (role) {
        case Qt::DisplayRole:
            return cell(col, row);
        case Qt::TextAlignmentRole: {
            auto it = cellAlign_.constFind(key(col, row));
            if (it != cellAlign_.constEnd()) return QVariant::fromValue(*it);
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        }
        case Qt::ForegroundRole:
        case Qt::BackgroundRole:
            return roleColor(colors_, key(col, row), role);
        default:
            return QVariant();
    }
}

// ============================================================================================
// Delegate and headers
// ============================================================================================

class StringGridDelegate : public QStyledItemDelegate {
public:
    explicit StringGridDelegate(StringGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {
        // The cell follows the editor on every change already.
    }
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        grid_->widenToText(index.column() + 1, index.data(Qt::DisplayRole).toString(), option.rect.width());
        QStyledItemDelegate::paint(painter, option, index);
        if (grid_->drawCell) {
            painter->save();
            grid_->drawCell(painter, index.column() + 1, index.row() + 1, option.rect);
            painter->restore();
        }
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && grid_->editorKey(static_cast<QKeyEvent*>(event))) return true;
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    StringGrid* grid_;
};

namespace {

// The fixed row and column, drawn as the view's headers; they give the drawCell hook its turn too.
class GridHeader : public QHeaderView {
public:
    GridHeader(Qt::Orientation o, StringGrid* grid) : QHeaderView(o, grid), grid_(grid) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        if (grid_->drawCell) {
            const int col = orientation() == Qt::Horizontal ? logicalIndex + 1 : 0;
            const int row = orientation() == Qt::Horizontal ? 0 : logicalIndex + 1;
            painter->save();
            grid_->drawCell(painter, col, row, rect);
            painter->restore();
        }
    }

private:
    StringGrid* grid_;
};

bool isPrintable(const QKeyEvent* e, QChar* ch) {
    if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString t = e->text();
    if (t.size() != 1 || !t[0].isPrint()) return false;
    *ch = t[0];
    return true;
}

}  // namespace

// ============================================================================================
// StringGrid
// ============================================================================================

struct StringGrid::Private {
    StringGridModel* model = nullptr;
    StringGridDelegate* delegate = nullptr;
    QPointer<QLineEdit> editor;
    int editCol = -1;
    int editRow = -1;
    QString editStartText;
    int maxLength = 0;
    bool tabMoves = false;
    bool rowSelect = false;
    bool editable = false;
    bool syncingEditor = false;  // the editor's text is being set from the cell
    bool moving = false;         // a move already asked canSelectCell
    std::vector<bool> widensToText;  // by column
    std::vector<bool> hiddenByOwner;    // by column: hidden by setColHiddenInGrid (not scrolled out)
    std::vector<int> scrolledOutWidth;  // by column: the width of a column while it is scrolled out
    int fixedCols = 0;                  // data columns that stay in view
    int leftCol = 1;                    // first column shown after the fixed ones
    QPointer<QScrollBar> colBar;
};

QWidget* StringGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                          const QModelIndex& index) const {
    auto& d = *grid_->d;
    d.editCol = index.column() + 1;
    d.editRow = index.row() + 1;
    if (grid_->editTextRequested) grid_->editTextRequested(d.editCol, d.editRow);
    d.editStartText = d.model->cell(d.editCol, d.editRow);
    auto* e = new QLineEdit(parent);
    e->setFrame(false);
    if (d.maxLength > 0) e->setMaxLength(d.maxLength);
    if (grid_->cellLimit) limitLineEdit(e, grid_->cellLimit(d.editCol, d.editRow));
    d.editor = e;
    QObject::connect(e, &QLineEdit::textChanged, grid_, [g = grid_](const QString& t) { g->editorTextChanged(t); });
    return e;
}

void StringGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* e = qobject_cast<QLineEdit*>(editor);
    if (!e) return;
    const QString text = index.data(Qt::EditRole).toString();
    if (e->text() == text) return;
    auto& d = *grid_->d;
    const bool was = d.syncingEditor;
    d.syncingEditor = true;
    e->setText(text);
    d.syncingEditor = was;
}

void StringGridDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
    auto& d = *grid_->d;
    if (d.editor == editor) {
        d.editor = nullptr;
        d.editCol = d.editRow = -1;
    }
    QStyledItemDelegate::destroyEditor(editor, index);
}

StringGrid::StringGrid(QWidget* parent) : QTableView(parent), d(std::make_unique<Private>()) {
    d->model = new StringGridModel(this);
    d->delegate = new StringGridDelegate(this);
    setHorizontalHeader(new GridHeader(Qt::Horizontal, this));
    setVerticalHeader(new GridHeader(Qt::Vertical, this));
    setModel(d->model);
    setItemDelegate(d->delegate);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed);
    setTabKeyNavigation(false);
    setCornerButtonEnabled(false);
    for (QHeaderView* h : {horizontalHeader(), verticalHeader()}) {
        h->setSectionsClickable(false);
        h->setHighlightSections(false);
    }
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    d->model->setGridColCount(2);
    d->model->setGridRowCount(2);
    connect(d->model, &QAbstractItemModel::rowsInserted, this, [this] {
        if (!currentIndex().isValid() && d->model->rowCount() > 0 && d->model->columnCount() > 0)
            selectionModel()->setCurrentIndex(d->model->index(0, 0), QItemSelectionModel::ClearAndSelect);
    });
    connect(d->model, &QAbstractItemModel::columnsInserted, this, [this] {
        if (!currentIndex().isValid() && d->model->rowCount() > 0 && d->model->columnCount() > 0)
            selectionModel()->setCurrentIndex(d->model->index(0, 0), QItemSelectionModel::ClearAndSelect);
    });
    selectionModel()->setCurrentIndex(d->model->index(0, 0), QItemSelectionModel::ClearAndSelect);
}

StringGrid::~StringGrid() = default;

StringGridModel* StringGrid::gridModel() const { return d->model; }

int StringGrid::rowCount() const { return d->model->gridRowCount(); }

void StringGrid::setRowCount(int rows) {
    if (d->editor && d->editRow >= rows) closeEditor(true);
    d->model->setGridRowCount(rows);
}

int StringGrid::colCount() const { return d->model->gridColCount(); }

void StringGrid::setColCount(int cols) {
    if (d->editor && d->editCol >= cols) closeEditor(true);
    d->model->setGridColCount(cols);
}

QString StringGrid::cell(int col, int row) const { return d->model->cell(col, row); }

void StringGrid::setCell(int col, int row, const QString& text) {
    d->model->setCell(col, row, text);
    // The open editor always shows its cell's text (dataChanged does this too, but not in bulk mode).
    if (d->editor && col == d->editCol && row == d->editRow && d->editor->text() != text) {
        const bool was = d->syncingEditor;
        d->syncingEditor = true;
        d->editor->setText(text);
        d->syncingEditor = was;
    }
}

void StringGrid::setCellAlignment(int col, int row, Qt::Alignment alignment) {
    d->model->setCellAlignment(col, row, alignment);
}

void StringGrid::setColumnAlignment(int col, Qt::Alignment alignment) { d->model->setColumnAlignment(col, alignment); }

void StringGrid::setCellColor(int col, int row, const QColor& text, const QColor& background) {
    d->model->setCellColor(col, row, text, background);
}

void StringGrid::clearCellColors() { d->model->clearCellColors(); }

int StringGrid::row() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() + 1 : 1;
}

int StringGrid::col() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.column() + 1 : 1;
}

bool StringGrid::canSelect(int col, int row) const { return !canSelectCell || canSelectCell(col, row); }

bool StringGrid::setCurrentCell(int col, int row, bool force) {
    if (col < 1 || row < 1 || col >= colCount() || row >= rowCount()) return false;
    const QModelIndex target = d->model->index(row - 1, col - 1);
    if (target == currentIndex()) return true;
    if (!force && !canSelect(col, row)) return false;
    d->moving = true;
    setCurrentIndex(target);
    d->moving = false;
    return currentIndex() == target;
}

void StringGrid::setColWidth(int col, int width) {
    if (col == 0)
        verticalHeader()->setFixedWidth(width);
    else if (col > 0 && col < colCount()) {
        if (isColumnHidden(col - 1)) {
            if (col >= static_cast<int>(d->scrolledOutWidth.size())) d->scrolledOutWidth.resize(col + 1, 0);
            d->scrolledOutWidth[static_cast<size_t>(col)] = width;
        }
        setColumnWidth(col - 1, width);
    }
}

void StringGrid::setColumnWidensToText(int col, bool on) {
    if (col < 0) return;
    if (col >= static_cast<int>(d->widensToText.size())) d->widensToText.resize(col + 1, false);
    d->widensToText[static_cast<size_t>(col)] = on;
}

void StringGrid::widenToText(int col, const QString& text, int shownWidth) {
    if (col <= 0 || col >= static_cast<int>(d->widensToText.size()) ||
        !d->widensToText[static_cast<size_t>(col)])
        return;
    if (text.isEmpty()) return;
    // The text and the item's margins on both sides, as the style draws them.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int needed = fontMetrics().horizontalAdvance(text) + 2 * margin + 2;
    if (needed <= shownWidth || needed <= columnWidth(col - 1)) return;
    // Not while the view paints: the width changes right after, and the cell is painted again whole.
    QPointer<StringGrid> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, col, needed] {
            if (self && needed > self->columnWidth(col - 1)) self->setColumnWidth(col - 1, needed);
        },
        Qt::QueuedConnection);
}

int StringGrid::colWidth(int col) const {
    if (col == 0) return verticalHeader()->isVisible() ? verticalHeader()->width() : verticalHeader()->sizeHint().width();
    return columnWidth(col - 1);
}

void StringGrid::setColHiddenInGrid(int col, bool hidden) {
    if (col == 0) {
        verticalHeader()->setVisible(!hidden);
    } else if (col > 0) {
        if (col >= static_cast<int>(d->hiddenByOwner.size())) d->hiddenByOwner.resize(col + 1, false);
        d->hiddenByOwner[static_cast<size_t>(col)] = hidden;
        if (d->fixedCols > 0)
            applyColumnVisibility();
        else
            setColumnHidden(col - 1, hidden);
    }
}

bool StringGrid::isColHiddenInGrid(int col) const {
    if (col == 0) return verticalHeader()->isHidden();
    if (d->fixedCols > 0)
        return col < static_cast<int>(d->hiddenByOwner.size()) && d->hiddenByOwner[static_cast<size_t>(col)];
    return isColumnHidden(col - 1);
}

// ---- Fixed columns: sideways scrolling a column at a time ----
//
// The columns between the fixed ones and leftCol are scrolled out of view by hiding them, so the fixed
// columns keep their place while the rest moves under them; the view's own sideways scrolling is kept
// at its start.

void StringGrid::setFixedColumns(int count) {
    d->fixedCols = std::max(0, count);
    d->leftCol = d->fixedCols + 1;
    setHorizontalScrollBarPolicy(d->fixedCols > 0 ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    if (d->fixedCols > 0 && !d->colBar && parentWidget()) {
        d->colBar = new QScrollBar(Qt::Horizontal, parentWidget());
        d->colBar->setObjectName(objectName() + QStringLiteral("ColumnBar"));
        d->colBar->setAccessibleName(QStringLiteral("Columns"));
        connect(d->colBar, &QScrollBar::valueChanged, this, [this](int v) { setLeftCol(v); });
        connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this] { updateColumnScrollBar(); });
        connect(d->model, &QAbstractItemModel::columnsInserted, this, [this] { updateColumnScrollBar(); });
        connect(d->model, &QAbstractItemModel::columnsRemoved, this, [this] { updateColumnScrollBar(); });
    }
    applyColumnVisibility();
}

int StringGrid::fixedColumns() const {
    return d->fixedCols;
}

int StringGrid::leftCol() const {
    return d->leftCol;
}

QScrollBar* StringGrid::columnScrollBar() const {
    return d->colBar.data();
}

void StringGrid::applyColumnVisibility() {
    for (int c = 1; c < colCount(); ++c) {
        const bool byOwner =
            c < static_cast<int>(d->hiddenByOwner.size()) && d->hiddenByOwner[static_cast<size_t>(c)];
        const bool scrolledOut = d->fixedCols > 0 && c > d->fixedCols && c < d->leftCol;
        const bool hide = byOwner || scrolledOut;
        if (isColumnHidden(c - 1) == hide) continue;
        // A hidden column reports no width: its own is kept for the sums below.
        if (c >= static_cast<int>(d->scrolledOutWidth.size())) d->scrolledOutWidth.resize(c + 1, 0);
        if (hide) d->scrolledOutWidth[static_cast<size_t>(c)] = columnWidth(c - 1);
        setColumnHidden(c - 1, hide);
    }
    updateColumnScrollBar();
}

int StringGrid::shownWidth(int col) const {
    if (isColHiddenInGrid(col)) return 0;
    if (!isColumnHidden(col - 1)) return columnWidth(col - 1);
    return col < static_cast<int>(d->scrolledOutWidth.size()) ? d->scrolledOutWidth[static_cast<size_t>(col)]
                                                              : 0;
}

int StringGrid::scrollableWidth() const {
    int width = viewport()->width();
    for (int c = 1; c <= d->fixedCols && c < colCount(); ++c) width -= shownWidth(c);
    return width;
}

int StringGrid::maxLeftCol() const {
    const int first = d->fixedCols + 1;
    const int available = scrollableWidth();
    int used = 0;
    int left = colCount() - 1;
    for (int c = colCount() - 1; c >= first; --c) {
        if (isColHiddenInGrid(c)) continue;
        used += shownWidth(c);
        if (used > available) break;
        left = c;
    }
    return std::max(first, std::min(left, colCount() - 1));
}

void StringGrid::setLeftCol(int col) {
    if (d->fixedCols <= 0) return;
    col = std::clamp(col, d->fixedCols + 1, maxLeftCol());
    if (col == d->leftCol) return;
    d->leftCol = col;
    applyColumnVisibility();
    horizontalScrollBar()->setValue(0);
    if (topLeftChanged) topLeftChanged();
}

void StringGrid::ensureColumnInView(int col) {
    if (d->fixedCols <= 0 || col <= d->fixedCols) return;
    int left = std::min(d->leftCol, col);
    // Columns left..col must fit beside the fixed ones; as few move out of view as needed.
    const int available = scrollableWidth();
    auto widthFrom = [&](int from) {
        int w = 0;
        for (int c = from; c <= col; ++c) w += shownWidth(c);
        return w;
    };
    while (left < col && widthFrom(left) > available) ++left;
    setLeftCol(left);
}

void StringGrid::updateColumnScrollBar() {
    if (!d->colBar) return;
    const int first = d->fixedCols + 1;
    const int last = maxLeftCol();
    if (d->leftCol > last) {
        d->leftCol = last;
        applyColumnVisibility();  // calls back here with the clamped value
        return;
    }
    const QSignalBlocker quiet(d->colBar);
    d->colBar->setRange(first, last);
    d->colBar->setPageStep(std::max(1, (colCount() - first) / 4));
    d->colBar->setValue(d->leftCol);
    d->colBar->setVisible(last > first);
}

void StringGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (d->fixedCols > 0 && index.isValid()) ensureColumnInView(index.column() + 1);
    QTableView::scrollTo(index, hint);
    if (d->fixedCols > 0) horizontalScrollBar()->setValue(0);
}

void StringGrid::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    if (d->fixedCols > 0) updateColumnScrollBar();
}

void StringGrid::wheelEvent(QWheelEvent* event) {
    if (d->fixedCols > 0 && event->angleDelta().x() != 0 && event->angleDelta().y() == 0) {
        setLeftCol(d->leftCol + (event->angleDelta().x() < 0 ? 1 : -1));
        event->accept();
        return;
    }
    QTableView::wheelEvent(event);
}

void StringGrid::setDefaultRowHeight(int height) {
    verticalHeader()->setMinimumSectionSize(std::min(height, verticalHeader()->minimumSectionSize()));
    verticalHeader()->setDefaultSectionSize(height);
}

QRect StringGrid::cellRect(int col, int row) const {
    if (col < 0 || row < 0 || col >= colCount() || row >= rowCount()) return QRect();
    if (row == 0 && col == 0) return QRect();
    if (row == 0) {
        QHeaderView* h = horizontalHeader();
        if (h->isHidden() || isColumnHidden(col - 1)) return QRect();
        QRect r(h->sectionViewportPosition(col - 1), 0, h->sectionSize(col - 1), h->height());
        r.translate(h->geometry().topLeft());
        return r.intersects(h->geometry()) ? r : QRect();
    }
    if (col == 0) {
        QHeaderView* h = verticalHeader();
        if (h->isHidden()) return QRect();
        QRect r(0, h->sectionViewportPosition(row - 1), h->width(), h->sectionSize(row - 1));
        r.translate(h->geometry().topLeft());
        return r.intersects(h->geometry()) ? r : QRect();
    }
    const QRect r = visualRect(d->model->index(row - 1, col - 1));
    return r.intersects(viewport()->rect()) ? r : QRect();
}

bool StringGrid::isCellFullyVisible(int col, int row) const {
    if (col < 1 || row < 1) return !cellRect(col, row).isEmpty();
    const QRect r = visualRect(d->model->index(row - 1, col - 1));
    return !r.isEmpty() && viewport()->rect().contains(r);
}

int StringGrid::topRow() const {
    const int r = rowAt(0);
    return r < 0 ? 1 : r + 1;
}

int StringGrid::visibleRowCount() const {
    const int h = verticalHeader()->defaultSectionSize();
    if (h <= 0) return 0;
    const int top = topRow();
    const int fit = viewport()->height() / h;
    return std::max(0, std::min(fit, rowCount() - top));
}

void StringGrid::setEditable(bool on) {
    d->editable = on;
    d->model->setCellsEditable(on && !d->rowSelect);
    if (!on && d->editor) closeEditor(true);
}

void StringGrid::setColumnReadOnly(int col, bool readOnly) { d->model->setColumnReadOnly(col, readOnly); }

bool StringGrid::isEditing() const { return d->editor != nullptr; }

QLineEdit* StringGrid::editor() const { return d->editor.data(); }

void StringGrid::setEditorMaxLength(int length) {
    d->maxLength = std::max(0, length);
    if (d->editor) d->editor->setMaxLength(d->maxLength > 0 ? d->maxLength : 32767);
}

void StringGrid::openEditor() {
    if (d->editor) return;
    const QModelIndex i = currentIndex();
    if (!i.isValid()) return;
    edit(i, QAbstractItemView::AllEditTriggers, nullptr);
    if (d->editor) {
        d->editor->setFocus();
        d->editor->selectAll();
    }
}

void StringGrid::closeEditor(bool accept) {
    if (!d->editor) return;
    QLineEdit* e = d->editor;
    if (!accept) {
        const int col = d->editCol, row = d->editRow;
        const QString start = d->editStartText;
        if (cell(col, row) != start) {
            setCell(col, row, start);
            if (editTextChanged) editTextChanged(col, row, start);
        }
    }
    QAbstractItemView::closeEditor(e, QAbstractItemDelegate::NoHint);
    setFocus();
}

void StringGrid::setTabMovesBetweenCells(bool on) {
    d->tabMoves = on;
    setTabKeyNavigation(on);
}

void StringGrid::setRowSelect(bool on) {
    d->rowSelect = on;
    setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    d->model->setCellsEditable(d->editable && !on);
    if (on && d->editor) closeEditor(true);
    const QModelIndex i = currentIndex();
    if (i.isValid()) selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect |
                                                             (on ? QItemSelectionModel::Rows : QItemSelectionModel::NoUpdate));
}

bool StringGrid::rowSelect() const { return d->rowSelect; }

void StringGrid::beginUpdate() { d->model->beginBulkUpdate(); }

void StringGrid::endUpdate() { d->model->endBulkUpdate(); }

bool StringGrid::tabMove(bool forward) {
    const int cols = colCount();
    const int rows = rowCount();
    int c = col(), r = row();
    for (;;) {
        c += forward ? 1 : -1;
        if (c >= cols) {
            if (r + 1 >= rows) return false;
            ++r;
            c = 1;
        } else if (c < 1) {
            if (r - 1 < 1) return false;
            --r;
            c = cols - 1;
        }
        if (!isColHiddenInGrid(c)) break;
    }
    setCurrentCell(c, r);
    return true;
}

void StringGrid::leaveGrid(bool forward) {
    // The control after (or before) the grid in the tab order; the grid's own Tab handling, which
    // moves between cells, is passed by.
    QWidget::focusNextPrevChild(forward);
}

bool StringGrid::isTabKey(const QKeyEvent* event, bool* forward) {
    const int key = event->key();
    if (key != Qt::Key_Tab && key != Qt::Key_Backtab) return false;
    *forward = key == Qt::Key_Tab && !(event->modifiers() & Qt::ShiftModifier);
    return true;
}

void StringGrid::keyPressEvent(QKeyEvent* event) {
    if (keyDown) keyDown(event->key(), event->modifiers());
    QChar ch;
    if (isPrintable(event, &ch)) {
        if (keyPress) keyPress(ch);
        event->accept();
        if (ch.isNull()) return;
        const QModelIndex i = currentIndex();
        if (!i.isValid() || !(d->model->flags(i) & Qt::ItemIsEditable)) return;
        openEditor();
        if (d->editor) d->editor->insert(QString(ch));  // replaces the selected text, as typing over a cell does
        return;
    }
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            if (currentIndex().isValid() && (d->model->flags(currentIndex()) & Qt::ItemIsEditable)) openEditor();
            return;
        case Qt::Key_F2:
            if (event->modifiers() == Qt::NoModifier) {
                event->accept();
                openEditor();
                return;
            }
            break;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: {
            // Tab and Shift+Tab move between the cells; past the last (first) cell they move the focus
            // on to the next (previous) control. Ctrl+Tab and Ctrl+Shift+Tab leave the grid from any cell.
            bool forward = true;
            isTabKey(event, &forward);
            if (event->modifiers() & Qt::AltModifier) {
                event->ignore();
                return;
            }
            event->accept();
            if (event->modifiers() & Qt::ControlModifier) {
                leaveGrid(forward);
                return;
            }
            if (d->tabMoves && tabMove(forward)) return;
            // Handed back: the focus moves on as from any other control.
            event->ignore();
            return;
        }
        default:
            break;
    }
    QTableView::keyPressEvent(event);
}

bool StringGrid::editorKey(QKeyEvent* event) {
    if (!d->editor) return false;
    if (keyDown) keyDown(event->key(), event->modifiers());
    QLineEdit* e = d->editor;
    const auto mods = event->modifiers();
    switch (event->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab: {
            bool forward = true;
            isTabKey(event, &forward);
            if (mods & Qt::AltModifier) return false;
            if (!d->tabMoves && !(mods & Qt::ControlModifier)) return false;
            closeEditor(true);
            if ((mods & Qt::ControlModifier) || !tabMove(forward)) leaveGrid(forward);
            return true;
        }
        case Qt::Key_Return:
        case Qt::Key_Enter:
            closeEditor(true);
            return true;
        case Qt::Key_Escape:
            closeEditor(false);
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown: {
            closeEditor(true);
            QKeyEvent copy(QEvent::KeyPress, event->key(), mods);
            QTableView::keyPressEvent(&copy);
            return true;
        }
        case Qt::Key_Left:
        case Qt::Key_Right: {
            const bool left = event->key() == Qt::Key_Left;
            const bool atEdge = !e->hasSelectedText() && (left ? e->cursorPosition() == 0
                                                               : e->cursorPosition() == e->text().size());
            if (!atEdge || mods != Qt::NoModifier) return false;
            closeEditor(true);
            QKeyEvent copy(QEvent::KeyPress, event->key(), mods);
            QTableView::keyPressEvent(&copy);
            return true;
        }
        default:
            break;
    }
    QChar ch;
    if (!isPrintable(event, &ch)) return false;
    const QChar typed = ch;
    if (keyPress) keyPress(ch);
    if (ch.isNull()) return true;
    if (ch == typed) return false;  // the editor takes the key as typed
    if (d->editor) d->editor->insert(QString(ch));
    return true;
}

void StringGrid::editorTextChanged(const QString& text) {
    if (d->syncingEditor || d->editCol < 0) return;
    const int col = d->editCol, row = d->editRow;
    d->model->setCell(col, row, text);
    if (editTextChanged) editTextChanged(col, row, text);
}

QModelIndex StringGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const QModelIndex cur = currentIndex();
    QModelIndex next;
    if (cursorAction == MoveNext || cursorAction == MovePrevious) {
        // Tab order: along the row, then to the first cell of the next row; stops at the ends.
        const int cols = colCount(), rows = rowCount();
        int c = col(), r = row();
        for (;;) {
            c += cursorAction == MoveNext ? 1 : -1;
            if (c >= cols) {
                if (r + 1 >= rows) return cur;
                ++r;
                c = 1;
            } else if (c < 1) {
                if (r - 1 < 1) return cur;
                --r;
                c = cols - 1;
            }
            if (!isColHiddenInGrid(c)) break;
        }
        next = d->model->index(r - 1, c - 1);
    } else if (d->fixedCols > 0 && (cursorAction == MoveLeft || cursorAction == MoveRight)) {
        // Columns scrolled out of view are hidden, but the cursor moves into them (and they come back).
        const int step = cursorAction == MoveRight ? 1 : -1;
        int c = col() + step;
        while (c >= 1 && c < colCount() && isColHiddenInGrid(c)) c += step;
        if (c < 1 || c >= colCount()) return cur;
        next = d->model->index(row() - 1, c - 1);
    } else {
        next = QTableView::moveCursor(cursorAction, modifiers);
    }
    if (next.isValid() && next != cur && !canSelect(next.column() + 1, next.row() + 1)) return cur;
    return next;
}

void StringGrid::mousePressEvent(QMouseEvent* event) {
    const QModelIndex i = indexAt(event->position().toPoint());
    if (i.isValid() && i != currentIndex() && !canSelect(i.column() + 1, i.row() + 1)) {
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void StringGrid::mouseMoveEvent(QMouseEvent* event) {
    // No drag selection: the current cell moves on clicks and keys only.
    if (event->buttons() != Qt::NoButton) {
        event->accept();
        return;
    }
    QTableView::mouseMoveEvent(event);
}

void StringGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (d->rowSelect && current.isValid())
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (current.isValid() && current != previous) emit currentCellChanged(current.column() + 1, current.row() + 1);
}

void StringGrid::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, dy);
    if (topLeftChanged) topLeftChanged();
}

bool StringGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    if (d->rowSelect && trigger != QAbstractItemView::NoEditTriggers) {
        // Whole-row selection never edits, but the delegate still sees its events.
        return QTableView::edit(index, QAbstractItemView::NoEditTriggers, event);
    }
    return QTableView::edit(index, trigger, event);
}

bool StringGrid::eventFilter(QObject* watched, QEvent* event) { return QTableView::eventFilter(watched, event); }

}  // namespace tarvik
