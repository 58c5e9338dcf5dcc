"""mt_xor_bytes against Python's own MT19937, and its argument handling."""
import array
import ctypes
import mmap
import random
import struct
import tempfile
import unittest

import vavirerezi
from compat import PY3, as_buffer, long, random_bytes
from oracles import BytesAssertions, mt_generator, mt_keystream, xor_bytes

mt_xor_bytes = vavirerezi.mt_xor_bytes


class KeyStreamTest(BytesAssertions, unittest.TestCase):
    def setUp(self):
        self.rng = random.Random(20261208)

    def test_zero_data_gives_the_generator_output(self):
        # random.seed(long) runs the array seeding itself, on the 32-bit words
        # of the number: a second, fully independent route for three-word keys.
        for _ in range(20):
            s = [self.rng.getrandbits(32) for _ in range(3)]
            s[2] |= 1
            gen = random.Random(s[0] | s[1] << 32 | s[2] << 64)
            offset = self.rng.randrange(624)
            for _ in range(offset):
                gen.getrandbits(32)
            n = self.rng.randrange(1, 2000)
            want = struct.pack("<%dI" % n, *[gen.getrandbits(32) for _ in range(n)])
            self.assertBytesEqual(mt_xor_bytes(b"\0" * 4 * n, s[0], s[1], s[2], offset), want,
                                  "seeds %r offset %d" % (s, offset))

    def test_random_seeds_offsets_and_lengths(self):
        lengths = [0, 1, 2, 3, 4, 5, 7, 8, 100, 2492, 2495, 2496, 2497, 2500, 4992, 4993, 9000]
        offsets = list(range(0, 624, 37)) + [622, 623, 624, 625, 100000, 2 ** 31 - 1]
        for length in lengths:
            for offset in offsets[self.rng.randrange(3)::3]:
                seeds = [self.rng.getrandbits(32) for _ in range(3)]
                if self.rng.random() < 0.3:
                    seeds[2] = 0
                data = random_bytes(self.rng, length)
                want = xor_bytes(data, mt_keystream(seeds, offset, length))
                got = mt_xor_bytes(as_buffer(data, length), seeds[0], seeds[1], seeds[2], offset)
                self.assertBytesEqual(got, want,
                                      "seeds %r offset %d length %d" % (seeds, offset, length))

    def test_large_input(self):
        n = 8 << 20
        got = mt_xor_bytes(b"\0" * n, 1, 2, 3, 5)
        self.assertEqual(len(got), n)
        self.assertBytesEqual(got, mt_keystream([1, 2, 3], 5, n), "8 MiB")

    def test_offsets_from_624_up_share_one_stream(self):
        data = random_bytes(self.rng, 3000)
        at_624 = mt_xor_bytes(data, 9, 8, 7, 624)
        for offset in [625, 100000, 2 ** 31 - 1, 2 ** 31, 2 ** 32 - 1, -1, -5, -2 ** 31]:
            self.assertBytesEqual(mt_xor_bytes(data, 9, 8, 7, offset), at_624, str(offset))
        # 623 starts one word earlier and then runs on from 624.
        zeros = b"\0" * 3000
        at_623 = mt_xor_bytes(zeros, 9, 8, 7, 623)
        self.assertBytesEqual(at_623[4:], mt_xor_bytes(zeros, 9, 8, 7, 624)[:-4], "623 vs 624")
        self.assertNotEqual(at_623[:4], at_624[:4])

    def test_offset_crossing_the_block_end(self):
        gen = mt_generator([4, 5, 6])
        words = [gen.getrandbits(32) for _ in range(625)]
        got = mt_xor_bytes(b"\0" * 20, 4, 5, 6, 620)
        self.assertEqual(got, struct.pack("<5I", *words[620:625]))

    def test_short_data_uses_low_bytes_of_one_word(self):
        word = mt_xor_bytes(b"\0" * 4, 11, 12, 13, 300)
        for n in (1, 2, 3):
            self.assertEqual(mt_xor_bytes(b"\0" * n, 11, 12, 13, 300), word[:n])

    def test_integers_are_taken_modulo_2_32(self):
        data = random_bytes(self.rng, 64)
        base = mt_xor_bytes(data, 0xffffffff, 5, 7, 10)
        self.assertEqual(mt_xor_bytes(data, -1, 2 ** 32 + 5, 7 + 2 ** 64 * 3, 10 + 2 ** 32), base)
        self.assertEqual(mt_xor_bytes(data, long(0xffffffff), long(5), True * 7, 10), base)
        self.assertEqual(mt_xor_bytes(data, 2 ** 200 - 1, 2 ** 200 + 5, -2 ** 200 + 7, 10), base)
        self.assertEqual(mt_xor_bytes(data, -1, 5, 7, 10 ** 30),
                         mt_xor_bytes(data, -1, 5, 7, 10 ** 30 % 2 ** 32))

    def test_round_trip(self):
        for length in (0, 1, 13, 2496, 5000):
            data = random_bytes(self.rng, length)
            masked = mt_xor_bytes(data, 1, 2, 3, 99)
            self.assertEqual(mt_xor_bytes(masked, 1, 2, 3, 99), data)

    def test_empty_data(self):
        for offset in (0, 623, 624, -1):
            result = mt_xor_bytes(b"", 1, 2, 3, offset)
            self.assertEqual(result, b"")
            self.assertIs(type(result), bytes)


