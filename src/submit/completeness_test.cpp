#include "submit/completeness.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <functional>

#include "pages/choicegroups.h"
#include "store/datafolder.h"
#include "tableaccess/tableaccess.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

using namespace tarvik;

namespace {

// IncentiveGrid rows of the test data folder's Services table.
enum Row {
    GroundMulti = 1,
    GroundSingle = 2,
    Economy = 3,
    Express = 4,
    ExpressPak = 5,
    ExpressLetter = 6,
    TbGround = 8,
    TbExpress = 9,
    WwPak = 11,
    WwLetter = 12,
    WwExpedited = 13,
    Residential = 14,
};

// A main window cut down to what the checks look at: the six pages of tabEntryPages with their controls,
// each carrying its own name, over the test data folder.
struct BidWindow {
    QTemporaryDir tmp;
    MainState state;
    QWidget window;
    QTabWidget* tabs = nullptr;
    QWidget* pages[6] = {};
    QLineEdit* ebxLocalBidID = nullptr;
    QPushButton* btnNewBid = nullptr;
    QLineEdit* ebxBusiness = nullptr;
    QComboBox* cbxIndustry = nullptr;
    QCheckBox *chbValueYes = nullptr, *chbValueNo = nullptr, *chbResellerYes = nullptr,
              *chbResellerNo = nullptr;
    StringGrid* IncentiveGrid = nullptr;
    RadioGroup *rgBidType = nullptr, *rgStrategy = nullptr, *rgInfoSource = nullptr, *rgBillWeight = nullptr;
    QComboBox *cbxCompetitorName = nullptr, *cbxBrokerage = nullptr, *cbxPLDTypes = nullptr,
              *cbxCustSource = nullptr, *cbxSourceDist = nullptr;
    QCheckBox* chbMultiOnly = nullptr;
    StringGrid* ShipmentGrid = nullptr;

    template <typename T, typename... A>
    T* add(int page, const char* name, A&&... args) {
        auto* w = new T(std::forward<A>(args)..., pages[page]);
        w->setObjectName(QLatin1String(name));
        pages[page]->layout()->addWidget(w);
        return w;
    }
    QComboBox* combo(int page, const char* name, bool editable = false) {
        auto* c = add<QComboBox>(page, name);
        c->setEditable(editable);
        c->addItems({QStringLiteral(" "), QStringLiteral("First"), QStringLiteral("Second")});
        c->setCurrentIndex(-1);
        return c;
    }
    RadioGroup* radio(int page, const char* name) {
        return add<RadioGroup>(page, name, QStringLiteral("Group"),
                               QStringList{QStringLiteral("&One"), QStringLiteral("&Two")}, 1);
    }

