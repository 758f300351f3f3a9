#include "tableaccess/xbase/dbf.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <tuple>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/fileio.h"
#include "tableaccess/xbase/fpt.h"
#include "tableaccess/xbase/numtext.h"

namespace xb {
namespace {

constexpr size_t kCacheBytes = 256 * 1024;        // read-ahead of sequential record reads
constexpr size_t kJumpBytes = 4 * 1024;           // read around a record reached by a jump
constexpr size_t kAppendBatchBytes = 256 * 1024;  // appends gathered before they are written together
constexpr const char* kPackSuffix = ".pack~";     // new files of a pack, beside the old ones
constexpr const char* kPackMarker = ".packing~";  // present while a committed pack is being put in place
constexpr const char* kCreateSuffix = ".new~";
// Header byte 14 while appends have not been flushed to disk (dBase IV kept a transaction mark there;
// FoxPro leaves it zero).
constexpr uint8_t kAppendsUnsynced = 0x01;

uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void putLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void putLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

bool isVfp(uint8_t version) {
    return version == 0x30 || version == 0x31 || version == 0x32;
}
// Visual FoxPro field flags: 0x01 system, 0x02 nullable, 0x04 binary (C and M fields), 0x0C (both bits)
// autoincrementing, for I fields only.
bool isAutoIncrement(const FieldDesc& f) {
    return f.type == 'I' && (f.flags & 0x0C) == 0x0C;
}
bool isMemoType(char t, uint8_t version) {
    return t == 'M' || ((t == 'G' || t == 'P') && (isVfp(version) || version == 0xF5));
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\0')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0')) --e;
    return std::string(s.substr(b, e - b));
}

// A number as xBase numeric fields hold it: optional sign, digits, one point. Blank is not a number.
bool parseNumber(std::string_view text, double& value) {
    const std::string t = trim(text);
    if (t.empty()) return false;
    size_t i = 0;
    if (t[i] == '+' || t[i] == '-') ++i;
    bool digits = false, point = false;
    for (; i < t.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(t[i])))
            digits = true;
        else if (t[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    if (!digits) return false;
    return num::parseAll(t, value);
}

// Leading number of a text, as xBase reads numbers (garbage after the number is ignored, none gives 0).
double leadingNumber(std::string_view text) {
    const std::string t = trim(text);
    if (t.empty()) return 0;
    double v = 0;
    if (num::parsePrefix(t, v) == 0 || !std::isfinite(v)) return 0;
    return v;
}

bool validDate(std::string_view d) {
    if (d.size() != 8) return false;
    for (char c : d)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    const int y = std::stoi(std::string(d.substr(0, 4)));
    const int m = std::stoi(std::string(d.substr(4, 2)));
    const int day = std::stoi(std::string(d.substr(6, 2)));
    if (y < 1 || m < 1 || m > 12 || day < 1) return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int dim = days[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) dim = 29;
    return day <= dim;
}

// Julian day number <-> calendar date (for Visual FoxPro datetime fields).
void julianToDate(long jd, int& y, int& m, int& d) {
    long a = jd + 32044;
    long b = (4 * a + 3) / 146097;
    long c = a - 146097 * b / 4;
    long dd = (4 * c + 3) / 1461;
    long e = c - 1461 * dd / 4;
    long mm = (5 * e + 2) / 153;
    d = int(e - (153 * mm + 2) / 5 + 1);
    m = int(mm + 3 - 12 * (mm / 10));
    y = int(100 * b + dd - 4800 + mm / 10);
}
long dateToJulian(int y, int m, int d) {
    const int a = (14 - m) / 12;
    const long yy = y + 4800 - a;
    const int mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

HeaderDate today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &now);
#else
    localtime_r(&now, &tm);
#endif
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

bool nameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

// Formats a number right-aligned in width with dec decimals; false when it does not fit.
bool formatNumber(double v, int width, int dec, std::string& out) {
    if (!std::isfinite(v)) return false;
    std::string s = num::fixed(v, dec);
    if (s.empty()) return false;
    if (static_cast<int>(s.size()) < width) s.insert(0, size_t(width) - s.size(), ' ');
    if (static_cast<int>(s.size()) > width) {
        // "-0.5" in N(3,1)... drop a leading zero before the point when that makes it fit
        const auto zero = s.find("0.");
        if (zero != std::string::npos && (zero == 0 || s[zero - 1] == '-' || s[zero - 1] == ' ') &&
            static_cast<int>(s.size()) == width + 1)
            s.erase(zero, 1);
        if (static_cast<int>(s.size()) > width) return false;
    }
    out = s;
    return true;
}

// The size and a 64-bit digest of a file's bytes: what a pack marker records of each new file, so that
// the files an interrupted pack left are put in place only when they are the ones it wrote.
struct FileDigest {
    uint64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const FileDigest&) const = default;
};

bool digestOf(const std::string& path, FileDigest& out) {
    io::File f;
    std::string why;
    if (!f.open(path, false, why)) return false;
    std::vector<uint8_t> buf(1 << 20);
    uint64_t h = 0x243F6A8885A308D3ull, at = 0;
    for (;;) {
        const long long n = f.readSomeAt(at, buf.data(), buf.size());
        if (n < 0) return false;
        if (n == 0) break;
        for (long long i = 0; i < n; ++i) {
            h = (h ^ buf[size_t(i)]) * 0x100000001B3ull;
            h ^= h >> 29;
        }
        at += uint64_t(n);
    }
    out = FileDigest{at, h};
    return true;
}

// One file of a pack as its marker names it: the role (memo, index, table), what the new file must be,
// and the name it takes (in the table's folder).
struct PackedFile {
    std::string role;
    FileDigest digest;
    std::string name;
};

constexpr const char* kMarkerFirstLine = "xbase pack 1";

std::string markerText(const std::vector<PackedFile>& files) {
    std::string text = std::string(kMarkerFirstLine) + "\n";
    char line[96];
    for (const auto& f : files) {
        std::snprintf(line, sizeof line, "%s %llu %016llx ", f.role.c_str(),
                      static_cast<unsigned long long>(f.digest.size),
                      static_cast<unsigned long long>(f.digest.hash));
        text += line + f.name + "\n";
    }
    return text;
}

// False when the text is not a marker this engine writes (the files it names cannot be verified).
bool parseMarker(const std::string& text, std::vector<PackedFile>& files) {
    files.clear();
    size_t at = 0;
    const auto nextLine = [&](std::string& line) {
        if (at >= text.size()) return false;
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) return false;
        line = text.substr(at, end - at);
        at = end + 1;
        return true;
    };
    std::string line;
    if (!nextLine(line) || line != kMarkerFirstLine) return false;
    while (nextLine(line)) {
        char role[16];
        unsigned long long size = 0, hash = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "%15s %llu %16llx %n", role, &size, &hash, &used) != 3 || used <= 0 ||
            size_t(used) >= line.size())
            return false;
        const std::string name = line.substr(size_t(used));
        if (name.find('/') != std::string::npos || name == "." || name == "..") return false;
        files.push_back(PackedFile{role, FileDigest{size, hash}, name});
    }
    return at == text.size() && !files.empty() && files.back().role == "table";
}

// The records of a table file read straight from it (for building the index of a packed table).
class FileRecords : public RecordReader {
  public:
    FileRecords(const io::File& file, uint64_t headerLength, uint32_t recordLength, uint32_t count)
        : file_(file), headerLength_(headerLength), recordLength_(recordLength), count_(count) {}
    uint32_t recordCount() const override { return count_; }
    bool readRecord(uint32_t recno, std::vector<uint8_t>& out) override {
        if (recno < 1 || recno > count_) return false;
        out.resize(recordLength_);
        return file_.readAt(headerLength_ + uint64_t(recno - 1) * recordLength_, out.data(), recordLength_);
    }

  private:
    const io::File& file_;
    uint64_t headerLength_;
    uint32_t recordLength_, count_;
};

// A number into a binary field of Visual FoxPro (I, Y, B); false with the reason when it does not fit.
bool encodeBinary(const FieldDesc& f, double value, uint8_t* p, std::string& why) {
    if (!std::isfinite(value)) {
        why = "the value is not a finite number";
        return false;
    }
    if (f.type == 'I') {
        const double r = std::round(value);
        if (r < INT32_MIN || r > INT32_MAX) {
            why = num::fixed(r, 0) + " does not fit an integer field";
            return false;
        }
        putLe32(p, static_cast<uint32_t>(static_cast<int32_t>(r)));
    } else if (f.type == 'Y') {
        const double scaled = std::round(value * 10000.0);
        if (!(scaled > -9.2e18 && scaled < 9.2e18)) {
            why = num::fixed(value, 4) + " does not fit a currency field";
            return false;
        }
        const auto v = static_cast<int64_t>(scaled);
        putLe32(p, static_cast<uint32_t>(uint64_t(v)));
        putLe32(p + 4, static_cast<uint32_t>(uint64_t(v) >> 32));
    } else {
        std::memcpy(p, &value, 8);
    }
    return true;
}

// A date (CCYYMMDD, blank for none) into a datetime field of Visual FoxPro; false when it is no date.
bool encodeDateTime(std::string_view ccyymmdd, uint8_t* p) {
    if (ccyymmdd.empty()) {
        std::fill(p, p + 8, 0);
        return true;
    }
    if (!validDate(ccyymmdd)) return false;
    const std::string t(ccyymmdd);
    const long jd =
        dateToJulian(std::stoi(t.substr(0, 4)), std::stoi(t.substr(4, 2)), std::stoi(t.substr(6, 2)));
    putLe32(p, static_cast<uint32_t>(jd));
    putLe32(p + 4, 0);
    return true;
}

