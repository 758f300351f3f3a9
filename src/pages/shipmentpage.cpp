#include "pages/shipmentpage.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "pages/conversions.h"
#include "tableaccess/tableaccess.h"
#include "widgets/accessibility.h"
#include "widgets/combohelpers.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

struct ColumnSpec {
    const char* header;
    int width;
};

// Headings and widths in pixels of the 13 columns.
constexpr ColumnSpec kColumns[ShipmentPage::ColumnCount] = {
    {"", 40},           {"Service", 160},   {"TotPcs", 50},   {"TotWgt", 50},    {"From Post.", 70},
    {"Postal/Zip", 70}, {"Cnty Cd", 70},    {"Cmp Rate$", 70}, {"SC PkUp$", 70}, {"SC Fwd$", 70},
    {"SC Other$", 70},  {"Other Desc", 140}, {"Tot Cmp $", 70},
};

constexpr int kFromPostWidth = 70;
constexpr int kRowHeight = 20;

// Services that need a destination postal code whatever the country.
const char* const kWorldWideExpress[] = {"ww express pak", "ww express pkg", "ww express letter"};

// Case changes of codes and service names touch the letters A to Z only.
QString upperAZ(QString text) {
    for (QChar& ch : text)
        if (ch.unicode() >= 'a' && ch.unicode() <= 'z') ch = QChar(ch.unicode() - 32);
    return text;
}

QString lowerAZ(QString text) {
    for (QChar& ch : text)
        if (ch.unicode() >= 'A' && ch.unicode() <= 'Z') ch = QChar(ch.unicode() + 32);
    return text;
}

bool isPrintable(QChar ch) { return ch.unicode() >= 32 && ch.unicode() <= 126; }

// The country code of a picker item: its first 6 characters, trimmed.
QString countryCodeOf(const QString& item) { return item.left(6).trimmed(); }

}  // namespace

ShipmentPage::ShipmentPage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsShipmentData"));
    setWindowTitle(QStringLiteral("Shipment Data"));

    ShipmentGrid = new StringGrid(this);
    ShipmentGrid->setObjectName(QStringLiteral("ShipmentGrid"));
    ShipmentGrid->setAccessibleName(QStringLiteral("Sample shipments"));

    // The pickers float over the grid, laid over a cell by the cell's rectangle. They are children of
    // the page, not of the grid, so that screen readers find them (and their lists) among the page's
    // controls: a grid reports its cells only.
    cbxServices = new QComboBox(this);
    cbxServices->setObjectName(QStringLiteral("cbxServices"));
    cbxServices->setAccessibleName(QStringLiteral("Service"));
    cbxServices->setEditable(false);
    cbxServices->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
    cbxServices->addItem(QString());              // the blank item; the reference lookups refill it
    cbxServices->setCurrentIndex(-1);
    cbxServices->hide();

    cbxCountry = new QComboBox(this);
    cbxCountry->setObjectName(QStringLiteral("cbxCountry"));
    cbxCountry->setAccessibleName(QStringLiteral("Country"));
    installAccessibility();
    cbxCountry->setEditable(false);
    cbxCountry->setFocusPolicy(Qt::ClickFocus);
    cbxCountry->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    cbxCountry->hide();

    auto makeButton = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    btnSubmitBid = makeButton("btnSubmitBid", "&Submit Bid");
    btnSubmitBid->setToolTip(QStringLiteral("FTP this Bid to the Server"));
    btnImport = makeButton("btnImport", "&Import Data");
    btnImport->setToolTip(QStringLiteral("Reads in Comma Seperated Data from Export.txt"));
    btnCopyLine = makeButton("btnCopyLine", "&Copy Line");
    btnClearShipGrid = makeButton("btnClearShipGrid", "C&lear");
    btnFindRepl = makeButton("btnFindRepl", "Find/&Replace");

    // The tools under the grid, and the submission on a row of its own at the right, so that every
    // caption stays readable at the window's minimum width.
    auto* tools = new QHBoxLayout;
    tools->addWidget(btnImport);
    tools->addWidget(btnCopyLine);
    tools->addWidget(btnClearShipGrid);
    tools->addWidget(btnFindRepl);
    tools->addStretch(1);
    auto* submit = new QHBoxLayout;
    submit->addStretch(1);
    submit->addWidget(btnSubmitBid);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ShipmentGrid, 1);
    layout->addLayout(tools);
    layout->addLayout(submit);
    // Tab order as the page reads: the grid, the tools from left to right, then the submission.
    setTabOrder(ShipmentGrid, btnImport);
    setTabOrder(btnImport, btnCopyLine);
    setTabOrder(btnCopyLine, btnClearShipGrid);
    setTabOrder(btnClearShipGrid, btnFindRepl);
    setTabOrder(btnFindRepl, btnSubmitBid);

    ShipmentGrid->setEditable(true);
    ShipmentGrid->setTabMovesBetweenCells(true);
    ShipmentGrid->setDefaultRowHeight(kRowHeight);
    // The Service column is filled by its picker (or by import), never typed into.
    ShipmentGrid->setColumnReadOnly(ColService, true);
    ShipmentGrid->setColumnReadOnly(ColTotCmp, true);

    ShipmentGrid->canSelectCell = [this](int c, int r) { return ShipmentGridSelectCell(c, r); };
    ShipmentGrid->editTextRequested = [this](int c, int r) { ShipmentGridGetEditText(c, r); };
    ShipmentGrid->editTextChanged = [this](int c, int r, const QString& v) { ShipmentGridSetEditText(c, r, v); };
    ShipmentGrid->keyDown = [this](int key, Qt::KeyboardModifiers m) { ShipmentGridKeyDown(key, m); };
    ShipmentGrid->keyPress = [this](QChar& ch) { ShipmentGridKeyPress(ch); };
    ShipmentGrid->topLeftChanged = [this]() { ShipmentGridTopLeftChanged(); };
    // Control characters never reach the key hook of the grid; they are filtered here.
    ShipmentGrid->installEventFilter(this);

    connect(cbxServices, qOverload<int>(&QComboBox::activated), this, [this](int) { cbxServicesChange(); });
    connect(cbxCountry, qOverload<int>(&QComboBox::activated), this, [this](int) { cbxCountryChange(); });
    cbxServices->installEventFilter(this);
    cbxCountry->installEventFilter(this);

    setupGrid();
}

