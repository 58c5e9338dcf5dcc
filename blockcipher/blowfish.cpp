// Blowfish, block at a time.
#include "blowfish.h"

#include <cstring>

#include "blowfish_tables.h"
#include "../common/dispatch.h"
#include "../common/bytes.h"
#include "../common/wipe.h"

namespace {

inline uint32_t bf_f(const BlowfishContext *c, uint32_t x) {
    return ((c->s[0][x >> 24] + c->s[1][(x >> 16) & 0xff]) ^ c->s[2][(x >> 8) & 0xff]) +
           c->s[3][x & 0xff];
}

// Sixteen rounds, two per step so that the halves trade roles instead of
// being exchanged; the exchange after the last round is folded into the
// results.
__attribute__((always_inline)) inline void encrypt_pair(const BlowfishContext *context,
                                                        uint32_t &left, uint32_t &right) {
    const uint32_t *p = context->p;
    uint32_t l = left, r = right;
    for (int i = 0; i < 16; i += 2) {
        l ^= p[i];
        r ^= bf_f(context, l);
        r ^= p[i + 1];
        l ^= bf_f(context, r);
    }
    left = r ^ p[17];
    right = l ^ p[16];
}

} // namespace

void bf_encrypt_words(const BlowfishContext *context, uint32_t *left, uint32_t *right) {
    encrypt_pair(context, *left, *right);
}

void bf_decrypt_words(const BlowfishContext *context, uint32_t *left, uint32_t *right) {
    const uint32_t *p = context->p;
    uint32_t l = *left, r = *right;
    for (int i = 17; i > 1; i -= 2) {
        l ^= p[i];
        r ^= bf_f(context, l);
        r ^= p[i - 1];
        l ^= bf_f(context, r);
    }
    *left = r ^ p[0];
    *right = l ^ p[1];
}

void bf_key_setup(BlowfishContext *context, const uint8_t *key, int32_t key_length) {
    std::memcpy(context->p, bf_initial_p, sizeof context->p);
    std::memcpy(context->s, bf_initial_s, sizeof context->s);

    const uint32_t n = static_cast<uint32_t>(key_length);
    uint32_t k = 0; // position in the key, kept below n
    for (int i = 0; i < 18; i++) {
        uint32_t word = 0;
        for (int b = 0; b < 4; b++) {
            word = (word << 8) | key[k];
            if (++k == n)
                k = 0;
        }
        context->p[i] ^= word;
    }

    uint32_t l = 0, r = 0;
    for (int i = 0; i < 18; i += 2) {
        encrypt_pair(context, l, r);
        context->p[i] = l;
        context->p[i + 1] = r;
    }
    for (int box = 0; box < 4; box++) {
        for (int j = 0; j < 256; j += 2) {
            encrypt_pair(context, l, r);
            context->s[box][j] = l;
            context->s[box][j + 1] = r;
        }
    }
}

void bf_crypt_block(const uint8_t *input, const BlowfishContext *context, uint8_t *output,
                    int encrypt) {
    uint32_t l = load32_le(input);
    uint32_t r = load32_le(input + 4);
    if (encrypt)
        bf_encrypt_words(context, &l, &r);
    else
        bf_decrypt_words(context, &l, &r);
    store32_le(output, l);
    store32_le(output + 4, r);
}

void bf_crypt_bytes(const uint8_t *input, const BlowfishContext *context, uint8_t *output,
                    size_t len, int encrypt) {
    size_t whole = len - len % 8;
    bf_crypt_blocks(input, context, output, whole / 8, encrypt);
    if (whole < len) {
        uint8_t block[8] = {0};
        std::memcpy(block, input + whole, len - whole);
        bf_crypt_block(block, context, block, encrypt);
        std::memcpy(output + whole, block, len - whole);
    }
}

void bf_crypt_blocks_plain(const uint8_t *input, const BlowfishContext *context, uint8_t *output,
                           size_t nblocks, int encrypt) {
    for (size_t b = 0; b < nblocks; b++)
        bf_crypt_block(input + 8 * b, context, output + 8 * b, encrypt);
}

namespace {

// Sixteen rounds on four independent blocks with P-array `p`: the forward
// order enciphers, the reversed order deciphers.
inline void bf_rounds4(const uint32_t *p, const BlowfishContext *c, uint32_t l[4], uint32_t r[4]) {
    for (int i = 0; i < 16; i += 2) {
        for (int k = 0; k < 4; k++)
            l[k] ^= p[i];
        for (int k = 0; k < 4; k++)
            r[k] ^= bf_f(c, l[k]);
        for (int k = 0; k < 4; k++)
            r[k] ^= p[i + 1];
        for (int k = 0; k < 4; k++)
            l[k] ^= bf_f(c, r[k]);
    }
    for (int k = 0; k < 4; k++) {
        uint32_t t = r[k] ^ p[17];
        r[k] = l[k] ^ p[16];
        l[k] = t;
    }
}

} // namespace

void bf_crypt_blocks_interleaved(const uint8_t *input, const BlowfishContext *context,
                                 uint8_t *output, size_t nblocks, int encrypt) {
    uint32_t p[18];
    for (int i = 0; i < 18; i++)
        p[i] = encrypt ? context->p[i] : context->p[17 - i];
    size_t b = 0;
    for (; b + 4 <= nblocks; b += 4) {
        uint32_t l[4], r[4];
        for (int k = 0; k < 4; k++) {
            l[k] = load32_le(input + 8 * (b + k));
            r[k] = load32_le(input + 8 * (b + k) + 4);
        }
        bf_rounds4(p, context, l, r);
        for (int k = 0; k < 4; k++) {
            store32_le(output + 8 * (b + k), l[k]);
            store32_le(output + 8 * (b + k) + 4, r[k]);
        }
    }
    bf_crypt_blocks_plain(input + 8 * b, context, output + 8 * b, nblocks - b, encrypt);
    wipe(p, sizeof p); // the round keys
}

// The choice between implementations, from the list in blowfish.h.

DISPATCH_DEFINE_CHOICE(bf, BF_IMPLEMENTATIONS)

void bf_crypt_blocks_by(int implementation, const uint8_t *input, const BlowfishContext *context,
                        uint8_t *output, size_t nblocks, int encrypt) {
    switch (implementation) {
#define BF_CALL(name, cpu_test)                                                                    \
    case bf_implementation_##name:                                                                 \
        return bf_crypt_blocks_##name(input, context, output, nblocks, encrypt);
        BF_IMPLEMENTATIONS(BF_CALL)
#undef BF_CALL
    }
}

void bf_crypt_blocks(const uint8_t *input, const BlowfishContext *context, uint8_t *output,
                     size_t nblocks, int encrypt) {
    bf_crypt_blocks_by(bf_chosen_implementation(), input, context, output, nblocks, encrypt);
}
