#pragma once

#include <cstdint>

// Unsigned integers of 1 to 8 bytes as dBase files keep them: little-endian in the headers of
// tables and indexes, big-endian in the binary fields of level 7 tables.
namespace zendral::dbf
{

inline std::uint64_t GetLe(const char* p, int size)
{
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    }
    return v;
}

inline std::uint64_t GetBe(const char* p, int size)
{
    std::uint64_t v = 0;
    for (int i = 0; i < size; ++i) {
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    }
    return v;
}

inline void PutLe(char* p, std::uint64_t v, int size)
{
    for (int i = 0; i < size; ++i) {
        p[i] = static_cast<char>(v & 0xFF);
        v >>= 8;
    }
}

} // namespace zendral::dbf