ShipmentPage::~ShipmentPage() = default;

void ShipmentPage::setCodeChecks(ShipmentCodeChecks checks) { checks_ = std::move(checks); }

bool ShipmentPage::checkPostal(const QString& code) {
    return checks_.checkPostalCode ? checks_.checkPostalCode(code) : true;
}

bool ShipmentPage::checkZip(const QString& code) {
    return checks_.checkZipCode ? checks_.checkZipCode(code) : true;
}

// ---- Grid operations ----

void ShipmentPage::setupGrid() {
    StringGrid* g = ShipmentGrid;
    g->setColCount(ColumnCount);
    g->setRowCount(InitialLines + 1);
    for (int c = 0; c < ColumnCount; ++c) {
        g->setCell(c, 0, QString::fromLatin1(kColumns[c].header));
        g->setColWidth(c, kColumns[c].width);
    }
    g->setColumnAlignment(ColTotCmp, Qt::AlignRight | Qt::AlignVCenter);
    // Pieces, weights, rates and totals are shown whole: a longer number widens its column.
    for (int c : {ColTotPcs, ColTotWgt, ColCmpRate, ColScPkUp, ColScFwd, ColScOther, ColTotCmp})
        g->setColumnWidensToText(c, true);
    showFromPostColumn(fromPostShown_);
    for (int r = 1; r <= InitialLines; ++r) {
        g->setCell(ColLabel, r, QStringLiteral("#%1").arg(r));
        for (int c = 1; c < ColumnCount; ++c) g->setCell(c, r, QString());
    }
    state_.FLastFromPostal.clear();
    emit linesChanged();
}

void ShipmentPage::clearGrid() {
    StringGrid* g = ShipmentGrid;
    g->setRowCount(InitialLines + 1);
    for (int r = 1; r <= InitialLines; ++r) {
        g->setCell(ColLabel, r, QStringLiteral("#%1").arg(r));
        for (int c = 1; c < ColumnCount; ++c) g->setCell(c, r, QString());
    }
    // Nothing of the bid that was here carries into the next one: the service and origin repeated into
    // new lines, and what the pickers show.
    FLastService.clear();
    state_.FLastFromPostal.clear();
    servicePickerShown_ = -1;
    for (QComboBox* picker : {cbxServices, cbxCountry}) {
        const QSignalBlocker quiet(picker);
        picker->setCurrentIndex(-1);
    }
    emit linesChanged();
}

