// xb::CdxFile, the node codec: compact leaf nodes (record number, duplicate and trailing counts
// bit-packed after a 24-byte header, the rest of each key packed backwards from the node's end) and
// interior nodes (full keys, each with its record number and child), encoded from runs of sorted keys
// and decoded with every count and offset checked against the node, so that a damaged node is an error,
// never a read outside it.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/cdx_internal.h"
#include "tableaccess/xbase/numtext.h"

namespace xb {
using namespace cdxdetail;

namespace cdxdetail {

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

}  // namespace cdxdetail

namespace {
constexpr int kMaxKey = 240;

// Copies a key of n bytes (1 to 240) a word at a time, without writing past it.
inline void copyKey(char* to, const char* from, int n) {
    if (n >= 8) {
        int i = 0;
        for (; i + 8 <= n; i += 8) std::memcpy(to + i, from + i, 8);
        if (i < n) std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else {
        for (int i = 0; i < n; ++i) to[i] = from[i];
    }
}
}  // namespace

bool CdxFile::decodeNode(uint32_t offset, const Tag& tag, Node& out, std::string& error) const {
    // The start of a message, built only when there is one.
    auto where = [&] { return (tag.name.empty() ? std::string("tag directory") : "tag " + tag.name) + ": "; };
    if (offset == kNone || offset < kHeaderSize || uint64_t(offset) + kNodeSize > image_.size()) {
        error = fail(where() + "node pointer " + hex(offset) + " outside the file (size " +
                     std::to_string(image_.size()) + ")");
        return false;
    }
    if (offset % kNodeSize != 0) {
        error = fail(where() + "node pointer " + hex(offset) + " is not on a 512-byte page");
        return false;
    }
    for (const auto& other : tags_)
        if (offset >= other->header && offset < other->header + kHeaderSize) {
            error = fail(where() + "node pointer " + hex(offset) + " names the header of tag " + other->name);
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
    // Sized below, not emptied first: every byte is written, and a node decoded again in the same place
    // (a check's leaves) costs no filling of memory.
    out.children.clear();
    if (out.attr > 3) {
        error = fail(where() + "node at " + hex(offset) + " has bad attributes " + std::to_string(out.attr));
        return false;
    }
    if (!out.leaf) {
        if (n == 0 || n > size_t(interiorCapacity(kl))) {
            error = fail(where() + "interior node at " + hex(offset) + " holds a bad key count " +
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
    char padWord[8];
    std::memset(padWord, tag.pad, 8);
    int dupMask = p[18], trailMask = p[19];
    int rb = p[20], db = p[21], nb = p[23];
    // Record numbers have 32 bits, duplicate and trailing counts at most 240 (16 bits are allowed): the
    // shifts below stay within the 64 bits of an entry.
    if (nb < 1 || nb > 8 || rb > 32 || db > 16 || p[22] > 16 || rb + db + p[22] > nb * 8 ||
        24 + n * size_t(nb) > kNodeSize) {
        error = fail(where() + "leaf node at " + hex(offset) + " has a bad layout");
        return false;
    }
    out.keys.resize(n * size_t(kl));
    out.recs.resize(n);
    int keyPos = int(kNodeSize);
    const int entryEnd = 24 + int(n) * nb;
    // The node with room after it, so that entries and key bytes are read and written a word at a time
    // (a word may run past what it needs; what it ran over is written again or never used).
    uint8_t node[kNodeSize + 8];
    std::memcpy(node, p, kNodeSize);
    std::memset(node + kNodeSize, 0, 8);
    char key[kMaxKey + 16];  // the key being rebuilt: the one before it until its own bytes are in
    std::memset(key, tag.pad, sizeof key);
    const uint64_t entryMask = nb >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * nb)) - 1;
    for (size_t i = 0; i < n; ++i) {
        uint64_t v = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&v, node + 24 + i * nb, 8);
            v &= entryMask;
        } else {
            for (int b = nb - 1; b >= 0; --b) v = (v << 8) | node[24 + i * nb + b];
        }
        uint32_t rec = uint32_t(v) & recMask;
        int dup = int(v >> rb) & dupMask;
        int trail = int(v >> (rb + db)) & trailMask;
        if (dup + trail > kl || (i == 0 && dup > 0)) {
            error =
                fail(where() + "leaf node at " + hex(offset) + " has a bad entry " + std::to_string(i + 1));
            return false;
        }
        int len = kl - dup - trail;
        keyPos -= len;
        if (keyPos < entryEnd) {
            error = fail(where() + "leaf node at " + hex(offset) + " overflows");
            return false;
        }
        // The first dup bytes are the previous key's, already in place.
        for (int j = 0; j < len; j += 8) std::memcpy(key + dup + j, node + keyPos + j, 8);
        for (int j = dup + len; j < kl; j += 8) std::memcpy(key + j, padWord, 8);
        copyKey(out.keys.data() + i * kl, key, kl);
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

}  // namespace xb
