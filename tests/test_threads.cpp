// The cores from several threads at once: each call works on state its
// caller owns, so every path on every thread must give the bytes one thread
// gives. Built with ThreadSanitizer too (VAVIREREZI_TSAN), which checks that
// nothing shared is written meanwhile, the run-time path choice included.
#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "paths.h"

namespace {

struct Job {
    uint32_t key[3];
    uint32_t offset;
    std::vector<uint8_t> data, want_mt, want_bf;
    BlowfishContext bf;
};

TEST(Threads, EveryPathFromSeveralThreadsGivesTheSingleThreadBytes) {
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
        MtState seed, work;
        mt_seed_by_array(&seed, job.key, 3);
        mt_regenerate_plain(&seed, &work);
        uint32_t index = job.offset;
        job.want_mt.resize(job.data.size());
        mt_xor_keystream_plain(&work, &index, job.data.data(), job.want_mt.data(), job.data.size());
        job.want_bf.resize(job.data.size());
        bf_crypt_blocks_plain(job.data.data(), &job.bf, job.want_bf.data(), job.data.size() / 8, 1);
    }
    const auto mt = runnable(mt_paths(), true);
    const auto bf = runnable(bf_paths(), true);
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; round++) {
                for (size_t j = 0; j < jobs.size(); j++) {
                    const Job &job = jobs[(j + t) % jobs.size()];
                    std::vector<uint8_t> out(job.data.size());
                    for (const auto &p : mt) {
                        MtState seed, work;
                        mt_seed_by_array(&seed, job.key, 3);
                        p.regenerate(&seed, &work);
                        uint32_t index = job.offset;
                        p.xor_keystream(&work, &index, job.data.data(), out.data(), out.size());
                        failures[t] += out != job.want_mt;
                    }
                    for (const auto &p : bf) {
                        p.crypt_blocks(job.data.data(), &job.bf, out.data(), out.size() / 8, 1);
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
