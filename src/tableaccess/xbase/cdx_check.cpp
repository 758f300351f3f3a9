// xb::CdxFile, check: each tag's tree against itself (interior entries equal to their children's last
// keys, keys in order, each record once) and against the records, read once in record order for all the
// tags checked: every key equal to what its record gives, the filter holding it, no record missing.
// One line per fault, at most 20 per tag; nothing is written.
//
// How a check goes:
//  - The records are read in record order on a thread of their own, while this one walks the trees. The
//    tree is validated as on a tag's first use, with the same messages, but its leaves are decoded one at
//    a time and not kept.
//  - The walk cannot compare a key with its record's key, which the other thread has not read yet. Both
//    sides add up instead a fingerprint of each record number with its key: the walk over the entries
//    it finds, the reader over the records the tag should hold. The fingerprints are keyed with secrets
//    drawn afresh for each check, so that no file can be made to give a wrong key the fingerprint of the
//    right one; two different keys give one fingerprint about once in 2^64.
//  - When the sums agree and every record the tree holds is one the reader found readable and held by
//    the filter, the keys are the records' keys and the walk's faults are the tag's. Otherwise (and for
//    unique tags, whose count of distinct keys needs the keys themselves) the records' keys are read into
//    one flat buffer and the leaves are walked again, comparing each key with its record's: the faults
//    are then named one by one, as precisely as the first walk would have named them had it known the
//    records. A fault never rests on a fingerprint; only "no fault" does.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <random>
#include <thread>
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

constexpr uint8_t kReadable = 1, kHeld = 2;

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

// The 128-bit product of two words, folded to 64 bits.
inline uint64_t foldedProduct(uint64_t a, uint64_t b) {
#ifdef __SIZEOF_INT128__
    const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    return uint64_t(p) ^ uint64_t(p >> 64);
#else
    const uint64_t al = a & 0xffffffffu, ah = a >> 32, bl = b & 0xffffffffu, bh = b >> 32;
    const uint64_t ll = al * bl, lh = al * bh, hl = ah * bl, hh = ah * bh;
    const uint64_t mid = (ll >> 32) + (lh & 0xffffffffu) + (hl & 0xffffffffu);
    const uint64_t lo = (ll & 0xffffffffu) | (mid << 32);
    const uint64_t hi = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
    return lo ^ hi;
#endif
}

}  // namespace

// A fingerprint of a record number with a key: each 16 bytes of the key, XORed with secrets of their
// own place, multiplied together (the products summed), then that sum with the record number. Secrets
// drawn at random for each object: what a fingerprint is cannot be known before the check runs.
class CdxFile::KeyPrints {
  public:
    KeyPrints() {
        try {
            std::random_device device;
            for (uint64_t& s : secret_) s = (uint64_t(device()) << 32) ^ device();
        } catch (...) {
            // no source of randomness: the addresses this run was given, spread out (still unknown
            // before the run)
            uint64_t x = reinterpret_cast<uintptr_t>(this) ^ reinterpret_cast<uintptr_t>(&std::rand);
            for (uint64_t& s : secret_) {
                x += 0x9e3779b97f4a7c15ull;
                uint64_t z = x;
                z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
                z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
                s = z ^ (z >> 31);
            }
        }
    }
    uint64_t operator()(uint32_t recno, const char* key, size_t length) const {
        uint64_t sum = 0;
        size_t at = 0, s = 0;
        for (; at + 16 <= length; at += 16) {
            sum += foldedProduct(word(key + at) ^ secret_[s], word(key + at + 8) ^ secret_[s + 1]);
            s = s + 2 < kPlaces ? s + 2 : 0;
        }
        if (at < length) {
            const size_t rest = length - at;
            const auto* tail = reinterpret_cast<const unsigned char*>(key + at);
            const uint64_t w0 = rest >= 8 ? word(key + at) : shortWord(tail, int(rest));
            const uint64_t w1 = rest > 8 ? shortWord(tail + 8, int(rest - 8)) : 0;
            sum += foldedProduct(w0 ^ secret_[s], w1 ^ secret_[s + 1]);
        }
        return foldedProduct(sum ^ secret_[kPlaces], ((uint64_t(recno) << 16) | length) ^ secret_[kPlaces + 1]);
    }

