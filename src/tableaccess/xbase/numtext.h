// Numbers as text, the way xBase files store them: '.' as the decimal point whatever the process's C
// locale says. A Qt program sets the C locale from the user's environment (a French or German desktop
// makes strtod and printf use ','), so nothing in the engine may use the locale-dependent functions.
#pragma once

#include <string>
#include <string_view>

namespace xb::num {

// Reads a number at the start of text: optional sign, digits with an optional '.', an optional exponent
// (and "inf"/"nan" as strtod takes them). Returns how many characters it took; 0 when text does not start
// with a number (value is then 0).
size_t parsePrefix(std::string_view text, double& value);

// True when the whole of text is one number as parsePrefix reads it.
bool parseAll(std::string_view text, double& value);

// printf's "%.*f" in the C locale: decimals digits after the point, correctly rounded.
std::string fixed(double value, int decimals);

// printf's "%.*g" in the C locale.
std::string general(double value, int precision);

}  // namespace xb::num
