#include "app/tmainform.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>

#include "app/appstyle.h"
#include "app/importmessage.h"
#include "app/lookups.h"
#include "app/tableerrors.h"
#include "home/home.h"
#include "pages/bidprofilepage.h"
#include "pages/cubepage.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "shiptools/importdata.h"
#include "shiptools/postalcodes.h"
#include "store/datafolder.h"
#include "store/lifecycle.h"
#include "tableaccess/tableaccess.h"
#include "tarvikversion.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {
constexpr int kMinWidth = 485;
constexpr int kMinHeight = 640;
constexpr int kPageLeft = 10;
constexpr int kPageTop = 8;
}  // namespace

TMainForm::TMainForm(const QString& programFolder, StartupHooks hooks, QWidget* parent)
    : QMainWindow(parent), hooks_(std::move(hooks)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Tarvik v" TARVIK_VERSION));
    // System menu and minimise box, no maximise box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setMinimumSize(kMinWidth, kMinHeight);
    // The flat look of the menus and controls (the application style sets the rest).
    setStyleSheet(QString::fromLatin1(flatStyleSheet()));

    // Table errors are shown as error message boxes for as long as the window lives.
    errors_ = std::make_unique<TableErrorReporter>();

    QString folder = QDir::cleanPath(programFolder);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) folder.chop(1);
    state_.FProgramFolder = folder;

    buildPages();
    buildButtons();
    buildMenus();
    wirePages();
    tbsServicesShow = [this] { tbsServices->tbsServicesShow(); };
    tbsCubeAnalysisShow = [this] { tbsCubeAnalysis->tbsCubeAnalysisShow(); };
    tbsShipmentDataShow = [this] { tbsShipmentData->tbsShipmentDataShow(); };
    resize(760, 680);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormResize();
    FormCreate();
}

TMainForm::~TMainForm() {
    // FormDestroy
    if (state_.DataContext) ta::CloseData(state_.DataContext);
    state_.DataContext = nullptr;
}

TMainForm::StartupHooks TMainForm::pageHooks() {
    StartupHooks h;
    h.applyBidDefaults = [](TMainForm& f) {
        f.tbsShipperProfile->applyBidDefaults();
        f.tbsBidProfile->applyBidDefaults();
    };
    h.buildGrids = [](TMainForm& f) {
        f.tbsServices->setupIncentiveGrid();
        f.tbsCubeAnalysis->setupCubeGrid();
        f.tbsShipmentData->setupGrid();
    };
    h.loadReferenceLists = [](TMainForm& f) { LoadReferenceLists(&f, f.state()); };
    return h;
}

void TMainForm::buildPages() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("MainClient"));
    setCentralWidget(central);

    tabEntryPages = new QTabWidget(central);
    tabEntryPages->setObjectName(QStringLiteral("tabEntryPages"));
    tbsMain = new MainPage(state_);
    tbsShipperProfile = new ShipperProfilePage(state_);
    tbsServices = new ServicesPage(state_);
    tbsBidProfile = new BidProfilePage(state_);
    tbsCubeAnalysis = new CubePage(state_);
    tbsShipmentData = new ShipmentPage(state_);
    tabEntryPages->addTab(tbsMain, QStringLiteral(" Main "));
    tabEntryPages->addTab(tbsShipperProfile, QStringLiteral("  Shipper Profile  "));
    tabEntryPages->addTab(tbsServices, QStringLiteral("  Services  "));
    tabEntryPages->addTab(tbsBidProfile, QStringLiteral("  Bid Profile  "));
    tabEntryPages->addTab(tbsCubeAnalysis, QStringLiteral("Cube Analysis"));
    tabEntryPages->addTab(tbsShipmentData, QStringLiteral("Shipment Data"));
    connect(tabEntryPages, &QTabWidget::currentChanged, this, &TMainForm::pageChanged);
}