// The field descriptors of a header (from byte 32 up to the 0x0D terminator within the header),
// checked: at least one field, every kind of a fixed size with that size, the record length the sum of
// the fields. Gives each descriptor's position and the terminator's; false with the problem otherwise.
bool parseFields(const std::vector<uint8_t>& header, bool vfp, uint16_t recordLength,
                 std::vector<FieldDesc>& all, std::vector<uint32_t>& allPos, size_t& terminator,
                 std::string& why) {
    all.clear();
    allPos.clear();
    uint32_t offset = 1;
    size_t pos = 32;
    bool terminated = false;
    while (pos < header.size()) {
        if (header[pos] == 0x0D) {
            terminated = true;
            break;
        }
        if (pos + 32 > header.size()) break;
        const uint8_t* d = header.data() + pos;
        FieldDesc f;
        size_t n = 0;
        while (n < 11 && d[n] != 0) ++n;
        f.name.assign(reinterpret_cast<const char*>(d), n);
        f.type = static_cast<char>(d[11]);
        f.length = d[16];
        f.decimals = d[17];
        if (f.type == 'C' && !vfp && f.decimals != 0) {
            // Character fields longer than 255 keep the high byte of the length in the decimals byte.
            f.length = static_cast<uint16_t>(d[16] | (d[17] << 8));
            f.decimals = 0;
        }
        f.flags = vfp ? d[18] : 0;
        f.offset = offset;
        offset += f.length;
        all.push_back(f);
        allPos.push_back(static_cast<uint32_t>(pos));
        pos += 32;
    }
    if (!terminated) {
        why = "the header has no end of its field list within its length (" + std::to_string(header.size()) +
              " bytes)";
        return false;
    }
    terminator = pos;
    if (all.empty()) {
        why = "the header describes no field";
        return false;
    }
    for (const FieldDesc& f : all) {
        // Fields whose kind has a fixed size are read and written in that size: a shorter one (a
        // damaged or foreign header) would let a write run into the next field or past the record.
        int need = 0;
        bool exact = false;
        switch (f.type) {
            case 'L':
                need = 1;
                break;
            case 'D':
                need = 8;
                break;
            case 'I':
                need = 4;
                break;
            case 'Y':
            case 'B':
                need = 8;
                break;
            case 'T':
                need = 8;
                exact = true;
                break;
            default:
                break;
        }
        if (f.length < need || (exact && f.length != need)) {
            why = "the header gives field " + f.name + " (type " + f.type + ") a length of " +
                  std::to_string(f.length) + " bytes; that type takes " + std::to_string(need);
            return false;
        }
    }
    if (offset != recordLength) {
        why = "the header's record length (" + std::to_string(recordLength) +
              ") disagrees with its fields (" + std::to_string(offset) + " bytes)";
        return false;
    }
    return true;
}

// Writes the header of a new, empty table to a file beside real and puts it in real's place, so that
// a table of that name is replaced whole or not at all. On failure nothing is left behind and error
// says why.
bool writeNewTableFile(const std::string& real, const std::vector<uint8_t>& header, std::string& error) {
    const std::string tmp = real + kCreateSuffix;
    {
        io::File f;
        std::string why;
        if (!f.create(tmp, true, why) || !f.writeAt(0, header.data(), header.size()) || !f.sync()) {
            if (why.empty()) why = io::lastSystemError();
            error = real + ": cannot write the table (" + why + ")";
            io::removeFile(tmp);
            return false;
        }
    }
    std::string why;
    if (!io::replaceFile(tmp, real, why)) {
        error = real + ": cannot create the table (" + why + ")";
        io::removeFile(tmp);
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------

class Table::Reader : public RecordReader {
  public:
    explicit Reader(Table& t) : t_(t) {}
    uint32_t recordCount() const override { return t_.recCount_; }
    bool readRecord(uint32_t recno, std::vector<uint8_t>& out) override {
        if (recno < 1 || recno > t_.recCount_) return false;
        out.resize(t_.recordLength_);
        if (recno == t_.recno_ && t_.dirty_) {
            out = t_.rec_;
            return true;
        }
        return t_.readRecordRaw(recno, out.data());
    }

  private:
    Table& t_;
};

Table::Table() : reader_(std::make_unique<Reader>(*this)) {}

Table::~Table() {
    if (file_ && file_->isOpen()) flush();
}

std::function<bool(const char*)>& Table::packStepHook() {
    static std::function<bool(const char*)> hook;
    return hook;
}

RecordReader& Table::reader() {
    return *reader_;
}

bool Table::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

std::string Table::name() const {
    return path_;
}

std::string Table::resolve(const std::string& path, bool withDbfExtension) {
    if (withDbfExtension && !io::hasExtension(path)) {
        const std::string withExt = io::resolveCase(path + ".dbf");
        if (io::exists(withExt)) return withExt;
        const std::string plain = io::resolveCase(path);
        if (io::exists(plain)) return plain;
        return path + ".dbf";
    }
    return io::resolveCase(path);
}

Format Table::format() const {
    if (isVfp(version_)) return Format::Vfp;
    if (version_ == 0x83 || version_ == 0x8B) return Format::DBase3;
    if (version_ == 0xF5) return Format::Fox2;
    // 0x03: FoxPro 2.x and dBase III write the same header; a memo file tells them apart.
    if (memo_) return memo_->kind() == MemoFile::Kind::Dbt ? Format::DBase3 : Format::Fox2;
    return Format::Fox2;
}

std::string Table::memoPath() const {
    return memo_ ? memo_->path() : std::string();
}

std::string Table::indexPath() const {
    return io::resolveCase(io::withExtension(path_, ".cdx"));
}

bool Table::hasMemoFields() const {
    for (const auto& f : fields_)
        if (isMemoType(f.type, version_)) return true;
    return false;
}

int Table::fieldIndex(std::string_view name) const {
    std::string n = trim(name);
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name.size() == n.size() &&
            strncasecmp(fields_[i].name.c_str(), n.c_str(), n.size()) == 0)
            return static_cast<int>(i);
    return -1;
}

// ---- Opening ----

std::unique_ptr<Table> Table::open(const std::string& path, std::string& error, bool readOnly,
                                   bool withoutIndex) {
    const std::string real = resolve(path, true);
    if (!io::exists(real)) {
        error = real + ": the table does not exist";
        return nullptr;
    }
    std::unique_ptr<Table> t(new Table);
    t->path_ = real;
    t->readOnly_ = readOnly;
    // Files left by an interrupted pack that are not put in place are removed once the table has opened:
    // an open that fails leaves every file as it found it.
    std::vector<std::string> leftovers;
    if (io::exists(real + kPackMarker)) {
        if (readOnly) {
            error = real + ": an interrupted pack must be finished first (open the table for writing)";
            return nullptr;
        }
        if (!t->finishInterruptedPack(error, leftovers)) return nullptr;
    }
    if (!t->load(error, withoutIndex)) return nullptr;
    if (!readOnly) {
        // New files of a pack that never reached its commit (or that its marker did not vouch for): the
        // table in place is whole without them.
        for (const std::string& f : packLeftovers(real))
            if (std::find(leftovers.begin(), leftovers.end(), f) == leftovers.end()) leftovers.push_back(f);
    }
    if (!leftovers.empty()) {
        for (const std::string& f : leftovers) io::removeFile(f);
        io::syncFolderOf(real);
    }
    return t;
}

std::vector<std::string> Table::packLeftovers(const std::string& table) {
    std::vector<std::string> found;
    for (const char* ext : {".fpt", ".dbt", ".cdx"}) {
        const std::string fresh = io::resolveCase(io::withExtension(table, ext)) + kPackSuffix;
        for (const std::string& stray : {fresh, fresh + ".tmp"})
            if (io::exists(stray)) found.push_back(stray);
    }
    if (io::exists(table + kPackSuffix)) found.push_back(table + kPackSuffix);
    const std::string unfinishedMarker = table + kPackMarker + ".tmp";
    if (io::exists(unfinishedMarker)) found.push_back(unfinishedMarker);
    return found;
}

bool Table::finishInterruptedPack(std::string& error, std::vector<std::string>& leftovers) {
    // The marker names each new file with its size and digest; it was written once they were all
    // flushed. A new file goes in place only when it is exactly what the pack wrote.
    const std::string marker = path_ + kPackMarker;
    std::string text;
    {
        io::File m;
        std::string why;
        if (m.open(marker, false, why)) {
            const long long size = m.size();
            text.resize(size > 0 && size < 65536 ? size_t(size) : 0);
            if (!m.readAt(0, text.data(), text.size())) text.clear();
        }
    }
    std::vector<PackedFile> files;
    if (!parseMarker(text, files)) {
        error = marker +
                ": an interrupted pack left this marker, which cannot be read; nothing was changed "
                "(remove the marker to use the table as it is)";
        return false;
    }
    // A marker names this table and its own memo file and index, nothing else: one naming other files is
    // not this table's (copied in from elsewhere), and none of the files it names is put in place.
    const auto named = [&](const std::string& name, const char* ext) {
        return strcasecmp(name.c_str(), io::fileNameOf(io::withExtension(path_, ext)).c_str()) == 0;
    };
    bool own = true;
    for (const auto& f : files)
        own &= f.role == "table"   ? strcasecmp(f.name.c_str(), io::fileNameOf(path_).c_str()) == 0
               : f.role == "memo"  ? named(f.name, ".fpt") || named(f.name, ".dbt")
               : f.role == "index" ? named(f.name, ".cdx")
                                   : false;
    enum class State { Ready, Done, Unsound };
    std::vector<State> states;
    bool anyDone = false, allSound = true;
    std::string unsound;
    const std::string folder = io::folderOf(path_) + "/";
    for (const auto& f : files) {
        const std::string target = folder + f.name;
        FileDigest d;
        State st = State::Unsound;
        if (own && io::exists(target + kPackSuffix))
            st = digestOf(target + kPackSuffix, d) && d == f.digest ? State::Ready : State::Unsound;
        else if (own && digestOf(target, d) && d == f.digest)
            st = State::Done;
        if (st == State::Unsound && unsound.empty())
            unsound = io::exists(target + kPackSuffix) ? target + kPackSuffix : target;
        anyDone |= st == State::Done;
        allSound &= st != State::Unsound;
        states.push_back(st);
    }
    if (allSound) {
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string target = folder + files[i].name;
            if (states[i] == State::Ready && !io::replaceFile(target + kPackSuffix, target, error)) {
                error = target + kPackSuffix + ": cannot finish an interrupted pack (" + error + ")";
                return false;
            }
        }
    } else if (anyDone) {
        // Some files were replaced and another is not what the pack wrote: neither the table before
        // nor after the pack can be put together.
        error = unsound +
                ": an interrupted pack cannot be finished: this file is not the one the pack wrote, "
                "and others were already replaced; nothing was changed";
        return false;
    } else {
        // Nothing was replaced yet: the table in place is the one from before the pack, and the new files
        // (damaged, or from another copy of the table) are left out, to be removed once it has opened.
        for (const auto& f : files) {
            const std::string fresh = folder + f.name + kPackSuffix;
            if (own && io::exists(fresh)) leftovers.push_back(fresh);
        }
        leftovers.push_back(marker);
        return true;
    }
    io::removeFile(marker);
    io::syncFolderOf(marker);
    return true;
}

