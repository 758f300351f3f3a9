#pragma once
#include <cstdint>
#include <string>
#include <vector>
namespace xb {
// One field of a table as the header describes it. offset counts from the start of the record buffer,
// whose byte 0 is the deletion flag (' ' or '*').
struct FieldDesc {
    std::string name;      // as stored (upper case usually), no NULs
    char type = 'C';       // C N F L D M I Y T B G P 0 ...
    uint32_t offset = 0;
    uint16_t length = 0;   // bytes in the record
    uint8_t decimals = 0;
    uint8_t flags = 0;     // VFP field flags (system/nullable/binary)
};
// Reads records of a table for index builds and checks. recno from 1; out receives the whole record
// buffer (deletion flag included). Returns false when the record cannot be read.
class RecordReader {
public:
    virtual ~RecordReader() = default;
    virtual uint32_t recordCount() const = 0;
    virtual bool readRecord(uint32_t recno, std::vector<uint8_t>& out) = 0;
};
}
