#include "widgets/fieldlimit.h"

#include <QLineEdit>
#include <QPointer>
#include <limits>

namespace tarvik {

namespace {

struct NumberText {
    bool valid = false;  // sign, digits and at most one point, at least one digit
    bool negative = false;
    QString whole;     // digits before the point, leading zeros removed
    QString fraction;  // digits after the point, trailing zeros removed
};

NumberText readNumber(const QString& text) {
    NumberText n;
    const QString t = text.trimmed();
    int i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        n.negative = t[i++] == QLatin1Char('-');
    bool point = false;
    bool digits = false;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            digits = true;
            (point ? n.fraction : n.whole) += c;
        } else if (c == QLatin1Char('.') && !point) {
            point = true;
        } else {
            return n;
        }
    }
    n.valid = digits;
    while (n.whole.startsWith(QLatin1Char('0'))) n.whole.remove(0, 1);
    while (n.fraction.endsWith(QLatin1Char('0'))) n.fraction.chop(1);
    return n;
}

// Characters the number takes when written with the field's decimals.
int writtenWidth(const NumberText& n, int decimals) {
    const int whole = std::max<int>(1, static_cast<int>(n.whole.size()));
    return (n.negative ? 1 : 0) + whole + (decimals > 0 ? 1 + decimals : 0);
}

bool fitsInteger(const NumberText& n) {
    if (!n.valid || !n.fraction.isEmpty()) return false;
    if (n.whole.size() > 10) return false;
    const long long v = n.whole.isEmpty() ? 0 : n.whole.toLongLong();
    return n.negative ? -v >= std::numeric_limits<int>::min() : v <= std::numeric_limits<int>::max();
}

}  // namespace

bool FieldLimit::active() const {
    return (type == 'C' && length > 0) || ((type == 'N' || type == 'F') && length > 0) || type == 'I';
}

bool FitsField(const QString& text, const FieldLimit& limit) {
    if (!limit.active()) return true;
    if (limit.type == 'C') return text.size() <= limit.length;
    if (text.trimmed().isEmpty()) return true;
    const NumberText n = readNumber(text);
    if (limit.type == 'I') return fitsInteger(n);
    return n.valid && n.fraction.size() <= limit.decimals && writtenWidth(n, limit.decimals) <= limit.length;
}

QString FieldMisfit(const QString& text, const FieldLimit& limit) {
    if (FitsField(text, limit)) return {};
    if (limit.type == 'C')
        return QStringLiteral("%1 characters; the field keeps %2").arg(text.size()).arg(limit.length);
    const QString shown = QLatin1Char('"') + text.trimmed() + QLatin1Char('"');
    if (!readNumber(text).valid) return shown + QStringLiteral(" is not a number");
    if (limit.type == 'I') return shown + QStringLiteral(" is not a whole number the field can keep");
    const int digits = limit.length - (limit.decimals > 0 ? limit.decimals + 1 : 0);
    if (limit.decimals == 0)
        return shown +
               QStringLiteral(" does not fit; the field keeps whole numbers of up to %1 digits").arg(digits);
    return shown +
           QStringLiteral(" does not fit; the field keeps numbers of up to %1 digits with %2 decimals")
               .arg(digits)
               .arg(limit.decimals);
}

FieldValidator::FieldValidator(const FieldLimit& limit, QObject* parent)
    : QValidator(parent), limit_(limit) {}

QValidator::State FieldValidator::validate(QString& input, int&) const {
    if (FitsField(input, limit_)) return Acceptable;
    if (limit_.numeric()) {
        // What may still become a number: a sign or a point typed first.
        const QString t = input.trimmed();
        if (t == QLatin1String("-") || t == QLatin1String("+") || t == QLatin1String(".") ||
            t == QLatin1String("-.") || t == QLatin1String("+."))
            return Intermediate;
    }
    if (input.size() < current_.size()) return Intermediate;  // on its way back into the field
    return Invalid;
}

void limitLineEdit(QLineEdit* edit, const FieldLimit& limit) {
    if (!edit) return;
    const QValidator* old = edit->validator();
    auto* mine = qobject_cast<const FieldValidator*>(old);
    if (old && !(mine && mine->parent() == edit)) return;  // an edit with a rule of its own keeps it
    FieldValidator* v = limit.active() ? new FieldValidator(limit, edit) : nullptr;
    if (v) {
        v->setCurrent(edit->text());
        QObject::connect(edit, &QLineEdit::textChanged, v, &FieldValidator::setCurrent);
    }
    edit->setValidator(v);
    delete const_cast<FieldValidator*>(mine);
}

FieldLimit lineEditLimit(const QLineEdit* edit) {
    auto* v = edit ? qobject_cast<const FieldValidator*>(edit->validator()) : nullptr;
    return v ? v->limit() : FieldLimit{};
}

}  // namespace tarvik
