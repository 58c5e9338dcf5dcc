// The implementations of each core, listed once for the tests, the fuzz
// targets and the benchmark: the dispatching entry point first, then every
// path built for this architecture, each with whether this CPU can run it.
// A new path is one row here.
#ifndef VAVIREREZI_TESTS_PATHS_H
#define VAVIREREZI_TESTS_PATHS_H

#include <cstdio>
#include <vector>

#include "blowfish.h"
#include "mt19937.h"

struct MtPath {
    const char *name;
    bool available;
    void (*regenerate)(const MtState *, MtState *);
    void (*xor_keystream)(MtState *, uint32_t *, const uint8_t *, uint8_t *, size_t);
};

inline std::vector<MtPath> mt_paths() {
    return {
        {"dispatch", true, mt_regenerate, mt_xor_keystream},
            {"plain", true, mt_regenerate_plain, mt_xor_keystream_plain},
#if VAVIREREZI_X86_64
            {"avx2", mt_have_avx2(), mt_regenerate_avx2, mt_xor_keystream_avx2},
            {"avx512", mt_have_avx512(), mt_regenerate_avx512, mt_xor_keystream_avx512},
#endif
    };
}

struct BfPath {
    const char *name;
    bool available;
    void (*crypt_blocks)(const uint8_t *, const BlowfishContext *, uint8_t *, size_t, int);
};

inline std::vector<BfPath> bf_paths() {
    return {
        {"dispatch", true, bf_crypt_blocks}, {"plain", true, bf_crypt_blocks_plain},
            {"interleaved", true, bf_crypt_blocks_interleaved},
#if VAVIREREZI_X86_64
            {"vbmi", bf_have_vbmi(), bf_crypt_blocks_vbmi},
#endif
    };
}

// Keeps the entries whose `available` is true, noting the others when
// `quiet` is false, so that a test log shows which paths a machine did not
// exercise.
template <class Path> std::vector<Path> runnable(const std::vector<Path> &all, bool quiet = false) {
    std::vector<Path> out;
    for (const auto &p : all) {
        if (p.available)
            out.push_back(p);
        else if (!quiet)
            std::printf("[ note ] %s path not available on this CPU\n", p.name);
    }
    return out;
}

#endif
