"""Bad input of every kind, reference counts, pending errors, threads, soak."""
import array
import ctypes
import decimal
import gc
import mmap
import os
import random
import sys
import tempfile
import threading
import time
import unittest
import warnings

import vavirerezi
from compat import CPYTHON, PY3, buffer, child_interpreter, error_pending, xrange

mt_xor_bytes = vavirerezi.mt_xor_bytes
bf_process = vavirerezi.bf_process
KEY = [0x01020304 * i & 0xffffffff for i in range(1, 15)]
MESSAGE = "vals14 must be a sequence of exactly 14 ints"
# Text that the interpreter's conversion cannot encode: beyond ASCII for 2.7's
# default encoding, a lone surrogate for Python 3's UTF-8.
UNENCODABLE = u"\ud800" if PY3 else u"\u0100"


class Raises(object):
    """A sequence whose length or items raise."""

    def __init__(self, length_error=None, item_error=None, length=14):
        self.length_error, self.item_error, self.length = length_error, item_error, length

    def __len__(self):
        if self.length_error:
            raise self.length_error
        return self.length

    def __getitem__(self, i):
        if self.item_error:
            raise self.item_error
        return i


class BadInt(object):
    def __int__(self):
        raise RuntimeError("no integer here")


class IntOnly(object):
    """Converts through __int__ alone."""

    def __int__(self):
        return 1


class IndexOnly(object):
    """Converts through __index__ alone."""

    def __index__(self):
        return 1


class OldStyle:  # a classic class under 2.7, an ordinary one under 3
    pass


class OldStyleInt:
    def __int__(self):
        return 7


class NoLength(object):
    """Items by index, and no length."""

    def __getitem__(self, i):
        return i


def big_sparse_mmap():
    f = tempfile.TemporaryFile()
    f.truncate(2 ** 31 + 16)
    return f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)


SAME = object()


def py(py2, py3, py39=SAME):
    """The outcome under Python 2.7, under Python 3 (3.8 and 3.9 may differ:
    their "i" conversion still takes __int__, with a DeprecationWarning)."""
    if not PY3:
        return py2
    if py39 is not SAME and sys.version_info < (3, 10):
        return py39
    return py3


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
    BfCipher = vavirerezi.BfCipher
    MtKeyStream = vavirerezi.MtKeyStream
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
        for description, function, args, kwargs, expected in TABLE:
            with warnings.catch_warnings():
                # 3.8 and 3.9 warn of the __int__ conversion that they still make.
                warnings.simplefilter("ignore", DeprecationWarning)
                if expected is None:
                    result = function(*args, **kwargs)
                    self.assertIs(type(result), bytes, description)
                    self.assertFalse(error_pending(), description + ": error left pending")
                    continue
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


def _close_when_free(mapped):
    """Closes `mapped` as soon as no call holds its buffer."""
    while True:
        try:
            mapped.close()
            return
        except BufferError:
            time.sleep(0)


def anonymous_map(n):
    m = mmap.mmap(-1, max(n, 1))
    return m if n else memoryview(m)[:0]


# Writable buffers of n bytes that output= must fill as the result would be.
OUTPUT_TARGETS = [
    ("bytearray", bytearray),
    ("memoryview slice", lambda n: memoryview(bytearray(n + 8))[3:3 + n]),
    ("array", lambda n: array.array("B", bytes(n))),
    ("ctypes array", lambda n: (ctypes.c_char * n)()),
    ("anonymous mmap", anonymous_map),
]
# Calls of both functions on `data`, with output= given by keyword, and of
# the objects' methods (each on an object of its own), which must give what
# the function of the same job gives.
OUTPUT_CALLS = [
    ("mt", lambda data, **kw: mt_xor_bytes(data, 11, 22, 33, 44, **kw)),
    ("bf encrypt", lambda data, **kw: bf_process(data, KEY, 1, **kw)),
    ("bf decrypt", lambda data, **kw: bf_process(data, KEY, 0, **kw)),
]
SAME_AS = {}
if PY3:
    OUTPUT_CALLS += [
        ("MtKeyStream.xor", lambda data, **kw: MtKeyStream(11, 22, 33, 44).xor(data, **kw)),
        ("BfCipher.encrypt", lambda data, **kw: BfCipher(KEY).encrypt(data, **kw)),
        ("BfCipher.decrypt", lambda data, **kw: BfCipher(KEY).decrypt(data, **kw)),
    ]
    SAME_AS = {"MtKeyStream.xor": "mt", "BfCipher.encrypt": "bf encrypt",
               "BfCipher.decrypt": "bf decrypt"}