bool ShipmentPage::lineIsEmpty(int line) const {
    for (int c = 1; c < ColumnCount; ++c)
        if (!ShipmentGrid->cell(c, line).isEmpty()) return false;
    return true;
}

bool ShipmentPage::gridIsEmpty() const {
    for (int r = 1; r < ShipmentGrid->rowCount(); ++r)
        if (!lineIsEmpty(r)) return false;
    return true;
}

int ShipmentPage::firstEmptyLine() const {
    for (int r = 1; r < ShipmentGrid->rowCount(); ++r)
        if (lineIsEmpty(r)) return r;
    return 1;
}

int ShipmentPage::lastLine() const { return ShipmentGrid->rowCount() - 1; }

int ShipmentPage::lastUsedLine() const {
    for (int r = lastLine(); r >= 1; --r)
        if (!lineIsEmpty(r)) return r;
    return 0;
}

void ShipmentPage::appendLine() {
    StringGrid* g = ShipmentGrid;
    const int line = g->rowCount();
    g->setRowCount(line + 1);
    g->setCell(ColLabel, line, QStringLiteral("#%1").arg(line));
    for (int c = 1; c < ColumnCount; ++c) g->setCell(c, line, QString());
    emit linesChanged();
}

void ShipmentPage::appendLines(int count) {
    if (count <= 0) return;
    StringGrid* g = ShipmentGrid;
    const int first = g->rowCount();
    g->beginUpdate();
    g->setRowCount(first + count);
    for (int line = first; line < first + count; ++line) {
        g->setCell(ColLabel, line, QStringLiteral("#%1").arg(line));
        for (int c = 1; c < ColumnCount; ++c) g->setCell(c, line, QString());
    }
    g->endUpdate();
    emit linesChanged();
}

void ShipmentPage::lineTotal(int line) {
    double sum = 0;
    for (int c = ColCmpRate; c <= ColScOther; ++c) sum += TextToDecimal(ShipmentGrid->cell(c, line));
    ShipmentGrid->setCell(ColTotCmp, line, sum != 0 ? FormatFixed(sum, 2, 8) : QString());
}

void ShipmentPage::serviceRules(int line) {
    StringGrid* g = ShipmentGrid;
    const QString service = g->cell(ColService, line);
    if (service.isEmpty()) return;
    const int t = ta::mOpen(state_.DataContext, state_.tablePath(QStringLiteral("Services")));
    if (t <= 0) return;
    if (ta::LocateByField(t, QStringLiteral("service"), false, service)) {
        const QString market = ta::fetch(t, QStringLiteral("market"));
        const QChar m = market.isEmpty() ? QChar() : market.at(0);
        if (m == QLatin1Char('D')) {
            g->setCell(ColCountry, line, QStringLiteral("CA"));
        } else if (m == QLatin1Char('S')) {
            g->setCell(ColCountry, line, QStringLiteral("US"));
        } else if (m == QLatin1Char('I')) {
            const QString country = g->cell(ColCountry, line);
            if (country == QLatin1String("CA") || country == QLatin1String("US"))
                g->setCell(ColCountry, line, QString());
        }
        if (ta::tfetch(t, QStringLiteral("letter"))) {
            g->setCell(ColTotWgt, line, QStringLiteral("1"));
        } else if (ta::fetch(t, QStringLiteral("service")).trimmed().endsWith(QLatin1String("PAK"))) {
            g->setCell(ColTotWgt, line, QStringLiteral("1"));
        } else if (g->cell(ColTotWgt, line) == QLatin1String("1")) {
            // A weight set by an earlier letter or PAK service is withdrawn.
            g->setCell(ColTotWgt, line, QString());
        }
    }
    ta::d4close(t);
}

QStringList ShipmentPage::serviceTexts() const {
    QStringList texts;
    const int rows = ShipmentGrid->rowCount();
    texts.reserve(rows > 0 ? rows - 1 : 0);
    for (int r = 1; r < rows; ++r) texts << ShipmentGrid->cell(ColService, r);
    return texts;
}

void ShipmentPage::syncPickers() {
    const int r = ShipmentGrid->row();
    SelectComboText(cbxServices, ShipmentGrid->cell(ColService, r));
    servicePickerShown_ = cbxServices->currentIndex();
    SelectComboPrefix(cbxCountry, ShipmentGrid->cell(ColCountry, r), 6);
}

