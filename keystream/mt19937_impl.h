// Internals shared by the MT19937 implementations.
#ifndef VAVIREREZI_MT19937_IMPL_H
#define VAVIREREZI_MT19937_IMPL_H

#include <cstring>

#include "mt19937.h"

namespace mt_impl {

inline uint32_t twist(uint32_t cur, uint32_t next, uint32_t far) {
    uint32_t y = (cur & mt_upper_mask) | (next & mt_lower_mask);
    return far ^ (y >> 1) ^ ((0u - (y & 1u)) & mt_matrix_a);
}

// Regeneration by vectors of `lanes` words, TwistVector(d, k, far) storing
// the twist of words k to k + lanes - 1 of `d` (their next words one on,
// their far words `far` on): each segment by whole vectors, then word by
// word. Words 227 to 622 read new words 227 places back, far enough behind
// that a vector never reads a word it writes; word 623 reads the new word 0.
// Always inlined, with no vector code of its own: TwistVector is compiled,
// and inlined, only for the target of the function that calls this.
template <int lanes, void (*TwistVector)(uint32_t *, int, int)>
__attribute__((always_inline)) inline void regenerate_by_vectors(const MtState *source,
                                                                 MtState *destination) {
    static_assert(lanes <= mt_n - mt_m, "a vector reads no word it writes");
    uint32_t *d = destination->word;
    if (source != destination)
        std::memcpy(d, source->word, sizeof destination->word);
    int k = 0;
    for (; k + lanes <= mt_n - mt_m; k += lanes)
        TwistVector(d, k, mt_m);
    for (; k < mt_n - mt_m; k++)
        d[k] = twist(d[k], d[k + 1], d[k + mt_m]);
    for (; k + lanes <= mt_n - 1; k += lanes)
        TwistVector(d, k, mt_m - mt_n);
    for (; k < mt_n - 1; k++)
        d[k] = twist(d[k], d[k + 1], d[k + (mt_m - mt_n)]);
    d[mt_n - 1] = twist(d[mt_n - 1], d[0], d[mt_m - 1]);
}

// XORs `n` bytes with the tempered `words` (ceil(n / 4) of them are read).
void xor_span_plain(const uint32_t *words, const uint8_t *in, uint8_t *out, size_t n);
#if VAVIREREZI_X86_64
void xor_span_avx2(const uint32_t *words, const uint8_t *in, uint8_t *out, size_t n);
void xor_span_avx512(const uint32_t *words, const uint8_t *in, uint8_t *out, size_t n);
#endif

// Regenerates `state` in place, then XORs a whole block's worth of bytes
// (4 * mt_n) with it, `nblocks` times; implementations may do both in one
// pass, and may work on a copy of the state of their own meanwhile. `reach`
// is how far the data these blocks belong to runs through memory (the call's
// whole data, or a stream's contiguous walk to its end), by which a wide
// implementation may choose how to meet memory; it does not change the bytes.
template <void (*Regenerate)(const MtState *, MtState *),
          void (*XorSpan)(const uint32_t *, const uint8_t *, uint8_t *, size_t)>
void regenerate_then_xor(MtState *state, const uint8_t *in, uint8_t *out, size_t nblocks,
                         size_t /* reach */) {
    for (size_t b = 0; b < nblocks; b++) {
        Regenerate(state, state);
        XorSpan(state->word, in + 4 * mt_n * b, out + 4 * mt_n * b, 4 * mt_n);
    }
}

#if VAVIREREZI_X86_64
void regenerate_xor_blocks_avx512(MtState *state, const uint8_t *in, uint8_t *out, size_t nblocks,
                                  size_t reach);

// The AVX-512 block loop's paths (for data in the caches: prefetching or not,
// buffers off a 64-byte line met as they lie, realigned or rotated; for data
// from memory) are taken by the size of a call's whole blocks and the
// buffers' alignment, as a tuning says; mt_xor_keystream_avx512 takes the
// one for this CPU's vendor. The tunings by number, for the tests and the
// benchmark (the vendors' first, then some that force a path at every size):
constexpr int avx512_tuning_count = 5;
const char *avx512_tuning_name(int tuning);
void xor_keystream_avx512_tuned(int tuning, MtState *state, uint32_t *index, const uint8_t *in,
                                uint8_t *out, size_t len, size_t reach);
#endif

// The key-stream loop, common to every implementation: spans of whole
// blocks, regenerating in place when a block is used up.
template <void (*Regenerate)(const MtState *, MtState *),
          void (*XorSpan)(const uint32_t *, const uint8_t *, uint8_t *, size_t),
          void (*RegenerateXorBlocks)(MtState *, const uint8_t *, uint8_t *, size_t,
                                      size_t) = regenerate_then_xor<Regenerate, XorSpan>>
void xor_keystream(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out, size_t len,
                   size_t reach) {
    constexpr size_t block_bytes = 4 * mt_n;
    uint32_t pos = *index;
    size_t j = 0;
    while (j < len) {
        if (pos >= mt_n) {
            if (size_t blocks = (len - j) / block_bytes; blocks > 0) {
                RegenerateXorBlocks(state, in + j, out + j, blocks, reach);
                j += blocks * block_bytes;
                pos = mt_n;
                continue;
            }
            Regenerate(state, state);
            pos = 0;
        }
        size_t avail = 4 * static_cast<size_t>(mt_n - pos);
        size_t n = len - j < avail ? len - j : avail;
        XorSpan(state->word + pos, in + j, out + j, n);
        pos += static_cast<uint32_t>((n + 3) / 4);
        j += n;
    }
    *index = pos;
}

} // namespace mt_impl

#endif
