// Speed of the bulk work of the table engine, where users wait longest: loading a CSV into a table
// (`dbftool create` + `dbftool load`), building a tag on an expression, and `dbftool check`. Each
// measurement runs beside a baseline in the same process, so that the figures read as ratios:
//   loading 870,000 records C(6)+C(30)             vs writing the same bytes to a file sequentially (goal <=
//   3x) appending those records from memory (engine)   vs the same loading 200,000 records with N, D, L, a
//   memo   vs writing the same table and memo bytes (goal <= 3x) building a tag on UPPER(TOWN)+CODE vs
//   std::sort of the same 870,000 keys (goal <= 1.5x) dbftool check, 870,000 records, 2 tags         vs
//   reading the table and index files once (goal <= 10x)
// Both sides of the loads end with the files flushed to disk. The ratios are printed after the table.
// bench-libs: dbftoolcore
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "dropcache.h"
#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/dbf.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kTownRecords = 870000;
constexpr uint32_t kMixedRecords = 200000;

struct Timing {
    double wall = 0, cpu = 0;
};
std::map<std::string, Timing>& timings() {
    static std::map<std::string, Timing> t;
    return t;
}

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

class Stopwatch {
  public:
    void start() {
        t0_ = std::chrono::steady_clock::now();
        c0_ = processCpuSeconds();
    }
    void stop() {
        wall_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count();
        cpu_ += processCpuSeconds() - c0_;
        ++n_;
    }
    void record(const char* name) const {
        const double n = std::max(1, n_);
        timings()[name] = Timing{wall_ / n, cpu_ / n};
    }

  private:
    std::chrono::steady_clock::time_point t0_;
    double c0_ = 0;
    double wall_ = 0, cpu_ = 0;
    int n_ = 0;
};

const char* kTowns[] = {"Halifax",  "Quebec",    "Trois-Rivieres", "Ottawa",  "St. John's",
                        "Montreal", "Sept-Iles", "Regina",         "Iqaluit", "Levis",
                        "Toronto",  "Saskatoon", "Whitehorse"};

std::string randomCode(std::mt19937& rng) {
    std::string s(6, ' ');
    for (int i = 0; i < 6; ++i)
        s[i] = i % 2 == 0 ? static_cast<char>('A' + rng() % 26) : static_cast<char>('0' + rng() % 10);
    return s;
}

