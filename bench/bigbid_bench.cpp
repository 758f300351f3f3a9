// A bid of 65,535 shipment lines (the most the shipment grid takes) on the demonstration data folder,
// beside the baseline of storing the same bid into empty bid tables:
//  - "&Print Status": gathering the summary (with every completeness check), laying it out and writing
//    the PDF. Goal: under 2 s.
//  - the recovery copy: the time the window is blocked by one copy (taking the window's values and
//    handing them to the writer thread). Goal: under 50 ms. The writer's own time (encoding, writing,
//    flushing to disk and renaming) is measured too, for information: the window does not wait for it.
// bench-libs: submit demotables Qt6::Widgets
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "demodata/demofolder.h"
#include "pages/bidprofilepage.h"
#include "pages/choicegroups.h"
#include "pages/cubepage.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "store/datafolder.h"
#include "store/recovery.h"
#include "store/storebid.h"
#include "submit/bidsummary.h"
#include "submit/summaryprint.h"
#include "tableaccess/tableaccess.h"
#include "widgets/stringgrid.h"

using namespace tarvik;

namespace {

constexpr int kLines = 65535;

std::map<std::string, double>& seconds() {
    static std::map<std::string, double> s;
    return s;
}

struct Setup {
    QTemporaryDir tmp;
    MainState state;
    std::unique_ptr<QWidget> window;
    ServicesPage* services = nullptr;
    ShipmentPage* shipment = nullptr;

    Setup() {
        state.FProgramFolder = tmp.path();
        state.FDataFolder = tmp.path() + QStringLiteral("/data");
        state.DataContext = ta::OpenData();
        QString error;
        if (!demo::buildDemoFolder(QStringLiteral(TARVIK_SOURCE_DIR "/data/demo"), state.FDataFolder, &error))
            std::fprintf(stderr, "bigbid_bench: %s\n", qPrintable(error));
        CheckPostalIndexes(state);

        window = std::make_unique<QWidget>();
        auto* tabs = new QTabWidget(window.get());
        tabs->setObjectName("tabEntryPages");
        auto* main = new MainPage(state);
        auto* shipper = new ShipperProfilePage(state);
        services = new ServicesPage(state);
        auto* profile = new BidProfilePage(state);
        auto* cube = new CubePage(state);
        shipment = new ShipmentPage(state);
        for (QWidget* p : std::initializer_list<QWidget*>{main, shipper, services, profile, cube, shipment})
            tabs->addTab(p, p->objectName());
        services->linkBidProfile(profile);
        services->setupIncentiveGrid();
        cube->setupCubeGrid();
        shipment->setupGrid();
        fillBid();
    }

    // Lines of four services to Canadian and US destinations, each service with volume.
    void fillBid() {
        window->findChild<QLineEdit*>("ebxLocalBidID")->setText("ChloeMartin4609539583");
        window->findChild<QLineEdit*>("ebxCompanyName1")->setText("Northern Widget Supply Ltd.");
        // Every field the checks ask for.
        window->findChild<QLineEdit*>("ebxBusiness")->setText("40");
        for (const char* name : {"cbxIndustry", "cbxCompetitorName", "cbxBrokerage", "cbxPLDTypes",
                                 "cbxCustSource", "cbxSourceDist"}) {
            auto* c = window->findChild<QComboBox*>(name);
            if (c->count() == 0) c->addItem("Chosen");
            c->setCurrentIndex(0);
        }
        for (const char* name : {"rgBidType", "rgStrategy", "rgInfoSource", "rgBillWeight"})
            window->findChild<RadioGroup*>(name)->setItemIndex(1);
        window->findChild<QCheckBox*>("chbValueYes")->setChecked(true);
        window->findChild<QCheckBox*>("chbResellerNo")->setChecked(true);

        const char* const stems[] = {"gndm", "exp", "exppak", "tbpak"};
        StringGrid* volumes = services->incentiveGrid();
        for (int r = 1; r < volumes->rowCount(); ++r)
            for (const char* stem : stems)
                if (services->isServiceRow(r) && services->dbfField(r) == QLatin1String(stem)) {
                    volumes->setCell(1, r, QString::number(100 + r));
                    volumes->setCell(2, r, QString::number(50 + r));
                    services->rowTotal(r);
                }
        const QString names[] = {"Ground", "Express", "Express PAK", "TB Express PAK"};
        const QString postal[] = {"K1A 0B1", "M5V 2T6", "H3B 2Y5", "10001"};
        StringGrid* g = shipment->shipmentGrid();
        g->beginUpdate();
        shipment->appendLines(kLines - (g->rowCount() - 1));
        for (int r = 1; r <= kLines; ++r) {
            const int k = r % 4;
            g->setCell(ShipmentPage::ColService, r, names[k]);
            g->setCell(ShipmentPage::ColTotPcs, r, QString::number(1 + r % 7));
            g->setCell(ShipmentPage::ColTotWgt, r, QString::number(1 + r % 97));
            g->setCell(ShipmentPage::ColFromPost, r, "K1A 0B1");
            g->setCell(ShipmentPage::ColPostal, r, postal[k]);
            g->setCell(ShipmentPage::ColCountry, r, k == 3 ? "US" : "CA");
            g->setCell(ShipmentPage::ColCmpRate, r, QString::number(10 + r % 50) + ".25");
            g->setCell(ShipmentPage::ColTotCmp, r, QString::number(12 + r % 50) + ".75");
        }
        g->endUpdate();
    }

