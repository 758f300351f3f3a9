// xb::Table: one open xBase table (DBF) with its memo file (FPT, or DBT for dBase III) and its
// production compound index (CDX).
//
// Supported table versions, each kept as it is when a table is written:
//   0x03 dBase III / FoxPro 2.x without memo, 0x83 dBase III with DBT memo,
//   0xF5 FoxPro 2.x with FPT memo, 0x30 / 0x31 / 0x32 Visual FoxPro (263-byte backlink, _NullFlags).
// Field types C N F L D M are read and written fully; every other type (I Y T B G P V 0 ...) is kept byte
// for byte (text access gives its raw bytes).
//
// The engine works in bytes of the table's codepage (see codepage.h for conversions).
//
// Errors: every call that can fail returns false (or nullptr / 0) and leaves a message naming the file
// and the problem in `error()` (static calls fill the `error` argument). Bad input never crashes and is
// never written to: a damaged table opens with an error and is not modified. Damage a write would
// spread that shows only on use (an index tree below a root, a memo file header whose next free block
// lies outside the file) lets the table be read and refuses every write with that damage; a refused
// write writes nothing (no record, no memo, no header date).
//
// Records are numbered from 1. Field changes go into the buffer of the current record, which is written
// back (and the production index updated) when the table moves to another record, on flush() and when
// the table is closed (destroyed). Memo texts are written to the memo file at once. Deletes and recalls
// are written at once. Moving past the last record leaves eof() set and recno() at count + 1.
//
// Appends are gathered in a batch (up to 256 KB of records): this object reads and changes them as
// records of the table at once, and writes them to the file together, in one write followed by one
// write of the header count (and then their keys to the index), when the batch is full and before any
// other operation: moving (go, top, bottom, skip, seek), a change of an existing record, a delete,
// flush(), index(), pack, index builds, closing. Until then other handles on the file do not see them
// (a table with a Visual FoxPro autoincrement field writes each append at once: other handles count on
// from its numbers).
// When the batch cannot be written (a disk error, a full disk) none of its records is added and the
// memos written for them are taken back: the call that wrote it fails, and recordCount() says how many
// records the table holds.
//
// Durability: appends write the records (and the 0x1A end marker) before the header's record count;
// create, copyStructure and pack build new files beside the old ones, flush them and rename them into
// place. A record found past the header's count (an append cut short) is ignored and overwritten.
// What that gives, exactly:
//  - a killed process (kill -9, a crash of the program): every write made is in the system's cache and
//    reaches the file; a batch of appends cut short between its two writes leaves records past the
//    count, which the next open ignores, and a batch not yet written is lost whole. The table always
//    opens with every record written before the batch (and never with a part of a record).
//  - power loss: only what flush() (or closing) made durable is certain. flush() syncs the memo file,
//    then the table, then the index, once per batch of changes, not per append (a sync per append
//    would cost a disk round trip each). Between two flushes the system may write the header page
//    before the page of an appended record: the header then counts records the file does not hold,
//    and (on a file system that writes data before sizes, as ext4 does by default) the file is shorter
//    than the count says. So every append writes, in the same write as the count, a mark in header
//    byte 14 that flush() removes once the records are on the disk. An open that finds the count
//    ahead of the file with the mark set takes the records the file holds (and, when writing, corrects
//    the count); without the mark such a file is damaged and refused as truncated. What a power loss
//    can cost is the appends since the last flush: call flush() after a batch that must survive it.
//
// The implementation, one concept per file: dbf.cpp (the record file and its header: open, create),
// dbf_navigation.cpp (moving, read-ahead), dbf_write.cpp (writing records, batches of appends),
// dbf_fields.cpp (field values and memos), dbf_pack.cpp (pack, structure copies, index builds).
//
// Two Table objects on the same file see each other's appends (the count is read again from the file
// before appends and on top/bottom/go), but not each other's cached index pages: keep one writer.
// Records read are kept (the read-ahead of a scan, and pages of the records reached by seek, go and tag
// order, up to 32 MB a table); every handle in this process counts its record writes on a counter of
// the file it has open, and a handle whose records were read before another handle's write drops them
// and reads the file again. A change by another process is seen once the kept records are read again
// (top, bottom, a change of the record count, or a page not kept).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tableaccess/xbase/fields.h"

