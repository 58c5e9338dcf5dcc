// Immediates of the AVX-512 ternary-logic instruction (vpternlog): the truth
// table of f(a, b, c) over the operands in order, bit (a << 2 | b << 1 | c).
#ifndef VAVIREREZI_TERNARY_LOGIC_H
#define VAVIREREZI_TERNARY_LOGIC_H

constexpr int ternlog_select = 0xca;  // a ? b : c, bit by bit
constexpr int ternlog_xor_and = 0x78; // a ^ (b & c)
constexpr int ternlog_xor3 = 0x96;    // a ^ b ^ c

#endif
