#include "pages/servicespage.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "pages/bidprofilepage.h"
#include "pages/conversions.h"
#include "tableaccess/tableaccess.h"
#include "widgets/accessibility.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

const QString kDashes = QString(25, QLatin1Char('-'));
constexpr int kRowHeight = 15;
// The Primary? box sits inside the label column, 3 pixels from its right edge, and the shipment marker
// (8 by 8) 4 pixels to the left of the box.
constexpr int kBoxWidth = 16;
constexpr int kBoxHeight = 14;
constexpr int kBoxInset = kBoxWidth + 3;
constexpr int kMarkerSize = 8;
constexpr int kMarkerInset = kBoxInset + 4 + kMarkerSize;
// Room the label column keeps right of a label for the marker and the box.
constexpr int kLabelRoom = kMarkerInset + 6;
// The widest whole number a volume cell takes (and a total shows): 32-bit, signed.
const QString kWidestVolume = QStringLiteral("-2147483648");

}  // namespace

ServicesPage::ServicesPage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsServices"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    grid_ = new StringGrid(this);
    grid_->setObjectName(QStringLiteral("IncentiveGrid"));
    grid_->setAccessibleName(QStringLiteral("Service volumes"));
    installAccessibility();
    layout->addWidget(grid_);

    // The model of the Primary? boxes; never shown.
    chbTemplate_ = new QCheckBox(QStringLiteral("Not Ever Displayed!"), this);
    chbTemplate_->setObjectName(QStringLiteral("chbTemplate"));
    chbTemplate_->setFocusPolicy(Qt::NoFocus);
    chbTemplate_->setVisible(false);

    cornerHeading_ = new QLabel(grid_);
    cornerHeading_->setObjectName(QStringLiteral("lblServicesHeading"));
    cornerPrimary_ = new QLabel(grid_);
    cornerPrimary_->setObjectName(QStringLiteral("lblPrimary"));
    for (QLabel* l : {cornerHeading_, cornerPrimary_}) l->setAttribute(Qt::WA_TransparentForMouseEvents);

    grid_->keyPress = [this](QChar& ch) { IncentiveGridKeyPress(ch); };
    grid_->editTextRequested = [this](int c, int r) { IncentiveGridGetEditText(c, r); };
    grid_->editTextChanged = [this](int c, int r, const QString& t) { IncentiveGridSetEditText(c, r, t); };
    grid_->canSelectCell = [this](int c, int r) { return IncentiveGridSelectCell(c, r); };
    grid_->drawCell = [this](QPainter* p, int c, int r, const QRect& rect) { IncentiveGridDrawCell(p, c, r, rect); };
    grid_->topLeftChanged = [this] { placePrimaryBoxes(); };
    grid_->verticalHeader()->viewport()->installEventFilter(this);
    // A key that arrives before a pending move past a heading row has been made starts from the row
    // moved to, so that quick keys travel on in the same direction.
    grid_->keyDown = [this](int, Qt::KeyboardModifiers) { finishPendingMove(); };

    // An empty grid until the set-up runs.
    setupIncentiveGrid(std::vector<ServiceRecord>{});
}

ServicesPage::~ServicesPage() {
    // The boxes belong to the grid as their parent; drop the hooks first so that no handler runs on a
    // half-destroyed page.
    grid_->keyPress = nullptr;
    grid_->editTextRequested = nullptr;
    grid_->editTextChanged = nullptr;
    grid_->canSelectCell = nullptr;
    grid_->drawCell = nullptr;
    grid_->topLeftChanged = nullptr;
    grid_->keyDown = nullptr;
    grid_->verticalHeader()->viewport()->removeEventFilter(this);
}

bool ServicesPage::qualifies(const ServiceRecord& record) {
    const QString d = record.description.trimmed();
    if (d.isEmpty()) return false;
    return !record.dbfField.trimmed().isEmpty() || d.startsWith(QLatin1Char('-'));
}

