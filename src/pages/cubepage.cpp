#include "pages/cubepage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "pages/choicegroups.h"
#include "pages/conversions.h"
#include "pages/shipperprofilepage.h"
#include "widgets/accessibility.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {
constexpr int kRowHeight = 16;
constexpr double kCubicInchesPerFoot = 1728.0;
}  // namespace

CubePage::CubePage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsCubeAnalysis"));
    auto* top = new QVBoxLayout(this);

    grid_ = new StringGrid(this);
    grid_->setObjectName(QStringLiteral("CubeGrid"));
    grid_->setAccessibleName(QStringLiteral("Package dimensions"));
    top->addWidget(grid_);

    auto* averageRow = new QHBoxLayout;
    ebxAverageCube_ = new QLineEdit(this);
    ebxAverageCube_->setObjectName(QStringLiteral("ebxAverageCube"));
    makeReadOnlyEdit(ebxAverageCube_);
    auto* lblAverage = new QLabel(QStringLiteral("Average Cube"), this);
    lblAverage->setBuddy(ebxAverageCube_);
    averageRow->addWidget(lblAverage);
    averageRow->addWidget(ebxAverageCube_);
    averageRow->addStretch(1);
    top->addLayout(averageRow);

    rgInfoSource_ = new RadioGroup(QStringLiteral(" &Source of Information "),
                                   {QStringLiteral("Physical Audit"), QStringLiteral("Verbal from Shipper")}, 2, this);
    rgInfoSource_->setObjectName(QStringLiteral("rgInfoSource"));
    top->addWidget(rgInfoSource_);

    auto* gbHandling = new QGroupBox(this);
    gbHandling->setObjectName(QStringLiteral("gbSpecialHandling"));
    auto* g = new QGridLayout(gbHandling);
    auto* question = new QLabel(QStringLiteral("What is the percentage of total VYN volume requiring special "
                                               "handling?  Examples are: Over 75 lbs, Over 108 not packaged in a "
                                               "cardboard box."),
                                gbHandling);
    question->setWordWrap(true);
    ebxPercentAH_ = new QLineEdit(gbHandling);
    ebxPercentAH_->setObjectName(QStringLiteral("ebxPercentAH"));
    installNumbersOnlyKeyFilter(ebxPercentAH_);
    question->setBuddy(ebxPercentAH_);
    ebxAHPctComment_ = new QLineEdit(gbHandling);
    ebxAHPctComment_->setObjectName(QStringLiteral("ebxAHPctComment"));
    ebxAHPctComment_->setAccessibleName(QStringLiteral("Comment on the special handling percentage"));
    g->addWidget(question, 0, 0, 1, 3);
    g->addWidget(ebxPercentAH_, 1, 0);
    g->addWidget(new QLabel(QStringLiteral("%"), gbHandling), 1, 1);
    g->addWidget(ebxAHPctComment_, 1, 2);
    g->setColumnStretch(2, 1);
    top->addWidget(gbHandling);

    rgBillWeight_ = new RadioGroup(QStringLiteral(" &Entered Billable Weights reflect? "),
                                   {QStringLiteral("Actual"), QStringLiteral("Dimensional")}, 2, this);
    rgBillWeight_->setObjectName(QStringLiteral("rgBillWeight"));
    top->addWidget(rgBillWeight_);
    top->addStretch(1);

    std::vector<QWidget*> order{grid_};
    for (int i = 0; i < rgInfoSource_->count(); ++i) order.push_back(rgInfoSource_->button(i));
    order.push_back(ebxPercentAH_);
    order.push_back(ebxAHPctComment_);
    for (int i = 0; i < rgBillWeight_->count(); ++i) order.push_back(rgBillWeight_->button(i));
    for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
    nameControlsFromLabels(this);

    grid_->keyPress = [this](QChar& ch) { CubeGridKeyPress(ch); };
    grid_->editTextRequested = [this](int c, int r) { CubeGridGetEditText(c, r); };
    grid_->editTextChanged = [this](int c, int r, const QString& t) { CubeGridSetEditText(c, r, t); };

    setupCubeGrid();
}

CubePage::~CubePage() {
    grid_->keyPress = nullptr;
    grid_->editTextRequested = nullptr;
    grid_->editTextChanged = nullptr;
}

