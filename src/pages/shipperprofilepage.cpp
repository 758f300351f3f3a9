#include "pages/shipperprofilepage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "pages/conversions.h"
#include "widgets/accessibility.h"
#include "widgets/stringgrid.h"

namespace tarvik {

void makeReadOnlyEdit(QLineEdit* edit) {
    edit->setReadOnly(true);
    // Skipped by Tab; a click puts the cursor in it, so that its text can be selected and copied.
    edit->setFocusPolicy(Qt::ClickFocus);
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    edit->setPalette(pal);
}

namespace {

QLineEdit* makeEdit(const char* name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    return e;
}

QLabel* makeLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
}

QCheckBox* makeBox(const char* name, const QString& caption, QWidget* parent) {
    auto* b = new QCheckBox(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

}  // namespace

ShipperProfilePage::ShipperProfilePage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsShipperProfile"));

    auto* top = new QVBoxLayout(this);

    // ---- Who and where ----
    auto* gbAddress = new QGroupBox(this);
    gbAddress->setObjectName(QStringLiteral("gbShipperAddress"));
    auto* g1 = new QGridLayout(gbAddress);
    ebxAccountName_ = makeEdit("ebxAccountName", gbAddress);
    makeReadOnlyEdit(ebxAccountName_);
    ebxCompanyName2_ = makeEdit("ebxCompanyName2", gbAddress);
    makeReadOnlyEdit(ebxCompanyName2_);
    ebxAddress_ = makeEdit("ebxAddress", gbAddress);
    ebxPostalCode_ = makeEdit("ebxPostalCode", gbAddress);
    ebxCity_ = makeEdit("ebxCity", gbAddress);
    ebxProv_ = makeEdit("ebxProv", gbAddress);
    g1->addWidget(makeLabel(QStringLiteral("Account Executive Name"), ebxAccountName_, gbAddress), 0, 0);
    g1->addWidget(ebxAccountName_, 0, 1, 1, 3);
    g1->addWidget(makeLabel(QStringLiteral("Company Name"), ebxCompanyName2_, gbAddress), 1, 0);
    g1->addWidget(ebxCompanyName2_, 1, 1, 1, 3);
    g1->addWidget(makeLabel(QStringLiteral("Address"), ebxAddress_, gbAddress), 2, 0);
    g1->addWidget(ebxAddress_, 2, 1, 1, 3);
    g1->addWidget(makeLabel(QStringLiteral("Postal Code"), ebxPostalCode_, gbAddress), 3, 0);
    g1->addWidget(ebxPostalCode_, 3, 1);
    g1->addWidget(makeLabel(QStringLiteral("City"), ebxCity_, gbAddress), 4, 0);
    g1->addWidget(ebxCity_, 4, 1);
    g1->addWidget(makeLabel(QStringLiteral("Province"), ebxProv_, gbAddress), 4, 2);
    g1->addWidget(ebxProv_, 4, 3);
    g1->setColumnStretch(1, 3);
    g1->setColumnStretch(3, 1);
    top->addWidget(gbAddress);

    // ---- The shipper's business ----
    auto* gbBusiness = new QGroupBox(this);
    gbBusiness->setObjectName(QStringLiteral("gbShipperBusiness"));
    auto* g2 = new QGridLayout(gbBusiness);
    ebxShipper_ = makeEdit("ebxShipper", gbBusiness);
    ebxBusiness_ = makeEdit("ebxBusiness", gbBusiness);
    installNumbersOnlyKeyFilter(ebxBusiness_);
    ebxCommodity_ = makeEdit("ebxCommodity", gbBusiness);
    chbMOB_ = makeBox("chbMOB", QStringLiteral("MOB"), gbBusiness);
    chbMOB_->setLayoutDirection(Qt::RightToLeft);  // caption at the left of the box
    cbxIndustry_ = new QComboBox(gbBusiness);
    cbxIndustry_->setObjectName(QStringLiteral("cbxIndustry"));
    cbxIndustry_->setEditable(false);
    chbResellerYes_ = makeBox("chbResellerYes", QStringLiteral("Yes"), gbBusiness);
    chbResellerNo_ = makeBox("chbResellerNo", QStringLiteral("No"), gbBusiness);
    ebxValueDutyPct_ = makeEdit("ebxValueDutyPct", gbBusiness);
    g2->addWidget(makeLabel(QStringLiteral("Shipper #"), ebxShipper_, gbBusiness), 0, 0);
    g2->addWidget(ebxShipper_, 0, 1);
    g2->addWidget(makeLabel(QStringLiteral("% Business"), ebxBusiness_, gbBusiness), 1, 0);
    g2->addWidget(ebxBusiness_, 1, 1);
    g2->addWidget(makeLabel(QStringLiteral("Commodity"), ebxCommodity_, gbBusiness), 2, 0);
    g2->addWidget(ebxCommodity_, 2, 1);
    g2->addWidget(chbMOB_, 2, 2);
    g2->addWidget(makeLabel(QStringLiteral("Industry"), cbxIndustry_, gbBusiness), 3, 0);
    g2->addWidget(cbxIndustry_, 3, 1);
    auto* lblReseller = new QLabel(QStringLiteral("Reseller of VYN Services?"), gbBusiness);
    g2->addWidget(lblReseller, 4, 0);
    // The Yes and No boxes answer the question beside them: grouped under it for screen readers.
    auto* reseller = new QuestionGroup(lblReseller->text(), gbBusiness);
    reseller->setObjectName(QStringLiteral("qgReseller"));
    reseller->addControl(chbResellerYes_);
    reseller->addControl(chbResellerNo_);
    g2->addWidget(reseller, 4, 1);
    auto* lblValueDuty =
        makeLabel(QStringLiteral("% of U.S. Business that has Value for Duty under $200"), ebxValueDutyPct_, gbBusiness);
    lblValueDuty->setWordWrap(true);
    g2->addWidget(lblValueDuty, 5, 0);
    g2->addWidget(ebxValueDutyPct_, 5, 1);
    g2->setColumnStretch(0, 1);
    g2->setColumnStretch(1, 2);
    top->addWidget(gbBusiness);

    // ---- Credit card question ----
    auto* gbCredit = new QGroupBox(this);
    gbCredit->setObjectName(QStringLiteral("gbCreditCard"));
    auto* g3 = new QGridLayout(gbCredit);
    chbValueYes_ = makeBox("chbValueYes", QStringLiteral("Yes"), gbCredit);
    chbValueNo_ = makeBox("chbValueNo", QStringLiteral("No"), gbCredit);
    ebxValueSaving_ = makeEdit("ebxValueSaving", gbCredit);
    installNumbersOnlyKeyFilter(ebxValueSaving_);
    lblCalcSav_ = makeLabel(QStringLiteral("Calculated Savings   $"), ebxValueSaving_, gbCredit);
    lblCalcSav_->setObjectName(QStringLiteral("lblCalcSav"));
    auto* lblCredit = new QLabel(QStringLiteral("Credit Card Eligibility Requested?"), gbCredit);
    g3->addWidget(lblCredit, 0, 0);
    auto* credit = new QuestionGroup(lblCredit->text(), gbCredit);
    credit->setObjectName(QStringLiteral("qgCreditCard"));
    credit->addControl(chbValueYes_);
    credit->addControl(chbValueNo_);
    g3->addWidget(credit, 0, 1);
    g3->addWidget(lblCalcSav_, 0, 2);
    g3->addWidget(ebxValueSaving_, 0, 3);
    // The savings field is kept for the table layout only: never shown, never filled.
    lblCalcSav_->setVisible(false);
    lblCalcSav_->setEnabled(false);
    ebxValueSaving_->setVisible(false);
    ebxValueSaving_->setEnabled(false);
    g3->setColumnStretch(1, 1);
    top->addWidget(gbCredit);
    top->addStretch(1);

    // Tab order as the account executive works through the page (not the visual order).
    QWidget* order[] = {ebxAddress_,  ebxPostalCode_,  ebxCity_,       ebxProv_,       ebxShipper_,
                        ebxBusiness_, ebxCommodity_,   cbxIndustry_,   chbValueYes_,   chbValueNo_,
                        ebxValueSaving_, chbResellerYes_, chbResellerNo_, ebxValueDutyPct_, chbMOB_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(chbResellerYes_, &QCheckBox::clicked, this, &ShipperProfilePage::chbResellerYesClick);
    connect(chbResellerNo_, &QCheckBox::clicked, this, &ShipperProfilePage::chbResellerNoClick);
    connect(chbValueYes_, &QCheckBox::clicked, this, &ShipperProfilePage::chbValueYesClick);
    connect(chbValueNo_, &QCheckBox::clicked, this, &ShipperProfilePage::chbValueNoClick);
    // toggled, not clicked: the column follows the box also when loading sets it.
    connect(chbMOB_, &QCheckBox::toggled, this, &ShipperProfilePage::chbMOBClick);
    ebxPostalCode_->installEventFilter(this);
    nameControlsFromLabels(this);

    applyBidDefaults();
}

bool ShipperProfilePage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ebxPostalCode_ && event->type() == QEvent::FocusOut) {
        // Leaving the edit, not the window: switching to another program or opening a menu is no exit.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) emit ebxPostalCodeExit();
    }
    return QWidget::eventFilter(watched, event);
}

