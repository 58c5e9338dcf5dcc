"""Independent implementations used as test oracles.

MT19937: Python's own `random` module. It does its own regeneration and
tempering; only the array seeding is done here, so that keys whose top words
are zero (which `random.seed` would shorten) can be fed to it too.
"""
import binascii
import ctypes
import ctypes.util
import random
import struct

from compat import xrange

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
        return b""
    n = len(a)
    x = int(binascii.hexlify(a), 16) ^ int(binascii.hexlify(b), 16)
    return binascii.unhexlify(("%0*x" % (2 * n, x)).encode("ascii"))


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


# Blowfish: OpenSSL's libcrypto and libgcrypt through ctypes. Both pack block
# halves most significant byte first; this module packs them least
# significant byte first, so the halves are byte-swapped on the way in and out.


def _load(name):
    path = ctypes.util.find_library(name)
    if path is None:
        raise ImportError("lib%s not found" % name)
    return ctypes.CDLL(path)


def _swap_words(data):
    """Each 4-byte word of `data` with its bytes reversed, on any host."""
    n = len(data) // 4
    return struct.pack(">%dI" % n, *struct.unpack("<%dI" % n, data))


def bf_key_bytes(vals14):
    """The 56-byte key: each item's low 32 bits, least significant byte first."""
    return struct.pack("<14I", *[int(v) & MASK32 for v in vals14])


class OpenSslBlowfish(object):
    """Blowfish on little-endian word pairs, a block at a time."""

    def __init__(self):
        self.lib = _load("crypto")
        self.lib.BF_set_key.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p]
        self.lib.BF_encrypt.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.lib.BF_decrypt.argtypes = [ctypes.c_void_p, ctypes.c_void_p]

    def process(self, data, key, encrypt):
        """ECB over whole blocks of `data` (a multiple of 8 bytes long)."""
        assert len(data) % 8 == 0
        schedule = ctypes.create_string_buffer(4168)
        self.lib.BF_set_key(schedule, len(key), key)
        if not data:
            return b""
        # BF_encrypt works on two host-order words; ours are little-endian.
        n = len(data) // 4
        words = (ctypes.c_uint32 * n)(*struct.unpack("<%dI" % n, data))
        crypt = self.lib.BF_encrypt if encrypt else self.lib.BF_decrypt
        base = ctypes.addressof(words)
        for i in xrange(0, n, 2):
            crypt(base + 4 * i, schedule)
        return struct.pack("<%dI" % n, *words)


class GcryptBlowfish(object):
    """Blowfish ECB through libgcrypt, one call for the whole buffer."""

    CIPHER_BLOWFISH = 4
    MODE_ECB = 1

    def __init__(self):
        self.lib = _load("gcrypt")
        self.lib.gcry_check_version.restype = ctypes.c_char_p
        self.lib.gcry_check_version(None)
        self.lib.gcry_cipher_open.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                              ctypes.c_uint]
        self.lib.gcry_cipher_setkey.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t]
        self.lib.gcry_cipher_encrypt.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t,
                                                 ctypes.c_void_p, ctypes.c_size_t]
        self.lib.gcry_cipher_decrypt.argtypes = self.lib.gcry_cipher_encrypt.argtypes
        self.lib.gcry_cipher_close.argtypes = [ctypes.c_void_p]

    def process(self, data, key, encrypt):
        assert len(data) % 8 == 0
        if not data:
            return b""
        handle = ctypes.c_void_p()
        assert self.lib.gcry_cipher_open(ctypes.byref(handle), self.CIPHER_BLOWFISH,
                                         self.MODE_ECB, 0) == 0
        try:
            assert self.lib.gcry_cipher_setkey(handle, key, len(key)) == 0
            buf = ctypes.create_string_buffer(_swap_words(data), len(data))
            crypt = self.lib.gcry_cipher_encrypt if encrypt else self.lib.gcry_cipher_decrypt
            assert crypt(handle, buf, len(data), None, 0) == 0
            return _swap_words(buf.raw)
        finally:
            self.lib.gcry_cipher_close(handle)


def bf_expected(engine, data, vals14, encrypt):
    """bf_process(data, vals14, encrypt) built from whole-block ECB calls."""
    key = bf_key_bytes(vals14)
    whole = len(data) - len(data) % 8
    out = engine.process(data[:whole], key, encrypt)
    tail = data[whole:]
    if tail:
        out += engine.process(tail + b"\0" * (8 - len(tail)), key, encrypt)[:len(tail)]
    return out
