// Side-by-side benchmark of the cores against reference-style baselines,
// OpenSSL's libcrypto and libgcrypt. Usage: bench_cores [keystream|blowfish|all]
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gcrypt.h>
#include <openssl/blowfish.h>

#include "blowfish.h"
#include "blowfish_tables.h"
#include "harness.h"
#include "mt19937.h"
#include "reference/bf_reference.h"
#include "reference/mt_reference.h"

namespace {

const size_t sizes[] = {64, 4096, 65536, 1 << 20, 16 << 20};

int rounds_for(size_t bytes) {
    return bytes >= (16u << 20) ? 7 : 15;
}

double sample_for(size_t bytes) {
    return bytes >= (16u << 20) ? 0.05 : 0.01;
}

volatile uint8_t sink;

void bench_keystream() {
    const uint32_t key[3] = {0x01234567, 0x89abcdef, 0xdeadbeef};
    const uint32_t offset = 5;
    auto project = [&](void (*regen)(const MtState *, MtState *),
                       void (*xor_fn)(MtState *, uint32_t *, const uint8_t *, uint8_t *, size_t),
                       const uint8_t *in, uint8_t *out, size_t n) {
        MtState seed, work;
        mt_seed_by_array(&seed, key, 3);
        regen(&seed, &work);
        uint32_t index = offset;
        xor_fn(&work, &index, in, out, n);
    };
    for (size_t bytes : sizes) {
        std::vector<uint8_t> in(bytes, 0x5a), out(bytes);
        const uint8_t *ip = in.data();
        uint8_t *op = out.data();
        std::vector<Contender> c = {
            {"reference (word at a time)", [&] { ref_mt_xor(key, offset, ip, op, bytes); }},
            {"mt_xor_keystream (dispatch)",
             [&] { project(mt_regenerate, mt_xor_keystream, ip, op, bytes); }},
            {"plain", [&] { project(mt_regenerate_plain, mt_xor_keystream_plain, ip, op, bytes); }},
        };
        if (mt_have_avx2())
            c.push_back({"avx2", [&] {
                             project(mt_regenerate_avx2, mt_xor_keystream_avx2, ip, op, bytes);
                         }});
        if (mt_have_avx512())
            c.push_back({"avx512", [&] {
                             project(mt_regenerate_avx512, mt_xor_keystream_avx512, ip, op,
                                     bytes);
                         }});
        c.push_back({"memcpy", [&] {
                         std::memcpy(op, ip, bytes);
                         sink = op[bytes / 2];
                     }});
        report("keystream xor", bytes, measure(c, rounds_for(bytes), sample_for(bytes)),
               "reference (word at a time)");
    }
    // Fixed cost of a call: seeding and the first regeneration, no data.
    uint8_t b = 0;
    std::vector<Contender> c = {
        {"reference (word at a time)", [&] { ref_mt_xor(key, offset, &b, &b, 0); }},
        {"mt_xor_keystream (dispatch)",
         [&] { project(mt_regenerate, mt_xor_keystream, &b, &b, 0); }},
    };
    report("keystream call", 0, measure(c, 15, 0.01), "reference (word at a time)");
}

void bench_blowfish() {
    std::vector<uint8_t> key(56);
    std::mt19937 rng(1);
    for (auto &b : key)
        b = static_cast<uint8_t>(rng());
    BlowfishContext ctx;
    bf_key_setup(&ctx, key.data(), 56);
    RefBlowfish ref;
    ref_bf_init(&ref, bf_initial_p, bf_initial_s, key.data(), 56);
    BF_KEY ossl;
    BF_set_key(&ossl, 56, key.data());
    gcry_cipher_hd_t gc;
    gcry_cipher_open(&gc, GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_ECB, 0);
    gcry_cipher_setkey(gc, key.data(), 56);

    for (int encrypt : {1, 0}) {
        std::string job = encrypt ? "bf encrypt" : "bf decrypt";
        for (size_t bytes : sizes) {
            std::vector<uint8_t> in(bytes, 0x33), out(bytes);
            const uint8_t *ip = in.data();
            uint8_t *op = out.data();
            size_t nb = bytes / 8;
            std::vector<Contender> c = {
                {"reference (block at a time)", [&] { ref_bf_ecb(&ref, ip, op, nb, encrypt); }},
                {"bf_crypt_blocks (dispatch)",
                 [&] { bf_crypt_blocks(ip, &ctx, op, nb, encrypt); }},
                {"interleaved", [&] { bf_crypt_blocks_interleaved(ip, &ctx, op, nb, encrypt); }},
            };
            if (bf_have_vbmi())
                c.push_back({"vbmi", [&] { bf_crypt_blocks_vbmi(ip, &ctx, op, nb, encrypt); }});
            c.push_back({"openssl BF_ecb_encrypt", [&] {
                             for (size_t b = 0; b < nb; b++)
                                 BF_ecb_encrypt(ip + 8 * b, op + 8 * b, &ossl,
                                                encrypt ? BF_ENCRYPT : BF_DECRYPT);
                         }});
            c.push_back({"libgcrypt ecb", [&] {
                             if (encrypt)
                                 gcry_cipher_encrypt(gc, op, bytes, ip, bytes);
                             else
                                 gcry_cipher_decrypt(gc, op, bytes, ip, bytes);
                         }});
            report(job, bytes, measure(c, rounds_for(bytes), sample_for(bytes)),
                   "reference (block at a time)");
        }
    }
    BlowfishContext scratch;
    RefBlowfish ref_scratch;
    BF_KEY ossl_scratch;
    std::vector<Contender> c = {
        {"reference (block at a time)",
         [&] { ref_bf_init(&ref_scratch, bf_initial_p, bf_initial_s, key.data(), 56); }},
        {"bf_key_setup", [&] { bf_key_setup(&scratch, key.data(), 56); }},
        {"openssl BF_set_key", [&] { BF_set_key(&ossl_scratch, 56, key.data()); }},
        {"libgcrypt setkey", [&] { gcry_cipher_setkey(gc, key.data(), 56); }},
    };
    report("bf key schedule", 0, measure(c, 15, 0.01), "reference (block at a time)");
    gcry_cipher_close(gc);
}

} // namespace

int main(int argc, char **argv) {
    std::string what = argc > 1 ? argv[1] : "all";
    gcry_check_version(nullptr);
    std::printf("paths: keystream %s, blowfish %s\n\n",
                mt_have_avx512() ? "avx512" : mt_have_avx2() ? "avx2" : "plain",
                bf_have_vbmi() ? "vbmi" : "interleaved");
    report_header();
    if (what == "all" || what == "keystream")
        bench_keystream();
    if (what == "all" || what == "blowfish")
        bench_blowfish();
    return 0;
}
