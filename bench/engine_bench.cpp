// Speed of the xBase engine on the program's largest table shape: 870,000 Canadian-style postal codes
// (C(6)) with a town (C(30)). Each measurement runs beside a baseline in the same process, so that the
// figures read as ratios:
//   building the POSTAL tag            vs std::sort of the same 870,000 keys      (goal <= 1.5x)
//   seeking random existing keys       (goal >= 1,000,000 seeks per second, warm)
//   scanning one field through ta::    vs reading the file's bytes once           (goal <= 3x),
//                                         both from memory and both from the disk
//   packing 200,000 records, 10% deleted, with memos, vs copying the same files
//   changing the key of 20,000 records (index kept up to date) vs the same changes to the table alone
// The ratios are printed after the benchmark table.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dropcache.h"
#include "tableaccess/tableaccess.h"
#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/dbf.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kPostalRecords = 870000;
constexpr uint32_t kPackRecords = 200000;

// Seconds per iteration of each measurement (wall clock and this thread's CPU time), for the ratio
// summary. The machine may be shared: the CPU-time ratios are the steadier ones then.
struct Timing {
    double wall = 0, cpu = 0;
};
std::map<std::string, Timing>& timings() {
    static std::map<std::string, Timing> t;
    return t;
}

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

class Stopwatch {
  public:
    void start() {
        t0_ = std::chrono::steady_clock::now();
        c0_ = threadCpuSeconds();
    }
    void stop() {
        wall_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count();
        cpu_ += threadCpuSeconds() - c0_;
    }
    Timing per(double n) const { return Timing{wall_ / std::max(1.0, n), cpu_ / std::max(1.0, n)}; }

  private:
    std::chrono::steady_clock::time_point t0_;
    double c0_ = 0;
    double wall_ = 0, cpu_ = 0;
};

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = v >> 8;
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

std::string randomPostal(std::mt19937& rng) {
    std::string s(6, ' ');
    for (int i = 0; i < 6; ++i)
        s[i] = i % 2 == 0 ? static_cast<char>('A' + rng() % 26) : static_cast<char>('0' + rng() % 10);
    return s;
}

const char* kTowns[] = {"HALIFAX",
                        "QU\xC9"
                        "BEC",
                        "TROIS-RIVI\xC8RES",
                        "OTTAWA",
                        "ST. JOHN'S",
                        "MONTR\xC9"
                        "AL",
                        "SEPT-\xCELES",
                        "REGINA",
                        "IQALUIT",
                        "L\xC9VIS",
                        "TORONTO",
                        "SASKATOON",
                        "WHITEHORSE"};

// The benchmark data, made once: the postal table (written byte by byte as FoxPro 2.x without memo,
// then indexed by the engine), its keys, and a pack template with memos.
struct Data {
    std::string dir;
    std::string postal;  // postal table .dbf
    std::vector<std::string> keys;
    std::string packTemplate;  // .dbf (with .fpt and .cdx beside it)

