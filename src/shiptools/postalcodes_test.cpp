// Postal and zip code checks against POSTAL and USZIP tables built in a temporary data folder.
#include "shiptools/postalcodes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <map>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "shiptools/shiptools_fixture_test.h"
#include "tableaccess/tableaccess.h"
#include "tableaccess/xbase/dbf.h"
#include "testsupport/scriptedprompt.h"
#include "widgets/stringgrid.h"

namespace tarvik {
namespace {

using P = ShipmentPage;

class PostalCodesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        state_.FDataFolder = dir_.path();
        state_.DataContext = ta::OpenData();
        // Upper-case file names, as delivered; the program names them "Postal" and "USZip".
        test::makeCodeTable(state_.DataContext, dir_.path(), "POSTAL", {{"POSTAL_COD", 6}, {"TOWN", 30}}, "POSTAL",
                            {{"K1A0B1", "OTTAWA"},
                             {"H2X***", "MONTREAL"},
                             {"J0B 10", "SAINT-JEAN"},
                             {"X1A2B3", "YELLOWKNIFE"},
                             {"A1C5M2", "ST. JOHN'S"}});
        test::makeCodeTable(state_.DataContext, dir_.path(), "USZIP", {{"ZIP_CODE", 5}}, "ZIP_CODE",
                            {{"10001"}, {"90210"}});
    }
    void TearDown() override { ta::CloseData(state_.DataContext); }

    int openPostal() { return ta::mOpen(state_.DataContext, state_.tablePath("Postal"), "Postal"); }
    int openZip() { return ta::mOpen(state_.DataContext, state_.tablePath("USZip"), "Zip_Code"); }

    QTemporaryDir dir_;
    MainState state_;
};

TEST_F(PostalCodesTest, PostalCodeFoundByItsThreeKeyForms) {
    const int t = openPostal();
    ASSERT_GT(t, 0);
    EXPECT_TRUE(PostalCodeFound(t, "K1A0B1"));
    EXPECT_TRUE(PostalCodeFound(t, "K1A 0B1"));  // the middle space makes no difference
    EXPECT_EQ(ta::fetch(t, "town"), "OTTAWA");
    // Exact key missing, first three with "***" present.
    EXPECT_TRUE(PostalCodeFound(t, "H2X 1Y4"));
    EXPECT_EQ(ta::fetch(t, "town"), "MONTREAL");
    // First five followed by "0".
    EXPECT_TRUE(PostalCodeFound(t, "J0B 1C0"));
    EXPECT_EQ(ta::fetch(t, "town"), "SAINT-JEAN");
    EXPECT_FALSE(PostalCodeFound(t, "K1A 0B2"));
    EXPECT_FALSE(PostalCodeFound(t, "H2Y 1Y4"));
    // Looked up as it stands: lower case is not found.
    EXPECT_FALSE(PostalCodeFound(t, "k1a 0b1"));
    // An empty code is never valid.
    EXPECT_FALSE(PostalCodeFound(t, ""));
    ta::d4close(t);
}

TEST_F(PostalCodesTest, ZipCodeFoundByItsFirstFiveCharacters) {
    const int t = openZip();
    ASSERT_GT(t, 0);
    EXPECT_TRUE(ZipCodeFound(t, "10001"));
    EXPECT_TRUE(ZipCodeFound(t, "10001-1234"));  // nine digits with a hyphen
    EXPECT_TRUE(ZipCodeFound(t, "902101234"));
    EXPECT_FALSE(ZipCodeFound(t, "1000"));
    EXPECT_FALSE(ZipCodeFound(t, "10002"));
    EXPECT_FALSE(ZipCodeFound(t, ""));
    ta::d4close(t);
}

