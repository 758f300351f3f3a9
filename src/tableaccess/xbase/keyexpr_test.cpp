#include "tableaccess/xbase/keyexpr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace xb {
namespace {

// A record layout: deletion flag, CODE C(6), TOWN C(12), POP N(9,0), AREA N(8,2), DAY D, FLAG L,
// NOTE M, COUNT I.
std::vector<FieldDesc> layout() {
    std::vector<FieldDesc> f;
    uint32_t off = 1;
    auto add = [&](const char* name, char type, uint16_t len, uint8_t dec = 0) {
        f.push_back(FieldDesc{name, type, off, len, dec, 0});
        off += len;
    };
    add("CODE", 'C', 6);
    add("TOWN", 'C', 12);
    add("POP", 'N', 9);
    add("AREA", 'N', 8, 2);
    add("DAY", 'D', 8);
    add("FLAG", 'L', 1);
    add("NOTE", 'M', 10);
    add("COUNT", 'I', 4);
    return f;
}

struct Rec {
    std::vector<uint8_t> bytes;
    explicit Rec(const std::vector<FieldDesc>& fields) {
        uint32_t size = 1;
        for (auto& f : fields) size = std::max<uint32_t>(size, f.offset + f.length);
        bytes.assign(size, ' ');
    }
    Rec& set(const std::vector<FieldDesc>& fields, const std::string& name, const std::string& text,
             bool right = false) {
        for (auto& f : fields)
            if (f.name == name) {
                std::string v = text;
                if (right && v.size() < f.length) v = std::string(f.length - v.size(), ' ') + v;
                v.resize(f.length, ' ');
                std::memcpy(bytes.data() + f.offset, v.data(), f.length);
                return *this;
            }
        ADD_FAILURE() << "no field " << name;
        return *this;
    }
};

std::string eval(const std::string& expr, const Rec& r, KeyType* type = nullptr) {
    std::string err;
    auto k = KeyExpr::compile(expr, layout(), err);
    EXPECT_TRUE(k) << expr << ": " << err;
    if (!k) return "<error>";
    if (type) *type = k->type();
    std::string out = k->evaluate(r.bytes.data());
    EXPECT_EQ(int(out.size()), k->keyLength());
    return out;
}

Rec sample() {
    auto f = layout();
    Rec r(f);
    r.set(f, "CODE", "a1b2c3")
        .set(f, "TOWN",
             "qu\xE9"
             "bec")
        .set(f, "POP", "604830", true)
        .set(f, "AREA", "78.75", true)
        .set(f, "DAY", "20240229")
        .set(f, "FLAG", "T");
    int32_t count = -12;
    for (auto& fd : f)
        if (fd.name == "COUNT") std::memcpy(r.bytes.data() + fd.offset, &count, 4);
    return r;
}

TEST(KeyEncoding, NumericKeysSortLikeTheirValues) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-1e9, 1e9);
    std::vector<double> values{0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1e-300, -1e-300, 604830, 604831};
    for (int i = 0; i < 2000; ++i) values.push_back(std::round(dist(rng) * (i % 3 == 0 ? 1e-6 : 1.0)));
    for (size_t i = 0; i < values.size(); ++i) {
        char a[8];
        encodeNumericKey(values[i], a);
        EXPECT_EQ(decodeNumericKey(a), values[i] == 0.0 ? 0.0 : values[i]);
        const double other = values[(i * 7 + 3) % values.size()];
        char b[8];
        encodeNumericKey(other, b);
        int c = std::memcmp(a, b, 8);
        if (values[i] < other)
            EXPECT_LT(c, 0) << values[i] << " vs " << other;
        else if (values[i] > other)
            EXPECT_GT(c, 0) << values[i] << " vs " << other;
        else
            EXPECT_EQ(c, 0) << values[i] << " vs " << other;
    }
    // Positive numbers have the sign bit set, as FoxPro stores them.
    char k[8];
    encodeNumericKey(604830, k);
    EXPECT_EQ(static_cast<unsigned char>(k[0]), 0xC1);
    EXPECT_EQ(static_cast<unsigned char>(k[7]), 0x00);
}

