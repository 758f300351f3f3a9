#pragma once
// Index key expressions: the small xBase expression language an index tag is defined with, compiled
// once against a table's field list and then evaluated over raw record buffers.
//
// Supported: a field name (optionally "alias->FIELD"), UPPER(c), DTOS(d), STR(n[,len[,dec]]),
// LEFT(c,n), RIGHT(c,n), SUBSTR(c,start[,n]), "+" (concatenation of text, sum of numbers), text
// literals in quotes and number literals; for filters also DELETED(), .T./.F., logical fields and
// .NOT. (or NOT, !), .AND., .OR. Key encodings follow FoxPro's compact indexes:
//  - character keys are the bytes of the text, fixed width;
//  - numeric keys are 8-byte doubles made byte-sortable (big-endian, sign bit flipped for positive
//    values, all bits inverted for negative ones);
//  - date keys are the julian day number encoded like a numeric key (0 for an empty date);
//  - logical keys are one byte, 'T' or 'F'.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/fields.h"

namespace xb {

enum class KeyType { Character, Numeric, Date, Logical };

namespace detail {
struct ExprNode;
}

class KeyExpr {
  public:
    ~KeyExpr();
    KeyExpr(const KeyExpr&) = delete;
    KeyExpr& operator=(const KeyExpr&) = delete;

    // Compiles text against the fields of a table whose text is in codepage (UPPER() changes the
    // lower-case letters of that codepage; see upperTable). nullptr and a reason when the text is not an
    // expression this engine can evaluate (unknown field or function, wrong argument kinds, ...).
    static std::unique_ptr<KeyExpr> compile(std::string_view text, const std::vector<FieldDesc>& fields,
                                            std::string& error, Codepage codepage = Codepage::Cp1252);

    KeyType type() const { return type_; }
    // Bytes of one key: the text width for character keys, 8 for numeric and date keys, 1 for logical.
    int keyLength() const { return keyLength_; }
    // Byte that pads a key's tail: blank for character keys, NUL for the binary encodings.
    char padByte() const { return type_ == KeyType::Character ? ' ' : '\0'; }

    // Writes keyLength() bytes of the key of this record (the buffer includes the deletion flag).
    void evaluate(const uint8_t* record, char* out) const;
    std::string evaluate(const uint8_t* record) const;
    // For logical expressions (filters): whether the record passes.
    bool test(const uint8_t* record) const;

    // Turns text typed by a user into a key of this expression's kind: numbers for numeric keys,
    // CCYYMMDD for date keys, T/F for logical keys; character keys are taken as they are (not padded).
    // False when the text is not a value of that kind.
    bool keyFromText(std::string_view text, std::string& key) const;

  private:
    KeyExpr() = default;
    std::unique_ptr<detail::ExprNode> root_;
    KeyType type_ = KeyType::Character;
    int keyLength_ = 0;
};

// The byte-sortable encodings, exposed for tests and seeks.
void encodeNumericKey(double value, char* out8);
double decodeNumericKey(const char* in8);
// Julian day number of a date (proleptic Gregorian); 0 when the date is not valid.
int64_t julianDay(int year, int month, int day);
// Julian day of a "CCYYMMDD" text; 0 when blank or not a date.
int64_t julianDayOfText(std::string_view ccyymmdd);

}  // namespace xb
