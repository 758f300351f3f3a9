#include "store/storebid.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "pages/conversions.h"
#include "store/bidwindow_test.h"
#include "store/lifecycle.h"
#include "store/loadbid.h"
#include "widgets/seams.h"

namespace tarvik {
namespace {

using test::BidWindowTest;

class StoreBidTest : public BidWindowTest {
protected:
    // A bid filled on every page, with `lines` shipment lines.
    void fillEveryPage(int lines) {
        main->cbxAccountName->setCurrentIndex(1);  // Carl O'Neil
        main->ebxLocalBidID->setText(QStringLiteral("CarlONeil4612345678"));
        main->ebxLocalStatus->setText(QStringLiteral("Submitted"));
        main->ebxSubmitDate->setText(dateToText(QDate(2026, 3, 14)));
        main->chkPortfolio->setChecked(true);
        main->ebxCompanyName1->setText(QStringLiteral("Maple Freight Ltd."));
        main->cbxSSA->setText(QStringLiteral("Sam Price"));
        main->ebxSSAEmail->setText(QStringLiteral("sam.price@vyn.example"));
        main->cbxASM->setText(QStringLiteral("Olga Marsh"));
        main->cbxDistrict->setText(QStringLiteral("Ottawa"));
        main->ebxRACFID->setText(QStringLiteral("CONEIL2"));

        shipper->ebxAccountName()->setText(QStringLiteral("Carl O'Neil"));
        shipper->ebxShipper()->setText(QStringLiteral("778812"));
        shipper->ebxAddress()->setText(QStringLiteral("12 Wellington St."));
        shipper->ebxCity()->setText(QStringLiteral("Ottawa"));
        shipper->ebxProv()->setText(QStringLiteral("ON"));
        shipper->chbMOB()->setChecked(true);
        shipper->ebxPostalCode()->setText(QStringLiteral("  k1a 0b1 "));
        shipper->ebxBusiness()->setText(QStringLiteral("40"));
        shipper->ebxCommodity()->setText(QStringLiteral("Maple syrup"));
        shipper->cbxIndustry()->setCurrentIndex(2);  // Retail
        shipper->chbResellerYes()->setChecked(false);
        shipper->chbResellerNo()->setChecked(false);
        shipper->chbValueYes()->setChecked(true);
        shipper->chbValueNo()->setChecked(false);
        shipper->ebxValueDutyPct()->setText(QStringLiteral("25"));
        shipper->ebxValueSaving()->setText(QStringLiteral("999"));

        volumeGrid()->setCell(1, volumeRow("gndm"), QStringLiteral("30"));
        volumeGrid()->setCell(2, volumeRow("gndm"), QStringLiteral("70"));
        services->primaryBox(volumeRow("gndm"))->setChecked(true);
        volumeGrid()->setCell(1, volumeRow("exp"), QStringLiteral("12"));
        volumeGrid()->setCell(1, volumeRow("wwpak"), QStringLiteral("15"));
        volumeGrid()->setCell(2, volumeRow("wwpak"), QStringLiteral("35"));
        volumeGrid()->setCell(1, volumeRow("tbgnd"), QStringLiteral("0"));
        services->primaryBox(volumeRow("tbexp"))->setChecked(true);

        profile->rgBidType()->setItemIndex(2);  // Retention
        profile->chbMultiOnly()->setChecked(false);
        profile->chbRegain()->setChecked(true);
        profile->cgBillingOption()->clearChecks();
        profile->cgBillingOption()->setItemChecked(0, true);
        profile->cgBillingOption()->setItemChecked(2, true);
        profile->cbxCompetitorName()->setCurrentIndex(1);  // FedEx
        profile->cbxCompetitorName2()->setCurrentIndex(-1);
        profile->cbxCompetitorName2()->setEditText(QStringLiteral("Loomis Express"));
        profile->cbxBrokerage()->setCurrentIndex(3);
        profile->cbxPLDTypes()->setCurrentIndex(1);  // Courier
        profile->ebxAssociated()->setText(QStringLiteral("Retail Council"));
        profile->cbxCustSource()->setCurrentIndex(2);
        profile->cbxSourceDist()->setCurrentIndex(0);  // Catalogue: CAT (the first code of the table is WEB)
        profile->mmoSalesStrategy()->setPlainText(QStringLiteral("Win the ground volume.\nKeep express."));
        profile->rgStrategy()->setItemIndex(1);  // Match Competitor
        profile->ebxBeatPercent()->setCurrentIndex(2);  // "10", not stored with Match

        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 6; ++c) cube->cubeGrid()->setCell(c, r, QString::number(r * 10 + c));
        cube->cubeGrid()->setCell(6, 15, QStringLiteral("9.999"));
        cube->ebxAverageCube()->setText(QStringLiteral("1.234"));
        cube->rgInfoSource()->setItemIndex(1);
        cube->ebxPercentAH()->setText(QStringLiteral("5"));
        cube->ebxAHPctComment()->setText(QStringLiteral("fragile"));
        cube->rgBillWeight()->setItemIndex(1);

