#include "pages/servicespage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include "pages/bidprofilepage.h"
#include "pages/choicegroups.h"
#include "pages/cubepage.h"
#include "pages/shipmentpage.h"
#include "tableaccess/tableaccess.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"
#include "widgets/stringgridmodel.h"

using namespace tarvik;

namespace {

const QString kDashes = QString(25, QLatin1Char('-'));

// Rows: 0 page heading, 1 heading, 2 Ground Multi, 3 Ground Single, 4 Express PAK, 5 Economy,
// 6 heading, 7 Air Letter, 8 heading as the last row.
std::vector<ServiceRecord> sampleServices() {
    return {{QStringLiteral("-Services"), QString(), 0},
            {QStringLiteral("  -Ground  "), QString(), 0},
            {QStringLiteral("Ground Multi"), QStringLiteral("GRM"), 8},
            {QStringLiteral("Ground Single"), QStringLiteral("GRS"), 8},
            {QString(), QStringLiteral("XXX"), 0},          // no description: no row
            {QStringLiteral("Orphan"), QStringLiteral("  "), 0},  // no dbf_field: no row
            {QStringLiteral("Express PAK"), QStringLiteral("EXP"), 20},
            {QStringLiteral("Economy"), QStringLiteral("ECO"), 5},
            {QStringLiteral("-Air"), QString(), 0},
            {QStringLiteral("Air Letter"), QStringLiteral("AIL"), 68},
            {QStringLiteral("-Trailing heading"), QString(), 0}};
}

struct ServicesFixture : ::testing::Test {
    MainState state;
    ServicesPage page{state};
    StringGrid* grid = nullptr;
    void SetUp() override {
        page.setupIncentiveGrid(sampleServices());
        grid = page.incentiveGrid();
        page.resize(520, 400);
        page.show();
        page.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
        QCoreApplication::processEvents();
        grid->setFocus();
    }
    void key(int k) {
        QTest::keyClick(grid, static_cast<Qt::Key>(k));
        QCoreApplication::processEvents();  // a refused heading row moves on right after the key
    }
    void type(int col, int row, const QString& text) {
        grid->setCurrentCell(col, row, true);
        for (QChar ch : text) {
            QWidget* target = grid->editor() ? static_cast<QWidget*>(grid->editor()) : grid;
            QTest::keyClick(target, ch.toLatin1());
        }
        if (grid->editor()) QTest::keyClick(grid->editor(), Qt::Key_Return);
    }
};

}  // namespace

TEST_F(ServicesFixture, RowsHeadingsAndLabelsFromTheServicesRecords) {
    ASSERT_EQ(grid->rowCount(), 9);
    EXPECT_EQ(grid->colCount(), 4);
    EXPECT_EQ(grid->cell(0, 0), QStringLiteral("Services") + QString(29, QLatin1Char(' ')) + QStringLiteral("Primary?"));
    EXPECT_EQ(grid->cell(1, 0), QStringLiteral(" Other Volume"));
    EXPECT_EQ(grid->cell(2, 0), QStringLiteral("  Bidding On"));
    EXPECT_EQ(grid->cell(3, 0), QStringLiteral("  Total Volume"));
    EXPECT_EQ(grid->cell(0, 1), QStringLiteral("Ground"));
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(grid->cell(c, 1), kDashes);
    EXPECT_EQ(grid->cell(0, 2), QStringLiteral("   Ground Multi"));
    EXPECT_EQ(grid->cell(0, 3), QStringLiteral("   Ground Single"));
    EXPECT_EQ(grid->cell(0, 4), QStringLiteral("   Express PAK"));  // the record without a dbf_field took no row
    EXPECT_EQ(grid->cell(0, 5), QStringLiteral("   Economy"));
    EXPECT_EQ(grid->cell(0, 6), QStringLiteral("Air"));
    EXPECT_EQ(grid->cell(0, 7), QStringLiteral("   Air Letter"));
    EXPECT_EQ(grid->cell(0, 8), QStringLiteral("Trailing heading"));
    EXPECT_EQ(grid->cell(2, 8), kDashes);
    EXPECT_GE(grid->colWidth(0), 190);
    // The volume columns are at least 80 pixels; a heading wider than its column in the font in use is
    // shown on two lines of a heading row tall enough for them, never cut.
    const QFontMetrics headerMetrics(grid->horizontalHeader()->font());
    for (int c = 1; c <= 3; ++c) {
        EXPECT_GE(grid->colWidth(c), 80) << c;
        if (headerMetrics.horizontalAdvance(grid->cell(c, 0)) + 8 <= grid->colWidth(c)) continue;
        const auto align = grid->gridModel()->headerData(c - 1, Qt::Horizontal, Qt::TextAlignmentRole);
        EXPECT_TRUE(align.value<Qt::Alignment>().toInt() & Qt::TextWordWrap) << c;
        EXPECT_GE(grid->horizontalHeader()->height(), 2 * headerMetrics.lineSpacing()) << c;
    }
    // The heading of cell (0, 0) is shown over the grid's corner, "Primary?" above the boxes.
    auto* heading = page.findChild<QLabel*>(QStringLiteral("lblServicesHeading"));
    auto* primary = page.findChild<QLabel*>(QStringLiteral("lblPrimary"));
    ASSERT_NE(heading, nullptr);
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(heading->text(), QStringLiteral("Services"));
    EXPECT_EQ(primary->text(), QStringLiteral("Primary?"));
    EXPECT_TRUE(primary->isVisible());
    EXPECT_GE(primary->geometry().right(), page.primaryBox(2)->geometry().left());
    EXPECT_EQ(page.dbfField(2), QStringLiteral("GRM"));
    EXPECT_EQ(page.dbfField(7), QStringLiteral("AIL"));
    EXPECT_TRUE(page.isServiceRow(4));
    EXPECT_FALSE(page.isServiceRow(6));
    EXPECT_FALSE(page.isServiceRow(0));
    EXPECT_TRUE(page.isHeadingRow(8));
}

