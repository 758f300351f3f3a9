#include "pages/mainpage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/accessibility.h"

namespace tarvik {

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    if (buddy) l->setBuddy(buddy);
    return l;
}

// A field the program fills: shown, never edited, skipped by Tab; a click puts the cursor in it so that
// its text can be selected and copied (the bid ID, the e-mail addresses).
QLineEdit* makeReadOnly(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::ClickFocus);
    QPalette p = e->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Window));
    e->setPalette(p);
    return e;
}

}  // namespace

MainPage::MainPage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsMain"));

    // Two framed groups: who prepares which bid, then the sales team and the bid's identity.
    auto* gbBid = new QGroupBox(this);
    gbBid->setObjectName(QStringLiteral("gbAccount"));
    auto* gbTeam = new QGroupBox(this);
    gbTeam->setObjectName(QStringLiteral("gbSalesTeam"));

    cbxAccountName = new QComboBox(gbBid);
    cbxAccountName->setObjectName(QStringLiteral("cbxAccountName"));
    cbxAccountName->setEditable(false);
    cbxAccountName->setMinimumWidth(260);
    cbxAccountName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    btnNewBid = new QPushButton(QStringLiteral("&New Bid"), gbBid);
    btnNewBid->setObjectName(QStringLiteral("btnNewBid"));
    btnSelectBid = new QPushButton(QStringLiteral("&Select Bid"), gbBid);
    btnSelectBid->setObjectName(QStringLiteral("btnSelectBid"));

    ebxCompanyName1 = new QLineEdit(gbBid);
    ebxCompanyName1->setObjectName(QStringLiteral("ebxCompanyName1"));
    chkPortfolio = new QCheckBox(QStringLiteral("Portfolio Bid?"), gbBid);
    chkPortfolio->setObjectName(QStringLiteral("chkPortfolio"));
    chkPortfolio->setLayoutDirection(Qt::RightToLeft);  // caption at the left of the box

    cbxSSA = makeReadOnly(gbTeam, "cbxSSA");
    cbxASM = makeReadOnly(gbTeam, "cbxASM");
    cbxDistrict = makeReadOnly(gbTeam, "cbxDistrict");
    ebxRACFID = makeReadOnly(gbTeam, "ebxRACFID");
    ebxSSAEmail = makeReadOnly(gbTeam, "ebxSSAEmail");
    ebxSubmitDate = makeReadOnly(gbTeam, "ebxSubmitDate");
    ebxLocalBidID = makeReadOnly(gbTeam, "ebxLocalBidID");
    ebxLocalStatus = makeReadOnly(gbTeam, "ebxLocalStatus");

    // First group: the account executive, "Select Bid" left of "New Bid", the company name and the
    // portfolio box.
    auto* g1 = new QGridLayout(gbBid);
    g1->setHorizontalSpacing(10);
    g1->setVerticalSpacing(6);
    g1->addWidget(
        makeLabel(gbBid, "lblAccountName", QStringLiteral("Account Executive Name"), cbxAccountName), 0, 0, 1,
        2);
    g1->addWidget(cbxAccountName, 1, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(btnSelectBid);
    buttons->addWidget(btnNewBid);
    buttons->addStretch(1);
    g1->addLayout(buttons, 2, 0, 1, 2);
    g1->addWidget(makeLabel(gbBid, "lblCompanyName1", QStringLiteral("Company Name"), ebxCompanyName1), 3, 0);
    g1->addWidget(ebxCompanyName1, 3, 1);
    auto* portfolio = new QHBoxLayout;
    portfolio->addWidget(chkPortfolio);
    portfolio->addStretch(1);
    g1->addLayout(portfolio, 4, 0, 1, 2);
    g1->setColumnStretch(1, 1);

    // Second group, in two columns: SSA, ASM and district with the e-mail ID to its right, the SSA
    // e-mail ID in the right column, then submit date, local bid ID and local status.
    auto* g2 = new QGridLayout(gbTeam);
    g2->setHorizontalSpacing(10);
    g2->setVerticalSpacing(6);
    auto pair = [&](const char* labelName, const QString& text, QWidget* field, int row, int column) {
        g2->addWidget(makeLabel(gbTeam, labelName, text, field), row, column);
        g2->addWidget(field, row, column + 1);
    };
    pair("lblSSA", QStringLiteral("SSA"), cbxSSA, 0, 0);
    pair("lblASM", QStringLiteral("ASM"), cbxASM, 1, 0);
    pair("lblDistrict", QStringLiteral("District"), cbxDistrict, 2, 0);
    pair("lblRACFID", QStringLiteral("EMail ID"), ebxRACFID, 2, 2);
    pair("lblSSAEmail", QStringLiteral("SSA EMail ID"), ebxSSAEmail, 3, 2);
    pair("lblSubmitDate", QStringLiteral("Submit Date"), ebxSubmitDate, 3, 0);
    pair("lblLocalBidID", QStringLiteral("Local Bid ID"), ebxLocalBidID, 4, 0);
    pair("lblLocalStatus", QStringLiteral("Local Status"), ebxLocalStatus, 5, 0);
    g2->setColumnStretch(1, 1);
    g2->setColumnStretch(3, 1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->addWidget(gbBid);
    outer->addWidget(gbTeam);
    outer->addStretch(1);

    setTabOrder(cbxAccountName, btnNewBid);
    setTabOrder(btnNewBid, btnSelectBid);
    setTabOrder(btnSelectBid, ebxCompanyName1);
    setTabOrder(ebxCompanyName1, chkPortfolio);
    nameControlsFromLabels(this);
}

bool MainPage::bidOpen() const {
    return !ebxLocalBidID->text().isEmpty();
}

}  // namespace tarvik
