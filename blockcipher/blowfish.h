// Blowfish: 64-bit blocks, 16 rounds, the standard key schedule. Block halves
// are read and written least significant byte first; the key is read most
// significant byte first, as usual.
//
// A classic table-based implementation; its S-box lookups depend on the data,
// so it is not constant-time. The routines allocate nothing, report nothing
// and never touch the interpreter.
#ifndef VAVIREREZI_BLOWFISH_H
#define VAVIREREZI_BLOWFISH_H

#include <cstddef>
#include <cstdint>

#include "../common/arch.h"

// P-array, then the four S-boxes: 1042 words.
struct BlowfishContext {
    uint32_t p[18];
    uint32_t s[4][256];
};
static_assert(sizeof(BlowfishContext) == 4168, "BlowfishContext must be 1042 words");

// Fills `context` for a key of `key_length` (at least 1) bytes, read
// cyclically, so at most the first 72 bytes matter.
void bf_key_setup(BlowfishContext *context, const uint8_t *key, int32_t key_length);

// Enciphers or deciphers the word pair (*left, *right) in place.
void bf_encrypt_words(const BlowfishContext *context, uint32_t *left, uint32_t *right);
void bf_decrypt_words(const BlowfishContext *context, uint32_t *left, uint32_t *right);

// Transforms one 8-byte block from `input` to `output` (which may be the same
// bytes): enciphers when `encrypt` is non-zero, deciphers when it is zero.
void bf_crypt_block(const uint8_t *input, const BlowfishContext *context, uint8_t *output,
                    int encrypt);

// Transforms `nblocks` whole 8-byte blocks from `input` to `output`, each as
// bf_crypt_block would. `input` and `output` may be the same buffer (but not
// otherwise overlap). Chooses the fastest implementation the CPU supports.
void bf_crypt_blocks(const uint8_t *input, const BlowfishContext *context, uint8_t *output,
                     size_t nblocks, int encrypt);

// Transforms `len` bytes from `input` to `output` in ECB mode: the whole
// blocks with bf_crypt_blocks, and a final block of fewer than 8 bytes
// zero-filled, transformed and cut back to its length. `input` and `output`
// may be the same buffer (but not otherwise overlap).
void bf_crypt_bytes(const uint8_t *input, const BlowfishContext *context, uint8_t *output,
                    size_t len, int encrypt);

// The implementations of bf_crypt_blocks, best first: X(name, cpu_test)
// each, where cpu_test() says whether this CPU can run it. Implementation
// `name` defines bf_crypt_blocks_name; each gives the same bytes, also in
// place. The plain one goes a block at a time, the interleaved one four
// independent blocks at a time; on x86-64 the VBMI one runs byte-sliced, 128
// blocks in flight. bf_crypt_blocks uses the first one that this CPU can
// run, chosen once.
#if VAVIREREZI_X86_64
#define BF_IMPLEMENTATIONS(X) X(vbmi, cpu_has_avx512vbmi) X(interleaved, cpu_any) X(plain, cpu_any)
#else
#define BF_IMPLEMENTATIONS(X) X(interleaved, cpu_any) X(plain, cpu_any)
#endif

#define BF_DECLARE(name, cpu_test)                                                                 \
    void bf_crypt_blocks_##name(const uint8_t *input, const BlowfishContext *context,              \
                                uint8_t *output, size_t nblocks, int encrypt);
BF_IMPLEMENTATIONS(BF_DECLARE)
#undef BF_DECLARE

// The implementations by number, in the list's order, for tests and
// benchmarks; bf_crypt_blocks_by takes one of them (which the CPU must be
// able to run).
enum BfImplementation : int {
#define BF_ENUM(name, cpu_test) bf_implementation_##name,
    BF_IMPLEMENTATIONS(BF_ENUM)
#undef BF_ENUM
        bf_implementation_count
};
int bf_chosen_implementation();
const char *bf_implementation_name(int implementation);
bool bf_implementation_available(int implementation);
void bf_crypt_blocks_by(int implementation, const uint8_t *input, const BlowfishContext *context,
                        uint8_t *output, size_t nblocks, int encrypt);

#endif