TEST(ServicesPage, EmptyServicesTableGivesHeadersAndOneEmptyRow) {
    MainState state;
    ServicesPage page(state);
    page.setupIncentiveGrid(std::vector<ServiceRecord>{});
    StringGrid* grid = page.incentiveGrid();
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->cell(0, 0), QString(29, QLatin1Char(' ')) + QStringLiteral("Primary?"));
    EXPECT_EQ(grid->cell(2, 0), QStringLiteral("  Bidding On"));
    EXPECT_EQ(grid->cell(0, 1), QString());
    EXPECT_EQ(page.FPrimaryBoxes().size(), 2u);
    // Only non-qualifying records: still two rows.
    page.setupIncentiveGrid({{QStringLiteral("Orphan"), QString(), 0}, {QString(), QStringLiteral("X"), 0}});
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->cell(0, 1), QString());
}

TEST_F(ServicesFixture, PrimaryBoxesOnePerRowShownOnlyForServiceRows) {
    ASSERT_EQ(page.FPrimaryBoxes().size(), 9u);
    for (int r = 0; r < 9; ++r) EXPECT_EQ(page.primaryBox(r)->objectName(), QStringLiteral("my_cb_%1").arg(r + 1));
    for (int r : {2, 4, 7}) EXPECT_TRUE(page.primaryBox(r)->isVisible()) << r;
    for (int r : {0, 1, 6, 8}) EXPECT_FALSE(page.primaryBox(r)->isVisible()) << r;
    // Single-piece and economy services never show a box, and theirs is disabled.
    for (int r : {3, 5}) {
        EXPECT_FALSE(page.primaryBox(r)->isVisible()) << r;
        EXPECT_FALSE(page.primaryBox(r)->isEnabled()) << r;
    }
    EXPECT_EQ(page.primaryBox(2)->text(), QString());
    EXPECT_EQ(page.primaryBox(2)->size(), QSize(16, 14));
    const QRect cell = grid->cellRect(0, 2);
    EXPECT_EQ(page.primaryBox(2)->pos(), QPoint(cell.x() + cell.width() - 19, cell.y() + 3));
    auto* tmpl = page.findChild<QCheckBox*>(QStringLiteral("chbTemplate"));
    ASSERT_NE(tmpl, nullptr);
    EXPECT_EQ(tmpl->text(), QStringLiteral("Not Ever Displayed!"));
    EXPECT_FALSE(tmpl->isVisible());
}

TEST_F(ServicesFixture, KeyFilterTakesDigitsOnly) {
    type(2, 2, QStringLiteral("12a"));
    EXPECT_EQ(grid->cell(2, 2), QStringLiteral("12"));
    type(1, 4, QStringLiteral("-5,.3 "));
    EXPECT_EQ(grid->cell(1, 4), QStringLiteral("53"));
    EXPECT_EQ(grid->cell(3, 4), QStringLiteral("53"));
}