void TMainForm::wirePages() {
    // The Services page asks the Bid Profile page's Multi box and reads the shipment lines for its markers.
    tbsServices->linkBidProfile(tbsBidProfile);
    tbsServices->shipmentLines = [this] {
        std::vector<ShipmentLineInfo> lines;
        const StringGrid* grid = tbsShipmentData->shipmentGrid();
        for (int r = 1; grid && r < grid->rowCount(); ++r)
            lines.push_back(
                {grid->cell(ShipmentPage::ColService, r), grid->cell(ShipmentPage::ColTotPcs, r)});
        return lines;
    };
    // Postal and zip codes are checked against the reference tables as cells are left.
    ShipmentCodeChecks checks;
    checks.checkPostalCode = [this](const QString& code) { return CheckPostalCode(state_, code); };
    checks.checkZipCode = [this](const QString& code) { return CheckZipCode(state_, code); };
    tbsShipmentData->setCodeChecks(std::move(checks));
    // The expanded strategy window lists the distribution sources as the table holds them now.
    tbsBidProfile->distributionSources = [this] {
        return ListFromTable(state_.tablePath(QStringLiteral("DistributionSrc")), QStringLiteral("dist_src"),
                             state_.DataContext);
    };
    // The shipper's postal code fills city and province when it is left.
    connect(tbsShipperProfile, &ShipperProfilePage::ebxPostalCodeExit, this,
            [this] { tarvik::ebxPostalCodeExit(state_, tbsShipperProfile); });
    // The Shipment Data page's tools: import (with the progress window), copy, clear, find/replace.
    // The find/replace window has no owner: the main window's control look is given to it explicitly.
    wireShipmentTools(
        *tbsShipmentData, state_,
        [this](QWidget* owner) { return std::unique_ptr<QDialog>(new TImportMessage(state_, owner)); },
        [this](QWidget* window) { window->setStyleSheet(styleSheet()); });
    connect(tbsMain->btnNewBid, &QPushButton::clicked, this, [this] {
        if (newBid) newBid();
    });
}

void TMainForm::buildButtons() {
    QWidget* central = centralWidget();
    auto button = [&](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, central);
        b->setObjectName(QLatin1String(name));
        b->setFixedSize(90, 26);
        return b;
    };
    btnBack = button("btnBack", QStringLiteral("&<< Back"));
    btnNext = button("btnNext", QStringLiteral("Next >&>"));
    btnExit = button("btnExit", QStringLiteral("E&xit"));
    connect(btnBack, &QPushButton::clicked, this, &TMainForm::btnBackClick);
    connect(btnNext, &QPushButton::clicked, this, &TMainForm::btnNextClick);
    connect(btnExit, &QPushButton::clicked, this, &TMainForm::btnExitClick);
    // In tab order after the page control.
    setTabOrder(tabEntryPages, btnBack);
    setTabOrder(btnBack, btnNext);
    setTabOrder(btnNext, btnExit);
}

void TMainForm::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    auto menu = [&](const char* name, const QString& caption) {
        QMenu* m = bar->addMenu(caption);
        m->setObjectName(QLatin1String(name));
        return m;
    };
    auto item = [&](QMenu* m, const char* name, const QString& caption) {
        auto* a = new QAction(caption, this);
        a->setObjectName(QLatin1String(name));
        m->addAction(a);
        return a;
    };
    mnuFile = menu("mnuFile", QStringLiteral("&File"));
    mnuExit = item(mnuFile, "mnuExit", QStringLiteral("E&xit"));
    mnuBids = menu("mnuBids", QStringLiteral("&Bids"));
    mnuNewBid = item(mnuBids, "mnuNewBid", QStringLiteral("&New"));
    mnuSelect = item(mnuBids, "mnuSelect", QStringLiteral("&Select"));
    mnuDeleteBid = item(mnuBids, "mnuDeleteBid", QStringLiteral("&Delete"));
    mnuSubmit = item(mnuBids, "mnuSubmit", QStringLiteral("Su&bmit"));
    mnuBids->addSeparator();
    mnuViewStatus = item(mnuBids, "mnuViewStatus", QStringLiteral("&View Status"));
    mnuUpdateStatus = item(mnuBids, "mnuUpdateStatus", QStringLiteral("&Update Status"));
    mnuBids->addSeparator();
    mnuPrintStatus = item(mnuBids, "mnuPrintStatus", QStringLiteral("&Print Status"));
    mnuTools = menu("mnuTools", QStringLiteral("&Tools"));
    mnuSalesRefTable = item(mnuTools, "mnuSalesRefTable", QStringLiteral("&Sales Reference Table"));
    mnuFTPSetup = item(mnuTools, "mnuFTPSetup", QStringLiteral("&FTP Setup"));
    connect(mnuExit, &QAction::triggered, this, &TMainForm::mnuExitClick);
    connect(mnuNewBid, &QAction::triggered, this, [this] {
        if (newBid) newBid();
    });
    connect(mnuSalesRefTable, &QAction::triggered, this, [this] { mnuSalesRefTableClick(this, state_); });
    // Ctrl+PgDown / Ctrl+PgUp switch the page from any control, the grids included (Ctrl+Tab leaves a
    // grid instead, as it leaves any item view).
    auto* nextPage = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown), this);
    nextPage->setObjectName(QStringLiteral("scNextPage"));
    connect(nextPage, &QShortcut::activated, this, &TMainForm::btnNextClick);
    auto* previousPage = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp), this);
    previousPage->setObjectName(QStringLiteral("scPreviousPage"));
    connect(previousPage, &QShortcut::activated, this, &TMainForm::btnBackClick);
}

