// The target architecture, as the cores see it.
//
// The x86-64 vector paths (AVX2, AVX-512, VBMI) are written with GNU-style
// target attributes and <immintrin.h>, so they exist only where the target is
// x86-64 and the compiler is GCC or Clang. Everywhere else the portable paths
// are the only ones, and the others are neither built nor declared.
#ifndef VAVIREREZI_ARCH_H
#define VAVIREREZI_ARCH_H

#if defined(__x86_64__) && defined(__GNUC__)
#define VAVIREREZI_X86_64 1
#else
#define VAVIREREZI_X86_64 0
#endif

#endif
