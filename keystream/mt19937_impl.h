// Internals shared by the MT19937 implementations.
#ifndef VAVIREREZI_MT19937_IMPL_H
#define VAVIREREZI_MT19937_IMPL_H

#include "mt19937.h"

namespace mt_impl {

inline uint32_t twist(uint32_t cur, uint32_t next, uint32_t far) {
    uint32_t y = (cur & mt_upper_mask) | (next & mt_lower_mask);
    return far ^ (y >> 1) ^ ((0u - (y & 1u)) & mt_matrix_a);
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
