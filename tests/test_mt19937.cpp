// MT19937 core: the published reference output, the routines' calling order
// against a reference-style generator, and mt_xor_keystream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mt19937.h"
#include "mt19937_impl.h"
#include "reference/mt_reference.h"

namespace {

// Tempered outputs 0..count-1 of the core routines used in their calling order.
std::vector<uint32_t> core_outputs(const uint32_t *key, int32_t key_length, size_t count) {
    MtState seed, work;
    mt_seed_by_array(&seed, key, key_length);
    mt_regenerate(&seed, &work);
    std::vector<uint32_t> out;
    int index = 0;
    while (out.size() < count) {
        if (index >= mt_n) {
            mt_regenerate(&work, &work);
            index = 0;
        }
        out.push_back(mt_temper(work.word[index++]));
    }
    return out;
}

std::vector<uint32_t> reference_outputs(const uint32_t *key, int key_length, size_t count) {
    RefMt g;
    ref_mt_init_by_array(&g, key, key_length);
    std::vector<uint32_t> out(count);
    for (auto &w : out)
        w = ref_mt_genrand_int32(&g);
    return out;
}

TEST(Mt19937, PublishedReferenceOutput) {
    // mt19937ar.c's test key and the first outputs it prints.
    const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
    const uint32_t expected[5] = {1067595299u, 955945823u, 477289528u, 4107218783u, 4228976476u};
    auto got = core_outputs(key, 4, 5);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(got[i], expected[i]) << "output " << i;
}

TEST(Mt19937, MatchesReferenceGeneratorForKeyLengths) {
    std::mt19937 rng(1234);
    for (int key_length : {1, 2, 3, 4, 623, 624, 625, 700, 1300}) {
        std::vector<uint32_t> key(key_length);
        for (auto &w : key)
            w = rng();
        auto core = core_outputs(key.data(), key_length, 3 * mt_n + 5);
        auto ref = reference_outputs(key.data(), key_length, 3 * mt_n + 5);
        EXPECT_EQ(core, ref) << "key length " << key_length;
    }
}

TEST(Mt19937, StandardLibraryAgreesAfterSeeding) {
    // std::mt19937 is an independent generator: fed the words that seeding
    // produced, it must produce the same outputs as our regeneration.
    const uint32_t key[3] = {0xdeadbeef, 0x01234567, 0x89abcdef};
    MtState seed;
    mt_seed_by_array(&seed, key, 3);
    std::mt19937 std_gen;
    // Reconstructing std::mt19937's state from words needs its stream form.
    std::string text;
    for (int i = 0; i < mt_n; i++)
        text += std::to_string(seed.word[i]) + " ";
    text += std::to_string(mt_n); // position: block exhausted
    std::istringstream(text) >> std_gen;
    auto core = core_outputs(key, 3, 2 * mt_n + 3);
    for (size_t i = 0; i < core.size(); i++)
        ASSERT_EQ(core[i], std_gen()) << "output " << i;
}

TEST(Mt19937, InitialStateTableIsTheLinearRecurrence) {
    RefMt g;
    ref_mt_init_genrand(&g, 19650218u);
    EXPECT_EQ(0, std::memcmp(g.mt, mt_initial_state.word, sizeof g.mt));
}

TEST(Mt19937, TemperMatchesMaskedShiftForm) {
    std::mt19937 rng(99);
    for (int i = 0; i < 10000; i++) {
        uint32_t y = rng();
        uint32_t z = y ^ (y >> 11);
        z ^= (z & 0xff3a58adu) << 7;
        z ^= (z & 0xffffdf8cu) << 15;
        z ^= z >> 18;
        ASSERT_EQ(mt_temper(y), z);
    }
}

// A path through the key stream: an implementation, as the dispatching
// routines call it, or one tuning of its block loop (AVX-512), forced.
struct MtPath {
    int implementation;
    int tuning; // -1: the implementation's own choice
};

std::vector<MtPath> mt_paths() {
    std::vector<MtPath> paths;
    for (int i = 0; i < mt_implementation_count; i++) {
        paths.push_back({i, -1});
#if VAVIREREZI_X86_64
        for (int t = 0; i == mt_implementation_avx512 && t < mt_impl::avx512_tuning_count; t++)
            paths.push_back({i, t});
#endif
    }
    return paths;
}

std::string path_name(const MtPath &p) {
    std::string name = mt_implementation_name(p.implementation);
#if VAVIREREZI_X86_64
    if (p.tuning >= 0)
        name = name + "_" + mt_impl::avx512_tuning_name(p.tuning);
#endif
    return name;
}

void xor_keystream_on(const MtPath &p, MtState *state, uint32_t *index, const uint8_t *in,
                      uint8_t *out, size_t len) {
#if VAVIREREZI_X86_64
    if (p.tuning >= 0)
        return mt_impl::xor_keystream_avx512_tuned(p.tuning, state, index, in, out, len, len);
#endif
    mt_xor_keystream_by(p.implementation, state, index, in, out, len);
}

void xor_seeded_on(const MtPath &p, MtState *state, const uint32_t *key, uint32_t offset,
                   const uint8_t *in, uint8_t *out, size_t len) {
    mt_seed_by_array(state, key, 3);
    mt_regenerate_by(p.implementation, state, state);
    uint32_t index = offset;
    xor_keystream_on(p, state, &index, in, out, len);
}

void PrintTo(const MtPath &p, std::ostream *os) {
    *os << path_name(p);
}

// One case per path and property; a path that this CPU cannot run is
// skipped, and ctest and the summary say so.
class MtImplementation : public ::testing::TestWithParam<MtPath> {
  protected:
    void SetUp() override {
        if (!mt_implementation_available(GetParam().implementation))
            GTEST_SKIP() << path_name(GetParam()) << " needs what this CPU lacks";
    }
};

INSTANTIATE_TEST_SUITE_P(Each, MtImplementation, ::testing::ValuesIn(mt_paths()),
                         [](const ::testing::TestParamInfo<MtPath> &info) {
                             return path_name(info.param);
                         });

TEST_P(MtImplementation, RegeneratesInPlaceAndApartAsThePlainOne) {
    std::mt19937 rng(31337);
    // Random blocks reach every combination of the bits that a twist reads.
    for (int trial = 0; trial < 50; trial++) {
        MtState a, in_place, apart, plain;
        for (auto &w : a.word)
            w = static_cast<uint32_t>(rng());
        std::memcpy(&in_place, &a, sizeof a);
        mt_regenerate_by(GetParam().implementation, &a, &apart);
        mt_regenerate_by(GetParam().implementation, &in_place, &in_place);
        mt_regenerate_plain(&a, &plain);
        ASSERT_EQ(0, std::memcmp(&apart, &plain, sizeof plain));
        ASSERT_EQ(0, std::memcmp(&in_place, &plain, sizeof plain));
    }
}

TEST_P(MtImplementation, MatchesReferenceForOffsetsAndLengthsApartAndInPlace) {
    std::mt19937 rng(7);
    auto check = [&](uint32_t offset, size_t len) {
        uint32_t key[3] = {uint32_t(rng()), uint32_t(rng()), uint32_t(rng())};
        // Odd-aligned buffers with guard bytes on both sides.
        std::vector<uint8_t> in(len + 3), want(len), got(len + 6, 0xcc);
        for (auto &b : in)
            b = static_cast<uint8_t>(rng());
        ref_mt_xor(key, offset, in.data() + 3, want.data(), len);

        MtState state;
        xor_seeded_on(GetParam(), &state, key, offset, in.data() + 3, got.data() + 3, len);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), got.begin() + 3))
            << "offset " << offset << " length " << len;
        for (int g : {0, 1, 2})
            ASSERT_EQ(got[g], 0xcc);
        for (size_t g = len + 3; g < len + 6; g++)
            ASSERT_EQ(got[g], 0xcc) << "wrote past the end";
        // In place, at the same odd alignment.
        xor_seeded_on(GetParam(), &state, key, offset, in.data() + 3, in.data() + 3, len);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), in.begin() + 3))
            << "in place, offset " << offset << " length " << len;
    };
    const uint32_t offsets[] = {0,   1,   2,   3,      100,        620,         622,
                                623, 624, 625, 100000, 0x7fffffff, 0x80000000u, 0xffffffffu};
    for (uint32_t offset : offsets)
        for (size_t len : {0,  1,  2,  3,   4,   5,   15,  16,   17,   31,   32,   33,
                           63, 64, 65, 127, 128, 129, 191, 2495, 2496, 2497, 4993, 10000})
            check(offset, len);
    // Large enough for the streaming loop of the wide kernels.
    check(5, (2u << 20) + 5003);
}