        // "Ground" as the picker lists the multi-piece Ground record (its description is "Ground Multi").
        const QString svc[] = {QStringLiteral("Ground"), QStringLiteral("Express"),
                               QStringLiteral("WW Express Pkg"), QStringLiteral("No Such Service")};
        for (int r = 1; r <= lines; ++r) setLine(r, svc[(r - 1) % 4], r);
    }

    QString field(int table, const char* name) { return ta::fetch(table, QLatin1String(name)); }
};

TEST_F(StoreBidTest, FullRoundTripOfEveryControlKind) {
    fillEveryPage(45);
    std::vector<QString> progress;
    setProgressWindowFactory([&](QWidget* owner, const QString& caption, const QString& text) {
        EXPECT_EQ(owner, w());
        progress.push_back(caption + QLatin1Char('|') + text);
        return std::make_unique<QObject>();
    });
    StoreBid(w(), state_);

    // The header as stored, with its conversions.
    const int bids = open("Bids");
    ASSERT_GT(bids, 0);
    ASSERT_EQ(ta::d4recCountDo(bids), 1);
    ta::d4go(bids, 1);
    EXPECT_EQ(field(bids, "local_bid"), "CarlONeil4612345678");
    EXPECT_EQ(ta::dtfetch(bids, "subm_date"), QDate(2026, 3, 14));
    EXPECT_EQ(field(bids, "ae_name"), "Carl O'Neil");
    EXPECT_EQ(field(bids, "postal"), "K1A0B1");
    EXPECT_EQ(field(bids, "industry"), "Retail");
    EXPECT_FALSE(ta::tfetch(bids, "resell_vyn"));
    EXPECT_TRUE(ta::tfetch(bids, "m_o_b"));
    EXPECT_EQ(ta::ifetch(bids, "val_duty"), 25);
    EXPECT_EQ(field(bids, "val_saving"), "");
    EXPECT_EQ(field(bids, "gndm1").trimmed(), "30");
    EXPECT_EQ(field(bids, "gndm2").trimmed(), "70");
    EXPECT_TRUE(ta::tfetch(bids, "gndmp"));
    EXPECT_TRUE(ta::tfetch(bids, "tbexpp"));
    EXPECT_FALSE(ta::tfetch(bids, "expp"));
    EXPECT_EQ(field(bids, "bid_type"), "Retention");
    EXPECT_EQ(field(bids, "act_categ"), "Regain");
    EXPECT_EQ(field(bids, "bill_opt"), "P/PR/S");
    EXPECT_EQ(field(bids, "competr"), "FedEx");
    EXPECT_EQ(field(bids, "competr2"), "Loomis Express");
    EXPECT_EQ(field(bids, "competr3"), "");
    EXPECT_EQ(field(bids, "brokerage"), profile->cbxBrokerage()->itemText(3));
    EXPECT_EQ(field(bids, "comp_src"), "Verbal");
    EXPECT_EQ(field(bids, "dist_src"), "CAT");
    EXPECT_EQ(field(bids, "sale_strat"), "Win the ground volume.\r\nKeep express.");
    EXPECT_EQ(field(bids, "strategy"), "Match");
    EXPECT_EQ(field(bids, "beat_by"), "");
    EXPECT_EQ(field(bids, "Tot_Cube15"), "9.999");
    EXPECT_EQ(field(bids, "No_Pkgs_2"), "24");
    EXPECT_EQ(field(bids, "info_src"), "Verbal from Shipper");
    EXPECT_EQ(field(bids, "bill_wgt"), "Dimensional");
    ta::d4close(bids);

    // The details: one per line, with the values derived from Services and the volumes.
    EXPECT_EQ(column("BidTail", "svc_desc").size(), 45);
    const int tail = open("BidTail");
    ta::d4go(tail, 1);  // Ground (the "Ground Multi" record): (30 + 70) / 5
    EXPECT_EQ(field(tail, "svc_code").trimmed(), "20");
    EXPECT_EQ(field(tail, "svc_level"), "GND");
    EXPECT_EQ(field(tail, "letter"), "F");
    EXPECT_EQ(field(tail, "market"), "D");
    EXPECT_DOUBLE_EQ(ta::dfetch(tail, "daily_vol"), 20.0);
    EXPECT_EQ(field(tail, "from_post"), "M5V3L9");
    ta::d4go(tail, 3);  // WW Express Pkg has no volumes of its own: those of the record before it
    EXPECT_DOUBLE_EQ(ta::dfetch(tail, "daily_vol"), 10.0);
    ta::d4go(tail, 4);  // a service not in Services
    EXPECT_EQ(field(tail, "svc_code"), "");
    EXPECT_EQ(field(tail, "market"), "");
    EXPECT_DOUBLE_EQ(ta::dfetch(tail, "daily_vol"), 0.0);
    EXPECT_EQ(field(tail, "svc_desc"), "No Such Service");
    ta::d4go(tail, 45);
    EXPECT_EQ(field(tail, "tot_pcs"), "45");
    EXPECT_EQ(field(tail, "sch_name"), "fuel 45");
    ta::d4close(tail);

    ClearBidWindow(w(), state_);
    EXPECT_EQ(main->ebxLocalBidID->text(), "");
    EXPECT_EQ(shipGrid()->rowCount(), 31);
    shipper->chbResellerYes()->setChecked(true);  // loading must set both boxes of a pair
    LoadBid(w(), state_, 1);
    EXPECT_EQ(progress, (std::vector<QString>{"File Write|Storing Bid Information...",
                                               "File Read|Reading Bid Information..."}));
    EXPECT_FALSE(state_.FLoading);

    // Main page
    EXPECT_EQ(main->ebxLocalBidID->text(), "CarlONeil4612345678");
    EXPECT_EQ(main->ebxLocalStatus->text(), "Submitted");
    EXPECT_EQ(main->ebxSubmitDate->text(), dateToText(QDate(2026, 3, 14)));
    EXPECT_EQ(textToDate(main->ebxSubmitDate->text()), QDate(2026, 3, 14)) << "a four-digit year reads back";
    EXPECT_TRUE(main->chkPortfolio->isChecked());
    EXPECT_EQ(main->ebxCompanyName1->text(), "Maple Freight Ltd.");
    EXPECT_EQ(shipper->ebxCompanyName2()->text(), "Maple Freight Ltd.");
    EXPECT_EQ(main->cbxAccountName->currentText(), "Carl O'Neil");
    EXPECT_EQ(shipper->ebxAccountName()->text(), "Carl O'Neil");
    EXPECT_EQ(main->cbxSSA->text(), "Sam Price");
    EXPECT_EQ(main->ebxSSAEmail->text(), "sam.price@vyn.example");
    EXPECT_EQ(main->cbxASM->text(), "Olga Marsh");
    EXPECT_EQ(main->cbxDistrict->text(), "Ottawa");
    EXPECT_EQ(main->ebxRACFID->text(), "CONEIL2");
    // Shipper Profile
    EXPECT_EQ(shipper->ebxShipper()->text(), "778812");
    EXPECT_EQ(shipper->ebxAddress()->text(), "12 Wellington St.");
    EXPECT_EQ(shipper->ebxCity()->text(), "Ottawa");
    EXPECT_EQ(shipper->ebxProv()->text(), "ON");
    EXPECT_TRUE(shipper->chbMOB()->isChecked());
    EXPECT_EQ(shipper->ebxPostalCode()->text(), "K1A 0B1");
    EXPECT_EQ(shipper->ebxBusiness()->text(), "40");
    EXPECT_EQ(shipper->ebxCommodity()->text(), "Maple syrup");
    EXPECT_EQ(shipper->cbxIndustry()->currentIndex(), 2);
    EXPECT_FALSE(shipper->chbResellerYes()->isChecked());
    EXPECT_TRUE(shipper->chbResellerNo()->isChecked()) << "neither box ticked loads as No";
    EXPECT_TRUE(shipper->chbValueYes()->isChecked());
    EXPECT_FALSE(shipper->chbValueNo()->isChecked());
    EXPECT_EQ(shipper->ebxValueDutyPct()->text(), "25");
    EXPECT_EQ(shipper->ebxValueSaving()->text(), "") << "never loaded";
    // Services
    EXPECT_EQ(volumeGrid()->cell(1, volumeRow("gndm")), "30");
    EXPECT_EQ(volumeGrid()->cell(2, volumeRow("gndm")), "70");
    EXPECT_EQ(volumeGrid()->cell(3, volumeRow("gndm")), "100");
    EXPECT_EQ(volumeGrid()->cell(3, volumeRow("exp")), "12");
    EXPECT_EQ(volumeGrid()->cell(1, volumeRow("tbgnd")), "0");
    EXPECT_EQ(volumeGrid()->cell(3, volumeRow("tbgnd")), "") << "0 and empty give an empty total";
    EXPECT_EQ(volumeGrid()->cell(1, volumeRow("econ")), "");
    EXPECT_TRUE(services->primaryBox(volumeRow("gndm"))->isChecked());
    EXPECT_TRUE(services->primaryBox(volumeRow("tbexp"))->isChecked());
    EXPECT_FALSE(services->primaryBox(volumeRow("exp"))->isChecked());
    for (int r = 0; r < volumeGrid()->rowCount(); ++r)
        if (services->isHeadingRow(r) && r > 0) EXPECT_TRUE(volumeGrid()->cell(1, r).startsWith("-----")) << r;
    // Bid Profile
    EXPECT_EQ(profile->rgBidType()->itemIndex(), 2);
    EXPECT_FALSE(profile->chbMultiOnly()->isChecked());
    EXPECT_TRUE(profile->chbRegain()->isChecked());
    EXPECT_TRUE(profile->cgBillingOption()->isItemChecked(0));
    EXPECT_FALSE(profile->cgBillingOption()->isItemChecked(1));
    EXPECT_TRUE(profile->cgBillingOption()->isItemChecked(2));
    EXPECT_EQ(profile->cbxCompetitorName()->currentIndex(), 1);
    EXPECT_EQ(profile->cbxCompetitorName2()->currentIndex(), -1) << "free text comes back typed";
    EXPECT_EQ(profile->cbxCompetitorName2()->currentText(), "Loomis Express");
    EXPECT_EQ(profile->cbxCompetitorName3()->currentText(), "");
    EXPECT_EQ(profile->cbxBrokerage()->currentIndex(), 3);
    EXPECT_EQ(profile->cbxPLDTypes()->currentText(), "Courier");
    EXPECT_EQ(profile->ebxAssociated()->text(), "Retail Council");
    EXPECT_EQ(profile->cbxCustSource()->currentIndex(), 2);
    EXPECT_EQ(profile->cbxSourceDist()->currentText(), "Catalogue");
    EXPECT_EQ(profile->mmoSalesStrategy()->toPlainText(), "Win the ground volume.\nKeep express.");
    EXPECT_EQ(profile->rgStrategy()->itemIndex(), 1);
    EXPECT_EQ(profile->ebxBeatPercent()->currentIndex(), -1) << "Match stores no beat percentage";
    EXPECT_FALSE(profile->ebxBeatPercent()->isEnabled());
    EXPECT_FALSE(profile->lblBeatPercent()->isEnabled());
    // Cube Analysis
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 6; ++c) EXPECT_EQ(cube->cubeGrid()->cell(c, r), QString::number(r * 10 + c));
    EXPECT_EQ(cube->cubeGrid()->cell(6, 15), "9.999");
    EXPECT_EQ(cube->cubeGrid()->cell(1, 4), "");
    EXPECT_EQ(cube->ebxAverageCube()->text(), "1.234");
    EXPECT_EQ(cube->rgInfoSource()->itemIndex(), 1);
    EXPECT_EQ(cube->ebxPercentAH()->text(), "5");
    EXPECT_EQ(cube->ebxAHPctComment()->text(), "fragile");
    EXPECT_EQ(cube->rgBillWeight()->itemIndex(), 1);
    // Shipment Data: 45 lines after row 0, the From Post. column shown for MOB
    ASSERT_EQ(shipGrid()->rowCount(), 46);
    EXPECT_FALSE(shipGrid()->isColHiddenInGrid(ShipmentPage::ColFromPost));
    const QString svc[] = {"Ground", "Express", "WW Express Pkg", "No Such Service"};
    for (int r = 1; r <= 45; ++r) {
        EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColService, r), svc[(r - 1) % 4]) << r;
        EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, r), QString::number(r)) << r;
        EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColFromPost, r), "M5V3L9") << r;
        EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColOtherDesc, r), QStringLiteral("fuel %1").arg(r)) << r;
        EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotCmp, r), QStringLiteral("%1.50").arg(r + 4)) << r;
        EXPECT_EQ(shipGrid()->cell(0, r), QStringLiteral("#%1").arg(r));
    }
    setProgressWindowFactory({});
}

