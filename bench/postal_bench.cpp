// bench-libs: shiptools demotables
//
// Speed of the all-lines code check (ValidateShipmentCodes) over 65,536 shipment lines:
//   - against the demonstration POSTAL (postal areas, "***" keys) and USZIP tables, and
//   - against a POSTAL of 870,000 full postal codes.
// Beside each, the same sequence of index seeks that the check makes is replayed through the table
// facade (ta::d4seek) and through the engine (xb::Table::seek), so that the figures read as ratios:
// how much the check costs beyond its seeks. The ratios are printed after the benchmark table.
#include <benchmark/benchmark.h>

#include <QString>
#include <QTemporaryDir>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "demodata/demofolder.h"
#include "pages/mainstate.h"
#include "shiptools/postalcodes.h"
#include "tableaccess/tableaccess.h"
#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/dbf.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLines = 65536;
constexpr int kColumns = 13;
constexpr uint32_t kBigPostal = 870000;

// Columns of the shipment lines.
constexpr int kService = 1, kFromPost = 4, kPostal = 5, kCountry = 6;

std::map<std::string, double>& timings() {
    static std::map<std::string, double> t;
    return t;
}

// Processor time (user and system) of the process since t0: the machine may be shared, so the ratios
// are taken from the time this process spent, not from the wall clock.
double cpuSeconds(std::clock_t t0) { return static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC; }

// Seeks per validation of each data set, once it has been built.
std::map<std::string, size_t>& seekCounts() {
    static std::map<std::string, size_t> c;
    return c;
}

// One seek the check makes: which table and the key.
struct Seek {
    bool zip;
    std::string key;
};

struct Dataset {
    std::unique_ptr<QTemporaryDir> dir;
    tarvik::MainState state;
    std::vector<QString> cells;  // kLines+1 lines of kColumns cells (line 0 unused)
    std::vector<Seek> seeks;     // the seeks ValidateShipmentCodes makes, in order
    int failures = 0;

    QString cell(int col, int line) const { return cells[static_cast<size_t>(line) * kColumns + col]; }
    void set(int line, int col, const QString& v) { cells[static_cast<size_t>(line) * kColumns + col] = v; }
};

QString letter(std::mt19937& rng) { return QChar('A' + static_cast<int>(rng() % 26)); }
QString digit(std::mt19937& rng) { return QChar('0' + static_cast<int>(rng() % 10)); }

// The seeks of one code check, in the order the check makes them, ending at the first that succeeds.
void recordSeeks(int postalTable, int zipTable, const QString& code, bool zip, std::vector<Seek>& out) {
    if (zip) {
        const QString key = code.left(5);
        if (!key.isEmpty()) out.push_back({true, key.toStdString()});
        return;
    }
    if (code.isEmpty()) return;
    const QString keys[] = {code.left(3) + code.right(3), code.left(3) + "***", code.left(5) + "0"};
    for (const QString& k : keys) {
        out.push_back({false, k.toStdString()});
        if (ta::d4seek(postalTable, k) == 0) return;
    }
    (void)zipTable;
}

// Fills 65,536 lines: 55% Canadian destinations (of them one in ten unknown), 30% US zip codes with
// and without extension (one in ten unknown), 15% other countries (some express services without a
// code); a quarter of the lines also has an origin.
void makeLines(Dataset& d, const std::vector<QString>& postalCodes, const std::vector<QString>& zips) {
    std::mt19937 rng(20121);
    d.cells.assign(static_cast<size_t>(kLines + 1) * kColumns, QString());
    const QStringList others = {"GB", "FR", "MX", "DE", "JP"};
    for (int n = 1; n <= kLines; ++n) {
        const unsigned pick = rng() % 100;
        d.set(n, kService, pick % 7 == 0 ? QStringLiteral("WW Express Letter") : QStringLiteral("Express"));
        if (pick < 55) {
            QString code = postalCodes[rng() % postalCodes.size()];
            if (rng() % 10 == 0) code = "Z" + digit(rng) + letter(rng) + " " + digit(rng) + letter(rng) + digit(rng);
            d.set(n, kPostal, code);
            d.set(n, kCountry, "CA");
        } else if (pick < 85) {
            QString zip = zips[rng() % zips.size()];
            if (rng() % 10 == 0) zip = "000" + digit(rng);
            if (rng() % 3 == 0) zip += "-" + digit(rng) + digit(rng) + digit(rng) + digit(rng);
            d.set(n, kPostal, zip);
            d.set(n, kCountry, "US");
        } else {
            d.set(n, kCountry, others[static_cast<int>(rng() % others.size())]);
            if (rng() % 2 == 0) d.set(n, kPostal, QString::number(10000 + rng() % 90000));
        }
        if (rng() % 4 == 0) d.set(n, kFromPost, postalCodes[rng() % postalCodes.size()]);
    }
    // The seeks the check will make, found by making them once.
    const int postal = ta::mOpen(d.state.DataContext, d.state.tablePath("Postal"), "Postal");
    const int zip = ta::mOpen(d.state.DataContext, d.state.tablePath("USZip"), "Zip_Code");
    for (int n = 1; n <= kLines; ++n) {
        const QString country = d.cell(kCountry, n);
        if (country == "CA") recordSeeks(postal, zip, d.cell(kPostal, n), false, d.seeks);
        if (country == "US") recordSeeks(postal, zip, d.cell(kPostal, n), true, d.seeks);
        if (!d.cell(kFromPost, n).isEmpty()) recordSeeks(postal, zip, d.cell(kFromPost, n), false, d.seeks);
    }
    ta::d4close(postal);
    ta::d4close(zip);
}