uint8_t *line_aligned(std::vector<uint8_t> &v) {
    return v.data() + (64 - reinterpret_cast<uintptr_t>(v.data()) % 64) % 64;
}

TEST_P(MtImplementation, MatchesPlainAtEveryMisalignmentApartAndInPlace) {
    // Input and output at every pair of offsets past a 64-byte line, and in
    // place at every offset, over lengths that start inside a block, cross
    // whole blocks and end inside a word; nothing around the output written.
    const uint32_t key[3] = {0x9e3779b9u, 7, 0xfffffffeu};
    std::mt19937 rng(64);
    const std::pair<uint32_t, size_t> cases[] = {
        {5, 4 * (mt_n - 5) + 2 * 4 * mt_n + 37}, {624, 2 * 4 * mt_n + 3}, {100, 201}};
    for (auto [offset, len] : cases) {
        std::vector<uint8_t> data(len), want(len);
        for (auto &b : data)
            b = static_cast<uint8_t>(rng());
        MtState state;
        mt_xor_seeded_by(mt_implementation_plain, &state, key, 3, offset, data.data(), want.data(),
                         len);
        const size_t span = len + 128;
        std::vector<uint8_t> in_store(span + 64), out_store(span + 64), expected(span);
        uint8_t *in_line = line_aligned(in_store), *out_line = line_aligned(out_store);
        for (size_t in_at = 0; in_at < 64; in_at++) {
            std::copy(data.begin(), data.end(), in_line + in_at);
            for (size_t out_at = 0; out_at <= 64; out_at++) { // 64: in place, at in_at
                bool in_place = out_at == 64;
                uint8_t *line = in_place ? in_line : out_line;
                size_t at = in_place ? in_at : out_at;
                std::fill(line, line + span, 0xcc);
                if (in_place)
                    std::copy(data.begin(), data.end(), in_line + in_at);
                xor_seeded_on(GetParam(), &state, key, offset, in_line + in_at, line + at, len);
                std::fill(expected.begin(), expected.end(), 0xcc);
                std::copy(want.begin(), want.end(), expected.begin() + at);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), line))
                    << "offset " << offset << " length " << len << " input at " << in_at
                    << (in_place ? " in place" : ", output at " + std::to_string(out_at));
            }
        }
    }
}