namespace xb {

namespace io {
class File;
}
class CdxFile;
class MemoFile;
struct TagSpec;

// The file layouts a new table can have.
enum class Format {
    DBase3,  // 0x03, or 0x83 with a .dbt memo file
    Fox2,    // 0x03, or 0xF5 with an .fpt memo file
    Vfp,     // 0x30, .fpt memo, 263-byte backlink
};

// A field for Table::create. offset is computed; flags only matter for Visual FoxPro (0x02 nullable).
struct NewField {
    std::string name;
    char type = 'C';
    uint16_t length = 0;  // C 1-254, N/F 1-20; ignored (fixed) for L, D, M (set by the format), I, Y, T, B
    // flags: 0x02 nullable (adds _NullFlags), 0x0C on an I field: autoincrement (version 0x31)
    uint8_t decimals = 0;
    uint8_t flags = 0;
};

// A value of a record that Table::appendRecord adds: text as setText takes it, or (raw) exactly the
// field's bytes.
struct NewValue {
    int field = 0;  // 0-based position
    std::string bytes;
    bool raw = false;
};

// The text of a memo field of a record added from its image (Table::appendRecordImage).
struct MemoText {
    int field = 0;  // 0-based position
    std::string_view text;
};

// Calendar date of the header's last-update field.
struct HeaderDate {
    int year = 0, month = 0, day = 0;
};

class Table {
  public:
    ~Table();  // writes a pending record buffer, closes files
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Opens the table at path; ".dbf" is optional and the file name is matched without regard to case.
    // Opens the memo file and the production index (when the header flags one) too. readOnly opens the
    // files for reading only (every write then fails). nullptr with error on failure.
    // withoutIndex leaves the production index closed (to replace a missing or damaged one with
    // createIndex); record writes are then refused until createIndex has run.
    static std::unique_ptr<Table> open(const std::string& path, std::string& error, bool readOnly = false,
                                       bool withoutIndex = false);

    // Creates a new empty table (and an empty memo file when a field is M: .fpt with 64-byte blocks, or
    // .dbt for DBase3). Version: Fox2 0xF5 with memo / 0x03 without, DBase3 0x83 / 0x03, Vfp 0x30 (0x31
    // with an autoincrement field); I, Y, T, B need Vfp. Field names are stored upper-cased (1 to 10
    // letters, digits or _, starting with a letter). The codepage byte goes into the header (0x03
    // cp1252, 0x01 cp437, 0x02 cp850, 0xC8 cp1250; 0 means 0x03). ".dbf" is added when path has no
    // extension. Fails when the file exists. The table is returned open.
    static std::unique_ptr<Table> create(const std::string& path, const std::vector<NewField>& fields,
                                         Format format, uint8_t codepage, std::string& error);

    // Makes an empty table at newPath with this table's version, codepage and fields (and an empty memo
    // file with the same block size when this table has a memo file); no index. The header is the one
    // read, field descriptors as they are (a Visual FoxPro backlink is cleared where it is, whatever its
    // length). A table already at newPath is replaced: the new files are written beside it and renamed
    // in, the table first. Returns it open.
    std::unique_ptr<Table> copyStructure(const std::string& newPath, std::string& error) const;

    // Finds the path of an existing file whose name equals that of path without regard to case; returns
    // path unchanged when there is none. Adds ".dbf" when withDbfExtension and the name has no extension.
    static std::string resolve(const std::string& path, bool withDbfExtension = false);

