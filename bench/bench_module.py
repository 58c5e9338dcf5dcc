"""Interpreter-level benchmark, under Python 2.7 or Python 3.

For each call and size, three contenders run interleaved in one process:
  reference  the same job written reference style (a generator word at a
             time, a cipher block at a time), through ctypes, with its own
             output buffer copied into a new byte string, as a module would;
  core       this project's cores alone, through ctypes, into a buffer
             allocated once: what the call costs without the interpreter;
  vavirerezi the module, returning a new byte string;
  output=    (Python 3) the module writing into one buffer, reused;
in two patterns: the same call repeated, and calls interleaved with other
allocations of the data's size (a few kept alive, as a program's would be).
Then, under Python 3, the objects against the functions on the jobs they are
for, side by side: 4 KiB records through one BfCipher, 64-byte pieces
through one MtKeyStream, and 16 MiB in 64 KiB pieces through one
MtKeyStream against one mt_xor_bytes over the whole.
Prints median times per call, the speed over the reference, the core's share
of the module call, and minor page faults per call (getrusage); in the
interleaved pattern, net of the other allocations, which run alone as well. Checks that
all contenders give the same bytes. Last, under Python 3, the peak memory
of transforming a 256 MiB bytearray, returned and in place (output=), each
in a fresh process.

Usage: bench_module.py LIBRARY [sizes...]; LIBRARY is bench/libvavirerezi_bench.so.
"""
from __future__ import print_function

import ctypes
import os
import platform
import random
import resource
import struct
import sys
import timeit

import vavirerezi

PY3 = sys.version_info[0] >= 3
ROUNDS = 9
SAMPLE = 0.02  # seconds a round, at least one call


def label(n):
    if n >= 1 << 20:
        return "%d MiB" % (n >> 20)
    if n >= 1024:
        return "%d KiB" % (n >> 10)
    return "%d B" % n