class Exporter(object):
    """A buffer exporter written in Python (3.12 and later): read-only bytes."""

    def __init__(self, data):
        self.data = data

    def __buffer__(self, flags):
        return memoryview(self.data)


@unittest.skipUnless(PY3, "output= is Python 3's")
class OutputTest(unittest.TestCase):
    LENGTHS = [0, 1, 7, 8, 9, 4099, (256 << 10) + 5]  # the last lets go of the lock

    def test_output_equals_the_returned_bytes(self):
        rng = random.Random(5)
        for n in self.LENGTHS:
            data = bytes(bytearray(rng.getrandbits(8) for _ in range(n)))
            for call_name, call in OUTPUT_CALLS:
                want = call(data)
                if call_name in SAME_AS:
                    self.assertEqual(want, dict(OUTPUT_CALLS)[SAME_AS[call_name]](data),
                                     (call_name, n))
                for target_name, make in OUTPUT_TARGETS:
                    target = make(n)
                    self.assertIsNone(call(data, output=target))
                    self.assertEqual(memoryview(target).tobytes(), want,
                                     (call_name, target_name, n))
                # In place: data and output the very same memory.
                buf = bytearray(data)
                self.assertIsNone(call(buf, output=buf))
                self.assertEqual(bytes(buf), want, (call_name, "in place", n))
                view = memoryview(bytearray(b"__" + data))[2:]
                self.assertIsNone(call(view, output=view))
                self.assertEqual(view.tobytes(), want, (call_name, "in place slice", n))
                self.assertEqual(call(data, output=None), want)

    def test_refused_outputs_are_left_unwritten(self):
        shared = bytearray(range(64))
        readonly_map = mmap.mmap(-1, 16, access=mmap.ACCESS_READ)
        # A refused call takes nothing from a stream.
        stream = MtKeyStream(11, 22, 33, 44)
        calls = OUTPUT_CALLS + [("shared stream", lambda data, **kw: stream.xor(data, **kw))]
        cases = [
            # (description, data, output, exception, words the message must hold)
            ("bytes", b"x" * 16, b"\xaa" * 16, TypeError, ["output", "writable"]),
            ("read-only memoryview", b"x" * 16, memoryview(b"\xaa" * 16), TypeError, ["writable"]),
            ("read-only mmap", b"x" * 16, readonly_map, TypeError, ["writable"]),
            ("str", b"x" * 16, "a" * 16, TypeError, ["output"]),
            ("int", b"x" * 16, 16, TypeError, ["output"]),
            ("shorter", b"x" * 16, bytearray(15), ValueError, ["15", "16"]),
            ("longer", b"x" * 16, bytearray(17), ValueError, ["17", "16"]),
            ("empty for data", b"x", bytearray(), ValueError, ["0", "1"]),
            ("overlap ahead", memoryview(shared)[0:16], memoryview(shared)[8:24], ValueError,
             ["overlaps"]),
            ("overlap behind", memoryview(shared)[9:25], memoryview(shared)[1:17], ValueError,
             ["overlaps"]),
            ("not contiguous", b"x" * 16, memoryview(bytearray(32))[::2], (BufferError, TypeError),
             []),
        ]
        if sys.version_info >= (3, 12):  # an exporter of Python code runs with no error pending
            cases.append(("read-only exporter", b"x" * 16, Exporter(b"\xaa" * 16), TypeError,
                          ["writable"]))
        if CPYTHON:  # PyPy 7.3 crashes passing a released memoryview to any C function
            released = memoryview(bytearray(16))
            released.release()
            cases.append(("released memoryview", b"x" * 16, released, ValueError,
                          ["argument 'output'", "released"]))
        for call_name, call in calls:
            for description, data, output, error, words in cases:
                before = None if isinstance(output, (str, int)) or "released" in description \
                    else memoryview(output).tobytes()
                with self.assertRaises(error, msg=(call_name, description)) as caught:
                    call(data, output=output)
                for word in words:
                    self.assertIn(word, str(caught.exception), (call_name, description))
                if before is not None:
                    self.assertEqual(memoryview(output).tobytes(), before,
                                     (call_name, description, "written"))
                self.assertFalse(error_pending())
        self.assertEqual(shared, bytearray(range(64)))
        readonly_map.close()
        self.assertEqual(stream.position, 0)
        self.assertEqual(stream.xor(b"x" * 16), mt_xor_bytes(b"x" * 16, 11, 22, 33, 44))
        # A failed key leaves the output unwritten too, and released.
        target = bytearray(b"\xaa" * 16)
        self.assertRaises(ValueError, bf_process, b"x" * 16, KEY[:13], 1, output=target)
        self.assertRaises(TypeError, bf_process, b"x" * 16, KEY[:13] + [None], 1, output=target)
        self.assertEqual(target, bytearray(b"\xaa" * 16))
        target.extend(b"resizable")

    def test_output_is_held_for_the_call(self):
        # Python code run while the key is read cannot resize the output:
        # CPython refuses the resize; PyPy, which would allow it, reads the key
        # before it takes any buffer, so the output grown has the wrong length.
        target = bytearray(16)

        class Growing(object):
            def __len__(self):
                return 14

            def __getitem__(self, i):
                if i == 13:
                    target.extend(b"y" * 100000)
                return i
        self.assertRaises(BufferError if CPYTHON else ValueError, bf_process, b"x" * 16,
                          Growing(), 1, output=target)
        self.assertEqual(target[:16], bytearray(16))
        target.extend(b"z")  # free again once the call is over
        self.assertRaises(TypeError, mt_xor_bytes, b"x" * 17, 1, 2, 3, 4, bytearray(17))

    def test_buffers_closed_meanwhile_never_crash(self):
        # A key item that closes the mmap given as data or as output: CPython
        # refuses the close while the call holds the buffer; PyPy reads the
        # key first and then finds the map closed. Either way the call fails.
        for role in ("data", "output"):
            mapped = mmap.mmap(-1, 1 << 20)

            class Closing(object):
                def __len__(self):
                    return 14

                def __getitem__(self, i):
                    if i == 13:
                        mapped.close()
                    return i
            data = mapped if role == "data" else bytes(1 << 20)
            output = mapped if role == "output" else None
            with self.assertRaises((BufferError, ValueError, TypeError), msg=role):
                bf_process(data, Closing(), 1, output=output)
            if not mapped.closed:
                mapped.close()
        # Another thread closing an output while calls write it: each call
        # either finishes, with the right bytes, or fails on the closed map.
        data = os.urandom(8 << 20)
        want = mt_xor_bytes(data, 1, 2, 3, 4)
        for _ in range(10):
            mapped = mmap.mmap(-1, len(data))
            closer = threading.Thread(target=lambda m=mapped: _close_when_free(m))
            closer.start()
            while not mapped.closed:
                try:
                    mt_xor_bytes(data, 1, 2, 3, 4, output=mapped)
                except (ValueError, TypeError):
                    break
                if not mapped.closed:  # closed as the call returned: nothing to read
                    try:
                        self.assertEqual(mapped[:64], want[:64])
                    except ValueError:
                        break
            closer.join()


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