void ShipmentPage::showLineAtTop(int line) {
    if (line < 1 || line >= ShipmentGrid->rowCount()) return;
    const int col = std::max(0, ShipmentGrid->col() - 1);
    ShipmentGrid->doItemsLayout();  // lines just added count in how far the grid scrolls
    ShipmentGrid->scrollTo(ShipmentGrid->model()->index(line - 1, col), QAbstractItemView::PositionAtTop);
}

void ShipmentPage::showFromPostColumn(bool shown) {
    fromPostShown_ = shown;
    if (shown) {
        ShipmentGrid->setColHiddenInGrid(ColFromPost, false);
        ShipmentGrid->setColWidth(ColFromPost, kFromPostWidth);
    } else {
        ShipmentGrid->setColHiddenInGrid(ColFromPost, true);
    }
    // The pickers follow their cells, which may have moved sideways.
    if (cbxServices->isVisible() || cbxCountry->isVisible()) ShipmentGridTopLeftChanged();
}

// ---- Page and grid events ----

void ShipmentPage::tbsShipmentDataShow() {
    ShipmentGrid->setCurrentCell(ColService, 1, true);
    ShipmentGrid->viewport()->update();
    cbxCountry->hide();
    placeServicePicker(1);
    FShipmentEditText.clear();
    FLastService.clear();
    FShipPrevCol = 0;
    FShipPrevRow = 0;
}

bool ShipmentPage::ShipmentGridSelectCell(int col, int row) {
    StringGrid* g = ShipmentGrid;
    if (col > 0 && col < g->colCount() && g->isColHiddenInGrid(col)) {
        const int key = FLastGridKey.key;
        const bool backward = key == Qt::Key_Left || key == Qt::Key_Backtab ||
                              (key == Qt::Key_Tab && (FLastGridKey.modifiers & Qt::ShiftModifier));
        const int target = backward ? col - 1 : col + 1;
        // The move is made once the refused one has been dealt with by the grid.
        QMetaObject::invokeMethod(
            this, [this, target, row]() { ShipmentGrid->setCurrentCell(target, row); }, Qt::QueuedConnection);
        return false;
    }

    if (FShipPrevRow >= 1 && FShipPrevRow < g->rowCount()) {
        if (g->isEditing()) g->closeEditor(true);
        leaveCell(FShipPrevCol, FShipPrevRow);
    }

    if (col == ColService)
        placeServicePicker(row);
    else
        cbxServices->hide();
    if (col == ColCountry)
        placeCountryPicker(row);
    else
        cbxCountry->hide();

    FShipPrevCol = col;
    FShipPrevRow = row;
    return true;
}

void ShipmentPage::leaveCell(int col, int line) {
    StringGrid* g = ShipmentGrid;
    switch (col) {
    case ColFromPost: {
        const QString keyed = g->cell(col, line);
        const QString code = upperAZ(keyed).trimmed();
        g->setCell(col, line, code);
        const bool known = code.isEmpty() || checkPostal(code);
        if (!known) g->setCell(col, line, QString());
        // The origin repeated into new lines is the code as checked, never one the check refused.
        if (state_.FLastFromPostal == keyed) state_.FLastFromPostal = known ? code : QString();
        break;
    }
    case ColPostal: {
        const QString code = upperAZ(g->cell(col, line));
        g->setCell(col, line, code);
        const QString country = g->cell(ColCountry, line);
        bool ok = true;
        // A code is checked when one was typed; lines still without one are listed by the checks of
        // the submission.
        const bool typed = !code.trimmed().isEmpty();
        if (country == QLatin1String("CA")) {
            ok = !typed || checkPostal(code);
        } else if (country == QLatin1String("US")) {
            ok = !typed || checkZip(code);
        } else {
            const QString service = lowerAZ(g->cell(ColService, line));
            for (const char* ww : kWorldWideExpress) {
                if (service.contains(QLatin1String(ww)) && code.isEmpty()) {
                    messageDlg(QStringLiteral("MUST enter a Postal Code for this Service!"), DialogKind::Error, Ok);
                    ok = false;
                    break;
                }
            }
        }
        if (!ok) g->setCell(col, line, QString());
        break;
    }
    case ColCountry: {
        cbxCountry->hide();
        const QString code = upperAZ(g->cell(col, line));
        g->setCell(col, line, code);
        SelectComboPrefix(cbxCountry, code, 6);
        if (cbxCountry->currentIndex() < 0) g->setCell(col, line, QString());
        break;
    }
    default:
        break;
    }
}

