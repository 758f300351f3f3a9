#include "pages/conversions.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

using namespace tarvik;

TEST(TextToDecimal, ConvertsWholeDecimalTextsOnly) {
    EXPECT_DOUBLE_EQ(TextToDecimal(QStringLiteral("12")), 12.0);
    EXPECT_DOUBLE_EQ(TextToDecimal(QStringLiteral("1.5")), 1.5);
    EXPECT_DOUBLE_EQ(TextToDecimal(QStringLiteral(".5")), 0.5);
    EXPECT_DOUBLE_EQ(TextToDecimal(QStringLiteral("12.")), 12.0);
    EXPECT_DOUBLE_EQ(TextToDecimal(QStringLiteral("-3.25")), -3.25);
    EXPECT_DOUBLE_EQ(TextToDecimal(QStringLiteral("+4")), 4.0);
    EXPECT_DOUBLE_EQ(TextToDecimal(QStringLiteral("2e3")), 2000.0);
    EXPECT_DOUBLE_EQ(TextToDecimal(QStringLiteral(" 7 ")), 7.0);
    // Anything that does not convert as a whole counts as 0.
    for (const char* bad : {"", ".", "1.2.3", "12a", "a12", "1,5", "1e", "--1", "e5", "1e999", "inf", "nan", "0x10"})
        EXPECT_DOUBLE_EQ(TextToDecimal(QString::fromLatin1(bad)), 0.0) << bad;
}

TEST(TextToWhole, ThirtyTwoBitRangeAndWholeTextOnly) {
    EXPECT_EQ(TextToWhole(QStringLiteral("12")), 12);
    EXPECT_EQ(TextToWhole(QStringLiteral("-7")), -7);
    EXPECT_EQ(TextToWhole(QStringLiteral("2147483647")), 2147483647);
    EXPECT_EQ(TextToWhole(QStringLiteral("-2147483648")), std::numeric_limits<int>::min());
    EXPECT_EQ(TextToWhole(QStringLiteral("2147483648")), 0);
    EXPECT_EQ(TextToWhole(QStringLiteral("99999999999999999999")), 0);
    EXPECT_EQ(TextToWhole(QStringLiteral("1.5")), 0);
    EXPECT_EQ(TextToWhole(QStringLiteral("3 pieces")), 0);
    EXPECT_EQ(TextToWhole(QStringLiteral("")), 0);
    EXPECT_EQ(TextToWhole(QStringLiteral("-")), 0);
    EXPECT_TRUE(IsWholeText(QStringLiteral("0")));
    EXPECT_FALSE(IsWholeText(QStringLiteral("1e3")));
}

TEST(FormatFixed, DecimalsAndSignificantDigits) {
    EXPECT_EQ(FormatFixed(1000.0 / 1728.0, 3, 8), QStringLiteral("0.579"));
    EXPECT_EQ(FormatFixed(1.0, 3, 8), QStringLiteral("1.000"));
    EXPECT_EQ(FormatFixed(1.25, 3, 8), QStringLiteral("1.250"));
    EXPECT_EQ(FormatFixed(100.0, 0, 10), QStringLiteral("100"));
    EXPECT_EQ(FormatFixed(4294967294.0, 0, 10), QStringLiteral("4294967294"));  // no thousands separators
    EXPECT_EQ(FormatFixed(12.345, 2, 8), QStringLiteral("12.35"));
    // Only 8 significant digits survive: 123456.789 keeps two decimals' worth.
    EXPECT_EQ(FormatFixed(123456.789, 3, 8), QStringLiteral("123456.790"));
    EXPECT_EQ(FormatFixed(-0.0001, 3, 8), QStringLiteral("0.000"));
    // More digits before the point than the precision allows: exponent form.
    EXPECT_EQ(FormatFixed(123456789.0, 3, 8), QStringLiteral("1.2345679E+08"));
}

TEST(NumbersOnlyKeyFilter, DigitsAndFullStopsPassOthersAreDiscarded) {
    QLineEdit edit;
    installNumbersOnlyKeyFilter(&edit);
    QTest::keyClicks(&edit, QStringLiteral("a1-2,b.5..x"));
    EXPECT_EQ(edit.text(), QStringLiteral("12.5.."));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), QStringLiteral("12.5."));
    QChar minus(QLatin1Char('-'));
    ebxNumbersOnlyKeyPress(minus);
    EXPECT_TRUE(minus.isNull());
    QChar tab(QLatin1Char('\t'));
    ebxNumbersOnlyKeyPress(tab);
    EXPECT_EQ(tab, QLatin1Char('\t'));
}