bool indexTables(Dataset& d) {
    const QString postal = d.state.tablePath("POSTAL");
    const QString zip = d.state.tablePath("USZIP");
    return ta::CreateIndex(d.state.DataContext, postal, {{"POSTAL", "POSTAL_COD", "", 0, 0}, {}}) == 0 &&
           ta::CreateIndex(d.state.DataContext, zip, {{"ZIP_CODE", "ZIP_CODE", "", 0, 0}, {}}) == 0;
}

std::vector<QString> columnOf(const QString& path, const QString& field) {
    std::vector<QString> out;
    const int t = ta::mOpen(ta::currentContext(), path);
    if (t <= 0) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        std::exit(1);
    }
    for (int rc = ta::d4top(t); rc == 0; rc = ta::d4skip(t, 1)) out.push_back(ta::fetch(t, field));
    ta::d4close(t);
    return out;
}

// The demonstration folder: POSTAL holds postal areas ("A0A***"), USZIP the US zip codes.
Dataset& demoSet() {
    static Dataset d = [] {
        Dataset s;
        s.dir = std::make_unique<QTemporaryDir>();
        s.state.DataContext = ta::currentContext();
        s.state.FDataFolder = s.dir->path() + "/data";
        const fs::path csv = fs::path(__FILE__).parent_path().parent_path() / "data" / "demo";
        QString error;
        if (!tarvik::demo::buildDemoFolder(QString::fromStdString(csv.string()), s.state.FDataFolder, &error) ||
            !indexTables(s)) {
            std::fprintf(stderr, "cannot build the demonstration folder: %s\n", qPrintable(error));
            std::exit(1);
        }
        std::vector<QString> postal;
        std::mt19937 rng(7);
        for (const QString& area : columnOf(s.state.tablePath("POSTAL"), "POSTAL_COD"))
            postal.push_back(area.left(3) + " " + digit(rng) + letter(rng) + digit(rng));
        makeLines(s, postal, columnOf(s.state.tablePath("USZIP"), "ZIP_CODE"));
        seekCounts()["demo"] = s.seeks.size();
        return s;
    }();
    return d;
}

// 870,000 full postal codes (K1A0B1 form) with towns; USZIP as in the demonstration folder.
Dataset& bigSet() {
    static Dataset d = [] {
        Dataset s;
        s.dir = std::make_unique<QTemporaryDir>();
        s.state.DataContext = ta::currentContext();
        s.state.FDataFolder = s.dir->path();
        std::vector<QString> codes;
        std::string error;
        {
            auto t = xb::Table::create((s.state.FDataFolder + "/POSTAL.dbf").toStdString(),
                                       {{"POSTAL_COD", 'C', 6, 0, 0}, {"TOWN", 'C', 30, 0, 0}}, xb::Format::Fox2, 0x03,
                                       error);
            auto z = xb::Table::create((s.state.FDataFolder + "/USZIP.dbf").toStdString(),
                                       {{"ZIP_CODE", 'C', 5, 0, 0}, {"CITY", 'C', 30, 0, 0}}, xb::Format::Fox2, 0x03,
                                       error);
            if (!t || !z) {
                std::fprintf(stderr, "cannot create the tables: %s\n", error.c_str());
                std::exit(1);
            }
            std::mt19937 rng(870);
            codes.reserve(kBigPostal);
            for (uint32_t i = 0; i < kBigPostal; ++i) {
                const QString c = letter(rng) + digit(rng) + letter(rng) + digit(rng) + letter(rng) + digit(rng);
                t->appendBlank();
                t->setText(0, c.toStdString());
                t->setText(1, "TOWN");
                if (i % 8 == 0) codes.push_back(c.left(3) + " " + c.right(3));
            }
            for (int zip = 501; zip < 99950; zip += 3) {
                z->appendBlank();
                z->setText(0, QStringLiteral("%1").arg(zip, 5, 10, QLatin1Char('0')).toStdString());
            }
        }
        if (!indexTables(s)) {
            std::fprintf(stderr, "cannot index the tables\n");
            std::exit(1);
        }
        makeLines(s, codes, columnOf(s.state.tablePath("USZIP"), "ZIP_CODE"));
        seekCounts()["big"] = s.seeks.size();
        return s;
    }();
    return d;
}

