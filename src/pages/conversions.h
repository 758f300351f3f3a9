// Number conversions shared by the entry pages, storing, loading and the checks.
//
// Typed numbers are read with TextToDecimal and TextToWhole: a text that does not convert as a whole
// counts as 0, so a wrong entry does nothing or is set back. Computed numbers are shown as fixed-point
// text with a point as the decimal separator and no thousands separators.
#pragma once

#include <QChar>
#include <QString>

class QLineEdit;

namespace tarvik {

// True when the whole text is a decimal number: optional blanks around it, optional sign, digits with
// an optional fraction after a point (at least one digit in all), optional exponent. The value lands in
// *value when given. Infinite results (1e999) do not convert.
bool IsDecimalText(const QString& text, double* value = nullptr);
// True when the whole text is a 32-bit signed whole number (optional blanks around it, optional sign).
bool IsWholeText(const QString& text, int* value = nullptr);

// The text as a decimal number; 0 when it does not convert as a whole.
double TextToDecimal(const QString& text);
// The text as a 32-bit signed integer; 0 when it does not convert as a whole.
int TextToWhole(const QString& text);

// Fixed-point text with `decimals` decimals after the value has been rounded to at most `precision`
// significant digits; a value with more than `precision` digits before the point is shown in
// exponent form (d.dddE+nn). Volumes use (0, 10); cubes and money use (3, 8) and (2, 8).
QString FormatFixed(double value, int decimals, int precision);

// The numbers-only key rule of the profile pages: a printable character (codes 32 to 126) passes only
// when it is a digit or a full stop; control characters always pass. Sets ch to a null QChar when the
// character is to be discarded.
void ebxNumbersOnlyKeyPress(QChar& ch);
// Installs the numbers-only key rule on an edit box (typed keys only; pasted text is not filtered).
void installNumbersOnlyKeyFilter(QLineEdit* edit);

}  // namespace tarvik
