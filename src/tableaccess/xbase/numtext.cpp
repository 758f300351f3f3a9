#include "tableaccess/xbase/numtext.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace xb::num {

namespace {

// For a decimal text from_chars found out of range: true when it is too large (strtod gives infinity),
// false when it is too small (strtod gives zero). The decimal exponent of the first significant digit
// decides.
bool overflows(std::string_view number) {
    long magnitude = 0;
    bool seenPoint = false, significant = false;
    size_t i = 0;
    for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
        const char c = number[i];
        if (c == '.') {
            seenPoint = true;
        } else if (!significant) {
            if (c != '0') {
                significant = true;
                if (!seenPoint) magnitude = 1;
            } else if (seenPoint) {
                --magnitude;
            }
        } else if (!seenPoint) {
            ++magnitude;
        }
    }
    if (i == number.size()) return magnitude > 0;
    // an exponent follows (from_chars took it, so digits follow the 'e' and its sign)
    const bool negativeExponent = number[i + 1] == '-';
    long exponent = 0;
    const char* digits = number.data() + i + 1 + (number[i + 1] == '+' || negativeExponent);
    if (std::from_chars(digits, number.data() + number.size(), exponent).ec != std::errc())
        return !negativeExponent;  // an exponent beyond a long decides alone
    return magnitude + (negativeExponent ? -exponent : exponent) > 0;
}

}  // namespace

size_t parsePrefix(std::string_view text, double& value) {
    value = 0;
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // from_chars takes neither a '+' nor a sign in front of an unsigned text, so the sign is ours
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) return 0;
    double v = 0;
    const char* first = text.data() + i;
    const auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), v, std::chars_format::general);
    if (ptr == first) return 0;
    if (ec == std::errc::result_out_of_range) v = overflows({first, size_t(ptr - first)}) ? HUGE_VAL : 0.0;
    value = negative ? -v : v;
    return size_t(ptr - text.data());
}

bool parseAll(std::string_view text, double& value) {
    const size_t used = parsePrefix(text, value);
    return used != 0 && used == text.size();
}

std::string fixed(double value, int decimals) {
    char buf[400];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return {};
    return std::string(buf, ptr);
}

std::string general(double value, int precision) {
    char buf[64];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision);
    if (ec != std::errc()) return {};
    return std::string(buf, ptr);
}

}  // namespace xb::num
