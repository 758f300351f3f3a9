// xb::Table, field values: reading and writing the fields of the current record as text, numbers,
// logicals and dates in each field type's stored form, Visual FoxPro binary fields and null flags, and
// memos (a memo's blocks are rewritten in place only when no other record points into them). A value a
// field cannot hold is refused and changes nothing.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <tuple>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/dbf.h"
#include "tableaccess/xbase/dbf_internal.h"
#include "tableaccess/xbase/fileio.h"
#include "tableaccess/xbase/fpt.h"
#include "tableaccess/xbase/numtext.h"

namespace xb {
using namespace detail;

namespace {

// A number as xBase numeric fields hold it: optional sign, digits, one point. Blank is not a number.
bool parseNumber(std::string_view text, double& value) {
    const std::string t = trim(text);
    if (t.empty()) return false;
    size_t i = 0;
    if (t[i] == '+' || t[i] == '-') ++i;
    bool digits = false, point = false;
    for (; i < t.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(t[i])))
            digits = true;
        else if (t[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    if (!digits) return false;
    return num::parseAll(t, value);
}

// Leading number of a text, as xBase reads numbers (garbage after the number is ignored, none gives 0).
double leadingNumber(std::string_view text) {
    const std::string t = trim(text);
    if (t.empty()) return 0;
    double v = 0;
    if (num::parsePrefix(t, v) == 0 || !std::isfinite(v)) return 0;
    return v;
}

bool validDate(std::string_view d) {
    if (d.size() != 8) return false;
    for (char c : d)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    const auto number = [&d](size_t at, size_t n) {
        int v = 0;
        for (size_t i = at; i < at + n; ++i) v = v * 10 + (d[i] - '0');
        return v;
    };
    const int y = number(0, 4), m = number(4, 2), day = number(6, 2);
    if (y < 1 || m < 1 || m > 12 || day < 1) return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int dim = days[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) dim = 29;
    return day <= dim;
}

// Julian day number <-> calendar date (for Visual FoxPro datetime fields).
void julianToDate(long jd, int& y, int& m, int& d) {
    long a = jd + 32044;
    long b = (4 * a + 3) / 146097;
    long c = a - 146097 * b / 4;
    long dd = (4 * c + 3) / 1461;
    long e = c - 1461 * dd / 4;
    long mm = (5 * e + 2) / 153;
    d = int(e - (153 * mm + 2) / 5 + 1);
    m = int(mm + 3 - 12 * (mm / 10));
    y = int(100 * b + dd - 4800 + mm / 10);
}
long dateToJulian(int y, int m, int d) {
    const int a = (14 - m) / 12;
    const long yy = y + 4800 - a;
    const int mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

// Formats a number right-aligned in width with dec decimals; false when it does not fit.
// A fixed-point text right-aligned in a field of the given width; false when it does not fit.
bool fitNumberText(std::string s, int width, std::string& out) {
    if (s.empty()) return false;
    if (static_cast<int>(s.size()) < width) s.insert(0, size_t(width) - s.size(), ' ');
    if (static_cast<int>(s.size()) > width) {
        // "-0.5" in N(3,1)... drop a leading zero before the point when that makes it fit
        const auto zero = s.find("0.");
        if (zero != std::string::npos && (zero == 0 || s[zero - 1] == '-' || s[zero - 1] == ' ') &&
            static_cast<int>(s.size()) == width + 1)
            s.erase(zero, 1);
        if (static_cast<int>(s.size()) > width) return false;
    }
    out = s;
    return true;
}

bool formatNumber(double v, int width, int dec, std::string& out) {
    if (!std::isfinite(v)) return false;
    return fitNumberText(num::fixed(v, dec), width, out);
}

// A plain decimal text (sign, digits, a point: what parseNumber accepts) with `dec` decimals, worked on
// the digits themselves and rounded half away from zero: exact however many digits it has.
std::string fixedFromDigits(std::string_view t, int dec) {
    size_t i = 0;
    const bool negative = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) ++i;
    std::string whole, fraction;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (t[i] == '.')
            point = true;
        else
            (point ? fraction : whole) += t[i];
    }
    const bool up = fraction.size() > size_t(dec) && fraction[size_t(dec)] >= '5';
    fraction.resize(size_t(dec), '0');
    std::string digits = whole + fraction;
    if (up) {
        size_t k = digits.size();
        while (k > 0 && digits[k - 1] == '9') digits[--k] = '0';
        if (k == 0)
            digits.insert(0, 1, '1');
        else
            ++digits[k - 1];
    }
    std::string intPart = digits.substr(0, digits.size() - size_t(dec));
    const size_t first = intPart.find_first_not_of('0');
    intPart = first == std::string::npos ? "0" : intPart.substr(first);
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    std::string out = (negative && !zero ? "-" : "") + intPart;
    if (dec > 0) out += "." + digits.substr(digits.size() - size_t(dec));
    return out;
}

// Digits a double holds exactly: a text with more significant digits is written from its digits.
constexpr size_t kExactDigits = 15;

// The commonest number typed, a plain decimal ([+-]digits[.digits]) that is not zero and has no more
// decimals than the field keeps, written straight from its digits, right-aligned in width: when it has
// at most 15 significant digits written with dec decimals, a double holds it closer than half its last
// decimal, so formatNumber would print these same digits. False (nothing written) for any other text,
// or one that does not fit as it is: the general path takes those.
bool placePlainDecimal(std::string_view t, int width, int dec, uint8_t* p) {
    size_t i = 0;
    const bool negative = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) ++i;
    const auto digitsFrom = [&t](size_t at) {
        while (at < t.size() && t[at] >= '0' && t[at] <= '9') ++at;
        return at;
    };
    size_t intBegin = i;
    const size_t intEnd = digitsFrom(i);
    size_t fracBegin = intEnd, fracEnd = intEnd;
    if (intEnd < t.size() && t[intEnd] == '.') {
        fracBegin = intEnd + 1;
        fracEnd = digitsFrom(fracBegin);
    }
    if (fracEnd != t.size() || (intEnd == intBegin && fracEnd == fracBegin)) return false;
    const size_t typedDecimals = fracEnd - fracBegin;
    if (typedDecimals > size_t(dec)) return false;
    while (intBegin < intEnd && t[intBegin] == '0') ++intBegin;
    size_t significant = intEnd - intBegin + typedDecimals;
    if (intBegin == intEnd)
        for (size_t k = fracBegin; k < fracEnd && t[k] == '0'; ++k) --significant;
    if (significant == 0 || significant + (size_t(dec) - typedDecimals) > kExactDigits) return false;
    const size_t intDigits = std::max<size_t>(1, intEnd - intBegin);
    const size_t length = (negative ? 1 : 0) + intDigits + (dec > 0 ? 1 + size_t(dec) : 0);
    if (length > size_t(width)) return false;
    uint8_t* o = p;
    o = std::fill_n(o, size_t(width) - length, uint8_t(' '));
    if (negative) *o++ = '-';
    if (intBegin == intEnd)
        *o++ = '0';
    else
        o = std::copy(t.begin() + long(intBegin), t.begin() + long(intEnd), o);
    if (dec > 0) {
        *o++ = '.';
        o = std::copy(t.begin() + long(fracBegin), t.begin() + long(fracEnd), o);
        std::fill_n(o, size_t(dec) - typedDecimals, uint8_t('0'));
    }
    return true;
}

size_t significantDigits(std::string_view t) {
    size_t n = 0;
    bool leading = true;
    for (char c : t) {
        if (c < '0' || c > '9') continue;
        if (leading && c == '0') continue;
        leading = false;
        ++n;
    }
    return n;
}

// A number into a binary field of Visual FoxPro (I, Y, B); false with the reason when it does not fit.
bool encodeBinary(const FieldDesc& f, double value, uint8_t* p, std::string& why) {
    if (!std::isfinite(value)) {
        why = "the value is not a finite number";
        return false;
    }
    if (f.type == 'I') {
        const double r = std::round(value);
        if (r < INT32_MIN || r > INT32_MAX) {
            why = num::fixed(r, 0) + " does not fit an integer field";
            return false;
        }
        putLe32(p, static_cast<uint32_t>(static_cast<int32_t>(r)));
    } else if (f.type == 'Y') {
        const double scaled = std::round(value * 10000.0);
        if (!(scaled > -9.2e18 && scaled < 9.2e18)) {
            why = num::fixed(value, 4) + " does not fit a currency field";
            return false;
        }
        const auto v = static_cast<int64_t>(scaled);
        putLe32(p, static_cast<uint32_t>(uint64_t(v)));
        putLe32(p + 4, static_cast<uint32_t>(uint64_t(v) >> 32));
    } else {
        std::memcpy(p, &value, 8);
    }
    return true;
}

// A date (CCYYMMDD, blank for none) into a datetime field of Visual FoxPro; false when it is no date.
bool encodeDateTime(std::string_view ccyymmdd, uint8_t* p) {
    if (ccyymmdd.empty()) {
        std::fill(p, p + 8, 0);
        return true;
    }
    if (!validDate(ccyymmdd)) return false;
    const std::string t(ccyymmdd);
    const long jd =
        dateToJulian(std::stoi(t.substr(0, 4)), std::stoi(t.substr(4, 2)), std::stoi(t.substr(6, 2)));
    putLe32(p, static_cast<uint32_t>(jd));
    putLe32(p + 4, 0);
    return true;
}

}  // namespace

