// MT19937 regeneration and key-stream XOR, eight words at a time (AVX2).
#include "../common/arch.h"
#if VAVIREREZI_X86_64 // built for x86-64 alone

#include <immintrin.h>

#include <cstring>

#include "mt19937_impl.h"

using mt_impl::twist;

#define MT_AVX2 __attribute__((target("avx2")))

namespace {

MT_AVX2 inline __m256i twist8(__m256i cur, __m256i next, __m256i far) {
    const __m256i upper = _mm256_set1_epi32(static_cast<int>(mt_upper_mask));
    const __m256i lower = _mm256_set1_epi32(static_cast<int>(mt_lower_mask));
    const __m256i matrix = _mm256_set1_epi32(static_cast<int>(mt_matrix_a));
    __m256i y = _mm256_or_si256(_mm256_and_si256(cur, upper), _mm256_and_si256(next, lower));
    // All ones where y is odd, selecting the matrix word.
    __m256i odd = _mm256_srai_epi32(_mm256_slli_epi32(y, 31), 31);
    return _mm256_xor_si256(_mm256_xor_si256(far, _mm256_srli_epi32(y, 1)),
                            _mm256_and_si256(odd, matrix));
}

MT_AVX2 inline __m256i load8(const uint32_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

MT_AVX2 inline __m256i temper8(__m256i y) {
    y = _mm256_xor_si256(y, _mm256_srli_epi32(y, 11));
    y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 7),
                                             _mm256_set1_epi32(static_cast<int>(mt_temper_b))));
    y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 15),
                                             _mm256_set1_epi32(static_cast<int>(mt_temper_c))));
    return _mm256_xor_si256(y, _mm256_srli_epi32(y, 18));
}

// Words k to k + 7 of `d` twisted in place, their far words `far` on.
MT_AVX2 inline void twist8_at(uint32_t *d, int k, int far) {
    __m256i r = twist8(load8(d + k), load8(d + k + 1), load8(d + k + far));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + k), r);
}

} // namespace

MT_AVX2 void mt_regenerate_avx2(const MtState *source, MtState *destination) {
    mt_impl::regenerate_by_vectors<8, twist8_at>(source, destination);
}

MT_AVX2 void mt_impl::xor_span_avx2(const uint32_t *words, const uint8_t *in, uint8_t *out,
                                    size_t n) {
    size_t j = 0;
    for (; j + 64 <= n; j += 64, words += 16) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + j));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + j + 32));
        a = _mm256_xor_si256(a, temper8(load8(words)));
        b = _mm256_xor_si256(b, temper8(load8(words + 8)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + j), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + j + 32), b);
    }
    for (; j + 32 <= n; j += 32, words += 8) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + j));
        a = _mm256_xor_si256(a, temper8(load8(words)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + j), a);
    }
    xor_span_plain(words, in + j, out + j, n - j);
}

void mt_xor_keystream_avx2(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out,
                           size_t len, size_t reach) {
    mt_impl::xor_keystream<mt_regenerate_avx2, mt_impl::xor_span_avx2>(state, index, in, out, len,
                                                                       reach);
}

#endif
