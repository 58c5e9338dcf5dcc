// MT19937 jump-ahead: the portable implementation, the stream routines and
// the choice between implementations.
//
// The portable implementation works in 64-bit words: x^m mod P by squaring
// and multiplying by x from the top bit of m, each product reduced top-down a
// word at a time with P's 134 low terms; then the words x[m + 1 .. m + 624]
// as the XOR, for each set bit i of g, of the 624 words from x[i + 1] on (a
// loop that the compiler vectorises for the target's baseline).
#include "mt19937_jump.h"

#include <cstring>

#include "../common/dispatch.h"
#include "../common/wipe.h"
#include "mt19937_jump_impl.h"

using namespace mt_jump_impl;

namespace {

// Bit i of a byte to bit 2i of 16 bits: squaring over GF(2).
struct Spread {
    uint16_t of[256];
};
constexpr Spread make_spread() {
    Spread s{};
    for (int b = 0; b < 256; b++)
        for (int i = 0; i < 8; i++)
            if (b >> i & 1)
                s.of[b] = static_cast<uint16_t>(s.of[b] | 1u << (2 * i));
    return s;
}
constexpr Spread spread = make_spread();

inline uint64_t spread32(uint32_t w) {
    return uint64_t{spread.of[w & 0xff]} | uint64_t{spread.of[w >> 8 & 0xff]} << 16 |
           uint64_t{spread.of[w >> 16 & 0xff]} << 32 | uint64_t{spread.of[w >> 24]} << 48;
}

// Reduces `r` (product_words words, with product_lead words below it) into
// `g`, from the top, 512 bits at a time: each piece of the high part XORs
// itself, shifted, into the words below it for each of P's low terms (never
// into itself: P's second term is 623 below its first), a shift and nine
// words for each term.
void reduce_plain(uint64_t *r, uint64_t *g) {
    constexpr int piece = 8;
    static_assert((product_words - (top_word + 1)) % piece == 0, "whole pieces above word 311");
    for (int w0 = product_words - piece; w0 > top_word - piece; w0 -= piece) {
        uint64_t h[piece + 2] = {}; // h[k + 1]: word w0 + k; h[0]: none (no bits come in below)
        for (int k = 0; k < piece; k++)
            h[k + 1] = w0 + k < top_word    ? 0
                       : w0 + k == top_word ? r[w0 + k] & ~top_mask
                                            : r[w0 + k];
        uint64_t *base = r + (w0 - (top_word + 1));
        for (int t = 0; t < low_terms; t++) {
            uint64_t *d = base + low_term.word[t];
            int s = low_term.shift[t];
            for (int k = 0; k <= piece; k++)
                d[k] ^= h[k + 1] << s | (h[k] >> 1) >> (63 - s);
        }
    }
    std::memcpy(g, r, 8 * mt_jump_poly_words);
    g[top_word] &= top_mask;
}

} // namespace

void mt_jump_impl::power_plain(MtJumpScratch *scratch, uint64_t m) {
    uint64_t *g = scratch->poly;
    uint64_t *r = scratch->product + product_lead;
    for (int bit = start_power(scratch, m) - 1; bit >= 0; bit--) {
        for (int k = 0; k < mt_jump_poly_words; k++) {
            r[2 * k] = spread32(static_cast<uint32_t>(g[k]));
            r[2 * k + 1] = spread32(static_cast<uint32_t>(g[k] >> 32));
        }
        if (m >> bit & 1) { // and times x: the square's top bit is below word 624
            for (int k = product_words - 1; k > 0; k--)
                r[k] = r[k] << 1 | r[k - 1] >> 63;
            r[0] <<= 1;
        }
        reduce_plain(r, g);
    }
}

// The words by columns of 48, kept in registers (as GNU C vectors of four
// words, which every target has or the compiler emulates) while every term
// of g XORs its words in.
namespace {
typedef uint32_t Words4 __attribute__((vector_size(16)));
} // namespace

void mt_jump_words_plain(MtJumpScratch *scratch, uint64_t m, uint32_t *out) {
    power_plain(scratch, m);
    const uint32_t *x = sequence_words(scratch);
    uint16_t *term = scratch->term;
    int terms = 0;
    for (int w = 0; w < mt_jump_poly_words; w++)
        for (uint64_t bits = scratch->poly[w]; bits != 0; bits &= bits - 1)
            term[terms++] = static_cast<uint16_t>(64 * w + __builtin_ctzll(bits) + 1);
    constexpr int vectors = 12, columns = 4 * vectors;
    static_assert(mt_n % columns == 0, "whole columns");
    for (int c = 0; c < mt_n; c += columns) {
        Words4 acc[vectors] = {};
        for (int i = 0; i < terms; i++) {
            const uint32_t *src = x + term[i] + c;
            for (int v = 0; v < vectors; v++) {
                Words4 w;
                std::memcpy(&w, src + 4 * v, sizeof w);
                acc[v] ^= w;
            }
        }
        std::memcpy(out + c, acc, sizeof acc);
        wipe(acc, sizeof acc);
    }
}

