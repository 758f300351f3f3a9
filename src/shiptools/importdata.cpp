#include "shiptools/importdata.h"

#include <freexl.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringDecoder>
#include <cmath>

#include "pages/shipmentpage.h"
#include "shiptools/clearform.h"
#include "shiptools/copyform.h"
#include "shiptools/findrepl.h"
#include "shiptools/postalcodes.h"
#include "widgets/seams.h"
#include "widgets/toplevel.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

using P = ShipmentPage;

QString g_startFolder;

// Windows-1252 characters 0x80 .. 0x9F; 0 where the code page leaves a byte undefined (it is then
// taken as the control character of the same code, as Windows does).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Blanks and control characters at both ends go.
QString trimBlanks(QStringView s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s[b].unicode() <= 0x20) ++b;
    while (e > b && s[e - 1].unicode() <= 0x20) --e;
    return s.mid(b, e - b).toString();
}

// The grid columns the fields of a file line go to, in order.
std::vector<int> targetColumns(bool mob) {
    std::vector<int> cols;
    for (int c = P::ColService; c <= P::ColTotCmp; ++c)
        if (mob || c != P::ColFromPost) cols.push_back(c);
    return cols;
}

// Places imported lines into the grid: from line 1 after a fresh set-up (overwrite) or after the last
// line in use (append), so that an append never lands on a line of the user's, each further line on the
// next row. A row receives the imported line alone: whatever the row held before is emptied first, so
// that no line mixes old and new fields. Lines are appended in blocks while importing (one by one is slow for
// tens of thousands of lines); the lines that were appended but not used go again at the end, so the grid
// ends exactly as if each line had been appended when it was needed.
class LinePlacer {
  public:
    LinePlacer(ShipmentPage& page, bool overwrite) : page_(page), grid_(page.shipmentGrid()) {
        if (overwrite) page_.setupGrid();
        if (overwrite) {
            row_ = 1;
        } else {
            // Lines in use may have empty lines between them: the imported lines go after them all.
            row_ = page_.lastUsedLine() + 1;
        }
        keepRows_ = grid_->rowCount();
    }

    int row() const { return row_; }

    // Makes sure the current row exists and empties its columns 1 to 12.
    void beginLine() {
        if (row_ > page_.lastLine()) {
            const int lines = page_.lastLine();
            page_.appendLines(std::max(row_ - lines, std::min(4096, std::max(64, lines))));
        }
        highest_ = std::max(highest_, row_);
        for (int c = P::ColService; c <= P::ColTotCmp; ++c)
            if (!grid_->cell(c, row_).isEmpty()) grid_->setCell(c, row_, QString());
    }

    void set(int col, const QString& text) { grid_->setCell(col, row_, text); }

    // The line total of the row, then on to the next row.
    void endLine() {
        page_.lineTotal(row_);
        ++row_;
    }

    // Drops the lines appended ahead that no imported line used.
    void finish() {
        const int need = std::max(keepRows_, highest_ + 1);
        if (grid_->rowCount() > need) grid_->setRowCount(need);
    }

  private:
    ShipmentPage& page_;
    StringGrid* grid_;
    int row_ = 1;
    int keepRows_ = 0;
    int highest_ = 0;
};

// The progress window for one import, and the main window disabled meanwhile (spreadsheets only).
// Whatever way the import ends, the main window is enabled again and the progress window goes.
class ImportSession {
  public:
    ImportSession(const ImportProgressFactory& make, QWidget* owner) {
        if (make) window_ = make(owner);
        if (window_) {
            window_->setWindowTitle(QStringLiteral("File Import"));
            label1_ = window_->findChild<QLabel*>(QStringLiteral("Label1"));
            label2_ = window_->findChild<QLabel*>(QStringLiteral("Label2"));
        }
    }
    ~ImportSession() { end(); }

    QLabel* label1() const { return label1_; }
    QLabel* label2() const { return label2_; }
    QDialog* window() const { return window_.get(); }

    void show() {
        if (!window_) return;
        if (QWidget* o = window_->parentWidget()) {
            const QRect r = o->frameGeometry();
            window_->move(r.center() - window_->rect().center());
        }
        showPainted(window_.get());
    }

