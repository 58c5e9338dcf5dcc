"""vavirerezi.open against the loops it replaces, side by side in one run.

  sequential  a 256 MiB masked file read with readinto into one reused 1 MiB
              buffer through vavirerezi.open, against the same loop over
              the raw file with MtKeyStream.xor(..., output=) in place;
  random      1,000 bytes read at random positions of a 100 GB sparse
              masked file (seek + read), against a fresh MtKeyStream
              seeked there and xor over a raw pread;
  blowfish    the same random read of an enciphered file, against a raw
              pread of the covering blocks and BfCipher.decrypt.
Prints the CPU model, medians and the ratios (baseline time / file object
time: 1.0 is as fast as the baseline).

Usage: bench_file.py [directory for the files]  (Python 3, stdlib only)
"""
import os
import platform
import random
import sys
import tempfile
import time

import vavirerezi

SEEDS = (1, 2, 3)
KEY = list(range(14))
ROUNDS = 7


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def median(xs):
    xs = sorted(xs)
    return xs[len(xs) // 2]


def sequential(path):
    buf = bytearray(1 << 20)

    def through_file():
        with vavirerezi.open(path, seeds=SEEDS) as f:
            while f.readinto(buf):
                pass

    def baseline():
        stream = vavirerezi.MtKeyStream(SEEDS[0], SEEDS[1], SEEDS[2], 0)
        view = memoryview(buf)
        with open(path, "rb", buffering=0) as f:
            while True:
                n = f.readinto(buf)
                if not n:
                    break
                piece = view[:n]
                stream.xor(piece, output=piece)

    times = {"file": [], "base": []}
    for _ in range(ROUNDS):  # interleaved, so both see the same machine
        for name, f in (("file", through_file), ("base", baseline)):
            t = time.perf_counter()
            f()
            times[name].append(time.perf_counter() - t)
    return median(times["file"]), median(times["base"])


def random_reads(path, kind, positions):
    if kind == "seeds":
        f = vavirerezi.open(path, seeds=SEEDS)
    else:
        f = vavirerezi.open(path, key=KEY)
        cipher = vavirerezi.BfCipher(KEY)
    fd = os.open(path, os.O_RDONLY)
    file_t, base_t = [], []
    try:
        for at in positions:
            t = time.perf_counter()
            f.seek(at)
            got = f.read(1000)
            file_t.append(time.perf_counter() - t)
            t = time.perf_counter()
            if kind == "seeds":
                stream = vavirerezi.MtKeyStream(SEEDS[0], SEEDS[1], SEEDS[2], 0)
                stream.seek(at)
                want = stream.xor(os.pread(fd, 1000, at))
            else:
                start = at & ~7
                plain = cipher.decrypt(os.pread(fd, (at + 1000 + 7 & ~7) - start, start))
                want = plain[at - start:at - start + 1000]
            base_t.append(time.perf_counter() - t)
            if got != want:
                raise AssertionError("different bytes at %d" % at)
    finally:
        os.close(fd)
        f.close()
    return median(file_t), median(base_t)


def main():
    where = sys.argv[1] if len(sys.argv) > 1 else None
    print("CPU: %s; Python %s; kernels %s" % (cpu_model(), platform.python_version(),
                                              vavirerezi.kernels()))
    rng = random.Random(5)
    with tempfile.TemporaryDirectory(dir=where) as d:
        seq = os.path.join(d, "seq.bin")
        with open(seq, "wb") as f:
            block = os.urandom(1 << 20)
            for _ in range(256):
                f.write(block)
        t_file, t_base = sequential(seq)
        mb = 256 / 1.048576
        print("sequential readinto, 256 MiB, 1 MiB buffer: file object %.1f ms (%.0f MB/s), "
              "raw file + MtKeyStream.xor(output=) %.1f ms (%.0f MB/s); ratio %.2f"
              % (t_file * 1e3, mb / t_file, t_base * 1e3, mb / t_base, t_base / t_file))
        os.remove(seq)
        sparse = os.path.join(d, "sparse.bin")
        with open(sparse, "wb") as f:
            f.truncate(100 * 10 ** 9)
        positions = [rng.randrange(100 * 10 ** 9 - 1000) for _ in range(200)]
        for kind, label in (("seeds", "masked"), ("key", "enciphered")):
            t_file, t_base = random_reads(sparse, kind, positions)
            print("random 1,000-byte read, 100 GB sparse %s file: file object %.3f ms, "
                  "baseline %.3f ms; ratio %.2f" % (label, t_file * 1e3, t_base * 1e3,
                                                   t_base / t_file))


if __name__ == "__main__":
    main()
