#include "pages/bidprofilepage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <functional>
#include <vector>

#include "pages/choicegroups.h"
#include "pages/expandedform.h"
#include "testsupport/scriptedprompt.h"

using namespace tarvik;

namespace {

QString labelOf(QWidget* page, QWidget* control) {
    for (QLabel* l : page->findChildren<QLabel*>())
        if (l->buddy() == control) return l->text();
    return QStringLiteral("<no label>");
}

QStringList itemsOf(const QComboBox* c) {
    QStringList items;
    for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
    return items;
}

struct BidFixture : ::testing::Test {
    MainState state;
    BidProfilePage page{state};
    void SetUp() override {
        page.resize(700, 700);
        page.show();
        page.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    }
};

}  // namespace

TEST_F(BidFixture, ControlsCaptionsItemsAndDefaults) {
    EXPECT_EQ(page.objectName(), QStringLiteral("tbsBidProfile"));
    EXPECT_EQ(page.rgBidType()->title(), QStringLiteral(" T&ype of Bid "));
    EXPECT_EQ(page.rgBidType()->items(),
              (QStringList{QStringLiteral("Conversion"), QStringLiteral("Penetration"), QStringLiteral("Retention")}));
    EXPECT_EQ(page.rgBidType()->itemIndex(), -1);
    EXPECT_EQ(page.chbRegain()->text(), QStringLiteral("Regain"));
    EXPECT_FALSE(page.chbRegain()->isChecked());
    EXPECT_EQ(page.chbMultiOnly()->text(), QStringLiteral("&Multi"));
    EXPECT_TRUE(page.chbMultiOnly()->isChecked());
    EXPECT_FALSE(page.chbMultiOnly()->isEnabled());
    EXPECT_EQ(page.chbMultiOnly()->focusPolicy(), Qt::NoFocus);
    const QStringList competitors{QStringLiteral("Purolator"), QStringLiteral("FedEx"), QStringLiteral("Canpar"),
                                  QStringLiteral("DHL"),       QStringLiteral("RPS"),
                                  QStringLiteral("Other - Please Type In")};
    for (QComboBox* c : {page.cbxCompetitorName(), page.cbxCompetitorName2(), page.cbxCompetitorName3()}) {
        EXPECT_EQ(itemsOf(c), competitors);
        EXPECT_TRUE(c->isEditable());
        EXPECT_EQ(c->currentText(), QString());
    }
    EXPECT_EQ(labelOf(&page, page.cbxCompetitorName()), QStringLiteral("Primary"));
    EXPECT_EQ(labelOf(&page, page.cbxCompetitorName2()), QStringLiteral("Secondary"));
    EXPECT_EQ(labelOf(&page, page.cbxCompetitorName3()), QStringLiteral("Tertiary"));
    EXPECT_EQ(page.cgBillingOption()->title(), QStringLiteral(" Type of Freight Incentive Requested "));
    EXPECT_EQ(page.cgBillingOption()->items(),
              (QStringList{QStringLiteral("Pre &Paid - P/P"), QStringLiteral("Freight &Collect - F/C"),
                           QStringLiteral("&Return Services - R/S")}));
    EXPECT_TRUE(page.cgBillingOption()->isItemChecked(0));
    EXPECT_FALSE(page.cgBillingOption()->isItemChecked(1));
    EXPECT_FALSE(page.cgBillingOption()->isItemChecked(2));
    EXPECT_EQ(page.chbBroker()->text(), QStringLiteral("C&ustomer using VYN Brokerage?"));
    EXPECT_EQ(labelOf(&page, page.cbxPLDTypes()), QStringLiteral("Primary Ship method with VYN"));
    EXPECT_FALSE(page.cbxPLDTypes()->isEditable());
    EXPECT_EQ(labelOf(&page, page.ebxAssociated()), QStringLiteral("Associated company?"));
    EXPECT_EQ(page.ebxAssociated()->text(), QStringLiteral("Not part of a VYN approved association"));
    const QString hint = QStringLiteral(
        "If this company is part of an association for which VYN provides special rates, enter the name.");
    EXPECT_EQ(page.ebxAssociated()->toolTip(), hint);
    for (QLabel* l : page.findChildren<QLabel*>())
        if (l->buddy() == page.ebxAssociated()) EXPECT_EQ(l->toolTip(), hint);
    EXPECT_EQ(labelOf(&page, page.cbxCustSource()), QStringLiteral("Source of competitor rates"));
    EXPECT_EQ(itemsOf(page.cbxCustSource()), BidProfilePage::custSourceItems());
    EXPECT_EQ(page.cbxCustSource()->currentIndex(), -1);
    EXPECT_EQ(labelOf(&page, page.cbxSourceDist()), QStringLiteral("Distribution information source"));
    EXPECT_EQ(labelOf(&page, page.mmoSalesStrategy()), QStringLiteral("Sales strategy?"));
    EXPECT_EQ(page.btnExpand()->text(), QStringLiteral("&Expand"));
    EXPECT_EQ(page.rgStrategy()->title(), QStringLiteral(" &Strategy "));
    EXPECT_EQ(page.rgStrategy()->items(),
              (QStringList{QStringLiteral("Beat Competitor"), QStringLiteral("Match Competitor"),
                           QStringLiteral("Charge Premium")}));
    EXPECT_EQ(page.lblBeatPercent()->text(), QStringLiteral("% Beat"));
    EXPECT_EQ(itemsOf(page.ebxBeatPercent()),
              (QStringList{QStringLiteral("2"), QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("15"),
                           QStringLiteral("20")}));
    EXPECT_FALSE(page.ebxBeatPercent()->isEnabled());
    EXPECT_FALSE(page.lblBeatPercent()->isEnabled());
    EXPECT_EQ(page.lblBrokerage()->text(), QStringLiteral("Brokerage Customer using:"));
    EXPECT_EQ(itemsOf(page.cbxBrokerage()),
              (QStringList{QStringLiteral("VYN Import or Other Broker"), QStringLiteral("VYN Import and VYN Broker"),
                           QStringLiteral("Other Import and Other Broker"), QStringLiteral("Other Import and VYN Broker"),
                           QStringLiteral("Does not import")}));
}

