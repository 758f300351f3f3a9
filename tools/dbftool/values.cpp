#include "values.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tableaccess/xbase/fileio.h"
#include "tableaccess/xbase/fpt.h"
#include "tableaccess/xbase/numtext.h"

namespace dbftool {
namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\0')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
    return s;
}

uint32_t le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}
uint64_t le64(const char* p) {
    return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32;
}
void putLe32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void putLe64(std::string& s, uint64_t v) {
    putLe32(s, static_cast<uint32_t>(v));
    putLe32(s, static_cast<uint32_t>(v >> 32));
}

// Decimal text: optional sign, digits, optional point and digits, at least one digit.
bool isDecimal(std::string_view s, std::string_view* intPart = nullptr, std::string_view* fracPart = nullptr,
               bool* negative = nullptr) {
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    size_t a = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    std::string_view ip = s.substr(a, i - a), fp;
    if (i < s.size() && s[i] == '.') {
        size_t b = ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        fp = s.substr(b, i - b);
    }
    if (i != s.size() || (ip.empty() && fp.empty())) return false;
    if (intPart) *intPart = ip;
    if (fracPart) *fracPart = fp;
    if (negative) *negative = neg;
    return true;
}

std::string shortestDouble(double v) {
    std::string text;
    for (int prec = 15; prec <= 17; ++prec) {
        text = xb::num::general(v, prec);
        double back = 0;
        if (xb::num::parseAll(text, back) && back == v) break;
    }
    return text;
}

bool parseDateText(std::string_view s, int& y, int& m, int& d) {
    if (s.size() != 8) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    const auto number = [&s](size_t at, size_t n) {
        int v = 0;
        for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
        return v;
    };
    y = number(0, 4);
    m = number(4, 2);
    d = number(6, 2);
    return validDate(y, m, d);
}

// 'text' for messages (built by appending: GCC 12 misreads literal + string concatenations).
std::string quoted(std::string_view text) {
    std::string q;
    q.reserve(text.size() + 2);
    q.push_back('\'');
    q.append(text);
    q.push_back('\'');
    return q;
}

}  // namespace

bool isMemoType(char type) {
    return type == 'M' || type == 'G' || type == 'P';
}

int64_t julianDay(int year, int month, int day) {
    const int64_t a = (14 - month) / 12;
    const int64_t y = int64_t(year) + 4800 - a;
    const int64_t m = month + 12 * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void fromJulianDay(int64_t jd, int& year, int& month, int& day) {
    const int64_t a = jd + 32044;
    const int64_t b = (4 * a + 3) / 146097;
    const int64_t c = a - 146097 * b / 4;
    const int64_t d = (4 * c + 3) / 1461;
    const int64_t e = c - 1461 * d / 4;
    const int64_t m = (5 * e + 2) / 153;
    day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
    month = static_cast<int>(m + 3 - 12 * (m / 10));
    year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

bool validDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int max = days[month - 1];
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) max = 29;
    return day <= max;
}