    // ---- Description ----
    const std::string& path() const { return path_; }
    std::string memoPath() const;   // empty when the table has no memo file
    std::string indexPath() const;  // production index path (may not exist)
    uint8_t version() const { return version_; }
    Format format() const;
    uint8_t codepageByte() const { return codepage_; }
    HeaderDate lastUpdate() const { return lastUpdate_; }
    bool readOnly() const { return readOnly_; }
    const std::vector<FieldDesc>& fields() const { return fields_; }  // without the _NullFlags field
    int fieldCount() const { return static_cast<int>(fields_.size()); }
    // 0-based position of the field, case-insensitive; -1 when absent.
    int fieldIndex(std::string_view name) const;
    uint16_t recordLength() const { return recordLength_; }
    uint16_t headerLength() const { return headerLength_; }
    bool hasMemoFields() const;
    const std::string& error() const { return error_; }

    // ---- Index ----
    // The production index, or nullptr when the table has none.
    // The pending appends are written first (the index then holds their keys).
    CdxFile* index();
    // Selects a tag by name (case-insensitive) for ordering and seek; empty name selects record order.
    bool selectTag(std::string_view name);
    int selectedTag() const { return tag_; }  // -1 in record order
    // Seeks key (codepage bytes) on the selected tag. True (record current) when found; false when not
    // found (error() empty) or on failure (error() set). Needs a selected tag.
    bool seek(std::string_view key);
    // Builds a new production index with these tags over all records (replacing any index file of the
    // table's base name) and flags it in the header.
    bool createIndex(const std::vector<TagSpec>& tags);
    // Makes sure the production index holds these tags (by name), building the missing ones; creates the
    // index when the table has none.
    bool ensureTags(const std::vector<TagSpec>& tags);
    // Recomputes every tag of the production index from the records.
    bool rebuildIndex();

    // ---- Position ----
    uint32_t recordCount() const { return recCount_; }  // deleted records included
    uint32_t recno() const { return recno_; }           // count + 1 at eof; 0 in an empty table
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    // Each returns false at the end/start of the table (eof()/bof() set) or on failure (error() set).
    bool go(uint32_t recno);
    bool top();
    bool bottom();
    bool skip(int n = 1);  // in tag order when a tag is selected, else record order

    // ---- Fields of the current record (field = 0-based position) ----
    // Bytes as stored (trailing blanks kept); for memo fields the memo's bytes (error() set when the memo
    // cannot be read); a Visual FoxPro null gives ""; other types: raw bytes. At eof: blanks.
    std::string getText(int field);
    // Writes text: C is padded with blanks or cut to the field; N and F take a number (sign, digits, one
    // point; blanks around allowed) and store it right-aligned with the field's decimals, refusing other
    // text and numbers that do not fit; L takes T/F/Y/N/?/.T./.F.; D takes a valid CCYYMMDD; I, Y, B
    // take a number; T takes CCYYMMDD; M stores the memo. "" clears any field. Other types take exactly
    // their length in bytes. Fails (false, error() set) and changes nothing on a value it refuses.
    bool setText(int field, std::string_view bytes);
    // Numbers: N/F/C by their leading number (0 when none), I/Y/B binary, L as 1/0. getInt truncates.
    int64_t getInt(int field);
    double getDouble(int field);
    bool getLogical(int field);      // L: T/t/Y/y; numbers: non-zero; text: starts with T or Y
    std::string getDate(int field);  // "CCYYMMDD", empty when blank (D, T, or the trimmed text)
    // N/F: formatted with the field's decimals (rounded), refused when it does not fit.
    bool setInt(int field, int64_t value);
    bool setDouble(int field, double value);
    bool setLogical(int field, bool value);
    bool setDate(int field, std::string_view ccyymmdd);  // empty clears
    // Visual FoxPro null flag (false for other versions)
    bool isNull(int field) const {
        const int b = field >= 0 && size_t(field) < nullBits_.size() ? nullBits_[field] : -1;
        return b >= 0 && ((rec_[size_t(nullFlagsOffset_) + size_t(b / 8)] >> (b % 8)) & 1);
    }
    // Whether the field can hold a null (Visual FoxPro nullable fields).
    bool nullable(int field) const {
        return field >= 0 && size_t(field) < nullBits_.size() && nullBits_[size_t(field)] >= 0;
    }
    // The raw bytes of the field in the record buffer (memo: the pointer).
    std::string rawField(int field) const;
    // The same without a copy; valid until the table moves or the field is written. Empty for a bad field.
    std::string_view rawView(int field) const {
        if (field < 0 || field >= fieldCount()) return {};
        const FieldDesc& f = fields_[field];
        return std::string_view(reinterpret_cast<const char*>(rec_.data() + f.offset), f.length);
    }
    bool setRawField(int field, std::string_view bytes);  // exactly the field's length
    // The whole record buffer of the current record (deletion flag first).
    const std::vector<uint8_t>& recordBuffer() const { return rec_; }

