#include "widgets/stringgrid.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <set>

#include "widgets/stringgridmodel.h"

using tarvik::StringGrid;

namespace {

// A shown grid of 4 columns (fixed one included) and 4 rows, current cell (1, 1).
struct GridFixture : ::testing::Test {
    StringGrid grid;
    QStringList log;

    void SetUp() override {
        grid.setColCount(4);
        grid.setRowCount(4);
        grid.setEditable(true);
        grid.resize(500, 300);
        grid.show();
        grid.activateWindow();
        grid.setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
        grid.setCurrentCell(1, 1);
    }

    void type(const QString& text) {
        for (QChar c : text) {
            QWidget* target = grid.editor() ? static_cast<QWidget*>(grid.editor()) : &grid;
            QTest::keyClick(target, c.toLatin1());
        }
    }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QWidget* target = grid.editor() ? static_cast<QWidget*>(grid.editor()) : &grid;
        QTest::keyClick(target, k, m);
    }
};

TEST_F(GridFixture, SizeChangesKeepCellsAndFixedCellsAreTheHeaders) {
    grid.setCell(1, 0, "Service");
    grid.setCell(0, 2, "2");
    grid.setCell(3, 3, "kept");
    grid.setCell(2, 1, "one");
    grid.setColCount(6);
    grid.setRowCount(10);
    EXPECT_EQ(grid.colCount(), 6);
    EXPECT_EQ(grid.rowCount(), 10);
    EXPECT_EQ(grid.cell(3, 3), "kept");
    EXPECT_EQ(grid.cell(2, 1), "one");
    EXPECT_EQ(grid.model()->headerData(0, Qt::Horizontal).toString(), "Service");
    EXPECT_EQ(grid.model()->headerData(1, Qt::Vertical).toString(), "2");
    EXPECT_EQ(grid.model()->rowCount(), 9);
    EXPECT_EQ(grid.model()->columnCount(), 5);
    grid.setRowCount(3);
    EXPECT_EQ(grid.cell(3, 3), "");  // gone with its row
    EXPECT_EQ(grid.cell(2, 1), "one");
    grid.setRowCount(5);
    EXPECT_EQ(grid.cell(3, 3), "");  // a regrown row starts empty
    EXPECT_EQ(grid.cell(99, 99), "");
}

TEST_F(GridFixture, TypingOpensTheEditorOverTheCellAndHooksFireInOrder) {
    grid.setCell(1, 1, "old");
    grid.editTextRequested = [&](int c, int r) { log << QString("request %1,%2 '%3'").arg(c).arg(r).arg(grid.cell(c, r)); };
    grid.keyPress = [&](QChar& ch) { log << QString("press %1").arg(ch); };
    grid.keyDown = [&](int k, Qt::KeyboardModifiers) { log << QString("down %1").arg(k); };
    grid.editTextChanged = [&](int c, int r, const QString& t) {
        log << QString("changed %1,%2 '%3' cell '%4'").arg(c).arg(r).arg(t, grid.cell(c, r));
    };
    type("ab");
    ASSERT_TRUE(grid.isEditing());
    EXPECT_EQ(grid.editor()->text(), "ab");
    EXPECT_EQ(grid.cell(1, 1), "ab");
    const QStringList expected{
        QString("down %1").arg(int(Qt::Key_A)), "press a", "request 1,1 'old'", "changed 1,1 'a' cell 'a'",
        QString("down %1").arg(int(Qt::Key_B)), "press b", "changed 1,1 'ab' cell 'ab'",
    };
    EXPECT_EQ(log, expected);
    key(Qt::Key_Backspace);
    EXPECT_EQ(grid.cell(1, 1), "a");
    key(Qt::Key_Return);
    EXPECT_FALSE(grid.isEditing());
    EXPECT_EQ(grid.cell(1, 1), "a");
}

TEST_F(GridFixture, KeyPressHookDiscardsAndRewritesCharacters) {
    grid.keyPress = [](QChar& ch) {
        if (ch.isDigit()) ch = QChar();  // digits refused
        else ch = ch.toUpper();
    };
    type("1");
    EXPECT_FALSE(grid.isEditing()) << "a discarded key opens no editor";
    EXPECT_EQ(grid.cell(1, 1), "");
    type("a2b");
    ASSERT_TRUE(grid.isEditing());
    EXPECT_EQ(grid.cell(1, 1), "AB");
    EXPECT_EQ(grid.editor()->text(), "AB");
}

