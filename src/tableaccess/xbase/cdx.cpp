#include "tableaccess/xbase/cdx.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "tableaccess/xbase/numtext.h"

namespace xb {

namespace {

constexpr uint32_t kNodeSize = 512;
constexpr uint32_t kHeaderSize = 1024;  // header page plus expression pool
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr int kLeafRoom = 512 - 24;      // bytes for entries and keys in a leaf
constexpr int kInteriorRoom = 512 - 12;  // bytes for entries in an interior node
constexpr int kMaxDepth = 48;
constexpr int kDirKeyLength = 10;

constexpr uint8_t kOptUnique = 0x01;
constexpr uint8_t kOptFilter = 0x08;
constexpr uint8_t kOptCompact = 0x20;
constexpr uint8_t kOptCompound = 0x40;
constexpr uint8_t kOptDirectory = 0x80;

uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint32_t get32be(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void put32be(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}

int bitsFor(uint64_t v) {
    int b = 1;
    while (b < 64 && (v >> b) != 0) ++b;
    return b;
}

std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (auto& c : r)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return r;
}

// Bytes of a damaged name shown in a message: control bytes as '?'.
std::string printable(std::string_view s) {
    std::string r(s);
    for (auto& c : r)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return r;
}

// Canonical form of an expression for comparing definitions: upper case, no blanks.
std::string canonical(std::string_view s) {
    std::string r;
    for (char c : upper(s))
        if (c != ' ' && c != '\t') r += c;
    return r;
}

// The limits of a tag's definition, the same when an index is opened, maintained and rebuilt: a name
// of 1 to 10 letters (upper case), digits and _, starting with a letter; the key expression and the
// filter, each with its terminating NUL, within the 512-byte expression pool of the tag's header.
constexpr size_t kExpressionPool = 512;

bool validTagName(const std::string& name) {
    if (name.empty() || name.size() > size_t(kDirKeyLength)) return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return !(name[0] >= '0' && name[0] <= '9');
}

bool definitionFits(const std::string& expression, const std::string& filter) {
    // The filter's NUL counts when the filter is empty too: an open finds the end of each within the pool.
    return expression.size() + 1 + filter.size() + 1 <= kExpressionPool;
}

struct LeafLayout {
    int nb = 3;  // bytes per entry
    int rb = 0, db = 0, tb = 0;
};

LeafLayout leafLayout(uint32_t maxRec, int kl) {
    LeafLayout l;
    l.db = l.tb = bitsFor(uint64_t(kl));
    int need = bitsFor(maxRec) + l.db + l.tb;
    l.nb = std::max(3, (need + 7) / 8);
    l.rb = std::min(32, l.nb * 8 - l.db - l.tb);
    return l;
}

int trailingPad(const char* key, int kl, char pad) {
    int t = 0;
    while (t < kl && key[kl - 1 - t] == pad) ++t;
    return t;
}

int sharedPrefix(const char* a, const char* b, int kl) {
    int d = 0;
    while (d < kl && a[d] == b[d]) ++d;
    return d;
}

// Stored bytes of entry i of a run of keys, given the key before it (nullptr for the first).
int storedLength(const char* prev, const char* key, int kl, char pad) {
    int trail = trailingPad(key, kl, pad);
    int dup = prev ? std::min(sharedPrefix(prev, key, kl), kl - trail) : 0;
    return kl - dup - trail;
}

// Bytes a leaf holding these entries needs (entries plus keys); compare with kLeafRoom.
int leafUsed(const char* keys, const uint32_t* recs, size_t n, int kl, char pad) {
    uint32_t maxRec = 0;
    for (size_t i = 0; i < n; ++i) maxRec = std::max(maxRec, recs[i]);
    LeafLayout l = leafLayout(maxRec, kl);
    int used = int(n) * l.nb;
    for (size_t i = 0; i < n; ++i)
        used += storedLength(i ? keys + (i - 1) * kl : nullptr, keys + i * kl, kl, pad);
    return used;
}

bool encodeLeaf(const char* keys, const uint32_t* recs, size_t n, int kl, char pad, uint16_t attr,
                uint32_t left, uint32_t right, uint8_t* out) {
    std::memset(out, 0, kNodeSize);
    uint32_t maxRec = 0;
    for (size_t i = 0; i < n; ++i) maxRec = std::max(maxRec, recs[i]);
    LeafLayout l = leafLayout(maxRec, kl);
    put16(out, attr);
    put16(out + 2, uint16_t(n));
    put32(out + 4, left);
    put32(out + 8, right);
    put32(out + 14, l.rb >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << l.rb) - 1);
    out[18] = uint8_t((1u << l.db) - 1);
    out[19] = uint8_t((1u << l.tb) - 1);
    out[20] = uint8_t(l.rb);
    out[21] = uint8_t(l.db);
    out[22] = uint8_t(l.tb);
    out[23] = uint8_t(l.nb);
    int entryEnd = 24 + int(n) * l.nb;
    int keyPos = int(kNodeSize);
    for (size_t i = 0; i < n; ++i) {
        const char* key = keys + i * kl;
        int trail = trailingPad(key, kl, pad);
        int dup = i ? std::min(sharedPrefix(key - kl, key, kl), kl - trail) : 0;
        int len = kl - dup - trail;
        keyPos -= len;
        if (keyPos < entryEnd) return false;
        std::memcpy(out + keyPos, key + dup, size_t(len));
        uint64_t v = uint64_t(recs[i]) | (uint64_t(dup) << l.rb) | (uint64_t(trail) << (l.rb + l.db));
        for (int b = 0; b < l.nb; ++b) out[24 + i * l.nb + b] = uint8_t(v >> (8 * b));
    }
    put16(out + 12, uint16_t(keyPos - entryEnd));
    return true;
}

void encodeInterior(const char* keys, const uint32_t* recs, const uint32_t* children, size_t n, int kl,
                    uint16_t attr, uint32_t left, uint32_t right, uint8_t* out) {
    std::memset(out, 0, kNodeSize);
    put16(out, attr);
    put16(out + 2, uint16_t(n));
    put32(out + 4, left);
    put32(out + 8, right);
    uint8_t* p = out + 12;
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(p, keys + i * kl, size_t(kl));
        put32be(p + kl, recs[i]);
        put32be(p + kl + 4, children[i]);
        p += kl + 8;
    }
}

int interiorCapacity(int kl) {
    return kInteriorRoom / (kl + 8);
}

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
const Collation kCollation;

// Visual FoxPro names a tag's collation sequence (SET COLLATE) in bytes 494-501 of its header. With
// any sequence but MACHINE it stores sort weights rather than the bytes of the text (keys twice as long,
// letter case folded), which this engine cannot compute: such a tag is read, not searched or changed.
constexpr uint32_t kCollationName = 494;
constexpr int kCollationNameLength = 8;