TEST_P(MtImplementation, ConsecutiveCallsEqualOneCall) {
    // Split at word boundaries, two calls continue one stream; the position
    // stays inside the block.
    const uint32_t key[3] = {5, 6, 7};
    std::vector<uint8_t> in(8000, 0x5a), whole(8000), parts(8000);
    for (size_t split : {0, 4, 2496, 2500, 7996}) {
        MtState seed, w1, w2;
        mt_seed_by_array(&seed, key, 3);
        mt_regenerate_by(GetParam().implementation, &seed, &w1);
        std::memcpy(&w2, &w1, sizeof w1);
        uint32_t i1 = 3, i2 = 3;
        xor_keystream_on(GetParam(), &w1, &i1, in.data(), whole.data(), in.size());
        xor_keystream_on(GetParam(), &w2, &i2, in.data(), parts.data(), split);
        EXPECT_LE(i2, static_cast<uint32_t>(mt_n));
        xor_keystream_on(GetParam(), &w2, &i2, in.data() + split, parts.data() + split,
                         in.size() - split);
        EXPECT_EQ(whole, parts) << "split at " << split;
        EXPECT_EQ(i1, i2);
    }
}

TEST_P(MtImplementation, StreamPiecesEqualOneCall) {
    if (GetParam().tuning >= 0)
        GTEST_SKIP() << "a stream takes its implementation's own tuning";
    // A stream split anywhere, into two pieces or a piece of 1 to 5 bytes and
    // the rest, or with the first piece skipped, gives the whole call's bytes
    // in order; the offsets put block ends at every phase of a word.
    const uint32_t key[3] = {0x9e3779b9u, 0, 77};
    const size_t len = 2 * 4 * mt_n + 7;
    std::vector<uint8_t> in(len), want(len), got(len);
    for (size_t i = 0; i < len; i++)
        in[i] = static_cast<uint8_t>(i * 131 + 7);
    for (uint32_t offset : {0u, 623u, 624u, 0xffffffffu}) {
        ref_mt_xor(key, offset, in.data(), want.data(), len);
        MtStream seeded;
        mt_stream_seed(&seeded, key, 3, offset);
        for (size_t split = 0; split <= len; split++) {
            MtStream s = seeded;
            size_t second = split + 1 + split % 5 < len ? split + 1 + split % 5 : len;
            mt_stream_xor_by(GetParam().implementation, &s, in.data(), got.data(), split);
            mt_stream_xor_by(GetParam().implementation, &s, in.data() + split, got.data() + split,
                             second - split);
            mt_stream_xor_by(GetParam().implementation, &s, in.data() + second, got.data() + second,
                             len - second);
            ASSERT_EQ(got, want) << "offset " << offset << " split " << split;
            ASSERT_EQ(s.position, len);
            // Skipped, then the rest in place.
            s = seeded;
            mt_stream_skip(&s, split);
            std::copy(in.begin(), in.end(), got.begin());
            mt_stream_xor_by(GetParam().implementation, &s, got.data() + split, got.data() + split,
                             len - split);
            ASSERT_TRUE(std::equal(want.begin() + split, want.end(), got.begin() + split))
                << "skipped " << split << ", offset " << offset;
        }
    }
    // A skip of many blocks lands where XORing as many bytes does.
    MtStream a, b;
    mt_stream_seed(&a, key, 3, 5);
    b = a;
    std::vector<uint8_t> zeros(1000003);
    mt_stream_xor_by(GetParam().implementation, &a, zeros.data(), zeros.data(), zeros.size());
    mt_stream_skip(&b, zeros.size());
    uint8_t next_a[9] = {0}, next_b[9] = {0};
    mt_stream_xor_by(GetParam().implementation, &a, next_a, next_a, 9);
    mt_stream_xor_by(GetParam().implementation, &b, next_b, next_b, 9);
    EXPECT_EQ(0, std::memcmp(next_a, next_b, 9));
    EXPECT_EQ(a.position, b.position);
    // Pieces of one long buffer in turn, which a walk past a few MiB takes
    // to come from memory, and then pieces in a buffer of their own.
    std::vector<uint8_t> big(9u << 20), big_want(big.size() + 50000), big_got(big.size() + 50000);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = static_cast<uint8_t>(i * 7);
    big.resize(big_want.size(), 3);
    MtState plain;
    mt_xor_seeded_by(mt_implementation_plain, &plain, key, 3, 9, big.data(), big_want.data(),
                     big.size());
    MtStream walker;
    mt_stream_seed(&walker, key, 3, 9);
    size_t at = 0;
    for (; at + 100003 <= (9u << 20); at += 100003)
        mt_stream_xor_by(GetParam().implementation, &walker, big.data() + at, big_got.data() + at,
                         100003);
    std::vector<uint8_t> piece(50000);
    for (size_t end = big.size(); at < end;) {
        size_t n = std::min(piece.size(), end - at);
        std::copy(big.begin() + at, big.begin() + at + n, piece.begin());
        mt_stream_xor_by(GetParam().implementation, &walker, piece.data(), piece.data(), n);
        std::copy(piece.begin(), piece.begin() + n, big_got.begin() + at);
        at += n;
    }
    EXPECT_EQ(big_got, big_want);
}

