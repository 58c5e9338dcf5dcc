// Blowfish byte-sliced with AVX-512 VBMI: batches of 64 blocks, two batches
// (128 blocks) in flight, whose independent work the processor overlaps.
//
// A batch's 64 blocks are transposed into eight byte planes: plane g holds byte g
// of every block, so L is planes 0-3 and R planes 4-7, least significant
// first. Each S-box is split the same way into four 256-byte tables, one per
// byte of its words; a lookup of 64 indices in a 256-byte table is two
// two-register byte permutes (the low seven index bits) and a blend on the
// top bit. The 32-bit additions of the round function are done plane by
// plane, with the carries between planes kept in mask registers.
//
// The transposition of a batch, block j = 8m + t (register m, t-th block in
// it), byte g of a block:
//   loaded:           v[m] byte 8t + g  = byte g of block 8m + t
//   byte permute:     v[m] byte 8g + t  (qword g of v[m]: byte g of blocks 8m..8m+7)
//   qword transpose:  v[g] byte 8m + t  = byte g of block j: plane g
// Both steps are their own inverses, so the way back is the same two steps in
// the other order.
//
// Like the table-based scalar code, this is not constant-time.
#include "../common/arch.h"
#if VAVIREREZI_X86_64 // built for x86-64 alone

#include <cstring>

#include "../common/avx512.h"
#include "../common/wipe.h"
#include "blowfish.h"

#define BF_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace {

constexpr size_t batch_blocks = 64;

// Below this many blocks, slicing the context (4 KiB of tables) and the
// transpositions cost more than the interleaved scalar path takes for the
// whole call; a remainder of at least this many blocks after the whole
// batches runs as a zero-padded batch of its own, a smaller one on the
// interleaved path.
constexpr size_t min_sliced_blocks = 16;

// The byte-plane form of a context: table[box][k][x] is byte k of S[box][x];
// pbyte[i][k] is byte k of the round key in step i (P reversed to decipher).
struct SlicedContext {
    alignas(64) uint8_t table[4][4][256];
    uint8_t pbyte[18][4];
};

struct Planes {
    __m512i b[4]; // byte planes of one 32-bit word per block, least significant first
};

// One 256-byte table as four registers' worth; the compiler is free to use
// the halves straight from memory, which is in the first-level cache.
struct Table {
    __m512i q[4];
};

BF_VBMI inline Table load_table(const uint8_t *table) {
    const __m512i *t = reinterpret_cast<const __m512i *>(table);
    return {{_mm512_load_si512(t), _mm512_load_si512(t + 1), _mm512_load_si512(t + 2),
             _mm512_load_si512(t + 3)}};
}

// Each half of the table is looked up with the low seven bits of the index,
// and the index's top bit picks between the two results.
BF_VBMI inline __m512i lookup(const Table &t, __m512i index, __mmask64 top) {
    __m512i lo = _mm512_permutex2var_epi8(t.q[0], index, t.q[1]);
    __m512i hi = _mm512_permutex2var_epi8(t.q[2], index, t.q[3]);
    return _mm512_mask_blend_epi8(top, lo, hi);
}

// Plane k of a 32-bit addition without its carry in: the bytewise sum, with
// the bytes that overflowed recorded for the carries into plane k+1.
BF_VBMI inline __m512i add_plane(__m512i x, __m512i y, int k, __mmask64 generate[3]) {
    __m512i s = _mm512_add_epi8(x, y);
    if (k < 3)
        generate[k] = _mm512_cmplt_epu8_mask(s, x);
    return s;
}

// The carries of a 32-bit addition whose planes have been added bytewise
// into s[0..3]: generate[k] marks the bytes of plane k that overflowed. A
// carry enters plane k+1 where plane k overflowed, or where it is 0xff and a
// carry entered it; all the masks are known once the sums are, so the three
// carries take a few mask operations instead of a chain through the planes.
BF_VBMI inline void carry_planes(__m512i s[4], const __mmask64 generate[3]) {
    const __m512i ones = _mm512_set1_epi8(-1), one = _mm512_set1_epi8(1);
    __mmask64 c1 = generate[0];
    __mmask64 c2 = _kor_mask64(generate[1], _kand_mask64(_mm512_cmpeq_epi8_mask(s[1], ones), c1));
    __mmask64 c3 = _kor_mask64(generate[2], _kand_mask64(_mm512_cmpeq_epi8_mask(s[2], ones), c2));
    s[1] = _mm512_mask_add_epi8(s[1], c1, s[1], one);
    s[2] = _mm512_mask_add_epi8(s[2], c2, s[2], one);
    s[3] = _mm512_mask_add_epi8(s[3], c3, s[3], one);
}

