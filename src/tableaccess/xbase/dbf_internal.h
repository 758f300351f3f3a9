// Parts of xb::Table that its source files share (dbf.cpp, dbf_navigation.cpp, dbf_write.cpp,
// dbf_fields.cpp, dbf_pack.cpp): the byte order of the header, the kinds of fields, and the reading and
// writing of a header. Not for use outside the engine.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tableaccess/xbase/dbf.h"
#include "tableaccess/xbase/fields.h"

namespace xb::detail {

inline constexpr size_t kCacheBytes = 256 * 1024;  // read-ahead of sequential record reads
inline constexpr size_t kJumpBytes = 4 * 1024;     // a page of records reached by jumps (seek, go, tag order)
inline constexpr size_t kJumpCacheBytes = 32 * 1024 * 1024;  // such pages kept, at most
inline constexpr const char* kPackMarker =
    ".packing~";                                       // present while a committed pack is being put in place
inline constexpr const char* kCreateSuffix = ".new~";  // a new table file, before it takes its name
// Header byte 14 while appends have not been flushed to disk (dBase IV kept a transaction mark there;
// FoxPro leaves it zero).
inline constexpr uint8_t kAppendsUnsynced = 0x01;

inline uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void putLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline bool isVfp(uint8_t version) {
    return version == 0x30 || version == 0x31 || version == 0x32;
}
// Visual FoxPro field flags: 0x01 system, 0x02 nullable, 0x04 binary (C and M fields), 0x0C (both bits)
// autoincrementing, for I fields only.
inline bool isAutoIncrement(const FieldDesc& f) {
    return f.type == 'I' && (f.flags & 0x0C) == 0x0C;
}
inline bool isMemoType(char t, uint8_t version) {
    return t == 'M' || ((t == 'G' || t == 'P') && (isVfp(version) || version == 0xF5));
}

inline std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\0')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0')) --e;
    return std::string(s.substr(b, e - b));
}

inline std::string upper(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

// The date of the header's last-update field: today.
HeaderDate today();

// The field descriptors of a header (from byte 32 up to the 0x0D terminator within the header),
// checked: at least one field, every kind of a fixed size with that size, the record length the sum of
// the fields. Gives each descriptor's position and the terminator's; false with the problem otherwise.
bool parseFields(const std::vector<uint8_t>& header, bool vfp, uint16_t recordLength,
                 std::vector<FieldDesc>& all, std::vector<uint32_t>& allPos, size_t& terminator,
                 std::string& why);

// Writes the header of a new, empty table to a file beside real and puts it in real's place, so that
// a table of that name is replaced whole or not at all. On failure nothing is left behind and error
// says why.
bool writeNewTableFile(const std::string& real, const std::vector<uint8_t>& header, std::string& error);

}  // namespace xb::detail