// ---------------------------------------------------------------------------------------------------
bool fieldToText(xb::Table& table, int i, std::string& out, std::string& error) {
    const xb::FieldDesc& f = table.fields()[i];
    const xb::Codepage cp = xb::codepageFromByte(table.codepageByte());
    out.clear();
    if (table.isNull(i)) return true;
    const std::string raw = table.rawField(i);
    switch (f.type) {
        case 'C': {
            std::string_view s = raw;
            while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
            out = (f.flags & 0x04) ? std::string(s) : xb::toUtf8(s, cp);
            return true;
        }
        case 'N':
        case 'F':
            out = std::string(trimBlanks(raw));
            return true;
        case 'L': {
            const char c = raw.empty() ? ' ' : raw[0];
            if (std::strchr("TtYy", c) && c)
                out.assign(1, 'T');
            else if (std::strchr("FfNn", c) && c)
                out.assign(1, 'F');
            return true;
        }
        case 'D': {
            std::string_view s = trimBlanks(raw);
            if (s.find_first_not_of('0') != std::string_view::npos) out = std::string(s);
            return true;
        }
        case 'I':
            if (raw.size() == 4) out = std::to_string(static_cast<int32_t>(le32(raw.data())));
            return true;
        case 'Y':
            if (raw.size() == 8) {
                const int64_t v = static_cast<int64_t>(le64(raw.data()));
                const uint64_t mag = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
                char buf[48];
                std::snprintf(buf, sizeof buf, "%s%llu.%04llu", v < 0 ? "-" : "",
                              static_cast<unsigned long long>(mag / 10000),
                              static_cast<unsigned long long>(mag % 10000));
                out = buf;
            }
            return true;
        case 'B':
            if (raw.size() == 8) {
                double d;
                uint64_t bits = le64(raw.data());
                std::memcpy(&d, &bits, 8);
                out = shortestDouble(d);
            }
            return true;
        case 'T':
            if (raw.size() == 8) {
                const uint32_t jd = le32(raw.data()), ms = le32(raw.data() + 4);
                if (jd == 0 && ms == 0) return true;
                int y, m, d;
                fromJulianDay(jd, y, m, d);
                const uint32_t secs = ms / 1000;
                char buf[32];
                std::snprintf(buf, sizeof buf, "%04d%02d%02d%02u%02u%02u", y, m, d, secs / 3600,
                              secs / 60 % 60, secs % 60);
                out = buf;
            }
            return true;
        default:
            break;
    }
    if (isMemoType(f.type)) {
        const std::string before = table.error();
        std::string memo = table.getText(i);
        if (table.error() != before && !table.error().empty()) {
            error = table.error();
            return false;
        }
        out = (f.type == 'M' && !(f.flags & 0x04)) ? xb::toUtf8(memo, cp) : memo;
        return true;
    }
    out = xb::toUtf8(raw, cp);  // unknown kinds: their bytes as text
    return true;
}

