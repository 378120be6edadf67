#include "engine/index/free_pages.h"

#include <map>

namespace kce {

void FreePages::Clear() {
    free_.clear();
    freed_.clear();
}

KCESTATUS FreePages::Load(uint32_t head, uint64_t fileSize,
                          const std::function<bool(uint32_t)>& inUse, const ReadLink& read,
                          uint32_t* bad) {
    Clear();
    *bad = 0;
    std::vector<uint32_t> chain;
    std::set<uint32_t> seen;
    for (uint32_t off = head; off != 0;) {
        if (off % pageSize_ != 0 || off < pageSize_ || uint64_t(off) + pageSize_ > fileSize ||
            inUse(off) || !seen.insert(off).second) {
            *bad = off;
            return KCE_SUCCESS;
        }
        chain.push_back(off);
        if (KCESTATUS s = read(off, &off)) return s;
    }
    free_.assign(chain.rbegin(), chain.rend());
    return KCE_SUCCESS;
}

bool FreePages::Take(uint32_t* offset) {
    if (free_.empty()) return false;
    *offset = free_.back();
    free_.pop_back();
    freed_.erase(*offset);
    return true;
}

void FreePages::Give(uint32_t offset) {
    free_.push_back(offset);
    freed_.insert(offset);
}

KCESTATUS FreePages::Flush(const WritePage& write) {
    if (freed_.empty()) return KCE_SUCCESS;
    std::map<uint32_t, uint32_t> next;  // free page -> the one after it in the list
    for (size_t i = 0; i < free_.size(); ++i) next[free_[i]] = i > 0 ? free_[i - 1] : 0;
    std::vector<uint8_t> page(pageSize_, 0);
    for (uint32_t off : freed_) {
        uint32_t link = next.count(off) ? next[off] : 0;
        for (int b = 0; b < 4; ++b) page[size_t(b)] = uint8_t(link >> (8 * b));
        if (KCESTATUS s = write(off, page.data())) return s;
    }
    freed_.clear();
    return KCE_SUCCESS;
}

}  // namespace kce
