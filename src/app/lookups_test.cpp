#include "app/lookups.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/tmainform.h"
#include "tableedit/dbeditform.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/combohelpers.h"
#include "widgets/stringgrid.h"

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace tarvik {
namespace {

using test::FieldSpec;
using test::ScriptedPrompt;

QStringList itemsOf(const QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    return out;
}

class LookupTest : public ::testing::Test {
  protected:
    QTemporaryDir tmp;
    QString data;

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        data = test::makeDataFolder(tmp.path());
    }
    // The main window with the reference lookups as its start-up step.
    std::unique_ptr<TMainForm> start() {
        TMainForm::StartupHooks hooks;
        hooks.loadReferenceLists = [](TMainForm& f) { LoadReferenceLists(&f, f.state()); };
        return std::make_unique<TMainForm>(tmp.path(), std::move(hooks));
    }
    template <typename T>
    static T* find(QWidget* w, const char* name) {
        T* c = w->findChild<T*>(QLatin1String(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QString path(const QString& name) const { return data + "/" + name; }
};

TEST_F(LookupTest, ListRuleSortsWithoutCaseAndKeepsTheFirstForm) {
    ASSERT_TRUE(
        test::writeTable(path("Ind"), {{"industry", 'C', 20}}, {{"Retail"}, {"retail"}, {"Apparel"}}));
    EXPECT_EQ(ListFromTable(path("Ind"), "industry"), (QStringList{"Apparel", "Retail"}));
    ASSERT_TRUE(test::writeTable(path("Ind2"), {{"industry", 'C', 20}},
                                 {{"retail"}, {"Zoo"}, {"RETAIL"}, {"apparel"}, {"Books"}}));
    EXPECT_EQ(ListFromTable(path("Ind2"), "industry"), (QStringList{"apparel", "Books", "retail", "Zoo"}));

    QComboBox combo;
    combo.addItems({"Books", "Old"});
    combo.setCurrentIndex(0);
    LoadComboFromTable(&combo, path("Ind2"), "industry");
    EXPECT_EQ(itemsOf(&combo), (QStringList{"apparel", "Books", "retail", "Zoo"}));
    EXPECT_EQ(combo.currentText(), "Books") << "the remembered choice is selected again";
    combo.setCurrentIndex(3);
    ASSERT_TRUE(test::writeTable(path("Ind2"), {{"industry", 'C', 20}}, {{"Books"}}));
    LoadComboFromTable(&combo, path("Ind2"), "industry");
    EXPECT_EQ(combo.currentIndex(), -1) << "a choice that is gone leaves no selection";
}

TEST_F(LookupTest, ServiceRuleDropsSingleAndShortensMulti) {
    ASSERT_TRUE(test::writeTable(path("Svc"), {{"service", 'C', 20}},
                                 {{"Ground Single"}, {"Ground Multi"}, {"Air"}, {""}, {"Air"}}));
    QComboBox combo;
    LoadServicesCombo(&combo, path("Svc"));
    EXPECT_EQ(itemsOf(&combo), (QStringList{"", "Ground ", "Air", "Air"}));
    ASSERT_TRUE(test::writeTable(path("NoSvc"), {{"service", 'C', 20}}, {}));
    LoadServicesCombo(&combo, path("NoSvc"));
    EXPECT_EQ(itemsOf(&combo), QStringList{""}) << "the empty item stays";
}

TEST_F(LookupTest, CountryItemsLineUpAndTheCodeSelectsThem) {
    ASSERT_TRUE(test::writeTable(path("Cty"), {{"code", 'C', 6}, {"name", 'C', 40}},
                                 {{"CA", "Canada"}, {"USA", "United States"}, {"ABCDEF", "Long Code"}}));
    QComboBox combo;
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    combo.setFont(fixed);
    LoadCountryCombo(&combo, path("Cty"), fixed);
    ASSERT_EQ(combo.count(), 3);
    const QString ca = combo.itemText(0);
    EXPECT_TRUE(ca.startsWith("CA    ")) << ca.toStdString();
    EXPECT_TRUE(ca.endsWith("- Canada"));
    // In the picker's font every "- " starts at the same width.
    const QFontMetrics fm(fixed);
    const int dashAt = fm.horizontalAdvance(ca.left(ca.indexOf("- ")));
    for (int i = 1; i < combo.count(); ++i) {
        const QString item = combo.itemText(i);
        EXPECT_EQ(fm.horizontalAdvance(item.left(item.indexOf("- "))), dashAt) << item.toStdString();
    }
    EXPECT_EQ(combo.itemText(1).left(6), "USA   ");
    SelectComboPrefix(&combo, "CA", 6);
    EXPECT_EQ(combo.currentIndex(), 0);
    SelectComboPrefix(&combo, "CA    ", 6);
    EXPECT_EQ(combo.currentIndex(), 0);
    SelectComboPrefix(&combo, "ABCDEF", 6);
    EXPECT_EQ(combo.currentIndex(), 2);
    SelectComboPrefix(&combo, "US", 6);
    EXPECT_EQ(combo.currentIndex(), -1);
}

TEST_F(LookupTest, StartUpFillsEveryPicker) {
    auto f = start();
    EXPECT_EQ(itemsOf(find<QComboBox>(f.get(), "cbxAccountName")),
              (QStringList{"Anna Bell", "Carl O'Neil", "Dana Ruiz"}));
    EXPECT_EQ(itemsOf(find<QComboBox>(f.get(), "cbxIndustry")),
              (QStringList{"Apparel", "Electronics", "Retail"}));
    EXPECT_EQ(itemsOf(find<QComboBox>(f.get(), "cbxSourceDist")),
              (QStringList{"Catalogue", "Retail Store", "Web Store"}));
    EXPECT_EQ(itemsOf(find<QComboBox>(f.get(), "cbxPLDTypes")), (QStringList{"Air", "Courier", "Ground"}));
    const QStringList services = itemsOf(find<QComboBox>(f.get(), "cbxServices"));
    ASSERT_FALSE(services.isEmpty());
    EXPECT_EQ(services[0], "");
    EXPECT_TRUE(services.contains("Ground"));
    EXPECT_FALSE(services.contains("Ground Single"));
    EXPECT_FALSE(services.contains("Ground Multi"));
    const QStringList countries = itemsOf(find<QComboBox>(f.get(), "cbxCountry"));
    ASSERT_EQ(countries.size(), 5);
    EXPECT_TRUE(countries[0].startsWith("CA    ") && countries[0].endsWith("- Canada"));
    EXPECT_EQ(f->state().FDistSourceTexts, (QStringList{"Catalogue", "Retail Store", "Web Store"}));
    EXPECT_EQ(f->state().FDistSourceValues, (QStringList{"CAT", "RET", "WEB"}));
    const int wide = QFontMetrics(f->font()).horizontalAdvance(QString(60, 'N'));
    EXPECT_GE(find<QComboBox>(f.get(), "cbxSourceDist")->view()->minimumWidth(), wide);
    EXPECT_GE(find<QComboBox>(f.get(), "cbxCustSource")->view()->minimumWidth(), wide);
    EXPECT_EQ(find<QLineEdit>(f.get(), "ebxAccountName")->text(), "");
}

TEST_F(LookupTest, DistributionCodesFollowTheRecordNotThePosition) {
    std::vector<QStringList> rows{{"Web Store", "WEB"}, {"Catalogue", "CAT"}, {"catalogue", "XXX"}};
    for (int i = 0; i < 10; ++i)
        rows.push_back({QString("Source %1").arg(QChar('K' + i)), QString("S%1").arg(i)});
    ASSERT_TRUE(test::writeTable(path("DistributionSrc"), demo::distSourceLayout(), rows));
    auto f = start();
    const MainState& s = f->state();
    EXPECT_EQ(s.FDistSourceTexts.size(), 12) << "no limit of ten";
    EXPECT_EQ(DistSourceValueFor(s, "Catalogue"), "CAT");
    EXPECT_EQ(DistSourceValueFor(s, "Web Store"), "WEB");
    EXPECT_EQ(DistSourceValueFor(s, "Source T"), "S9");
    EXPECT_EQ(DistSourceTextFor(s, "WEB"), "Web Store");
    EXPECT_EQ(DistSourceTextFor(s, "XXX"), "") << "the dropped duplicate has no item";
    auto* c = find<QComboBox>(f.get(), "cbxSourceDist");
    EXPECT_EQ(c->itemText(0), "Catalogue");
    EXPECT_EQ(c->itemText(c->count() - 1), "Web Store");
    EXPECT_EQ(c->count(), 12);
}

TEST_F(LookupTest, EmptyReferenceTablesLeaveEmptyPickers) {
    for (const auto& [name, layout] :
         {std::pair{"AELookUp", demo::aeLookUpLayout()}, std::pair{"IndustryTypes", demo::industryLayout()},
          std::pair{"Services", demo::servicesLayout()}, std::pair{"Country", demo::countryLayout()}})
        ASSERT_TRUE(test::writeTable(path(name), layout, {}));
    auto f = start();
    EXPECT_EQ(find<QComboBox>(f.get(), "cbxAccountName")->count(), 0);
    EXPECT_EQ(find<QComboBox>(f.get(), "cbxIndustry")->count(), 0);
    EXPECT_EQ(find<QComboBox>(f.get(), "cbxCountry")->count(), 0);
    EXPECT_EQ(itemsOf(find<QComboBox>(f.get(), "cbxServices")), QStringList{""});
}

TEST_F(LookupTest, ChoosingAnExecutiveFillsTheSalesTeamAndAsksForABidOnlyWithoutOne) {
    auto f = start();
    auto* combo = find<QComboBox>(f.get(), "cbxAccountName");
    int newBids = 0;
    QObject::connect(combo, &QComboBox::activated, f.get(),
                     [&] { cbxAccountNameChange(f.get(), f->state(), [&] { ++newBids; }); });
    f->show();
    // With a bid open: filled, nothing asked.
    find<QLineEdit>(f.get(), "ebxLocalBidID")->setText("ABELL0101");
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);  // Anna Bell
    QTest::keyClick(combo, Qt::Key_Down);  // Carl O'Neil
    EXPECT_EQ(combo->currentText(), "Carl O'Neil");
    EXPECT_EQ(find<QLineEdit>(f.get(), "cbxSSA")->text(), "Sam Price");
    EXPECT_EQ(find<QLineEdit>(f.get(), "ebxSSAEmail")->text(), "sam.price@vyn.example");
    EXPECT_EQ(find<QLineEdit>(f.get(), "cbxASM")->text(), "Olga Marsh");
    EXPECT_EQ(find<QLineEdit>(f.get(), "cbxDistrict")->text(), "Ottawa");
    EXPECT_EQ(find<QLineEdit>(f.get(), "ebxRACFID")->text(), "CONEIL2");
    EXPECT_EQ(find<QLineEdit>(f.get(), "ebxAccountName")->text(), "Carl O'Neil");
    EXPECT_EQ(newBids, 0);

    // Without a bid: the question; No starts nothing, Yes starts a bid.
    find<QLineEdit>(f.get(), "ebxLocalBidID")->clear();
    ScriptedPrompt prompt;
    prompt.answer(No, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Create new Bid?");
        EXPECT_EQ(r.caption, applicationTitle());
        EXPECT_EQ(r.buttons, Yes | No);
    });
    QTest::keyClick(combo, Qt::Key_Down);  // Dana Ruiz
    EXPECT_EQ(newBids, 0);
    EXPECT_EQ(find<QLineEdit>(f.get(), "cbxDistrict")->text(), "Vancouver");
    EXPECT_FALSE(f->state().FNewBidGuard);
    prompt.answer(Yes);
    QTest::keyClick(combo, Qt::Key_Up);  // Carl O'Neil
    EXPECT_EQ(newBids, 1);
    EXPECT_FALSE(f->state().FNewBidGuard);
    // While a new bid is being started the question is not asked again.
    f->state().FNewBidGuard = true;
    QTest::keyClick(combo, Qt::Key_Up);
    EXPECT_EQ(newBids, 1);
    EXPECT_EQ(find<QLineEdit>(f.get(), "ebxAccountName")->text(), "Anna Bell");
}

TEST_F(LookupTest, LastMatchingExecutiveRecordWinsAndNoMatchKeepsTheFields) {
    auto rows = test::testExecutives();
    rows.push_back({"anna bell", "Second SSA", "second@vyn.example", "Second ASM", "Montreal", "SECOND"});
    ASSERT_TRUE(test::writeTable(path("AELookUp"), demo::aeLookUpLayout(), rows));
    auto f = start();
    auto* combo = find<QComboBox>(f.get(), "cbxAccountName");
    EXPECT_EQ(itemsOf(combo), (QStringList{"Anna Bell", "Carl O'Neil", "Dana Ruiz"}));
    find<QLineEdit>(f.get(), "ebxLocalBidID")->setText("X");
    combo->setCurrentIndex(0);
    cbxAccountNameChange(f.get(), f->state(), {});
    EXPECT_EQ(find<QLineEdit>(f.get(), "cbxDistrict")->text(), "Montreal");
    EXPECT_EQ(find<QLineEdit>(f.get(), "ebxRACFID")->text(), "SECOND");
    combo->setCurrentIndex(-1);
    cbxAccountNameChange(f.get(), f->state(), {});
    EXPECT_EQ(find<QLineEdit>(f.get(), "ebxAccountName")->text(), "");
    EXPECT_EQ(find<QLineEdit>(f.get(), "cbxDistrict")->text(), "Montreal");
}

TEST_F(LookupTest, SyncShipmentPickersFollowsTheCurrentLine) {
    auto f = start();
    auto* grid = find<StringGrid>(f.get(), "ShipmentGrid");
    if (grid->rowCount() < 3) grid->setRowCount(3);
    if (grid->colCount() < 7) grid->setColCount(13);
    grid->setCell(1, 2, "Express");
    grid->setCell(6, 2, "US");
    grid->setCurrentCell(1, 2, true);
    SyncShipmentPickers(f.get());
    EXPECT_EQ(find<QComboBox>(f.get(), "cbxServices")->currentText(), "Express");
    EXPECT_TRUE(find<QComboBox>(f.get(), "cbxCountry")->currentText().startsWith("US "));
    grid->setCurrentCell(1, 1, true);
    SyncShipmentPickers(f.get());
    EXPECT_EQ(find<QComboBox>(f.get(), "cbxServices")->currentIndex(), 0)
        << "an empty cell selects the empty item";
    EXPECT_EQ(find<QComboBox>(f.get(), "cbxCountry")->currentIndex(), -1);
}

TEST_F(LookupTest, SalesReferenceTableEditShowsInThePickersAndKeepsTheChoice) {
    auto f = start();
    auto* combo = find<QComboBox>(f.get(), "cbxAccountName");
    combo->setCurrentIndex(1);  // Carl O'Neil
    ScriptedPrompt prompt;
    prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Write changes to .DBF?"); });
    bool driven = false;
    test::whenModalShown([&](QWidget* w) {
        auto* form = qobject_cast<TDBeditForm*>(w);
        ASSERT_NE(form, nullptr);
        StringGrid* g = form->grid();
        EXPECT_EQ(g->cell(2, 0), "Ae Name");
        const int entry = g->rowCount() - 1;
        g->setCurrentCell(2, entry);
        for (QChar ch : QString("Bea Quinn"))
            QTest::keyClick(g->editor() ? static_cast<QWidget*>(g->editor()) : g, ch.toLatin1());
        QTest::keyClick(g->editor(), Qt::Key_Return);
        g->setCurrentCell(form->lookupColumn(), entry);
        QTest::keyClick(g, Qt::Key_T);  // Toronto
        EXPECT_EQ(g->cell(form->lookupColumn(), entry), "Toronto");
        driven = true;
        QTest::mouseClick(form->findChild<QPushButton*>("btnExit"), Qt::LeftButton);
    });
    mnuSalesRefTableClick(f.get(), f->state());
    EXPECT_TRUE(driven);
    EXPECT_EQ(itemsOf(combo), (QStringList{"Anna Bell", "Bea Quinn", "Carl O'Neil", "Dana Ruiz"}));
    EXPECT_EQ(combo->currentText(), "Carl O'Neil") << "the choice survives the refill";
    EXPECT_EQ(find<QLineEdit>(f.get(), "ebxAccountName")->text(), "Carl O'Neil");
    f.reset();

    // The next start shows the new executive too, and choosing her fills her district.
    auto again = start();
    auto* c2 = find<QComboBox>(again.get(), "cbxAccountName");
    EXPECT_EQ(itemsOf(c2), (QStringList{"Anna Bell", "Bea Quinn", "Carl O'Neil", "Dana Ruiz"}));
    find<QLineEdit>(again.get(), "ebxLocalBidID")->setText("X");
    c2->setCurrentIndex(1);
    cbxAccountNameChange(again.get(), again->state(), {});
    EXPECT_EQ(find<QLineEdit>(again.get(), "cbxDistrict")->text(), "Toronto");
}

}  // namespace
}  // namespace tarvik
