// Codepages of xBase tables. A table's header byte 29 names the codepage its text bytes are in; the
// engine itself works in those bytes, and these functions convert at the edges (UTF-8, UTF-16, char32).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace xb {

enum class Codepage { Cp1252, Cp437, Cp850, Cp1250 };

// The codepage a header byte names: 0x03 and 0x00 (no mark) and any byte not known here give cp1252,
// 0x01 cp437, 0x02 cp850, 0xC8 cp1250.
Codepage codepageFromByte(uint8_t headerByte);
// The header byte written for a codepage (cp1252 -> 0x03).
uint8_t codepageByte(Codepage cp);
// Windows-style number (1252, 437, 850, 1250) <-> codepage; false for other numbers.
bool codepageFromNumber(int number, Codepage& cp);
int codepageNumber(Codepage cp);

// The 256 UTF-16 units (all within the Basic Multilingual Plane) for the bytes of a codepage.
const char16_t* codepageTable(Codepage cp);

// Bytes -> Unicode.
std::u16string toUtf16(std::string_view bytes, Codepage cp);
std::u32string toUtf32(std::string_view bytes, Codepage cp);
std::string toUtf8(std::string_view bytes, Codepage cp);

// Unicode -> bytes. A character the codepage lacks becomes '?' and sets *lossy (when given).
std::string fromUtf16(std::u16string_view text, Codepage cp, bool* lossy = nullptr);
std::string fromUtf32(std::u32string_view text, Codepage cp, bool* lossy = nullptr);
// Invalid UTF-8 sequences count as lossy and become '?'.
std::string fromUtf8(std::string_view text, Codepage cp, bool* lossy = nullptr);
// The same into out (its room reused, for converting many values).
void fromUtf8Into(std::string_view text, Codepage cp, std::string& out, bool* lossy = nullptr);
// Whether the codepage holds each 7-bit character as the byte ASCII gives it (so that 7-bit UTF-8 text is
// its own encoding).
bool keepsAscii(Codepage cp);

// One character -> its byte, or -1 when the codepage lacks it.
int encodeChar(char32_t c, Codepage cp);

// What xBase's UPPER() makes of each byte of a codepage: a byte the codepage calls a lower-case letter
// becomes the byte of its capital when the codepage has that capital (cp437 "ü" 0x81 -> "Ü" 0x9A,
// cp850 "ù" -> "Ù", but cp437 "ù" stays: cp437 has no "Ù"); every other byte stays as it is ("ß" too,
// whose capital is two letters). 256 entries.
const uint8_t* upperTable(Codepage cp);

}  // namespace xb
