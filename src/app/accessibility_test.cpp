// What a screen reader finds on the real pages, read through Qt's accessibility interface: every control
// that takes the focus has a role and a name (its label's text without the "&"), the Yes/No boxes are
// grouped under their question, the floating pickers of the shipment grid and their lists are in the
// tree, and every grid cell tells its column heading and line.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <map>

#include "app/tmainform.h"
#include "pages/cubepage.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

namespace tarvik {
namespace {

// A caption as read out: "&" marks an accelerator, "&&" is one "&".
QString spoken(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text.simplified();
}

// Controls without a label of their own, and the names the windows give them.
const std::map<QString, QString>& unlabelled() {
    static const std::map<QString, QString> names = {
        {"IncentiveGrid", "Service volumes"},
        {"CubeGrid", "Package dimensions"},
        {"ShipmentGrid", "Sample shipments"},
        {"ebxAHPctComment", "Comment on the special handling percentage"},
        {"cbxServices", "Service"},
        {"cbxCountry", "Country"},
    };
    return names;
}

// The name a person sees for the control: the names above, a button's or box's own caption, or the
// label whose buddy it is.
QString visibleName(QWidget* w) {
    if (auto it = unlabelled().find(w->objectName()); it != unlabelled().end()) return it->second;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return spoken(b->text());
    for (QLabel* l : w->window()->findChildren<QLabel*>())
        if (l->buddy() == w) return spoken(l->text());
    return QStringLiteral("<no label>");
}

QAccessible::Role expectedRole(QWidget* w) {
    if (qobject_cast<QComboBox*>(w)) return QAccessible::ComboBox;
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w)) return QAccessible::EditableText;
    if (qobject_cast<QRadioButton*>(w)) return QAccessible::RadioButton;
    if (qobject_cast<QCheckBox*>(w)) return QAccessible::CheckBox;
    if (qobject_cast<QPushButton*>(w)) return QAccessible::Button;
    if (qobject_cast<StringGrid*>(w)) return QAccessible::Table;
    return QAccessible::NoRole;
}

// Parts of other controls that take the focus on their behalf (a combo box's edit and list, a scroll
// area's bars, the tab bar's scroll buttons) are read as part of their control.
bool partOfAnotherControl(QWidget* w) {
    if (qobject_cast<QScrollBar*>(w)) return true;
    for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (qobject_cast<QComboBox*>(p) || qobject_cast<QTabBar*>(p) || qobject_cast<QAbstractScrollArea*>(p))
            return true;
    return false;
}

// The interface is reachable from the window's own: each parent lists it among its children.
bool inTree(QAccessibleInterface* iface, QAccessibleInterface* root) {
    for (int guard = 0; iface && guard < 50; ++guard) {
        if (iface == root) return true;
        QAccessibleInterface* parent = iface->parent();
        if (!parent || parent->indexOfChild(iface) < 0) return false;
        iface = parent;
    }
    return false;
}

QAccessibleInterface* findInTree(QAccessibleInterface* from, QObject* object, int depth = 0) {
    if (!from || depth > 12) return nullptr;
    if (from->object() == object) return from;
    // A grid's cells are many; the controls sought are never inside one.
    if (from->role() == QAccessible::Table) return nullptr;
    for (int i = 0; i < from->childCount(); ++i)
        if (QAccessibleInterface* found = findInTree(from->child(i), object, depth + 1)) return found;
    return nullptr;
}

class AccessibilityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        test::makeDataFolder(tmp_.path());
        form_ = std::make_unique<TMainForm>(tmp_.path());
        form_->show();
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    }
    void TearDown() override { form_.reset(); }
    QTemporaryDir tmp_;
    std::unique_ptr<TMainForm> form_;
};