def median(xs):
    xs = sorted(xs)
    return xs[len(xs) // 2]


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except IOError:
        pass
    return platform.processor() or "unknown"


def load(path):
    lib = ctypes.CDLL(path)
    u32, size, buf = ctypes.c_uint32, ctypes.c_size_t, ctypes.c_char_p
    for name in ("ref_mt_xor_bytes", "core_mt_xor_bytes"):
        getattr(lib, name).argtypes = [buf, size, u32, u32, u32, u32, ctypes.c_void_p]
    for name in ("ref_bf_process", "core_bf_process"):
        getattr(lib, name).argtypes = [buf, size, buf, ctypes.c_int, ctypes.c_void_p]
    return lib


def run_pattern(f, pattern, size, calls):
    """Runs f `calls` times; in the interleaved pattern, each call is
    followed by an allocation of `size` bytes, the last three kept."""
    if pattern == "repeated":
        for _ in range(calls):
            f()
    else:
        keep = [None, None, None]
        for i in range(calls):
            f()
            keep[i % 3] = bytearray(size)


def compare(name, size, pattern, contenders):
    """contenders: (who, zero-argument callable): the reference, the core, the
    module."""
    reps = []
    for _, f in contenders:
        t = timeit.timeit(f, number=2) / 2
        reps.append(max(1, int(SAMPLE / max(t, 1e-9))))
    # The interleaved pattern's own allocations, run alone, are subtracted
    # from every contender's time and faults: the last entry.
    runs = list(contenders) + ([("allocations", lambda: None)] if pattern != "repeated" else [])
    reps.append(max(reps))
    times = [[] for _ in runs]
    faults = [0 for _ in runs]
    calls = [0 for _ in runs]
    for r in range(ROUNDS):
        for k in range(len(runs)):
            i = (k + r) % len(runs)
            f0 = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
            t0 = timeit.default_timer()
            run_pattern(runs[i][1], pattern, size, reps[i])
            times[i].append((timeit.default_timer() - t0) / reps[i])
            faults[i] += resource.getrusage(resource.RUSAGE_SELF).ru_minflt - f0
            calls[i] += reps[i]
    if pattern != "repeated":
        alone_time, alone_faults = median(times[-1]), float(faults[-1]) / calls[-1]
        for i in range(len(contenders)):
            times[i] = [t - alone_time for t in times[i]]
            faults[i] -= alone_faults * calls[i]
    base = median(times[0])
    core = median(times[1])
    for (who, _), t, nf, nc in zip(contenders, times, faults, calls):
        m = median(t)
        share = "%5.0f%%" % (100.0 * core / m) if who in ("vavirerezi", "output=") else "     "
        print("| %-12s | %-7s | %-11s | %-10s | %12.2f | %8.2fx | %s | %10.1f | %6.2f%% |"
              % (name, label(size), pattern, who, m * 1e6, base / m, share,
                 max(0.0, float(nf) / nc), max(0.0, 100.0 * nf / nc / max(1, size // 4096))))
    sys.stdout.flush()


def main():
    lib = load(sys.argv[1])
    sizes = [int(s) for s in sys.argv[2:]] or [64, 4096, 1 << 16, 1 << 20, 16 << 20]
    rng = random.Random(1)
    key = [rng.getrandbits(32) for _ in range(14)]
    key_bytes = struct.pack("<14I", *key)
    seeds = (0x01234567, 0x89abcdef, 0xdeadbeef, 5)
    print("cpu: %s; Python %s" % (cpu_model(), platform.python_version()))
    print("time: median per call; speed: over the reference; core: the cores' share of the "
          "module call; faults: minor page faults per call, and as a share of the data's pages")
    print()
    print("| %-12s | %-7s | %-11s | %-10s | %12s | %9s | %5s | %10s | %7s |"
          % ("call", "size", "pattern", "contender", "median us", "speed", "core", "faults",
             "pages"))
    print("|--------------|---------|-------------|------------|--------------|-----------|"
          "-------|------------|---------|")
    for size in sizes:
        data = bytes(bytearray(rng.getrandbits(8) for _ in range(min(size, 1 << 16))))
        data = (data * (size // len(data) + 1))[:size]
        core_out = ctypes.create_string_buffer(max(size, 1))

        def ref_mt():
            out = ctypes.create_string_buffer(max(size, 1))
            lib.ref_mt_xor_bytes(data, size, seeds[0], seeds[1], seeds[2], seeds[3], out)
            return out.raw[:size]

        def core_mt():
            lib.core_mt_xor_bytes(data, size, seeds[0], seeds[1], seeds[2], seeds[3], core_out)

        def ref_bf():
            out = ctypes.create_string_buffer(max(size, 1))
            lib.ref_bf_process(data, size, key_bytes, 1, out)
            return out.raw[:size]

        def core_bf():
            lib.core_bf_process(data, size, key_bytes, 1, core_out)

        module_mt = lambda: vavirerezi.mt_xor_bytes(data, *seeds)  # noqa: E731
        module_bf = lambda: vavirerezi.bf_process(data, key, 1)  # noqa: E731
        into = bytearray(size)
        into_mt = lambda: vavirerezi.mt_xor_bytes(data, *seeds, output=into)  # noqa: E731
        into_bf = lambda: vavirerezi.bf_process(data, key, 1, output=into)  # noqa: E731
        for ref, core, module, module_into in ((ref_mt, core_mt, module_mt, into_mt),
                                               (ref_bf, core_bf, module_bf, into_bf)):
            want = ref()
            core()
            assert core_out.raw[:size] == want and module() == want, "disagreement at %d" % size
            if PY3:
                module_into()
                assert into == want, "output= disagrees at %d" % size
        for pattern in ("repeated", "interleaved"):
            for name, ref, core, module, module_into in (
                    ("mt_xor_bytes", ref_mt, core_mt, module_mt, into_mt),
                    ("bf_process", ref_bf, core_bf, module_bf, into_bf)):
                compare(name, size, pattern, [("reference", ref), ("core", core),
                                              ("vavirerezi", module)]
                        + ([("output=", module_into)] if PY3 else []))
    if PY3:
        objects(rng, key, seeds)
        seeking(seeds)
        peak_memory()


def side_by_side(job, contenders):
    """Times the contenders interleaved, round after round; prints each one's
    median per call and its speed over the first."""
    reps = [max(1, int(SAMPLE / max(timeit.timeit(f, number=3) / 3, 1e-9))) for _, f in contenders]
    times = [[] for _ in contenders]
    for r in range(ROUNDS):
        for k in range(len(contenders)):
            i = (k + r) % len(contenders)
            t0 = timeit.default_timer()
            for _ in range(reps[i]):
                contenders[i][1]()
            times[i].append((timeit.default_timer() - t0) / reps[i])
    base = median(times[0])
    for (who, _), t in zip(contenders, times):
        print("| %-40s | %-46s | %12.2f | %8.2fx |" % (job, who, median(t) * 1e6, base / median(t)))
    sys.stdout.flush()


def objects(rng, key, seeds):
    """The objects on the jobs they are for, against the functions doing the
    same job a call at a time."""
    print()
    print("| %-40s | %-46s | %12s | %9s |" % ("job", "contender", "median us", "speed"))
    print("|%s|%s|--------------|-----------|" % ("-" * 42, "-" * 48))
    record = bytes(bytearray(rng.getrandbits(8) for _ in range(4096)))
    out = bytearray(4096)
    cipher = vavirerezi.BfCipher(key)
    assert cipher.decrypt(record) == vavirerezi.bf_process(record, key, 0)
    side_by_side("4 KiB record, deciphered into a buffer", [
        ("bf_process(record, key, 0, output=buf)",
         lambda: vavirerezi.bf_process(record, key, 0, output=out)),
        ("BfCipher.decrypt(record, output=buf)", lambda: cipher.decrypt(record, output=out))])
    piece, piece_out = record[:64], bytearray(64)
    stream = vavirerezi.MtKeyStream(*seeds)
    side_by_side("64-byte piece, masked", [
        ("mt_xor_bytes(piece, ...)", lambda: vavirerezi.mt_xor_bytes(piece, *seeds)),
        ("MtKeyStream.xor(piece)", lambda: stream.xor(piece)),
        ("MtKeyStream.xor(piece, output=buf)", lambda: stream.xor(piece, output=piece_out))])
    n, step = 16 << 20, 64 << 10
    data = (record * (n // len(record)))[:n]
    whole_out = bytearray(n)
    view, out_view = memoryview(data), memoryview(whole_out)

    def in_pieces():
        s = vavirerezi.MtKeyStream(*seeds)
        for i in range(0, n, step):
            s.xor(view[i:i + step], output=out_view[i:i + step])
    in_pieces()
    assert whole_out == vavirerezi.mt_xor_bytes(data, *seeds)
    side_by_side("16 MiB masked into a buffer", [
        ("mt_xor_bytes(data, ..., output=buf), one call",
         lambda: vavirerezi.mt_xor_bytes(data, *seeds, output=whole_out)),
        ("MtKeyStream.xor in 64 KiB pieces", in_pieces)])


def seeking(seeds):
    """Reading 1,000 bytes from far into a key stream: a seek (one jump of the
    generator) against stepping there, as skip() did before it jumped (here
    seeks of 4 MiB ahead, each of which steps), and numpy's fixed jump of
    2**128 outputs where numpy is installed; then seeks alone at positions
    from 2**20 bytes to the last."""
    print()
    print("| %-40s | %-46s | %12s | %9s |" % ("job", "contender", "median us", "speed"))
    print("|%s|%s|--------------|-----------|" % ("-" * 42, "-" * 48))
    far, step = 2500000000, 4 << 20

    def stepped():
        s = vavirerezi.MtKeyStream(*seeds)
        for p in range(step, far, step):
            s.seek(p)
        s.seek(far)
        return s.xor(bytes(1000))

    def jumped():
        s = vavirerezi.MtKeyStream(*seeds)
        s.seek(far)
        return s.xor(bytes(1000))
    assert stepped() == jumped()
    contenders = [("stepping there (seeks of 4 MiB ahead)", stepped),
                  ("MtKeyStream.seek(position), then xor", jumped)]
    try:
        import numpy.random
        generator = numpy.random.MT19937(1)
        contenders.append(("numpy MT19937.jumped() (2**128 outputs)", generator.jumped))
    except ImportError:
        pass
    side_by_side("1,000 bytes at byte 2.5e9", contenders)
    stream = vavirerezi.MtKeyStream(*seeds)
    for position in [2 ** 20, 2 ** 30, 2 ** 35, 2 ** 50, 2 ** 64 - 1]:
        side_by_side("seek to byte 2**%d%s" % (position.bit_length() - (position & 1 == 0),
                                               " - 1" if position & 1 else ""),
                     [("MtKeyStream.seek, from position 0",
                       lambda: (stream.seek(0), stream.seek(position)))])


PEAK = """
import resource, sys
sys.path.insert(0, {path!r})
import vavirerezi
data = bytearray(256 << 20)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
if sys.argv[1] == "returned":
    result = vavirerezi.{call}
else:
    vavirerezi.{call_into}
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print((after - before) // 1024)
"""


def peak_memory():
    """Peak memory a call adds on top of its 256 MiB data, in a fresh process
    each (ru_maxrss is the process's peak)."""
    import subprocess
    calls = [("mt_xor_bytes", "mt_xor_bytes(data, 1, 2, 3, 4)",
              "mt_xor_bytes(data, 1, 2, 3, 4, output=data)"),
             ("bf_process", "bf_process(data, list(range(14)), 1)",
              "bf_process(data, list(range(14)), 1, output=data)")]
    print()
    print("| %-12s | %-22s | %-21s |" % ("call, 256 MiB", "returned: peak +MiB", "output= in place: +MiB"))
    print("|---------------|------------------------|------------------------|")
    for name, call, call_into in calls:
        code = PEAK.format(call=call, call_into=call_into,
                           path=os.path.dirname(vavirerezi.__file__))
        got = [subprocess.check_output([sys.executable, "-c", code, how]).decode().strip()
               for how in ("returned", "in place")]
        print("| %-13s | %22s | %22s |" % (name, got[0], got[1]))


if __name__ == "__main__":
    main()
