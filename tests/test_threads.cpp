// The cores from several threads at once: each call works on state its
// caller owns, so every path on every thread must give the bytes one thread
// gives. Built with ThreadSanitizer too (VAVIREREZI_TSAN), which checks that
// nothing shared is written meanwhile, the run-time path choice included.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
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

TEST(Threads, OneStreamSharedUnderALockGivesWholeSlicesThatTileIt) {
    // As the binding shares one stream: each piece taken under the lock is
    // one slice of the stream, and the slices, in the order they were taken,
    // are the stream.
    const uint32_t key[3] = {5, 6, 7};
    MtStream stream;
    mt_stream_seed(&stream, key, 3, 8);
    std::mutex lock;
    struct Piece {
        uint64_t start;
        std::vector<uint8_t> bytes;
    };
    std::vector<std::vector<Piece>> taken(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(t);
            for (int k = 0; k < 60; k++) {
                Piece piece{0, std::vector<uint8_t>(rng() % 9000)};
                std::lock_guard<std::mutex> hold(lock);
                piece.start = stream.position;
                mt_stream_xor(&stream, piece.bytes.data(), piece.bytes.data(), piece.bytes.size());
                taken[t].push_back(std::move(piece));
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    std::vector<Piece> all;
    for (auto &pieces : taken)
        for (auto &piece : pieces)
            all.push_back(std::move(piece));
    std::sort(all.begin(), all.end(),
              [](const Piece &a, const Piece &b) { return a.start < b.start; });
    std::vector<uint8_t> joined, want(stream.position);
    for (const auto &piece : all) {
        ASSERT_EQ(piece.start, joined.size());
        joined.insert(joined.end(), piece.bytes.begin(), piece.bytes.end());
    }
    MtState state;
    mt_xor_seeded_by(mt_implementation_plain, &state, key, 3, 8, want.data(), want.data(),
                     want.size());
    EXPECT_EQ(joined, want);
}

} // namespace
