// Memo files of xBase tables.
//
// FPT (FoxPro, Visual FoxPro): a 512-byte header (next free block, big-endian, at 0; block size,
// big-endian, at 6), then blocks; each memo starts at a block with an 8-byte header (type, 1 = text;
// length), both big-endian, followed by its bytes. New files use 64-byte blocks. A memo rewritten with
// no more blocks than it has keeps its place when the caller can show those blocks are its own (see
// write); otherwise, and when it grows, it gets new blocks at the end.
//
// DBT (dBase III): 512-byte blocks, next free block (little-endian) at 0; a memo's bytes end with 0x1A
// 0x1A. Every write goes to the end; a last memo without its end mark (which reads to the end of the
// file) gets one first, so that what it reads stays the same.
//
// Block numbers are 32-bit in the file; all arithmetic on them is 64-bit and checked, so a file whose
// blocks run out refuses the memo rather than wrapping around onto its header. A header whose next free
// block lies inside the header or past the end of the file (by more than the unpadded rest of a last
// block) is damage: memos are still read (each one checked against the file's size), but every write
// is refused with that damage, since new memos there would land on the header, far past the end, or
// where records whose pointers run past the end of a cut file would find them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tableaccess/xbase/fileio.h"

namespace xb {

class MemoFile {
  public:
    enum class Kind { Fpt, Dbt };

    // Opens an existing memo file; checks its header against its size.
    static std::unique_ptr<MemoFile> open(const std::string& path, Kind kind, bool readOnly,
                                          std::string& error);
    // Creates an empty memo file (fails when it exists unless replace), flushed to disk.
    static std::unique_ptr<MemoFile> create(const std::string& path, Kind kind, uint32_t blockSize,
                                            bool replace, std::string& error);

    // The memo at block (0: none, gives empty text). Errors name the file: a block before the first data
    // block or past the end of the file, a length running past the end.
    bool read(uint32_t block, std::string& out, std::string& error);
    // Whether data would fit in the blocks of the memo at oldBlock (by the length it has stored).
    bool fitsInPlace(uint32_t oldBlock, size_t bytes);
    // Stores data; oldBlock is the memo it replaces (0 for none). block receives where it went (0 when
    // data is empty). The old memo's blocks are reused only when they all lie before ownedEnd: the
    // caller's proof that no other memo starts in them (0, the default: nothing is reused). A write that
    // fails adds nothing (the file is cut back to its size before the write).
    bool write(uint32_t oldBlock, std::string_view data, uint32_t& block, std::string& error,
               uint32_t ownedEnd = 0);
    bool sync();
    // The state before a series of writes, to take them back when what they were for fails (the memos
    // of a record that is then not appended). Only for memos written at the end, not in place.
    struct Mark {
        uint32_t nextFree = 0;
        uint64_t size = 0;
    };
    Mark mark() const { return {nextFree_, fileSize_}; }
    bool rollback(const Mark& mark, std::string& error);
    // Bulk appending (a new file being filled, as pack does): memos are gathered in memory and written
    // in large pieces, the header at endBulk. Reads of memos written in bulk wait for endBulk.
    // A rollback to a mark taken while appending in bulk takes back the memos gathered since it.
    void beginBulk();
    bool endBulk(std::string& error);
    bool bulk() const { return bulk_; }

    const std::string& path() const { return file_.path(); }
    Kind kind() const { return kind_; }
    uint32_t blockSize() const { return blockSize_; }
    uint32_t nextFree() const { return nextFree_; }
    uint64_t fileSize() const { return fileSize_; }
    // Why the header is damaged (writes are refused); empty when it is sound.
    const std::string& damage() const { return damage_; }
    // Blocks a memo with this many bytes of text occupies at least: its 8-byte block header and the
    // text (FPT), the text and its end mark (DBT).
    uint64_t blocksHolding(uint64_t textBytes) const;

  private:
    MemoFile() = default;
    bool writeHeader(std::string& error);
    bool flushBulk(std::string& error);
    std::string where(uint32_t block) const;
    // The next free block a header gives, checked against the file's size (damage_ set when bad).
    void takeNextFree(uint32_t fromHeader);
    // Blocks past nextFree_ for a memo of `blocks`, or an error when the 32-bit block numbers run out.
    bool reserve(uint64_t blocks, std::string& error) const;
    // Cuts the file back to size after a failed write.
    void cutBack(uint64_t size);
    // DBT: whether the file ends with a memo's end mark (and the zeros that pad its block).
    bool endsMarked();

    io::File file_;
    Kind kind_ = Kind::Fpt;
    bool readOnly_ = false;
    bool shared_ = false;  // opened from disk: other handles may add memos too
    uint32_t blockSize_ = 64;
    uint32_t nextFree_ = 0;
    uint64_t fileSize_ = 0;
    std::string damage_;
    bool bulk_ = false;
    std::string bulkBuf_;  // blocks from bulkStart_ on
    uint32_t bulkStart_ = 0;
};

}  // namespace xb
