// Parts of xb::CdxFile that its source files share (cdx.cpp, cdx_node.cpp, cdx_search.cpp,
// cdx_maintain.cpp, cdx_build.cpp, cdx_check.cpp): the layout of the file, the node and tag in memory,
// the node codec's entry points and the order of keys. Not for use outside the engine.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tableaccess/xbase/cdx.h"

namespace xb {
namespace cdxdetail {

inline constexpr uint32_t kNodeSize = 512;
inline constexpr uint32_t kHeaderSize = 1024;  // header page plus expression pool
inline constexpr uint32_t kNone = 0xFFFFFFFFu;
inline constexpr int kLeafRoom = 512 - 24;      // bytes for entries and keys in a leaf
inline constexpr int kInteriorRoom = 512 - 12;  // bytes for entries in an interior node
inline constexpr int kMaxDepth = 48;
inline constexpr int kDirKeyLength = 10;

inline constexpr uint8_t kOptUnique = 0x01;
inline constexpr uint8_t kOptFilter = 0x08;
inline constexpr uint8_t kOptCompact = 0x20;
inline constexpr uint8_t kOptCompound = 0x40;
inline constexpr uint8_t kOptDirectory = 0x80;

inline uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t get32be(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put32be(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}

inline int bitsFor(uint64_t v) {
    int b = 1;
    while (b < 64 && (v >> b) != 0) ++b;
    return b;
}

inline std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

inline std::string upper(std::string_view s) {
    std::string r(s);
    for (auto& c : r)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return r;
}

// Bytes of a damaged name shown in a message: control bytes as '?'.
inline std::string printable(std::string_view s) {
    std::string r(s);
    for (auto& c : r)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return r;
}

// Canonical form of an expression for comparing definitions: upper case, no blanks.
inline std::string canonical(std::string_view s) {
    std::string r;
    for (char c : upper(s))
        if (c != ' ' && c != '\t') r += c;
    return r;
}

// The limits of a tag's definition, the same when an index is opened, maintained and rebuilt: a name
// of 1 to 10 letters (upper case), digits and _, starting with a letter; the key expression and the
// filter, each with its terminating NUL, within the 512-byte expression pool of the tag's header.
inline constexpr size_t kExpressionPool = 512;

inline bool validTagName(const std::string& name) {
    if (name.empty() || name.size() > size_t(kDirKeyLength)) return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return !(name[0] >= '0' && name[0] <= '9');
}

inline bool definitionFits(const std::string& expression, const std::string& filter) {
    // The filter's NUL counts when the filter is empty too: an open finds the end of each within the pool.
    return expression.size() + 1 + filter.size() + 1 <= kExpressionPool;
}

struct LeafLayout {
    int nb = 3;  // bytes per entry
    int rb = 0, db = 0, tb = 0;
};

// The node codec (cdx_node.cpp).
LeafLayout leafLayout(uint32_t maxRec, int kl);
// Stored bytes of entry i of a run of keys, given the key before it (nullptr for the first).
int storedLength(const char* prev, const char* key, int kl, char pad);
// Bytes a leaf holding these entries needs (entries plus keys); compare with kLeafRoom.
int leafUsed(const char* keys, const uint32_t* recs, size_t n, int kl, char pad);
bool encodeLeaf(const char* keys, const uint32_t* recs, size_t n, int kl, char pad, uint16_t attr,
                uint32_t left, uint32_t right, uint8_t* out);
void encodeInterior(const char* keys, const uint32_t* recs, const uint32_t* children, size_t n, int kl,
                    uint16_t attr, uint32_t left, uint32_t right, uint8_t* out);
int interiorCapacity(int kl);

// Character keys are kept in byte order (FoxPro's default "MACHINE" collation), which is how every other
// xBase program walks and searches them. Some programs wrote tags in another order that nothing in the
// file records: accented letters of Windows ANSI text with their base letter (ÎLE before MONTRÉAL), keys
// equal that way by their bytes. Such a tag is recognised on its first use (CdxFile::prepare) and kept
// in its order; these are the weights of that order. Keys of plain ASCII sort the same either way.
struct Collation {
    uint8_t weight[256];
    Collation() {
        for (int i = 0; i < 256; ++i) weight[i] = uint8_t(i);
        auto map = [&](int from, int to, char base) {
            for (int c = from; c <= to; ++c) weight[c] = uint8_t(base);
        };
        map(0x8A, 0x8A, 'S');
        map(0x8C, 0x8C, 'O');
        map(0x8E, 0x8E, 'Z');
        map(0x9A, 0x9A, 's');
        map(0x9C, 0x9C, 'o');
        map(0x9E, 0x9E, 'z');
        map(0x9F, 0x9F, 'Y');
        map(0xC0, 0xC5, 'A');
        map(0xC7, 0xC7, 'C');
        map(0xC8, 0xCB, 'E');
        map(0xCC, 0xCF, 'I');
        map(0xD0, 0xD0, 'D');
        map(0xD1, 0xD1, 'N');
        map(0xD2, 0xD6, 'O');
        map(0xD8, 0xD8, 'O');
        map(0xD9, 0xDC, 'U');
        map(0xDD, 0xDD, 'Y');
        map(0xE0, 0xE5, 'a');
        map(0xE7, 0xE7, 'c');
        map(0xE8, 0xEB, 'e');
        map(0xEC, 0xEF, 'i');
        map(0xF0, 0xF0, 'd');
        map(0xF1, 0xF1, 'n');
        map(0xF2, 0xF6, 'o');
        map(0xF8, 0xF8, 'o');
        map(0xF9, 0xFC, 'u');
        map(0xFD, 0xFD, 'y');
        map(0xFF, 0xFF, 'y');
    }
};
inline const Collation kCollation;

// Visual FoxPro names a tag's collation sequence (SET COLLATE) in bytes 494-501 of its header. With
// any sequence but MACHINE it stores sort weights rather than the bytes of the text (keys twice as long,
// letter case folded), which this engine cannot compute: such a tag is read, not searched or changed.
inline constexpr uint32_t kCollationName = 494;
inline constexpr int kCollationNameLength = 8;

inline bool weightedCollation(std::string_view name) {
    static const char* const kNames[] = {"ARABIC", "CZECH",   "DUTCH",   "GENERAL",  "GERMAN",  "GREEK",
                                         "HEBREW", "HUNGARY", "ICELAND", "JAPANESE", "KOREAN",  "NORDAN",
                                         "PINYIN", "POLISH",  "RUSSIAN", "SLOVAK",   "SPANISH", "STROKE",
                                         "SWEFIN", "THAI",    "TURKISH", "UNIQWT"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

// The first n (< 8) bytes at p as the low bytes of a word (little-endian), read in pieces of 4, 2 and 1
// bytes: never past p + n, and no call to copy them.
inline uint64_t shortWord(const unsigned char* p, int n) {
    uint64_t v = 0;
    for (int at = 0, piece = 4; piece > 0; piece /= 2)
        if (n & piece) {
            uint64_t w = 0;
            std::memcpy(&w, p + at, size_t(piece));
            v |= w << (8 * at);
            at += piece;
        }
    return v;
}

// Where two keys first differ; kl when they are equal.
inline int firstDifference(const unsigned char* x, const unsigned char* y, int kl) {
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes at a time; the last eight of a key of eight or more bytes (overlapping the word
        // before), or the whole of a shorter key, in one word: no loop over single bytes, whose end the
        // processor cannot foresee.
        int i = 0;
        for (; i + 8 <= kl; i += 8) {
            uint64_t u, v;
            std::memcpy(&u, x + i, 8);
            std::memcpy(&v, y + i, 8);
            if (u != v) return i + __builtin_ctzll(u ^ v) / 8;
        }
        if (i == kl) return kl;
        uint64_t u, v;
        if (kl >= 8) {
            i = kl - 8;
            std::memcpy(&u, x + i, 8);
            std::memcpy(&v, y + i, 8);
        } else {
            u = shortWord(x, kl);
            v = shortWord(y, kl);
        }
        return u == v ? kl : i + __builtin_ctzll(u ^ v) / 8;
    } else {
        int i = 0;
        while (i < kl && x[i] == y[i]) ++i;
        return i;
    }
}

// The accent-folding order of two keys that differ first at byte i.
inline int compareWeights(const unsigned char* x, const unsigned char* y, int i, int kl) {
    for (int j = i; j < kl; ++j) {
        int d = int(kCollation.weight[x[j]]) - int(kCollation.weight[y[j]]);
        if (d != 0) return d;
    }
    return int(x[i]) - int(y[i]);
}

inline int compareKeys(const char* a, const char* b, int kl, bool collated) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    const int i = firstDifference(x, y, kl);
    if (i == kl) return 0;
    // Weights differ from the bytes only above 0x7F: below, the first differing byte decides either way.
    if (!collated || ((x[i] | y[i]) & 0x80) == 0) return int(x[i]) - int(y[i]);
    return compareWeights(x, y, i, kl);
}

// Both orders of two keys at once: raw in byte order, col in the accent-folding order.
inline void compareBoth(const char* a, const char* b, int kl, int& raw, int& col) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    const int i = firstDifference(x, y, kl);
    if (i == kl) {
        raw = col = 0;
        return;
    }
    raw = int(x[i]) - int(y[i]);
    col = ((x[i] | y[i]) & 0x80) ? compareWeights(x, y, i, kl) : raw;
}

// Compares (key, recno) pairs in stored order.
inline int compareEntry(const char* a, uint32_t ra, const char* b, uint32_t rb, int kl, bool collated) {
    int c = compareKeys(a, b, kl, collated);
    if (c != 0) return c;
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

}  // namespace cdxdetail

enum class NodeState : uint8_t { Clean, Dirty, New };

struct CdxFile::Node {
    uint32_t offset = 0;
    uint16_t attr = 0;
    uint32_t left = cdxdetail::kNone, right = cdxdetail::kNone;
    bool leaf = false;
    NodeState state = NodeState::Clean;
    const Tag* tag = nullptr;  // the tag whose tree holds this node
    std::vector<char> keys;    // count() * key length
    std::vector<uint32_t> recs;
    std::vector<uint32_t> children;  // interior nodes only
    std::vector<Node*> kids;         // the children once looked up; cleared when children change
    size_t count() const { return recs.size(); }
};

struct CdxFile::Tag {
    std::string name;
    uint32_t header = 0;
    uint32_t root = 0;
    int keyLen = 0;
    uint8_t options = 0;
    bool descending = false;
    std::string expression, filter;
    std::unique_ptr<KeyExpr> expr;
    std::unique_ptr<KeyExpr> filterExpr;  // records the tag holds; none: every record
    std::string why;                      // why the tag cannot be maintained; empty when it can
    char pad = ' ';
    // Character keys in the accent-folding order another program wrote (see Collation); false: in byte
    // order. Known once the tag is ready.
    bool collated = false;
    std::string collation;     // the collation sequence its header names (Visual FoxPro), as read
    bool weighted = false;     // its keys are weights of that sequence (see weightedCollation)
    Node* rootNode = nullptr;  // the root once looked up
    // The whole tree has been validated (every node decoded, no loop, leaves at one depth) and the order
    // of its character keys is known. Opening checks only the header and the root; the rest waits for
    // the tag's first use (see CdxFile::prepare), so that a table opened for a scan in record order does
    // not decode every key of its index.
    bool ready = false;
    bool unique() const { return options & cdxdetail::kOptUnique; }
    bool holds(const uint8_t* record) const { return !filterExpr || filterExpr->test(record); }
    const char* key(const Node& n, size_t i) const { return n.keys.data() + i * size_t(keyLen); }
};

// A walk over a tag's tree that validates it (CdxFile::validateTree). keep: its nodes stay in the cache
// (a tag's first use). Otherwise (a check, which reads each leaf once) a leaf is decoded into a node that
// is not kept, and owners records which tag's walk went through each page, so that a tree reaching into
// a tag checked before is found as it would be were that tag's nodes kept.
struct CdxFile::TreeWalk {
    bool keep = true;
    std::function<void(const Node&)> leaf;  // each leaf, in key order
    std::vector<const Tag*> owners;         // by page (offset / 512)
    // Set when the leaf visitor counts the entries that do not follow the one before in byte order and
    // in the accent-folding order itself (a check compares each entry with the one before anyway).
    bool countsOrder = false;
    size_t rawBad = 0, colBad = 0;
};

using Node = CdxFile::Node;
using Tag = CdxFile::Tag;

}  // namespace xb
