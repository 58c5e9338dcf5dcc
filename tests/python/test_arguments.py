"""Bad arguments of every kind, one table of calls and the outcome each must
have, under every interpreter: the errors' classes and wording, nothing left
pending, buffers released, lengths past 2 GiB."""
import array
import ctypes
import decimal
import mmap
import os
import sys
import tempfile
import unittest
import warnings

from compat import CPYTHON, PY3, buffer, error_pending, xrange
from support import (KEY, MESSAGE, UNENCODABLE, BadInt, BfCipher, IndexOnly, IntOnly,
                     MtKeyStream, NoLength, OldStyle, OldStyleInt, Raises, bf_process,
                     check_rows, mt_xor_bytes, py)


def big_sparse_mmap():
    f = tempfile.TemporaryFile()
    f.truncate(2 ** 31 + 16)
    return f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)


TEXT = b"some bytes \x00\xff of data"
CTYPES_ARRAY = (ctypes.c_char * len(TEXT)).from_buffer_copy(TEXT)

# (description, function, args, kwargs, expected exception or None for success)
TABLE = [
    ("mt: no arguments", mt_xor_bytes, (), {}, TypeError),
    ("mt: one argument", mt_xor_bytes, ("a",), {}, TypeError),
    ("mt: four arguments", mt_xor_bytes, ("a", 1, 2, 3), {}, TypeError),
    ("mt: six arguments", mt_xor_bytes, ("a", 1, 2, 3, 4, 5), {}, TypeError),
    ("mt: keyword", mt_xor_bytes, ("a", 1, 2, 3), {"offset": 4}, TypeError),
    ("mt: unknown keyword", mt_xor_bytes, ("a", 1, 2, 3, 4), {"out": bytearray(1)}, TypeError),
    ("mt: all keywords", mt_xor_bytes, (),
     {"data": b"abc", "seed0": 1, "seed1": 2, "seed2": 3, "offset": 4}, TypeError),
    ("mt: data None", mt_xor_bytes, (None, 1, 2, 3, 4), {}, TypeError),
    ("mt: data int", mt_xor_bytes, (7, 1, 2, 3, 4), {}, TypeError),
    ("mt: data list", mt_xor_bytes, ([1, 2], 1, 2, 3, 4), {}, TypeError),
    ("mt: data unencodable text", mt_xor_bytes, (UNENCODABLE, 1, 2, 3, 4), {}, UnicodeEncodeError),
    ("mt: data bytearray", mt_xor_bytes, (bytearray(TEXT), 1, 2, 3, 4), {}, py(TypeError, None)),
    ("mt: data memoryview", mt_xor_bytes, (memoryview(TEXT), 1, 2, 3, 4), {}, py(TypeError, None)),
    ("mt: data array", mt_xor_bytes, (array.array("B", TEXT), 1, 2, 3, 4), {}, None),
    ("mt: data ctypes array", mt_xor_bytes, (CTYPES_ARRAY, 1, 2, 3, 4), {}, None),
    ("mt: seed None", mt_xor_bytes, ("a", None, 2, 3, 4), {}, TypeError),
    ("mt: second seed None", mt_xor_bytes, ("a", 1, None, 3, 4), {}, TypeError),
    ("mt: seed float", mt_xor_bytes, ("a", 1.0, 2, 3, 4), {}, TypeError),
    ("mt: seed str", mt_xor_bytes, ("a", "1", 2, 3, 4), {}, TypeError),
    ("mt: seed with __index__ only", mt_xor_bytes, ("a", IndexOnly(), 2, 3, 4), {}, TypeError),
    ("mt: offset float", mt_xor_bytes, ("a", 1, 2, 3, 4.5), {}, TypeError),
    ("mt: offset object with __int__", mt_xor_bytes, ("a", 1, 2, 3, BadInt()), {}, TypeError),
    ("mt: huge seeds", mt_xor_bytes, ("abc", 2 ** 200, -2 ** 200, 2 ** 64 - 1, 4), {}, None),
    ("mt: negative offset", mt_xor_bytes, ("abc", 1, 2, 3, -5), {}, None),
    ("mt: huge offset", mt_xor_bytes, ("abc", 1, 2, 3, 10 ** 30), {}, None),
    ("bf: no arguments", bf_process, (), {}, TypeError),
    ("bf: one argument", bf_process, ("a",), {}, TypeError),
    ("bf: two arguments", bf_process, ("a", KEY), {}, TypeError),
    ("bf: four arguments", bf_process, ("a", KEY, 1, 1), {}, TypeError),
    ("bf: keyword", bf_process, ("a", KEY), {"encrypt": 1}, TypeError),
    ("bf: unknown keyword", bf_process, ("a", KEY, 1), {"out": bytearray(1)}, TypeError),
    ("bf: data None", bf_process, (None, KEY, 1), {}, TypeError),
    ("bf: data int", bf_process, (5, KEY, 1), {}, TypeError),
    ("bf: data unencodable text", bf_process, (UNENCODABLE, KEY, 1), {}, UnicodeEncodeError),
    ("bf: data non-ASCII text", bf_process, (u"\xe9", KEY, 1), {}, py(UnicodeEncodeError, None)),
    ("bf: data bytearray", bf_process, (bytearray(TEXT), KEY, 1), {}, py(TypeError, None)),
    ("bf: data array", bf_process, (array.array("b", [1, 2, 3]), KEY, 1), {}, None),
    ("bf: encrypt None", bf_process, ("a", KEY, None), {}, TypeError),
    ("bf: encrypt float", bf_process, ("a", KEY, 1.5), {}, TypeError),
    ("bf: encrypt float 1.0", bf_process, ("a", KEY, 1.0), {}, TypeError),
    ("bf: encrypt str", bf_process, ("a", KEY, "1"), {}, TypeError),
    ("bf: encrypt huge", bf_process, ("a", KEY, 2 ** 64), {}, OverflowError),
    ("bf: encrypt above int", bf_process, ("a", KEY, 2 ** 40), {}, OverflowError),
    ("bf: encrypt with __int__ only", bf_process, ("a", KEY, IntOnly()), {},
     py(None, TypeError, py39=None)),
    ("bf: encrypt Decimal", bf_process, ("a", KEY, decimal.Decimal("0.5")), {},
     py(None, TypeError, py39=None)),
    ("bf: encrypt with __index__ only", bf_process, ("a", KEY, IndexOnly()), {}, py(TypeError, None)),
    ("bf: key None", bf_process, ("a", None, 1), {}, ValueError),
    ("bf: key int", bf_process, ("a", 14, 1), {}, ValueError),
    ("bf: key float", bf_process, ("a", 14.0, 1), {}, ValueError),
    ("bf: key empty list", bf_process, ("a", [], 1), {}, ValueError),
    ("bf: key empty dict", bf_process, ("a", {}, 1), {}, ValueError),
    ("bf: key dict", bf_process, ("a", dict.fromkeys(range(14), 0), 1), {}, ValueError),
    ("bf: key set", bf_process, ("a", set(range(14)), 1), {}, ValueError),
    ("bf: key generator", bf_process, ("a", (i for i in range(14)), 1), {}, ValueError),
    ("bf: key iterator", bf_process, ("a", iter(KEY), 1), {}, ValueError),
    ("bf: key of 13", bf_process, ("a", KEY[:13], 1), {}, ValueError),
    ("bf: key of 15", bf_process, ("a", KEY + [0], 1), {}, ValueError),
    ("bf: key length raises", bf_process, ("a", Raises(length_error=ZeroDivisionError()), 1), {}, ValueError),
    ("bf: key length raises RuntimeError", bf_process, ("a", Raises(length_error=RuntimeError()), 1), {}, ValueError),
    ("bf: key length huge", bf_process, ("a", Raises(length=2 ** 40), 1), {}, ValueError),
    # The length's own failure, outside any except block, replaced by the
    # bad-key error: items without a length, lengths that are no size.
    ("bf: key without __len__", bf_process, ("a", NoLength(), 1), {}, ValueError),
    ("bf: key length -1", bf_process, ("a", Raises(length=-1), 1), {}, ValueError),
    ("bf: key length str", bf_process, ("a", Raises(length="14"), 1), {}, ValueError),
    ("bf: key length 2**70", bf_process, ("a", Raises(length=2 ** 70), 1), {}, ValueError),
    # Never swallowed: an interrupt, an exit request, memory running out.
    ("bf: key length raises KeyboardInterrupt", bf_process,
     ("a", Raises(length_error=KeyboardInterrupt()), 1), {}, KeyboardInterrupt),
    ("bf: key length raises SystemExit", bf_process, ("a", Raises(length_error=SystemExit(3)), 1),
     {}, SystemExit),
    ("bf: key length raises MemoryError", bf_process, ("a", Raises(length_error=MemoryError()), 1),
     {}, MemoryError),
    ("bf: key item raises", bf_process, ("a", Raises(item_error=KeyError("k")), 1), {}, KeyError),
    ("bf: key item None", bf_process, ("a", KEY[:13] + [None], 1), {}, TypeError),
    ("bf: key item str", bf_process, ("a", KEY[:13] + ["7"], 1), {}, TypeError),
    ("bf: key item __int__ raises", bf_process, ("a", KEY[:13] + [BadInt()], 1), {}, RuntimeError),
    ("bf: key item with __int__ only", bf_process, ("a", KEY[:13] + [IntOnly()], 1), {}, None),
    ("bf: key item with __index__ only", bf_process, ("a", KEY[:13] + [IndexOnly()], 1), {},
     py(TypeError, None)),
    ("bf: key item classic instance", bf_process, ("a", KEY[:13] + [OldStyle()], 1), {},
     py(AttributeError, TypeError)),
    ("bf: key item classic instance with __int__", bf_process,
     ("a", KEY[:13] + [OldStyleInt()], 1), {}, None),
    ("bf: key item Decimal", bf_process, ("a", KEY[:13] + [decimal.Decimal("5.5")], 1), {}, None),
    ("bf: key item 2**63", bf_process, ("abc", KEY[:13] + [2 ** 63], 1), {}, None),
    ("bf: key item 2**64 - 1", bf_process, ("abc", KEY[:13] + [2 ** 64 - 1], 1), {}, None),
    ("bf: key item huge", bf_process, ("a", KEY[:13] + [2 ** 64], 1), {}, OverflowError),
    ("bf: key item huge negative", bf_process, ("a", KEY[:13] + [-2 ** 63 - 1], 1), {}, OverflowError),
    ("bf: key item float 2.0**63", bf_process, ("a", KEY[:13] + [2.0 ** 63], 1), {}, OverflowError),
    ("bf: key item float inf", bf_process, ("a", KEY[:13] + [float("inf")], 1), {}, OverflowError),
    ("bf: key of 14 chars", bf_process, ("a", "abcdefghijklmn", 1), {}, TypeError),
    ("bf: key item negative", bf_process, ("abc", KEY[:13] + [-2 ** 63], 1), {}, None),
    ("bf: key xrange", bf_process, ("abc", xrange(14), 0), {}, None),
    ("bf: key array", bf_process, ("abc", array.array("l", KEY), 1), {}, None),
]
if PY3:
    CIPHER = BfCipher(KEY)
    STREAM = MtKeyStream(1, 2, 3, 4)
    NOT_CONTIGUOUS = memoryview(bytearray(TEXT))[::2]
    RELEASED = memoryview(b"x" * 14)
    RELEASED.release()

    def cipher_call(data, vals14, encrypt):
        """bf_process through a BfCipher: the same key handling and results."""
        cipher = BfCipher(vals14)
        return cipher.encrypt(data) if encrypt else cipher.decrypt(data)

    TABLE += [
        ("mt: data not contiguous", mt_xor_bytes, (NOT_CONTIGUOUS, 1, 2, 3, 4), {},
         (TypeError, BufferError)),
        ("bf: data not contiguous", bf_process, (NOT_CONTIGUOUS, KEY, 1), {},
         (TypeError, BufferError)),
        ("bf: key range(2**64)", bf_process, ("a", range(2 ** 64), 1), {}, ValueError),
    ]
    if CPYTHON:  # PyPy 7.3 crashes passing a released memoryview to any C function
        TABLE.append(("bf: key released memoryview", bf_process, ("a", RELEASED, 1), {},
                      ValueError))
    # BfCipher takes, checks and converts the key as bf_process does.
    TABLE += [("BfCipher: " + d[4:], cipher_call, a, k, e) for d, f, a, k, e in TABLE
              if d.startswith("bf: key ")]
    TABLE += [
        ("BfCipher: no arguments", BfCipher, (), {}, TypeError),
        ("BfCipher: two arguments", BfCipher, (KEY, 1), {}, TypeError),
        ("BfCipher: keyword", BfCipher, (), {"vals14": KEY}, TypeError),
        ("BfCipher.encrypt: no arguments", CIPHER.encrypt, (), {}, TypeError),
        ("BfCipher.encrypt: two arguments", CIPHER.encrypt, (b"a", 1), {}, TypeError),
        ("BfCipher.decrypt: unknown keyword", CIPHER.decrypt, (b"a",), {"out": bytearray(1)},
         TypeError),
        ("BfCipher.encrypt: data int", CIPHER.encrypt, (5,), {}, TypeError),
        ("BfCipher.decrypt: data not contiguous", CIPHER.decrypt, (NOT_CONTIGUOUS,), {},
         (TypeError, BufferError)),
        ("BfCipher.encrypt: data text", CIPHER.encrypt, (u"\xe9 text",), {}, None),
        ("MtKeyStream: three arguments", MtKeyStream, (1, 2, 3), {}, TypeError),
        ("MtKeyStream: keyword", MtKeyStream, (1, 2, 3), {"offset": 4}, TypeError),
        ("MtKeyStream: seed float", MtKeyStream, (1.0, 2, 3, 4), {}, TypeError),
        ("MtKeyStream: seed with __index__ only", MtKeyStream, (IndexOnly(), 2, 3, 4), {},
         TypeError),
        ("MtKeyStream: offset None", MtKeyStream, (1, 2, 3, None), {}, TypeError),
        ("MtKeyStream.xor: no arguments", STREAM.xor, (), {}, TypeError),
        ("MtKeyStream.xor: keyword data", STREAM.xor, (), {"data": b"a"}, TypeError),
        ("MtKeyStream.xor: data None", STREAM.xor, (None,), {}, TypeError),
        ("MtKeyStream.xor: data unencodable text", STREAM.xor, (UNENCODABLE,), {},
         UnicodeEncodeError),
        ("MtKeyStream.xor: data array", STREAM.xor, (array.array("I", [1, 2]),), {}, None),
        ("MtKeyStream.skip: no arguments", STREAM.skip, (), {}, TypeError),
        ("MtKeyStream.skip: float", STREAM.skip, (1.0,), {}, TypeError),
        ("MtKeyStream.skip: str", STREAM.skip, ("1",), {}, TypeError),
        ("MtKeyStream.skip: negative", STREAM.skip, (-1,), {}, ValueError),
        ("MtKeyStream.skip: negative huge", STREAM.skip, (-2 ** 70,), {}, ValueError),
        ("MtKeyStream.skip: 2**64", STREAM.skip, (2 ** 64,), {}, OverflowError),
        ("MtKeyStream.copy: an argument", STREAM.copy, (1,), {}, TypeError),
    ]