TEST_F(ServicesFixture, PastedFractionReturnsTheOldText) {
    grid->setCell(2, 2, QStringLiteral("40"));
    grid->setCurrentCell(2, 2, true);
    grid->openEditor();
    ASSERT_NE(grid->editor(), nullptr);
    EXPECT_EQ(page.FIncentiveEditText, QStringLiteral("40"));
    grid->editor()->setText(QStringLiteral("1.5"));  // as a paste does
    EXPECT_EQ(grid->cell(2, 2), QStringLiteral("40"));
    EXPECT_EQ(grid->editor()->text(), QStringLiteral("40"));
    grid->editor()->setText(QStringLiteral("99999999999"));  // beyond 32 bits
    EXPECT_EQ(grid->cell(2, 2), QStringLiteral("40"));
    grid->editor()->setText(QStringLiteral("41"));
    EXPECT_EQ(grid->cell(2, 2), QStringLiteral("41"));
    EXPECT_EQ(grid->cell(3, 2), QStringLiteral("41"));
    grid->closeEditor(true);
}

TEST_F(ServicesFixture, RowTotals) {
    type(1, 2, QStringLiteral("100"));
    EXPECT_EQ(grid->cell(3, 2), QStringLiteral("100"));  // 100 + empty
    type(2, 2, QStringLiteral("25"));
    EXPECT_EQ(grid->cell(3, 2), QStringLiteral("125"));
    type(1, 4, QStringLiteral("0"));
    type(2, 4, QStringLiteral("0"));
    EXPECT_EQ(grid->cell(3, 4), QString());  // 0 + 0
    grid->setCell(1, 7, QString());
    grid->setCell(2, 7, QString());
    page.rowTotal(7);
    EXPECT_EQ(grid->cell(3, 7), QString());  // both empty
    grid->setCell(1, 7, QStringLiteral("2147483647"));
    grid->setCell(2, 7, QStringLiteral("2147483647"));
    page.rowTotal(7);
    EXPECT_EQ(grid->cell(3, 7), QStringLiteral("4294967294"));
}

TEST_F(ServicesFixture, TotalVolumeAndHeadingCellsCannotBeChanged) {
    type(1, 2, QStringLiteral("7"));
    type(3, 2, QStringLiteral("5"));
    EXPECT_EQ(grid->cell(3, 2), QStringLiteral("7"));
    // Even if an edit reaches them, the saved text comes back.
    page.IncentiveGridGetEditText(3, 2);
    grid->setCell(3, 2, QStringLiteral("999"));
    page.IncentiveGridSetEditText(3, 2, QStringLiteral("999"));
    EXPECT_EQ(grid->cell(3, 2), QStringLiteral("7"));
    page.IncentiveGridGetEditText(1, 6);
    grid->setCell(1, 6, QStringLiteral("5"));
    page.IncentiveGridSetEditText(1, 6, QStringLiteral("5"));
    EXPECT_EQ(grid->cell(1, 6), kDashes);
    EXPECT_EQ(grid->cell(3, 6), kDashes);
}

TEST_F(ServicesFixture, HeadingRowsAreSkippedUpAndDown) {
    // Showing the page asks for row 1, a heading: the grid lands on row 2.
    EXPECT_EQ(grid->row(), 2);
    EXPECT_EQ(grid->col(), 1);
    EXPECT_EQ(page.FIncentivePrevRow, 0);
    key(Qt::Key_Up);  // nothing above the heading on row 1: row 2 again
    EXPECT_EQ(grid->row(), 2);
    key(Qt::Key_Down);
    EXPECT_EQ(grid->row(), 3);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(grid->row(), 5);
    key(Qt::Key_Down);  // onto the heading on row 6
    EXPECT_EQ(grid->row(), 7);
    key(Qt::Key_Up);  // back up over it
    EXPECT_EQ(grid->row(), 5);
    key(Qt::Key_Down);
    EXPECT_EQ(grid->row(), 7);
    // The last row is a heading: moving down onto it keeps row 7, and nothing breaks.
    key(Qt::Key_Down);
    EXPECT_EQ(grid->row(), 7);
    key(Qt::Key_Up);
    EXPECT_EQ(grid->row(), 5);
    // Two quick keys over a heading: the second starts from the row the first one landed on.
    key(Qt::Key_Down);
    EXPECT_EQ(grid->row(), 7);
    QTest::keyClick(grid, Qt::Key_Up);
    QTest::keyClick(grid, Qt::Key_Up);
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->row(), 4);
    // A click on a heading row is refused and moves past it too.
    grid->setCurrentCell(2, 8);
    QCoreApplication::processEvents();
    EXPECT_NE(grid->row(), 8);
    EXPECT_FALSE(page.isHeadingRow(grid->row()));
}

