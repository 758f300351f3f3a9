// What a table field can hold, and the entry rule that keeps a control within it.
//
// Every value the program stores must fit its field: a character field keeps a number of characters, a
// numeric field a number of digits with a number of decimals. The limits come from the structure of the
// table actually open (a delivered layout may change them), so controls and grid columns get them at run
// time. A text that does not fit is refused whole when it is typed or pasted, never cut.
#pragma once

#include <QString>
#include <QValidator>

class QLineEdit;

namespace tarvik {

struct FieldLimit {
    char type = 0;  // 'C' character, 'N'/'F' numeric, 'I' 32-bit integer; anything else: no limit
    int length = 0;
    int decimals = 0;

    bool active() const;
    bool numeric() const { return type == 'N' || type == 'F' || type == 'I'; }
};

// True when text is stored whole by a field of that kind: a character field holds at most `length`
// characters; a numeric field holds an empty text, or a number (optional sign, digits, optional point
// and fraction) whose fraction needs no more than `decimals` digits and which, written with the field's
// decimals, takes at most `length` characters; an integer field holds a whole number of 32 bits.
bool FitsField(const QString& text, const FieldLimit& limit);

// Why text does not fit, as a phrase for a message ("45 characters; the field keeps 40"); empty when
// it fits.
QString FieldMisfit(const QString& text, const FieldLimit& limit);

// Refuses (Invalid) every text that does not fit the limit, so a key or a paste that would make the
// text too long or the number too large does nothing. A numeric field also takes what may still become
// a number ("", "-", "12."). A text that was already too long when it was put there (loaded, imported)
// can still be shortened: a change that makes it shorter is let through.
class FieldValidator : public QValidator {
    Q_OBJECT
  public:
    FieldValidator(const FieldLimit& limit, QObject* parent = nullptr);
    State validate(QString& input, int& pos) const override;
    const FieldLimit& limit() const { return limit_; }
    // The edit's text as it stands (limitLineEdit keeps it up to date).
    void setCurrent(const QString& text) { current_ = text; }

  private:
    FieldLimit limit_;
    QString current_;
};

// Gives the edit the validator of the limit (none when the limit is not active), replacing a validator
// it had from an earlier limit.
void limitLineEdit(QLineEdit* edit, const FieldLimit& limit);
// The limit an edit was given by limitLineEdit; an inactive one when it has none.
FieldLimit lineEditLimit(const QLineEdit* edit);

}  // namespace tarvik
