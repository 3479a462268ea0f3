#pragma once

#include <cstdint>

namespace store {

// The xBase files' integers: little-endian in table, memo and index headers and index nodes,
// big-endian in memo block numbers and the index entries' record numbers (so that one memcmp
// orders a key, then its record number). Buffers of either byte type are taken.
inline uint16_t getLe16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t getLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t getBe32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void putLe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void putBe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (24 - 8 * i));
}

inline void putLe16(char* p, uint16_t v)
{
    putLe16(reinterpret_cast<uint8_t*>(p), v);
}
inline void putLe32(char* p, uint32_t v)
{
    putLe32(reinterpret_cast<uint8_t*>(p), v);
}
inline void putBe32(char* p, uint32_t v)
{
    putBe32(reinterpret_cast<uint8_t*>(p), v);
}

} // namespace store