    BidWindow() {
        state.DataContext = ta::OpenData();
        state.FProgramFolder = tmp.path();
        state.FDataFolder = tarvik::test::makeDataFolder(tmp.path());
        CheckPostalIndexes(state);

        auto* layout = new QVBoxLayout(&window);
        tabs = new QTabWidget(&window);
        tabs->setObjectName(QStringLiteral("tabEntryPages"));
        layout->addWidget(tabs);
        for (int i = 0; i < 6; ++i) {
            pages[i] = new QWidget;
            new QVBoxLayout(pages[i]);
            tabs->addTab(pages[i], QString::number(i));
        }
        ebxLocalBidID = add<QLineEdit>(0, "ebxLocalBidID");
        btnNewBid = add<QPushButton>(0, "btnNewBid", QStringLiteral("&New Bid"));
        ebxBusiness = add<QLineEdit>(1, "ebxBusiness");
        cbxIndustry = combo(1, "cbxIndustry");
        chbValueYes = add<QCheckBox>(1, "chbValueYes", QStringLiteral("Yes"));
        chbValueNo = add<QCheckBox>(1, "chbValueNo", QStringLiteral("No"));
        chbResellerYes = add<QCheckBox>(1, "chbResellerYes", QStringLiteral("Yes"));
        chbResellerNo = add<QCheckBox>(1, "chbResellerNo", QStringLiteral("No"));
        IncentiveGrid = add<StringGrid>(2, "IncentiveGrid");
        IncentiveGrid->setColCount(4);
        IncentiveGrid->setRowCount(15);  // the qualifying Services records of the test folder
        rgBidType = radio(3, "rgBidType");
        cbxCompetitorName = combo(3, "cbxCompetitorName", true);
        cbxBrokerage = combo(3, "cbxBrokerage");
        cbxPLDTypes = combo(3, "cbxPLDTypes");
        cbxCustSource = combo(3, "cbxCustSource");
        cbxSourceDist = combo(3, "cbxSourceDist");
        rgStrategy = radio(3, "rgStrategy");
        chbMultiOnly = add<QCheckBox>(3, "chbMultiOnly", QStringLiteral("Multi only"));
        chbMultiOnly->setChecked(false);
        rgInfoSource = radio(4, "rgInfoSource");
        rgBillWeight = radio(4, "rgBillWeight");
        ShipmentGrid = add<StringGrid>(5, "ShipmentGrid");
        ShipmentGrid->setColCount(13);
        ShipmentGrid->setRowCount(31);
        window.resize(800, 600);
        window.show();
        QApplication::setActiveWindow(&window);
        tabs->setCurrentIndex(4);  // somewhere else than any page a check brings to the front
    }
    ~BidWindow() { ta::CloseData(state.DataContext); }

    // Everything a complete bid holds: one Express line to Ottawa with Bidding On on its row.
    void fillComplete() {
        ebxLocalBidID->setText(QStringLiteral("AnnaBell4609712345"));
        line(1, QStringLiteral("Express"), 3);
        volume(Express, QString(), QStringLiteral("20"));
        ebxBusiness->setText(QStringLiteral("40"));
        cbxIndustry->setCurrentIndex(1);
        rgBidType->setItemIndex(0);
        cbxCompetitorName->setEditText(QStringLiteral("Rival Ltd"));
        cbxBrokerage->setCurrentIndex(1);
        cbxPLDTypes->setCurrentIndex(1);
        cbxCustSource->setCurrentIndex(1);
        cbxSourceDist->setCurrentIndex(1);
        rgStrategy->setItemIndex(1);
        rgInfoSource->setItemIndex(0);
        rgBillWeight->setItemIndex(0);
        chbValueNo->setChecked(true);
        chbResellerYes->setChecked(true);
    }
    void line(int r, const QString& service, int pieces, const QString& postal = QStringLiteral("K1A 0B1"),
              const QString& country = QStringLiteral("CA")) {
        ShipmentGrid->setCell(1, r, service);
        ShipmentGrid->setCell(2, r, QString::number(pieces));
        ShipmentGrid->setCell(3, r, QStringLiteral("10"));
        ShipmentGrid->setCell(5, r, postal);
        ShipmentGrid->setCell(6, r, country);
    }
    void volume(int row, const QString& other, const QString& biddingOn) {
        IncentiveGrid->setCell(1, row, other);
        IncentiveGrid->setCell(2, row, biddingOn);
    }
    void clearLines() {
        for (int r = 1; r < ShipmentGrid->rowCount(); ++r)
            for (int c = 1; c <= 12; ++c) ShipmentGrid->setCell(c, r, QString());
    }
    void clearVolumes() {
        for (int r = 1; r < IncentiveGrid->rowCount(); ++r) volume(r, QString(), QString());
    }

