// MT19937 kept close to the published reference code, so that it can be
// checked line by line against it.
#include "mt19937.h"

namespace {

constexpr uint32_t upper_mask = 0x80000000u;
constexpr uint32_t lower_mask = 0x7fffffffu;
constexpr uint32_t mag01[2] = {0u, 0x9908b0dfu}; // indexed by the low bit of y

constexpr uint32_t seed_initial = 19650218u;
constexpr uint32_t seed_mult_linear = 1812433253u;
constexpr uint32_t seed_mult_key = 1664525u;
constexpr uint32_t seed_mult_final = 1566083941u;

inline uint32_t twist(uint32_t cur, uint32_t next, uint32_t far) {
    uint32_t y = (cur & upper_mask) | (next & lower_mask);
    return far ^ (y >> 1) ^ mag01[y & 1u];
}

} // namespace

void mt_seed_by_array(MtState *state, const uint32_t *key, int32_t key_length) {
    uint32_t *mt = state->word;
    mt[0] = seed_initial;
    for (uint32_t i = 1; i < mt_n; i++)
        mt[i] = seed_mult_linear * (mt[i - 1] ^ (mt[i - 1] >> 30)) + i;

    uint32_t i = 1;
    uint32_t j = 0;
    uint32_t klen = static_cast<uint32_t>(key_length);
    for (uint32_t k = mt_n > klen ? mt_n : klen; k; k--) {
        mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * seed_mult_key)) + key[j] + j;
        i++;
        j++;
        if (i >= mt_n) {
            mt[0] = mt[mt_n - 1];
            i = 1;
        }
        if (j >= klen)
            j = 0;
    }
    for (uint32_t k = mt_n - 1; k; k--) {
        mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * seed_mult_final)) - i;
        i++;
        if (i >= mt_n) {
            mt[0] = mt[mt_n - 1];
            i = 1;
        }
    }
    mt[0] = 0x80000000u;
}

void mt_regenerate(const MtState *source, MtState *destination) {
    uint32_t *d = destination->word;
    if (source != destination) {
        for (int k = 0; k < mt_n; k++)
            d[k] = source->word[k];
    }
    int k = 0;
    for (; k < mt_n - mt_m; k++)
        d[k] = twist(d[k], d[k + 1], d[k + mt_m]);
    for (; k < mt_n - 1; k++)
        d[k] = twist(d[k], d[k + 1], d[k + (mt_m - mt_n)]);
    d[mt_n - 1] = twist(d[mt_n - 1], d[0], d[mt_m - 1]);
}

void mt_xor_keystream(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out,
                      size_t len) {
    uint32_t pos = *index;
    size_t j = 0;
    while (j < len) {
        if (pos >= mt_n) {
            mt_regenerate(state, state);
            pos = 0;
        }
        uint32_t w = mt_temper(state->word[pos++]);
        for (int b = 0; b < 4 && j < len; b++, j++)
            out[j] = static_cast<uint8_t>(in[j] ^ (w >> (8 * b)));
    }
    *index = pos;
}
