// xb::Table, appending and writing: the current record written back with its index keys, deletes and
// recalls, and appends gathered in batches. A batch is written in one write of its memos, one of its
// records and the end mark, then one of the header count (marked until flush makes it durable), then its
// keys go to the index: a killed process leaves a table that opens with every record written before the
// batch, and a batch the disk refuses adds nothing. flush() makes what was written durable.
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

constexpr size_t kAppendBatchBytes = 256 * 1024;  // appends gathered before they are written together
constexpr size_t kDirectBatchBytes = 4 << 20;     // record images written at once (Table::appendRecords)

}  // namespace

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
    const bool written = file_->writeAt(pos, rec_.data(), rec_.size());
    recordsWritten();
    if (!written)
        return fail(path_ + ": cannot write record " + std::to_string(recno_) + " (" + io::lastSystemError() +
                    ")");
    unsynced_ = true;
    if (recno_ >= cacheFirst_ && recno_ < cacheFirst_ + cacheCount_)
        std::memcpy(cache_.data() + size_t(recno_ - cacheFirst_) * recordLength_, rec_.data(), recordLength_);
    if (const JumpPage* p = keptPage(recno_)) std::memcpy(jumpRecord(*p, recno_), rec_.data(), recordLength_);
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
    if (!placeValues(values, rec.data(), &memos)) return false;
    if (deleted) rec[0] = '*';
    std::vector<MemoText> texts;
    texts.reserve(memos.size());
    for (const NewValue* v : memos) texts.push_back({v->field, v->bytes});
    return addRecord(rec, texts, counters);
}

bool Table::appendRecordImage(const uint8_t* image, std::span<const MemoText> memos) {
    if (!storeCurrent() || !checkWritable() || !refreshCount()) return false;
    if (!takesRecordImages()) return refuseImages();
    if (image[0] != ' ' && image[0] != '*') return fail(path_ + ": the record image has no deletion flag");
    for (const MemoText& m : memos) {
        if (m.field < 0 || m.field >= fieldCount() || !isMemoType(fields_[m.field].type, version_))
            return fail(path_ + ": field number " + std::to_string(m.field + 1) + " is no memo field");
        if (!m.text.empty() && !memo_)
            return fail(path_ + ": field " + fields_[m.field].name +
                        " is a memo, but the table has no memo file");
    }
    std::vector<uint8_t>& rec = appendBuf_;
    rec.assign(image, image + recordLength_);
    return addRecord(rec, memos, {});
}