    QString message;
    bool check() { return CheckBidComplete(state, &window, message); }
    bool volumesCheck() { return CheckServiceVolumes(state, &window, message); }
    int page() const { return tabs->currentIndex(); }
    QWidget* focus() const { return QApplication::focusWidget(); }
};

QString volumeFault(const QString& d) {
    return QStringLiteral("You have entered shipment data for a service (") + d +
           QStringLiteral("),\r\nbut have not keyed weekly volume for that service!");
}
QString shipmentFault(const QString& d) {
    return QStringLiteral("You have entered weekly volumes for a service (") + d +
           QStringLiteral("),\r\nbut have not keyed shipment data for that service!");
}

TEST(CheckBidComplete, ACompleteBidPasses) {
    BidWindow w;
    w.fillComplete();
    EXPECT_TRUE(w.check()) << w.message.toStdString();
    EXPECT_EQ(w.page(), 4);  // nothing brought to the front
}

TEST(CheckBidComplete, AnEmptyBidIdFailsFirstWhateverElseIsMissing) {
    BidWindow w;
    w.line(1, QStringLiteral("Bogus"), 1, QStringLiteral("ZZZ"));
    EXPECT_FALSE(w.check());
    EXPECT_EQ(w.message, QStringLiteral("No Bid ID assigned yet."));
    EXPECT_EQ(w.page(), 0);
    EXPECT_EQ(w.focus(), w.btnNewBid);
}

TEST(CheckBidComplete, BadPostalCodesComeBeforeTheServicesAndFields) {
    BidWindow w;
    w.fillComplete();
    w.line(2, QStringLiteral("Bogus"), 1, QStringLiteral("X9X 9X9"));
    EXPECT_FALSE(w.check());
    EXPECT_EQ(w.message, QStringLiteral("Invalid Postal Code(s) found: \r\nShip. #2 X9X 9X9"));
    EXPECT_EQ(w.page(), 5);
    EXPECT_EQ(w.focus(), w.ShipmentGrid);
}

TEST(CheckBidComplete, ServiceFaultsShowTheServicesPageBeforeTheRequiredFields) {
    BidWindow w;
    w.fillComplete();
    w.ebxBusiness->clear();
    w.volume(TbGround, QString(), QStringLiteral("7"));
    EXPECT_FALSE(w.check());
    EXPECT_EQ(w.message, shipmentFault(QStringLiteral("TB Ground")));
    EXPECT_EQ(w.page(), 2);
    EXPECT_EQ(w.focus(), w.IncentiveGrid);
}

TEST(CheckBidComplete, RequiredFieldsInOrderWithTheirPageAndFocus) {
    struct Case {
        QWidget* control;
        int page;
        const char* message;
    };
    BidWindow w;
    const std::vector<Case> cases = {
        {w.ebxBusiness, 1, "'% Business' must be entered."},
        {w.cbxIndustry, 1, "Select 'Industry' company belongs to."},
        {w.rgBidType, 3, "'Bid Type' must be selected."},
        {w.cbxCompetitorName, 3, "'Primary Competitor' has not been selected!"},
        {w.cbxBrokerage, 3, "'Brokerage' cannot be blank."},
        {w.cbxPLDTypes, 3, "Must select 'Primary Ship Method'."},
        {w.cbxCustSource, 3, "No 'Source of competitor rates' entered."},
        {w.cbxSourceDist, 3, "'Distribution information source' must be entered"},
        {w.rgStrategy, 3, "No 'Strategy' selected."},
        {w.rgInfoSource, 4, "Select the 'Souce of Information'"},
        {w.rgBillWeight, 4, "Nothing selected for 'Entered Billable Weights reflect?'"},
    };
    auto empty = [&](QWidget* c) {
        if (auto* e = qobject_cast<QLineEdit*>(c)) e->clear();
        if (auto* b = qobject_cast<QComboBox*>(c)) {
            b->setCurrentIndex(-1);
            if (b->isEditable()) b->setEditText(QString());
        }
        if (auto* g = qobject_cast<RadioGroup*>(c)) g->setItemIndex(-1);
    };
    // Each field alone missing; then all missing at once, the first one is named.
    for (const Case& c : cases) {
        w.fillComplete();
        empty(c.control);
        w.tabs->setCurrentIndex(0);
        EXPECT_FALSE(w.check()) << c.message;
        EXPECT_EQ(w.message, QString::fromLatin1(c.message));
        EXPECT_EQ(w.page(), c.page) << c.message;
        QWidget* f = w.focus();
        EXPECT_TRUE(f == c.control || c.control->isAncestorOf(f)) << c.message;
    }
    w.fillComplete();
    for (const Case& c : cases) empty(c.control);
    EXPECT_FALSE(w.check());
    EXPECT_EQ(w.message, QStringLiteral("'% Business' must be entered."));
}

TEST(CheckBidComplete, ABlankOnlyComboPassesAndAHiddenControlIsSkipped) {
    BidWindow w;
    w.fillComplete();
    w.cbxIndustry->setCurrentIndex(0);  // the item " "
    w.ebxBusiness->setText(QStringLiteral(" "));
    EXPECT_TRUE(w.check()) << w.message.toStdString();

    w.rgBidType->setItemIndex(-1);
    EXPECT_FALSE(w.check());
    EXPECT_EQ(w.message, QStringLiteral("'Bid Type' must be selected."));
    w.rgBidType->hide();
    EXPECT_TRUE(w.check()) << w.message.toStdString();

    // A control on a page that is not in front is still checked.
    w.rgBidType->show();
    w.tabs->setCurrentIndex(0);
    EXPECT_FALSE(w.check());
    EXPECT_EQ(w.message, QStringLiteral("'Bid Type' must be selected."));
}

TEST(CheckBidComplete, TheCreditCardAndResellerQuestionsNeedAnAnswer) {
    BidWindow w;
    w.fillComplete();
    w.chbValueNo->setChecked(false);
    EXPECT_FALSE(w.check());
    EXPECT_EQ(w.message, QStringLiteral("Select 'Yes' or 'No' for 'Credit Card Eligibility Requested'"));
    EXPECT_EQ(w.page(), 1);
    EXPECT_EQ(w.focus(), w.chbValueNo);

    w.chbValueYes->setChecked(true);
    w.chbResellerYes->setChecked(false);
    w.tabs->setCurrentIndex(0);
    EXPECT_FALSE(w.check());
    EXPECT_EQ(w.message, QStringLiteral("Select 'Yes' or 'No' for 'Reseller of VYN Services'"));
    EXPECT_EQ(w.page(), 1);
    EXPECT_EQ(w.focus(), w.chbResellerNo);

    w.chbResellerNo->setChecked(true);
    EXPECT_TRUE(w.check());
}

// The list of problems names every failing check once, in the order of the sequence, with the page that
// holds it, while the page in front and the focus stay where they were.
TEST(ListBidProblems, EveryFailingCheckInOrderWithoutMovingPageOrFocus) {
    struct Case {
        const char* what;
        std::function<void(BidWindow&)> spoil;
        std::vector<std::pair<int, QString>> expected;  // page, message
    };
    const QString noCredit = QStringLiteral("Select 'Yes' or 'No' for 'Credit Card Eligibility Requested'");
    const QString noReseller = QStringLiteral("Select 'Yes' or 'No' for 'Reseller of VYN Services'");
    const std::vector<Case> cases = {
        {"complete", [](BidWindow&) {}, {}},
        {"no ID and a bad code",
         [](BidWindow& w) {
             w.ebxLocalBidID->clear();
             w.ShipmentGrid->setCell(5, 1, QStringLiteral("ZZZ 999"));
         },
         {{0, QStringLiteral("No Bid ID assigned yet.")},
          {5, QStringLiteral("Invalid Postal Code(s) found: \r\nShip. #1 ZZZ 999")}}},
        {"volumes and three fields",
         [](BidWindow& w) {
             w.volume(Express, QString(), QString());
             w.ebxBusiness->clear();
             w.rgStrategy->setItemIndex(-1);
             w.rgBillWeight->setItemIndex(-1);
         },
         {{2, volumeFault(QStringLiteral("Express"))},
          {1, QStringLiteral("'% Business' must be entered.")},
          {3, QStringLiteral("No 'Strategy' selected.")},
          {4, QStringLiteral("Nothing selected for 'Entered Billable Weights reflect?'")}}},
        {"both questions",
         [](BidWindow& w) {
             w.chbValueNo->setChecked(false);
             w.chbResellerYes->setChecked(false);
         },
         {{1, noCredit}, {1, noReseller}}},
    };
    for (const Case& c : cases) {
        BidWindow w;
        w.fillComplete();
        c.spoil(w);
        w.tabs->setCurrentIndex(4);
        w.ebxLocalBidID->setFocus();
        QWidget* focus = w.focus();
        const std::vector<BidProblem> problems = ListBidProblems(w.state, &w.window);
        std::vector<std::pair<int, QString>> got;
        for (const BidProblem& p : problems) got.emplace_back(p.page, p.message);
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_EQ(w.page(), 4) << c.what;
        EXPECT_EQ(w.focus(), focus) << c.what;
        // The first problem is the one the check before submission reports.
        QString message;
        EXPECT_EQ(CheckBidComplete(w.state, &w.window, message), c.expected.empty()) << c.what;
        if (!c.expected.empty()) {
            EXPECT_EQ(message, c.expected.front().second) << c.what;
        }
    }
}

// The picker lists the multi-piece Ground record as "Ground"; its description "Ground Multi" makes a
// one-piece line count on the "Ground Single" record that follows it.
TEST(CheckServiceVolumes, AOnePieceMultiLineCountsOnTheSinglePieceRow) {
    BidWindow w;
    w.line(1, QStringLiteral("Ground"), 1);
    w.volume(GroundMulti, QString(), QStringLiteral("50"));
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, volumeFault(QStringLiteral("Ground Single")));

