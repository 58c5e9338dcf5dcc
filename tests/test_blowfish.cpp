// Blowfish core: published known answers, OpenSSL's libcrypto as an
// independent implementation, and inverse properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#if VAVIREREZI_HAVE_OPENSSL
#include <openssl/blowfish.h>
#endif

#include "blowfish.h"
#include "../common/bytes.h"

namespace {

struct Vector {
    std::vector<uint8_t> key, plain, cipher;
};

std::vector<uint8_t> from_hex(const std::string &hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<Vector> load_vectors() {
    std::ifstream in(VAVIREREZI_TEST_DATA "/blowfish_vectors.txt");
    std::vector<Vector> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string k, p, c;
        fields >> k >> p >> c;
        out.push_back({from_hex(k), from_hex(p), from_hex(c)});
    }
    return out;
}

uint32_t load32_be(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The block with each 4-byte half reversed: conventional packing <-> ours.
std::vector<uint8_t> reverse_halves(std::vector<uint8_t> b) {
    std::reverse(b.begin(), b.begin() + 4);
    std::reverse(b.begin() + 4, b.end());
    return b;
}

TEST(Blowfish, PublishedVectorsOnWords) {
    auto vectors = load_vectors();
    ASSERT_EQ(vectors.size(), 6u);
    for (const auto &v : vectors) {
        BlowfishContext ctx;
        bf_key_setup(&ctx, v.key.data(), static_cast<int32_t>(v.key.size()));
        uint32_t l = load32_be(v.plain.data()), r = load32_be(v.plain.data() + 4);
        bf_encrypt_words(&ctx, &l, &r);
        EXPECT_EQ(l, load32_be(v.cipher.data()));
        EXPECT_EQ(r, load32_be(v.cipher.data() + 4));
        bf_decrypt_words(&ctx, &l, &r);
        EXPECT_EQ(l, load32_be(v.plain.data()));
        EXPECT_EQ(r, load32_be(v.plain.data() + 4));
    }
}

TEST(Blowfish, PublishedVectorsOnLittleEndianBlocks) {
    for (const auto &v : load_vectors()) {
        BlowfishContext ctx;
        bf_key_setup(&ctx, v.key.data(), static_cast<int32_t>(v.key.size()));
        auto plain = reverse_halves(v.plain);
        std::vector<uint8_t> out(8);
        bf_crypt_block(plain.data(), &ctx, out.data(), 1);
        EXPECT_EQ(out, reverse_halves(v.cipher));
        bf_crypt_block(out.data(), &ctx, out.data(), 0);
        EXPECT_EQ(out, plain);
    }
}

// Where libcrypto is not installed for the target (a cross build), the tests
// that use it as the oracle are skipped, and say so.
#define SKIP_WITHOUT_OPENSSL(suite, name)                                                          \
    TEST(suite, name) {                                                                            \
        GTEST_SKIP() << "OpenSSL's libcrypto is not installed for this target";                    \
    }

#if VAVIREREZI_HAVE_OPENSSL
TEST(Blowfish, AgreesWithOpenSslForEveryKeyLength) {
    std::mt19937 rng(5150);
    for (int key_length = 1; key_length <= 72; key_length++) {
        for (int trial = 0; trial < 4; trial++) {
            std::vector<uint8_t> key(key_length);
            for (auto &b : key)
                b = static_cast<uint8_t>(rng());
            BlowfishContext ctx;
            bf_key_setup(&ctx, key.data(), key_length);
            BF_KEY ossl;
            BF_set_key(&ossl, key_length, key.data());
            ASSERT_EQ(0, std::memcmp(&ctx, &ossl, sizeof ctx)) << "key length " << key_length;
            for (int block = 0; block < 16; block++) {
                uint32_t l = static_cast<uint32_t>(rng()), r = static_cast<uint32_t>(rng());
                BF_LONG data[2] = {l, r};
                uint32_t el = l, er = r;
                bf_encrypt_words(&ctx, &el, &er);
                BF_encrypt(data, &ossl);
                ASSERT_EQ(el, data[0]);
                ASSERT_EQ(er, data[1]);
                uint32_t dl = l, dr = r;
                bf_decrypt_words(&ctx, &dl, &dr);
                data[0] = l;
                data[1] = r;
                BF_decrypt(data, &ossl);
                ASSERT_EQ(dl, data[0]);
                ASSERT_EQ(dr, data[1]);
            }
        }
    }
}

#else
SKIP_WITHOUT_OPENSSL(Blowfish, AgreesWithOpenSslForEveryKeyLength)
#endif

TEST(Blowfish, ContextDependsOnlyOnTheKey) {
    std::vector<uint8_t> key(56);
    for (size_t i = 0; i < key.size(); i++)
        key[i] = static_cast<uint8_t>(3 * i + 1);
    BlowfishContext a, b;
    std::memset(&a, 0x00, sizeof a);
    std::memset(&b, 0xa5, sizeof b);
    bf_key_setup(&a, key.data(), 56);
    bf_key_setup(&b, key.data(), 56);
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
}

TEST(Blowfish, KeyWrapsInTheMiddleOfAWord) {
    // A 5-byte key read cyclically equals the 72-byte key it expands to.
    const uint8_t short_key[5] = {1, 2, 3, 4, 5};
    uint8_t long_key[72];
    for (int i = 0; i < 72; i++)
        long_key[i] = short_key[i % 5];
    BlowfishContext a, b;
    bf_key_setup(&a, short_key, 5);
    bf_key_setup(&b, long_key, 72);
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
}

TEST(Blowfish, DecryptInvertsEncryptAlsoInPlace) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 20; trial++) {
        std::vector<uint8_t> key(1 + rng() % 72);
        for (auto &b : key)
            b = static_cast<uint8_t>(rng());
        BlowfishContext ctx;
        bf_key_setup(&ctx, key.data(), static_cast<int32_t>(key.size()));
        for (int block = 0; block < 50; block++) {
            uint8_t in[8], enc[8], buf[8];
            for (auto &b : in)
                b = static_cast<uint8_t>(rng());
            bf_crypt_block(in, &ctx, enc, 1);
            std::memcpy(buf, in, 8);
            bf_crypt_block(buf, &ctx, buf, 1);
            ASSERT_EQ(0, std::memcmp(buf, enc, 8)) << "in-place encryption differs";
            ASSERT_NE(0, std::memcmp(enc, in, 8));
            bf_crypt_block(buf, &ctx, buf, 0);
            ASSERT_EQ(0, std::memcmp(buf, in, 8));
            // Any non-zero flag enciphers.
            bf_crypt_block(in, &ctx, buf, -1);
            ASSERT_EQ(0, std::memcmp(buf, enc, 8));
        }
        // Whole strings: the blocks, then the zero-filled final block cut
        // back, the same into a second buffer and in place.
        size_t len = rng() % 80;
        std::vector<uint8_t> data(len), want(len), apart(len);
        for (auto &b : data)
            b = static_cast<uint8_t>(rng());
        for (size_t o = 0; o < len; o += 8) {
            uint8_t block[8] = {};
            std::memcpy(block, data.data() + o, std::min<size_t>(8, len - o));
            bf_crypt_block(block, &ctx, block, trial & 1);
            std::memcpy(want.data() + o, block, std::min<size_t>(8, len - o));
        }
        bf_crypt_bytes(data.data(), &ctx, apart.data(), len, trial & 1);
        ASSERT_EQ(apart, want) << "length " << len;
        bf_crypt_bytes(data.data(), &ctx, data.data(), len, trial & 1);
        ASSERT_EQ(data, want) << "in place, length " << len;
    }
}

} // namespace

