// xb::CdxFile, check: each tag's tree against itself (interior entries equal to their children's last
// keys, keys in order, each record once) and against the records, read once in record order for all the
// tags checked: every key equal to what its record gives, the filter holding it, no record missing.
// One line per fault, at most 20 per tag; nothing is written.
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
        std::unique_ptr<char[]> keys;  // keyLen bytes per record, record 1 first (of readable records only)
        std::vector<uint8_t> holds;    // per record (index recno): the filter holds it
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
            c.keys.reset(new char[std::max<size_t>(1, size_t(count) * size_t(t.keyLen))]);
            c.holds.assign(size_t(count) + 1, 0);
            needRecords = true;
        }
    }
    // One pass over the records in record order: each record read once gives its key in every tag.
    std::vector<uint8_t> readable(size_t(count) + 1, 0);
    if (needRecords) {
        std::vector<uint8_t> chunk;
        constexpr size_t kChunkBytes = size_t(1) << 20;
        for (uint32_t r = 1; r <= count;) {
            const uint32_t want = std::min<uint32_t>(count - r + 1, uint32_t(kChunkBytes / recordSize_) + 1);
            const uint32_t n = records.readRecords(r, want, chunk);
            if (n == 0) {  // record r cannot be read
                ++r;
                continue;
            }
            const size_t length = chunk.size() / n;
            if (length >= recordSize_)
                for (uint32_t i = 0; i < n; ++i) {
                    const uint8_t* rec = chunk.data() + i * length;
                    readable[r + i] = 1;
                    for (Checked& c : checks) {
                        if (!c.tag || !c.tag->expr) continue;
                        c.tag->expr->evaluate(rec, c.keys.get() + size_t(r + i - 1) * size_t(c.tag->keyLen));
                        c.holds[r + i] = c.tag->holds(rec);
                    }
                }
            r += n;
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
        checkTree(*c.tag, c.leaves, count, readable, c.keys.get(), c.holds, fault);
        Tag& t = *c.tag;
        if (c.dropped)
            out.push_back(path_ + ": tag " + t.name + ": " + std::to_string(c.dropped) + " more faults");
        if (!out.empty()) good = false;
    }
    return good;
}

bool CdxFile::checkTree(Tag& t, const std::vector<Node*>& leaves, uint32_t count,
                        const std::vector<uint8_t>& readable, const char* keys,
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
    auto keyOf = [&](uint32_t r) { return keys + size_t(r - 1) * size_t(kl); };
    for (Node* n : leaves) {
        for (size_t i = 0; i < n->count(); ++i, ++total) {
            // The records of consecutive keys lie anywhere in the table: the key of a record a few
            // entries on is fetched while this one is compared.
            if (keys && i + 8 < n->count() && n->recs[i + 8] >= 1 && n->recs[i + 8] <= count)
                __builtin_prefetch(keyOf(n->recs[i + 8]));
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
