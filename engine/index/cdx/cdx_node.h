// The pages of a compound index file (.cdx): index headers and tree nodes, decoded to plain
// structures and encoded back. Every integer is little-endian unless marked BE; every pointer is
// an absolute byte offset in the file.
//
// Index header (1024 bytes: the file header at 0, and one per tag)
//
//   off  size  field
//     0     4  root node offset
//     4     4  free-node list head (0 or -1: none); a freed node holds the next one in bytes 0-3
//     8     4  change counter (written 0)
//    12     2  key length K (10 in the tag directory, at most 240)
//    14     1  options: 0x01 unique, 0x08 has a FOR clause, 0x20 compact, 0x40 compound,
//                       0x80 structural (file header only); 0x02 and 0x04 are kept as found
//    15     1  signature (1; 2 marks a collation tag, whose keys are trimmed of 0x00)
//    16    20  counts of the last full build (written 0, never trusted)
//   494     8  collation name, NUL padded (empty for plain byte order)
//   502     2  order: 0 ascending, 1 descending
//   504     2  key pool length (the same as at 510)
//   506     2  FOR pool length, with its NUL (1 when there is no FOR clause)
//   510     2  key pool length, with its NUL
//   512   512  key expression NUL, FOR expression NUL, zeros
//
// Node (512 bytes)
//
//     0     2  attributes: 1 root, 2 leaf (bit 4 is read and ignored)
//     2     2  number of keys n
//     4     4  left sibling (-1: none)
//     8     4  right sibling (-1: none)
//   interior:
//    12  n*(K+8)  entries: key (K bytes), record number (4, BE), child offset (4, BE); the entry
//                 of a child carries the last key of the child's subtree
//   leaf:
//    12     2  free bytes = 488 - n*B - stored key bytes
//    14     4  record-number mask
//    18     1  duplicate-count mask
//    19     1  trailing-count mask
//    20     1  R, bits of the record number
//    21     1  D, bits of the duplicate count
//    22     1  T, bits of the trailing count
//    23     1  B, bytes per entry (R + D + T = 8B)
//    24   n*B  entries: a little-endian B-byte value v; recno = v & mask, dup = v >> R & dmask,
//              trail = v >> (R + D) & tmask
//   ...        the stored key bytes, packed backwards from the end of the node: entry 0's bytes
//              end at 511, entry 1's just before them. A full key is dup bytes of the previous
//              key of the node, then its stored bytes, then trail filler bytes (blanks for
//              character keys, 0x00 otherwise).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kce::cdx {

constexpr uint32_t kNodeSize = 512;
constexpr uint32_t kHeaderSize = 1024;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint16_t kMaxKeyLength = 240;
constexpr uint16_t kTagNameLength = 10;

constexpr uint8_t kOptUnique = 0x01;
constexpr uint8_t kOptHasFor = 0x08;
constexpr uint8_t kOptCompact = 0x20;
constexpr uint8_t kOptCompound = 0x40;
constexpr uint8_t kOptStructural = 0x80;

constexpr uint16_t kAttrRoot = 1;
constexpr uint16_t kAttrLeaf = 2;

struct Header {
    uint32_t root = 0;
    uint32_t freeList = 0;
    uint16_t keyLength = 0;
    uint8_t options = kOptCompact | kOptCompound;
    uint8_t signature = 1;
    bool descending = false;
    std::string collation;
    std::string keyExpr;
    std::string forExpr;
};

// Reads a header; false with *why when it is not one this format allows.
bool DecodeHeader(const uint8_t* page, Header* out, std::string* why);
void EncodeHeader(const Header& h, uint8_t* page);

struct Entry {
    std::string key;  // full K bytes
    uint32_t recno = 0;
    uint32_t child = 0;  // interior nodes only
};

struct Node {
    uint16_t attr = 0;
    uint32_t left = kNone;
    uint32_t right = kNone;
    std::vector<Entry> entries;
    bool Leaf() const { return attr & kAttrLeaf; }
    bool Root() const { return attr & kAttrRoot; }
};

// Decodes a node; false with *why when its bytes are inconsistent.
bool DecodeNode(const uint8_t* page, uint16_t keyLength, uint8_t filler, Node* out,
                std::string* why);
// Encodes a node; false when its entries do not fit in one node.
bool EncodeNode(const Node& node, uint16_t keyLength, uint8_t filler, uint8_t* page);
// The byte a tag's keys are trimmed of: blanks for character keys (NULL-able ones too), 0x00
// for every other key and for every key of a collation tag (signature 2).
inline uint8_t FillerFor(bool character, uint8_t signature) {
    return character && signature != 2 ? ' ' : 0;
}
// How many entries an interior node holds at most.
inline size_t InteriorCapacity(uint16_t keyLength) { return 500 / (keyLength + 8u); }

}  // namespace kce::cdx
