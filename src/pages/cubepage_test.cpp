#include "pages/cubepage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "pages/choicegroups.h"
#include "widgets/stringgrid.h"

using namespace tarvik;

namespace {

struct CubeFixture : ::testing::Test {
    MainState state;
    CubePage page{state};
    StringGrid* grid = nullptr;
    void SetUp() override {
        grid = page.cubeGrid();
        page.resize(520, 640);
        page.show();
        page.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
        grid->setFocus();
    }
    // Types text into cell (col, row) as the user does, then Enter.
    void type(int col, int row, const QString& text) {
        grid->setCurrentCell(col, row, true);
        for (QChar ch : text) {
            QWidget* target = grid->editor() ? static_cast<QWidget*>(grid->editor()) : grid;
            QTest::keyClick(target, ch.toLatin1());
        }
        if (grid->editor()) QTest::keyClick(grid->editor(), Qt::Key_Return);
    }
    void dims(int row, const char* l, const char* w, const char* h) {
        type(1, row, QString::fromLatin1(l));
        type(2, row, QString::fromLatin1(w));
        type(3, row, QString::fromLatin1(h));
    }
};

}  // namespace

TEST_F(CubeFixture, LayoutHeadersAndLabels) {
    EXPECT_EQ(page.objectName(), QStringLiteral("tbsCubeAnalysis"));
    ASSERT_EQ(grid->rowCount(), 16);
    ASSERT_EQ(grid->colCount(), 7);
    const char* headers[] = {"Length", "Width", "Height", "No Pkgs", "Cube", "Tot. Cube"};
    for (int c = 1; c <= 6; ++c) EXPECT_EQ(grid->cell(c, 0), QLatin1String(headers[c - 1]));
    EXPECT_EQ(grid->cell(0, 1), QStringLiteral("Pkg  # 1"));
    EXPECT_EQ(grid->cell(0, 9), QStringLiteral("Pkg  # 9"));
    EXPECT_EQ(grid->cell(0, 15), QStringLiteral("Pkg  #15"));
    EXPECT_GE(grid->colWidth(0), 54);
    EXPECT_EQ(grid->colWidth(1), grid->colWidth(6));
    EXPECT_GE(grid->height(), 16 * 16 + 19);
    // All 15 package rows and all six columns are in view without scrolling.
    EXPECT_TRUE(grid->isCellFullyVisible(6, 15));
    EXPECT_EQ(grid->topRow(), 1);
    // Showing the page makes row 1, column 1 current.
    EXPECT_EQ(grid->row(), 1);
    EXPECT_EQ(grid->col(), 1);

    EXPECT_TRUE(page.ebxAverageCube()->isReadOnly());
    EXPECT_FALSE(page.ebxAverageCube()->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(page.rgInfoSource()->title(), QStringLiteral(" &Source of Information "));
    EXPECT_EQ(page.rgInfoSource()->items(),
              (QStringList{QStringLiteral("Physical Audit"), QStringLiteral("Verbal from Shipper")}));
    EXPECT_EQ(page.rgBillWeight()->title(), QStringLiteral(" &Entered Billable Weights reflect? "));
    EXPECT_EQ(page.rgBillWeight()->items(), (QStringList{QStringLiteral("Actual"), QStringLiteral("Dimensional")}));
    EXPECT_EQ(page.rgInfoSource()->itemIndex(), -1);
    bool questionFound = false, averageLabel = false;
    for (QLabel* l : page.findChildren<QLabel*>()) {
        if (l->text() == QStringLiteral("What is the percentage of total VYN volume requiring special handling?  "
                                        "Examples are: Over 75 lbs, Over 108 not packaged in a cardboard box."))
            questionFound = true;
        if (l->text() == QStringLiteral("Average Cube") && l->buddy() == page.ebxAverageCube()) averageLabel = true;
    }
    EXPECT_TRUE(questionFound);
    EXPECT_TRUE(averageLabel);
    // The special-handling percentage takes digits and full stops only.
    QTest::keyClicks(page.ebxPercentAH(), QStringLiteral("1a-5,.5"));
    EXPECT_EQ(page.ebxPercentAH()->text(), QStringLiteral("15.5"));
}

TEST_F(CubeFixture, CubesOfKnownBoxes) {
    dims(1, "12", "12", "12");
    EXPECT_EQ(grid->cell(5, 1), QStringLiteral("1.000"));
    EXPECT_EQ(grid->cell(6, 1), QString());
    EXPECT_EQ(page.ebxAverageCube()->text(), QStringLiteral("1.000"));
    type(4, 1, QStringLiteral("3"));
    EXPECT_EQ(grid->cell(6, 1), QStringLiteral("3.000"));
    dims(2, "10", "10", "10");
    EXPECT_EQ(grid->cell(5, 2), QStringLiteral("0.579"));
}

TEST_F(CubeFixture, WeightedAverage) {
    dims(1, "12", "12", "12");
    type(4, 1, QStringLiteral("3"));
    dims(2, "24", "12", "12");  // 2.000, No Pkgs empty counts as 1
    EXPECT_EQ(grid->cell(5, 2), QStringLiteral("2.000"));
    EXPECT_EQ(page.ebxAverageCube()->text(), QStringLiteral("1.250"));
}

TEST_F(CubeFixture, NoPkgsBeforeTheDimensions) {
    type(4, 3, QStringLiteral("2"));
    EXPECT_EQ(grid->cell(5, 3), QString());
    EXPECT_EQ(grid->cell(6, 3), QString());
    type(1, 3, QStringLiteral("12"));
    type(2, 3, QStringLiteral("12"));
    EXPECT_EQ(grid->cell(5, 3), QString());
    EXPECT_EQ(grid->cell(6, 3), QString());
    type(3, 3, QStringLiteral("6"));
    EXPECT_EQ(grid->cell(5, 3), QStringLiteral("0.500"));
    EXPECT_EQ(grid->cell(6, 3), QStringLiteral("1.000"));
}

TEST_F(CubeFixture, FullStopRules) {
    type(1, 1, QStringLiteral("12.5.5"));
    EXPECT_EQ(grid->cell(1, 1), QStringLiteral("12.55"));  // the second "." is refused
    type(4, 1, QStringLiteral("2.5"));
    EXPECT_EQ(grid->cell(4, 1), QStringLiteral("25"));  // no "." in No Pkgs
    type(2, 1, QStringLiteral("a-1,2"));
    EXPECT_EQ(grid->cell(2, 1), QStringLiteral("12"));
}

// Emptying an input empties what was computed from it: Cube and Tot. Cube of the row, and the average
// is computed again from the rows that still have a cube.
TEST_F(CubeFixture, ResultsFollowTheirInputsWhenOneIsEmptied) {
    struct Case {
        int col;  // the cell of row 1 emptied
        const char* cube;
        const char* total;
        const char* average;
    };
    const Case cases[] = {
        {1, "", "", "2.000"},  // a side: row 1 has no cube; the average is row 2's alone
        {2, "", "", "2.000"},
        {3, "", "", "2.000"},
        {4, "1.000", "", "1.500"},  // No Pkgs: no total; row 1 counts once in the average
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.col);
        page.ClearGrid();
        dims(1, "12", "12", "12");
        type(4, 1, QStringLiteral("3"));
        dims(2, "24", "12", "12");
        ASSERT_EQ(page.ebxAverageCube()->text(), QStringLiteral("1.250"));
        grid->setCurrentCell(c.col, 1, true);
        grid->openEditor();
        ASSERT_NE(grid->editor(), nullptr);
        grid->editor()->clear();
        QTest::keyClick(grid->editor(), Qt::Key_Return);
        EXPECT_EQ(grid->cell(c.col, 1), QString());
        EXPECT_EQ(grid->cell(5, 1), QLatin1String(c.cube));
        EXPECT_EQ(grid->cell(6, 1), QLatin1String(c.total));
        EXPECT_EQ(page.ebxAverageCube()->text(), QLatin1String(c.average));
    }
    // The last cube gone, the average goes too.
    page.ClearGrid();
    dims(1, "12", "12", "12");
    grid->setCurrentCell(1, 1, true);
    grid->openEditor();
    grid->editor()->clear();
    QTest::keyClick(grid->editor(), Qt::Key_Return);
    EXPECT_EQ(page.ebxAverageCube()->text(), QString());
}

