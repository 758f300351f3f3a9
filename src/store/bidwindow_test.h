// Test fixture for storing, loading and the bid lifecycle: a fresh data folder and a main window made of
// the six real pages, with the pickers filled from the folder's reference lists the way the application
// fills them. After every test both bid tables must pass `dbftool check`.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <memory>

#include "pages/bidprofilepage.h"
#include "pages/choicegroups.h"
#include "pages/cubepage.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "store/bidtables.h"
#include "tableaccess/tableaccess.h"
#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

namespace tarvik::test {

// Runs `dbftool check` on a table; returns its output, with ok set from the exit code.
inline QString dbftoolCheck(const QString& table, bool* ok) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(TARVIK_BIN_DIR "/dbftool"), {QStringLiteral("check"), table});
    const bool finished = p.waitForFinished(60000);
    *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return QString::fromLocal8Bit(p.readAll());
}

class BidWindowTest : public ::testing::Test {
protected:
    void SetUp() override { makeWindow(DataFolderOptions{}); }

    void makeWindow(const DataFolderOptions& options) {
        window_.reset();
        if (state_.DataContext) ta::CloseData(state_.DataContext);
        ASSERT_TRUE(tmp_.isValid());
        state_ = MainState{};
        state_.FProgramFolder = tmp_.path();
        state_.FDataFolder = makeDataFolder(tmp_.path(), options);
        state_.DataContext = ta::OpenData();
        buildWindow(options.brokerage);
    }

    // The window over the data folder of state_ (whose context is open).
    void buildWindow(bool brokerage = true) {
        auto handler = ta::setErrorHandler(
            [this](const QString& file, const QString& problem) { reports_ << file + QStringLiteral(": ") + problem; });
        if (!handlerSet_) previousHandler_ = handler;
        handlerSet_ = true;

        window_ = std::make_unique<QWidget>();
        window_->setObjectName(QStringLiteral("MainForm"));
        auto* layout = new QVBoxLayout(window_.get());
        tabs = new QTabWidget(window_.get());
        tabs->setObjectName(QStringLiteral("tabEntryPages"));
        layout->addWidget(tabs);
        main = new MainPage(state_);
        shipper = new ShipperProfilePage(state_);
        services = new ServicesPage(state_);
        profile = new BidProfilePage(state_);
        cube = new CubePage(state_);
        shipment = new ShipmentPage(state_);
        tabs->addTab(main, QStringLiteral("Main"));
        tabs->addTab(shipper, QStringLiteral("Shipper Profile"));
        tabs->addTab(services, QStringLiteral("Services"));
        tabs->addTab(profile, QStringLiteral("Bid Profile"));
        tabs->addTab(cube, QStringLiteral("Cube Analysis"));
        tabs->addTab(shipment, QStringLiteral("Shipment Data"));
        services->linkBidProfile(profile);
        QObject::connect(shipper, &ShipperProfilePage::fromPostColumnWidthChanged, shipment,
                         [this](int width) { shipment->showFromPostColumn(width > 0); });
        profile->setBrokerageFieldPresent(brokerage);
        services->setupIncentiveGrid();
        cube->setupCubeGrid();
        shipment->setupGrid();
        fillPickers();
    }

    void fillPickers() {
        for (const QStringList& ae : testExecutives()) main->cbxAccountName->addItem(ae[0]);
        main->cbxAccountName->setCurrentIndex(-1);
        shipper->cbxIndustry()->addItems({QStringLiteral("Apparel"), QStringLiteral("Electronics"), QStringLiteral("Retail")});
        shipper->cbxIndustry()->setCurrentIndex(-1);
        profile->cbxPLDTypes()->addItems({QStringLiteral("Air"), QStringLiteral("Courier"), QStringLiteral("Ground")});
        profile->cbxPLDTypes()->setCurrentIndex(-1);
        // Sorted by name in the picker; codes belong to the texts (a table not in name order).
        profile->cbxSourceDist()->addItems({QStringLiteral("Catalogue"), QStringLiteral("Retail Store"), QStringLiteral("Web Store")});
        profile->cbxSourceDist()->setCurrentIndex(-1);
        shipment->servicesPicker()->addItems({QString(), QStringLiteral("Ground"), QStringLiteral("Economy"),
                                              QStringLiteral("Express"), QStringLiteral("TB Ground")});
        state_.FDistSourceTexts = {QStringLiteral("Web Store"), QStringLiteral("Catalogue"), QStringLiteral("Retail Store")};
        state_.FDistSourceValues = {QStringLiteral("WEB"), QStringLiteral("CAT"), QStringLiteral("RET")};
    }

