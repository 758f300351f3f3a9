// Memo files of xBase tables.
//
// FPT (FoxPro, Visual FoxPro): a 512-byte header (next free block, big-endian, at 0; block size,
// big-endian, at 6), then blocks; each memo starts at a block with an 8-byte header (type, 1 = text;
// length), both big-endian, followed by its bytes. New files use 64-byte blocks. A memo rewritten with
// no more blocks than it has keeps its place; one that grows gets new blocks at the end.
//
// DBT (dBase III): 512-byte blocks, next free block (little-endian) at 0; a memo's bytes end with 0x1A
// 0x1A. Every write goes to the end.
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
    // Stores data; oldBlock is the memo it replaces (0 for none). block receives where it went (0 when
    // data is empty).
    bool write(uint32_t oldBlock, std::string_view data, uint32_t& block, std::string& error);
    bool sync();
    // Bulk appending (a new file being filled, as pack does): memos are gathered in memory and written
    // in large pieces, the header at endBulk. Reads of memos written in bulk wait for endBulk.
    void beginBulk();
    bool endBulk(std::string& error);

    const std::string& path() const { return file_.path(); }
    Kind kind() const { return kind_; }
    uint32_t blockSize() const { return blockSize_; }
    uint32_t nextFree() const { return nextFree_; }

  private:
    MemoFile() = default;
    bool writeHeader(std::string& error);
    bool flushBulk(std::string& error);
    std::string where(uint32_t block) const;

    io::File file_;
    Kind kind_ = Kind::Fpt;
    bool readOnly_ = false;
    bool shared_ = false;  // opened from disk: other handles may add memos too
    uint32_t blockSize_ = 64;
    uint32_t nextFree_ = 0;
    uint64_t fileSize_ = 0;
    bool bulk_ = false;
    std::string bulkBuf_;  // blocks from bulkStart_ on
    uint32_t bulkStart_ = 0;
};

}  // namespace xb
