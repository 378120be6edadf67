#include "engine/index/xbase_store.h"

namespace kce {

namespace {

// Past every key an index can hold.
const std::string& Highest() {
    static const std::string highest(300, '\xFF');
    return highest;
}

// The file's change lock for the length of one change.
template <typename F>
class ChangeLock {
  public:
    explicit ChangeLock(F& file) : file_(file) { file_.LockForChange(); }
    ~ChangeLock() { file_.Unlock(); }

  private:
    F& file_;
};

bool Less(const KeyPos& a, const KeyPos& b) {
    int c = a.key.compare(b.key);
    return c < 0 || (c == 0 && a.recno < b.recno);
}

}  // namespace

// ---- XbaseStore ----------------------------------------------------------------------------

KCESTATUS XbaseStore::HasOther(const std::string& key, UNSIGNED32 recno, bool* found,
                               UNSIGNED32* other) {
    if (KCESTATUS s = Sync()) return s;
    *found = false;
    Visit(key, [&](const KeyPos& e) {
        if (e.key != key) return false;
        if (e.recno != recno) {
            *found = true;
            if (other) *other = e.recno;
            return false;
        }
        return true;
    });
    return KCE_SUCCESS;
}

KCESTATUS XbaseStore::First(const KeyRange& range, KeyPos* pos, bool* found) {
    if (KCESTATUS s = Sync()) return s;
    *found =
        Ceil(range.hasLo ? range.lo : std::string(), 0, false, pos) && range.Contains(pos->key);
    return KCE_SUCCESS;
}

KCESTATUS XbaseStore::Last(const KeyRange& range, KeyPos* pos, bool* found) {
    if (KCESTATUS s = Sync()) return s;
    *found = (range.hasHi ? FloorOf(range.hi, 0, true, pos)
                          : FloorOf(Highest(), 0xFFFFFFFFu, false, pos)) &&
             range.Contains(pos->key);
    return KCE_SUCCESS;
}

KCESTATUS XbaseStore::After(const KeyPos& from, const KeyRange& range, KeyPos* pos, bool* found) {
    if (KCESTATUS s = Sync()) return s;
    *found = Ceil(from.key, from.recno, true, pos) && range.Contains(pos->key);
    return KCE_SUCCESS;
}

KCESTATUS XbaseStore::Before(const KeyPos& from, const KeyRange& range, KeyPos* pos, bool* found) {
    if (KCESTATUS s = Sync()) return s;
    *found = FloorOf(from.key, from.recno, true, pos) && range.Contains(pos->key);
    return KCE_SUCCESS;
}

KCESTATUS XbaseStore::KeyOf(UNSIGNED32 recno, std::string* key, bool* found) {
    if (KCESTATUS s = Sync()) return s;
    *found = false;
    Visit({}, [&](const KeyPos& e) {
        if (e.recno != recno) return true;
        *key = e.key;
        *found = true;
        return false;
    });
    return KCE_SUCCESS;
}

KCESTATUS XbaseStore::Count(const KeyRange& range, UNSIGNED32* count) {
    if (KCESTATUS s = Sync()) return s;
    *count = 0;
    Visit(range.hasLo ? range.lo : std::string(), [&](const KeyPos& e) {
        if (!range.Contains(e.key)) return false;
        ++*count;
        return true;
    });
    return KCE_SUCCESS;
}

KCESTATUS XbaseStore::CountBefore(const KeyPos& pos, const KeyRange& range, UNSIGNED32* count) {
    if (KCESTATUS s = Sync()) return s;
    *count = 0;
    Visit(range.hasLo ? range.lo : std::string(), [&](const KeyPos& e) {
        if (!range.Contains(e.key) || !Less(e, pos)) return false;
        ++*count;
        return true;
    });
    return KCE_SUCCESS;
}

KCESTATUS XbaseStore::AtOffset(const KeyRange& range, UNSIGNED32 offset, KeyPos* pos, bool* found) {
    if (KCESTATUS s = Sync()) return s;
    *found = false;
    UNSIGNED32 at = 0;
    Visit(range.hasLo ? range.lo : std::string(), [&](const KeyPos& e) {
        if (!range.Contains(e.key)) return false;
        if (at++ < offset) return true;
        *pos = e;
        *found = true;
        return false;
    });
    return KCE_SUCCESS;
}

KCESTATUS XbaseStore::Recnos(const KeyRange& range, std::vector<UNSIGNED32>* out) {
    if (KCESTATUS s = Sync()) return s;
    out->clear();
    Visit(range.hasLo ? range.lo : std::string(), [&](const KeyPos& e) {
        if (!range.Contains(e.key)) return false;
        out->push_back(e.recno);
        return true;
    });
    return KCE_SUCCESS;
}

// ---- CdxTagStore ---------------------------------------------------------------------------

KCESTATUS CdxTagStore::Sync() {
    if (!file_->ChangedOnDisk()) return KCE_SUCCESS;
    return file_->Reload();
}

KCESTATUS CdxTagStore::Drop() {
    if (KCESTATUS s = Sync()) return s;
    return file_->DropTag(tag_);
}

KCESTATUS CdxTagStore::Insert(const std::string& key, UNSIGNED32 recno) {
    ChangeLock lock(*file_);
    if (KCESTATUS s = Sync()) return s;
    return tree_->Insert(key, recno);
}

KCESTATUS CdxTagStore::Remove(const std::string& key, UNSIGNED32 recno) {
    ChangeLock lock(*file_);
    if (KCESTATUS s = Sync()) return s;
    bool found = false;
    return tree_->Remove(key, recno, &found);
}

KCESTATUS CdxTagStore::Rebuild(std::vector<KeyPos> sorted) {
    ChangeLock lock(*file_);
    if (KCESTATUS s = Sync()) return s;
    std::vector<cdx::Entry> entries;
    entries.reserve(sorted.size());
    for (KeyPos& e : sorted) entries.push_back({std::move(e.key), e.recno, 0});
    return tree_->Rebuild(entries);
}

bool CdxTagStore::Ceil(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) {
    auto p = tree_->Seek(key, recno, strict);
    if (!p.Valid()) return false;
    *out = {tree_->At(p).key, tree_->At(p).recno};
    return true;
}

bool CdxTagStore::FloorOf(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) {
    auto p = tree_->Seek(key, recno, !strict);
    p = p.Valid() ? tree_->Prev(p) : tree_->Last();
    if (!p.Valid()) return false;
    *out = {tree_->At(p).key, tree_->At(p).recno};
    return true;
}

void CdxTagStore::Visit(const std::string& from, const std::function<bool(const KeyPos&)>& fn) {
    for (auto p = tree_->Seek(from, 0, false); p.Valid(); p = tree_->Next(p)) {
        if (!fn({tree_->At(p).key, tree_->At(p).recno})) return;
    }
}

// ---- NtxStore ------------------------------------------------------------------------------

KCESTATUS NtxStore::Sync() {
    if (!file_->ChangedOnDisk()) return KCE_SUCCESS;
    return file_->Reload();
}

KCESTATUS NtxStore::Insert(const std::string& key, UNSIGNED32 recno) {
    ChangeLock lock(*file_);
    if (KCESTATUS s = Sync()) return s;
    return file_->Insert(key, recno);
}

KCESTATUS NtxStore::Remove(const std::string& key, UNSIGNED32 recno) {
    ChangeLock lock(*file_);
    if (KCESTATUS s = Sync()) return s;
    bool found = false;
    return file_->Remove(key, recno, &found);
}

KCESTATUS NtxStore::Rebuild(std::vector<KeyPos> sorted) {
    ChangeLock lock(*file_);
    if (KCESTATUS s = Sync()) return s;
    std::vector<ntx::Item> items;
    items.reserve(sorted.size());
    for (KeyPos& e : sorted) items.push_back({std::move(e.key), e.recno, 0});
    return file_->Rebuild(items);
}

bool NtxStore::Ceil(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) {
    ntx::Item item;
    if (!file_->Ceiling(key, recno, strict, &item)) return false;
    *out = {item.key, item.recno};
    return true;
}

bool NtxStore::FloorOf(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) {
    ntx::Item item;
    if (!file_->Floor(key, recno, strict, &item)) return false;
    *out = {item.key, item.recno};
    return true;
}

void NtxStore::Visit(const std::string& from, const std::function<bool(const KeyPos&)>& fn) {
    KeyPos at;
    if (!Ceil(from, 0, false, &at)) return;
    while (fn(at)) {
        if (!Ceil(at.key, at.recno, true, &at)) return;
    }
}

}  // namespace kce
