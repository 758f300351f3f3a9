#include "widgets/fieldlimit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include "widgets/stringgrid.h"

namespace tarvik {
namespace {

FieldLimit C(int n) {
    return FieldLimit{'C', n, 0};
}
FieldLimit N(int n, int d = 0) {
    return FieldLimit{'N', n, d};
}

// What each kind of field stores whole, at its edge and one past it.
TEST(FieldLimit, ValuesAtTheWidthFitAndOnePastDoNot) {
    struct Case {
        FieldLimit limit;
        const char* text;
        bool fits;
    };
    const Case cases[] = {
        {C(2), "ON", true},
        {C(2), "Ont", false},
        {C(2), "", true},
        {C(40), "1234567890123456789012345678901234567890", true},
        {C(40), "12345678901234567890123456789012345678901", false},
        {N(4), "9999", true},
        {N(4), "12345", false},
        {N(4), "-999", true},
        {N(4), "-1000", false},
        {N(4), "0042", true},   // leading zeros are not written
        {N(4), "12.5", false},  // a whole-number field would round it
        {N(4), "12.0", true},
        {N(4), "  ", true},
        {N(4), "12a", false},
        {N(4), ".", false},
        {N(12, 2), "123456789.12", true},
        {N(12, 2), "1234567890.12", false},
        {N(12, 2), "1.125", false},
        {N(10), "1234567890", true},
        {N(10), "12345678901", false},
        {FieldLimit{'I', 4, 0}, "2147483647", true},
        {FieldLimit{'I', 4, 0}, "2147483648", false},
        {FieldLimit{'M', 10, 0}, "any length at all, a memo keeps it", true},
        {FieldLimit{'L', 1, 0}, "TRUE", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.limit.type) + std::to_string(c.limit.length) + "," +
                     std::to_string(c.limit.decimals) + " \"" + c.text + "\"");
        EXPECT_EQ(FitsField(QString::fromLatin1(c.text), c.limit), c.fits);
        EXPECT_EQ(FieldMisfit(QString::fromLatin1(c.text), c.limit).isEmpty(), c.fits);
    }
    EXPECT_EQ(FieldMisfit(QStringLiteral("Ontario"), C(2)), "7 characters; the field keeps 2");
    EXPECT_EQ(FieldMisfit(QStringLiteral("12345"), N(4)),
              "\"12345\" does not fit; the field keeps whole numbers of up to 4 digits");
    EXPECT_EQ(FieldMisfit(QStringLiteral("1.125"), N(12, 2)),
              "\"1.125\" does not fit; the field keeps numbers of up to 9 digits with 2 decimals");
    EXPECT_EQ(FieldMisfit(QStringLiteral("12a"), N(4)), "\"12a\" is not a number");
}

// Typed and pasted text beyond the field is refused whole, in an edit and in a grid cell's editor; a text
// put there too long by the program can still be shortened.
TEST(FieldLimit, EditsAndGridCellsRefuseTypedAndPastedTextBeyondTheField) {
    QLineEdit edit;
    limitLineEdit(&edit, C(5));
    edit.show();
    edit.setFocus();
    QTest::keyClicks(&edit, QStringLiteral("abcdefg"));
    EXPECT_EQ(edit.text(), "abcde");
    edit.clear();
    QApplication::clipboard()->setText(QStringLiteral("123456"));
    edit.paste();
    EXPECT_EQ(edit.text(), "") << "a paste that would not fit is refused whole, not cut";
    QApplication::clipboard()->setText(QStringLiteral("12345"));
    edit.paste();
    EXPECT_EQ(edit.text(), "12345");
    edit.setText(QStringLiteral("too long already"));
    edit.end(false);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "too long alread");
    QTest::keyClick(&edit, Qt::Key_X);
    EXPECT_EQ(edit.text(), "too long alread") << "but it does not grow again";

    QLineEdit number;
    limitLineEdit(&number, N(4));
    number.show();
    number.setFocus();
    QTest::keyClicks(&number, QStringLiteral("12345"));
    EXPECT_EQ(number.text(), "1234");
    EXPECT_EQ(lineEditLimit(&number).length, 4);
    limitLineEdit(&number, FieldLimit{});
    EXPECT_EQ(number.validator(), nullptr) << "a layout without the field lifts the limit";

    StringGrid grid;
    grid.setColCount(3);
    grid.setRowCount(3);
    grid.setEditable(true);
    grid.cellLimit = [](int col, int) { return col == 1 ? C(3) : N(6, 2); };
    grid.show();
    grid.setCurrentCell(1, 1, true);
    grid.setFocus();
    QTest::keyClicks(&grid, QStringLiteral("abcd"));
    grid.closeEditor(true);
    EXPECT_EQ(grid.cell(1, 1), "abc");
    grid.setCurrentCell(2, 1, true);
    QTest::keyClicks(&grid, QStringLiteral("123.456"));
    grid.closeEditor(true);
    EXPECT_EQ(grid.cell(2, 1), "123.45");
    grid.setCell(1, 2, QStringLiteral("imported"));
    EXPECT_EQ(grid.cell(1, 2), "imported") << "what the program puts into a cell is not cut";
}

}  // namespace
}  // namespace tarvik