    Data() {
        char tmpl[] = "/tmp/tarvik-engine-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        std::mt19937 rng(870000);
        postal = dir + "/postal.dbf";
        keys.reserve(kPostalRecords);
        {
            const uint16_t headerLen = 32 + 2 * 32 + 1, recLen = 1 + 6 + 30;
            std::vector<uint8_t> h(headerLen, 0);
            h[0] = 0x03;
            h[1] = 126;
            h[2] = 12;
            h[3] = 7;
            put32(h, 4, kPostalRecords);
            put16(h, 8, headerLen);
            put16(h, 10, recLen);
            h[29] = 0x03;
            auto field = [&](int i, const char* name, char type, uint32_t offset, uint8_t len) {
                const size_t at = 32 + 32 * i;
                std::snprintf(reinterpret_cast<char*>(&h[at]), 11, "%s", name);
                h[at + 11] = static_cast<uint8_t>(type);
                put32(h, at + 12, offset);
                h[at + 16] = len;
            };
            field(0, "POSTAL", 'C', 1, 6);
            field(1, "TOWN", 'C', 7, 30);
            h[headerLen - 1] = 0x0D;
            std::ofstream out(postal, std::ios::binary);
            out.write(reinterpret_cast<const char*>(h.data()), h.size());
            std::string rec(recLen, ' ');
            for (uint32_t r = 0; r < kPostalRecords; ++r) {
                std::string key = randomPostal(rng);
                rec.replace(1, 6, key);
                std::string town = kTowns[rng() % (sizeof kTowns / sizeof *kTowns)];
                town.resize(30, ' ');
                rec.replace(7, 30, town);
                out.write(rec.data(), rec.size());
                keys.push_back(std::move(key));
            }
            out.put(0x1A);
        }
        std::string error;
        {
            auto t = xb::Table::open(postal, error);
            if (!t || !t->createIndex({xb::TagSpec{"POSTAL", "POSTAL", "", false, false}})) {
                std::fprintf(stderr, "cannot index %s: %s\n", postal.c_str(),
                             t ? t->error().c_str() : error.c_str());
                std::exit(2);
            }
        }
        // pack template: 200,000 records, every 4th with a memo, 10% deleted, a POSTAL tag
        packTemplate = dir + "/packsrc.dbf";
        auto t = xb::Table::create(packTemplate, {{"POSTAL", 'C', 6}, {"TOWN", 'C', 30}, {"NOTE", 'M', 10}},
                                   xb::Format::Fox2, 0x03, error);
        if (!t) {
            std::fprintf(stderr, "cannot create %s: %s\n", packTemplate.c_str(), error.c_str());
            std::exit(2);
        }
        for (uint32_t r = 0; r < kPackRecords; ++r) {
            bool ok = t->appendBlank() && t->setText(0, randomPostal(rng)) &&
                      t->setText(1, kTowns[rng() % (sizeof kTowns / sizeof *kTowns)]);
            if (ok && r % 4 == 0) ok = t->setText(2, std::string(40 + rng() % 400, 'x'));
            if (ok && rng() % 10 == 0) ok = t->deleteRecord();
            if (!ok) {
                std::fprintf(stderr, "cannot fill %s: %s\n", packTemplate.c_str(), t->error().c_str());
                std::exit(2);
            }
        }
        if (!t->flush() || !t->createIndex({xb::TagSpec{"POSTAL", "POSTAL", "", false, false}})) {
            std::fprintf(stderr, "cannot index %s: %s\n", packTemplate.c_str(), t->error().c_str());
            std::exit(2);
        }
    }
    ~Data() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Data& data() {
    static Data d;
    return d;
}

// ---- Build the tag vs std::sort ----------------------------------------------------------------------
void BM_BuildPostalTag(benchmark::State& state) {
    Data& d = data();
    std::string error;
    auto t = xb::Table::open(d.postal, error, true);
    const std::string cdxPath = d.dir + "/build.cdx";
    Stopwatch sw;
    int64_t n = 0;
    for (auto _ : state) {
        sw.start();
        auto cdx = xb::CdxFile::create(
            cdxPath, t->fields(), {xb::TagSpec{"POSTAL", "POSTAL", "", false, false}}, t->reader(), error);
        sw.stop();
        if (!cdx) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(cdx.get());
        ++n;
    }
    timings()["build"] = sw.per(double(n));
    state.SetItemsProcessed(n * kPostalRecords);
}
BENCHMARK(BM_BuildPostalTag)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_BaselineSortKeys(benchmark::State& state) {
    Data& d = data();
    Stopwatch sw;
    int64_t n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> keys = d.keys;
        state.ResumeTiming();
        sw.start();
        std::sort(keys.begin(), keys.end());
        sw.stop();
        benchmark::DoNotOptimize(keys.data());
        ++n;
    }
    timings()["sort"] = sw.per(double(n));
    state.SetItemsProcessed(n * kPostalRecords);
}
BENCHMARK(BM_BaselineSortKeys)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same keys as fixed 6-byte arrays (no string objects): the stricter baseline.
void BM_BaselineSortFixedKeys(benchmark::State& state) {
    Data& d = data();
    std::vector<std::array<char, 6>> fixed(d.keys.size());
    for (size_t i = 0; i < d.keys.size(); ++i) std::copy_n(d.keys[i].data(), 6, fixed[i].data());
    Stopwatch sw;
    int64_t n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto keys = fixed;
        state.ResumeTiming();
        sw.start();
        std::sort(keys.begin(), keys.end());
        sw.stop();
        benchmark::DoNotOptimize(keys.data());
        ++n;
    }
    timings()["sort-fixed"] = sw.per(double(n));
    state.SetItemsProcessed(n * kPostalRecords);
}
BENCHMARK(BM_BaselineSortFixedKeys)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// ---- Seek ------------------------------------------------------------------------------------------
std::vector<std::string> seekKeys() {
    Data& d = data();
    std::mt19937 rng(7);
    std::vector<std::string> keys(1 << 20);
    for (auto& k : keys) k = d.keys[rng() % d.keys.size()];
    return keys;
}

