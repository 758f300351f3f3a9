// xb::Table, whole files written anew: pack, structure copies and index builds. Every new file is
// written and flushed beside the old one before it takes its name; a pack puts its files in place under
// a marker naming each new file's size and digest, so that the next open finishes an interrupted pack or
// keeps the table as it was.
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
#include "tableaccess/xbase/dbf.h"
#include "tableaccess/xbase/dbf_internal.h"
#include "tableaccess/xbase/fileio.h"
#include "tableaccess/xbase/fpt.h"
#include "tableaccess/xbase/numtext.h"

namespace xb {
using namespace detail;

namespace {

constexpr const char* kPackSuffix = ".pack~";  // new files of a pack, beside the old ones

// The size and a 64-bit digest of a file's bytes: what a pack marker records of each new file, so that
// the files an interrupted pack left are put in place only when they are the ones it wrote.
struct FileDigest {
    uint64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const FileDigest&) const = default;
};

// Digest version 1 (markers "xbase pack 1") takes the bytes one at a time; version 2 (what this engine
// writes) takes them eight at a time, little-endian, and the last few one at a time. A marker an older
// engine left is still verified with the digest it was written with.
bool digestOf(const std::string& path, FileDigest& out, int version = 2) {
    io::File f;
    std::string why;
    if (!f.open(path, false, why)) return false;
    std::vector<uint8_t> buf(1 << 20);
    uint64_t h = 0x243F6A8885A308D3ull, at = 0;
    const auto mix = [&h](uint64_t v) {
        h = (h ^ v) * 0x100000001B3ull;
        h ^= h >> 29;
    };
    uint8_t carry[8];  // version 2: the bytes of a word that a piece of the file cut
    size_t carried = 0;
    const auto word = [](const uint8_t* p) {
        uint64_t w = 0;
        for (int k = 7; k >= 0; --k) w = (w << 8) | p[k];
        return w;
    };
    for (;;) {
        const long long got = f.readSomeAt(at, buf.data(), buf.size());
        if (got < 0) return false;
        if (got == 0) break;
        const size_t n = size_t(got);
        size_t i = 0;
        if (version >= 2) {
            while (carried > 0 && carried < 8 && i < n) carry[carried++] = buf[i++];
            if (carried == 8) {
                mix(word(carry));
                carried = 0;
            }
            for (; i + 8 <= n; i += 8) mix(word(buf.data() + i));
            while (i < n) carry[carried++] = buf[i++];
        } else {
            for (; i < n; ++i) mix(buf[i]);
        }
        at += uint64_t(n);
    }
    for (size_t k = 0; k < carried; ++k) mix(carry[k]);
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

constexpr const char* kMarkerFirstLine = "xbase pack 2";  // "xbase pack N": digest version N

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
bool parseMarker(const std::string& text, std::vector<PackedFile>& files, int& version) {
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
    if (!nextLine(line)) return false;
    if (line == kMarkerFirstLine)
        version = 2;
    else if (line == "xbase pack 1")
        version = 1;
    else
        return false;
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
    // Records asked for in order (as index builds do) are read ahead in large pieces.
    bool readRecord(uint32_t recno, std::vector<uint8_t>& out) override {
        if (recno < 1 || recno > count_) return false;
        out.resize(recordLength_);
        if (recno < first_ || recno >= first_ + held_) {
            const uint32_t per = std::max<uint32_t>(1, static_cast<uint32_t>(kCacheBytes / recordLength_));
            const uint32_t n = std::min<uint32_t>(per, count_ - recno + 1);
            buffer_.resize(size_t(n) * recordLength_);
            if (!file_.readAt(headerLength_ + uint64_t(recno - 1) * recordLength_, buffer_.data(),
                              buffer_.size())) {
                held_ = 0;
                return file_.readAt(headerLength_ + uint64_t(recno - 1) * recordLength_, out.data(),
                                    recordLength_);
            }
            first_ = recno;
            held_ = n;
        }
        std::memcpy(out.data(), buffer_.data() + size_t(recno - first_) * recordLength_, recordLength_);
        return true;
    }

  private:
    const io::File& file_;
    uint64_t headerLength_;
    uint32_t recordLength_, count_;
    std::vector<uint8_t> buffer_;
    uint32_t first_ = 0, held_ = 0;
};

}  // namespace

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
    int version = 0;
    if (!parseMarker(text, files, version)) {
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
            st = digestOf(target + kPackSuffix, d, version) && d == f.digest ? State::Ready : State::Unsound;
        else if (own && digestOf(target, d, version) && d == f.digest)
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
    auto created = CdxFile::create(io::exists(existing) ? existing : target, fields_, tags, reader(), err,
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
        if (!cdx_->rebuildAll(reader(), err))
            return fail(err.empty() ? existing + ": cannot rebuild the index" : err);
    }
    if (!flush()) return false;
    if (readOnly_) return fail(path_ + ": the table is open for reading only");
    std::string err;
    if (!cdx_->ensureTags(tags, reader(), err))
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
    if (!cdx_->rebuildAll(reader(), err))
        return fail(err.empty() ? indexPath() + ": cannot rebuild the index" : err);
    orderValid_ = false;
    return ok();
}

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
