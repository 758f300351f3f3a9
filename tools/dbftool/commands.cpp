#include "commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "csv.h"
#include "schema.h"
#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/dbf.h"
#include "tableaccess/xbase/fileio.h"
#include "tableaccess/xbase/fpt.h"
#include "tarvikversion.h"
#include "values.h"

namespace dbftool {
namespace {

// A failure that ends the command: exit code and the one line for stderr.
struct Failure {
    int code;
    std::string message;
};

[[noreturn]] void fail(int code, std::string message) {
    throw Failure{code, std::move(message)};
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

std::string hexByte(uint8_t b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

// The table path as given, or with ".dbf" added, matched without regard to case. Fails (exit 2) when
// there is no such file.
std::string existingTable(const std::string& path) {
    std::string p = xb::Table::resolve(path, true);
    if (!xb::io::exists(p)) fail(kError, "cannot open table " + path + ": no such file");
    return p;
}

std::unique_ptr<xb::Table> openTable(const std::string& path, bool readOnly) {
    std::string p = existingTable(path);
    std::string error;
    auto t = xb::Table::open(p, error, readOnly);
    if (!t) fail(kError, error.empty() ? "cannot open table " + p : error);
    return t;
}

xb::Codepage tableCodepage(const xb::Table& t) {
    return xb::codepageFromByte(t.codepageByte());
}

std::string versionName(uint8_t v) {
    switch (v) {
        case 0x03:
            return "dBase III / FoxPro 2.x, no memo";
        case 0x83:
            return "dBase III with DBT memo";
        case 0xF5:
            return "FoxPro 2.x with FPT memo";
        case 0x30:
            return "Visual FoxPro";
        case 0x31:
            return "Visual FoxPro with autoincrement";
        case 0x32:
            return "Visual FoxPro with varchar/varbinary";
        default:
            return "unknown version";
    }
}

// ---------------------------------------------------------------------------------------------------
int cmdInfo(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1) fail(kError, "usage: dbftool info TABLE");
    auto t = openTable(a[0], true);
    uint32_t deleted = 0;
    auto& reader = t->reader();
    std::vector<uint8_t> rec;
    for (uint32_t r = 1; r <= t->recordCount(); ++r) {
        if (!reader.readRecord(r, rec)) fail(kError, t->path() + ": cannot read record " + std::to_string(r));
        if (!rec.empty() && rec[0] == '*') ++deleted;
    }
    const auto d = t->lastUpdate();
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", d.year, d.month, d.day);
    out << "Table:        " << t->path() << "\n";
    out << "Version:      " << hexByte(t->version()) << " (" << versionName(t->version()) << ")\n";
    out << "Codepage:     cp" << xb::codepageNumber(tableCodepage(*t)) << " (byte "
        << hexByte(t->codepageByte()) << ")\n";
    out << "Last update:  " << date << "\n";
    out << "Records:      " << t->recordCount() << " (" << deleted << " deleted)\n";
    out << "Header bytes: " << t->headerLength() << ", record bytes: " << t->recordLength() << "\n";
    if (!t->memoPath().empty()) out << "Memo file:    " << t->memoPath() << "\n";
    out << "Fields:       " << t->fieldCount() << "\n";
    int n = 0;
    for (const auto& f : t->fields()) {
        char line[96];
        std::snprintf(line, sizeof line, "  %3d  %-10s %c %4u %2u\n", ++n, f.name.c_str(), f.type,
                      static_cast<unsigned>(f.length), static_cast<unsigned>(f.decimals));
        out << line;
    }
    if (xb::CdxFile* cdx = t->index()) {
        auto tags = cdx->tags();
        out << "Index:        " << t->indexPath() << " (" << tags.size() << " tags)\n";
        for (const auto& tag : tags) {
            out << "  " << tag.name << ": " << tag.expression;
            if (!tag.filter.empty()) out << " FOR " << tag.filter;
            out << (tag.descending ? " descending" : " ascending");
            if (tag.unique) out << " unique";
            out << "\n";
        }
    } else {
        out << "Index:        none\n";
    }
    return kOk;
}

// ---------------------------------------------------------------------------------------------------
int cmdDump(const std::vector<std::string>& a, std::ostream& out) {
    bool withDeleted = false;
    std::vector<std::string> pos;
    for (const auto& s : a) {
        if (s == "--deleted")
            withDeleted = true;
        else if (s.rfind("--", 0) == 0)
            fail(kError, "dump: unknown option " + s);
        else
            pos.push_back(s);
    }
    if (pos.size() != 1) fail(kError, "usage: dbftool dump TABLE [--deleted]");
    auto t = openTable(pos[0], true);
    const xb::Codepage cp = tableCodepage(*t);
    std::vector<std::string> row;
    if (withDeleted) row.push_back("_deleted");
    for (const auto& f : t->fields()) row.push_back(xb::toUtf8(f.name, cp));
    std::string text = csvRecord(row) + "\r\n";
    out << text;
    std::string error;
    for (uint32_t r = 1; r <= t->recordCount(); ++r) {
        if (!t->go(r))
            fail(kError,
                 t->error().empty() ? t->path() + ": cannot read record " + std::to_string(r) : t->error());
        const bool del = t->deleted();
        if (del && !withDeleted) continue;
        row.clear();
        if (withDeleted) row.push_back(del ? "*" : "");
        for (int i = 0; i < t->fieldCount(); ++i) {
            std::string v;
            if (!fieldToText(*t, i, v, error)) fail(kError, error);
            row.push_back(std::move(v));
        }
        text.clear();
        for (size_t i = 0; i < row.size(); ++i) {
            if (i) text.push_back(',');
            csvAppendField(text, row[i]);
        }
        text += "\r\n";
        out << text;
    }
    return kOk;
}

// ---------------------------------------------------------------------------------------------------
int cmdCreate(const std::vector<std::string>& a, std::ostream& out) {
    std::vector<std::string> pos;
    xb::Format format = xb::Format::Fox2;
    xb::Codepage cp = xb::Codepage::Cp1252;
    for (size_t i = 0; i < a.size(); ++i) {
        const std::string& s = a[i];
        if (s == "--format" || s == "--codepage") {
            if (i + 1 >= a.size()) fail(kError, "create: " + s + " needs a value");
            const std::string v = a[++i];
            if (s == "--format") {
                if (v == "fox2")
                    format = xb::Format::Fox2;
                else if (v == "vfp")
                    format = xb::Format::Vfp;
                else if (v == "db3")
                    format = xb::Format::DBase3;
                else
                    fail(kError, "create: unknown format " + v + " (fox2, vfp or db3)");
            } else {
                if (v == "1252")
                    cp = xb::Codepage::Cp1252;
                else if (v == "437")
                    cp = xb::Codepage::Cp437;
                else if (v == "850")
                    cp = xb::Codepage::Cp850;
                else
                    fail(kError, "create: unknown codepage " + v + " (1252, 437 or 850)");
            }
        } else if (s.rfind("--", 0) == 0) {
            fail(kError, "create: unknown option " + s);
        } else {
            pos.push_back(s);
        }
    }
    if (pos.size() != 2)
        fail(kError, "usage: dbftool create TABLE SCHEMA [--format fox2|vfp|db3] [--codepage 1252|437|850]");
    std::vector<xb::NewField> fields;
    std::string error;
    if (!parseSchema(pos[1], format, fields, error)) fail(kError, "create: " + error);
    std::string path = pos[0];
    if (!xb::io::hasExtension(path)) path += ".dbf";
    if (xb::io::exists(xb::io::resolveCase(path))) fail(kError, "create: " + path + " already exists");
    auto t = xb::Table::create(path, fields, format, xb::codepageByte(cp), error);
    if (!t) fail(kError, error.empty() ? "create: cannot create " + path : error);
    if (!t->flush()) fail(kError, t->error());
    out << "created " << t->path() << " with " << t->fieldCount() << " fields\n";
    return kOk;
}

// ---------------------------------------------------------------------------------------------------
// Memory for tens of megabytes of rows. On Linux it is mapped in huge pages where the system allows,
// so that filling it costs a few page faults instead of one per 4 KB; elsewhere it is ordinary memory.
class RowMemory {
  public:
    RowMemory() = default;
    explicit RowMemory(size_t n) {
#if defined(__linux__)
        constexpr size_t kHuge = size_t(2) << 20;
        const size_t mapped = (n + kHuge - 1) / kHuge * kHuge;
        void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        ::madvise(p, mapped, MADV_HUGEPAGE);  // a hint: without it the pages are ordinary ones
        p_ = static_cast<char*>(p);
        size_ = mapped;
#else
        p_ = new char[n];
        size_ = n;
#endif
    }
    RowMemory(RowMemory&& o) noexcept : p_(std::exchange(o.p_, nullptr)), size_(std::exchange(o.size_, 0)) {}
    RowMemory& operator=(RowMemory&& o) noexcept {
        if (this != &o) {
            release();
            p_ = std::exchange(o.p_, nullptr);
            size_ = std::exchange(o.size_, 0);
        }
        return *this;
    }
    RowMemory(const RowMemory&) = delete;
    RowMemory& operator=(const RowMemory&) = delete;
    ~RowMemory() {
        release();
    }
    char* get() const {
        return p_;
    }
    size_t size() const {
        return size_;
    }

  private:
    void release() {
        if (!p_) return;
#if defined(__linux__)
        ::munmap(p_, size_);
#else
        delete[] p_;
#endif
        p_ = nullptr;
        size_ = 0;
    }
    char* p_ = nullptr;
    size_t size_ = 0;
};

// Converted rows kept in one flat buffer, so that many rows cost no allocation each: either as the
// records they become (addRecord), or as their values (add: deletion flag, then each value's field,
// kind, length and bytes).
class RowStash {
  public:
    // Room for one record image of n bytes at the end.
    uint8_t* addRecord(size_t n) { return reinterpret_cast<uint8_t*>(room(n)); }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(buf_.get()); }
    void add(const std::vector<xb::NewValue>& values, bool deleted) {
        size_t need = 5;
        for (const auto& v : values) need += 9 + v.bytes.size();
        char* p = room(need);
        p = put(p, deleted ? 1 : 0, 1);
        p = put(p, values.size(), 4);
        for (const auto& v : values) {
            p = put(p, uint32_t(v.field), 4);
            p = put(p, v.raw ? 1 : 0, 1);
            p = put(p, v.bytes.size(), 4);
            std::memcpy(p, v.bytes.data(), v.bytes.size());
            p += v.bytes.size();
        }
    }
    // A record image followed by the text of its memo fields (each field number, length, bytes).
    void addRecordAndMemos(const uint8_t* image, size_t n, const std::vector<xb::MemoText>& memos) {
        size_t need = n + 4;
        for (const auto& m : memos) need += 8 + m.text.size();
        char* p = room(need);
        std::memcpy(p, image, n);
        p = put(p + n, memos.size(), 4);
        for (const auto& m : memos) {
            p = put(p, uint32_t(m.field), 4);
            p = put(p, m.text.size(), 4);
            std::memcpy(p, m.text.data(), m.text.size());
            p += m.text.size();
        }
    }
    size_t size() const { return size_; }
    void reserve(size_t n) {
        if (n > cap_) grow(n);
    }
    void clear() {
        buf_ = RowMemory();
        size_ = cap_ = 0;
    }

    class Reader {
      public:
        explicit Reader(const RowStash& s) : p_(s.buf_.get()), end_(s.buf_.get() + s.size_) {}
        // The next row into values (their strings reused); false after the last.
        bool next(std::vector<xb::NewValue>& values, bool& deleted) {
            if (p_ >= end_) return false;
            deleted = get(1) != 0;
            values.resize(get(4));
            for (auto& v : values) {
                v.field = int(get(4));
                v.raw = get(1) != 0;
                const size_t n = get(4);
                v.bytes.assign(p_, n);
                p_ += n;
            }
            return true;
        }
        // The next record image of n bytes and the text of its memos (both where the stash holds them).
        bool nextRecordAndMemos(size_t n, const uint8_t*& image, std::vector<xb::MemoText>& memos) {
            if (p_ >= end_) return false;
            image = reinterpret_cast<const uint8_t*>(p_);
            p_ += n;
            memos.resize(get(4));
            for (auto& m : memos) {
                m.field = int(get(4));
                const size_t len = get(4);
                m.text = std::string_view(p_, len);
                p_ += len;
            }
            return true;
        }

      private:
        size_t get(int width) {
            size_t v = 0;
            for (int i = 0; i < width; ++i) v |= size_t(uint8_t(p_[i])) << (8 * i);
            p_ += width;
            return v;
        }
        const char* p_;
        const char* end_;
    };

  private:
    // n more bytes at the end, their place returned.
    char* room(size_t n) {
        if (size_ + n > cap_) grow(std::max(cap_ * 2, size_ + n));
        char* p = buf_.get() + size_;
        size_ += n;
        return p;
    }
    void grow(size_t n) {
        RowMemory bigger(n);
        if (size_) std::memcpy(bigger.get(), buf_.get(), size_);
        buf_ = std::move(bigger);
        cap_ = buf_.size();
    }
    static char* put(char* p, size_t v, int width) {
        for (int i = 0; i < width; ++i) p[i] = char(uint8_t(v >> (8 * i)));
        return p + width;
    }
    RowMemory buf_;
    size_t size_ = 0, cap_ = 0;
};

// ---------------------------------------------------------------------------------------------------
int cmdLoad(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 2) fail(kError, "usage: dbftool load TABLE CSV");
    auto t = openTable(a[0], false);
    const std::filesystem::path csvPath(reinterpret_cast<const char8_t*>(a[1].c_str()));
    // Every value is converted and checked before the first row is added, so that a bad file adds
    // nothing: the file is read a piece at a time (a file of any size loads in little memory), its rows
    // converted and kept, and added once the whole file is known good; a file whose rows do not fit
    // in memory is read and converted a second time as it is added.
    std::ifstream in(csvPath, std::ios::binary);
    if (!in) fail(kError, "cannot read " + a[1] + ": " + std::strerror(errno));
    const xb::Codepage cp = tableCodepage(*t);
    std::vector<int> target;  // field per column, -1 for _deleted
    std::string error;