TEST_F(PostalCodesTest, CheckPostalCodeKeepsTheTownOrShowsItsMessage) {
    test::ScriptedPrompt prompt;
    EXPECT_TRUE(CheckPostalCode(state_, "X1A 2B3"));
    EXPECT_EQ(state_.FLastTown, "YELLOWKNIFE");
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Invalid Postal Code!");
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, Ok);
    });
    EXPECT_FALSE(CheckPostalCode(state_, "Z9Z 9Z9"));
    EXPECT_EQ(state_.FLastTown, "YELLOWKNIFE");  // kept until the next success
    prompt.answer(Ok);
    EXPECT_FALSE(CheckPostalCode(state_, ""));
    EXPECT_EQ(prompt.shown().size(), 2u);
}

TEST_F(PostalCodesTest, CheckZipCodeShowsItsCaptionedMessage) {
    test::ScriptedPrompt prompt;
    EXPECT_TRUE(CheckZipCode(state_, "90210-0001"));
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Invalid Zip Code!");
        EXPECT_EQ(r.caption, "Zip Code LookUp");
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, Ok);
    });
    EXPECT_FALSE(CheckZipCode(state_, "12345"));
}

TEST(PostalText, ProvinceByFirstLetter) {
    const std::vector<std::pair<QString, QString>> expected = {
        {"A", "NF"}, {"B", "NS"}, {"C", "PE"}, {"E", "NB"}, {"G", "PQ"}, {"H", "PQ"}, {"J", "PQ"},
        {"K", "ON"}, {"L", "ON"}, {"M", "ON"}, {"N", "ON"}, {"P", "ON"}, {"R", "MB"}, {"S", "SK"},
        {"T", "AB"}, {"V", "BC"}, {"X", "NT"}, {"Y", "YT"}};
    for (const auto& [letter, province] : expected)
        EXPECT_EQ(ProvinceOfPostalCode(letter + "1A 2B3"), province) << letter.toStdString();
    for (const char* none : {"D1A", "F", "I", "O", "Q", "U", "W", "Z", "1", "k1a 0b1", "", " K1A"})
        EXPECT_EQ(ProvinceOfPostalCode(QString::fromLatin1(none)), "") << none;
}

TEST(PostalText, TitleCaseOnlyAfterSpacesAndOnlyAToZ) {
    EXPECT_EQ(TitleCaseWords("SAINT-JEAN"), "Saint-jean");
    EXPECT_EQ(TitleCaseWords("ST. JOHN'S"), "St. John's");
    EXPECT_EQ(TitleCaseWords("NEW  WESTMINSTER"), "New  Westminster");
    EXPECT_EQ(TitleCaseWords("ottawa"), "Ottawa");
    EXPECT_EQ(TitleCaseWords(""), "");
    // Letters outside A to Z are left as they are.
    EXPECT_EQ(TitleCaseWords(QString::fromUtf8("TROIS-RIVI\xC3\x88RES \xC3\x89" "COLE")),
              QString::fromUtf8("Trois-rivi\xC3\x88res \xC3\x89" "cole"));
    EXPECT_EQ(UpperCaseAZ(QString::fromUtf8("k1a \xC3\xA9z")), QString::fromUtf8("K1A \xC3\xA9Z"));
}

TEST_F(PostalCodesTest, ShipperPostalCodeExitFillsCityAndProvince) {
    test::ScriptedPrompt prompt;
    QWidget page;
    auto* postal = new QLineEdit(&page);
    postal->setObjectName("ebxPostalCode");
    auto* city = new QLineEdit(&page);
    city->setObjectName("ebxCity");
    auto* prov = new QLineEdit(&page);
    prov->setObjectName("ebxProv");
    auto* other = new QLineEdit(&page);
    auto* layout = new QVBoxLayout(&page);
    for (QWidget* w : {static_cast<QWidget*>(postal), static_cast<QWidget*>(city), static_cast<QWidget*>(prov),
                       static_cast<QWidget*>(other)})
        layout->addWidget(w);
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));

    // Six characters in lower case: upper-cased, middle space inserted, then looked up.
    postal->setText("j0b1c0");
    ebxPostalCodeExit(state_, &page);
    EXPECT_EQ(postal->text(), "J0B 1C0");
    EXPECT_EQ(city->text(), "Saint-jean");
    EXPECT_EQ(prov->text(), "PQ");

    // Seven characters: upper-cased only.
    postal->setText("k1a 0b1");
    ebxPostalCodeExit(state_, postal, city, prov);
    EXPECT_EQ(postal->text(), "K1A 0B1");
    EXPECT_EQ(city->text(), "Ottawa");
    EXPECT_EQ(prov->text(), "ON");

    // Unknown: the message, the focus back on the edit, city and province left alone.
    other->setFocus();
    postal->setText("z9z9z9");
    prompt.answer(Ok, [&](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Invalid Postal Code!");
        // Leaving the edit again while the message is up starts no second check.
        ebxPostalCodeExit(state_, postal, city, prov);
    });
    ebxPostalCodeExit(state_, postal, city, prov);
    EXPECT_EQ(postal->text(), "Z9Z 9Z9");
    EXPECT_EQ(city->text(), "Ottawa");
    EXPECT_EQ(prov->text(), "ON");
    EXPECT_TRUE(postal->hasFocus());
}

