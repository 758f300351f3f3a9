// Fuzz target: key expressions, compiled against a field list and evaluated over records.
//
// Input: a first line of field kinds, one letter each (C N F L D I Y B T M and others, at most 12),
// each followed by its length (the byte after it) and decimals; then the expression up to a NUL; the
// rest fills the records (three of them) byte for byte.
//
// Oracles: a compiled expression gives keys of 1 to 240 bytes (8 for numbers and dates, 1 for logical
// values), written exactly into a buffer of that size (the sanitizers see any byte past it), the same
// key for the same record; a character key from typed text is the text itself.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "tableaccess/xbase/keyexpr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    std::vector<xb::FieldDesc> fields;
    uint32_t offset = 1;
    while (at + 2 < size && data[at] != '\n' && fields.size() < 12) {
        xb::FieldDesc f;
        f.name = std::to_string(fields.size());
        f.name.insert(f.name.begin(), 'F');
        f.type = char(data[at]);
        f.length = data[at + 1];
        f.decimals = data[at + 2];
        f.offset = offset;
        offset += f.length;
        fields.push_back(f);
        at += 3;
    }
    if (at < size && data[at] == '\n') ++at;
    const char* text = reinterpret_cast<const char*>(data + at);
    const size_t textLength = strnlen(text, size - at);
    const std::string expression(text, textLength);
    at = std::min(size, at + textLength + 1);

    std::string error;
    auto expr = xb::KeyExpr::compile(expression, fields, error);
    if (!expr) {
        if (error.empty()) fuzz::broken("an expression was refused without a reason");
        return 0;
    }
    const int length = expr->keyLength();
    const xb::KeyType type = expr->type();
    if (length < 1 || length > 240) fuzz::broken("a key of " + std::to_string(length) + " bytes");
    if ((type == xb::KeyType::Numeric || type == xb::KeyType::Date) && length != 8)
        fuzz::broken("a numeric or date key of " + std::to_string(length) + " bytes");
    if (type == xb::KeyType::Logical && length != 1) fuzz::broken("a logical key of more than a byte");

    for (int r = 0; r < 3; ++r) {
        std::vector<uint8_t> record(offset);
        for (size_t i = 0; i < record.size(); ++i)
            record[i] = at < size ? data[at + (i + size_t(r) * 7) % (size - at)] : uint8_t(' ');
        std::vector<char> key(static_cast<size_t>(length));  // exactly the key's size
        expr->evaluate(record.data(), key.data());
        if (expr->evaluate(record.data()) != std::string(key.begin(), key.end()))
            fuzz::broken("one record gave two keys");
        expr->test(record.data());
    }
    std::string typed;
    if (expr->keyFromText(expression, typed) && type == xb::KeyType::Character && typed != expression)
        fuzz::broken("a character key from text is not the text");
    return 0;
}