    void disableMainWindow(QWidget* mainWindow) {
        if (!mainWindow) return;
        disabled_ = mainWindow;
        mainWindow->setEnabled(false);
        // The progress window is a window of its own: it stays usable so that it can take the double
        // click that asks for the abort.
        if (window_) window_->setEnabled(true);
    }

    void hide() {
        if (window_) window_->hide();
    }

    void end() {
        if (disabled_) {
            disabled_->setEnabled(true);
            disabled_ = nullptr;
        }
        window_.reset();
        label1_ = label2_ = nullptr;
    }

  private:
    std::unique_ptr<QDialog> window_;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QWidget* disabled_ = nullptr;
};

void showImportError(const QString& fileName, const QString& reason) {
    messageBox(QStringLiteral("The file %1 could not be imported: %2.")
                   .arg(QDir::toNativeSeparators(fileName), reason),
               QStringLiteral("ERROR"), PromptIcon::Error, Ok);
}

// Reads the whole file; false with the reason when it cannot be read.
bool readFileBytes(const QString& fileName, QByteArray& bytes, QString& reason) {
    QFile f(fileName);
    if (!f.exists()) {
        reason = QStringLiteral("the file does not exist");
        return false;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        reason = f.errorString();
        return false;
    }
    if (f.size() > kMaxImportTextBytes) {
        reason = QStringLiteral("it is larger than %1 MB").arg(kMaxImportTextBytes / (1024 * 1024));
        return false;
    }
    bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        reason = f.errorString();
        return false;
    }
    return true;
}

QString freexlReason(int rc) {
    switch (rc) {
        case FREEXL_FILE_NOT_FOUND:
            return QStringLiteral("the file does not exist or cannot be opened");
        case FREEXL_INSUFFICIENT_MEMORY:
            return QStringLiteral("there is not enough memory to read it");
        case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
            return QStringLiteral("it holds no workbook");
        case FREEXL_BIFF_ILLEGAL_SHEET_INDEX:
            return QStringLiteral("the workbook has no worksheet");
        case FREEXL_UNSUPPORTED_CHARSET:
        case FREEXL_INVALID_CHARACTER:
            return QStringLiteral("its text cannot be converted");
        default:
            break;
    }
    return QStringLiteral("it is not a readable .xls workbook (error %1)").arg(rc);
}

// An open workbook (FreeXL), closed when it goes.
class Workbook {
  public:
    ~Workbook() {
        if (handle_) freexl_close(handle_);
    }

