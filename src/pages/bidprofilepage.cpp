#include "pages/bidprofilepage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include "pages/choicegroups.h"
#include "pages/expandedform.h"
#include "pages/servicespage.h"
#include "widgets/accessibility.h"
#include "widgets/seams.h"

namespace tarvik {

namespace {

const QString kAssociatedDefault = QStringLiteral("Not part of a VYN approved association");

QComboBox* makeListCombo(const char* name, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->setEditable(false);
    return c;
}

QComboBox* makeCompetitorCombo(const char* name, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);  // a typed name is kept as text, not added to the list
    c->setCompleter(nullptr);
    c->addItems(BidProfilePage::competitorItems());
    c->setCurrentIndex(-1);
    return c;
}

// A list-only combo takes a text by selecting the item equal to it; with no such item it keeps what
// it shows (it cannot show a text of its own).
void takeListText(QComboBox* combo, const QString& text) {
    const int i = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i >= 0)
        combo->setCurrentIndex(i);
    else if (text.isEmpty())
        combo->setCurrentIndex(-1);
}

}  // namespace

QStringList BidProfilePage::competitorItems() {
    return {QStringLiteral("Purolator"), QStringLiteral("FedEx"),  QStringLiteral("Canpar"),
            QStringLiteral("DHL"),       QStringLiteral("RPS"),    QStringLiteral("Other - Please Type In")};
}

QStringList BidProfilePage::custSourceItems() {
    return {QStringLiteral("Customer volunteered competitor bill, manifest or rate chart with discounted rates"),
            QStringLiteral("Account Executive actually saw some selected competitor rates"),
            QStringLiteral("Customer verbally indicated some selected competitor rates"),
            QStringLiteral("Customer would not volunteer any competitor information, estimate based on personal "
                           "experience")};
}

QString BidProfilePage::competitorText(const QComboBox* combo) {
    const int i = combo->currentIndex();
    if (i >= 0 && combo->itemText(i) == combo->currentText()) return combo->itemText(i);
    return combo->currentText();
}

