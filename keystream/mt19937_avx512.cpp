// MT19937 regeneration and key-stream XOR, sixteen words at a time (AVX-512).
#include "../common/arch.h"
#if VAVIREREZI_X86_64 // built for x86-64 alone

#include <cstring>

#include "../common/avx512.h"
#include "mt19937_impl.h"

using mt_impl::twist;

#define MT_AVX512 __attribute__((target("avx512f,avx512bw")))

namespace {

constexpr int lanes = 16; // words in a vector

// Regeneration runs in three segments: words [0, seg1_end) read only old
// words, words [seg1_end, seg2_end) read the new word mt_n - mt_m places
// back, and the last word reads the new word 0. In the one-pass block loop
// each long segment is covered by whole vectors up to its `_vectors_end`,
// then by two overlapping vectors: one there and one ending at the segment's
// end (at `_tail`), both computed from the old words before either is stored.
constexpr int seg1_end = mt_n - mt_m;                                               // 227
constexpr int seg1_tail = seg1_end - lanes;                                         // 211
constexpr int seg1_vectors_end = seg1_tail / lanes * lanes;                         // 208
constexpr int seg2_end = mt_n - 1;                                                  // 623
constexpr int seg2_tail = seg2_end - lanes;                                         // 607
constexpr int seg2_vectors_end = seg1_end + (seg2_tail - seg1_end) / lanes * lanes; // 595
static_assert(seg1_vectors_end <= seg1_tail && seg1_tail < seg1_vectors_end + lanes,
              "the two last vectors of a segment overlap");
static_assert(seg2_vectors_end <= seg2_tail && seg2_tail < seg2_vectors_end + lanes,
              "the two last vectors of a segment overlap");

// The bytes of the tail vector that the vector before it has not stored.
constexpr __mmask64 tail_bytes(int vectors_end, int tail) {
    return ~0ull << (4 * (vectors_end + lanes - tail));
}

MT_AVX512 inline __m512i twist16(__m512i cur, __m512i next, __m512i far) {
    const __m512i lower = _mm512_set1_epi32(static_cast<int>(mt_lower_mask));
    const __m512i matrix = _mm512_set1_epi32(static_cast<int>(mt_matrix_a));
    // y = upper bit of cur, lower bits of next: a bitwise select on `lower`.
    __m512i y = _mm512_ternarylogic_epi32(lower, next, cur, ternlog_select);
    __mmask16 odd = _mm512_test_epi32_mask(y, _mm512_set1_epi32(1));
    __m512i r = _mm512_xor_si512(far, _mm512_srli_epi32(y, 1));
    return _mm512_mask_xor_epi32(r, odd, r, matrix);
}

MT_AVX512 inline __m512i load16(const uint32_t *p) {
    return _mm512_loadu_si512(p);
}

// data ^ temper(y), with the last step of the tempering folded into the XOR.
MT_AVX512 inline __m512i temper_xor16(__m512i y, __m512i data) {
    const __m512i b = _mm512_set1_epi32(static_cast<int>(mt_temper_b));
    const __m512i c = _mm512_set1_epi32(static_cast<int>(mt_temper_c));
    y = _mm512_xor_si512(y, _mm512_srli_epi32(y, 11));
    y = _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(y, 7), b, ternlog_xor_and);
    y = _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(y, 15), c, ternlog_xor_and);
    return _mm512_ternarylogic_epi32(data, y, _mm512_srli_epi32(y, 18), ternlog_xor3);
}

} // namespace

// Each segment by whole vectors, then word by word: words 227 to 622 read new
// words 227 places back, far enough behind that sixteen lanes never read a
// word the same vector writes.
MT_AVX512 void mt_regenerate_avx512(const MtState *source, MtState *destination) {
    uint32_t *d = destination->word;
    if (source != destination)
        std::memcpy(d, source->word, sizeof destination->word);
    int k = 0;
    for (; k + lanes <= seg1_end; k += lanes)
        _mm512_storeu_si512(d + k, twist16(load16(d + k), load16(d + k + 1), load16(d + k + mt_m)));
    for (; k < seg1_end; k++)
        d[k] = twist(d[k], d[k + 1], d[k + mt_m]);
    for (; k + lanes <= seg2_end; k += lanes)
        _mm512_storeu_si512(
            d + k, twist16(load16(d + k), load16(d + k + 1), load16(d + k + (mt_m - mt_n))));
    for (; k < seg2_end; k++)
        d[k] = twist(d[k], d[k + 1], d[k + (mt_m - mt_n)]);
    d[mt_n - 1] = twist(d[mt_n - 1], d[0], d[mt_m - 1]);
}

