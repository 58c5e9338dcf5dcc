"""Bad input of every kind, reference counts, pending errors, threads, soak."""
import array
import ctypes
import gc
import mmap
import os
import random
import sys
import tempfile
import threading
import unittest

import vavirerezi
from compat import PY3, child_interpreter, xrange

mt_xor_bytes = vavirerezi.mt_xor_bytes
bf_process = vavirerezi.bf_process

PyErr_Occurred = ctypes.pythonapi.PyErr_Occurred
PyErr_Occurred.restype = ctypes.c_void_p
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


class BadIndex(object):
    def __int__(self):
        raise RuntimeError("no integer here")


def big_sparse_mmap():
    f = tempfile.TemporaryFile()
    f.truncate(2 ** 31 + 16)
    return f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)


# (description, function, args, kwargs, expected exception or None for success)
TABLE = [
    ("mt: no arguments", mt_xor_bytes, (), {}, TypeError),
    ("mt: four arguments", mt_xor_bytes, ("a", 1, 2, 3), {}, TypeError),
    ("mt: six arguments", mt_xor_bytes, ("a", 1, 2, 3, 4, 5), {}, TypeError),
    ("mt: keyword", mt_xor_bytes, ("a", 1, 2, 3), {"offset": 4}, TypeError),
    ("mt: data None", mt_xor_bytes, (None, 1, 2, 3, 4), {}, TypeError),
    ("mt: data int", mt_xor_bytes, (7, 1, 2, 3, 4), {}, TypeError),
    ("mt: data list", mt_xor_bytes, ([1, 2], 1, 2, 3, 4), {}, TypeError),
    ("mt: data bytearray", mt_xor_bytes, (bytearray(b"ab"), 1, 2, 3, 4), {}, TypeError),
    ("mt: data unencodable text", mt_xor_bytes, (UNENCODABLE, 1, 2, 3, 4), {}, UnicodeEncodeError),
    ("mt: seed None", mt_xor_bytes, ("a", None, 2, 3, 4), {}, TypeError),
    ("mt: seed float", mt_xor_bytes, ("a", 1.0, 2, 3, 4), {}, TypeError),
    ("mt: seed str", mt_xor_bytes, ("a", "1", 2, 3, 4), {}, TypeError),
    ("mt: offset float", mt_xor_bytes, ("a", 1, 2, 3, 4.0), {}, TypeError),
    ("mt: offset object with __int__", mt_xor_bytes, ("a", 1, 2, 3, BadIndex()), {}, TypeError),
    ("mt: huge seeds", mt_xor_bytes, ("abc", 2 ** 200, -2 ** 200, 2 ** 64 - 1, 4), {}, None),
    ("mt: negative offset", mt_xor_bytes, ("abc", 1, 2, 3, -5), {}, None),
    ("mt: huge offset", mt_xor_bytes, ("abc", 1, 2, 3, 10 ** 30), {}, None),
    ("mt: array", mt_xor_bytes, (array.array("I", [1, 2, 3]), 1, 2, 3, 4), {},
     TypeError if PY3 else None),
    ("mt: memoryview", mt_xor_bytes, (memoryview(b"abc"), 1, 2, 3, 4), {}, TypeError),
    ("bf: no arguments", bf_process, (), {}, TypeError),
    ("bf: two arguments", bf_process, ("a", KEY), {}, TypeError),
    ("bf: four arguments", bf_process, ("a", KEY, 1, 1), {}, TypeError),
    ("bf: keyword", bf_process, ("a", KEY), {"encrypt": 1}, TypeError),
    ("bf: data None", bf_process, (None, KEY, 1), {}, TypeError),
    ("bf: data unencodable text", bf_process, (UNENCODABLE, KEY, 1), {}, UnicodeEncodeError),
    ("bf: encrypt None", bf_process, ("a", KEY, None), {}, TypeError),
    ("bf: encrypt float", bf_process, ("a", KEY, 1.5), {}, TypeError),
    ("bf: encrypt huge", bf_process, ("a", KEY, 2 ** 64), {}, OverflowError),
    ("bf: key None", bf_process, ("a", None, 1), {}, ValueError),
    ("bf: key int", bf_process, ("a", 14, 1), {}, ValueError),
    ("bf: key float", bf_process, ("a", 14.0, 1), {}, ValueError),
    ("bf: key dict", bf_process, ("a", dict.fromkeys(range(14), 0), 1), {}, ValueError),
    ("bf: key generator", bf_process, ("a", (i for i in range(14)), 1), {}, ValueError),
    ("bf: key of 13", bf_process, ("a", KEY[:13], 1), {}, ValueError),
    ("bf: key of 15", bf_process, ("a", KEY + [0], 1), {}, ValueError),
    ("bf: key length raises", bf_process, ("a", Raises(length_error=ZeroDivisionError()), 1), {}, ValueError),
    ("bf: key length huge", bf_process, ("a", Raises(length=2 ** 40), 1), {}, ValueError),
    ("bf: key item raises", bf_process, ("a", Raises(item_error=KeyError("k")), 1), {}, KeyError),
    ("bf: key item None", bf_process, ("a", KEY[:13] + [None], 1), {}, TypeError),
    ("bf: key item str", bf_process, ("a", KEY[:13] + ["7"], 1), {}, TypeError),
    ("bf: key item __int__ raises", bf_process, ("a", KEY[:13] + [BadIndex()], 1), {}, RuntimeError),
    ("bf: key item huge", bf_process, ("a", KEY[:13] + [2 ** 64], 1), {}, OverflowError),
    ("bf: key item huge negative", bf_process, ("a", KEY[:13] + [-2 ** 63 - 1], 1), {}, OverflowError),
    ("bf: key item float inf", bf_process, ("a", KEY[:13] + [float("inf")], 1), {}, OverflowError),
    ("bf: key of 14 chars", bf_process, ("a", "abcdefghijklmn", 1), {}, TypeError),
    ("bf: key item negative", bf_process, ("abc", KEY[:13] + [-2 ** 63], 1), {}, None),
    ("bf: key xrange", bf_process, ("abc", xrange(14), 0), {}, None),
    ("bf: key array", bf_process, ("abc", array.array("l", KEY), 1), {}, None),
    ("bf: array", bf_process, (array.array("b", [1, 2, 3]), KEY, 1), {},
     TypeError if PY3 else None),
]
if not PY3:
    TABLE += [
        ("mt: buffer", mt_xor_bytes, (buffer(b"hello"), 1, 2, 3, 4), {}, None),  # noqa: F821
        ("bf: buffer", bf_process, (buffer(b"hello world"), KEY, 1), {}, None),  # noqa: F821
    ]