TEST_P(MtImplementation, RoundTripsInPlace) {
    const uint32_t key[3] = {0xffffffffu, 0, 42};
    std::vector<uint8_t> data(3001);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<uint8_t>(i * 7);
    auto original = data;
    MtState state;
    xor_seeded_on(GetParam(), &state, key, 17, data.data(), data.data(), data.size());
    EXPECT_NE(data, original);
    xor_seeded_on(GetParam(), &state, key, 17, data.data(), data.data(), data.size());
    EXPECT_EQ(data, original);
}

} // namespace

// Jump-ahead: the polynomial, then each implementation against stepping.
#include "mt19937_jump.h"
#include "mt19937_jump_impl.h"
#include "mt19937_jump_poly.h"

namespace {

// x[0 ..] of the sequence from a seeded state, `blocks` blocks of it.
std::vector<uint32_t> sequence_from(const uint32_t *key, int32_t key_length, int blocks) {
    std::vector<uint32_t> x(static_cast<size_t>(blocks) * mt_n);
    MtState s;
    mt_seed_by_array(&s, key, key_length);
    for (int b = 0; b < blocks; b++) {
        std::memcpy(x.data() + static_cast<size_t>(b) * mt_n, s.word, sizeof s.word);
        mt_regenerate_plain(&s, &s);
    }
    return x;
}

TEST(Mt19937Jump, PolynomialAnnihilatesTheSequence) {
    // For every starting point j >= 1, all 32 bit positions at once: the XOR
    // of x[j + e] over P's exponents is zero; from j = 0 the top bit alone.
    const uint32_t key[3] = {0x11111111u, 0xfedcba98u, 3};
    auto x = sequence_from(key, 3, 40);
    EXPECT_EQ(mt_jump_poly_exponents[0], 19937);
    EXPECT_EQ(mt_jump_poly_exponents[1], 19314);
    EXPECT_EQ(mt_jump_poly_exponents[mt_jump_poly_terms - 1], 0);
    for (size_t j : {1, 2, 3, 396, 397, 623, 624, 625, 1000, 4321, 5000}) {
        uint32_t acc = 0;
        for (int t = 0; t < mt_jump_poly_terms; t++)
            acc ^= x[j + mt_jump_poly_exponents[t]];
        EXPECT_EQ(acc, 0u) << "from x[" << j << "]";
    }
    uint32_t acc = 0;
    for (int t = 0; t < mt_jump_poly_terms; t++)
        acc ^= x[mt_jump_poly_exponents[t]];
    EXPECT_EQ(acc & mt_upper_mask, 0u);
    // Without its last term it does not: the test can fail.
    acc = 0;
    for (int t = 0; t + 1 < mt_jump_poly_terms; t++)
        acc ^= x[1 + mt_jump_poly_exponents[t]];
    EXPECT_NE(acc, 0u);
}

// Polynomials below P as 312 words, and an independent product mod P: a bit
// at a time, slowly.
using Poly = std::vector<uint64_t>;

Poly slow_mul_mod(const Poly &a, const Poly &b) {
    std::vector<uint64_t> prod(2 * mt_jump_poly_words + 1, 0);
    for (int i = 0; i < mt_jump_degree; i++) {
        if (!(a[i / 64] >> (i % 64) & 1))
            continue;
        for (int k = 0; k < mt_jump_poly_words; k++) {
            int s = i % 64;
            prod[k + i / 64] ^= b[k] << s;
            if (s != 0)
                prod[k + i / 64 + 1] ^= b[k] >> (64 - s);
        }
    }
    for (int d = 2 * mt_jump_degree; d >= mt_jump_degree; d--) {
        if (!(prod[d / 64] >> (d % 64) & 1))
            continue;
        for (int t = 0; t < mt_jump_poly_terms; t++) {
            int e = d - mt_jump_degree + mt_jump_poly_exponents[t];
            prod[e / 64] ^= uint64_t{1} << (e % 64);
        }
    }
    prod.resize(mt_jump_poly_words);
    return prod;
}

Poly power_of(int implementation, MtJumpScratch *scratch, uint64_t m) {
    mt_jump_power_by(implementation, scratch, m);
    return Poly(scratch->poly, scratch->poly + mt_jump_poly_words);
}

// The next `n` bytes of a copy of the stream.
std::vector<uint8_t> next_bytes(MtStream s, size_t n) {
    std::vector<uint8_t> b(n, 0);
    mt_stream_xor_by(mt_implementation_plain, &s, b.data(), b.data(), n);
    return b;
}

struct ScratchHolder {
    std::unique_ptr<MtJumpScratch> p{new MtJumpScratch};
    MtJumpScratch *get() {
        return p.get();
    }
};

TEST(Mt19937Jump, PowersComposeAsProductsModP) {
    ScratchHolder scratch;
    for (int impl = 0; impl < mt_jump_implementation_count; impl++) {
        if (!mt_jump_implementation_available(impl))
            continue;
        // Small exponents are a single term; x^19937 is P's low terms.
        for (uint64_t m : {0u, 1u, 63u, 64u, 19936u}) {
            Poly want(mt_jump_poly_words, 0);
            want[m / 64] = uint64_t{1} << (m % 64);
            EXPECT_EQ(power_of(impl, scratch.get(), m), want) << m;
        }
        Poly low(mt_jump_poly_words, 0);
        for (int t = 1; t < mt_jump_poly_terms; t++)
            low[mt_jump_poly_exponents[t] / 64] ^= uint64_t{1} << (mt_jump_poly_exponents[t] % 64);
        EXPECT_EQ(power_of(impl, scratch.get(), 19937), low);
        // x^(a + b) = x^a x^b mod P, up to 64-bit exponents.
        const std::pair<uint64_t, uint64_t> cases[] = {{19937, 19937},
                                                       {123456789, 987654321},
                                                       {uint64_t{1} << 62, (uint64_t{1} << 62) - 1},
                                                       {0x7ffffffffffffffful, 0x7ffffffffffffffful},
                                                       {~uint64_t{0} - 5000, 5000}};
        for (auto [a, b] : cases) {
            Poly pa = power_of(impl, scratch.get(), a);
            Poly pb = power_of(impl, scratch.get(), b);
            EXPECT_EQ(power_of(impl, scratch.get(), a + b), slow_mul_mod(pa, pb))
                << mt_jump_implementation_name(impl) << ": " << a << " + " << b;
        }
    }
}

class MtJumpImplementation : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        if (!mt_jump_implementation_available(GetParam()))
            GTEST_SKIP() << mt_jump_implementation_name(GetParam()) << " needs what this CPU lacks";
    }
    MtStream jumped(const uint32_t *key, uint32_t offset, uint64_t position) {
        MtStream s;
        std::memset(&s, 0x5a, sizeof s); // all of it written
        mt_stream_jump_by(GetParam(), &s, key, 3, offset, position, scratch.get());
        return s;
    }
    ScratchHolder scratch;
};

