// xb::Table, the record file and its header: opening a table (its header and field descriptors checked
// against the file, the memo file and production index taken up, an interrupted pack finished or set
// aside), creating a new one, and what the header describes. A damaged table does not open, and opening
// never writes to a table it refuses.
#include "tableaccess/xbase/dbf.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <tuple>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/dbf_internal.h"
#include "tableaccess/xbase/fileio.h"
#include "tableaccess/xbase/fpt.h"
#include "tableaccess/xbase/numtext.h"

namespace xb {
using namespace detail;

namespace {

bool nameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The record writes made in this process to each open table file, by the file's identity: shared by the
// handles that have it open, gone with the last of them.
std::shared_ptr<std::atomic<uint64_t>> writeCounterOf(const io::File& file) {
    io::FileIdentity id;
    if (!file.identity(id)) return nullptr;
    static std::mutex lock;
    static std::map<std::pair<uint64_t, uint64_t>, std::weak_ptr<std::atomic<uint64_t>>> counters;
    const std::lock_guard<std::mutex> hold(lock);
    for (auto it = counters.begin(); it != counters.end();)
        it = it->second.expired() ? counters.erase(it) : ++it;
    auto& slot = counters[{id.device, id.file}];
    std::shared_ptr<std::atomic<uint64_t>> counter = slot.lock();
    if (!counter) {
        counter = std::make_shared<std::atomic<uint64_t>>(0);
        slot = counter;
    }
    return counter;
}

}  // namespace

namespace detail {

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

}  // namespace detail

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
    // The records as the file holds them, read in one piece: not the read-ahead, which is kept for
    // navigation. Appends not yet written and the changed current record come from memory, one at a time.
    uint32_t readRecords(uint32_t first, uint32_t count, std::vector<uint8_t>& out) override {
        if (first < 1 || first > t_.recCount_ || count == 0) {
            out.clear();
            return 0;
        }
        count = std::min(count, t_.recCount_ - first + 1);
        const uint32_t inFile = t_.fileCount();
        uint32_t direct = first <= inFile ? std::min(count, inFile - first + 1) : 0;
        if (t_.dirty_ && t_.recno_ >= first && t_.recno_ - first < direct) direct = t_.recno_ - first;
        if (direct == 0) return RecordReader::readRecords(first, 1, out);
        const size_t length = t_.recordLength_;
        out.resize(size_t(direct) * length);
        const uint64_t pos = uint64_t(t_.headerLength_) + uint64_t(first - 1) * length;
        const long long got = t_.file_->readSomeAt(pos, out.data(), out.size());
        const uint32_t whole = got > 0 ? uint32_t(uint64_t(got) / length) : 0;
        out.resize(size_t(whole) * length);
        // A record the file does not hold whole: read alone, so that the table says why.
        if (whole == 0) return RecordReader::readRecords(first, 1, out);
        return whole;
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
    jumpPages_.clear();
    perPage_ = std::max<uint32_t>(1, static_cast<uint32_t>(kJumpBytes / recordLength_));
    writes_ = writeCounterOf(*file_);
    writesSeen_ = writes_ ? writes_->load(std::memory_order_acquire) : 0;
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

}  // namespace xb
