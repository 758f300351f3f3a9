#include "tableedit/dbeditform.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QTextStream>
#include <algorithm>
#include <utility>

#include "widgets/seams.h"
#include "widgets/stringgrid.h"
#include "widgets/stringgridmodel.h"

namespace tarvik {

namespace {

constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonGap = 5;
constexpr int kTypeAheadMs = 1000;
constexpr int kSortYieldEvery = 70;

// Value of key in section of an INI file; section and key match without regard to case.
QString readIniValue(const QString& file, const QString& section, const QString& key,
                     const QString& fallback) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return fallback;
    QTextStream in(&f);
    bool inSection = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection = line.mid(1, line.size() - 2).trimmed().compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection) continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0) return line.mid(eq + 1).trimmed();
    }
    return fallback;
}

// A file in folder whose name equals name without regard to case, or folder/name.
QString findFileNoCase(const QString& folder, const QString& name) {
    QDir dir(folder);
    const QStringList entries = dir.entryList(QDir::Files);
    for (const QString& e : entries)
        if (e.compare(name, Qt::CaseInsensitive) == 0) return dir.filePath(e);
    return dir.filePath(name);
}

bool toRecordNumber(const QString& text, int* value) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (ok) *value = v;
    return ok;
}

}  // namespace

QString HeadingFromFieldName(const QString& fieldName) {
    const QString name = fieldName.trimmed();
    QString out;
    out.reserve(name.size());
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c == QLatin1Char('_'))
            out += QLatin1Char(' ');
        else if (i == 0 || name[i - 1] == QLatin1Char('_'))
            out += c;
        else
            out += c.toLower();
    }
    if (out.toLower() == QLatin1String("racf id")) return QStringLiteral("EMail ID");
    return out;
}

int CompareGridText(const QString& a, const QString& b) {
    const qsizetype na = a.size(), nb = b.size();
    const qsizetype n = std::min(na, nb);
    const QChar* pa = a.constData();
    const QChar* pb = b.constData();
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = pa[i].unicode();
        char16_t y = pb[i].unicode();
        if (x >= u'a' && x <= u'z') x -= u'a' - u'A';
        if (y >= u'a' && y <= u'z') y -= u'a' - u'A';
        if (x != y) return x < y ? -1 : 1;
    }
    if (na == nb) return 0;
    return na < nb ? -1 : 1;
}