    w.clearVolumes();
    w.volume(GroundSingle, QString(), QStringLiteral("50"));
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();

    // Two pieces: the Multi row itself.
    w.line(1, QStringLiteral("Ground"), 2);
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, volumeFault(QStringLiteral("Ground Multi")));
    w.volume(GroundMulti, QString(), QStringLiteral("50"));
    w.volume(GroundSingle, QString(), QString());
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();

    // Multi only: one piece counts on the Multi row too.
    w.chbMultiOnly->setChecked(true);
    w.line(1, QStringLiteral("Ground"), 1);
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
    w.volume(GroundMulti, QString(), QString());
    w.volume(GroundSingle, QString(), QStringLiteral("50"));
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, volumeFault(QStringLiteral("Ground Multi")));
}

// Many lines of one service: each line counts on the row its piece count chooses, however many lines of
// the same kind came before it.
TEST(CheckServiceVolumes, RepeatedLinesOfAServiceEachCountOnTheRowTheirPiecesChoose) {
    struct Case {
        const char* what;
        std::vector<int> pieces;  // Ground lines 1, 2, ...
        bool multiVolume;         // Bidding On on Ground Multi
        bool singleVolume;        // Bidding On on Ground Single
        QString fault;            // empty: passes
    };
    const std::vector<Case> cases = {
        {"one-piece lines, then a two-piece one", {1, 1, 1, 2}, false, true, volumeFault("Ground Multi")},
        {"two-piece lines, then a one-piece one", {2, 3, 2, 1}, true, false, volumeFault("Ground Single")},
        {"both kinds, both rows", {1, 2, 1, 2}, true, true, QString()},
        {"one-piece lines only, both rows", {1, 1, 1}, true, true, shipmentFault("Ground Multi")},
    };
    for (const Case& c : cases) {
        BidWindow w;
        for (size_t i = 0; i < c.pieces.size(); ++i)
            w.line(int(i) + 1, QStringLiteral("Ground"), c.pieces[i]);
        w.volume(GroundMulti, QString(), c.multiVolume ? QStringLiteral("50") : QString());
        w.volume(GroundSingle, QString(), c.singleVolume ? QStringLiteral("50") : QString());
        EXPECT_EQ(w.volumesCheck(), c.fault.isEmpty()) << c.what;
        if (!c.fault.isEmpty()) {
            EXPECT_EQ(w.message, c.fault) << c.what;
        }
    }
}

