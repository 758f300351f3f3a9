// The Shipment Data grid: set-up, growth, key rules, leaving checks, pickers and service rules, driven
// through the real grid with keys on the offscreen platform.
#include "pages/shipmentpage.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "tableaccess/tableaccess.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

namespace tarvik {
namespace {

using P = ShipmentPage;

// The shared test data folder (its Services hold every rule shape), plus a service of a market that
// sets no country.
class ShipmentPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        state_.FDataFolder = test::makeDataFolder(dir_.path());
        state_.DataContext = ta::OpenData();
        ASSERT_TRUE(test::appendRows(state_.tablePath("Services.dbf"), {{"Courier", "X", "F"}},
                                     {"service", "market", "letter"}));
        page_ = std::make_unique<ShipmentPage>(state_);
        grid_ = page_->shipmentGrid();
        page_->servicesPicker()->clear();
        page_->servicesPicker()->addItems({"", "Ground ", "Economy", "Express", "Express PAK", "Express Letter",
                                           "TB Ground", "TB Express", "WW Express PAK", "WW Express Pkg",
                                           "WW Express Letter", "WW Expedited", "Residential", "Courier"});
        page_->servicesPicker()->setCurrentIndex(-1);
        page_->countryPicker()->addItems({"CA    - Canada", "US    - United States", "MX    - Mexico"});
        page_->countryPicker()->setCurrentIndex(-1);
        ShipmentCodeChecks checks;
        checks.checkPostalCode = [this](const QString& code) {
            postalChecked_ << code;
            return !code.isEmpty() && !code.startsWith(QLatin1String("BAD"));
        };
        checks.checkZipCode = [this](const QString& code) {
            zipChecked_ << code;
            return code.size() >= 5;
        };
        page_->setCodeChecks(checks);
        page_->resize(1200, 500);
        page_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(page_.get()));
        page_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(page_.get()));
        page_->tbsShipmentDataShow();
        grid_->setFocus();
    }

    void TearDown() override {
        page_.reset();
        ta::CloseData(state_.DataContext);
    }

    // Moves to (col, line) as the user would by clicking.
    void go(int col, int line) {
        ASSERT_TRUE(grid_->setCurrentCell(col, line)) << "could not move to " << col << "," << line;
        QApplication::processEvents();
    }

    // Types text into the current cell (the editor opens on the first character) and accepts it.
    void type(const QString& text) {
        for (QChar ch : text) {
            QWidget* target = grid_->editor() ? static_cast<QWidget*>(grid_->editor()) : grid_;
            QTest::keyClick(target, ch.toLatin1());
        }
        if (grid_->editor()) QTest::keyClick(grid_->editor(), Qt::Key_Return);
        QApplication::processEvents();
    }

    void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QWidget* target = grid_->editor() ? static_cast<QWidget*>(grid_->editor()) : grid_;
        QTest::keyClick(target, static_cast<Qt::Key>(k), m);
        QApplication::processEvents();
    }

    // Chooses a service in the picker of the current line with the keyboard and leaves the picker.
    void chooseService(const QString& name) {
        QComboBox* cbx = page_->servicesPicker();
        ASSERT_TRUE(cbx->isVisible());
        const int index = cbx->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        cbx->setFocus();
        cbx->setCurrentIndex(index);
        emit cbx->activated(index);  // the choice as the user makes it (list closed)
        QApplication::processEvents();
        if (cbx->hasFocus()) grid_->setFocus();
        QApplication::processEvents();
    }

    QTemporaryDir dir_;
    MainState state_;
    std::unique_ptr<ShipmentPage> page_;
    StringGrid* grid_ = nullptr;
    QStringList postalChecked_;
    QStringList zipChecked_;
};