  private:
    static uint64_t word(const char* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    static constexpr size_t kPlaces = 32;  // 16 pairs: keys of up to 256 bytes each place its own
    std::array<uint64_t, kPlaces + 2> secret_{};
};

constexpr size_t kMaxFaults = 20;  // lines per tag; the rest are counted
// Below this many records a check reads them before walking the trees, on this thread: a second thread
// would cost more than it saves.
constexpr uint32_t kRecordsForAThread = 20000;

// Keys a reading makes before it takes their fingerprints.
constexpr uint32_t kKeysAtOnce = 64;

// What a tag's check knows: its tree, and (from the one pass over the records) the key each record gives
// and whether its filter holds it.
struct CdxFile::CheckedTag {
    Tag* tag = nullptr;
    // keyLen bytes per record, record 1 first (of readable records only): only when the keys must be
    // compared one by one (see the file's head); empty otherwise.
    KeyBuffer keys;
    std::vector<char> recordKey;  // the keys being fingerprinted (kKeysAtOnce), when keys is empty
    // Per record (index recno), from the records' reading: kReadable, kHeld (the filter holds it).
    std::vector<uint8_t> flags;
    // Per record, from the walk over the tree: a bit set when it is in the tree (bit r % 64 of word
    // r / 64). Apart from flags: the two are written at once by the two threads. Bits, so that the walk,
    // which meets the records in any order, finds them in the processor's cache.
    std::vector<uint64_t> seen;
    bool wasSeen(uint32_t r) const { return (seen[r >> 6] >> (r & 63)) & 1; }
    bool validated = false;  // the tree was read whole; its walk's faults are below
    // The sums of the fingerprints: of the records the tag should hold, and of the entries of the tree
    // that name a record of the table, each once.
    uint64_t recordSum = 0, treeSum = 0;
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
    const KeyPrints prints;
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
            // A unique tag's distinct keys are counted from the keys themselves.
            if (t.unique())
                c.keys.allocate(std::max<size_t>(1, size_t(count) * size_t(t.keyLen)));
            else
                c.recordKey.assign(size_t(t.keyLen) * kKeysAtOnce, '\0');
            needRecords = true;
        }
        c.flags.assign(size_t(count) + 1, 0);
        c.seen.assign(size_t(count) / 64 + 1, 0);
    }
    // The pass over the records in record order: each record read once gives its key in every tag (into
    // the buffer of keys, or into the tag's sum of fingerprints) and whether the tag's filter holds it.
    // again: the records read a second time, for the tags whose keys are now wanted one by one.
    auto readRecords = [&](bool again) {
        records.readInPieces(recordSize_, [&](uint32_t first, const uint8_t* recs, uint32_t n, size_t length) {
            if (alsoEach && !again) alsoEach(first, recs, n, length);
            if (length < recordSize_) return true;
            for (CheckedTag& c : checks) {
                if (!c.tag || !c.tag->expr) continue;
                // the second reading: only the tags whose keys were fingerprinted and are now wanted
                if (again && (c.recordKey.empty() || !c.keys.get())) continue;
                // What the loop needs, in its own variables: the walk writes to the tag's check as this
                // thread reads, and the processors would pass the memory they share to and fro.
                const Tag& t = *c.tag;
                const KeyExpr& expr = *t.expr;
                const size_t kl = size_t(t.keyLen);
                uint8_t* const flags = c.flags.data();
                char* const keys = c.keys.get();
                char* const own = c.recordKey.data();
                if (again || keys) {
                    for (uint32_t i = 0; i < n; ++i) {
                        const uint8_t* rec = recs + i * length;
                        const uint32_t r = first + i;
                        if (!again) flags[r] = uint8_t(kReadable | (t.holds(rec) ? kHeld : 0));
                        expr.evaluate(rec, keys + size_t(r - 1) * kl);
                    }
                    continue;
                }
                // The keys of some records made, then their fingerprints taken: a key read in words
                // just after it was written a byte at a time would wait for each of those writes.
                uint64_t sum = 0;
                uint32_t made[kKeysAtOnce];
                for (uint32_t from = 0; from < n; from += kKeysAtOnce) {
                    const uint32_t to = std::min(n, from + kKeysAtOnce);
                    uint32_t m = 0;
                    for (uint32_t i = from; i < to; ++i) {
                        const uint8_t* rec = recs + i * length;
                        const bool held = t.holds(rec);
                        flags[first + i] = uint8_t(kReadable | (held ? kHeld : 0));
                        if (held) {
                            expr.evaluate(rec, own + m * kl);
                            made[m++] = first + i;
                        }
                    }
                    for (uint32_t j = 0; j < m; ++j) sum += prints(made[j], own + j * kl, kl);
                }
                c.recordSum += sum;
            }
            return true;
        });
    };
    // The records are read while the trees are walked, on a thread of their own for a table large enough
    // to repay it. An exception there (memory running out) comes out here, after the walk.
    std::thread reader;
    std::exception_ptr readerFailed;
    if (needRecords || alsoEach) {
        if (count >= kRecordsForAThread && std::thread::hardware_concurrency() > 1) {
            try {
                reader = std::thread([&] {
                    try {
                        readRecords(false);
                    } catch (...) {
                        readerFailed = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
                // no thread to be had: read them here, first
            }
        }
        if (!reader.joinable()) readRecords(false);
    }
    // What a tree that cannot be read says: its reason, or this when it gave none.
    auto unreadable = [this](const Tag& t, const std::string& error) {
        return error.empty() ? fail("tag " + t.name + ": the tree cannot be read") : error;
    };
    // Each tree: validated as on the tag's first use (leaves read once and not kept), and walked in key
    // order on the same reading, with what can be known without the records. The order of a tag's keys
    // is known only at the walk's end: a tag found to be in the accent-folding order has its leaves
    // walked again in that order.
    try {
        TreeWalk walk;
        walk.keep = false;
        walk.countsOrder = true;
        for (size_t w = 0; w < which.size(); ++w) {
            CheckedTag& c = checks[w];
            if (!c.tag) continue;
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
                    checkLeaf(c, n, count, false, prints, false, &walk);
                };
                if (!validateOrder(t, error, &walk)) {
                    faults[w].push_back(unreadable(t, error));
                    continue;
                }
                if (t.collated) {
                    restartLeafCheck(c);
                    walked = forEachLeaf(
                        t, scratch, [&](const Node& n) { checkLeaf(c, n, count, true, prints, false); }, error);
                }
            } else {
                walked = forEachLeaf(
                    t, scratch, [&](const Node& n) { checkLeaf(c, n, count, t.collated, prints, false); },
                    error);
            }
            if (!walked) {
                // The tree was validated: a leaf that cannot be read now is a fault of this program.
                faults[w].assign(1, unreadable(t, error));
                continue;
            }
            c.validated = true;
        }
    } catch (...) {
        if (reader.joinable()) reader.join();
        throw;
    }
    if (reader.joinable()) reader.join();
    if (readerFailed) std::rethrow_exception(readerFailed);

    // The walks met the records. A tag whose tree holds exactly the records it should, with the sums of
    // their fingerprints agreeing, is done; the others have their leaves walked again against the keys.
    std::vector<size_t> again;
    for (size_t w = 0; w < which.size(); ++w) {
        CheckedTag& c = checks[w];
        if (!c.validated || !c.tag->expr) continue;
        bool agree = !c.keys.get() && c.recordSum == c.treeSum;
        for (uint32_t r = 1; agree && r <= count; ++r)
            agree = !c.wasSeen(r) || (c.flags[r] & (kReadable | kHeld)) == (kReadable | kHeld);
        if (agree) continue;
        if (!c.keys.get()) c.keys.allocate(std::max<size_t>(1, size_t(count) * size_t(c.tag->keyLen)));
        again.push_back(w);
    }
    if (!again.empty()) {
        bool wanted = false;
        for (size_t w : again) wanted = wanted || !checks[w].recordKey.empty();
        if (wanted) readRecords(true);
        for (size_t w : again) {
            CheckedTag& c = checks[w];
            Tag& t = *c.tag;
            std::string error;
            Node scratch;
            restartLeafCheck(c);
            if (!forEachLeaf(
                    t, scratch, [&](const Node& n) { checkLeaf(c, n, count, t.collated, prints, true); }, error)) {
                faults[w].assign(1, unreadable(t, error));
                c.validated = false;
            }
        }
    }

    bool good = true;
    for (size_t w = 0; w < which.size(); ++w) {
        CheckedTag& c = checks[w];
        std::vector<std::string>& out = faults[w];
        if (!c.validated) {
            good = false;
            continue;
        }
        Tag& t = *c.tag;
        size_t dropped = 0;
        auto fault = [&](const std::string& what) {
            if (out.size() < kMaxFaults)
                out.push_back(what);
            else
                ++dropped;
        };
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
    c.treeSum = 0;
    c.leafFaults.clear();
    c.leafFaultCount = 0;
    std::fill(c.seen.begin(), c.seen.end(), uint64_t(0));
}

void CdxFile::checkLeaf(CheckedTag& c, const Node& n, uint32_t count, bool collated, const KeyPrints& prints,
                        bool withRecords, TreeWalk* order) {
    const Tag& t = *c.tag;
    const char* keys = c.keys.get();
    const uint8_t* flags = c.flags.data();
    uint64_t* seen = c.seen.data();
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
    auto fetch = [keys, flags, kl, count, withRecords](uint32_t r) {
        if (r < 1 || r > count || !withRecords) return;
        __builtin_prefetch(flags + r);
        if (keys) {  // both ends: a key may cross into the next cache line
            __builtin_prefetch(keys + size_t(r - 1) * size_t(kl));
            __builtin_prefetch(keys + size_t(r) * size_t(kl) - 1);
        }
    };
    for (size_t i = 0; i < std::min(kAhead, n.count()); ++i) fetch(n.recs[i]);
    uint64_t sum = 0;  // added to the tag's at the leaf's end
    size_t rawBad = 0, colBad = 0;  // added to the order's at the leaf's end
    c.total += n.count();
    for (size_t i = 0; i < n.count(); ++i) {
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
                rawBad += raw >= 0;
                colBad += col >= 0;
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
        const uint64_t bit = uint64_t(1) << (r & 63);
        if (seen[r >> 6] & bit) {
            fault(where() + "record " + std::to_string(r) + " is in the tag more than once");
            continue;
        }
        seen[r >> 6] |= bit;
        if (!t.expr) continue;
        if (!withRecords) {
            // what the records say is weighed once they are read (see the file's head)
            if (!keys) sum += prints(r, key, size_t(kl));
            continue;
        }
        const uint8_t f = flags[r];
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
    c.treeSum += sum;
    if (order) {
        order->rawBad += rawBad;
        order->colBad += colBad;
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
            if (in && !c.wasSeen(r)) fault(at + "record " + std::to_string(r) + " is missing");
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
