// xb::CdxFile, bulk build: a whole index file written anew from its tags' definitions (each key
// expression evaluated once per record into one flat buffer of keys, sorted, then packed into full
// leaves with the interior levels above them) and the tags kept from the old file, beside the target,
// flushed and renamed into place.
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
        // The records in record order, many at a time.
        const bool read = records->readInPieces(
            minSize, [&](uint32_t first, const uint8_t* recs, uint32_t n, size_t length) {
                if (n == 0 || length < minSize) {
                    error = fail("cannot read record " + std::to_string(first) + " of the table");
                    return false;
                }
                for (uint32_t i = 0; i < n; ++i) {
                    const uint8_t* rec = recs + i * length;
                    for (auto& b : builds)
                        if (b.expr && (!b.filter || b.filter->test(rec))) {
                            b.expr->evaluate(rec, b.keys.data() + b.used * b.keyLen);
                            b.recs[b.used++] = first + i;
                        }
                }
                return true;
            });
        if (!read) return false;
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
    auto f = unopened(path, fields, codepage);
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

}  // namespace xb