TEST(CheckServiceVolumes, OtherVolumeServesTheLinesAndIsNotAskedForLines) {
    BidWindow w;
    w.line(1, QStringLiteral("Express"), 2);
    w.volume(Express, QStringLiteral("10"), QString());
    w.volume(ExpressPak, QStringLiteral("5"), QString());  // Other Volume without lines
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
}

TEST(CheckServiceVolumes, BiddingOnWithoutLinesFailsTheSecondPass) {
    BidWindow w;
    w.line(1, QStringLiteral("Express"), 2);
    w.volume(Express, QString(), QStringLiteral("10"));
    w.volume(TbExpress, QString(), QStringLiteral("3"));
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, shipmentFault(QStringLiteral("TB Express")));
}

TEST(CheckServiceVolumes, AnUnknownServiceIsNamedAsTheCellShowsIt) {
    BidWindow w;
    w.line(1, QStringLiteral("Express"), 2);
    w.volume(Express, QString(), QStringLiteral("10"));
    w.line(3, QStringLiteral(" Carrier Pigeon "), 1);
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message,
              QStringLiteral("You have entered shipment data for an UNKNOWN service ( Carrier Pigeon )!"));
}

TEST(CheckServiceVolumes, NoLinesPassUntilSomeRowHasBiddingOn) {
    BidWindow w;
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
    w.volume(Economy, QStringLiteral("9"), QString());
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
    w.volume(WwExpedited, QString(), QStringLiteral("1"));
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, shipmentFault(QStringLiteral("WW Expedited")));
}