TEST(ServicesPage, ConsecutiveHeadingsAndAHeadingOnlyGrid) {
    MainState state;
    ServicesPage page(state);
    page.setupIncentiveGrid({{QStringLiteral("-Page"), QString(), 0},
                             {QStringLiteral("-One"), QString(), 0},
                             {QStringLiteral("-Two"), QString(), 0},
                             {QStringLiteral("Ground"), QStringLiteral("GRD"), 8},
                             {QStringLiteral("-Three"), QString(), 0},
                             {QStringLiteral("-Four"), QString(), 0}});
    page.resize(520, 300);
    page.show();
    QCoreApplication::processEvents();
    StringGrid* grid = page.incentiveGrid();
    EXPECT_EQ(grid->row(), 3);  // rows 1 and 2 are headings
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->row(), 3);
    QTest::keyClick(grid, Qt::Key_Up);
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->row(), 3);

    // Nothing but headings: no row can be selected, no endless back and forth.
    page.setupIncentiveGrid({{QStringLiteral("-Page"), QString(), 0},
                             {QStringLiteral("-One"), QString(), 0},
                             {QStringLiteral("-Two"), QString(), 0}});
    page.tbsServicesShow();
    QCoreApplication::processEvents();
    EXPECT_FALSE(grid->setCurrentCell(1, 2));
}

TEST(ServicesPage, MoreServiceRowsThanFitScrollAndTheBoxesFollow) {
    MainState state;
    ServicesPage page(state);
    std::vector<ServiceRecord> records{{QStringLiteral("-Services"), QString(), 0}};
    for (int i = 1; i <= 60; ++i)
        records.push_back({QStringLiteral("Service %1").arg(i), QStringLiteral("S%1").arg(i), i});
    records.push_back({QStringLiteral("-Trailing"), QString(), 0});
    page.setupIncentiveGrid(records);
    page.resize(520, 300);
    page.show();
    QCoreApplication::processEvents();
    StringGrid* grid = page.incentiveGrid();
    ASSERT_EQ(grid->rowCount(), 62);
    EXPECT_TRUE(page.primaryBox(1)->isVisible());
    EXPECT_FALSE(page.primaryBox(60)->isVisible());
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->row(), 60);  // the trailing heading is passed over
    EXPECT_GT(grid->topRow(), 1);
    const QRect cell = grid->cellRect(0, 60);
    EXPECT_TRUE(page.primaryBox(60)->isVisible());
    EXPECT_EQ(page.primaryBox(60)->pos(), QPoint(cell.x() + cell.width() - 19, cell.y() + 3));
    EXPECT_FALSE(page.primaryBox(1)->isVisible());
    grid->scrollToTop();
    QCoreApplication::processEvents();
    EXPECT_TRUE(page.primaryBox(1)->isVisible());
    EXPECT_EQ(page.primaryBox(1)->pos().y(), grid->cellRect(0, 1).y() + 3);
}

TEST_F(ServicesFixture, ShipmentMarkersMultiSingle) {
    BidProfilePage bid(state);
    page.linkBidProfile(&bid);
    std::vector<ShipmentLineInfo> lines;
    page.shipmentLines = [&] { return lines; };
    const int multi = 2, single = 3;

    bid.chbMultiOnly()->setChecked(false);
    EXPECT_FALSE(page.shipmentMarker(multi));
    EXPECT_FALSE(page.shipmentMarker(single));
    lines = {{QStringLiteral("ground "), QStringLiteral("3")}};  // as the service picker lists it
    EXPECT_TRUE(page.shipmentMarker(multi));
    EXPECT_FALSE(page.shipmentMarker(single));
    lines = {{QStringLiteral("GROUND"), QStringLiteral("1")}, {QStringLiteral("Ground"), QStringLiteral("4")}};
    EXPECT_FALSE(page.shipmentMarker(multi));  // the first line with the service decides
    EXPECT_TRUE(page.shipmentMarker(single));

    bid.chbMultiOnly()->setChecked(true);
    EXPECT_TRUE(page.shipmentMarker(multi));
    EXPECT_FALSE(page.shipmentMarker(single));
    lines = {{QStringLiteral("Ground"), QStringLiteral("5")}};
    EXPECT_TRUE(page.shipmentMarker(multi));
    EXPECT_FALSE(page.shipmentMarker(single));
    // Heading rows never carry a marker.
    lines = {{QStringLiteral("Air"), QStringLiteral("1")}};
    EXPECT_FALSE(page.shipmentMarker(6));
}