TEST(KeyEncoding, JulianDays) {
    EXPECT_EQ(julianDay(2000, 1, 1), 2451545);
    EXPECT_EQ(julianDay(1970, 1, 1), 2440588);
    EXPECT_EQ(julianDay(2024, 3, 1) - julianDay(2024, 2, 28), 2);  // leap year
    EXPECT_EQ(julianDay(2023, 3, 1) - julianDay(2023, 2, 28), 1);
    EXPECT_EQ(julianDay(2023, 2, 29), 0);
    EXPECT_EQ(julianDay(2023, 13, 1), 0);
    EXPECT_EQ(julianDayOfText("20000101"), 2451545);
    EXPECT_EQ(julianDayOfText("        "), 0);
    EXPECT_EQ(julianDayOfText("2000011"), 0);
    EXPECT_EQ(julianDayOfText("2000O101"), 0);
}

TEST(KeyExpr, CharacterFunctions) {
    Rec r = sample();
    KeyType type{};
    EXPECT_EQ(eval("CODE", r, &type), "a1b2c3");
    EXPECT_EQ(type, KeyType::Character);
    EXPECT_EQ(eval("upper( code )", r), "A1B2C3");
    EXPECT_EQ(eval("UPPER(TOWN)", r),
              "QU\xC9"
              "BEC      ");
    EXPECT_EQ(eval("LEFT(CODE,3)", r), "a1b");
    EXPECT_EQ(eval("RIGHT(CODE, 2)", r), "c3");
    EXPECT_EQ(eval("SUBSTR(CODE,2,3)", r), "1b2");
    EXPECT_EQ(eval("SUBSTR(CODE,4)", r), "2c3");
    EXPECT_EQ(eval("CODE+TOWN", r).size(), 18u);
    EXPECT_EQ(eval("UPPER(LEFT(CODE,3))+'-'+DTOS(DAY)", r), "A1B-20240229");
    EXPECT_EQ(eval("DTOS(DAY)", r), "20240229");
    EXPECT_EQ(eval("T->CODE", r), "a1b2c3");
}

