#include "engine/index/cdx/cdx_node.h"

#include <algorithm>
#include <cstring>

namespace kce::cdx {

namespace {

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t Get32BE(const uint8_t* p) {
    return uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Put32BE(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[3 - i] = uint8_t(v >> (8 * i));
}

int BitLength(uint64_t v) {
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

// Leaf header offsets.
constexpr size_t kLeafHead = 24;
constexpr size_t kLeafRoom = kNodeSize - kLeafHead;  // 488

}  // namespace

bool DecodeHeader(const uint8_t* page, Header* out, std::string* why) {
    Header h;
    h.root = Get32(page);
    h.freeList = Get32(page + 4);
    if (h.freeList == kNone) h.freeList = 0;
    h.keyLength = Get16(page + 12);
    h.options = page[14];
    h.signature = page[15];
    uint16_t order = Get16(page + 502);
    uint16_t forLen = Get16(page + 506);
    uint16_t keyLen = Get16(page + 510);
    if ((h.options & (kOptCompact | kOptCompound)) != (kOptCompact | kOptCompound)) {
        *why = "not a compound index header (options " + std::to_string(h.options) + ")";
        return false;
    }
    if (h.keyLength == 0 || h.keyLength > kMaxKeyLength) {
        *why = "key length " + std::to_string(h.keyLength) + " out of range";
        return false;
    }
    if (order > 1) {
        *why = "unknown key order " + std::to_string(order);
        return false;
    }
    h.descending = order == 1;
    if (h.root % kNodeSize != 0 || h.root < kHeaderSize) {
        *why = "root node offset " + std::to_string(h.root) + " is not a node";
        return false;
    }
    if (h.freeList % kNodeSize != 0) {
        *why = "free list offset " + std::to_string(h.freeList) + " is not a node";
        return false;
    }
    if (keyLen == 0 || forLen == 0 || size_t(keyLen) + forLen > kNodeSize) {
        *why = "expression lengths " + std::to_string(keyLen) + "/" + std::to_string(forLen) +
               " do not fit the expression pool";
        return false;
    }
    const char* pool = reinterpret_cast<const char*>(page + 512);
    if (pool[keyLen - 1] != '\0' || pool[keyLen + forLen - 1] != '\0') {
        *why = "expressions are not NUL-terminated where their lengths say";
        return false;
    }
    h.keyExpr.assign(pool);
    h.forExpr.assign(pool + keyLen);
    if (h.keyExpr.size() + 1 != keyLen || h.forExpr.size() + 1 != forLen) {
        *why = "expression lengths do not match the expressions";
        return false;
    }
    const char* coll = reinterpret_cast<const char*>(page + 494);
    h.collation.assign(coll, strnlen(coll, 8));
    *out = std::move(h);
    return true;
}

void EncodeHeader(const Header& h, uint8_t* page) {
    std::memset(page, 0, kHeaderSize);
    Put32(page, h.root);
    Put32(page + 4, h.freeList);
    Put16(page + 12, h.keyLength);
    page[14] = uint8_t(h.options | kOptCompact | kOptCompound);
    if (h.forExpr.empty()) {
        page[14] = uint8_t(page[14] & ~kOptHasFor);
    } else {
        page[14] |= kOptHasFor;
    }
    page[15] = h.signature;
    std::memcpy(page + 494, h.collation.data(), std::min<size_t>(8, h.collation.size()));
    Put16(page + 502, h.descending ? 1 : 0);
    uint16_t keyLen = uint16_t(h.keyExpr.size() + 1);
    uint16_t forLen = uint16_t(h.forExpr.size() + 1);
    Put16(page + 504, keyLen);
    Put16(page + 506, forLen);
    Put16(page + 510, keyLen);
    std::memcpy(page + 512, h.keyExpr.data(), h.keyExpr.size());
    std::memcpy(page + 512 + keyLen, h.forExpr.data(), h.forExpr.size());
}

bool DecodeNode(const uint8_t* page, uint16_t keyLength, uint8_t filler, Node* out,
                std::string* why) {
    Node n;
    n.attr = Get16(page) & (kAttrRoot | kAttrLeaf);
    size_t count = Get16(page + 2);
    n.left = Get32(page + 4);
    n.right = Get32(page + 8);
    const size_t k = keyLength;
    if (!n.Leaf()) {
        if (count == 0 || count > InteriorCapacity(keyLength)) {
            *why = "interior node holds " + std::to_string(count) + " keys";
            return false;
        }
        n.entries.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* e = page + 12 + i * (k + 8);
            n.entries[i].key.assign(reinterpret_cast<const char*>(e), k);
            n.entries[i].recno = Get32BE(e + k);
            n.entries[i].child = Get32BE(e + k + 4);
        }
        *out = std::move(n);
        return true;
    }
    const int bytes = page[23];
    const int r = page[20], d = page[21], t = page[22];
    if (bytes < 1 || bytes > 8 || r < 1 || r > 32 || d > 16 || t > 16 || r + d + t > 8 * bytes) {
        *why = "leaf entry layout " + std::to_string(r) + "/" + std::to_string(d) + "/" +
               std::to_string(t) + " in " + std::to_string(bytes) + " bytes";
        return false;
    }
    if (count * size_t(bytes) > kLeafRoom) {
        *why = "leaf holds " + std::to_string(count) + " entries";
        return false;
    }
    const uint64_t recMask = (uint64_t(1) << r) - 1;
    const uint64_t dupMask = (uint64_t(1) << d) - 1;
    const uint64_t trailMask = (uint64_t(1) << t) - 1;
    size_t end = kNodeSize;  // where the next entry's stored bytes end
    const size_t floor = kLeafHead + count * size_t(bytes);
    std::string prev;
    n.entries.resize(count);
    for (size_t i = 0; i < count; ++i) {
        uint64_t v = 0;
        for (int b = bytes - 1; b >= 0; --b) v = v << 8 | page[kLeafHead + i * bytes + size_t(b)];
        Entry& e = n.entries[i];
        e.recno = uint32_t(v & recMask);
        size_t dup = size_t((v >> r) & dupMask);
        size_t trail = size_t((v >> (r + d)) & trailMask);
        if (dup + trail > k || (i == 0 && dup != 0)) {
            *why = "leaf entry " + std::to_string(i) + " has counts " + std::to_string(dup) + "+" +
                   std::to_string(trail) + " for a " + std::to_string(k) + "-byte key";
            return false;
        }
        size_t stored = k - dup - trail;
        if (end < floor + stored) {
            *why = "leaf entry " + std::to_string(i) + " runs into the entry array";
            return false;
        }
        end -= stored;
        e.key.reserve(k);
        e.key.assign(prev, 0, dup);
        e.key.append(reinterpret_cast<const char*>(page + end), stored);
        e.key.append(trail, char(filler));
        prev = e.key;
    }
    uint16_t free = Get16(page + 12);
    if (free != end - floor) {
        *why = "leaf free-space count " + std::to_string(free) + " where " +
               std::to_string(end - floor) + " bytes are free";
        return false;
    }
    *out = std::move(n);
    return true;
}

bool EncodeNode(const Node& node, uint16_t keyLength, uint8_t filler, uint8_t* page) {
    std::memset(page, 0, kNodeSize);
    const size_t k = keyLength;
    const size_t count = node.entries.size();
    Put16(page, node.attr);
    Put16(page + 2, uint16_t(count));
    Put32(page + 4, node.left);
    Put32(page + 8, node.right);
    if (!node.Leaf()) {
        if (count > InteriorCapacity(keyLength)) return false;
        for (size_t i = 0; i < count; ++i) {
            uint8_t* e = page + 12 + i * (k + 8);
            std::memcpy(e, node.entries[i].key.data(), k);
            Put32BE(e + k, node.entries[i].recno);
            Put32BE(e + k + 4, node.entries[i].child);
        }
        return true;
    }
    const int d = BitLength(k), t = BitLength(k);
    uint32_t maxRecno = 0;
    for (const Entry& e : node.entries) maxRecno = std::max(maxRecno, e.recno);
    int bytes = count == 0 ? 3 : (std::max(1, BitLength(maxRecno)) + d + t + 7) / 8;
    bytes = std::max(bytes, (1 + d + t + 7) / 8);
    const int r = std::min(32, 8 * bytes - d - t);
    if (count * size_t(bytes) > kLeafRoom) return false;
    size_t end = kNodeSize;
    const size_t floor = kLeafHead + count * size_t(bytes);
    size_t prevTrail = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::string& key = node.entries[i].key;
        size_t trail = 0;
        while (trail < k && uint8_t(key[k - 1 - trail]) == filler) ++trail;
        size_t dup = 0;
        if (i > 0) {
            const std::string& prev = node.entries[i - 1].key;
            size_t limit = std::min(k - trail, k - prevTrail);
            while (dup < limit && prev[dup] == key[dup]) ++dup;
        }
        size_t stored = k - dup - trail;
        if (end < floor + stored) return false;
        end -= stored;
        std::memcpy(page + end, key.data() + dup, stored);
        uint64_t v = node.entries[i].recno | uint64_t(dup) << r | uint64_t(trail) << (r + d);
        for (int b = 0; b < bytes; ++b)
            page[kLeafHead + i * size_t(bytes) + size_t(b)] = uint8_t(v >> (8 * b));
        prevTrail = trail;
    }
    Put16(page + 12, uint16_t(end - floor));
    Put32(page + 14, uint32_t((uint64_t(1) << r) - 1));
    page[18] = uint8_t((1u << d) - 1);
    page[19] = uint8_t((1u << t) - 1);
    page[20] = uint8_t(r);
    page[21] = uint8_t(d);
    page[22] = uint8_t(t);
    page[23] = uint8_t(bytes);
    return true;
}

}  // namespace kce::cdx