    // The header: field names in any order, without regard to case; "_deleted" marks deleted records.
    // Its faults are reported after those of the file's quoting, a row's faults after the header's.
    auto readHeader = [&](const std::vector<std::string_view>& header) -> std::string {
        std::vector<bool> seen(t->fieldCount(), false);
        bool seenDeleted = false;
        target.clear();
        for (const auto& name : header) {
            std::string n = upper(name);
            while (!n.empty() && n.back() == ' ') n.pop_back();
            while (!n.empty() && n.front() == ' ') n.erase(n.begin());
            if (n == "_DELETED") {
                if (seenDeleted) return a[1] + ": column _deleted appears twice";
                seenDeleted = true;
                target.push_back(-1);
                continue;
            }
            int f = t->fieldIndex(n);
            if (f < 0) return a[1] + ": column " + std::string(name) + " is no field of " + t->path();
            if (seen[f]) return a[1] + ": column " + std::string(name) + " appears twice";
            seen[f] = true;
            target.push_back(f);
        }
        return {};
    };
    // Converts row r (1 for the first after the header) into values; the fault, or empty. With apart,
    // the memo fields' texts go there instead, as the text to write: in a codepage that keeps 7-bit
    // characters in place, the text of a 7-bit row (sevenBit) for a memo (M) field is its own bytes.
    std::vector<xb::NewValue> values, memoValues;
    bool deleted = false;
    auto convert = [&](const std::vector<std::string_view>& row, size_t r,
                       std::vector<xb::MemoText>* apart = nullptr, bool sevenBit = false) -> std::string {
        if (row.size() != target.size())
            return a[1] + ": row " + std::to_string(r) + " has " + std::to_string(row.size()) +
                   " values, the header names " + std::to_string(target.size());
        deleted = false;
        values.resize(row.size());
        if (apart) {
            apart->clear();
            memoValues.resize(row.size());
        }
        size_t used = 0, memos = 0;
        for (size_t c = 0; c < row.size(); ++c) {
            if (target[c] < 0) {
                if (row[c] == "*")
                    deleted = true;
                else if (!row[c].empty())
                    return a[1] + ": row " + std::to_string(r) + ": _deleted holds '" + std::string(row[c]) +
                           "' (expected * or nothing)";
                continue;
            }
            const xb::FieldDesc& f = t->fields()[size_t(target[c])];
            const bool memo = apart && isMemoType(f.type);
            if (memo && f.type == 'M' && sevenBit && xb::keepsAscii(cp)) {
                apart->push_back({target[c], row[c]});
                continue;
            }
            xb::NewValue& nv = memo ? memoValues[memos++] : values[used++];
            nv.field = target[c];
            if (!textToField(f, cp, t->version(), row[c], nv, error))
                return a[1] + ": row " + std::to_string(r) + ", " + f.name + ": " + error;
            if (memo) apart->push_back({nv.field, nv.bytes});
        }
        values.resize(used);
        return {};
    };
    const auto blank = [](const std::vector<std::string_view>& r) { return r.size() == 1 && r[0].empty(); };
    // The rows converted by the first reading, kept while they fit in 64 MB (DBFTOOL_LOAD_MEMORY, in
    // bytes, sets another size), so that a file of ordinary size is read and converted once; a larger
    // one is read again for the second step.
    size_t keepBytes = size_t(64) << 20;
    if (const char* v = std::getenv("DBFTOOL_LOAD_MEMORY"); v && *v) {
        char* end = nullptr;
        const unsigned long long n = std::strtoull(v, &end, 10);
        if (*end || v[0] == '-')
            fail(kError, std::string("DBFTOOL_LOAD_MEMORY is not a count of bytes: ") + v);
        keepBytes = size_t(n);
    }
    RowStash stash;
    bool stashed = true;
    // Rows that write no memo are kept as the records they become, and added as such.
    bool asRecords = false, withMemos = false;
    std::vector<xb::MemoText> memoTexts;  // a row's memos, apart from its record
    const size_t recordLength = t->recordLength();
    std::vector<uint8_t> scratch(recordLength);
    // A row of 7-bit text for character fields only (the commonest load) goes straight into its record:
    // in a codepage that keeps 7-bit characters in place each value's bytes are its text, without
    // trailing blanks, on a blank record, as the checked conversion makes them. Any other row (a value
    // too long, a character beyond 7 bits) takes the checked conversion, which names what is wrong.
    bool textRows = false;
    std::vector<uint8_t> blankImage(recordLength);
    const auto placeText = [&](const std::vector<std::string_view>& row, bool sevenBit, uint8_t* image) {
        if (row.size() != target.size()) return false;
        std::memcpy(image, blankImage.data(), recordLength);
        for (size_t c = 0; c < row.size(); ++c) {
            std::string_view v = row[c];
            while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
            const xb::FieldDesc& f = t->fields()[size_t(target[c])];
            if (v.size() > f.length) return false;
            if (!sevenBit) {
                uint8_t high = 0;
                for (const char ch : v) high |= uint8_t(ch);
                if (high & 0x80) return false;
            }
            // (values are short: copied a word at a time rather than by a call)
            uint8_t* to = image + f.offset;
            const char* from = v.data();
            size_t n = v.size();
            for (; n >= 8; n -= 8, to += 8, from += 8) std::memcpy(to, from, 8);
            for (; n > 0; --n) *to++ = uint8_t(*from++);
        }
        return true;
    };
    {
        // Room taken at once (the pages are used only as the rows fill them), so that the kept rows are
        // never moved as they grow: a few times the file's size covers the widest rows.
        std::error_code ec;
        const auto csvSize = std::filesystem::file_size(csvPath, ec);
        if (!ec) stash.reserve(size_t(std::min<uintmax_t>(keepBytes, csvSize * 4)) + 4096);
    }

