// MT19937 regeneration and key-stream XOR, sixteen words at a time (AVX-512).
#include "../common/arch.h"
#if VAVIREREZI_X86_64 // built for x86-64 alone

#include <cstring>

#include "../common/avx512.h"
#include "../common/wipe.h"
#include "../common/cpu.h"
#include "mt19937_impl.h"

using mt_impl::twist;

// prfchw: prefetchw, which every CPU with AVX-512 has.
#define MT_AVX512 __attribute__((target("avx512f,avx512bw,prfchw")))

namespace {

constexpr int lanes = 16; // words in a vector

// Regeneration in place runs in three segments: words [0, seg1_end) read
// only old words, words [seg1_end, seg2_end) read the new word mt_n - mt_m
// places back, and the last word reads the new word 0. The streaming block
// loop covers each long segment by whole vectors up to its `_vectors_end`,
// then by two overlapping vectors: one there and one ending at the
// segment's end (at `_tail`), both computed from the old words before either
// is stored.
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

// The twist of sixteen words: y = the upper bit of cur and the lower bits
// of next; far ^ (y >> 1), and the matrix word where y is odd, looked up by
// the low bits of next (which y's low bit is) in a table of sixteen entries
// (vpermd) rather than tested into a mask and XORed under it. The select
// overwrites `next`, which nothing else needs, so no constant is copied.
MT_AVX512 inline __m512i twist16(__m512i cur, __m512i next, __m512i far) {
    const __m512i lower = _mm512_set1_epi32(static_cast<int>(mt_lower_mask));
    constexpr int a = static_cast<int>(mt_matrix_a);
    const __m512i odd = _mm512_set_epi32(a, 0, a, 0, a, 0, a, 0, a, 0, a, 0, a, 0, a, 0);
    __m512i matrix = _mm512_permutexvar_epi32(next, odd);
    __m512i y = _mm512_ternarylogic_epi32(next, cur, lower, ternlog_select_cab);
    return _mm512_ternarylogic_epi32(far, _mm512_srli_epi32(y, 1), matrix, ternlog_xor3);
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

// Words k to k + 15 of `d` twisted in place, their far words `far` on.
MT_AVX512 inline void twist16_at(uint32_t *d, int k, int far) {
    _mm512_storeu_si512(d + k, twist16(load16(d + k), load16(d + k + 1), load16(d + k + far)));
}

} // namespace

MT_AVX512 void mt_regenerate_avx512(const MtState *source, MtState *destination) {
    mt_impl::regenerate_by_vectors<lanes, twist16_at>(source, destination);
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

// Data that fits the caches: 64 bytes read in one load, XORed with the
// tempered words.
MT_AVX512 inline void emit_cached(const uint8_t *src, uint8_t *dst, __m512i words) {
    _mm512_storeu_si512(dst, temper_xor16(words, _mm512_loadu_si512(src)));
}

// Where the cached loop prefetches, the lines of both buffers this many
// bytes ahead (in the 1 to 2 KiB that measured best on Intel), the output's
// for writing.
constexpr int cached_ahead = 1536;

template <bool prefetch> MT_AVX512 inline void prefetch_cached(const uint8_t *src, uint8_t *dst) {
    if constexpr (prefetch) {
        _mm_prefetch(reinterpret_cast<const char *>(src) + cached_ahead, _MM_HINT_T0);
        __builtin_prefetch(dst + cached_ahead, 1, 3);
    }
}

// Data streamed from memory: the block loop keeps too few lines in flight for
// the hardware prefetchers alone, so this asks for the lines of both buffers
// a few blocks ahead (a prefetch past the end of a buffer is harmless); and
// it reads the data as two 32-byte halves, which on the machine measured
// streams from memory markedly faster than one 64-byte load. The empty asm
// keeps Clang from merging the halves into one load.
MT_AVX512 inline void emit_streamed(const uint8_t *src, uint8_t *dst, __m512i words,
                                    __mmask64 bytes = ~0ull) {
    constexpr int ahead = 6144;
    _mm_prefetch(reinterpret_cast<const char *>(src) + ahead, _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char *>(dst) + ahead, _MM_HINT_T0);
    __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
    __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 32));
    asm("" : "+v"(lo), "+v"(hi));
    __m512i data = _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
    _mm512_mask_storeu_epi8(dst, bytes, temper_xor16(words, data));
}

