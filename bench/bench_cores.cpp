// Side-by-side benchmark of the cores against reference-style baselines,
// OpenSSL's libcrypto and libgcrypt. Usage:
// bench_cores [keystream|blowfish|all], or bench_cores tunings [bytes...], or
// bench_cores jump (the jump-ahead against generating, and the switch point)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <memory>

#include <gcrypt.h>
#include <openssl/blowfish.h>

#include "blowfish.h"
#include "blowfish_tables.h"
#include "harness.h"
#include "mt19937.h"
#include "mt19937_impl.h"
#include "mt19937_jump.h"
#include "reference/bf_reference.h"
#include "reference/mt_reference.h"

namespace {

const size_t sizes[] = {64, 4096, 65536, 1 << 20, 16 << 20};

// Many short rounds where a call is short, so that the drift of the
// machine's speed (its memory bandwidth especially) falls on every contender
// alike.
int rounds_for(size_t bytes) {
    return bytes >= (16u << 20) ? 7 : 45;
}

double sample_for(size_t bytes) {
    return bytes >= (16u << 20) ? 0.05 : 0.003;
}

volatile uint8_t sink;

// The implementations this CPU runs, by name, the chosen one marked.
std::string names(int count, bool (*available)(int), const char *(*name)(int), int chosen) {
    std::string out;
    for (int i = 0; i < count; i++)
        if (available(i))
            out +=
                std::string(out.empty() ? "" : ", ") + name(i) + (i == chosen ? " (chosen)" : "");
    return out;
}

// The processor's name, as the kernel reports it.
std::string cpu_model() {
    std::FILE *f = std::fopen("/proc/cpuinfo", "r");
    char line[256];
    std::string model = "unknown";
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
        std::string text = line;
        if (text.rfind("model name", 0) == 0 && text.find(':') != std::string::npos) {
            model = text.substr(text.find(':') + 2);
            model.erase(model.find_last_not_of("\n") + 1);
            break;
        }
    }
    if (f != nullptr)
        std::fclose(f);
    return model;
}

// An input and an output of `bytes`, `in_at` and `out_at` bytes past a
// 64-byte line, both in `store`, which is kept and reused: written once here,
// so that no contender pays its page faults.
struct Buffers {
    std::vector<uint8_t> store;
    const uint8_t *in;
    uint8_t *out;
};
Buffers buffers(size_t bytes, size_t in_at, size_t out_at, uint8_t fill) {
    size_t span = (bytes + 127) / 64 * 64;
    Buffers b{std::vector<uint8_t>(2 * span + 64, fill), nullptr, nullptr};
    uint8_t *base = b.store.data();
    base += (64 - reinterpret_cast<uintptr_t>(base) % 64) % 64;
    b.in = base + in_at;
    b.out = base + span + out_at;
    return b;
}

// Buffers 64-byte aligned, and at sizes that Python hands over unaligned
// also both at 48 past a line, in rows named with " +48": each row against
// memcpy at its own alignment, timed in the same rounds.
std::vector<std::pair<size_t, size_t>> alignments_for(size_t bytes) {
    if (bytes == 65536 || bytes == (1u << 20))
        return {{0, 0}, {48, 48}};
    return {{0, 0}};
}

// The suffix of the rows with input at `in_at` bytes past a line and output
// at `out_at`: "" aligned, " +48" both at 48, " +16/48" apart.
std::string alignment_suffix(size_t in_at, size_t out_at) {
    if (in_at != out_at)
        return " +" + std::to_string(in_at) + "/" + std::to_string(out_at);
    return in_at == 0 ? "" : " +" + std::to_string(in_at);
}

// The rows of each alignment apart, `at` giving each result's suffix, each
// against the baseline at its own.
void report_by_alignment(const std::string &job, size_t bytes, const std::vector<Result> &results,
                         const std::vector<std::string> &at, const std::string &baseline) {
    std::vector<std::string> seen;
    for (const std::string &a : at) {
        if (std::find(seen.begin(), seen.end(), a) != seen.end())
            continue;
        seen.push_back(a);
        std::vector<Result> rows;
        for (size_t i = 0; i < results.size(); i++)
            if (at[i] == a)
                rows.push_back(results[i]);
        report(job, bytes, rows, baseline + a);
    }
}

