// MT19937 jump-ahead with AVX-512, VPCLMULQDQ, GFNI and VBMI.
//
// x^m mod P: each square made by carry-less multiplication of the words by
// themselves, reduced top-down 512 bits at a time with P's low terms (a
// shifted copy of the piece XORed in for each).
//
// The words x[m + j], j = 1 .. 624: for each of the 32 bit positions b, the
// bits b of x[1], x[2], ... form a plane s_b, and bit b of x[m + j] is the
// XOR over the set bits i of g of s_b[i + j - 1]: coefficient 19936 + j - 1
// of the product of G (g reversed: G_u = g_(19936 - u)) and s_b. So the
// sequence is transposed into 32 planes (bytes gathered by VBMI permutes,
// 8 x 8 bit squares transposed by GF2P8AFFINEQB), the twelve diagonals of
// words that make product words 311 to 321 are summed with VPCLMULQDQ for
// each plane, and the 624 bits of each are transposed back into words.
#include "../common/arch.h"
#if VAVIREREZI_X86_64 // built for x86-64 alone

#include <cstring>

#include "../common/avx512.h"
#include "../common/wipe.h"
#include "mt19937_jump_impl.h"

using namespace mt_jump_impl;

#define MT_JUMP_AVX512                                                                             \
    __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,vpclmulqdq,gfni")))

namespace {

constexpr int plane_words = sizeof(MtJumpScratch::planes[0]) / 8; // a plane and its room
constexpr int plane_groups = 322; // 64-word groups of x[1 ..] transposed: planes words 0 .. 321
constexpr int diagonals = 12;     // product words 310 .. 321 as sums u + v
constexpr int out_groups = 10;    // 64-word groups of the 624 words made
static_assert(1 + plane_groups + 8 <= plane_words, "a plane, its zero word and the last loads");
static_assert(1 + 64 * plane_groups <= mt_jump_sequence_words, "the sequence covers the planes");
static_assert(64 * out_groups >= mt_n && out_groups <= 16, "the words made fit plane_out");

// Order of P's low terms in the reduction: 17 apart in turn, so that the
// shifted copies XORed one after another do not overlap in memory (where a
// load would wait on the store before it).
struct TermOrder {
    uint8_t of[low_terms];
};
constexpr TermOrder make_term_order() {
    TermOrder o{};
    for (int i = 0; i < low_terms; i++)
        o.of[i] = static_cast<uint8_t>(i * 17 % low_terms);
    return o;
}
static_assert(low_terms % 17 != 0 && low_terms % 2 == 0, "17 is prime to the number of terms");
constexpr TermOrder term_order = make_term_order();

// The square of 312 words into 624, times x where `times_x`.
MT_JUMP_AVX512 void square(const uint64_t *g, uint64_t *r, bool times_x) {
    const __m512i first = _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0);
    const __m512i second = _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4);
    for (int c = 0; c < mt_jump_poly_words; c += 8) {
        __m512i a = _mm512_loadu_si512(g + c);
        __m512i even = _mm512_clmulepi64_epi128(a, a, 0x00);
        __m512i odd = _mm512_clmulepi64_epi128(a, a, 0x11);
        _mm512_storeu_si512(r + 2 * c, _mm512_permutex2var_epi64(even, first, odd));
        _mm512_storeu_si512(r + 2 * c + 8, _mm512_permutex2var_epi64(even, second, odd));
    }
    if (times_x) { // the top bit of a square is below word 624's bit 1
        __m512i carry_in = _mm512_setzero_si512();
        for (int c = 0; c < product_words; c += 8) {
            __m512i v = _mm512_loadu_si512(r + c);
            __m512i below = _mm512_alignr_epi64(v, carry_in, 7); // words c - 1 .. c + 6
            _mm512_storeu_si512(
                r + c, _mm512_or_si512(_mm512_slli_epi64(v, 1), _mm512_srli_epi64(below, 63)));
            carry_in = v;
        }
    }
}