    // Opens the file and makes its first sheet the active one; false with the reason otherwise.
    bool open(const QString& fileName, QString& reason) {
        QFile probe(fileName);
        if (!probe.exists()) {
            reason = QStringLiteral("the file does not exist");
            return false;
        }
        if (!probe.open(QIODevice::ReadOnly)) {
            reason = probe.errorString();
            return false;
        }
        probe.close();
        const QByteArray path = QFile::encodeName(fileName);
        int rc = freexl_open(path.constData(), &handle_);
        if (rc != FREEXL_OK) {
            if (handle_) freexl_close(handle_);
            handle_ = nullptr;
            reason = freexlReason(rc);
            return false;
        }
        unsigned int sheets = 0;
        if (freexl_get_info(handle_, FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK || sheets == 0) {
            reason = freexlReason(FREEXL_BIFF_ILLEGAL_SHEET_INDEX);
            return false;
        }
        rc = freexl_select_active_worksheet(handle_, 0);
        if (rc == FREEXL_OK) rc = freexl_worksheet_dimensions(handle_, &rows_, &cols_);
        if (rc != FREEXL_OK) {
            reason = freexlReason(rc);
            return false;
        }
        return true;
    }

    // The cell's value as text (row and col from 1): text as it is, whole numbers without a point,
    // other numbers in the shortest form that reads back to the same value, dates in the short date
    // format with a four-digit year. Empty for a blank cell or one outside the sheet.
    QString text(int row, int col) const {
        if (row < 1 || col < 1 || static_cast<unsigned>(row) > rows_ || col > cols_) return QString();
        FreeXL_CellValue v;
        if (freexl_get_cell_value(handle_, static_cast<unsigned>(row - 1),
                                  static_cast<unsigned short>(col - 1), &v) != FREEXL_OK)
            return QString();
        switch (v.type) {
            case FREEXL_CELL_INT:
                return QString::number(v.value.int_value);
            case FREEXL_CELL_DOUBLE:
                return numberText(v.value.double_value);
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
                return QString::fromUtf8(v.value.text_value);
            case FREEXL_CELL_DATE:
                return dateToText(
                    QDate::fromString(QString::fromLatin1(v.value.text_value), QStringLiteral("yyyy-MM-dd")));
            case FREEXL_CELL_DATETIME: {
                const QString s = QString::fromLatin1(v.value.text_value);
                const QDate d = QDate::fromString(s.left(10), QStringLiteral("yyyy-MM-dd"));
                if (!d.isValid()) return s;
                return dateToText(d) + QLatin1Char(' ') + s.mid(11);
            }
            case FREEXL_CELL_TIME:
                return QString::fromLatin1(v.value.text_value);
            default:
                return QString();
        }
    }

    static QString numberText(double d) {
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15)
            return QString::number(static_cast<qlonglong>(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }

    // The last row up to kLastImportRow whose column A holds something (row 1 only when A1 holds more
    // than blanks); 0 when there is none.
    int lastDataRow() const {
        for (int r = std::min<int>(static_cast<int>(rows_), kLastImportRow); r >= 1; --r) {
            const QString a = text(r, 1);
            if (r == 1) return trimBlanks(a).isEmpty() ? 0 : 1;
            if (!a.isEmpty()) return r;
        }
        return 0;
    }

  private:
    const void* handle_ = nullptr;
    unsigned int rows_ = 0;
    unsigned short cols_ = 0;
};

}  // namespace

// ---- Text helpers ----

QString DecodeImportText(const QByteArray& bytes) {
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF")) view = view.sliced(3);
    {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(view);
        if (!utf8.hasError()) return text;
    }
    QString text(view.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < view.size(); ++i) {
        const auto b = static_cast<unsigned char>(view[i]);
        char16_t u = b;
        if (b >= 0x80 && b <= 0x9F && kCp1252High[b - 0x80] != 0) u = kCp1252High[b - 0x80];
        out[i] = QChar(u);
    }
    return text;
}

QStringList SplitImportLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    const QChar* s = text.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] == QLatin1Char('\n') || s[i] == QLatin1Char('\r')) {
            lines << text.mid(start, i - start);
            if (s[i] == QLatin1Char('\r') && i + 1 < n && s[i + 1] == QLatin1Char('\n')) ++i;
            start = i + 1;
        }
    }
    if (start < n) lines << text.mid(start);
    return lines;
}

QStringList CutImportLine(const QString& line, int maxFields) {
    QStringList fields;
    const QChar sep = line.contains(QLatin1Char('\t')) ? QLatin1Char('\t') : QLatin1Char(',');
    const QStringView all(line);
    qsizetype pos = 0;
    while (static_cast<int>(fields.size()) < maxFields) {
        const QStringView rest = all.mid(pos);
        const qsizetype at = rest.left(999).indexOf(sep);
        const bool last = at < 0;
        QStringView field = last ? rest.left(99) : rest.left(at);
        if (field.startsWith(QLatin1Char('"'))) field = field.mid(1);
        if (field.endsWith(QLatin1Char('"'))) field.chop(1);
        fields << trimBlanks(field);
        if (last) break;
        pos += at + 1;
    }
    return fields;
}

// ---- The import ----

ShipmentImport::ShipmentImport(MainState& state, ShipmentPage& page, QWidget* mainWindow)
    : state_(state), page_(page), mainWindow_(mainWindow) {}

QWidget* ShipmentImport::mainWindow() const {
    return mainWindow_ ? mainWindow_ : page_.window();
}

bool ShipmentImport::mobChecked() const {
    if (auto* mob = mainWindow()->findChild<QCheckBox*>(QStringLiteral("chbMOB"))) return mob->isChecked();
    return page_.fromPostShown();
}

QString ShipmentImport::startFolder() {
    return g_startFolder;
}
void ShipmentImport::setStartFolder(const QString& folder) {
    g_startFolder = folder;
}

QString ShipmentImport::fileFilter() {
    // The patterns are given in both letter cases: file names are matched with case on this system.
    return QStringLiteral("Import File (*.XLS *.TXT *.xls *.txt);;All Files (*)");
}