TEST(CheckServiceVolumes, AServiceWithoutVolumesCountsOnTheRowBeforeIt) {
    BidWindow w;
    // "WW Express Pkg" has no row of its own: its lines count on WW Express PAK.
    w.line(1, QStringLiteral("WW Express Pkg"), 2, QStringLiteral("SW1"), QStringLiteral("GB"));
    w.volume(WwPak, QString(), QStringLiteral("4"));
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
    // Rows after it keep their own services: Bidding On for WW Express Letter is asked for its lines.
    w.volume(WwLetter, QString(), QStringLiteral("2"));
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, shipmentFault(QStringLiteral("WW Express Letter")));
    w.line(2, QStringLiteral("WW Express Letter"), 1, QStringLiteral("SW1"), QStringLiteral("GB"));
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
}

// A line the volumes can never serve says which line it is and what it lacks, instead of naming an empty
// or unrelated service.
TEST(CheckServiceVolumes, AFaultyLineNamesItsNumberAndWhatIsMissing) {
    struct Case {
        const char* what;
        std::function<void(BidWindow&)> lines;
        QString message;
    };
    const Case cases[] = {
        {"data but no service",
         [](BidWindow& w) {
             w.line(1, QStringLiteral("Economy"), 2);
             w.line(2, QString(), 3);
         },
         QStringLiteral("Shipment line 2 holds shipment data but no service.\r\nChoose its service, or clear "
                        "the line.")},
        {"a service without a volume row",
         [](BidWindow& w) {
             w.line(1, QStringLiteral("Economy"), 2);
             w.line(2, QStringLiteral("Residential"), 1);  // auto_gen: no row for lines
         },
         QStringLiteral(
             "Shipment line 2: the service (Residential) has no row for weekly volume on the Services "
             "page.\r\nChoose another service for the line.")},
        {"the first line", [](BidWindow& w) { w.line(1, QStringLiteral("Residential"), 1); },
         QStringLiteral(
             "Shipment line 1: the service (Residential) has no row for weekly volume on the Services "
             "page.\r\nChoose another service for the line.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BidWindow w;
        w.volume(Economy, QString(), QStringLiteral("8"));
        c.lines(w);
        EXPECT_FALSE(w.volumesCheck());
        EXPECT_EQ(w.message, c.message);
    }
}

// Bidding On keyed on the Residential row (its volumes are generated, auto_gen) asks for no shipment
// line: no line can ever be counted on that row.
TEST(CheckServiceVolumes, BiddingOnOnTheGeneratedResidentialRowNeedsNoLines) {
    BidWindow w;
    w.volume(Residential, QStringLiteral("3"), QStringLiteral("40"));
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
    w.line(1, QStringLiteral("Express"), 2);
    w.volume(Express, QString(), QStringLiteral("5"));
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
    w.volume(Economy, QString(), QStringLiteral("5"));  // any other row still needs its lines
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, shipmentFault(QStringLiteral("Economy Ground")));
}

TEST(CheckServiceVolumes, AMultiServiceAtTheEndOfTheTableNamesUnknown) {
    BidWindow w;
    std::vector<QStringList> rows = {
        tarvik::demo::serviceValues({"", "-Services", "", 0, "", false, "D"}),
        tarvik::demo::serviceValues({"Freight Multi", "Freight Multi", "frm", 9, "F", false, "D"})};
    ASSERT_TRUE(tarvik::test::writeTable(w.state.tablePath(QStringLiteral("Services.dbf")),
                                         tarvik::demo::servicesLayout(), rows));
    w.IncentiveGrid->setRowCount(2);
    w.line(1, QStringLiteral("Freight Multi"), 1);
    w.volume(1, QString(), QStringLiteral("5"));
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, volumeFault(QStringLiteral("Unknown")));
    w.line(1, QStringLiteral("Freight Multi"), 3);
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
}