    // ---- Records ----
    bool appendBlank();  // new blank record becomes current
    // Appends one record holding these values (and marked deleted when asked) in one step: every value
    // is checked and the memos are written before the record is, so that a value refused or a memo that
    // cannot be written leaves neither the record nor a memo behind. The new record becomes current.
    bool appendRecord(const std::vector<NewValue>& values, bool deleted = false);
    // Many records at once, for bulk loads: makeRecord checks values as appendRecord does and places
    // them on a blank record in image (recordLength() bytes), adding nothing; appendRecords then adds
    // count such images, one after another in memory, in the batches appendRecord writes (a failure
    // leaves the records of the batches written before it; the last record becomes current). Neither
    // takes memo text or a table that numbers its records itself (takesRecordImages() false): those
    // records need appendRecord, which writes their memos and counters as it adds them.
    bool takesRecordImages() const;
    bool makeRecord(std::span<const NewValue> values, bool deleted, uint8_t* image);
    bool appendRecords(const uint8_t* images, size_t count);
    // One record made by makeRecord, with the text of its memo fields (as appendRecord takes them):
    // the memos are written, then the record joins the batch, as appendRecord adds it.
    bool appendRecordImage(const uint8_t* image, std::span<const MemoText> memos);
    // Appends a copy of source's current record: fields matched by name (case-insensitive); same-shaped
    // fields byte for byte, memos by their text, others converted through text; the deletion flag too.
    bool appendRecordFrom(Table& source);
    bool deleteRecord();
    bool recall();
    bool deleted() const;
    // Removes deleted records, rewrites the memo file without orphan blocks and rebuilds the production
    // index. Crash-safe: the new table, memo file and index are all written beside the old ones and
    // flushed (every step that can fail runs then, while the old files are untouched), then renamed into
    // place under a commit marker naming each new file's size and digest. The next open finishes an
    // interrupted pack when each new file is the one the marker names; when one is not (damaged, or
    // copied in from elsewhere) and nothing was replaced yet, it keeps the table as it is and removes the
    // leftovers; when some files were replaced already, it refuses to open and changes nothing. A memo
    // file whose header is damaged does not stop a pack: each memo is read, checked against the file,
    // into a new memo file.
    bool pack();
    // Writes the pending record and index changes and, when anything was written since the last flush,
    // makes the memo file, the table and the index durable (fsync).
    bool flush();

    // Test hook: called before each step of pack with the step's name; returning false stops the pack
    // there as a crash would (no clean-up). Empty by default.
    static std::function<bool(const char* step)>& packStepHook();

    // Reads records (for index builds and checks) from the file, as they are stored.
    RecordReader& reader();