void ShipmentImport::btnImportClick() {
    QWidget* w = mainWindow();
    auto* bidId = w->findChild<QLineEdit*>(QStringLiteral("ebxLocalBidID"));
    if (!bidId || bidId->text().trimmed().isEmpty()) {
        messageBox(QStringLiteral("Need to have a Local Bid ID first..."), QStringLiteral("ERROR"),
                   PromptIcon::Error, Ok);
        return;
    }

    if (g_startFolder.isEmpty()) g_startFolder = state_.FProgramFolder;
    FileRequest request;
    request.caption = QStringLiteral("Open");
    request.folder = g_startFolder;
    request.filter = fileFilter();
    const QString fileName = FileChooser::current().openFile(w, request);
    if (fileName.isEmpty()) return;
    const QFileInfo info(fileName);
    g_startFolder = info.absolutePath();

    const QString ext = info.suffix().toUpper();
    const bool isXls = ext == QLatin1String("XLS");
    const bool isTxt = ext == QLatin1String("TXT");
    if (!isXls && !isTxt) {
        messageBox(QStringLiteral("Import File type (s/b .xls or .txt) invalid!"), QStringLiteral("ERROR"),
                   PromptIcon::Error, Ok);
        return;
    }

    bool overwrite = true;
    if (!page_.gridIsEmpty()) {
        const int answer =
            messageBox(QStringLiteral("Information already entered.  Overwrite? ('No' will Append)"),
                       QStringLiteral("WARNING"), PromptIcon::Warning, Yes | No | Cancel);
        if (answer == Cancel) return;
        overwrite = answer == Yes;
    }

    const bool read = isXls ? ImportSpreadsheet(fileName, overwrite) : ImportTextFile(fileName, overwrite);
    if (!read) return;

    StringGrid* grid = page_.shipmentGrid();
    QString message;
    if (!ValidateShipmentCodes(state_, *grid, message))
        messageBox(message, QStringLiteral("Postal / Zip Code LookUp"), PromptIcon::Error, Ok);

    // Imported values longer than their fields stay in the grid as they came (nothing is cut); the user
    // learns now which ones must be shortened before the bid can be stored.
    if (grid->cellLimit) {
        QStringList misfits;
        for (int r = 1; r <= page_.lastLine(); ++r)
            for (int c = P::ColService; c <= P::ColTotCmp; ++c) {
                const QString why = FieldMisfit(grid->cell(c, r), grid->cellLimit(c, r));
                if (!why.isEmpty())
                    misfits << QStringLiteral("%1, shipment line %2: %3")
                                   .arg(grid->cell(c, 0).trimmed())
                                   .arg(r)
                                   .arg(why);
            }
        if (!misfits.isEmpty()) {
            constexpr int kShown = 12;
            const int more = int(misfits.size()) - kShown;
            if (more > 0) {
                misfits = misfits.mid(0, kShown);
                misfits << QStringLiteral("... and %1 more").arg(more);
            }
            messageBox(
                QStringLiteral("These imported values do not fit the bid tables:\r\n\r\n") +
                    misfits.join(QStringLiteral("\r\n")) +
                    QStringLiteral("\r\n\r\nThey stay in the grid as imported; shorten them before the bid "
                                   "is stored."),
                QStringLiteral("File Import"), PromptIcon::Warning, Ok);
        }
    }

    page_.syncPickers();
    if (!page_.lineIsEmpty(page_.lastLine())) page_.appendLine();
    // The grid shows the first imported line at its top, wherever it was scrolled to before.
    page_.showLineAtTop(firstImportedLine_);
}

