"""output= (Python 3): results written into a buffer of the caller's, every
kind of writable buffer and in place, refused outputs left unwritten, and
outputs resized or closed while a call holds them."""
import array
import ctypes
import mmap
import os
import random
import sys
import threading
import time
import unittest

from compat import CPYTHON, PY3, error_pending
from support import (KEY, BfCipher, MtKeyStream, RunsOnLastItem, bf_process, check_rows,
                     mt_xor_bytes)


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
    """A buffer exporter written in Python (3.12 and later): read-only bytes.
    Counts the requests for its buffer."""

    def __init__(self, data):
        self.data = data
        self.requests = 0

    def __buffer__(self, flags):
        self.requests += 1
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
            ("bytes", b"x" * 16, b"\xaa" * 16, TypeError,
             ["argument 'output' must be read-write bytes-like object", "not bytes"]),
            ("read-only memoryview", b"x" * 16, memoryview(b"\xaa" * 16), TypeError,
             ["read-write", "not memoryview"]),
            ("read-only mmap", b"x" * 16, readonly_map, TypeError, ["read-write", "not mmap"]),
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
        exporter = Exporter(b"\xaa" * 16)
        if sys.version_info >= (3, 12):  # an exporter of Python code runs with no error pending
            cases.append(("read-only exporter", b"x" * 16, exporter, TypeError,
                          ["read-write", "not Exporter"]))
        if CPYTHON:  # PyPy 7.3 crashes passing a released memoryview to any C function
            released = memoryview(bytearray(16))
            released.release()
            cases.append(("released memoryview", b"x" * 16, released, ValueError,
                          ["argument 'output'", "released"]))
        def check(row):
            description, call, data, output, error, words = row
            exporter.requests = 0
            before = None if isinstance(output, (str, int)) or "released" in description \
                else memoryview(output).tobytes()
            with self.assertRaises(error, msg=description) as caught:
                call(data, output=output)
            for word in words:
                self.assertIn(word, str(caught.exception), description)
            if before is not None:
                self.assertEqual(memoryview(output).tobytes(), before, description + ": written")
            self.assertFalse(error_pending(), description)
            if output is exporter:  # once by the call, twice by this test around it
                self.assertEqual(exporter.requests, 3, description)
        check_rows(self, [(call_name + ", " + case[0], call) + case[1:]
                          for call_name, call in calls for case in cases], check)
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
        # Python code run while the key is read runs before any buffer is
        # taken: the output it grows has the wrong length, and is refused.
        target = bytearray(16)
        growing = RunsOnLastItem(lambda: target.extend(b"y" * 100000))
        self.assertRaises(ValueError, bf_process, b"x" * 16, growing, 1, output=target)
        self.assertEqual(target[:16], bytearray(16))
        target.extend(b"z")  # free again once the call is over
        self.assertRaises(TypeError, mt_xor_bytes, b"x" * 17, 1, 2, 3, 4, bytearray(17))

    def test_buffers_closed_meanwhile_never_crash(self):
        # A key item that closes the mmap given as data or as output: CPython
        # refuses the close while the call holds the buffer; PyPy reads the
        # key first and then finds the map closed. Either way the call fails.
        for role in ("data", "output"):
            mapped = mmap.mmap(-1, 1 << 20)
            data = mapped if role == "data" else bytes(1 << 20)
            output = mapped if role == "output" else None
            with self.assertRaises((BufferError, ValueError, TypeError), msg=role):
                bf_process(data, RunsOnLastItem(mapped.close), 1, output=output)
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


if __name__ == "__main__":
    unittest.main()
