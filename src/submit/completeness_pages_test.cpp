// The completeness checks over the program's real entry pages: every control they look for is found by
// its name, has the kind the checks expect, and the service rows are counted as the Services page built
// its grid from the Services table.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <utility>

#include "pages/bidprofilepage.h"
#include "pages/choicegroups.h"
#include "pages/cubepage.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "store/datafolder.h"
#include "submit/completeness.h"
#include "tableaccess/tableaccess.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

using namespace tarvik;

namespace {

struct RealPages {
    QTemporaryDir tmp;
    MainState state;
    QWidget window;
    QTabWidget* tabs = nullptr;
    ServicesPage* services = nullptr;

    RealPages() {
        state.DataContext = ta::OpenData();
        state.FProgramFolder = tmp.path();
        state.FDataFolder = tarvik::test::makeDataFolder(tmp.path());
        CheckPostalIndexes(state);
        auto* layout = new QVBoxLayout(&window);
        tabs = new QTabWidget(&window);
        tabs->setObjectName(QStringLiteral("tabEntryPages"));
        layout->addWidget(tabs);
        tabs->addTab(new MainPage(state), QStringLiteral("Main"));
        tabs->addTab(new ShipperProfilePage(state), QStringLiteral("Shipper Profile"));
        services = new ServicesPage(state);
        tabs->addTab(services, QStringLiteral("Services"));
        tabs->addTab(new BidProfilePage(state), QStringLiteral("Bid Profile"));
        tabs->addTab(new CubePage(state), QStringLiteral("Cube Analysis"));
        tabs->addTab(new ShipmentPage(state), QStringLiteral("Shipment Data"));
        services->setupIncentiveGrid();
        window.resize(1000, 700);
        window.show();
        QApplication::setActiveWindow(&window);
    }
    ~RealPages() { ta::CloseData(state.DataContext); }