TEST_F(BidFixture, BrokerageControlFollowsTheBidsTable) {
    EXPECT_TRUE(page.chbBroker()->isVisible());
    EXPECT_FALSE(page.cbxBrokerage()->isVisible());
    EXPECT_FALSE(page.lblBrokerage()->isVisible());
    page.setBrokerageFieldPresent(true);
    EXPECT_FALSE(page.chbBroker()->isVisible());
    EXPECT_TRUE(page.cbxBrokerage()->isVisible());
    EXPECT_TRUE(page.lblBrokerage()->isVisible());
}

TEST_F(BidFixture, MatchAfterBeatDisablesThePercentageButKeepsIt) {
    page.rgStrategy()->button(0)->click();
    EXPECT_TRUE(page.ebxBeatPercent()->isEnabled());
    EXPECT_TRUE(page.lblBeatPercent()->isEnabled());
    EXPECT_TRUE(page.ebxBeatPercent()->hasFocus());
    page.ebxBeatPercent()->setCurrentIndex(2);
    page.rgStrategy()->button(1)->click();
    EXPECT_FALSE(page.ebxBeatPercent()->isEnabled());
    EXPECT_FALSE(page.lblBeatPercent()->isEnabled());
    EXPECT_EQ(page.ebxBeatPercent()->currentText(), QStringLiteral("10"));
    page.rgStrategy()->button(2)->click();
    EXPECT_FALSE(page.ebxBeatPercent()->isEnabled());
    // While loading the click changes nothing.
    state.FLoading = true;
    page.rgStrategy()->button(0)->click();
    EXPECT_FALSE(page.ebxBeatPercent()->isEnabled());
    state.FLoading = false;
}

TEST_F(BidFixture, TypedCompetitorIsKeptAsTyped) {
    QComboBox* c = page.cbxCompetitorName();
    c->setFocus();
    QTest::keyClicks(c, QStringLiteral("Acme Couriers"));
    QTest::keyClick(c, Qt::Key_Return);
    EXPECT_EQ(BidProfilePage::competitorText(c), QStringLiteral("Acme Couriers"));
    EXPECT_EQ(c->count(), 6);  // not added to the list
    // Choosing "Other - Please Type In" and typing nothing keeps that item's text.
    c->setCurrentIndex(5);
    EXPECT_EQ(BidProfilePage::competitorText(c), QStringLiteral("Other - Please Type In"));
    // A typed name equal to an item is that item.
    c->setEditText(QString());
    QTest::keyClicks(c, QStringLiteral("DHL"));
    EXPECT_EQ(BidProfilePage::competitorText(c), QStringLiteral("DHL"));
}