void BM_SeekIndex(benchmark::State& state) {
    Data& d = data();
    std::string error;
    auto t = xb::Table::open(d.postal, error, true);
    xb::CdxFile* cdx = t->index();
    const int tag = cdx->findTag("POSTAL");
    const auto keys = seekKeys();
    for (const auto& k : keys) cdx->seek(tag, k, error);  // warm
    size_t i = 0;
    uint64_t missed = 0;
    Stopwatch sw;
    sw.start();
    for (auto _ : state) {
        if (cdx->seek(tag, keys[i++ & (keys.size() - 1)], error) == 0) ++missed;
    }
    sw.stop();
    if (missed) state.SkipWithError("an existing key was not found");
    timings()["seek-index"] = sw.per(double(state.iterations()));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SeekIndex);

void BM_SeekTable(benchmark::State& state) {
    Data& d = data();
    std::string error;
    auto t = xb::Table::open(d.postal, error, true);
    t->selectTag("POSTAL");
    const auto keys = seekKeys();
    for (size_t i = 0; i < 100000; ++i) t->seek(keys[i]);  // warm
    size_t i = 0;
    uint64_t missed = 0;
    Stopwatch sw;
    sw.start();
    for (auto _ : state) {
        if (!t->seek(keys[i++ & (keys.size() - 1)])) ++missed;
    }
    sw.stop();
    if (missed) state.SkipWithError("an existing key was not found");
    timings()["seek-table"] = sw.per(double(state.iterations()));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SeekTable);

void BM_SeekFacade(benchmark::State& state) {
    Data& d = data();
    ta::DataContext ctx = ta::OpenData();
    const int h = ta::mOpen(ctx, QString::fromStdString(d.postal), "POSTAL");
    std::vector<QString> keys;
    for (const auto& k : seekKeys()) keys.push_back(QString::fromLatin1(k.data(), int(k.size())));
    for (size_t i = 0; i < 100000; ++i) ta::d4seek(h, keys[i]);  // warm
    size_t i = 0;
    uint64_t missed = 0;
    Stopwatch sw;
    sw.start();
    for (auto _ : state) {
        if (ta::d4seek(h, keys[i++ & (keys.size() - 1)]) != 0) ++missed;
    }
    sw.stop();
    if (missed) state.SkipWithError("an existing key was not found");
    timings()["seek-facade"] = sw.per(double(state.iterations()));
    state.SetItemsProcessed(state.iterations());
    ta::d4close(h);
    ta::CloseData(ctx);
}
BENCHMARK(BM_SeekFacade);

// ---- Full scan -------------------------------------------------------------------------------------
// Scans one field of every record through ta::, the table read from memory or (its pages dropped
// first) from the disk; the time per scan goes to timings()[key].
void scanFacade(benchmark::State& state, const char* key, bool fromDisk) {
    Data& d = data();
    ta::DataContext ctx = ta::OpenData();
    Stopwatch sw;
    int64_t n = 0;
    for (auto _ : state) {
        if (fromDisk && !dropFromCache(d.postal)) state.SkipWithError("cannot drop the table from the cache");
        sw.start();
        const int h = ta::mOpen(ctx, QString::fromStdString(d.postal));
        int64_t count = 0, chars = 0;
        for (int rc = ta::d4top(h); rc == 0; rc = ta::d4skip(h, 1)) {
            chars += ta::fetch(h, "POSTAL").size();
            ++count;
        }
        ta::d4close(h);
        sw.stop();
        if (count != kPostalRecords) state.SkipWithError("the scan did not see every record");
        benchmark::DoNotOptimize(chars);
        ++n;
    }
    ta::CloseData(ctx);
    timings()[key] = sw.per(double(n));
    state.SetItemsProcessed(n * kPostalRecords);
}