    void TearDown() override {
        window_.reset();
        if (state_.DataContext) ta::CloseData(state_.DataContext);
        state_.DataContext = nullptr;
        ta::setErrorHandler(previousHandler_);
        EXPECT_TRUE(reports_.isEmpty()) << reports_.join(QLatin1Char('\n')).toStdString();
        for (const char* name : {"Bids.dbf", "BidTail.dbf"}) {
            bool ok = false;
            const QString out = dbftoolCheck(state_.FDataFolder + QLatin1Char('/') + QLatin1String(name), &ok);
            EXPECT_TRUE(ok) << out.toStdString();
        }
    }

    QWidget* w() { return window_.get(); }
    QString bidsPath() const { return state_.FDataFolder + QStringLiteral("/Bids.dbf"); }
    QString tailPath() const { return state_.FDataFolder + QStringLiteral("/BidTail.dbf"); }
    StringGrid* shipGrid() { return shipment->shipmentGrid(); }
    StringGrid* volumeGrid() { return services->incentiveGrid(); }

    // A shipment line in row r: service, pieces, weight, from, postal, country, four charges, description.
    void setLine(int r, const QString& service, int n) {
        while (shipGrid()->rowCount() <= r) shipment->appendLine();
        const QString k = QString::number(n);
        StringGrid* g = shipGrid();
        g->setCell(ShipmentPage::ColService, r, service);
        g->setCell(ShipmentPage::ColTotPcs, r, k);
        g->setCell(ShipmentPage::ColTotWgt, r, QString::number(n * 3));
        g->setCell(ShipmentPage::ColFromPost, r, QStringLiteral("M5V3L9"));
        g->setCell(ShipmentPage::ColPostal, r, QStringLiteral("K1A%1B%2").arg(n % 10).arg(n % 7));
        g->setCell(ShipmentPage::ColCountry, r, QStringLiteral("CA"));
        g->setCell(ShipmentPage::ColCmpRate, r, QStringLiteral("%1.25").arg(n));
        g->setCell(ShipmentPage::ColScPkUp, r, QStringLiteral("1.50"));
        g->setCell(ShipmentPage::ColScFwd, r, QStringLiteral("2.00"));
        g->setCell(ShipmentPage::ColScOther, r, QStringLiteral("0.75"));
        g->setCell(ShipmentPage::ColOtherDesc, r, QStringLiteral("fuel %1").arg(n));
        g->setCell(ShipmentPage::ColTotCmp, r, QStringLiteral("%1.50").arg(n + 4));
    }

    // The row of IncentiveGrid whose service has this dbf_field.
    int volumeRow(const QString& stem) {
        for (int r = 0; r < volumeGrid()->rowCount(); ++r)
            if (services->isServiceRow(r) && services->dbfField(r) == stem) return r;
        ADD_FAILURE() << "no row for " << stem.toStdString();
        return 1;
    }

    // Opens a table through the facade (the caller closes it).
    int open(const QString& name) { return ta::mOpen(state_.DataContext, state_.tablePath(name)); }

    // Every value of one field, trimmed, in table order.
    QStringList column(const QString& table, const QString& field) { return readColumn(state_.tablePath(table), field); }

    QTemporaryDir tmp_;
    MainState state_;
    std::unique_ptr<QWidget> window_;
    QTabWidget* tabs = nullptr;
    MainPage* main = nullptr;
    ShipperProfilePage* shipper = nullptr;
    ServicesPage* services = nullptr;
    BidProfilePage* profile = nullptr;
    CubePage* cube = nullptr;
    ShipmentPage* shipment = nullptr;
    QStringList reports_;
    ta::ErrorHandler previousHandler_;
    bool handlerSet_ = false;
};

}  // namespace tarvik::test
