#include "tableaccess/xbase/fpt.h"

#include <algorithm>
#include <vector>

namespace xb {
namespace {

constexpr uint32_t kHeaderBytes = 512;

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
void putBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void putLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint64_t blocksFor(uint64_t bytes, uint32_t blockSize) {
    return (bytes + blockSize - 1) / blockSize;
}

}  // namespace

std::unique_ptr<MemoFile> MemoFile::open(const std::string& path, Kind kind, bool readOnly,
                                         std::string& error) {
    std::unique_ptr<MemoFile> m(new MemoFile);
    m->kind_ = kind;
    m->readOnly_ = readOnly;
    m->shared_ = true;
    std::string why;
    if (!m->file_.open(path, !readOnly, why)) {
        error = path + ": cannot open the memo file (" + why + ")";
        return nullptr;
    }
    const long long size = m->file_.size();
    uint8_t h[8] = {};
    if (size < static_cast<long long>(kHeaderBytes) || !m->file_.readAt(0, h, sizeof h)) {
        error = path + ": the memo file is truncated (shorter than its 512-byte header)";
        return nullptr;
    }
    m->fileSize_ = static_cast<uint64_t>(size);
    if (kind == Kind::Fpt) {
        m->blockSize_ = (uint32_t(h[6]) << 8) | h[7];
        if (m->blockSize_ == 0) {
            error = path + ": the memo file header gives a block size of 0";
            return nullptr;
        }
        m->takeNextFree(be32(h));
    } else {
        m->blockSize_ = 512;
        m->takeNextFree(le32(h));
    }
    return m;
}

void MemoFile::takeNextFree(uint32_t fromHeader) {
    const uint64_t first = blocksFor(kHeaderBytes, blockSize_);
    // The blocks the file holds; some writers do not pad the last one.
    const uint64_t held = blocksFor(fileSize_, blockSize_);
    if (fromHeader < first) {
        damage_ = path() + ": the memo file header gives the next free block as " +
                  std::to_string(fromHeader) + ", inside the 512-byte header";
    } else if (fromHeader > held) {
        damage_ = path() + ": the memo file header gives the next free block as " +
                  std::to_string(fromHeader) + ", past the end of the file (" + std::to_string(held) +
                  " blocks of " + std::to_string(blockSize_) + " bytes)";
    }
    // Blocks past the recorded end: a write interrupted before the header update. They hold no memo a
    // record points to; new memos go after them.
    nextFree_ = static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(fromHeader, held), UINT32_MAX));
}

bool MemoFile::reserve(uint64_t blocks, std::string& error) const {
    if (uint64_t(nextFree_) + blocks > UINT32_MAX) {
        error = path() + ": the memo file is full (a memo of " + std::to_string(blocks) +
                " blocks after block " + std::to_string(nextFree_) +
                " would pass the last block number a table can hold)";
        return false;
    }
    return true;
}

void MemoFile::cutBack(uint64_t size) {
    if (file_.size() > static_cast<long long>(size)) file_.truncate(size);
    fileSize_ = size;
}

uint64_t MemoFile::blocksHolding(uint64_t textBytes) const {
    return blocksFor(textBytes + (kind_ == Kind::Fpt ? 8 : 1), blockSize_);
}

std::unique_ptr<MemoFile> MemoFile::create(const std::string& path, Kind kind, uint32_t blockSize,
                                           bool replace, std::string& error) {
    std::unique_ptr<MemoFile> m(new MemoFile);
    m->kind_ = kind;
    m->blockSize_ = kind == Kind::Dbt ? 512 : std::clamp<uint32_t>(blockSize, 1, 65535);
    std::string why;
    if (!m->file_.create(path, replace, why)) {
        error = path + ": cannot create the memo file (" + why + ")";
        return nullptr;
    }
    m->nextFree_ = static_cast<uint32_t>(blocksFor(kHeaderBytes, m->blockSize_));
    std::vector<uint8_t> header(std::max<uint64_t>(kHeaderBytes, uint64_t(m->nextFree_) * m->blockSize_), 0);
    if (kind == Kind::Fpt) {
        putBe32(header.data(), m->nextFree_);
        header[6] = uint8_t(m->blockSize_ >> 8);
        header[7] = uint8_t(m->blockSize_);
    } else {
        putLe32(header.data(), m->nextFree_);
        header[16] = 0x03;  // dBase III memo file version
    }
    if (!m->file_.writeAt(0, header.data(), header.size()) || !m->file_.sync()) {
        error = path + ": cannot write the memo file (" + io::lastSystemError() + ")";
        return nullptr;
    }
    m->fileSize_ = header.size();
    return m;
}

