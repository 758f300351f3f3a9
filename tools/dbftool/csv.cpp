#include "csv.h"

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

bool csvParse(std::string_view text, std::vector<std::vector<std::string>>& rows, std::string& error) {
    rows.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    size_t i = 0;
    const size_t n = text.size();
    int line = 1;
    std::vector<std::string> row;
    std::string field;
    while (i < n) {
        // start of a field
        field.clear();
        if (text[i] == '"') {
            const int startLine = line;
            ++i;
            bool closed = false;
            while (i < n) {
                char c = text[i];
                if (c == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        field.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                if (c == '\n' || (c == '\r' && !(i + 1 < n && text[i + 1] == '\n'))) ++line;
                field.push_back(c);
                ++i;
            }
            if (!closed) {
                error = "unterminated quoted field starting on line " + std::to_string(startLine);
                return false;
            }
            if (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                error = "text after a closing quote on line " + std::to_string(line);
                return false;
            }
        } else {
            while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                if (text[i] == '"') {
                    error = "quote inside an unquoted field on line " + std::to_string(line);
                    return false;
                }
                field.push_back(text[i]);
                ++i;
            }
        }
        row.push_back(field);
        if (i >= n) break;
        if (text[i] == ',') {
            ++i;
            if (i >= n) row.emplace_back();  // a trailing comma ends with an empty field
            continue;
        }
        // line end
        if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        ++i;
        ++line;
        rows.push_back(std::move(row));
        row.clear();
    }
    if (!row.empty()) rows.push_back(std::move(row));
    return true;
}

}  // namespace dbftool