TEST_F(AccessibilityTest, EveryFocusableControlOfEveryPageHasItsLabelAsName) {
    // Lists with an item chosen, so that a list named by its chosen item would show.
    for (QComboBox* c : form_->findChildren<QComboBox*>())
        if (c->count() > 1) c->setCurrentIndex(c->count() - 1);
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(form_.get());
    ASSERT_NE(root, nullptr);
    QTabWidget* tabs = form_->tabEntryPages;
    int checked = 0;
    for (int p = 0; p < tabs->count(); ++p) {
        tabs->setCurrentIndex(p);
        QWidget* page = tabs->widget(p);
        SCOPED_TRACE(page->objectName().toStdString());
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (w->focusPolicy() == Qt::NoFocus || partOfAnotherControl(w)) continue;
            SCOPED_TRACE(w->objectName().isEmpty() ? std::string(w->metaObject()->className())
                                                   : w->objectName().toStdString());
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
            ASSERT_NE(iface, nullptr);
            const QString name = iface->text(QAccessible::Name);
            EXPECT_EQ(name, visibleName(w));
            EXPECT_FALSE(name.contains(QLatin1Char('&')));
            EXPECT_EQ(iface->role(), expectedRole(w));
            EXPECT_TRUE(inTree(iface, root)) << "reachable from the window";
            ++checked;
        }
    }
    for (QPushButton* b : {form_->btnBack, form_->btnNext, form_->btnExit}) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(b);
        EXPECT_EQ(iface->text(QAccessible::Name), visibleName(b));
        ++checked;
    }
    // The pages' tabs are named by their captions.
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(tabs->tabBar());
    ASSERT_GE(bar->childCount(), tabs->count());  // the tabs, then the bar's scroll buttons
    for (int p = 0; p < tabs->count(); ++p)
        EXPECT_EQ(bar->child(p)->text(QAccessible::Name).trimmed(), tabs->tabText(p).trimmed());
    EXPECT_GT(checked, 50) << "every page's controls were walked";
}

TEST_F(AccessibilityTest, ListsAreNamedByTheirLabelAndTellTheirChoiceAsValue) {
    struct Case {
        const char* list;
        const char* name;
    };
    for (const Case& c : {Case{"cbxAccountName", "Account Executive Name"}, Case{"cbxIndustry", "Industry"},
                          Case{"cbxPLDTypes", "Primary Ship method with VYN"},
                          Case{"cbxCompetitorName2", "Secondary"}, Case{"ebxBeatPercent", "% Beat"}}) {
        SCOPED_TRACE(c.list);
        auto* combo = form_->findChild<QComboBox*>(c.list);
        ASSERT_NE(combo, nullptr);
        ASSERT_GT(combo->count(), 1);
        combo->setCurrentIndex(1);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(combo);
        EXPECT_EQ(iface->text(QAccessible::Name), c.name);
        EXPECT_EQ(iface->text(QAccessible::Value), combo->itemText(1));
        ASSERT_GE(iface->childCount(), 1);
        EXPECT_EQ(iface->child(0)->role(), QAccessible::List);
        EXPECT_EQ(iface->child(0)->childCount(), combo->count());
    }
    QAccessibleInterface* competitor =
        QAccessible::queryAccessibleInterface(form_->findChild<QComboBox*>("cbxCompetitorName"));
    EXPECT_EQ(competitor->text(QAccessible::Description), "Competitor Name");
}

TEST_F(AccessibilityTest, YesNoBoxesAreGroupedUnderTheirQuestion) {
    ShipperProfilePage* page = form_->tbsShipperProfile;
    struct Pair {
        QCheckBox* yes;
        QCheckBox* no;
        const char* question;
    };
    for (const Pair& p :
         {Pair{page->chbResellerYes(), page->chbResellerNo(), "Reseller of VYN Services?"},
          Pair{page->chbValueYes(), page->chbValueNo(), "Credit Card Eligibility Requested?"}}) {
        SCOPED_TRACE(p.question);
        for (QCheckBox* box : {p.yes, p.no}) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
            EXPECT_EQ(iface->text(QAccessible::Name), box->text());
            EXPECT_EQ(iface->text(QAccessible::Description), p.question);
            QAccessibleInterface* group = iface->parent();
            ASSERT_NE(group, nullptr);
            EXPECT_EQ(group->role(), QAccessible::Grouping);
            EXPECT_EQ(group->text(QAccessible::Name), p.question);
            EXPECT_GE(group->indexOfChild(iface), 0);
        }
    }
}