int dbftool(const std::vector<std::string>& args, std::string* output = nullptr) {
    std::ostringstream out, err;
    const int rc = dbftool::run(args, out, err);
    if (output) *output = out.str();
    if (rc != 0 && !(args[0] == "check" && rc == 1)) {
        std::fprintf(stderr, "dbftool %s failed: %s\n", args[0].c_str(), err.str().c_str());
        std::exit(2);
    }
    return rc;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The CSV files, a loaded and indexed copy of each table (for the tag build and the check) and the
// bytes the loads write (for the baselines).
struct Data {
    std::string dir;
    std::string townCsv, mixedCsv;
    std::string towns;  // loaded, with tags CODE and TOWNCODE
    std::string townDbf, mixedDbf, mixedFpt;
    std::vector<std::string> townKeys;  // UPPER(TOWN)+CODE of each record

    Data() {
        char tmpl[] = "/tmp/tarvik-bulk-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        std::mt19937 rng(14);
        townCsv = dir + "/towns.csv";
        {
            std::ofstream out(townCsv, std::ios::binary);
            out << "CODE,TOWN\n";
            townKeys.reserve(kTownRecords);
            for (uint32_t r = 0; r < kTownRecords; ++r) {
                const std::string code = randomCode(rng);
                std::string town = kTowns[rng() % (sizeof kTowns / sizeof *kTowns)];
                out << code << ',' << town << '\n';
                for (char& c : town) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                town.resize(30, ' ');
                townKeys.push_back(town + code);
            }
        }
        mixedCsv = dir + "/mixed.csv";
        {
            std::ofstream out(mixedCsv, std::ios::binary);
            out << "CODE,AMOUNT,DAY,FLAG,NOTE\n";
            for (uint32_t r = 0; r < kMixedRecords; ++r) {
                char amount[32], day[16];
                std::snprintf(amount, sizeof amount, "%u.%02u", unsigned(rng() % 1000000),
                              unsigned(rng() % 100));
                std::snprintf(day, sizeof day, "%04u%02u%02u", unsigned(1990 + rng() % 35),
                              unsigned(1 + rng() % 12), unsigned(1 + rng() % 28));
                std::string note(90 + rng() % 20, 'n');
                for (size_t i = 0; i < note.size(); i += 7) note[i] = static_cast<char>('a' + rng() % 26);
                out << randomCode(rng) << ',' << amount << ',' << day << ',' << ((rng() & 1) ? 'T' : 'F')
                    << ',' << note << '\n';
            }
        }
        towns = dir + "/towns.dbf";
        loadTowns(towns);
        townDbf = readFile(towns);
        dbftool({"index", towns, "CODE", "CODE"});
        dbftool({"index", towns, "TOWNCODE", "UPPER(TOWN)+CODE"});
        const std::string mixed = dir + "/mixed.dbf";
        loadMixed(mixed);
        mixedDbf = readFile(mixed);
        mixedFpt = readFile(dir + "/mixed.fpt");
    }
    ~Data() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void loadTowns(const std::string& path) const {
        dbftool({"create", path, "CODE:C:6,TOWN:C:30", "--format", "fox2"});
        dbftool({"load", path, townCsv});
    }
    void loadMixed(const std::string& path) const {
        dbftool({"create", path, "CODE:C:6,AMOUNT:N:10:2,DAY:D,FLAG:L,NOTE:M", "--format", "fox2"});
        dbftool({"load", path, mixedCsv});
    }
};

Data& data() {
    static Data d;
    return d;
}

void removeTable(const std::string& dbf) {
    for (const char* ext : {".dbf", ".fpt", ".cdx"}) fs::remove(fs::path(dbf).replace_extension(ext));
}

// Writes the bytes to a new file in 1 MB pieces and flushes it to disk.
bool writeSequentially(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t at = 0; ok && at < bytes.size(); at += 1 << 20) {
        const size_t n = std::min<size_t>(1 << 20, bytes.size() - at);
        ok = ::write(fd, bytes.data() + at, n) == static_cast<ssize_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ::close(fd);
    return ok;
}

// Reads a file once in 1 MB pieces; the count of bytes read.
uint64_t readOnce(const std::string& path) {
    std::vector<char> buf(1 << 20);
    const int fd = ::open(path.c_str(), O_RDONLY);
    uint64_t total = 0;
    for (ssize_t got; (got = ::read(fd, buf.data(), buf.size())) > 0;) total += uint64_t(got);
    ::close(fd);
    return total;
}

// ---- Loads -----------------------------------------------------------------------------------------
void BM_LoadTowns(benchmark::State& state) {
    Data& d = data();
    const std::string path = d.dir + "/loadtowns.dbf";
    Stopwatch sw;
    for (auto _ : state) {
        removeTable(path);
        sw.start();
        d.loadTowns(path);
        sw.stop();
    }
    sw.record("load-towns");
    state.SetItemsProcessed(state.iterations() * kTownRecords);
}
BENCHMARK(BM_LoadTowns)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BaselineWriteTownBytes(benchmark::State& state) {
    Data& d = data();
    const std::string path = d.dir + "/written.dbf";
    Stopwatch sw;
    for (auto _ : state) {
        sw.start();
        if (!writeSequentially(path, d.townDbf)) state.SkipWithError("cannot write");
        sw.stop();
    }
    sw.record("write-towns");
}
BENCHMARK(BM_BaselineWriteTownBytes)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_LoadMixed(benchmark::State& state) {
    Data& d = data();
    const std::string path = d.dir + "/loadmixed.dbf";
    Stopwatch sw;
    for (auto _ : state) {
        removeTable(path);
        sw.start();
        d.loadMixed(path);
        sw.stop();
    }
    sw.record("load-mixed");
    state.SetItemsProcessed(state.iterations() * kMixedRecords);
}
BENCHMARK(BM_LoadMixed)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BaselineWriteMixedBytes(benchmark::State& state) {
    Data& d = data();
    Stopwatch sw;
    for (auto _ : state) {
        sw.start();
        if (!writeSequentially(d.dir + "/written.dbf", d.mixedDbf) ||
            !writeSequentially(d.dir + "/written.fpt", d.mixedFpt))
            state.SkipWithError("cannot write");
        sw.stop();
    }
    sw.record("write-mixed");
}
BENCHMARK(BM_BaselineWriteMixedBytes)->Unit(benchmark::kMillisecond)->Iterations(10);

// The engine's part of a load: the same records appended through xb::Table::appendRecord from values
// already in memory (no CSV to read or convert), flushed to disk at the end.
void BM_AppendTowns(benchmark::State& state) {
    Data& d = data();
    const std::string path = d.dir + "/appendtowns.dbf";
    std::vector<std::vector<xb::NewValue>> rows(kTownRecords);
    for (uint32_t r = 0; r < kTownRecords; ++r) {
        const std::string& key = d.townKeys[r];  // UPPER(TOWN) padded to 30, then CODE
        rows[r] = {xb::NewValue{0, key.substr(30, 6), false}, xb::NewValue{1, key.substr(0, 30), false}};
    }
    Stopwatch sw;
    std::string error;
    for (auto _ : state) {
        removeTable(path);
        sw.start();
        auto t =
            xb::Table::create(path, {{"CODE", 'C', 6}, {"TOWN", 'C', 30}}, xb::Format::Fox2, 0x03, error);
        if (!t) {
            state.SkipWithError(error.c_str());
            return;
        }
        for (const auto& row : rows) {
            if (!t->appendRecord(row)) {
                state.SkipWithError(t->error().c_str());
                return;
            }
        }
        if (!t->flush()) state.SkipWithError(t->error().c_str());
        t.reset();
        sw.stop();
    }
    sw.record("append-towns");
    state.SetItemsProcessed(state.iterations() * kTownRecords);
}
BENCHMARK(BM_AppendTowns)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---- Tag on an expression --------------------------------------------------------------------------
void BM_BuildTownCodeTag(benchmark::State& state) {
    Data& d = data();
    std::string error;
    auto t = xb::Table::open(d.towns, error, true);
    if (!t) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string cdxPath = d.dir + "/build.cdx";
    Stopwatch sw;
    for (auto _ : state) {
        sw.start();
        auto cdx = xb::CdxFile::create(cdxPath, t->fields(),
                                       {xb::TagSpec{"TOWNCODE", "UPPER(TOWN)+CODE", "", false, false}},
                                       t->reader(), error);
        sw.stop();
        if (!cdx) state.SkipWithError(error.c_str());
    }
    sw.record("build");
    state.SetItemsProcessed(state.iterations() * kTownRecords);
}
BENCHMARK(BM_BuildTownCodeTag)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_BaselineSortKeys(benchmark::State& state) {
    Data& d = data();
    Stopwatch sw;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> keys = d.townKeys;
        state.ResumeTiming();
        sw.start();
        std::sort(keys.begin(), keys.end());
        sw.stop();
        benchmark::DoNotOptimize(keys.data());
    }
    sw.record("sort");
}
BENCHMARK(BM_BaselineSortKeys)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_BaselineSortFixedKeys(benchmark::State& state) {
    Data& d = data();
    std::vector<std::array<char, 36>> fixed(d.townKeys.size());
    for (size_t i = 0; i < fixed.size(); ++i) std::copy_n(d.townKeys[i].data(), 36, fixed[i].data());
    Stopwatch sw;
    for (auto _ : state) {
        state.PauseTiming();
        auto keys = fixed;
        state.ResumeTiming();
        sw.start();
        std::sort(keys.begin(), keys.end());
        sw.stop();
        benchmark::DoNotOptimize(keys.data());
    }
    sw.record("sort-fixed");
}
BENCHMARK(BM_BaselineSortFixedKeys)->Unit(benchmark::kMillisecond)->Iterations(5);