TEST_F(ServicesFixture, ShipmentMarkersPakPkgAndPlainServices) {
    std::vector<ShipmentLineInfo> lines;
    page.shipmentLines = [&] { return lines; };
    const int pak = 4, letter = 7;
    lines = {{QStringLiteral("Express"), QStringLiteral("1")}};
    EXPECT_FALSE(page.shipmentMarker(pak));
    for (const char* s : {"Express PAK", "express pak", "EXPRESS PKG", "Express Pkg", "eXpReSs pKg"}) {
        lines = {{QStringLiteral("Air Letter"), QStringLiteral("1")}, {QString::fromLatin1(s), QString()}};
        EXPECT_TRUE(page.shipmentMarker(pak)) << s;
        EXPECT_TRUE(page.shipmentMarker(letter)) << s;
    }
    lines = {{QStringLiteral("air letter"), QString()}};
    EXPECT_TRUE(page.shipmentMarker(letter));
    EXPECT_FALSE(page.shipmentMarker(pak));
    // No hook, no markers.
    page.shipmentLines = nullptr;
    EXPECT_FALSE(page.shipmentMarker(letter));
}

TEST_F(ServicesFixture, MarkerIsDrawnRedLeftOfTheBox) {
    page.shipmentLines = [] { return std::vector<ShipmentLineInfo>{{QStringLiteral("Air Letter"), QStringLiteral("1")}}; };
    QHeaderView* labels = grid->verticalHeader();
    const QImage image = labels->grab().toImage();
    const int right = labels->width();
    const int y7 = labels->sectionViewportPosition(6);  // row 7
    const int y2 = labels->sectionViewportPosition(1);  // row 2, no line
    const QColor marked = image.pixelColor(right - 27, y7 + 8);
    EXPECT_EQ(marked, QColor(255, 0, 0));
    EXPECT_NE(image.pixelColor(right - 27, y2 + 8), QColor(255, 0, 0));

    // One painting of the label column reads the shipment lines once, not once per row: the Shipment
    // Data page may hold tens of thousands of lines.
    int reads = 0;
    page.shipmentLines = [&reads] {
        ++reads;
        return std::vector<ShipmentLineInfo>(20000, ShipmentLineInfo{QStringLiteral("Air Letter"), QStringLiteral("1")});
    };
    const QImage again = labels->grab().toImage();
    EXPECT_EQ(again.pixelColor(right - 27, y7 + 8), QColor(255, 0, 0));
    EXPECT_EQ(reads, 1);
    // Outside painting the marker reads the lines as they are now.
    EXPECT_TRUE(page.shipmentMarker(7));
    EXPECT_EQ(reads, 2);
}

TEST_F(ServicesFixture, PenetrationAsksOnlyWithVolumeOnServices8_20_68) {
    BidProfilePage bid(state);
    page.linkBidProfile(&bid);
    bid.show();
    // Each time from no bid type: the questions follow a change of the type.
    auto penetration = [&] {
        bid.rgBidType()->setItemIndex(-1);
        bid.rgBidType()->button(1)->click();
    };

    // Volume only on Economy (code 5): no question, Multi ticked.
    grid->setCell(2, 5, QStringLiteral("30"));
    bid.chbMultiOnly()->setChecked(false);
    penetration();
    EXPECT_TRUE(bid.chbMultiOnly()->isChecked());

    for (int row : {2, 4, 7}) {  // codes 8, 20, 68
        SCOPED_TRACE(row);
        page.ClearGrid();
        grid->setCell(row == 4 ? 1 : 2, row, QStringLiteral("10"));
        EXPECT_TRUE(page.rateOptionCheck());
        test::ScriptedPrompt prompt;
        prompt.answer(Yes, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, QStringLiteral("Does this customer currently have access to Single Piece Billing?"));
            EXPECT_EQ(r.caption, QStringLiteral("Rate Options"));
            EXPECT_EQ(r.icon, PromptIcon::Question);
            EXPECT_EQ(r.buttons, Yes | No);
            EXPECT_EQ(r.defaultButton, No);
        });
        prompt.answer(No, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, QStringLiteral("Do you wish ground shipments to be priced as MULTI PIECE ONLY?"));
            EXPECT_EQ(r.caption, QStringLiteral("Rate Options"));
            EXPECT_EQ(r.icon, PromptIcon::Question);
            EXPECT_EQ(r.buttons, Yes | No);
            EXPECT_EQ(r.defaultButton, Yes);
        });
        penetration();
        EXPECT_FALSE(bid.chbMultiOnly()->isChecked());
    }
    {
        test::ScriptedPrompt prompt;
        prompt.answer(Yes).answer(Yes);
        penetration();
        EXPECT_TRUE(bid.chbMultiOnly()->isChecked());
    }
    {
        bid.chbMultiOnly()->setChecked(false);
        test::ScriptedPrompt prompt;
        prompt.answer(No);  // no Single Piece Billing: Multi stays ticked, no second question
        penetration();
        EXPECT_TRUE(bid.chbMultiOnly()->isChecked());
    }
    {
        // While a bid is loaded the click asks nothing and changes nothing.
        bid.chbMultiOnly()->setChecked(false);
        state.FLoading = true;
        penetration();
        EXPECT_FALSE(bid.chbMultiOnly()->isChecked());
        state.FLoading = false;
    }
    // Volumes that cancel out count as none.
    page.ClearGrid();
    grid->setCell(1, 2, QStringLiteral("5"));
    grid->setCell(2, 2, QStringLiteral("-5"));
    EXPECT_FALSE(page.rateOptionCheck());
}