namespace {

// Up to 64 bytes (`r`), with masked loads and stores that touch nothing
// beyond the span or the block.
MT_AVX512 inline void xor_partial(const uint32_t *words, const uint8_t *in, uint8_t *out,
                                  size_t r) {
    __mmask16 word_mask = static_cast<__mmask16>((1u << ((r + 3) / 4)) - 1u);
    __mmask64 byte_mask = r == 64 ? ~0ull : (1ull << r) - 1u;
    __m512i x = temper_xor16(_mm512_maskz_loadu_epi32(word_mask, words),
                             _mm512_maskz_loadu_epi8(byte_mask, in));
    _mm512_mask_storeu_epi8(out, byte_mask, x);
}

} // namespace

MT_AVX512 void mt_impl::xor_span_avx512(const uint32_t *words, const uint8_t *in, uint8_t *out,
                                        size_t n) {
    size_t j = 0;
    for (; j + 128 <= n; j += 128, words += 2 * lanes) {
        __m512i a = temper_xor16(load16(words), _mm512_loadu_si512(in + j));
        __m512i b = temper_xor16(load16(words + lanes), _mm512_loadu_si512(in + j + 64));
        _mm512_storeu_si512(out + j, a);
        _mm512_storeu_si512(out + j + 64, b);
    }
    for (; j < n; j += 64, words += lanes)
        xor_partial(words, in + j, out + j, n - j < 64 ? n - j : 64);
}

namespace {

// Stores, for the bytes in `bytes`, the data at `src` XORed with the
// tempered `words` to `dst`.
MT_AVX512 inline void emit(const uint8_t *src, uint8_t *dst, __m512i words, __mmask64 bytes) {
    _mm512_mask_storeu_epi8(dst, bytes, temper_xor16(words, _mm512_loadu_si512(src)));
}

// The whole-vector case, which is nearly all of the data. Once the data no
// longer fits in the caches, the block loop keeps too few lines in flight for
// the hardware prefetchers alone, so this asks for the lines of both buffers
// a few blocks ahead (a prefetch past the end of a buffer is harmless); and
// it reads the data as two 32-byte halves, which on the machine measured
// streams from memory markedly faster than one 64-byte load here.
MT_AVX512 inline void emit_all(const uint8_t *src, uint8_t *dst, __m512i words) {
    constexpr int ahead = 6144;
    _mm_prefetch(reinterpret_cast<const char *>(src) + ahead, _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char *>(dst) + ahead, _MM_HINT_T0);
    __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
    __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 32));
    __m512i data = _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
    _mm512_storeu_si512(dst, temper_xor16(words, data));
}

// One segment of the block, words [begin, tail + lanes), whose words read the
// word `far` places on: whole vectors up to `vectors_end`, then the two
// overlapping last ones, both computed from the old words before either is
// stored (their overlap gets the same values), the tail one storing only
// the bytes of the words the other did not.
template <int begin, int vectors_end, int tail, int far>
MT_AVX512 inline void regenerate_xor_segment(uint32_t *d, const uint8_t *in, uint8_t *out) {
    for (int k = begin; k + lanes <= vectors_end; k += lanes) {
        __m512i v = twist16(load16(d + k), load16(d + k + 1), load16(d + k + far));
        _mm512_storeu_si512(d + k, v);
        emit_all(in + 4 * k, out + 4 * k, v);
    }
    constexpr int e = vectors_end, t = tail;
    __m512i a = twist16(load16(d + e), load16(d + e + 1), load16(d + e + far));
    __m512i b = twist16(load16(d + t), load16(d + t + 1), load16(d + t + far));
    _mm512_storeu_si512(d + e, a);
    _mm512_storeu_si512(d + t, b);
    emit_all(in + 4 * e, out + 4 * e, a);
    emit(in + 4 * t, out + 4 * t, b, tail_bytes(e, t));
}

} // namespace

// One pass over a whole block: each new vector of words is stored back and,
// tempered, XORed with its 64 bytes of data while still in a register. So no
// scalar word is left over but the last.
MT_AVX512 void mt_impl::regenerate_xor_block_avx512(MtState *state, const uint8_t *in,
                                                    uint8_t *out) {
    uint32_t *d = state->word;
    regenerate_xor_segment<0, seg1_vectors_end, seg1_tail, mt_m>(d, in, out);
    regenerate_xor_segment<seg1_end, seg2_vectors_end, seg2_tail, mt_m - mt_n>(d, in, out);
    d[mt_n - 1] = twist(d[mt_n - 1], d[0], d[mt_m - 1]);
    xor_span_plain(d + mt_n - 1, in + 4 * (mt_n - 1), out + 4 * (mt_n - 1), 4);
}

void mt_xor_keystream_avx512(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out,
                             size_t len) {
    mt_impl::xor_keystream<mt_regenerate_avx512, mt_impl::xor_span_avx512,
                           mt_impl::regenerate_xor_block_avx512>(state, index, in, out, len);
}

#endif
