// xb::CdxFile, check: each tag's tree against itself (interior entries equal to their children's last
// keys, keys in order, each record once) and against the records, read once in record order for all the
// tags checked: every key equal to what its record gives, the filter holding it, no record missing.
// One line per fault, at most 20 per tag; nothing is written. The tree is validated as on a tag's first
// use, with the same messages, but its leaves are decoded one at a time and not kept: the validating walk
// and the check's walk each read them once, and the keys of the records are held in one flat buffer.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>
#include <utility>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/cdx_internal.h"
#include "tableaccess/xbase/numtext.h"

namespace xb {
using namespace cdxdetail;

bool CdxFile::check(int tag, RecordReader& records, std::vector<std::string>& faults) {
    std::vector<std::vector<std::string>> perTag;
    const bool good = checkTags({tag}, records, perTag);
    for (auto& f : perTag[0]) faults.push_back(std::move(f));
    return good;
}

constexpr uint8_t kReadable = 1, kHeld = 2, kSeen = 4;

namespace {
// The keys of the records, read in tag order: anywhere in a buffer of tens of megabytes. In large pages
// where the system has them, so that each key read does not also miss the address translation.
class KeyBuffer {
  public:
    KeyBuffer() = default;
    KeyBuffer(KeyBuffer&& o) noexcept : data_(std::exchange(o.data_, nullptr)), size_(o.size_) {}
    ~KeyBuffer() { release(); }
    void allocate(size_t size) {
        release();
#ifdef __linux__
        constexpr size_t kLarge = size_t(2) << 20;
        if (size >= kLarge) {
            const size_t rounded = (size + kLarge - 1) / kLarge * kLarge;
            void* p = std::aligned_alloc(kLarge, rounded);
            if (p) {
                madvise(p, rounded, MADV_HUGEPAGE);
                data_ = static_cast<char*>(p);
                size_ = rounded;
                return;
            }
        }
#endif
        data_ = static_cast<char*>(std::malloc(size));
        size_ = size;
        if (!data_) throw std::bad_alloc();
    }
    char* get() const {
        return data_;
    }