TEST_F(ShipmentPageTest, SetUpGivesThirteenColumnsAndThirtyNumberedLines) {
    ASSERT_EQ(grid_->colCount(), 13);
    ASSERT_EQ(grid_->rowCount(), 31);
    const QStringList headers = {"",         "Service", "TotPcs",    "TotWgt",   "From Post.", "Postal/Zip", "Cnty Cd",
                                 "Cmp Rate$", "SC PkUp$", "SC Fwd$", "SC Other$", "Other Desc", "Tot Cmp $"};
    const int widths[] = {40, 160, 50, 50, 70, 70, 70, 70, 70, 70, 70, 140, 70};
    for (int c = 0; c < 13; ++c) {
        EXPECT_EQ(grid_->cell(c, 0), headers[c]) << c;
        if (c != P::ColFromPost) EXPECT_EQ(grid_->colWidth(c), widths[c]) << c;
    }
    EXPECT_TRUE(grid_->isColHiddenInGrid(P::ColFromPost));
    EXPECT_EQ(grid_->cell(0, 1), "#1");
    EXPECT_EQ(grid_->cell(0, 30), "#30");
    EXPECT_TRUE(page_->gridIsEmpty());
    EXPECT_EQ(page_->firstEmptyLine(), 1);
    EXPECT_EQ(page_->lastLine(), 30);

    page_->showFromPostColumn(true);
    EXPECT_FALSE(grid_->isColHiddenInGrid(P::ColFromPost));
    EXPECT_EQ(grid_->colWidth(P::ColFromPost), 70);
    page_->showFromPostColumn(false);
    EXPECT_TRUE(grid_->isColHiddenInGrid(P::ColFromPost));

    // Set-up again after lines grew: back to 30 empty lines, the last From Post. forgotten.
    state_.FLastFromPostal = "K1A0B1";
    page_->appendLine();
    grid_->setCell(P::ColTotPcs, 31, "4");
    page_->setupGrid();
    EXPECT_EQ(grid_->rowCount(), 31);
    EXPECT_TRUE(state_.FLastFromPostal.isEmpty());
}

TEST_F(ShipmentPageTest, EditingTheLastLineAppendsOneLineButReenteringItsTextDoesNot) {
    QSignalSpy changed(page_.get(), &ShipmentPage::linesChanged);
    go(P::ColTotPcs, 30);
    type("5");
    ASSERT_EQ(grid_->rowCount(), 32);
    EXPECT_EQ(grid_->cell(0, 31), "#31");
    EXPECT_TRUE(page_->lineIsEmpty(31));
    EXPECT_GT(changed.count(), 0);

    // The new last line holds "7"; typing "7" over it changes nothing and appends nothing.
    grid_->setCell(P::ColTotPcs, 31, "7");
    go(P::ColTotPcs, 31);
    type("7");
    EXPECT_EQ(grid_->rowCount(), 32);
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 31), "7");
    // A different text on it does.
    type("8");
    EXPECT_EQ(grid_->rowCount(), 33);
    EXPECT_EQ(grid_->cell(0, 32), "#32");
    // Editing a line above the last appends nothing.
    go(P::ColTotPcs, 3);
    type("9");
    EXPECT_EQ(grid_->rowCount(), 33);
}