void ServicesPage::setupIncentiveGrid() {
    std::vector<ServiceRecord> records;
    ta::DataContext ctx = state_.DataContext ? state_.DataContext : ta::currentContext();
    const int t = ta::mOpen(ctx, state_.tablePath(QStringLiteral("Services")));
    if (t > 0) {
        if (ta::d4top(t) == 0) {
            do {
                ServiceRecord rec;
                rec.description = ta::fetch(t, QStringLiteral("service_d"));
                if (!rec.description.trimmed().isEmpty()) {
                    rec.dbfField = ta::fetch(t, QStringLiteral("dbf_field"));
                    if (!rec.dbfField.trimmed().isEmpty()) rec.svcCode = ta::ifetch(t, QStringLiteral("svc_code"));
                }
                records.push_back(rec);
            } while (ta::d4skip(t, 1) == 0);
        }
        ta::d4close(t);
    }
    setupIncentiveGrid(records);
}

void ServicesPage::setupIncentiveGrid(const std::vector<ServiceRecord>& records) {
    for (QCheckBox* box : primaryBoxes_) delete box;
    primaryBoxes_.clear();
    primaryBoxPlaced_.clear();
    rows_.clear();

    grid_->setColCount(4);
    grid_->setRowCount(2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c) grid_->setCell(c, r, QString());
    grid_->setTextElideMode(Qt::ElideNone);  // heading dashes are cut, not elided
    // The columns are as wide as their texts need; none stretches to the grid's width.
    grid_->horizontalHeader()->setStretchLastSection(false);
    grid_->setDefaultRowHeight(kRowHeight);
    grid_->setEditable(true);
    grid_->setTabMovesBetweenCells(true);
    grid_->setColumnReadOnly(3, true);  // Total Volume is computed
    grid_->setCell(1, 0, QStringLiteral(" Other Volume"));
    grid_->setCell(2, 0, QStringLiteral("  Bidding On"));
    grid_->setCell(3, 0, QStringLiteral("  Total Volume"));
    // Volume columns: 80 pixels, or as wide as the heading and the widest whole number need in the
    // window's font; a number that is wider still widens its column when it is shown.
    const QFontMetrics headerMetrics(grid_->horizontalHeader()->font());
    const QFontMetrics cellMetrics(grid_->font());
    for (int c = 1; c <= 3; ++c) {
        const int width = std::max({80, headerMetrics.horizontalAdvance(grid_->cell(c, 0)) + 12,
                                    cellMetrics.horizontalAdvance(kWidestVolume) + 12});
        grid_->setColWidth(c, width);
        grid_->setColumnWidensToText(c, true);
    }
    // A heading wider than its column (a font larger than the one the page was drawn for) is shown
    // on two lines rather than cut.
    bool wrapHeadings = false;
    for (int c = 1; c <= 3; ++c)
        if (headerMetrics.horizontalAdvance(grid_->cell(c, 0)) + 8 > grid_->colWidth(c)) wrapHeadings = true;
    const int headingFlags = int(Qt::AlignLeft) | int(Qt::AlignVCenter) | (wrapHeadings ? int(Qt::TextWordWrap) : 0);
    for (int c = 1; c <= 3; ++c) grid_->setCellAlignment(c, 0, Qt::Alignment(QFlag(headingFlags)));
    grid_->horizontalHeader()->setTextElideMode(Qt::ElideNone);
    grid_->horizontalHeader()->setMinimumHeight(wrapHeadings ? 2 * headerMetrics.lineSpacing() + 6 : 0);
    for (int c = 1; c <= 3; ++c) grid_->setColumnAlignment(c, Qt::AlignRight | Qt::AlignVCenter);

    int r = 0;
    for (const ServiceRecord& rec : records) {
        if (!qualifies(rec)) continue;
        QString d = rec.description.trimmed();
        if (r > 0) grid_->setRowCount(r + 1);
        RowInfo info;
        info.built = true;
        if (d.startsWith(QLatin1Char('-'))) {
            d.remove(0, 1);
            if (r > 0)
                for (int c = 1; c <= 3; ++c) {
                    grid_->setCell(c, r, kDashes);
                    // A rule across the column, from its left edge.
                    grid_->setCellAlignment(c, r, Qt::AlignLeft | Qt::AlignVCenter);
                }
            grid_->setCell(0, r, d);
        } else {
            info.heading = false;
            info.dbfField = rec.dbfField.trimmed();
            info.svcCode = rec.svcCode;
            grid_->setCell(0, r, QStringLiteral("   ") + d);
        }
        rows_.push_back(info);
        ++r;
    }
    while (static_cast<int>(rows_.size()) < grid_->rowCount()) rows_.push_back(RowInfo{});
    grid_->setCell(0, 0, grid_->cell(0, 0) + QString(29, QLatin1Char(' ')) + QStringLiteral("Primary?"));
    sizeLabelColumn();

    createPrimaryBoxes();
    placePrimaryBoxes();
    updateCorner();
}

