#include "engine/index/ntx/ntx_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "engine/status.h"

namespace kce::ntx {

namespace {

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

int Compare(const std::string& a, uint32_t ra, const std::string& b, uint32_t rb) {
    int c = a.compare(b);
    if (c) return c;
    return ra < rb ? -1 : ra > rb ? 1 : 0;
}

// First item of the page at or after (key, recno); past it when strict.
size_t LowerIndex(const Page& p, const std::string& key, uint32_t recno, bool strict) {
    auto it = std::lower_bound(p.items.begin(), p.items.end(), 0, [&](const Item& e, int) {
        int c = Compare(e.key, e.recno, key, recno);
        return strict ? c <= 0 : c < 0;
    });
    return size_t(it - p.items.begin());
}

constexpr int kMaxDepth = 32;
constexpr size_t kExprSize = 256;

}  // namespace

uint16_t MaxKeysFor(uint16_t keyLength) {
    int m = 1020 / (keyLength + 10) - 1;
    if (m % 2) --m;
    return uint16_t(std::max(m, 2));
}

bool DecodeHeader(const uint8_t* page, Header* out, std::string* why) {
    Header h;
    h.signature = Get16(page);
    h.version = Get16(page + 2);
    h.root = Get32(page + 4);
    h.freeList = Get32(page + 8);
    uint16_t item = Get16(page + 12);
    h.keyLength = Get16(page + 14);
    h.decimals = Get16(page + 16);
    h.maxKeys = Get16(page + 18);
    h.halfKeys = Get16(page + 20);
    if (h.signature != 6 && h.signature != 7 && h.signature != 3) {
        *why = "signature " + std::to_string(h.signature);
        return false;
    }
    if (h.keyLength == 0 || h.keyLength > kMaxKeyLength || item != h.keyLength + 8) {
        *why =
            "key length " + std::to_string(h.keyLength) + " with item size " + std::to_string(item);
        return false;
    }
    if (h.maxKeys < 2 ||
        2u + 2u * (h.maxKeys + 1u) + (h.maxKeys + 1u) * (h.keyLength + 8u) > kPageSize ||
        h.halfKeys == 0 || h.halfKeys > h.maxKeys) {
        *why = "page capacity " + std::to_string(h.maxKeys) + "/" + std::to_string(h.halfKeys) +
               " for " + std::to_string(h.keyLength) + "-byte keys";
        return false;
    }
    if (h.root == 0 || h.root % kPageSize != 0 || h.freeList % kPageSize != 0) {
        *why = "root or free page offset not on a page boundary";
        return false;
    }
    const char* expr = reinterpret_cast<const char*>(page + 22);
    size_t len = strnlen(expr, kExprSize);
    if (len == 0 || len == kExprSize) {
        *why = "no NUL-terminated key expression";
        return false;
    }
    h.keyExpr.assign(expr, len);
    h.unique = page[278] != 0;
    if (h.signature == 7) {
        h.descending = page[280] != 0;
        const char* cond = reinterpret_cast<const char*>(page + 282);
        size_t clen = strnlen(cond, kExprSize);
        if (clen == kExprSize) {
            *why = "no NUL-terminated FOR condition";
            return false;
        }
        h.forExpr.assign(cond, clen);
    } else {
        h.descending = page[280] == 1;
    }
    *out = std::move(h);
    return true;
}

void EncodeHeader(const Header& h, uint8_t* page) {
    std::memset(page, 0, kPageSize);
    Put16(page, h.forExpr.empty() ? (h.signature == 7 ? 6 : h.signature) : 7);
    Put16(page + 2, h.version);
    Put32(page + 4, h.root);
    Put32(page + 8, h.freeList);
    Put16(page + 12, uint16_t(h.keyLength + 8));
    Put16(page + 14, h.keyLength);
    Put16(page + 16, h.decimals);
    Put16(page + 18, h.maxKeys);
    Put16(page + 20, h.halfKeys);
    std::memcpy(page + 22, h.keyExpr.data(), std::min(h.keyExpr.size(), kExprSize - 1));
    page[278] = h.unique ? 1 : 0;
    page[280] = h.descending ? 1 : 0;
    if (!h.forExpr.empty()) {
        std::memcpy(page + 282, h.forExpr.data(), std::min(h.forExpr.size(), kExprSize - 1));
    }
}

bool DecodePage(const uint8_t* bytes, const Header& h, Page* out, std::string* why) {
    const size_t n = Get16(bytes);
    const size_t m = h.maxKeys;
    const size_t itemSize = h.keyLength + 8u;
    if (n > m) {
        *why = "page holds " + std::to_string(n) + " keys, at most " + std::to_string(m) + " fit";
        return false;
    }
    const size_t slotsStart = 2 + 2 * (m + 1);
    Page p;
    p.items.resize(n);
    for (size_t i = 0; i <= n; ++i) {
        size_t at = Get16(bytes + 2 + 2 * i);
        if (at < slotsStart || at + itemSize > kPageSize) {
            *why = "item offset " + std::to_string(at) + " outside the page";
            return false;
        }
        uint32_t child = Get32(bytes + at);
        if (i == n) {
            p.right = child;
            break;
        }
        Item& item = p.items[i];
        item.child = child;
        item.recno = Get32(bytes + at + 4);
        item.key.assign(reinterpret_cast<const char*>(bytes + at + 8), h.keyLength);
    }
    for (const Item& item : p.items) {
        if ((item.child == 0) != p.Leaf()) {
            *why = "page mixes leaf and interior items";
            return false;
        }
    }
    *out = std::move(p);
    return true;
}

void EncodePage(const Page& page, const Header& h, uint8_t* bytes) {
    std::memset(bytes, 0, kPageSize);
    const size_t m = h.maxKeys;
    const size_t itemSize = h.keyLength + 8u;
    const size_t slotsStart = 2 + 2 * (m + 1);
    Put16(bytes, uint16_t(page.items.size()));
    for (size_t i = 0; i <= m; ++i) Put16(bytes + 2 + 2 * i, uint16_t(slotsStart + i * itemSize));
    for (size_t i = 0; i < page.items.size(); ++i) {
        uint8_t* at = bytes + slotsStart + i * itemSize;
        Put32(at, page.items[i].child);
        Put32(at + 4, page.items[i].recno);
        std::memcpy(at + 8, page.items[i].key.data(), h.keyLength);
    }
    Put32(bytes + slotsStart + page.items.size() * itemSize, page.right);
}

// ---- NtxFile -------------------------------------------------------------------------------

KCESTATUS NtxFile::Damaged(const std::string& what) const {
    return Fail(KCE_DAMAGED_FILE, "index file " + Path() + " is damaged: " + what);
}

void NtxFile::Remember() { watch_.Remember(Path()); }

void NtxFile::LockForChange() { watch_.Lock(Path()); }

void NtxFile::Unlock() { watch_.Unlock(); }

bool NtxFile::ChangedOnDisk() const { return watch_.ChangedOnDisk(Path()); }

KCESTATUS NtxFile::LoadPage(uint32_t offset, int depth, int* leafDepth) {
    const std::string where = "page at " + std::to_string(offset);
    if (depth >= kMaxDepth) return Damaged("tree deeper than " + std::to_string(kMaxDepth));
    if (offset % kPageSize != 0 || offset < kPageSize || uint64_t(offset) + kPageSize > size_) {
        return Damaged(where + ": offset outside the file or not on a page boundary");
    }
    if (pages_.count(offset)) return Damaged(where + " is reached twice");
    uint8_t bytes[kPageSize];
    if (KCESTATUS s = raw_.ReadExact(offset, bytes, kPageSize, "index page")) return s;
    auto page = std::make_unique<Page>();
    std::string why;
    if (!DecodePage(bytes, header_, page.get(), &why)) return Damaged(where + ": " + why);
    Page& p = *page;
    pages_[offset] = std::move(page);
    if (p.Leaf()) {
        if (*leafDepth < 0) *leafDepth = depth;
        if (*leafDepth != depth) return Damaged(where + ": leaves at different depths");
        return KCE_SUCCESS;
    }
    if (p.items.empty()) return Damaged(where + ": interior page without keys");
    for (size_t i = 0; i <= p.items.size(); ++i) {
        if (KCESTATUS s = LoadPage(p.Child(i), depth + 1, leafDepth)) return s;
    }
    return KCE_SUCCESS;
}

KCESTATUS NtxFile::Load() {
    pages_.clear();
    free_.Clear();
    dirty_.clear();
    headerDirty_ = false;
    if (KCESTATUS s = raw_.Size(&size_)) return s;
    Remember();
    if (size_ < 2 * kPageSize) {
        return Fail(KCE_WRONG_FILE_FORMAT, "index file " + Path() + " is too short (" +
                                               std::to_string(size_) + " bytes) to be a .ntx");
    }
    uint8_t head[kPageSize];
    if (KCESTATUS s = raw_.ReadExact(0, head, kPageSize, "index header")) return s;
    std::string why;
    if (!DecodeHeader(head, &header_, &why)) {
        return Fail(KCE_WRONG_FILE_FORMAT, "index file " + Path() + " is not a .ntx: " + why);
    }
    int leafDepth = -1;
    if (KCESTATUS s = LoadPage(header_.root, 0, &leafDepth)) {
        pages_.clear();
        return s;
    }
    // The in-order walk must ascend.
    bool first = true, ordered = true;
    Item prev;
    ForEach([&](const Item& e) {
        if (!first && Compare(prev.key, prev.recno, e.key, e.recno) >= 0) ordered = false;
        first = false;
        prev = e;
        return ordered;
    });
    problems_.clear();
    if (!ordered) {
        // What a writer stopped between two page writes may leave: reads go on, check reports
        // it, reindex sets it right.
        problems_.push_back("keys out of order after record " + std::to_string(prev.recno));
    }
    uint32_t bad = 0;
    auto inTree = [&](uint32_t off) { return pages_.count(off) != 0; };
    auto readLink = [&](uint32_t off, uint32_t* link) -> KCESTATUS {
        uint8_t bytes[4];
        if (KCESTATUS s = raw_.ReadExact(off, bytes, 4, "free page")) return s;
        *link = Get32(bytes);
        return KCE_SUCCESS;
    };
    if (KCESTATUS s = free_.Load(header_.freeList, size_, inTree, readLink, &bad)) return s;
    if (bad) {
        pages_.clear();
        return Damaged("free list entry " + std::to_string(bad) + " is not a free page");
    }
    return KCE_SUCCESS;
}

KCESTATUS NtxFile::Open(const std::string& path, bool readOnly, std::unique_ptr<NtxFile>* out) {
    auto file = std::unique_ptr<NtxFile>(new NtxFile());
    if (KCESTATUS s = file->raw_.Open(path, readOnly)) return s;
    if (KCESTATUS s = file->Load()) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

KCESTATUS NtxFile::Create(const std::string& path, const Header& proto,
                          const std::vector<Item>& sorted, std::unique_ptr<NtxFile>* out) {
    auto file = std::unique_ptr<NtxFile>(new NtxFile());
    if (KCESTATUS s = file->raw_.Create(path, false)) return s;
    Header& h = file->header_;
    h = proto;
    h.signature = h.forExpr.empty() ? 6 : 7;
    h.maxKeys = MaxKeysFor(h.keyLength);
    h.halfKeys = uint16_t(h.maxKeys / 2);
    h.root = kPageSize;
    h.freeList = 0;
    file->size_ = 2 * kPageSize;
    file->pages_[kPageSize] = std::make_unique<Page>();
    file->dirty_.insert(kPageSize);
    file->headerDirty_ = true;
    if (KCESTATUS s = file->Rebuild(sorted)) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

KCESTATUS NtxFile::Reload() { return Load(); }

bool NtxFile::Ceiling(const std::string& key, uint32_t recno, bool strict, Item* out) const {
    bool found = false;
    uint32_t off = header_.root;
    while (off) {
        const Page& p = At(off);
        size_t i = LowerIndex(p, key, recno, strict);
        if (i < p.items.size()) {
            *out = p.items[i];
            found = true;
        }
        off = p.Leaf() ? 0 : p.Child(i);
    }
    return found;
}

bool NtxFile::Floor(const std::string& key, uint32_t recno, bool strict, Item* out) const {
    bool found = false;
    uint32_t off = header_.root;
    while (off) {
        const Page& p = At(off);
        // Items before index i are below (key, recno) (or at it, when not strict).
        size_t i = LowerIndex(p, key, recno, !strict);
        if (i > 0) {
            *out = p.items[i - 1];
            found = true;
        }
        off = p.Leaf() ? 0 : p.Child(i);
    }
    return found;
}

void NtxFile::ForEach(const std::function<bool(const Item&)>& fn) const {
    // Depth is bounded by Load's check, so recursion is safe.
    std::function<bool(uint32_t)> walk = [&](uint32_t off) -> bool {
        const Page& p = At(off);
        for (const Item& e : p.items) {
            if (!p.Leaf() && !walk(e.child)) return false;
            if (!fn(e)) return false;
        }
        return p.Leaf() || walk(p.right);
    };
    walk(header_.root);
}

void NtxFile::Audit(std::vector<std::string>* problems) const {
    problems->insert(problems->end(), problems_.begin(), problems_.end());
    for (const auto& [off, page] : pages_) {
        if (off != header_.root && page->items.size() < header_.halfKeys) {
            problems->push_back("page at " + std::to_string(off) + " holds " +
                                std::to_string(page->items.size()) + " keys, fewer than " +
                                std::to_string(header_.halfKeys));
        }
    }
}

KCESTATUS NtxFile::Allocate(uint32_t* offset) {
    if (free_.Take(offset)) {
        fresh_.insert(*offset);  // no node points at a free one
        header_.freeList = free_.Head();
        headerDirty_ = true;
        return KCE_SUCCESS;
    }
    uint64_t at = (size_ + kPageSize - 1) / kPageSize * kPageSize;
    if (at + kPageSize > 0xFFFFFC00u) {
        return Fail(KCE_FILE_WRITE_FAILED, "index file " + Path() + " would pass 4 GB");
    }
    *offset = uint32_t(at);
    size_ = at + kPageSize;
    fresh_.insert(*offset);
    return KCE_SUCCESS;
}

void NtxFile::Release(uint32_t offset) {
    pages_.erase(offset);
    dirty_.erase(offset);
    free_.Give(offset);
    header_.freeList = free_.Head();
    headerDirty_ = true;
}

void NtxFile::InsertNoFlush(Item item) {
    item.child = 0;
    std::vector<Step> path;
    uint32_t off = header_.root;
    while (true) {
        const Page& p = At(off);
        size_t i = LowerIndex(p, item.key, item.recno, false);
        path.push_back({off, i});
        if (p.Leaf()) break;
        off = p.Child(i);
    }
    At(path.back().page)
        .items.insert(At(path.back().page).items.begin() + long(path.back().index),
                      std::move(item));
    dirty_.insert(path.back().page);
    for (size_t level = path.size(); level-- > 0;) {
        const uint32_t pageOff = path[level].page;
        Page& p = At(pageOff);
        if (p.items.size() <= header_.maxKeys) break;
        uint32_t rightOff = 0;
        if (Allocate(&rightOff)) return;  // cannot fail: the file only grows in memory here
        auto right = std::make_unique<Page>();
        size_t mid = p.items.size() / 2;
        Item median = p.items[mid];
        right->items.assign(p.items.begin() + long(mid) + 1, p.items.end());
        right->right = p.right;
        p.items.resize(mid);
        p.right = median.child;
        median.child = pageOff;
        pages_[rightOff] = std::move(right);
        dirty_.insert(rightOff);
        dirty_.insert(pageOff);
        if (level == 0) {
            uint32_t rootOff = 0;
            if (Allocate(&rootOff)) return;
            auto root = std::make_unique<Page>();
            root->items.push_back(median);
            root->right = rightOff;
            pages_[rootOff] = std::move(root);
            dirty_.insert(rootOff);
            header_.root = rootOff;
            headerDirty_ = true;
        } else {
            Page& parent = At(path[level - 1].page);
            size_t i = path[level - 1].index;
            parent.SetChild(i, rightOff);
            parent.items.insert(parent.items.begin() + long(i), median);
            dirty_.insert(path[level - 1].page);
        }
    }
}

KCESTATUS NtxFile::Insert(const std::string& key, uint32_t recno) {
    Item item{key, recno, 0};
    item.key.resize(header_.keyLength, ' ');
    InsertNoFlush(std::move(item));
    return Flush();
}

void NtxFile::FixUnderflow(std::vector<Step>& path) {
    for (size_t level = path.size() - 1; level > 0; --level) {
        const uint32_t off = path[level].page;
        Page& p = At(off);
        if (p.items.size() >= header_.halfKeys) return;
        const uint32_t parentOff = path[level - 1].page;
        Page& parent = At(parentOff);
        const size_t c = path[level - 1].index;
        dirty_.insert(parentOff);
        dirty_.insert(off);
        if (c > 0) {
            Page& left = At(parent.Child(c - 1));
            if (left.items.size() > header_.halfKeys) {
                Item sep = parent.items[c - 1];
                sep.child = left.right;
                p.items.insert(p.items.begin(), sep);
                parent.items[c - 1].key = left.items.back().key;
                parent.items[c - 1].recno = left.items.back().recno;
                left.right = left.items.back().child;
                left.items.pop_back();
                dirty_.insert(parent.Child(c - 1));
                return;
            }
        }
        if (c < parent.items.size()) {
            Page& right = At(parent.Child(c + 1));
            if (right.items.size() > header_.halfKeys) {
                Item sep = parent.items[c];
                sep.child = p.right;
                p.items.push_back(sep);
                p.right = right.items.front().child;
                parent.items[c].key = right.items.front().key;
                parent.items[c].recno = right.items.front().recno;
                right.items.erase(right.items.begin());
                dirty_.insert(parent.Child(c + 1));
                return;
            }
        }
        // Merge with a sibling: the left one when there is one.
        size_t s = c > 0 ? c - 1 : c;  // separator between the two pages
        uint32_t aOff = parent.Child(s), bOff = parent.Child(s + 1);
        Page& a = At(aOff);
        Page& b = At(bOff);
        Item sep = parent.items[s];
        sep.child = a.right;
        a.items.push_back(sep);
        a.items.insert(a.items.end(), b.items.begin(), b.items.end());
        a.right = b.right;
        parent.items.erase(parent.items.begin() + long(s));
        parent.SetChild(s, aOff);
        dirty_.insert(aOff);
        Release(bOff);
        if (level - 1 == 0 && parent.items.empty()) {
            // The root gave its last key away: its only child becomes the root.
            header_.root = aOff;
            headerDirty_ = true;
            Release(parentOff);
            return;
        }
    }
}

KCESTATUS NtxFile::Remove(const std::string& key, uint32_t recno, bool* found) {
    std::string full = key;
    full.resize(header_.keyLength, ' ');
    std::vector<Step> path;
    uint32_t off = header_.root;
    *found = false;
    while (off) {
        const Page& p = At(off);
        size_t i = LowerIndex(p, full, recno, false);
        path.push_back({off, i});
        if (i < p.items.size() && p.items[i].key == full && p.items[i].recno == recno) {
            *found = true;
            break;
        }
        off = p.Leaf() ? 0 : p.Child(i);
    }
    if (!*found) return KCE_SUCCESS;
    const uint32_t holderOff = path.back().page;
    Page& holder = At(holderOff);
    size_t at = path.back().index;
    if (holder.Leaf()) {
        holder.items.erase(holder.items.begin() + long(at));
        dirty_.insert(path.back().page);
    } else {
        // Take the predecessor's place: the last key of the left subtree.
        uint32_t down = holder.Child(at);
        while (true) {
            const Page& p = At(down);
            path.push_back({down, p.items.size()});
            if (p.Leaf()) break;
            down = p.right;
        }
        Page& leaf = At(down);
        holder.items[at].key = leaf.items.back().key;
        holder.items[at].recno = leaf.items.back().recno;
        leaf.items.pop_back();
        dirty_.insert(down);
        dirty_.insert(holderOff);
    }
    FixUnderflow(path);
    return Flush();
}

KCESTATUS NtxFile::Rebuild(const std::vector<Item>& sorted) {
    std::vector<uint32_t> old;
    for (const auto& [off, page] : pages_) old.push_back(off);
    std::sort(old.begin(), old.end(), std::greater<>());
    for (uint32_t off : old) Release(off);
    uint32_t rootOff = 0;
    if (KCESTATUS s = Allocate(&rootOff)) return s;
    pages_[rootOff] = std::make_unique<Page>();
    dirty_.insert(rootOff);
    header_.root = rootOff;
    headerDirty_ = true;
    for (const Item& e : sorted) {
        Item item = e;
        item.key.resize(header_.keyLength, ' ');
        InsertNoFlush(std::move(item));
    }
    return Flush();
}

KCESTATUS NtxFile::Flush() {
    if (KCESTATUS s = free_.Flush([&](uint32_t off, const uint8_t* page) {
            return raw_.WriteAt(off, page, kPageSize);
        })) {
        return s;
    }
    uint8_t bytes[kPageSize];
    // New pages first, then the pages that point at them, then the header (see cdx_file.cpp).
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t off : dirty_) {
            if ((fresh_.count(off) != 0) != (pass == 0)) continue;
            EncodePage(At(off), header_, bytes);
            if (KCESTATUS s = raw_.WriteAt(off, bytes, kPageSize)) return s;
        }
    }
    dirty_.clear();
    fresh_.clear();
    if (headerDirty_) {
        EncodeHeader(header_, bytes);
        if (KCESTATUS s = raw_.WriteAt(0, bytes, kPageSize)) return s;
        headerDirty_ = false;
    }
    Remember();
    return KCE_SUCCESS;
}

}  // namespace kce::ntx
