#include "pages/mainpage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
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

// A field the program fills: shown, selectable for copying, never edited, skipped by Tab.
QLineEdit* makeReadOnly(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    QPalette p = e->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Window));
    e->setPalette(p);
    return e;
}

}  // namespace

MainPage::MainPage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsMain"));

    cbxAccountName = new QComboBox(this);
    cbxAccountName->setObjectName(QStringLiteral("cbxAccountName"));
    cbxAccountName->setEditable(false);
    cbxAccountName->setMinimumWidth(260);
    cbxAccountName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    btnNewBid = new QPushButton(QStringLiteral("&New Bid"), this);
    btnNewBid->setObjectName(QStringLiteral("btnNewBid"));
    btnSelectBid = new QPushButton(QStringLiteral("&Select Bid"), this);
    btnSelectBid->setObjectName(QStringLiteral("btnSelectBid"));

    ebxCompanyName1 = new QLineEdit(this);
    ebxCompanyName1->setObjectName(QStringLiteral("ebxCompanyName1"));
    chkPortfolio = new QCheckBox(QStringLiteral("Portfolio Bid?"), this);
    chkPortfolio->setObjectName(QStringLiteral("chkPortfolio"));

    cbxSSA = makeReadOnly(this, "cbxSSA");
    cbxASM = makeReadOnly(this, "cbxASM");
    cbxDistrict = makeReadOnly(this, "cbxDistrict");
    ebxRACFID = makeReadOnly(this, "ebxRACFID");
    ebxSSAEmail = makeReadOnly(this, "ebxSSAEmail");
    ebxSubmitDate = makeReadOnly(this, "ebxSubmitDate");
    ebxLocalBidID = makeReadOnly(this, "ebxLocalBidID");
    ebxLocalStatus = makeReadOnly(this, "ebxLocalStatus");

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(6);
    int row = 0;
    grid->addWidget(
        makeLabel(this, "lblAccountName", QStringLiteral("Account Executive Name"), cbxAccountName), row++, 0,
        1, 2);
    grid->addWidget(cbxAccountName, row++, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(btnNewBid);
    buttons->addWidget(btnSelectBid);
    buttons->addStretch(1);
    grid->addLayout(buttons, row++, 0, 1, 2);
    grid->addItem(new QSpacerItem(1, 10), row++, 0);

    auto pair = [&](const char* labelName, const QString& text, QWidget* field) {
        grid->addWidget(makeLabel(this, labelName, text, field), row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    };
    pair("lblSSA", QStringLiteral("SSA"), cbxSSA);
    pair("lblSSAEmail", QStringLiteral("SSA EMail ID"), ebxSSAEmail);
    pair("lblASM", QStringLiteral("ASM"), cbxASM);
    pair("lblDistrict", QStringLiteral("District"), cbxDistrict);
    pair("lblRACFID", QStringLiteral("EMail ID"), ebxRACFID);
    grid->addItem(new QSpacerItem(1, 10), row++, 0);
    pair("lblCompanyName1", QStringLiteral("Company Name"), ebxCompanyName1);
    grid->addWidget(chkPortfolio, row++, 1);
    grid->addItem(new QSpacerItem(1, 10), row++, 0);
    pair("lblLocalBidID", QStringLiteral("Local Bid ID"), ebxLocalBidID);
    pair("lblLocalStatus", QStringLiteral("Local Status"), ebxLocalStatus);
    pair("lblSubmitDate", QStringLiteral("Submit Date"), ebxSubmitDate);
    grid->setColumnStretch(1, 1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 16, 16, 16);
    outer->addLayout(grid);
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