TEST_F(StoreBidTest, BlankIdStoresNothingAndShowsNoWindow) {
    fillEveryPage(3);
    main->ebxLocalBidID->setText(QStringLiteral("   "));
    int shown = 0;
    setProgressWindowFactory([&](QWidget*, const QString&, const QString&) {
        ++shown;
        return std::make_unique<QObject>();
    });
    StoreBid(w(), state_);
    setProgressWindowFactory({});
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(test::recordCount(bidsPath()), 0);
    EXPECT_EQ(test::recordCount(tailPath()), 0);
}

TEST_F(StoreBidTest, SecondStoreWithoutChangesChangesNothing) {
    fillEveryPage(12);
    StoreBid(w(), state_);
    QFile tail(tailPath());
    ASSERT_TRUE(tail.open(QIODevice::ReadOnly));
    const QByteArray before = tail.readAll();
    tail.close();
    const QStringList headerBefore = column("Bids", "sale_strat") + column("Bids", "gndm1") + column("Bids", "postal");
    StoreBid(w(), state_);
    ASSERT_TRUE(tail.open(QIODevice::ReadOnly));
    EXPECT_EQ(tail.readAll(), before) << "same records, same values, nothing appended";
    EXPECT_EQ(test::recordCount(bidsPath()), 1);
    EXPECT_EQ(column("Bids", "sale_strat") + column("Bids", "gndm1") + column("Bids", "postal"), headerBefore);
}