uint32_t Table::memoBlockIn(const std::vector<uint8_t>& rec, int field) const {
    const FieldDesc& f = fields_[field];
    const uint8_t* p = &rec[f.offset];
    if (f.length == 4) return le32(p);
    // Digits of a character pointer; more than a block number holds saturate (and point past any file).
    uint64_t v = 0;
    for (int i = 0; i < f.length; ++i) {
        if (p[i] >= '0' && p[i] <= '9') v = std::min<uint64_t>(v * 10 + (p[i] - '0'), UINT32_MAX);
    }
    return static_cast<uint32_t>(v);
}

void Table::putMemoBlock(std::vector<uint8_t>& rec, int field, uint32_t block) const {
    const FieldDesc& f = fields_[field];
    uint8_t* p = &rec[f.offset];
    if (f.length == 4) {
        putLe32(p, block);
    } else {
        std::fill(p, p + f.length, ' ');
        if (block != 0) {
            const std::string s = std::to_string(block);
            if (s.size() <= f.length) std::memcpy(p + f.length - s.size(), s.data(), s.size());
        }
    }
}

void Table::setMemoBlock(int field, uint32_t block) {
    putMemoBlock(rec_, field, block);
    dirty_ = true;
}

int Table::nullBit(int field) const {
    return field >= 0 && size_t(field) < nullBits_.size() ? nullBits_[field] : -1;
}