class ThreadTest(unittest.TestCase):
    def test_threads_get_single_thread_results(self):
        # Sizes on both sides of the size from which Python 3 lets go of the
        # interpreter lock, a few large enough for the threads to overlap.
        rng = random.Random(3)
        sizes = [rng.randrange(0, 3000) for _ in range(48)] + [
            rng.randrange(8000, 200000) for _ in range(14)] + [1 << 20, (1 << 20) + 5]
        jobs = []
        for size in sizes:
            data = os.urandom(size)
            seeds = [rng.getrandbits(32) for _ in range(4)]
            key = [rng.getrandbits(32) for _ in range(14)]
            jobs.append((data, seeds, key, mt_xor_bytes(data, *seeds), bf_process(data, key, 1)))
        failures = []

        def worker(offset):
            for k in range(100):
                data, seeds, key, want_mt, want_bf = jobs[(offset + k) % len(jobs)]
                if PY3 and k % 2:
                    data = bytearray(data)  # a buffer that must be held, not copied
                if mt_xor_bytes(data, *seeds) != want_mt or bf_process(data, key, 1) != want_bf:
                    failures.append((offset, k))
        threads = [threading.Thread(target=worker, args=(i * 7,)) for i in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])

    @unittest.skipUnless(PY3, "the objects are Python 3's")
    def test_shared_objects_give_whole_slices(self):
        # Threads share a stream and a cipher: every xor takes one whole slice
        # of the stream, and the slices tile it with no gap, overlap or tear;
        # the cipher gives each thread the function's bytes.
        rng = random.Random(11)
        # Pieces of 9 bytes and more, each found again in the stream by its
        # first bytes, which no other place in it repeats.
        sizes = [[rng.choice([rng.randrange(9, 300), rng.randrange(9, 9000),
                              (256 << 10) + rng.randrange(9)]) for _ in range(40)]
                 for _ in range(4)]
        total = sum(map(sum, sizes))
        keystream = mt_xor_bytes(bytes(total), 5, 6, 7, 8)
        stream, cipher = MtKeyStream(5, 6, 7, 8), BfCipher(KEY)
        block = os.urandom(20000)
        want = bf_process(block, KEY, 1)
        slices, failures = [], []

        def worker(mine):
            for n in mine:
                slices.append(stream.xor(bytes(n)))  # list.append is atomic
                if cipher.encrypt(block) != want:
                    failures.append(n)
        threads = [threading.Thread(target=worker, args=(mine,)) for mine in sizes]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])
        self.assertEqual(stream.position, total)
        at = 0
        for start, piece in sorted((keystream.find(piece[:9]), piece) for piece in slices):
            self.assertEqual(start, at)
            self.assertEqual(piece, keystream[at:at + len(piece)])
            at += len(piece)
        self.assertEqual(at, total)

    @unittest.skipUnless(PY3, "Python 2.7 holds the interpreter lock for the whole call")
    def test_data_written_meanwhile_never_crashes(self):
        # Another thread writes into the bytearray being transformed: the
        # result is some mix of old and new bytes, of the data's length.
        data = bytearray(4 << 20)
        stop = []

        def scribble():
            while not stop:
                data[0:65536] = os.urandom(65536)
        t = threading.Thread(target=scribble)
        t.start()
        try:
            for _ in range(20):
                self.assertEqual(len(mt_xor_bytes(data, 1, 2, 3, 4)), len(data))
                self.assertEqual(len(bf_process(data, KEY, 1)), len(data))
        finally:
            stop.append(True)
            t.join()


