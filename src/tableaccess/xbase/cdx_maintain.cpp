// xb::CdxFile, key maintenance: the keys of a record added, removed or changed as the table changes,
// nodes split when they overflow and parents kept equal to their children's last keys. Every change
// first checks that the file can be written and the tag holds what the change expects; changed nodes are
// written new ones first, then the nodes that link to them, then the headers; flush() makes them durable.
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

}  // namespace xb
