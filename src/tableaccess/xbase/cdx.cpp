// xb::CdxFile, the file and its tags: opening a compound index (the whole file read into memory, its
// headers, tag directory and each tag's root checked, a damaged file refused), the validation of a tag's
// whole tree on its first use (no node outside the file or reached twice, leaves at one depth, siblings
// that name their neighbours), the order its keys are in, and what each tag is.
#include "tableaccess/xbase/cdx.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "tableaccess/xbase/cdx_internal.h"
#include "tableaccess/xbase/numtext.h"

namespace xb {
using namespace cdxdetail;

CdxFile::CdxFile() = default;

CdxFile::~CdxFile() = default;

std::string CdxFile::fail(const std::string& problem) const {
    return path_ + ": " + problem;
}

// Visits every node of a tag once: pointers inside the file, no node reached twice (within this tag or
// from another tag whose nodes are already decoded), leaves all at one depth, and each node's sibling
// pointers naming its neighbours on its level (seeks and splits follow them, so they must stay within
// the tag). Decoded nodes stay in the cache, but for the leaves of a check's walk (see TreeWalk).
bool CdxFile::validateTree(Tag& tag, std::string& error, TreeWalk* walk) {
    auto where = [&] { return (tag.name.empty() ? std::string("tag directory") : "tag " + tag.name) + ": "; };
    std::vector<std::pair<uint32_t, int>> stack{{tag.root, 0}};
    // The nodes reached so far, one bit per page of the file.
    std::vector<uint64_t> visited(image_.size() / kNodeSize / 64 + 1, 0);
    struct Linked {
        uint32_t offset, left, right;
    };
    std::vector<std::vector<Linked>> levels;  // the nodes of each depth, left to right
    int leafDepth = -1;
    Node scratch;  // a leaf a check reads once, decoded here rather than kept
    while (!stack.empty()) {
        auto [off, depth] = stack.back();
        stack.pop_back();
        if (depth > kMaxDepth) {
            error = fail(where() + "loop in the tree (deeper than " + std::to_string(kMaxDepth) + " levels)");
            return false;
        }
        // A node decoded before this walk (the root, checked at open) must belong to this tag; so must a
        // node an earlier walk of the same check went through.
        const auto cached = nodes_.find(off);
        const size_t page = off / kNodeSize;
        bool twice = cached != nodes_.end() && cached->second->tag != &tag;
        if (off % kNodeSize == 0 && page < visited.size() * 64) {
            uint64_t& bits = visited[page / 64];
            const uint64_t bit = uint64_t(1) << (page % 64);
            twice = twice || (bits & bit) != 0;
            bits |= bit;
        }
        if (walk && !walk->keep && !twice && page < walk->owners.size())
            twice = walk->owners[page] != nullptr && walk->owners[page] != &tag;
        if (twice) {
            error = fail(where() + "loop in the tree: node " + hex(off) + " is reached twice");
            return false;
        }
        const Node* n = nullptr;
        if (walk && !walk->keep && cached == nodes_.end()) {
            // A check's walk keeps the interior nodes (few) and reads each leaf once.
            if (!decodeNode(off, tag, scratch, error)) return false;
            scratch.tag = &tag;
            if (walk->owners.size() <= page) walk->owners.resize(image_.size() / kNodeSize + 1, nullptr);
            walk->owners[page] = &tag;
            if (scratch.leaf) {
                n = &scratch;
            } else {
                auto kept = std::make_unique<Node>(std::move(scratch));
                n = kept.get();
                nodes_.emplace(off, std::move(kept));
                scratch = Node();
            }
        } else {
            n = node(off, tag, error);
            if (!n) return false;
        }
        if (levels.size() <= size_t(depth)) levels.resize(size_t(depth) + 1);
        levels[size_t(depth)].push_back(Linked{n->offset, n->left, n->right});
        if (n->leaf) {
            if (leafDepth >= 0 && depth != leafDepth) {
                error = fail(where() + "leaves at different depths");
                return false;
            }
            leafDepth = depth;
            if (walk && walk->leaf) walk->leaf(*n);
        } else {
            for (size_t i = n->count(); i-- > 0;) stack.emplace_back(n->children[i], depth + 1);
        }
    }
    // The tag directory is read once and rewritten whole: only the tags' own links are followed.
    if (tag.header == 0) return true;
    for (const auto& level : levels)
        for (size_t i = 0; i < level.size(); ++i) {
            const uint32_t left = i ? level[i - 1].offset : kNone;
            const uint32_t right = i + 1 < level.size() ? level[i + 1].offset : kNone;
            if (level[i].left != left || level[i].right != right) {
                error = fail(where() + "node " + hex(level[i].offset) + " has sibling pointers " +
                             hex(level[i].left) + " and " + hex(level[i].right) + "; its neighbours are " +
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
    if (!validateOrder(t, error, nullptr)) return false;
    t.ready = true;
    return true;
}

bool CdxFile::validateOrder(Tag& t, std::string& error, TreeWalk* check) {
    // Which order do the stored character keys follow: bytes, or the accent-folding order? Byte order
    // unless the other one fits the keys better (when both fit, as they do for plain ASCII keys, new
    // keys go in byte order as other programs expect). Counted on the validating walk, leaf by leaf.
    const bool character = t.pad == ' ' && !t.weighted;
    const int kl = t.keyLen;
    size_t rawBad = 0, colBad = 0;
    std::vector<char> prev(static_cast<size_t>(kl));
    bool first = true;
    uint32_t prevRec = 0;
    TreeWalk own;
    TreeWalk& walk = check ? *check : own;
    auto visit = std::move(walk.leaf);
    const bool counting = character && !walk.countsOrder;
    walk.rawBad = walk.colBad = 0;
    walk.leaf = [&](const Node& n) {
        if (counting && n.count() > 0) {
            for (size_t i = 0; i < n.count(); ++i) {
                const char* k = t.key(n, i);
                const char* p = i ? t.key(n, i - 1) : prev.data();
                const uint32_t pr = i ? n.recs[i - 1] : prevRec;
                if (i || !first) {
                    int raw = 0, col = 0;
                    compareBoth(p, k, kl, raw, col);
                    if (raw == 0) raw = col = pr < n.recs[i] ? -1 : (pr > n.recs[i] ? 1 : 0);
                    rawBad += raw >= 0;
                    colBad += col >= 0;
                }
            }
            std::memcpy(prev.data(), t.key(n, n.count() - 1), size_t(kl));
            prevRec = n.recs.back();
            first = false;
        }
        if (visit) visit(n);
    };
    const bool good = validateTree(t, error, &walk);
    walk.leaf = std::move(visit);
    if (!good) return false;
    if (walk.countsOrder) rawBad = walk.rawBad, colBad = walk.colBad;
    if (character) t.collated = colBad < rawBad;
    return true;
}

bool CdxFile::validate(std::string& error) {
    for (auto& t : tags_)
        if (!prepare(*t, error)) return false;
    return true;
}

std::unique_ptr<CdxFile> CdxFile::unopened(const std::string& path, const std::vector<FieldDesc>& fields,
                                           Codepage codepage) {
    std::unique_ptr<CdxFile> f(new CdxFile);
    f->path_ = path;
    f->fields_ = fields;
    f->codepage_ = codepage;
    for (const auto& fd : fields) f->recordSize_ = std::max<uint32_t>(f->recordSize_, fd.offset + fd.length);
    return f;
}

std::unique_ptr<CdxFile> CdxFile::open(const std::string& path, const std::vector<FieldDesc>& fields,
                                       std::string& error, Codepage codepage) {
    auto f = unopened(path, fields, codepage);
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

}  // namespace xb
