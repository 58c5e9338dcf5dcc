// MT19937 regeneration and key-stream XOR, sixteen words at a time (AVX-512).
#include "../common/arch.h"
#if VAVIREREZI_X86_64 // built for x86-64 alone

#include <immintrin.h>

// GCC 12's AVX-512 shift intrinsics start from a deliberately undefined
// vector, which its own uninitialized-use warnings then report.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <cstring>

#include "mt19937_impl.h"

using mt_impl::twist;

#define MT_AVX512 __attribute__((target("avx512f,avx512bw")))

namespace {

MT_AVX512 inline __m512i twist16(__m512i cur, __m512i next, __m512i far) {
    const __m512i lower = _mm512_set1_epi32(static_cast<int>(mt_impl::lower_mask));
    const __m512i matrix = _mm512_set1_epi32(static_cast<int>(mt_impl::matrix_a));
    // y = upper bit of cur, lower bits of next: a bitwise select on `lower`.
    __m512i y = _mm512_ternarylogic_epi32(lower, next, cur, 0xca);
    __mmask16 odd = _mm512_test_epi32_mask(y, _mm512_set1_epi32(1));
    __m512i r = _mm512_xor_si512(far, _mm512_srli_epi32(y, 1));
    return _mm512_mask_xor_epi32(r, odd, r, matrix);
}

MT_AVX512 inline __m512i load16(const uint32_t *p) {
    return _mm512_loadu_si512(p);
}

// data ^ temper(y), with the last step of the tempering folded into the XOR.
MT_AVX512 inline __m512i temper_xor16(__m512i y, __m512i data) {
    const __m512i b = _mm512_set1_epi32(static_cast<int>(0x9d2c5680u));
    const __m512i c = _mm512_set1_epi32(static_cast<int>(0xefc60000u));
    y = _mm512_xor_si512(y, _mm512_srli_epi32(y, 11));
    y = _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(y, 7), b, 0x78);
    y = _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(y, 15), c, 0x78);
    return _mm512_ternarylogic_epi32(data, y, _mm512_srli_epi32(y, 18), 0x96);
}

} // namespace

// As in the AVX2 version: words 227 to 622 read new words 227 places back,
// far enough behind for sixteen lanes.
MT_AVX512 void mt_regenerate_avx512(const MtState *source, MtState *destination) {
    uint32_t *d = destination->word;
    if (source != destination)
        std::memcpy(d, source->word, sizeof destination->word);
    int k = 0;
    for (; k + 16 <= mt_n - mt_m; k += 16)
        _mm512_storeu_si512(d + k, twist16(load16(d + k), load16(d + k + 1), load16(d + k + mt_m)));
    for (; k < mt_n - mt_m; k++)
        d[k] = twist(d[k], d[k + 1], d[k + mt_m]);
    for (; k + 16 <= mt_n - 1; k += 16)
        _mm512_storeu_si512(
            d + k, twist16(load16(d + k), load16(d + k + 1), load16(d + k + (mt_m - mt_n))));
    for (; k < mt_n - 1; k++)
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
    for (; j + 128 <= n; j += 128, words += 32) {
        __m512i a = temper_xor16(load16(words), _mm512_loadu_si512(in + j));
        __m512i b = temper_xor16(load16(words + 16), _mm512_loadu_si512(in + j + 64));
        _mm512_storeu_si512(out + j, a);
        _mm512_storeu_si512(out + j + 64, b);
    }
    for (; j < n; j += 64, words += 16)
        xor_partial(words, in + j, out + j, n - j < 64 ? n - j : 64);
}

// One pass over a whole block: each new vector of words is stored back and,
// tempered, XORed with its 64 bytes of data while still in a register. The
// vector loops of the two long segments stop short of their ends, where two
// overlapping vectors are both computed from the old words before either is
// stored (their overlap gets the same values), so no scalar word is left
// over but the last.
MT_AVX512 void mt_impl::regenerate_xor_block_avx512(MtState *state, const uint8_t *in,
                                                    uint8_t *out) {
    uint32_t *d = state->word;
    auto emit = [](const uint8_t *src, uint8_t *dst, __m512i words, __mmask64 bytes)
        __attribute__((target("avx512f,avx512bw"))) {
        __m512i x = temper_xor16(words, _mm512_loadu_si512(src));
        _mm512_mask_storeu_epi8(dst, bytes, x);
    };
    // The whole-vector case, which is nearly all of the data. Once the data
    // no longer fits in the caches, this loop keeps too few lines in flight
    // for the hardware prefetchers alone, so it asks for the lines of both
    // buffers a few blocks ahead (a prefetch past the end of a buffer is
    // harmless); and it reads the data as two 32-byte halves, which on the
    // machine measured streams from memory markedly faster than one
    // 64-byte load here.
    auto emit_all = [](const uint8_t *src, uint8_t *dst, __m512i words)
        __attribute__((target("avx512f,avx512bw"))) {
        constexpr int ahead = 6144;
        _mm_prefetch(reinterpret_cast<const char *>(src) + ahead, _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(dst) + ahead, _MM_HINT_T0);
        __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
        __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 32));
        __m512i data = _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
        _mm512_storeu_si512(dst, temper_xor16(words, data));
    };
    int k = 0;
    for (; k + 16 <= 208; k += 16) {
        __m512i v = twist16(load16(d + k), load16(d + k + 1), load16(d + k + mt_m));
        _mm512_storeu_si512(d + k, v);
        emit_all(in + 4 * k, out + 4 * k, v);
    }
    {
        // Words 208-223 and 211-226.
        __m512i a = twist16(load16(d + 208), load16(d + 209), load16(d + 208 + mt_m));
        __m512i b = twist16(load16(d + 211), load16(d + 212), load16(d + 211 + mt_m));
        _mm512_storeu_si512(d + 208, a);
        _mm512_storeu_si512(d + 211, b);
        emit_all(in + 4 * 208, out + 4 * 208, a);
        emit(in + 4 * 211, out + 4 * 211, b, ~0ull << 52); // words 224-226
    }
    for (k = mt_n - mt_m; k + 16 <= 595; k += 16) {
        __m512i v = twist16(load16(d + k), load16(d + k + 1), load16(d + k + (mt_m - mt_n)));
        _mm512_storeu_si512(d + k, v);
        emit_all(in + 4 * k, out + 4 * k, v);
    }
    {
        // Words 595-610 and 607-622.
        __m512i a = twist16(load16(d + 595), load16(d + 596), load16(d + 595 + (mt_m - mt_n)));
        __m512i b = twist16(load16(d + 607), load16(d + 608), load16(d + 607 + (mt_m - mt_n)));
        _mm512_storeu_si512(d + 595, a);
        _mm512_storeu_si512(d + 607, b);
        emit_all(in + 4 * 595, out + 4 * 595, a);
        emit(in + 4 * 607, out + 4 * 607, b, ~0ull << 16); // words 611-622
    }
    d[mt_n - 1] = twist(d[mt_n - 1], d[0], d[mt_m - 1]);
    xor_span_plain(d + mt_n - 1, in + 4 * (mt_n - 1), out + 4 * (mt_n - 1), 4);
}

void mt_xor_keystream_avx512(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out,
                             size_t len) {
    mt_impl::xor_keystream<mt_regenerate_avx512, mt_impl::xor_span_avx512,
                           mt_impl::regenerate_xor_block_avx512>(state, index, in, out, len);
}

#endif
