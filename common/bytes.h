// Little-endian word loads and stores on byte arrays of any alignment.
#ifndef VAVIREREZI_BYTES_H
#define VAVIREREZI_BYTES_H

#include <cstdint>

inline uint32_t load32_le(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void store32_le(uint8_t *p, uint32_t w) {
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
    p[2] = static_cast<uint8_t>(w >> 16);
    p[3] = static_cast<uint8_t>(w >> 24);
}

#endif