TEST_F(ShipmentPageTest, HiddenFromPostColumnIsSkippedBothWays) {
    go(P::ColTotWgt, 2);
    key(Qt::Key_Right);
    EXPECT_EQ(grid_->col(), P::ColPostal);
    key(Qt::Key_Left);
    EXPECT_EQ(grid_->col(), P::ColTotWgt);
    key(Qt::Key_Tab);
    EXPECT_EQ(grid_->col(), P::ColPostal);
    key(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(grid_->col(), P::ColTotWgt);
    EXPECT_EQ(grid_->row(), 2);

    // A move that lands on the hidden column goes on in the direction of the last key.
    page_->ShipmentGridKeyDown(Qt::Key_Right, Qt::NoModifier);
    EXPECT_FALSE(grid_->setCurrentCell(P::ColFromPost, 2));
    QApplication::processEvents();
    EXPECT_EQ(grid_->col(), P::ColPostal);
    page_->ShipmentGridKeyDown(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_FALSE(grid_->setCurrentCell(P::ColFromPost, 2));
    QApplication::processEvents();
    EXPECT_EQ(grid_->col(), P::ColTotWgt);

    // Shown, the column is entered like any other.
    page_->showFromPostColumn(true);
    key(Qt::Key_Right);
    EXPECT_EQ(grid_->col(), P::ColFromPost);
}

TEST_F(ShipmentPageTest, LineTotalAddsTheFourChargesAndIsEmptyForZero) {
    go(P::ColCmpRate, 4);
    type("10");
    EXPECT_EQ(grid_->cell(P::ColTotCmp, 4), "10.00");
    go(P::ColScPkUp, 4);
    type("2.5");
    EXPECT_EQ(grid_->cell(P::ColTotCmp, 4), "12.50");
    go(P::ColScFwd, 4);
    type(".25");
    EXPECT_EQ(grid_->cell(P::ColTotCmp, 4), "12.75");

    // All charges gone: an empty total, not "0.00".
    for (int c : {P::ColCmpRate, P::ColScPkUp, P::ColScFwd}) {
        go(c, 4);
        key(Qt::Key_Return);  // opens the editor, text selected
        key(Qt::Key_Backspace);
        key(Qt::Key_Return);
    }
    EXPECT_EQ(grid_->cell(P::ColCmpRate, 4), "");
    EXPECT_EQ(grid_->cell(P::ColTotCmp, 4), "");
    go(P::ColScOther, 4);
    type("0");
    EXPECT_EQ(grid_->cell(P::ColTotCmp, 4), "");

    // A text that is not a number counts as 0.
    grid_->setCell(P::ColCmpRate, 5, "abc");
    grid_->setCell(P::ColScOther, 5, "3");
    page_->lineTotal(5);
    EXPECT_EQ(grid_->cell(P::ColTotCmp, 5), "3.00");
}

TEST_F(ShipmentPageTest, RateColumnsTakeDigitsAndOnePointOnly) {
    go(P::ColCmpRate, 1);
    type("1.5.x7a");
    EXPECT_EQ(grid_->cell(P::ColCmpRate, 1), "1.57");
    go(P::ColScOther, 1);
    type("-2,3");
    EXPECT_EQ(grid_->cell(P::ColScOther, 1), "23");
    // Pieces and weight are free text.
    go(P::ColTotPcs, 1);
    type("ab");
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 1), "ab");
    go(P::ColTotWgt, 1);
    type("x.1.2");
    EXPECT_EQ(grid_->cell(P::ColTotWgt, 1), "x.1.2");
}

TEST_F(ShipmentPageTest, LetterAndPakServicesSetWeightOneAndOtherServicesWithdrawIt) {
    go(P::ColService, 1);
    chooseService("Express Letter");
    EXPECT_EQ(grid_->cell(P::ColService, 1), "Express Letter");
    EXPECT_EQ(grid_->cell(P::ColTotWgt, 1), "1");
    EXPECT_EQ(page_->lastService(), "Express Letter");

    chooseService("Express");
    EXPECT_EQ(grid_->cell(P::ColTotWgt, 1), "");

    chooseService("Express PAK");
    EXPECT_EQ(grid_->cell(P::ColTotWgt, 1), "1");

    // A weight the user keyed is kept.
    grid_->setCell(P::ColTotWgt, 1, "15");
    chooseService("Express");
    EXPECT_EQ(grid_->cell(P::ColTotWgt, 1), "15");
    chooseService("Courier");
    EXPECT_EQ(grid_->cell(P::ColTotWgt, 1), "15");
}