// ---- Check -----------------------------------------------------------------------------------------
// The table's and index's pages dropped from the cache (the first check after a copy or a restart).
bool dropTownsFromCache() {
    const std::string& t = data().towns;
    return dropFromCache(t) && dropFromCache(fs::path(t).replace_extension(".cdx").string());
}

// dbftool check of the towns table, its files read from memory or from the disk; time to timings()[key].
void checkTowns(benchmark::State& state, const char* key, bool fromDisk) {
    Data& d = data();
    Stopwatch sw;
    for (auto _ : state) {
        if (fromDisk && !dropTownsFromCache()) state.SkipWithError("cannot drop the files from the cache");
        std::string out;
        sw.start();
        const int rc = dbftool({"check", d.towns}, &out);
        sw.stop();
        if (rc != 0) state.SkipWithError(("check found faults: " + out.substr(0, 200)).c_str());
    }
    sw.record(key);
    state.SetItemsProcessed(state.iterations() * kTownRecords);
}

// The towns table and its index read once, from memory or from the disk; time to timings()[key].
void readTowns(benchmark::State& state, const char* key, bool fromDisk) {
    Data& d = data();
    Stopwatch sw;
    uint64_t total = 0;
    for (auto _ : state) {
        if (fromDisk && !dropTownsFromCache()) state.SkipWithError("cannot drop the files from the cache");
        sw.start();
        total += readOnce(d.towns) + readOnce(fs::path(d.towns).replace_extension(".cdx").string());
        sw.stop();
    }
    benchmark::DoNotOptimize(total);
    sw.record(key);
}

