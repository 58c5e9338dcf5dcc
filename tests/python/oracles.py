"""Independent implementations used as test oracles.

MT19937: Python's own `random` module. It does its own regeneration and
tempering; only the array seeding is done here, so that keys whose top words
are zero (which `random.seed` would shorten) can be fed to it too.
"""
import random
import struct

MASK32 = 0xffffffff


def mt_seed_state(key):
    """The published array seeding (init_by_array) of a list of words."""
    mt = [0] * 624
    mt[0] = 19650218
    for i in range(1, 624):
        mt[i] = (1812433253 * (mt[i - 1] ^ (mt[i - 1] >> 30)) + i) & MASK32
    i, j = 1, 0
    for _ in range(max(624, len(key))):
        mt[i] = ((mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1664525)) + key[j] + j) & MASK32
        i += 1
        j += 1
        if i >= 624:
            mt[0] = mt[623]
            i = 1
        if j >= len(key):
            j = 0
    for _ in range(623):
        mt[i] = ((mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1566083941)) - i) & MASK32
        i += 1
        if i >= 624:
            mt[0] = mt[623]
            i = 1
    mt[0] = 0x80000000
    return mt


def mt_generator(key):
    """A random.Random positioned before output 0 of the array-seeded generator."""
    gen = random.Random()
    gen.setstate((3, tuple(mt_seed_state(key)) + (624,), None))
    return gen


def mt_outputs(key, start, count):
    gen = mt_generator(key)
    for _ in range(start):
        gen.getrandbits(32)
    return [gen.getrandbits(32) for _ in range(count)]


def mt_keystream(seeds, offset, length):
    """Key stream bytes of mt_xor_bytes(data, *seeds, offset)."""
    key = [s & MASK32 for s in seeds]
    start = offset & MASK32
    if start > 624:
        start = 624
    words = (length + 3) // 4
    return struct.pack("<%dI" % words, *mt_outputs(key, start, words))[:length]


def xor_bytes(a, b):
    assert len(a) == len(b)
    if not a:
        return ""
    n = len(a)
    x = int(a.encode("hex"), 16) ^ int(b.encode("hex"), 16)
    return ("%0*x" % (2 * n, x)).decode("hex")


class BytesAssertions(object):
    """Reports where two long byte strings first differ instead of dumping both."""

    def assertBytesEqual(self, got, want, context=""):
        if got == want:
            return
        if len(got) != len(want):
            self.fail("%s: length %d, expected %d" % (context, len(got), len(want)))
        i = next(k for k in xrange(len(got)) if got[k] != want[k])
        self.fail("%s: first difference at byte %d of %d: %r, expected %r"
                  % (context, i, len(got), got[i:i + 8], want[i:i + 8]))
