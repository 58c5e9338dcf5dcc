// Blowfish, block at a time.
#include "blowfish.h"

#include <cstring>

#include "blowfish_tables.h"
#include "bytes.h"

namespace {

inline uint32_t bf_f(const BlowfishContext *c, uint32_t x) {
    return ((c->s[0][x >> 24] + c->s[1][(x >> 16) & 0xff]) ^ c->s[2][(x >> 8) & 0xff]) +
           c->s[3][x & 0xff];
}

} // namespace

// Two rounds per step, so that the halves trade roles instead of being
// exchanged; after the 16 rounds the final exchange is folded into the stores.
void bf_encrypt_words(const BlowfishContext *context, uint32_t *left, uint32_t *right) {
    const uint32_t *p = context->p;
    uint32_t l = *left, r = *right;
    for (int i = 0; i < 16; i += 2) {
        l ^= p[i];
        r ^= bf_f(context, l);
        r ^= p[i + 1];
        l ^= bf_f(context, r);
    }
    *left = r ^ p[17];
    *right = l ^ p[16];
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
        bf_encrypt_words(context, &l, &r);
        context->p[i] = l;
        context->p[i + 1] = r;
    }
    for (int box = 0; box < 4; box++) {
        for (int j = 0; j < 256; j += 2) {
            bf_encrypt_words(context, &l, &r);
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
