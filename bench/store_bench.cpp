// Storing and loading a bid of 40 shipment lines when BidTail.dbf holds 200,000 detail records of 5,000
// bids and Bids.dbf 5,000 headers, each beside its baseline: reading BidTail.dbf once and writing it
// once (a file copy through memory). Goal: store and load each at most 2x the baseline, under 150 ms.
// The store measured is the usual one (the same lines again: 40 records reused, nothing packed); a
// store that removes a line (which packs BidTail) is measured too, for information.
// bench-libs: store demotables Qt6::Widgets
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "demodata/demofolder.h"
#include "demodata/tablemaker.h"
#include "pages/bidprofilepage.h"
#include "pages/cubepage.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "store/bidtables.h"
#include "store/lifecycle.h"
#include "store/loadbid.h"
#include "store/storebid.h"
#include "tableaccess/tableaccess.h"
#include "widgets/stringgrid.h"

using namespace tarvik;

namespace {

constexpr int kBids = 5000;
constexpr int kLinesPerBid = 40;
constexpr int kTheBid = 2500;  // the bid stored and loaded, in the middle of both tables

std::map<std::string, double>& seconds() {
    static std::map<std::string, double> s;
    return s;
}

QString bidId(int n) { return QStringLiteral("Bench%1").arg(n, 5, 10, QLatin1Char('0')); }

struct Setup {
    QTemporaryDir tmp;
    MainState state;
    std::unique_ptr<QWidget> window;
    ShipmentPage* shipment = nullptr;
    QStringList serviceNames;

    Setup() {
        state.FProgramFolder = tmp.path();
        state.FDataFolder = tmp.path() + QStringLiteral("/data");
        QDir().mkpath(state.FDataFolder);
        state.DataContext = ta::OpenData();
        const auto& services = demo::demoServices();
        std::vector<QStringList> serviceRows;
        for (const auto& s : services) {
            serviceRows.push_back(demo::serviceValues(s));
            if (!s.service.trimmed().isEmpty() && !s.dbfField.trimmed().isEmpty()) serviceNames << s.service;
        }
        demo::writeTable(state.tablePath("Services.dbf"), demo::servicesLayout(), serviceRows);
        demo::createTable(state.tablePath("Bids.dbf"), demo::bidsLayout(demo::stemsOf(services)));
        demo::createTable(state.tablePath("BidTail.dbf"), demo::bidTailLayout(true));

        const int bids = ta::mOpen(state.DataContext, state.tablePath("Bids"));
        for (int n = 1; n <= kBids; ++n) {
            ta::d4appendBlank(bids);
            ta::replace(bids, "local_bid", bidId(n));
            ta::replace(bids, "comp_name", QStringLiteral("Company %1").arg(n));
            ta::replace(bids, "loc_stat", "Draft");
        }
        ta::d4close(bids);
        const int tail = ta::mOpen(state.DataContext, state.tablePath("BidTail"));
        for (int n = 1; n <= kBids; ++n) {
            for (int line = 1; line <= kLinesPerBid; ++line) {
                ta::d4appendBlank(tail);
                ta::replace(tail, "local_bid", bidId(n));
                ta::replace(tail, "svc_desc", serviceNames[line % serviceNames.size()]);
                ta::replace(tail, "tot_pcs", QString::number(line));
                ta::replace(tail, "postal", "K1A0B1");
                ta::replace(tail, "ctry_code", "CA");
                ta::replace(tail, "comp_rate", "12.50");
            }
        }
        ta::d4close(tail);

        window = std::make_unique<QWidget>();
        auto* tabs = new QTabWidget(window.get());
        tabs->setObjectName("tabEntryPages");
        auto* main = new MainPage(state);
        auto* shipper = new ShipperProfilePage(state);
        auto* servicesPage = new ServicesPage(state);
        auto* profile = new BidProfilePage(state);
        auto* cube = new CubePage(state);
        shipment = new ShipmentPage(state);
        for (QWidget* p : std::initializer_list<QWidget*>{main, shipper, servicesPage, profile, cube, shipment})
            tabs->addTab(p, p->objectName());
        servicesPage->setupIncentiveGrid();
        cube->setupCubeGrid();
        shipment->setupGrid();
        fillBid();
    }