TEST_F(StoreBidTest, RowsWithoutServiceAreNotStoredAndLinesComeBackCompacted) {
    main->ebxLocalBidID->setText(QStringLiteral("Gaps1"));
    setLine(1, QStringLiteral("Express"), 1);
    setLine(2, QStringLiteral("Express"), 2);
    shipGrid()->setCell(ShipmentPage::ColService, 2, QString());  // other cells filled, no service
    setLine(5, QStringLiteral("TB Ground"), 5);
    StoreBid(w(), state_);
    EXPECT_EQ(column("BidTail", "tot_pcs"), (QStringList{"1", "5"}));

    ClearBidWindow(w(), state_);
    LoadBid(w(), state_, 1);
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColService, 1), "Express");
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColService, 2), "TB Ground");
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, 2), "5");
    EXPECT_TRUE(shipment->lineIsEmpty(3));
    EXPECT_EQ(shipGrid()->rowCount(), 31);
}

TEST_F(StoreBidTest, RemovedLinesDeleteOnlyThatBidsSurplusRecords) {
    auto storeBid = [&](const QString& id, int lines, int base) {
        ClearBidWindow(w(), state_);
        main->ebxLocalBidID->setText(id);
        for (int r = 1; r <= lines; ++r) setLine(r, QStringLiteral("Express"), base + r);
        StoreBid(w(), state_);
    };
    storeBid(QStringLiteral("BidA"), 5, 100);
    storeBid(QStringLiteral("BidB"), 3, 200);
    storeBid(QStringLiteral("BidA"), 7, 300);  // two more lines: appended after BidB
    EXPECT_EQ(column("BidTail", "local_bid"),
              (QStringList{"BidA", "BidA", "BidA", "BidA", "BidA", "BidB", "BidB", "BidB", "BidA", "BidA"}));
    EXPECT_EQ(column("BidTail", "tot_pcs"),
              (QStringList{"301", "302", "303", "304", "305", "201", "202", "203", "306", "307"}));

    storeBid(QStringLiteral("BidA"), 2, 400);
    EXPECT_EQ(column("BidTail", "local_bid"), (QStringList{"BidA", "BidA", "BidB", "BidB", "BidB"}));
    EXPECT_EQ(column("BidTail", "tot_pcs"), (QStringList{"401", "402", "201", "202", "203"}));
    EXPECT_EQ(column("BidTail", "tot_wgt"), (QStringList{"1203", "1206", "603", "606", "609"}));

    storeBid(QStringLiteral("BidB"), 0, 0);  // no lines left: every detail record of the bid goes
    EXPECT_EQ(column("BidTail", "local_bid"), (QStringList{"BidA", "BidA"}));
    EXPECT_EQ(column("Bids", "local_bid"), (QStringList{"BidA", "BidB"})) << "headers never move";
}

