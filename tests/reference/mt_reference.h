// A reference-style MT19937 for tests and benchmarks: the generator as the
// published reference code writes it, one state with its own position, one
// word at a time, written independently of the project's core.
#ifndef VAVIREREZI_TESTS_MT_REFERENCE_H
#define VAVIREREZI_TESTS_MT_REFERENCE_H

#include <cstddef>
#include <cstdint>

struct RefMt {
    uint32_t mt[624];
    int mti;
};

inline void ref_mt_init_genrand(RefMt *g, uint32_t s) {
    g->mt[0] = s;
    for (g->mti = 1; g->mti < 624; g->mti++) {
        uint32_t prev = g->mt[g->mti - 1];
        g->mt[g->mti] = 1812433253u * (prev ^ (prev >> 30)) + static_cast<uint32_t>(g->mti);
    }
}

inline void ref_mt_init_by_array(RefMt *g, const uint32_t *key, int key_length) {
    ref_mt_init_genrand(g, 19650218u);
    int i = 1, j = 0;
    int k = 624 > key_length ? 624 : key_length;
    for (; k; k--) {
        g->mt[i] = (g->mt[i] ^ ((g->mt[i - 1] ^ (g->mt[i - 1] >> 30)) * 1664525u)) + key[j] +
                   static_cast<uint32_t>(j);
        i++;
        j++;
        if (i >= 624) {
            g->mt[0] = g->mt[623];
            i = 1;
        }
        if (j >= key_length)
            j = 0;
    }
    for (k = 623; k; k--) {
        g->mt[i] = (g->mt[i] ^ ((g->mt[i - 1] ^ (g->mt[i - 1] >> 30)) * 1566083941u)) -
                   static_cast<uint32_t>(i);
        i++;
        if (i >= 624) {
            g->mt[0] = g->mt[623];
            i = 1;
        }
    }
    g->mt[0] = 0x80000000u;
    g->mti = 624;
}

inline uint32_t ref_mt_genrand_int32(RefMt *g) {
    static const uint32_t mag01[2] = {0x0u, 0x9908b0dfu};
    uint32_t y;
    if (g->mti >= 624) {
        int kk;
        for (kk = 0; kk < 624 - 397; kk++) {
            y = (g->mt[kk] & 0x80000000u) | (g->mt[kk + 1] & 0x7fffffffu);
            g->mt[kk] = g->mt[kk + 397] ^ (y >> 1) ^ mag01[y & 0x1u];
        }
        for (; kk < 623; kk++) {
            y = (g->mt[kk] & 0x80000000u) | (g->mt[kk + 1] & 0x7fffffffu);
            g->mt[kk] = g->mt[kk + (397 - 624)] ^ (y >> 1) ^ mag01[y & 0x1u];
        }
        y = (g->mt[623] & 0x80000000u) | (g->mt[0] & 0x7fffffffu);
        g->mt[623] = g->mt[396] ^ (y >> 1) ^ mag01[y & 0x1u];
        g->mti = 0;
    }
    y = g->mt[g->mti++];
    y ^= (y >> 11);
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= (y >> 18);
    return y;
}

// The whole mt_xor_bytes transform, a word at a time: skip to `offset`
// (offsets of 624 and above start at output 624), then XOR.
inline void ref_mt_xor(const uint32_t key[3], uint32_t offset, const uint8_t *in, uint8_t *out,
                       size_t len) {
    RefMt g;
    ref_mt_init_by_array(&g, key, 3);
    uint32_t skip = offset < 624 ? offset : 624;
    for (uint32_t k = 0; k < skip; k++)
        ref_mt_genrand_int32(&g);
    for (size_t j = 0; j < len; j += 4) {
        uint32_t w = ref_mt_genrand_int32(&g);
        for (size_t b = 0; b < 4 && j + b < len; b++)
            out[j + b] = static_cast<uint8_t>(in[j + b] ^ (w >> (8 * b)));
    }
}

#endif