TEST_F(GridFixture, EscapePutsBackTheTextTheEditorOpenedWith) {
    grid.setCell(2, 2, "keep");
    grid.setCurrentCell(2, 2);
    QStringList changes;
    grid.editTextChanged = [&](int, int, const QString& t) { changes << t; };
    key(Qt::Key_F2);
    ASSERT_TRUE(grid.isEditing());
    EXPECT_EQ(grid.editor()->text(), "keep");
    key(Qt::Key_End);
    type("er");
    EXPECT_EQ(grid.cell(2, 2), "keeper");
    key(Qt::Key_Escape);
    EXPECT_FALSE(grid.isEditing());
    EXPECT_EQ(grid.cell(2, 2), "keep");
    EXPECT_EQ(changes, (QStringList{"keepe", "keeper", "keep"}));
}

TEST_F(GridFixture, CanSelectCellRefusesMovesByKeyClickAndCall) {
    grid.canSelectCell = [&](int c, int r) {
        log << QString("%1,%2").arg(c).arg(r);
        return c != 2;
    };
    key(Qt::Key_Right);
    EXPECT_EQ(grid.col(), 1) << "column 2 is refused";
    key(Qt::Key_Down);
    EXPECT_EQ(grid.row(), 2);
    EXPECT_EQ(grid.col(), 1);
    EXPECT_FALSE(grid.setCurrentCell(2, 3));
    EXPECT_EQ(grid.row(), 2);
    EXPECT_TRUE(grid.setCurrentCell(3, 3));
    EXPECT_EQ(grid.col(), 3);
    const QRect r = grid.cellRect(2, 1);
    ASSERT_FALSE(r.isEmpty());
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    EXPECT_EQ(grid.col(), 3);
    EXPECT_EQ(grid.row(), 3);
    EXPECT_TRUE(grid.setCurrentCell(2, 1, true)) << "force skips the question";
    EXPECT_EQ(grid.col(), 2);
    EXPECT_EQ(log, (QStringList{"2,1", "1,2", "2,3", "3,3", "2,1"}));
}

TEST_F(GridFixture, TabMovesAlongTheRowSkipsHiddenColumnsAndStopsAtTheEnd) {
    grid.setTabMovesBetweenCells(true);
    grid.setColHiddenInGrid(2, true);
    key(Qt::Key_Tab);
    EXPECT_EQ(grid.col(), 3);
    key(Qt::Key_Tab);
    EXPECT_EQ(grid.col(), 1);
    EXPECT_EQ(grid.row(), 2);
    key(Qt::Key_Backtab);
    EXPECT_EQ(grid.col(), 3);
    EXPECT_EQ(grid.row(), 1);
    // Tab from an open editor keeps the text and moves on.
    grid.setCurrentCell(1, 3);
    type("x");
    ASSERT_TRUE(grid.isEditing());
    key(Qt::Key_Tab);
    EXPECT_FALSE(grid.isEditing());
    EXPECT_EQ(grid.cell(1, 3), "x");
    EXPECT_EQ(grid.col(), 3);
    key(Qt::Key_Tab);  // last cell of the last row
    EXPECT_EQ(grid.col(), 3);
    EXPECT_EQ(grid.row(), 3);
}

TEST_F(GridFixture, RowsGrowFromTheChangeHookWhileEditingTheLastRow) {
    grid.setRowCount(2);
    grid.editTextChanged = [&](int, int r, const QString&) {
        if (r == grid.rowCount() - 1) grid.setRowCount(grid.rowCount() + 1);
    };
    type("abc");
    EXPECT_EQ(grid.rowCount(), 3) << "only the first change of the last row adds one";
    ASSERT_TRUE(grid.isEditing());
    EXPECT_EQ(grid.cell(1, 1), "abc");
    key(Qt::Key_Down);
    EXPECT_FALSE(grid.isEditing());
    EXPECT_EQ(grid.row(), 2);
    type("z");
    EXPECT_EQ(grid.rowCount(), 4);
    EXPECT_EQ(grid.cell(1, 2), "z");
}

TEST_F(GridFixture, HookChangingTheEditedCellShowsInTheEditor) {
    grid.editTextChanged = [&](int c, int r, const QString& t) {
        if (t != "ok") grid.setCell(c, r, "");
    };
    type("q");
    ASSERT_TRUE(grid.isEditing());
    EXPECT_EQ(grid.editor()->text(), "");
    EXPECT_EQ(grid.cell(1, 1), "");
}

TEST_F(GridFixture, ReadOnlyColumnsAndRowSelectionRefuseEditing) {
    grid.setColumnReadOnly(1, true);
    QStringList presses;
    grid.keyPress = [&](QChar& ch) { presses << ch; };
    type("a");
    EXPECT_FALSE(grid.isEditing());
    EXPECT_EQ(grid.cell(1, 1), "");
    EXPECT_EQ(presses, QStringList{"a"}) << "the hook still sees the key";
    grid.setCurrentCell(2, 1);
    grid.setRowSelect(true);
    type("b");
    EXPECT_FALSE(grid.isEditing());
    key(Qt::Key_F2);
    EXPECT_FALSE(grid.isEditing());
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, grid.cellRect(2, 1).center());
    EXPECT_FALSE(grid.isEditing());
    EXPECT_TRUE(grid.selectionModel()->isRowSelected(0, QModelIndex()));
    key(Qt::Key_Down);
    EXPECT_TRUE(grid.selectionModel()->isRowSelected(1, QModelIndex()));
    EXPECT_FALSE(grid.selectionModel()->isRowSelected(0, QModelIndex()));
}