bool Table::load(std::string& error, bool withoutIndex) {
    file_ = std::make_unique<io::File>();
    std::string why;
    if (!file_->open(path_, !readOnly_, why)) {
        if (readOnly_ || !file_->open(path_, false, why)) {
            error = path_ + ": cannot open the table (" + why + ")";
            return false;
        }
        readOnly_ = true;  // a file we may not write is used for reading
    }
    const long long size = file_->size();
    uint8_t h[32];
    if (size < 32 || !file_->readAt(0, h, 32)) {
        error = path_ + ": the table is truncated (shorter than its 32-byte header)";
        return false;
    }
    version_ = h[0];
    lastUpdate_ = {1900 + h[1], h[2], h[3]};
    recCount_ = le32(h + 4);
    headerLength_ = le16(h + 8);
    recordLength_ = le16(h + 10);
    headerFlags_ = h[28];
    codepage_ = h[29];
    const bool vfp = isVfp(version_);
    const uint32_t minHeader = 32 + 32 + 1 + (vfp ? 263 : 0);
    if (headerLength_ < 32 + 1 || headerLength_ > size) {
        error = path_ + ": the header length (" + std::to_string(headerLength_) +
                ") disagrees with the file size (" + std::to_string(size) + " bytes)";
        return false;
    }
    if (headerLength_ < minHeader && vfp) {
        error = path_ + ": the header length (" + std::to_string(headerLength_) +
                ") is too short for a Visual FoxPro table";
        return false;
    }
    headerRaw_.resize(headerLength_);
    if (!file_->readAt(0, headerRaw_.data(), headerLength_)) {
        error = path_ + ": cannot read the header (" + io::lastSystemError() + ")";
        return false;
    }
    fields_.clear();
    nullBits_.clear();
    nullFlagsOffset_ = -1;
    std::vector<FieldDesc> all;
    std::vector<uint32_t> allPos;
    size_t terminator = 0;
    if (!parseFields(headerRaw_, vfp, recordLength_, all, allPos, terminator, why)) {
        error = path_ + ": " + why;
        return false;
    }
    const uint64_t need = uint64_t(headerLength_) + uint64_t(recCount_) * recordLength_;
    const uint32_t held = static_cast<uint32_t>(
        std::min<uint64_t>(UINT32_MAX, (static_cast<uint64_t>(size) - headerLength_) / recordLength_));
    bool repairCount = false;
    if (need > static_cast<uint64_t>(size) && h[14] == kAppendsUnsynced && held < recCount_) {
        // Power was lost after appends whose header count reached the disk before their records did
        // (the mark says the appends had not been flushed): the table holds the records that arrived.
        recCount_ = held;
        repairCount = !readOnly_;
    } else if (need > static_cast<uint64_t>(size)) {
        error = path_ + ": the table is truncated: the header counts " + std::to_string(recCount_) +
                " records of " + std::to_string(recordLength_) + " bytes, the file holds " +
                std::to_string((static_cast<uint64_t>(size) - headerLength_) / recordLength_);
        return false;
    }
    int bit = 0;
    descPos_.clear();
    for (size_t k = 0; k < all.size(); ++k) {
        const FieldDesc& f = all[k];
        if (f.type == '0' && vfp) {
            nullFlagsOffset_ = static_cast<int>(f.offset);
            nullFlagsLength_ = f.length;
            continue;
        }
        fields_.push_back(f);
        descPos_.push_back(allPos[k]);
        int mine = -1;
        if (vfp && (f.type == 'V' || f.type == 'Q')) ++bit;  // variable length marker bit
        if (vfp && (f.flags & 0x02)) mine = bit++;
        nullBits_.push_back(mine);
    }
    if (nullFlagsOffset_ < 0)
        for (auto& b : nullBits_) b = -1;
    else
        for (auto& b : nullBits_)
            if (b >= nullFlagsLength_ * 8) b = -1;

    // Memo file.
    memo_.reset();
    if (hasMemoFields() || (vfp && (headerFlags_ & 0x02))) {
        const std::string fpt = io::resolveCase(io::withExtension(path_, ".fpt"));
        const std::string dbt = io::resolveCase(io::withExtension(path_, ".dbt"));
        const bool dbase = version_ == 0x83 || version_ == 0x8B;
        std::string memoPath;
        MemoFile::Kind kind = MemoFile::Kind::Fpt;
        if (dbase) {
            memoPath = io::exists(dbt) ? dbt : "";
            kind = MemoFile::Kind::Dbt;
        } else if (io::exists(fpt)) {
            memoPath = fpt;
        } else if (io::exists(dbt)) {
            memoPath = dbt;
            kind = MemoFile::Kind::Dbt;
        }
        if (memoPath.empty()) {
            if (hasMemoFields()) {
                error = path_ + ": the memo file " +
                        io::fileNameOf(io::withExtension(path_, dbase ? ".dbt" : ".fpt")) + " is missing";
                return false;
            }
        } else {
            memo_ = MemoFile::open(memoPath, kind, readOnly_, error);
            if (!memo_) return false;
        }
    }

    // Production index.
    cdx_.reset();
    tag_ = -1;
    indexUnmaintainable_.clear();
    if ((headerFlags_ & 0x01) && withoutIndex) {
        indexUnmaintainable_ = "the table was opened without its production index";
    } else if (headerFlags_ & 0x01) {
        const std::string cdx = indexPath();
        if (!io::exists(cdx)) {
            error = path_ + ": the production index " + io::fileNameOf(io::withExtension(path_, ".cdx")) +
                    " is missing";
            return false;
        }
        cdx_ = CdxFile::open(cdx, fields_, error, codepageFromByte(codepage_));
        if (!cdx_) {
            if (error.empty()) error = cdx + ": cannot open the index";
            return false;
        }
        std::string why;
        if (!cdx_->maintainable(why))
            indexUnmaintainable_ = why.empty() ? cdx + ": a tag cannot be evaluated" : why;
    }

    rec_.assign(recordLength_, ' ');
    recOld_ = rec_;
    oldInCache_ = false;
    cacheCount_ = 0;
    recno_ = 0;
    eof_ = bof_ = recCount_ == 0;
    dirty_ = false;
    orderValid_ = false;
    memoStartsKnown_ = false;
    if (recCount_ > 0) {
        if (!loadCurrent(1)) {
            error = error_;
            return false;
        }
    }
    if (repairCount) {
        uint8_t c[4];
        putLe32(c, recCount_);
        const uint8_t clear = 0;
        if (!file_->writeAt(4, c, 4) || !file_->writeAt(14, &clear, 1) || !file_->sync()) {
            error = path_ + ": cannot correct the record count after an interrupted append (" +
                    io::lastSystemError() + ")";
            return false;
        }
        std::memcpy(&headerRaw_[4], c, 4);
        headerRaw_[14] = 0;
    }
    appendsUnsynced_ = false;
    return true;
}

// ---- Creating ----

std::unique_ptr<Table> Table::create(const std::string& path, const std::vector<NewField>& fields,
                                     Format format, uint8_t codepage, std::string& error) {
    std::string real = path;
    if (!io::hasExtension(real)) real += ".dbf";
    real = io::resolveCase(real);
    if (io::exists(real)) {
        error = real + ": the table exists already";
        return nullptr;
    }
    if (fields.empty() || fields.size() > 255) {
        error = real + ": a table needs 1 to 255 fields";
        return nullptr;
    }
    const bool vfp = format == Format::Vfp;
    bool memo = false;
    int nullable = 0;
    std::vector<FieldDesc> descs;
    uint32_t offset = 1;
    for (const auto& nf : fields) {
        FieldDesc f;
        f.name = upper(trim(nf.name));
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(nf.type)));
        f.length = nf.length;
        f.decimals = nf.decimals;
        f.flags = vfp ? nf.flags : 0;
        const auto bad = [&](const std::string& why) {
            error = real + ": field " + (f.name.empty() ? std::string("(no name)") : f.name) + " " + why;
            return nullptr;
        };
        if (f.name.empty() || f.name.size() > 10 || !std::isalpha(static_cast<unsigned char>(f.name[0])) ||
            !std::all_of(f.name.begin(), f.name.end(), nameChar))
            return bad("has an invalid name (1 to 10 letters, digits or _, starting with a letter)");
        for (const auto& other : descs)
            if (other.name == f.name) return bad("is named twice");
        switch (f.type) {
            case 'C':
                if (f.length < 1 || f.length > 254) return bad("needs a length of 1 to 254");
                f.decimals = 0;
                break;
            case 'N':
            case 'F':
                if (f.length < 1 || f.length > 20) return bad("needs a length of 1 to 20");
                if (f.decimals > 0 && f.decimals + 2 > f.length)
                    return bad("has too many decimals for its length");
                break;
            case 'L':
                f.length = 1;
                f.decimals = 0;
                break;
            case 'D':
                f.length = 8;
                f.decimals = 0;
                break;
            case 'M':
                f.length = vfp ? 4 : 10;
                f.decimals = 0;
                memo = true;
                break;
            case 'I':
                if (!vfp) return bad("of type I needs a Visual FoxPro table");
                f.length = 4;
                f.decimals = 0;
                break;
            case 'Y':
            case 'T':
            case 'B':
                if (!vfp) return bad(std::string("of type ") + f.type + " needs a Visual FoxPro table");
                f.length = 8;
                f.decimals = f.type == 'Y' ? 4 : 0;
                break;
            default:
                return bad(std::string("has a type the engine does not create (") + f.type + ")");
        }
        if (f.flags & 0x02) ++nullable;
        f.offset = offset;
        offset += f.length;
        descs.push_back(f);
    }
    if (nullable > 0) {
        FieldDesc nf;
        nf.name = "_NullFlags";
        nf.type = '0';
        nf.length = static_cast<uint16_t>((nullable + 7) / 8);
        nf.flags = 0x05;
        nf.offset = offset;
        offset += nf.length;
        descs.push_back(nf);
    }
    if (offset > 65535) {
        error = real + ": the record would be longer than 65535 bytes";
        return nullptr;
    }
    uint8_t version = 0x03;
    const bool autoinc = vfp && std::any_of(descs.begin(), descs.end(), isAutoIncrement);
    if (vfp)
        version = autoinc ? 0x31 : 0x30;
    else if (memo)
        version = format == Format::DBase3 ? 0x83 : 0xF5;
    const uint32_t headerLength = 32 + 32 * static_cast<uint32_t>(descs.size()) + 1 + (vfp ? 263 : 0);
    std::vector<uint8_t> h(headerLength + 1, 0);
    h[0] = version;
    const HeaderDate d = today();
    h[1] = uint8_t(d.year - 1900);
    h[2] = uint8_t(d.month);
    h[3] = uint8_t(d.day);
    putLe16(&h[8], static_cast<uint16_t>(headerLength));
    putLe16(&h[10], static_cast<uint16_t>(offset));
    h[28] = (vfp && memo) ? 0x02 : 0x00;
    h[29] = codepage == 0 ? 0x03 : codepage;
    for (size_t i = 0; i < descs.size(); ++i) {
        uint8_t* p = &h[32 + 32 * i];
        std::memcpy(p, descs[i].name.data(), std::min<size_t>(descs[i].name.size(), 10));
        p[11] = static_cast<uint8_t>(descs[i].type);
        if (format != Format::DBase3) putLe32(p + 12, descs[i].offset);
        p[16] = static_cast<uint8_t>(descs[i].length);
        p[17] = descs[i].decimals;
        p[18] = descs[i].flags;
        if (vfp && isAutoIncrement(descs[i])) {
            putLe32(p + 19, 1);  // next value
            p[23] = 1;           // step
        }
    }
    h[32 + 32 * descs.size()] = 0x0D;
    h[headerLength] = 0x1A;

    if (memo) {
        const std::string memoPath = io::withExtension(real, format == Format::DBase3 ? ".dbt" : ".fpt");
        if (!MemoFile::create(memoPath, format == Format::DBase3 ? MemoFile::Kind::Dbt : MemoFile::Kind::Fpt,
                              64, true, error))
            return nullptr;
    }
    if (!writeNewTableFile(real, h, error)) return nullptr;
    return open(real, error);
}