void Table::putNull(uint8_t* rec, int field, bool null) const {
    const int b = nullBit(field);
    if (b < 0) return;
    uint8_t& byte = rec[nullFlagsOffset_ + b / 8];
    const uint8_t mask = uint8_t(1u << (b % 8));
    byte = null ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
}

void Table::setNull(int field, bool null) {
    const int b = nullBit(field);
    if (b < 0) return;
    const uint8_t before = rec_[nullFlagsOffset_ + b / 8];
    putNull(rec_.data(), field, null);
    if (rec_[nullFlagsOffset_ + b / 8] != before) dirty_ = true;
}

std::string Table::rawField(int field) const {
    if (field < 0 || field >= fieldCount()) return {};
    const FieldDesc& f = fields_[field];
    return std::string(reinterpret_cast<const char*>(&rec_[f.offset]), f.length);
}

bool Table::setRawField(int field, std::string_view bytes) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (bytes.size() != f.length)
        return fail(path_ + ": field " + f.name + " holds " + std::to_string(f.length) + " bytes, not " +
                    std::to_string(bytes.size()));
    if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
    if (!checkWritable()) return false;
    std::memcpy(&rec_[f.offset], bytes.data(), f.length);
    if (isMemoType(f.type, version_)) memoStartsKnown_ = false;
    dirty_ = true;
    return ok();
}

std::string Table::fieldMemo(int field) {
    if (!memo_) {
        fail(path_ + ": field " + fields_[field].name + " is a memo, but the table has no memo file");
        return {};
    }
    const uint32_t block = memoBlock(field);
    std::string out, err;
    if (memo_->bulk() && !memo_->endBulk(err)) {  // memos of appends not yet written are read from the file
        fail(err);
        return {};
    }
    if (!memo_->read(block, out, err)) {
        fail(err + " (field " + fields_[field].name + ", record " + std::to_string(recno_) + " of " + path_ +
             ")");
        return {};
    }
    error_.clear();
    return out;
}