    void fillBid(int lines = kLinesPerBid) {
        ClearBidWindow(window.get(), state);
        window->findChild<QLineEdit*>("ebxLocalBidID")->setText(bidId(kTheBid));
        window->findChild<QLineEdit*>("ebxCompanyName1")->setText("Benchmark Freight");
        StringGrid* g = shipment->shipmentGrid();
        for (int r = 1; r <= lines; ++r) {
            if (r >= g->rowCount()) shipment->appendLine();
            g->setCell(ShipmentPage::ColService, r, serviceNames[r % serviceNames.size()]);
            g->setCell(ShipmentPage::ColTotPcs, r, QString::number(r));
            g->setCell(ShipmentPage::ColTotWgt, r, QString::number(r * 2));
            g->setCell(ShipmentPage::ColPostal, r, "M5V3L9");
            g->setCell(ShipmentPage::ColCountry, r, "CA");
            g->setCell(ShipmentPage::ColCmpRate, r, "9.99");
        }
    }
};

// Made on first use, inside the application's lifetime, and dropped before the application ends.
std::unique_ptr<Setup>& setupHolder() {
    static std::unique_ptr<Setup> s;
    return s;
}
Setup& setup() {
    if (!setupHolder()) setupHolder() = std::make_unique<Setup>();
    return *setupHolder();
}

void record(benchmark::State& st, const char* name, double total) {
    seconds()[name] = total / double(st.iterations());
}

void BM_ReadWriteBidTailOnce(benchmark::State& st) {
    const QString from = setup().state.tablePath("BidTail.dbf");
    const QString to = setup().state.tablePath("BidTailCopy.dbf");
    double total = 0;
    for (auto _ : st) {
        const auto t0 = std::chrono::steady_clock::now();
        QFile in(from);
        in.open(QIODevice::ReadOnly);
        const QByteArray bytes = in.readAll();
        QFile out(to);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(bytes);
        out.close();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        benchmark::DoNotOptimize(bytes.size());
    }
    QFile::remove(to);
    record(st, "baseline", total);
}

void BM_StoreBid(benchmark::State& st) {
    Setup& s = setup();
    s.fillBid();
    StoreBid(s.window.get(), s.state);  // the bid's records now hold these lines
    double total = 0;
    for (auto _ : st) {
        const auto t0 = std::chrono::steady_clock::now();
        StoreBid(s.window.get(), s.state);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    record(st, "store", total);
}

void BM_LoadBid(benchmark::State& st) {
    Setup& s = setup();
    double total = 0;
    for (auto _ : st) {
        const auto t0 = std::chrono::steady_clock::now();
        LoadBid(s.window.get(), s.state, kTheBid);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    if (s.window->findChild<QLineEdit*>("ebxLocalBidID")->text() != bidId(kTheBid) ||
        s.shipment->shipmentGrid()->cell(ShipmentPage::ColTotPcs, kLinesPerBid) != QString::number(kLinesPerBid))
        st.SkipWithError("the bid did not load");
    record(st, "load", total);
}

// For information: the detail search alone, by LocateByField through the facade and by the file pass.
void BM_FindDetailsByLocate(benchmark::State& st) {
    Setup& s = setup();
    const int tail = ta::mOpen(s.state.DataContext, s.state.tablePath("BidTail"));
    double total = 0;
    for (auto _ : st) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(findRecordsByLocate(tail, "local_bid", bidId(kTheBid)).records.size());
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    ta::d4close(tail);
    record(st, "locate", total);
}

void BM_FindDetailsByFilePass(benchmark::State& st) {
    Setup& s = setup();
    const int tail = ta::mOpen(s.state.DataContext, s.state.tablePath("BidTail"));
    double total = 0;
    for (auto _ : st) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(findRecords(tail, s.state.tablePath("BidTail"), "local_bid", bidId(kTheBid)).records.size());
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    ta::d4close(tail);
    record(st, "filepass", total);
}

// For information: a store that drops one line, so that the detail table is packed (39 and 40 lines
// alternate, the other store appends the line again).
void BM_StoreBidRemovingALine(benchmark::State& st) {
    Setup& s = setup();
    double total = 0;
    for (auto _ : st) {
        st.PauseTiming();
        s.fillBid(kLinesPerBid);
        StoreBid(s.window.get(), s.state);
        s.fillBid(kLinesPerBid - 1);
        st.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        StoreBid(s.window.get(), s.state);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    record(st, "store-pack", total);
}

BENCHMARK(BM_ReadWriteBidTailOnce)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_StoreBid)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_LoadBid)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FindDetailsByLocate)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FindDetailsByFilePass)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_StoreBidRemovingALine)->Unit(benchmark::kMillisecond)->Iterations(5);

void printRatios() {
    const double base = seconds()["baseline"];
    if (base <= 0) return;
    std::printf("\nBidTail.dbf: %d records of %d bids; Bids.dbf: %d headers\n", kBids * kLinesPerBid, kBids, kBids);
    std::printf("baseline (read + write BidTail.dbf once): %.1f ms\n", base * 1e3);
    for (const char* name : {"store", "load", "locate", "filepass", "store-pack"}) {
        const auto it = seconds().find(name);
        if (it == seconds().end()) continue;
        std::printf("%-10s %8.1f ms  = %.2fx baseline\n", name, it->second * 1e3, it->second / base);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    setupHolder().reset();
    printRatios();
    return 0;
}
