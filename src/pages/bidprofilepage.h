#pragma once

#include <QWidget>
#include <functional>

#include "pages/mainstate.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tarvik {

class CheckGroup;
class RadioGroup;

// The tab sheet "tbsBidProfile" of the main window: type of bid, competitors, freight incentive,
// brokerage, ship method, association, the information sources, the sales strategy (with its expanded
// window) and the strategy against the competitor.
class BidProfilePage : public QWidget {
    Q_OBJECT
public:
    BidProfilePage(MainState& state, QWidget* parent = nullptr);

    // The competitor list of the three competitor combos, and the four competitor-source items.
    static QStringList competitorItems();
    static QStringList custSourceItems();

    RadioGroup* rgBidType() const { return rgBidType_; }
    QCheckBox* chbRegain() const { return chbRegain_; }
    QCheckBox* chbMultiOnly() const { return chbMultiOnly_; }
    QComboBox* cbxCompetitorName() const { return cbxCompetitorName_; }
    QComboBox* cbxCompetitorName2() const { return cbxCompetitorName2_; }
    QComboBox* cbxCompetitorName3() const { return cbxCompetitorName3_; }
    CheckGroup* cgBillingOption() const { return cgBillingOption_; }
    QCheckBox* chbBroker() const { return chbBroker_; }
    QComboBox* cbxPLDTypes() const { return cbxPLDTypes_; }
    QLineEdit* ebxAssociated() const { return ebxAssociated_; }
    QComboBox* cbxCustSource() const { return cbxCustSource_; }
    QComboBox* cbxSourceDist() const { return cbxSourceDist_; }
    QPlainTextEdit* mmoSalesStrategy() const { return mmoSalesStrategy_; }
    QPushButton* btnExpand() const { return btnExpand_; }
    RadioGroup* rgStrategy() const { return rgStrategy_; }
    QComboBox* ebxBeatPercent() const { return ebxBeatPercent_; }
    QLabel* lblBeatPercent() const { return lblBeatPercent_; }
    QComboBox* cbxBrokerage() const { return cbxBrokerage_; }
    QLabel* lblBrokerage() const { return lblBrokerage_; }

    // Which brokerage control the page shows, fixed at start-up from the Bids table: the list
    // "Brokerage Customer using:" when the table has a brokerage field, else the check box.
    void setBrokerageFieldPresent(bool present);

    // The text of a competitor combo as stored: the selected item, or the text typed into it.
    static QString competitorText(const QComboBox* combo);

    // Set by the services page: true when a service with code 8, 20 or 68 carries volume.
    std::function<bool()> rateOptionCheck;
    // Items of the expanded window's distribution source list; when unset, the items of this page's
    // cbxSourceDist are used (it is filled from the same table).
    std::function<QStringList()> distributionSources;

    // Empties every control of the page, unticks every box, clears the groups.
    void clearControls();
    // The values of a fresh bid on this page.
    void applyBidDefaults();

public slots:
    void rgBidTypeClick();
    void rgStrategyClick();
    void btnExpandClick();

private:
    MainState& state_;
    RadioGroup* rgBidType_;
    QCheckBox* chbRegain_;
    QCheckBox* chbMultiOnly_;
    QComboBox* cbxCompetitorName_;
    QComboBox* cbxCompetitorName2_;
    QComboBox* cbxCompetitorName3_;
    CheckGroup* cgBillingOption_;
    QCheckBox* chbBroker_;
    QComboBox* cbxPLDTypes_;
    QLabel* lblAssociated_;
    QLineEdit* ebxAssociated_;
    QComboBox* cbxCustSource_;
    QComboBox* cbxSourceDist_;
    QPlainTextEdit* mmoSalesStrategy_;
    QPushButton* btnExpand_;
    RadioGroup* rgStrategy_;
    QComboBox* ebxBeatPercent_;
    QLabel* lblBeatPercent_;
    QComboBox* cbxBrokerage_;
    QLabel* lblBrokerage_;
};

}  // namespace tarvik