INSTANTIATE_TEST_SUITE_P(Each, MtJumpImplementation,
                         ::testing::Range(0, static_cast<int>(mt_jump_implementation_count)),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return std::string(mt_jump_implementation_name(info.param));
                         });

// Byte positions around every boundary: the first word, each side of 397,
// 623, 624, 1247 and 1248 outputs, the switch points, some millions.
std::vector<uint64_t> boundary_positions() {
    std::vector<uint64_t> p = {0, 1, 2, 3, 4, 5, 7};
    for (uint64_t t : {396u, 397u, 622u, 623u, 624u, 625u, 1246u, 1247u, 1248u, 1249u, 19936u,
                       19937u, 400000u, 400001u})
        for (uint64_t r : {0u, 1u, 3u})
            p.push_back(4 * t + r);
    for (uint64_t b : {uint64_t{3000001}, uint64_t{7000003}, uint64_t{4} << 20, uint64_t{16} << 20,
                       (uint64_t{16} << 20) + 2})
        p.push_back(b);
    std::sort(p.begin(), p.end());
    return p;
}

TEST_P(MtJumpImplementation, JumpedEqualsSteppedAroundEveryBoundary) {
    const uint32_t key[3] = {0x01234567u, 0x89abcdefu, 0xdeadbeefu};
    const size_t n = 2 * 4 * mt_n + 13; // past a block boundary of its own
    for (uint32_t offset : {0u, 623u, 624u, 0xffffffffu}) {
        MtStream step;
        mt_stream_seed(&step, key, 3, offset);
        for (uint64_t p : boundary_positions()) {
            mt_stream_skip(&step, p - step.position);
            MtStream j = jumped(key, offset, p);
            ASSERT_EQ(j.position, p);
            ASSERT_EQ(j.walk_end, nullptr);
            ASSERT_EQ(j.walk, 0u);
            ASSERT_EQ(next_bytes(j, n), next_bytes(step, n))
                << "offset " << offset << " byte " << p;
            // and stepping on from the jumped stream
            MtStream j2 = j, s2 = step;
            mt_stream_skip(&j2, 4 * mt_n + 3);
            mt_stream_skip(&s2, 4 * mt_n + 3);
            ASSERT_EQ(next_bytes(j2, 9), next_bytes(s2, 9)) << "offset " << offset << " byte " << p;
        }
    }
}