void BM_CheckTowns(benchmark::State& state) {
    checkTowns(state, "check", false);
}
BENCHMARK(BM_CheckTowns)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BaselineReadTableAndIndex(benchmark::State& state) {
    readTowns(state, "read", false);
}
BENCHMARK(BM_BaselineReadTableAndIndex)->Unit(benchmark::kMillisecond)->Iterations(20);

// The same check and the same reading with the files' pages first dropped from the cache, so that both
// read from the disk.
void BM_CheckTownsFromDisk(benchmark::State& state) {
    checkTowns(state, "check-disk", true);
}
BENCHMARK(BM_CheckTownsFromDisk)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BaselineReadFromDisk(benchmark::State& state) {
    readTowns(state, "read-disk", true);
}
BENCHMARK(BM_BaselineReadFromDisk)->Unit(benchmark::kMillisecond)->Iterations(5);

void printRatios() {
    auto& t = timings();
    auto has = [&](const char* k) { return t.count(k) && t[k].wall > 0; };
    std::printf("\nRatios, engine / baseline (wall clock; process CPU time in brackets):\n");
    auto ratio = [&](const char* what, const char* a, const char* b, const char* goal) {
        if (!has(a) || !has(b)) return;
        std::printf("  %s: %.2fx [%.2fx]  (%.1f ms vs %.1f ms [%.1f vs %.1f ms CPU])%s\n", what,
                    t[a].wall / t[b].wall, t[b].cpu > 0 ? t[a].cpu / t[b].cpu : 0.0, t[a].wall * 1e3,
                    t[b].wall * 1e3, t[a].cpu * 1e3, t[b].cpu * 1e3, goal);
    };
    ratio("load 870,000 records / writing the same bytes", "load-towns", "write-towns", "; goal <= 3x");
    ratio("appending the 870,000 records from memory (xb::Table) / writing the same bytes", "append-towns",
          "write-towns", "");
    ratio("load 200,000 records with N, D, L, memo / writing the same bytes", "load-mixed", "write-mixed",
          "; goal <= 3x");
    ratio("tag UPPER(TOWN)+CODE / std::sort of the keys (std::string)", "build", "sort", "; goal <= 1.5x");
    ratio("tag UPPER(TOWN)+CODE / std::sort of the keys (36-byte arrays)", "build", "sort-fixed", "");
    ratio("check, 2 tags / reading the table and index once", "check", "read", "; goal <= 10x");
    ratio("check from the disk / reading the table and index once from the disk", "check-disk", "read-disk",
          " (pages dropped from the cache first)");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatios();
    return 0;
}
