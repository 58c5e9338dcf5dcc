// A reference-style Blowfish for benchmarks and tests: the cipher as its
// published description writes it, one block at a time, with the halves
// exchanged after every round; written independently of the project's core.
// It takes its initial tables from the caller.
#ifndef VAVIREREZI_TESTS_BF_REFERENCE_H
#define VAVIREREZI_TESTS_BF_REFERENCE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

struct RefBlowfish {
    uint32_t P[18];
    uint32_t S[4][256];
};

inline uint32_t ref_bf_f(const RefBlowfish *c, uint32_t x) {
    uint32_t a = x >> 24, b = (x >> 16) & 0xff, cc = (x >> 8) & 0xff, d = x & 0xff;
    return ((c->S[0][a] + c->S[1][b]) ^ c->S[2][cc]) + c->S[3][d];
}

// Enciphers with the P-array in order, deciphers with it reversed.
inline void ref_bf_rounds(const RefBlowfish *c, uint32_t *xl, uint32_t *xr, bool decrypt) {
    uint32_t L = *xl, R = *xr, t;
    for (int i = 0; i < 16; i++) {
        L ^= c->P[decrypt ? 17 - i : i];
        R ^= ref_bf_f(c, L);
        t = L;
        L = R;
        R = t;
    }
    t = L;
    L = R;
    R = t;
    R ^= c->P[decrypt ? 1 : 16];
    L ^= c->P[decrypt ? 0 : 17];
    *xl = L;
    *xr = R;
}

inline void ref_bf_encrypt(const RefBlowfish *c, uint32_t *xl, uint32_t *xr) {
    ref_bf_rounds(c, xl, xr, false);
}

inline void ref_bf_decrypt(const RefBlowfish *c, uint32_t *xl, uint32_t *xr) {
    ref_bf_rounds(c, xl, xr, true);
}

inline void ref_bf_init(RefBlowfish *c, const uint32_t initial_p[18],
                        const uint32_t initial_s[4][256], const uint8_t *key, int keylen) {
    std::memcpy(c->P, initial_p, sizeof c->P);
    std::memcpy(c->S, initial_s, sizeof c->S);
    int j = 0;
    for (int i = 0; i < 18; i++) {
        uint32_t data = 0;
        for (int k = 0; k < 4; k++) {
            data = (data << 8) | key[j];
            j++;
            if (j >= keylen)
                j = 0;
        }
        c->P[i] ^= data;
    }
    uint32_t L = 0, R = 0;
    for (int i = 0; i < 18; i += 2) {
        ref_bf_encrypt(c, &L, &R);
        c->P[i] = L;
        c->P[i + 1] = R;
    }
    for (int i = 0; i < 4; i++) {
        for (int k = 0; k < 256; k += 2) {
            ref_bf_encrypt(c, &L, &R);
            c->S[i][k] = L;
            c->S[i][k + 1] = R;
        }
    }
}

inline uint32_t ref_load_le(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void ref_store_le(uint8_t *p, uint32_t w) {
    for (int b = 0; b < 4; b++)
        p[b] = uint8_t(w >> (8 * b));
}

// ECB over whole little-endian-half blocks, a block at a time.
inline void ref_bf_ecb(const RefBlowfish *c, const uint8_t *in, uint8_t *out, size_t nblocks,
                       int encrypt) {
    for (size_t b = 0; b < nblocks; b++, in += 8, out += 8) {
        uint32_t L = ref_load_le(in), R = ref_load_le(in + 4);
        if (encrypt)
            ref_bf_encrypt(c, &L, &R);
        else
            ref_bf_decrypt(c, &L, &R);
        ref_store_le(out, L);
        ref_store_le(out + 4, R);
    }
}

#endif
