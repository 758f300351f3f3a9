// RFC 4180 CSV for dbftool: fields separated by commas, records by CRLF; a field holding a comma, a
// quote, CR or LF (or starting with a UTF-8 byte order mark) is quoted, with quotes doubled inside.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace dbftool {

// Appends one field, quoted when needed.
void csvAppendField(std::string& line, std::string_view value);
// One record (no line end).
std::string csvRecord(const std::vector<std::string>& fields);

// Reads CSV rows one at a time, from a text in memory or from a stream read in pieces (so that a file
// of any size is read in little memory). The same rules as csvParse below.
class CsvReader {
  public:
    explicit CsvReader(std::string_view text) : data_(text) {}
    explicit CsvReader(std::istream& in) : in_(&in) {}
    // The next row; false at the end of the text, and on malformed quoting (error() then says what and
    // on which line) or a stream that cannot be read (error() set too).
    bool next(std::vector<std::string>& row);
    // The same without copying the values: each view is valid until the next call (an unquoted value
    // is a view of the text read; a quoted one, of the reader's copy without its quotes).
    bool next(std::vector<std::string_view>& row);
    const std::string& error() const { return error_; }
    int line() const { return line_; }  // the line the next row starts on
    // Whether every character of the row just read is known to be below 0x80 (7-bit text).
    bool rowIs7Bit() const { return (seen_ & 0x80) == 0; }

  private:
    // Where one value of the row lies: in the text (from the row's start) or in unquoted_[quoted].
    struct Span {
        size_t start = 0, size = 0;
        int quoted = -1;
    };
    // At least n more characters are available, unless the text ends before. The current row's text
    // stays in place (from row_), the rest read so far may move.
    bool have(size_t n);
    bool field(Span& span, int& quotedUsed);
    bool readRow();

    std::istream* in_ = nullptr;
    std::string buf_;
    std::string_view data_;
    size_t pos_ = 0;
    size_t row_ = 0;  // where the current row starts
    bool started_ = false;
    int line_ = 1;
    std::string error_;
    uint8_t seen_ = 0;  // the bytes of the row's unquoted values, or-ed together
    std::vector<Span> spans_;
    std::vector<std::string> unquoted_;
    std::vector<std::string_view> views_;  // a row for next(std::vector<std::string>&)
};

// Parses a whole CSV text into rows. Accepts CRLF, LF or CR line ends, a UTF-8 byte order mark at the
// start and a missing line end after the last row. A blank last line is not a row. Returns false (with
// the line number in error) on a quote inside an unquoted field, text after a closing quote, or an
// unterminated quoted field.
bool csvParse(std::string_view text, std::vector<std::vector<std::string>>& rows, std::string& error);

}  // namespace dbftool
