// libFuzzer target: Blowfish against OpenSSL's libcrypto for arbitrary keys
// of 1 to 72 bytes and blocks, in both directions, every bulk implementation
// against the block-at-a-time one, and deciphering inverting enciphering.
#include <cstring>

#include <openssl/blowfish.h>

#include "blowfish.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2)
        return 0;
    const int key_length = 1 + data[0] % 72;
    const size_t repeat = 1 + data[1] % 16;
    data += 2;
    size -= 2;
    std::vector<uint8_t> key(key_length);
    for (int i = 0; i < key_length; i++)
        key[i] = size ? data[i % size] : static_cast<uint8_t>(i);
    std::vector<uint8_t> in;
    for (size_t r = 0; r < repeat; r++)
        in.insert(in.end(), data, data + size);
    in.resize(in.size() - in.size() % 8);
    const size_t nblocks = in.size() / 8;

    BlowfishContext ctx;
    bf_key_setup(&ctx, key.data(), key_length);
    BF_KEY ossl;
    BF_set_key(&ossl, key_length, key.data());
    check(std::memcmp(&ctx, &ossl, sizeof ctx) == 0);

    for (int encrypt : {1, 0}) {
        // The independent answer: OpenSSL on each block's little-endian halves.
        std::vector<uint8_t> want(in.size());
        for (size_t b = 0; b < nblocks; b++) {
            BF_LONG w[2] = {load32_le(in.data() + 8 * b), load32_le(in.data() + 8 * b + 4)};
            if (encrypt)
                BF_encrypt(w, &ossl);
            else
                BF_decrypt(w, &ossl);
            store32_le(want.data() + 8 * b, static_cast<uint32_t>(w[0]));
            store32_le(want.data() + 8 * b + 4, static_cast<uint32_t>(w[1]));
        }
        for (int i = 0; i < bf_implementation_count; i++) {
            if (!bf_implementation_available(i))
                continue;
            std::vector<uint8_t> got(in.size());
            bf_crypt_blocks_by(i, in.data(), &ctx, got.data(), nblocks, encrypt);
            check(got == want);
            bf_crypt_blocks_by(i, got.data(), &ctx, got.data(), nblocks, !encrypt);
            check(got == in);
        }
    }
    return 0;
}