void BM_ScanFacadeFetch(benchmark::State& state) {
    scanFacade(state, "scan-facade", false);
}
BENCHMARK(BM_ScanFacadeFetch)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ScanEngineText(benchmark::State& state) {
    Data& d = data();
    Stopwatch sw;
    int64_t n = 0;
    std::string error;
    for (auto _ : state) {
        sw.start();
        auto t = xb::Table::open(d.postal, error, true);
        int64_t count = 0, chars = 0;
        for (bool ok = t->top(); ok; ok = t->skip(1)) {
            chars += t->getText(0).size();
            ++count;
        }
        sw.stop();
        if (count != kPostalRecords) state.SkipWithError("the scan did not see every record");
        benchmark::DoNotOptimize(chars);
        ++n;
    }
    timings()["scan-engine"] = sw.per(double(n));
    state.SetItemsProcessed(n * kPostalRecords);
}
BENCHMARK(BM_ScanEngineText)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Opening the table with its production index (part of every scan and of every mOpen).
void BM_OpenPostalTable(benchmark::State& state) {
    Data& d = data();
    std::string error;
    Stopwatch sw;
    int64_t n = 0;
    for (auto _ : state) {
        sw.start();
        auto t = xb::Table::open(d.postal, error, true);
        sw.stop();
        if (!t || !t->index()) state.SkipWithError("the table did not open with its index");
        ++n;
    }
    timings()["open"] = sw.per(double(n));
}
BENCHMARK(BM_OpenPostalTable)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Reads the table's file once in 1 MB pieces, from memory or (its pages dropped first) from the disk;
// the time per reading goes to timings()[key].
void readFileOnce(benchmark::State& state, const char* key, bool fromDisk) {
    Data& d = data();
    std::vector<char> buf(1 << 20);
    Stopwatch sw;
    int64_t n = 0;
    for (auto _ : state) {
        if (fromDisk && !dropFromCache(d.postal)) state.SkipWithError("cannot drop the table from the cache");
        sw.start();
        int fd = ::open(d.postal.c_str(), O_RDONLY);
        uint64_t total = 0, sum = 0;
        for (ssize_t got; (got = ::read(fd, buf.data(), buf.size())) > 0;) {
            total += got;
            sum += static_cast<unsigned char>(buf[got - 1]);
        }
        ::close(fd);
        sw.stop();
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(total);
        ++n;
    }
    timings()[key] = sw.per(double(n));
}

void BM_BaselineReadFileOnce(benchmark::State& state) {
    readFileOnce(state, "read", false);
}
BENCHMARK(BM_BaselineReadFileOnce)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same scan and the same reading with the table's pages first dropped from the system's cache, so
// that both read it from the disk (the first scan after a copy or a restart).
void BM_ScanFacadeFromDisk(benchmark::State& state) {
    scanFacade(state, "scan-facade-disk", true);
}
BENCHMARK(BM_ScanFacadeFromDisk)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_BaselineReadFromDisk(benchmark::State& state) {
    readFileOnce(state, "read-disk", true);
}
BENCHMARK(BM_BaselineReadFromDisk)->Unit(benchmark::kMillisecond)->Iterations(5);

// ---- Pack ------------------------------------------------------------------------------------------
void copyTemplate(const std::string& to) {
    Data& d = data();
    for (const char* ext : {".dbf", ".fpt", ".cdx"})
        fs::copy_file(fs::path(d.packTemplate).replace_extension(ext), fs::path(to).replace_extension(ext),
                      fs::copy_options::overwrite_existing);
}

// Times work on a fresh copy of the pack template (named work.dbf in the data folder) per iteration;
// prepare runs on the copy first, untimed. work returns false with the reason in error.
void onTemplateCopies(benchmark::State& state, const char* name, int64_t items,
                      const std::function<void(const std::string&)>& prepare,
                      const std::function<bool(const std::string&, std::string&)>& work) {
    const std::string copy = data().dir + "/work.dbf";
    Stopwatch sw;
    int64_t n = 0;
    std::string error;
    for (auto _ : state) {
        state.PauseTiming();
        copyTemplate(copy);
        prepare(copy);
        state.ResumeTiming();
        sw.start();
        const bool ok = work(copy, error);
        sw.stop();
        if (!ok) state.SkipWithError(error.c_str());
        ++n;
    }
    timings()[name] = sw.per(double(n));
    state.SetItemsProcessed(n * items);
}