  private:
    void release() {
        std::free(data_);
        data_ = nullptr;
    }
    char* data_ = nullptr;
    size_t size_ = 0;
};
}  // namespace

constexpr size_t kMaxFaults = 20;  // lines per tag; the rest are counted

// What a tag's check knows: its tree, and (from the one pass over the records) the key each record gives
// and whether its filter holds it.
struct CdxFile::CheckedTag {
    Tag* tag = nullptr;
    KeyBuffer keys;  // keyLen bytes per record, record 1 first (of readable records only)
    // Per record (index recno): kReadable, kHeld (the filter holds it), kSeen (in the tree), one byte
    // that the walk in tag order reaches at once.
    std::vector<uint8_t> flags;
    // The last entry of each leaf the validating walk read (the leaves are not kept), for the interior
    // entries above them: by page, 1 + the leaf's place in these; 0 for none.
    std::vector<uint32_t> endAt;
    std::vector<char> endKeys;
    std::vector<uint32_t> endRecs;
    std::vector<size_t> endCounts;
    // The walk over the leaves in key order: the entry before, entries so far, the first faults found
    // and how many in all.
    std::vector<char> prevKey;
    bool first = true;
    uint32_t prevRec = 0;
    size_t total = 0;
    std::vector<std::string> leafFaults;
    size_t leafFaultCount = 0;
};

bool CdxFile::checkTags(const std::vector<int>& which, RecordReader& records,
                        std::vector<std::vector<std::string>>& faults, const RecordPiece& alsoEach) {
    faults.assign(which.size(), {});
    std::vector<CheckedTag> checks(which.size());
    const uint32_t count = records.recordCount();
    bool needRecords = false;
    for (size_t w = 0; w < which.size(); ++w) {
        CheckedTag& c = checks[w];
        const int tag = which[w];
        if (tag < 0 || tag >= int(tags_.size())) {
            faults[w].push_back(fail("no tag number " + std::to_string(tag)));
            continue;
        }
        Tag& t = *tags_[size_t(tag)];
        c.tag = &t;
        if (t.expr) {
            c.keys.allocate(std::max<size_t>(1, size_t(count) * size_t(t.keyLen)));
            needRecords = true;
        }
        c.flags.assign(size_t(count) + 1, 0);
    }
    // One pass over the records in record order: each record read once gives its key in every tag.
    if (needRecords || alsoEach)
        records.readInPieces(
            recordSize_, [&](uint32_t first, const uint8_t* recs, uint32_t n, size_t length) {
                if (alsoEach) alsoEach(first, recs, n, length);
                if (length >= recordSize_)
                    for (uint32_t i = 0; i < n; ++i) {
                        const uint8_t* rec = recs + i * length;
                        for (CheckedTag& c : checks) {
                            if (!c.tag || !c.tag->expr) continue;
                            c.tag->expr->evaluate(
                                rec, c.keys.get() + size_t(first + i - 1) * size_t(c.tag->keyLen));
                            c.flags[first + i] = uint8_t(kReadable | (c.tag->holds(rec) ? kHeld : 0));
                        }
                    }
                return true;
            });
    // Each tree: validated as on the tag's first use (leaves read once and not kept), and checked on the
    // same walk against the records. The order of a tag's keys is known only at the walk's end: a tag
    // found to be in the accent-folding order has its leaves checked again in that order.
    TreeWalk walk;
    walk.keep = false;
    walk.countsOrder = true;
    bool good = true;
    for (size_t w = 0; w < which.size(); ++w) {
        CheckedTag& c = checks[w];
        std::vector<std::string>& out = faults[w];
        if (!c.tag) {
            good = false;
            continue;
        }
        Tag& t = *c.tag;
        std::string error;
        const int kl = t.keyLen;
        c.prevKey.assign(size_t(kl), '\0');
        Node scratch;
        bool walked = true;
        if (!t.ready) {
            walk.leaf = [&](const Node& n) {
                if (c.endAt.empty()) c.endAt.assign(image_.size() / kNodeSize + 1, 0);
                c.endAt[n.offset / kNodeSize] = uint32_t(c.endCounts.size() + 1);
                c.endCounts.push_back(n.count());
                c.endRecs.push_back(n.count() ? n.recs.back() : 0);
                const size_t at = c.endKeys.size();
                c.endKeys.resize(at + size_t(kl));
                if (n.count()) std::memcpy(c.endKeys.data() + at, t.key(n, n.count() - 1), size_t(kl));
                checkLeaf(c, n, count, false, &walk);
            };
            if (!validateOrder(t, error, &walk)) {
                out.push_back(error.empty() ? fail("tag " + t.name + ": the tree cannot be read") : error);
                good = false;
                continue;
            }
            if (t.collated) {
                restartLeafCheck(c);
                walked = forEachLeaf(
                    t, scratch, [&](const Node& n) { checkLeaf(c, n, count, true); }, error);
            }
        } else {
            walked = forEachLeaf(
                t, scratch, [&](const Node& n) { checkLeaf(c, n, count, t.collated); }, error);
        }
        size_t dropped = 0;
        auto fault = [&](const std::string& what) {
            if (out.size() < kMaxFaults)
                out.push_back(what);
            else
                ++dropped;
        };
        if (!walked) {
            // The tree was validated: a leaf that cannot be read now is a fault of this program.
            out.assign(1, error.empty() ? fail("tag " + t.name + ": the tree cannot be read") : error);
            good = false;
            continue;
        }
        if (!t.why.empty())
            fault(path_ + ": " + t.why);  // first: why the keys are not checked against records
        checkInterior(c, fault);
        for (const std::string& f : c.leafFaults) fault(f);
        dropped += c.leafFaultCount - c.leafFaults.size();
        checkCounts(c, count, fault);
        if (dropped)
            out.push_back(path_ + ": tag " + t.name + ": " + std::to_string(dropped) + " more faults");
        if (!out.empty()) good = false;
    }
    return good;
}

bool CdxFile::forEachLeaf(Tag& t, Node& scratch, const std::function<void(const Node&)>& visit,
                          std::string& error) {
    std::vector<uint32_t> stack{t.root};
    while (!stack.empty()) {
        const uint32_t off = stack.back();
        stack.pop_back();
        const auto kept = nodes_.find(off);
        const Node* n = kept != nodes_.end() ? kept->second.get() : nullptr;
        if (!n) {
            if (!decodeNode(off, t, scratch, error)) return false;
            n = &scratch;
        }
        if (n->leaf)
            visit(*n);
        else
            for (size_t i = n->count(); i-- > 0;) stack.push_back(n->children[i]);
    }
    return true;
}

std::string CdxFile::showKey(const Tag& t, const char* key) const {
    if (t.expr && t.expr->type() != KeyType::Character && t.expr->type() != KeyType::Logical)
        return num::general(decodeNumericKey(key), 17);
    std::string s(key, size_t(t.keyLen));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return "\"" + s + "\"";
}

void CdxFile::checkInterior(CheckedTag& c, const std::function<void(const std::string&)>& fault) {
    // Each interior entry carries the last key and record number of its child: the kept child, or the
    // last entry of a leaf the validating walk read. The first entry that does not is reported.
    Tag& t = *c.tag;
    std::string error;
    std::vector<uint32_t> stack{t.root};
    while (!stack.empty()) {
        Node* n = node(stack.back(), t, error);
        stack.pop_back();
        if (!n || n->leaf) continue;
        for (size_t i = 0; i < n->count(); ++i) {
            const uint32_t child = n->children[i];
            const size_t page = child / kNodeSize;
            size_t childCount = 0;
            uint32_t lastRec = 0;
            const char* lastKey = nullptr;
            // (A leaf the walk read is one of this tag's: a kept one too, which the walk went through.)
            if (child % kNodeSize == 0 && page < c.endAt.size() && c.endAt[page] != 0) {
                const size_t e = c.endAt[page] - 1;
                childCount = c.endCounts[e];
                lastRec = c.endRecs[e];
                lastKey = c.endKeys.data() + e * size_t(t.keyLen);
            } else {
                Node* k = node(child, t, error);
                if (!k) break;
                stack.push_back(k->offset);
                childCount = k->count();
                if (childCount) {
                    lastRec = k->recs.back();
                    lastKey = t.key(*k, childCount - 1);
                }
            }
            if (childCount == 0 || std::memcmp(t.key(*n, i), lastKey, size_t(t.keyLen)) != 0 ||
                n->recs[i] != lastRec) {
                fault(path_ + ": tag " + t.name + ": interior node " + hex(n->offset) + " entry " +
                      std::to_string(i + 1) + " does not match the last key of its child");
                return;
            }
        }
    }
}

void CdxFile::restartLeafCheck(CheckedTag& c) {
    c.first = true;
    c.prevRec = 0;
    c.total = 0;
    c.leafFaults.clear();
    c.leafFaultCount = 0;
    for (uint8_t& f : c.flags) f = uint8_t(f & ~kSeen);
}

void CdxFile::checkLeaf(CheckedTag& c, const Node& n, uint32_t count, bool collated, TreeWalk* order) {
    const Tag& t = *c.tag;
    const char* keys = c.keys.get();
    uint8_t* flags = c.flags.data();
    const int kl = t.keyLen;
    auto where = [&] { return path_ + ": tag " + t.name + ": "; };
    auto fault = [&](std::string what) {
        if (c.leafFaults.size() < kMaxFaults) c.leafFaults.push_back(std::move(what));
        ++c.leafFaultCount;
    };
    auto keyOf = [&](uint32_t r) { return keys + size_t(r - 1) * size_t(kl); };
    // The records of consecutive keys lie anywhere in the table: the key of a record some entries on is
    // fetched while this one is compared.
    constexpr size_t kAhead = 16;
    auto fetch = [keys, flags, kl, count](uint32_t r) {
        if (r < 1 || r > count) return;
        __builtin_prefetch(flags + r);
        if (keys) {  // both ends: a key may cross into the next cache line
            __builtin_prefetch(keys + size_t(r - 1) * size_t(kl));
            __builtin_prefetch(keys + size_t(r) * size_t(kl) - 1);
        }
    };
    for (size_t i = 0; i < std::min(kAhead, n.count()); ++i) fetch(n.recs[i]);
    for (size_t i = 0; i < n.count(); ++i, ++c.total) {
        if (i + kAhead < n.count()) fetch(n.recs[i + kAhead]);
        const char* key = t.key(n, i);
        uint32_t r = n.recs[i];
        if (i || !c.first) {
            const char* prev = i ? t.key(n, i - 1) : c.prevKey.data();
            const uint32_t pr = i ? n.recs[i - 1] : c.prevRec;
            int raw = 0, col = 0;
            if (order) {  // the validating walk: both orders counted, faults by the bytes
                compareBoth(prev, key, kl, raw, col);
                if (raw == 0) raw = col = pr < r ? -1 : (pr > r ? 1 : 0);
                order->rawBad += raw >= 0;
                order->colBad += col >= 0;
            } else {
                raw = compareEntry(prev, pr, key, r, kl, collated);
            }
            if (raw >= 0 || (t.unique() && std::memcmp(prev, key, size_t(kl)) == 0))
                fault(where() + "key " + showKey(t, key) + " of record " + std::to_string(r) +
                      " is out of order");
        }
        if (r < 1 || r > count) {
            fault(where() + "record number " + std::to_string(r) + " is outside the table (" +
                  std::to_string(count) + " records)");
            continue;
        }
        const uint8_t f = flags[r];
        flags[r] = uint8_t(f | kSeen);
        if (f & kSeen) {
            fault(where() + "record " + std::to_string(r) + " is in the tag more than once");
            continue;
        }
        if (!t.expr) continue;
        if (!(f & kReadable)) {
            fault(where() + "cannot read record " + std::to_string(r));
            continue;
        }
        if (!(f & kHeld))
            fault(where() + "record " + std::to_string(r) + " is in the tag but its filter leaves it out");
        if (firstDifference(reinterpret_cast<const unsigned char*>(keyOf(r)),
                            reinterpret_cast<const unsigned char*>(key), kl) != kl)
            fault(where() + "key of record " + std::to_string(r) + " is " + showKey(t, key) +
                  ", its record gives " + showKey(t, keyOf(r)));
    }
    if (n.count()) {
        std::memcpy(c.prevKey.data(), t.key(n, n.count() - 1), size_t(kl));
        c.prevRec = n.recs.back();
        c.first = false;
    }
}

void CdxFile::checkCounts(CheckedTag& c, uint32_t count,
                          const std::function<void(const std::string&)>& fault) {
    const Tag& t = *c.tag;
    const uint8_t* flags = c.flags.data();
    const std::string at = path_ + ": tag " + t.name + ": ";
    if (!t.why.empty()) {
        // the records cannot be compared with the keys (the reason is the first fault)
    } else if (!t.unique()) {
        size_t held = 0;
        for (uint32_t r = 1; r <= count; ++r) {
            const bool in = !t.filterExpr || (flags[r] & (kReadable | kHeld)) == (kReadable | kHeld);
            held += in;
            if (in && !(flags[r] & kSeen)) fault(at + "record " + std::to_string(r) + " is missing");
        }
        if (c.total != held)
            fault(at + "holds " + std::to_string(c.total) + " keys for " + std::to_string(held) + " records");
    } else {
        // A unique tag holds each distinct key once.
        const char* keys = c.keys.get();
        const size_t kl = size_t(t.keyLen);
        std::unordered_set<std::string_view> distinct;
        for (uint32_t r = 1; r <= count; ++r)
            if ((flags[r] & (kReadable | kHeld)) == (kReadable | kHeld))
                distinct.insert(std::string_view(keys + size_t(r - 1) * kl, kl));
        if (distinct.size() != c.total)
            fault(at + "holds " + std::to_string(c.total) + " keys for " + std::to_string(distinct.size()) +
                  " distinct keys");
    }
}

}  // namespace xb
