// bench-libs: shiptools
//
// Import of 65,535 shipment lines (MOB on, 12 fields a line) into the Shipment Data page's grid:
//   - from a text file (comma-separated), and
//   - from an .xls workbook written by xlwt (Debian's /usr/bin/python3).
// Beside each import, the time to read the same file's bytes (the floor any import stands on), so that
// the figures read as ratios. Each import shows a progress window like the program's (its number
// label repainted for every text line; window events processed every 7th sheet row). Peak memory is
// the process's high-water resident size during the import, reset before it (/proc/self/clear_refs),
// less the resident size before it (freed heap handed back first with malloc_trim).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QVBoxLayout>
#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "pages/mainstate.h"
#include "pages/shipmentpage.h"
#include "shiptools/importdata.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace {

using namespace tarvik;

constexpr int kLines = 65535;

QString benchFolder() {
    const QString dir = QDir::tempPath() + "/tarvik-import-bench";
    QDir().mkpath(dir);
    return dir;
}

QString textFile() {
    const QString path = benchFolder() + "/ship65535.txt";
    if (QFile::exists(path)) return path;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    for (int i = 1; i <= kLines; ++i)
        f.write(QStringLiteral("Express,%1,%2,H2X 1Y4,K1A 0B1,CA,12.50,1.25,0,0,fuel surcharge,13.75\r\n")
                    .arg(i % 9 + 1)
                    .arg(i % 50 + 1)
                    .toLatin1());
    return path;
}

QString workbookFile() {
    const QString path = benchFolder() + "/ship65535.xls";
    if (QFile::exists(path)) return path;
    static const char* script = R"(
import sys, xlwt
wb = xlwt.Workbook()
ws = wb.add_sheet('Shipments')
for r in range(65535):
    i = r + 1
    for c, v in enumerate(['Express', i % 9 + 1, i % 50 + 1, 'H2X 1Y4', 'K1A 0B1', 'CA', 12.5, 1.25, 0, 0,
                           'fuel surcharge', 13.75]):
        ws.write(r, c, v)
wb.save(sys.argv[1])
)";
    QProcess py;
    py.start("/usr/bin/python3", {"-c", QString::fromLatin1(script), path});
    py.waitForFinished(-1);
    if (py.exitCode() != 0) std::fprintf(stderr, "xlwt failed: %s\n", py.readAllStandardError().constData());
    return path;
}

long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string k = key;
    while (std::getline(in, line))
        if (line.compare(0, k.size(), k) == 0) return std::stol(line.substr(k.size() + 1));
    return 0;
}
void resetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

// Answers the header question with No (the sheet has none); nothing else is asked.
class AnswerNo : public Prompt {
public:
    int ask(const PromptRequest&) override { return No; }
};

struct Window {
    MainState state;
    std::unique_ptr<QWidget> main;
    ShipmentPage* page = nullptr;
    std::unique_ptr<ShipmentImport> importer;
    Window() {
        main = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(main.get());
        auto* mob = new QCheckBox("MOB", main.get());
        mob->setObjectName("chbMOB");
        mob->setChecked(true);
        page = new ShipmentPage(state, main.get());
        page->showFromPostColumn(true);
        layout->addWidget(mob);
        layout->addWidget(page);
        main->resize(1000, 700);
        main->show();
        importer = std::make_unique<ShipmentImport>(state, *page, main.get());
        importer->makeProgressWindow = [](QWidget* owner) {
            auto d = std::make_unique<QDialog>(owner);
            auto* l1 = new QLabel("Importing Information, Please Wait...", d.get());
            l1->setObjectName("Label1");
            l1->setGeometry(16, 22, 288, 44);
            auto* l2 = new QLabel(d.get());
            l2->setObjectName("Label2");
            l2->setGeometry(16, 74, 288, 18);
            d->resize(320, 110);
            return d;
        };
    }
};

void readBytes(benchmark::State& st, const QString& path) {
    for (auto _ : st) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QByteArray b = f.readAll();
        benchmark::DoNotOptimize(b.data());
    }
    st.counters["MB"] = QFileInfo(path).size() / 1e6;
}

void importFile(benchmark::State& st, const QString& path, bool sheet, bool progress = true) {
    AnswerNo answers;
    Prompt::install(&answers);
    long peakKb = 0;
    int lines = 0;
    for (auto _ : st) {
        st.PauseTiming();
        auto w = std::make_unique<Window>();
        if (!progress) w->importer->makeProgressWindow = nullptr;
        QApplication::processEvents();
        malloc_trim(0);  // what earlier runs freed goes back, so that it is not counted as room
        const long before = statusKb("VmRSS:");
        resetPeak();
        st.ResumeTiming();
        if (sheet) w->importer->ImportSpreadsheet(path, true);
        else w->importer->ImportTextFile(path, true);
        st.PauseTiming();
        peakKb = std::max(peakKb, statusKb("VmHWM:") - before);
        lines = 0;
        for (int r = 1; r <= w->page->lastLine(); ++r) lines += w->page->lineIsEmpty(r) ? 0 : 1;
        w.reset();
        st.ResumeTiming();
    }
    Prompt::install(nullptr);
    st.counters["lines"] = lines;
    st.counters["peak_MB"] = peakKb / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString txt = textFile();
    const QString xls = workbookFile();
    benchmark::RegisterBenchmark("ReadBytes/text", [txt](benchmark::State& s) { readBytes(s, txt); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ImportTextFile/65535_lines_MOB", [txt](benchmark::State& s) { importFile(s, txt, false); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    // The same without a progress window: what the per-line repaint of its number costs.
    benchmark::RegisterBenchmark("ImportTextFile/65535_lines_MOB_no_progress_window",
                                 [txt](benchmark::State& s) { importFile(s, txt, false, false); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark("ReadBytes/xls", [xls](benchmark::State& s) { readBytes(s, xls); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ImportSpreadsheet/65535_rows_MOB", [xls](benchmark::State& s) { importFile(s, xls, true); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