void ServicesPage::sizeLabelColumn() {
    // 190 pixels, or as wide as the longest label and the marker and box beside it need in the
    // window's font; the corner holds the page heading and "Primary?".
    const QFontMetrics labels(grid_->verticalHeader()->font());
    int width = 190;
    for (int r = 1; r < grid_->rowCount(); ++r)
        width = std::max(
            width, labels.horizontalAdvance(grid_->cell(0, r)) + 8 + (isServiceRow(r) ? kLabelRoom : 0));
    const QString corner = grid_->cell(0, 0);
    const int at = corner.lastIndexOf(QLatin1String("Primary?"));
    const QString heading = (at >= 0 ? corner.left(at) : corner).trimmed();
    const QFontMetrics cornerMetrics(cornerHeading_->font());
    width = std::max(width, cornerMetrics.horizontalAdvance(heading) +
                                cornerMetrics.horizontalAdvance(QStringLiteral("Primary?")) + 20);
    grid_->setColWidth(0, width);
}

void ServicesPage::updateCorner() {
    // Cell (0, 0) holds the page heading followed by blanks and "Primary?"; it is shown over the
    // grid's corner with "Primary?" above the column of boxes.
    const QString text = grid_->cell(0, 0);
    const int at = text.lastIndexOf(QLatin1String("Primary?"));
    const QString heading = (at >= 0 ? text.left(at) : text).trimmed();
    const int width = grid_->verticalHeader()->width();
    const int height = grid_->horizontalHeader()->height();
    cornerPrimary_->setText(at >= 0 ? QStringLiteral("Primary?") : QString());
    const int primaryWidth = cornerPrimary_->sizeHint().width();
    cornerHeading_->setText(
        cornerHeading_->fontMetrics().elidedText(heading, Qt::ElideRight, std::max(0, width - primaryWidth - 8)));
    const int frame = grid_->frameWidth();
    cornerHeading_->setGeometry(frame + 2, frame, std::max(0, width - primaryWidth - 4), height);
    cornerPrimary_->setGeometry(frame + width - primaryWidth, frame, primaryWidth, height);
    cornerHeading_->raise();
    cornerPrimary_->raise();
    cornerHeading_->show();
    cornerPrimary_->show();
}

void ServicesPage::createPrimaryBoxes() {
    const int n = grid_->rowCount();
    primaryBoxes_.assign(static_cast<size_t>(n), nullptr);
    primaryBoxPlaced_.assign(static_cast<size_t>(n), false);
    for (int i = 0; i < n; ++i) {
        // The boxes sit on the grid so that they scroll with their rows.
        auto* box = new QCheckBox(grid_);
        box->setFont(chbTemplate_->font());
        box->setPalette(chbTemplate_->palette());
        box->setLayoutDirection(chbTemplate_->layoutDirection());
        box->setFocusPolicy(chbTemplate_->focusPolicy());
        box->hide();
        box->setObjectName(QStringLiteral("my_cb_%1").arg(i + 1));
        box->setText(QString());
        box->setFixedSize(kBoxWidth, kBoxHeight);
        primaryBoxes_[static_cast<size_t>(i)] = box;
    }
}

