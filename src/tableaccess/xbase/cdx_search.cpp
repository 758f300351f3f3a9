// xb::CdxFile, tree search: seeking a key from a tag's root down to its leaf (keys padded to the tag's
// length, numbers, dates and logicals in their sortable form) and walking a tag's leaves in stored
// order. Nothing here writes.
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

}  // namespace xb