  private:
    Table();
    class Reader;
    bool fail(std::string message);
    bool ok() {
        error_.clear();
        return true;
    }
    std::string name() const;  // the file name, for messages
    bool load(std::string& error, bool withoutIndex = false);
    bool readRecordRaw(uint32_t recno, uint8_t* out);
    bool loadCurrent(uint32_t recno, bool fresh = false);  // fresh: from the file, not the cache
    // Writes the current record when it was changed (into the batch when it is an append not yet
    // written), then writes the batch of appends.
    bool writeCurrent();
    // The same without writing the batch (for appends).
    bool storeCurrent();
    // Writes the batch of appends: the records and the end mark, the header count, then their keys.
    bool writeAppends();
    uint32_t pendingCount() const { return static_cast<uint32_t>(pending_.size() / recordLength_); }
    uint32_t fileCount() const { return recCount_ - pendingCount(); }  // records written to the file
    bool writeHeaderCount();
    // Refuses (false, error set) when the table may not be written: opened for reading, an index that
    // cannot be kept up to date or is damaged, a memo file whose header is damaged (unless the caller
    // writes a new memo file anyway, as pack does).
    bool checkWritable(bool memoFileToo = true);
    // Puts the files of an interrupted pack in place, or gives those to remove once the table opens.
    bool finishInterruptedPack(std::string& error, std::vector<std::string>& leftovers);
    static std::vector<std::string> packLeftovers(const std::string& table);
    std::string fieldMemo(int field);
    bool storeMemo(int field, std::string_view bytes);
    uint32_t memoBlock(int field) const { return memoBlockIn(rec_, field); }
    void setMemoBlock(int field, uint32_t block);
    uint32_t memoBlockIn(const std::vector<uint8_t>& rec, int field) const;
    void putMemoBlock(std::vector<uint8_t>& rec, int field, uint32_t block) const;
    int nullBit(int field) const;
    void setNull(int field, bool null);
    void putNull(uint8_t* rec, int field, bool null) const;
    // Writes a value of a field other than a memo into a record buffer (its null flag cleared); false
    // (error set, the buffer unchanged) when the value does not fit the field.
    bool putValue(int field, std::string_view bytes, uint8_t* rec);
    std::vector<uint8_t> blankRecord() const;
    bool placeValues(std::span<const NewValue> values, uint8_t* rec, std::vector<const NewValue*>* memos);
    // The record built in rec joins the batch after its memos are written; counters: autoincrement
    // fields and their next values, moved on once the record is added.
    bool addRecord(std::vector<uint8_t>& rec, std::span<const MemoText> memos,
                   const std::vector<std::pair<size_t, uint32_t>>& counters);
    void startBatch();
    // Writes count records at recs (the last count the table counts) and their keys; markFollows: the
    // end marker is the byte after them. A batch not written is taken back whole (abandonBatch).
    bool writeBatch(const uint8_t* recs, uint32_t count, bool markFollows);
    void abandonBatch(uint32_t first);
    bool refuseImages();  // the failure of a record image on a table that numbers its records  // notes where
                          // the memo file stood before a batch of appends
    // The memo pointers of every record (block -> how many fields point there), built when a memo is
    // first rewritten; a memo's blocks are rewritten in place only when they are provably its own.
    std::map<uint32_t, uint32_t> memoStarts_;
    bool memoStartsKnown_ = false;
    bool knowMemoStarts();
    uint32_t memoOwnedEnd(uint32_t block);
    void memoPointerMoved(uint32_t from, uint32_t to);

