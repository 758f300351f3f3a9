// xb::Table, navigation and read-ahead: moving among the records in record order or in the order of a
// tag (go, top, bottom, skip, seek), the read cache that reads consecutive records in large pieces and a
// record reached by a jump in a small page that is kept, and the count read again so that appends of
// other handles are seen. What was read is dropped when another handle of this process wrote records
// of the file since (see recordsWritten). Moving writes the current record first when it was changed (see
// dbf_write.cpp).
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

bool Table::readRecordRaw(uint32_t recno, uint8_t* out) {
    if (recno < 1 || recno > recCount_)
        return fail(path_ + ": record " + std::to_string(recno) + " does not exist");
    const uint32_t inFile = fileCount();
    if (recno > inFile) {  // an append not yet written
        std::memcpy(out, pending_.data() + size_t(recno - inFile - 1) * recordLength_, recordLength_);
        return true;
    }
    if (othersWrote()) dropReads();
    if (recno >= cacheFirst_ && recno < cacheFirst_ + cacheCount_) {
        std::memcpy(out, cache_.data() + size_t(recno - cacheFirst_) * recordLength_, recordLength_);
        return true;
    }
    // Sequential reading (forwards from the record after the cached ones or after the current one,
    // backwards from the one before them or before the current one, or from the first record) fills the
    // read-ahead in large pieces; a jump elsewhere (tag order, go, seek) reads the small page around the
    // record and keeps it.
    const bool forward = (cacheCount_ > 0 ? recno == cacheFirst_ + cacheCount_ : recno == 1) ||
                         (recno_ >= 1 && recno == recno_ + 1);
    const bool backward = (cacheCount_ > 0 && recno + 1 == cacheFirst_) || recno + 1 == recno_;
    if (!forward && !backward) return readJump(recno, out);
    keepOldRecord();  // the read-ahead is about to be filled again
    const uint32_t per = std::max<uint32_t>(1, static_cast<uint32_t>(kCacheBytes / recordLength_));
    uint32_t first = recno;
    // Reading backwards (skip -1) fills the cache with the records before this one.
    if (!forward) first = recno >= per ? recno - per + 1 : 1;
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

Table::JumpPage* Table::keptPage(uint32_t recno) {
    if (jumpPages_.empty()) return nullptr;
    const uint32_t page = (recno - 1) / perPage_;
    JumpPage& p = jumpPages_[page % jumpPages_.size()];
    return p.page == page && recno - 1 - page * perPage_ < p.count ? &p : nullptr;
}

bool Table::readJump(uint32_t recno, uint8_t* out) {
    const auto truncated = [&] {
        return fail(path_ + ": record " + std::to_string(recno) + " cannot be read (the file is truncated)");
    };
    if (!writes_) {
        // Whether another handle wrote cannot be told: the record itself, from the file.
        const uint64_t pos = uint64_t(headerLength_) + uint64_t(recno - 1) * recordLength_;
        return file_->readAt(pos, out, recordLength_) || truncated();
    }
    if (const JumpPage* p = keptPage(recno)) {
        std::memcpy(out, jumpRecord(*p, recno), recordLength_);
        return true;
    }
    const uint32_t inFile = fileCount();
    const size_t pageBytes = size_t(perPage_) * recordLength_;
    const size_t most = std::max<size_t>(1, kJumpCacheBytes / pageBytes);
    const size_t needed = (size_t(inFile) + perPage_ - 1) / perPage_;
    if (jumpPages_.size() < std::min(most, needed)) {
        // Grows with the table (by doubling, so that a table growing by appends is not laid out anew at
        // every page), up to the limit.
        const size_t pages = std::min(most, std::max(needed, 2 * jumpPages_.size()));
        jumpPages_.clear();
        jumpPages_.resize(pages);
        jumpBytes_.reset(new uint8_t[pages * pageBytes]);  // not filled: the system gives pages on use
    }
    const uint32_t page = (recno - 1) / perPage_;
    JumpPage& p = jumpPages_[page % jumpPages_.size()];
    p.page = page;
    uint8_t* bytes = jumpRecord(p, page * perPage_ + 1);
    const uint32_t first = page * perPage_ + 1;
    const uint32_t count = std::min<uint32_t>(perPage_, inFile - first + 1);
    const uint64_t pos = uint64_t(headerLength_) + uint64_t(first - 1) * recordLength_;
    const long long got = file_->readSomeAt(pos, bytes, size_t(count) * recordLength_);
    if (got < 0 || static_cast<uint64_t>(got) < uint64_t(recno - first + 1) * recordLength_) {
        p.page = UINT32_MAX;
        return truncated();
    }
    p.count = static_cast<uint32_t>(static_cast<uint64_t>(got) / recordLength_);
    std::memcpy(out, bytes + size_t(recno - first) * recordLength_, recordLength_);
    return true;
}

void Table::dropReads() {
    keepOldRecord();
    cacheCount_ = 0;
    for (JumpPage& p : jumpPages_) p.page = UINT32_MAX;
    if (writes_) writesSeen_ = writes_->load(std::memory_order_acquire);
}

void Table::recordsWritten() {
    if (!writes_) return;
    const uint64_t before = writes_->fetch_add(1, std::memory_order_acq_rel);
    if (before == writesSeen_) writesSeen_ = before + 1;
}

bool Table::loadCurrent(uint32_t recno, bool fresh) {
    if (fresh && !writes_ && recno >= 1 && recno <= fileCount()) {
        // Whether another handle wrote cannot be told: random access reads the record itself, so that
        // their changes are seen.
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
    becomeCurrent(recno);
    return ok();
}

void Table::becomeCurrent(uint32_t recno) {
    recOld_ = rec_;
    oldInCache_ = false;
    recno_ = recno;
    eof_ = bof_ = false;
    dirty_ = false;
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
            dropReads();
            orderValid_ = false;
            memoStartsKnown_ = false;  // the other handle's records may point to memos too
        }
    }
    return true;
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
    if (n == 1 && tag_ < 0 && !dirty_ && !eof_ && recno_ >= 1 && recno_ < recCount_ && !othersWrote()) {
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

}  // namespace xb