// UPPER() works in the table's codepage and changes only what that codepage calls a lower-case letter,
// into its capital when the codepage has one.
TEST(KeyExpr, UpperFollowsTheTablesCodepage) {
    struct Case {
        Codepage cp;
        const char *text, *upper;  // UTF-8
    };
    const Case cases[] = {
        {Codepage::Cp437, "zürich", "ZÜRICH"},
        {Codepage::Cp437, "straße", "STRAßE"},  // no one-letter capital
        {Codepage::Cp437, "où ÿ", "Où ÿ"},      // cp437 has neither Ù nor Ÿ
        {Codepage::Cp437, "σφα╤é", "ΣΦα╤É"},    // Greek capitals where cp437 has them; box drawing stays
        {Codepage::Cp850, "où ÿ", "OÙ ÿ"},
        {Codepage::Cp850, "ıi þð ãõ", "II ÞÐ ÃÕ"},
        {Codepage::Cp1250, "łódź żółć", "ŁÓDŹ ŻÓŁĆ"},
        {Codepage::Cp1250, "ţara ďťň ß", "ŢARA ĎŤŇ ß"},
        {Codepage::Cp1252, "œuvre ÿ šž", "ŒUVRE Ÿ ŠŽ"},
        {Codepage::Cp1252, "µß÷ ðþ", "µß÷ ÐÞ"},
    };
    auto f = layout();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("cp") + std::to_string(codepageNumber(c.cp)) + " " + c.text);
        bool lossy = false;
        Rec r(f);
        r.set(f, "TOWN", fromUtf8(c.text, c.cp, &lossy));
        std::string want = fromUtf8(c.upper, c.cp, &lossy);
        ASSERT_FALSE(lossy);
        want.resize(12, ' ');
        std::string err;
        auto k = KeyExpr::compile("UPPER(TOWN)", f, err, c.cp);
        ASSERT_TRUE(k) << err;
        EXPECT_EQ(toUtf8(k->evaluate(r.bytes.data()), c.cp), toUtf8(want, c.cp));
    }
    // In every codepage: ASCII changes only a-z, and a capital stays what it is.
    for (Codepage cp : {Codepage::Cp437, Codepage::Cp850, Codepage::Cp1250, Codepage::Cp1252}) {
        const uint8_t* up = upperTable(cp);
        for (int b = 0; b < 256; ++b) {
            if (b < 0x80) EXPECT_EQ(up[b], b >= 'a' && b <= 'z' ? b - 32 : b) << b;
            EXPECT_EQ(up[up[b]], up[b]) << "cp" << codepageNumber(cp) << " byte " << b;
        }
    }
    // Every byte at every place of fields short and long (text is copied and plain ASCII changed many
    // bytes at a time): each byte becomes what the codepage's table says.
    for (uint16_t width : {1, 3, 4, 7, 8, 13, 43}) {
        const std::vector<FieldDesc> one{FieldDesc{"NAME", 'C', 1, width, 0, 0}};
        for (Codepage cp : {Codepage::Cp437, Codepage::Cp1252}) {
            const uint8_t* up = upperTable(cp);
            std::string err;
            auto k = KeyExpr::compile("UPPER(NAME)", one, err, cp);
            ASSERT_TRUE(k) << err;
            for (int first = 0; first < 256; ++first) {
                std::vector<uint8_t> rec(size_t(width) + 2, '#');  // a byte past the field, not in the key
                std::string want;
                for (int i = 0; i < width; ++i) {
                    // runs of ASCII letters, with a byte above 0x7F now and then
                    const int b = (i % 11 == 10) ? (first + i) % 256 : 'a' + (first + i) % 40 - 7;
                    rec[size_t(i) + 1] = uint8_t(b);
                    want += char(up[uint8_t(b)]);
                }
                ASSERT_EQ(k->evaluate(rec.data()), want)
                    << "cp" << codepageNumber(cp) << " width " << width << " from " << first;
            }
        }
    }
}

TEST(KeyExpr, StrFormatsNumbers) {
    Rec r = sample();
    EXPECT_EQ(eval("STR(POP)", r), "    604830");
    EXPECT_EQ(eval("STR(POP,9)", r), "   604830");
    EXPECT_EQ(eval("STR(AREA,8,1)", r), "    78.8");  // rounds half away from zero
    EXPECT_EQ(eval("STR(AREA,5,2)", r), "78.75");
    EXPECT_EQ(eval("STR(AREA,3,2)", r), " 79");  // drops decimals before overflowing
    EXPECT_EQ(eval("STR(POP,4)", r), "****");    // too wide
    EXPECT_EQ(eval("STR(COUNT,5)", r), "  -12");
    EXPECT_EQ(eval("LEFT(CODE,2)+STR(POP,7)", r), "a1 604830");
    // numbers no width holds: an infinite one, one too large to scale by its decimals
    EXPECT_EQ(eval("STR(1e400,10)", r), "**********");
    EXPECT_EQ(eval("STR(1e308,240,100)", r), std::string(240, '*'));
}

