// MT19937, the 32-bit Mersenne Twister, split into seeding, block regeneration
// and tempering so that a caller can hold its own read position.
//
// The routines allocate nothing, report nothing and never touch the
// interpreter; they work on state that the caller owns.
#ifndef VAVIREREZI_MT19937_H
#define VAVIREREZI_MT19937_H

#include <cstddef>
#include <cstdint>

#include "../common/arch.h"

// The published generator's constants, all in one place.
constexpr int mt_n = 624;                       // words in a state block
constexpr int mt_m = 397;                       // distance to the middle word
constexpr uint32_t mt_upper_mask = 0x80000000u; // the bit a word gives the twist
constexpr uint32_t mt_lower_mask = 0x7fffffffu; // the bits the next word gives
constexpr uint32_t mt_matrix_a = 0x9908b0dfu;   // XORed in where the twisted word is odd
constexpr uint32_t mt_init_seed = 19650218u;    // the array seeding starts from init_genrand(this)
constexpr uint32_t mt_init_mult = 1812433253u;  // init_genrand's multiplier
constexpr uint32_t mt_key_mult = 1664525u;      // the array seeding's key phase multiplier
constexpr uint32_t mt_final_mult = 1566083941u; // and its final phase multiplier
constexpr uint32_t mt_temper_b = 0x9d2c5680u;   // tempering mask after the shift by 7
constexpr uint32_t mt_temper_c = 0xefc60000u;   // tempering mask after the shift by 15

// One state block: 624 words, no read position.
struct MtState {
    uint32_t word[mt_n];
};

// Fills `state` from `key_length` (at least 1) words of `key` with the
// published array seeding (init_by_array).
void mt_seed_by_array(MtState *state, const uint32_t *key, int32_t key_length);

// Writes the block that follows `source` into `destination`; the two may be
// the same block.
void mt_regenerate(const MtState *source, MtState *destination);

// The state that the array seeding starts from, before the key is mixed in:
// the linear recurrence from 19650218. It is the same for every key.
struct MtInitialState {
    uint32_t word[mt_n];
};
constexpr MtInitialState mt_make_initial_state() {
    MtInitialState t{};
    t.word[0] = mt_init_seed;
    for (uint32_t i = 1; i < mt_n; i++)
        t.word[i] = mt_init_mult * (t.word[i - 1] ^ (t.word[i - 1] >> 30)) + i;
    return t;
}
inline constexpr MtInitialState mt_initial_state = mt_make_initial_state();

// Returns the output word made from one state word.
constexpr uint32_t mt_temper(uint32_t y) {
    y ^= y >> 11;
    y ^= (y << 7) & mt_temper_b;
    y ^= (y << 15) & mt_temper_c;
    y ^= y >> 18;
    return y;
}

// XORs `len` bytes of `in` with the key stream into `out`, reading output
// words from `state` at `*index` and regenerating `state` in place whenever
// the position reaches the end of the block (also before the first word, so
// any `*index` of 624 or more starts a fresh block). Each word gives four
// bytes, least significant first; the unused bytes of the last word are
// dropped. `*index` is left at the next unused word. `in` and `out` may be
// the same buffer.
void mt_xor_keystream(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out, size_t len);

// The whole transform: seeds `state` (the caller's) with `key_length` words
// of `key`, regenerates it in place and XORs `len` bytes of `in` into `out`
// with the key stream from output number `offset` on (as mt_xor_keystream
// takes it: any offset of 624 or more starts at output 624).
void mt_xor_seeded(MtState *state, const uint32_t *key, int32_t key_length, uint32_t offset,
                   const uint8_t *in, uint8_t *out, size_t len);

// A key stream that goes on from one call to the next, to the byte: the
// generator's block, the next word to read from it (as mt_xor_keystream keeps
// it), how many bytes of the word before that are already used, and how many
// bytes have been taken since seeding. Any split of data into pieces, each
// XORed in turn, gives what one mt_xor_keystream over the whole gives.
// It also keeps how far its calls have walked through memory: where the last
// call's data ended, and how many bytes the calls before have run up to
// there without a gap. Pieces of one large buffer taken in turn are data that
// comes from memory, as one call over the whole buffer would be, and the
// wide implementations meet them as they would meet it; a buffer reused for
// each piece stays in the caches. The bytes are the same either way.
struct MtStream {
    MtState state;
    uint32_t index;          // the next unread word; 624 or more: a fresh block first
    uint32_t used;           // 1 to 3: bytes of word index - 1 already used; 0: none
    uint64_t position;       // bytes XORed or skipped since seeding
    const uint8_t *walk_end; // where the last call's data ended
    uint64_t walk;           // bytes XORed contiguously up to walk_end
};

// Seeds `stream` as mt_xor_seeded seeds its state: `key_length` words of
// `key`, the first block made, reading from output number `offset` on.
void mt_stream_seed(MtStream *stream, const uint32_t *key, int32_t key_length, uint32_t offset);

// XORs `len` bytes of `in` into `out` (which may be the same buffer) with the
// stream's next `len` bytes, and moves it on by as many.
void mt_stream_xor(MtStream *stream, const uint8_t *in, uint8_t *out, size_t len);

// Moves the stream on by `len` bytes, as mt_stream_xor over `len` bytes
// would, writing nothing; whole blocks cost one regeneration each.
void mt_stream_skip(MtStream *stream, uint64_t len);

// The implementations of mt_regenerate and mt_xor_keystream, best first:
// X(name, cpu_test) each, where cpu_test() says whether this CPU can run it.
// Implementation `name` defines mt_regenerate_name and mt_xor_keystream_name
// in its own file; each gives the same words, and the same bytes also with
// `in` and `out` the same buffer. The dispatching routines above use the
// first one that this CPU can run, chosen once.
#if VAVIREREZI_X86_64
#define MT_IMPLEMENTATIONS(X) X(avx512, cpu_has_avx512bw) X(avx2, cpu_has_avx2) X(plain, cpu_any)
#else
#define MT_IMPLEMENTATIONS(X) X(plain, cpu_any)
#endif

// Implementation `name`'s mt_xor_keystream_name takes besides how far the
// data runs through memory (`reach`, at least `len`: see MtStream), by
// which it may choose how to meet memory.
#define MT_DECLARE(name, cpu_test)                                                                 \
    void mt_regenerate_##name(const MtState *source, MtState *destination);                        \
    void mt_xor_keystream_##name(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out, \
                                 size_t len, size_t reach);
MT_IMPLEMENTATIONS(MT_DECLARE)
#undef MT_DECLARE

// The implementations by number, in the list's order, for tests and
// benchmarks; the `_by` routines take one of them (which the CPU must be
// able to run), the others the chosen one.
enum MtImplementation : int {
#define MT_ENUM(name, cpu_test) mt_implementation_##name,
    MT_IMPLEMENTATIONS(MT_ENUM)
#undef MT_ENUM
        mt_implementation_count
};
int mt_chosen_implementation();
const char *mt_implementation_name(int implementation);
bool mt_implementation_available(int implementation);
void mt_regenerate_by(int implementation, const MtState *source, MtState *destination);
void mt_xor_keystream_by(int implementation, MtState *state, uint32_t *index, const uint8_t *in,
                         uint8_t *out, size_t len);
void mt_xor_seeded_by(int implementation, MtState *state, const uint32_t *key, int32_t key_length,
                      uint32_t offset, const uint8_t *in, uint8_t *out, size_t len);
void mt_stream_xor_by(int implementation, MtStream *stream, const uint8_t *in, uint8_t *out,
                      size_t len);

#endif
