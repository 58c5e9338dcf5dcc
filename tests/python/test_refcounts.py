"""Reference counts (CPython): the arguments' counts unchanged after many
calls that succeed and fail, the objects' too, a debug interpreter's total
steady, and results that are fresh objects."""
import sys
import unittest

from compat import CPYTHON, PY3
from support import KEY, BfCipher, MtKeyStream, bf_process, mt_xor_bytes


@unittest.skipUnless(CPYTHON, "reference counts are CPython's")
class ReferenceCountTest(unittest.TestCase):
    def test_counts_unchanged_after_many_calls(self):
        data = b"reference counts" * 3
        seeds = [2 ** 40 + 1, 2 ** 41 + 2, 2 ** 42 + 3, 2 ** 43 + 4]  # uncached longs
        items = [10 ** 12 + i for i in range(13)] + [2 ** 70]  # distinct, uncached objects
        key = list(items)
        bad_item = [object()]
        bad = items[:13] + bad_item
        short = items[:13]
        objects = [data, key, bad, short, bad_item[0]] + seeds + items
        before = [sys.getrefcount(o) for o in objects]
        for _ in range(2000):
            mt_xor_bytes(data, *seeds)
            self.assertRaises(TypeError, mt_xor_bytes, data, seeds[0], seeds[1], seeds[2], 1.5)
            self.assertRaises(OverflowError, bf_process, data, key, 1)
            self.assertRaises(TypeError, bf_process, data, bad, 1)
            self.assertRaises(ValueError, bf_process, data, short, 0)
        key[13] = 3
        for _ in range(2000):
            bf_process(data, key, 1)
        key[13] = items[13]
        self.assertEqual([sys.getrefcount(o) for o in objects], before)

    @unittest.skipUnless(PY3, "the objects are Python 3's")
    def test_objects_leave_counts_unchanged(self):
        items = [10 ** 12 + i for i in range(14)]
        seeds = [2 ** 40 + i for i in range(4)]
        data, out = b"counted" * 5, bytearray(35)
        objects = [data, out] + items + seeds
        before = [sys.getrefcount(o) for o in objects]
        for _ in range(2000):
            cipher, stream = BfCipher(items), MtKeyStream(*seeds)
            cipher.encrypt(data)
            cipher.decrypt(data, output=out)
            stream.xor(data)
            stream.copy().xor(data, output=out)
            stream.skip(5)
            self.assertRaises(ValueError, stream.xor, data, output=bytearray(3))
            self.assertRaises(ValueError, BfCipher, items[:13])
        del cipher, stream
        self.assertEqual([sys.getrefcount(o) for o in objects], before)

    @unittest.skipUnless(hasattr(sys, "gettotalrefcount"), "a debug interpreter's total count")
    def test_total_count_is_steady(self):
        # A module built without the interpreter's Py_DEBUG would let the
        # total drift: its own reference changes would not be counted.
        out = bytearray(64)
        calls = [lambda: mt_xor_bytes(b"x" * 64, 1, 2, 3, 4, output=out),
                 lambda: bf_process(b"x" * 64, KEY, 1, output=out),
                 lambda: BfCipher(KEY).encrypt(b"x" * 64, output=out),
                 lambda: MtKeyStream(1, 2, 3, 4).xor(b"x" * 64, output=out)]
        for call in calls:
            call()
            before = sys.gettotalrefcount()
            for _ in range(1000):
                call()
            self.assertLess(abs(sys.gettotalrefcount() - before), 100)

    def test_results_are_fresh_objects(self):
        data = b"x" * 100
        result = mt_xor_bytes(data, 1, 2, 3, 4)
        self.assertEqual(sys.getrefcount(result), 2)  # our name and the call's argument
        result = bf_process(data, KEY, 1)
        self.assertEqual(sys.getrefcount(result), 2)


if __name__ == "__main__":
    unittest.main()