TEST_F(StoreBidTest, ConversionsOfPostalCodeDutyStrategyAndCompetitor) {
    EXPECT_EQ(StoredPostalCode("  k1a 0b1 "), "K1A0B1");
    EXPECT_EQ(StoredPostalCode("K1A0B1"), "K1A0B1");
    EXPECT_EQ(StoredPostalCode("90210"), "90210");
    EXPECT_EQ(StoredPostalCode("12345-6789"), "123789");

    main->ebxLocalBidID->setText(QStringLiteral("Conv1"));
    shipper->ebxValueDutyPct()->setText(QStringLiteral("12.5"));
    profile->rgStrategy()->setItemIndex(0);  // Beat Competitor
    profile->ebxBeatPercent()->setCurrentIndex(3);
    profile->cbxCompetitorName()->setEditText(QStringLiteral("Local Courier Inc"));
    profile->cbxCustSource()->setCurrentIndex(-1);
    StoreBid(w(), state_);
    const int bids = open("Bids");
    ta::d4go(bids, 1);
    EXPECT_EQ(ta::ifetch(bids, "val_duty"), 0) << "a fraction is not a whole number";
    EXPECT_EQ(field(bids, "strategy"), "Beat");
    EXPECT_EQ(field(bids, "beat_by"), "15");
    EXPECT_EQ(field(bids, "competr"), "Local Courier Inc");
    EXPECT_EQ(field(bids, "comp_src"), "");
    EXPECT_EQ(field(bids, "subm_date"), "");
    EXPECT_EQ(field(bids, "bill_opt"), "P/P") << "the fresh bid's default";
    ta::d4close(bids);

    profile->rgStrategy()->setItemIndex(-1);
    shipper->ebxValueDutyPct()->setText(QStringLiteral("abc"));
    StoreBid(w(), state_);
    const int again = open("Bids");
    ta::d4go(again, 1);
    EXPECT_EQ(field(again, "strategy"), "");
    EXPECT_EQ(field(again, "beat_by"), "");
    EXPECT_EQ(ta::ifetch(again, "val_duty"), 0);
    ta::d4close(again);

    ClearBidWindow(w(), state_);
    LoadBid(w(), state_, 1);
    EXPECT_EQ(shipper->ebxValueDutyPct()->text(), "0");
    EXPECT_EQ(profile->cbxCompetitorName()->currentText(), "Local Courier Inc");
    EXPECT_EQ(profile->cgBillingOption()->isItemChecked(0), true);
}

