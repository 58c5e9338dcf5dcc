// What the AVX-512 kernels share: the intrinsics, and the immediates of the
// ternary-logic instruction. Included by x86-64 files alone.
#ifndef VAVIREREZI_AVX512_H
#define VAVIREREZI_AVX512_H

#include <immintrin.h>

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics start some results from a deliberately
// undefined vector, which its own uninitialized-use warnings then report;
// this holds for the rest of the including file.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Immediates of vpternlog: the truth table of f(a, b, c) over the operands
// in order, bit (a << 2 | b << 1 | c).
constexpr int ternlog_select_cab = 0xe4; // c ? a : b, bit by bit
constexpr int ternlog_xor_and = 0x78;    // a ^ (b & c)
constexpr int ternlog_xor3 = 0x96;       // a ^ b ^ c

#endif
