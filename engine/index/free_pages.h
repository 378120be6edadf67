// The free pages of an xBase index file (.cdx nodes, .ntx pages), as both formats keep them: a
// list threaded through the pages themselves, each free page holding the offset of the next one
// in its first four bytes (little-endian, 0 ending the list), its head in the file's header.
//
// A page is taken from the head of the list before the file grows, and a page given back becomes
// the head; the head page's own link never changes when it is taken, so only the pages freed
// since the last Flush have links to write. The owner keeps the head in its header: Head()
// answers it after every change.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "engine/kce.h"

namespace kce {

class FreePages {
  public:
    // Reads a link: the four bytes at the start of the page at offset.
    using ReadLink = std::function<KCESTATUS(uint32_t offset, uint32_t* link)>;
    // Writes a whole page.
    using WritePage = std::function<KCESTATUS(uint32_t offset, const uint8_t* page)>;

    explicit FreePages(uint32_t pageSize) : pageSize_(pageSize) {}

    void Clear();
    // Reads the list that starts at head. An entry that cannot be a free page (not on a page
    // boundary, the first page, past the end of a file of fileSize bytes, a page inUse, or one
    // met before) stops the reading, the list left empty, with *bad set to it (0 otherwise).
    KCESTATUS Load(uint32_t head, uint64_t fileSize, const std::function<bool(uint32_t)>& inUse,
                   const ReadLink& read, uint32_t* bad);
    // Takes the head of the list for use; false when it is empty.
    bool Take(uint32_t* offset);
    // Gives a page back: it becomes the head.
    void Give(uint32_t offset);
    // The head of the list, 0 when it is empty.
    uint32_t Head() const { return free_.empty() ? 0 : free_.back(); }
    // Writes the links of the pages freed since the last Flush, each as a page of zeros but its
    // link.
    KCESTATUS Flush(const WritePage& write);

  private:
    uint32_t pageSize_;
    std::vector<uint32_t> free_;  // the list, its head last
    std::set<uint32_t> freed_;    // pages whose links are to be written
};

}  // namespace kce