// Contenders on buffers of `bytes` at each of `alignments` (input and output
// bytes past a line), as `add` appends them for an input, an output and the
// suffix of their rows: all timed in the same rounds, reported by alignment.
template <typename Add>
void measure_by_alignment(const std::string &job, size_t bytes,
                          const std::vector<std::pair<size_t, size_t>> &alignments, uint8_t fill,
                          int rounds, double sample, const std::string &baseline, Add add) {
    std::vector<Buffers> bufs;
    std::vector<Contender> c;
    std::vector<std::string> at;
    for (auto [in_at, out_at] : alignments) {
        bufs.push_back(buffers(bytes, in_at, out_at, fill));
        std::string suffix = alignment_suffix(in_at, out_at);
        add(c, bufs.back().in, bufs.back().out, suffix);
        at.resize(c.size(), suffix);
    }
    report_by_alignment(job, bytes, measure(c, rounds, sample), at, baseline);
}

// From output 16 on, the whole blocks start 4 x 608 bytes in, on a line where
// the buffers start on one: a partial block first, and the blocks at the
// buffers' alignment.
const uint32_t bench_key[3] = {0x01234567, 0x89abcdef, 0xdeadbeef};
const uint32_t bench_offset = 16;

void bench_keystream() {
    const uint32_t *key = bench_key;
    const uint32_t offset = bench_offset;
    for (size_t bytes : sizes)
        measure_by_alignment(
            "keystream xor", bytes, alignments_for(bytes), 0x5a, rounds_for(bytes),
            sample_for(bytes), "reference (word at a time)",
            [&](std::vector<Contender> &c, const uint8_t *ip, uint8_t *op,
                const std::string &suffix) {
                c.push_back({"reference (word at a time)" + suffix,
                             [=] { ref_mt_xor(key, offset, ip, op, bytes); }});
                c.push_back({"mt_xor_keystream (dispatch)" + suffix, [=] {
                                 MtState state;
                                 mt_xor_seeded(&state, key, 3, offset, ip, op, bytes);
                             }});
                for (int i = 0; i < mt_implementation_count; i++)
                    if (mt_implementation_available(i))
                        c.push_back({mt_implementation_name(i) + suffix, [=] {
                                         MtState state;
                                         mt_xor_seeded_by(i, &state, key, 3, offset, ip, op, bytes);
                                     }});
                c.push_back({"memcpy" + suffix, [=] {
                                 std::memcpy(op, ip, bytes);
                                 sink = op[bytes / 2];
                             }});
            });
    // Fixed cost of a call: seeding and the first regeneration, no data.
    uint8_t b = 0;
    std::vector<Contender> c = {
        {"reference (word at a time)", [&] { ref_mt_xor(key, offset, &b, &b, 0); }},
        {"mt_xor_keystream (dispatch)",
         [&] {
             MtState state;
             mt_xor_seeded(&state, key, 3, offset, &b, &b, 0);
         }},
    };
    report("keystream call", 0, measure(c, 15, 0.01), "reference (word at a time)");
}