bool Table::storeMemo(int field, std::string_view bytes) {
    if (!memo_)
        return fail(path_ + ": field " + fields_[field].name + " is a memo, but the table has no memo file");
    const uint32_t old = memoBlock(field);
    // The old memo's blocks are reused only when no other pointer starts within them.
    const uint32_t ownedEnd = memo_->fitsInPlace(old, bytes.size()) ? memoOwnedEnd(old) : 0;
    uint32_t block = 0;
    std::string err;
    if (!memo_->write(old, bytes, block, err, ownedEnd)) return fail(err);
    unsynced_ = true;
    memoPointerMoved(old, block);
    setMemoBlock(field, block);
    return true;
}

bool Table::knowMemoStarts() {
    if (memoStartsKnown_) return true;
    memoStarts_.clear();
    std::vector<int> memoFields;
    for (int i = 0; i < fieldCount(); ++i)
        if (isMemoType(fields_[i].type, version_)) memoFields.push_back(i);
    std::vector<uint8_t> rec;
    for (uint32_t r = 1; r <= recCount_; ++r) {
        if (!reader().readRecord(r, rec)) return false;
        for (int i : memoFields)
            if (const uint32_t b = memoBlockIn(rec, i)) ++memoStarts_[b];
    }
    memoStartsKnown_ = true;
    return true;
}

uint32_t Table::memoOwnedEnd(uint32_t block) {
    if (block == 0 || !knowMemoStarts()) return 0;
    const auto it = memoStarts_.find(block);
    if (it == memoStarts_.end() || it->second != 1) return 0;  // not this field's alone
    const auto next = std::next(it);
    return next == memoStarts_.end() ? UINT32_MAX : next->first;
}

void Table::memoPointerMoved(uint32_t from, uint32_t to) {
    if (!memoStartsKnown_ || from == to) return;
    if (from != 0) {
        const auto it = memoStarts_.find(from);
        if (it != memoStarts_.end() && --it->second == 0) memoStarts_.erase(it);
    }
    if (to != 0) ++memoStarts_[to];
}

std::string Table::getText(int field) {
    error_.clear();
    if (field < 0 || field >= fieldCount()) {
        fail(path_ + ": there is no field number " + std::to_string(field + 1));
        return {};
    }
    if (recno_ < 1 || recno_ > recCount_) {
        // At the end of the table fields read as blank.
        if (isMemoType(fields_[field].type, version_)) return {};
        return rawField(field);
    }
    if (isNull(field)) return {};
    const FieldDesc& f = fields_[field];
    if (isMemoType(f.type, version_)) return fieldMemo(field);
    return rawField(field);
}

int64_t Table::getInt(int field) {
    const double v = getDouble(field);
    if (v >= 9.2e18) return INT64_MAX;
    if (v <= -9.2e18) return INT64_MIN;
    return static_cast<int64_t>(v);
}

double Table::getDouble(int field) {
    error_.clear();
    if (field < 0 || field >= fieldCount()) {
        fail(path_ + ": there is no field number " + std::to_string(field + 1));
        return 0;
    }
    if (isNull(field)) return 0;
    const FieldDesc& f = fields_[field];
    const uint8_t* p = &rec_[f.offset];
    switch (f.type) {
        case 'I':
            return f.length == 4 ? static_cast<int32_t>(le32(p)) : 0;
        case 'Y':
            if (f.length == 8) {
                const int64_t v = int64_t(uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32));
                return static_cast<double>(v) / 10000.0;
            }
            return 0;
        case 'B':
            if (f.length == 8) {
                double d;
                std::memcpy(&d, p, 8);
                return std::isfinite(d) ? d : 0;
            }
            return 0;
        case 'L':
            return getLogical(field) ? 1 : 0;
        case 'D': {
            const std::string d = getDate(field);
            double v = 0;
            return d.empty() || !num::parseAll(d, v) ? 0 : v;
        }
        default:
            return leadingNumber(getText(field));
    }
}