TEST_F(StoreBidTest, TablesWithoutMobFromPostAndBrokerage) {
    test::DataFolderOptions options;
    options.mob = false;
    options.fromPost = false;
    options.brokerage = false;
    makeWindow(options);
    main->ebxLocalBidID->setText(QStringLiteral("Old1"));
    shipper->chbMOB()->setChecked(true);
    profile->chbBroker()->setChecked(true);
    setLine(1, QStringLiteral("Express"), 1);
    StoreBid(w(), state_);
    EXPECT_FALSE(test::fieldNames(bidsPath()).contains("m_o_b", Qt::CaseInsensitive));
    EXPECT_EQ(column("BidTail", "postal"), QStringList{"K1A1B1"});
    const int bids = open("Bids");
    ta::d4go(bids, 1);
    EXPECT_TRUE(ta::tfetch(bids, "broker"));
    ta::d4close(bids);

    ClearBidWindow(w(), state_);
    shipper->chbMOB()->setChecked(true);  // kept as it is: the table has no MOB
    LoadBid(w(), state_, 1);
    EXPECT_TRUE(shipper->chbMOB()->isChecked());
    EXPECT_TRUE(profile->chbBroker()->isChecked());
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColFromPost, 1), "") << "no field: column 4 stays empty";
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColPostal, 1), "K1A1B1");
    EXPECT_TRUE(reports_.isEmpty());
}

TEST_F(StoreBidTest, ReusingADeletedDetailRecordTakesItBack) {
    main->ebxLocalBidID->setText(QStringLiteral("Del1"));
    for (int r = 1; r <= 3; ++r) setLine(r, QStringLiteral("Express"), r);
    StoreBid(w(), state_);
    const int tail = open("BidTail");
    ta::d4go(tail, 1);
    ta::d4delete(tail);
    ta::d4close(tail);

    ClearBidWindow(w(), state_);
    LoadBid(w(), state_, 1);
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, 1), "2") << "the deleted first record is passed over";
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, 2), "3");
    EXPECT_TRUE(shipment->lineIsEmpty(3));

    setLine(3, QStringLiteral("Express"), 9);
    StoreBid(w(), state_);
    EXPECT_EQ(column("BidTail", "tot_pcs"), (QStringList{"2", "3", "9"}));
    ClearBidWindow(w(), state_);
    LoadBid(w(), state_, 1);
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, 3), "9") << "no line lost to a deleted record";
}

// Services grown after the grid was laid out: the walk stops at the grid's last row.
TEST_F(StoreBidTest, ServicesWalkNeverGoesPastTheGridsRows) {
    main->ebxLocalBidID->setText(QStringLiteral("Walk1"));
    volumeGrid()->setCell(1, volumeRow("exp"), QStringLiteral("12"));
    services->primaryBox(volumeRow("exp"))->setChecked(true);
    const int rows = volumeGrid()->rowCount();
    const int boxes = static_cast<int>(services->FPrimaryBoxes().size());
    // Two more service rows reusing a stem the table has, after every row of the grid.
    ASSERT_TRUE(test::appendRows(state_.tablePath("Services.dbf"),
                                 {{"Extra One", "Extra One", "exp", "1", "EXP", "F", "D"},
                                  {"Extra Two", "Extra Two", "exp", "1", "EXP", "F", "D"}}));
    StoreBid(w(), state_);
    const int bids = open("Bids");
    ta::d4go(bids, 1);
    EXPECT_EQ(field(bids, "exp1").trimmed(), "12") << "rows the grid lacks are not read";
    EXPECT_TRUE(ta::tfetch(bids, "expp"));
    ta::d4close(bids);

    ClearBidWindow(w(), state_);
    LoadBid(w(), state_, 1);
    EXPECT_EQ(volumeGrid()->rowCount(), rows);
    EXPECT_EQ(static_cast<int>(services->FPrimaryBoxes().size()), boxes);
    EXPECT_EQ(volumeGrid()->cell(1, volumeRow("exp")), "12");
    EXPECT_TRUE(services->primaryBox(volumeRow("exp"))->isChecked());
}

