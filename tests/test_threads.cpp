// The cores from several threads at once: each call works on state its
// caller owns, so every path on every thread must give the bytes one thread
// gives. Built with ThreadSanitizer too (VAVIREREZI_TSAN), which checks that
// nothing shared is written meanwhile, the run-time path choice included.
#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "blowfish.h"
#include "mt19937.h"

namespace {

struct Job {
    uint32_t key[3];
    uint32_t offset;
    std::vector<uint8_t> data, want_mt, want_bf;
    BlowfishContext bf;
};

TEST(Threads, EveryImplementationFromSeveralThreadsGivesTheSingleThreadBytes) {
    std::mt19937 rng(4242);
    std::vector<Job> jobs(12);
    for (auto &job : jobs) {
        for (auto &w : job.key)
            w = rng();
        job.offset = rng() % 700;
        job.data.resize(8 * (rng() % 3000));
        for (auto &b : job.data)
            b = static_cast<uint8_t>(rng());
        uint8_t key[56];
        for (auto &b : key)
            b = static_cast<uint8_t>(rng());
        bf_key_setup(&job.bf, key, 56);
        MtState state;
        job.want_mt.resize(job.data.size());
        mt_xor_seeded_by(mt_implementation_plain, &state, job.key, 3, job.offset, job.data.data(),
                         job.want_mt.data(), job.data.size());
        job.want_bf.resize(job.data.size());
        bf_crypt_blocks_plain(job.data.data(), &job.bf, job.want_bf.data(), job.data.size() / 8, 1);
    }
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; round++) {
                for (size_t j = 0; j < jobs.size(); j++) {
                    const Job &job = jobs[(j + t) % jobs.size()];
                    std::vector<uint8_t> out(job.data.size());
                    // The dispatching routines too, whose first call chooses.
                    for (int i = -1; i < mt_implementation_count; i++) {
                        if (i >= 0 && !mt_implementation_available(i))
                            continue;
                        MtState state;
                        if (i < 0)
                            mt_xor_seeded(&state, job.key, 3, job.offset, job.data.data(),
                                          out.data(), out.size());
                        else
                            mt_xor_seeded_by(i, &state, job.key, 3, job.offset, job.data.data(),
                                             out.data(), out.size());
                        failures[t] += out != job.want_mt;
                    }
                    for (int i = -1; i < bf_implementation_count; i++) {
                        if (i >= 0 && !bf_implementation_available(i))
                            continue;
                        if (i < 0)
                            bf_crypt_blocks(job.data.data(), &job.bf, out.data(), out.size() / 8,
                                            1);
                        else
                            bf_crypt_blocks_by(i, job.data.data(), &job.bf, out.data(),
                                               out.size() / 8, 1);
                        failures[t] += out != job.want_bf;
                    }
                }
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    for (int t = 0; t < 4; t++)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
}

} // namespace