bool ServicesPage::primaryBoxAllowed(int row) const {
    if (!isServiceRow(row)) return false;
    const QString label = grid_->cell(0, row);
    return !label.contains(QLatin1String("Single")) && !label.contains(QLatin1String("Economy"));
}

void ServicesPage::placePrimaryBoxes() {
    const QRect view = grid_->viewport()->geometry();
    for (int r = 0; r < static_cast<int>(primaryBoxes_.size()); ++r) {
        QCheckBox* box = primaryBoxes_[static_cast<size_t>(r)];
        if (!primaryBoxAllowed(r)) {
            box->hide();
            if (isServiceRow(r)) box->setEnabled(false);  // single-piece and economy services
            continue;
        }
        const QRect cell = grid_->cellRect(0, r);
        const QPoint pos(cell.x() + cell.width() - kBoxInset, cell.y() + 3);
        // Shown while its row is wholly in view (the box may reach a pixel or two below a 15-pixel row).
        const bool inView = !cell.isEmpty() && cell.top() >= view.top() && cell.bottom() <= view.bottom();
        if (inView) {
            box->move(pos);
            box->show();
            box->raise();
            primaryBoxPlaced_[static_cast<size_t>(r)] = true;
        } else {
            box->hide();  // scrolled out of view; shown again when its row comes back
        }
    }
}

int ServicesPage::rowCount() const { return grid_->rowCount(); }

bool ServicesPage::isHeadingRow(int row) const {
    if (row <= 0 || row >= static_cast<int>(rows_.size())) return true;
    return rows_[static_cast<size_t>(row)].heading;
}

bool ServicesPage::isServiceRow(int row) const {
    return row >= 1 && row < static_cast<int>(rows_.size()) && !rows_[static_cast<size_t>(row)].heading &&
           !rows_[static_cast<size_t>(row)].dbfField.isEmpty();
}

QString ServicesPage::dbfField(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<size_t>(row)].dbfField : QString();
}

int ServicesPage::svcCode(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<size_t>(row)].svcCode : 0;
}

QCheckBox* ServicesPage::primaryBox(int row) const {
    return row >= 0 && row < static_cast<int>(primaryBoxes_.size()) ? primaryBoxes_[static_cast<size_t>(row)]
                                                                      : nullptr;
}

void ServicesPage::rowTotal(int row) {
    const QString a = grid_->cell(1, row);
    const QString b = grid_->cell(2, row);
    const double sum = (a.isEmpty() ? 0.0 : TextToDecimal(a)) + (b.isEmpty() ? 0.0 : TextToDecimal(b));
    grid_->setCell(3, row, sum != 0 ? FormatFixed(sum, 0, 10) : QString());
}

void ServicesPage::ClearGrid() {
    ensureLinked();
    for (int r = 1; r < grid_->rowCount(); ++r) {
        if (QCheckBox* box = primaryBox(r)) box->setChecked(false);
        if (grid_->cell(1, r).startsWith(QLatin1String("-----"))) continue;  // heading rows keep their dashes
        for (int c = 1; c < grid_->colCount(); ++c) grid_->setCell(c, r, QString());
    }
    if (bidProfile_) bidProfile_->chbMultiOnly()->setChecked(true);
}

bool ServicesPage::rateOptionCheck() const {
    double sum = 0;
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        const RowInfo& info = rows_[static_cast<size_t>(r)];
        if (info.heading || info.dbfField.isEmpty()) continue;
        if (info.svcCode == 8 || info.svcCode == 20 || info.svcCode == 68) {
            sum += TextToDecimal(grid_->cell(1, r)) + TextToDecimal(grid_->cell(2, r));
            if (sum != 0) return true;
        }
    }
    return false;
}