// A Services table that begins with a service, not a heading: that service falls on row 0, which shows
// the column headings and holds no volumes. Storing must not take the headings for volumes, nor loading
// write volumes over them.
TEST_F(StoreBidTest, ServiceOnTheHeadingRowIsNeitherStoredNorLoaded) {
    const int services = open("Services");
    ASSERT_GT(services, 0);
    ta::d4go(services, 1);  // "-Domestic Services" becomes the multi-piece Ground service
    ta::replace(services, "service", "Ground");
    ta::replace(services, "service_d", "Ground Multi");
    ta::replace(services, "dbf_field", "gndm");
    ta::d4go(services, 2);  // the former multi-piece Ground record takes no row
    ta::replace(services, "service", "");
    ta::replace(services, "service_d", "");
    ta::d4close(services);
    buildWindow();
    const QString headings[] = {volumeGrid()->cell(1, 0), volumeGrid()->cell(2, 0), volumeGrid()->cell(3, 0)};
    ASSERT_EQ(headings[0].trimmed(), "Other Volume");

    main->ebxLocalBidID->setText(QStringLiteral("Row0"));
    volumeGrid()->setCell(1, volumeRow("exp"), QStringLiteral("12"));
    StoreBid(w(), state_);
    const int bids = open("Bids");
    ta::d4go(bids, 1);
    EXPECT_EQ(field(bids, "gndm1").trimmed(), "") << "the heading text is no volume";
    EXPECT_EQ(field(bids, "gndm2").trimmed(), "");
    EXPECT_EQ(field(bids, "exp1").trimmed(), "12");
    ta::replace(bids, "gndm1", "7");  // a value from elsewhere
    ta::treplace(bids, "gndmp", true);
    ta::d4close(bids);

    ClearBidWindow(w(), state_);
    LoadBid(w(), state_, 1);
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(volumeGrid()->cell(c, 0), headings[c - 1]) << c;
    EXPECT_EQ(volumeGrid()->cell(1, volumeRow("exp")), "12");
    EXPECT_TRUE(reports_.isEmpty()) << reports_.join('\n').toStdString();
}

// An ID with a letter outside ASCII (an executive named Zoé) is found by the table's own search.
TEST_F(StoreBidTest, IdWithAnAccentedLetter) {
    main->ebxLocalBidID->setText(QStringLiteral("Zo\u00e93652625000"));
    for (int r = 1; r <= 3; ++r) setLine(r, QStringLiteral("Express"), r);
    StoreBid(w(), state_);
    shipGrid()->setCell(ShipmentPage::ColService, 3, QString());
    StoreBid(w(), state_);
    EXPECT_EQ(column("Bids", "local_bid"), QStringList{QStringLiteral("Zo\u00e93652625000")});
    EXPECT_EQ(column("BidTail", "tot_pcs"), (QStringList{"1", "2"}));
    ClearBidWindow(w(), state_);
    LoadBid(w(), state_, 1);
    EXPECT_EQ(main->ebxLocalBidID->text(), QStringLiteral("Zo\u00e93652625000"));
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColTotPcs, 2), "2");
}

TEST_F(StoreBidTest, LoadingChangesNeitherTableAndAnEmptyBillingCodeTicksNothing) {
    main->ebxLocalBidID->setText(QStringLiteral("NoBill"));
    profile->cgBillingOption()->clearChecks();
    for (int r = 1; r <= 2; ++r) setLine(r, QStringLiteral("Express"), r);
    StoreBid(w(), state_);
    auto bytes = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray bids = bytes(bidsPath());
    const QByteArray tail = bytes(tailPath());

    ClearBidWindow(w(), state_);
    ASSERT_TRUE(profile->cgBillingOption()->isItemChecked(0)) << "a fresh bid ticks Pre Paid";
    LoadBid(w(), state_, 1);
    for (int i = 0; i < profile->cgBillingOption()->count(); ++i)
        EXPECT_FALSE(profile->cgBillingOption()->isItemChecked(i)) << "the default tick does not apply " << i;
    EXPECT_EQ(main->ebxLocalBidID->text(), "NoBill");
    EXPECT_EQ(bytes(bidsPath()), bids);
    EXPECT_EQ(bytes(tailPath()), tail);
}

