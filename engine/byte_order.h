// Loads and stores of fixed-width numbers in byte buffers: little-endian as record images, DBF
// headers and memo pointers keep them, big-endian as FPT memo files and raw keys do.
#pragma once

#include <cstdint>
#include <cstring>

namespace kce {

inline uint16_t LoadU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline void StoreU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline uint32_t LoadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void StoreU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline uint32_t LoadBigU32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline void StoreBigU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline int64_t LoadI64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return int64_t(v);
}
inline void StoreI64(uint8_t* p, int64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(uint64_t(v) >> (8 * i));
}
// IEEE doubles, little-endian.
inline double LoadDouble(const uint8_t* p) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | p[i];
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}
inline void StoreDouble(uint8_t* p, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(bits >> (8 * i));
}

}  // namespace kce
