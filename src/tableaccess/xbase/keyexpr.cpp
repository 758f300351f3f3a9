#include "tableaccess/xbase/keyexpr.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tableaccess/xbase/numtext.h"

namespace xb {

namespace {

// Intermediate text values never grow beyond this (fields, literals and every function's result are
// checked when an expression is compiled); keys are at most 240 bytes anyway.
constexpr int kMaxTextWidth = 1024;
constexpr int kMaxKeyLength = 240;
// Nesting of parentheses, function calls and negations; deeper text is refused rather than parsed with
// an unbounded recursion.
constexpr int kMaxNesting = 64;

double parseNumberBytes(const uint8_t* p, size_t n) {
    char buf[64];
    size_t len = 0;
    for (size_t i = 0; i < n && len < sizeof buf - 1; ++i) {
        char c = static_cast<char>(p[i]);
        if (c == ' ' || c == '\0') continue;
        if (c == ',') c = '.';
        buf[len++] = c;
    }
    if (len == 0) return 0.0;
    double v = 0;
    num::parsePrefix({buf, len}, v);
    return v;
}

std::string upperName(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

}  // namespace

int64_t julianDay(int year, int month, int day) {
    static const int mdays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return 0;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int maxDay = mdays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day > maxDay) return 0;
    int64_t a = (14 - month) / 12;
    int64_t y = year + 4800 - a;
    int64_t m = month + 12 * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

int64_t julianDayOfText(std::string_view t) {
    if (t.size() != 8) return 0;
    for (char c : t)
        if (c < '0' || c > '9') return 0;
    auto num = [&](size_t pos, size_t len) {
        int v = 0;
        for (size_t i = pos; i < pos + len; ++i) v = v * 10 + (t[i] - '0');
        return v;
    };
    return julianDay(num(0, 4), num(4, 2), num(6, 2));
}

void encodeNumericKey(double value, char* out) {
    uint64_t bits = 0;
    if (value != 0.0 && !std::isnan(value)) std::memcpy(&bits, &value, 8);
    if (bits >> 63)
        bits = ~bits;
    else
        bits |= uint64_t(1) << 63;
    for (int i = 7; i >= 0; --i) {
        out[i] = static_cast<char>(bits & 0xFF);
        bits >>= 8;
    }
}

double decodeNumericKey(const char* in) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<unsigned char>(in[i]);
    if (bits >> 63)
        bits &= ~(uint64_t(1) << 63);
    else
        bits = ~bits;
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

namespace detail {

struct ExprNode {
    KeyType type = KeyType::Character;
    int width = 0;  // character values only
    virtual ~ExprNode() = default;
    // Character: width bytes. Date: 8 bytes CCYYMMDD (blanks when empty).
    virtual void text(const uint8_t*, char*) const {}
    // Numeric: the value. Date: the julian day number (0 when empty).
    virtual double number(const uint8_t*) const { return 0.0; }
    virtual bool logical(const uint8_t*) const { return false; }
};

}  // namespace detail

namespace {

using detail::ExprNode;
using NodePtr = std::unique_ptr<ExprNode>;

// Copies the few bytes of a field's text a word at a time, without writing past them.
inline void copyText(char* to, const uint8_t* from, int n) {
    int i = 0;
    for (; i + 8 <= n; i += 8) std::memcpy(to + i, from + i, 8);
    if (i == n) return;
    if (n >= 8) {
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else {
        for (; i < n; ++i) to[i] = char(from[i]);
    }
}

struct CharField : ExprNode {
    uint32_t offset;
    CharField(uint32_t off, int w) : offset(off) {
        type = KeyType::Character;
        width = w;
    }
    void text(const uint8_t* r, char* out) const override { copyText(out, r + offset, width); }
};

struct NumField : ExprNode {
    uint32_t offset;
    uint16_t length;
    char kind;
    NumField(uint32_t off, uint16_t len, char k) : offset(off), length(len), kind(k) {
        type = KeyType::Numeric;
    }
    double number(const uint8_t* r) const override {
        const uint8_t* p = r + offset;
        switch (kind) {
            case 'I': {
                int32_t v;
                std::memcpy(&v, p, 4);
                return v;
            }
            case 'B': {
                double v;
                std::memcpy(&v, p, 8);
                return v;
            }
            case 'Y': {
                int64_t v;
                std::memcpy(&v, p, 8);
                return double(v) / 10000.0;
            }
            default:
                return parseNumberBytes(p, length);
        }
    }
};

struct DateField : ExprNode {
    uint32_t offset;
    explicit DateField(uint32_t off) : offset(off) { type = KeyType::Date; }
    void text(const uint8_t* r, char* out) const override {
        if (julianDayOfText(std::string_view(reinterpret_cast<const char*>(r + offset), 8)) == 0)
            std::memset(out, ' ', 8);
        else
            std::memcpy(out, r + offset, 8);
    }
    double number(const uint8_t* r) const override {
        return double(julianDayOfText(std::string_view(reinterpret_cast<const char*>(r + offset), 8)));
    }
};

struct LogicalField : ExprNode {
    uint32_t offset;
    explicit LogicalField(uint32_t off) : offset(off) { type = KeyType::Logical; }
    bool logical(const uint8_t* r) const override {
        char c = static_cast<char>(r[offset]);
        return c == 'T' || c == 't' || c == 'Y' || c == 'y';
    }
};

struct TextLiteral : ExprNode {
    std::string value;
    explicit TextLiteral(std::string v) : value(std::move(v)) {
        type = KeyType::Character;
        width = int(value.size());
    }
    void text(const uint8_t*, char* out) const override { std::memcpy(out, value.data(), value.size()); }
};

struct NumLiteral : ExprNode {
    double value;
    explicit NumLiteral(double v) : value(v) { type = KeyType::Numeric; }
    double number(const uint8_t*) const override { return value; }
};

// Eight bytes of ASCII (none above 0x7F) with a-z made capitals: each loses its 0x20 bit. The sums stay
// within each byte.
constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
inline uint64_t upperAscii(uint64_t w) {
    const uint64_t fromA = (w + (0x80 - 'a') * kOnes) & kHigh;
    const uint64_t pastZ = (w + (0x80 - 'z' - 1) * kOnes) & kHigh;
    return w ^ ((fromA & ~pastZ) >> 2);
}

struct Upper : ExprNode {
    NodePtr arg;
    const uint8_t* capitals;  // the table's codepage: what each byte becomes
    bool ascii = true;        // it changes the bytes below 0x80 as ASCII does: a-z only
    const CharField* field;   // the field it changes, read straight from the record; null: another text
    Upper(NodePtr a, const uint8_t* caps)
        : arg(std::move(a)), capitals(caps), field(dynamic_cast<const CharField*>(arg.get())) {
        type = KeyType::Character;
        width = arg->width;
        for (int c = 0; c < 0x80; ++c) ascii = ascii && capitals[c] == (c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    void text(const uint8_t* r, char* out) const override {
        const char* from = out;
        if (field)
            from = reinterpret_cast<const char*>(r) + field->offset;
        else
            arg->text(r, out);
        int i = 0;
        if (ascii && std::endian::native == std::endian::little) {
            // Eight bytes at a time while they are all below 0x80.
            for (; i + 8 <= width; i += 8) {
                uint64_t w;
                std::memcpy(&w, from + i, 8);
                if (w & kHigh) {
                    for (int j = i; j < i + 8; ++j)
                        out[j] = static_cast<char>(capitals[static_cast<unsigned char>(from[j])]);
                    continue;
                }
                w = upperAscii(w);
                std::memcpy(out + i, &w, 8);
            }
            // The last few bytes as the end of the last eight, when those are plain ASCII (what the
            // eight before changed is changed again to the same).
            if (i < width && width >= 8) {
                uint64_t w;
                std::memcpy(&w, from + width - 8, 8);
                if (!(w & kHigh)) {
                    w = upperAscii(w);
                    std::memcpy(out + width - 8, &w, 8);
                    i = width;
                }
            }
        }
        for (; i < width; ++i) out[i] = static_cast<char>(capitals[static_cast<unsigned char>(from[i])]);
    }
};

struct Dtos : ExprNode {
    NodePtr arg;
    explicit Dtos(NodePtr a) : arg(std::move(a)) {
        type = KeyType::Character;
        width = 8;
    }
    void text(const uint8_t* r, char* out) const override { arg->text(r, out); }
};

struct Substr : ExprNode {
    NodePtr arg;
    int start;  // from 0
    Substr(NodePtr a, int s, int n) : arg(std::move(a)), start(s) {
        type = KeyType::Character;
        width = n;
    }
    void text(const uint8_t* r, char* out) const override {
        char buf[kMaxTextWidth];  // arg->width <= kMaxTextWidth: every node is bounded at compile time
        arg->text(r, buf);
        std::memcpy(out, buf + start, size_t(width));
    }
};

struct Concat : ExprNode {
    NodePtr a, b;
    Concat(NodePtr x, NodePtr y) : a(std::move(x)), b(std::move(y)) {
        type = KeyType::Character;
        width = a->width + b->width;
    }
    void text(const uint8_t* r, char* out) const override {
        a->text(r, out);
        b->text(r, out + a->width);
    }
};

struct Sum : ExprNode {
    NodePtr a, b;
    Sum(NodePtr x, NodePtr y) : a(std::move(x)), b(std::move(y)) { type = KeyType::Numeric; }
    double number(const uint8_t* r) const override { return a->number(r) + b->number(r); }
};

struct Str : ExprNode {
    NodePtr arg;
    int decimals;
    Str(NodePtr a, int len, int dec) : arg(std::move(a)), decimals(dec) {
        type = KeyType::Character;
        width = len;
    }
    void text(const uint8_t* r, char* out) const override {
        double v = arg->number(r);
        for (int dec = decimals; dec >= 0 && std::isfinite(v); --dec) {
            // Round half away from zero as xBase does, not to even.
            double scale = std::pow(10.0, dec);
            double rounded = std::round(v * scale) / scale;
            if (!std::isfinite(rounded)) rounded = v;  // too large to scale: has no decimals anyway
            const std::string text = num::fixed(rounded, dec);
            if (!text.empty() && int(text.size()) <= width) {
                std::memset(out, ' ', size_t(width) - text.size());
                std::memcpy(out + (size_t(width) - text.size()), text.data(), text.size());
                return;
            }
        }
        std::memset(out, '*', size_t(width));
    }
};

struct Deleted : ExprNode {
    Deleted() { type = KeyType::Logical; }
    bool logical(const uint8_t* r) const override { return r[0] == '*'; }
};

struct LogicalLiteral : ExprNode {
    bool value;
    explicit LogicalLiteral(bool v) : value(v) { type = KeyType::Logical; }
    bool logical(const uint8_t*) const override { return value; }
};

struct Not : ExprNode {
    NodePtr arg;
    explicit Not(NodePtr a) : arg(std::move(a)) { type = KeyType::Logical; }
    bool logical(const uint8_t* r) const override { return !arg->logical(r); }
};

struct AndOr : ExprNode {
    NodePtr a, b;
    bool isAnd;
    AndOr(NodePtr x, NodePtr y, bool both) : a(std::move(x)), b(std::move(y)), isAnd(both) {
        type = KeyType::Logical;
    }
    bool logical(const uint8_t* r) const override {
        return isAnd ? a->logical(r) && b->logical(r) : a->logical(r) || b->logical(r);
    }
};

// ----- parser -----

struct Parser {
    std::string_view s;
    size_t pos = 0;
    const std::vector<FieldDesc>& fields;
    const uint8_t* capitals;  // UPPER() in the table's codepage
    std::string error;
    int depth = 0;

    Parser(std::string_view text, const std::vector<FieldDesc>& f, Codepage cp)
        : s(text), fields(f), capitals(upperTable(cp)) {}

    // Counts one level of nesting for as long as it lives.
    struct Nested {
        Parser& p;
        bool ok;
        explicit Nested(Parser& parser) : p(parser), ok(++parser.depth <= kMaxNesting) {
            if (!ok)
                p.fail("the expression is nested deeper than " + std::to_string(kMaxNesting) + " levels");
        }
        ~Nested() { --p.depth; }
    };

    void skipSpace() {
        while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
    }
    bool accept(char c) {
        skipSpace();
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool fail(std::string msg) {
        if (error.empty()) error = std::move(msg);
        return false;
    }
    std::string identifier() {
        skipSpace();
        size_t b = pos;
        while (pos < s.size() && (std::isalnum(static_cast<unsigned char>(s[pos])) || s[pos] == '_')) ++pos;
        return std::string(s.substr(b, pos - b));
    }

    // Case-insensitive keyword; words of letters must not run on into a name.
    bool acceptWord(std::string_view w) {
        skipSpace();
        if (s.size() - pos < w.size() || upperName(s.substr(pos, w.size())) != w) return false;
        if (std::isalpha(static_cast<unsigned char>(w.back())) && pos + w.size() < s.size()) {
            unsigned char next = static_cast<unsigned char>(s[pos + w.size()]);
            if (std::isalnum(next) || next == '_') return false;
        }
        pos += w.size();
        return true;
    }

    bool isLogical(const NodePtr& n, const char* op) {
        if (n && n->type != KeyType::Logical) return fail(std::string(op) + " needs logical values");
        return n != nullptr;
    }

    // expression: conjunctions joined by .OR.; conjunction: negations joined by .AND.
    NodePtr expression() {
        Nested level(*this);
        if (!level.ok) return nullptr;
        NodePtr left = conjunction();
        while (left && (acceptWord(".OR.") || acceptWord("OR"))) {
            NodePtr right = conjunction();
            if (!isLogical(left, ".OR.") || !isLogical(right, ".OR.")) return nullptr;
            left = std::make_unique<AndOr>(std::move(left), std::move(right), false);
        }
        return left;
    }

    NodePtr conjunction() {
        NodePtr left = negation();
        while (left && (acceptWord(".AND.") || acceptWord("AND"))) {
            NodePtr right = negation();
            if (!isLogical(left, ".AND.") || !isLogical(right, ".AND.")) return nullptr;
            left = std::make_unique<AndOr>(std::move(left), std::move(right), true);
        }
        return left;
    }

    NodePtr negation() {
        if (acceptWord(".NOT.") || acceptWord("NOT") || accept('!')) {
            Nested level(*this);
            if (!level.ok) return nullptr;
            NodePtr arg = negation();
            if (!isLogical(arg, ".NOT.")) return nullptr;
            return std::make_unique<Not>(std::move(arg));
        }
        return sum();
    }

    NodePtr sum() {
        NodePtr left = term();
        while (left && accept('+')) {
            NodePtr right = term();
            if (!right) return nullptr;
            if (left->type == KeyType::Character && right->type == KeyType::Character) {
                if (left->width + right->width > kMaxTextWidth) {
                    fail("text too long");
                    return nullptr;
                }
                left = std::make_unique<Concat>(std::move(left), std::move(right));
            } else if (left->type == KeyType::Numeric && right->type == KeyType::Numeric) {
                left = std::make_unique<Sum>(std::move(left), std::move(right));
            } else {
                fail("\"+\" joins values of different kinds");
                return nullptr;
            }
        }
        return left;
    }

    bool integerArg(int& out) {
        skipSpace();
        size_t b = pos;
        if (pos < s.size() && s[pos] == '-') ++pos;
        while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) ++pos;
        if (b == pos || (s[b] == '-' && pos == b + 1))
            return fail("a whole number was expected at position " + std::to_string(b + 1));
        // Saturated: a number of many digits is out of every range the callers check.
        long long v = 0;
        for (size_t i = s[b] == '-' ? b + 1 : b; i < pos; ++i)
            v = std::min<long long>(v * 10 + (s[i] - '0'), 1000000);
        out = int(s[b] == '-' ? -v : v);
        return true;
    }

    NodePtr function(const std::string& name) {
        auto close = [&](NodePtr n) -> NodePtr {
            if (!accept(')')) {
                fail("\")\" expected after the arguments of " + name);
                return nullptr;
            }
            return n;
        };
        if (name == "DELETED") return close(std::make_unique<Deleted>());
        NodePtr arg = expression();
        if (!arg) return nullptr;
        if (name == "UPPER") {
            if (arg->type != KeyType::Character) return fail("UPPER needs text"), nullptr;
            return close(std::make_unique<Upper>(std::move(arg), capitals));
        }
        if (name == "DTOS") {
            if (arg->type != KeyType::Date) return fail("DTOS needs a date"), nullptr;
            return close(std::make_unique<Dtos>(std::move(arg)));
        }
        if (name == "STR") {
            if (arg->type != KeyType::Numeric) return fail("STR needs a number"), nullptr;
            int len = 10, dec = 0;
            if (accept(',')) {
                if (!integerArg(len)) return nullptr;
                if (accept(',') && !integerArg(dec)) return nullptr;
            }
            if (len < 1 || len > kMaxKeyLength || dec < 0 || dec >= len)
                return fail("STR length or decimals out of range"), nullptr;
            return close(std::make_unique<Str>(std::move(arg), len, dec));
        }
        if (name == "LEFT" || name == "RIGHT") {
            if (arg->type != KeyType::Character) return fail(name + " needs text"), nullptr;
            int n = 0;
            if (!accept(',') || !integerArg(n)) return fail(name + " needs a length"), nullptr;
            n = std::clamp(n, 0, arg->width);
            if (n == 0) return fail(name + " gives empty text"), nullptr;
            int start = name == "LEFT" ? 0 : arg->width - n;
            return close(std::make_unique<Substr>(std::move(arg), start, n));
        }
        if (name == "SUBSTR") {
            if (arg->type != KeyType::Character) return fail("SUBSTR needs text"), nullptr;
            int start = 0;
            if (!accept(',') || !integerArg(start)) return fail("SUBSTR needs a start"), nullptr;
            if (start < 1 || start > arg->width) return fail("SUBSTR start out of range"), nullptr;
            int n = arg->width - start + 1;
            if (accept(',')) {
                if (!integerArg(n)) return nullptr;
                n = std::clamp(n, 0, arg->width - start + 1);
            }
            if (n == 0) return fail("SUBSTR gives empty text"), nullptr;
            return close(std::make_unique<Substr>(std::move(arg), start - 1, n));
        }
        return fail("unknown function " + name + "()"), nullptr;
    }

    NodePtr term() {
        skipSpace();
        if (pos >= s.size()) return fail("expression ends too early"), nullptr;
        if (acceptWord(".T.")) return std::make_unique<LogicalLiteral>(true);
        if (acceptWord(".F.")) return std::make_unique<LogicalLiteral>(false);
        char c = s[pos];
        if (c == '(') {
            ++pos;
            NodePtr n = expression();
            if (n && !accept(')')) return fail("\")\" expected"), nullptr;
            return n;
        }
        if (c == '"' || c == '\'' || c == '[') {
            char closing = c == '[' ? ']' : c;
            size_t end = s.find(closing, pos + 1);
            if (end == std::string_view::npos) return fail("unterminated text"), nullptr;
            std::string v(s.substr(pos + 1, end - pos - 1));
            pos = end + 1;
            if (v.empty()) return fail("empty text literal"), nullptr;
            if (v.size() > size_t(kMaxTextWidth)) return fail("text literal too long"), nullptr;
            return std::make_unique<TextLiteral>(std::move(v));
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-') {
            double v = 0;
            const size_t used = num::parsePrefix(s.substr(pos), v);
            if (used == 0) return fail("unexpected \"" + std::string(1, c) + "\""), nullptr;
            pos += used;
            return std::make_unique<NumLiteral>(v);
        }
        std::string name = upperName(identifier());
        if (name.empty())
            return fail("unexpected \"" + std::string(1, c) + "\" at position " + std::to_string(pos + 1)),
                   nullptr;
        if (accept('(')) return function(name);
        skipSpace();
        if (s.substr(pos, 2) == "->") {
            // alias->FIELD: the alias is the table itself.
            pos += 2;
            name = upperName(identifier());
        }
        return field(name);
    }

    NodePtr field(const std::string& name) {
        for (const auto& f : fields) {
            if (upperName(f.name) != name) continue;
            // Kinds of a fixed size are read in that size: a field described shorter is refused.
            const int need = f.type == 'I'                                     ? 4
                             : f.type == 'B' || f.type == 'Y' || f.type == 'D' ? 8
                                                                               : f.type == 'L';
            if (f.length < need)
                return fail("field " + name + " of type " + std::string(1, f.type) + " has " +
                            std::to_string(f.length) + " bytes, not " + std::to_string(need)),
                       nullptr;
            switch (f.type) {
                case 'C':
                    if (f.length > kMaxTextWidth) return fail("field " + name + " too long"), nullptr;
                    return std::make_unique<CharField>(f.offset, f.length);
                case 'N':
                case 'F':
                case 'I':
                case 'B':
                case 'Y':
                    return std::make_unique<NumField>(f.offset, f.length, f.type);
                case 'D':
                    return std::make_unique<DateField>(f.offset);
                case 'L':
                    return std::make_unique<LogicalField>(f.offset);
                default:
                    return fail("field " + name + " of type " + std::string(1, f.type) +
                                " cannot be part of a key"),
                           nullptr;
            }
        }
        return fail("unknown field " + name), nullptr;
    }
};

}  // namespace

KeyExpr::~KeyExpr() = default;

std::unique_ptr<KeyExpr> KeyExpr::compile(std::string_view text, const std::vector<FieldDesc>& fields,
                                          std::string& error, Codepage codepage) {
    Parser p(text, fields, codepage);
    NodePtr root = p.expression();
    if (root) {
        p.skipSpace();
        if (p.pos != text.size()) {
            p.fail("unexpected \"" + std::string(text.substr(p.pos, 1)) + "\" at position " +
                   std::to_string(p.pos + 1));
            root.reset();
        }
    }
    if (!root) {
        error = "cannot evaluate key expression \"" + std::string(text) + "\": " + p.error;
        return nullptr;
    }
    std::unique_ptr<KeyExpr> k(new KeyExpr);
    k->type_ = root->type;
    switch (root->type) {
        case KeyType::Character:
            if (root->width < 1) {
                // a character field of no bytes (a header may describe one): no index holds such keys
                error = "key expression \"" + std::string(text) + "\" gives keys of no bytes";
                return nullptr;
            }
            if (root->width > kMaxKeyLength) {
                error = "key expression \"" + std::string(text) + "\" gives keys longer than 240 bytes";
                return nullptr;
            }
            k->keyLength_ = root->width;
            break;
        case KeyType::Numeric:
        case KeyType::Date:
            k->keyLength_ = 8;
            break;
        case KeyType::Logical:
            k->keyLength_ = 1;
            break;
    }
    k->root_ = std::move(root);
    return k;
}

void KeyExpr::evaluate(const uint8_t* record, char* out) const {
    switch (type_) {
        case KeyType::Character:
            root_->text(record, out);
            break;
        case KeyType::Numeric:
        case KeyType::Date:
            encodeNumericKey(root_->number(record), out);
            break;
        case KeyType::Logical:
            out[0] = root_->logical(record) ? 'T' : 'F';
            break;
    }
}

std::string KeyExpr::evaluate(const uint8_t* record) const {
    std::string k(size_t(keyLength_), '\0');
    evaluate(record, k.data());
    return k;
}

bool KeyExpr::test(const uint8_t* record) const {
    return type_ == KeyType::Logical && root_->logical(record);
}

bool KeyExpr::keyFromText(std::string_view text, std::string& key) const {
    auto trimmed = [&] {
        size_t b = text.find_first_not_of(' ');
        if (b == std::string_view::npos) return std::string();
        size_t e = text.find_last_not_of(' ');
        return std::string(text.substr(b, e - b + 1));
    };
    switch (type_) {
        case KeyType::Character:
            key.assign(text);
            return true;
        case KeyType::Numeric: {
            std::string t = trimmed();
            if (t.empty()) return false;
            double v = 0;
            if (!num::parseAll(t, v)) return false;
            key.resize(8);
            encodeNumericKey(v, key.data());
            return true;
        }
        case KeyType::Date: {
            int64_t j = julianDayOfText(trimmed());
            if (j == 0) return false;
            key.resize(8);
            encodeNumericKey(double(j), key.data());
            return true;
        }
        case KeyType::Logical: {
            std::string t = upperName(trimmed());
            if (t == "T" || t == "Y" || t == ".T.")
                key = "T";
            else if (t == "F" || t == "N" || t == ".F.")
                key = "F";
            else
                return false;
            return true;
        }
    }
    return false;
}

}  // namespace xb