TDBeditForm::TDBeditForm(QWidget* owner, const QString& programFolder, const QString& dataFolder,
                         ta::DataContext ctx)
    : QDialog(owner),
      FProgramFolder(programFolder),
      FDataFolder(dataFolder),
      FContext(ctx ? ctx : ta::currentContext()) {
    setObjectName(QStringLiteral("DBeditForm"));
    setWindowTitle(QStringLiteral("File Browser"));
    setModal(true);

    DBEditMenu = new QMenuBar(this);
    DBEditMenu->setObjectName(QStringLiteral("DBEditMenu"));
    File1 = DBEditMenu->addMenu(QStringLiteral("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    Exit1 = File1->addAction(QStringLiteral("&Open"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    Exit2 = File1->addAction(QStringLiteral("E&xit"));
    Exit2->setObjectName(QStringLiteral("Exit2"));

    dbfGrid = new StringGrid(this);
    dbfGrid->setObjectName(QStringLiteral("dbfGrid"));
    dbfGrid->setDefaultRowHeight(18);
    dbfGrid->setEditable(true);
    dbfGrid->setTabMovesBetweenCells(true);
    dbfGrid->setShowGrid(true);
    // The deletion mark and the first field stay in view while the other columns scroll under them.
    dbfGrid->setFixedColumns(2);

    auto makeButton = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        b->setDefault(false);
        return b;
    };
    btnOpen = makeButton("btnOpen", QStringLiteral("&Open"));
    btnExit = makeButton("btnExit", QStringLiteral("E&xit"));
    btnDelete = makeButton("btnDelete", QStringLiteral("F7 - &Delete"));
    btnInsert = makeButton("btnInsert", QStringLiteral("F9 - &Insert"));
    btnInsert->hide();
    btnInsert->setEnabled(false);

    connect(btnOpen, &QPushButton::clicked, this, [this] { btnOpenClick(); });
    connect(Exit1, &QAction::triggered, this, [this] { btnOpenClick(); });
    connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
    connect(Exit2, &QAction::triggered, this, [this] { btnExitClick(); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(); });
    auto* f7 = new QShortcut(QKeySequence(Qt::Key_F7), this);
    connect(f7, &QShortcut::activated, this, [this] {
        if (!btnDelete->isHidden()) btnDeleteClick();
    });
    auto* shiftF3 = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    connect(shiftF3, &QShortcut::activated, this, [this] {
        if (!btnOpen->isHidden()) btnOpenClick();
    });

    dbfGrid->canSelectCell = [this](int c, int r) { return dbfGridSelectCell(c, r); };
    // In the picker Enter chooses the highlighted row, as a double click does.
    dbfGrid->keyDown = [this](int key, Qt::KeyboardModifiers) {
        if (FPickerMode && FTableLoaded && (key == Qt::Key_Return || key == Qt::Key_Enter))
            SelectCurrentRow();
    };
    dbfGrid->keyPress = [this](QChar& ch) { dbfGridKeyPress(ch); };
    dbfGrid->editTextRequested = [this](int c, int r) { dbfGridGetEditText(c, r); };
    dbfGrid->editTextChanged = [this](int c, int r, const QString& t) { dbfGridSetEditText(c, r, t); };
    connect(dbfGrid, &QAbstractItemView::doubleClicked, this, [this] { dbfGridDblClick(); });

    resize(640, 480);
    FormCreate();
}

TDBeditForm::~TDBeditForm() {
    // A window freed without closing still leaves its table closed (never written unasked).
    CloseTable();
}

void TDBeditForm::FormCreate() {
    ReadLanguage();
    btnOpen->hide();
    Exit1->setVisible(false);
    FTableLoaded = false;
    FPickerMode = false;
    FShown = false;
    FTableName.clear();
    FStartRecord = 0;
    FSelectedRecord = 0;
    FLookupColumn = -1;
}

void TDBeditForm::ReadLanguage() {
    const QString ini = findFileNoCase(FProgramFolder, QStringLiteral("KORVALEX.INI"));
    const QString language = readIniValue(ini, QStringLiteral("System settings"), QStringLiteral("LANGUAGE"),
                                          QStringLiteral("US"));
    if (language.toUpper() == QLatin1String("FR")) {
        btnOpen->setText(QStringLiteral("&Ouvrir"));
        File1->setTitle(QStringLiteral("&Fichier"));
        Exit1->setText(QStringLiteral("&Ouvrir"));
        Exit2->setText(QStringLiteral("&Quitter"));
    }
}

void TDBeditForm::SetPickerMode(bool on) {
    FPickerMode = on;
    if (!on) return;
    btnOpen->setText(QStringLiteral("&Select"));
    Exit1->setText(QStringLiteral("&Select"));
    btnExit->setText(QStringLiteral("&Cancel"));
    Exit2->setText(QStringLiteral("&Cancel"));
    btnOpen->show();
    btnExit->show();
    Exit1->setVisible(true);
    btnDelete->hide();
    btnInsert->hide();
}

void TDBeditForm::SetTableName(const QString& name) {
    FTableName = name;
}

void TDBeditForm::SetStartRecord(int recNo) {
    FStartRecord = recNo;
}

void TDBeditForm::SetDataFolder(const QString& folder) {
    FDataFolder = folder;
}

void TDBeditForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!FShown) {
        FShown = true;
        FormShow();
    }
    // The buttons shown, from the left; a hidden "&Open" leaves no gap.
    LayoutButtons();
}

void TDBeditForm::LayoutButtons() {
    const int menuHeight = DBEditMenu->sizeHint().height();
    const int y = std::max(0, height() - 86 + menuHeight);
    int x = 10;
    for (QPushButton* b : {btnOpen, btnExit, btnDelete, btnInsert}) {
        // At least the designed width, and as wide as the caption needs in the style in use, so that
        // neighbours never overlap.
        const QSize hint = b->sizeHint();
        const int w = std::max(kButtonWidth, hint.width());
        b->setGeometry(x, y, w, std::max(kButtonHeight, hint.height()));
        if (!b->isHidden()) x += w + kButtonGap;
    }
}

void TDBeditForm::FormShow() {
    if (!FTableName.isEmpty()) {
        LoadTable(FDataFolder + QLatin1Char('/') + FTableName);
    } else {
        btnOpenClick();
    }
    if (FStartRecord != 0 && FTableLoaded) {
        for (int r = 1; r < dbfGrid->rowCount(); ++r) {
            int n = 0;
            if (toRecordNumber(dbfGrid->cell(0, r), &n) && n == FStartRecord) {
                dbfGrid->setCurrentCell(dbfGrid->col(), r);
                dbfGrid->scrollTo(dbfGrid->currentIndex(), QAbstractItemView::PositionAtCenter);
                break;
            }
        }
    }
}

void TDBeditForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int menuHeight = DBEditMenu->sizeHint().height();
    DBEditMenu->setGeometry(0, 0, width(), menuHeight);
    // The grid, and under it the bar that scrolls the columns after the fixed ones.
    QScrollBar* bar = dbfGrid->columnScrollBar();
    const int barHeight = bar ? bar->sizeHint().height() : 0;
    const int gridHeight = std::max(0, height() - 100 - barHeight);
    dbfGrid->setGeometry(10, menuHeight + 4, std::max(0, width() - 20), gridHeight);
    if (bar) bar->setGeometry(10, menuHeight + 4 + gridHeight, std::max(0, width() - 20), barHeight);
    LayoutButtons();
}

void TDBeditForm::CloseTable() {
    if (FTable > 0) ta::d4close(FTable);
    FTable = 0;
    FFieldInfo.clear();
    FLoadedTexts.clear();
    FTableLoaded = false;
}

int TDBeditForm::lastRecordRow() const {
    // In edit mode one entry row follows the records (a table without records has none).
    const int rows = dbfGrid->rowCount();
    if (!FPickerMode && rows > 2) {
        int dummy = 0;
        if (!toRecordNumber(dbfGrid->cell(0, rows - 1), &dummy)) return rows - 2;
    }
    return rows - 1;
}

void TDBeditForm::LoadTable(const QString& path) {
    if (FTableLoaded || FTable > 0) CloseTable();
    FTablePath = path;
    dbfGrid->setAccessibleName(QStringLiteral("Records of %1").arg(QFileInfo(path).completeBaseName()));
    FTable = ta::mOpen(FContext, path);
    FLookupValues.clear();
    if (FLookupColumn >= 0) dbfGrid->setColumnReadOnly(FLookupColumn, false);
    FLookupColumn = -1;
    FLookupTyped.clear();
    if (FTable <= 0) {
        // The engine has reported why; the window stays empty rather than showing a stale table.
        FTable = 0;
        dbfGrid->setColCount(2);
        dbfGrid->setRowCount(2);
        dbfGrid->setCell(1, 0, QStringLiteral("D*"));
        dbfGrid->setCell(1, 1, QString());
        dbfGrid->setCell(0, 1, QString());
        return;
    }

    const int records = ta::d4recCountDo(FTable);
    const int fields = ta::d4numFields(FTable);
    FFieldInfo = ta::d4fieldInfo(FTable);
    FMaxLength = FFieldInfo.empty() ? 0 : FFieldInfo[0].length;

    dbfGrid->beginUpdate();
    dbfGrid->setRowCount(1);  // drop old rows and their texts
    dbfGrid->setColCount(fields + 2);
    dbfGrid->setRowCount(records > 0 ? records + 1 : 2);
    dbfGrid->setColHiddenInGrid(0, true);
    dbfGrid->setColumnReadOnly(1, true);
    for (int c = 2; c < fields + 2; ++c) dbfGrid->setColumnReadOnly(c, false);

    std::vector<int> widths(fields + 2, 0);
    widths[0] = -1;
    widths[1] = 2;
    dbfGrid->setCell(1, 0, QStringLiteral("D*"));
    const QString folder = QFileInfo(ta::resolvePath(path)).absolutePath();
    for (int j = 0; j < fields; ++j) {
        const int c = j + 2;
        const QString heading = HeadingFromFieldName(FFieldInfo[j].name);
        dbfGrid->setCell(c, 0, heading);
        if (heading.toLower() == QLatin1String("district")) LoadLookupList(c, heading, folder);
        widths[c] = heading.size();
    }

    FLoadedTexts.assign(records + 1, QStringList());
    int r = 1;
    if (records > 0 && ta::d4top(FTable) == 0) {
        do {
            if (r >= dbfGrid->rowCount()) dbfGrid->setRowCount(r + 1);
            const int recNo = ta::d4recNo(FTable);
            QStringList row;
            row.reserve(fields + 2);
            row << QString::number(recNo) << (ta::d4deleted(FTable) ? QStringLiteral("*") : QString());
            for (int j = 1; j <= fields; ++j) {
                const ta::Field4 f = ta::d4fieldJ(FTable, j);
                const QString text =
                    FFieldInfo[j - 1].type == 'M' ? ta::f4memoStr(f) : ta::f4str(f).trimmed();
                row << text;
                widths[j + 1] = std::max(widths[j + 1], static_cast<int>(text.size()));
            }
            dbfGrid->gridModel()->setRowCells(r, row);
            if (recNo >= 0 && recNo < static_cast<int>(FLoadedTexts.size())) FLoadedTexts[recNo] = row.mid(2);
            ++r;
        } while (ta::d4skip(FTable, 1) == 0);
    }
    if (records > 0 && r < dbfGrid->rowCount()) dbfGrid->setRowCount(std::max(2, r));
    if (!FPickerMode && records > 0) AddEntryRow();
    dbfGrid->endUpdate();

    ApplyColumnWidths(widths);
    SortGridRows(1, lastRecordRow(), 2);

    FTableLoaded = true;
    FModified = false;
    dbfGrid->setRowSelect(FPickerMode);
    dbfGrid->setCurrentCell(2, 1);
    dbfGridSelectCell(dbfGrid->col(), dbfGrid->row());
    dbfGrid->viewport()->update();
    dbfGrid->setFocus();
}