void TMainForm::FormCreate() {
    state_.FLoading = false;
    state_.FNewBidGuard = false;
    // FProgramFolder/data; a folder copied from Windows may spell it "Data", and is found as well.
    state_.FDataFolder = dataFolderOf(state_.FProgramFolder);
    state_.DataContext = ta::OpenData();
    UpgradeBidTables(state_);
    CheckPostalIndexes(state_);
    state_.FBidRecNo = 0;
    // The flat look is in place since construction (style sheet above).
    BrokerageProbe();
    if (hooks_.applyBidDefaults) hooks_.applyBidDefaults(*this);
    if (hooks_.buildGrids) hooks_.buildGrids(*this);
    if (hooks_.loadReferenceLists) hooks_.loadReferenceLists(*this);
    tabEntryPages->setCurrentWidget(tbsMain);
}

bool TMainForm::BrokerageProbe() {
    const int previous = ta::code4errFieldName(state_.DataContext, 0);
    bool has = false;
    const int bids = ta::mOpen(state_.DataContext, state_.tablePath(QStringLiteral("Bids")));
    if (bids > 0) {
        has = ta::d4fieldNumber(bids, QStringLiteral("brokerage")) > 0;
        ta::d4close(bids);
    }
    ta::code4errFieldName(state_.DataContext, previous);
    tbsBidProfile->setBrokerageFieldPresent(has);
    // The same by name, for any other control of that name.
    if (auto* w = findChild<QWidget*>(QStringLiteral("cbxBrokerage"))) w->setVisible(has);
    if (auto* w = findChild<QWidget*>(QStringLiteral("lblBrokerage"))) w->setVisible(has);
    if (auto* w = findChild<QWidget*>(QStringLiteral("chbBroker"))) w->setVisible(!has);
    return has;
}

void TMainForm::showPage(int index) {
    tabEntryPages->setCurrentIndex(index);
    QWidget* page = tabEntryPages->currentWidget();
    if (!page) return;
    // The page takes the focus: its first control that Tab would reach, so that typing goes somewhere
    // the user can see (the page itself shows no focus).
    QWidget* target = page;
    for (QWidget* w = page->nextInFocusChain(); w && w != page; w = w->nextInFocusChain()) {
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
            w->isVisibleTo(page)) {
            target = w;
            break;
        }
    }
    target->setFocus(Qt::TabFocusReason);
}

void TMainForm::btnNextClick() {
    const int n = tabEntryPages->count();
    showPage((tabEntryPages->currentIndex() + 1) % n);
}

void TMainForm::btnBackClick() {
    const int n = tabEntryPages->count();
    showPage((tabEntryPages->currentIndex() + n - 1) % n);
}

void TMainForm::pageChanged(int index) {
    QWidget* page = tabEntryPages->widget(index);
    if (page == tbsServices && tbsServicesShow) tbsServicesShow();
    if (page == tbsCubeAnalysis && tbsCubeAnalysisShow) tbsCubeAnalysisShow();
    if (page == tbsShipmentData && tbsShipmentDataShow) tbsShipmentDataShow();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TMainForm::FormResize() {
    // The page control is 30 pixels narrower and 90 pixels lower than the window; the buttons sit
    // under it at its right.
    const int w = width() - 30;
    const int h = height() - 90;
    tabEntryPages->setGeometry(kPageLeft, kPageTop, w, h);
    const int y = kPageTop + h + 10;
    const int right = kPageLeft + w;
    btnExit->move(right - btnExit->width(), y);
    btnNext->move(btnExit->x() - 12 - btnNext->width(), y);
    btnBack->move(btnNext->x() - 6 - btnBack->width(), y);
    // The shipment grid is 20 pixels narrower and 68 pixels lower than the page control, unless its
    // page lays it out itself.
    if (auto* grid = findChild<QWidget*>(QStringLiteral("ShipmentGrid"))) {
        QWidget* page = grid->parentWidget();
        if (page && !page->layout()) grid->resize(w - 20, h - 68);
    }
}

bool TMainForm::FormCloseQuery() {
    if (!tbsMain->bidOpen()) {
        return messageBox(QStringLiteral("Are you sure?"), QStringLiteral("Program Exit"),
                          PromptIcon::Question, Yes | No) == Yes;
    }
    switch (messageBox(QStringLiteral("Save Bid Working on?"), QStringLiteral("File Write"),
                       PromptIcon::Question, Yes | No | Cancel)) {
        case Yes:
            // A bid that could not be stored is the only copy there is: the window stays open with it.
            if (storeBid && !storeBid()) {
                ReportBidNotStored(tbsMain->ebxLocalBidID->text());
                return false;
            }
            return true;
        case No:
            return true;
        default:
            return false;
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery()) {
        event->accept();
        if (closed) closed();
    } else {
        event->ignore();
    }
}

}  // namespace tarvik
