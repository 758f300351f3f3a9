// RFC 4180 CSV for dbftool: fields separated by commas, records by CRLF; a field holding a comma, a
// quote, CR or LF (or starting with a UTF-8 byte order mark) is quoted, with quotes doubled inside.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dbftool {

// Appends one field, quoted when needed.
void csvAppendField(std::string& line, std::string_view value);
// One record (no line end).
std::string csvRecord(const std::vector<std::string>& fields);

// Parses a whole CSV text into rows. Accepts CRLF, LF or CR line ends, a UTF-8 byte order mark at the
// start and a missing line end after the last row. A blank last line is not a row. Returns false (with
// the line number in error) on a quote inside an unquoted field, text after a closing quote, or an
// unterminated quoted field.
bool csvParse(std::string_view text, std::vector<std::vector<std::string>>& rows, std::string& error);

}  // namespace dbftool
