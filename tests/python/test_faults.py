"""Allocation failures and block accounting, with the PyMem shim preloaded.

Every allocation that a call makes is failed in turn: the call must raise
MemoryError, hold no block afterwards, and leave the interpreter able to make
the same call again successfully. Under 2.7 they are PyMem blocks (working
state, then the output buffer; the result string is made from it): three for
mt_xor_bytes, two for bf_process. Under Python 3 the working state from PyMem
(one block each), then the result object itself, transformed in place; into
a caller's buffer (output=) one fewer. The objects' methods make the result
alone, and a failed one leaves a stream where it was."""
import ctypes
import os
import sys
import unittest

import vavirerezi
from compat import CPYTHON

try:
    if not CPYTHON:
        raise AttributeError("PyPy")
    SHIM = ctypes.PyDLL(None)
    SHIM.shim_fail_nth.argtypes = [ctypes.c_long]
    SHIM.shim_module_allocations.restype = ctypes.c_long
    SHIM.shim_foreign_frees.restype = ctypes.c_long
except AttributeError:
    SHIM = None
    if CPYTHON and "pymem_shim" in os.environ.get("LD_PRELOAD", ""):
        raise  # preloaded yet not found: the tests must not skip silently

KEY = list(range(1, 15))
MT_BLOCKS = 3 if sys.version_info[0] < 3 else 2  # seed and working blocks, or one stream
CALLS = {
    # name: (call, allocations it makes)
    "mt_xor_bytes": (lambda: vavirerezi.mt_xor_bytes(b"x" * 5000, 1, 2, 3, 4), MT_BLOCKS),
    "mt_xor_bytes empty": (lambda: vavirerezi.mt_xor_bytes(b"", 1, 2, 3, 700), MT_BLOCKS),
    "bf_process": (lambda: vavirerezi.bf_process(b"y" * 5003, KEY, 1), 2),
    "bf_process empty": (lambda: vavirerezi.bf_process(b"", KEY, 0), 2),
}
if sys.version_info[0] >= 3:
    # Into the caller's buffer: the working state alone, no result object.
    OUT = bytearray(5000)
    CALLS["mt_xor_bytes output="] = (
        lambda: vavirerezi.mt_xor_bytes(b"x" * 5000, 1, 2, 3, 4, output=OUT) or bytes(OUT), 1)

    def bf_in_place():
        data = bytearray(b"y" * 5003)
        return vavirerezi.bf_process(data, KEY, 1, output=data) or bytes(data)
    CALLS["bf_process output= in place"] = (bf_in_place, 1)

    CIPHER = vavirerezi.BfCipher(KEY)
    CALLS["BfCipher.decrypt"] = (lambda: CIPHER.decrypt(b"y" * 5003), 1)
    STREAM = vavirerezi.MtKeyStream(1, 2, 3, 4)
    STREAM.skip(5003)

    def stream_xor():
        # A copy at 5003 bytes in: it gives the stream from there, or fails
        # having taken nothing.
        stream = STREAM.copy()
        try:
            return stream.xor(b"x" * 5000)
        except MemoryError:
            if stream.position != 5003:
                raise AssertionError("a failed call moved the stream")
            raise
    CALLS["MtKeyStream.xor"] = (stream_xor, 1)


@unittest.skipIf(not CPYTHON, "the shim interposes CPython's allocator, which PyPy's C API "
                 "emulation does not call")
@unittest.skipIf(SHIM is None, "needs the PyMem shim preloaded")
class AllocationFailureTest(unittest.TestCase):
    def tearDown(self):
        SHIM.shim_fail_nth(0)
        self.assertEqual(SHIM.shim_blocks_held(), 0)
        self.assertEqual(SHIM.shim_foreign_frees(), 0)

    def test_calls_make_the_expected_allocations(self):
        for name, (call, allocations) in sorted(CALLS.items()):
            before = SHIM.shim_module_allocations()
            call()
            self.assertEqual(SHIM.shim_module_allocations() - before, allocations, name)
            self.assertEqual(SHIM.shim_blocks_held(), 0, name)

    def test_each_allocation_failing_raises_memory_error(self):
        for name, (call, allocations) in sorted(CALLS.items()):
            want = call()
            for n in range(1, allocations + 1):
                before = SHIM.shim_module_allocations()
                SHIM.shim_fail_nth(n)
                self.assertRaises(MemoryError, call)
                # The n-th allocation was the last one tried.
                self.assertEqual(SHIM.shim_module_allocations() - before, n, (name, n))
                self.assertEqual(SHIM.shim_blocks_held(), 0, (name, n))
                self.assertEqual(call(), want, (name, n))

    def test_error_paths_hold_no_blocks(self):
        bad_calls = [
            lambda: vavirerezi.bf_process(b"z" * 64, KEY[:13] + ["no"], 1),
            lambda: vavirerezi.bf_process(b"z" * 64, KEY[:13] + [2 ** 80], 1),
            lambda: vavirerezi.bf_process(b"z" * 64, KEY[:13], 1),
            lambda: vavirerezi.mt_xor_bytes(None, 1, 2, 3, 4),
        ]
        for call in bad_calls:
            for _ in range(100):
                self.assertRaises(Exception, call)
            self.assertEqual(SHIM.shim_blocks_held(), 0)

    def test_many_calls_hold_no_blocks(self):
        for _ in range(2000):
            for call, _n in CALLS.values():
                call()
        self.assertEqual(SHIM.shim_blocks_held(), 0)


if __name__ == "__main__":
    unittest.main()