// The reduction of the portable implementation, 448 bits at a time: a
// piece of seven words, shifted, fills one vector, so each low term costs a
// funnel shift (VPSHLDVQ) and one vector XORed into memory. P's low terms
// in term_order, each its shift and word offset.
struct OrderedTerms {
    uint64_t shift[low_terms]; // 64-bit, as the counts are broadcast
    uint16_t word[low_terms];
};
constexpr OrderedTerms make_ordered_terms() {
    OrderedTerms o{};
    for (int t = 0; t < low_terms; t++) {
        o.shift[t] = low_term.shift[term_order.of[t]];
        o.word[t] = low_term.word[term_order.of[t]];
    }
    return o;
}
constexpr OrderedTerms ordered_term = make_ordered_terms();

MT_JUMP_AVX512 void reduce(uint64_t *r, uint64_t *g) {
    constexpr int piece = 7;
    constexpr int top_piece = product_words - piece;                                       // 617
    constexpr int lowest = top_piece - (top_piece - top_word + piece - 1) / piece * piece; // 309
    static_assert(lowest <= top_word && top_word < lowest + piece, "the last piece holds word 311");
    static_assert(lowest - (top_word + 1) >= -product_lead,
                  "its copies stay in the product's room");
    for (int w0 = product_words - piece; w0 >= lowest; w0 -= piece) {
        __m512i h;
        if (w0 > top_word) {
            h = _mm512_maskz_loadu_epi64(0x7f, r + w0);
        } else { // words below 311 are not in the high part, nor word 311's low bits
            constexpr int at = top_word - lowest;
            constexpr __mmask8 from_top = static_cast<__mmask8>(0x7f & (0xff << at));
            h = _mm512_maskz_loadu_epi64(from_top, r + w0);
            h = _mm512_mask_and_epi64(h, static_cast<__mmask8>(1u << at), h,
                                      _mm512_set1_epi64(static_cast<long long>(~top_mask)));
        }
        __m512i below = _mm512_alignr_epi64(h, _mm512_setzero_si512(), 7); // [0, h0 .. h6]
        uint64_t *base = r + (w0 - (top_word + 1));
        for (int t = 0; t < low_terms; t++) {
            uint64_t *d = base + ordered_term.word[t];
            __m512i count = _mm512_set1_epi64(static_cast<long long>(ordered_term.shift[t]));
            __m512i v = _mm512_shldv_epi64(h, below, count);
            _mm512_storeu_si512(d, _mm512_xor_si512(_mm512_loadu_si512(d), v));
        }
    }
    std::memcpy(g, r, 8 * mt_jump_poly_words);
    g[top_word] &= top_mask;
}

} // namespace

MT_JUMP_AVX512 void mt_jump_impl::power_avx512(MtJumpScratch *scratch, uint64_t m) {
    uint64_t *g = scratch->poly;
    uint64_t *r = scratch->product + product_lead;
    for (int bit = start_power(scratch, m) - 1; bit >= 0; bit--) {
        square(g, r, m >> bit & 1);
        reduce(r, g);
    }
}