    void emptyBidTables() {
        demo::createTable(state.tablePath("Bids.dbf"), demo::bidsLayout(demo::stemsOf(demo::demoServices())));
        demo::createTable(state.tablePath("BidTail.dbf"), demo::bidTailLayout(true));
    }
};

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

template <typename F>
double timed(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Baseline: storing the bid into empty bid tables (every line appended).
void BM_StoreTheBid(benchmark::State& st) {
    Setup& s = setup();
    double total = 0;
    for (auto _ : st) {
        st.PauseTiming();
        s.emptyBidTables();
        st.ResumeTiming();
        total += timed([&] { StoreBid(s.window.get(), s.state); });
    }
    record(st, "baseline", total);
}

// "&Print Status" up to the PDF file: the summary gathered (checks included), laid out and written.
void BM_PrintStatusToPdf(benchmark::State& st) {
    Setup& s = setup();
    const QString pdf = s.tmp.filePath("summary.pdf");
    double total = 0;
    for (auto _ : st) {
        total += timed([&] {
            const BidSummary summary = GatherBidSummary(s.state, s.window.get());
            if (!summary.problems.empty() || summary.allLines.lines != kLines) {
                for (const SummaryProblem& p : summary.problems)
                    std::fprintf(stderr, "%s: %s\n", qPrintable(p.page), qPrintable(p.message.left(200)));
                st.SkipWithError("not the bid expected");
            }
            SummaryDocument(summary).writePdf(pdf);
        });
    }
    record(st, "print", total);
}

// For information: the summary alone (reading the window and running the checks).
void BM_GatherSummary(benchmark::State& st) {
    Setup& s = setup();
    double total = 0;
    for (auto _ : st)
        total += timed([&] { benchmark::DoNotOptimize(GatherBidSummary(s.state, s.window.get())); });
    record(st, "gather", total);
}

// One recovery copy after a change of one cell: the window's share (its values taken and handed to the
// writer thread), or, with toDisk, the whole copy until it is on disk under its name.
void recoveryCopy(benchmark::State& st, const char* name, bool toDisk) {
    Setup& s = setup();
    BidRecovery recovery(s.state, s.window.get());
    StringGrid* g = s.shipment->shipmentGrid();
    double total = 0;
    int n = 0;
    for (auto _ : st) {
        st.PauseTiming();
        ++n;
        g->setCell(ShipmentPage::ColOtherDesc, n, QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(n));
        recovery.flush();
        st.ResumeTiming();
        total += timed([&] {
            recovery.writeSoon();
            if (toDisk) recovery.flush();
        });
    }
    recovery.flush();
    if (recovery.changedSinceCopy() || recovery.lastSerial() != quint64(n) ||
        !QFile::exists(recovery.copyPath(QStringLiteral("ChloeMartin4609539583"))))
        st.SkipWithError("not every change copied");
    record(st, name, total);
}
void BM_RecoveryCopyBlocksTheWindow(benchmark::State& st) {
    recoveryCopy(st, "copy-block", false);
}
// For information: the writer's time is the window's no longer.
void BM_RecoveryCopyWritten(benchmark::State& st) {
    recoveryCopy(st, "copy-write", true);
}

BENCHMARK(BM_RecoveryCopyBlocksTheWindow)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_RecoveryCopyWritten)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StoreTheBid)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PrintStatusToPdf)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GatherSummary)->Unit(benchmark::kMillisecond)->Iterations(5);

void printRatios() {
    const double base = seconds()["baseline"];
    if (base <= 0) return;
    std::printf("\nA bid of %d shipment lines\n", kLines);
    std::printf("baseline (storing the bid into empty bid tables): %.1f ms\n", base * 1e3);
    for (const char* name : {"print", "gather", "copy-block", "copy-write"}) {
        const auto it = seconds().find(name);
        if (it == seconds().end()) continue;
        std::printf("%-8s %8.1f ms  = %.3fx baseline\n", name, it->second * 1e3, it->second / base);
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