def resident_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


@unittest.skipIf(os.environ.get("VAVIREREZI_SKIP_SOAK"), "soak skipped in this build")
class SoakTest(unittest.TestCase):
    CALLS = 10 ** 6

    def test_resident_memory_stays_flat(self):
        data = b"soak" * 5  # 20 bytes: two blocks and a partial one
        key = tuple(KEY)
        for _ in range(20000):  # warm up the allocator
            mt_xor_bytes(data, 1, 2, 3, 4)
            bf_process(data, key, 1)
        gc.collect()
        start = resident_kib()
        for i in xrange(self.CALLS):
            mt_xor_bytes(data, i, 2, 3, i)
        middle = resident_kib()
        for i in xrange(self.CALLS):
            bf_process(data, key, i & 1)
        gc.collect()
        end = resident_kib()
        sys.stderr.write("\nsoak: %d calls of each function, RSS %d KiB -> %d KiB -> %d KiB\n"
                         % (self.CALLS, start, middle, end))
        self.assertLess(end - start, 1024)


def child_output(code):
    """What a fresh interpreter like this one prints running `code`."""
    import subprocess
    return subprocess.check_output(child_interpreter() + ["-c", code]).decode("ascii")


# Changes the built-in ValueError as `setup` says, imports the module, puts
# the built-in back and reports which class a bad key raises.
ERROR_CLASS_CHILD = """
import sys, types, %(name)s as b
real = b.ValueError
%(setup)s
try:
    import vavirerezi
except Exception as e:
    sys.stdout.write('import: ' + type(e).__name__)
    sys.exit()
sys.modules[%(name)r] = b
b.ValueError = real
try:
    vavirerezi.bf_process(b'', [0] * 13, 1)
except BaseException as e:
    sys.stdout.write(('real ' if type(e) is real else 'other ') + type(e).__name__ + ': ' + str(e))
"""