TEST_F(GridFixture, AlignmentColourAndDrawHook) {
    grid.setColumnAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    grid.setCellAlignment(2, 2, Qt::AlignCenter);
    grid.setCellColor(3, 1, Qt::red, Qt::yellow);
    auto* m = grid.model();
    EXPECT_EQ(m->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(m->index(1, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
    EXPECT_EQ(m->index(0, 2).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    EXPECT_EQ(m->index(0, 2).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow));
    grid.clearCellColors();
    EXPECT_FALSE(m->index(0, 2).data(Qt::BackgroundRole).isValid());

    std::set<std::pair<int, int>> drawn;
    grid.drawCell = [&](QPainter*, int c, int r, const QRect&) { drawn.insert({c, r}); };
    grid.setCell(1, 0, "head");
    grid.setCell(0, 1, "1");
    grid.viewport()->repaint();
    grid.horizontalHeader()->viewport()->repaint();
    grid.verticalHeader()->viewport()->repaint();
    EXPECT_TRUE(drawn.count({2, 2}));
    EXPECT_TRUE(drawn.count({1, 0})) << "fixed row";
    EXPECT_TRUE(drawn.count({0, 1})) << "fixed column";
    drawn.clear();
    grid.setColHiddenInGrid(0, true);
    EXPECT_TRUE(grid.isColHiddenInGrid(0));
    EXPECT_TRUE(grid.cellRect(0, 1).isEmpty());
}

TEST_F(GridFixture, SixtyFiveThousandRowsStayUsable) {
    const int rows = 65537;  // 65,536 data rows
    grid.beginUpdate();
    grid.setRowCount(rows);
    for (int r = 1; r < rows; ++r) {
        grid.setCell(0, r, QString::number(r));
        grid.setCell(1, r, QString("line %1").arg(r));
    }
    grid.endUpdate();
    EXPECT_EQ(grid.rowCount(), rows);
    EXPECT_EQ(grid.cell(1, 65536), "line 65536");
    EXPECT_EQ(grid.model()->headerData(65535, Qt::Vertical).toString(), "65536");
    ASSERT_TRUE(grid.setCurrentCell(1, 65536));
    key(Qt::Key_Up);
    EXPECT_EQ(grid.row(), 65535);
    key(Qt::Key_Down);
    grid.scrollTo(grid.currentIndex());
    EXPECT_TRUE(grid.isCellFullyVisible(1, 65536));
    EXPECT_GT(grid.topRow(), 60000);
    type("x");
    EXPECT_EQ(grid.cell(1, 65536), "x");
    grid.gridModel()->swapRows(1, 65536);
    EXPECT_EQ(grid.cell(1, 1), "x");
    EXPECT_EQ(grid.cell(0, 1), "65536");
    EXPECT_EQ(grid.cell(1, 65536), "line 1");
}

TEST_F(GridFixture, EditorLengthLimitAndScrollHook) {
    grid.setEditorMaxLength(3);
    type("abcd");
    EXPECT_EQ(grid.cell(1, 1), "abc");
    key(Qt::Key_Backspace);
    EXPECT_EQ(grid.cell(1, 1), "ab");
    key(Qt::Key_Return);
    int scrolled = 0;
    grid.topLeftChanged = [&] { ++scrolled; };
    grid.setRowCount(500);
    grid.setCurrentCell(1, 400);
    grid.scrollTo(grid.currentIndex());
    EXPECT_GT(scrolled, 0);
}

TEST(StringGridModel, RowInsertRemoveAndBulkNotifications) {
    tarvik::StringGridModel m;
    m.setGridColCount(3);
    m.setGridRowCount(4);
    m.setRowCells(1, {"a0", "a1", "a2"});
    m.setRowCells(2, {"b0", "b1"});
    m.insertGridRow(2);
    EXPECT_EQ(m.gridRowCount(), 5);
    EXPECT_EQ(m.cell(1, 2), "");
    EXPECT_EQ(m.cell(1, 3), "b1");
    EXPECT_EQ(m.cell(2, 3), "");
    m.removeGridRow(1);
    EXPECT_EQ(m.cell(0, 2), "b0");
    int changes = 0;
    QObject::connect(&m, &QAbstractItemModel::dataChanged, [&] { ++changes; });
    m.beginBulkUpdate();
    m.setCell(1, 1, "x");
    m.setCell(2, 1, "y");
    EXPECT_EQ(changes, 0);
    m.endBulkUpdate();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(m.cell(2, 1), "y");
}

}  // namespace