void ServicesPage::linkBidProfile(BidProfilePage* page) {
    bidProfile_ = page;
    if (!page) return;
    page->rateOptionCheck = [this] { return rateOptionCheck(); };
    connect(page->chbMultiOnly(), &QCheckBox::toggled, this, [this] { grid_->viewport()->update(); grid_->update(); });
}

bool ServicesPage::multiOnly() const { return bidProfile_ ? bidProfile_->chbMultiOnly()->isChecked() : true; }

std::vector<ShipmentLineInfo> ServicesPage::currentShipmentLines() const {
    if (shipmentLines) return shipmentLines();
    // Without a supplier the lines are read from the window's shipment grid, when there is one.
    std::vector<ShipmentLineInfo> lines;
    QWidget* w = window();
    auto* shipmentGrid = w ? w->findChild<StringGrid*>(QStringLiteral("ShipmentGrid")) : nullptr;
    if (!shipmentGrid) return lines;
    for (int r = 1; r < shipmentGrid->rowCount(); ++r) lines.push_back({shipmentGrid->cell(1, r), shipmentGrid->cell(2, r)});
    return lines;
}

void ServicesPage::ensureLinked() {
    if (bidProfile_ || !window()) return;
    if (auto* page = window()->findChild<BidProfilePage*>()) linkBidProfile(page);
}

bool ServicesPage::shipmentMarker(int row) const {
    if (!isServiceRow(row)) return false;
    const QString label = grid_->cell(0, row).trimmed();
    const std::vector<ShipmentLineInfo> fresh = paintingLabels_ ? std::vector<ShipmentLineInfo>{} : currentShipmentLines();
    const std::vector<ShipmentLineInfo>& lines = paintingLabels_ ? paintLines_ : fresh;
    if (lines.empty()) return false;
    // The first (top-most) line whose Service equals name, without regard to case; surrounding blanks
    // of the cell do not count (the service picker lists "Ground Multi" as "Ground ").
    auto first = [&lines](const QString& name) -> const ShipmentLineInfo* {
        for (const ShipmentLineInfo& line : lines)
            if (line.service.trimmed().compare(name, Qt::CaseInsensitive) == 0) return &line;
        return nullptr;
    };
    const int pak = label.indexOf(QLatin1String("PAK"));
    if (pak >= 0) {
        const QString base = label.left(pak);
        return first(base + QStringLiteral("PAK")) || first(base + QStringLiteral("Pkg"));
    }
    enum { Plain, Multi, Single } kind = Plain;
    QString base = label;
    int at = label.indexOf(QLatin1String("Multi"));
    if (at >= 0) {
        kind = Multi;
    } else if ((at = label.indexOf(QLatin1String("Single"))) >= 0) {
        kind = Single;
    }
    if (kind != Plain) base = label.left(std::max(0, at - 1));  // less the blank before the word
    const ShipmentLineInfo* line = first(base);
    if (!line) return false;
    if (kind == Plain) return true;
    if (multiOnly()) return kind == Multi;
    const int pieces = TextToWhole(line->totalPieces);
    return kind == Single ? pieces == 1 : pieces > 1;
}

void ServicesPage::tbsServicesShow() {
    ensureLinked();
    FIncentivePrevRow = 0;
    // Row 1 may be a heading: the selection rule runs also when (1, 1) is current already.
    if (grid_->rowCount() > 1 && IncentiveGridSelectCell(1, 1)) grid_->setCurrentCell(1, 1, true);
    FIncentivePrevRow = 0;
    placePrimaryBoxes();
    updateCorner();
    grid_->viewport()->update();
}

void ServicesPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The page became the current one (a restored window shows spontaneously and keeps its place).
    if (!event->spontaneous()) tbsServicesShow();
}

bool ServicesPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && watched == grid_->verticalHeader()->viewport() && !paintingLabels_) {
        paintLines_ = currentShipmentLines();
        paintingLabels_ = true;
        const bool done = QCoreApplication::sendEvent(watched, event);  // the header paints, once
        paintingLabels_ = false;
        paintLines_.clear();
        return done;
    }
    return QWidget::eventFilter(watched, event);
}

void ServicesPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placePrimaryBoxes();
    updateCorner();
}

void ServicesPage::IncentiveGridKeyPress(QChar& ch) {
    const ushort c = ch.unicode();
    if (c >= 32 && c <= 126 && !(ch >= QLatin1Char('0') && ch <= QLatin1Char('9'))) ch = QChar();
}

void ServicesPage::IncentiveGridGetEditText(int col, int row) { FIncentiveEditText = grid_->cell(col, row); }

void ServicesPage::IncentiveGridSetEditText(int col, int row, const QString& text) {
    if (settingBack_) return;
    auto setBack = [&] {
        settingBack_ = true;
        grid_->setCell(col, row, FIncentiveEditText);
        if (QLineEdit* ed = grid_->editor(); ed && ed->text() != FIncentiveEditText) ed->setText(FIncentiveEditText);
        settingBack_ = false;
    };
    if (col >= 3) {  // Total Volume is computed
        setBack();
        return;
    }
    if (isHeadingCell(col, row) ||
        (!isServiceRow(row) && FIncentiveEditText.startsWith(QLatin1Char('-')))) {  // heading dashes
        setBack();
        return;
    }
    if (!text.isEmpty() && !IsWholeText(text)) setBack();
    rowTotal(row);
}

bool ServicesPage::isHeadingCell(int col, int row) const {
    // Rows built from a Services record know what they are: a volume pasted with a sign ("-5") does not
    // turn a service row into a heading that could never be selected or corrected again.
    if (row >= 0 && row < static_cast<int>(rows_.size()) && rows_[static_cast<size_t>(row)].built)
        return rows_[static_cast<size_t>(row)].heading;
    const QString t = grid_->cell(col, row);
    return !t.isEmpty() && t.startsWith(QLatin1Char('-'));
}

bool ServicesPage::IncentiveGridSelectCell(int col, int row) {
    if (!isHeadingCell(col, row)) {
        FIncentivePrevRow = grid_->row();
        return true;
    }
    // A heading row is never selected: the current row moves past it in the direction of travel
    // (down when the row lies below the one left before). Consecutive headings are passed over; at the
    // top the move turns downwards, and a heading as the last row turns it upwards. With no row to
    // land on the current cell stays.
    const int last = grid_->rowCount() - 1;
    const bool down = row > FIncentivePrevRow;
    int target = -1;
    auto search = [&](int from, int step) {
        for (int r = from; r >= 1 && r <= last; r += step)
            if (!isHeadingCell(col, r)) return r;
        return -1;
    };
    if (down) {
        target = search(row + 1, 1);
        if (target < 0) target = search(row - 1, -1);
    } else {
        target = search(row - 1, -1);
        if (target < 0) target = search(row + 1, 1);
    }
    if (target < 1) {
        FIncentivePrevRow = grid_->row();
        return false;
    }
    // The grid finishes the refused move first (a key move puts its own current cell back), so the
    // row moved to is made current right after it.
    FIncentivePrevRow = target;
    pendingRow_ = target;
    pendingCol_ = col;
    QTimer::singleShot(0, this, [this] { finishPendingMove(); });
    return false;
}

void ServicesPage::finishPendingMove() {
    const int row = pendingRow_;
    pendingRow_ = -1;
    if (row >= 1 && row < grid_->rowCount()) grid_->setCurrentCell(pendingCol_, row, true);
}

void ServicesPage::IncentiveGridDrawCell(QPainter* painter, int col, int row, const QRect& rect) {
    if (col != 0 || !painter) return;
    if (!shipmentMarker(row)) return;
    const int right = rect.x() + rect.width();
    painter->save();
    painter->setClipRect(rect);  // the cell is ours to draw on, whatever clip the header left behind
    painter->setBrush(QColor(255, 0, 0));
    painter->drawRect(QRect(right - kMarkerInset, rect.y() + 4, kMarkerSize, kMarkerSize));
    painter->restore();
}

}  // namespace tarvik