void ShipperProfilePage::showEvent(QShowEvent* event) {
    if (!companyNameConnected_) connectCompanyName(window());
    QWidget::showEvent(event);
}

bool ShipperProfilePage::connectCompanyName(QWidget* window) {
    if (!window) return false;
    auto* source = window->findChild<QLineEdit*>(QStringLiteral("ebxCompanyName1"));
    if (!source) return false;
    if (!companyNameConnected_) {
        connect(source, &QLineEdit::textChanged, this, &ShipperProfilePage::ebxCompanyName1Change);
        companyNameConnected_ = true;
    }
    ebxCompanyName1Change(source->text());
    return true;
}

void ShipperProfilePage::ebxCompanyName1Change(const QString& text) {
    if (ebxCompanyName2_->text() != text) ebxCompanyName2_->setText(text);
}

void ShipperProfilePage::chbMOBClick() {
    const int width = fromPostWidth(chbMOB_->isChecked());
    // The shipment grid of this window, when there is one, follows at once.
    if (QWidget* w = window(); w && w != this) {
        if (auto* grid = w->findChild<StringGrid*>(QStringLiteral("ShipmentGrid"))) {
            grid->setColHiddenInGrid(4, width < 0);
            if (width >= 0) grid->setColWidth(4, width);
        }
    }
    emit fromPostColumnWidthChanged(width);
}

void ShipperProfilePage::yesNoPair(QCheckBox* clicked, QCheckBox* other) {
    if (state_.FLoading) return;
    other->setChecked(!clicked->isChecked());
}

void ShipperProfilePage::chbResellerYesClick() { yesNoPair(chbResellerYes_, chbResellerNo_); }
void ShipperProfilePage::chbResellerNoClick() { yesNoPair(chbResellerNo_, chbResellerYes_); }
void ShipperProfilePage::chbValueYesClick() { yesNoPair(chbValueYes_, chbValueNo_); }
void ShipperProfilePage::chbValueNoClick() { yesNoPair(chbValueNo_, chbValueYes_); }

void ShipperProfilePage::clearControls() {
    for (auto* e : findChildren<QLineEdit*>()) {
        if (e->objectName() == QLatin1String("ebxCompanyName2")) continue;  // follows the Main page
        e->clear();
    }
    cbxIndustry_->setCurrentIndex(-1);
    for (auto* b : {chbValueYes_, chbValueNo_, chbResellerYes_, chbResellerNo_, chbMOB_}) b->setChecked(false);
}

void ShipperProfilePage::applyBidDefaults() { ebxShipper_->setText(QStringLiteral("New")); }

}  // namespace tarvik
