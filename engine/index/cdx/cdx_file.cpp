#include "engine/index/cdx/cdx_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "engine/byte_order.h"
#include "engine/status.h"
#include "engine/text.h"

namespace kce::cdx {

namespace {

// Key order: unsigned bytes, then record number.
int Compare(const std::string& a, uint32_t ra, const std::string& b, uint32_t rb) {
    int c = a.compare(b);
    if (c) return c;
    return ra < rb ? -1 : ra > rb ? 1 : 0;
}

constexpr int kMaxDepth = 32;

int BitLength(uint64_t v) {
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

}  // namespace

std::string TagName(const std::string& name) { return Upper(name); }

// ---- Tree: reading -------------------------------------------------------------------------

void Tree::Descend(const std::string& key, uint32_t recno, std::vector<Step>* path) const {
    // With recno kNone the search lands past every entry of the key.
    path->clear();
    uint32_t off = header_.root;
    while (true) {
        const Node& n = NodeAt(off);
        auto it = std::lower_bound(n.entries.begin(), n.entries.end(), 0, [&](const Entry& e, int) {
            return Compare(e.key, e.recno, key, recno) < 0;
        });
        size_t i = size_t(it - n.entries.begin());
        if (n.Leaf() || n.entries.empty()) {
            path->push_back({off, i});
            return;
        }
        if (i == n.entries.size()) i = n.entries.size() - 1;
        path->push_back({off, i});
        off = n.entries[i].child;
    }
}

Tree::Pos Tree::Settle(Pos p) const {
    while (p.leaf != kNone) {
        const Node& n = NodeAt(p.leaf);
        if (p.index < n.entries.size()) return p;
        p = {n.right, 0};
    }
    return {};
}

Tree::Pos Tree::First() const {
    uint32_t off = header_.root;
    while (!NodeAt(off).Leaf() && !NodeAt(off).entries.empty()) {
        off = NodeAt(off).entries.front().child;
    }
    return Settle({off, 0});
}

Tree::Pos Tree::Last() const {
    uint32_t off = header_.root;
    while (!NodeAt(off).Leaf() && !NodeAt(off).entries.empty()) {
        off = NodeAt(off).entries.back().child;
    }
    while (off != kNone) {
        const Node& n = NodeAt(off);
        if (!n.entries.empty()) return {off, n.entries.size() - 1};
        off = n.left;
    }
    return {};
}

Tree::Pos Tree::Seek(const std::string& key, uint32_t recno, bool after) const {
    // No entry has record number kNone: seeking it lands past every entry of the key.
    if (after && recno != kNone) ++recno;
    std::vector<Step> path;
    Descend(key, recno, &path);
    return Settle({path.back().offset, path.back().index});
}

Tree::Pos Tree::Next(Pos p) const {
    if (!p.Valid()) return {};
    ++p.index;
    return Settle(p);
}

Tree::Pos Tree::Prev(Pos p) const {
    if (!p.Valid()) return {};
    if (p.index > 0) return {p.leaf, p.index - 1};
    uint32_t off = NodeAt(p.leaf).left;
    while (off != kNone) {
        const Node& n = NodeAt(off);
        if (!n.entries.empty()) return {off, n.entries.size() - 1};
        off = n.left;
    }
    return {};
}

// ---- Tree: loading and checking ------------------------------------------------------------

KCESTATUS Tree::LoadNode(uint32_t offset, int depth, int* leafDepth,
                         std::vector<std::vector<uint32_t>>* levels) {
    uint64_t size = 0;
    if (KCESTATUS s = file_.FileSize(&size)) return s;
    const std::string where = "node at " + std::to_string(offset);
    if (depth >= kMaxDepth) return file_.Damaged("tree deeper than " + std::to_string(kMaxDepth));
    if (offset % kNodeSize != 0 || offset < kHeaderSize || uint64_t(offset) + kNodeSize > size) {
        return file_.Damaged(where + ": offset outside the file or not on a node boundary");
    }
    if (nodes_.count(offset)) return file_.Damaged(where + " is reached twice");
    uint8_t page[kNodeSize];
    if (KCESTATUS s = file_.ReadPage(offset, page, kNodeSize)) return s;
    auto node = std::make_unique<Node>();
    std::string why;
    if (!DecodeNode(page, header_.keyLength, filler_, node.get(), &why)) {
        return file_.Damaged(where + ": " + why);
    }
    Node& n = *node;
    nodes_[offset] = std::move(node);
    if (levels->size() <= size_t(depth)) levels->resize(size_t(depth) + 1);
    (*levels)[size_t(depth)].push_back(offset);
    // Keys out of order are what a writer stopped between two node writes leaves: the tree
    // still reads (and check reports it), so that reindex can set it right.
    for (size_t i = 1; i < n.entries.size(); ++i) {
        const Entry& a = n.entries[i - 1];
        const Entry& b = n.entries[i];
        if (Compare(a.key, a.recno, b.key, b.recno) >= 0) {
            problems_.push_back(where + ": keys out of order at entry " + std::to_string(i));
            break;
        }
    }
    if (n.Leaf()) {
        if (*leafDepth < 0) *leafDepth = depth;
        if (*leafDepth != depth) return file_.Damaged(where + ": leaves at different depths");
        return KCE_SUCCESS;
    }
    for (size_t i = 0; i < n.entries.size(); ++i) {
        uint32_t child = n.entries[i].child;
        if (KCESTATUS s = LoadNode(child, depth + 1, leafDepth, levels)) return s;
        const Node& c = NodeAt(child);
        if (c.entries.empty()) continue;
        const Entry& e = n.entries[i];
        const Entry& last = c.entries.back();
        const Entry& first = c.entries.front();
        if (Compare(last.key, last.recno, e.key, e.recno) > 0 ||
            (i > 0 &&
             Compare(first.key, first.recno, n.entries[i - 1].key, n.entries[i - 1].recno) <= 0)) {
            problems_.push_back(where + ": child " + std::to_string(child) +
                                " holds keys outside its entry's range");
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS Tree::Load() {
    nodes_.clear();
    free_.Clear();
    dirty_.clear();
    fresh_.clear();
    problems_.clear();
    headerDirty_ = false;
    loaded_ = false;
    std::vector<std::vector<uint32_t>> levels;
    int leafDepth = -1;
    if (KCESTATUS s = LoadNode(header_.root, 0, &leafDepth, &levels)) {
        nodes_.clear();
        return s;
    }
    for (const auto& level : levels) {
        for (size_t i = 0; i < level.size(); ++i) {
            const Node& n = NodeAt(level[i]);
            uint32_t left = i > 0 ? level[i - 1] : kNone;
            uint32_t right = i + 1 < level.size() ? level[i + 1] : kNone;
            if (n.left != left || n.right != right) {
                // Walks follow the tree's own order; the stored links are set right by the
                // next write of the node, or by reindex.
                problems_.push_back("node at " + std::to_string(level[i]) +
                                    ": sibling links do not match the tree");
                Node& fix = NodeAt(level[i]);
                fix.left = left;
                fix.right = right;
            }
        }
    }
    uint64_t size = 0;
    if (KCESTATUS s = file_.FileSize(&size)) return s;
    uint32_t bad = 0;
    auto inTree = [&](uint32_t off) { return nodes_.count(off) != 0; };
    auto readLink = [&](uint32_t off, uint32_t* link) -> KCESTATUS {
        uint8_t bytes[4];
        if (KCESTATUS s = file_.ReadPage(off, bytes, 4)) return s;
        *link = LoadU32(bytes);
        if (*link == kNone) *link = 0;  // -1 ends the list as 0 does
        return KCE_SUCCESS;
    };
    if (KCESTATUS s = free_.Load(header_.freeList, size, inTree, readLink, &bad)) return s;
    if (bad) {
        nodes_.clear();
        return file_.Damaged("free list entry " + std::to_string(bad) + " is not a free node");
    }
    loaded_ = true;
    return KCE_SUCCESS;
}

void Tree::Audit(std::vector<std::string>* problems) const {
    problems->insert(problems->end(), problems_.begin(), problems_.end());
    for (const auto& [off, node] : nodes_) {
        if (node->Leaf()) continue;
        for (const Entry& e : node->entries) {
            const Node& c = NodeAt(e.child);
            if (c.entries.empty() || c.entries.back().key != e.key ||
                c.entries.back().recno != e.recno) {
                problems->push_back("node at " + std::to_string(off) + ": the entry of child " +
                                    std::to_string(e.child) + " is not its last key");
            }
        }
    }
    const Node& root = NodeAt(header_.root);
    if (!root.Root()) problems->push_back("root node is not marked as the root");
}

// ---- Tree: changing ------------------------------------------------------------------------

bool Tree::Fits(const Node& node) const {
    if (!node.Leaf()) return node.entries.size() <= InteriorCapacity(header_.keyLength);
    uint8_t page[kNodeSize];
    return EncodeNode(node, header_.keyLength, filler_, page);
}

std::vector<size_t> Tree::SplitPoints(const Node& n) const {
    const size_t count = n.entries.size();
    auto fits = [&](size_t from, size_t to) {
        Node part;
        part.attr = n.attr & kAttrLeaf;
        part.entries.assign(n.entries.begin() + long(from), n.entries.begin() + long(to));
        return Fits(part);
    };
    if (!n.Leaf()) {
        // Entries of one size: as few nodes as hold them, filled evenly.
        const size_t capacity = InteriorCapacity(header_.keyLength);
        const size_t parts = (count + capacity - 1) / capacity;
        std::vector<size_t> cuts;
        for (size_t p = 1; p < parts; ++p) cuts.push_back(count * p / parts);
        return cuts;
    }
    // Two halves when some cut near the middle leaves both fitting (the right half's first key
    // loses its shared prefix, so a long key can tip it over) ...
    for (size_t d = 0; d <= count / 2; ++d) {
        for (size_t cut : {count / 2 - d, count / 2 + d}) {
            if (cut == 0 || cut >= count) continue;
            if (fits(0, cut) && fits(cut, count)) return {cut};
        }
    }
    // ... else as many nodes as it takes, each filled as far as it goes.
    std::vector<size_t> cuts;
    size_t from = 0;
    while (from < count) {
        size_t to = from + 1;
        while (to < count && fits(from, to + 1)) ++to;
        if (to < count) cuts.push_back(to);
        from = to;
    }
    return cuts;
}

KCESTATUS Tree::Allocate(uint32_t* offset) {
    if (free_.Take(offset)) {
        fresh_.insert(*offset);  // no node points at a free one
        header_.freeList = free_.Head();
        headerDirty_ = true;
        return KCE_SUCCESS;
    }
    if (KCESTATUS s = file_.Grow(kNodeSize, offset)) return s;
    fresh_.insert(*offset);
    return KCE_SUCCESS;
}

void Tree::Release(uint32_t offset) {
    nodes_.erase(offset);
    dirty_.erase(offset);
    free_.Give(offset);
    header_.freeList = free_.Head();
    headerDirty_ = true;
}

bool Tree::UnderFull(const Node& node) const {
    if (!node.Leaf()) return node.entries.size() * 2 <= InteriorCapacity(header_.keyLength);
    uint8_t page[kNodeSize];
    if (!EncodeNode(node, header_.keyLength, filler_, page)) return false;
    const unsigned freeBytes = page[12] | unsigned(page[13]) << 8;  // of the 488 after the header
    return freeBytes * 2 > 488;
}

bool Tree::MergeWithNeighbour(const Step& parentStep) {
    Node& parent = NodeAt(parentStep.offset);
    const size_t i = parentStep.index;
    if (parent.entries.size() < 2) return false;
    // The right neighbour under the same parent, or for the last child the left one.
    const size_t lo = i + 1 < parent.entries.size() ? i : i - 1;
    const uint32_t loOff = parent.entries[lo].child, hiOff = parent.entries[lo + 1].child;
    Node& a = NodeAt(loOff);
    Node& b = NodeAt(hiOff);
    Node merged;
    merged.attr = a.attr;
    merged.entries.reserve(a.entries.size() + b.entries.size());
    merged.entries.insert(merged.entries.end(), a.entries.begin(), a.entries.end());
    merged.entries.insert(merged.entries.end(), b.entries.begin(), b.entries.end());
    if (!Fits(merged)) return false;
    a.entries = std::move(merged.entries);
    a.right = b.right;
    if (b.right != kNone) {
        NodeAt(b.right).left = loOff;
        Touch(b.right);
    }
    Touch(loOff);
    Release(hiOff);
    parent.entries[lo].key = a.entries.back().key;
    parent.entries[lo].recno = a.entries.back().recno;
    parent.entries.erase(parent.entries.begin() + long(lo + 1));
    Touch(parentStep.offset);
    return true;
}

KCESTATUS Tree::Fix(std::vector<Step>& path) {
    for (size_t level = path.size(); level-- > 0;) {
        const uint32_t off = path[level].offset;
        Node& n = NodeAt(off);
        if (n.entries.empty()) {
            if (level == 0) {
                n.attr = kAttrRoot | kAttrLeaf;
                Touch(off);
                continue;
            }
            if (n.left != kNone) {
                NodeAt(n.left).right = n.right;
                Touch(n.left);
            }
            if (n.right != kNone) {
                NodeAt(n.right).left = n.left;
                Touch(n.right);
            }
            Release(off);
            Node& parent = NodeAt(path[level - 1].offset);
            parent.entries.erase(parent.entries.begin() + long(path[level - 1].index));
            Touch(path[level - 1].offset);
            continue;
        }
        if (!Fits(n)) {
            std::vector<size_t> cuts = SplitPoints(n);  // where each node after the first begins
            std::vector<uint32_t> offsets{off};
            for (size_t c = 0; c < cuts.size(); ++c) {
                uint32_t fresh = 0;
                if (KCESTATUS s = Allocate(&fresh)) return s;
                offsets.push_back(fresh);
            }
            Node& first = NodeAt(off);
            const uint32_t outerRight = first.right;
            std::vector<std::unique_ptr<Node>> parts;
            for (size_t c = cuts.size(); c-- > 0;) {
                auto part = std::make_unique<Node>();
                part->attr = first.attr & kAttrLeaf;
                part->entries.assign(std::make_move_iterator(first.entries.begin() + long(cuts[c])),
                                     std::make_move_iterator(first.entries.end()));
                first.entries.resize(cuts[c]);
                parts.insert(parts.begin(), std::move(part));
            }
            first.attr &= uint16_t(~kAttrRoot);
            first.right = offsets[1];
            for (size_t c = 0; c < parts.size(); ++c) {
                parts[c]->left = offsets[c];
                parts[c]->right = c + 2 < offsets.size() ? offsets[c + 2] : outerRight;
                nodes_[offsets[c + 1]] = std::move(parts[c]);
            }
            if (outerRight != kNone) {
                NodeAt(outerRight).left = offsets.back();
                Touch(outerRight);
            }
            std::vector<Entry> lasts;
            for (uint32_t o : offsets) {
                const Entry& last = NodeAt(o).entries.back();
                lasts.push_back({last.key, last.recno, o});
                Touch(o);
            }
            if (level == 0) {
                // A new root over the parts, itself split on the next round if it overflows.
                uint32_t rootOff = 0;
                if (KCESTATUS s = Allocate(&rootOff)) return s;
                auto root = std::make_unique<Node>();
                root->attr = kAttrRoot;
                root->entries = std::move(lasts);
                nodes_[rootOff] = std::move(root);
                Touch(rootOff);
                header_.root = rootOff;
                headerDirty_ = true;
                path.insert(path.begin(), Step{rootOff, 0});
                level = 1;
            } else {
                Node& parent = NodeAt(path[level - 1].offset);
                size_t i = path[level - 1].index;
                parent.entries.erase(parent.entries.begin() + long(i));
                parent.entries.insert(parent.entries.begin() + long(i), lasts.begin(), lasts.end());
                Touch(path[level - 1].offset);
            }
            continue;
        }
        if (level > 0 && UnderFull(n) && MergeWithNeighbour(path[level - 1])) continue;
        if (level > 0) {
            Entry& e = NodeAt(path[level - 1].offset).entries[path[level - 1].index];
            const Entry& last = n.entries.back();
            if (e.key != last.key || e.recno != last.recno) {
                e.key = last.key;
                e.recno = last.recno;
                Touch(path[level - 1].offset);
            }
        }
    }
    // A root left with one child hands the root over to it.
    while (true) {
        Node& root = NodeAt(header_.root);
        if (root.Leaf() || root.entries.size() != 1) break;
        uint32_t child = root.entries.front().child;
        Release(header_.root);
        header_.root = child;
        NodeAt(child).attr |= kAttrRoot;
        Touch(child);
    }
    return Flush();
}

KCESTATUS Tree::Insert(const std::string& key, uint32_t recno) {
    std::vector<Step> path;
    Descend(key, recno, &path);
    Node& leaf = NodeAt(path.back().offset);
    Entry e{key, recno, 0};
    e.key.resize(header_.keyLength, char(filler_));
    leaf.entries.insert(leaf.entries.begin() + long(path.back().index), std::move(e));
    Touch(path.back().offset);
    return Fix(path);
}

KCESTATUS Tree::Remove(const std::string& key, uint32_t recno, bool* found) {
    std::string full = key;
    full.resize(header_.keyLength, char(filler_));
    std::vector<Step> path;
    Descend(full, recno, &path);
    Node& leaf = NodeAt(path.back().offset);
    size_t i = path.back().index;
    *found =
        i < leaf.entries.size() && leaf.entries[i].key == full && leaf.entries[i].recno == recno;
    if (!*found) return KCE_SUCCESS;
    leaf.entries.erase(leaf.entries.begin() + long(i));
    Touch(path.back().offset);
    return Fix(path);
}

KCESTATUS Tree::Rebuild(const std::vector<Entry>& sorted) {
    std::vector<uint32_t> old;
    for (const auto& [off, node] : nodes_) old.push_back(off);
    std::sort(old.begin(), old.end(), std::greater<>());
    for (uint32_t off : old) Release(off);

    const size_t k = header_.keyLength;
    const int dt = 2 * BitLength(k);
    std::vector<std::unique_ptr<Node>> built;  // current level
    // Leaves, each filled as far as its compressed entries go.
    {
        auto leaf = std::make_unique<Node>();
        leaf->attr = kAttrLeaf;
        size_t stored = 0, prevTrail = 0;
        uint32_t maxRecno = 0;
        for (const Entry& src : sorted) {
            std::string key = src.key;
            key.resize(k, char(filler_));
            size_t trail = 0;
            while (trail < k && uint8_t(key[k - 1 - trail]) == filler_) ++trail;
            size_t dup = 0;
            if (!leaf->entries.empty()) {
                const std::string& prev = leaf->entries.back().key;
                size_t limit = std::min(k - trail, k - prevTrail);
                while (dup < limit && prev[dup] == key[dup]) ++dup;
            }
            uint32_t nextMax = std::max(maxRecno, src.recno);
            size_t bytes = size_t(std::max(1, BitLength(nextMax)) + dt + 7) / 8;
            if (!leaf->entries.empty() &&
                (leaf->entries.size() + 1) * bytes + stored + (k - dup - trail) > 488) {
                built.push_back(std::move(leaf));
                leaf = std::make_unique<Node>();
                leaf->attr = kAttrLeaf;
                stored = 0;
                dup = 0;
                nextMax = src.recno;
            }
            stored += k - dup - trail;
            maxRecno = nextMax;
            prevTrail = trail;
            leaf->entries.push_back({std::move(key), src.recno, 0});
        }
        built.push_back(std::move(leaf));
    }
    const size_t capacity = InteriorCapacity(header_.keyLength);
    while (true) {
        std::vector<uint32_t> offsets(built.size());
        for (size_t i = 0; i < built.size(); ++i) {
            if (KCESTATUS s = Allocate(&offsets[i])) return s;
        }
        for (size_t i = 0; i < built.size(); ++i) {
            built[i]->left = i > 0 ? offsets[i - 1] : kNone;
            built[i]->right = i + 1 < built.size() ? offsets[i + 1] : kNone;
        }
        if (built.size() == 1) {
            built[0]->attr |= kAttrRoot;
            header_.root = offsets[0];
            headerDirty_ = true;
            nodes_[offsets[0]] = std::move(built[0]);
            Touch(offsets[0]);
            break;
        }
        std::vector<std::unique_ptr<Node>> upper;
        for (size_t i = 0; i < built.size(); ++i) {
            if (i % capacity == 0) {
                upper.push_back(std::make_unique<Node>());
                upper.back()->attr = 0;
            }
            const Entry& last = built[i]->entries.back();
            upper.back()->entries.push_back({last.key, last.recno, offsets[i]});
            nodes_[offsets[i]] = std::move(built[i]);
            Touch(offsets[i]);
        }
        built = std::move(upper);
    }
    return Flush();
}

KCESTATUS Tree::Flush() {
    if (KCESTATUS s = free_.Flush([&](uint32_t off, const uint8_t* page) {
            return file_.WritePage(off, page, kNodeSize);
        })) {
        return s;
    }
    // Nodes no other node points at yet go first, then the nodes that point at them, then the
    // header: a writer stopped in between leaves a tree that reads (perhaps missing the key).
    uint8_t page[kNodeSize];
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t off : dirty_) {
            if ((fresh_.count(off) != 0) != (pass == 0)) continue;
            if (!EncodeNode(NodeAt(off), header_.keyLength, filler_, page)) {
                return Fail(KCE_INTERNAL_ERROR, "index " + file_.Path() + ": node at " +
                                                    std::to_string(off) + " does not fit");
            }
            if (KCESTATUS s = file_.WritePage(off, page, kNodeSize)) return s;
        }
    }
    dirty_.clear();
    fresh_.clear();
    if (headerDirty_) {
        uint8_t head[kHeaderSize];
        EncodeHeader(header_, head);
        if (KCESTATUS s = file_.WritePage(headerOffset_, head, kHeaderSize)) return s;
        headerDirty_ = false;
    }
    file_.Remember();
    return KCE_SUCCESS;
}

// ---- CdxFile -------------------------------------------------------------------------------

KCESTATUS CdxFile::Damaged(const std::string& what) const {
    return Fail(KCE_DAMAGED_FILE, "index file " + Path() + " is damaged: " + what);
}

KCESTATUS CdxFile::ReadPage(uint32_t offset, uint8_t* page, size_t size) const {
    return raw_.ReadExact(offset, page, size, "index page");
}

KCESTATUS CdxFile::WritePage(uint32_t offset, const uint8_t* page, size_t size) {
    if (KCESTATUS s = raw_.WriteAt(offset, page, size)) return s;
    size_ = std::max<uint64_t>(size_, uint64_t(offset) + size);
    return KCE_SUCCESS;
}

KCESTATUS CdxFile::FileSize(uint64_t* size) const {
    *size = size_;
    return KCE_SUCCESS;
}

KCESTATUS CdxFile::Grow(uint32_t bytes, uint32_t* offset) {
    uint64_t at = (size_ + kNodeSize - 1) / kNodeSize * kNodeSize;
    if (at + bytes > 0xFFFFFE00u) {
        return Fail(KCE_FILE_WRITE_FAILED, "index file " + Path() + " would pass 4 GB");
    }
    *offset = uint32_t(at);
    size_ = at + bytes;
    return KCE_SUCCESS;
}

void CdxFile::Remember() { watch_.Remember(Path()); }

void CdxFile::LockForChange() { watch_.Lock(Path()); }

void CdxFile::Unlock() { watch_.Unlock(); }

bool CdxFile::ChangedOnDisk() const { return watch_.ChangedOnDisk(Path()); }

KCESTATUS CdxFile::ReadDirectory() {
    if (KCESTATUS s = raw_.Size(&size_)) return s;
    Remember();
    if (size_ < kHeaderSize + kNodeSize) {
        return Fail(KCE_WRONG_FILE_FORMAT, "index file " + Path() + " is too short (" +
                                               std::to_string(size_) + " bytes) to be a .cdx");
    }
    uint8_t head[kHeaderSize];
    if (KCESTATUS s = ReadPage(0, head, kHeaderSize)) return s;
    Header h;
    std::string why;
    if (!DecodeHeader(head, &h, &why)) {
        return Fail(KCE_WRONG_FILE_FORMAT, "index file " + Path() + " is not a .cdx: " + why);
    }
    if (h.keyLength != kTagNameLength) {
        return Damaged("tag names of " + std::to_string(h.keyLength) + " bytes");
    }
    directory_ = std::make_unique<Tree>(*this, 0, h, uint8_t(' '));
    if (KCESTATUS s = directory_->Load()) return s;
    std::vector<TagInfo> tags;
    for (Tree::Pos p = directory_->First(); p.Valid(); p = directory_->Next(p)) {
        const Entry& e = directory_->At(p);
        TagInfo tag;
        tag.name = e.key;
        while (!tag.name.empty() && (tag.name.back() == ' ' || tag.name.back() == '\0')) {
            tag.name.pop_back();
        }
        tag.headerOffset = e.recno;
        if (tag.name.empty() || e.recno % kNodeSize != 0 || e.recno < kNodeSize ||
            uint64_t(e.recno) + kHeaderSize > size_) {
            return Damaged("tag '" + tag.name + "' has its header at " + std::to_string(e.recno));
        }
        uint8_t tagHead[kHeaderSize];
        if (KCESTATUS s = ReadPage(e.recno, tagHead, kHeaderSize)) return s;
        if (!DecodeHeader(tagHead, &tag.header, &why)) {
            return Damaged("tag '" + tag.name + "': " + why);
        }
        tags.push_back(std::move(tag));
    }
    std::sort(tags.begin(), tags.end(),
              [](const TagInfo& a, const TagInfo& b) { return a.headerOffset < b.headerOffset; });
    tags_ = std::move(tags);
    return KCE_SUCCESS;
}

KCESTATUS CdxFile::Open(const std::string& path, bool readOnly, std::unique_ptr<CdxFile>* out) {
    auto file = std::unique_ptr<CdxFile>(new CdxFile());
    if (KCESTATUS s = file->raw_.Open(path, readOnly)) return s;
    if (KCESTATUS s = file->ReadDirectory()) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

KCESTATUS CdxFile::Create(const std::string& path, bool structural, std::unique_ptr<CdxFile>* out) {
    auto file = std::unique_ptr<CdxFile>(new CdxFile());
    if (KCESTATUS s = file->raw_.Create(path, false)) return s;
    Header h;
    h.keyLength = kTagNameLength;
    h.options = uint8_t(kOptCompact | kOptCompound | (structural ? kOptStructural : 0));
    h.root = kHeaderSize;
    file->size_ = kHeaderSize;
    file->directory_ = std::make_unique<Tree>(*file, 0, h, uint8_t(' '));
    if (KCESTATUS s = file->directory_->Rebuild({})) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

Tree* CdxFile::FindTree(const std::string& name) {
    auto it = trees_.find(TagName(name));
    return it == trees_.end() ? nullptr : it->second.get();
}

KCESTATUS CdxFile::OpenTag(const std::string& name, uint8_t filler, Tree** out) {
    if (Tree* t = FindTree(name)) {
        *out = t;
        return KCE_SUCCESS;
    }
    for (const TagInfo& tag : tags_) {
        if (tag.name != TagName(name)) continue;
        auto tree = std::make_unique<Tree>(*this, tag.headerOffset, tag.header, filler);
        if (KCESTATUS s = tree->Load()) return s;
        *out = tree.get();
        trees_[tag.name] = std::move(tree);
        return KCE_SUCCESS;
    }
    return Fail(KCE_INDEX_NOT_FOUND, "index file " + Path() + " has no tag " + name);
}

KCESTATUS CdxFile::AddTag(const std::string& name, const Header& proto, uint8_t filler,
                          const std::vector<Entry>& sorted, Tree** out) {
    std::string upper = TagName(name);
    if (upper.empty() || upper.size() > kTagNameLength) {
        return Fail(KCE_INVALID_INDEX_NAME, "'" + name + "': a tag name has 1 to 10 characters");
    }
    for (const TagInfo& tag : tags_) {
        if (tag.name == upper) return Fail(KCE_INDEX_EXISTS, "tag " + upper + " in " + Path());
    }
    uint32_t headerOffset = 0;
    if (KCESTATUS s = Grow(kHeaderSize, &headerOffset)) return s;
    Header h = proto;
    h.options = uint8_t(h.options & ~kOptStructural);
    auto tree = std::make_unique<Tree>(*this, headerOffset, h, filler);
    tree->headerDirty_ = true;
    if (KCESTATUS s = tree->Rebuild(sorted)) return s;
    std::string key = upper;
    key.resize(kTagNameLength, ' ');
    if (KCESTATUS s = directory_->Insert(key, headerOffset)) return s;
    tree->loaded_ = true;
    tags_.push_back({upper, headerOffset, tree->header_});
    *out = tree.get();
    trees_[upper] = std::move(tree);
    return KCE_SUCCESS;
}

KCESTATUS CdxFile::DropTag(const std::string& name) {
    std::string upper = TagName(name);
    auto it =
        std::find_if(tags_.begin(), tags_.end(), [&](const TagInfo& t) { return t.name == upper; });
    if (it == tags_.end()) return Fail(KCE_INDEX_NOT_FOUND, "tag " + upper + " in " + Path());
    std::string key = upper;
    key.resize(kTagNameLength, ' ');
    bool found = false;
    if (KCESTATUS s = directory_->Remove(key, it->headerOffset, &found)) return s;
    tags_.erase(it);
    // Handles may still point at the tree: it stays alive, out of the file.
    auto tree = trees_.find(upper);
    if (tree != trees_.end()) {
        dropped_.push_back(std::move(tree->second));
        trees_.erase(tree);
    }
    return KCE_SUCCESS;
}

KCESTATUS CdxFile::Reload() {
    if (KCESTATUS s = ReadDirectory()) return s;
    for (auto& entry : trees_) {
        const std::string& name = entry.first;
        auto& tree = entry.second;
        auto it = std::find_if(tags_.begin(), tags_.end(),
                               [&name](const TagInfo& t) { return t.name == name; });
        if (it == tags_.end()) {
            return Fail(KCE_INDEX_NOT_FOUND,
                        "tag " + name + " was removed from " + Path() + " by another program");
        }
        tree->headerOffset_ = it->headerOffset;
        tree->header_ = it->header;
        if (KCESTATUS s = tree->Load()) return s;
    }
    return KCE_SUCCESS;
}

}  // namespace kce::cdx