bool Table::addRecord(std::vector<uint8_t>& rec, std::span<const MemoText> memos,
                      const std::vector<std::pair<size_t, uint32_t>>& counters) {
    // The memos, then the record: a memo that cannot be written takes back the ones before it.
    MemoFile::Mark mark;
    if (memo_) mark = memo_->mark();
    if (pending_.empty()) startBatch();
    // The memos of a batch of appends are gathered and written with it (before its records).
    if (memo_ && !memos.empty() && memo_->kind() == MemoFile::Kind::Fpt && !memo_->bulk()) memo_->beginBulk();
    std::vector<uint32_t> written;
    const auto takeBack = [&](std::string why) {
        std::string ignored;
        if (memo_) memo_->rollback(mark, ignored);
        return fail(std::move(why));
    };
    for (const MemoText& m : memos) {
        uint32_t block = 0;
        std::string err;
        if (!memo_->write(0, m.text, block, err)) return takeBack(err);
        putMemoBlock(rec, m.field, block);
        putNull(rec.data(), m.field, false);
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
    becomeCurrent(recno);
    // A table numbering its records itself (Visual FoxPro autoincrement) writes each append at once,
    // so that other handles count on from it.
    if ((pending_.size() >= kAppendBatchBytes || !counters.empty()) && !writeAppends()) return false;
    return ok();
}

// The values into rec: each checked and placed, or (memos) listed for the caller to write; a memo value
// with text where memos is null is refused.
bool Table::placeValues(std::span<const NewValue> values, uint8_t* rec, std::vector<const NewValue*>* memos) {
    for (const NewValue& v : values) {
        if (v.field < 0 || v.field >= fieldCount())
            return fail(path_ + ": there is no field number " + std::to_string(v.field + 1));
        const FieldDesc& f = fields_[v.field];
        if (v.raw) {
            if (v.bytes.size() != f.length)
                return fail(path_ + ": field " + f.name + " holds " + std::to_string(f.length) +
                            " bytes, not " + std::to_string(v.bytes.size()));
            std::memcpy(rec + f.offset, v.bytes.data(), f.length);
        } else if (isMemoType(f.type, version_)) {
            if (!v.bytes.empty() && !memo_)
                return fail(path_ + ": field " + f.name + " is a memo, but the table has no memo file");
            if (memos)
                memos->push_back(&v);
            else if (!v.bytes.empty())
                return fail(path_ + ": field " + f.name + " is a memo: its record is added by appendRecord");
        } else if (!putValue(v.field, v.bytes, rec)) {
            return false;
        }
    }
    return true;
}

void Table::startBatch() {
    const MemoFile::Mark mark = memo_ ? memo_->mark() : MemoFile::Mark{};
    pendingMemoNextFree_ = mark.nextFree;
    pendingMemoSize_ = mark.size;
}

bool Table::refuseImages() {
    return fail(path_ + ": the table numbers its records itself: its records are added by appendRecord");
}

bool Table::takesRecordImages() const {
    if (!isVfp(version_)) return true;
    return std::none_of(fields_.begin(), fields_.end(),
                        [](const FieldDesc& f) { return isAutoIncrement(f); });
}

bool Table::makeRecord(std::span<const NewValue> values, bool deleted, uint8_t* image) {
    if (!takesRecordImages()) return refuseImages();
    if (blank_.size() != recordLength_) blank_ = blankRecord();
    std::memcpy(image, blank_.data(), recordLength_);
    if (!placeValues(values, image, nullptr)) return false;
    if (deleted) image[0] = '*';
    return true;
}

bool Table::appendRecords(const uint8_t* images, size_t count) {
    if (count == 0) return ok();
    if (!storeCurrent() || !checkWritable() || !refreshCount()) return false;
    if (!takesRecordImages()) return refuseImages();
    const size_t len = recordLength_;
    for (size_t i = 0; i < count; ++i)
        if (images[i * len] != ' ' && images[i * len] != '*')
            return fail(path_ + ": record image " + std::to_string(i + 1) + " has no deletion flag");
    if (count > size_t(UINT32_MAX - recCount_))
        return fail(path_ + ": the table cannot hold so many records");
    for (size_t i = 0; i < count;) {
        if (pending_.empty() && !(memo_ && memo_->bulk()) && count - i > kAppendBatchBytes / len) {
            // Whole batches are written from the images themselves, a few at a time.
            startBatch();
            const size_t n = std::min(count - i, std::max<size_t>(1, kDirectBatchBytes / len));
            recCount_ += uint32_t(n);
            if (!writeBatch(images + i * len, uint32_t(n), false)) return false;
            i += n;
            continue;
        }
        if (pending_.empty()) startBatch();
        // Whole records up to the batch's size, at least one.
        const size_t room =
            pending_.size() < kAppendBatchBytes ? (kAppendBatchBytes - pending_.size()) / len : 0;
        const size_t n = std::min(count - i, std::max<size_t>(room, 1));
        pending_.insert(pending_.end(), images + i * len, images + (i + n) * len);
        recCount_ += uint32_t(n);
        i += n;
        if (pending_.size() >= kAppendBatchBytes && !writeAppends()) return false;
    }
    rec_.assign(images + (count - 1) * len, images + count * len);
    becomeCurrent(recCount_);
    return ok();
}

bool Table::writeAppends() {
    std::string err;
    const bool memosWritten = !memo_ || !memo_->bulk() || memo_->endBulk(err);
    if (pending_.empty()) return memosWritten || fail(err);
    if (!memosWritten) {
        const uint32_t count = pendingCount();
        abandonBatch(recCount_ - count + 1);
        return fail(err);
    }
    // The records and the end marker in one write: the marker goes behind them in the batch's buffer.
    pending_.push_back(0x1A);
    std::vector<uint8_t> batch = std::move(pending_);
    pending_.clear();
    return writeBatch(batch.data(), uint32_t((batch.size() - 1) / recordLength_), true);
}

void Table::abandonBatch(uint32_t first) {
    pending_.clear();
    recCount_ = first - 1;
    memoStartsKnown_ = false;
    orderValid_ = false;
    if (memo_) {
        std::string ignored;
        memo_->rollback(MemoFile::Mark{pendingMemoNextFree_, pendingMemoSize_}, ignored);
    }
    if (recno_ >= first) setEof();
}

bool Table::writeBatch(const uint8_t* recs, uint32_t count, bool markFollows) {
    const uint32_t first = recCount_ - count + 1;  // the records are counted already
    // When the batch cannot be written, none of it is added: the memos written for it are taken back.
    const auto abandon = [&](std::string why) {
        abandonBatch(first);
        return fail(std::move(why));
    };
    // The memos, the records (and the end marker), then the count: a crash of the process in between
    // loses only this batch. No sync between them (see "Durability" in dbf.h for what power loss can do).
    const uint64_t pos = uint64_t(headerLength_) + uint64_t(first - 1) * recordLength_;
    const size_t bytes = size_t(count) * recordLength_;
    static const uint8_t kEndMark = 0x1A;
    const bool appended = markFollows
                              ? file_->writeAt(pos, recs, bytes + 1)
                              : file_->writeAt(pos, recs, bytes) && file_->writeAt(pos + bytes, &kEndMark, 1);
    recordsWritten();
    if (!appended)
        return abandon(path_ + ": cannot append " +
                       (count == 1 ? "a record" : std::to_string(count) + " records") + " (" +
                       io::lastSystemError() + ")");
    // A large batch starts on its way to the disk at once: the flush that makes it durable waits less.
    if (bytes >= kAppendBatchBytes) file_->startWriteback(pos, bytes);
    unsynced_ = true;
    appendsUnsynced_ = true;
    if (!writeHeaderCount()) return abandon(error_);
    if (cdx_) {
        orderValid_ = false;
        std::string err;
        for (uint32_t i = 0; i < count; ++i)
            if (!cdx_->insert(first + i, recs + size_t(i) * recordLength_, err))
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

}  // namespace xb