    std::string path_;
    std::unique_ptr<io::File> file_;
    bool readOnly_ = false;
    uint8_t version_ = 0x03;
    uint8_t codepage_ = 0;
    uint8_t headerFlags_ = 0;
    std::vector<uint8_t> headerRaw_;  // the header as read (descriptors, backlink)
    bool dateWritten_ = false;
    bool unsynced_ = false;         // written since the last flush to disk
    bool appendsUnsynced_ = false;  // appended since the last flush to disk (header byte 14 marked)
    HeaderDate lastUpdate_;
    uint32_t recCount_ = 0;
    uint16_t headerLength_ = 0;
    uint16_t recordLength_ = 0;
    std::vector<FieldDesc> fields_;
    int nullFlagsOffset_ = -1;  // offset of _NullFlags in the record, -1 when none
    int nullFlagsLength_ = 0;
    std::vector<int> nullBits_;      // per field: its bit in _NullFlags, -1 when not nullable
    std::vector<uint32_t> descPos_;  // per field: offset of its descriptor in the header
    std::unique_ptr<MemoFile> memo_;
    std::unique_ptr<CdxFile> cdx_;
    std::unique_ptr<Reader> reader_;
    int tag_ = -1;
    std::string indexUnmaintainable_;  // why the index cannot be kept up to date (writes refused)

    uint32_t recno_ = 0;
    bool eof_ = true, bof_ = true;
    std::vector<uint8_t> rec_;     // current record
    std::vector<uint8_t> recOld_;  // as read (for index update)
    // The record as read is still only in the read cache (a skip to the next record does not copy it
    // to recOld_): keepOldRecord() copies it before the cache changes or the record is written.
    bool oldInCache_ = false;
    void keepOldRecord();
    bool dirty_ = false;
    bool headerDirty_ = false;
    // Appends not yet written (records fileCount() + 1 ... recCount_), and the memo file as it was
    // before the first of them
    std::vector<uint8_t> pending_;
    std::vector<uint8_t> blank_, appendBuf_;  // a blank record; the record being appended
    uint32_t pendingMemoNextFree_ = 0;
    uint64_t pendingMemoSize_ = 0;
    // read cache of consecutive records (of the file, never pending appends)
    std::vector<uint8_t> cache_;
    uint32_t cacheFirst_ = 0, cacheCount_ = 0;
    // Pages of records reached by jumps (seek, go, tag order), kept in slots by page number modulo their
    // count: page p holds records p * perPage_ + 1 onwards (count of them read). Of the file, never
    // appends. The slots' bytes are one block, taken from the system as pages are first filled.
    struct JumpPage {
        uint32_t page = UINT32_MAX;
        uint32_t count = 0;
    };
    std::vector<JumpPage> jumpPages_;
    std::unique_ptr<uint8_t[]> jumpBytes_;
    uint32_t perPage_ = 1;
    uint8_t* jumpRecord(const JumpPage& p, uint32_t recno) {
        return jumpBytes_.get() +
               (size_t(&p - jumpPages_.data()) * perPage_ + (recno - 1 - p.page * perPage_)) * recordLength_;
    }
    bool readJump(uint32_t recno, uint8_t* out);
    JumpPage* keptPage(uint32_t recno);
    void dropReads();  // the read-ahead and the pages go (read again from the file when needed)
    // The record writes of every handle of this process on this file (nullptr when the file cannot be
    // told apart: each record reached by a jump is then read from the file), and the count this
    // handle's kept records are as new as.
    std::shared_ptr<std::atomic<uint64_t>> writes_;
    uint64_t writesSeen_ = 0;
    bool othersWrote() const { return writes_ && writes_->load(std::memory_order_acquire) != writesSeen_; }
    void recordsWritten();  // after this handle wrote records (its kept records are up to date)
    // tag order position
    std::vector<uint32_t> order_;     // recnos in tag order (built lazily from a walk of the tag)
    std::vector<uint32_t> orderPos_;  // recno -> position in order_ + 1 (0: not in the tag)
    bool orderValid_ = false;
    bool ensureOrder();
    bool positionTo(uint32_t recno);  // without writing the buffer
    bool refreshCount();
    // The record in rec_, as stored, becomes the current one: recno, unchanged, not at either end.
    void becomeCurrent(uint32_t recno);
    void setEof();
    bool atEmptyTable();  // positions at both ends of an empty table; returns false
    void invalidateOrder() { orderValid_ = false; }

    std::string error_;
};

}  // namespace xb
