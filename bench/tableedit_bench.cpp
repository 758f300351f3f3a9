// bench-libs: tableedit demotables
//
// The record picker opened on a Bids table of 10,000 bids and on a reference table of 100,000
// records (offscreen platform):
//   - PickerToFirstPaint: create the window, load and sort the table, paint the grid once, close it;
//   - GridSort: the editor's own sort (iterative quicksort over whole grid rows) of the loaded rows,
//     from the table's order each time;
//   - StdSortTexts: std::sort of the same column's texts with the same comparison, beside it.
// After the table the sort's share of the first paint and its ratio to std::sort are printed, from
// CPU time per iteration (the machine may be shared; the work is single-threaded).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "demodata/tablemaker.h"
#include "tableaccess/tableaccess.h"
#include "tableedit/dbeditform.h"
#include "widgets/stringgrid.h"
#include "widgets/stringgridmodel.h"

namespace {

QTemporaryDir* gDir = nullptr;
std::map<std::string, double>& timings() {
    static std::map<std::string, double> t;
    return t;
}

QString randomKey(std::mt19937& rng, int length) {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString s;
    for (int i = 0; i < length; ++i) s += QLatin1Char(letters[rng() % (sizeof(letters) - 1)]);
    return s;
}

// Bids.dbf with 10,000 bids in random order of local_bid; Big.dbf with 100,000 records (code, town).
void makeTables() {
    std::mt19937 rng(20121);
    const QString data = gDir->path();
    std::vector<QStringList> bids;
    for (int i = 0; i < 10000; ++i)
        bids.push_back({randomKey(rng, 12) + QString::number(i), "20240115", "Draft", "F", "Company " + QString::number(i),
                        "Anna Bell"});
    tarvik::demo::writeTable(data + "/Bids.dbf", tarvik::demo::bidsLayout({"gndm", "gnds", "exp"}), {},
                             nullptr);
    tarvik::demo::appendRows(data + "/Bids.dbf", bids,
                             {"local_bid", "subm_date", "loc_stat", "portf_bid", "comp_name", "ae_name"});
    tarvik::demo::writeTable(data + "/District.dbf", {{"value", 'C', 30}}, {{"Toronto"}, {"Ottawa"}});
    std::vector<QStringList> big;
    for (int i = 0; i < 100000; ++i) big.push_back({randomKey(rng, 6), "Town " + QString::number(i % 977)});
    tarvik::demo::writeTable(data + "/Big.dbf", {{"code", 'C', 6}, {"town", 'C', 40}}, big);
}

QString tableOf(int which) { return which == 0 ? QStringLiteral("Bids") : QStringLiteral("Big"); }

void PickerToFirstPaint(benchmark::State& state) {
    const QString table = tableOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        tarvik::TDBeditForm form(nullptr, gDir->path(), gDir->path());
        form.SetPickerMode(true);
        form.SetTableName(table);
        form.show();
        form.grid()->viewport()->repaint();
        benchmark::DoNotOptimize(form.grid()->cell(2, 1));
        form.close();
    }
    state.SetLabel(table.toStdString());
}

// Loads the table once; each iteration puts the rows back in table order (untimed) and sorts them.
void GridSort(benchmark::State& state) {
    const QString table = tableOf(static_cast<int>(state.range(0)));
    tarvik::TDBeditForm form(nullptr, gDir->path(), gDir->path());
    form.SetPickerMode(true);
    form.SetTableName(table);
    form.show();
    tarvik::StringGrid* g = form.grid();
    const int rows = g->rowCount();
    std::vector<QStringList> original(rows);
    for (int r = 1; r < rows; ++r) {
        QStringList cells;
        for (int c = 0; c < g->colCount(); ++c) cells << g->cell(c, r);
        original[std::max(1, g->cell(0, r).toInt())] = cells;
    }
    for (auto _ : state) {
        state.PauseTiming();
        g->beginUpdate();
        for (int r = 1; r < rows; ++r) g->gridModel()->setRowCells(r, original[r]);
        g->endUpdate();
        state.ResumeTiming();
        form.SortGridRows(1, rows - 1, 2);
    }
    state.SetLabel(table.toStdString());
    form.close();
}

void StdSortTexts(benchmark::State& state) {
    const QString table = tableOf(static_cast<int>(state.range(0)));
    QStringList texts;
    {
        const int t = ta::mOpen(ta::currentContext(), gDir->path() + "/" + table);
        if (ta::d4top(t) == 0) {
            do {
                texts << ta::f4str(ta::d4fieldJ(t, 1)).trimmed();
            } while (ta::d4skip(t, 1) == 0);
        }
        ta::d4close(t);
    }
    for (auto _ : state) {
        state.PauseTiming();
        QStringList copy = texts;
        copy.detach();
        state.ResumeTiming();
        std::sort(copy.begin(), copy.end(),
                  [](const QString& a, const QString& b) { return tarvik::CompareGridText(a, b) < 0; });
        benchmark::DoNotOptimize(copy.front());
    }
    state.SetLabel(table.toStdString());
}

BENCHMARK(PickerToFirstPaint)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(GridSort)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(StdSortTexts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Collects the CPU time per iteration of each run, to print the ratios afterwards.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                timings()[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    gDir = &dir;
    ta::DataContext ctx = ta::OpenData();
    makeTables();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = timings();
    for (const char* which : {"0", "1"}) {
        const std::string name = std::string(which) == "0" ? "Bids (10,000 bids)" : "Big (100,000 records)";
        const double paint = t["PickerToFirstPaint/" + std::string(which)];
        const double sort = t["GridSort/" + std::string(which)];
        const double stdSort = t["StdSortTexts/" + std::string(which)];
        if (paint > 0 && stdSort > 0)
            std::printf("%s: first paint %.1f ms, grid sort %.1f ms (%.0f%% of it), std::sort %.1f ms (grid sort %.1fx)\n",
                        name.c_str(), paint, sort, 100.0 * sort / paint, stdSort, sort / stdSort);
    }
    ta::CloseData(ctx);
    benchmark::Shutdown();
    return 0;
}