TEST_F(ServicesFixture, ClearGridKeepsHeadingDashesAndUnticksBoxes) {
    BidProfilePage bid(state);
    page.linkBidProfile(&bid);
    bid.chbMultiOnly()->setChecked(false);
    grid->setCell(1, 2, QStringLiteral("5"));
    grid->setCell(3, 2, QStringLiteral("5"));
    page.primaryBox(2)->setChecked(true);
    page.primaryBox(7)->setChecked(true);
    page.ClearGrid();
    EXPECT_EQ(grid->cell(1, 2), QString());
    EXPECT_EQ(grid->cell(3, 2), QString());
    EXPECT_FALSE(page.primaryBox(2)->isChecked());
    EXPECT_FALSE(page.primaryBox(7)->isChecked());
    for (int c = 1; c <= 3; ++c) {
        EXPECT_EQ(grid->cell(c, 1), kDashes);
        EXPECT_EQ(grid->cell(c, 8), kDashes);
    }
    EXPECT_EQ(grid->cell(0, 2), QStringLiteral("   Ground Multi"));
    EXPECT_EQ(grid->cell(1, 0), QStringLiteral(" Other Volume"));
    EXPECT_TRUE(bid.chbMultiOnly()->isChecked());
}

TEST(ServicesPage, BuiltFromTheServicesTableOfTheDataFolder) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    MainState state;
    state.FProgramFolder = tmp.path();
    state.FDataFolder = test::makeDataFolder(tmp.path());
    state.DataContext = ta::OpenData();
    ServicesPage page(state);
    page.setupIncentiveGrid();
    ta::CloseData(state.DataContext);
    StringGrid* grid = page.incentiveGrid();
    ASSERT_EQ(grid->rowCount(), 15);
    EXPECT_EQ(grid->cell(0, 0), QStringLiteral("Domestic Services") + QString(29, QLatin1Char(' ')) + QStringLiteral("Primary?"));
    EXPECT_EQ(grid->cell(1, 0), QStringLiteral(" Other Volume"));  // a heading on row 0 keeps the column headers
    EXPECT_EQ(grid->cell(0, 1), QStringLiteral("   Ground Multi"));
    EXPECT_EQ(page.dbfField(1), QStringLiteral("gndm"));
    EXPECT_EQ(page.svcCode(1), 20);
    EXPECT_EQ(page.svcCode(2), 68);
    EXPECT_EQ(page.svcCode(3), 8);
    EXPECT_EQ(grid->cell(0, 7), QStringLiteral("Transborder Services"));
    EXPECT_EQ(grid->cell(1, 7), kDashes);
    EXPECT_EQ(grid->cell(0, 11), QStringLiteral("   WW Express PAK"));
    EXPECT_EQ(grid->cell(0, 12), QStringLiteral("   WW Express Letter"));  // WW Express Pkg took no row
    EXPECT_EQ(page.dbfField(14), QStringLiteral("auto_gen"));
    EXPECT_FALSE(page.primaryBoxAllowed(2));  // Ground Single
    EXPECT_FALSE(page.primaryBoxAllowed(3));  // Economy Ground
    EXPECT_TRUE(page.primaryBoxAllowed(1));
    grid->setCell(2, 3, QStringLiteral("12"));  // volume on service code 8
    EXPECT_TRUE(page.rateOptionCheck());
}

