#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
namespace xb {
// One field of a table as the header describes it. offset counts from the start of the record buffer,
// whose byte 0 is the deletion flag (' ' or '*').
struct FieldDesc {
    std::string name;  // as stored (upper case usually), no NULs
    char type = 'C';   // C N F L D M I Y T B G P 0 ...
    uint32_t offset = 0;
    uint16_t length = 0;  // bytes in the record
    uint8_t decimals = 0;
    uint8_t flags = 0;  // VFP field flags (system/nullable/binary)
};
// A piece of records read in record order: count records from first on, length bytes each, one after the
// other; count 0 (and no records) when record first cannot be read. Returns whether to read on.
using RecordPiece =
    std::function<bool(uint32_t first, const uint8_t* records, uint32_t count, size_t length)>;
// Reads records of a table for index builds and checks. recno from 1; out receives the whole record
// buffer (deletion flag included). Returns false when the record cannot be read.
class RecordReader {
  public:
    virtual ~RecordReader() = default;
    virtual uint32_t recordCount() const = 0;
    virtual bool readRecord(uint32_t recno, std::vector<uint8_t>& out) = 0;
    // Reads up to count consecutive records from first on, their buffers one after the other in out,
    // and returns how many it read: all of them, or those before the first it cannot read (0 when that
    // is first itself). Readers that can read many records at once override it; this one reads them
    // one at a time.
    virtual uint32_t readRecords(uint32_t first, uint32_t count, std::vector<uint8_t>& out) {
        out.clear();
        std::vector<uint8_t> one;
        uint32_t n = 0;
        while (n < count && readRecord(first + n, one)) {
            if (n > 0 && one.size() != out.size() / n) break;  // records of one length only
            out.insert(out.end(), one.begin(), one.end());
            ++n;
        }
        return n;
    }
    // Reads every record in record order, pieces of about a megabyte (records of recordBytes) at a time,
    // each handed to piece; a record that cannot be read is a piece of its own, and the reading goes on
    // after it. False when piece stopped it.
    bool readInPieces(size_t recordBytes, const RecordPiece& piece) {
        constexpr size_t kPieceBytes = size_t(1) << 20;
        const uint32_t count = recordCount();
        const uint32_t most = uint32_t(kPieceBytes / (recordBytes ? recordBytes : 1)) + 1;
        std::vector<uint8_t> records;
        for (uint32_t r = 1; r <= count;) {
            const uint32_t n = readRecords(r, count - r + 1 < most ? count - r + 1 : most, records);
            if (!piece(r, n ? records.data() : nullptr, n, n ? records.size() / n : 0)) return false;
            r += n ? n : 1;
        }
        return true;
    }
};
}  // namespace xb