class InputTypesTest(unittest.TestCase):
    TEXT = b"some bytes \x00\xff of data"

    def test_buffer_like_inputs_equal_bytes(self):
        # Every kind of object each build takes as data gives what bytes give,
        # for both functions: 2.7 takes read-only single-segment buffers;
        # Python 3 any C-contiguous buffer, slices of a larger one and a mapped
        # file among them.
        calls = [lambda d: mt_xor_bytes(d, 1, 2, 3, 4),
                 lambda d: vavirerezi.bf_process(d, list(range(14)), 1)]
        with tempfile.TemporaryFile() as f:
            f.write(b"head" + self.TEXT)
            f.flush()
            mapped = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
            try:
                objects = [array.array("B", self.TEXT),
                           (ctypes.c_char * len(self.TEXT)).from_buffer_copy(self.TEXT)]
                if PY3:
                    objects += [bytearray(self.TEXT), memoryview(b"xx" + self.TEXT)[2:],
                                memoryview(mapped)[4:], mapped[4:]]
                else:
                    objects += [buffer(self.TEXT), buffer(b"xx" + self.TEXT, 2),  # noqa: F821
                                buffer(mapped, 4), array.array("c", self.TEXT)]  # noqa: F821
                for call in calls:
                    want = call(self.TEXT)
                    for obj in objects:
                        self.assertEqual(call(obj), want, type(obj))
                if PY3:
                    del obj, objects  # the memoryviews hold the map open
            finally:
                mapped.close()

    def test_text_in_the_interpreters_encoding(self):
        self.assertEqual(mt_xor_bytes(u"ascii text", 1, 2, 3, 4),
                         mt_xor_bytes(b"ascii text", 1, 2, 3, 4))
        if PY3:  # str is encoded as UTF-8
            self.assertEqual(mt_xor_bytes(u"\u20ac", 1, 2, 3, 4),
                             mt_xor_bytes(u"\u20ac".encode("utf-8"), 1, 2, 3, 4))
            self.assertRaises(UnicodeEncodeError, mt_xor_bytes, u"\ud800", 1, 2, 3, 4)
        else:  # unicode is encoded in the default encoding, ASCII
            self.assertRaises(UnicodeEncodeError, mt_xor_bytes, u"\u20ac", 1, 2, 3, 4)


if __name__ == "__main__":
    unittest.main()