void CubePage::setupCubeGrid() {
    grid_->setColCount(7);
    grid_->setRowCount(kPackageRows + 1);
    grid_->setDefaultRowHeight(kRowHeight);
    // Column 0 is 54 pixels, or as wide as its labels need in the font in use.
    const QFontMetrics fm(grid_->verticalHeader()->font());
    grid_->setColWidth(0, std::max(54, fm.horizontalAdvance(QStringLiteral("Pkg  #15")) + 8));
    sizeCubeColumns();
    // Tall enough for all 16 rows: 16 rows of 16 pixels and 19 more, or the heading row as tall as
    // the font needs, 15 rows and the frame.
    const int header = std::max(kRowHeight, grid_->horizontalHeader()->sizeHint().height());
    grid_->setFixedHeight(std::max((kPackageRows + 1) * kRowHeight + 19,
                                   header + kPackageRows * kRowHeight + 2 * grid_->frameWidth() + 2));
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setEditable(true);
    grid_->setTabMovesBetweenCells(true);
    grid_->setColumnReadOnly(5, true);  // Cube and Tot. Cube are computed
    grid_->setColumnReadOnly(6, true);
    const QString headers[] = {QStringLiteral("Length"), QStringLiteral("Width"),   QStringLiteral("Height"),
                               QStringLiteral("No Pkgs"), QStringLiteral("Cube"), QStringLiteral("Tot. Cube")};
    for (int c = 1; c <= 6; ++c) {
        grid_->setCell(c, 0, headers[c - 1]);
        grid_->setColumnAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        grid_->setColumnWidensToText(c, true);  // a longer number widens its column, never shown cut
    }
    for (int r = 1; r <= kPackageRows; ++r) grid_->setCell(0, r, QString::asprintf("Pkg  #%2d", r));
}

void CubePage::sizeCubeColumns() {
    // Columns 1 to 6 share the grid's width less 60 pixels equally.
    const int gridWidth = grid_->width() - (grid_->colWidth(0) - 54);
    const int width = static_cast<int>(std::lround((gridWidth - 60) / 6.0));
    // A column never becomes narrower than its longest number.
    const QFontMetrics fm(grid_->font());
    for (int c = 1; c <= 6; ++c) {
        int widest = 0;
        for (int r = 1; r < grid_->rowCount(); ++r)
            widest = std::max(widest, fm.horizontalAdvance(grid_->cell(c, r)));
        grid_->setColWidth(c, std::max({20, width, widest > 0 ? widest + 12 : 0}));
    }
}

void CubePage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    sizeCubeColumns();
}

void CubePage::rowCube(int row) {
    const QString length = grid_->cell(1, row);
    const QString width = grid_->cell(2, row);
    const QString height = grid_->cell(3, row);
    // The results follow their inputs: without all three sides the row has no cube, without a number of
    // packages no total; neither keeps a value computed from inputs that are gone.
    if (length.isEmpty() || width.isEmpty() || height.isEmpty()) {
        grid_->setCell(5, row, QString());
        grid_->setCell(6, row, QString());
        averageCube();
        return;
    }
    const double cube = TextToDecimal(length) * TextToDecimal(width) * TextToDecimal(height) / kCubicInchesPerFoot;
    grid_->setCell(5, row, FormatFixed(cube, 3, 8));
    averageCube();
    const QString packages = grid_->cell(4, row);
    grid_->setCell(6, row,
                   packages.isEmpty() ? QString() : FormatFixed(TextToDecimal(packages) * cube, 3, 8));
}

void CubePage::averageCube() {
    double weighted = 0;
    double packages = 0;
    for (int r = 1; r <= kPackageRows && r < grid_->rowCount(); ++r) {
        const QString cube = grid_->cell(5, r);
        if (cube.isEmpty()) continue;
        int n = TextToWhole(grid_->cell(4, r));
        if (n < 1) n = 1;
        weighted += TextToDecimal(cube) * n;
        packages += n;
    }
    // No row with a cube: no average either.
    ebxAverageCube_->setText(packages < 1 ? QString() : FormatFixed(weighted / packages, 3, 8));
}

void CubePage::ClearGrid() {
    for (int r = 1; r < grid_->rowCount(); ++r)
        for (int c = 1; c < grid_->colCount(); ++c) grid_->setCell(c, r, QString());
}

void CubePage::clearControls() {
    ebxAverageCube_->clear();
    ebxPercentAH_->clear();
    ebxAHPctComment_->clear();
    rgInfoSource_->setItemIndex(-1);
    rgBillWeight_->setItemIndex(-1);
}

void CubePage::tbsCubeAnalysisShow() { grid_->setCurrentCell(1, 1); }

void CubePage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The page became the current one (a restored window shows spontaneously and keeps its place).
    if (!event->spontaneous()) tbsCubeAnalysisShow();
}

void CubePage::CubeGridKeyPress(QChar& ch) {
    const ushort c = ch.unicode();
    if (c < 32 || c > 126) return;
    if (ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) return;
    if (ch == QLatin1Char('.')) {
        const int col = grid_->col();
        if (col >= 1 && col <= 3 && !grid_->cell(col, grid_->row()).contains(QLatin1Char('.'))) return;
    }
    ch = QChar();
}

void CubePage::CubeGridGetEditText(int col, int row) { FCubeEditText = grid_->cell(col, row); }

void CubePage::CubeGridSetEditText(int col, int row, const QString& text) {
    if (settingBack_) return;
    auto setBack = [&] {
        settingBack_ = true;
        grid_->setCell(col, row, FCubeEditText);
        if (QLineEdit* ed = grid_->editor(); ed && ed->text() != FCubeEditText) ed->setText(FCubeEditText);
        settingBack_ = false;
    };
    if (col >= 5) {
        setBack();
        return;
    }
    if (!text.isEmpty() && !IsDecimalText(text)) setBack();
    rowCube(row);
}

}  // namespace tarvik