bool Table::getLogical(int field) {
    error_.clear();
    if (field < 0 || field >= fieldCount()) {
        fail(path_ + ": there is no field number " + std::to_string(field + 1));
        return false;
    }
    const FieldDesc& f = fields_[field];
    if (f.type == 'L') {
        const char c = static_cast<char>(rec_[f.offset]);
        return c == 'T' || c == 't' || c == 'Y' || c == 'y';
    }
    if (f.type == 'N' || f.type == 'F' || f.type == 'I' || f.type == 'Y' || f.type == 'B')
        return getDouble(field) != 0;
    const std::string t = trim(getText(field));
    return !t.empty() &&
           (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y' || t == ".T." || t == ".t.");
}

std::string Table::getDate(int field) {
    error_.clear();
    if (field < 0 || field >= fieldCount()) {
        fail(path_ + ": there is no field number " + std::to_string(field + 1));
        return {};
    }
    if (isNull(field)) return {};
    const FieldDesc& f = fields_[field];
    const uint8_t* p = &rec_[f.offset];
    if (f.type == 'T' && f.length == 8) {
        const uint32_t jd = le32(p);
        if (jd == 0) return {};
        int y, m, d;
        julianToDate(static_cast<long>(jd), y, m, d);
        char b[48];
        std::snprintf(b, sizeof b, "%04d%02d%02d", y, m, d);
        return b;
    }
    std::string t = trim(getText(field));
    if (f.type == 'D' && (t.empty() || std::all_of(t.begin(), t.end(), [](char c) { return c == '0'; })))
        return {};
    return t;
}

bool Table::setText(int field, std::string_view bytes) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
    if (!checkWritable()) return false;
    if (isMemoType(fields_[field].type, version_)) {
        if (!storeMemo(field, bytes)) return false;
        setNull(field, false);
        dirty_ = true;
        return ok();
    }
    if (!putValue(field, bytes, rec_.data())) return false;
    dirty_ = true;
    return ok();
}

bool Table::putValue(int field, std::string_view bytes, uint8_t* rec) {
    const FieldDesc& f = fields_[field];
    uint8_t* p = rec + f.offset;
    const auto bad = [&](const std::string& why) { return fail(path_ + ": field " + f.name + ": " + why); };
    const std::string_view value = bytes;
    switch (f.type) {
        case 'C': {
            std::fill(p, p + f.length, ' ');
            std::memcpy(p, value.data(), std::min<size_t>(value.size(), f.length));
            break;
        }
        case 'N':
        case 'F': {
            std::string_view plain = value;
            while (!plain.empty() && (plain.front() == ' ' || plain.front() == '\0')) plain.remove_prefix(1);
            while (!plain.empty() && (plain.back() == ' ' || plain.back() == '\0')) plain.remove_suffix(1);
            if (placePlainDecimal(plain, f.length, f.decimals, p)) break;
            const std::string t = trim(value);
            if (t.empty()) {
                std::fill(p, p + f.length, ' ');
                break;
            }
            double v;
            if (!parseNumber(t, v)) return bad("\"" + t + "\" is not a number");
            // Written right-aligned with the field's decimals, as every xBase reader expects; a number
            // of more digits than a double holds is written from its own digits, never changed.
            std::string s;
            const bool fits = significantDigits(t) > kExactDigits
                                  ? fitNumberText(fixedFromDigits(t, f.decimals), f.length, s)
                                  : formatNumber(v, f.length, f.decimals, s);
            if (!fits) {
                return bad(t + " does not fit a numeric field of " + std::to_string(f.length) + " with " +
                           std::to_string(f.decimals) + " decimals");
            }
            std::memcpy(p, s.data(), f.length);
            break;
        }
        case 'L': {
            if (value.size() == 1 && std::strchr("TtFfYyNn?", value[0]) && value[0]) {  // the commonest
                const char u = char(std::toupper(static_cast<unsigned char>(value[0])));
                *p = static_cast<uint8_t>(u == 'Y' ? 'T' : (u == 'N' ? 'F' : u));
                break;
            }
            const std::string t = upper(trim(value));
            char c;
            if (t.empty())
                c = ' ';
            else if (t == "T" || t == "Y" || t == ".T." || t == "TRUE")
                c = 'T';
            else if (t == "F" || t == "N" || t == ".F." || t == "FALSE")
                c = 'F';
            else if (t == "?")
                c = '?';
            else
                return bad("\"" + t + "\" is not a logical value (T or F)");
            *p = static_cast<uint8_t>(c);
            break;
        }
        case 'D': {
            const std::string t = trim(value);
            if (t.empty()) {
                std::fill(p, p + f.length, ' ');
                break;
            }
            if (!validDate(t)) return bad("\"" + t + "\" is not a date (CCYYMMDD)");
            std::memcpy(p, t.data(), 8);
            break;
        }
        case 'I':
        case 'Y':
        case 'B': {
            const std::string t = trim(value);
            if (t.empty()) {
                std::fill(p, p + f.length, 0);
                break;
            }
            double v;
            if (!parseNumber(t, v)) return bad("\"" + t + "\" is not a number");
            std::string why;
            if (!encodeBinary(f, v, p, why)) return bad(why);
            break;
        }
        case 'T': {
            const std::string t = trim(value);
            if (t.empty()) {
                std::fill(p, p + f.length, 0);
                break;
            }
            if (!encodeDateTime(t.substr(0, 8), p)) return bad("\"" + t + "\" is not a date (CCYYMMDD)");
            break;
        }
        default:
            if (value.empty()) {
                std::fill(p, p + f.length, f.type == 'V' ? ' ' : 0);
                break;
            }
            if (value.size() != f.length)
                return bad(std::string("fields of type ") + f.type + " take exactly " +
                           std::to_string(f.length) + " bytes");
            std::memcpy(p, value.data(), f.length);
            break;
    }
    putNull(rec, field, false);
    return true;
}