// The AVX-512 key stream's tunings side by side, where this CPU runs it, at
// the sizes given (bytes) or at five: each against memcpy at the same
// alignment, with the buffers aligned, both at 16 and both at 48 past a line,
// and apart at 16 and 48 (a bytearray of 1 MiB and bytes made from it, in
// Python 3.11); in many short rounds, as the differences are small.
void bench_tunings(std::vector<size_t> tuning_sizes) {
#if VAVIREREZI_X86_64
    if (!mt_implementation_available(mt_implementation_avx512)) {
        std::printf("no AVX-512 here\n");
        return;
    }
    if (tuning_sizes.empty())
        tuning_sizes = {4096, 65536, 256u << 10, 1u << 20, 16u << 20};
    const std::vector<std::pair<size_t, size_t>> alignments = {
        {0, 0}, {16, 16}, {48, 48}, {16, 48}, {48, 16}};
    for (size_t bytes : tuning_sizes)
        measure_by_alignment(
            "keystream xor", bytes, alignments, 0x5a, 101, 0.002, "memcpy",
            [&](std::vector<Contender> &c, const uint8_t *ip, uint8_t *op,
                const std::string &suffix) {
                for (int t = 0; t < mt_impl::avx512_tuning_count; t++)
                    c.push_back(
                        {std::string("avx512 ") + mt_impl::avx512_tuning_name(t) + suffix, [=] {
                             MtState state;
                             mt_seed_by_array(&state, bench_key, 3);
                             mt_regenerate_avx512(&state, &state);
                             uint32_t index = bench_offset;
                             mt_impl::xor_keystream_avx512_tuned(t, &state, &index, ip, op, bytes,
                                                                 bytes);
                         }});
                c.push_back({"memcpy" + suffix, [=] {
                                 std::memcpy(op, ip, bytes);
                                 sink = op[bytes / 2];
                             }});
            });
#endif
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
            size_t nb = bytes / 8;
            measure_by_alignment(
                job, bytes, alignments_for(bytes), 0x33, rounds_for(bytes), sample_for(bytes),
                "reference (block at a time)",
                [&](std::vector<Contender> &c, const uint8_t *ip, uint8_t *op,
                    const std::string &suffix) {
                    c.push_back({"reference (block at a time)" + suffix,
                                 [&, ip, op] { ref_bf_ecb(&ref, ip, op, nb, encrypt); }});
                    c.push_back({"bf_crypt_blocks (dispatch)" + suffix,
                                 [&, ip, op] { bf_crypt_blocks(ip, &ctx, op, nb, encrypt); }});
                    for (int i = 0; i < bf_implementation_count; i++)
                        if (bf_implementation_available(i))
                            c.push_back({bf_implementation_name(i) + suffix, [&, i, ip, op] {
                                             bf_crypt_blocks_by(i, ip, &ctx, op, nb, encrypt);
                                         }});
                    c.push_back({"openssl BF_ecb_encrypt" + suffix, [&, ip, op] {
                                     for (size_t b = 0; b < nb; b++)
                                         BF_ecb_encrypt(ip + 8 * b, op + 8 * b, &ossl,
                                                        encrypt ? BF_ENCRYPT : BF_DECRYPT);
                                 }});
                    c.push_back({"libgcrypt ecb" + suffix, [&, ip, op] {
                                     if (encrypt)
                                         gcry_cipher_encrypt(gc, op, bytes, ip, bytes);
                                     else
                                         gcry_cipher_decrypt(gc, op, bytes, ip, bytes);
                                 }});
                });
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

// The jump to byte positions 2^20 to 2^64 - 1 by each implementation, from
// the seeded state, against generating that far (mt_stream_skip: one
// regeneration a block, the dispatched one), measured where it takes under a
// second and otherwise reckoned from the rate measured over 2^30 bytes.
// Then the switch point: the distance at which a jump costs as much as
// stepping forward, by bisection between distances (medians of a few
// rounds each).
void bench_jump() {
    std::unique_ptr<MtJumpScratch> scratch(new MtJumpScratch);
    MtStream seeded;
    mt_stream_seed(&seeded, bench_key, 3, bench_offset);
    MtStream out;
    auto skip_seconds = [&](uint64_t bytes, int rounds) {
        std::vector<Contender> c = {{"skip", [&] {
                                         out = seeded;
                                         mt_stream_skip(&out, bytes);
                                         sink = static_cast<uint8_t>(out.state.word[0]);
                                     }}};
        return measure(c, rounds, 0.002)[0].seconds;
    };
    double rate = static_cast<double>(1u << 30) / skip_seconds(uint64_t{1} << 30, 5);
    std::printf("| %-15s | %-10s | %-31s | %12s |\n", "job", "position", "contender", "median us");
    std::printf("|%s|%s|%s|%s|\n", std::string(17, '-').c_str(), std::string(12, '-').c_str(),
                std::string(33, '-').c_str(), std::string(14, '-').c_str());
    const std::pair<const char *, uint64_t> positions[] = {{"2^20", uint64_t{1} << 20},
                                                           {"2^30", uint64_t{1} << 30},
                                                           {"2^35", uint64_t{1} << 35},
                                                           {"2^50", uint64_t{1} << 50},
                                                           {"2^64-1", ~uint64_t{0}}};
    for (auto [label, position] : positions) {
        std::vector<Contender> c;
        for (int i = 0; i < mt_jump_implementation_count; i++)
            if (mt_jump_implementation_available(i))
                c.push_back({std::string("jump ") + mt_jump_implementation_name(i), [&, i] {
                                 mt_stream_jump_by(i, &out, bench_key, 3, bench_offset, position,
                                                   scratch.get());
                             }});
        for (const Result &r : measure(c, 201, 0.0005))
            std::printf("| %-15s | %-10s | %-31s | %12.1f |\n", "mt jump", label, r.name.c_str(),
                        r.seconds * 1e6);
        double seconds = static_cast<double>(position) / rate;
        bool measured = seconds < 1;
        if (measured)
            seconds = skip_seconds(position, position <= (uint64_t{1} << 20) ? 101 : 5);
        std::printf("| %-15s | %-10s | %-31s | %12.4g |\n", "mt jump", label,
                    measured ? "generating (measured)" : "generating (from the rate)",
                    seconds * 1e6);
    }
    std::printf("\ngenerating: %.3g bytes/s (mt_stream_skip over 2^30 bytes)\n", rate);
    // The switch point of each implementation: the largest distance at which
    // stepping is still faster, by bisection on a log scale.
    for (int i = 0; i < mt_jump_implementation_count; i++) {
        if (!mt_jump_implementation_available(i))
            continue;
        auto jump_faster = [&](uint64_t d) {
            std::vector<Contender> c = {
                {"jump",
                 [&] { mt_stream_jump_by(i, &out, bench_key, 3, bench_offset, d, scratch.get()); }},
                {"skip", [&] {
                     out = seeded;
                     mt_stream_skip(&out, d);
                 }}};
            auto r = measure(c, 31, 0.002);
            return r[0].seconds < r[1].seconds;
        };
        uint64_t lo = uint64_t{1} << 16, hi = uint64_t{1} << 30;
        while (hi / lo > 1 && hi - lo > lo / 16) {
            uint64_t mid = static_cast<uint64_t>(std::sqrt(static_cast<double>(lo) * hi));
            (jump_faster(mid) ? hi : lo) = mid;
        }
        std::printf("switch point, %s: about %.3g bytes (%.2f MiB)\n",
                    mt_jump_implementation_name(i), static_cast<double>(hi),
                    static_cast<double>(hi) / (1 << 20));
    }
}

} // namespace

