#include "schema.h"

#include <cctype>
#include <charconv>
#include <set>

namespace dbftool {
namespace {

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t p = s.find(sep, start);
        if (p == std::string_view::npos) {
            parts.push_back(s.substr(start));
            break;
        }
        parts.push_back(s.substr(start, p - start));
        start = p + 1;
    }
    return parts;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool parseNumber(std::string_view s, int& value) {
    if (s.empty()) return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), value);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

bool parseSchema(std::string_view schema, xb::Format format, std::vector<xb::NewField>& fields,
                 std::string& error) {
    fields.clear();
    std::set<std::string> names;
    if (trim(schema).empty()) {
        error = "the schema names no field";
        return false;
    }
    for (std::string_view entryRaw : split(schema, ',')) {
        std::string_view entry = trim(entryRaw);
        auto parts = split(entry, ':');
        const std::string where = "schema entry '" + std::string(entry) + "': ";
        if (parts.size() < 2 || parts.size() > 4) {
            error = where + "expected NAME:TYPE[:LENGTH[:DECIMALS]]";
            return false;
        }
        std::string name(trim(parts[0]));
        if (name.empty() || name.size() > 10 || !std::isalpha(static_cast<unsigned char>(name[0]))) {
            error = where + "a field name has 1 to 10 characters and starts with a letter";
            return false;
        }
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
                error = where + "a field name holds only letters, digits and underscores";
                return false;
            }
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (!names.insert(name).second) {
            error = where + "field " + name + " appears twice";
            return false;
        }
        std::string_view typeText = trim(parts[1]);
        if (typeText.size() != 1) {
            error = where + "the type is one letter";
            return false;
        }
        const char type = static_cast<char>(std::toupper(static_cast<unsigned char>(typeText[0])));
        int length = 0, decimals = 0;
        const bool hasLength = parts.size() >= 3;
        const bool hasDecimals = parts.size() == 4;
        if (hasLength && !parseNumber(trim(parts[2]), length)) {
            error = where + "the length is not a whole number";
            return false;
        }
        if (hasDecimals && !parseNumber(trim(parts[3]), decimals)) {
            error = where + "the decimals are not a whole number";
            return false;
        }
        xb::NewField f;
        f.name = name;
        f.type = type;
        switch (type) {
            case 'C':
                if (!hasLength || hasDecimals || length < 1 || length > 254) {
                    error = where + "a C field needs a length from 1 to 254 and no decimals";
                    return false;
                }
                break;
            case 'N':
            case 'F':
                if (!hasLength || length < 1 || length > 20) {
                    error = where + "an N or F field needs a length from 1 to 20";
                    return false;
                }
                if (decimals < 0 || (decimals > 0 && decimals > length - 2)) {
                    error = where + "the decimals must leave room for the point and a digit";
                    return false;
                }
                break;
            case 'L':
            case 'D':
            case 'M':
                if (hasLength) {
                    error = where + std::string("an ") + type + " field takes no length";
                    return false;
                }
                length = type == 'L' ? 1 : (type == 'D' ? 8 : (format == xb::Format::Vfp ? 4 : 10));
                break;
            case 'I':
            case 'Y':
            case 'T':
            case 'B':
                if (format != xb::Format::Vfp) {
                    error = where + std::string("type ") + type + " needs --format vfp";
                    return false;
                }
                if (hasLength) {
                    error = where + std::string("a ") + type + " field takes no length";
                    return false;
                }
                length = type == 'I' ? 4 : 8;
                decimals = type == 'Y' ? 4 : 0;
                break;
            default:
                error = where + std::string("unknown type ") + type + " (C N F L D M, and I Y T B for vfp)";
                return false;
        }
        f.length = static_cast<uint16_t>(length);
        f.decimals = static_cast<uint8_t>(decimals);
        fields.push_back(f);
    }
    return true;
}

}  // namespace dbftool
