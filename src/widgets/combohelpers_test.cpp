#include "widgets/combohelpers.h"

#include <gtest/gtest.h>

#include <QComboBox>

using namespace tarvik;

TEST(ComboHelpers, SelectComboTextIsExactAndCaseSensitive) {
    QComboBox c;
    c.addItems({"Apparel", "Retail", "Retail", "retail x"});
    SelectComboText(&c, "Retail");
    EXPECT_EQ(c.currentIndex(), 1) << "the first equal item";
    SelectComboText(&c, "retail");
    EXPECT_EQ(c.currentIndex(), -1) << "letter case counts; a miss clears the selection";
    SelectComboText(&c, "Apparel");
    EXPECT_EQ(c.currentIndex(), 0);
    SelectComboText(&c, "Apparel ");
    EXPECT_EQ(c.currentIndex(), -1) << "no trimming for whole texts";
}

TEST(ComboHelpers, SelectComboPrefixComparesTheTrimmedFirstCharacters) {
    QComboBox c;
    c.addItems({"CAN   - Canada long", "CA      - Canada", "US      - United States"});
    SelectComboPrefix(&c, "CA", 6);
    EXPECT_EQ(c.currentIndex(), 1);
    SelectComboPrefix(&c, "CA    ", 6);
    EXPECT_EQ(c.currentIndex(), 1);
    SelectComboPrefix(&c, "CAN", 6);
    EXPECT_EQ(c.currentIndex(), 0);
    SelectComboPrefix(&c, "ca", 6);
    EXPECT_EQ(c.currentIndex(), -1);
    SelectComboPrefix(&c, "", 6);
    EXPECT_EQ(c.currentIndex(), -1);
    SelectComboPrefix(&c, "US", 2);
    EXPECT_EQ(c.currentIndex(), 2);
}
