// TMainForm: the main bid window. A thin shell: it owns the shared main-window state, builds the six
// pages and the menu bar, runs start-up in its fixed order, moves between pages and asks the closing
// questions. Everything a page does lives in the page's class; the parts that later layers supply
// (storing a bid, the defaults of a fresh bid, the grids, the pickers, the page-show handlers) are hooks.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "pages/mainstate.h"

class QAction;
class QMenu;
class QPushButton;
class QTabWidget;

namespace tarvik {

class BidProfilePage;
class BidRecovery;
class CubePage;
class MainPage;
class ServicesPage;
class ShipmentPage;
class ShipperProfilePage;
class TableErrorReporter;

class TMainForm : public QMainWindow {
    Q_OBJECT
  public:
    // Start-up steps supplied by other layers, run by the constructor in this order after the tables
    // have been prepared and the brokerage probe has run. Any of them may be empty.
    struct StartupHooks {
        std::function<void(TMainForm&)> applyBidDefaults;    // the values of a fresh bid
        std::function<void(TMainForm&)> buildGrids;          // IncentiveGrid, CubeGrid, ShipmentGrid
        std::function<void(TMainForm&)> loadReferenceLists;  // fill the pickers
    };

    // The steps as the pages provide them: the defaults of the profile pages, the three grids, the pickers.
    static StartupHooks pageHooks();

    // programFolder: the folder of the program file (no trailing separator needed); the data folder is
    // its "data" subfolder. Runs the whole start-up (FormCreate).
    explicit TMainForm(const QString& programFolder, StartupHooks hooks = pageHooks(),
                       QWidget* parent = nullptr);
    ~TMainForm() override;  // FormDestroy: closes the table context

    MainState& state() { return state_; }
    const MainState& state() const { return state_; }

    // Pages, in their order on the page control.
    QTabWidget* tabEntryPages = nullptr;
    MainPage* tbsMain = nullptr;
    ShipperProfilePage* tbsShipperProfile = nullptr;
    ServicesPage* tbsServices = nullptr;
    BidProfilePage* tbsBidProfile = nullptr;
    CubePage* tbsCubeAnalysis = nullptr;
    ShipmentPage* tbsShipmentData = nullptr;

    QPushButton* btnBack = nullptr;  // "&<< Back"
    QPushButton* btnNext = nullptr;  // "Next >&>"
    QPushButton* btnExit = nullptr;  // "E&xit"

    QMenu* mnuFile = nullptr;
    QMenu* mnuBids = nullptr;
    QMenu* mnuTools = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuNewBid = nullptr;
    QAction* mnuSelect = nullptr;
    QAction* mnuDeleteBid = nullptr;
    QAction* mnuSubmit = nullptr;
    QAction* mnuViewStatus = nullptr;
    QAction* mnuUpdateStatus = nullptr;   // starts the transfer program for what waits in Send
    QAction* mnuPrintStatus = nullptr;    // the bid summary, printed or saved as PDF (submit/printstatus.h)
    QAction* mnuSalesRefTable = nullptr;  // the table editor on AELookup, then the pickers refilled
    QAction* mnuFTPSetup = nullptr;

    // Starts a new bid: "&New Bid", "&New" and Yes to "Create new Bid?" after an account executive is chosen.
    std::function<void()> newBid;
    // Stores the bid on screen: run on Yes to "Save Bid Working on?" when the window closes. True when the
    // bid was stored; false keeps the window open with the bid.
    std::function<bool()> storeBid;
    // Run when the window has agreed to close (the closing questions answered so that it may).
    std::function<void()> closed;
    // The recovery copy of the bid on screen (store/recovery.h), made by wireBidStore; owned by the window.
    BidRecovery* recovery = nullptr;
    // Run when the page becomes the active page (the pages' own handlers unless replaced).
    std::function<void()> tbsServicesShow;
    std::function<void()> tbsCubeAnalysisShow;
    std::function<void()> tbsShipmentDataShow;

    // Page changes with wrap-around; the new page takes the focus.
    void btnBackClick();
    void btnNextClick();
    void btnExitClick() { close(); }
    void mnuExitClick() { close(); }

    // Looks whether Bids has the field `brokerage` without letting the lookup raise an error report, and
    // shows cbxBrokerage with lblBrokerage, or else chbBroker. True when the field exists.
    bool BrokerageProbe();

    // The closing questions; true when the window may close.
    bool FormCloseQuery();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void buildPages();
    void wirePages();
    void buildButtons();
    void buildMenus();
    void FormCreate();
    void FormResize();
    void showPage(int index);
    void pageChanged(int index);

    MainState state_;
    StartupHooks hooks_;
    std::unique_ptr<TableErrorReporter> errors_;
};

}  // namespace tarvik
