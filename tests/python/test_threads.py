"""Threads: calls from many threads at once give the single-thread bytes,
shared objects give whole slices of one stream, and data written by another
thread during a call (Python 3 lets go of the lock) never crashes it."""
import os
import random
import threading
import unittest

from compat import PY3
from support import KEY, BfCipher, MtKeyStream, bf_process, mt_xor_bytes


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


if __name__ == "__main__":
    unittest.main()
