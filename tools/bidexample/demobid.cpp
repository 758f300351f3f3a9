#include "bidexample/demobid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "app/tmainform.h"
#include "pages/bidprofilepage.h"
#include "pages/choicegroups.h"
#include "pages/cubepage.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

void choose(QComboBox* combo, const char* item) {
    combo->setCurrentIndex(combo->findText(QString::fromUtf8(item), Qt::MatchExactly));
}

struct Volume {
    const char* stem;
    const char* other;
    const char* biddingOn;
    bool primary;
};

}  // namespace

void keyDemonstrationBid(TMainForm& form) {
    // Main: the executive, then a new bid (its ID from the clock), the company.
    choose(form.tbsMain->cbxAccountName, "Chloe Martin");
    if (form.newBid) form.newBid();
    form.tbsMain->ebxCompanyName1->setText(QStringLiteral("Northern Widget Supply Ltd."));

    // Shipper Profile.
    ShipperProfilePage* shipper = form.tbsShipperProfile;
    shipper->ebxAddress()->setText(QStringLiteral("1200 Industrial Parkway"));
    shipper->ebxPostalCode()->setText(QStringLiteral("K1A 0B1"));
    shipper->ebxCity()->setText(QStringLiteral("Ottawa"));
    shipper->ebxProv()->setText(QStringLiteral("ON"));
    shipper->ebxBusiness()->setText(QStringLiteral("40"));
    shipper->ebxCommodity()->setText(QStringLiteral("Auto parts"));
    choose(shipper->cbxIndustry(), "Automotive Parts");
    shipper->chbResellerNo()->setChecked(true);
    shipper->ebxValueDutyPct()->setText(QStringLiteral("15"));
    shipper->chbValueYes()->setChecked(true);

    // Services: weekly volumes and the primary services.
    ServicesPage* services = form.tbsServices;
    StringGrid* volumes = services->incentiveGrid();
    const Volume keyed[] = {
        {"gndm", "180", "120", true}, {"exp", "40", "60", false},  {"exppak", "25", "35", false},
        {"tbpak", "15", "45", true},  {"wwlet", "5", "12", false},
    };
    for (const Volume& v : keyed) {
        for (int r = 1; r < volumes->rowCount(); ++r) {
            if (!services->isServiceRow(r) || services->dbfField(r) != QLatin1String(v.stem)) continue;
            volumes->setCell(1, r, QLatin1String(v.other));
            volumes->setCell(2, r, QLatin1String(v.biddingOn));
            services->rowTotal(r);
            if (QCheckBox* box = services->primaryBox(r)) box->setChecked(v.primary);
        }
    }

    // Bid Profile.
    BidProfilePage* profile = form.tbsBidProfile;
    profile->findChild<RadioGroup*>(QStringLiteral("rgBidType"))->setItemIndex(0);  // Conversion
    choose(profile->cbxCompetitorName(), "Purolator");
    choose(profile->findChild<QComboBox*>(QStringLiteral("cbxCompetitorName2")), "FedEx");
    choose(profile->cbxBrokerage(), "Other Import and VYN Broker");
    choose(profile->cbxPLDTypes(), "Air Freight");
    profile->cbxCustSource()->setCurrentIndex(0);
    choose(profile->cbxSourceDist(), "Catalogue / Mail Order");
    profile->mmoSalesStrategy()->setPlainText(
        QStringLiteral("Beat Purolator by 5% on ground; growth expected in Q3.\n"
                       "The shipper consolidates its Ontario and Quebec warehouses this year and wants one "
                       "carrier for both."));
    profile->findChild<RadioGroup*>(QStringLiteral("rgStrategy"))->setItemIndex(0);  // Beat Competitor
    profile->ebxBeatPercent()->setEnabled(true);
    choose(profile->ebxBeatPercent(), "5");

    // Cube Analysis.
    CubePage* cube = form.tbsCubeAnalysis;
    cube->findChild<RadioGroup*>(QStringLiteral("rgInfoSource"))->setItemIndex(0);
    cube->findChild<RadioGroup*>(QStringLiteral("rgBillWeight"))->setItemIndex(0);

    // Shipment Data: a dozen sample shipments from the Ottawa plant, the cells of columns 1 to 12.
    const char* const lines[][12] = {
        {"Ground", "1", "12", "K1A 0B1", "M5V 2T6", "CA", "14.25", "2.50", "", "", "", "16.75"},
        {"Ground", "4", "38", "K1A 0B1", "H3B 2Y5", "CA", "31.80", "2.50", "", "", "", "34.30"},
        {"Ground", "2", "22", "K1A 0B1", "T2P 1J9", "CA", "24.10", "2.50", "1.75", "", "", "28.35"},
        {"Ground", "6", "95", "K1A 0B1", "R3C 4T3", "CA", "68.40", "2.50", "3.10", "", "", "74.00"},
        {"Express", "3", "40", "K1A 0B1", "V6B 1A1", "CA", "55.10", "", "4.00", "", "", "59.10"},
        {"Express", "1", "5", "K1A 0B1", "B3J 1P3", "CA", "21.60", "", "", "", "", "21.60"},
        {"Express PAK", "1", "1", "K1A 0B1", "E1C 4M3", "CA", "12.40", "", "", "", "", "12.40"},
        {"Express PAK", "1", "2", "K1A 0B1", "M5V 3L9", "CA", "12.90", "", "", "", "", "12.90"},
        {"TB Express PAK", "1", "2", "K1A 0B1", "10001", "US", "28.75", "", "", "", "", "28.75"},
        {"TB Express PAK", "1", "1", "K1A 0B1", "60601", "US", "27.50", "", "", "", "", "27.50"},
        {"WW Express Letter", "1", "1", "K1A 0B1", "SW1A 1AA", "GB", "31.00", "", "", "7.00", "Customs",
         "38.00"},
        {"WW Express Letter", "1", "1", "K1A 0B1", "75008", "FR", "32.20", "", "", "7.00", "Customs",
         "39.20"},
    };
    ShipmentPage* shipment = form.tbsShipmentData;
    StringGrid* grid = shipment->shipmentGrid();
    int n = 0;
    for (const auto& line : lines) {
        ++n;
        while (grid->rowCount() <= n) shipment->appendLine();
        for (int c = ShipmentPage::ColService; c <= ShipmentPage::ColTotCmp; ++c)
            grid->setCell(c, n, QString::fromUtf8(line[c - 1]));
    }
}

}  // namespace tarvik
