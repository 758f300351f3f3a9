// Numbers in tables are written and read with '.' whatever the process's C locale: a Qt program takes
// the user's locale, and a French or German desktop makes the C library's printf and strtod use ','.
#include "tableaccess/xbase/numtext.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/dbf.h"
#include "tableaccess/xbase/testhelpers_test.h"

namespace {

using namespace xbtest;

// Runs the test body in a locale whose decimal separator is ','. scripts/install-deps generates
// fr_CA.UTF-8, so the test runs wherever the test command installed what it needs.
class CommaLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = std::setlocale(LC_ALL, nullptr);
        // Linux's names, then Windows' (its C library names locales by language and country).
        for (const char* name : {"fr_CA.UTF-8", "fr_CA.utf8", "de_DE.UTF-8", "fr_FR.UTF-8",
                                 "French_Canada.1252", "French_France.1252"})
            if (std::setlocale(LC_ALL, name)) return;
        GTEST_SKIP() << "no locale with a decimal comma is installed (scripts/install-deps makes fr_CA.UTF-8)";
    }
    void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

  private:
    std::string saved_;
};

TEST_F(CommaLocale, TextAndNumbersConvertWithAPoint) {
    ASSERT_EQ(std::localeconv()->decimal_point[0], ',');  // the C library itself would write "1,5"

    struct Parse {
        const char* text;
        size_t used;
        double value;
    };
    for (const Parse& p : {Parse{"12.5", 4, 12.5}, Parse{"-0.25xyz", 5, -0.25}, Parse{"+7", 2, 7},
                           Parse{".5", 2, 0.5}, Parse{"1e3", 3, 1000}, Parse{"12,5", 2, 12},
                           Parse{"", 0, 0}, Parse{"-", 0, 0}, Parse{"+-1", 0, 0}, Parse{"abc", 0, 0},
                           Parse{"1e999", 5, HUGE_VAL}, Parse{"-1e999", 6, -HUGE_VAL},
                           Parse{"1e-999", 6, 0}, Parse{"0.000e400", 9, 0}}) {
        double v = -1;
        EXPECT_EQ(xb::num::parsePrefix(p.text, v), p.used) << p.text;
        EXPECT_EQ(v, p.value) << p.text;
    }
    double v = 0;
    EXPECT_TRUE(xb::num::parseAll("3.25", v));
    EXPECT_FALSE(xb::num::parseAll("3,25", v));
    EXPECT_FALSE(xb::num::parseAll("3.25 ", v));

    EXPECT_EQ(xb::num::fixed(78605.871, 3), "78605.871");
    EXPECT_EQ(xb::num::fixed(-0.5, 0), "-0");  // as printf: rounded to even on the exact binary value
    EXPECT_EQ(xb::num::fixed(2.675, 2), "2.67");  // 2.675 is 2.67499999... in binary
    EXPECT_EQ(xb::num::general(0.1, 17), "0.10000000000000001");
    EXPECT_EQ(xb::num::general(1234.5, 15), "1234.5");
}

// A table written and read in that locale: the file holds '.', numbers read back, a numeric tag and a
// STR() tag find what was written.
TEST_F(CommaLocale, TablesStoreReadAndIndexNumbersWithAPoint) {
    TempDir dir;
    std::string err;
    auto t = xb::Table::create(dir.file("amounts.dbf"),
                               {{"AMOUNT", 'N', 10, 3}, {"RATE", 'F', 12, 4}, {"NAME", 'C', 10}},
                               xb::Format::Fox2, 0x03, err);
    ASSERT_TRUE(t) << err;
    ASSERT_TRUE(t->createIndex({{"AMOUNT", "AMOUNT", "", false, false}, {"AMTEXT", "STR(AMOUNT,10,2)", "", false, false}}))
        << t->error();
    const double values[] = {12.345, -0.5, 78605.871, 3.0};
    for (double value : values) {
        ASSERT_TRUE(t->appendBlank()) << t->error();
        ASSERT_TRUE(t->setDouble(0, value)) << t->error();
        ASSERT_TRUE(t->setText(1, " 2.5 ")) << t->error();
        ASSERT_TRUE(t->setText(2, "x")) << t->error();
    }
    ASSERT_TRUE(t->flush()) << t->error();
    ASSERT_TRUE(t->go(3));
    EXPECT_EQ(t->getText(0), " 78605.871");
    EXPECT_EQ(t->getText(1), "      2.5000");
    EXPECT_DOUBLE_EQ(t->getDouble(0), 78605.871);
    EXPECT_DOUBLE_EQ(t->getDouble(1), 2.5);
    EXPECT_FALSE(t->setText(0, "1,5"));  // a comma is not a decimal point in a table

    ASSERT_TRUE(t->selectTag("amtext"));
    ASSERT_TRUE(t->seek("  78605.87")) << t->error();
    EXPECT_EQ(t->recno(), 3u);
    ASSERT_TRUE(t->selectTag("amount"));
    ASSERT_TRUE(t->seek("-0.5")) << t->error();  // a numeric tag takes the value as text
    EXPECT_EQ(t->recno(), 2u);
    t.reset();

    const std::string bytes = readBytes(dir.file("amounts.dbf"));
    EXPECT_NE(bytes.find(" 78605.871"), std::string::npos);
    EXPECT_EQ(bytes.find("78605,871"), std::string::npos);
}

}  // namespace