TEST_F(BidFixture, ExpandedWindowCopiesBackWhenClosedByItsCloseButton) {
    page.cbxSourceDist()->addItems({QStringLiteral("Zeta mail"), QStringLiteral("Alpha list")});
    page.cbxSourceDist()->setCurrentIndex(0);
    page.cbxCustSource()->setCurrentIndex(1);
    page.mmoSalesStrategy()->setPlainText(QStringLiteral("Win the ground volume"));
    bool seen = false;
    test::whenModalShown([&](QWidget* w) {
        auto* form = qobject_cast<TExpandedForm*>(w);
        ASSERT_NE(form, nullptr);
        seen = true;
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Full Details..."));
        EXPECT_EQ(form->btnExit()->text(), QStringLiteral("E&xit"));
        EXPECT_EQ(form->cbxCustSource()->currentText(), BidProfilePage::custSourceItems()[1]);
        EXPECT_EQ(form->cbxSourceDist()->currentText(), QStringLiteral("Zeta mail"));
        EXPECT_EQ(itemsOf(form->cbxSourceDist()), (QStringList{QStringLiteral("Alpha list"), QStringLiteral("Zeta mail")}));
        EXPECT_EQ(form->mmoSalesStrategy()->toPlainText(), QStringLiteral("Win the ground volume"));
        EXPECT_EQ(form->focusWidget(), form->mmoSalesStrategy());
        form->mmoSalesStrategy()->moveCursor(QTextCursor::End);
        QTest::keyClicks(form->mmoSalesStrategy(), QStringLiteral(" and the air"));
        form->cbxSourceDist()->setCurrentIndex(0);
        form->cbxCustSource()->setCurrentIndex(3);
        form->close();  // the window's close button
    });
    page.btnExpand()->click();
    EXPECT_TRUE(seen);
    EXPECT_EQ(page.mmoSalesStrategy()->toPlainText(), QStringLiteral("Win the ground volume and the air"));
    EXPECT_EQ(page.cbxSourceDist()->currentText(), QStringLiteral("Alpha list"));
    EXPECT_EQ(page.cbxCustSource()->currentIndex(), 3);
    EXPECT_EQ(page.focusWidget(), page.btnExpand());
    EXPECT_EQ(page.findChildren<TExpandedForm*>().size(), 0);  // destroyed
}

TEST_F(BidFixture, ExpandedWindowExitButtonAndTextsTheListsDoNotHold) {
    page.cbxCustSource()->setCurrentIndex(2);
    test::whenModalShown([&](QWidget* w) {
        auto* form = qobject_cast<TExpandedForm*>(w);
        ASSERT_NE(form, nullptr);
        form->cbxCustSource()->setEditText(QStringLiteral("Something else"));
        form->mmoSalesStrategy()->setPlainText(QStringLiteral("Line one\nLine two"));
        form->btnExit()->click();
    });
    page.btnExpand()->click();
    // A text the list cannot show leaves the earlier choice in place.
    EXPECT_EQ(page.cbxCustSource()->currentIndex(), 2);
    EXPECT_EQ(page.mmoSalesStrategy()->toPlainText(), QStringLiteral("Line one\nLine two"));
}

TEST_F(BidFixture, BidTypeOtherThanPenetrationTicksMultiWithoutAsking) {
    int asked = 0;
    page.rateOptionCheck = [&] { ++asked; return true; };
    page.chbMultiOnly()->setChecked(false);
    page.rgBidType()->button(0)->click();
    EXPECT_TRUE(page.chbMultiOnly()->isChecked());
    page.chbMultiOnly()->setChecked(false);
    page.rgBidType()->button(2)->click();
    EXPECT_TRUE(page.chbMultiOnly()->isChecked());
    EXPECT_EQ(asked, 0);
}