std::unique_ptr<Table> Table::copyStructure(const std::string& newPath, std::string& error) const {
    std::string real = newPath;
    if (!io::hasExtension(real)) real += ".dbf";
    real = io::resolveCase(real);
    // The header as it was read: the same descriptors, with no records, today's date, no index and no
    // unsynced-appends mark.
    std::vector<uint8_t> h = headerRaw_;
    putLe32(&h[4], 0);
    const HeaderDate d = today();
    h[1] = uint8_t(d.year - 1900);
    h[2] = uint8_t(d.month);
    h[3] = uint8_t(d.day);
    h[14] = 0;
    h[28] &= static_cast<uint8_t>(~0x01);  // no index
    std::vector<FieldDesc> all;
    std::vector<uint32_t> allPos;
    size_t terminator = 0;
    std::string why;
    if (!parseFields(h, isVfp(version_), recordLength_, all, allPos, terminator, why)) {
        error = real + ": cannot copy the structure of " + path_ + " (" + why + ")";
        return nullptr;
    }
    // The backlink of a Visual FoxPro table (whatever follows the field list, 263 bytes when whole)
    // names a database container; a copy belongs to none.
    if (isVfp(version_)) std::fill(h.begin() + long(terminator) + 1, h.end(), 0);
    h.push_back(0x1A);
    // The new files are written beside their targets and renamed in, the table first: an empty table
    // beside the memo file it replaces is sound, the other way round it would not be.
    std::string memoTarget, memoFresh;
    if (memo_) {
        memoTarget =
            io::resolveCase(io::withExtension(real, memo_->kind() == MemoFile::Kind::Dbt ? ".dbt" : ".fpt"));
        memoFresh = memoTarget + kCreateSuffix;
        if (!MemoFile::create(memoFresh, memo_->kind(), memo_->blockSize(), true, error)) {
            io::removeFile(memoFresh);
            return nullptr;
        }
    }
    if (!writeNewTableFile(real, h, error)) {
        if (!memoFresh.empty()) io::removeFile(memoFresh);
        return nullptr;
    }
    if (!memoFresh.empty() && !io::replaceFile(memoFresh, memoTarget, why)) {
        io::removeFile(memoFresh);
        error = memoTarget + ": cannot create the memo file (" + why + ")";
        return nullptr;
    }
    return open(real, error);
}

// ---- Records ----

bool Table::readRecordRaw(uint32_t recno, uint8_t* out) {
    if (recno < 1 || recno > recCount_)
        return fail(path_ + ": record " + std::to_string(recno) + " does not exist");
    const uint32_t inFile = fileCount();
    if (recno > inFile) {  // an append not yet written
        std::memcpy(out, pending_.data() + size_t(recno - inFile - 1) * recordLength_, recordLength_);
        return true;
    }
    if (recno >= cacheFirst_ && recno < cacheFirst_ + cacheCount_) {
        std::memcpy(out, cache_.data() + size_t(recno - cacheFirst_) * recordLength_, recordLength_);
        return true;
    }
    keepOldRecord();  // the cache is about to be filled again
    // Sequential reading (forwards from the record after the cached ones, backwards from the one before
    // them, or from the first record) fills the cache in large pieces; a jump elsewhere (tag order, go)
    // reads a small piece, so that walking a tag does not read a large piece for every record.
    const bool forward = cacheCount_ > 0 ? recno == cacheFirst_ + cacheCount_ : recno == 1;
    const bool backward = cacheCount_ > 0 && recno + 1 == cacheFirst_;
    const size_t bytes = forward || backward ? kCacheBytes : kJumpBytes;
    const uint32_t per = std::max<uint32_t>(1, static_cast<uint32_t>(bytes / recordLength_));
    uint32_t first = recno;
    // Reading backwards (skip -1) fills the cache with the records before this one.
    if (backward) first = recno >= per ? recno - per + 1 : 1;
    const uint32_t count = std::min<uint32_t>(per, inFile - first + 1);
    cache_.resize(size_t(count) * recordLength_);
    const uint64_t pos = uint64_t(headerLength_) + uint64_t(first - 1) * recordLength_;
    const long long got = file_->readSomeAt(pos, cache_.data(), cache_.size());
    if (got < 0 || static_cast<uint64_t>(got) < uint64_t(recno - first + 1) * recordLength_) {
        cacheCount_ = 0;
        return fail(path_ + ": record " + std::to_string(recno) + " cannot be read (the file is truncated)");
    }
    cacheFirst_ = first;
    cacheCount_ = static_cast<uint32_t>(static_cast<uint64_t>(got) / recordLength_);
    std::memcpy(out, cache_.data() + size_t(recno - first) * recordLength_, recordLength_);
    return true;
}

bool Table::loadCurrent(uint32_t recno, bool fresh) {
    if (fresh && recno >= 1 && recno <= fileCount()) {
        // Random access reads the record itself, so that changes through other handles are seen.
        const uint64_t pos = uint64_t(headerLength_) + uint64_t(recno - 1) * recordLength_;
        if (!file_->readAt(pos, rec_.data(), recordLength_))
            return fail(path_ + ": record " + std::to_string(recno) +
                        " cannot be read (the file is truncated)");
        if (recno >= cacheFirst_ && recno < cacheFirst_ + cacheCount_)
            std::memcpy(cache_.data() + size_t(recno - cacheFirst_) * recordLength_, rec_.data(),
                        recordLength_);
    } else if (!readRecordRaw(recno, rec_.data())) {
        return false;
    }
    recOld_ = rec_;
    oldInCache_ = false;
    recno_ = recno;
    eof_ = bof_ = false;
    dirty_ = false;
    return ok();
}

void Table::setEof() {
    eof_ = true;
    recno_ = recCount_ + 1;
    std::fill(rec_.begin(), rec_.end(), ' ');
    if (nullFlagsOffset_ >= 0)
        std::fill(rec_.begin() + nullFlagsOffset_, rec_.begin() + nullFlagsOffset_ + nullFlagsLength_, 0);
    recOld_ = rec_;
    oldInCache_ = false;
    dirty_ = false;
}

void Table::keepOldRecord() {
    if (!oldInCache_) return;
    oldInCache_ = false;
    std::memcpy(recOld_.data(), cache_.data() + size_t(recno_ - cacheFirst_) * recordLength_, recordLength_);
}

bool Table::checkWritable(bool memoFileToo) {
    if (readOnly_) return fail(path_ + ": the table is open for reading only");
    if (memoFileToo && memo_ && !memo_->damage().empty())
        return fail(path_ + ": the table cannot be changed because its memo file is damaged (" +
                    memo_->damage() + ")");
    if (!indexUnmaintainable_.empty())
        return fail(path_ + ": the table cannot be changed because its index cannot be kept up to date (" +
                    indexUnmaintainable_ + ")");
    if (cdx_) {
        // The index's trees are validated on first use, not at open: damage found here stops the change
        // before any byte of the table is written.
        std::string err;
        if (!cdx_->validate(err)) return fail(err.empty() ? indexPath() + ": the index is damaged" : err);
    }
    return true;
}

bool Table::writeHeaderCount() {
    // Date, count and the unsynced-appends mark (byte 14) in one write, so that they reach the disk
    // together.
    uint8_t h[14];
    const HeaderDate d = today();
    h[0] = uint8_t(d.year - 1900);
    h[1] = uint8_t(d.month);
    h[2] = uint8_t(d.day);
    putLe32(h + 3, recCount_);
    std::memcpy(h + 7, &headerRaw_[8], 6);  // header and record lengths, reserved bytes: as they are
    h[13] = appendsUnsynced_ ? kAppendsUnsynced : 0;
    if (!file_->writeAt(1, h, sizeof h))
        return fail(path_ + ": cannot write the header (" + io::lastSystemError() + ")");
    lastUpdate_ = d;
    dateWritten_ = true;
    std::memcpy(&headerRaw_[1], h, sizeof h);
    return true;
}

bool Table::refreshCount() {
    // Another handle on the same file may have appended records; not while this one holds appends that
    // are not written yet (one writer at a time).
    if (!pending_.empty()) return true;
    uint8_t c[4];
    if (!file_->readAt(4, c, 4))
        return fail(path_ + ": cannot read the header (" + io::lastSystemError() + ")");
    const uint32_t n = le32(c);
    if (n != recCount_) {
        const long long size = file_->size();
        if (size >= 0 &&
            uint64_t(headerLength_) + uint64_t(n) * recordLength_ <= static_cast<uint64_t>(size)) {
            recCount_ = n;
            cacheCount_ = 0;
            orderValid_ = false;
            memoStartsKnown_ = false;  // the other handle's records may point to memos too
        }
    }
    return true;
}

bool Table::writeCurrent() {
    return storeCurrent() && writeAppends();
}

