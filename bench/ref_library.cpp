// The baselines of the interpreter-level benchmark, called through ctypes
// from any interpreter: the two module functions written reference style (a
// generator word at a time, a cipher block at a time), and the project's own
// cores doing the same work into a buffer the caller owns, which is what a
// call costs without the interpreter.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "blowfish.h"
#include "blowfish_tables.h"
#include "mt19937.h"
#include "reference/bf_reference.h"
#include "reference/mt_reference.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT void ref_mt_xor_bytes(const uint8_t *data, size_t len, uint32_t s0, uint32_t s1, uint32_t s2,
                             uint32_t offset, uint8_t *out) {
    const uint32_t key[3] = {s0, s1, s2};
    ref_mt_xor(key, offset, data, out, len);
}

// `key` is the 56-byte key that bf_process makes of its 14 words.
EXPORT void ref_bf_process(const uint8_t *data, size_t len, const uint8_t *key, int encrypt,
                           uint8_t *out) {
    RefBlowfish ctx;
    ref_bf_init(&ctx, bf_initial_p, bf_initial_s, key, 56);
    size_t whole = len / 8;
    ref_bf_ecb(&ctx, data, out, whole, encrypt);
    if (len % 8) {
        uint8_t block[8] = {0};
        std::memcpy(block, data + 8 * whole, len % 8);
        ref_bf_ecb(&ctx, block, block, 1, encrypt);
        std::memcpy(out + 8 * whole, block, len % 8);
    }
}

EXPORT void core_mt_xor_bytes(const uint8_t *data, size_t len, uint32_t s0, uint32_t s1,
                              uint32_t s2, uint32_t offset, uint8_t *out) {
    const uint32_t key[3] = {s0, s1, s2};
    MtState state;
    mt_xor_seeded(&state, key, 3, offset, data, out, len);
}

EXPORT void core_bf_process(const uint8_t *data, size_t len, const uint8_t *key, int encrypt,
                            uint8_t *out) {
    BlowfishContext ctx;
    bf_key_setup(&ctx, key, 56);
    bf_crypt_bytes(data, &ctx, out, len, encrypt);
}