void BM_Pack200k(benchmark::State& state) {
    onTemplateCopies(
        state, "pack", kPackRecords, [](const std::string&) {},
        [](const std::string& path, std::string& error) {
            auto t = xb::Table::open(path, error);
            const bool ok = t && t->pack();
            if (t && !ok) error = t->error();
            return ok;
        });
}
BENCHMARK(BM_Pack200k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The least a pack can cost: the same files read and written anew, flushed to disk.
void BM_BaselineCopyPackFiles(benchmark::State& state) {
    Data& d = data();
    Stopwatch sw;
    int64_t n = 0;
    std::vector<char> buf(1 << 20);
    for (auto _ : state) {
        sw.start();
        for (const char* ext : {".dbf", ".fpt", ".cdx"}) {
            const std::string from = fs::path(d.packTemplate).replace_extension(ext).string();
            const std::string to = d.dir + "/copy" + ext;
            int in = ::open(from.c_str(), O_RDONLY);
            int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            for (ssize_t got; (got = ::read(in, buf.data(), buf.size())) > 0;)
                if (::write(out, buf.data(), got) != got) state.SkipWithError("write failed");
            ::fsync(out);
            ::close(in);
            ::close(out);
        }
        sw.stop();
        ++n;
    }
    timings()["copy"] = sw.per(double(n));
}
BENCHMARK(BM_BaselineCopyPackFiles)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// ---- Key changes -----------------------------------------------------------------------------------
constexpr uint32_t kEdits = 20000;

// Changes the POSTAL code of kEdits random records of a copy of the pack template, through the engine,
// and flushes; withIndex false drops the index from the copy first (the baseline: the same record
// writes without index maintenance).
void editKeys(benchmark::State& state, bool withIndex, const char* name) {
    onTemplateCopies(
        state, name, kEdits,
        [withIndex](const std::string& path) {
            if (withIndex) return;
            fs::remove(fs::path(path).replace_extension(".cdx"));
            std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(28);
            f.put(0);  // the header no longer flags a production index
        },
        [](const std::string& path, std::string& error) {
            std::mt19937 rng(20000);
            auto t = xb::Table::open(path, error);
            bool ok = t != nullptr;
            for (uint32_t i = 0; ok && i < kEdits; ++i)
                ok = t->go(1 + rng() % kPackRecords) && t->setText(0, randomPostal(rng));
            ok = ok && t->flush();
            if (t && !ok) error = t->error();
            return ok;
        });
}

void BM_EditKeys(benchmark::State& state) {
    editKeys(state, true, "edit");
}
BENCHMARK(BM_EditKeys)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_BaselineEditWithoutIndex(benchmark::State& state) {
    editKeys(state, false, "edit-noindex");
}
BENCHMARK(BM_BaselineEditWithoutIndex)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void printRatios() {
    auto& t = timings();
    auto has = [&](const char* k) { return t.count(k) && t[k].wall > 0; };
    std::printf("\nRatios, engine / baseline (wall clock; thread CPU time in brackets):\n");
    auto ratio = [&](const char* what, const char* a, const char* b, const char* goal) {
        if (!has(a) || !has(b)) return;
        std::printf("  %s: %.2fx [%.2fx]  (%.1f ms vs %.1f ms [%.1f vs %.1f ms CPU])%s\n", what,
                    t[a].wall / t[b].wall, t[b].cpu > 0 ? t[a].cpu / t[b].cpu : 0.0, t[a].wall * 1e3,
                    t[b].wall * 1e3, t[a].cpu * 1e3, t[b].cpu * 1e3, goal);
    };
    ratio("build POSTAL tag / std::sort of the keys (std::string)", "build", "sort", "; goal <= 1.5x");
    ratio("build POSTAL tag / std::sort of the keys (6-byte arrays)", "build", "sort-fixed", "");
    for (const char* k : {"seek-index", "seek-table", "seek-facade"})
        if (has(k))
            std::printf("  %-12s %.0f seeks/s [%.0f per CPU second]  (goal >= 1,000,000)\n", k,
                        1.0 / t[k].wall, t[k].cpu > 0 ? 1.0 / t[k].cpu : 0.0);
    ratio("scan through ta::fetch / reading the file once", "scan-facade", "read", "; goal <= 3x");
    ratio("scan through xb::Table / reading the file once", "scan-engine", "read", "");
    ratio("scan through ta::fetch from the disk / reading the file once from the disk", "scan-facade-disk",
          "read-disk", " (pages dropped from the cache first)");
    ratio("opening the table with its index / reading the file once", "open", "read", "");
    ratio("pack of 200,000 records / copying its files", "pack", "copy", "");
    ratio("20,000 key changes with the index / without it", "edit", "edit-noindex", "");
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
