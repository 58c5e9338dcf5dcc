"""Threads and the interpreter lock, Python 3: vavirerezi, which lets go of
the lock around large transforms, side by side in one process with the same
binding built never to let go of it (LOCKED_MODULE, a path to that library).

  - the same total work on one thread and on two, both functions, 64 KiB,
    1 MiB and 16 MiB: the two-thread time as a share of the one-thread time;
  - a Python thread spinning beside 16 MiB calls: its speed as a share of
    its speed alone;
  - single-thread calls of 64 bytes and 4 KiB: medians, where nothing is let
    go, so the two modules should be alike.

Usage: bench_threads.py LOCKED_MODULE (vavirerezi itself on PYTHONPATH).
"""
import importlib.util
import platform
import random
import sys
import threading
import time
import timeit

import vavirerezi
from bench_module import cpu_model, median  # beside this script


def load_locked(path):
    found = importlib.util.spec_from_file_location("_core", path)  # PyInit__core
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    assert module.__file__ != vavirerezi.__file__
    return module


def calls_for(module, name, size, key):
    data = bytes(random.Random(size).getrandbits(8) for _ in range(min(size, 4096))) * (
        size // min(size, 4096))
    if name == "mt_xor_bytes":
        return lambda: module.mt_xor_bytes(data, 1, 2, 3, 4)
    return lambda: module.bf_process(data, key, 1)


def serial_vs_two_threads(call, count, rounds=5):
    """Medians of `count` calls on one thread, and split over two, after a
    round of each that warms the allocator's arenas."""
    def calls(n):
        for _ in range(n):
            call()
    one, two = [], []
    for r in range(rounds + 1):
        t0 = time.perf_counter()
        calls(count)
        one.append(time.perf_counter() - t0)
        threads = [threading.Thread(target=calls, args=(count // 2,)) for _ in range(2)]
        t0 = time.perf_counter()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        two.append(time.perf_counter() - t0)
    return median(one[1:]), median(two[1:])


def spinner_share(call, seconds=0.6):
    """A spinning thread's count with `call` running beside it, as a share of
    its count alone over the same time."""
    def spin(out, stop):
        n = 0
        while not stop:
            n += 1
        out.append(n)

    def run(busy):
        out, stop = [], []
        t = threading.Thread(target=spin, args=(out, stop))
        t.start()
        end = time.perf_counter() + seconds
        while time.perf_counter() < end:
            if busy:
                call()
            else:
                time.sleep(0.001)
        stop.append(True)
        t.join()
        return out[0]
    alone, beside = [], []
    for _ in range(3):
        alone.append(run(False))
        beside.append(run(True))
    return median(beside) / median(alone)


def main():
    locked = load_locked(sys.argv[1])
    key = [random.Random(7).getrandbits(32) for _ in range(14)]
    print("cpu: %s; Python %s; %d cores" % (cpu_model(), platform.python_version(),
                                           len(__import__("os").sched_getaffinity(0))))
    print()
    print("| %-12s | %-7s | %-32s | %12s | %12s |" % ("call", "size", "measure", "vavirerezi",
                                                      "never lets go"))
    print("|--------------|---------|----------------------------------|--------------|"
          "--------------|")
    for name in ("mt_xor_bytes", "bf_process"):
        for size, count in ((1 << 16, 512), (1 << 20, 48), (16 << 20, 6)):
            row = []
            for module in (vavirerezi, locked):
                one, two = serial_vs_two_threads(calls_for(module, name, size, key), count)
                row.append("%.2fx" % (two / one))
            print("| %-12s | %-7s | %-32s | %12s | %12s |"
                  % (name, "%d KiB" % (size >> 10) if size < 1 << 20 else "%d MiB" % (size >> 20),
                     "2 threads / 1 thread, same work", row[0], row[1]))
            sys.stdout.flush()
        shares = ["%.0f%%" % (100 * spinner_share(calls_for(m, name, 16 << 20, key)))
                  for m in (vavirerezi, locked)]
        print("| %-12s | %-7s | %-32s | %12s | %12s |"
              % (name, "16 MiB", "spinning thread's speed beside", shares[0], shares[1]))
        for size in (64, 4096):
            calls = [calls_for(m, name, size, key) for m in (vavirerezi, locked)]
            times = [[], []]
            for r in range(15):
                for k in (r % 2, 1 - r % 2):
                    times[k].append(timeit.timeit(calls[k], number=2000) / 2000)
            print("| %-12s | %-7s | %-32s | %9.2f us | %9.2f us |"
                  % (name, "%d B" % size if size < 1024 else "%d KiB" % (size >> 10),
                     "one thread, median per call", median(times[0]) * 1e6,
                     median(times[1]) * 1e6))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