TEST_F(ShipmentPageTest, MarketsSetOrClearTheCountry) {
    go(P::ColService, 2);
    chooseService("Express");  // D
    EXPECT_EQ(grid_->cell(P::ColCountry, 2), "CA");
    chooseService("WW Expedited");  // I: CA or US emptied
    EXPECT_EQ(grid_->cell(P::ColCountry, 2), "");
    chooseService("TB Ground");  // S
    EXPECT_EQ(grid_->cell(P::ColCountry, 2), "US");
    chooseService("WW Expedited");
    EXPECT_EQ(grid_->cell(P::ColCountry, 2), "");
    grid_->setCell(P::ColCountry, 2, "MX");
    chooseService("WW Expedited");  // any other country kept
    EXPECT_EQ(grid_->cell(P::ColCountry, 2), "MX");
    chooseService("Courier");  // another market: country left alone
    EXPECT_EQ(grid_->cell(P::ColCountry, 2), "MX");

    // A service that is not in the table changes nothing.
    grid_->setCell(P::ColService, 2, "Unknown");
    grid_->setCell(P::ColTotWgt, 2, "1");
    page_->serviceRules(2);
    EXPECT_EQ(grid_->cell(P::ColCountry, 2), "MX");
    EXPECT_EQ(grid_->cell(P::ColTotWgt, 2), "1");
}

TEST_F(ShipmentPageTest, NewLineRepeatsTheLastServiceAndOrigin) {
    page_->showFromPostColumn(true);
    go(P::ColService, 1);
    chooseService("Express Letter");
    go(P::ColFromPost, 1);
    type("K1A0B1");
    EXPECT_EQ(state_.FLastFromPostal, "K1A0B1");
    go(P::ColService, 2);
    EXPECT_EQ(postalChecked_, QStringList{"K1A0B1"});
    EXPECT_EQ(grid_->cell(P::ColService, 2), "Express Letter");
    EXPECT_EQ(grid_->cell(P::ColFromPost, 2), "K1A0B1");
    // The service rules ran on the new line too.
    EXPECT_EQ(grid_->cell(P::ColTotWgt, 2), "1");
    EXPECT_EQ(grid_->cell(P::ColCountry, 2), "CA");
    EXPECT_EQ(page_->servicesPicker()->currentText(), "Express Letter");

    // A From Post. already on the line is kept.
    grid_->setCell(P::ColFromPost, 3, "H2X1Y4");
    go(P::ColService, 3);
    EXPECT_EQ(grid_->cell(P::ColService, 3), "Express Letter");
    EXPECT_EQ(grid_->cell(P::ColFromPost, 3), "H2X1Y4");

    // An origin the check refuses is not repeated; a lower-case one is repeated as checked.
    go(P::ColFromPost, 3);
    type("bad9");
    go(P::ColService, 4);
    EXPECT_EQ(grid_->cell(P::ColFromPost, 3), "");
    EXPECT_EQ(grid_->cell(P::ColService, 4), "Express Letter");
    EXPECT_EQ(grid_->cell(P::ColFromPost, 4), "");
    go(P::ColFromPost, 4);
    type("h2x1y4 ");
    EXPECT_EQ(state_.FLastFromPostal, "h2x1y4 ");
    go(P::ColService, 5);
    EXPECT_EQ(grid_->cell(P::ColFromPost, 4), "H2X1Y4");
    EXPECT_EQ(grid_->cell(P::ColFromPost, 5), "H2X1Y4");

    // Showing the page forgets the last service once line 1 has been served.
    page_->tbsShipmentDataShow();
    EXPECT_TRUE(page_->lastService().isEmpty());
    go(P::ColService, 7);
    EXPECT_EQ(grid_->cell(P::ColService, 7), "");
    EXPECT_EQ(grid_->cell(P::ColFromPost, 7), "");
}

TEST_F(ShipmentPageTest, BlankServiceItemEmptiesTheLine) {
    go(P::ColService, 6);
    chooseService("Express");
    for (int c = P::ColTotPcs; c <= P::ColTotCmp; ++c) grid_->setCell(c, 6, QString::number(c));
    QComboBox* cbx = page_->servicesPicker();
    cbx->setFocus();
    cbx->setCurrentIndex(0);
    emit cbx->activated(0);
    QApplication::processEvents();
    for (int c = P::ColTotPcs; c <= P::ColTotCmp; ++c) EXPECT_EQ(grid_->cell(c, 6), "") << c;
    // The Service cell goes when the picker is left.
    EXPECT_FALSE(cbx->hasFocus());
    EXPECT_EQ(grid_->cell(P::ColService, 6), "");
    EXPECT_TRUE(page_->lineIsEmpty(6));
    EXPECT_TRUE(page_->lastService().isEmpty());
}