bool Table::storeCurrent() {
    if (!dirty_) return true;
    if (!checkWritable()) return false;
    keepOldRecord();  // before the cache takes the changed record
    if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record to write");
    if (recno_ > fileCount()) {
        // An append not yet written: it changes in the batch (its keys go to the index with it).
        std::memcpy(pending_.data() + size_t(recno_ - fileCount() - 1) * recordLength_, rec_.data(),
                    recordLength_);
        dirty_ = false;
        recOld_ = rec_;
        return true;
    }
    if (cdx_ && rec_ != recOld_) {
        // An index that cannot take the change refuses it before the record is written.
        std::string err;
        if (!cdx_->canUpdate(recno_, recOld_.data(), rec_.data(), err))
            return fail(err.empty() ? indexPath() + ": cannot update the index" : err);
    }
    const uint64_t pos = uint64_t(headerLength_) + uint64_t(recno_ - 1) * recordLength_;
    if (!file_->writeAt(pos, rec_.data(), rec_.size()))
        return fail(path_ + ": cannot write record " + std::to_string(recno_) + " (" + io::lastSystemError() +
                    ")");
    unsynced_ = true;
    if (recno_ >= cacheFirst_ && recno_ < cacheFirst_ + cacheCount_)
        std::memcpy(cache_.data() + size_t(recno_ - cacheFirst_) * recordLength_, rec_.data(), recordLength_);
    dirty_ = false;
    if (!dateWritten_ && !writeHeaderCount()) return false;
    if (cdx_ && rec_ != recOld_) {
        std::string err;
        if (!cdx_->update(recno_, recOld_.data(), rec_.data(), err)) {
            recOld_ = rec_;
            return fail(err.empty() ? indexPath() + ": cannot update the index" : err);
        }
        orderValid_ = false;
    }
    recOld_ = rec_;
    return true;
}

bool Table::flush() {
    bool good = writeCurrent();
    if (good && unsynced_) {
        // memos before the records that point to them
        if ((memo_ && !memo_->sync()) || !file_->sync()) {
            good = fail(path_ + ": cannot flush the table to disk (" + io::lastSystemError() + ")");
        } else {
            unsynced_ = false;
            if (appendsUnsynced_) {
                // The appended records are on the disk: the mark goes. Not synced itself; a mark that
                // stays only lets the next open accept a count that the file turns out to hold anyway.
                appendsUnsynced_ = false;
                const uint8_t clear = 0;
                if (file_->writeAt(14, &clear, 1)) headerRaw_[14] = 0;
            }
        }
    }
    if (good && cdx_) {
        std::string err;
        if (!cdx_->flush(err)) good = fail(err);
    }
    if (good) error_.clear();
    return good;
}

bool Table::go(uint32_t recno) {
    if (!writeCurrent()) return false;
    if (!refreshCount()) return false;
    if (recno < 1 || recno > recCount_) {
        setEof();
        return fail(path_ + ": record " + std::to_string(recno) + " does not exist (the table has " +
                    std::to_string(recCount_) + ")");
    }
    return loadCurrent(recno, true);
}

bool Table::ensureOrder() {
    if (orderValid_) return true;
    std::vector<std::pair<std::string, uint32_t>> keys;
    std::string err;
    if (!cdx_->walk(tag_, keys, err)) return fail(err.empty() ? indexPath() + ": cannot read the tag" : err);
    order_.clear();
    order_.reserve(keys.size());
    orderPos_.assign(size_t(recCount_) + 1, 0);
    for (const auto& k : keys) {
        if (k.second < 1 || k.second > recCount_) continue;
        order_.push_back(k.second);
        orderPos_[k.second] = static_cast<uint32_t>(order_.size());
    }
    orderValid_ = true;
    return true;
}

// top and bottom of a table (or tag) with no records: at both ends at once, which is no error.
bool Table::atEmptyTable() {
    setEof();
    bof_ = true;
    error_.clear();
    return false;
}

bool Table::top() {
    if (!writeCurrent() || !refreshCount()) return false;
    cacheCount_ = 0;
    bof_ = false;
    if (tag_ >= 0) {
        if (!ensureOrder()) return false;
        if (order_.empty()) return atEmptyTable();
        return loadCurrent(order_.front());
    }
    if (recCount_ == 0) return atEmptyTable();
    return loadCurrent(1);
}

bool Table::bottom() {
    if (!writeCurrent() || !refreshCount()) return false;
    cacheCount_ = 0;
    if (tag_ >= 0) {
        if (!ensureOrder()) return false;
        if (order_.empty()) return atEmptyTable();
        return loadCurrent(order_.back());
    }
    if (recCount_ == 0) return atEmptyTable();
    return loadCurrent(recCount_);
}

bool Table::skip(int n) {
    // The common step of a scan: the next record in record order, already read ahead into the cache.
    if (n == 1 && tag_ < 0 && !dirty_ && !eof_ && recno_ >= 1 && recno_ < recCount_) {
        const uint32_t next = recno_ + 1;
        if (next >= cacheFirst_ && next < cacheFirst_ + cacheCount_) {
            const uint8_t* src = cache_.data() + size_t(next - cacheFirst_) * recordLength_;
            std::memcpy(rec_.data(), src, recordLength_);
            oldInCache_ = true;  // recOld_ is copied from the cache only if the record is changed
            recno_ = next;
            bof_ = false;
            if (!error_.empty()) error_.clear();
            return true;
        }
    }
    if (!writeCurrent()) return false;
    error_.clear();
    if (n == 0) return !eof_;
    if (tag_ >= 0) {
        if (!ensureOrder()) return false;
        long long pos;  // 0-based position in the tag
        if (eof_ || recno_ < 1 || recno_ > recCount_) {
            if (n > 0) return false;
            pos = static_cast<long long>(order_.size());
        } else {
            const uint32_t p = recno_ < orderPos_.size() ? orderPos_[recno_] : 0;
            if (p == 0) return fail(path_ + ": the current record is not in the selected tag");
            pos = p - 1;
        }
        const long long target = pos + n;
        if (target < 0) {
            bof_ = true;
            if (!order_.empty()) loadCurrent(order_.front());
            bof_ = true;
            return false;
        }
        if (target >= static_cast<long long>(order_.size())) {
            setEof();
            return false;
        }
        return loadCurrent(order_[static_cast<size_t>(target)]);
    }
    long long target;
    if (eof_ || recno_ < 1) {
        if (n > 0) return false;
        target = static_cast<long long>(recCount_) + n + 1;
        if (recno_ < 1) target = n + 1;
    } else {
        target = static_cast<long long>(recno_) + n;
    }
    if (target < 1) {
        if (recCount_ > 0) loadCurrent(1);
        bof_ = true;
        return false;
    }
    if (target > static_cast<long long>(recCount_)) {
        setEof();
        return false;
    }
    return loadCurrent(static_cast<uint32_t>(target));
}

bool Table::deleted() const {
    return recno_ >= 1 && recno_ <= recCount_ && rec_[0] == '*';
}

bool Table::deleteRecord() {
    if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record to delete");
    if (!checkWritable()) return false;
    if (rec_[0] != '*') {
        rec_[0] = '*';
        dirty_ = true;
    }
    return writeCurrent() && ok();
}

bool Table::recall() {
    if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record to recall");
    if (!checkWritable()) return false;
    if (rec_[0] != ' ') {
        rec_[0] = ' ';
        dirty_ = true;
    }
    return writeCurrent() && ok();
}

std::vector<uint8_t> Table::blankRecord() const {
    std::vector<uint8_t> blank(recordLength_, ' ');
    if (nullFlagsOffset_ >= 0) {
        std::fill(blank.begin() + nullFlagsOffset_, blank.begin() + nullFlagsOffset_ + nullFlagsLength_, 0);
    }
    // Binary fields of Visual FoxPro start as zeros; memo pointers of 4 bytes as 0.
    for (const auto& f : fields_) {
        const bool binary = f.type == 'I' || f.type == 'Y' || f.type == 'B' || f.type == 'T' ||
                            ((f.type == 'M' || f.type == 'G' || f.type == 'P') && f.length == 4);
        if (binary || (f.type == 'V' || f.type == 'Q'))
            std::fill(blank.begin() + f.offset, blank.begin() + f.offset + f.length, 0);
        if (f.type == 'V' && f.length > 0)
            std::fill(blank.begin() + f.offset, blank.begin() + f.offset + f.length, ' ');
    }
    return blank;
}

bool Table::appendBlank() {
    return appendRecord({});
}

bool Table::appendRecord(const std::vector<NewValue>& values, bool deleted) {
    if (!storeCurrent() || !checkWritable() || !refreshCount()) return false;
    // The new record is built in a buffer kept from one append to the next.
    if (blank_.size() != recordLength_) blank_ = blankRecord();
    std::vector<uint8_t>& rec = appendBuf_;
    rec = blank_;
    // Visual FoxPro autoincrement integers take the next value kept in their field descriptor (read from
    // the file: another handle may have counted); the descriptors move on only when the record is added.
    std::vector<std::pair<size_t, uint32_t>> counters;  // field, its next value after this record
    if (isVfp(version_)) {
        for (size_t i = 0; i < fields_.size(); ++i) {
            const FieldDesc& f = fields_[i];
            if (!isAutoIncrement(f) || f.length != 4) continue;
            uint8_t cur[5];
            std::memcpy(cur, &headerRaw_[descPos_[i] + 19], 5);
            if (file_->readAt(descPos_[i] + 19, cur, 5)) std::memcpy(&headerRaw_[descPos_[i] + 19], cur, 5);
            const uint32_t next = le32(cur);
            putLe32(&rec[f.offset], next);
            counters.emplace_back(i, next + (cur[4] ? cur[4] : 1));
        }
    }
    // The values, checked into the new record's buffer: nothing is written yet.
    std::vector<const NewValue*> memos;
    for (const NewValue& v : values) {
        if (v.field < 0 || v.field >= fieldCount())
            return fail(path_ + ": there is no field number " + std::to_string(v.field + 1));
        const FieldDesc& f = fields_[v.field];
        if (v.raw) {
            if (v.bytes.size() != f.length)
                return fail(path_ + ": field " + f.name + " holds " + std::to_string(f.length) +
                            " bytes, not " + std::to_string(v.bytes.size()));
            std::memcpy(&rec[f.offset], v.bytes.data(), f.length);
        } else if (isMemoType(f.type, version_)) {
            if (!v.bytes.empty() && !memo_)
                return fail(path_ + ": field " + f.name + " is a memo, but the table has no memo file");
            memos.push_back(&v);
        } else if (!putValue(v.field, v.bytes, rec)) {
            return false;
        }
    }
    if (deleted) rec[0] = '*';
    // The memos, then the record: a memo that cannot be written takes back the ones before it.
    MemoFile::Mark mark;
    if (memo_) mark = memo_->mark();
    if (pending_.empty()) {
        pendingMemoNextFree_ = mark.nextFree;
        pendingMemoSize_ = mark.size;
    }
    // The memos of a batch of appends are gathered and written with it (before its records).
    if (memo_ && !memos.empty() && memo_->kind() == MemoFile::Kind::Fpt && !memo_->bulk()) memo_->beginBulk();
    std::vector<uint32_t> written;
    const auto takeBack = [&](std::string why) {
        std::string ignored;
        if (memo_) memo_->rollback(mark, ignored);
        return fail(std::move(why));
    };
    for (const NewValue* v : memos) {
        uint32_t block = 0;
        std::string err;
        if (!memo_->write(0, v->bytes, block, err)) return takeBack(err);
        putMemoBlock(rec, v->field, block);
        putNull(rec, v->field, false);
        if (block) written.push_back(block);
    }
    if (!written.empty()) unsynced_ = true;

    // The record joins the batch; the batch is written when it is full or before any other operation.
    const uint32_t recno = recCount_ + 1;
    pending_.insert(pending_.end(), rec.begin(), rec.end());
    recCount_ = recno;
    for (const auto& [i, next] : counters) {
        putLe32(&headerRaw_[descPos_[i] + 19], next);
        file_->writeAt(descPos_[i] + 19, &headerRaw_[descPos_[i] + 19], 4);
    }
    if (memoStartsKnown_)
        for (uint32_t block : written) ++memoStarts_[block];
    rec_ = rec;
    recOld_ = rec;
    oldInCache_ = false;
    recno_ = recno;
    eof_ = bof_ = false;
    dirty_ = false;
    // A table numbering its records itself (Visual FoxPro autoincrement) writes each append at once,
    // so that other handles count on from it.
    if ((pending_.size() >= kAppendBatchBytes || !counters.empty()) && !writeAppends()) return false;
    return ok();
}