bool ShipmentImport::ImportSpreadsheet(const QString& fileName, bool overwrite) {
    ImportSession session(makeProgressWindow, mainWindow());
    if (QLabel* l1 = session.label1()) {
        l1->move(l1->x(), l1->y() - 10);
        l1->setText(QStringLiteral("DblClick here to ABORT\n") + l1->text());
    }
    session.show();
    session.disableMainWindow(mainWindow());

    const int firstRow = messageDlg(QStringLiteral("Does the Excel file contain a Header row?"),
                                    DialogKind::Confirmation, Yes | No) == Yes
                             ? 2
                             : 1;

    Workbook book;
    QString reason;
    if (!book.open(fileName, reason)) {
        session.end();
        showImportError(fileName, reason);
        return false;
    }

    const int last = book.lastDataRow();
    if (last <= 0) {
        session.hide();
        messageBox(QStringLiteral("No Rows Found in .xls File..."), applicationTitle(), PromptIcon::None, Ok);
        return true;
    }

    const std::vector<int> cols = targetColumns(mobChecked());
    StringGrid* grid = page_.shipmentGrid();
    {
        const QSignalBlocker quiet(&page_);
        grid->beginUpdate();
        LinePlacer place(page_, overwrite);
        firstImportedLine_ = place.row();
        state_.FImportAbort = false;
        for (int r = firstRow; r <= last; ++r) {
            if (trimBlanks(book.text(r, 1)).isEmpty()) continue;
            if (r % 7 == 0) {
                if (QLabel* l2 = session.label2()) l2->setText(QString::number(r));
                QApplication::processEvents();
            } else if (state_.FImportAbort) {
                break;
            }
            place.beginLine();
            for (size_t k = 0; k < cols.size(); ++k)
                place.set(cols[k], book.text(r, static_cast<int>(k % 26) + 1));
            place.endLine();
        }
        place.finish();
        grid->endUpdate();
    }
    page_.notifyLinesChanged();
    return true;
}

bool ShipmentImport::ImportTextFile(const QString& fileName, bool overwrite) {
    ImportSession session(makeProgressWindow, mainWindow());
    session.show();

    QByteArray bytes;
    QString reason;
    if (!readFileBytes(fileName, bytes, reason)) {
        session.end();
        showImportError(fileName, reason);
        return false;
    }
    QStringList lines = SplitImportLines(DecodeImportText(bytes));
    bytes.clear();
    const bool cut = lines.size() > kLastImportRow;
    if (cut) lines.resize(kLastImportRow);

    const std::vector<int> cols = targetColumns(mobChecked());
    StringGrid* grid = page_.shipmentGrid();
    {
        const QSignalBlocker quiet(&page_);
        grid->beginUpdate();
        LinePlacer place(page_, overwrite);
        firstImportedLine_ = place.row();
        QLabel* l2 = session.label2();
        for (const QString& line : lines) {
            place.beginLine();
            if (l2) {
                l2->setText(QString::number(place.row()));
                l2->repaint();
            }
            const QStringList fields = CutImportLine(line, static_cast<int>(cols.size()));
            for (qsizetype k = 0; k < fields.size(); ++k) place.set(cols[k], fields[k]);
            place.endLine();
        }
        place.finish();
        grid->endUpdate();
    }
    page_.notifyLinesChanged();
    session.end();
    if (cut)
        messageBox(QStringLiteral("Only the first %1 lines of %2 were imported.")
                       .arg(kLastImportRow)
                       .arg(QDir::toNativeSeparators(fileName)),
                   QStringLiteral("File Import"), PromptIcon::Warning, Ok);
    return true;
}

// ---- Wiring ----

void wireShipmentTools(ShipmentPage& page, MainState& state, ImportProgressFactory makeProgressWindow,
                       std::function<void(QWidget*)> applyLook) {
    auto importer = std::make_shared<ShipmentImport>(state, page);
    importer->makeProgressWindow = std::move(makeProgressWindow);
    auto button = [&page](const char* name) { return page.findChild<QPushButton*>(QLatin1String(name)); };
    if (auto* b = button("btnImport"))
        QObject::connect(b, &QAbstractButton::clicked, &page, [importer] { importer->btnImportClick(); });
    const std::pair<const char*, const char*> hints[] = {
        {"btnCopyLine", "Copy the Current Line Multiple times..."},
        {"btnClearShipGrid", "Clear out ALL entered Shipment Information"},
        {"btnFindRepl", "Find and Replace Postal Codes Mutiple times..."},
    };
    for (const auto& [name, hint] : hints)
        if (auto* b = button(name); b && b->toolTip().isEmpty()) b->setToolTip(QString::fromLatin1(hint));
    if (auto* b = button("btnCopyLine"))
        QObject::connect(b, &QAbstractButton::clicked, &page, [&page] { btnCopyLineClick(page); });
    if (auto* b = button("btnClearShipGrid"))
        QObject::connect(b, &QAbstractButton::clicked, &page,
                         [&page, &state] { btnClearShipGridClick(page, state); });
    if (auto* b = button("btnFindRepl"))
        QObject::connect(b, &QAbstractButton::clicked, &page,
                         [&page, &state, applyLook] { btnFindReplClick(page, state, applyLook); });
}

}  // namespace tarvik