else:
    TABLE += [
        ("mt: buffer", mt_xor_bytes, (buffer(b"hello"), 1, 2, 3, 4), {}, None),
        ("bf: buffer", bf_process, (buffer(b"hello world"), KEY, 1), {}, None),
    ]


class BadInputTableTest(unittest.TestCase):
    def test_table(self):
        check_rows(self, TABLE, self.check_row)

    def check_row(self, row):
        description, function, args, kwargs, expected = row
        with warnings.catch_warnings():
            # 3.8 and 3.9 warn of the __int__ conversion that they still make.
            warnings.simplefilter("ignore", DeprecationWarning)
            if expected is None:
                result = function(*args, **kwargs)
                self.assertIs(type(result), bytes, description)
                self.assertFalse(error_pending(), description + ": error left pending")
                return
            with self.assertRaises(expected, msg=description) as caught:
                function(*args, **kwargs)
        message = str(caught.exception)
        if expected is ValueError and "key" in description:
            self.assertIs(type(caught.exception), ValueError, description)
            self.assertEqual(message, MESSAGE, description)
        if " argument" in description or (PY3 and "keyword" in description):
            # Python 3 names the callable; 2.7's formats name none.
            self.assertEqual(function.__name__ + "()" in message, PY3,
                             "%s: %s" % (description, message))
        if PY3 and "key" not in description and expected in (
                TypeError, OverflowError, (TypeError, BufferError)):
            # Every error of an argument's conversion names it too, a
            # method with its type.
            self.assertIn(function.__qualname__ + "()", message, description)
        self.assertFalse(error_pending(), description)

    @unittest.skipUnless(PY3, "Python 2.7 has no exception context")
    def test_bad_key_error_keeps_the_length_failure_as_context(self):
        for key, cause in [(Raises(length_error=ZeroDivisionError("len")), ZeroDivisionError),
                           (range(2 ** 64), OverflowError), (Raises(length=-1), ValueError),
                           (NoLength(), TypeError)]:
            for make in (lambda: bf_process(b"", key, 1), lambda: BfCipher(key)):
                with self.assertRaises(ValueError) as caught:
                    make()
                self.assertIs(type(caught.exception.__context__), cause, key)
        with self.assertRaises(ValueError) as caught:
            bf_process(b"", KEY[:13], 1)
        self.assertIsNone(caught.exception.__context__)

    @unittest.skipUnless(PY3, "Python 2.7 takes no bytearray")
    def test_failed_calls_release_the_data_buffer(self):
        # A buffer still held after a failed call would keep it from resizing.
        data = bytearray(TEXT)
        failing = [(mt_xor_bytes, (data, 1.5, 2, 3, 4)), (mt_xor_bytes, (data, 1, 2, 3, None)),
                   (bf_process, (data, KEY[:13], 1)), (bf_process, (data, KEY[:13] + ["x"], 1)),
                   (bf_process, (data, KEY, 1.5)), (bf_process, (data, KEY, 2 ** 40))]
        for function, args in failing:
            self.assertRaises(Exception, function, *args)
        data.extend(b"resizable")
        self.assertEqual(len(data), len(TEXT) + 9)

    @unittest.skipIf(PY3, "Python 3 takes data of any length (test_data_past_2_gib)")
    def test_data_of_2_31_bytes_or_more_is_refused(self):
        if sys.maxsize <= 2 ** 32:
            self.skipTest("needs a 64-bit interpreter")
        f, m = big_sparse_mmap()  # sparse: nothing is written or read
        try:
            self.assertRaises(OverflowError, mt_xor_bytes, m, 1, 2, 3, 4)
            self.assertRaises(OverflowError, bf_process, m, KEY, 1)
            self.assertRaises(OverflowError, bf_process, buffer(m), KEY, 1)
        finally:
            m.close()
            f.close()
        self.assertFalse(error_pending())

    @unittest.skipUnless(PY3 and os.environ.get("VAVIREREZI_BIG_DATA"),
                         "4 GiB of memory and a few seconds: one stage of the suite runs it")
    def test_data_past_2_gib(self):
        # Untouched private mappings: read, they are the zero page; written,
        # huge pages where the kernel gives them, so few page faults.
        n = 2 ** 31 + 24
        data = mmap.mmap(-1, n, flags=mmap.MAP_PRIVATE)
        out = mmap.mmap(-1, n, flags=mmap.MAP_PRIVATE)
        for m in (data, out):
            if hasattr(mmap, "MADV_HUGEPAGE"):
                m.madvise(mmap.MADV_HUGEPAGE)
        zeros = bytes(48)
        stream = MtKeyStream(1, 2, 3, 4)
        stream.skip(n - 48)
        mt_tail = stream.xor(zeros)
        bf_tail = bf_process(zeros, KEY, 1)  # zero blocks, 8-byte aligned from the end
        try:
            result = mt_xor_bytes(data, 1, 2, 3, 4)
            self.assertEqual(len(result), n)
            self.assertEqual(result[-48:], mt_tail)
            self.assertEqual(result[:48], mt_xor_bytes(zeros, 1, 2, 3, 4))
            del result
            for call, tail in [(lambda: MtKeyStream(1, 2, 3, 4).xor(data, output=out), mt_tail),
                               (lambda: bf_process(data, KEY, 1, output=out), bf_tail),
                               (lambda: BfCipher(KEY).encrypt(data, output=out), bf_tail)]:
                out[n - 48:] = b"\xaa" * 48
                self.assertIsNone(call())
                self.assertEqual(out[n - 48:], tail)
            self.assertIsNone(BfCipher(KEY).decrypt(out, output=out))  # in place
            self.assertEqual(out[n - 48:], zeros)
        finally:
            data.close()
            out.close()


if __name__ == "__main__":
    unittest.main()