// The core clock while busy, in GHz, from a timed chain of dependent
// operations of known latency: register-plus-register additions (one cycle
// each) from a start the compiler cannot see, which no core can fold at
// rename the way some fold additions of a constant; and, as a cross-check,
// multiplications (three cycles each on the x86-64 cores of the last decade).
// Zero where there is no such chain written for the architecture.
struct Clock {
    double add_ghz;
    double mul_ghz;
};

Clock measured_ghz() {
    Clock best{0, 0};
#if defined(__x86_64__) && defined(__GNUC__)
    constexpr long iterations = 20000000, chain = 8, mul_latency = 3;
    for (int trial = 0; trial < 5; trial++) {
        uint64_t x = 1;
        asm("" : "+r"(x)); // opaque, non-zero
        double t0 = now_seconds();
        for (long i = 0; i < iterations; i++)
            asm volatile("add %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\t"
                         "add %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\tadd %0, %0"
                         : "+r"(x));
        double add = static_cast<double>(iterations * chain) / (now_seconds() - t0) / 1e9;
        uint64_t y = 3;
        asm("" : "+r"(y));
        t0 = now_seconds();
        for (long i = 0; i < iterations / mul_latency; i++)
            asm volatile("imul %0, %0\n\timul %0, %0\n\timul %0, %0\n\timul %0, %0\n\t"
                         "imul %0, %0\n\timul %0, %0\n\timul %0, %0\n\timul %0, %0"
                         : "+r"(y));
        double mul = static_cast<double>(iterations / mul_latency * chain * mul_latency) /
                     (now_seconds() - t0) / 1e9;
        best.add_ghz = add > best.add_ghz ? add : best.add_ghz;
        best.mul_ghz = mul > best.mul_ghz ? mul : best.mul_ghz;
    }
#endif
    return best;
}

int main(int argc, char **argv) {
    std::string what = argc > 1 ? argv[1] : "all";
    gcry_check_version(nullptr);
    Clock clock = measured_ghz();
    report_ghz() = clock.add_ghz;
    // Where the two chains disagree by more than 5%, both are shown.
    char cross_check[64] = "";
    if (clock.add_ghz > 0 && std::fabs(clock.mul_ghz / clock.add_ghz - 1) > 0.05)
        std::snprintf(cross_check, sizeof cross_check, " (multiply chain: %.2f GHz)",
                      clock.mul_ghz);
    std::printf("cpu: %s, measured at %.2f GHz%s\nimplementations this CPU runs: keystream %s; "
                "blowfish %s; jump %s\n\n",
                cpu_model().c_str(), report_ghz(), cross_check,
                names(mt_implementation_count, mt_implementation_available, mt_implementation_name,
                      mt_chosen_implementation())
                    .c_str(),
                names(bf_implementation_count, bf_implementation_available, bf_implementation_name,
                      bf_chosen_implementation())
                    .c_str(),
                names(mt_jump_implementation_count, mt_jump_implementation_available,
                      mt_jump_implementation_name, mt_jump_chosen_implementation())
                    .c_str());
    if (what != "jump")
        report_header();
    if (what == "all" || what == "keystream")
        bench_keystream();
    if (what == "all" || what == "blowfish")
        bench_blowfish();
    if (what == "jump")
        bench_jump();
    if (what == "tunings") {
        std::vector<size_t> tuning_sizes;
        for (int i = 2; i < argc; i++)
            tuning_sizes.push_back(std::strtoul(argv[i], nullptr, 0));
        bench_tunings(tuning_sizes);
    }
    return 0;
}