TEST(ServicesPage, MissingServicesTableGivesTheEmptyGrid) {
    QTemporaryDir tmp;
    MainState state;
    state.FDataFolder = tmp.path() + QStringLiteral("/nowhere");
    state.DataContext = ta::OpenData();
    auto previous = ta::setErrorHandler([](const QString&, const QString&) {});
    ServicesPage page(state);
    page.setupIncentiveGrid();
    ta::setErrorHandler(previous);
    ta::CloseData(state.DataContext);
    EXPECT_EQ(page.incentiveGrid()->rowCount(), 2);
    EXPECT_EQ(page.incentiveGrid()->cell(0, 0), QString(29, QLatin1Char(' ')) + QStringLiteral("Primary?"));
}

TEST_F(ServicesFixture, PastedNegativeVolumeDoesNotLockTheRow) {
    grid->setCurrentCell(1, 2, true);
    grid->openEditor();
    ASSERT_NE(grid->editor(), nullptr);
    grid->editor()->setText(QStringLiteral("-5"));  // a signed whole number converts
    grid->closeEditor(true);
    EXPECT_EQ(grid->cell(1, 2), QStringLiteral("-5"));
    EXPECT_EQ(grid->cell(3, 2), QStringLiteral("-5"));
    grid->setCurrentCell(1, 4, true);
    // The row can still be selected and corrected.
    EXPECT_TRUE(grid->setCurrentCell(1, 2));
    grid->openEditor();
    ASSERT_NE(grid->editor(), nullptr);
    grid->editor()->setText(QStringLiteral("5"));
    grid->closeEditor(true);
    EXPECT_EQ(grid->cell(1, 2), QStringLiteral("5"));
    // Clearing the grid empties it like any volume.
    page.ClearGrid();
    EXPECT_EQ(grid->cell(1, 2), QString());
}

TEST(ServicesPage, ShowingThePageStartsAtRowOneColumnOne) {
    MainState state;
    QTabWidget tabs;
    auto* other = new QWidget;
    auto* page = new ServicesPage(state);
    page->setupIncentiveGrid(sampleServices());
    tabs.addTab(other, QStringLiteral(" Main "));
    tabs.addTab(page, QStringLiteral("  Services  "));
    tabs.resize(520, 400);
    tabs.show();
    tabs.setCurrentWidget(page);
    QCoreApplication::processEvents();
    StringGrid* grid = page->incentiveGrid();
    EXPECT_EQ(grid->row(), 2);  // row 1 is a heading
    grid->setCurrentCell(3, 7, true);
    page->FIncentivePrevRow = 7;
    tabs.setCurrentWidget(other);
    tabs.setCurrentWidget(page);
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->row(), 2);
    EXPECT_EQ(grid->col(), 1);
    EXPECT_EQ(page->FIncentivePrevRow, 0);
}

TEST(ServicesPage, FindsItsNeighboursInTheWindowWhenNotWired) {
    MainState state;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* page = new ServicesPage(state, &window);
    auto* bid = new BidProfilePage(state, &window);
    auto* shipmentGrid = new StringGrid(&window);
    shipmentGrid->setObjectName(QStringLiteral("ShipmentGrid"));
    shipmentGrid->setColCount(13);
    shipmentGrid->setRowCount(31);
    layout->addWidget(page);
    layout->addWidget(bid);
    layout->addWidget(shipmentGrid);
    page->setupIncentiveGrid(sampleServices());
    window.show();
    QCoreApplication::processEvents();
    // Markers read the window's shipment grid: Service in column 1, TotPcs in column 2.
    EXPECT_FALSE(page->shipmentMarker(7));
    shipmentGrid->setCell(1, 3, QStringLiteral("Air Letter"));
    EXPECT_TRUE(page->shipmentMarker(7));
    shipmentGrid->setCell(1, 1, QStringLiteral("Ground"));
    shipmentGrid->setCell(2, 1, QStringLiteral("1"));
    bid->chbMultiOnly()->setChecked(false);
    EXPECT_TRUE(page->shipmentMarker(3));   // the single-piece row
    EXPECT_FALSE(page->shipmentMarker(2));
    // The bid type asks the services grid of the same window.
    page->incentiveGrid()->setCell(2, 7, QStringLiteral("3"));  // service code 68
    test::ScriptedPrompt prompt;
    prompt.answer(No);
    bid->rgBidType()->button(1)->click();
    EXPECT_EQ(prompt.shown().size(), 1u);
    EXPECT_TRUE(bid->chbMultiOnly()->isChecked());
}