bool Table::setInt(int field, int64_t value) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (f.type == 'I') {
        if (value < INT32_MIN || value > INT32_MAX)
            return fail(path_ + ": field " + f.name + ": " + std::to_string(value) +
                        " does not fit an integer field");
        if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
        if (!checkWritable()) return false;
        putLe32(&rec_[f.offset], static_cast<uint32_t>(static_cast<int32_t>(value)));
        setNull(field, false);
        dirty_ = true;
        return ok();
    }
    if (f.type == 'L') return setLogical(field, value != 0);
    if (f.type == 'N' || f.type == 'F') {
        std::string s;
        if (!formatNumber(static_cast<double>(value), f.length, f.decimals, s))
            return setText(field, std::to_string(value));  // reports that it does not fit
        return setText(field, s);
    }
    return setText(field, std::to_string(value));
}

bool Table::setDouble(int field, double value) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (!std::isfinite(value))
        return fail(path_ + ": field " + f.name + ": the value is not a finite number");
    if (f.type == 'I') return setInt(field, static_cast<int64_t>(std::llround(value)));
    if (f.type == 'L') return setLogical(field, value != 0);
    if (f.type == 'Y' || f.type == 'B') {
        if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
        if (!checkWritable()) return false;
        std::string why;
        if (!encodeBinary(f, value, &rec_[f.offset], why))
            return fail(path_ + ": field " + f.name + ": " + why);
        setNull(field, false);
        dirty_ = true;
        return ok();
    }
    if (f.type == 'N' || f.type == 'F') {
        std::string s;
        if (!formatNumber(value, f.length, f.decimals, s)) {
            return fail(path_ + ": field " + f.name + ": " + num::fixed(value, f.decimals) +
                        " does not fit a numeric field of " + std::to_string(f.length) + " with " +
                        std::to_string(f.decimals) + " decimals");
        }
        return setText(field, s);
    }
    return setText(field, num::general(value, 15));
}

bool Table::setLogical(int field, bool value) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (f.type == 'N' || f.type == 'F' || f.type == 'I') return setInt(field, value ? 1 : 0);
    return setText(field, value ? "T" : "F");
}

bool Table::setDate(int field, std::string_view ccyymmdd) {
    if (field < 0 || field >= fieldCount())
        return fail(path_ + ": there is no field number " + std::to_string(field + 1));
    const FieldDesc& f = fields_[field];
    if (f.type == 'T' && f.length == 8) {
        if (recno_ < 1 || recno_ > recCount_) return fail(path_ + ": there is no current record");
        if (!checkWritable()) return false;
        const std::string t = trim(ccyymmdd);
        if (!encodeDateTime(t, &rec_[f.offset]))
            return fail(path_ + ": field " + f.name + ": \"" + t + "\" is not a date (CCYYMMDD)");
        setNull(field, false);
        dirty_ = true;
        return ok();
    }
    return setText(field, ccyymmdd);
}

}  // namespace xb