    std::string headerFault, rowFault;
    bool haveHeader = false;
    size_t rows = 0;
    {
        CsvReader reader(in);
        std::vector<std::string_view> row;
        while (reader.next(row)) {
            if (blank(row)) continue;  // a blank line is no record
            if (!haveHeader) {
                haveHeader = true;
                headerFault = readHeader(row);
                asRecords = t->takesRecordImages();
                withMemos = std::any_of(target.begin(), target.end(), [&](int f) {
                    return f >= 0 && isMemoType(t->fields()[size_t(f)].type);
                });
                textRows = asRecords && !withMemos && headerFault.empty() && xb::keepsAscii(cp) &&
                           std::all_of(target.begin(), target.end(),
                                       [&](int f) { return f >= 0 && t->fields()[f].type == 'C'; }) &&
                           t->makeRecord({}, false, blankImage.data());
                continue;
            }
            ++rows;
            if (!headerFault.empty() || !rowFault.empty()) continue;
            if (asRecords && withMemos) {
                // The record is made (and its values checked by the table) now, kept or not, with the
                // text of its memos beside it; the memos are written as it is added.
                rowFault = convert(row, rows, &memoTexts, reader.rowIs7Bit());
                if (!rowFault.empty()) continue;
                if (!t->makeRecord(values, deleted, scratch.data()))
                    rowFault = a[1] + ": row " + std::to_string(rows) + ": " + t->error();
                else if (stashed)
                    stash.addRecordAndMemos(scratch.data(), recordLength, memoTexts);
            } else if (asRecords) {
                // The record is made (and its values checked by the table) now, kept or not.
                uint8_t* image = stashed ? stash.addRecord(recordLength) : scratch.data();
                if (!textRows || !placeText(row, reader.rowIs7Bit(), image)) {
                    rowFault = convert(row, rows);
                    if (rowFault.empty() && !t->makeRecord(values, deleted, image))
                        rowFault = a[1] + ": row " + std::to_string(rows) + ": " + t->error();
                }
            } else {
                rowFault = convert(row, rows);
                if (rowFault.empty() && stashed) stash.add(values, deleted);
            }
            if (!rowFault.empty() || !stashed) continue;
            if (stash.size() > keepBytes) {
                stashed = false;
                stash.clear();
            }
        }
        if (!reader.error().empty()) fail(kError, a[1] + ": " + reader.error());
    }
    if (!haveHeader) fail(kError, a[1] + ": no header row");
    if (!headerFault.empty()) fail(kError, headerFault);
    if (!rowFault.empty()) fail(kError, rowFault);