std::string MemoFile::where(uint32_t block) const {
    return path() + ": memo block " + std::to_string(block);
}

bool MemoFile::read(uint32_t block, std::string& out, std::string& error) {
    out.clear();
    if (block == 0) return true;
    const uint64_t pos = uint64_t(block) * blockSize_;
    if (pos < kHeaderBytes) {
        error = where(block) + " lies inside the memo file header";
        return false;
    }
    // The file may have grown through another handle since it was opened.
    const auto within = [&](uint64_t end) {
        if (end <= fileSize_) return true;
        const long long size = file_.size();
        if (size > 0) fileSize_ = static_cast<uint64_t>(size);
        return end <= fileSize_;
    };
    if (kind_ == Kind::Fpt) {
        // One read for the block header and, usually, the whole text.
        uint8_t first[512];
        if (!within(pos + 8)) {
            error = where(block) + " is past the end of the memo file";
            return false;
        }
        const uint64_t chunk = std::min<uint64_t>(sizeof first, fileSize_ - pos);
        if (!file_.readAt(pos, first, chunk)) {
            error = where(block) + " cannot be read (" + io::lastSystemError() + ")";
            return false;
        }
        const uint32_t length = be32(first + 4);
        if (!within(pos + 8 + uint64_t(length))) {
            error = where(block) + " has a length of " + std::to_string(length) +
                    " bytes, running past the end of the memo file";
            return false;
        }
        if (8 + uint64_t(length) <= chunk) {
            out.assign(reinterpret_cast<const char*>(first + 8), length);
            return true;
        }
        out.resize(length);
        if (!file_.readAt(pos + 8, out.data(), length)) {
            error = where(block) + " cannot be read (" + io::lastSystemError() + ")";
            return false;
        }
        return true;
    }
    // DBT: read until 0x1A
    if (!within(pos + 1)) {
        error = where(block) + " is past the end of the memo file";
        return false;
    }
    std::vector<char> buf(blockSize_);
    uint64_t at = pos;
    while (at < fileSize_) {
        const long long n = file_.readSomeAt(at, buf.data(), buf.size());
        if (n <= 0) break;
        const char* endMark = std::find(buf.data(), buf.data() + n, '\x1A');
        out.append(buf.data(), static_cast<size_t>(endMark - buf.data()));
        if (endMark != buf.data() + n) return true;
        at += static_cast<uint64_t>(n);
    }
    return true;  // no end mark: the memo runs to the end of the file
}

bool MemoFile::writeHeader(std::string& error) {
    uint8_t h[4];
    if (kind_ == Kind::Fpt)
        putBe32(h, nextFree_);
    else
        putLe32(h, nextFree_);
    if (!file_.writeAt(0, h, 4)) {
        error = path() + ": cannot write the memo file header (" + io::lastSystemError() + ")";
        return false;
    }
    return true;
}

bool MemoFile::endsMarked() {
    // The last byte other than the zeros that pad the last block: an end mark, or nothing after the header.
    if (fileSize_ <= kHeaderBytes) return true;
    uint8_t tail[512];
    const uint64_t n = std::min<uint64_t>(sizeof tail, fileSize_ - kHeaderBytes);
    if (!file_.readAt(fileSize_ - n, tail, size_t(n))) return false;
    for (uint64_t i = n; i-- > 0;)
        if (tail[i] != 0) return tail[i] == 0x1A;
    return false;
}