void runValidate(benchmark::State& st, Dataset& d, const char* name) {
    QString message;
    const auto cell = [&d](int col, int line) { return d.cell(col, line); };
    const std::clock_t t0 = std::clock();
    for (auto _ : st) {
        const bool ok = tarvik::ValidateShipmentCodes(d.state, kLines, cell, message);
        benchmark::DoNotOptimize(ok);
    }
    timings()[name] = cpuSeconds(t0) / st.iterations();
    st.counters["lines/s"] = benchmark::Counter(kLines, benchmark::Counter::kIsIterationInvariantRate);
    st.counters["seeks/s"] =
        benchmark::Counter(static_cast<double>(d.seeks.size()), benchmark::Counter::kIsIterationInvariantRate);
    st.counters["message_kB"] = message.size() / 1024.0;
}

// The same seeks through the facade, the tables opened once as the check does.
void runFacadeSeeks(benchmark::State& st, Dataset& d, const char* name) {
    std::vector<std::pair<bool, QString>> keys;
    for (const Seek& s : d.seeks) keys.emplace_back(s.zip, QString::fromStdString(s.key));
    const std::clock_t t0 = std::clock();
    for (auto _ : st) {
        const int postal = ta::mOpen(d.state.DataContext, d.state.tablePath("Postal"), "Postal");
        const int zip = ta::mOpen(d.state.DataContext, d.state.tablePath("USZip"), "Zip_Code");
        int found = 0;
        for (const auto& [isZip, key] : keys) found += ta::d4seek(isZip ? zip : postal, key) == 0;
        benchmark::DoNotOptimize(found);
        ta::d4close(postal);
        ta::d4close(zip);
    }
    timings()[name] = cpuSeconds(t0) / st.iterations();
    st.counters["seeks/s"] =
        benchmark::Counter(static_cast<double>(keys.size()), benchmark::Counter::kIsIterationInvariantRate);
}

// The same seeks on the engine's tables, in codepage bytes, without the facade.
void runEngineSeeks(benchmark::State& st, Dataset& d, const char* name) {
    std::string error;
    auto postal = xb::Table::open(d.state.tablePath("POSTAL").toStdString(), error, true);
    auto zip = xb::Table::open(d.state.tablePath("USZIP").toStdString(), error, true);
    if (!postal || !zip || !postal->selectTag("POSTAL") || !zip->selectTag("ZIP_CODE")) {
        st.SkipWithError("cannot open the tables");
        return;
    }
    const std::clock_t t0 = std::clock();
    for (auto _ : st) {
        int found = 0;
        for (const Seek& s : d.seeks) found += (s.zip ? zip : postal)->seek(s.key);
        benchmark::DoNotOptimize(found);
    }
    timings()[name] = cpuSeconds(t0) / st.iterations();
    st.counters["seeks/s"] =
        benchmark::Counter(static_cast<double>(d.seeks.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ValidateDemo(benchmark::State& st) { runValidate(st, demoSet(), "validate_demo"); }
void BM_FacadeSeeksDemo(benchmark::State& st) { runFacadeSeeks(st, demoSet(), "facade_demo"); }
void BM_EngineSeeksDemo(benchmark::State& st) { runEngineSeeks(st, demoSet(), "engine_demo"); }
void BM_ValidateBig(benchmark::State& st) { runValidate(st, bigSet(), "validate_big"); }
void BM_FacadeSeeksBig(benchmark::State& st) { runFacadeSeeks(st, bigSet(), "facade_big"); }
void BM_EngineSeeksBig(benchmark::State& st) { runEngineSeeks(st, bigSet(), "engine_big"); }

BENCHMARK(BM_ValidateDemo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FacadeSeeksDemo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineSeeksDemo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidateBig)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FacadeSeeksBig)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineSeeksBig)->Unit(benchmark::kMillisecond);

void printRatios() {
    auto& t = timings();
    auto line = [&t](const char* what, const char* a, const char* b, const char* set) {
        if (!t.count(a) || !t.count(b) || t[b] <= 0 || !seekCounts().count(set)) return;
        const size_t seeks = seekCounts()[set];
        std::printf("%-40s %9.0f lines/s %11.0f seeks/s raw   check/raw %.2fx\n", what, kLines / t[a],
                    seeks / t[b], t[a] / t[b]);
    };
    std::printf("\nValidateShipmentCodes over %d lines against the raw seeks it makes:\n", kLines);
    line("demo tables, vs facade seeks", "validate_demo", "facade_demo", "demo");
    line("demo tables, vs engine seeks", "validate_demo", "engine_demo", "demo");
    line("870,000-code POSTAL, vs facade seeks", "validate_big", "facade_big", "big");
    line("870,000-code POSTAL, vs engine seeks", "validate_big", "engine_big", "big");
    for (const auto& [set, n] : seekCounts()) std::printf("seeks per validation (%s): %zu\n", set.c_str(), n);
}

}  // namespace

int main(int argc, char** argv) {
    ta::DataContext ctx = ta::OpenData();
    // The demonstration towns hold characters the tables' codepage cannot; count the reports instead of
    // printing each.
    int reports = 0;
    ta::setErrorHandler([&reports](const QString&, const QString&) { ++reports; });
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    if (reports > 0) std::printf("table reports while building the data: %d\n", reports);
    benchmark::Shutdown();
    ta::CloseData(ctx);
    return 0;
}
