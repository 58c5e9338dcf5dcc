"""mt_xor_bytes against Python's own MT19937, and its argument handling."""
import array
import ctypes
import mmap
import random
import struct
import tempfile
import unittest

import vavirerezi
from compat import CPYTHON, PY3, as_buffer, buffer, child_interpreter, long, random_bytes
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


@unittest.skipUnless(PY3, "MtKeyStream is Python 3's")
class StreamTest(BytesAssertions, unittest.TestCase):
    """MtKeyStream against one mt_xor_bytes over the whole data."""

    def setUp(self):
        self.rng = random.Random(624)
        self.data = random_bytes(self.rng, 7000)

    def test_pieces_across_block_ends_equal_one_call(self):
        # Offsets 0 and 624 end the first block at byte 2496, 623 at byte 4,
        # -1 (as 624) at 2496: every split near the end, into two pieces or
        # three (the middle one of 1 to 5 bytes), of every kind of buffer.
        for offset, end in [(0, 2496), (623, 4), (624, 2496), (-1, 2496), (623, 2500)]:
            whole = mt_xor_bytes(self.data, 7, 8, 9, offset)
            for split in range(max(0, end - 9), end + 10):
                for middle in range(0, 6):
                    stream = vavirerezi.MtKeyStream(7, 8, 9, offset)
                    cuts = [0, split, split + middle, len(self.data)]
                    pieces = [as_buffer(self.data[a:b], a + middle)
                              for a, b in zip(cuts, cuts[1:])]
                    got = b"".join(stream.xor(piece) for piece in pieces)
                    self.assertBytesEqual(got, whole, "offset %d cuts %r" % (offset, cuts))
                    self.assertEqual(stream.position, len(self.data))

    def test_random_pieces_and_outputs(self):
        for trial in range(20):
            seeds = [self.rng.getrandbits(32) for _ in range(3)]
            offset = self.rng.choice([0, 5, 620, 623, 624, 2 ** 32 - 1])
            stream = vavirerezi.MtKeyStream(seeds[0], seeds[1], seeds[2], offset)
            out, at = bytearray(len(self.data)), 0
            while at < len(self.data):
                n = self.rng.choice([0, 1, 3, 4, 7, 64, 2495, 2497, 5000])
                piece = memoryview(out)[at:at + n]
                piece[:] = self.data[at:at + n]
                self.assertIsNone(stream.xor(piece, output=piece))  # in place
                at += len(piece)
            self.assertBytesEqual(bytes(out), mt_xor_bytes(self.data, seeds[0], seeds[1],
                                                          seeds[2], offset), str(trial))

    def test_skip_moves_on_as_xor_would(self):
        whole = mt_xor_bytes(self.data, 1, 2, 3, 620)
        for n in [0, 1, 2, 3, 4, 5, 15, 16, 17, 2495, 2496, 2497, 4999, 7000]:
            stream = vavirerezi.MtKeyStream(1, 2, 3, 620)
            stream.xor(self.data[:1])  # mid-word
            stream.skip(n)
            self.assertEqual(stream.position, 1 + n)
            self.assertBytesEqual(stream.xor(self.data[1 + n:]), whole[1 + n:], "skip %d" % n)
        far = vavirerezi.MtKeyStream(1, 2, 3, 620)
        far.skip(3 * 10 ** 6 + 3)
        self.assertEqual(far.xor(bytes(5)), mt_keystream([1, 2, 3], 620, 3 * 10 ** 6 + 8)[-5:])

    def test_seek_lands_where_stepping_does(self):
        # Positions around every boundary that a jump must get right: the
        # bytes of the first word, each side of one and two blocks of
        # outputs, of the distance from which a jump beats stepping, and far
        # beyond; for the offsets that start a stream at output 0, 623 and
        # 624. Each seek comes from where the previous one left the stream,
        # backwards as well as forwards.
        outputs = [0, 1, 2, 3, 397, 622, 623, 624, 625, 1247, 1248, 1249, 4 * 10 ** 5,
                   10 ** 6 + 7, 4 * 10 ** 6 + 1, 3 * 10 ** 7 + 3]
        positions = sorted({max(0, 4 * t + d) for t in outputs for d in (-1, 0, 1, 3)})
        positions += [10 ** 8 + 5, 10 ** 9 + 2, 7, 10 ** 9 - 3, 0]  # and back
        for offset in [0, 623, 624, 2 ** 32 - 1]:
            keystream = mt_xor_bytes(bytes(4 * (3 * 10 ** 7 + 3) + 64), 9, 8, 7, offset)
            stream = vavirerezi.MtKeyStream(9, 8, 7, offset)
            for position in positions:
                stream.seek(position)
                self.assertEqual(stream.position, position)
                got = stream.xor(bytes(13))
                if position + 13 <= len(keystream):
                    want = keystream[position:position + 13]
                else:  # as a fresh stream skipped there
                    fresh = vavirerezi.MtKeyStream(9, 8, 7, offset)
                    fresh.skip(position)
                    want = fresh.xor(bytes(13))
                self.assertBytesEqual(got, want, "offset %d position %d" % (offset, position))

    def test_seek_then_xor_equals_the_one_call(self):
        whole = mt_xor_bytes(self.data, 3, 1, 4, 1)
        stream = vavirerezi.MtKeyStream(3, 1, 4, 1)
        for start in [6000, 2496, 5, 0, 4990, 1]:
            stream.seek(start)
            self.assertBytesEqual(stream.xor(self.data[start:start + 1000]),
                                  whole[start:start + 1000], "from %d" % start)

    def test_jumps_compose_up_to_the_last_byte(self):
        # Where stepping is out of reach: seek(a + b) equals seek(a) then
        # skip(b), and xor up to the last byte works, past it moves nothing.
        rng = random.Random(64)
        last = 2 ** 64 - 1
        cases = [(2 ** 63, 2 ** 63 - 20), (last - 5, 5), (2 ** 40 + 3, 2 ** 50 + 1)]
        cases += [(a, rng.randrange(last - a)) for a in
                  (rng.randrange(2 ** 64) for _ in range(4))]
        for a, b in cases:
            whole, parts = vavirerezi.MtKeyStream(5, 6, 7, 8), vavirerezi.MtKeyStream(5, 6, 7, 8)
            whole.seek(a + b)
            parts.seek(a)
            parts.skip(b)
            n = min(20, last - (a + b))
            self.assertEqual((parts.position, parts.xor(bytes(n))), (a + b, whole.xor(bytes(n))),
                             "a %d b %d" % (a, b))
        stream = vavirerezi.MtKeyStream(5, 6, 7, 8)
        stream.seek(last - 3)
        tail = stream.xor(bytes(3))
        for move in [lambda: stream.xor(bytes(1)), lambda: stream.skip(1)]:
            self.assertRaises(OverflowError, move)
            self.assertEqual(stream.position, last)
        stream.seek(last - 3)
        self.assertEqual(stream.xor(bytes(3)), tail)
        self.assertRaises(OverflowError, stream.xor, bytes(4))
        self.assertEqual(stream.position, last)

    def test_bad_positions_move_nothing(self):
        stream = vavirerezi.MtKeyStream(1, 2, 3, 4)
        stream.xor(b"abc")
        for method in [stream.seek, stream.skip]:
            for bad, error in [(1.0, TypeError), ("5", TypeError), (None, TypeError),
                               (-1, ValueError), (-2 ** 70, ValueError),
                               (2 ** 64, OverflowError), (2 ** 80, OverflowError)]:
                self.assertRaises(error, method, bad)
                self.assertEqual(stream.position, 3)
        self.assertRaises(TypeError, stream.seek)
        self.assertRaises(TypeError, stream.seek, 1, 2)
        self.assertEqual(stream.xor(bytes(5)), mt_xor_bytes(bytes(8), 1, 2, 3, 4)[3:])

    @unittest.skipUnless(CPYTHON, "PyPy runs a signal handler only once the call has returned")
    def test_signal_handlers_may_use_a_busy_object(self):
        # Handlers that use the very stream and cipher the main thread is busy
        # with, firing every millisecond through long skips and transforms:
        # each call succeeds and nothing hangs (the child has a time limit).
        # Every byte is accounted for: the handlers' xors and the main
        # thread's skips and xors tile the stream. Then the reproducer of a
        # handler that reads the position and interrupts a long skip.
        import subprocess
        code = (
            "import signal, time, vavirerezi\n"
            "s = vavirerezi.MtKeyStream(1, 2, 3, 0)\n"
            "c = vavirerezi.BfCipher(list(range(14)))\n"
            "calls, stop = [], []\n"
            "def busy(signum, frame):\n"
            "    if stop:\n"
            "        return\n"
            "    calls.append(1)  # one step, though handlers nest\n"
            "    s.position, s.copy(), c.encrypt(b'12345678')\n"
            "    assert len(s.xor(b'abcd')) == 4\n"
            "signal.signal(signal.SIGALRM, busy)\n"
            "signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)\n"
            "data, taken, end = bytearray(4 << 20), 0, time.time() + 1.5\n"
            "while time.time() < end:\n"
            "    s.skip(2 ** 29 + 3)\n"
            "    s.xor(data, output=data)\n"
            "    c.encrypt(data, output=data)\n"
            "    taken += 2 ** 29 + 3 + len(data)\n"
            "stop.append(True)\n"
            "signal.setitimer(signal.ITIMER_REAL, 0)\n"
            "print(s.position == taken + 4 * len(calls), len(calls) > 0)\n"
            "def interrupt(signum, frame):\n"
            "    s.position\n"
            "    raise KeyboardInterrupt\n"
            "signal.signal(signal.SIGALRM, interrupt)\n"
            "before = s.position\n"
            "signal.setitimer(signal.ITIMER_REAL, 0.05)\n"
            "try:\n"
            "    s.skip(2 ** 35)\n"
            "    print(s.position == before + 2 ** 35)\n"
            "except KeyboardInterrupt:\n"
            "    print(s.position == before)\n")
        out = subprocess.run(child_interpreter() + ["-c", code], stdout=subprocess.PIPE,
                             timeout=60).stdout.decode().split()
        self.assertEqual(out, ["True", "True", "True"])

    def test_copy_is_independent(self):
        stream = vavirerezi.MtKeyStream(4, 5, 6, 7)
        stream.xor(self.data[:10])
        copy = stream.copy()
        self.assertEqual(copy.position, 10)
        first = copy.xor(self.data[10:3000])
        self.assertEqual(stream.position, 10)  # the copy's calls leave it
        self.assertEqual(stream.xor(self.data[10:3000]), first)
        self.assertEqual(first, mt_xor_bytes(self.data[:3000], 4, 5, 6, 7)[10:])


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
                    objects += [buffer(self.TEXT), buffer(b"xx" + self.TEXT, 2),
                                buffer(mapped, 4), array.array("c", self.TEXT)]
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
