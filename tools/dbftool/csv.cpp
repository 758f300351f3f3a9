#include "csv.h"

#include <array>

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
    // Keep the characters not yet used, then read on in pieces of 1 MB.
    buf_.erase(0, pos_);  // data_ is buf_ whenever the text comes from a stream
    pos_ = 0;
    while (buf_.size() < n && *in_) {
        const size_t had = buf_.size();
        buf_.resize(had + (1 << 20));
        in_->read(buf_.data() + had, static_cast<std::streamsize>(buf_.size() - had));
        buf_.resize(had + static_cast<size_t>(in_->gcount()));
    }
    if (in_->bad()) error_ = "the file cannot be read";
    data_ = buf_;
    return buf_.size() >= n;
}

namespace {
// The characters that end an unquoted field, or make it malformed.
constexpr std::array<bool, 256> kSpecial = [] {
    std::array<bool, 256> t{};
    t[uint8_t(',')] = t[uint8_t('\r')] = t[uint8_t('\n')] = t[uint8_t('"')] = true;
    return t;
}();
}  // namespace

// One field, from the current position up to the comma or line end after it (not taken).
bool CsvReader::field(std::string& out) {
    out.clear();
    if (have(1) && data_[pos_] == '"') {
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
    while (have(1)) {
        // the unquoted run up to the next special character, taken at once
        const size_t start = pos_;
        const size_t end = data_.size();
        while (pos_ < end && !kSpecial[static_cast<uint8_t>(data_[pos_])]) ++pos_;
        out.append(data_.data() + start, pos_ - start);
        if (pos_ < data_.size()) {
            if (data_[pos_] == '"') {
                error_ = "quote inside an unquoted field on line " + std::to_string(line_);
                return false;
            }
            break;
        }
    }
    return true;
}

bool CsvReader::next(std::vector<std::string>& row) {
    if (!error_.empty()) return false;
    if (!started_) {
        started_ = true;
        if (have(3) && data_.substr(pos_, 3) == "\xEF\xBB\xBF") pos_ += 3;
    }
    if (!have(1)) return false;
    size_t used = 0;  // fields of row filled (their strings are reused)
    auto nextField = [&]() -> std::string& {
        if (used == row.size()) row.emplace_back();
        return row[used++];
    };
    while (true) {
        if (!field(nextField())) return false;
        if (!have(1)) break;
        if (data_[pos_] == ',') {
            ++pos_;
            if (!have(1)) {
                nextField().clear();  // a trailing comma ends with an empty field
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
    row.resize(used);
    return error_.empty();
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