TEST_P(MtJumpImplementation, JumpedEqualsSteppedAtABillionBytes) {
    const uint32_t key[3] = {7, 8, 9};
    for (uint32_t offset : {0u, 0xffffffffu}) {
        MtStream step;
        mt_stream_seed(&step, key, 3, offset);
        for (uint64_t p : {uint64_t{1000000000}, uint64_t{1000000007}, uint64_t{2000000002}}) {
            mt_stream_skip(&step, p - step.position);
            ASSERT_EQ(next_bytes(jumped(key, offset, p), 100), next_bytes(step, 100))
                << "offset " << offset << " byte " << p;
        }
    }
}

TEST_P(MtJumpImplementation, MatchesThePortableOne) {
    std::mt19937_64 rng(2024);
    ScratchHolder plain_scratch;
    for (int trial = 0; trial < 40; trial++) {
        uint32_t key[3] = {uint32_t(rng()), uint32_t(rng()), uint32_t(rng())};
        uint32_t offset = trial % 4 == 0 ? 0xffffffffu : uint32_t(rng() % 700);
        uint64_t p = rng() >> (rng() % 64);
        if (trial == 0)
            p = ~uint64_t{0};
        MtStream a = jumped(key, offset, p), b;
        mt_stream_jump_by(mt_jump_implementation_plain, &b, key, 3, offset, p, plain_scratch.get());
        ASSERT_EQ(0, std::memcmp(&a.state, &b.state, sizeof a.state)) << "byte " << p;
        ASSERT_EQ(a.index, b.index);
        ASSERT_EQ(a.used, b.used);
    }
}