class BadInputTableTest(unittest.TestCase):
    def test_table(self):
        for description, function, args, kwargs, expected in TABLE:
            if expected is None:
                result = function(*args, **kwargs)
                self.assertIs(type(result), bytes, description)
                self.assertIsNone(PyErr_Occurred(), description + ": error left pending")
            else:
                with self.assertRaises(expected) as caught:
                    function(*args, **kwargs)
                if expected is ValueError and function is bf_process:
                    self.assertEqual(str(caught.exception), MESSAGE, description)
                self.assertIsNone(PyErr_Occurred(), description)

    def test_successful_results_are_right(self):
        self.assertEqual(mt_xor_bytes("abc", 2 ** 200, -2 ** 200, 2 ** 64 - 1, 4),
                         mt_xor_bytes("abc", 0, 0, 0xffffffff, 4))
        self.assertEqual(mt_xor_bytes("abc", 1, 2, 3, -5), mt_xor_bytes("abc", 1, 2, 3, 624))
        self.assertEqual(mt_xor_bytes("abc", 1, 2, 3, 10 ** 30),
                         mt_xor_bytes("abc", 1, 2, 3, 10 ** 30 % 2 ** 32))
        self.assertEqual(bf_process("abc", KEY[:13] + [-2 ** 63], 1),
                         bf_process("abc", KEY[:13] + [0], 1))

    def test_data_of_2_31_bytes_or_more(self):
        if sys.maxsize <= 2 ** 32:
            self.skipTest("needs a 64-bit interpreter")
        if PY3:
            # Only immutable bytes get this far, so it takes 2 GiB of memory.
            if os.environ.get("VAVIREREZI_SKIP_HUGE"):
                self.skipTest("huge allocations skipped in this run")
            data = b"\0" * (2 ** 31 + 16)
            self.assertRaises(OverflowError, mt_xor_bytes, data, 1, 2, 3, 4)
            self.assertRaises(OverflowError, bf_process, data, KEY, 1)
            del data
        else:
            f, m = big_sparse_mmap()
            try:
                self.assertRaises(OverflowError, mt_xor_bytes, m, 1, 2, 3, 4)
                self.assertRaises(OverflowError, bf_process, m, KEY, 1)
                self.assertRaises(OverflowError, bf_process, buffer(m), KEY, 1)  # noqa: F821
            finally:
                m.close()
                f.close()
        self.assertIsNone(PyErr_Occurred())