void TDBeditForm::LoadLookupList(int column, const QString& heading, const QString& folder) {
    const int t = ta::mOpen(FContext, folder + QLatin1Char('/') + heading);
    if (t > 0) {
        if (ta::d4top(t) == 0) {
            do {
                FLookupValues << ta::fetch(t, QStringLiteral("value"));
            } while (ta::d4skip(t, 1) == 0);
        }
        ta::d4close(t);
    }
    FLookupColumn = column;
    // Its values are chosen by typing their letters, never by free text in an editor.
    dbfGrid->setColumnReadOnly(column, true);
}

void TDBeditForm::ApplyColumnWidths(const std::vector<int>& widthsInChars) {
    const QFontMetrics fm(font());
    const int line = dbfGrid->showGrid() ? 1 : 0;
    int total = 2;
    for (int c = 0; c < static_cast<int>(widthsInChars.size()); ++c) {
        const int w = widthsInChars[c];
        if (w > 0 && c > 0) {
            const int px = fm.horizontalAdvance(QString(w + 2, QLatin1Char('X')));
            dbfGrid->setColWidth(c, px);
            total += px + line;
        }
    }
    total = std::max(total, 300);
    if (total < dbfGrid->width()) resize(total + 60, height());
}

void TDBeditForm::AddEntryRow() {
    const int rows = dbfGrid->rowCount();
    dbfGrid->setRowCount(rows + 1);
    for (int c = 0; c < dbfGrid->colCount(); ++c) dbfGrid->setCell(c, rows, QString());
}

void TDBeditForm::SortGridRows(int first, int last, int column) {
    if (dbfGrid->rowCount() <= 2) return;
    StringGridModel* m = dbfGrid->gridModel();
    first = std::max(first, 1);
    last = std::min(last, dbfGrid->rowCount() - 1);
    if (column < 0 || column >= dbfGrid->colCount() || first >= last) return;
    std::vector<std::pair<int, int>> stack;
    stack.emplace_back(first, last);
    long exchanges = 0;
    m->beginBulkUpdate();
    while (!stack.empty()) {
        auto [low, high] = stack.back();
        stack.pop_back();
        while (low < high) {
            int i = low, j = high;
            int p = (low + high) / 2;
            do {
                while (CompareGridText(m->cellRef(column, i), m->cellRef(column, p)) < 0) ++i;
                while (CompareGridText(m->cellRef(column, p), m->cellRef(column, j)) < 0) --j;
                if (i <= j) {
                    m->swapRows(i, j);
                    if (p == i)
                        p = j;
                    else if (p == j)
                        p = i;
                    ++i;
                    --j;
                    if (++exchanges % kSortYieldEvery == 0) QApplication::processEvents();
                }
            } while (i <= j);
            if (j - low < high - i) {
                if (i < high) stack.emplace_back(i, high);
                high = j;
            } else {
                if (j > low) stack.emplace_back(low, j);
                low = i;
            }
        }
    }
    m->endBulkUpdate();
}

bool TDBeditForm::dbfGridSelectCell(int col, int /*row*/) {
    FLookupTyped.clear();  // a search by typing belongs to one cell
    if (!FTableLoaded) return true;
    if (col < 2) return false;  // the record number and the deletion mark are fixed columns
    const int field = col - 2;
    if (field >= static_cast<int>(FFieldInfo.size())) return true;
    const ta::FieldInfo& f = FFieldInfo[field];
    FLogicalColumn = f.type == 'L';
    FNumericColumn = f.type == 'N';
    // A memo's stored length is its block pointer, not a limit on its text.
    FMaxLength = f.type == 'M' ? 0 : f.length;
    return true;
}

