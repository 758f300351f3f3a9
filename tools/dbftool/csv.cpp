#include "csv.h"

#include <array>
#include <bit>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dbftool {

void csvAppendField(std::string& line, std::string_view value) {
    // A value starting with a byte order mark is quoted too: at the start of a file, a reader would take
    // the mark for the file's own and drop it.
    bool quote =
        value.find_first_of(",\"\r\n") != std::string_view::npos || value.substr(0, 3) == "\xEF\xBB\xBF";
    if (!quote) {
        line.append(value);
        return;
    }
    line.push_back('"');
    for (char c : value) {
        if (c == '"') line.push_back('"');
        line.push_back(c);
    }
    line.push_back('"');
}

std::string csvRecord(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) line.push_back(',');
        csvAppendField(line, fields[i]);
    }
    return line;
}

bool CsvReader::have(size_t n) {
    if (data_.size() - pos_ >= n) return true;
    if (!in_ || !*in_) return false;
    // Keep the current row and the characters not yet used, then read on in pieces of 1 MB.
    buf_.erase(0, row_);  // data_ is buf_ whenever the text comes from a stream
    pos_ -= row_;
    row_ = 0;
    while (buf_.size() - pos_ < n && *in_) {
        const size_t had = buf_.size();
        buf_.resize(had + (1 << 20));
        in_->read(buf_.data() + had, static_cast<std::streamsize>(buf_.size() - had));
        buf_.resize(had + static_cast<size_t>(in_->gcount()));
    }
    if (in_->bad()) error_ = "the file cannot be read";
    data_ = buf_;
    return buf_.size() - pos_ >= n;
}

namespace {
// The characters that end an unquoted field, or make it malformed.
constexpr std::array<bool, 256> kSpecial = [] {
    std::array<bool, 256> t{};
    t[uint8_t(',')] = t[uint8_t('\r')] = t[uint8_t('\n')] = t[uint8_t('"')] = true;
    return t;
}();

// The position of the first character at or after p that ends an unquoted field (or makes it malformed),
// or end; the characters looked at are or-ed into seen (with SSE2 a block of sixteen at a time, so some
// after the one found too).
size_t findSpecial(const char* d, size_t p, size_t end, uint8_t& seen) {
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(','), quote = _mm_set1_epi8('"'), cr = _mm_set1_epi8('\r'),
                  lf = _mm_set1_epi8('\n');
    __m128i high = _mm_setzero_si128();
    for (; p + 16 <= end; p += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + p));
        high = _mm_or_si128(high, x);
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, comma), _mm_cmpeq_epi8(x, quote)),
                                         _mm_or_si128(_mm_cmpeq_epi8(x, cr), _mm_cmpeq_epi8(x, lf)));
        if (const int mask = _mm_movemask_epi8(hit)) {
            if (_mm_movemask_epi8(high)) seen |= 0x80;  // a character of 0x80 or above
            return p + size_t(std::countr_zero(unsigned(mask)));
        }
    }
    if (_mm_movemask_epi8(high)) seen |= 0x80;
#endif
    for (; p < end && !kSpecial[static_cast<uint8_t>(d[p])]; ++p) seen |= static_cast<uint8_t>(d[p]);
    return p;
}
}  // namespace

// One field, from the current position up to the comma or line end after it (not taken). An unquoted
// field stays in the text; a quoted one is copied without its quotes into the next of unquoted_.
bool CsvReader::field(Span& span, int& quotedUsed) {
    span = Span{};
    if (have(1) && data_[pos_] == '"') {
        seen_ |= 0x80;  // a quoted value's characters are not looked at for this
        if (size_t(quotedUsed) == unquoted_.size()) unquoted_.emplace_back();
        span.quoted = quotedUsed++;
        std::string& out = unquoted_[size_t(span.quoted)];
        out.clear();
        const int startLine = line_;
        ++pos_;
        while (true) {
            if (!have(1)) {
                error_ = "unterminated quoted field starting on line " + std::to_string(startLine);
                return false;
            }
            const char c = data_[pos_];
            if (c == '"') {
                if (have(2) && data_[pos_ + 1] == '"') {
                    out.push_back('"');
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                break;
            }
            if (c == '\n' || (c == '\r' && !(have(2) && data_[pos_ + 1] == '\n'))) ++line_;
            out.push_back(c);
            ++pos_;
        }
        if (have(1) && data_[pos_] != ',' && data_[pos_] != '\r' && data_[pos_] != '\n') {
            error_ = "text after a closing quote on line " + std::to_string(line_);
            return false;
        }
        return true;
    }
    span.start = pos_ - row_;
    while (have(1)) {
        // the unquoted run up to the next special character, taken at once
        pos_ = findSpecial(data_.data(), pos_, data_.size(), seen_);
        if (pos_ < data_.size()) {
            if (data_[pos_] == '"') {
                error_ = "quote inside an unquoted field on line " + std::to_string(line_);
                return false;
            }
            break;
        }
    }
    span.size = pos_ - row_ - span.start;
    return true;
}

// The next row's spans; false at the end or on an error.
bool CsvReader::readRow() {
    if (!error_.empty()) return false;
    if (!started_) {
        started_ = true;
        if (have(3) && data_.substr(pos_, 3) == "\xEF\xBB\xBF") pos_ += 3;
    }
    row_ = pos_;
    seen_ = 0;
    if (!have(1)) return false;
    size_t used = 0;  // spans filled
    int quotedUsed = 0;
    auto nextSpan = [&]() -> Span& {
        if (used == spans_.size()) spans_.emplace_back();
        return spans_[used++];
    };
    while (true) {
        if (!field(nextSpan(), quotedUsed)) return false;
        if (!have(1)) break;
        if (data_[pos_] == ',') {
            ++pos_;
            if (!have(1)) {
                nextSpan() = Span{};  // a trailing comma ends with an empty field
                break;
            }
            continue;
        }
        // line end
        if (data_[pos_] == '\r' && have(2) && data_[pos_ + 1] == '\n') ++pos_;
        ++pos_;
        ++line_;
        break;
    }
    spans_.resize(used);
    return error_.empty();
}

bool CsvReader::next(std::vector<std::string_view>& row) {
    if (!readRow()) return false;
    row.resize(spans_.size());
    for (size_t i = 0; i < spans_.size(); ++i) {
        const Span& s = spans_[i];
        row[i] = s.quoted >= 0 ? std::string_view(unquoted_[size_t(s.quoted)])
                               : data_.substr(row_ + s.start, s.size);
    }
    return true;
}

bool CsvReader::next(std::vector<std::string>& row) {
    if (!next(views_)) return false;
    row.resize(views_.size());
    for (size_t i = 0; i < views_.size(); ++i) row[i].assign(views_[i]);
    return true;
}

bool csvParse(std::string_view text, std::vector<std::vector<std::string>>& rows, std::string& error) {
    rows.clear();
    CsvReader reader(text);
    std::vector<std::string> row;
    while (reader.next(row)) rows.push_back(row);
    error = reader.error();
    return error.empty();
}

}  // namespace dbftool