TEST_F(CubeFixture, ComputedColumnsAndUnconvertibleTextAreSetBack) {
    dims(1, "12", "12", "12");
    type(5, 1, QStringLiteral("7"));
    type(6, 1, QStringLiteral("7"));
    EXPECT_EQ(grid->cell(5, 1), QStringLiteral("1.000"));
    EXPECT_EQ(grid->cell(6, 1), QString());
    // An edit that reaches a computed column anyway is undone.
    page.CubeGridGetEditText(5, 1);
    grid->setCell(5, 1, QStringLiteral("9"));
    page.CubeGridSetEditText(5, 1, QStringLiteral("9"));
    EXPECT_EQ(grid->cell(5, 1), QStringLiteral("1.000"));
    // A pasted text that is no number returns the cell to its old text.
    grid->setCurrentCell(1, 1, true);
    grid->openEditor();
    ASSERT_NE(grid->editor(), nullptr);
    grid->editor()->setText(QStringLiteral("1..2"));
    EXPECT_EQ(grid->cell(1, 1), QStringLiteral("12"));
    grid->editor()->setText(QStringLiteral("24"));
    EXPECT_EQ(grid->cell(5, 1), QStringLiteral("2.000"));
    grid->closeEditor(true);
}

TEST_F(CubeFixture, ClearingEmptiesCellsAndControls) {
    dims(1, "12", "12", "12");
    page.ebxPercentAH()->setText(QStringLiteral("5"));
    page.rgInfoSource()->setItemIndex(1);
    page.rgBillWeight()->setItemIndex(0);
    page.ClearGrid();
    page.clearControls();
    for (int c = 1; c <= 6; ++c) EXPECT_EQ(grid->cell(c, 1), QString());
    EXPECT_EQ(grid->cell(0, 1), QStringLiteral("Pkg  # 1"));
    EXPECT_EQ(grid->cell(5, 0), QStringLiteral("Cube"));
    EXPECT_EQ(page.ebxAverageCube()->text(), QString());
    EXPECT_EQ(page.ebxPercentAH()->text(), QString());
    EXPECT_EQ(page.rgInfoSource()->itemIndex(), -1);
    EXPECT_EQ(page.rgBillWeight()->itemIndex(), -1);
}
