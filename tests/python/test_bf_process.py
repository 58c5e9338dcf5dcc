"""bf_process against independent Blowfish implementations, and its arguments."""
import array
import random
import sys
import unittest

import vavirerezi
from compat import CPYTHON, PY3, array_bytes, as_buffer, long, random_bytes, xrange
from oracles import BytesAssertions, GcryptBlowfish, OpenSslBlowfish, bf_expected
from support import IntOnly

bf_process = vavirerezi.bf_process


def random_key(rng):
    return [rng.getrandbits(32) for _ in range(14)]


class Sequence(object):
    """A minimal user-defined sequence."""

    def __init__(self, items, on_getitem=None):
        self.items = list(items)
        self.on_getitem = on_getitem

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        if self.on_getitem:
            self.on_getitem(i)
        return self.items[i]


class AgreementTest(BytesAssertions, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.openssl = OpenSslBlowfish()
        cls.gcrypt = GcryptBlowfish()

    def setUp(self):
        self.rng = random.Random(8675309)

    def test_random_keys_and_lengths_against_openssl(self):
        for length in list(range(0, 300)) + [1000, 4096, 4099]:
            key = random_key(self.rng)
            data = random_bytes(self.rng, length)
            cipher = vavirerezi.BfCipher(key) if PY3 else None
            for encrypt in (1, 0):
                want = bf_expected(self.openssl, data, key, encrypt)
                got = bf_process(as_buffer(data, length + encrypt), key, encrypt)
                self.assertBytesEqual(got, want,
                                      "length %d encrypt %d" % (length, encrypt))
                if cipher is not None:
                    method = cipher.encrypt if encrypt else cipher.decrypt
                    self.assertBytesEqual(method(as_buffer(data, length)), want,
                                          "BfCipher, length %d encrypt %d" % (length, encrypt))

    @unittest.skipUnless(PY3, "BfCipher is Python 3's")
    def test_records_and_pieces_under_one_cipher(self):
        # Many records through one cipher, as the function gives each; whole
        # blocks in pieces, as one call over them.
        key = random_key(self.rng)
        cipher = vavirerezi.BfCipher(tuple(key))
        records = [random_bytes(self.rng, self.rng.randrange(0, 600)) for _ in range(200)]
        for record in records:
            self.assertEqual(cipher.decrypt(record), bf_process(record, key, 0))
        data = b"".join(records)
        cut = 8 * self.rng.randrange(len(data) // 8)
        self.assertEqual(cipher.encrypt(data[:cut]) + cipher.encrypt(data[cut:]),
                         bf_process(data, key, 1))
        self.assertEqual(cipher.encrypt(data), bf_expected(self.gcrypt, data, key, 1))

    def test_large_input_against_gcrypt(self):
        key = random_key(self.rng)
        data = random_bytes(self.rng, 4096) * 1024 + b"tail!"  # 4 MiB and a partial block
        for encrypt in (1, 0):
            want = bf_expected(self.gcrypt, data, key, encrypt)
            self.assertBytesEqual(bf_process(data, key, encrypt), want, "encrypt %d" % encrypt)

    def test_the_two_oracles_agree(self):
        key = random_key(self.rng)
        data = random_bytes(self.rng, 800)
        self.assertEqual(bf_expected(self.openssl, data, key, 1),
                         bf_expected(self.gcrypt, data, key, 1))


class BehaviourTest(unittest.TestCase):
    def setUp(self):
        self.rng = random.Random(42)
        self.key = random_key(self.rng)

    def test_whole_blocks_round_trip(self):
        for length in (0, 8, 16, 4096):
            data = random_bytes(self.rng, length)
            enc = bf_process(data, self.key, 1)
            self.assertEqual(len(enc), length)
            self.assertEqual(bf_process(enc, self.key, 0), data)
            if length:
                self.assertNotEqual(enc, data)

    def test_partial_tail_keeps_length_and_whole_blocks(self):
        data = random_bytes(self.rng, 21)
        enc = bf_process(data, self.key, 1)
        self.assertEqual(len(enc), 21)
        self.assertEqual(bf_process(enc, self.key, 0)[:16], data[:16])

    def test_electronic_codebook(self):
        block = b"8 bytes!"
        enc = bf_process(block * 5, self.key, 1)
        self.assertEqual(enc, bf_process(block, self.key, 1) * 5)

    def test_short_input_is_the_cut_zero_filled_block(self):
        for n in range(1, 8):
            data = random_bytes(self.rng, n)
            full = bf_process(data + b"\0" * (8 - n), self.key, 1)
            self.assertEqual(bf_process(data, self.key, 1), full[:n])

    def test_direction_flag(self):
        data = random_bytes(self.rng, 32)
        enc = bf_process(data, self.key, 1)
        for flag in (2, -1, 2 ** 31 - 1, -2 ** 31, True):
            self.assertEqual(bf_process(data, self.key, flag), enc)
        self.assertEqual(bf_process(enc, self.key, 0), data)
        self.assertEqual(bf_process(enc, self.key, False), data)

    def test_empty_data(self):
        self.assertEqual(bf_process(b"", self.key, 1), b"")
        self.assertEqual(bf_process(u"", self.key, 0), b"")
        self.assertRaises(ValueError, bf_process, b"", self.key[:13], 1)

    def test_text_is_taken_as_its_encoding(self):
        text = b"abcdefgh12345"
        self.assertEqual(bf_process(u"abcdefgh12345", self.key, 1), bf_process(text, self.key, 1))
        if PY3:  # str is encoded as UTF-8
            self.assertEqual(bf_process(u"\xe9", self.key, 1),
                             bf_process(u"\xe9".encode("utf-8"), self.key, 1))


class KeyConversionTest(unittest.TestCase):
    def setUp(self):
        self.data = b"sixteen bytes!!!"
        self.base = [3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7]
        self.want = bf_process(self.data, self.base, 1)

    def with_item(self, position, value):
        key = list(self.base)
        key[position] = value
        return key

    def test_sequence_types_give_the_same_key(self):
        for key in (tuple(self.base), array.array("L", self.base), Sequence(self.base),
                    [long(v) for v in self.base], [float(v) for v in self.base]):
            self.assertEqual(bf_process(self.data, key, 1), self.want, type(key))
        self.assertEqual(bf_process(self.data, xrange(14), 1),
                         bf_process(self.data, list(range(14)), 1))

    def test_equivalent_items(self):
        # The unsigned conversion comes first: up to 2**64 - 1, the low 32 bits.
        pairs = [(4294967295, -1), (5, 5.0), (5, 5.9), (5, long(5)), (1, True), (0, False),
                 (0xffffffff, -1.5), (2 ** 31, -2 ** 31), (7, 2 ** 32 + 7), (7, 7 - 2 ** 32),
                 (0, -2 ** 63), (0xffffffff, 2 ** 64 - 1), (5, 2 ** 63 + 5), (1, IntOnly())]
        for position in (0, 13):
            for a, b in pairs:
                self.assertEqual(bf_process(self.data, self.with_item(position, a), 1),
                                 bf_process(self.data, self.with_item(position, b), 1),
                                 (position, a, b))

    def test_items_that_differ_give_different_results(self):
        self.assertNotEqual(bf_process(self.data, self.with_item(6, 2 ** 32 - 2), 1),
                            bf_process(self.data, self.with_item(6, 2 ** 32 - 1), 1))

    def test_unconvertible_items_fail_the_call(self):
        cases = [("a", TypeError), (None, TypeError), (object(), TypeError), ([], TypeError),
                 (2 ** 64, OverflowError), (-2 ** 64, OverflowError), (1e30, OverflowError),
                 (float("nan"), ValueError)]
        makers = [("bf_process", lambda key: bf_process(self.data, key, 1))]
        if PY3:
            makers.append(("BfCipher", vavirerezi.BfCipher))
        for position in (0, 6, 13):
            for value, error in cases:
                for name, make in makers:
                    with self.assertRaises(error) as caught:
                        make(self.with_item(position, value))
                    if sys.version_info >= (3, 11):  # a note names the item
                        self.assertEqual(caught.exception.__notes__,
                                         ["%s(): vals14[%d] is not a usable key word"
                                          % (name, position)])
                # Nothing is left behind: the next call is unaffected.
                self.assertEqual(bf_process(self.data, self.base, 1), self.want)
        self.assertRaises(TypeError, bf_process, self.data, "fourteen chars", 1)

    def test_item_fetch_errors_stand(self):
        def fail_at_9(i):
            if i == 9:
                raise KeyError("item 9")
        self.assertRaises(KeyError, bf_process, self.data, Sequence(self.base, fail_at_9), 1)

        class Short(Sequence):
            def __len__(self):
                return 14
        self.assertRaises(IndexError, bf_process, self.data, Short(self.base[:10]), 1)

    @unittest.skipIf(PY3 and not CPYTHON, "PyPy's array.array does not refuse a resize while "
                     "its buffer is held")
    def test_data_changed_while_the_key_is_read(self):
        # A sequence whose item access resizes the buffer behind `data`: the
        # key is read before the data is taken (under 2.7, taken again), so
        # the result is the transform of what the buffer holds afterwards.
        data = array.array("B" if PY3 else "c", b"x" * 16)

        def grow(i):
            if i == 13:
                data.extend(array.array(data.typecode, b"y" * 100000))
        got = bf_process(data, Sequence(self.base, grow), 1)
        self.assertEqual(len(data), 100016)
        self.assertEqual(got, bf_process(array_bytes(data), self.base, 1))

if __name__ == "__main__":
    unittest.main()
