// A compound index file (.cdx): a tag directory (a tree whose keys are the tag names and whose
// record numbers are the offsets of the tags' headers) and one tree per tag. Node layouts are in
// cdx_node.h.
//
// The trees are read whole when a tag is first used and kept in memory; every change writes the
// nodes it touched (new nodes first, the header last), so the file is a valid index after each
// call. A node a removal leaves less than half full is merged with a neighbour when the two fit
// in one. Nodes a change frees go to the tag's free list and are used again before the file grows.
// Keys are ordered by unsigned bytes, equal keys by record number.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/dbf/raw_file.h"
#include "engine/index/cdx/cdx_node.h"
#include "engine/index/file_watch.h"
#include "engine/index/free_pages.h"
#include "engine/kce.h"

namespace kce::cdx {

class CdxFile;

// One tree of the file: a tag, or the tag directory.
class Tree {
  public:
    Tree(CdxFile& file, uint32_t headerOffset, Header header, uint8_t filler)
        : file_(file), headerOffset_(headerOffset), header_(std::move(header)), filler_(filler) {}

    const Header& Head() const { return header_; }
    uint32_t HeaderOffset() const { return headerOffset_; }
    uint16_t KeyLength() const { return header_.keyLength; }
    uint8_t Filler() const { return filler_; }

    // A place in key order: a leaf and an entry of it (leaf kNone: past either end).
    struct Pos {
        uint32_t leaf = kNone;
        size_t index = 0;
        bool Valid() const { return leaf != kNone; }
    };
    Pos First() const;
    Pos Last() const;
    // The first entry at or after (key, recno); with after set, the first one past it.
    Pos Seek(const std::string& key, uint32_t recno, bool after) const;
    Pos Next(Pos p) const;
    Pos Prev(Pos p) const;
    const Entry& At(Pos p) const { return nodes_.at(p.leaf)->entries[p.index]; }

    // Changes; each writes what it touched. Remove answers *found false (and changes nothing)
    // when the entry is not there.
    KCESTATUS Insert(const std::string& key, uint32_t recno);
    KCESTATUS Remove(const std::string& key, uint32_t recno, bool* found);
    // Replaces every entry by `sorted` (ordered by key, then record number).
    KCESTATUS Rebuild(const std::vector<Entry>& sorted);

    // Reads every node of the tree, checking that it is a well-formed tree of this format.
    KCESTATUS Load();
    // Problems a reader would not stop at: interior keys that are not the last key of their
    // child, counts that disagree. Empty when the tree is exactly as this format writes it.
    void Audit(std::vector<std::string>* problems) const;
    size_t NodeCount() const { return nodes_.size(); }

  private:
    friend class CdxFile;
    struct Step {
        uint32_t offset;
        size_t index;
    };
    Node& NodeAt(uint32_t offset) const { return *nodes_.at(offset); }
    void Descend(const std::string& key, uint32_t recno, std::vector<Step>* path) const;
    Pos Settle(Pos p) const;  // moves past empty leaves and past a leaf's end
    KCESTATUS Allocate(uint32_t* offset);
    void Release(uint32_t offset);
    void Touch(uint32_t offset) { dirty_.insert(offset); }
    bool Fits(const Node& node) const;
    // Where an overflowing node is cut so that every part fits: the index of the first entry of
    // each part after the first.
    std::vector<size_t> SplitPoints(const Node& node) const;
    // A node less than half full, which Fix merges with a neighbour when the two fit in one.
    bool UnderFull(const Node& node) const;
    // Merges the child of parentStep with its right neighbour (the last child with its left
    // one) under the same parent, when their entries fit in one node; the other node is freed.
    bool MergeWithNeighbour(const Step& parentStep);
    KCESTATUS Fix(std::vector<Step>& path);
    KCESTATUS Flush();
    KCESTATUS LoadNode(uint32_t offset, int depth, int* leafDepth,
                       std::vector<std::vector<uint32_t>>* levels);

    CdxFile& file_;
    uint32_t headerOffset_;
    Header header_;
    uint8_t filler_;
    std::unordered_map<uint32_t, std::unique_ptr<Node>> nodes_;
    FreePages free_{kNodeSize};
    std::set<uint32_t> dirty_;           // nodes to write
    std::set<uint32_t> fresh_;           // nodes new to the file in this change
    std::vector<std::string> problems_;  // found on reading, reported by Audit
    bool headerDirty_ = false;
    bool loaded_ = false;
};

struct TagInfo {
    std::string name;  // as stored: upper case, no padding
    uint32_t headerOffset = 0;
    Header header;
};

class CdxFile {
  public:
    // Opens a file and reads its header and tag directory; a file that is not a compound index
    // of this format, or whose directory is damaged, gives KCE_WRONG_FILE_FORMAT or
    // KCE_DAMAGED_FILE naming the file, and is not changed.
    static KCESTATUS Open(const std::string& path, bool readOnly, std::unique_ptr<CdxFile>* out);
    // Creates an empty file (no tags); structural sets the structural flag of the file header.
    static KCESTATUS Create(const std::string& path, bool structural,
                            std::unique_ptr<CdxFile>* out);

    const std::string& Path() const { return raw_.Path(); }
    bool Structural() const { return directory_->Head().options & kOptStructural; }
    bool ReadOnly() const { return raw_.ReadOnly(); }
    // The tags in the order they were added (by header offset).
    const std::vector<TagInfo>& Tags() const { return tags_; }
    // The tree of a tag, read on first use (filler: the trailing byte its keys are trimmed of).
    KCESTATUS OpenTag(const std::string& name, uint8_t filler, Tree** out);
    // Adds a tag holding `sorted`. The name is stored upper case (at most 10 characters).
    KCESTATUS AddTag(const std::string& name, const Header& proto, uint8_t filler,
                     const std::vector<Entry>& sorted, Tree** out);
    KCESTATUS DropTag(const std::string& name);
    Tree& Directory() { return *directory_; }

    // Whether another process changed the file since this one last read or wrote it; Reload
    // then reads it again (the trees of open tags too). Trees handed out stay valid.
    bool ChangedOnDisk() const;
    // Holds other processes' changes off while this one reads the file again and changes it
    // (an advisory lock on the file, taken for the length of one change).
    void LockForChange();
    void Unlock();
    KCESTATUS Reload();

    // Problems of the file as a whole (every tag's tree is read).
    KCESTATUS Audit(std::vector<std::string>* problems);

    KCESTATUS ReadPage(uint32_t offset, uint8_t* page, size_t size) const;
    KCESTATUS WritePage(uint32_t offset, const uint8_t* page, size_t size);
    KCESTATUS FileSize(uint64_t* size) const;
    // Makes what was written durable.
    KCESTATUS Sync() { return raw_.Sync(); }
    KCESTATUS Grow(uint32_t bytes, uint32_t* offset);
    KCESTATUS Damaged(const std::string& what) const;

  private:
    friend class Tree;
    KCESTATUS ReadDirectory();
    void Remember();
    Tree* FindTree(const std::string& name);

    dbf::RawFile raw_;
    std::unique_ptr<Tree> directory_;
    std::vector<TagInfo> tags_;
    std::unordered_map<std::string, std::unique_ptr<Tree>> trees_;  // by upper-case name
    std::vector<std::unique_ptr<Tree>> dropped_;
    uint64_t size_ = 0;
    FileWatch watch_;
};

// The name as the directory stores it: upper case.
std::string TagName(const std::string& name);

}  // namespace kce::cdx