// A grid of shipment lines: cells by (col, line), lines 1 .. last.
struct Lines {
    std::map<std::pair<int, int>, QString> cells;
    int last = 10;
    void set(int line, int col, const QString& text) { cells[{col, line}] = text; }
    ShipmentCell cell() const {
        return [this](int col, int line) {
            auto it = cells.find({col, line});
            return it == cells.end() ? QString() : it->second;
        };
    }
};

TEST_F(PostalCodesTest, ValidateShipmentCodesListsBothKindsInTheDocumentedForm) {
    Lines lines;
    lines.set(1, P::ColPostal, "K1A 0B1");
    lines.set(1, P::ColCountry, "CA");
    lines.set(3, P::ColPostal, "Z9Z 9Z9");
    lines.set(3, P::ColCountry, "CA");
    lines.set(5, P::ColPostal, "10001-4444");
    lines.set(5, P::ColCountry, "US");
    lines.set(7, P::ColPostal, "99999");
    lines.set(7, P::ColCountry, "US");
    QString message = "stale";
    EXPECT_FALSE(ValidateShipmentCodes(state_, lines.last, lines.cell(), message));
    EXPECT_EQ(message,
              "Invalid Postal Code(s) found: \r\nShip. #3 Z9Z 9Z9\r\n"
              "Invalid Zip Code(s) found: \r\nShip. #7 99999");

    // Only zip failures: no postal heading.
    lines.set(3, P::ColPostal, "H2X 1Y4");
    EXPECT_FALSE(ValidateShipmentCodes(state_, lines.last, lines.cell(), message));
    EXPECT_EQ(message, "Invalid Zip Code(s) found: \r\nShip. #7 99999");

    // All known: true and an empty message.
    lines.set(7, P::ColPostal, "90210");
    EXPECT_TRUE(ValidateShipmentCodes(state_, lines.last, lines.cell(), message));
    EXPECT_EQ(message, "");
}

TEST_F(PostalCodesTest, ValidateShipmentCodesChecksOriginAndExpressRules) {
    Lines lines;
    // A CA line whose From Post. is filled: both codes checked, both failures on line 2.
    lines.set(2, P::ColPostal, "A0A 0A0");
    lines.set(2, P::ColCountry, "CA");
    lines.set(2, P::ColFromPost, "B0B0B0");
    // Origin checked as CA whatever the destination country.
    lines.set(3, P::ColPostal, "SW1A 1AA");
    lines.set(3, P::ColCountry, "GB");
    lines.set(3, P::ColFromPost, "K1A0B1");
    // Express letter abroad without a postal code, the service in any case.
    lines.set(4, P::ColService, "WW EXPRESS Letter");
    lines.set(4, P::ColCountry, "FR");
    // Same with a code: passes without lookup.
    lines.set(5, P::ColService, "ww express pak");
    lines.set(5, P::ColCountry, "DE");
    lines.set(5, P::ColPostal, "not-a-code");
    // A lower-case code is looked up as it stands.
    lines.set(6, P::ColPostal, "k1a0b1");
    lines.set(6, P::ColCountry, "CA");
    // An express service to the United States follows the zip rule, not the express rule.
    lines.set(8, P::ColService, "WW Express PKG");
    lines.set(8, P::ColCountry, "US");
    lines.set(8, P::ColPostal, "10001");
    QString message;
    EXPECT_FALSE(ValidateShipmentCodes(state_, lines.last, lines.cell(), message));
    EXPECT_EQ(message,
              "Invalid Postal Code(s) found: \r\nShip. #2 A0A 0A0\r\nShip. #2 B0B0B0\r\nShip. #6 k1a0b1\r\n"
              "Invalid Zip Code(s) found: \r\nShip. #4 - MUST enter Postal");
}