BidProfilePage::BidProfilePage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsBidProfile"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 4);

    // ---- Bid type, competitors, freight incentive ----
    auto* gbBid = new QGroupBox(this);
    gbBid->setObjectName(QStringLiteral("gbBidType"));
    auto* g1 = new QGridLayout(gbBid);
    g1->setContentsMargins(6, 6, 6, 6);
    rgBidType_ = new RadioGroup(QStringLiteral(" T&ype of Bid "),
                                {QStringLiteral("Conversion"), QStringLiteral("Penetration"),
                                 QStringLiteral("Retention")},
                                3, gbBid);
    rgBidType_->setObjectName(QStringLiteral("rgBidType"));
    chbRegain_ = new QCheckBox(QStringLiteral("Regain"), gbBid);
    chbRegain_->setObjectName(QStringLiteral("chbRegain"));
    chbMultiOnly_ = new QCheckBox(QStringLiteral("&Multi"), gbBid);
    chbMultiOnly_->setObjectName(QStringLiteral("chbMultiOnly"));
    chbMultiOnly_->setEnabled(false);  // set only by the rate-option questions
    chbMultiOnly_->setFocusPolicy(Qt::NoFocus);
    auto* bidRow = new QHBoxLayout;
    bidRow->addWidget(rgBidType_, 1);
    auto* boxes = new QVBoxLayout;
    boxes->addWidget(chbRegain_);
    boxes->addWidget(chbMultiOnly_);
    bidRow->addLayout(boxes);
    g1->addLayout(bidRow, 0, 0, 1, 4);

    cbxCompetitorName_ = makeCompetitorCombo("cbxCompetitorName", gbBid);
    cbxCompetitorName2_ = makeCompetitorCombo("cbxCompetitorName2", gbBid);
    cbxCompetitorName3_ = makeCompetitorCombo("cbxCompetitorName3", gbBid);
    auto* lblCompetitor = new QLabel(QStringLiteral("Competitor Name"), gbBid);
    lblCompetitor->setObjectName(QStringLiteral("lblCompetitorName"));
    g1->addWidget(lblCompetitor, 1, 0, 1, 3);
    const QString competitorLabels[] = {QStringLiteral("Primary"), QStringLiteral("Secondary"),
                                        QStringLiteral("Tertiary")};
    QComboBox* competitors[] = {cbxCompetitorName_, cbxCompetitorName2_, cbxCompetitorName3_};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(competitorLabels[i], gbBid);
        l->setBuddy(competitors[i]);
        g1->addWidget(l, 2, i);
        g1->addWidget(competitors[i], 3, i);
    }
    cgBillingOption_ = new CheckGroup(QStringLiteral(" Type of Freight Incentive Requested "),
                                      {QStringLiteral("Pre &Paid - P/P"), QStringLiteral("Freight &Collect - F/C"),
                                       QStringLiteral("&Return Services - R/S")},
                                      3, gbBid);
    cgBillingOption_->setObjectName(QStringLiteral("cgBillingOption"));
    g1->addWidget(cgBillingOption_, 4, 0, 1, 3);
    top->addWidget(gbBid);

    // ---- Brokerage, ship method, association ----
    auto* gbShip = new QGroupBox(this);
    gbShip->setObjectName(QStringLiteral("gbShipMethod"));
    auto* g2 = new QGridLayout(gbShip);
    g2->setContentsMargins(6, 6, 6, 6);
    chbBroker_ = new QCheckBox(QStringLiteral("C&ustomer using VYN Brokerage?"), gbShip);
    chbBroker_->setObjectName(QStringLiteral("chbBroker"));
    cbxBrokerage_ = makeListCombo("cbxBrokerage", gbShip);
    cbxBrokerage_->addItems({QStringLiteral("VYN Import or Other Broker"), QStringLiteral("VYN Import and VYN Broker"),
                             QStringLiteral("Other Import and Other Broker"),
                             QStringLiteral("Other Import and VYN Broker"), QStringLiteral("Does not import")});
    cbxBrokerage_->setCurrentIndex(-1);
    lblBrokerage_ = new QLabel(QStringLiteral("Brokerage Customer using:"), gbShip);
    lblBrokerage_->setObjectName(QStringLiteral("lblBrokerage"));
    lblBrokerage_->setBuddy(cbxBrokerage_);
    // Both brokerage controls share one place; only one of them is ever shown.
    g2->addWidget(chbBroker_, 0, 0, 1, 2);
    g2->addWidget(lblBrokerage_, 0, 0);
    g2->addWidget(cbxBrokerage_, 0, 1);
    cbxPLDTypes_ = makeListCombo("cbxPLDTypes", gbShip);
    auto* lblPLD = new QLabel(QStringLiteral("Primary Ship method with VYN"), gbShip);
    lblPLD->setBuddy(cbxPLDTypes_);
    g2->addWidget(lblPLD, 1, 0);
    g2->addWidget(cbxPLDTypes_, 1, 1);
    ebxAssociated_ = new QLineEdit(gbShip);
    ebxAssociated_->setObjectName(QStringLiteral("ebxAssociated"));
    lblAssociated_ = new QLabel(QStringLiteral("Associated company?"), gbShip);
    lblAssociated_->setBuddy(ebxAssociated_);
    const QString hint =
        QStringLiteral("If this company is part of an association for which VYN provides special rates, enter the name.");
    ebxAssociated_->setToolTip(hint);
    lblAssociated_->setToolTip(hint);
    g2->addWidget(lblAssociated_, 2, 0);
    g2->addWidget(ebxAssociated_, 2, 1);
    g2->setColumnStretch(1, 1);
    top->addWidget(gbShip);

    // ---- Sources and strategy ----
    auto* gbStrategy = new QGroupBox(this);
    gbStrategy->setObjectName(QStringLiteral("gbStrategy"));
    auto* g3 = new QGridLayout(gbStrategy);
    g3->setContentsMargins(6, 6, 6, 6);
    cbxCustSource_ = makeListCombo("cbxCustSource", gbStrategy);
    cbxCustSource_->addItems(custSourceItems());
    cbxCustSource_->setCurrentIndex(-1);
    cbxSourceDist_ = makeListCombo("cbxSourceDist", gbStrategy);
    // The long items must be readable: the drop-down lists are as wide as 60 capital N.
    const int wide = fontMetrics().horizontalAdvance(QString(60, QLatin1Char('N')));
    cbxCustSource_->view()->setMinimumWidth(wide);
    cbxSourceDist_->view()->setMinimumWidth(wide);
    auto* lblCust = new QLabel(QStringLiteral("Source of competitor rates"), gbStrategy);
    lblCust->setBuddy(cbxCustSource_);
    auto* lblDist = new QLabel(QStringLiteral("Distribution information source"), gbStrategy);
    lblDist->setBuddy(cbxSourceDist_);
    g3->addWidget(lblCust, 0, 0);
    g3->addWidget(cbxCustSource_, 0, 1, 1, 2);
    g3->addWidget(lblDist, 1, 0);
    g3->addWidget(cbxSourceDist_, 1, 1, 1, 2);
    auto* lblMemo = new QLabel(QStringLiteral("Sales strategy?"), gbStrategy);
    btnExpand_ = new QPushButton(QStringLiteral("&Expand"), gbStrategy);
    btnExpand_->setObjectName(QStringLiteral("btnExpand"));
    mmoSalesStrategy_ = new QPlainTextEdit(gbStrategy);
    mmoSalesStrategy_->setObjectName(QStringLiteral("mmoSalesStrategy"));
    mmoSalesStrategy_->setTabChangesFocus(true);
    mmoSalesStrategy_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mmoSalesStrategy_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mmoSalesStrategy_->setLineWrapMode(QPlainTextEdit::NoWrap);  // the first line shows; the window has room
    // One line high: the line, the document's margins and the frame.
    mmoSalesStrategy_->setFixedHeight(mmoSalesStrategy_->fontMetrics().lineSpacing() +
                                      2 * static_cast<int>(mmoSalesStrategy_->document()->documentMargin()) +
                                      2 * mmoSalesStrategy_->frameWidth());
    lblMemo->setBuddy(mmoSalesStrategy_);
    g3->addWidget(lblMemo, 2, 0);
    btnExpand_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    g3->addWidget(btnExpand_, 3, 0);
    g3->addWidget(mmoSalesStrategy_, 3, 1, 1, 2);
    lblBeatPercent_ = new QLabel(QStringLiteral("% Beat"), gbStrategy);
    lblBeatPercent_->setObjectName(QStringLiteral("lblBeatPercent"));
    ebxBeatPercent_ = makeListCombo("ebxBeatPercent", gbStrategy);
    ebxBeatPercent_->addItems({QStringLiteral("2"), QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("15"),
                               QStringLiteral("20")});
    ebxBeatPercent_->setCurrentIndex(-1);
    lblBeatPercent_->setBuddy(ebxBeatPercent_);
    rgStrategy_ = new RadioGroup(QStringLiteral(" &Strategy "),
                                 {QStringLiteral("Beat Competitor"), QStringLiteral("Match Competitor"),
                                  QStringLiteral("Charge Premium")},
                                 3, gbStrategy);
    rgStrategy_->setObjectName(QStringLiteral("rgStrategy"));
    ebxBeatPercent_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* beat = new QVBoxLayout;
    beat->addWidget(lblBeatPercent_);
    beat->addWidget(ebxBeatPercent_);
    beat->addStretch(1);
    auto* strategyRow = new QHBoxLayout;
    strategyRow->addLayout(beat);
    strategyRow->addWidget(rgStrategy_, 1);
    g3->addLayout(strategyRow, 4, 0, 1, 3);
    g3->setColumnStretch(1, 1);
    top->addWidget(gbStrategy);
    top->addStretch(1);

    // Tab order of the page.
    std::vector<QWidget*> order;
    for (int i = 0; i < rgBidType_->count(); ++i) order.push_back(rgBidType_->button(i));
    order.push_back(chbRegain_);
    order.push_back(cbxCompetitorName_);
    order.push_back(cbxCompetitorName2_);
    order.push_back(cbxCompetitorName3_);
    for (int i = 0; i < cgBillingOption_->count(); ++i) order.push_back(cgBillingOption_->box(i));
    order.push_back(chbBroker_);
    order.push_back(cbxPLDTypes_);
    order.push_back(ebxAssociated_);
    order.push_back(cbxCustSource_);
    order.push_back(cbxSourceDist_);
    order.push_back(mmoSalesStrategy_);
    order.push_back(btnExpand_);
    for (int i = 0; i < rgStrategy_->count(); ++i) order.push_back(rgStrategy_->button(i));
    order.push_back(ebxBeatPercent_);
    order.push_back(cbxBrokerage_);
    for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

    // The rate-option questions follow a change of the bid type; clicking the type already chosen
    // (as loaded, or as answered before) asks nothing again and keeps the earlier answer.
    connect(rgBidType_, &RadioGroup::changedByClick, this, &BidProfilePage::rgBidTypeClick);
    connect(rgStrategy_, &RadioGroup::clicked, this, &BidProfilePage::rgStrategyClick);
    // The three competitor lists are labelled Primary, Secondary and Tertiary under one heading.
    for (QComboBox* c : competitors) c->setAccessibleDescription(accessibleText(lblCompetitor->text()));
    nameControlsFromLabels(this);
    connect(btnExpand_, &QPushButton::clicked, this, &BidProfilePage::btnExpandClick);

    setBrokerageFieldPresent(false);
    chbMultiOnly_->setChecked(true);  // its state at start-up
    applyBidDefaults();
}

