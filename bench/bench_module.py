"""Interpreter-level benchmark: vavirerezi against vavirerezi_ref, the same
two calls written reference style (a generator word at a time, a cipher
block at a time), interleaved in one process. Prints median times per call
and the speed ratio; checks that both modules give the same bytes."""
import random
import sys
import timeit

import vavirerezi
import vavirerezi_ref

SIZES = [64, 4096, 65536, 1 << 20]
ROUNDS = 15


def label(n):
    if n >= 1 << 20:
        return "%d MiB" % (n >> 20)
    if n >= 1024:
        return "%d KiB" % (n >> 10)
    return "%d B" % n


def median(xs):
    xs = sorted(xs)
    return xs[len(xs) // 2]


def compare(name, size, calls):
    """calls: list of (contender, zero-argument callable), baseline first."""
    outputs = [f() for _, f in calls]
    assert all(o == outputs[0] for o in outputs), "%s: modules disagree" % name
    reps = []
    for _, f in calls:
        t = timeit.timeit(f, number=3) / 3
        reps.append(max(1, int(0.02 / max(t, 1e-9))))
    times = [[] for _ in calls]
    for r in range(ROUNDS):
        for k in range(len(calls)):
            i = (k + r) % len(calls)
            t = timeit.timeit(calls[i][1], number=reps[i])
            times[i].append(t / reps[i])
    base = median(times[0])
    for (who, _), t in zip(calls, times):
        m = median(t)
        print "| %-13s | %-7s | %-15s | %12.2f | %7.2fx |" % (name, label(size), who, m * 1e6, base / m)
    sys.stdout.flush()


rng = random.Random(1)
key = [rng.getrandbits(32) for _ in range(14)]
print "| %-13s | %-7s | %-15s | %12s | %8s |" % ("call", "size", "module", "median us", "ratio")
print "|---------------|---------|-----------------|--------------|----------|"
for size in SIZES:
    data = "".join(chr(rng.randrange(256)) for _ in xrange(size))
    compare("mt_xor_bytes", size, [
        ("reference", lambda: vavirerezi_ref.mt_xor_bytes(data, 1, 2, 3, 4)),
        ("vavirerezi", lambda: vavirerezi.mt_xor_bytes(data, 1, 2, 3, 4)),
    ])
    compare("bf_process", size, [
        ("reference", lambda: vavirerezi_ref.bf_process(data, key, 1)),
        ("vavirerezi", lambda: vavirerezi.bf_process(data, key, 1)),
    ])