// The tables a store writes, read back by another program.
TEST_F(StoreBidTest, TablesReadBackWithPythonDbfread) {
    if (!QFile::exists(QStringLiteral("/usr/bin/python3"))) GTEST_SKIP() << "no /usr/bin/python3";
    fillEveryPage(4);
    StoreBid(w(), state_);
    QProcess p;
    const QString script = QStringLiteral(
        "import json, sys, dbfread\n"
        "h = [dict(r) for r in dbfread.DBF(sys.argv[1], char_decode_errors='strict')]\n"
        "t = [dict(r) for r in dbfread.DBF(sys.argv[2])]\n"
        "out = {'n': len(h), 'id': h[0]['LOCAL_BID'], 'date': h[0]['SUBM_DATE'].isoformat(),\n"
        "       'postal': h[0]['POSTAL'], 'gndm1': h[0]['GNDM1'], 'gndmp': h[0]['GNDMP'], 'mob': h[0]['M_O_B'],\n"
        "       'strat': h[0]['SALE_STRAT'], 'duty': h[0]['VAL_DUTY'], 'tot15': h[0]['TOT_CUBE15'],\n"
        "       'tail': [[r['LOCAL_BID'], r['SVC_DESC'], r['TOT_PCS'], r['DAILY_VOL'], r['SVC_CODE'].strip()] for r in t]}\n"
        "print(json.dumps(out))\n");
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, bidsPath(), tailPath()});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QByteArray err = p.readAllStandardError();
    if (err.contains("No module named 'dbfread'")) GTEST_SKIP() << "python3-dbfread is not installed";
    ASSERT_EQ(p.exitCode(), 0) << err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    EXPECT_EQ(o["n"].toInt(), 1);
    EXPECT_EQ(o["id"].toString(), "CarlONeil4612345678");
    EXPECT_EQ(o["date"].toString(), "2026-03-14");
    EXPECT_EQ(o["postal"].toString(), "K1A0B1");
    EXPECT_EQ(o["gndm1"].toInt(), 30);
    EXPECT_TRUE(o["gndmp"].toBool());
    EXPECT_TRUE(o["mob"].toBool());
    EXPECT_EQ(o["strat"].toString(), "Win the ground volume.\r\nKeep express.");
    EXPECT_EQ(o["duty"].toInt(), 25);
    EXPECT_EQ(o["tot15"].toString(), "9.999");
    const QJsonArray tail = o["tail"].toArray();
    ASSERT_EQ(tail.size(), 4);
    EXPECT_EQ(tail[0].toArray()[0].toString(), "CarlONeil4612345678");
    EXPECT_EQ(tail[0].toArray()[1].toString(), "Ground");
    EXPECT_EQ(tail[0].toArray()[2].toString(), "1");
    EXPECT_DOUBLE_EQ(tail[0].toArray()[3].toDouble(), 20.0);
    EXPECT_EQ(tail[0].toArray()[4].toString(), "20");
    EXPECT_EQ(tail[1].toArray()[1].toString(), "Express");
    EXPECT_DOUBLE_EQ(tail[1].toArray()[3].toDouble(), 12.0 / 5);
    EXPECT_EQ(tail[3].toArray()[4].toString(), "");
}

// The fast search gives what a chain of LocateByField calls gives.
TEST_F(StoreBidTest, FileSearchAgreesWithLocateByField) {
    test::appendRows(tailPath(), {{"A1"}, {" B2"}, {"A1  "}, {"a1"}, {"A1"}, {""}, {"A1"}}, {"local_bid"});
    const int tail = open("BidTail");
    ta::d4go(tail, 3);
    ta::d4delete(tail);
    ta::d4close(tail);
    const int t = open("BidTail");
    for (const QString id : {QStringLiteral("A1"), QStringLiteral("B2"), QStringLiteral(" a1 "), QStringLiteral("Z")}) {
        const RecordMatches fast = findRecords(t, state_.tablePath("BidTail"), "local_bid", id);
        const RecordMatches slow = findRecordsByLocate(t, "local_bid", id);
        EXPECT_EQ(fast.records, slow.records) << id.toStdString();
        EXPECT_EQ(fast.deleted, slow.deleted) << id.toStdString();
        EXPECT_TRUE(fast.anyDeleted);
        EXPECT_TRUE(slow.anyDeleted);
    }
    EXPECT_EQ(findRecords(t, state_.tablePath("BidTail"), "local_bid", "A1").records, (std::vector<int>{1, 3, 5, 7}));
    ta::d4close(t);
}

}  // namespace
}  // namespace tarvik