TEST_F(ShipmentPageTest, ServicePickerKeysEscapeUndoesAndEnterKeeps) {
    go(P::ColService, 1);
    chooseService("Express");
    QComboBox* cbx = page_->servicesPicker();
    cbx->setFocus();
    QTest::keyClick(cbx, Qt::Key_Down);  // user moves to the next item, list closed
    QApplication::processEvents();
    // The change returned the focus to the grid and the cell took the new service.
    EXPECT_EQ(grid_->cell(P::ColService, 1), "Express PAK");
    cbx->setFocus();
    cbx->setCurrentIndex(cbx->findText("TB Ground"));
    QTest::keyClick(cbx, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(cbx->currentText(), "Express PAK");
    EXPECT_FALSE(cbx->hasFocus());
    EXPECT_EQ(grid_->cell(P::ColService, 1), "Express PAK");
    // Enter keeps the choice: leaving the picker writes it into the cell.
    cbx->setFocus();
    cbx->setCurrentIndex(cbx->findText("TB Ground"));
    QTest::keyClick(cbx, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_FALSE(cbx->hasFocus());
    EXPECT_EQ(grid_->cell(P::ColService, 1), "TB Ground");
    EXPECT_EQ(grid_->cell(P::ColCountry, 1), "US");
}

TEST_F(ShipmentPageTest, TypingOnTheServiceColumnOpensTheList) {
    go(P::ColService, 1);
    QComboBox* cbx = page_->servicesPicker();
    ASSERT_TRUE(cbx->isVisible());
    QTest::keyClick(grid_, Qt::Key_G);
    QApplication::processEvents();
    EXPECT_TRUE(cbx->view()->isVisible());
    EXPECT_FALSE(grid_->isEditing());
    EXPECT_EQ(grid_->cell(P::ColService, 1), "");
    cbx->hidePopup();
    // Enter and Backspace do not edit the Service cell either.
    grid_->setFocus();
    grid_->setCell(P::ColService, 1, "Ground");
    key(Qt::Key_Return);
    EXPECT_FALSE(grid_->isEditing());
    key(Qt::Key_Backspace);
    EXPECT_EQ(grid_->cell(P::ColService, 1), "Ground");
}

TEST_F(ShipmentPageTest, PickersCoverTheirCellAndHideWhenItScrollsAway) {
    go(P::ColService, 1);
    QComboBox* cbx = page_->servicesPicker();
    ASSERT_TRUE(cbx->isVisible());
    // Compared on screen: the picker floats over the grid from the page.
    const QRect cell = grid_->cellRect(P::ColService, 1);
    const auto onScreen = [](QWidget* w, QPoint p) { return w->mapToGlobal(p); };
    EXPECT_EQ(onScreen(cbx, QPoint()), onScreen(grid_->viewport(), cell.topLeft()));
    EXPECT_EQ(cbx->width(), cell.width());
    EXPECT_FALSE(page_->countryPicker()->isVisible());

    grid_->verticalScrollBar()->setValue(grid_->verticalScrollBar()->value() + 10);
    QApplication::processEvents();
    EXPECT_FALSE(cbx->isVisible());
    grid_->verticalScrollBar()->setValue(0);
    QApplication::processEvents();
    EXPECT_TRUE(cbx->isVisible());
    EXPECT_EQ(onScreen(cbx, QPoint()), onScreen(grid_->viewport(), cell.topLeft()));

    go(P::ColCountry, 1);
    EXPECT_FALSE(cbx->isVisible());
    QComboBox* country = page_->countryPicker();
    EXPECT_TRUE(country->isVisible());
    const QRect ccell = grid_->cellRect(P::ColCountry, 1);
    EXPECT_EQ(onScreen(country, QPoint()), onScreen(grid_->viewport(), ccell.topLeft()));
    EXPECT_EQ(country->width(), ccell.width() + 2);
}

TEST_F(ShipmentPageTest, CountryCellTakesTypedCodesAndPickerChoices) {
    go(P::ColCountry, 3);
    QComboBox* country = page_->countryPicker();
    ASSERT_TRUE(country->isVisible());
    // Typing hides the picker and edits the cell; leaving upper-cases it and selects its item.
    type("mx");
    EXPECT_FALSE(country->isVisible());
    go(P::ColTotPcs, 3);
    EXPECT_EQ(grid_->cell(P::ColCountry, 3), "MX");
    EXPECT_EQ(country->currentText(), "MX    - Mexico");
    // An unknown code is emptied without a message.
    go(P::ColCountry, 3);
    type("zz");
    go(P::ColTotPcs, 3);
    EXPECT_EQ(grid_->cell(P::ColCountry, 3), "");
    // Choosing in the picker writes the item's code.
    go(P::ColCountry, 3);
    ASSERT_TRUE(country->isVisible());
    country->setFocus();
    country->setCurrentIndex(1);
    emit country->activated(1);
    QApplication::processEvents();
    EXPECT_EQ(grid_->cell(P::ColCountry, 3), "US");
    EXPECT_FALSE(country->hasFocus());
    // At most 6 characters are typed into the country cell; other cells take more.
    go(P::ColCountry, 5);
    type("abcdefgh");
    EXPECT_EQ(grid_->cell(P::ColCountry, 5), "abcdef");
    go(P::ColOtherDesc, 5);
    type("abcdefgh");
    EXPECT_EQ(grid_->cell(P::ColOtherDesc, 5), "abcdefgh");
    // A typed code that matches no item keeps the picker hidden when the cell is entered again.
    grid_->setCell(P::ColCountry, 4, "QQ");
    go(P::ColCountry, 4);
    EXPECT_FALSE(country->isVisible());
}

TEST_F(ShipmentPageTest, LeavingCodesUpperCasesAndChecksByCountry) {
    test::ScriptedPrompt prompt;
    page_->showFromPostColumn(true);
    grid_->setCell(P::ColCountry, 1, "CA");
    go(P::ColPostal, 1);
    type("k1a 0b1");
    go(P::ColCmpRate, 1);
    EXPECT_EQ(grid_->cell(P::ColPostal, 1), "K1A 0B1");
    EXPECT_EQ(postalChecked_, QStringList{"K1A 0B1"});

    grid_->setCell(P::ColCountry, 2, "US");
    go(P::ColPostal, 2);
    type("1234");
    go(P::ColCmpRate, 2);
    EXPECT_EQ(zipChecked_, QStringList{"1234"});
    EXPECT_EQ(grid_->cell(P::ColPostal, 2), "");  // the failed check empties the cell

    // Another country: upper-cased, not looked up.
    grid_->setCell(P::ColCountry, 3, "MX");
    go(P::ColPostal, 3);
    type("ab12 ");
    go(P::ColCmpRate, 3);
    EXPECT_EQ(grid_->cell(P::ColPostal, 3), "AB12 ");
    EXPECT_EQ(postalChecked_.size(), 1);
    EXPECT_EQ(zipChecked_.size(), 1);

    // From Post.: upper-cased and trimmed, an unknown code emptied, an empty one not checked.
    go(P::ColFromPost, 4);
    type(" bad1 ");
    go(P::ColPostal, 4);
    EXPECT_EQ(postalChecked_.last(), "BAD1");
    EXPECT_EQ(grid_->cell(P::ColFromPost, 4), "");
    go(P::ColFromPost, 4);
    go(P::ColPostal, 4);
    EXPECT_EQ(postalChecked_.size(), 2);
    // International Postal/Zip with no country and no express service: nothing asked.
    go(P::ColCmpRate, 4);
    EXPECT_TRUE(prompt.shown().empty());
}

TEST_F(ShipmentPageTest, WorldWideExpressNeedsAPostalCode) {
    test::ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "MUST enter a Postal Code for this Service!");
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, Ok);
        EXPECT_EQ(r.caption, "Incentive Model");
    });
    grid_->setCell(P::ColService, 1, "WW Express Letter");
    grid_->setCell(P::ColCountry, 1, "MX");
    go(P::ColPostal, 1);
    go(P::ColCmpRate, 1);  // left empty: the message, and the user goes on
    EXPECT_EQ(grid_->col(), P::ColCmpRate);
    EXPECT_EQ(prompt.shown().size(), 1u);
    // With a code it passes without lookup.
    go(P::ColPostal, 1);
    type("12345");
    go(P::ColCmpRate, 1);
    EXPECT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(grid_->cell(P::ColPostal, 1), "12345");
    EXPECT_TRUE(zipChecked_.isEmpty());
    EXPECT_TRUE(postalChecked_.isEmpty());
}