void TDBeditForm::TypeAhead(QChar key) {
    // Keys typed within a second of each other add up to one text; the first row (in the grid's order)
    // whose first field starts with it, letter case aside, becomes current. A text that no row starts
    // with starts over from the key just typed.
    const QDateTime now = Clock::current().now();
    if (!FTypeAheadAt.isValid() || now < FTypeAheadAt || FTypeAheadAt.msecsTo(now) > kTypeAheadMs)
        FTypeAhead.clear();
    FTypeAheadAt = now;
    auto find = [this](const QString& text) {
        for (int r = 1; r <= lastRecordRow(); ++r)
            if (CompareGridText(dbfGrid->cell(2, r).left(text.size()), text) == 0) return r;
        return -1;
    };
    FTypeAhead += key;
    int row = find(FTypeAhead);
    if (row < 0 && FTypeAhead.size() > 1) {
        FTypeAhead = QString(key);
        row = find(FTypeAhead);
    }
    if (row > 0) dbfGrid->setCurrentCell(dbfGrid->col(), row);
}

void TDBeditForm::dbfGridKeyPress(QChar& key) {
    if (FPickerMode) {
        // Nothing is typed into the picker's cells; a typed text finds its row.
        if (FTableLoaded && key.unicode() >= 32) TypeAhead(key);
        key = QChar();
        return;
    }
    const ushort code = key.unicode();
    if (code < 32 || code > 126) return;
    const int col = dbfGrid->col();
    const int row = dbfGrid->row();
    if (FLookupColumn >= 0 && col == FLookupColumn) {
        // Type-ahead, the way list views search: the letters typed so far (a pause, or another cell,
        // starts afresh) select the first value that begins with them. Only values that exist can be
        // chosen; letters that begin none change nothing.
        key = QChar(code);
        const bool fresh = FLookupTyped.isEmpty() || !FLookupTypedAt.isValid() ||
                           FLookupTypedAt.elapsed() >= QApplication::keyboardInputInterval();
        const QString typed = (fresh ? QString() : FLookupTyped) + key;
        FLookupTypedAt.start();
        key = QChar();
        QString value;
        for (const QString& v : FLookupValues) {
            if (v.startsWith(typed, Qt::CaseInsensitive)) {
                value = v;
                break;
            }
        }
        if (value.isEmpty()) {
            QApplication::beep();
            return;
        }
        FLookupTyped = typed;
        if (dbfGrid->cell(col, row) != value) {
            dbfGrid->setCell(col, row, value);
            FModified = true;
            if (row == dbfGrid->rowCount() - 1) AddEntryRow();
        }
        return;
    }
    if (FNumericColumn) {
        if (!(key.isDigit() && code <= '9') && key != QLatin1Char('.') && key != QLatin1Char('-')) {
            key = QChar();
            return;
        }
    } else if (FLogicalColumn) {
        key = key.toUpper();
        if (key != QLatin1Char('T') && key != QLatin1Char('F') && key != QLatin1Char('Y') &&
            key != QLatin1Char('N')) {
            key = QChar();
            return;
        }
    }
    if (FMaxLength > 0 && dbfGrid->cell(col, row).size() >= FMaxLength) key = QChar();
}

void TDBeditForm::dbfGridGetEditText(int col, int row) {
    FEditStartText = dbfGrid->cell(col, row);
}

void TDBeditForm::dbfGridSetEditText(int col, int row, const QString& text) {
    if (FPickerMode) return;
    if (FLookupColumn >= 0 && col == FLookupColumn && !FLookupValues.contains(text))
        dbfGrid->setCell(col, row, QString());
    if (text != FEditStartText) {
        FModified = true;
        if (row == dbfGrid->rowCount() - 1) AddEntryRow();
    }
}

void TDBeditForm::dbfGridDblClick() {
    if (FPickerMode) SelectCurrentRow();
}

void TDBeditForm::SelectCurrentRow() {
    const int row = dbfGrid->row();
    int n = 0;
    // A row without a record (the empty row of an empty table) chooses nothing.
    FSelectedRecord = toRecordNumber(dbfGrid->cell(0, row), &n) ? n : 0;
    done(QDialog::Accepted);
}