// The rate-option questions are asked when the bid type changes to Penetration, not when the type
// already chosen is clicked again (by mouse or Space), whether the user or a loaded bid chose it: a
// second round would ask again and an Escape would undo the first answer without a word.
TEST_F(BidFixture, RateQuestionsFollowAChangeOfBidTypeOnly) {
    page.rateOptionCheck = [] { return true; };
    RadioGroup* type = page.rgBidType();
    struct Step {
        const char* what;
        std::function<void()> act;
        std::vector<int> answers;  // the answers given, one per question expected
        bool multiAfter;
    };
    auto click = [type](int i) { return [type, i] { type->button(i)->click(); }; };
    auto space = [type](int i) {
        return [type, i] {
            type->button(i)->setFocus();
            QTest::keyClick(type->button(i), Qt::Key_Space);
        };
    };
    const Step steps[] = {
        {"Penetration chosen: both questions", click(1), {Yes, No}, false},
        {"Penetration clicked again: nothing asked, the answer kept", click(1), {}, false},
        {"Penetration by Space again: nothing asked", space(1), {}, false},
        {"Conversion: no question, Multi ticked", click(0), {}, true},
        {"Penetration again after a change: asked again", click(1), {Yes, No}, false},
        {"Retention by Space: a change, no question", space(2), {}, true},
        {"Penetration as a loaded bid has it", [type] { type->setItemIndex(1); }, {}, true},
        {"clicking the loaded type asks nothing", click(1), {}, true},
        {"another type, then Penetration: asked",
         [type] {
             type->button(0)->click();
             type->button(1)->click();
         },
         {No},
         true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        test::ScriptedPrompt prompt;
        for (int a : step.answers) prompt.answer(a);
        step.act();
        EXPECT_EQ(prompt.pending(), 0);
        EXPECT_EQ(prompt.shown().size(), step.answers.size());
        EXPECT_EQ(page.chbMultiOnly()->isChecked(), step.multiAfter);
    }
}

TEST_F(BidFixture, ClearAndDefaults) {
    page.rgBidType()->button(1)->setChecked(true);
    page.rgStrategy()->button(0)->setChecked(true);
    page.cgBillingOption()->setItemChecked(2, true);
    page.chbRegain()->setChecked(true);
    page.cbxCompetitorName()->setEditText(QStringLiteral("Acme"));
    page.ebxBeatPercent()->setEnabled(true);
    page.clearControls();
    EXPECT_EQ(page.rgBidType()->itemIndex(), -1);
    EXPECT_EQ(page.rgStrategy()->itemIndex(), -1);
    EXPECT_FALSE(page.cgBillingOption()->isItemChecked(0));
    EXPECT_FALSE(page.cgBillingOption()->isItemChecked(2));
    EXPECT_FALSE(page.chbMultiOnly()->isChecked());
    EXPECT_EQ(page.cbxCompetitorName()->currentText(), QString());
    EXPECT_EQ(page.ebxAssociated()->text(), QString());
    page.applyBidDefaults();
    EXPECT_TRUE(page.cgBillingOption()->isItemChecked(0));
    EXPECT_FALSE(page.cgBillingOption()->isItemChecked(2));
    EXPECT_TRUE(page.chbMultiOnly()->isChecked());
    EXPECT_FALSE(page.ebxBeatPercent()->isEnabled());
    EXPECT_EQ(page.ebxAssociated()->text(), QStringLiteral("Not part of a VYN approved association"));
}

TEST_F(BidFixture, TabOrderOfThePage) {
    page.setBrokerageFieldPresent(true);
    // Walk the focus chain once round; buttons of a group count as their group.
    QStringList seen;
    QWidget* start = page.rgBidType()->button(0);
    QWidget* w = start;
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->isVisibleTo(&page) && w->isEnabled()) {
            QString name = w->objectName();
            if (qobject_cast<QRadioButton*>(w) || (qobject_cast<QCheckBox*>(w) && name.isEmpty()))
                name = w->parentWidget()->objectName();
            if (!name.isEmpty() && (seen.isEmpty() || seen.last() != name)) seen << name;
        }
        w = w->nextInFocusChain();
    } while (w != start);
    const QStringList expected{QStringLiteral("rgBidType"),       QStringLiteral("chbRegain"),
                               QStringLiteral("cbxCompetitorName"), QStringLiteral("cbxCompetitorName2"),
                               QStringLiteral("cbxCompetitorName3"), QStringLiteral("cgBillingOption"),
                               QStringLiteral("cbxPLDTypes"),     QStringLiteral("ebxAssociated"),
                               QStringLiteral("cbxCustSource"),   QStringLiteral("cbxSourceDist"),
                               QStringLiteral("mmoSalesStrategy"), QStringLiteral("btnExpand"),
                               QStringLiteral("rgStrategy"),      QStringLiteral("cbxBrokerage")};
    // ebxBeatPercent is disabled until "Beat Competitor"; chbMultiOnly is never a tab stop.
    QStringList relevant;
    for (const QString& n : seen)
        if (expected.contains(n)) relevant << n;
    EXPECT_EQ(relevant, expected);
    EXPECT_FALSE(seen.contains(QStringLiteral("chbMultiOnly")));
}

