#pragma once

#include <QWidget>

#include "pages/mainstate.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace tarvik {

// The tab sheet "tbsShipperProfile" of the main window: the shipper's address, business share,
// commodity and industry, the reseller and credit card questions (yes/no pairs), the value-for-duty
// share and the MOB switch of the shipment grid's From Post. column.
class ShipperProfilePage : public QWidget {
    Q_OBJECT
public:
    ShipperProfilePage(MainState& state, QWidget* parent = nullptr);

    QLineEdit* ebxAccountName() const { return ebxAccountName_; }
    QLineEdit* ebxCompanyName2() const { return ebxCompanyName2_; }
    QLineEdit* ebxAddress() const { return ebxAddress_; }
    QLineEdit* ebxPostalCode() const { return ebxPostalCode_; }
    QLineEdit* ebxCity() const { return ebxCity_; }
    QLineEdit* ebxProv() const { return ebxProv_; }
    QLineEdit* ebxShipper() const { return ebxShipper_; }
    QLineEdit* ebxBusiness() const { return ebxBusiness_; }
    QLineEdit* ebxCommodity() const { return ebxCommodity_; }
    QComboBox* cbxIndustry() const { return cbxIndustry_; }
    QCheckBox* chbValueYes() const { return chbValueYes_; }
    QCheckBox* chbValueNo() const { return chbValueNo_; }
    QLineEdit* ebxValueSaving() const { return ebxValueSaving_; }
    QCheckBox* chbResellerYes() const { return chbResellerYes_; }
    QCheckBox* chbResellerNo() const { return chbResellerNo_; }
    QLineEdit* ebxValueDutyPct() const { return ebxValueDutyPct_; }
    QCheckBox* chbMOB() const { return chbMOB_; }

    // Connects the Main page's company name (the QLineEdit named "ebxCompanyName1" somewhere under
    // window) so that every change is mirrored here; copies its current text at once. Returns false
    // when window holds no such edit. Also tried by the page itself when it is first shown.
    bool connectCompanyName(QWidget* window);

    // Empties every control of the page and unticks every box (the window is cleared for a new bid).
    void clearControls();
    // The values of a fresh bid on this page: "New" in Shipper #.
    void applyBidDefaults();

    // Width of the From Post. column of the shipment grid for the MOB state: 70 shown, -1 hidden.
    static int fromPostWidth(bool mob) { return mob ? 70 : -1; }

public slots:
    void ebxCompanyName1Change(const QString& text);
    void chbMOBClick();
    void chbResellerYesClick();
    void chbResellerNoClick();
    void chbValueYesClick();
    void chbValueNoClick();

signals:
    // The shipment grid's column 4 (From Post.) is to take this width (70, or -1 to hide it). Emitted
    // at every change of chbMOB, also while a bid is being loaded; the StringGrid named "ShipmentGrid"
    // in this page's window is set directly as well.
    void fromPostColumnWidthChanged(int width);
    // The postal code edit was left; the postal code check connects here.
    void ebxPostalCodeExit();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void yesNoPair(QCheckBox* clicked, QCheckBox* other);

    MainState& state_;
    QLineEdit* ebxAccountName_;
    QLineEdit* ebxCompanyName2_;
    QLineEdit* ebxAddress_;
    QLineEdit* ebxPostalCode_;
    QLineEdit* ebxCity_;
    QLineEdit* ebxProv_;
    QLineEdit* ebxShipper_;
    QLineEdit* ebxBusiness_;
    QLineEdit* ebxCommodity_;
    QComboBox* cbxIndustry_;
    QCheckBox* chbValueYes_;
    QCheckBox* chbValueNo_;
    QLabel* lblCalcSav_;
    QLineEdit* ebxValueSaving_;
    QCheckBox* chbResellerYes_;
    QCheckBox* chbResellerNo_;
    QLineEdit* ebxValueDutyPct_;
    QCheckBox* chbMOB_;
    bool companyNameConnected_ = false;
};

// Shared look of the pages' read-only edits: button-face background, no tab stop, text selectable
// and copyable.
void makeReadOnlyEdit(QLineEdit* edit);

}  // namespace tarvik