TEST_F(ShipmentPageTest, LineQueriesAndClearing) {
    grid_->setCell(P::ColOtherDesc, 1, "x");
    grid_->setCell(P::ColService, 3, "Ground");
    EXPECT_FALSE(page_->lineIsEmpty(1));
    EXPECT_TRUE(page_->lineIsEmpty(2));
    EXPECT_EQ(page_->firstEmptyLine(), 2);
    EXPECT_FALSE(page_->gridIsEmpty());
    const QStringList services = page_->serviceTexts();
    ASSERT_EQ(services.size(), 30);
    EXPECT_EQ(services[2], "Ground");
    // A label alone does not make a line.
    EXPECT_TRUE(page_->lineIsEmpty(30));

    for (int r = 1; r <= 30; ++r) grid_->setCell(P::ColTotPcs, r, "1");
    EXPECT_EQ(page_->firstEmptyLine(), 1);  // no empty line

    page_->appendLine();
    page_->appendLine();
    state_.FLastFromPostal = "K1A0B1";
    page_->clearGrid();
    EXPECT_EQ(grid_->rowCount(), 31);
    EXPECT_TRUE(page_->gridIsEmpty());
    EXPECT_EQ(grid_->cell(0, 30), "#30");
    EXPECT_TRUE(state_.FLastFromPostal.isEmpty())
        << "the origin of a cleared bid is not repeated into the next";
}

