#include "pages/conversions.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QObject>
#include <cmath>
#include <limits>

namespace tarvik {

namespace {

bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

bool IsDecimalText(const QString& text, double* value) {
    const QString t = text.trimmed();
    int i = 0;
    const int n = t.size();
    if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) ++i;
    int digits = 0;
    while (i < n && isAsciiDigit(t[i])) { ++i; ++digits; }
    if (i < n && t[i] == QLatin1Char('.')) {
        ++i;
        while (i < n && isAsciiDigit(t[i])) { ++i; ++digits; }
    }
    if (digits == 0) return false;
    if (i < n && (t[i] == QLatin1Char('e') || t[i] == QLatin1Char('E'))) {
        ++i;
        if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) ++i;
        int expDigits = 0;
        while (i < n && isAsciiDigit(t[i])) { ++i; ++expDigits; }
        if (expDigits == 0) return false;
    }
    if (i != n) return false;
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) return false;
    if (value) *value = v;
    return true;
}

bool IsWholeText(const QString& text, int* value) {
    const QString t = text.trimmed();
    int i = 0;
    const int n = t.size();
    bool negative = false;
    if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    if (i == n) return false;
    long long v = 0;
    for (; i < n; ++i) {
        if (!isAsciiDigit(t[i])) return false;
        v = v * 10 + (t[i].unicode() - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) return false;
    if (value) *value = static_cast<int>(v);
    return true;
}

double TextToDecimal(const QString& text) {
    double v = 0;
    return IsDecimalText(text, &v) ? v : 0.0;
}

int TextToWhole(const QString& text) {
    int v = 0;
    return IsWholeText(text, &v) ? v : 0;
}

QString FormatFixed(double value, int decimals, int precision) {
    if (!std::isfinite(value)) return QStringLiteral("0");
    if (precision < 1) precision = 1;
    const double magnitude = std::fabs(value);
    if (magnitude >= std::pow(10.0, precision)) {
        // Too many digits before the point for the precision: exponent form.
        return QLocale::c().toString(value, 'E', precision - 1);
    }
    double v = value;
    if (magnitude > 0) {
        const int intDigits = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
        const int keep = precision - intDigits;  // decimals that still count as significant
        if (keep < decimals) {
            const double scale = std::pow(10.0, keep);
            v = std::round(v * scale) / scale;
        }
    }
    QString s = QLocale::c().toString(v, 'f', decimals);
    // No "-0.000": a value that rounds to zero is shown without a sign.
    if (s.startsWith(QLatin1Char('-'))) {
        bool allZero = true;
        for (int i = 1; i < s.size(); ++i)
            if (s[i] != QLatin1Char('0') && s[i] != QLatin1Char('.')) allZero = false;
        if (allZero) s.remove(0, 1);
    }
    return s;
}

void ebxNumbersOnlyKeyPress(QChar& ch) {
    const ushort c = ch.unicode();
    if (c < 32 || c > 126) return;
    if (isAsciiDigit(ch) || ch == QLatin1Char('.')) return;
    ch = QChar();
}

namespace {

class NumbersOnlyFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            const QString text = key->text();
            if (text.size() == 1) {
                QChar ch = text[0];
                ebxNumbersOnlyKeyPress(ch);
                if (ch.isNull()) return true;  // discarded
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

void installNumbersOnlyKeyFilter(QLineEdit* edit) {
    auto* filter = new NumbersOnlyFilter(edit);
    filter->setObjectName(QStringLiteral("ebxNumbersOnlyKeyPress"));
    edit->installEventFilter(filter);
}

}  // namespace tarvik
