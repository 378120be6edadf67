// A single-index file (.ntx): one B-tree of 1024-byte pages. Integers are little-endian; every
// page pointer is an absolute byte offset.
//
// Header (page 0)
//
//   off  size  field
//     0     2  signature: 6 (3 older writers; 7 = 6|1 when the index has a FOR condition)
//     2     2  version word (1 when written here; kept as found)
//     4     4  root page offset
//     8     4  first free page offset (0: none); a free page holds the next one in bytes 0-3
//    12     2  item size = K + 8
//    14     2  key length K
//    16     2  decimals of a numeric key
//    18     2  M, the most keys of a page: floor(1020 / (K + 10)) - 1, made even
//    20     2  M / 2, the fewest keys of a page other than the root
//    22   256  key expression, NUL-terminated
//   278     1  unique flag
//   280     1  descending flag (written only by this program's choice; see docs/formats/ntx.md)
//   282   256  FOR condition, NUL-terminated (signature 7 only)
//
// Key page
//
//     0     2  n, keys in the page
//     2  2(M+1) offsets of the item slots inside the page, in key order; the slot at offs[n]
//              carries only the rightmost child pointer
//   ...  (M+1)(K+8) item slots: child page offset (4; 0 in a leaf), record number (4), key (K)
//
// A classic B-tree: interior keys are real entries; child i holds the keys below key i; an
// in-order walk gives ascending key bytes, equal keys by ascending record number.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/dbf/raw_file.h"
#include "engine/index/file_watch.h"
#include "engine/index/free_pages.h"
#include "engine/kce.h"

namespace kce::ntx {

constexpr uint32_t kPageSize = 1024;
constexpr uint16_t kMaxKeyLength = 256;

struct Header {
    uint16_t signature = 6;
    uint16_t version = 1;
    uint32_t root = 0;
    uint32_t freeList = 0;
    uint16_t keyLength = 0;
    uint16_t decimals = 0;
    uint16_t maxKeys = 0;
    uint16_t halfKeys = 0;
    bool unique = false;
    bool descending = false;
    std::string keyExpr;
    std::string forExpr;
};

// M for a key length, as other writers compute it.
uint16_t MaxKeysFor(uint16_t keyLength);

bool DecodeHeader(const uint8_t* page, Header* out, std::string* why);
void EncodeHeader(const Header& h, uint8_t* page);

struct Item {
    std::string key;
    uint32_t recno = 0;
    uint32_t child = 0;  // page of the keys below this one; 0 in a leaf
};

struct Page {
    std::vector<Item> items;
    uint32_t right = 0;  // page of the keys above every key of this page; 0 in a leaf
    bool Leaf() const { return right == 0; }
    uint32_t Child(size_t i) const { return i < items.size() ? items[i].child : right; }
    void SetChild(size_t i, uint32_t page) {
        if (i < items.size()) {
            items[i].child = page;
        } else {
            right = page;
        }
    }
};

bool DecodePage(const uint8_t* bytes, const Header& h, Page* out, std::string* why);
void EncodePage(const Page& page, const Header& h, uint8_t* bytes);

class NtxFile {
  public:
    // Opens a file, reading and checking its header and every page; a file that is not an
    // index of this format gives KCE_WRONG_FILE_FORMAT, a damaged one KCE_DAMAGED_FILE, and
    // neither is changed.
    static KCESTATUS Open(const std::string& path, bool readOnly, std::unique_ptr<NtxFile>* out);
    // Creates a file holding `sorted` (ordered by key, then record number).
    static KCESTATUS Create(const std::string& path, const Header& proto,
                            const std::vector<Item>& sorted, std::unique_ptr<NtxFile>* out);

    const std::string& Path() const { return raw_.Path(); }
    const Header& Head() const { return header_; }
    bool ReadOnly() const { return raw_.ReadOnly(); }

    // The first entry at or after (key, recno) (past it when strict); false when none.
    bool Ceiling(const std::string& key, uint32_t recno, bool strict, Item* out) const;
    // The last entry at or before (key, recno) (before it when strict); false when none.
    bool Floor(const std::string& key, uint32_t recno, bool strict, Item* out) const;
    // Every entry in key order until fn answers false.
    void ForEach(const std::function<bool(const Item&)>& fn) const;

    KCESTATUS Insert(const std::string& key, uint32_t recno);
    KCESTATUS Remove(const std::string& key, uint32_t recno, bool* found);
    KCESTATUS Rebuild(const std::vector<Item>& sorted);
    // Pages that hold fewer keys than other writers allow. Empty for a tree written here.
    void Audit(std::vector<std::string>* problems) const;

    bool ChangedOnDisk() const;
    // Holds other processes' changes off while this one reads the file again and changes it
    // (an advisory lock on the file, taken for the length of one change).
    void LockForChange();
    void Unlock();
    KCESTATUS Reload();

  private:
    struct Step {
        uint32_t page;
        size_t index;
    };
    KCESTATUS Load();
    KCESTATUS LoadPage(uint32_t offset, int depth, int* leafDepth);
    KCESTATUS Damaged(const std::string& what) const;
    Page& At(uint32_t offset) const { return *pages_.at(offset); }
    KCESTATUS Allocate(uint32_t* offset);
    void Release(uint32_t offset);
    void InsertNoFlush(Item item);
    void FixUnderflow(std::vector<Step>& path);
    KCESTATUS Flush();
    void Remember();

    dbf::RawFile raw_;
    Header header_;
    uint64_t size_ = 0;
    std::unordered_map<uint32_t, std::unique_ptr<Page>> pages_;
    FreePages free_{kPageSize};
    std::set<uint32_t> dirty_;
    std::set<uint32_t> fresh_;           // pages new to the file in this change
    std::vector<std::string> problems_;  // found on reading, reported by Audit
    bool headerDirty_ = false;
    FileWatch watch_;
};

}  // namespace kce::ntx