void BidProfilePage::setBrokerageFieldPresent(bool present) {
    cbxBrokerage_->setVisible(present);
    lblBrokerage_->setVisible(present);
    chbBroker_->setVisible(!present);
}

void BidProfilePage::rgBidTypeClick() {
    if (state_.FLoading) return;
    if (!rateOptionCheck && window()) {
        // Not wired by the window: the services page of the same window answers.
        if (auto* services = window()->findChild<ServicesPage*>()) services->linkBidProfile(this);
    }
    bool multiOnly = true;
    if (rgBidType_->itemIndex() == 1 && rateOptionCheck && rateOptionCheck()) {
        const int singlePiece =
            messageBox(QStringLiteral("Does this customer currently have access to Single Piece Billing?"),
                       QStringLiteral("Rate Options"), PromptIcon::Question, Yes | No, No);
        if (singlePiece == Yes) {
            multiOnly = messageBox(QStringLiteral("Do you wish ground shipments to be priced as MULTI PIECE ONLY?"),
                                   QStringLiteral("Rate Options"), PromptIcon::Question, Yes | No, Yes) == Yes;
        }
    }
    chbMultiOnly_->setChecked(multiOnly);
}

void BidProfilePage::rgStrategyClick() {
    if (state_.FLoading) return;
    const bool beat = rgStrategy_->itemIndex() == 0;
    ebxBeatPercent_->setEnabled(beat);
    lblBeatPercent_->setEnabled(beat);
    if (beat) {
        ebxBeatPercent_->setFocus();
        // Chosen with an arrow key, the radio button takes the focus after this handler: the list
        // takes it back once that is done.
        QTimer::singleShot(0, ebxBeatPercent_, [list = ebxBeatPercent_] {
            if (list->isEnabled() && list->isVisible()) list->setFocus();
        });
    }
}