void TDBeditForm::btnOpenClick() {
    if (FPickerMode) {
        SelectCurrentRow();
        return;
    }
    const bool hadTable = FTableLoaded;
    if (hadTable) WriteChanges();
    FileRequest request;
    request.caption = QStringLiteral("Open");
    request.folder = FDataFolder;
    request.filter = QStringLiteral("Dbf Files (*.dbf)");
    request.defaultSuffix = QStringLiteral("dbf");
    QString chosen = FileChooser::current().openFile(this, request);
    if (!chosen.isEmpty() && QFileInfo(chosen).suffix().isEmpty()) chosen += QStringLiteral(".dbf");
    if (!chosen.isEmpty() && QFileInfo::exists(chosen)) {
        LoadTable(chosen);
    } else if (hadTable) {
        // The grid must mirror the file again: what was written now has record numbers, and what was
        // dropped must not be written later.
        LoadTable(FTablePath);
    }
}

void TDBeditForm::btnExitClick() {
    done(QDialog::Accepted);
}

void TDBeditForm::btnDeleteClick() {
    if (FPickerMode) return;
    ToggleDeleteMark(dbfGrid->row());
    dbfGrid->setFocus();
}

void TDBeditForm::ToggleDeleteMark(int row) {
    if (row < 1 || row >= dbfGrid->rowCount()) return;
    const bool marked = dbfGrid->cell(1, row) == QLatin1String("*");
    const QString question =
        marked ? QStringLiteral("Recall this Record?") : QStringLiteral("Delete this Record?");
    if (messageBox(question, QStringLiteral("File Maintenance"), PromptIcon::Warning, Yes | No) != Yes)
        return;
    dbfGrid->setCell(1, row, marked ? QString() : QStringLiteral("*"));
    FModified = true;
}

void TDBeditForm::WriteChanges() {
    if (!FModified || FTable <= 0) return;
    if (messageBox(QStringLiteral("Write changes to .DBF?"), QStringLiteral("File Write"),
                   PromptIcon::Question, Yes | No) != Yes) {
        FModified = false;
        return;
    }
    dbfGrid->closeEditor(true);
    bool pack = false;
    ta::d4top(FTable);
    const int fields = static_cast<int>(FFieldInfo.size());
    for (int r = 1; r < dbfGrid->rowCount(); ++r) {
        // Only a row the user marked is deleted (an empty lookup cell is no mark).
        int recNo = -1;
        if (!toRecordNumber(dbfGrid->cell(0, r), &recNo)) recNo = -1;
        if (recNo >= 1) ta::d4go(FTable, recNo);
        const bool known = recNo >= 1 && recNo < static_cast<int>(FLoadedTexts.size());
        if (dbfGrid->cell(1, r) == QLatin1String("*")) {
            if (recNo >= 1) {
                ta::d4delete(FTable);
                pack = true;
            }
            continue;
        }
        if (recNo < 1) {
            // A new row; one left wholly empty adds nothing.
            bool empty = true;
            for (int j = 0; j < fields && empty; ++j) empty = dbfGrid->cell(j + 2, r).isEmpty();
            if (empty) continue;
            ta::d4appendBlank(FTable);
        } else if (ta::d4deleted(FTable)) {
            ta::d4recall(FTable);
        }
        for (int j = 0; j < fields; ++j) {
            const ta::FieldInfo& f = FFieldInfo[j];
            const QString text = dbfGrid->cell(j + 2, r);
            // Logical fields are always written as "T" or "F" (a stored "?" or blank becomes "F"); any other
            // cell the user did not change keeps the stored value exactly as it is.
            if (f.type != 'L' && recNo >= 1 && known && j < FLoadedTexts[recNo].size() &&
                FLoadedTexts[recNo][j] == text)
                continue;
            if (f.type == 'L') {
                ta::replace(FTable, f.name,
                            (text == QLatin1String("Y") || text == QLatin1String("T")) ? QStringLiteral("T")
                                                                                       : QStringLiteral("F"));
            } else if (f.type == 'M') {
                ta::f4memoAssign(ta::d4fieldJ(FTable, j + 1), text);
            } else {
                ta::replace(FTable, f.name, text);
            }
        }
    }
    if (pack) ta::d4pack(FTable);
    FModified = false;
}

void TDBeditForm::FormClose() {
    FLookupValues.clear();
    if (FTableLoaded) {
        WriteChanges();
        CloseTable();
    }
}

void TDBeditForm::done(int result) {
    if (!FClosing) {
        FClosing = true;
        FormClose();
    }
    QDialog::done(result);
}

}  // namespace tarvik