namespace {

// The permutes of the transposition. Forward, for 64 words in four vectors
// (word k's byte p at byte 4k + p of the 256): `gather` takes from two
// vectors (32 words) bytes p = 0 and 1 of each word (the low vector), or 2
// and 3 (the high), 32 bytes each, with the words in each run of 8 reversed,
// as the bit-matrix transposition wants them; `bytes8x8` transposes the 8 x 8
// bytes of a vector; `scatter` undoes `gather` without the reversal, and
// `bytes8x8_reversed` is bytes8x8 with each 8 bytes of its result reversed.
struct Permutes {
    uint8_t gather_lo[64], gather_hi[64], scatter_lo[64], scatter_hi[64];
    uint8_t bytes8x8[64], bytes8x8_reversed[64], word_bytes_reversed[64];
};
constexpr Permutes make_permutes() {
    Permutes p{};
    for (int n = 0; n < 32; n++) {
        p.gather_lo[n] = static_cast<uint8_t>(4 * (n ^ 7) + 0);
        p.gather_lo[32 + n] = static_cast<uint8_t>(4 * (n ^ 7) + 1);
        p.gather_hi[n] = static_cast<uint8_t>(4 * (n ^ 7) + 2);
        p.gather_hi[32 + n] = static_cast<uint8_t>(4 * (n ^ 7) + 3);
    }
    for (int i = 0; i < 16; i++)
        for (int b = 0; b < 4; b++) {
            p.scatter_lo[4 * i + b] = static_cast<uint8_t>(32 * b + i);
            p.scatter_hi[4 * i + b] = static_cast<uint8_t>(32 * b + 16 + i);
        }
    for (int q = 0; q < 8; q++)
        for (int r = 0; r < 8; r++) {
            p.bytes8x8[8 * r + q] = static_cast<uint8_t>(8 * q + r);
            p.bytes8x8_reversed[8 * q + r] = static_cast<uint8_t>(8 * (7 - r) + q);
            p.word_bytes_reversed[8 * q + r] = static_cast<uint8_t>(8 * q + 7 - r);
        }
    return p;
}
constexpr Permutes permutes = make_permutes();

// The 8 x 8 bit matrices in each 8 bytes of `a`, transposed (as the
// matrix operand of the affine transformation, applied to the unit bytes).
constexpr long long unit_bytes = 0x8040201008040201;

MT_JUMP_AVX512 inline __m512i load_permute(const uint8_t *p) {
    return _mm512_loadu_si512(p);
}

// 64 words from `x` on into the 32 planes' word `v` (at planes[b][1 + v]).
MT_JUMP_AVX512 inline void words_to_planes(const uint32_t *x, uint64_t *planes, __m512i where,
                                           const __m512i *perm) {
    __m512i z0 = _mm512_loadu_si512(x), z1 = _mm512_loadu_si512(x + 16);
    __m512i z2 = _mm512_loadu_si512(x + 32), z3 = _mm512_loadu_si512(x + 48);
    __m512i t01_lo = _mm512_permutex2var_epi8(z0, perm[0], z1);
    __m512i t01_hi = _mm512_permutex2var_epi8(z0, perm[1], z1);
    __m512i t23_lo = _mm512_permutex2var_epi8(z2, perm[0], z3);
    __m512i t23_hi = _mm512_permutex2var_epi8(z2, perm[1], z3);
    __m512i y[4] = {
        _mm512_shuffle_i64x2(t01_lo, t23_lo, 0x44), _mm512_shuffle_i64x2(t01_lo, t23_lo, 0xee),
        _mm512_shuffle_i64x2(t01_hi, t23_hi, 0x44), _mm512_shuffle_i64x2(t01_hi, t23_hi, 0xee)};
    const __m512i unit = _mm512_set1_epi64(unit_bytes);
    for (int p = 0; p < 4; p++) {
        __m512i bits = _mm512_gf2p8affine_epi64_epi8(unit, y[p], 0);
        __m512i planes8 = _mm512_permutexvar_epi8(perm[2], bits);
        // qword r: plane 8p + r
        _mm512_i64scatter_epi64(planes + 8 * p * plane_words, where, planes8, 8);
    }
}

// The 32 planes' 64 bits in `in` (plane b at in[b]) back into 64 words.
MT_JUMP_AVX512 inline void planes_to_words(const uint64_t *in, uint32_t *out, int words,
                                           const __m512i *perm) {
    const __m512i unit = _mm512_set1_epi64(unit_bytes);
    __m512i w[4];
    for (int p = 0; p < 4; p++) {
        __m512i a = _mm512_permutexvar_epi8(perm[3], _mm512_loadu_si512(in + 8 * p));
        w[p] = _mm512_gf2p8affine_epi64_epi8(unit, a, 0);
    }
    __m512i t01_lo = _mm512_shuffle_i64x2(w[0], w[1], 0x44);
    __m512i t23_lo = _mm512_shuffle_i64x2(w[0], w[1], 0xee);
    __m512i t01_hi = _mm512_shuffle_i64x2(w[2], w[3], 0x44);
    __m512i t23_hi = _mm512_shuffle_i64x2(w[2], w[3], 0xee);
    __m512i z[4] = {_mm512_permutex2var_epi8(t01_lo, perm[4], t01_hi),
                    _mm512_permutex2var_epi8(t01_lo, perm[5], t01_hi),
                    _mm512_permutex2var_epi8(t23_lo, perm[4], t23_hi),
                    _mm512_permutex2var_epi8(t23_lo, perm[5], t23_hi)};
    for (int k = 0; k < 4 && 16 * k < words; k++)
        _mm512_storeu_si512(out + 16 * k, z[k]);
}

// The XOR of a vector's four 128-bit lanes.
MT_JUMP_AVX512 inline __m128i fold_lanes(__m512i v) {
    __m256i h = _mm256_xor_si256(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
    return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

} // namespace

MT_JUMP_AVX512 void mt_jump_words_avx512(MtJumpScratch *scratch, uint64_t m, uint32_t *out) {
    mt_jump_impl::power_avx512(scratch, m);
    const uint32_t *x = sequence_words(scratch);
    const __m512i perm[6] = {
        load_permute(permutes.gather_lo),  load_permute(permutes.gather_hi),
        load_permute(permutes.bytes8x8),   load_permute(permutes.bytes8x8_reversed),
        load_permute(permutes.scatter_lo), load_permute(permutes.scatter_hi)};

    // The planes of x[1 ..]: plane b's word v at planes[b][1 + v], a zero
    // word before it.
    uint64_t *planes = scratch->planes[0];
    constexpr long long pw = plane_words;
    const __m512i where = _mm512_set_epi64(7 * pw, 6 * pw, 5 * pw, 4 * pw, 3 * pw, 2 * pw, pw, 0);
    for (int v = 0; v < plane_groups; v++)
        words_to_planes(x + 1 + 64 * v, planes + 1 + v, where, perm);
    for (int b = 0; b < 32; b++)
        scratch->planes[b][0] = 0;

    // G, word-reversed: Gw[k] = G[311 - k] = bitreverse(h[k]) for h = g x^31
    // (where G_u = g_(19936 - u): the bits reversed across 19968, less 31).
    uint64_t *gw = scratch->product;
    {
        const uint64_t *g = scratch->poly;
        const __m512i swap = load_permute(permutes.word_bytes_reversed);
        __m512i prev = _mm512_setzero_si512();
        for (int c = 0; c < mt_jump_poly_words; c += 8) {
            __m512i a = _mm512_loadu_si512(g + c);
            __m512i below = _mm512_alignr_epi64(a, prev, 7);
            __m512i h = _mm512_or_si512(_mm512_slli_epi64(a, high_shift),
                                        _mm512_srli_epi64(below, 64 - high_shift));
            // bits reversed in each byte, then the bytes in each word
            h = _mm512_gf2p8affine_epi64_epi8(h, _mm512_set1_epi64(unit_bytes), 0);
            _mm512_storeu_si512(gw + c, _mm512_permutexvar_epi8(swap, h));
            prev = a;
        }
    }

    // Each plane's twelve diagonals: sum over k of Gw[k] S[k + d], d = -1 .. 10,
    // is product word 311 + d's low half and word 312 + d's high half.
    for (int b = 0; b < 32; b++) {
        const uint64_t *s = scratch->planes[b] + 1;
        __m512i acc[diagonals];
        for (int d = 0; d < diagonals; d++)
            acc[d] = _mm512_setzero_si512();
        for (int k = 0; k < mt_jump_poly_words; k += 8) {
            __m512i gv = _mm512_loadu_si512(gw + k);
#pragma GCC unroll 12
            for (int d = 0; d < diagonals; d++) {
                __m512i sv = _mm512_loadu_si512(s + k + d - 1);
                acc[d] =
                    _mm512_ternarylogic_epi64(acc[d], _mm512_clmulepi64_epi128(gv, sv, 0x00),
                                              _mm512_clmulepi64_epi128(gv, sv, 0x11), ternlog_xor3);
            }
        }
        uint64_t q[diagonals + 1] = {}; // product words 310 .. 322
        for (int d = 0; d < diagonals; d++) {
            __m128i sum = fold_lanes(acc[d]);
            q[d] ^= static_cast<uint64_t>(_mm_cvtsi128_si64(sum));
            q[d + 1] ^= static_cast<uint64_t>(_mm_extract_epi64(sum, 1));
        }
        // Bits 19936 .. 20559 of the product: word 311's bit 32 on.
        for (int o = 0; o < out_groups; o++)
            scratch->plane_out[o][b] = q[1 + o] >> 32 | q[2 + o] << 32;
    }

    for (int o = 0; o < out_groups; o++)
        planes_to_words(scratch->plane_out[o], out + 64 * o, mt_n - 64 * o, perm);
    wipe(scratch->planes, sizeof scratch->planes);
    wipe(scratch->plane_out, sizeof scratch->plane_out);
}

#endif