// Data that fits the caches, where the L1 accesses decide the speed: the
// blocks run on a working copy of the state, 64-byte aligned, with room for
// a mirror of the first sixteen new words of a block after its 624 words.
// With it every vector of a block is one of 39 aligned ones of the same
// form: word k reads words k + 1 (the old word, or for word 623 the new word
// 0, from the mirror) and k + 397 (an old word, or from word 227 on a new
// one, which the mirror and then the block's own first words hold). A
// vector's `next` and `far` operands are cut from two aligned vectors
// (valignd), the later of which the next vector reuses, so a vector makes
// three aligned state accesses: one load of each stream and the store.
struct alignas(64) MtWork {
    uint32_t word[mt_n + lanes];
};
static_assert(mt_n % lanes == 0, "a block is a whole number of vectors");

// Each vector's 64 bytes of data lie where its words do, so buffers off a
// 64-byte line cost split loads and stores; two ways around that for an
// output off a line by whole words (`back` bytes, 4 to 60):
// - realigned: where the input is off by as much, the data is written a line
//   at a time, each line's words taken from the vector before (`prev`) and
//   the current one, words 16 - back / 4 on of the two together (vpermt2d by
//   `index`), which is exact because the tempering is word by word; the first
//   line of the buffers and the last are partial, and masked. It costs a
//   shuffle a vector.
// - rotated: the first 16 - back / 4 new words go apart, and the blocks run
//   on a working copy rotated by as many words, so that every vector meets
//   the output at a line; the last vector of the call is partial, and
//   masked. It costs nothing a vector, two copies of the state a call.
struct Placement {
    __m512i prev;
    __m512i index;
    size_t back;
    __mmask16 last_words; // rotated: of the last vector, the words wanted
    __mmask64 last_bytes; // and their bytes
};
enum Placing : int { place_as_given, place_realigned, place_rotated };

// How a run's vectors reach the data: where their words lie, realigned (the
// first line of the call, or any other), or where they lie with the call's
// last vector partial (rotated).
enum Store : int { store_as_given, store_realigned, store_realigned_first, store_last_partial };

// Words [begin, end) of a block, which read their far words `far` places on;
// `cur` holds the block's words at `begin` and is left holding those at
// `end`. The far words are cut `far_shift` words into an aligned vector.
template <int begin, int end, int far, bool prefetch, int store>
MT_AVX512 inline __m512i regenerate_xor_run(uint32_t *w, const uint8_t *in, uint8_t *out,
                                            __m512i cur, Placement &p) {
    constexpr int far_shift = (far % lanes + lanes) % lanes;
    constexpr int far_base = far - far_shift;
    static_assert(begin % lanes == 0 && end % lanes == 0 && far_base % lanes == 0, "aligned");
    static_assert(end + far_base + lanes <= mt_n + lanes && begin + far_base >= 0,
                  "the far words come from the block and its mirror");
    __m512i far_lo = _mm512_load_si512(w + begin + far_base);
    for (int k = begin; k < end; k += lanes) {
        __m512i later = _mm512_load_si512(w + k + lanes);
        __m512i far_hi = _mm512_load_si512(w + k + far_base + lanes);
        __m512i v = twist16(cur, _mm512_alignr_epi32(later, cur, 1),
                            _mm512_alignr_epi32(far_hi, far_lo, far_shift));
        if (store == store_last_partial && k == end - lanes) {
            // The words past the call's last belong to the block after it.
            _mm512_mask_store_epi32(w + k, p.last_words, v);
            __m512i x = temper_xor16(v, _mm512_maskz_loadu_epi8(p.last_bytes, in + 4 * k));
            _mm512_mask_storeu_epi8(out + 4 * k, p.last_bytes, x);
            break;
        }
        _mm512_store_si512(w + k, v);
        if (k == 0)
            _mm512_store_si512(w + mt_n, v); // the mirror of the first new words
        if constexpr (store == store_realigned || store == store_realigned_first) {
            const uint8_t *src = in + 4 * k - p.back;
            uint8_t *dst = out + 4 * k - p.back;
            prefetch_cached<prefetch>(src, dst);
            __m512i words = _mm512_permutex2var_epi32(p.prev, p.index, v);
            if (store == store_realigned_first && k == 0) {
                __mmask64 bytes = ~0ull << p.back;
                __m512i x = temper_xor16(words, _mm512_maskz_loadu_epi8(bytes, src));
                _mm512_mask_storeu_epi8(dst, bytes, x);
            } else {
                _mm512_store_si512(dst, temper_xor16(words, _mm512_load_si512(src)));
            }
            p.prev = v;
        } else {
            prefetch_cached<prefetch>(in + 4 * k, out + 4 * k);
            emit_cached(in + 4 * k, out + 4 * k, v);
        }
        cur = later;
        far_lo = far_hi;
    }
    return cur;
}