// The choice between implementations, from the list in mt19937_jump.h.

DISPATCH_DEFINE_CHOICE(mt_jump, MT_JUMP_IMPLEMENTATIONS)

void mt_jump_power_by(int implementation, MtJumpScratch *scratch, uint64_t m) {
    switch (implementation) {
#define MT_JUMP_CALL(name, cpu_test)                                                               \
    case mt_jump_implementation_##name:                                                            \
        return power_##name(scratch, m);
        MT_JUMP_IMPLEMENTATIONS(MT_JUMP_CALL)
#undef MT_JUMP_CALL
    }
}

void mt_stream_jump_by(int implementation, MtStream *stream, const uint32_t *key,
                       int32_t key_length, uint32_t offset, uint64_t position,
                       MtJumpScratch *scratch) {
    MtState *blocks = scratch->sequence;
    mt_seed_by_array(&blocks[0], key, key_length);
    for (int b = 1; b < mt_jump_sequence_blocks; b++)
        mt_regenerate(&blocks[b - 1], &blocks[b]);
    // Output t holds byte `position`; its word and the 623 after it are
    // x[m + 1 .. m + 624] for m = t + 623 (t < 2^62 + 624: no overflow).
    uint64_t t = (offset < mt_n ? offset : mt_n) + position / 4;
    uint64_t m = t + (mt_n - 1);
    switch (implementation) {
#define MT_JUMP_CALL(name, cpu_test)                                                               \
    case mt_jump_implementation_##name:                                                            \
        mt_jump_words_##name(scratch, m, stream->state.word);                                      \
        break;
        MT_JUMP_IMPLEMENTATIONS(MT_JUMP_CALL)
#undef MT_JUMP_CALL
    }
    wipe(blocks, sizeof scratch->sequence);
    stream->used = static_cast<uint32_t>(position % 4);
    stream->index = stream->used != 0 ? 1 : 0;
    stream->position = position;
    stream->walk_end = nullptr;
    stream->walk = 0;
}

void mt_stream_jump(MtStream *stream, const uint32_t *key, int32_t key_length, uint32_t offset,
                    uint64_t position, MtJumpScratch *scratch) {
    mt_stream_jump_by(mt_jump_chosen_implementation(), stream, key, key_length, offset, position,
                      scratch);
}

// The switch points, in bytes: the distance at which a jump costs as much as
// stepping forward with mt_stream_skip (the dispatched regeneration), as
// bench_cores jump measured it on an Intel Xeon (Sapphire Rapids class,
// AVX-512, 2026-12-10): 4.4 MiB for the AVX-512 jump (52 us at 2^20 bytes),
// 27 MiB for the portable one with AVX-512 stepping (where the portable jump
// is chosen, stepping is slower too, so the point lies lower; stepping a
// little too far costs at most a millisecond or so).
uint64_t mt_jump_switch_bytes() {
    static constexpr uint64_t by_implementation[] = {
#if VAVIREREZI_X86_64
        uint64_t{9} << 19, // avx512: 4.5 MiB
#endif
        uint64_t{27} << 20, // plain
    };
    static_assert(sizeof by_implementation / sizeof by_implementation[0] ==
                      mt_jump_implementation_count,
                  "one each");
    return by_implementation[mt_jump_chosen_implementation()];
}

bool mt_stream_seek_steps(const MtStream *stream, uint64_t position) {
    uint64_t switch_bytes = mt_jump_switch_bytes();
    return (position >= stream->position && position - stream->position < switch_bytes) ||
           position < switch_bytes;
}

void mt_stream_seek(MtStream *stream, const uint32_t *key, int32_t key_length, uint32_t offset,
                    uint64_t position, MtJumpScratch *scratch) {
    uint64_t switch_bytes = mt_jump_switch_bytes();
    if (position >= stream->position && position - stream->position < switch_bytes) {
        mt_stream_skip(stream, position - stream->position);
    } else if (position < switch_bytes) {
        mt_stream_seed(stream, key, key_length, offset);
        mt_stream_skip(stream, position);
    } else {
        mt_stream_jump(stream, key, key_length, offset, position, scratch);
    }
}

bool mt_stream_move(MtStream *stream, const uint32_t *key, int32_t key_length, uint32_t offset,
                    uint64_t len, MtJumpScratch *scratch) {
    if (len > UINT64_MAX - stream->position)
        return false;
    mt_stream_seek(stream, key, key_length, offset, stream->position + len, scratch);
    return true;
}
