#include "pages/shipperprofilepage.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include "widgets/stringgrid.h"

using namespace tarvik;

namespace {

QString labelOf(QWidget* page, QWidget* control) {
    for (QLabel* l : page->findChildren<QLabel*>())
        if (l->buddy() == control) return l->text();
    return QStringLiteral("<no label>");
}

struct ShipperFixture : ::testing::Test {
    MainState state;
    ShipperProfilePage page{state};
};

}  // namespace

TEST_F(ShipperFixture, ControlsLabelsDefaultsAndReadOnlyFields) {
    EXPECT_EQ(page.objectName(), QStringLiteral("tbsShipperProfile"));
    const std::pair<const char*, const char*> labelled[] = {
        {"ebxAccountName", "Account Executive Name"}, {"ebxCompanyName2", "Company Name"},
        {"ebxAddress", "Address"},                   {"ebxPostalCode", "Postal Code"},
        {"ebxCity", "City"},                         {"ebxProv", "Province"},
        {"ebxShipper", "Shipper #"},                 {"ebxBusiness", "% Business"},
        {"ebxCommodity", "Commodity"},               {"cbxIndustry", "Industry"},
        {"ebxValueDutyPct", "% of U.S. Business that has Value for Duty under $200"},
        {"ebxValueSaving", "Calculated Savings   $"}};
    for (const auto& [name, label] : labelled) {
        QWidget* w = page.findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(labelOf(&page, w), QLatin1String(label)) << name;
    }
    EXPECT_EQ(page.ebxShipper()->text(), QStringLiteral("New"));
    EXPECT_TRUE(page.ebxAccountName()->isReadOnly());
    EXPECT_FALSE(page.ebxAccountName()->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(page.ebxCompanyName2()->isReadOnly());
    EXPECT_FALSE(page.ebxCompanyName2()->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(page.cbxIndustry()->isEditable());
    EXPECT_EQ(page.chbMOB()->text(), QStringLiteral("MOB"));
    EXPECT_EQ(page.chbMOB()->layoutDirection(), Qt::RightToLeft);  // caption at the left
    EXPECT_EQ(page.chbResellerYes()->text(), QStringLiteral("Yes"));
    EXPECT_EQ(page.chbValueNo()->text(), QStringLiteral("No"));
    // The savings field is never shown and cannot be used.
    EXPECT_TRUE(page.ebxValueSaving()->isHidden());
    EXPECT_FALSE(page.ebxValueSaving()->isEnabled());
    auto* lblCalcSav = page.findChild<QLabel*>(QStringLiteral("lblCalcSav"));
    ASSERT_NE(lblCalcSav, nullptr);
    EXPECT_TRUE(lblCalcSav->isHidden());
}

TEST_F(ShipperFixture, TabOrderFollowsTheWorkingOrder) {
    page.show();
    page.ebxAddress()->setFocus();
    const char* expected[] = {"ebxPostalCode", "ebxCity",       "ebxProv",        "ebxShipper",
                              "ebxBusiness",   "ebxCommodity",  "cbxIndustry",    "chbValueYes",
                              "chbValueNo",    "chbResellerYes", "chbResellerNo", "ebxValueDutyPct",
                              "chbMOB"};
    QWidget* w = page.ebxAddress();
    for (const char* name : expected) {
        w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(&page) || !w->isEnabled())
            w = w->nextInFocusChain();
        EXPECT_EQ(w->objectName(), QLatin1String(name));
    }
}

TEST_F(ShipperFixture, BusinessTakesDigitsAndFullStopsOnly) {
    QTest::keyClicks(page.ebxBusiness(), QStringLiteral("x-,"));
    EXPECT_EQ(page.ebxBusiness()->text(), QString());
    QTest::keyClicks(page.ebxBusiness(), QStringLiteral("12.5"));
    EXPECT_EQ(page.ebxBusiness()->text(), QStringLiteral("12.5"));
    page.ebxBusiness()->clear();
    QTest::keyClicks(page.ebxBusiness(), QStringLiteral("1.2.3a"));
    EXPECT_EQ(page.ebxBusiness()->text(), QStringLiteral("1.2.3"));
}

TEST_F(ShipperFixture, YesNoPairsStayOpposite) {
    page.show();
    for (auto [yes, no] : {std::pair{page.chbResellerYes(), page.chbResellerNo()},
                           std::pair{page.chbValueYes(), page.chbValueNo()}}) {
        EXPECT_FALSE(yes->isChecked());
        EXPECT_FALSE(no->isChecked());
        QTest::mouseClick(yes, Qt::LeftButton, {}, QPoint(4, yes->height() / 2));
        EXPECT_TRUE(yes->isChecked());
        EXPECT_FALSE(no->isChecked());
        QTest::mouseClick(yes, Qt::LeftButton, {}, QPoint(4, yes->height() / 2));
        EXPECT_FALSE(yes->isChecked());
        EXPECT_TRUE(no->isChecked());
        QTest::mouseClick(yes, Qt::LeftButton, {}, QPoint(4, yes->height() / 2));
        QTest::mouseClick(no, Qt::LeftButton, {}, QPoint(4, no->height() / 2));
        EXPECT_TRUE(no->isChecked());
        EXPECT_FALSE(yes->isChecked());
    }
}

TEST_F(ShipperFixture, YesNoPairsAreQuietWhileLoading) {
    page.show();
    state.FLoading = true;
    page.chbResellerNo()->click();
    EXPECT_TRUE(page.chbResellerNo()->isChecked());
    page.chbResellerYes()->click();
    EXPECT_TRUE(page.chbResellerYes()->isChecked());
    EXPECT_TRUE(page.chbResellerNo()->isChecked());  // both as loading set them
    state.FLoading = false;
}

TEST_F(ShipperFixture, UntickingMobHidesTheFromPostColumnAtOnceAndKeepsItsCells) {
    StringGrid shipmentGrid;
    shipmentGrid.setColCount(13);
    shipmentGrid.setRowCount(31);
    shipmentGrid.setCell(4, 1, QStringLiteral("K1A0B1"));
    QObject::connect(&page, &ShipperProfilePage::fromPostColumnWidthChanged, &shipmentGrid, [&](int width) {
        if (width < 0) {
            shipmentGrid.setColHiddenInGrid(4, true);
        } else {
            shipmentGrid.setColHiddenInGrid(4, false);
            shipmentGrid.setColWidth(4, width);
        }
    });
    page.show();
    page.chbMOB()->click();
    EXPECT_FALSE(shipmentGrid.isColHiddenInGrid(4));
    EXPECT_EQ(shipmentGrid.colWidth(4), 70);
    page.chbMOB()->click();
    EXPECT_TRUE(shipmentGrid.isColHiddenInGrid(4));
    EXPECT_EQ(shipmentGrid.cell(4, 1), QStringLiteral("K1A0B1"));
    // It follows the box also while a bid is loaded.
    state.FLoading = true;
    page.chbMOB()->setChecked(true);
    EXPECT_FALSE(shipmentGrid.isColHiddenInGrid(4));
    state.FLoading = false;
}

TEST(ShipperProfile, CompanyNameMirrorsTheMainPage) {
    MainState state;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* name1 = new QLineEdit(&window);
    name1->setObjectName(QStringLiteral("ebxCompanyName1"));
    name1->setText(QStringLiteral("Acme"));
    auto* page = new ShipperProfilePage(state, &window);
    layout->addWidget(name1);
    layout->addWidget(page);
    window.show();  // showing the page connects it and copies the current name
    EXPECT_EQ(page->ebxCompanyName2()->text(), QStringLiteral("Acme"));
    QTest::keyClicks(name1, QStringLiteral(" Freight"));
    EXPECT_EQ(page->ebxCompanyName2()->text(), QStringLiteral("Acme Freight"));
    name1->clear();
    EXPECT_EQ(page->ebxCompanyName2()->text(), QString());
    QWidget lonely;
    EXPECT_FALSE(page->connectCompanyName(&lonely));
}

TEST_F(ShipperFixture, ClearingEmptiesAndDefaultsRefill) {
    page.ebxAddress()->setText(QStringLiteral("1 Main St"));
    page.ebxShipper()->setText(QStringLiteral("123"));
    page.chbResellerYes()->setChecked(true);
    page.chbMOB()->setChecked(true);
    page.cbxIndustry()->addItems({QStringLiteral("Retail")});
    page.cbxIndustry()->setCurrentIndex(0);
    page.clearControls();
    EXPECT_EQ(page.ebxAddress()->text(), QString());
    EXPECT_EQ(page.ebxShipper()->text(), QString());
    EXPECT_FALSE(page.chbResellerYes()->isChecked());
    EXPECT_FALSE(page.chbMOB()->isChecked());
    EXPECT_EQ(page.cbxIndustry()->currentIndex(), -1);
    page.applyBidDefaults();
    EXPECT_EQ(page.ebxShipper()->text(), QStringLiteral("New"));
}

TEST_F(ShipperFixture, LeavingThePostalCodeAnnouncesIt) {
    int exits = 0;
    QObject::connect(&page, &ShipperProfilePage::ebxPostalCodeExit, [&] { ++exits; });
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    page.ebxPostalCode()->setFocus();
    QTest::keyClick(page.ebxPostalCode(), Qt::Key_Tab);
    EXPECT_EQ(exits, 1);
}

TEST(ShipperProfile, MobDrivesTheShipmentGridOfItsWindow) {
    MainState state;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* page = new ShipperProfilePage(state, &window);
    auto* shipmentGrid = new StringGrid(&window);
    shipmentGrid->setObjectName(QStringLiteral("ShipmentGrid"));
    shipmentGrid->setColCount(13);
    shipmentGrid->setRowCount(31);
    shipmentGrid->setCell(4, 2, QStringLiteral("H2X1Y4"));
    layout->addWidget(page);
    layout->addWidget(shipmentGrid);
    window.show();
    page->chbMOB()->click();
    EXPECT_FALSE(shipmentGrid->isColHiddenInGrid(4));
    EXPECT_EQ(shipmentGrid->colWidth(4), 70);
    page->chbMOB()->click();
    EXPECT_TRUE(shipmentGrid->isColHiddenInGrid(4));
    EXPECT_EQ(shipmentGrid->cell(4, 2), QStringLiteral("H2X1Y4"));
}