namespace {

// One case per implementation and property; an implementation that this CPU
// cannot run is skipped, and ctest and the summary say so.
class BfImplementation : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        if (!bf_implementation_available(GetParam()))
            GTEST_SKIP() << bf_implementation_name(GetParam()) << " needs what this CPU lacks";
    }
    void crypt(const uint8_t *in, const BlowfishContext *ctx, uint8_t *out, size_t nblocks,
               int encrypt) {
        bf_crypt_blocks_by(GetParam(), in, ctx, out, nblocks, encrypt);
    }
};

INSTANTIATE_TEST_SUITE_P(Each, BfImplementation, ::testing::Range(0, int(bf_implementation_count)),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return std::string(bf_implementation_name(info.param));
                         });

TEST_P(BfImplementation, EqualsTheBlockAtATimeOneApartAndInPlace) {
    std::mt19937 rng(2718);
    std::vector<size_t> counts;
    for (size_t n = 0; n <= 200; n++)
        counts.push_back(n);
    for (size_t n : {255, 256, 257, 500, 1000})
        counts.push_back(n);
    for (size_t nblocks : counts) {
        std::vector<uint8_t> key(56);
        for (auto &b : key)
            b = static_cast<uint8_t>(rng());
        BlowfishContext ctx;
        bf_key_setup(&ctx, key.data(), 56);
        size_t shift = nblocks % 7; // unaligned buffers
        std::vector<uint8_t> in(8 * nblocks + shift), want(8 * nblocks);
        std::vector<uint8_t> got(8 * nblocks + shift + 8, 0xcc);
        for (auto &b : in)
            b = static_cast<uint8_t>(rng());
        for (int encrypt : {1, 0}) {
            bf_crypt_blocks_plain(in.data() + shift, &ctx, want.data(), nblocks, encrypt);
            crypt(in.data() + shift, &ctx, got.data() + shift, nblocks, encrypt);
            ASSERT_TRUE(std::equal(want.begin(), want.end(), got.begin() + shift))
                << "blocks " << nblocks << " encrypt " << encrypt;
            for (size_t g = 8 * nblocks + shift; g < got.size(); g++)
                ASSERT_EQ(got[g], 0xcc) << "wrote past the end";
            std::vector<uint8_t> buf(in.begin() + shift, in.end());
            crypt(buf.data(), &ctx, buf.data(), nblocks, encrypt);
            ASSERT_EQ(buf, want) << "in place, blocks " << nblocks;
        }
    }
}