TEST(KeyExpr, NumericDateAndLogicalKeys) {
    Rec r = sample();
    KeyType type{};
    std::string k = eval("POP", r, &type);
    EXPECT_EQ(type, KeyType::Numeric);
    EXPECT_EQ(decodeNumericKey(k.data()), 604830.0);
    EXPECT_EQ(decodeNumericKey(eval("AREA", r).data()), 78.75);
    EXPECT_EQ(decodeNumericKey(eval("COUNT", r).data()), -12.0);
    EXPECT_EQ(decodeNumericKey(eval("POP+COUNT", r).data()), 604818.0);
    k = eval("DAY", r, &type);
    EXPECT_EQ(type, KeyType::Date);
    EXPECT_EQ(decodeNumericKey(k.data()), double(julianDay(2024, 2, 29)));
    EXPECT_EQ(eval("FLAG", r, &type), "T");
    EXPECT_EQ(type, KeyType::Logical);

    auto f = layout();
    Rec blank(f);
    EXPECT_EQ(decodeNumericKey(eval("DAY", blank).data()), 0.0);
    EXPECT_EQ(eval("DTOS(DAY)", blank), "        ");
    EXPECT_EQ(eval("FLAG", blank), "F");
    EXPECT_EQ(decodeNumericKey(eval("POP", blank).data()), 0.0);
}

TEST(KeyExpr, RejectsWhatItCannotEvaluate) {
    const char* bad[] = {"NOSUCH",     "UPPER(POP)",     "DTOS(CODE)", "STR(CODE)", "NOTE",
                         "CODE+POP",   "TRIM(CODE)",     "UPPER(CODE", "CODE)",     "",
                         "LEFT(CODE)", "SUBSTR(CODE,9)", "STR(POP,0)", "CODE CODE", "'unterminated"};
    for (const char* text : bad) {
        std::string err;
        EXPECT_FALSE(KeyExpr::compile(text, layout(), err)) << text;
        EXPECT_FALSE(err.empty()) << text;
    }
    std::string err;
    KeyExpr::compile("UPPER(NOSUCH)", layout(), err);
    EXPECT_NE(err.find("NOSUCH"), std::string::npos) << err;
    // Keys are at most 240 bytes.
    std::vector<FieldDesc> wide{FieldDesc{"BIG", 'C', 1, 200, 0, 0}};
    EXPECT_TRUE(KeyExpr::compile("BIG", wide, err));
    EXPECT_FALSE(KeyExpr::compile("BIG+BIG", wide, err));
    // and at least one: a character field of no bytes (which a header can describe) gives no key
    std::vector<FieldDesc> none{FieldDesc{"NONE", 'C', 1, 0, 0, 0}, FieldDesc{"ONE", 'C', 1, 1, 0, 0}};
    EXPECT_FALSE(KeyExpr::compile("UPPER(NONE)", none, err));
    EXPECT_NE(err.find("no bytes"), std::string::npos) << err;
    EXPECT_TRUE(KeyExpr::compile("NONE+ONE", none, err)) << err;
    // fields of a fixed-size kind described shorter than that size are not read past their end
    for (const char type : {'I', 'Y', 'B', 'D', 'L'}) {
        std::vector<FieldDesc> shorter{FieldDesc{"S", type, 1, uint16_t(type == 'L' ? 0 : 3), 0, 0}};
        EXPECT_FALSE(KeyExpr::compile("S", shorter, err)) << type;
        EXPECT_NE(err.find("field S of type"), std::string::npos) << err;
    }
}