// One block, its first run's vectors reaching the data as `first` says and
// the second's as `second` does.
template <bool prefetch, int first, int second>
MT_AVX512 inline void regenerate_xor_block(uint32_t *w, const uint8_t *in, uint8_t *out,
                                           Placement &p) {
    // Words up to 239 read their far words 397 on (from word 227 on, new
    // words in the mirror); words from 240 on read them 227 back.
    constexpr int split = (seg1_end + lanes - 1) / lanes * lanes; // 240
    __m512i cur = _mm512_load_si512(w);
    cur = regenerate_xor_run<0, split, mt_m, prefetch, first>(w, in, out, cur, p);
    regenerate_xor_run<split, mt_n, mt_m - mt_n, prefetch, second>(w, in, out, cur, p);
}

template <bool prefetch, int placing>
MT_AVX512 void regenerate_xor_blocks_cached(MtState *state, const uint8_t *in, uint8_t *out,
                                            size_t nblocks) {
    constexpr size_t block_bytes = 4 * mt_n;
    MtWork work;
    uint32_t *w = work.word;
    uint32_t *s = state->word;
    Placement p{};
    if constexpr (placing == place_rotated) {
        // The first c new words (they read old words alone), then the copy
        // rotated by c words: word i of the copy is word c + i of the state.
        size_t c = (64 - reinterpret_cast<uintptr_t>(out) % 64) / 4;
        alignas(64) uint32_t head[lanes];
        _mm512_store_si512(head, twist16(load16(s), load16(s + 1), load16(s + mt_m)));
        mt_impl::xor_span_avx512(head, in, out, 4 * c);
        std::memcpy(w, s + c, 4 * (mt_n - c));
        std::memcpy(w + mt_n - c, head, 4 * c);
        in += 4 * c;
        out += 4 * c;
        for (size_t b = 0; b + 1 < nblocks; b++)
            regenerate_xor_block<prefetch, store_as_given, store_as_given>(
                w, in + block_bytes * b, out + block_bytes * b, p);
        // The last block less its first c words, which came first.
        p.last_words = static_cast<__mmask16>((1u << (lanes - c)) - 1u);
        p.last_bytes = ~0ull >> (4 * c);
        regenerate_xor_block<prefetch, store_as_given, store_last_partial>(
            w, in + block_bytes * (nblocks - 1), out + block_bytes * (nblocks - 1), p);
        std::memcpy(s + c, w, 4 * (mt_n - c));
        std::memcpy(s, w + mt_n - c, 4 * c);
        wipe(&work, sizeof work);
        wipe(head, sizeof head);
        return;
    }
    for (int k = 0; k < mt_n; k += lanes)
        _mm512_store_si512(w + k, _mm512_loadu_si512(s + k));
    if constexpr (placing == place_realigned) {
        p.back = reinterpret_cast<uintptr_t>(out) % 64;
        int q = static_cast<int>(p.back / 4);
        p.index = _mm512_add_epi32(
            _mm512_set1_epi32(lanes - q),
            _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
        regenerate_xor_block<prefetch, store_realigned_first, store_realigned>(w, in, out, p);
        for (size_t b = 1; b < nblocks; b++)
            regenerate_xor_block<prefetch, store_realigned, store_realigned>(
                w, in + block_bytes * b, out + block_bytes * b, p);
        // The last line: the words of the last vector that the lines before
        // it did not take.
        const uint8_t *src = in + block_bytes * nblocks - p.back;
        uint8_t *dst = out + block_bytes * nblocks - p.back;
        __mmask64 bytes = (1ull << p.back) - 1u;
        __m512i words = _mm512_permutex2var_epi32(p.prev, p.index, p.prev);
        _mm512_mask_storeu_epi8(dst, bytes,
                                temper_xor16(words, _mm512_maskz_loadu_epi8(bytes, src)));
    } else {
        for (size_t b = 0; b < nblocks; b++)
            regenerate_xor_block<prefetch, store_as_given, store_as_given>(
                w, in + block_bytes * b, out + block_bytes * b, p);
    }
    for (int k = 0; k < mt_n; k += lanes)
        _mm512_storeu_si512(s + k, _mm512_load_si512(w + k));
    wipe(&work, sizeof work); // a copy of the generator's state
}

// One segment of a block streamed from memory, in the caller's state, words
// [begin, tail + lanes), which read their far words `far` places on: whole
// vectors up to `vectors_end`, then the two overlapping last ones, both
// computed from the old words before either is stored (their overlap gets
// the same values), the tail one storing only the bytes of the words the
// other did not. With the data from memory, this measured faster than the
// aligned copy above, which it is not there; where the data still fits a
// cache that serves it faster than memory (Zen 5's L3), it measured slower.
template <int begin, int vectors_end, int tail, int far>
MT_AVX512 inline void regenerate_xor_segment(uint32_t *d, const uint8_t *in, uint8_t *out) {
    for (int k = begin; k + lanes <= vectors_end; k += lanes) {
        __m512i v = twist16(load16(d + k), load16(d + k + 1), load16(d + k + far));
        _mm512_storeu_si512(d + k, v);
        emit_streamed(in + 4 * k, out + 4 * k, v);
    }
    constexpr int e = vectors_end, t = tail;
    __m512i a = twist16(load16(d + e), load16(d + e + 1), load16(d + e + far));
    __m512i b = twist16(load16(d + t), load16(d + t + 1), load16(d + t + far));
    _mm512_storeu_si512(d + e, a);
    _mm512_storeu_si512(d + t, b);
    emit_streamed(in + 4 * e, out + 4 * e, a);
    emit_streamed(in + 4 * t, out + 4 * t, b, tail_bytes(e, t));
}

MT_AVX512 void regenerate_xor_blocks_streamed(MtState *state, const uint8_t *in, uint8_t *out,
                                              size_t nblocks) {
    uint32_t *d = state->word;
    for (size_t b = 0; b < nblocks; b++, in += 4 * mt_n, out += 4 * mt_n) {
        regenerate_xor_segment<0, seg1_vectors_end, seg1_tail, mt_m>(d, in, out);
        regenerate_xor_segment<seg1_end, seg2_vectors_end, seg2_tail, mt_m - mt_n>(d, in, out);
        d[mt_n - 1] = twist(d[mt_n - 1], d[0], d[mt_m - 1]);
        mt_impl::xor_span_plain(d + mt_n - 1, in + 4 * (mt_n - 1), out + 4 * (mt_n - 1), 4);
    }
}

// Which path a call's whole blocks take, by their size in bytes (the first
// size of each path, `never` for none) and the alignment of the buffers
// where the blocks start. A tuning's name says where it was measured best;
// the others force paths at every size, for the tests.
struct Tuning {
    const char *name;
    size_t stream_from;              // the streaming loop
    size_t prefetch_from;            // the cached loop prefetching, both buffers on a line
    size_t prefetch_misaligned_from; // the same, either buffer off one
    size_t realign_from;             // realigned, for buffers off a line by the same words
    size_t rotate_from;              // rotated, for an output off a line by whole words
};
constexpr size_t never = ~size_t{0};

// AMD's, as measured on Zen 5: rotated at every size, which costs no
// instruction a vector; the cached loop up to 4 MiB, where the L3 still
// serves the data faster than the streaming loop takes it; neither
// prefetching nor realigning, which measured slower there (realigning adds a
// shuffle a vector to a loop that the vector ALU bounds).
// Intel's, as measured on Xeons of the Sapphire and Emerald Rapids classes:
// prefetching for aligned buffers from 512 KiB, for others from 32 KiB of
// whole blocks (which a call of 64 KiB has), and equally misaligned buffers
// realigned with it; the streaming loop from 2 MiB, the size of these
// cores' L2. Beyond the L2 both loops measured alike while the data fits the
// L3, whose bandwidth to one core is no better than memory's there, and the
// streaming loop faster at sizes the reported L3 (hundreds of MiB, shared
// with the other cores and guests) would still hold: so the choice is by a
// fixed size, not by the cache size the CPU reports. Rotation is not taken
// there: what it measured on Intel was too noisy to choose on. The figures
// are in bench/RESULTS.md.
// clang-format off
constexpr Tuning tunings[] = {
    // name         stream     prefetch    misaligned  realign     rotate
    {"amd",         4u << 20,  never,      never,      never,      0},
    {"intel",       2u << 20,  512u << 10, 32u << 10,  32u << 10,  never},
    {"prefetched",  never,     0,          0,          never,      never},
    {"realigned",   never,     0,          0,          0,          never},
    {"streamed",    0,         never,      never,      never,      never},
};
// clang-format on
static_assert(sizeof tunings / sizeof tunings[0] == mt_impl::avx512_tuning_count, "one each");
enum : int { tuning_amd, tuning_intel };

using Blocks = void (*)(MtState *, const uint8_t *, uint8_t *, size_t);
constexpr Blocks cached_loops[2][3] = {
    {regenerate_xor_blocks_cached<false, place_as_given>,
     regenerate_xor_blocks_cached<false, place_realigned>,
     regenerate_xor_blocks_cached<false, place_rotated>},
    {regenerate_xor_blocks_cached<true, place_as_given>,
     regenerate_xor_blocks_cached<true, place_realigned>,
     regenerate_xor_blocks_cached<true, place_rotated>},
};

// The sizes that choose between memory strategies are those of the data the
// blocks belong to (`reach`: a call's whole data, or a stream's walk through
// one buffer), the rest by the blocks' own buffers.
MT_AVX512 void regenerate_xor_blocks_tuned(const Tuning &t, MtState *state, const uint8_t *in,
                                           uint8_t *out, size_t nblocks, size_t reach) {
    size_t bytes = nblocks * 4 * mt_n;
    bytes = reach > bytes ? reach : bytes;
    if (bytes >= t.stream_from)
        return regenerate_xor_blocks_streamed(state, in, out, nblocks);
    uintptr_t in_at = reinterpret_cast<uintptr_t>(in) % 64;
    uintptr_t out_at = reinterpret_cast<uintptr_t>(out) % 64;
    bool aligned = in_at == 0 && out_at == 0;
    bool prefetch = bytes >= (aligned ? t.prefetch_from : t.prefetch_misaligned_from);
    bool off_by_words = out_at != 0 && out_at % 4 == 0;
    int placing = place_as_given;
    if (off_by_words && bytes >= t.rotate_from)
        placing = place_rotated;
    else if (off_by_words && in_at == out_at && bytes >= t.realign_from)
        placing = place_realigned;
    cached_loops[prefetch][placing](state, in, out, nblocks);
}

int tuning_for_this_cpu() {
    static const int chosen = [] {
        cpu_init();
        return cpu_is_intel() ? tuning_intel : tuning_amd;
    }();
    return chosen;
}

template <int tuning>
MT_AVX512 void regenerate_xor_blocks_by(MtState *state, const uint8_t *in, uint8_t *out,
                                        size_t nblocks, size_t reach) {
    regenerate_xor_blocks_tuned(tunings[tuning], state, in, out, nblocks, reach);
}

template <int tuning>
void xor_keystream_by(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out, size_t len,
                      size_t reach) {
    mt_impl::xor_keystream<mt_regenerate_avx512, mt_impl::xor_span_avx512,
                           regenerate_xor_blocks_by<tuning>>(state, index, in, out, len, reach);
}

} // namespace