void BidProfilePage::btnExpandClick() {
    auto* form = new TExpandedForm(cbxCustSource_->currentText(), cbxSourceDist_->currentText(),
                                   mmoSalesStrategy_->toPlainText(), window());
    QStringList sources;
    if (distributionSources) {
        sources = distributionSources();
    } else {
        for (int i = 0; i < cbxSourceDist_->count(); ++i) sources << cbxSourceDist_->itemText(i);
    }
    form->loadSourceDist(sources);
    form->exec();
    // Whichever way the window was closed, the page takes its texts.
    takeListText(cbxCustSource_, form->custSourceText());
    takeListText(cbxSourceDist_, form->sourceDistText());
    mmoSalesStrategy_->setPlainText(form->salesStrategyText());
    delete form;
    btnExpand_->setFocus();
}

void BidProfilePage::clearControls() {
    rgBidType_->setItemIndex(-1);
    rgStrategy_->setItemIndex(-1);
    cgBillingOption_->clearChecks();
    for (auto* b : {chbRegain_, chbMultiOnly_, chbBroker_}) b->setChecked(false);
    for (auto* c : {cbxCompetitorName_, cbxCompetitorName2_, cbxCompetitorName3_}) {
        c->setCurrentIndex(-1);
        c->setEditText(QString());
    }
    for (auto* c : {cbxPLDTypes_, cbxCustSource_, cbxSourceDist_, ebxBeatPercent_, cbxBrokerage_})
        c->setCurrentIndex(-1);
    ebxAssociated_->clear();
    mmoSalesStrategy_->clear();
}

void BidProfilePage::applyBidDefaults() {
    rgBidType_->setItemIndex(-1);
    chbRegain_->setChecked(false);
    cgBillingOption_->clearChecks();
    cgBillingOption_->setItemChecked(0, true);
    chbMultiOnly_->setChecked(true);
    ebxAssociated_->setText(kAssociatedDefault);
    ebxAssociated_->setCursorPosition(0);  // show the text from its beginning
    ebxBeatPercent_->setEnabled(false);
    lblBeatPercent_->setEnabled(false);
}

}  // namespace tarvik
