"""Drives both functions through their success and error paths, for a run
under valgrind's memcheck (kept short: everything runs about fifty times
slower there)."""
import array

import vavirerezi
from compat import buffer
from oracles import mt_keystream

KEY = range(100, 114)

for length in (0, 1, 3, 4, 7, 8, 9, 63, 64, 65, 127, 128, 129, 1000, 2495, 2496, 2497, 5000, 9001):
    data = "".join(chr((i * 31) & 255) for i in range(length))
    for offset in (0, 5, 620, 623, 624, 100000, -1):
        masked = vavirerezi.mt_xor_bytes(data, 7, 8, 9, offset)
        assert vavirerezi.mt_xor_bytes(masked, 7, 8, 9, offset) == data
    assert vavirerezi.mt_xor_bytes("\0" * length, 7, 8, 9, 3) == mt_keystream([7, 8, 9], 3, length)
    for encrypt in (1, 0):
        out = vavirerezi.bf_process(data, KEY, encrypt)
        assert len(out) == length
    whole = data[:length - length % 8]
    assert vavirerezi.bf_process(vavirerezi.bf_process(whole, KEY, 1), KEY, 0) == whole
    vavirerezi.bf_process(buffer(data), tuple(KEY), 1)
    vavirerezi.mt_xor_bytes(array.array("c", data), 1, 2, 3, 4)

for bad in ([1] * 13, None, KEY[:13] + ["x"], KEY[:13] + [2 ** 70], KEY[:13] + [None]):
    try:
        vavirerezi.bf_process("abcdefghij", bad, 1)
    except (ValueError, TypeError, OverflowError):
        pass
    else:
        raise AssertionError("no error for %r" % (bad,))
for args in [(None, 1, 2, 3, 4), ("a", 1.0, 2, 3, 4), (u"\u0100", 1, 2, 3, 4), ()]:
    try:
        vavirerezi.mt_xor_bytes(*args)
    except (TypeError, UnicodeEncodeError):
        pass
    else:
        raise AssertionError("no error for %r" % (args,))
print("exercise done")