bool Table::writeAppends() {
    std::string err;
    const bool memosWritten = !memo_ || !memo_->bulk() || memo_->endBulk(err);
    if (pending_.empty()) return memosWritten || fail(err);
    const uint32_t count = pendingCount();
    const uint32_t first = fileCount() + 1;
    // When the batch cannot be written, none of it is added: the memos written for it are taken back.
    const auto abandon = [&](std::string why) {
        pending_.clear();
        recCount_ = first - 1;
        memoStartsKnown_ = false;
        orderValid_ = false;
        if (memo_) {
            std::string ignored;
            memo_->rollback(MemoFile::Mark{pendingMemoNextFree_, pendingMemoSize_}, ignored);
        }
        if (recno_ >= first) setEof();
        return fail(std::move(why));
    };
    if (!memosWritten) return abandon(err);
    // The memos, the records (and the end marker), then the count: a crash of the process in between
    // loses only this batch. No sync between them (see "Durability" in dbf.h for what power loss can do).
    pending_.push_back(0x1A);
    const uint64_t pos = uint64_t(headerLength_) + uint64_t(first - 1) * recordLength_;
    if (!file_->writeAt(pos, pending_.data(), pending_.size()))
        return abandon(path_ + ": cannot append " +
                       (count == 1 ? "a record" : std::to_string(count) + " records") + " (" +
                       io::lastSystemError() + ")");
    pending_.pop_back();
    unsynced_ = true;
    appendsUnsynced_ = true;
    if (!writeHeaderCount()) return abandon(error_);
    std::vector<uint8_t> written = std::move(pending_);
    pending_.clear();
    if (cdx_) {
        orderValid_ = false;
        for (uint32_t i = 0; i < count; ++i)
            if (!cdx_->insert(first + i, written.data() + size_t(i) * recordLength_, err))
                return fail(err.empty() ? indexPath() + ": cannot add the record to the index" : err);
    }
    return true;
}

CdxFile* Table::index() {
    writeAppends();
    return cdx_.get();
}

bool Table::appendRecordFrom(Table& source) {
    if (source.recno_ < 1 || source.recno_ > source.recCount_)
        return fail(source.path_ + ": there is no current record to copy");
    if (!appendBlank()) return false;
    for (int i = 0; i < fieldCount(); ++i) {
        const int j = source.fieldIndex(fields_[i].name);
        if (j < 0) continue;
        const FieldDesc& a = fields_[i];
        const FieldDesc& b = source.fields_[j];
        const bool memoA = isMemoType(a.type, version_), memoB = isMemoType(b.type, source.version_);
        if (memoA || memoB) {
            const std::string text = source.getText(j);
            if (!source.error_.empty()) return fail(source.error_);
            if (!text.empty() && !setText(i, text)) return false;
        } else if (a.type == 'C' && b.type == 'C' &&
                   codepageFromByte(codepage_) != codepageFromByte(source.codepage_)) {
            // text between tables of different codepages goes through Unicode
            const std::string text = fromUtf16(toUtf16(source.getText(j), codepageFromByte(source.codepage_)),
                                               codepageFromByte(codepage_));
            if (!setText(i, text)) return false;
        } else if (a.type == b.type && a.length == b.length && a.decimals == b.decimals) {
            std::memcpy(&rec_[a.offset], &source.rec_[b.offset], a.length);
            if (source.isNull(j)) setNull(i, true);
            dirty_ = true;
        } else {
            const std::string text =
                a.type == 'D' || b.type == 'D' ? source.getDate(j) : trim(source.getText(j));
            if (!text.empty() && !setText(i, text)) return false;
        }
    }
    if (source.rec_[0] == '*') {
        rec_[0] = '*';
        dirty_ = true;
    }
    return storeCurrent() && ok();
}

// ---- Fields ----

uint32_t Table::memoBlockIn(const std::vector<uint8_t>& rec, int field) const {
    const FieldDesc& f = fields_[field];
    const uint8_t* p = &rec[f.offset];
    if (f.length == 4) return le32(p);
    // Digits of a character pointer; more than a block number holds saturate (and point past any file).
    uint64_t v = 0;
    for (int i = 0; i < f.length; ++i) {
        if (p[i] >= '0' && p[i] <= '9') v = std::min<uint64_t>(v * 10 + (p[i] - '0'), UINT32_MAX);
    }
    return static_cast<uint32_t>(v);
}

void Table::putMemoBlock(std::vector<uint8_t>& rec, int field, uint32_t block) const {
    const FieldDesc& f = fields_[field];
    uint8_t* p = &rec[f.offset];
    if (f.length == 4) {
        putLe32(p, block);
    } else {
        std::fill(p, p + f.length, ' ');
        if (block != 0) {
            const std::string s = std::to_string(block);
            if (s.size() <= f.length) std::memcpy(p + f.length - s.size(), s.data(), s.size());
        }
    }
}

void Table::setMemoBlock(int field, uint32_t block) {
    putMemoBlock(rec_, field, block);
    dirty_ = true;
}

int Table::nullBit(int field) const {
    return field >= 0 && size_t(field) < nullBits_.size() ? nullBits_[field] : -1;
}

void Table::putNull(std::vector<uint8_t>& rec, int field, bool null) const {
    const int b = nullBit(field);
    if (b < 0) return;
    uint8_t& byte = rec[nullFlagsOffset_ + b / 8];
    const uint8_t mask = uint8_t(1u << (b % 8));
    byte = null ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
}

void Table::setNull(int field, bool null) {
    const int b = nullBit(field);
    if (b < 0) return;
    const uint8_t before = rec_[nullFlagsOffset_ + b / 8];
    putNull(rec_, field, null);
    if (rec_[nullFlagsOffset_ + b / 8] != before) dirty_ = true;
}

std::string Table::rawField(int field) const {
    if (field < 0 || field >= fieldCount()) return {};
    const FieldDesc& f = fields_[field];
    return std::string(reinterpret_cast<const char*>(&rec_[f.offset]), f.length);
}

bool Table::setRawField(int field, std::string_view bytes) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (bytes.size() != f.length)
        return fail(path_ + ": field " + f.name + " holds " + std::to_string(f.length) + " bytes, not " +
                    std::to_string(bytes.size()));
    if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
    if (!checkWritable()) return false;
    std::memcpy(&rec_[f.offset], bytes.data(), f.length);
    if (isMemoType(f.type, version_)) memoStartsKnown_ = false;
    dirty_ = true;
    return ok();
}

std::string Table::fieldMemo(int field) {
    if (!memo_) {
        fail(path_ + ": field " + fields_[field].name + " is a memo, but the table has no memo file");
        return {};
    }
    const uint32_t block = memoBlock(field);
    std::string out, err;
    if (memo_->bulk() && !memo_->endBulk(err)) {  // memos of appends not yet written are read from the file
        fail(err);
        return {};
    }
    if (!memo_->read(block, out, err)) {
        fail(err + " (field " + fields_[field].name + ", record " + std::to_string(recno_) + " of " + path_ +
             ")");
        return {};
    }
    error_.clear();
    return out;
}

bool Table::storeMemo(int field, std::string_view bytes) {
    if (!memo_)
        return fail(path_ + ": field " + fields_[field].name + " is a memo, but the table has no memo file");
    const uint32_t old = memoBlock(field);
    // The old memo's blocks are reused only when no other pointer starts within them.
    const uint32_t ownedEnd = memo_->fitsInPlace(old, bytes.size()) ? memoOwnedEnd(old) : 0;
    uint32_t block = 0;
    std::string err;
    if (!memo_->write(old, bytes, block, err, ownedEnd)) return fail(err);
    unsynced_ = true;
    memoPointerMoved(old, block);
    setMemoBlock(field, block);
    return true;
}

bool Table::knowMemoStarts() {
    if (memoStartsKnown_) return true;
    memoStarts_.clear();
    std::vector<int> memoFields;
    for (int i = 0; i < fieldCount(); ++i)
        if (isMemoType(fields_[i].type, version_)) memoFields.push_back(i);
    std::vector<uint8_t> rec;
    for (uint32_t r = 1; r <= recCount_; ++r) {
        if (!reader_->readRecord(r, rec)) return false;
        for (int i : memoFields)
            if (const uint32_t b = memoBlockIn(rec, i)) ++memoStarts_[b];
    }
    memoStartsKnown_ = true;
    return true;
}

uint32_t Table::memoOwnedEnd(uint32_t block) {
    if (block == 0 || !knowMemoStarts()) return 0;
    const auto it = memoStarts_.find(block);
    if (it == memoStarts_.end() || it->second != 1) return 0;  // not this field's alone
    const auto next = std::next(it);
    return next == memoStarts_.end() ? UINT32_MAX : next->first;
}