TEST_P(MtJumpImplementation, JumpThenStepEqualsOneJumpAtHugePositions) {
    // Where stepping from the start is out of reach: a jump to a, then b bytes
    // stepped (across blocks and words), lands where one jump to a + b does.
    const uint32_t key[3] = {0xcafef00du, 1, 2};
    const uint64_t top = ~uint64_t{0};
    const std::pair<uint64_t, uint64_t> cases[] = {{uint64_t{1} << 35, 5},
                                                   {uint64_t{1} << 50, 3 * 4 * mt_n + 1},
                                                   {(uint64_t{1} << 62) + 3, 100001},
                                                   {top - 4 * mt_n - 2, 4 * mt_n + 2},
                                                   {top - 10, 10},
                                                   {top - 1000000, 999999}};
    for (uint32_t offset : {0u, 623u, 624u, 0xffffffffu}) {
        for (auto [a, b] : cases) {
            MtStream s = jumped(key, offset, a);
            mt_stream_skip(&s, b);
            MtStream one = jumped(key, offset, a + b);
            ASSERT_EQ(s.position, one.position);
            size_t n = static_cast<size_t>(std::min<uint64_t>(top - (a + b), 3000));
            ASSERT_EQ(next_bytes(s, n), next_bytes(one, n))
                << "offset " << offset << ": " << a << " + " << b;
        }
    }
}

TEST(Mt19937Jump, SeekBackAndForthOnOneStream) {
    const uint32_t key[3] = {0xabcdef01u, 0x23456789u, 77};
    ScratchHolder scratch;
    uint64_t sw = mt_jump_switch_bytes();
    for (uint32_t offset : {0u, 623u, 624u, 0xffffffffu}) {
        MtStream s;
        mt_stream_seed(&s, key, 3, offset);
        const uint64_t targets[] = {5,
                                    4 * mt_n + 1,
                                    3,
                                    2 * sw + 7,
                                    2 * sw + 9,
                                    sw + 1,
                                    sw - 1,
                                    1ull << 40,
                                    (1ull << 40) + sw - 3,
                                    (1ull << 40) + 2,
                                    0,
                                    2 * sw + 7,
                                    ~0ull,
                                    6};
        for (uint64_t p : targets) {
            bool steps = mt_stream_seek_steps(&s, p);
            mt_stream_seek(&s, key, 3, offset, p, steps ? nullptr : scratch.get());
            ASSERT_EQ(s.position, p);
            MtStream want;
            mt_stream_jump_by(mt_jump_implementation_plain, &want, key, 3, offset, p,
                              scratch.get());
            size_t n = static_cast<size_t>(std::min<uint64_t>(~0ull - p, 5003));
            ASSERT_EQ(next_bytes(s, n), next_bytes(want, n))
                << "offset " << offset << " byte " << p;
        }
    }
    // Forward within the switch point steps; far off, or back above it, jumps.
    MtStream s;
    mt_stream_seed(&s, key, 3, 0);
    EXPECT_TRUE(mt_stream_seek_steps(&s, sw - 1));
    EXPECT_FALSE(mt_stream_seek_steps(&s, sw + 1));
    s.position = 3 * sw;
    EXPECT_TRUE(mt_stream_seek_steps(&s, 4 * sw - 1));
    EXPECT_TRUE(mt_stream_seek_steps(&s, 10));
    EXPECT_FALSE(mt_stream_seek_steps(&s, 2 * sw));
}