// F(x) = ((S0[a] + S1[b]) ^ S2[c]) + S3[d], a the most significant byte, on
// one batch. Works plane by plane; each top-bit mask lives only while its
// table is in use, which keeps every mask of the batch in mask registers.
BF_VBMI inline void bf_f_batch(const SlicedContext &sc, const Planes &x, Planes &f) {
    __mmask64 generate[3];
    {
        __mmask64 top0 = _mm512_movepi8_mask(x.b[3]), top1 = _mm512_movepi8_mask(x.b[2]);
        for (int k = 0; k < 4; k++) {
            __m512i a = lookup(load_table(sc.table[0][k]), x.b[3], top0);
            f.b[k] = add_plane(a, lookup(load_table(sc.table[1][k]), x.b[2], top1), k, generate);
        }
    }
    carry_planes(f.b, generate);
    __mmask64 top2 = _mm512_movepi8_mask(x.b[1]);
    for (int k = 0; k < 4; k++)
        f.b[k] = _mm512_xor_si512(f.b[k], lookup(load_table(sc.table[2][k]), x.b[1], top2));
    __mmask64 top3 = _mm512_movepi8_mask(x.b[0]);
    for (int k = 0; k < 4; k++)
        f.b[k] = add_plane(f.b[k], lookup(load_table(sc.table[3][k]), x.b[0], top3), k, generate);
    carry_planes(f.b, generate);
}

// F on NB independent batches, whose work the processor overlaps.
template <int NB>
BF_VBMI inline void bf_f_sliced(const SlicedContext &sc, const Planes (&x)[NB], Planes (&f)[NB]) {
    for (int n = 0; n < NB; n++)
        bf_f_batch(sc, x[n], f[n]);
}

BF_VBMI inline void xor_round_key(Planes &x, const uint8_t pbyte[4]) {
    for (int k = 0; k < 4; k++)
        x.b[k] = _mm512_xor_si512(x.b[k], _mm512_set1_epi8(static_cast<char>(pbyte[k])));
}

// Transposes the 8x8 matrix of 64-bit words held in v[0..7]; its own inverse.
BF_VBMI inline void transpose_qwords(__m512i v[8]) {
    const __m512i half_lo = _mm512_setr_epi64(0, 1, 2, 3, 8, 9, 10, 11);
    const __m512i half_hi = _mm512_setr_epi64(4, 5, 6, 7, 12, 13, 14, 15);
    const __m512i pair_lo = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
    const __m512i pair_hi = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
    for (int r = 0; r < 4; r++) {
        __m512i a = v[r], b = v[r + 4];
        v[r] = _mm512_permutex2var_epi64(a, half_lo, b);
        v[r + 4] = _mm512_permutex2var_epi64(a, half_hi, b);
    }
    for (int q = 0; q < 4; q++) {
        int r = q + (q & 2); // 0, 1, 4, 5
        __m512i a = v[r], b = v[r + 2];
        v[r] = _mm512_permutex2var_epi64(a, pair_lo, b);
        v[r + 2] = _mm512_permutex2var_epi64(a, pair_hi, b);
    }
    for (int r = 0; r < 8; r += 2) {
        __m512i a = v[r], b = v[r + 1];
        v[r] = _mm512_unpacklo_epi64(a, b);
        v[r + 1] = _mm512_unpackhi_epi64(a, b);
    }
}

// Within each register, byte 8t + g moves to 8g + t; its own inverse.
BF_VBMI inline __m512i byte_transpose_index() {
    alignas(64) uint8_t idx[64];
    for (int g = 0; g < 8; g++)
        for (int t = 0; t < 8; t++)
            idx[8 * g + t] = static_cast<uint8_t>(8 * t + g);
    return _mm512_load_si512(idx);
}