bool weightedCollation(std::string_view name) {
    static const char* const kNames[] = {"ARABIC", "CZECH",   "DUTCH",   "GENERAL",  "GERMAN",  "GREEK",
                                         "HEBREW", "HUNGARY", "ICELAND", "JAPANESE", "KOREAN",  "NORDAN",
                                         "PINYIN", "POLISH",  "RUSSIAN", "SLOVAK",   "SPANISH", "STROKE",
                                         "SWEFIN", "THAI",    "TURKISH", "UNIQWT"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

inline int compareKeys(const char* a, const char* b, int kl, bool collated) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    // The first differing byte, eight bytes at a time.
    int i = 0;
    for (; i + 8 <= kl; i += 8) {
        uint64_t u, v;
        std::memcpy(&u, x + i, 8);
        std::memcpy(&v, y + i, 8);
        if (u != v) {
            if constexpr (std::endian::native == std::endian::little) {
                i += __builtin_ctzll(u ^ v) / 8;
            } else {
                while (x[i] == y[i]) ++i;
            }
            goto differ;
        }
    }
    while (i < kl && x[i] == y[i]) ++i;
    if (i == kl) return 0;
differ:
    if (!collated) return int(x[i]) - int(y[i]);
    for (int j = i; j < kl; ++j) {
        int d = int(kCollation.weight[x[j]]) - int(kCollation.weight[y[j]]);
        if (d != 0) return d;
    }
    return int(x[i]) - int(y[i]);
}

// Compares (key, recno) pairs in stored order.
int compareEntry(const char* a, uint32_t ra, const char* b, uint32_t rb, int kl, bool collated) {
    int c = compareKeys(a, b, kl, collated);
    if (c != 0) return c;
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

}  // namespace

enum class NodeState : uint8_t { Clean, Dirty, New };

struct CdxFile::Node {
    uint32_t offset = 0;
    uint16_t attr = 0;
    uint32_t left = kNone, right = kNone;
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
    bool unique() const { return options & kOptUnique; }
    bool holds(const uint8_t* record) const { return !filterExpr || filterExpr->test(record); }
    const char* key(const Node& n, size_t i) const { return n.keys.data() + i * size_t(keyLen); }
};

using Node = CdxFile::Node;
using Tag = CdxFile::Tag;

CdxFile::CdxFile() = default;

CdxFile::~CdxFile() = default;

std::string CdxFile::fail(const std::string& problem) const {
    return path_ + ": " + problem;
}

// ---------------------------------------------------------------- reading

bool CdxFile::decodeNode(uint32_t offset, const Tag& tag, Node& out, std::string& error) const {
    const std::string where = (tag.name.empty() ? std::string("tag directory") : "tag " + tag.name) + ": ";
    if (offset == kNone || offset < kHeaderSize || uint64_t(offset) + kNodeSize > image_.size()) {
        error = fail(where + "node pointer " + hex(offset) + " outside the file (size " +
                     std::to_string(image_.size()) + ")");
        return false;
    }
    if (offset % kNodeSize != 0) {
        error = fail(where + "node pointer " + hex(offset) + " is not on a 512-byte page");
        return false;
    }
    for (const auto& other : tags_)
        if (offset >= other->header && offset < other->header + kHeaderSize) {
            error = fail(where + "node pointer " + hex(offset) + " names the header of tag " + other->name);
            return false;
        }
    const uint8_t* p = image_.data() + offset;
    const int kl = tag.keyLen;
    out.offset = offset;
    out.attr = get16(p);
    out.leaf = (out.attr & 2) != 0;
    out.left = get32(p + 4);
    out.right = get32(p + 8);
    size_t n = get16(p + 2);
    out.keys.clear();
    out.recs.clear();
    out.children.clear();
    if (out.attr > 3) {
        error = fail(where + "node at " + hex(offset) + " has bad attributes " + std::to_string(out.attr));
        return false;
    }
    if (!out.leaf) {
        if (n == 0 || n > size_t(interiorCapacity(kl))) {
            error = fail(where + "interior node at " + hex(offset) + " holds a bad key count " +
                         std::to_string(n));
            return false;
        }
        out.keys.resize(n * size_t(kl));
        out.recs.resize(n);
        out.children.resize(n);
        const uint8_t* e = p + 12;
        for (size_t i = 0; i < n; ++i) {
            std::memcpy(out.keys.data() + i * kl, e, size_t(kl));
            out.recs[i] = get32be(e + kl);
            out.children[i] = get32be(e + kl + 4);
            e += kl + 8;
        }
        return true;
    }
    uint32_t recMask = get32(p + 14);
    int dupMask = p[18], trailMask = p[19];
    int rb = p[20], db = p[21], nb = p[23];
    // Record numbers have 32 bits, duplicate and trailing counts at most 240 (16 bits are allowed): the
    // shifts below stay within the 64 bits of an entry.
    if (nb < 1 || nb > 8 || rb > 32 || db > 16 || p[22] > 16 || rb + db + p[22] > nb * 8 ||
        24 + n * size_t(nb) > kNodeSize) {
        error = fail(where + "leaf node at " + hex(offset) + " has a bad layout");
        return false;
    }
    out.keys.resize(n * size_t(kl));
    out.recs.resize(n);
    int keyPos = int(kNodeSize);
    const int entryEnd = 24 + int(n) * nb;
    for (size_t i = 0; i < n; ++i) {
        uint64_t v = 0;
        for (int b = nb - 1; b >= 0; --b) v = (v << 8) | p[24 + i * nb + b];
        uint32_t rec = uint32_t(v) & recMask;
        int dup = int(v >> rb) & dupMask;
        int trail = int(v >> (rb + db)) & trailMask;
        if (dup + trail > kl || (i == 0 && dup > 0)) {
            error = fail(where + "leaf node at " + hex(offset) + " has a bad entry " + std::to_string(i + 1));
            return false;
        }
        int len = kl - dup - trail;
        keyPos -= len;
        if (keyPos < entryEnd) {
            error = fail(where + "leaf node at " + hex(offset) + " overflows");
            return false;
        }
        char* k = out.keys.data() + i * kl;
        if (dup > 0) std::memcpy(k, k - kl, size_t(dup));
        std::memcpy(k + dup, p + keyPos, size_t(len));
        std::memset(k + dup + len, tag.pad, size_t(trail));
        out.recs[i] = rec;
    }
    return true;
}

Node* CdxFile::node(uint32_t offset, const Tag& tag, std::string& error) {
    auto it = nodes_.find(offset);
    if (it != nodes_.end()) {
        // The cache is keyed by offset: a pointer of this tag naming a node another tag holds is damage
        // (that node has the other tag's key length and would be read and written as this tag's).
        if (it->second->tag == &tag) return it->second.get();
        const Tag* owner = it->second->tag;
        error = fail((tag.name.empty() ? std::string("tag directory") : "tag " + tag.name) + ": node " +
                     hex(offset) + " belongs to " +
                     (owner && !owner->name.empty() ? "tag " + owner->name : std::string("another tag")));
        return nullptr;
    }
    auto n = std::make_unique<Node>();
    if (!decodeNode(offset, tag, *n, error)) return nullptr;
    n->tag = &tag;
    Node* raw = n.get();
    nodes_.emplace(offset, std::move(n));
    return raw;
}

// Visits every node of a tag once: pointers inside the file, no node reached twice (within this tag or
// from another tag whose nodes are already decoded), leaves all at one depth, and each node's sibling
// pointers naming its neighbours on its level (seeks and splits follow them, so they must stay within
// the tag). Decoded nodes stay in the cache.
bool CdxFile::validateTree(Tag& tag, std::string& error) {
    const std::string where = (tag.name.empty() ? std::string("tag directory") : "tag " + tag.name) + ": ";
    std::vector<std::pair<uint32_t, int>> stack{{tag.root, 0}};
    std::unordered_set<uint32_t> visited;
    std::vector<std::vector<Node*>> levels;  // the nodes of each depth, left to right
    int leafDepth = -1;
    while (!stack.empty()) {
        auto [off, depth] = stack.back();
        stack.pop_back();
        if (depth > kMaxDepth) {
            error = fail(where + "loop in the tree (deeper than " + std::to_string(kMaxDepth) + " levels)");
            return false;
        }
        // A node decoded before this walk (the root, checked at open) must belong to this tag.
        const auto cached = nodes_.find(off);
        if (!visited.insert(off).second || (cached != nodes_.end() && cached->second->tag != &tag)) {
            error = fail(where + "loop in the tree: node " + hex(off) + " is reached twice");
            return false;
        }
        Node* n = node(off, tag, error);
        if (!n) return false;
        if (levels.size() <= size_t(depth)) levels.resize(size_t(depth) + 1);
        levels[size_t(depth)].push_back(n);
        if (n->leaf) {
            if (leafDepth >= 0 && depth != leafDepth) {
                error = fail(where + "leaves at different depths");
                return false;
            }
            leafDepth = depth;
        } else {
            for (size_t i = n->count(); i-- > 0;) stack.emplace_back(n->children[i], depth + 1);
        }
    }
    // The tag directory is read once and rewritten whole: only the tags' own links are followed.
    if (tag.header == 0) return true;
    for (const auto& level : levels)
        for (size_t i = 0; i < level.size(); ++i) {
            const uint32_t left = i ? level[i - 1]->offset : kNone;
            const uint32_t right = i + 1 < level.size() ? level[i + 1]->offset : kNone;
            if (level[i]->left != left || level[i]->right != right) {
                error = fail(where + "node " + hex(level[i]->offset) + " has sibling pointers " +
                             hex(level[i]->left) + " and " + hex(level[i]->right) + "; its neighbours are " +
                             hex(left) + " and " + hex(right));
                return false;
            }
        }
    return true;
}

bool CdxFile::load(std::string& error) {
    file_.close();
    tags_.clear();
    nodes_.clear();
    newNodes_.clear();
    dirtyNodes_.clear();
    headersDirty_ = false;
    std::string why;
    readOnly_ = !file_.open(path_, true, why);
    if (readOnly_ && !file_.open(path_, false, why)) {
        error = fail("cannot open: " + why);
        return false;
    }
    const long long size = file_.size();
    if (size < 0) {
        error = fail("cannot read: " + io::lastSystemError());
        return false;
    }
    image_.assign(size_t(size), 0);
    const long long got = file_.readSomeAt(0, image_.data(), image_.size());
    if (got != size) {
        error = fail(std::string("cannot read: ") + (got < 0 ? io::lastSystemError() : "file shrank"));
        return false;
    }
    return loadFromImage(error);
}

bool CdxFile::loadFromImage(std::string& error) {
    if (image_.size() < kHeaderSize + kNodeSize) {
        error = fail("file too short for a compound index (" + std::to_string(image_.size()) + " bytes)");
        return false;
    }
    const uint8_t* h = image_.data();
    Tag dir;
    dir.root = get32(h);
    dir.keyLen = get16(h + 12);
    dir.options = h[14];
    if (dir.keyLen < 1 || dir.keyLen > 240 || !(dir.options & kOptCompact)) {
        error = fail("bad header: not a compact compound index");
        return false;
    }
    if (!validateTree(dir, error)) return false;
    // Tag names in directory order.
    std::vector<std::pair<std::string, uint32_t>> entries;
    {
        std::vector<Node*> leaves;
        std::vector<uint32_t> stack{dir.root};
        while (!stack.empty()) {
            Node* n = nodes_.at(stack.back()).get();
            stack.pop_back();
            if (n->leaf)
                leaves.push_back(n);
            else
                for (size_t i = n->count(); i-- > 0;) stack.push_back(n->children[i]);
        }
        for (Node* n : leaves)
            for (size_t i = 0; i < n->count(); ++i) {
                std::string name(n->keys.data() + i * dir.keyLen, size_t(dir.keyLen));
                while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
                entries.emplace_back(name, n->recs[i]);
            }
    }
    // The directory's nodes are not kept: it is rewritten whole when tags change.
    nodes_.clear();
    for (auto& [name, hdr] : entries) {
        auto t = std::make_unique<Tag>();
        t->name = name;
        t->header = hdr;
        if (hdr < kHeaderSize || uint64_t(hdr) + kHeaderSize > image_.size()) {
            error = fail("tag " + name + ": header pointer " + hex(hdr) + " outside the file");
            return false;
        }
        const uint8_t* th = image_.data() + hdr;
        t->root = get32(th);
        t->keyLen = get16(th + 12);
        t->options = th[14];
        t->descending = get16(th + 502) != 0;
        if (t->keyLen < 1 || t->keyLen > 240 || !(t->options & kOptCompact)) {
            error = fail("tag " + name + ": bad header (key length " + std::to_string(t->keyLen) + ")");
            return false;
        }
        if (!validTagName(upper(name))) {
            error = fail("the tag directory holds \"" + printable(name) +
                         "\", which is no tag name (1 to 10 letters, digits or _, starting with a letter)");
            return false;
        }
        for (const auto& other : tags_)
            if (upper(other->name) == upper(name)) {
                error = fail("the tag directory holds tag " + name + " twice");
                return false;
            }
        if (hdr % kNodeSize != 0) {
            error = fail("tag " + name + ": header pointer " + hex(hdr) + " is not on a 512-byte page");
            return false;
        }
        // The key expression and the filter, each ended by a NUL within the pool (as a rebuild writes them).
        const char* pool = reinterpret_cast<const char*>(th + 512);
        const size_t exprLen = strnlen(pool, kExpressionPool);
        const size_t filterLen =
            exprLen < kExpressionPool ? strnlen(pool + exprLen + 1, kExpressionPool - exprLen - 1) : 0;
        if (exprLen == kExpressionPool || exprLen + 1 + filterLen == kExpressionPool) {
            error = fail("tag " + name + ": the key expression or filter does not end within the " +
                         std::to_string(kExpressionPool) + "-byte expression pool");
            return false;
        }
        t->expression.assign(pool, exprLen);
        t->filter.assign(pool + exprLen + 1, filterLen);
        const char* coll = reinterpret_cast<const char*>(th + kCollationName);
        t->collation.assign(coll, strnlen(coll, kCollationNameLength));
        t->weighted = weightedCollation(t->collation);
        std::string err;
        t->expr = KeyExpr::compile(t->expression, fields_, err, codepage_);
        if (t->weighted) {
            t->why = "index tag " + name + ": its keys are in the " + t->collation +
                     " collation sequence, which this program cannot compute (rebuild the index)";
            t->expr.reset();
        } else if (!t->expr) {
            t->why = "index tag " + name + ": " + err;
        } else if (t->expr->keyLength() != t->keyLen) {
            t->why = "index tag " + name + ": key expression \"" + t->expression + "\" gives keys of " +
                     std::to_string(t->expr->keyLength()) + " bytes, the tag holds " +
                     std::to_string(t->keyLen);
            t->expr.reset();
        } else {
            t->pad = t->expr->padByte();
        }
        if (!t->filter.empty()) {
            t->filterExpr = KeyExpr::compile(t->filter, fields_, err, codepage_);
            if (t->filterExpr && t->filterExpr->type() != KeyType::Logical) t->filterExpr.reset();
            if (!t->filterExpr && t->why.empty())
                t->why = "index tag " + name + ": cannot evaluate filter \"" + t->filter + "\"";
        }
        tags_.push_back(std::move(t));
    }
    for (auto& t : tags_) {
        // Headers are two pages; no two may share a page (a change of one would rewrite the other).
        for (auto& other : tags_)
            if (other.get() != t.get() && other->header < t->header + kHeaderSize &&
                t->header < other->header + kHeaderSize) {
                error = fail("tag " + t->name + ": shares its header with tag " + other->name);
                return false;
            }
        // The root is checked now (a pointer outside the file or a bad root node is an error at
        // open); the nodes below it on the tag's first use.
        Node* root = node(t->root, *t, error);
        if (!root) return false;
        t->rootNode = root;
    }
    return true;
}

bool CdxFile::prepare(Tag& t, std::string& error) {
    if (t.ready) return true;
    if (!validateTree(t, error)) return false;
    if (t.pad == ' ' && !t.weighted) {
        // Which order do the stored character keys follow: bytes, or the accent-folding order? Byte order
        // unless the other one fits the keys better (when both fit, as they do for plain ASCII keys, new
        // keys go in byte order as other programs expect).
        std::vector<Node*> leaves;
        if (!walkStored(t, leaves, error)) return false;
        size_t rawBad = 0, colBad = 0;
        const char* prev = nullptr;
        uint32_t prevRec = 0;
        for (Node* n : leaves)
            for (size_t i = 0; i < n->count(); ++i) {
                const char* k = t.key(*n, i);
                if (prev) {
                    rawBad += compareEntry(prev, prevRec, k, n->recs[i], t.keyLen, false) >= 0;
                    colBad += compareEntry(prev, prevRec, k, n->recs[i], t.keyLen, true) >= 0;
                }
                prev = k;
                prevRec = n->recs[i];
            }
        t.collated = colBad < rawBad;
    }
    t.ready = true;
    return true;
}

bool CdxFile::validate(std::string& error) {
    for (auto& t : tags_)
        if (!prepare(*t, error)) return false;
    return true;
}

std::unique_ptr<CdxFile> CdxFile::open(const std::string& path, const std::vector<FieldDesc>& fields,
                                       std::string& error, Codepage codepage) {
    std::unique_ptr<CdxFile> f(new CdxFile);
    f->path_ = path;
    f->fields_ = fields;
    f->codepage_ = codepage;
    for (const auto& fd : fields) f->recordSize_ = std::max<uint32_t>(f->recordSize_, fd.offset + fd.length);
    if (!f->load(error)) return nullptr;
    return f;
}

std::vector<TagSpec> CdxFile::tags() const {
    std::vector<TagSpec> r;
    for (auto& t : tags_) r.push_back(TagSpec{t->name, t->expression, t->filter, t->unique(), t->descending});
    return r;
}

int CdxFile::findTag(std::string_view name) const {
    std::string u = upper(name);
    while (!u.empty() && u.back() == ' ') u.pop_back();
    for (size_t i = 0; i < tags_.size(); ++i)
        if (upper(tags_[i]->name) == u) return int(i);
    return -1;
}

int CdxFile::keyLength(int tag) const {
    if (tag < 0 || tag >= int(tags_.size())) return 0;
    return tags_[size_t(tag)]->keyLen;
}

KeyType CdxFile::keyType(int tag) const {
    if (tag < 0 || tag >= int(tags_.size()) || !tags_[size_t(tag)]->expr) return KeyType::Character;
    return tags_[size_t(tag)]->expr->type();
}

bool CdxFile::maintainable(std::string& why) const {
    for (auto& t : tags_)
        if (!t->why.empty()) {
            why = path_ + ": " + t->why;
            return false;
        }
    return true;
}

// ---------------------------------------------------------------- seek and walk

uint32_t CdxFile::seek(int tag, std::string_view key, std::string& error) {
    if (tag < 0 || tag >= int(tags_.size()) || key.empty()) return 0;
    Tag& t = *tags_[size_t(tag)];
    if (t.weighted) {
        error = fail("tag " + t.name + ": cannot search keys of the " + t.collation +
                     " collation sequence (rebuild the index)");
        return 0;
    }
    if (t.expr && t.expr->type() != KeyType::Character) {
        std::string stored;
        if (!t.expr->keyFromText(key, stored) || int(stored.size()) != t.keyLen) return 0;
        return seekStored(tag, stored, error);
    }
    if (int(key.size()) > t.keyLen) return 0;
    char buf[256];
    std::memcpy(buf, key.data(), key.size());
    std::memset(buf + key.size(), ' ', size_t(t.keyLen) - key.size());
    return seekStored(tag, std::string_view(buf, size_t(t.keyLen)), error);
}

uint32_t CdxFile::seekStored(int tag, std::string_view k, std::string& error) {
    if (tag < 0 || tag >= int(tags_.size())) return 0;
    Tag& t = *tags_[size_t(tag)];
    if (int(k.size()) != t.keyLen) return 0;
    if (!prepare(t, error)) return 0;
    return seekIn(t, k.data(), error);
}

uint32_t CdxFile::seekIn(Tag& t, const char* key, std::string& error) {
    const int kl = t.keyLen;
    if (!t.rootNode || t.rootNode->offset != t.root) t.rootNode = node(t.root, t, error);
    Node* n = t.rootNode;
    int depth = 0;
    // Ascending: the first entry with this key. Descending: the last one in stored order.
    auto firstNotLess = [&](const Node& nd) {
        size_t lo = 0, hi = nd.count();
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            if (compareKeys(t.key(nd, mid), key, kl, t.collated) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    auto firstGreater = [&](const Node& nd) {
        size_t lo = 0, hi = nd.count();
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            if (compareKeys(t.key(nd, mid), key, kl, t.collated) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    while (n && !n->leaf) {
        if (++depth > kMaxDepth) {
            error = fail("tag " + t.name + ": loop in the tree");
            return 0;
        }
        size_t i = t.descending ? firstGreater(*n) : firstNotLess(*n);
        if (i == n->count()) {
            if (!t.descending) return 0;
            i = n->count() - 1;
        }
        if (n->kids.size() != n->children.size()) n->kids.assign(n->children.size(), nullptr);
        Node*& kid = n->kids[i];
        if (!kid) kid = node(n->children[i], t, error);
        n = kid;
    }
    if (!n) return 0;
    if (!t.descending) {
        size_t i = firstNotLess(*n);
        int hops = 0;
        while (i == n->count()) {  // only when an interior key is not its child's last key
            if (n->right == kNone || ++hops > kMaxDepth) return 0;
            n = node(n->right, t, error);
            if (!n) return 0;
            i = firstNotLess(*n);
        }
        return std::memcmp(t.key(*n, i), key, size_t(kl)) == 0 ? n->recs[i] : 0;
    }
    size_t i = firstGreater(*n);
    int hops = 0;
    while (i == 0) {
        if (n->left == kNone || ++hops > kMaxDepth) return 0;
        n = node(n->left, t, error);
        if (!n) return 0;
        i = n->count();
    }
    --i;
    return std::memcmp(t.key(*n, i), key, size_t(kl)) == 0 ? n->recs[i] : 0;
}

// The leaves of a tag in stored order, reached depth first over the tree.
bool CdxFile::walkStored(Tag& t, std::vector<Node*>& leaves, std::string& error) {
    leaves.clear();
    std::vector<std::pair<uint32_t, int>> stack{{t.root, 0}};
    while (!stack.empty()) {
        auto [off, depth] = stack.back();
        stack.pop_back();
        if (depth > kMaxDepth) {
            error = fail("tag " + t.name + ": loop in the tree");
            return false;
        }
        Node* n = node(off, t, error);
        if (!n) return false;
        if (n->leaf)
            leaves.push_back(n);
        else
            for (size_t i = n->count(); i-- > 0;) stack.emplace_back(n->children[i], depth + 1);
    }
    return true;
}

bool CdxFile::walk(int tag, std::vector<std::pair<std::string, uint32_t>>& out, std::string& error) {
    out.clear();
    if (tag < 0 || tag >= int(tags_.size())) {
        error = fail("no tag number " + std::to_string(tag));
        return false;
    }
    Tag& t = *tags_[size_t(tag)];
    std::vector<Node*> leaves;
    if (!prepare(t, error) || !walkStored(t, leaves, error)) return false;
    for (Node* n : leaves)
        for (size_t i = 0; i < n->count(); ++i)
            out.emplace_back(std::string(t.key(*n, i), size_t(t.keyLen)), n->recs[i]);
    if (t.descending) std::reverse(out.begin(), out.end());
    return true;
}

// ---------------------------------------------------------------- maintenance

Node* CdxFile::newNode(Tag& tag, bool leaf) {
    auto n = std::make_unique<Node>();
    n->tag = &tag;
    n->offset = uint32_t(image_.size());
    n->leaf = leaf;
    n->attr = leaf ? 2 : 0;
    n->state = NodeState::New;
    image_.resize(image_.size() + kNodeSize, 0);
    Node* raw = n.get();
    nodes_.emplace(raw->offset, std::move(n));
    newNodes_.push_back(raw->offset);
    return raw;
}

namespace {
void markDirty(Node* n, std::vector<uint32_t>& dirty) {
    if (n->state == NodeState::Clean) {
        n->state = NodeState::Dirty;
        dirty.push_back(n->offset);
    }
}

// Index of the first entry not less than (key, rec); count() when there is none.
size_t lowerBound(const Node& n, const char* key, uint32_t rec, int kl, bool collated) {
    size_t lo = 0, hi = n.count();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (compareEntry(n.keys.data() + mid * kl, n.recs[mid], key, rec, kl, collated) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

bool fits(const Node& n, int kl, char pad) {
    if (n.leaf) return leafUsed(n.keys.data(), n.recs.data(), n.count(), kl, pad) <= kLeafRoom;
    return int(n.count()) <= interiorCapacity(kl);
}
}  // namespace

// After a change at the bottom of path, splits every node that no longer fits, from the leaf up, and
// keeps each parent's entry equal to its child's last key.
bool CdxFile::fixSplits(Tag& t, std::vector<std::pair<Node*, int>>& path, std::string& error) {
    const int kl = t.keyLen;
    for (int level = int(path.size()) - 1; level >= 0; --level) {
        Node* x = path[size_t(level)].first;
        Node* y = nullptr;
        if (!fits(*x, kl, t.pad)) {
            // Split by bytes for leaves, by count for interior nodes; the upper part moves to a new
            // right sibling.
            size_t n = x->count();
            size_t cut = n / 2;
            if (x->leaf) {
                int total = leafUsed(x->keys.data(), x->recs.data(), n, kl, t.pad);
                int acc = 0;
                for (cut = 0; cut < n - 1; ++cut) {
                    acc += 4 + storedLength(cut ? t.key(*x, cut - 1) : nullptr, t.key(*x, cut), kl, t.pad);
                    if (acc * 2 >= total) break;
                }
                cut = std::max<size_t>(cut, 1);
            }
            y = newNode(t, x->leaf);
            y->keys.assign(x->keys.begin() + long(cut * kl), x->keys.end());
            y->recs.assign(x->recs.begin() + long(cut), x->recs.end());
            if (!x->leaf) y->children.assign(x->children.begin() + long(cut), x->children.end());
            x->kids.clear();
            x->keys.resize(cut * kl);
            x->recs.resize(cut);
            if (!x->leaf) x->children.resize(cut);
            y->left = x->offset;
            y->right = x->right;
            if (x->right != kNone) {
                Node* r = node(x->right, t, error);
                if (!r) return false;
                r->left = y->offset;
                markDirty(r, dirtyNodes_);
            }
            x->right = y->offset;
            markDirty(x, dirtyNodes_);
            if (!fits(*x, kl, t.pad) || !fits(*y, kl, t.pad)) {
                error = fail("tag " + t.name + ": cannot split a node");
                return false;
            }
        }
        if (level == 0) {
            if (y) {
                // The root split: a new root above both halves.
                Node* r = newNode(t, false);
                r->attr = 1;
                x->attr &= uint16_t(~1u);
                y->attr = x->attr;
                for (Node* c : {x, y}) {
                    r->keys.insert(r->keys.end(), c->keys.end() - kl, c->keys.end());
                    r->recs.push_back(c->recs.back());
                    r->children.push_back(c->offset);
                }
                t.root = r->offset;
                headersDirty_ = true;
            }
            break;
        }
        Node* p = path[size_t(level) - 1].first;
        size_t idx = size_t(path[size_t(level) - 1].second);
        if (x->count() > 0 && (std::memcmp(t.key(*p, idx), t.key(*x, x->count() - 1), size_t(kl)) != 0 ||
                               p->recs[idx] != x->recs.back())) {
            std::memcpy(p->keys.data() + idx * kl, t.key(*x, x->count() - 1), size_t(kl));
            p->recs[idx] = x->recs.back();
            markDirty(p, dirtyNodes_);
        }
        if (y) {
            y->attr = x->attr;
            p->keys.insert(p->keys.begin() + long((idx + 1) * kl), y->keys.end() - kl, y->keys.end());
            p->recs.insert(p->recs.begin() + long(idx + 1), y->recs.back());
            p->children.insert(p->children.begin() + long(idx + 1), y->offset);
            p->kids.clear();
            markDirty(p, dirtyNodes_);
        }
    }
    return true;
}

bool CdxFile::insertKey(Tag& t, const char* key, uint32_t recno, std::string& error) {
    const int kl = t.keyLen;
    if (t.unique()) {
        // A unique tag holds each key once, with the lowest record number that has it.
        std::string err;
        uint32_t holder = seekIn(t, key, err);
        if (holder != 0) {
            if (holder <= recno) return true;
            bool found = false;
            if (!removeKey(t, key, holder, found, error)) return false;
        }
    }
    std::vector<std::pair<Node*, int>> path;
    Node* n = node(t.root, t, error);
    while (n && !n->leaf) {
        if (path.size() > size_t(kMaxDepth)) {
            error = fail("tag " + t.name + ": loop in the tree");
            return false;
        }
        size_t i = lowerBound(*n, key, recno, kl, t.collated);
        if (i == n->count()) i = n->count() - 1;
        path.emplace_back(n, int(i));
        n = node(n->children[i], t, error);
    }
    if (!n) return false;
    size_t pos = lowerBound(*n, key, recno, kl, t.collated);
    if (pos < n->count() && compareEntry(t.key(*n, pos), n->recs[pos], key, recno, kl, t.collated) == 0)
        return true;  // already there
    n->keys.insert(n->keys.begin() + long(pos * kl), key, key + kl);
    n->recs.insert(n->recs.begin() + long(pos), recno);
    markDirty(n, dirtyNodes_);
    path.emplace_back(n, int(pos));
    return fixSplits(t, path, error);
}

bool CdxFile::removeKey(Tag& t, const char* key, uint32_t recno, bool& found, std::string& error) {
    const int kl = t.keyLen;
    found = false;
    std::vector<std::pair<Node*, int>> path;
    Node* n = node(t.root, t, error);
    while (n && !n->leaf) {
        if (path.size() > size_t(kMaxDepth)) {
            error = fail("tag " + t.name + ": loop in the tree");
            return false;
        }
        size_t i = lowerBound(*n, key, recno, kl, t.collated);
        if (i == n->count()) return true;
        path.emplace_back(n, int(i));
        n = node(n->children[i], t, error);
    }
    if (!n) return false;
    size_t pos = lowerBound(*n, key, recno, kl, t.collated);
    if (pos == n->count() || compareEntry(t.key(*n, pos), n->recs[pos], key, recno, kl, t.collated) != 0)
        return true;
    found = true;
    n->keys.erase(n->keys.begin() + long(pos * kl), n->keys.begin() + long((pos + 1) * kl));
    n->recs.erase(n->recs.begin() + long(pos));
    markDirty(n, dirtyNodes_);
    path.emplace_back(n, int(pos));
    // Unlink nodes that became empty (never the root); the space stays unused until the next rebuild.
    int level = int(path.size()) - 1;
    while (level > 0 && path[size_t(level)].first->count() == 0) {
        Node* e = path[size_t(level)].first;
        for (uint32_t side : {e->left, e->right}) {
            if (side == kNone) continue;
            Node* s = node(side, t, error);
            if (!s) return false;
            if (side == e->left)
                s->right = e->right;
            else
                s->left = e->left;
            markDirty(s, dirtyNodes_);
        }
        Node* p = path[size_t(level) - 1].first;
        size_t idx = size_t(path[size_t(level) - 1].second);
        p->keys.erase(p->keys.begin() + long(idx * kl), p->keys.begin() + long((idx + 1) * kl));
        p->recs.erase(p->recs.begin() + long(idx));
        p->children.erase(p->children.begin() + long(idx));
        p->kids.clear();
        markDirty(p, dirtyNodes_);
        --level;
    }
    if (level == 0 && path[0].first->count() == 0 && !path[0].first->leaf) {
        // Everything is gone: the root becomes an empty leaf.
        Node* r = path[0].first;
        r->leaf = true;
        r->attr = 3;
        r->children.clear();
        r->kids.clear();
        r->left = r->right = kNone;
        return true;
    }
    path.resize(size_t(level) + 1);
    return fixSplits(t, path, error);
}

// Whether the tag holds the entry (key, recno); nothing changes.
bool CdxFile::holdsEntry(Tag& t, const char* key, uint32_t recno, bool& held, std::string& error) {
    const int kl = t.keyLen;
    held = false;
    Node* n = node(t.root, t, error);
    for (int depth = 0; n && !n->leaf; ++depth) {
        if (depth > kMaxDepth) {
            error = fail("tag " + t.name + ": loop in the tree");
            return false;
        }
        size_t i = lowerBound(*n, key, recno, kl, t.collated);
        if (i == n->count()) return true;
        n = node(n->children[i], t, error);
    }
    if (!n) return false;
    size_t pos = lowerBound(*n, key, recno, kl, t.collated);
    held = pos < n->count() && compareEntry(t.key(*n, pos), n->recs[pos], key, recno, kl, t.collated) == 0;
    return true;
}

bool CdxFile::writeDirty(std::string& error) {
    auto writeNode = [&](Node& n) {
        if (n.state == NodeState::Clean) return true;
        const Tag& t = *n.tag;
        uint8_t* out = image_.data() + n.offset;
        if (n.leaf) {
            if (!encodeLeaf(n.keys.data(), n.recs.data(), n.count(), t.keyLen, t.pad, n.attr, n.left, n.right,
                            out)) {
                error = fail("tag " + t.name + ": node at " + hex(n.offset) + " does not fit");
                return false;
            }
        } else {
            encodeInterior(n.keys.data(), n.recs.data(), n.children.data(), n.count(), t.keyLen, n.attr,
                           n.left, n.right, out);
        }
        unsynced_ = true;
        if (!file_.isOpen() || !file_.writeAt(n.offset, out, kNodeSize)) {
            error = fail("cannot write: " + io::lastSystemError());
            return false;
        }
        n.state = NodeState::Clean;
        return true;
    };
    // New nodes first: until the nodes that link to them are written they are unreachable, so a crash
    // in between leaves the old tree intact. Then the changed nodes, parents before children (nodes
    // are marked from the leaf upwards): a parent that already links a new sibling while its child
    // still holds all of its keys loses no key. Then the headers (root pointers).
    const bool any = !newNodes_.empty() || !dirtyNodes_.empty() || headersDirty_;
    std::reverse(dirtyNodes_.begin(), dirtyNodes_.end());
    for (auto* list : {&newNodes_, &dirtyNodes_}) {
        for (uint32_t off : *list) {
            auto it = nodes_.find(off);
            if (it != nodes_.end() && !writeNode(*it->second)) return false;
        }
        list->clear();
    }
    if (headersDirty_) {
        for (auto& t : tags_) {
            put32(image_.data() + t->header, t->root);
            if (!file_.writeAt(t->header, image_.data() + t->header, 4)) {
                error = fail("cannot write: " + io::lastSystemError());
                return false;
            }
        }
        headersDirty_ = false;
    }
    if (any) {
        // The change counter in the file header tells other readers of the file to read it again.
        put32(image_.data() + 8, get32(image_.data() + 8) + 1);
        if (!file_.writeAt(8, image_.data() + 8, 4)) {
            error = fail("cannot write: " + io::lastSystemError());
            return false;
        }
    }
    return true;
}

bool CdxFile::writable(std::string& error) {
    if (!refresh(error)) return false;
    if (readOnly_) {
        error = fail("cannot change the index: the file is read-only");
        return false;
    }
    return true;
}

bool CdxFile::refresh(std::string& error) {
    // Another writer may have put a new file in its place (a rebuild) or changed this one.
    io::FileIdentity onDisk, open;
    bool replaced = !io::identityOf(path_, onDisk) || !file_.identity(open) || !(onDisk == open);
    if (!replaced) {
        uint8_t head[12];
        replaced = uint64_t(file_.size()) != image_.size() || !file_.readAt(0, head, sizeof head) ||
                   std::memcmp(head, image_.data(), sizeof head) != 0;
    }
    if (!replaced) return true;
    return load(error);
}

bool CdxFile::flush(std::string& error) {
    if (!writeDirty(error)) return false;
    if (unsynced_ && file_.isOpen()) {
        if (!file_.sync()) {
            error = fail("cannot flush: " + io::lastSystemError());
            return false;
        }
        unsynced_ = false;
    }
    return true;
}

// ---------------------------------------------------------------- changes from the table

bool CdxFile::insert(uint32_t recno, const uint8_t* record, std::string& error) {
    // Every tag changes: all of them are validated before the first node is touched.
    if (!writable(error) || !validate(error)) return false;
    std::string why;
    if (!maintainable(why)) {
        error = why;
        return false;
    }
    char key[256];
    for (auto& t : tags_) {
        if (!t->holds(record)) continue;
        t->expr->evaluate(record, key);
        if (!insertKey(*t, key, recno, error)) return false;
    }
    return writeDirty(error);
}

bool CdxFile::canUpdate(uint32_t recno, const uint8_t* oldRecord, const uint8_t* newRecord,
                        std::string& error) {
    if (!writable(error) || !validate(error)) return false;
    std::string why;
    if (!maintainable(why)) {
        error = why;
        return false;
    }
    char oldKey[256], newKey[256];
    for (auto& t : tags_) {
        const bool wasIn = t->holds(oldRecord), isIn = t->holds(newRecord);
        t->expr->evaluate(oldRecord, oldKey);
        t->expr->evaluate(newRecord, newKey);
        // A unique tag holds a key with the lowest record that has it: its absence proves nothing.
        if (!wasIn || t->unique() || (isIn && std::memcmp(oldKey, newKey, size_t(t->keyLen)) == 0)) continue;
        bool held = false;
        if (!holdsEntry(*t, oldKey, recno, held, error)) return false;
        if (!held) {
            error = fail("tag " + t->name + " does not hold the old key of record " + std::to_string(recno) +
                         ": the index is out of date and must be rebuilt before the record can be changed");
            return false;
        }
    }
    return true;
}

bool CdxFile::update(uint32_t recno, const uint8_t* oldRecord, const uint8_t* newRecord, std::string& error) {
    if (!canUpdate(recno, oldRecord, newRecord, error)) return false;
    char oldKey[256], newKey[256];
    for (auto& t : tags_) {
        const bool wasIn = t->holds(oldRecord), isIn = t->holds(newRecord);
        t->expr->evaluate(oldRecord, oldKey);
        t->expr->evaluate(newRecord, newKey);
        if (wasIn == isIn && std::memcmp(oldKey, newKey, size_t(t->keyLen)) == 0) continue;
        bool found = true;
        if (wasIn && !removeKey(*t, oldKey, recno, found, error)) return false;
        if (wasIn && found && t->unique() && records_) {
            // The key may live on in another record: the lowest one takes its place.
            std::vector<uint8_t> other;
            char otherKey[256];
            const uint32_t count = records_->recordCount();
            for (uint32_t r = 1; r <= count; ++r) {
                if (r == recno || !records_->readRecord(r, other) || other.size() < size_t(recordSize_) ||
                    !t->holds(other.data()))
                    continue;
                t->expr->evaluate(other.data(), otherKey);
                if (std::memcmp(otherKey, oldKey, size_t(t->keyLen)) == 0) {
                    if (!insertKey(*t, oldKey, r, error)) return false;
                    break;
                }
            }
        }
        if (isIn && !insertKey(*t, newKey, recno, error)) return false;
    }
    return writeDirty(error);
}

// ---------------------------------------------------------------- building whole files

namespace {

struct BuildTag {
    TagSpec def;
    int keyLen = 0;
    char pad = ' ';
    std::string collation;          // a kept tag's collation sequence; built tags are in byte order
    std::unique_ptr<KeyExpr> expr;  // set when built from the records
    std::unique_ptr<KeyExpr> filter;
    size_t used = 0;
    std::vector<char> keys;
    std::vector<uint32_t> recs;
};

// Sorts entries by (key, recno), keys in byte order: a 64-bit prefix of the key decides most comparisons.
void sortEntries(BuildTag& b, bool unique) {
    const int kl = b.keyLen;
    const size_t n = b.recs.size();
    const char* keys = b.keys.data();
    struct E {
        uint64_t prefix;
        uint32_t rec;
        uint32_t idx;
    };
    std::vector<E> es(n);
    const int plen = std::min(kl, 8);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* k = reinterpret_cast<const unsigned char*>(keys + i * kl);
        uint64_t p = 0;
        for (int j = 0; j < 8; ++j) p = (p << 8) | (j < plen ? k[j] : 0);
        es[i] = E{p, b.recs[i], uint32_t(i)};
    }
    if (kl <= 8) {
        std::sort(es.begin(), es.end(), [](const E& a, const E& c) {
            return a.prefix != c.prefix ? a.prefix < c.prefix : a.rec < c.rec;
        });
    } else {
        std::sort(es.begin(), es.end(), [keys, kl](const E& a, const E& c) {
            if (a.prefix != c.prefix) return a.prefix < c.prefix;
            int r = std::memcmp(keys + size_t(a.idx) * kl + 8, keys + size_t(c.idx) * kl + 8, size_t(kl - 8));
            return r != 0 ? r < 0 : a.rec < c.rec;
        });
    }
    std::vector<char> sorted(n * size_t(kl));
    std::vector<uint32_t> recs;
    recs.reserve(n);
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) {
        const char* k = keys + size_t(es[i].idx) * kl;
        if (unique && out > 0 && std::memcmp(sorted.data() + (out - 1) * kl, k, size_t(kl)) == 0)
            continue;  // one entry per key: the lowest record number
        std::memcpy(sorted.data() + out * kl, k, size_t(kl));
        recs.push_back(es[i].rec);
        ++out;
    }
    sorted.resize(out * size_t(kl));
    b.keys = std::move(sorted);
    b.recs = std::move(recs);
}

// Appends the nodes of a tree over sorted entries to out; returns the root's offset.
uint32_t buildTree(std::vector<uint8_t>& out, const char* keys, const uint32_t* recs, size_t n, int kl,
                   char pad) {
    uint32_t maxRec = 0;
    for (size_t i = 0; i < n; ++i) maxRec = std::max(maxRec, recs[i]);
    const LeafLayout layout = leafLayout(maxRec, kl);
    // Leaves filled greedily.
    std::vector<std::pair<size_t, size_t>> ranges;  // [begin, end)
    size_t begin = 0;
    int used = 0;
    for (size_t i = 0; i < n; ++i) {
        int len = storedLength(i > begin ? keys + (i - 1) * kl : nullptr, keys + i * kl, kl, pad);
        if (i > begin && used + layout.nb + len > kLeafRoom) {
            ranges.emplace_back(begin, i);
            begin = i;
            used = 0;
            len = storedLength(nullptr, keys + i * kl, kl, pad);
        }
        used += layout.nb + len;
    }
    ranges.emplace_back(begin, n);
    struct Level {
        uint32_t offset;
        size_t last;  // index of the subtree's last entry
    };
    std::vector<Level> level;
    const uint32_t base = uint32_t(out.size());
    out.resize(out.size() + ranges.size() * kNodeSize);
    for (size_t i = 0; i < ranges.size(); ++i) {
        uint32_t off = base + uint32_t(i * kNodeSize);
        auto [b, e] = ranges[i];
        uint16_t attr = ranges.size() == 1 ? 3 : 2;
        encodeLeaf(keys + b * kl, recs + b, e - b, kl, pad, attr, i ? off - kNodeSize : kNone,
                   i + 1 < ranges.size() ? off + kNodeSize : kNone, out.data() + off);
        level.push_back(Level{off, e ? e - 1 : 0});
    }
    const size_t cap = size_t(interiorCapacity(kl));
    std::vector<char> ikeys;
    std::vector<uint32_t> irecs, ichildren;
    while (level.size() > 1) {
        size_t count = (level.size() + cap - 1) / cap;
        std::vector<Level> up;
        const uint32_t lbase = uint32_t(out.size());
        out.resize(out.size() + count * kNodeSize);
        for (size_t g = 0; g < count; ++g) {
            // Spread the entries evenly so that no node is left nearly empty.
            size_t b = level.size() * g / count, e = level.size() * (g + 1) / count;
            ikeys.clear();
            irecs.clear();
            ichildren.clear();
            for (size_t i = b; i < e; ++i) {
                ikeys.insert(ikeys.end(), keys + level[i].last * kl, keys + (level[i].last + 1) * kl);
                irecs.push_back(recs[level[i].last]);
                ichildren.push_back(level[i].offset);
            }
            uint32_t off = lbase + uint32_t(g * kNodeSize);
            encodeInterior(ikeys.data(), irecs.data(), ichildren.data(), e - b, kl, count == 1 ? 1 : 0,
                           g ? off - kNodeSize : kNone, g + 1 < count ? off + kNodeSize : kNone,
                           out.data() + off);
            up.push_back(Level{off, level[e - 1].last});
        }
        level = std::move(up);
    }
    return level[0].offset;
}

void putHeader(uint8_t* h, uint32_t root, int keyLen, uint8_t options, bool descending,
               const std::string& expr, const std::string& filter, const std::string& collation) {
    std::memset(h, 0, kHeaderSize);
    put32(h, root);
    put16(h + 12, uint16_t(keyLen));
    h[14] = options;
    h[15] = 1;
    std::memcpy(h + kCollationName, collation.data(),
                std::min<size_t>(collation.size(), kCollationNameLength));
    put16(h + 502, descending ? 1 : 0);
    put16(h + 504, uint16_t(expr.size() + 1 + (filter.empty() ? 0 : filter.size() + 1)));
    put16(h + 506, uint16_t(filter.size() + 1));
    put16(h + 510, uint16_t(expr.size() + 1));
    std::memcpy(h + 512, expr.data(), expr.size());
    std::memcpy(h + 512 + expr.size() + 1, filter.data(), filter.size());
}

}  // namespace

bool CdxFile::rewrite(const std::vector<TagSpec>& defs, const std::vector<int>& keepFrom,
                      RecordReader* records, std::string& error) {
    std::vector<BuildTag> builds(defs.size());
    bool needRecords = false;
    for (size_t i = 0; i < defs.size(); ++i) {
        BuildTag& b = builds[i];
        b.def = defs[i];
        b.def.name = upper(b.def.name);
        if (!validTagName(b.def.name)) {
            error = fail("bad tag name \"" + defs[i].name + "\" (letters, digits and _, at most 10)");
            return false;
        }
        for (size_t j = 0; j < i; ++j)
            if (builds[j].def.name == b.def.name) {
                error = fail("tag " + b.def.name + " is given twice");
                return false;
            }
        if (!definitionFits(b.def.expression, b.def.filter)) {
            error = fail("tag " + b.def.name + ": the key expression and filter take " +
                         std::to_string(b.def.expression.size() + b.def.filter.size()) +
                         " bytes; the tag holds at most " + std::to_string(kExpressionPool - 2));
            return false;
        }
        if (keepFrom[i] >= 0) {
            Tag& t = *tags_[size_t(keepFrom[i])];
            b.keyLen = t.keyLen;
            b.pad = t.pad;
            b.collation = t.collation;
            std::vector<Node*> leaves;
            if (!prepare(t, error) || !walkStored(t, leaves, error)) return false;
            for (Node* n : leaves) {
                b.keys.insert(b.keys.end(), n->keys.begin(), n->keys.end());
                b.recs.insert(b.recs.end(), n->recs.begin(), n->recs.end());
            }
            continue;
        }
        std::string err;
        b.expr = KeyExpr::compile(b.def.expression, fields_, err, codepage_);
        if (!b.expr) {
            error = fail("tag " + b.def.name + ": " + err);
            return false;
        }
        if (!b.def.filter.empty()) {
            b.filter = KeyExpr::compile(b.def.filter, fields_, err, codepage_);
            if (b.filter && b.filter->type() != KeyType::Logical) {
                b.filter.reset();
                err = "the filter is not a logical expression";
            }
            if (!b.filter) {
                error =
                    fail("tag " + b.def.name + ": cannot evaluate filter \"" + b.def.filter + "\": " + err);
                return false;
            }
        }
        b.keyLen = b.expr->keyLength();
        b.pad = b.expr->padByte();
        needRecords = true;
    }
    if (needRecords) {
        if (!records) {
            error = fail("no records to build the index from");
            return false;
        }
        uint32_t minSize = 1;
        for (const auto& f : fields_) minSize = std::max<uint32_t>(minSize, f.offset + f.length);
        const uint32_t count = records->recordCount();
        for (auto& b : builds)
            if (b.expr) {
                b.keys.resize(size_t(count) * b.keyLen);
                b.recs.resize(count);
            }
        std::vector<uint8_t> rec;
        for (uint32_t r = 1; r <= count; ++r) {
            if (!records->readRecord(r, rec) || rec.size() < minSize) {
                error = fail("cannot read record " + std::to_string(r) + " of the table");
                return false;
            }
            for (auto& b : builds)
                if (b.expr && (!b.filter || b.filter->test(rec.data()))) {
                    b.expr->evaluate(rec.data(), b.keys.data() + b.used * b.keyLen);
                    b.recs[b.used++] = r;
                }
        }
        for (auto& b : builds)
            if (b.expr) {
                b.keys.resize(b.used * b.keyLen);
                b.recs.resize(b.used);
                sortEntries(b, b.def.unique);
            }
    }
    // Layout: directory header, then each tag's header and tree, then the directory's tree.
    std::vector<uint8_t> out(kHeaderSize, 0);
    std::vector<std::pair<std::string, uint32_t>> dir;
    for (auto& b : builds) {
        uint32_t hdr = uint32_t(out.size());
        out.resize(out.size() + kHeaderSize);
        uint32_t root = buildTree(out, b.keys.data(), b.recs.data(), b.recs.size(), b.keyLen, b.pad);
        uint8_t options = kOptCompact | kOptCompound | (b.def.unique ? kOptUnique : 0) |
                          (b.def.filter.empty() ? 0 : kOptFilter);
        putHeader(out.data() + hdr, root, b.keyLen, options, b.def.descending, b.def.expression, b.def.filter,
                  b.collation);
        std::string name = b.def.name;
        name.resize(size_t(kDirKeyLength), ' ');
        dir.emplace_back(name, hdr);
    }
    std::sort(dir.begin(), dir.end());
    std::vector<char> dkeys;
    std::vector<uint32_t> drecs;
    for (auto& [name, hdr] : dir) {
        dkeys.insert(dkeys.end(), name.begin(), name.end());
        drecs.push_back(hdr);
    }
    uint32_t droot = buildTree(out, dkeys.data(), drecs.data(), drecs.size(), kDirKeyLength, ' ');
    putHeader(out.data(), droot, kDirKeyLength, kOptCompact | kOptCompound | kOptDirectory, false, "", "",
              "");

    // Written beside the target, flushed, then renamed over it.
    const std::string tmp = path_ + ".tmp";
    io::File written;
    std::string why;
    if (!written.create(tmp, true, why)) {
        error = fail("cannot create " + tmp + ": " + why);
        return false;
    }
    bool ok = written.writeAt(0, out.data(), out.size()) && written.sync();
    if (!ok) why = io::lastSystemError();
    written.close();
    // The new index goes in place only when it opens as the old one will be opened next time.
    if (ok && !CdxFile::open(tmp, fields_, why, codepage_)) {
        ok = false;
        why = "the new index does not open (" + why + ")";
    }
    // Our own handle goes first, since Windows replaces no open file; what this object changed and has
    // not written yet goes to the old file before, so that a refused replace leaves it as it was.
    if (file_.isOpen() && !readOnly_ && !writeDirty(error)) {
        io::removeFile(tmp);
        return false;
    }
    file_.close();
    if (!ok || !io::replaceFile(tmp, path_, why)) {
        io::removeFile(tmp);
        std::string reopen;
        load(reopen);  // the old index, as it was
        error = fail("cannot write the index: " + why);
        return false;
    }
    return load(error);
}

std::unique_ptr<CdxFile> CdxFile::create(const std::string& path, const std::vector<FieldDesc>& fields,
                                         const std::vector<TagSpec>& tags, RecordReader& records,
                                         std::string& error, Codepage codepage) {
    std::unique_ptr<CdxFile> f(new CdxFile);
    f->path_ = path;
    f->fields_ = fields;
    f->codepage_ = codepage;
    for (const auto& fd : fields) f->recordSize_ = std::max<uint32_t>(f->recordSize_, fd.offset + fd.length);
    if (tags.empty()) {
        error = f->fail("an index needs at least one tag");
        return nullptr;
    }
    std::vector<int> keep(tags.size(), -1);
    if (!f->rewrite(tags, keep, &records, error)) return nullptr;
    return f;
}

bool CdxFile::ensureTags(const std::vector<TagSpec>& wanted, RecordReader& records, std::string& error) {
    if (!refresh(error)) return false;
    std::vector<TagSpec> defs = tags();
    std::vector<int> keep;
    for (size_t i = 0; i < defs.size(); ++i) keep.push_back(int(i));
    bool changed = false;
    for (const auto& w : wanted) {
        int i = findTag(w.name);
        if (i < 0) {
            defs.push_back(w);
            keep.push_back(-1);
            changed = true;
            continue;
        }
        const TagSpec& have = defs[size_t(i)];
        if (canonical(have.expression) != canonical(w.expression) ||
            canonical(have.filter) != canonical(w.filter) || have.unique != w.unique ||
            have.descending != w.descending) {
            defs[size_t(i)] = w;
            keep[size_t(i)] = -1;
            changed = true;
        }
    }
    if (!changed) return true;
    if (readOnly_) {
        error = fail("cannot add tags: the file is read-only");
        return false;
    }
    return rewrite(defs, keep, &records, error);
}

bool CdxFile::rebuildAll(RecordReader& records, std::string& error) {
    if (!writable(error)) return false;
    std::vector<TagSpec> defs = tags();
    std::vector<int> keep(defs.size(), -1);
    return rewrite(defs, keep, &records, error);
}

// ---------------------------------------------------------------- check

bool CdxFile::check(int tag, RecordReader& records, std::vector<std::string>& faults) {
    std::vector<std::vector<std::string>> perTag;
    const bool good = checkTags({tag}, records, perTag);
    for (auto& f : perTag[0]) faults.push_back(std::move(f));
    return good;
}

bool CdxFile::checkTags(const std::vector<int>& which, RecordReader& records,
                        std::vector<std::vector<std::string>>& faults) {
    constexpr size_t kMaxFaults = 20;
    faults.assign(which.size(), {});
    // What each tag's check knows: its tree, and (from the one pass over the records) the key each
    // record gives and whether its filter holds it.
    struct Checked {
        Tag* tag = nullptr;
        std::vector<Node*> leaves;
        size_t dropped = 0;
        std::vector<char> keys;      // keyLen bytes per record, record 1 first
        std::vector<uint8_t> holds;  // per record (index recno): the filter holds it
    };
    std::vector<Checked> checks(which.size());
    const uint32_t count = records.recordCount();
    bool needRecords = false;
    for (size_t w = 0; w < which.size(); ++w) {
        Checked& c = checks[w];
        std::vector<std::string>& out = faults[w];
        const int tag = which[w];
        if (tag < 0 || tag >= int(tags_.size())) {
            out.push_back(fail("no tag number " + std::to_string(tag)));
            continue;
        }
        Tag& t = *tags_[size_t(tag)];
        std::string error;
        if (!prepare(t, error) || !walkStored(t, c.leaves, error)) {
            out.push_back(error.empty() ? fail("tag " + t.name + ": the tree cannot be read") : error);
            continue;
        }
        c.tag = &t;
        if (t.expr) {
            c.keys.resize(size_t(count) * size_t(t.keyLen));
            c.holds.assign(size_t(count) + 1, 0);
            needRecords = true;
        }
    }
    // One pass over the records in record order: each record read once gives its key in every tag.
    std::vector<uint8_t> readable(size_t(count) + 1, 0);
    if (needRecords) {
        std::vector<uint8_t> rec;
        for (uint32_t r = 1; r <= count; ++r) {
            if (!records.readRecord(r, rec) || rec.size() < recordSize_) continue;
            readable[r] = 1;
            for (Checked& c : checks) {
                if (!c.tag || !c.tag->expr) continue;
                c.tag->expr->evaluate(rec.data(), c.keys.data() + size_t(r - 1) * size_t(c.tag->keyLen));
                c.holds[r] = c.tag->holds(rec.data());
            }
        }
    }
    bool good = true;
    for (size_t w = 0; w < which.size(); ++w) {
        Checked& c = checks[w];
        std::vector<std::string>& out = faults[w];
        if (!c.tag) {
            good = false;
            continue;
        }
        auto fault = [&](const std::string& what) {
            if (out.size() < kMaxFaults)
                out.push_back(what);
            else
                ++c.dropped;
        };
        checkTree(*c.tag, c.leaves, count, readable, c.keys, c.holds, fault);
        Tag& t = *c.tag;
        if (c.dropped)
            out.push_back(path_ + ": tag " + t.name + ": " + std::to_string(c.dropped) + " more faults");
        if (!out.empty()) good = false;
    }
    return good;
}

bool CdxFile::checkTree(Tag& t, const std::vector<Node*>& leaves, uint32_t count,
                        const std::vector<uint8_t>& readable, const std::vector<char>& keys,
                        const std::vector<uint8_t>& holds,
                        const std::function<void(const std::string&)>& fault) {
    const std::string where = path_ + ": tag " + t.name + ": ";
    auto show = [&](const char* key) {
        std::string s;
        if (t.expr && t.expr->type() != KeyType::Character && t.expr->type() != KeyType::Logical) {
            return num::general(decodeNumericKey(key), 17);
        }
        s.assign(key, size_t(t.keyLen));
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return "\"" + s + "\"";
    };
    std::string error;
    if (!t.why.empty()) fault(path_ + ": " + t.why);  // first: why the keys are not checked against records
    // Each interior entry carries the last key and record number of its child.
    {
        std::vector<uint32_t> stack{t.root};
        bool reported = false;
        while (!stack.empty() && !reported) {
            Node* n = node(stack.back(), t, error);
            stack.pop_back();
            if (!n || n->leaf) continue;
            for (size_t i = 0; i < n->count() && !reported; ++i) {
                Node* c = node(n->children[i], t, error);
                if (!c) break;
                stack.push_back(c->offset);
                if (c->count() == 0 ||
                    std::memcmp(t.key(*n, i), t.key(*c, c->count() - 1), size_t(t.keyLen)) != 0 ||
                    n->recs[i] != c->recs.back()) {
                    fault(where + "interior node " + hex(n->offset) + " entry " + std::to_string(i + 1) +
                          " does not match the last key of its child");
                    reported = true;
                }
            }
        }
    }
    const int kl = t.keyLen;
    const char* prevKey = nullptr;
    uint32_t prevRec = 0;
    size_t total = 0;
    std::vector<uint8_t> seen(size_t(count) + 1, 0);
    auto keyOf = [&](uint32_t r) { return keys.data() + size_t(r - 1) * size_t(kl); };
    for (Node* n : leaves) {
        for (size_t i = 0; i < n->count(); ++i, ++total) {
            const char* key = t.key(*n, i);
            uint32_t r = n->recs[i];
            if (prevKey) {
                int c = compareEntry(prevKey, prevRec, key, r, kl, t.collated);
                if (c >= 0 || (t.unique() && std::memcmp(prevKey, key, size_t(kl)) == 0))
                    fault(where + "key " + show(key) + " of record " + std::to_string(r) +
                          " is out of order");
            }
            prevKey = key;
            prevRec = r;
            if (r < 1 || r > count) {
                fault(where + "record number " + std::to_string(r) + " is outside the table (" +
                      std::to_string(count) + " records)");
                continue;
            }
            if (seen[r]++) {
                fault(where + "record " + std::to_string(r) + " is in the tag more than once");
                continue;
            }
            if (!t.expr) continue;
            if (!readable[r]) {
                fault(where + "cannot read record " + std::to_string(r));
                continue;
            }
            if (!holds[r])
                fault(where + "record " + std::to_string(r) + " is in the tag but its filter leaves it out");
            if (std::memcmp(keyOf(r), key, size_t(kl)) != 0)
                fault(where + "key of record " + std::to_string(r) + " is " + show(key) +
                      ", its record gives " + show(keyOf(r)));
        }
    }
    if (!t.why.empty()) {
        // the records cannot be compared with the keys (the reason is the first fault)
    } else if (!t.unique()) {
        size_t held = 0;
        for (uint32_t r = 1; r <= count; ++r) {
            const bool in = !t.filterExpr || (readable[r] && holds[r]);
            held += in;
            if (in && !seen[r]) fault(where + "record " + std::to_string(r) + " is missing");
        }
        if (total != held)
            fault(where + "holds " + std::to_string(total) + " keys for " + std::to_string(held) +
                  " records");
    } else {
        // A unique tag holds each distinct key once.
        std::unordered_set<std::string_view> distinct;
        for (uint32_t r = 1; r <= count; ++r)
            if (readable[r] && holds[r]) distinct.insert(std::string_view(keyOf(r), size_t(kl)));
        if (distinct.size() != total)
            fault(where + "holds " + std::to_string(total) + " keys for " + std::to_string(distinct.size()) +
                  " distinct keys");
    }
    return true;
}

}  // namespace xb