    // Each row is appended whole or not at all, so that a failure (a memo file that is full, a disk
    // error) leaves exactly the rows before it. The engine writes the rows in batches: what a failure
    // left is the count the table holds once the rows before it are written.
    const uint32_t before = t->recordCount();
    const auto stopped = [&](std::string why) {
        std::string more;
        if (!t->flush()) more = "; " + t->error();
        const uint32_t added = t->recordCount() - before;
        fail(kError, why + " (stopped at row " + std::to_string(added + 1) + "; " + std::to_string(added) +
                         (added == 1 ? " row was" : " rows were") + " added" + more + ")");
    };
    if (stashed && asRecords && withMemos) {
        const uint8_t* image = nullptr;
        std::vector<xb::MemoText> texts;
        for (RowStash::Reader r(stash); r.nextRecordAndMemos(recordLength, image, texts);)
            if (!t->appendRecordImage(image, texts)) stopped(t->error());
    } else if (stashed && asRecords) {
        if (!t->appendRecords(stash.data(), stash.size() / recordLength)) stopped(t->error());
    } else if (stashed) {
        for (RowStash::Reader r(stash); r.next(values, deleted);)
            if (!t->appendRecord(values, deleted)) stopped(t->error());
    } else {
        in.clear();
        in.seekg(0);
        if (!in) fail(kError, "cannot read " + a[1] + ": " + std::strerror(errno));
        CsvReader reader(in);
        std::vector<std::string_view> row;
        bool header = true;
        size_t r = 0;
        while (reader.next(row)) {
            if (blank(row)) continue;
            if (header) {
                header = false;
                continue;
            }
            ++r;
            // The file was read once already: it changed in between when it reads differently now.
            const std::string fault =
                r <= rows ? convert(row, r) : a[1] + ": the file changed while it was loaded";
            if (!fault.empty()) stopped(fault);
            if (!t->appendRecord(values, deleted)) stopped(t->error());
        }
        if (!reader.error().empty() || r != rows) stopped(a[1] + ": the file changed while it was loaded");
    }
    if (!t->flush()) stopped(t->error());
    const uint32_t added = t->recordCount() - before;
    out << "added " << added << " records to " << t->path() << "\n";
    return kOk;
}

// ---------------------------------------------------------------------------------------------------
int cmdIndex(const std::vector<std::string>& a, std::ostream& out) {
    xb::TagSpec wanted;
    std::vector<std::string> pos;
    for (const auto& s : a) {
        if (s == "--descending")
            wanted.descending = true;
        else if (s == "--unique")
            wanted.unique = true;
        else if (s.rfind("--", 0) == 0)
            fail(kError, "index: unknown option " + s);
        else
            pos.push_back(s);
    }
    if (pos.size() != 3) fail(kError, "usage: dbftool index TABLE TAG EXPR [--descending] [--unique]");
    wanted.name = upper(pos[1]);
    wanted.expression = pos[2];
    if (wanted.name.empty() || wanted.name.size() > 10)
        fail(kError, "index: a tag name has 1 to 10 characters");
    for (char c : wanted.name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            fail(kError, "index: a tag name holds only letters, digits and underscores");
    if (!std::isalpha(static_cast<unsigned char>(wanted.name[0])))
        fail(kError, "index: a tag name starts with a letter");

    // A table whose production index is missing or damaged does not open; it is then opened without it,
    // and the new index holds this tag alone (the old one cannot be read).
    std::string path = existingTable(pos[0]);
    std::string error, lost;
    auto t = xb::Table::open(path, error, false);
    if (!t) {
        lost = error;
        error.clear();
        t = xb::Table::open(path, error, false, true);
        if (!t) fail(kError, error.empty() ? "cannot open table " + path : error);
    }
    // The whole production index is written anew with the tags it had (this one replacing a tag of the
    // same name): the new file is built beside the old one and renamed into place.
    std::vector<xb::TagSpec> tags;
    if (xb::CdxFile* cdx = t->index()) tags = cdx->tags();
    bool replaced = false;
    for (auto& tag : tags) {
        if (upper(tag.name) == wanted.name) {
            tag = wanted;
            replaced = true;
        }
    }
    if (!replaced) tags.push_back(wanted);
    if (!t->createIndex(tags))
        fail(kError, t->error().empty() ? "index: cannot build the index" : t->error());
    if (!t->index() || t->index()->findTag(wanted.name) < 0)
        fail(kError,
             "index: the index of " + t->path() + " was written but does not hold tag " + wanted.name);
    const std::string indexPath = t->index()->path();
    out << (replaced ? "rebuilt tag " : "created tag ") << wanted.name << " in " << indexPath << "\n";
    if (!lost.empty())
        out << "the old index could not be opened (" << lost << "); the new one holds only this tag\n";
    return kOk;
}

// ---------------------------------------------------------------------------------------------------
int cmdSeek(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 3) fail(kError, "usage: dbftool seek TABLE TAG KEY");
    auto t = openTable(a[0], true);
    if (!t->index()) fail(kError, t->path() + " has no production index");
    if (!t->selectTag(a[1])) fail(kError, t->path() + ": no tag " + a[1]);
    // Character tags take the key in the table's codepage; numeric, date and logical tags take the value
    // as text (ASCII either way).
    bool lossy = false;
    std::string key = xb::fromUtf8(a[2], tableCodepage(*t), &lossy);
    if (lossy) return kNotFound;  // a character the table cannot hold is in no key
    if (t->seek(key)) {
        out << t->recno() << "\n";
        return kOk;
    }
    if (!t->error().empty()) fail(kError, t->error());
    return kNotFound;
}

// ---------------------------------------------------------------------------------------------------
int cmdCheck(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
    if (a.size() != 1) fail(kError, "usage: dbftool check TABLE");
    std::string path = existingTable(a[0]);
    std::vector<std::string> faults;
    std::string error;
    auto t = xb::Table::open(path, error, true);
    if (!t) {
        out << (error.empty() ? path + ": cannot be opened" : error) << "\n";
        err << "check failed: " << path << " cannot be opened\n";
        return kCheckFailed;
    }
    size_t tagCount = 0;
    // The tags are checked against the records as the file holds them, read once in record order for
    // all tags together and for the records' own check.
    if (xb::CdxFile* cdx = t->index()) {
        auto tags = cdx->tags();
        tagCount = tags.size();
        std::vector<int> which;
        for (size_t i = 0; i < tags.size(); ++i) which.push_back(static_cast<int>(i));
        std::vector<std::vector<std::string>> tagFaults;
        bool checked = false;
        checkTable(*t, faults, [&](const xb::RecordPiece& piece) {
            cdx->checkTags(which, t->reader(), tagFaults, piece);
            checked = true;
        });
        if (!checked) cdx->checkTags(which, t->reader(), tagFaults);  // the records were not read
        for (size_t i = 0; i < tags.size(); ++i) {
            // each fault names the index file; the tag is named once
            for (auto& f : tagFaults[i])
                faults.push_back(f.find("tag " + tags[i].name + ":") == std::string::npos
                                     ? "tag " + tags[i].name + ": " + f
                                     : f);
        }
    } else {
        checkTable(*t, faults);
    }
    for (const auto& f : faults) out << f << "\n";
    if (!faults.empty()) {
        err << "check failed: " << faults.size() << (faults.size() == 1 ? " fault" : " faults") << " in "
            << path << "\n";
        return kCheckFailed;
    }
    out << path << ": " << t->recordCount() << " records, " << tagCount << " tags, no faults\n";
    return kOk;
}

// ---------------------------------------------------------------------------------------------------
int cmdPack(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1) fail(kError, "usage: dbftool pack TABLE");
    auto t = openTable(a[0], false);
    const uint32_t before = t->recordCount();
    if (!t->pack()) fail(kError, t->error().empty() ? t->path() + ": pack failed" : t->error());
    out << "packed " << t->path() << ": " << t->recordCount() << " records remain, "
        << (before - t->recordCount()) << " removed\n";
    return kOk;
}

}  // namespace