void Table::memoPointerMoved(uint32_t from, uint32_t to) {
    if (!memoStartsKnown_ || from == to) return;
    if (from != 0) {
        const auto it = memoStarts_.find(from);
        if (it != memoStarts_.end() && --it->second == 0) memoStarts_.erase(it);
    }
    if (to != 0) ++memoStarts_[to];
}

std::string Table::getText(int field) {
    error_.clear();
    if (field < 0 || field >= fieldCount()) {
        fail(path_ + ": there is no field number " + std::to_string(field + 1));
        return {};
    }
    if (recno_ < 1 || recno_ > recCount_) {
        // At the end of the table fields read as blank.
        if (isMemoType(fields_[field].type, version_)) return {};
        return rawField(field);
    }
    if (isNull(field)) return {};
    const FieldDesc& f = fields_[field];
    if (isMemoType(f.type, version_)) return fieldMemo(field);
    return rawField(field);
}

int64_t Table::getInt(int field) {
    const double v = getDouble(field);
    if (v >= 9.2e18) return INT64_MAX;
    if (v <= -9.2e18) return INT64_MIN;
    return static_cast<int64_t>(v);
}

double Table::getDouble(int field) {
    error_.clear();
    if (field < 0 || field >= fieldCount()) {
        fail(path_ + ": there is no field number " + std::to_string(field + 1));
        return 0;
    }
    if (isNull(field)) return 0;
    const FieldDesc& f = fields_[field];
    const uint8_t* p = &rec_[f.offset];
    switch (f.type) {
        case 'I':
            return f.length == 4 ? static_cast<int32_t>(le32(p)) : 0;
        case 'Y':
            if (f.length == 8) {
                const int64_t v = int64_t(uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32));
                return static_cast<double>(v) / 10000.0;
            }
            return 0;
        case 'B':
            if (f.length == 8) {
                double d;
                std::memcpy(&d, p, 8);
                return std::isfinite(d) ? d : 0;
            }
            return 0;
        case 'L':
            return getLogical(field) ? 1 : 0;
        case 'D': {
            const std::string d = getDate(field);
            double v = 0;
            return d.empty() || !num::parseAll(d, v) ? 0 : v;
        }
        default:
            return leadingNumber(getText(field));
    }
}

bool Table::getLogical(int field) {
    error_.clear();
    if (field < 0 || field >= fieldCount()) {
        fail(path_ + ": there is no field number " + std::to_string(field + 1));
        return false;
    }
    const FieldDesc& f = fields_[field];
    if (f.type == 'L') {
        const char c = static_cast<char>(rec_[f.offset]);
        return c == 'T' || c == 't' || c == 'Y' || c == 'y';
    }
    if (f.type == 'N' || f.type == 'F' || f.type == 'I' || f.type == 'Y' || f.type == 'B')
        return getDouble(field) != 0;
    const std::string t = trim(getText(field));
    return !t.empty() &&
           (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y' || t == ".T." || t == ".t.");
}

std::string Table::getDate(int field) {
    error_.clear();
    if (field < 0 || field >= fieldCount()) {
        fail(path_ + ": there is no field number " + std::to_string(field + 1));
        return {};
    }
    if (isNull(field)) return {};
    const FieldDesc& f = fields_[field];
    const uint8_t* p = &rec_[f.offset];
    if (f.type == 'T' && f.length == 8) {
        const uint32_t jd = le32(p);
        if (jd == 0) return {};
        int y, m, d;
        julianToDate(static_cast<long>(jd), y, m, d);
        char b[48];
        std::snprintf(b, sizeof b, "%04d%02d%02d", y, m, d);
        return b;
    }
    std::string t = trim(getText(field));
    if (f.type == 'D' && (t.empty() || std::all_of(t.begin(), t.end(), [](char c) { return c == '0'; })))
        return {};
    return t;
}

bool Table::setText(int field, std::string_view bytes) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
    if (!checkWritable()) return false;
    if (isMemoType(fields_[field].type, version_)) {
        if (!storeMemo(field, bytes)) return false;
        setNull(field, false);
        dirty_ = true;
        return ok();
    }
    if (!putValue(field, bytes, rec_)) return false;
    dirty_ = true;
    return ok();
}

bool Table::putValue(int field, std::string_view bytes, std::vector<uint8_t>& rec) {
    const FieldDesc& f = fields_[field];
    uint8_t* p = &rec[f.offset];
    const auto bad = [&](const std::string& why) { return fail(path_ + ": field " + f.name + ": " + why); };
    std::string value(bytes);
    switch (f.type) {
        case 'C': {
            std::fill(p, p + f.length, ' ');
            std::memcpy(p, value.data(), std::min<size_t>(value.size(), f.length));
            break;
        }
        case 'N':
        case 'F': {
            const std::string t = trim(value);
            if (t.empty()) {
                std::fill(p, p + f.length, ' ');
                break;
            }
            double v;
            if (!parseNumber(t, v)) return bad("\"" + t + "\" is not a number");
            // Written right-aligned with the field's decimals, as every xBase reader expects.
            std::string s;
            if (!formatNumber(v, f.length, f.decimals, s)) {
                return bad(t + " does not fit a numeric field of " + std::to_string(f.length) + " with " +
                           std::to_string(f.decimals) + " decimals");
            }
            std::memcpy(p, s.data(), f.length);
            break;
        }
        case 'L': {
            const std::string t = upper(trim(value));
            char c;
            if (t.empty())
                c = ' ';
            else if (t == "T" || t == "Y" || t == ".T." || t == "TRUE")
                c = 'T';
            else if (t == "F" || t == "N" || t == ".F." || t == "FALSE")
                c = 'F';
            else if (t == "?")
                c = '?';
            else
                return bad("\"" + t + "\" is not a logical value (T or F)");
            *p = static_cast<uint8_t>(c);
            break;
        }
        case 'D': {
            const std::string t = trim(value);
            if (t.empty()) {
                std::fill(p, p + f.length, ' ');
                break;
            }
            if (!validDate(t)) return bad("\"" + t + "\" is not a date (CCYYMMDD)");
            std::memcpy(p, t.data(), 8);
            break;
        }
        case 'I':
        case 'Y':
        case 'B': {
            const std::string t = trim(value);
            if (t.empty()) {
                std::fill(p, p + f.length, 0);
                break;
            }
            double v;
            if (!parseNumber(t, v)) return bad("\"" + t + "\" is not a number");
            std::string why;
            if (!encodeBinary(f, v, p, why)) return bad(why);
            break;
        }
        case 'T': {
            const std::string t = trim(value);
            if (t.empty()) {
                std::fill(p, p + f.length, 0);
                break;
            }
            if (!encodeDateTime(t.substr(0, 8), p)) return bad("\"" + t + "\" is not a date (CCYYMMDD)");
            break;
        }
        default:
            if (value.empty()) {
                std::fill(p, p + f.length, f.type == 'V' ? ' ' : 0);
                break;
            }
            if (value.size() != f.length)
                return bad(std::string("fields of type ") + f.type + " take exactly " +
                           std::to_string(f.length) + " bytes");
            std::memcpy(p, value.data(), f.length);
            break;
    }
    putNull(rec, field, false);
    return true;
}

bool Table::setInt(int field, int64_t value) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (f.type == 'I') {
        if (value < INT32_MIN || value > INT32_MAX)
            return fail(path_ + ": field " + f.name + ": " + std::to_string(value) +
                        " does not fit an integer field");
        if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
        if (!checkWritable()) return false;
        putLe32(&rec_[f.offset], static_cast<uint32_t>(static_cast<int32_t>(value)));
        setNull(field, false);
        dirty_ = true;
        return ok();
    }
    if (f.type == 'L') return setLogical(field, value != 0);
    if (f.type == 'N' || f.type == 'F') {
        std::string s;
        if (!formatNumber(static_cast<double>(value), f.length, f.decimals, s))
            return setText(field, std::to_string(value));  // reports that it does not fit
        return setText(field, s);
    }
    return setText(field, std::to_string(value));
}

bool Table::setDouble(int field, double value) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (!std::isfinite(value))
        return fail(path_ + ": field " + f.name + ": the value is not a finite number");
    if (f.type == 'I') return setInt(field, static_cast<int64_t>(std::llround(value)));
    if (f.type == 'L') return setLogical(field, value != 0);
    if (f.type == 'Y' || f.type == 'B') {
        if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
        if (!checkWritable()) return false;
        std::string why;
        if (!encodeBinary(f, value, &rec_[f.offset], why))
            return fail(path_ + ": field " + f.name + ": " + why);
        setNull(field, false);
        dirty_ = true;
        return ok();
    }
    if (f.type == 'N' || f.type == 'F') {
        std::string s;
        if (!formatNumber(value, f.length, f.decimals, s)) {
            return fail(path_ + ": field " + f.name + ": " + num::fixed(value, f.decimals) +
                        " does not fit a numeric field of " + std::to_string(f.length) + " with " +
                        std::to_string(f.decimals) + " decimals");
        }
        return setText(field, s);
    }
    return setText(field, num::general(value, 15));
}

bool Table::setLogical(int field, bool value) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (f.type == 'N' || f.type == 'F' || f.type == 'I') return setInt(field, value ? 1 : 0);
    return setText(field, value ? "T" : "F");
}

bool Table::setDate(int field, std::string_view ccyymmdd) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (f.type == 'T' && f.length == 8) {
        if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
        if (!checkWritable()) return false;
        const std::string t = trim(ccyymmdd);
        if (!encodeDateTime(t, &rec_[f.offset]))
            return fail(path_ + ": field " + f.name + ": \"" + t + "\" is not a date (CCYYMMDD)");
        setNull(field, false);
        dirty_ = true;
        return ok();
    }
    return setText(field, ccyymmdd);
}

// ---- Index ----

bool Table::selectTag(std::string_view name) {
    if (!writeCurrent()) return false;
    if (trim(name).empty()) {
        tag_ = -1;
        orderValid_ = false;
        return ok();
    }
    if (!cdx_) return fail(path_ + ": the table has no index, so it has no tag " + std::string(name));
    const int t = cdx_->findTag(trim(name));
    if (t < 0) return fail(indexPath() + ": the index has no tag " + std::string(name));
    tag_ = t;
    orderValid_ = false;
    return ok();
}

bool Table::seek(std::string_view key) {
    if (!writeCurrent()) return false;
    error_.clear();
    if (!cdx_ || tag_ < 0) return fail(path_ + ": seek needs a selected tag");
    std::string err;
    const uint32_t r = cdx_->seek(tag_, key, err);
    if (!err.empty()) return fail(err);
    if (r == 0 || r > recCount_) {
        // Not found: no current record.
        setEof();
        error_.clear();
        return false;
    }
    return loadCurrent(r, true);
}