TEST_F(AccessibilityTest, FloatingPickersAndTheirListsAreInTheTree) {
    form_->tabEntryPages->setCurrentWidget(form_->tbsShipmentData);
    ShipmentPage* page = form_->tbsShipmentData;
    StringGrid* grid = page->shipmentGrid();
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(form_.get());
    struct Case {
        QComboBox* picker;
        int column;
        const char* name;
    };
    for (const Case& c : {Case{page->servicesPicker(), ShipmentPage::ColService, "Service"},
                          Case{page->countryPicker(), ShipmentPage::ColCountry, "Country"}}) {
        SCOPED_TRACE(c.name);
        grid->setFocus();
        ASSERT_TRUE(grid->setCurrentCell(c.column, 1));
        ASSERT_TRUE(c.picker->isVisible());
        QAccessibleInterface* iface = findInTree(root, c.picker);
        ASSERT_NE(iface, nullptr) << "the picker is in the window's tree";
        EXPECT_EQ(iface->role(), QAccessible::ComboBox);
        EXPECT_EQ(iface->text(QAccessible::Name), c.name);
        EXPECT_FALSE(iface->state().invisible);
        QAccessibleInterface* list = iface->child(0);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->role(), QAccessible::List);
        EXPECT_EQ(list->object(), c.picker->view());
        EXPECT_EQ(list->childCount(), c.picker->count());
        if (list->childCount() > 1) {
            EXPECT_EQ(list->child(1)->text(QAccessible::Name), c.picker->itemText(1));
        }
    }
}

TEST_F(AccessibilityTest, GridCellsTellTheirColumnHeadingAndLine) {
    struct Case {
        StringGrid* grid;
        int col, row;
        const char* heading;
        const char* description;
    };
    StringGrid* services = form_->tbsServices->incentiveGrid();
    StringGrid* cube = form_->tbsCubeAnalysis->findChild<StringGrid*>("CubeGrid");
    StringGrid* ship = form_->tbsShipmentData->shipmentGrid();
    ship->setCell(ShipmentPage::ColPostal, 3, "K1A 0B1");
    const Case cases[] = {
        {ship, ShipmentPage::ColPostal, 3, "Postal/Zip", "Postal/Zip, line 3"},
        {ship, ShipmentPage::ColTotCmp, 30, "Tot Cmp $", "Tot Cmp $, line 30"},
        {cube, 4, 2, "No Pkgs", "No Pkgs, Pkg # 2"},
        {services, 2, 1, "Bidding On", "Bidding On, Ground Multi"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(c.grid);
        ASSERT_NE(table, nullptr);
        ASSERT_NE(table->tableInterface(), nullptr);
        QAccessibleInterface* cell = table->tableInterface()->cellAt(c.row - 1, c.col - 1);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->text(QAccessible::Name), c.grid->cell(c.col, c.row));
        EXPECT_EQ(cell->text(QAccessible::Description), c.description);
        QAccessibleTableCellInterface* position = cell->tableCellInterface();
        ASSERT_NE(position, nullptr);
        const auto headers = position->columnHeaderCells();
        ASSERT_EQ(headers.size(), 1);
        EXPECT_EQ(headers[0]->text(QAccessible::Name).trimmed(), c.heading);
        // Qt hands out new header cells that nobody owns: the cache takes them, and deletes them.
        for (QAccessibleInterface* header : headers)
            QAccessible::deleteAccessibleInterface(QAccessible::registerAccessibleInterface(header));
    }
}

}  // namespace
}  // namespace tarvik