TEST(Mt19937Jump, SeekThenXorEqualsOneShotXor) {
    // The whole buffer at once, against its pieces each seeked to first, in
    // any order, with the jump forced where stepping would be chosen.
    const uint32_t key[3] = {0x31415926u, 0x53589793u, 0x23846264u};
    ScratchHolder scratch;
    const size_t len = 3 * 4 * mt_n * 7 + 5;
    std::vector<uint8_t> in(len), whole(len), got(len, 0);
    for (size_t i = 0; i < len; i++)
        in[i] = static_cast<uint8_t>(i * 29 + 1);
    for (uint32_t offset : {0u, 623u, 624u, 0xffffffffu}) {
        MtState st;
        mt_xor_seeded(&st, key, 3, offset, in.data(), whole.data(), len);
        std::vector<size_t> cuts = {
            0,    1,       2,       3,  4, 4 * 396 + 1, 4 * 623 + 2, 4 * 624, 4 * 1248 + 3,
            9999, len / 2, len - 3, len};
        MtStream s;
        mt_stream_seed(&s, key, 3, offset);
        for (size_t i = cuts.size() - 1; i-- > 0;) { // pieces from the last back
            size_t a = cuts[i], b = cuts[i + 1];
            if (i % 2 == 0)
                mt_stream_jump(&s, key, 3, offset, a, scratch.get());
            else
                mt_stream_seek(&s, key, 3, offset, a, scratch.get());
            mt_stream_xor(&s, in.data() + a, got.data() + a, b - a);
            ASSERT_EQ(s.position, b);
        }
        ASSERT_EQ(got, whole) << "offset " << offset;
    }
}

TEST(Mt19937Jump, MoveIsSkipForAnyLength) {
    const uint32_t key[3] = {1, 2, 3};
    ScratchHolder scratch;
    for (uint32_t offset : {0u, 624u}) {
        MtStream s, t;
        mt_stream_seed(&s, key, 3, offset);
        t = s;
        // Small moves step, as mt_stream_skip.
        for (uint64_t len : {uint64_t{0}, uint64_t{1}, uint64_t{3}, uint64_t{4 * mt_n + 1}}) {
            ASSERT_TRUE(mt_stream_move(&s, key, 3, offset, len, scratch.get()));
            mt_stream_skip(&t, len);
            ASSERT_EQ(next_bytes(s, 3000), next_bytes(t, 3000));
        }
        // Huge ones jump: 2^60 bytes in no time, then up to the very end.
        uint64_t at = s.position;
        ASSERT_TRUE(mt_stream_move(&s, key, 3, offset, uint64_t{1} << 60, scratch.get()));
        EXPECT_EQ(s.position, at + (uint64_t{1} << 60));
        mt_stream_jump(&t, key, 3, offset, at + (uint64_t{1} << 60), scratch.get());
        EXPECT_EQ(next_bytes(s, 3000), next_bytes(t, 3000));
        uint64_t rest = ~uint64_t{0} - s.position;
        EXPECT_FALSE(mt_stream_move(&s, key, 3, offset, rest + 1, scratch.get()));
        EXPECT_EQ(s.position, at + (uint64_t{1} << 60));
        ASSERT_TRUE(mt_stream_move(&s, key, 3, offset, rest, scratch.get()));
        EXPECT_EQ(s.position, ~uint64_t{0});
        mt_stream_jump(&t, key, 3, offset, ~uint64_t{0}, scratch.get());
        EXPECT_EQ(0, std::memcmp(&s.state, &t.state, sizeof s.state));
    }
}

TEST(Mt19937Jump, ConcurrentJumpsWithTheirOwnScratch) {
    // Nothing shared but the constant tables: four threads, each its own
    // scratch and stream, give what one thread gives.
    const uint32_t key[3] = {4, 5, 6};
    const uint64_t positions[4] = {uint64_t{1} << 40, 12345678901ull, ~uint64_t{0} - 77,
                                   1ull << 25};
    MtStream got[4], want[4];
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++)
        threads.emplace_back([&, i] {
            ScratchHolder scratch;
            for (int round = 0; round < 5; round++)
                mt_stream_jump(&got[i], key, 3, 9, positions[i], scratch.get());
        });
    for (auto &t : threads)
        t.join();
    ScratchHolder scratch;
    for (int i = 0; i < 4; i++) {
        mt_stream_jump(&want[i], key, 3, 9, positions[i], scratch.get());
        EXPECT_EQ(0, std::memcmp(&got[i].state, &want[i].state, sizeof want[i].state));
    }
}

} // namespace