void ShipmentPage::ShipmentGridGetEditText(int col, int row) {
    FShipmentEditText = ShipmentGrid->cell(col, row);
    // A country code has at most 6 characters.
    ShipmentGrid->setEditorMaxLength(col == ColCountry ? 6 : 0);
}

void ShipmentPage::ShipmentGridSetEditText(int col, int row, const QString& value) {
    if (value != FShipmentEditText && row == ShipmentGrid->rowCount() - 1) appendLine();
    lineTotal(row);
    if (col == ColFromPost) state_.FLastFromPostal = value;
    emit linesChanged();
}

void ShipmentPage::ShipmentGridKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    FLastGridKey.key = key;
    FLastGridKey.modifiers = modifiers;
}

void ShipmentPage::ShipmentGridKeyPress(QChar& ch) {
    const int col = ShipmentGrid->col();
    const bool printable = isPrintable(ch);
    if (col == ColService) {
        if (printable) {
            // A typed character opens the service list; the service is chosen there.
            if (!cbxServices->isVisible()) placeServicePicker(ShipmentGrid->row());
            if (cbxServices->isVisible()) {
                cbxServices->setFocus(Qt::OtherFocusReason);
                cbxServices->showPopup();
            }
        }
        ch = QChar();
    } else if (col == ColCountry) {
        if (printable)
            cbxCountry->hide();  // the code is typed into the cell
        else if (cbxCountry->isVisible())
            ch = QChar();
    } else if (col >= ColCmpRate && col <= ColScOther) {
        if (!printable) return;
        if (ch.unicode() >= '0' && ch.unicode() <= '9') return;
        if (ch == QLatin1Char('.') && !ShipmentGrid->cell(col, ShipmentGrid->row()).contains(QLatin1Char('.')))
            return;
        ch = QChar();
    }
}

void ShipmentPage::ShipmentGridTopLeftChanged() {
    const int col = ShipmentGrid->col();
    if (col == ColService) placeServicePicker(ShipmentGrid->row());
    if (col == ColCountry) placeCountryPicker(ShipmentGrid->row());
}