// At the default size every label is readable in full beside its marker and box, the boxes sit inside
// the label column, the volume columns are as wide as their headings and numbers need (not stretched
// to the grid's width), the heading rows' dashes start at their column's left edge, and the page
// heading stands over the corner unabridged.
TEST(ServicesPageLayout, LabelsBoxesAndColumnsFitTheirTexts) {
    MainState state;
    ServicesPage page(state);
    page.setupIncentiveGrid(
        {{QStringLiteral("-Canadian Domestic Services"), QString(), 0},
         {QStringLiteral("Ground Multi"), QStringLiteral("GRM"), 20},
         {QStringLiteral("-Transborder Services (Canada to the United States)"), QString(), 0},
         {QStringLiteral("Residential Delivery (general surcharge per package)"), QStringLiteral("RES"), 0},
         {QStringLiteral("Express PAK"), QStringLiteral("EXP"), 2}});
    page.resize(740, 560);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    QCoreApplication::processEvents();
    StringGrid* grid = page.incentiveGrid();
    const QFontMetrics labels(grid->verticalHeader()->font());
    const int labelColumn = grid->colWidth(0);
    for (int r = 1; r < grid->rowCount(); ++r) {
        SCOPED_TRACE(grid->cell(0, r).toStdString());
        const int text = labels.horizontalAdvance(grid->cell(0, r));
        EXPECT_LE(text, labelColumn);
        QCheckBox* box = page.primaryBox(r);
        if (!box->isVisible()) continue;
        const QRect cell = grid->cellRect(0, r);
        EXPECT_GE(box->x(), cell.x() + text) << "the box is right of the label";
        EXPECT_LE(box->x() + box->width(), cell.x() + cell.width()) << "the box is inside its column";
    }
    const QFontMetrics cells(grid->font());
    const QFontMetrics headers(grid->horizontalHeader()->font());
    for (int c = 1; c <= 3; ++c) {
        SCOPED_TRACE(c);
        EXPECT_GE(grid->colWidth(c), headers.horizontalAdvance(grid->cell(c, 0)));
        EXPECT_GE(grid->colWidth(c), cells.horizontalAdvance(QStringLiteral("-2147483648")));
        EXPECT_LT(grid->colWidth(c), 3 * cells.horizontalAdvance(QStringLiteral("-2147483648")))
            << "sized to its numbers, not stretched";
        EXPECT_EQ(grid->gridModel()->cellAlignment(c, 3) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        EXPECT_EQ(grid->gridModel()->cellAlignment(c, 2) & Qt::AlignHorizontal_Mask, Qt::AlignLeft)
            << "dashes";
    }
    EXPECT_FALSE(grid->horizontalHeader()->stretchLastSection());
    auto* heading = page.findChild<QLabel*>(QStringLiteral("lblServicesHeading"));
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->text(), QStringLiteral("Canadian Domestic Services"));
}

// Numbers are shown whole: a volume, rate, weight or cube wider than its column widens the column
// instead of being cut or shown with an ellipsis ("3....").
TEST(NumbersShownWhole, ColumnsWidenToTheirNumbers) {
    MainState state;
    ServicesPage services(state);
    services.setupIncentiveGrid(sampleServices());
    ShipmentPage shipment(state);
    CubePage cube(state);
    struct Case {
        QWidget* page;
        StringGrid* grid;
        int col;
        const char* text;
    };
    StringGrid* cubeGrid = cube.findChild<StringGrid*>(QStringLiteral("CubeGrid"));
    const Case cases[] = {
        {&services, services.incentiveGrid(), 2, "21474836470000"},
        {&shipment, shipment.shipmentGrid(), ShipmentPage::ColCmpRate, "3.333333333"},
        {&shipment, shipment.shipmentGrid(), ShipmentPage::ColTotCmp, "12345678.90"},
        {&shipment, shipment.shipmentGrid(), ShipmentPage::ColTotWgt, "123456.789"},
        {&cube, cubeGrid, 1, "1234.333333333333"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_NE(c.grid, nullptr);
        c.page->resize(740, 560);
        c.page->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(c.page));
        const QFontMetrics fm(c.grid->font());
        const int needed = fm.horizontalAdvance(QString::fromLatin1(c.text));
        ASSERT_GT(needed, c.grid->colWidth(c.col) - 4) << "the number starts wider than its column";
        c.grid->setCell(c.col, 2, QString::fromLatin1(c.text));
        c.grid->scrollTo(c.grid->model()->index(1, c.col - 1));  // in view, as when the user goes there
        c.grid->grab();                                          // painted as on screen
        QCoreApplication::processEvents();
        EXPECT_GE(c.grid->colWidth(c.col), needed + 4);
        c.page->hide();
    }
}