// The tuning for this CPU's vendor: Intel's on Intel's CPUs, AMD's (the one
// measured here) on every other.
MT_AVX512 void mt_impl::regenerate_xor_blocks_avx512(MtState *state, const uint8_t *in,
                                                     uint8_t *out, size_t nblocks, size_t reach) {
    regenerate_xor_blocks_tuned(tunings[tuning_for_this_cpu()], state, in, out, nblocks, reach);
}

const char *mt_impl::avx512_tuning_name(int tuning) {
    return tuning >= 0 && tuning < avx512_tuning_count ? tunings[tuning].name : "none";
}

void mt_impl::xor_keystream_avx512_tuned(int tuning, MtState *state, uint32_t *index,
                                         const uint8_t *in, uint8_t *out, size_t len,
                                         size_t reach) {
    using Loop = void (*)(MtState *, uint32_t *, const uint8_t *, uint8_t *, size_t, size_t);
    static constexpr Loop loops[] = {xor_keystream_by<0>, xor_keystream_by<1>, xor_keystream_by<2>,
                                     xor_keystream_by<3>, xor_keystream_by<4>};
    static_assert(sizeof loops / sizeof loops[0] == avx512_tuning_count, "one each");
    loops[tuning](state, index, in, out, len, reach);
}

void mt_xor_keystream_avx512(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out,
                             size_t len, size_t reach) {
    mt_impl::xor_keystream<mt_regenerate_avx512, mt_impl::xor_span_avx512,
                           mt_impl::regenerate_xor_blocks_avx512>(state, index, in, out, len,
                                                                  reach);
}

#endif