// Text that asks for more than the engine evaluates (over-long literals, deep nesting, numbers of many
// digits) is refused when it is compiled: nothing it could do at evaluation runs past a buffer or the
// stack.
TEST(KeyExpr, TextBeyondTheEnginesLimitsIsRefusedWhenCompiled) {
    std::string literal2000(2002, 'x');  // 'xxx...x'
    literal2000.front() = literal2000.back() = '\'';
    struct Case {
        std::string text;
        const char* say;  // part of the reason
    };
    const std::vector<Case> refused = {
        {"SUBSTR(" + literal2000 + ", 1, 5)", "literal too long"},
        {"LEFT(" + literal2000 + ", 3) + CODE", "literal too long"},
        {"UPPER(" + literal2000 + ")", "literal too long"},
        {std::string(5000, '(') + "CODE" + std::string(5000, ')'), "nested deeper"},
        {std::string(100000, '!') + "DELETED()", "nested deeper"},
        {std::string(3000, '(') + "UPPER(CODE" + std::string(3000, ')'), "nested deeper"},
        {"SUBSTR(CODE, 99999999999999999999)", "start out of range"},
        {"STR(POP, 99999999999999999999)", "out of range"},
        {"LEFT(CODE, -99999999999999999999)", "empty text"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.text.substr(0, 60));
        std::string err;
        EXPECT_FALSE(KeyExpr::compile(c.text, layout(), err));
        EXPECT_NE(err.find(c.say), std::string::npos) << err.substr(err.size() > 200 ? err.size() - 200 : 0);
    }
    // Within the limits the same shapes work.
    Rec r = sample();
    EXPECT_EQ(eval("SUBSTR('" + std::string(1000, 'y') + "z', 1000, 2) + CODE", r), "yza1b2c3");
    EXPECT_EQ(eval(std::string(40, '(') + "CODE" + std::string(40, ')'), r), "a1b2c3");
    EXPECT_EQ(eval("STR(POP, 12) ", r), "      604830");
}

TEST(KeyExpr, KeysFromTypedText) {
    std::string err, key;
    auto num = KeyExpr::compile("POP", layout(), err);
    ASSERT_TRUE(num);
    ASSERT_TRUE(num->keyFromText(" 604830 ", key));
    EXPECT_EQ(decodeNumericKey(key.data()), 604830.0);
    EXPECT_FALSE(num->keyFromText("60x", key));
    EXPECT_FALSE(num->keyFromText("", key));
    auto day = KeyExpr::compile("DAY", layout(), err);
    ASSERT_TRUE(day);
    ASSERT_TRUE(day->keyFromText("20000101", key));
    EXPECT_EQ(decodeNumericKey(key.data()), 2451545.0);
    EXPECT_FALSE(day->keyFromText("20001301", key));
    auto flag = KeyExpr::compile("FLAG", layout(), err);
    ASSERT_TRUE(flag);
    ASSERT_TRUE(flag->keyFromText("t", key));
    EXPECT_EQ(key, "T");
    EXPECT_FALSE(flag->keyFromText("maybe", key));
}

TEST(KeyExpr, FiltersAreLogicalExpressions) {
    auto f = layout();
    Rec r = sample();  // FLAG is T, not deleted
    std::string err;
    auto check = [&](const char* text, const Rec& rec) {
        auto k = KeyExpr::compile(text, f, err);
        EXPECT_TRUE(k) << text << ": " << err;
        return k && k->test(rec.bytes.data());
    };
    Rec deleted = r;
    deleted.bytes[0] = '*';
    EXPECT_TRUE(check("!DELETED()", r));
    EXPECT_FALSE(check("!DELETED()", deleted));
    EXPECT_TRUE(check(".NOT. deleted()", r));
    EXPECT_FALSE(check("NOT DELETED()", deleted));
    EXPECT_TRUE(check("FLAG .AND. !DELETED()", r));
    EXPECT_FALSE(check("FLAG AND DELETED()", r));
    EXPECT_TRUE(check("DELETED() .OR. FLAG", r));
    EXPECT_FALSE(check("(.F. .OR. DELETED()) and FLAG", r));
    EXPECT_TRUE(check(".T.", r));
    for (const char* bad : {"!CODE", "FLAG .AND. POP", "DELETED(", "CODE .OR. FLAG"}) {
        EXPECT_FALSE(KeyExpr::compile(bad, f, err)) << bad;
    }
    // A key that is not logical never passes as a filter.
    auto code = KeyExpr::compile("CODE", f, err);
    ASSERT_TRUE(code);
    EXPECT_FALSE(code->test(r.bytes.data()));
    // NOTE is a field name, not the word NOT.
    std::vector<FieldDesc> g{FieldDesc{"NOTED", 'L', 1, 1, 0, 0}};
    EXPECT_TRUE(KeyExpr::compile("NOTED", g, err)) << err;
}

}  // namespace
}  // namespace xb
