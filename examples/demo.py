"""Both functions of vavirerezi on a sample string: the key stream masks and
unmasks it; Blowfish enciphers and deciphers it, final partial block and all."""
from __future__ import print_function

import binascii
import sys

import vavirerezi

sample = b"The quick brown fox jumps over the lazy dog"  # 43 bytes: 5 blocks and 3
seeds = (0x12345678, 0x9abcdef0, 0x0badf00d)
offset = 7
key = [0x01234567 * (i + 1) & 0xffffffff for i in range(14)]


def hexed(data):
    return binascii.hexlify(data).decode("ascii")


print("Python %d.%d, %s" % (sys.version_info[0], sys.version_info[1], vavirerezi.__file__))
print("sample:   %r (%d bytes)" % (sample, len(sample)))

masked = vavirerezi.mt_xor_bytes(sample, seeds[0], seeds[1], seeds[2], offset)
unmasked = vavirerezi.mt_xor_bytes(masked, seeds[0], seeds[1], seeds[2], offset)
print("mt_xor_bytes, seeds %s, offset %d" % (", ".join("0x%08x" % s for s in seeds), offset))
print("  masked:   %s" % hexed(masked))
print("  unmasked: %r (%s)" % (unmasked, "round trip ok" if unmasked == sample else "FAILED"))

whole = len(sample) - len(sample) % 8
enciphered = vavirerezi.bf_process(sample, key, 1)
deciphered = vavirerezi.bf_process(enciphered, key, 0)
print("bf_process, ECB, 14-word key 0x%08x ...; %d whole blocks and a final block of %d bytes"
      % (key[0], whole // 8, len(sample) - whole))
print("  enciphered: %s | %s" % (hexed(enciphered[:whole]), hexed(enciphered[whole:])))
print("  deciphered: %r | %r" % (deciphered[:whole], deciphered[whole:]))
print("  whole blocks %s; the final %d bytes do not come back (they were cut from a "
      "zero-filled block)" % ("round trip ok" if deciphered[:whole] == sample[:whole]
                              else "FAILED", len(sample) - whole))