# Loads the library a second time, the built-in ValueError gone meanwhile,
# and reports what a bad key raises in both modules.
SECOND_LOAD_CHILD = """
import sys, vavirerezi
path = getattr(vavirerezi, '_core', vavirerezi).__file__  # Python 3: the package's library
%(load)s
b.ValueError = real
for m in (vavirerezi, again):
    try:
        m.bf_process(b'', [0] * 13, 1)
    except BaseException as e:
        sys.stdout.write('%%s %%s;' %% (type(e) is real, e))
"""
SECOND_LOAD_PY3 = """
import builtins as b, importlib.machinery, importlib.util
real = b.ValueError
del b.ValueError
loader = importlib.machinery.ExtensionFileLoader('again._core', path)
again = importlib.util.module_from_spec(importlib.util.spec_from_loader('again._core', loader))
loader.exec_module(again)
"""
SECOND_LOAD_PY27 = """
import exceptions as b, imp
real = b.ValueError
del b.ValueError
del sys.modules['vavirerezi']
again = imp.load_dynamic('vavirerezi', path)
"""

# The built-in ValueError deleted, the import fails; put back, the module
# imported again must raise what `except ValueError` catches.
FAILED_IMPORT_CHILD = """
import sys, %(name)s as b
real = b.ValueError
del b.ValueError
try:
    import vavirerezi
    first = 'imported'
except Exception as e:
    first = 'import: ' + type(e).__name__
b.ValueError = real
sys.modules.pop('vavirerezi', None)
import vavirerezi
try:
    vavirerezi.bf_process(b'', [0] * 13, 1)
except real as e:
    sys.stdout.write(first + '; caught: ' + str(e))
"""

# Runs in each sub-interpreter: both functions and both objects give the main
# interpreter's bytes, and a bad key the built-in ValueError.
SUBINTERPRETER_SCRIPT = """
import vavirerezi
got = (vavirerezi.mt_xor_bytes(%(data)r, 1, 2, 3, 4), vavirerezi.bf_process(%(data)r, %(key)r, 1))
assert got == %(want)r, 'results differ'
stream = vavirerezi.MtKeyStream(1, 2, 3, 4)
pieces = stream.xor(%(data)r[:5]) + stream.copy().xor(%(data)r[5:])
assert (pieces, vavirerezi.BfCipher(%(key)r).encrypt(%(data)r)) == got, 'objects differ'
try:
    vavirerezi.bf_process(b'', [0] * 13, 1)
except ValueError as e:
    assert type(e) is ValueError and str(e) == %(message)r
"""

