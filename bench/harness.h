// A small side-by-side benchmark harness: contenders for one job are timed in
// turn, round after round, so that they share the machine's state; each
// one's median time per call is reported with its ratio to a baseline.
#ifndef VAVIREREZI_BENCH_HARNESS_H
#define VAVIREREZI_BENCH_HARNESS_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

struct Contender {
    std::string name;
    std::function<void()> run;
};

struct Result {
    std::string name;
    double seconds; // median per call
};

inline double now_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Times each contender in `rounds` interleaved rounds of about `sample`
// seconds each, in a new order every round (shuffled, so that no contender
// always follows the same one and inherits the state it leaves).
inline std::vector<Result> measure(const std::vector<Contender> &contenders, int rounds,
                                   double sample) {
    size_t n = contenders.size();
    std::vector<long> reps(n);
    for (size_t i = 0; i < n; i++) {
        contenders[i].run(); // warm up
        double t0 = now_seconds();
        contenders[i].run();
        double one = std::max(now_seconds() - t0, 1e-9);
        reps[i] = std::max(1L, static_cast<long>(sample / one));
    }
    std::vector<std::vector<double>> times(n);
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; i++)
        order[i] = i;
    std::mt19937 shuffle(12345);
    for (int r = 0; r < rounds; r++) {
        std::shuffle(order.begin(), order.end(), shuffle);
        for (size_t i : order) {
            double t0 = now_seconds();
            for (long j = 0; j < reps[i]; j++)
                contenders[i].run();
            times[i].push_back((now_seconds() - t0) / static_cast<double>(reps[i]));
        }
    }
    std::vector<Result> out;
    for (size_t i = 0; i < n; i++) {
        auto &t = times[i];
        std::sort(t.begin(), t.end());
        out.push_back({contenders[i].name, t[t.size() / 2]});
    }
    return out;
}

inline std::string size_label(size_t bytes) {
    char buf[32];
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        std::snprintf(buf, sizeof buf, "%zu MiB", bytes >> 20);
    else if (bytes >= 1024 && bytes % 1024 == 0)
        std::snprintf(buf, sizeof buf, "%zu KiB", bytes >> 10);
    else
        std::snprintf(buf, sizeof buf, "%zu B", bytes);
    return buf;
}

// The core clock in GHz that cycles per byte are reckoned with (0: none).
inline double &report_ghz() {
    static double ghz = 0;
    return ghz;
}

// Prints one table row per contender: time, throughput, cycles per byte at
// report_ghz(), ratio to `baseline` (its speed over the baseline's; above 1
// is faster).
inline void report(const std::string &job, size_t bytes, const std::vector<Result> &results,
                   const std::string &baseline) {
    double base = 0;
    for (const auto &r : results)
        if (r.name == baseline)
            base = r.seconds;
    for (const auto &r : results) {
        double gbs = bytes ? static_cast<double>(bytes) / r.seconds / 1e9 : 0.0;
        double cpb = bytes ? r.seconds * report_ghz() * 1e9 / static_cast<double>(bytes) : 0.0;
        std::printf("| %-15s | %-8s | %-31s | %12.2f | %8.3f | %7.2f | %7.2fx |\n", job.c_str(),
                    size_label(bytes).c_str(), r.name.c_str(), r.seconds * 1e6, gbs, cpb,
                    base / r.seconds);
    }
    std::fflush(stdout);
}

inline void report_header() {
    std::printf("| %-15s | %-8s | %-31s | %12s | %8s | %7s | %8s |\n", "job", "size", "contender",
                "median us", "GB/s", "c/B", "ratio");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(17, '-').c_str(),
                std::string(10, '-').c_str(), std::string(33, '-').c_str(),
                std::string(14, '-').c_str(), std::string(10, '-').c_str(),
                std::string(9, '-').c_str(), std::string(10, '-').c_str());
}

#endif