bool ShipmentPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ShipmentGrid && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        // The pickers sit on the page: they follow their cells when the layout moves the grid.
        if (cbxServices->isVisible() || cbxCountry->isVisible()) ShipmentGridTopLeftChanged();
    }
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == ShipmentGrid && !ShipmentGrid->isEditing()) {
            // Control characters (Enter, Backspace, Escape, Ctrl+letter; not Tab) go through the key
            // filter like printable ones: they are discarded on the Service column, and on the Cnty Cd
            // column while its picker is shown.
            const QString text = key->text();
            if (text.size() == 1 && !isPrintable(text[0]) && text[0] != QLatin1Char('\t')) {
                ShipmentGridKeyDown(key->key(), key->modifiers());
                QChar ch = text[0];
                ShipmentGridKeyPress(ch);
                if (ch.isNull()) return true;
            }
        } else if (watched == cbxServices || watched == cbxCountry) {
            const int k = key->key();
            if (k == Qt::Key_Escape || k == Qt::Key_Return || k == Qt::Key_Enter) {
                if (watched == cbxServices)
                    cbxServicesKeyPress(k);
                else
                    cbxCountryKeyPress(k);
                return true;
            }
        }
    } else if (event->type() == QEvent::FocusOut && (watched == cbxServices || watched == cbxCountry)) {
        auto* focus = static_cast<QFocusEvent*>(event);
        if (focus->reason() != Qt::PopupFocusReason) {
            if (watched == cbxServices)
                cbxServicesExit();
            else
                cbxCountryExit();
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Pickers ----

QRect ShipmentPage::cellRectInGrid(int col, int line) const {
    const QRect r = ShipmentGrid->cellRect(col, line);
    if (r.isEmpty()) return r;
    // In the page's coordinates, where the pickers live.
    return r.translated(ShipmentGrid->viewport()->mapTo(this, QPoint(0, 0)));
}

bool ShipmentPage::pickerCellVisible(int col, int line) const {
    if (line < 1 || line >= ShipmentGrid->rowCount()) return false;
    if (ShipmentGrid->cellRect(col, line).isEmpty()) return false;
    return ShipmentGrid->isCellFullyVisible(col, line);
}

void ShipmentPage::placeServicePicker(int line) {
    StringGrid* g = ShipmentGrid;
    if (!pickerCellVisible(ColService, line)) {
        cbxServices->hide();
        return;
    }
    const QRect r = cellRectInGrid(ColService, line);
    cbxServices->setGeometry(r.left(), r.top(), r.width(), r.height() - 1);
    cbxServices->view()->setMinimumWidth(g->fontMetrics().horizontalAdvance(QString(18, QLatin1Char('N'))));

    if (g->cell(ColService, line).isEmpty()) {
        // A new line repeats the previous line's service and origin.
        g->setCell(ColService, line, FLastService);
        serviceRules(line);
        if (!FLastService.isEmpty() && g->cell(ColFromPost, line).isEmpty())
            g->setCell(ColFromPost, line, state_.FLastFromPostal);
        if (!FLastService.isEmpty()) emit linesChanged();
    }
    SelectComboText(cbxServices, g->cell(ColService, line));
    servicePickerShown_ = cbxServices->currentIndex();
    cbxServices->show();
    cbxServices->raise();
}

void ShipmentPage::placeCountryPicker(int line) {
    StringGrid* g = ShipmentGrid;
    if (!pickerCellVisible(ColCountry, line)) {
        cbxCountry->hide();
        return;
    }
    const QRect r = cellRectInGrid(ColCountry, line);
    cbxCountry->setGeometry(r.left(), r.top(), r.width() + 2, r.height() - 1);
    cbxCountry->view()->setMinimumWidth(
        QFontMetrics(cbxCountry->font()).horizontalAdvance(QString(30, QLatin1Char('N'))));
    const QString code = g->cell(ColCountry, line).trimmed();
    SelectComboPrefix(cbxCountry, code, 6);
    // A typed code that matches no item stays visible in the cell.
    if (!code.isEmpty() && cbxCountry->currentIndex() < 0) {
        cbxCountry->hide();
        return;
    }
    cbxCountry->show();
    cbxCountry->raise();
}

void ShipmentPage::returnFocusToGrid() {
    // Focus that has already moved to another control (a button, another page) is left there.
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr || focus == cbxServices || focus == cbxCountry) ShipmentGrid->setFocus(Qt::OtherFocusReason);
}

void ShipmentPage::cbxServicesChange() {
    if (cbxServices->view()->isVisible()) return;  // still choosing in the dropped list
    FLastService = cbxServices->currentIndex() >= 0 ? cbxServices->currentText() : QString();
    if (FLastService.isEmpty()) {
        const int r = ShipmentGrid->row();
        for (int c = ColTotPcs; c < ColumnCount; ++c) ShipmentGrid->setCell(c, r, QString());
        emit linesChanged();
    }
    returnFocusToGrid();
}

void ShipmentPage::cbxServicesKeyPress(int key) {
    if (key == Qt::Key_Escape) SelectComboText(cbxServices, ShipmentGrid->cell(ColService, ShipmentGrid->row()));
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) returnFocusToGrid();
}

void ShipmentPage::cbxServicesExit() {
    const int r = ShipmentGrid->row();
    if (r < 1) return;
    if (cbxServices->currentIndex() == servicePickerShown_) {
        // Nothing was chosen since the picker was put on this line: what it shows may be older than the
        // cell (the window cleared, lines imported or replaced), so nothing is written back.
        FLastService = ShipmentGrid->cell(ColService, r);
        returnFocusToGrid();
        return;
    }
    const int index = cbxServices->currentIndex();
    servicePickerShown_ = index;  // the cell now holds what the picker shows
    if (index < 0) {
        ShipmentGrid->setCell(ColService, r, QString());
        FLastService.clear();
    } else {
        FLastService = cbxServices->itemText(index);
        ShipmentGrid->setCell(ColService, r, FLastService);
        serviceRules(r);
    }
    emit linesChanged();
    returnFocusToGrid();
}

void ShipmentPage::cbxCountryChange() {
    if (cbxCountry->view()->isVisible()) return;
    returnFocusToGrid();
}

void ShipmentPage::cbxCountryKeyPress(int key) {
    if (key == Qt::Key_Escape)
        SelectComboPrefix(cbxCountry, ShipmentGrid->cell(ColCountry, ShipmentGrid->row()).trimmed(), 6);
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) returnFocusToGrid();
}

void ShipmentPage::cbxCountryExit() {
    const int r = ShipmentGrid->row();
    if (r < 1) return;
    const int index = cbxCountry->currentIndex();
    ShipmentGrid->setCell(ColCountry, r, index < 0 ? QString() : countryCodeOf(cbxCountry->itemText(index)));
    emit linesChanged();
    returnFocusToGrid();
}

}  // namespace tarvik