class ReferenceCountTest(unittest.TestCase):
    def test_mt_xor_bytes_counts(self):
        data = b"refcount data" * 10
        seeds = [2 ** 40 + 1, 2 ** 41 + 2, 2 ** 42 + 3, 2 ** 43 + 4]  # uncached longs
        objects = [data] + seeds
        before = [sys.getrefcount(o) for o in objects]
        for _ in range(5000):
            mt_xor_bytes(data, *seeds)
            self.assertRaises(TypeError, mt_xor_bytes, data, seeds[0], seeds[1], seeds[2], 1.5)
        self.assertEqual([sys.getrefcount(o) for o in objects], before)

    def test_results_are_fresh_objects(self):
        data = b"x" * 100
        result = mt_xor_bytes(data, 1, 2, 3, 4)
        self.assertEqual(sys.getrefcount(result), 2)  # our name and the call's argument
        result = bf_process(data, KEY, 1)
        self.assertEqual(sys.getrefcount(result), 2)


class ThreadTest(unittest.TestCase):
    def test_threads_get_single_thread_results(self):
        rng = random.Random(3)
        jobs = []
        for _ in range(64):
            data = os.urandom(rng.randrange(0, 3000))
            seeds = [rng.getrandbits(32) for _ in range(4)]
            key = [rng.getrandbits(32) for _ in range(14)]
            jobs.append((data, seeds, key, mt_xor_bytes(data, *seeds), bf_process(data, key, 1)))
        failures = []

        def worker(offset):
            for k in range(300):
                data, seeds, key, want_mt, want_bf = jobs[(offset + k) % len(jobs)]
                if mt_xor_bytes(data, *seeds) != want_mt or bf_process(data, key, 1) != want_bf:
                    failures.append((offset, k))
        threads = [threading.Thread(target=worker, args=(i * 7,)) for i in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])


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


class ImportFailureTest(unittest.TestCase):
    def test_import_fails_when_the_builtin_error_cannot_be_found(self):
        # In a fresh interpreter whose built-in exceptions module lacks
        # ValueError the import reports the failed lookup.
        import subprocess
        name = "builtins" if PY3 else "exceptions"
        code = ("import sys, types\n"
                "real = sys.modules[%r]\n"
                "sys.modules[%r] = types.ModuleType(%r)\n"
                "try:\n"
                "    import vavirerezi\n"
                "except AttributeError:\n"
                "    sys.stdout.write('AttributeError')\n" % (name, name, name))
        out = subprocess.check_output(child_interpreter() + ["-c", code])
        self.assertEqual(out.strip(), b"AttributeError")


if __name__ == "__main__":
    unittest.main()
