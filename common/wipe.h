// Overwriting memory that held a key schedule or generator state.
#ifndef VAVIREREZI_WIPE_H
#define VAVIREREZI_WIPE_H

#include <cstddef>
#include <cstring>

// Zeroes `n` bytes at `p` in a way the compiler may not leave out as dead
// stores: the empty asm tells it that the memory is read afterwards.
inline void wipe(void *p, size_t n) {
    std::memset(p, 0, n);
    asm volatile("" : : "r"(p) : "memory");
}

#endif