// ---------------------------------------------------------------------------------------------------
bool textToField(const xb::FieldDesc& f, xb::Codepage cp, uint8_t /*version*/, std::string_view text,
                 xb::NewValue& out, std::string& error) {
    out.raw = false;
    out.bytes.clear();
    // The field's description, for messages only.
    const auto describe = [&f] {
        std::string d(1, f.type);
        d.append("(").append(std::to_string(f.length));
        if (f.decimals) d.append(",").append(std::to_string(f.decimals));
        return d.append(")");
    };
    switch (f.type) {
        case 'C':
        case 'M': {
            bool lossy = false;
            std::string& bytes = out.bytes;
            xb::fromUtf8Into(text, cp, bytes, &lossy);
            if (lossy) {
                error = quoted(text) + " holds a character that codepage " +
                        std::to_string(xb::codepageNumber(cp)) + " cannot hold";
                return false;
            }
            if (f.type == 'C') {
                while (!bytes.empty() && bytes.back() == ' ') bytes.pop_back();
                if (bytes.size() > f.length) {
                    error = quoted(text) + " is " + std::to_string(bytes.size()) +
                            " characters, longer than " + describe();
                    return false;
                }
            }
            return true;
        }
        case 'N':
        case 'F': {
            std::string_view s = trimBlanks(text);
            if (s.empty()) return true;
            std::string_view ip, fp;
            bool neg = false;
            if (!isDecimal(s, &ip, &fp, &neg)) {
                error = quoted(text) + " is not a number";
                return false;
            }
            // Extra decimals are allowed only when they are zeros: nothing is rounded away.
            if (fp.size() > f.decimals) {
                if (fp.substr(f.decimals).find_first_not_of('0') != std::string_view::npos) {
                    error = quoted(text) + " has more decimals than " + describe() + " keeps";
                    return false;
                }
                fp = fp.substr(0, f.decimals);
            }
            std::string& formatted = out.bytes;
            while (ip.size() > 1 && ip.front() == '0') ip.remove_prefix(1);
            if (neg) formatted.push_back('-');
            if (ip.empty())
                formatted.push_back('0');
            else
                formatted.append(ip);
            if (f.decimals) {
                formatted.push_back('.');
                formatted.append(fp);
                formatted.append(f.decimals - fp.size(), '0');
            }
            if (formatted == "-0" || formatted.find_first_not_of("-0.") == std::string::npos)
                if (formatted[0] == '-') formatted.erase(0, 1);
            if (formatted.size() > f.length) {
                error = quoted(text) + " does not fit " + describe();
                return false;
            }
            return true;
        }
        case 'L': {
            std::string_view s = trimBlanks(text);
            if (s.empty() || s == "?") return true;
            if (s.size() == 1 && std::strchr("TtYy", s[0])) {
                out.bytes.assign(1, 'T');
                return true;
            }
            if (s.size() == 1 && std::strchr("FfNn", s[0])) {
                out.bytes.assign(1, 'F');
                return true;
            }
            error = quoted(text) + " is not a logical (T, F, Y, N, ? or empty)";
            return false;
        }
        case 'D': {
            std::string_view s = trimBlanks(text);
            if (s.empty()) return true;
            int y, m, d;
            if (!parseDateText(s, y, m, d)) {
                error = quoted(text) + " is not a date CCYYMMDD";
                return false;
            }
            out.bytes = std::string(s);
            return true;
        }
        case 'I': {
            std::string_view s = trimBlanks(text);
            int32_t v = 0;
            if (!s.empty()) {
                if (s.front() == '+') s.remove_prefix(1);
                auto r = std::from_chars(s.data(), s.data() + s.size(), v);
                if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
                    error = quoted(text) + " is not a whole number that fits I";
                    return false;
                }
            }
            out.raw = true;
            putLe32(out.bytes, static_cast<uint32_t>(v));
            return true;
        }
        case 'Y':
        case 'B': {
            std::string_view s = trimBlanks(text);
            double v = 0;
            if (!s.empty()) {
                if (!xb::num::parseAll(s, v) || !std::isfinite(v)) {
                    error = quoted(text) + " is not a number";
                    return false;
                }
            }
            out.raw = true;
            if (f.type == 'Y') {
                const double scaled = std::round(v * 10000.0);
                if (std::fabs(scaled) >= 9.2e18) {
                    error = quoted(text) + " does not fit Y";
                    return false;
                }
                putLe64(out.bytes, static_cast<uint64_t>(static_cast<int64_t>(scaled)));
            } else {
                uint64_t bits;
                std::memcpy(&bits, &v, 8);
                putLe64(out.bytes, bits);
            }
            return true;
        }
        case 'T': {
            std::string_view s = trimBlanks(text);
            out.raw = true;
            if (s.empty()) {
                out.bytes.assign(8, '\0');
                return true;
            }
            int y, m, d, hh = 0, mi = 0, ss = 0;
            bool ok = (s.size() == 8 || s.size() == 14) && parseDateText(s.substr(0, 8), y, m, d);
            if (ok && s.size() == 14) {
                for (char c : s.substr(8))
                    if (!std::isdigit(static_cast<unsigned char>(c))) ok = false;
                if (ok) {
                    hh = std::stoi(std::string(s.substr(8, 2)));
                    mi = std::stoi(std::string(s.substr(10, 2)));
                    ss = std::stoi(std::string(s.substr(12, 2)));
                    ok = hh < 24 && mi < 60 && ss < 60;
                }
            }
            if (!ok) {
                error = quoted(text) + " is not a date and time CCYYMMDD[hhmmss]";
                return false;
            }
            putLe32(out.bytes, static_cast<uint32_t>(julianDay(y, m, d)));
            putLe32(out.bytes, static_cast<uint32_t>((hh * 3600 + mi * 60 + ss) * 1000));
            return true;
        }
        default:
            error = std::string("fields of type ") + f.type + " cannot be loaded from text";
            return false;
    }
}

