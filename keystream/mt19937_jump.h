// Jumping an MT19937 key stream to any byte position, in time that grows with
// the logarithm of the position (Haramoto, Matsumoto, Nishimura, Panneton and
// L'Ecuyer, "Efficient jump ahead for F2-linear random number generators",
// 2008). The method, in brief:
//
// Number the words that array seeding leaves x[0] .. x[623] and continue the
// sequence with the regeneration recurrence; output t is temper(x[624 + t]).
// One step of the 19937-bit state (the top bit of x[k] and x[k + 1 .. k + 623])
// is a linear map T over GF(2) with characteristic polynomial P (degree
// 19937, 135 terms: mt19937_jump_poly.h), so T^m = g(T) for g = x^m mod P,
// and word by word x[m + j] = XOR over the set bits i of g of x[i + j], for
// every j >= 1. The words of outputs t .. t + 623 are those for m = t + 623,
// j = 1 .. 624; they are loaded as a fresh block.
//
// Like the rest of the core, nothing here allocates or keeps mutable state
// of its own: the scratch is the caller's, so the routines are re-entrant
// and may run on any thread, each call with its own scratch and stream.
#ifndef VAVIREREZI_MT19937_JUMP_H
#define VAVIREREZI_MT19937_JUMP_H

#include <cstddef>
#include <cstdint>

#include "mt19937.h"

// Polynomials below P's degree: 19937 bits in 312 words of 64, bit i of the
// whole the coefficient of x^i.
constexpr int mt_jump_degree = 19937;
constexpr int mt_jump_poly_words = (mt_jump_degree + 63) / 64; // 312

// Words of the sequence a jump reads: x[0] up to x[19936 + 624] and, for the
// wide implementation's 64-word groups, a little more; whole blocks.
constexpr int mt_jump_sequence_blocks = 34;
constexpr int mt_jump_sequence_words = mt_jump_sequence_blocks * mt_n; // 21216

// Working memory for one jump, which the caller provides: 222,536 bytes on
// 64-bit targets (mt_jump_scratch_size). It needs no initialising and no alignment beyond a
// struct of words (the routines use unaligned accesses); nothing in it is
// read after the call, and each call wipes what it held of the key stream.
// One scratch serves one call at a time.
struct MtJumpScratch {
    MtState sequence[mt_jump_sequence_blocks]; // x[0 ..], from the seeded state, a block each
    // g = x^m mod P and the product being reduced, with room around it.
    uint64_t poly[mt_jump_poly_words + 8];
    uint64_t product[8 + 2 * mt_jump_poly_words + 8];
    uint16_t term[mt_jump_degree]; // the set bits of g, for the portable implementation
    // The wide implementation's bit planes of the sequence and its results.
    uint64_t planes[32][336];
    uint64_t plane_out[16][32]; // by 64-word group of the result, then plane
};
constexpr size_t mt_jump_scratch_size = sizeof(MtJumpScratch);

// Puts `stream` at byte `position` (any value) of the key stream that
// mt_stream_seed(stream, key, key_length, offset) begins, by a jump from
// the seeded state whatever the stream held before (it is only written):
// every mt_stream_xor and mt_stream_skip after it gives what
// mt_stream_seed + mt_stream_skip(position) would. The stream's block is
// the words from the output that holds byte `position` on (read index 0, or
// 1 with `used` = position % 4 where the position falls inside a word);
// `position` is set and the walk begins afresh, as after mt_stream_skip.
void mt_stream_jump(MtStream *stream, const uint32_t *key, int32_t key_length, uint32_t offset,
                    uint64_t position, MtJumpScratch *scratch);

// Whether mt_stream_seek(stream, ..., position, ...) would step rather than
// jump (then it reads no scratch, and `scratch` may be null): the target is
// ahead of the stream by less than the switch point, or is itself below it.
bool mt_stream_seek_steps(const MtStream *stream, uint64_t position);

// Puts `stream`, which mt_stream_seed seeded with the same key, key_length
// and offset (and which may have moved since, by any of these routines), at
// byte `position`, with the same result as mt_stream_jump: stepping forward
// where the target is ahead by less than the switch point, reseeding and
// stepping where the target is below it, jumping otherwise. `scratch` may be
// null where mt_stream_seek_steps says so. To compute a seek without holding
// a lock on the stream, copy it (an MtStream is a plain struct), seek the
// copy and install the copy afterwards.
void mt_stream_seek(MtStream *stream, const uint32_t *key, int32_t key_length, uint32_t offset,
                    uint64_t position, MtJumpScratch *scratch);

// Moves `stream` (seeded as for mt_stream_seek) on by `len` bytes as
// mt_stream_skip would, but by a jump where that is cheaper: any `len` costs
// at most one jump. Returns false, leaving the stream unchanged, where the
// position would pass 2^64 - 1.
bool mt_stream_move(MtStream *stream, const uint32_t *key, int32_t key_length, uint32_t offset,
                    uint64_t len, MtJumpScratch *scratch);

// The distance in bytes from which a jump is cheaper than stepping, as
// measured on the machine the tuning names (bench_cores switch).
uint64_t mt_jump_switch_bytes();

// The implementations of the jump's two halves, best first: X(name,
// cpu_test) each. Implementation `name` defines mt_jump_words_name, which,
// given scratch->sequence holding x[0 .. mt_jump_sequence_words), writes the
// words x[m + 1 .. m + 624] to `out` (m >= 0). They give the same words.
#if VAVIREREZI_X86_64
#define MT_JUMP_IMPLEMENTATIONS(X) X(avx512, cpu_has_avx512_clmul) X(plain, cpu_any)
#else
#define MT_JUMP_IMPLEMENTATIONS(X) X(plain, cpu_any)
#endif

#define MT_JUMP_DECLARE(name, cpu_test)                                                            \
    void mt_jump_words_##name(MtJumpScratch *scratch, uint64_t m, uint32_t *out);
MT_JUMP_IMPLEMENTATIONS(MT_JUMP_DECLARE)
#undef MT_JUMP_DECLARE

// The implementations by number, in the list's order, for tests and
// benchmarks; the `_by` routines take one of them (which the CPU must be able
// to run), the others the chosen one.
enum MtJumpImplementation : int {
#define MT_JUMP_ENUM(name, cpu_test) mt_jump_implementation_##name,
    MT_JUMP_IMPLEMENTATIONS(MT_JUMP_ENUM)
#undef MT_JUMP_ENUM
        mt_jump_implementation_count
};
int mt_jump_chosen_implementation();
const char *mt_jump_implementation_name(int implementation);
bool mt_jump_implementation_available(int implementation);
void mt_stream_jump_by(int implementation, MtStream *stream, const uint32_t *key,
                       int32_t key_length, uint32_t offset, uint64_t position,
                       MtJumpScratch *scratch);

// For the tests: g = x^m mod P by implementation `implementation` into
// scratch->poly (mt_jump_poly_words words).
void mt_jump_power_by(int implementation, MtJumpScratch *scratch, uint64_t m);

#endif
