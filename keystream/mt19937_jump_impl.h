// Internals shared by the jump's implementations: P's low terms as word
// offsets and shifts, for reducing a product top-down.
#ifndef VAVIREREZI_MT19937_JUMP_IMPL_H
#define VAVIREREZI_MT19937_JUMP_IMPL_H

#include <cstring>

#include "mt19937_jump.h"
#include "mt19937_jump_poly.h"

namespace mt_jump_impl {

static_assert(sizeof(MtState) == 4 * mt_n, "the sequence's blocks lie end to end");
static_assert(mt_jump_poly_exponents[0] == mt_jump_degree, "P's degree, highest term first");
static_assert(mt_jump_degree - mt_jump_poly_exponents[1] > 8 * 64,
              "a 512-bit piece of the high half reduces below itself in one pass");

// The sequence's words, x[0] on, across the blocks.
inline const uint32_t *sequence_words(const MtJumpScratch *scratch) {
    return scratch->sequence[0].word;
}

// A product of two polynomials below P has words 0 .. 2 * 312 - 1; the top
// 31 bits of word 311 and the words above are reduced. A word w of the high
// part holds the coefficients of x^(64 w + b) = x^(64 (w - 312) + 31 + b)
// x^19937, and x^19937 = the sum of x^e over P's low terms e, so its
// bits go, shifted, to word (w - 312) + low_word[t] at low_shift[t] for each
// low term t: word offsets from -1 (the word under word 311's high bits) on.
constexpr int low_terms = mt_jump_poly_terms - 1;                    // 134
constexpr int high_shift = 64 * mt_jump_poly_words - mt_jump_degree; // 31
struct LowTerms {
    uint16_t word[low_terms];
    uint8_t shift[low_terms];
};
constexpr LowTerms make_low_terms() {
    LowTerms t{};
    for (int i = 0; i < low_terms; i++) {
        int e = mt_jump_poly_exponents[i + 1] + high_shift;
        t.word[i] = static_cast<uint16_t>(e / 64);
        t.shift[i] = static_cast<uint8_t>(e % 64);
    }
    return t;
}
inline constexpr LowTerms low_term = make_low_terms();

// Bits of word 311 that belong below the degree.
constexpr int top_word = mt_jump_poly_words - 1;             // 311
constexpr int top_bits = mt_jump_degree - 64 * top_word;     // 33
constexpr uint64_t top_mask = (uint64_t{1} << top_bits) - 1; // those bits
constexpr int product_words = 2 * mt_jump_poly_words;        // 624
constexpr int product_lead = 8;                              // pad words below

// The start of x^m mod P by each implementation: m's leading bits give
// x^e directly (e < the degree) in scratch->poly, and the product's words
// are cleared; returns how many bits of m are left, each then taken from
// the top by a square (times x where the bit is set) and a reduction.
inline int start_power(MtJumpScratch *scratch, uint64_t m) {
    int length = 64 - __builtin_clzll(m | 1);
    int take = length < 14 ? length : 14; // 2^14 <= 19937
    uint32_t lead = static_cast<uint32_t>(m >> (length - take));
    std::memset(scratch->poly, 0, sizeof scratch->poly);
    scratch->poly[lead / 64] = uint64_t{1} << (lead % 64);
    std::memset(scratch->product, 0, sizeof scratch->product);
    return length - take;
}

// g = x^m mod P into scratch->poly, by each implementation.
#define MT_JUMP_POWER_DECLARE(name, cpu_test) void power_##name(MtJumpScratch *scratch, uint64_t m);
MT_JUMP_IMPLEMENTATIONS(MT_JUMP_POWER_DECLARE)
#undef MT_JUMP_POWER_DECLARE

} // namespace mt_jump_impl

#endif