// ---------------------------------------------------------------------------------------------------
// ---------------------------------------------------------------------------------------------------
void checkTable(xb::Table& table, std::vector<std::string>& faults,
                const std::function<void(const xb::RecordPiece&)>& readAll) {
    const std::string& path = table.path();
    // Header against the file.
    {
        xb::io::File file;
        std::string error;
        if (!file.open(path, false, error)) {
            faults.push_back(error.empty() ? path + ": cannot be read" : error);
            return;
        }
        const long long size = file.size();
        const long long expected = static_cast<long long>(table.headerLength()) +
                                   static_cast<long long>(table.recordCount()) * table.recordLength();
        if (size < expected)
            faults.push_back(path + ": the file holds " + std::to_string(size) +
                             " bytes, the header promises " + std::to_string(expected));
    }
    uint32_t end = 1;
    for (const auto& f : table.fields()) {
        if (f.offset < end) faults.push_back(path + ": field " + f.name + " overlaps the field before it");
        end = f.offset + f.length;
    }
    if (end > table.recordLength())
        faults.push_back(path + ": the fields need " + std::to_string(end) + " bytes, the record has " +
                         std::to_string(table.recordLength()));

    std::unique_ptr<xb::MemoFile> memo;
    if (table.hasMemoFields()) {
        std::string error;
        const std::string mp = table.memoPath();
        if (mp.empty() || !xb::io::exists(mp)) {
            faults.push_back(path + ": the memo file is missing");
        } else {
            // The kind the table opened it as: a .dbt file is a dBase memo file whatever the version byte.
            const bool dbt = mp.size() >= 4 && strcasecmp(mp.c_str() + mp.size() - 4, ".dbt") == 0;
            const auto kind = dbt ? xb::MemoFile::Kind::Dbt : xb::MemoFile::Kind::Fpt;
            memo = xb::MemoFile::open(mp, kind, true, error);
            if (!memo) faults.push_back(error.empty() ? mp + ": cannot be opened" : error);
            // A next free block inside the header or past the end: new memos would land on the header
            // or far from the others.
            if (memo && !memo->damage().empty()) faults.push_back(memo->damage());
        }
    }
    // Every readable memo's blocks, to find memos that share or run into each other's blocks (a rewrite
    // of one in place would change the other).
    struct MemoAt {
        uint32_t block;
        uint64_t blocks;
        uint32_t record;
        std::string field;
    };
    std::vector<MemoAt> memos;
    const bool vfp = table.version() == 0x30 || table.version() == 0x31 || table.version() == 0x32;

    std::string memoText, error;
    const size_t cap = 500;
    size_t more = 0;
    auto add = [&](std::string s) {
        if (faults.size() < cap)
            faults.push_back(std::move(s));
        else
            ++more;
    };
    // Only these fields' values can be wrong; character fields hold any bytes.
    std::vector<const xb::FieldDesc*> checked;
    for (const auto& f : table.fields())
        if (std::strchr("NFDLMGP", f.type) && f.type != '\0' && f.offset + f.length <= table.recordLength())
            checked.push_back(&f);
    auto checkRecord = [&](uint32_t r, const uint8_t* rec) {
        // The message's start, built only for a fault.
        auto where = [r] { return "record " + std::to_string(r); };
        if (rec[0] != ' ' && rec[0] != '*')
            add(where() + ": deletion flag " + std::to_string(rec[0]) + " is neither blank nor *");
        for (const xb::FieldDesc* fp : checked) {
            const xb::FieldDesc& f = *fp;
            std::string_view v(reinterpret_cast<const char*>(rec) + f.offset, f.length);
            const bool nullable = vfp && (f.flags & 0x02);
            switch (f.type) {
                case 'N':
                case 'F': {
                    std::string_view s = trimBlanks(v);
                    if (!s.empty() && !isDecimal(s) &&
                        !(nullable && s.find_first_not_of('\0') == std::string_view::npos))
                        add(where() + ": field " + f.name + " holds '" + std::string(s) + "', not a number");
                    break;
                }
                case 'D': {
                    std::string_view s = trimBlanks(v);
                    int y, m, d;
                    if (!s.empty() && s.find_first_not_of('0') != std::string_view::npos &&
                        !parseDateText(s, y, m, d))
                        add(where() + ": field " + f.name + " holds '" + std::string(s) + "', not a date");
                    break;
                }
                case 'L':
                    if (!std::strchr("TtFfYyNn? ", v[0]) || v[0] == '\0')
                        if (!(nullable && v[0] == '\0'))
                            add(where() + ": field " + f.name + " holds '" + std::string(v) +
                                "', not a logical");
                    break;
                case 'M':
                case 'G':
                case 'P': {
                    uint32_t block = 0;
                    if (f.length == 4) {
                        block = le32(v.data());
                    } else {
                        std::string_view s = trimBlanks(v);
                        if (!s.empty() && s.find_first_not_of("0123456789") != std::string_view::npos) {
                            add(where() + ": field " + f.name + " holds '" + std::string(s) +
                                "', not a memo pointer");
                            break;
                        }
                        block =
                            s.empty()
                                ? 0
                                : static_cast<uint32_t>(std::strtoul(std::string(s).c_str(), nullptr, 10));
                    }
                    if (block == 0 || !memo) break;
                    error.clear();
                    if (!memo->read(block, memoText, error))
                        add(where() + ": field " + f.name + ": " +
                            (error.empty() ? "memo block " + std::to_string(block) + " cannot be read"
                                           : error));
                    else
                        memos.push_back(MemoAt{block, memo->blocksHolding(memoText.size()), r, f.name});
                    break;
                }
                default:
                    break;
            }
        }
    };
    // The records in record order, many at a time.
    const size_t length = table.recordLength();
    const xb::RecordPiece piece = [&](uint32_t first, const uint8_t* records, uint32_t n, size_t got) {
        if (n == 0) add("record " + std::to_string(first) + ": cannot be read");
        for (uint32_t i = 0; i < n; ++i)
            if (got < length || length == 0)
                add("record " + std::to_string(first + i) + ": cannot be read");
            else
                checkRecord(first + i, records + size_t(i) * got);
        return true;
    };
    if (readAll)
        readAll(piece);
    else
        table.reader().readInPieces(length, piece);
    std::sort(memos.begin(), memos.end(), [](const MemoAt& a, const MemoAt& b) {
        return a.block != b.block ? a.block < b.block : a.record < b.record;
    });
    const MemoAt* reach = nullptr;  // the memo reaching furthest among those before
    for (size_t i = 0; i < memos.size(); ++i) {
        const MemoAt& m = memos[i];
        const std::string where = "record " + std::to_string(m.record) + ": field " + m.field + ": ";
        if (reach && reach->block == m.block)
            add(where + "memo block " + std::to_string(m.block) + " is also the memo of record " +
                std::to_string(reach->record) + " (field " + reach->field + ")");
        else if (reach && uint64_t(reach->block) + reach->blocks > m.block)
            add("record " + std::to_string(reach->record) + ": field " + reach->field +
                ": its memo at block " + std::to_string(reach->block) + " (" + std::to_string(reach->blocks) +
                " blocks) runs into the memo of record " + std::to_string(m.record) + " (field " + m.field +
                ", block " + std::to_string(m.block) + ")");
        if (!reach || uint64_t(m.block) + m.blocks > uint64_t(reach->block) + reach->blocks)
            reach = &memos[i];
    }
    if (more) faults.push_back("... and " + std::to_string(more) + " more faults");
}

}  // namespace dbftool