bool Table::createIndex(const std::vector<TagSpec>& tags) {
    if (!flush()) return false;
    if (readOnly_) return fail(path_ + ": the table is open for reading only");
    const std::string target = io::withExtension(path_, ".cdx");
    const std::string existing = io::resolveCase(target);
    std::string err;
    // The index in use is let go first, since Windows replaces no open file; a failed creation leaves
    // the file as it was, and it is taken up again.
    const bool hadIndex = cdx_ != nullptr;
    cdx_.reset();
    auto created = CdxFile::create(io::exists(existing) ? existing : target, fields_, tags, *reader_, err,
                                   codepageFromByte(codepage_));
    if (!created) {
        std::string again;
        if (hadIndex) cdx_ = CdxFile::open(existing, fields_, again, codepageFromByte(codepage_));
        return fail(err.empty() ? target + ": cannot create the index" : err);
    }
    cdx_ = std::move(created);
    tag_ = -1;
    orderValid_ = false;
    indexUnmaintainable_.clear();
    std::string why;
    if (!cdx_->maintainable(why))
        indexUnmaintainable_ = why.empty() ? indexPath() + ": a tag cannot be evaluated" : why;
    if (!(headerFlags_ & 0x01)) {
        headerFlags_ |= 0x01;
        headerRaw_[28] = headerFlags_;
        if (!file_->writeAt(28, &headerFlags_, 1) || !file_->sync())
            return fail(path_ + ": cannot write the header (" + io::lastSystemError() + ")");
    }
    return ok();
}

bool Table::ensureTags(const std::vector<TagSpec>& tags) {
    if (!cdx_) {
        // An index file of the table's name that the header does not flag: keep its tags, add these.
        const std::string existing = indexPath();
        std::string err;
        std::unique_ptr<CdxFile> found;
        if (!readOnly_ && io::exists(existing))
            found = CdxFile::open(existing, fields_, err, codepageFromByte(codepage_));
        if (!found) return createIndex(tags);
        if (!flush()) return false;
        cdx_ = std::move(found);
        headerFlags_ |= 0x01;
        headerRaw_[28] = headerFlags_;
        if (!file_->writeAt(28, &headerFlags_, 1) || !file_->sync())
            return fail(path_ + ": cannot write the header (" + io::lastSystemError() + ")");
        // it may be stale: nothing kept it up to date while it was not flagged
        if (!cdx_->rebuildAll(*reader_, err))
            return fail(err.empty() ? existing + ": cannot rebuild the index" : err);
    }
    if (!flush()) return false;
    if (readOnly_) return fail(path_ + ": the table is open for reading only");
    std::string err;
    if (!cdx_->ensureTags(tags, *reader_, err))
        return fail(err.empty() ? indexPath() + ": cannot add the tags" : err);
    orderValid_ = false;
    std::string why;
    indexUnmaintainable_.clear();
    if (!cdx_->maintainable(why))
        indexUnmaintainable_ = why.empty() ? indexPath() + ": a tag cannot be evaluated" : why;
    return ok();
}

bool Table::rebuildIndex() {
    if (!cdx_) return ok();
    if (!writeCurrent()) return false;
    std::string err;
    if (!cdx_->rebuildAll(*reader_, err))
        return fail(err.empty() ? indexPath() + ": cannot rebuild the index" : err);
    orderValid_ = false;
    return ok();
}

// ---- Pack ----

bool Table::pack() {
    // A damaged memo header does not stop a pack: the memos are read one by one (each checked against the
    // file) into a new memo file.
    if (!writeCurrent() || !checkWritable(false) || !refreshCount()) return false;
    const auto step = [](const char* name) {
        auto& hook = packStepHook();
        return !hook || hook(name);
    };
    const std::string newDbf = path_ + kPackSuffix;
    const std::string marker = path_ + kPackMarker;
    const std::string memoPathOld = memo_ ? memo_->path() : std::string();
    const std::string newMemo = memo_ ? memoPathOld + kPackSuffix : std::string();
    const std::string indexPathOld = cdx_ ? cdx_->path() : std::string();
    const std::string newIndex = cdx_ ? indexPathOld + kPackSuffix : std::string();
    const auto abandon = [&](const std::string& why) {
        for (const std::string& f :
             {newDbf, newMemo, newIndex, newIndex.empty() ? newIndex : newIndex + ".tmp"})
            if (!f.empty()) io::removeFile(f);
        return fail(why);
    };

    // Every step that can fail runs before the commit: the new table, memo file and index are written
    // beside the old ones and flushed; the old files are not touched.
    if (!step("write")) return fail("pack stopped before writing");
    std::unique_ptr<MemoFile> memoOut;
    std::string err;
    if (memo_) {
        memoOut = MemoFile::create(newMemo, memo_->kind(), memo_->blockSize(), true, err);
        if (!memoOut) return abandon(err);
        memoOut->beginBulk();
    }
    io::File out;
    if (!out.create(newDbf, true, err)) return abandon(newDbf + ": cannot create (" + err + ")");
    std::vector<uint8_t> header = headerRaw_;
    std::vector<uint8_t> buf;
    buf.reserve(kCacheBytes + recordLength_);
    uint64_t pos = headerLength_;
    uint32_t kept = 0;
    std::vector<uint8_t> rec(recordLength_);
    std::vector<int> memoFields;
    for (int i = 0; i < fieldCount(); ++i)
        if (isMemoType(fields_[i].type, version_)) memoFields.push_back(i);
    for (uint32_t r = 1; r <= recCount_; ++r) {
        if (!readRecordRaw(r, rec.data())) return abandon(error_);
        if (rec[0] == '*') continue;
        if (memoOut) {
            for (int i : memoFields) {
                const uint32_t block = memoBlockIn(rec, i);
                if (block == 0) continue;
                std::string text;
                if (!memo_->read(block, text, err))
                    return abandon(err + " (field " + fields_[i].name + ", record " + std::to_string(r) +
                                   ")");
                uint32_t nb = 0;
                if (!memoOut->write(0, text, nb, err)) return abandon(err);
                putMemoBlock(rec, i, nb);
            }
        }
        buf.insert(buf.end(), rec.begin(), rec.end());
        ++kept;
        if (buf.size() >= kCacheBytes) {
            if (!out.writeAt(pos, buf.data(), buf.size()))
                return abandon(newDbf + ": cannot write (" + io::lastSystemError() + ")");
            pos += buf.size();
            buf.clear();
        }
    }
    buf.push_back(0x1A);
    const HeaderDate d = today();
    header[1] = uint8_t(d.year - 1900);
    header[2] = uint8_t(d.month);
    header[3] = uint8_t(d.day);
    putLe32(&header[4], kept);
    header[14] = 0;  // every record is flushed below
    if (!out.writeAt(pos, buf.data(), buf.size()) || !out.writeAt(0, header.data(), header.size()))
        return abandon(newDbf + ": cannot write (" + io::lastSystemError() + ")");
    if (memoOut && !memoOut->endBulk(err)) return abandon(err);
    if (!step("sync")) return fail("pack stopped before flushing");
    if (!out.sync() || (memoOut && !memoOut->sync()))
        return abandon(newDbf + ": cannot flush to disk (" + io::lastSystemError() + ")");
    memoOut.reset();
    if (!step("index")) return fail("pack stopped before building the index");
    if (cdx_) {
        // The index of the packed records, built with the tags the index has (held to the same limits at
        // open, so a tag that opened is a tag that builds).
        FileRecords packed(out, headerLength_, recordLength_, kept);
        if (!CdxFile::create(newIndex, fields_, cdx_->tags(), packed, err, codepageFromByte(codepage_)))
            return abandon(err.empty() ? newIndex + ": cannot build the index" : err);
    }
    out.close();
    std::vector<PackedFile> files;
    for (const auto& [role, fresh, target] :
         {std::tuple<const char*, std::string, std::string>{"memo", newMemo, memoPathOld},
          {"index", newIndex, indexPathOld},
          {"table", newDbf, path_}}) {
        if (fresh.empty()) continue;
        PackedFile f{role, {}, io::fileNameOf(target)};
        if (!digestOf(fresh, f.digest))
            return abandon(fresh + ": cannot read back (" + io::lastSystemError() + ")");
        files.push_back(f);
    }

    // Commit: from here on the next open finishes the pack if this one is interrupted.
    if (!step("commit")) return fail("pack stopped before committing");
    // The marker is written beside and renamed in once it is on disk: a kill while it is being written
    // leaves no marker (the table before the pack stays), never a marker cut short.
    {
        const std::string fresh = marker + ".tmp";
        io::File m;
        const std::string text = markerText(files);
        const bool written = m.create(fresh, true, err) && m.writeAt(0, text.data(), text.size()) && m.sync();
        m.close();
        if (!written || !io::replaceFile(fresh, marker, err)) {
            if (err.empty()) err = io::lastSystemError();
            io::removeFile(fresh);
            io::removeFile(marker);
            return abandon(marker + ": cannot write the pack marker (" + err + ")");
        }
    }
    io::syncFolderOf(marker);
    if (!step("rename-memo")) return fail("pack stopped before renaming the memo file");
    if (memo_) {
        memo_.reset();
        if (!io::replaceFile(newMemo, memoPathOld, err))
            return fail(newMemo + ": cannot rename into place (" + err +
                        "); the next open finishes the pack");
    }
    if (!step("rename-index")) return fail("pack stopped before renaming the index");
    if (cdx_) {
        cdx_.reset();
        if (!io::replaceFile(newIndex, indexPathOld, err))
            return fail(newIndex + ": cannot rename into place (" + err +
                        "); the next open finishes the pack");
    }
    if (!step("rename-table")) return fail("pack stopped before renaming the table");
    file_.reset();
    if (!io::replaceFile(newDbf, path_, err))
        return fail(newDbf + ": cannot rename into place (" + err + "); the next open finishes the pack");
    io::removeFile(marker);
    io::syncFolderOf(marker);

    // Reopen the packed files.
    const int keepTag = tag_;
    if (!step("reopen")) return fail("pack stopped before reopening");
    if (!load(err)) return fail(err);
    if (cdx_ && keepTag >= 0 && keepTag < static_cast<int>(cdx_->tags().size())) tag_ = keepTag;
    if (recCount_ > 0) top();
    dateWritten_ = true;
    return ok();
}

}  // namespace xb