TEST_F(PostalCodesTest, ValidateShipmentCodesWalksTheShipmentGrid) {
    MainState& state = state_;
    ShipmentPage page(state);
    StringGrid* grid = page.shipmentGrid();
    page.appendLine();
    grid->setCell(P::ColCountry, 31, "US");
    grid->setCell(P::ColPostal, 31, "1000");
    grid->setCell(P::ColCountry, 1, "CA");
    grid->setCell(P::ColPostal, 1, "K1A 0B1");
    QString message;
    EXPECT_FALSE(ValidateShipmentCodes(state_, *grid, message));
    EXPECT_EQ(message, "Invalid Zip Code(s) found: \r\nShip. #31 1000");
}

TEST_F(PostalCodesTest, ShipmentPageChecksLeftCellsThroughTheTables) {
    test::ScriptedPrompt prompt;
    ShipmentPage page(state_);
    wireShipmentCodeChecks(page, state_);
    page.resize(1200, 400);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    page.tbsShipmentDataShow();
    StringGrid* grid = page.shipmentGrid();
    grid->setCell(P::ColCountry, 1, "CA");
    grid->setCell(P::ColPostal, 1, "h2x 9z9");
    grid->setCell(P::ColCountry, 2, "US");
    grid->setCell(P::ColPostal, 2, "55555");
    ASSERT_TRUE(grid->setCurrentCell(P::ColPostal, 1));
    ASSERT_TRUE(grid->setCurrentCell(P::ColPostal, 2));
    EXPECT_EQ(grid->cell(P::ColPostal, 1), "H2X 9Z9");  // known by its "***" key
    prompt.answer(Ok, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Invalid Zip Code!"); });
    ASSERT_TRUE(grid->setCurrentCell(P::ColCmpRate, 2));
    EXPECT_EQ(grid->cell(P::ColPostal, 2), "");
}

// Leaving a postal or zip code that nobody typed asks nothing and keeps the cursor moving: the shipper's
// postal code left by Tab, and the Postal/Zip cell of Canadian and US lines, also of a line whose country
// the grid filled itself from its service, left by Tab and by the arrow keys. Each case is made to fail
// first with a code that is typed and unknown, so the check is seen to run where a code is typed.
TEST_F(PostalCodesTest, CodesNobodyTypedAreNotCheckedOnLeaving) {
    test::ScriptedPrompt prompt;
    ShipperProfilePage shipper(state_);
    QObject::connect(&shipper, &ShipperProfilePage::ebxPostalCodeExit, &shipper,
                     [&] { ebxPostalCodeExit(state_, &shipper); });
    shipper.show();
    shipper.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&shipper));
    struct ShipperCase {
        const char* typed;
        bool asks;
    };
    for (const ShipperCase& c :
         {ShipperCase{"z9z9z9", true}, ShipperCase{"", false}, ShipperCase{"   ", false}}) {
        SCOPED_TRACE(c.typed);
        shipper.ebxPostalCode()->setText(QString::fromLatin1(c.typed));
        shipper.ebxAddress()->setFocus(Qt::MouseFocusReason);
        if (c.asks)
            prompt.answer(Ok, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Invalid Postal Code!"); });
        QTest::keyClick(shipper.ebxAddress(), Qt::Key_Tab);
        EXPECT_TRUE(shipper.ebxPostalCode()->hasFocus());
        QTest::keyClick(shipper.ebxPostalCode(), Qt::Key_Tab);
        EXPECT_EQ(prompt.pending(), 0);
        EXPECT_EQ(shipper.ebxPostalCode()->hasFocus(), c.asks)
            << "an unknown code keeps the cursor, nothing else";
        EXPECT_EQ(shipper.ebxCity()->hasFocus(), !c.asks);
    }

    ShipmentPage page(state_);
    wireShipmentCodeChecks(page, state_);
    page.resize(1200, 400);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    page.tbsShipmentDataShow();
    StringGrid* grid = page.shipmentGrid();
    struct LineCase {
        const char* country;
        const char* code;
        int leaveKey;
        const char* message;  // nullptr: nothing is asked
    };
    const LineCase cases[] = {
        {"CA", "Z9Z 9Z9", Qt::Key_Tab, "Invalid Postal Code!"},
        {"US", "99999", Qt::Key_Tab, "Invalid Zip Code!"},
        {"CA", "", Qt::Key_Tab, nullptr},
        {"US", "", Qt::Key_Tab, nullptr},
        {"CA", "", Qt::Key_Down, nullptr},
        {"US", "  ", Qt::Key_Right, nullptr},
        {"CA", "", Qt::Key_Backtab, nullptr},
    };
    int line = 1;
    for (const LineCase& c : cases) {
        SCOPED_TRACE(std::string(c.country) + " '" + c.code + "'");
        grid->setCell(P::ColCountry, line, QString::fromLatin1(c.country));
        grid->setCell(P::ColPostal, line, QString::fromLatin1(c.code));
        grid->setFocus();
        ASSERT_TRUE(grid->setCurrentCell(P::ColPostal, line));
        if (c.message) prompt.answer(Ok, [&c](const PromptRequest& r) { EXPECT_EQ(r.text, c.message); });
        if (c.leaveKey == Qt::Key_Backtab) {
            // Shift+Tab as the window system delivers it (QTest cannot spell Backtab).
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier);
            QApplication::sendEvent(grid, &press);
        } else {
            QTest::keyClick(grid, static_cast<Qt::Key>(c.leaveKey));
        }
        EXPECT_EQ(prompt.pending(), 0);
        EXPECT_NE(grid->col() * 1000 + grid->row(), P::ColPostal * 1000 + line) << "the cursor moved on";
        if (!c.message) {
            EXPECT_EQ(grid->cell(P::ColPostal, line).trimmed(), "");
        }
        ++line;
    }
    // Passing down the Postal/Zip cells of Canadian lines without a code, as the grid fills new lines of
    // a Canadian service itself, asks nothing on the way.
    ASSERT_TRUE(grid->setCurrentCell(P::ColPostal, line));
    for (int i = 0; i < 3; ++i) grid->setCell(P::ColCountry, line + i, "CA");
    for (int i = 0; i < 3; ++i) QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(grid->row(), line + 3);
}

// The submission's code check lists the Canadian and US lines that still have no code, by line number.
TEST_F(PostalCodesTest, ValidateShipmentCodesListsLinesStillWithoutACode) {
    Lines lines;
    lines.set(2, P::ColCountry, "CA");
    lines.set(2, P::ColService, "Ground");
    lines.set(4, P::ColCountry, "US");
    lines.set(4, P::ColService, "TB Ground");
    lines.set(6, P::ColCountry, "CA");
    lines.set(6, P::ColPostal, "K1A 0B1");
    QString message;
    EXPECT_FALSE(ValidateShipmentCodes(state_, lines.last, lines.cell(), message));
    const QStringList listed = message.split(QStringLiteral("\r\n"));
    EXPECT_TRUE(listed.contains(QStringLiteral("Ship. #2 "))) << message.toStdString();
    EXPECT_TRUE(listed.contains(QStringLiteral("Ship. #4 "))) << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("#6"))) << message.toStdString();
}

}  // namespace
}  // namespace tarvik