bool MemoFile::fitsInPlace(uint32_t oldBlock, size_t bytes) {
    if (kind_ != Kind::Fpt || oldBlock == 0) return false;
    const uint64_t pos = uint64_t(oldBlock) * blockSize_;
    uint8_t h[8];
    if (pos < kHeaderBytes || pos + 8 > fileSize_ || !file_.readAt(pos, h, 8)) return false;
    return blocksFor(8 + uint64_t(bytes), blockSize_) <= blocksFor(8 + uint64_t(be32(h + 4)), blockSize_);
}

bool MemoFile::write(uint32_t oldBlock, std::string_view data, uint32_t& block, std::string& error,
                     uint32_t ownedEnd) {
    block = 0;
    if (readOnly_) {
        error = path() + ": the memo file is open for reading only";
        return false;
    }
    if (data.empty()) return true;
    if (!damage_.empty()) {
        error = damage_;
        return false;
    }
    // Another handle on the same file may have added memos since: take the end from the file itself
    // (not while memos gathered in bulk wait to be written after the end this object knows).
    if (shared_ && !(bulk_ && !bulkBuf_.empty())) {
        uint8_t h[4];
        const long long size = file_.size();
        if (size >= 0) fileSize_ = static_cast<uint64_t>(size);
        if (file_.readAt(0, h, 4)) {
            const uint32_t before = nextFree_;
            takeNextFree(kind_ == Kind::Fpt ? be32(h) : le32(h));
            if (!damage_.empty()) {
                error = damage_;
                return false;
            }
            nextFree_ = std::max(nextFree_, before);
        }
    }
    const uint64_t sizeBefore = fileSize_;
    if (bulk_) {
        if (bulkBuf_.empty()) bulkStart_ = nextFree_;
        const size_t at = bulkBuf_.size();
        block = nextFree_;
        if (kind_ == Kind::Dbt) {
            bulkBuf_.append(data.data(), data.size());
            bulkBuf_.append("\x1A\x1A", 2);
        } else {
            uint8_t h[8];
            putBe32(h, 1);
            putBe32(h + 4, static_cast<uint32_t>(data.size()));
            bulkBuf_.append(reinterpret_cast<const char*>(h), 8);
            bulkBuf_.append(data.data(), data.size());
        }
        const uint64_t blocks = blocksFor(bulkBuf_.size() - at, blockSize_);
        if (!reserve(blocks, error)) {
            bulkBuf_.resize(at);
            block = 0;
            return false;
        }
        bulkBuf_.resize(at + size_t(blocks) * blockSize_, '\0');
        nextFree_ += static_cast<uint32_t>(blocks);
        return bulkBuf_.size() < (1u << 20) || flushBulk(error);
    }
    if (kind_ == Kind::Dbt) {
        std::vector<uint8_t> buf(data.begin(), data.end());
        buf.push_back(0x1A);
        buf.push_back(0x1A);
        const uint64_t blocks = blocksFor(buf.size(), blockSize_);
        buf.resize(blocks * blockSize_, 0);
        // A last memo without its end mark reads on to the end of the file: a memo appended after it would
        // become part of its text. Its end is marked first, at the end of the file (what it reads stays
        // the same), and the new memo starts in a block after that mark.
        const bool unmarked = !endsMarked();
        const uint32_t before = nextFree_;
        if (unmarked)
            nextFree_ = static_cast<uint32_t>(std::min<uint64_t>(
                std::max<uint64_t>(nextFree_, blocksFor(fileSize_ + 1, blockSize_)), UINT32_MAX));
        if (!reserve(blocks, error)) {
            nextFree_ = before;
            return false;
        }
        const uint64_t pos = uint64_t(nextFree_) * blockSize_;
        const uint8_t mark = 0x1A;
        if ((unmarked && !file_.writeAt(sizeBefore, &mark, 1)) ||
            !file_.writeAt(pos, buf.data(), buf.size())) {
            error = path() + ": cannot write a memo (" + io::lastSystemError() + ")";
            nextFree_ = before;
            cutBack(sizeBefore);
            return false;
        }
        fileSize_ = std::max<uint64_t>(fileSize_, pos + buf.size());
        block = nextFree_;
        nextFree_ += static_cast<uint32_t>(blocks);
        if (!writeHeader(error)) {
            nextFree_ = before;
            block = 0;
            cutBack(sizeBefore);
            return false;
        }
        return true;
    }
    if (data.size() > 0xFFFFFFFFull - 8) {
        error = path() + ": a memo of " + std::to_string(data.size()) + " bytes is too long";
        return false;
    }
    const uint64_t need = blocksFor(8 + data.size(), blockSize_);
    bool inPlace = false;
    if (oldBlock != 0 && ownedEnd != 0 && fitsInPlace(oldBlock, data.size())) {
        // Reuse the old memo's blocks when the new text fits in them and the caller has shown that no other
        // memo starts within them.
        uint8_t h[8];
        const uint64_t pos = uint64_t(oldBlock) * blockSize_;
        if (file_.readAt(pos, h, 8)) {
            const uint64_t had = blocksFor(8 + uint64_t(be32(h + 4)), blockSize_);
            inPlace = uint64_t(oldBlock) + had <= std::min(ownedEnd, nextFree_);
        }
    }
    if (!inPlace && !reserve(need, error)) return false;
    const uint32_t target = inPlace ? oldBlock : nextFree_;
    std::vector<uint8_t> buf(need * blockSize_, 0);
    putBe32(buf.data(), 1);
    putBe32(buf.data() + 4, static_cast<uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), buf.begin() + 8);
    const uint64_t pos = uint64_t(target) * blockSize_;
    // Blocks reused in place are written up to the end of the text only.
    const size_t count = inPlace ? 8 + data.size() : buf.size();
    if (!file_.writeAt(pos, buf.data(), count)) {
        error = path() + ": cannot write a memo (" + io::lastSystemError() + ")";
        if (!inPlace) cutBack(sizeBefore);
        return false;
    }
    fileSize_ = std::max<uint64_t>(fileSize_, pos + count);
    if (!inPlace) {
        nextFree_ += static_cast<uint32_t>(need);
        if (!writeHeader(error)) {
            nextFree_ -= static_cast<uint32_t>(need);
            cutBack(sizeBefore);
            return false;
        }
    }
    block = target;
    return true;
}