// At the width the page has in a window of minimum size the captions of the freight incentive and
// strategy groups stay whole: the groups take fewer columns, and three again once there is room.
TEST(BidProfile, ChoiceGroupsKeepTheirCaptionsWholeOnANarrowPage) {
    MainState state;
    QWidget window;  // the page is squeezed as the window's page control squeezes it
    window.resize(1100, 760);
    auto* page = new BidProfilePage(state, &window);
    page->setGeometry(0, 0, 1000, 700);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    auto captionsWhole = [](auto* group, auto itemAt) {
        for (int i = 0; i < 3; ++i) {
            QAbstractButton* b = itemAt(group, i);
            EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
            EXPECT_LE(b->geometry().right(), group->contentsRect().right()) << b->text().toStdString();
        }
    };
    auto checkAt = [](CheckGroup* g, int i) -> QAbstractButton* { return g->box(i); };
    auto radioAt = [](RadioGroup* g, int i) -> QAbstractButton* { return g->button(i); };

    EXPECT_EQ(page->cgBillingOption()->columnsInUse(), 3);
    EXPECT_EQ(page->rgStrategy()->columnsInUse(), 3);
    EXPECT_EQ(page->rgStrategy()->button(0)->y(), page->rgStrategy()->button(2)->y());
    captionsWhole(page->cgBillingOption(), checkAt);
    captionsWhole(page->rgStrategy(), radioAt);

    page->setGeometry(0, 0, 320, 700);
    QApplication::processEvents();
    EXPECT_LT(page->cgBillingOption()->columnsInUse(), 3);
    EXPECT_LT(page->rgStrategy()->columnsInUse(), 3);
    captionsWhole(page->cgBillingOption(), checkAt);
    captionsWhole(page->rgStrategy(), radioAt);
    // Items still run row by row: the first item stays first.
    EXPECT_LT(page->rgStrategy()->button(0)->y(), page->rgStrategy()->button(2)->y());

    page->setGeometry(0, 0, 1000, 700);
    QApplication::processEvents();
    EXPECT_EQ(page->cgBillingOption()->columnsInUse(), 3);
    EXPECT_EQ(page->rgStrategy()->columnsInUse(), 3);
    EXPECT_EQ(page->rgStrategy()->button(0)->y(), page->rgStrategy()->button(2)->y());
}

// The strategy chosen with the arrow keys inside the group runs the strategy rule as a click does.
TEST_F(BidFixture, StrategyChosenWithArrowKeysRunsTheRule) {
    page.rgStrategy()->button(1)->click();
    EXPECT_FALSE(page.ebxBeatPercent()->isEnabled());
    page.rgStrategy()->button(1)->setFocus();
    QTest::keyClick(page.rgStrategy()->button(1), Qt::Key_Left);
    QApplication::processEvents();
    EXPECT_EQ(page.rgStrategy()->itemIndex(), 0);
    EXPECT_TRUE(page.ebxBeatPercent()->isEnabled());
    EXPECT_TRUE(page.ebxBeatPercent()->hasFocus());
    page.rgStrategy()->button(0)->setFocus();
    QTest::keyClick(page.rgStrategy()->button(0), Qt::Key_Right);
    QApplication::processEvents();
    EXPECT_EQ(page.rgStrategy()->itemIndex(), 1);
    EXPECT_FALSE(page.ebxBeatPercent()->isEnabled());
}