TEST(CheckServiceVolumes, AMissingServicesTableIsNotTakenForAPass) {
    BidWindow w;
    w.line(1, QStringLiteral("Express"), 2);
    w.volume(Express, QString(), QStringLiteral("10"));
    ASSERT_TRUE(QFile::remove(w.state.tablePath(QStringLiteral("Services.dbf"))));
    QStringList reported;
    auto previous = ta::setErrorHandler([&](const QString& file, const QString&) { reported << file; });
    EXPECT_FALSE(w.volumesCheck());
    ta::setErrorHandler(previous);
    EXPECT_EQ(w.message,
              QStringLiteral(
                  "The Services table could not be opened; the services of this bid cannot be checked."));
    EXPECT_FALSE(reported.isEmpty());
}

TEST(CheckServiceVolumes, RowsBeyondFortyEightAreCheckedLikeAnyOther) {
    BidWindow w;
    std::vector<QStringList> rows = {tarvik::demo::serviceValues({"", "-Services", "", 0, "", false, "D"})};
    for (int i = 1; i <= 60; ++i)
        rows.push_back(
            tarvik::demo::serviceValues({QStringLiteral("S%1").arg(i), QStringLiteral("Service %1").arg(i),
                                         QStringLiteral("s%1").arg(i), i, "X", false, "D"}));
    ASSERT_TRUE(tarvik::test::writeTable(w.state.tablePath(QStringLiteral("Services.dbf")),
                                         tarvik::demo::servicesLayout(), rows));
    w.IncentiveGrid->setRowCount(61);
    w.line(1, QStringLiteral("S55"), 2);
    w.volume(55, QString(), QStringLiteral("12"));
    EXPECT_TRUE(w.volumesCheck()) << w.message.toStdString();
    w.volume(58, QString(), QStringLiteral("1"));
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, shipmentFault(QStringLiteral("Service 58")));
    w.volume(55, QString(), QString());
    w.volume(58, QString(), QString());
    EXPECT_FALSE(w.volumesCheck());
    EXPECT_EQ(w.message, volumeFault(QStringLiteral("Service 55")));
}

}  // namespace