bool MemoFile::rollback(const Mark& mark, std::string& error) {
    if (bulk_) {
        if (mark.nextFree >= bulkStart_ && mark.nextFree <= nextFree_) {
            // memos still gathered in memory: they are let go, nothing was written
            bulkBuf_.resize(size_t(mark.nextFree - bulkStart_) * blockSize_);
            nextFree_ = mark.nextFree;
            return true;
        }
        bulk_ = false;
        bulkBuf_.clear();
    }
    if (mark.nextFree == nextFree_ && mark.size == fileSize_) return true;
    nextFree_ = mark.nextFree;
    const bool written = writeHeader(error);
    cutBack(mark.size);
    return written;
}

bool MemoFile::sync() {
    return readOnly_ || file_.sync();
}

void MemoFile::beginBulk() {
    bulk_ = true;
    bulkBuf_.clear();
    bulkStart_ = nextFree_;
}

bool MemoFile::flushBulk(std::string& error) {
    if (!bulkBuf_.empty()) {
        const uint64_t pos = uint64_t(bulkStart_) * blockSize_;
        if (!file_.writeAt(pos, bulkBuf_.data(), bulkBuf_.size())) {
            error = path() + ": cannot write memos (" + io::lastSystemError() + ")";
            return false;
        }
        fileSize_ = std::max<uint64_t>(fileSize_, pos + bulkBuf_.size());
        // many memos at once start on their way to the disk now: the flush after them waits less
        if (bulkBuf_.size() >= (size_t(256) << 10)) file_.startWriteback(pos, bulkBuf_.size());
        bulkBuf_.clear();
    }
    bulkStart_ = nextFree_;
    return true;
}

bool MemoFile::endBulk(std::string& error) {
    if (!bulk_) return true;
    bulk_ = false;
    return flushBulk(error) && writeHeader(error);
}

}  // namespace xb