// NB batches of 64 blocks: in and out may be the same 512 * NB bytes.
template <int NB>
BF_VBMI void crypt_batches(const SlicedContext &sc, __m512i transpose, const uint8_t *in,
                           uint8_t *out) {
    Planes l[NB], r[NB], f[NB];
    for (int n = 0; n < NB; n++) {
        __m512i v[8];
        for (int m = 0; m < 8; m++)
            v[m] = _mm512_permutexvar_epi8(transpose, _mm512_loadu_si512(in + 512 * n + 64 * m));
        transpose_qwords(v); // v[g] byte j is now byte g of block j
        for (int k = 0; k < 4; k++) {
            l[n].b[k] = v[k];
            r[n].b[k] = v[k + 4];
        }
    }
    for (int i = 0; i < 16; i += 2) {
        for (int n = 0; n < NB; n++)
            xor_round_key(l[n], sc.pbyte[i]);
        bf_f_sliced<NB>(sc, l, f);
        for (int n = 0; n < NB; n++)
            for (int k = 0; k < 4; k++)
                r[n].b[k] = _mm512_ternarylogic_epi32(
                    r[n].b[k], f[n].b[k], _mm512_set1_epi8(static_cast<char>(sc.pbyte[i + 1][k])),
                    ternlog_xor3);
        bf_f_sliced<NB>(sc, r, f);
        for (int n = 0; n < NB; n++)
            for (int k = 0; k < 4; k++)
                l[n].b[k] = _mm512_xor_si512(l[n].b[k], f[n].b[k]);
    }
    for (int n = 0; n < NB; n++) {
        xor_round_key(r[n], sc.pbyte[17]);
        xor_round_key(l[n], sc.pbyte[16]);
        __m512i v[8];
        for (int k = 0; k < 4; k++) {
            v[k] = r[n].b[k]; // the halves trade places at the end
            v[k + 4] = l[n].b[k];
        }
        transpose_qwords(v);
        for (int m = 0; m < 8; m++)
            _mm512_storeu_si512(out + 512 * n + 64 * m, _mm512_permutexvar_epi8(transpose, v[m]));
    }
}

BF_VBMI void slice_context(const BlowfishContext *context, int encrypt, SlicedContext *sc) {
    for (int box = 0; box < 4; box++) {
        for (int j = 0; j < 256; j += 16) {
            __m512i w = _mm512_loadu_si512(&context->s[box][j]);
            for (int k = 0; k < 4; k++)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(&sc->table[box][k][j]),
                                 _mm512_cvtepi32_epi8(_mm512_srli_epi32(w, 8 * k)));
        }
    }
    for (int i = 0; i < 18; i++) {
        uint32_t p = encrypt ? context->p[i] : context->p[17 - i];
        for (int k = 0; k < 4; k++)
            sc->pbyte[i][k] = static_cast<uint8_t>(p >> (8 * k));
    }
}

} // namespace

BF_VBMI void bf_crypt_blocks_vbmi(const uint8_t *input, const BlowfishContext *context,
                                  uint8_t *output, size_t nblocks, int encrypt) {
    if (nblocks < min_sliced_blocks) {
        bf_crypt_blocks_interleaved(input, context, output, nblocks, encrypt);
        return;
    }
    SlicedContext sc;
    slice_context(context, encrypt, &sc);
    const __m512i transpose = byte_transpose_index();
    size_t b = 0;
    for (; b + 2 * batch_blocks <= nblocks; b += 2 * batch_blocks)
        crypt_batches<2>(sc, transpose, input + 8 * b, output + 8 * b);
    for (; b + batch_blocks <= nblocks; b += batch_blocks)
        crypt_batches<1>(sc, transpose, input + 8 * b, output + 8 * b);
    size_t rest = nblocks - b;
    if (rest >= min_sliced_blocks) {
        alignas(64) uint8_t buf[8 * batch_blocks] = {0};
        std::memcpy(buf, input + 8 * b, 8 * rest);
        crypt_batches<1>(sc, transpose, buf, buf);
        std::memcpy(output + 8 * b, buf, 8 * rest);
    } else {
        bf_crypt_blocks_interleaved(input + 8 * b, context, output + 8 * b, rest, encrypt);
    }
    wipe(&sc, sizeof sc); // the key schedule, byte-sliced
}

#endif