    template <typename T>
    T* get(const char* name) {
        T* w = window.findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString message;
    bool check() { return CheckBidComplete(state, &window, message); }
    // The grid row of the Services record with this description, as the page labelled it.
    int rowOf(const QString& description) {
        StringGrid* g = services->incentiveGrid();
        for (int r = 0; r < g->rowCount(); ++r)
            if (g->cell(0, r).trimmed() == description) return r;
        return -1;
    }
};

// A combo box of a page gets a selectable item when it has none (the pickers are filled by the
// reference lookups at start-up, which these pages do not run).
void choose(QComboBox* c) {
    if (c->count() == 0) c->addItem(QStringLiteral("Chosen"));
    c->setCurrentIndex(0);
    if (c->isEditable() && c->currentText().isEmpty()) c->setEditText(QStringLiteral("Chosen"));
}

TEST(CheckBidCompleteOnThePages, EveryRequiredControlIsFoundAndCheckedInTurn) {
    RealPages p;
    EXPECT_FALSE(p.check());
    EXPECT_EQ(p.message, QStringLiteral("No Bid ID assigned yet."));
    EXPECT_EQ(QApplication::focusWidget(), p.get<QWidget>("btnNewBid"));
    p.get<QLineEdit>("ebxLocalBidID")->setText(QStringLiteral("DanaRuiz4609712345"));

    struct Step {
        const char* control;
        int page;
        const char* message;
    };
    const Step steps[] = {
        {"ebxBusiness", 1, "'% Business' must be entered."},
        {"cbxIndustry", 1, "Select 'Industry' company belongs to."},
        {"rgBidType", 3, "'Bid Type' must be selected."},
        {"cbxCompetitorName", 3, "'Primary Competitor' has not been selected!"},
        {"cbxBrokerage", 3, "'Brokerage' cannot be blank."},
        {"cbxPLDTypes", 3, "Must select 'Primary Ship Method'."},
        {"cbxCustSource", 3, "No 'Source of competitor rates' entered."},
        {"cbxSourceDist", 3, "'Distribution information source' must be entered"},
        {"rgStrategy", 3, "No 'Strategy' selected."},
        {"rgInfoSource", 4, "Select the 'Souce of Information'"},
        {"rgBillWeight", 4, "Nothing selected for 'Entered Billable Weights reflect?'"},
    };
    for (const Step& s : steps) {
        QWidget* control = p.get<QWidget>(s.control);
        ASSERT_NE(control, nullptr);
        if (control->isHidden()) {
            // A control its page hides (Brokerage until the bid table is known to have it) is skipped.
            p.check();
            EXPECT_NE(p.message, QString::fromLatin1(s.message)) << s.control;
            control->show();
        }
        p.tabs->setCurrentIndex(0);
        EXPECT_FALSE(p.check()) << s.control;
        EXPECT_EQ(p.message, QString::fromLatin1(s.message));
        EXPECT_EQ(p.tabs->currentIndex(), s.page) << s.control;
        // Fill it in the way its kind allows; a control of another kind would never fail.
        if (auto* e = qobject_cast<QLineEdit*>(control))
            e->setText(QStringLiteral("25"));
        else if (auto* c = qobject_cast<QComboBox*>(control))
            choose(c);
        else if (auto* g = qobject_cast<RadioGroup*>(control))
            g->setItemIndex(0);
        else
            ADD_FAILURE() << s.control << " is of a kind the checks do not know";
    }
    EXPECT_FALSE(p.check());
    EXPECT_EQ(p.message, QStringLiteral("Select 'Yes' or 'No' for 'Credit Card Eligibility Requested'"));
    EXPECT_EQ(QApplication::focusWidget(), p.get<QWidget>("chbValueNo"));
    p.get<QCheckBox>("chbValueYes")->setChecked(true);
    EXPECT_FALSE(p.check());
    EXPECT_EQ(p.message, QStringLiteral("Select 'Yes' or 'No' for 'Reseller of VYN Services'"));
    p.get<QCheckBox>("chbResellerNo")->setChecked(true);
    EXPECT_TRUE(p.check()) << p.message.toStdString();
}

TEST(CheckBidCompleteOnThePages, ServiceRowsAreThoseTheServicesPageBuilt) {
    RealPages p;
    StringGrid* volumes = p.services->incentiveGrid();
    StringGrid* lines = p.get<StringGrid>("ShipmentGrid");
    ASSERT_TRUE(volumes && lines);
    QString message;
    // Bidding On for each service row alone, without lines: the message names that row's service (its
    // description). A line keys the service as the picker lists it: the "Ground Multi" record as "Ground".
    const std::pair<QString, QString> rows[] = {
        {QStringLiteral("Ground Multi"), QStringLiteral("Ground")},
        {QStringLiteral("TB Ground"), QStringLiteral("TB Ground")},
        {QStringLiteral("WW Express Letter"), QStringLiteral("WW Express Letter")},
        {QStringLiteral("WW Expedited"), QStringLiteral("WW Expedited")}};
    for (const auto& [d, service] : rows) {
        const int row = p.rowOf(d);
        ASSERT_GT(row, 0) << d.toStdString();
        volumes->setCell(2, row, QStringLiteral("6"));
        EXPECT_FALSE(CheckServiceVolumes(p.state, &p.window, message));
        EXPECT_EQ(message, QStringLiteral("You have entered weekly volumes for a service (") + d +
                               QStringLiteral("),\r\nbut have not keyed shipment data for that service!"));
        // A line of that service satisfies both passes.
        lines->setCell(1, 1, service);
        lines->setCell(2, 1, QStringLiteral("2"));
        EXPECT_TRUE(CheckServiceVolumes(p.state, &p.window, message)) << message.toStdString();
        lines->setCell(1, 1, QString());
        lines->setCell(2, 1, QString());
        volumes->setCell(2, row, QString());
    }
}

}  // namespace