std::string usage() {
    return "usage: dbftool COMMAND ...\n"
           "  info TABLE\n"
           "  dump TABLE [--deleted]\n"
           "  create TABLE SCHEMA [--format fox2|vfp|db3] [--codepage 1252|437|850]\n"
           "         SCHEMA like NAME:C:20,AMOUNT:N:10:2,FLAG:L,DAY:D,NOTES:M\n"
           "  load TABLE CSV\n"
           "  index TABLE TAG EXPR [--descending] [--unique]\n"
           "  seek TABLE TAG KEY\n"
           "  check TABLE\n"
           "  pack TABLE\n"
           "  --version, --help\n"
           "exit codes: 0 success, 1 not found or check failed, 2 usage or I/O error\n";
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << "dbftool: no command (try dbftool --help)\n";
        return kError;
    }
    const std::string& cmd = args[0];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        out << usage();
        return kOk;
    }
    if (cmd == "--version") {
        out << "dbftool " TARVIK_VERSION "\n";
        return kOk;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        if (cmd == "info") return cmdInfo(rest, out);
        if (cmd == "dump") return cmdDump(rest, out);
        if (cmd == "create") return cmdCreate(rest, out);
        if (cmd == "load") return cmdLoad(rest, out);
        if (cmd == "index") return cmdIndex(rest, out);
        if (cmd == "seek") return cmdSeek(rest, out);
        if (cmd == "check") return cmdCheck(rest, out, err);
        if (cmd == "pack") return cmdPack(rest, out);
        fail(kError, "unknown command " + cmd + " (try dbftool --help)");
    } catch (const Failure& f) {
        std::string m = f.message;
        for (char& c : m)
            if (c == '\n' || c == '\r') c = ' ';
        out.flush();
        err << "dbftool: " << m << "\n";
        return f.code;
    } catch (const std::exception& e) {
        out.flush();
        err << "dbftool: " << e.what() << "\n";
        return kError;
    }
}

}  // namespace dbftool
