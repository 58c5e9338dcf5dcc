"""The soak: a million calls of each function with the resident memory
checked (under Python 2.7 in the optimised build; VAVIREREZI_SKIP_SOAK skips
it elsewhere)."""
import gc
import os
import sys
import unittest

from compat import xrange
from support import KEY, bf_process, mt_xor_bytes


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


if __name__ == "__main__":
    unittest.main()