TEST_F(ShipmentPageTest, ButtonsOfThePageWithTheirCaptionsAndHints) {
    struct Button {
        const char* name;
        const char* caption;
        const char* hint;
    };
    const Button buttons[] = {
        {"btnSubmitBid", "&Submit Bid", "FTP this Bid to the Server"},
        {"btnImport", "&Import Data", "Reads in Comma Seperated Data from Export.txt"},
        {"btnCopyLine", "&Copy Line", nullptr},
        {"btnClearShipGrid", "C&lear", nullptr},
        {"btnFindRepl", "Find/&Replace", nullptr},
    };
    for (const Button& b : buttons) {
        auto* button = page_->findChild<QPushButton*>(QLatin1String(b.name));
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), QLatin1String(b.caption)) << b.name;
        if (b.hint) EXPECT_EQ(button->toolTip(), QLatin1String(b.hint)) << b.name;
        EXPECT_TRUE(button->isVisible()) << b.name;
    }
    // At the width the page has in a window of minimum size, no caption is cut.
    page_->resize(440, 500);
    QApplication::processEvents();
    for (const Button& b : buttons) {
        auto* button = page_->findChild<QPushButton*>(QLatin1String(b.name));
        EXPECT_GE(button->width(), button->sizeHint().width()) << b.name;
        EXPECT_LE(button->geometry().right(), page_->width()) << b.name;
    }
}

TEST_F(ShipmentPageTest, GrowsToSixtyFiveThousandLines) {
    QSignalSpy changed(page_.get(), &ShipmentPage::linesChanged);
    page_->appendLines(65536 - 31);
    page_->appendLine();
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(page_->lastLine(), 65536);
    EXPECT_EQ(grid_->cell(0, 65535), "#65535");
    EXPECT_EQ(grid_->cell(0, 65536), "#65536");
    grid_->setCell(P::ColService, 65536, "Ground");
    EXPECT_FALSE(page_->gridIsEmpty());
    EXPECT_EQ(page_->serviceTexts().size(), 65536);
}

}  // namespace
}  // namespace tarvik
