// Run-time CPU feature tests for choosing between code paths.
//
// On x86-64, __builtin_cpu_supports also checks that the operating system
// saves the wide registers. Under valgrind, which does not emulate AVX-512,
// CPUID does not report it, so the narrower paths are chosen there.
//
// Other architectures have only the portable paths, which need no test: the
// plain key stream is vectorised by the compiler for the target's baseline
// (NEON on aarch64, for instance), and nothing here asks for more.
#ifndef VAVIREREZI_CPU_H
#define VAVIREREZI_CPU_H

#include "arch.h"

// For implementations that run on any CPU of the architecture.
constexpr bool cpu_any() {
    return true;
}

#if VAVIREREZI_X86_64

// Reads the CPU's features; to be called once before the tests below (the
// dispatchers do, when they choose).
inline void cpu_init() {
    __builtin_cpu_init();
}

inline bool cpu_has_avx2() {
    return __builtin_cpu_supports("avx2");
}

// AVX-512 foundation with byte/word operations.
inline bool cpu_has_avx512bw() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}

// AVX-512 with the byte permutes (VBMI).
inline bool cpu_has_avx512vbmi() {
    return cpu_has_avx512bw() && __builtin_cpu_supports("avx512vbmi");
}

// AVX-512 with the carry-less multiplication of 64-bit lanes (VPCLMULQDQ),
// the Galois-field affine transformation (GFNI), the byte permutes and the
// funnel shifts (VBMI, VBMI2): what the jump-ahead's wide implementation
// uses (Ice Lake and later, Zen 4 and later).
inline bool cpu_has_avx512_clmul() {
    return cpu_has_avx512vbmi() && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("gfni");
}

// The vendor, for tuning what measures differently on each vendor's cores.
inline bool cpu_is_intel() {
    return __builtin_cpu_is("intel");
}

#else

inline void cpu_init() {}

#endif

#endif