TEST_P(BfImplementation, AgreesWithOpenSsl) {
#if !VAVIREREZI_HAVE_OPENSSL
    GTEST_SKIP() << "OpenSSL's libcrypto is not installed for this target";
#else
    // Extreme S-box values (all carries) come from keys like all 0xff.
    std::mt19937 rng(11);
    for (int trial = 0; trial < 6; trial++) {
        std::vector<uint8_t> key(1 + trial * 11, trial % 2 ? 0xff : 0x00);
        if (trial >= 2)
            for (auto &b : key)
                b = static_cast<uint8_t>(rng());
        BlowfishContext ctx;
        bf_key_setup(&ctx, key.data(), static_cast<int32_t>(key.size()));
        BF_KEY ossl;
        BF_set_key(&ossl, static_cast<int>(key.size()), key.data());
        const size_t nblocks = 300;
        std::vector<uint8_t> in(8 * nblocks), got(8 * nblocks);
        for (auto &b : in)
            b = static_cast<uint8_t>(trial == 1 ? 0xff : rng());
        for (int encrypt : {1, 0}) {
            crypt(in.data(), &ctx, got.data(), nblocks, encrypt);
            for (size_t b = 0; b < nblocks; b++) {
                const uint8_t *block = in.data() + 8 * b;
                BF_LONG data[2] = {load32_le(block), load32_le(block + 4)};
                if (encrypt)
                    BF_encrypt(data, &ossl);
                else
                    BF_decrypt(data, &ossl);
                ASSERT_EQ(data[0], load32_le(got.data() + 8 * b))
                    << "block " << b << " encrypt " << encrypt;
                ASSERT_EQ(data[1], load32_le(got.data() + 8 * b + 4))
                    << "block " << b << " encrypt " << encrypt;
            }
        }
    }
#endif
}

TEST_P(BfImplementation, CarriesThroughEveryByteOfTheSums) {
    // Contexts whose S-box words are mostly made of 0x00 and 0xff bytes give
    // round-function sums whose carries run through one, two or three whole
    // bytes, which a plane-wise addition has to carry exactly as a 32-bit one.
    const uint32_t edge[] = {0xffffffffu, 0x00ffffffu, 0x0000ffffu, 0x000000ffu,
                             0xffffff00u, 0xffff0000u, 0xff000000u, 0x00000001u,
                             0x00000100u, 0x00010000u, 0x01000000u, 0xff00ff00u,
                             0x00ff00ffu, 0x80808080u, 0x7f7f7f7fu, 0x00000000u};
    std::mt19937 rng(1618);
    for (int trial = 0; trial < 8; trial++) {
        BlowfishContext ctx;
        for (auto &p : ctx.p)
            p = static_cast<uint32_t>(rng());
        for (auto &box : ctx.s)
            for (auto &w : box)
                w = rng() % 8 ? edge[rng() % std::size(edge)] : static_cast<uint32_t>(rng());
        const size_t nblocks = 333;
        std::vector<uint8_t> in(8 * nblocks), want(8 * nblocks), got(8 * nblocks);
        for (auto &b : in)
            b = static_cast<uint8_t>(rng());
        for (int encrypt : {1, 0}) {
            bf_crypt_blocks_plain(in.data(), &ctx, want.data(), nblocks, encrypt);
            crypt(in.data(), &ctx, got.data(), nblocks, encrypt);
            ASSERT_EQ(want, got) << "trial " << trial << " encrypt " << encrypt;
        }
    }
}

} // namespace