# Makes `threads` sub-interpreters of `kind`, runs the script in each on a
# thread of its own, and prints the failures.
SUBINTERPRETER_CHILD = """
import sys, threading
script, kind, threads = %(script)r, %(kind)r, %(threads)d
failures = []
if sys.version_info >= (3, 13):
    import _interpreters as I
    ids = [I.create(kind) for _ in range(threads)]
    def run(i):
        for _ in range(20):
            failure = I.run_string(i, script)
            if failure is not None:
                failures.append(failure.formatted)
else:
    import _xxsubinterpreters as I
    isolated = {'isolated': kind == 'isolated'} if sys.version_info >= (3, 12) else {}
    ids = [I.create(**isolated) for _ in range(threads)]
    def run(i):
        try:
            I.run_string(i, script)
        except Exception as e:
            failures.append(str(e))
workers = [threading.Thread(target=run, args=(i,)) for i in ids]
for w in workers:
    w.start()
for w in workers:
    w.join()
for i in ids:
    I.destroy(i)
sys.stdout.write(repr(failures))
"""


class ErrorTypeTest(unittest.TestCase):
    """Which class the bad-key error is, whatever Python code did to the
    built-in name before the import. Python 3 raises the interpreter's own
    ValueError, found by no name. Python 2.7 looks the name up in
    `exceptions` when the module is first initialised: an exception class
    found there is used, anything else gives the interpreter's ValueError,
    and a failed lookup fails the import."""

    def run_child(self, setup):
        name = "builtins" if PY3 else "exceptions"
        return child_output(ERROR_CLASS_CHILD % {"name": name, "setup": setup})

    def test_error_class_after_the_builtin_name_changed(self):
        cases = [
            ("b.ValueError = 5", "real ValueError: " + MESSAGE),
            ("b.ValueError = KeyError", py("other KeyError: '%s'" % MESSAGE,
                                           "real ValueError: " + MESSAGE)),
            ("del b.ValueError", py("import: AttributeError", "real ValueError: " + MESSAGE)),
            ("sys.modules[%r] = types.ModuleType('x')" % ("builtins" if PY3 else "exceptions"),
             py("import: AttributeError", "real ValueError: " + MESSAGE)),
        ]
        for setup, want in cases:
            self.assertEqual(self.run_child(setup), want, setup)


    def test_import_after_a_failed_one(self):
        name = "builtins" if PY3 else "exceptions"
        out = child_output(FAILED_IMPORT_CHILD % {"name": name})
        self.assertEqual(out, py("import: AttributeError", "imported") + "; caught: " + MESSAGE)

    def test_second_initialisation_after_a_failed_lookup(self):
        # The library loaded again (Python 3: under another dotted name, which
        # initialises it anew) once the built-in ValueError is gone: no
        # crash, and the first module still raises the built-in class.
        load = SECOND_LOAD_PY3 if PY3 else SECOND_LOAD_PY27
        out = child_output(SECOND_LOAD_CHILD % {"load": load})
        self.assertEqual(out, ("True %s;" % MESSAGE) * 2)


@unittest.skipUnless(CPYTHON and PY3, "sub-interpreters from Python code are CPython 3's")
class SubinterpreterTest(unittest.TestCase):
    """Both functions in a sub-interpreter of each kind, in a child process:
    legacy ones share the main GIL, isolated ones (3.12 and later) have
    their own, and import single-phase modules not at all."""

    def run_child(self, kind, threads=1):
        data = b"sub-interpreter data, 3 blocks and 5"
        want = (mt_xor_bytes(data, 1, 2, 3, 4), bf_process(data, KEY, 1))
        script = SUBINTERPRETER_SCRIPT % {"data": data, "key": KEY, "want": want,
                                          "message": MESSAGE}
        return child_output(SUBINTERPRETER_CHILD % {"script": script, "kind": kind,
                                                    "threads": threads})

    def test_legacy_subinterpreter(self):
        self.assertEqual(self.run_child("legacy"), "[]")

    @unittest.skipUnless(sys.version_info >= (3, 12), "isolated sub-interpreters are 3.12's")
    def test_isolated_subinterpreters(self):
        # Under 3.13, four at once on four threads, each with its own GIL.
        threads = 4 if sys.version_info >= (3, 13) else 1
        self.assertEqual(self.run_child("isolated", threads), "[]")


if __name__ == "__main__":
    unittest.main()
