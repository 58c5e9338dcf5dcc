"""The vavirerezi command against the system's own tools, side by side.

  file to file  a SIZE file to a file beside it on the same disk: the command's
                mask, encrypt and decrypt against `dd bs=1M conv=fsync` of the
                same file (which, like the command, writes through the page
                cache and flushes to disk before it ends; cp and cat copy
                inside the kernel and flush nothing, so they are no baseline);
  pipes         cat F | vavirerezi mask ... | cat >/dev/null against
                cat F | cat | cat >/dev/null, the same number of stages;
  jobs          encrypt and mask of F (in the page cache) to a pipe, --jobs 1
                against --jobs 2, with the peak resident memory of each;
  skip          mask --skip to the last MiB of a sparse file of 100 GB against
                mask of a file of 1 MiB, each to a file: the seek makes them
                equal.
Every contender runs once a round, in turn, for ROUNDS rounds; the table has
each one's median, its throughput, its speed over the baseline and its peak
resident memory (GNU time's figure for the program run; none for a pipeline). Names the CPU and the file
system of DIR.

Usage: bench_cli.py [--dir DIR] [--size BYTES] [--rounds N] [--command CMD]
DIR defaults to /var/tmp, a disk file system here (not a tmpfs); CMD to this
interpreter running `python -m vavirerezi`.
"""
import argparse
import os
import shlex
import subprocess
import sys
import time

KEY = ",".join(str(i * 0x01020304) for i in range(1, 15))


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def file_system(path):
    """The type and device of the file system that holds `path`."""
    path = os.path.realpath(path)
    best = ("", "?", "?")
    with open("/proc/mounts") as f:
        for line in f:
            device, mount, kind = line.split()[:3]
            if (path == mount or path.startswith(mount.rstrip("/") + "/")) and len(mount) > len(best[0]):
                best = (mount, kind, device)
    return "%s on %s (mounted at %s)" % (best[1], best[2], best[0])


def timed(argv, shell=False):
    """Wall time of one run, and the peak resident memory in KiB of the
    program run (GNU time's figure; None for a shell pipeline)."""
    if not shell:
        argv = ["/usr/bin/time", "-f", "%M"] + argv
    t0 = time.monotonic()
    p = subprocess.run(argv, shell=shell, executable="/bin/bash" if shell else None,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.monotonic() - t0
    if p.returncode != 0:
        raise SystemExit("%s failed: %s" % (argv, p.stderr.decode(errors="replace")))
    return elapsed, None if shell else int(p.stderr.split()[-1])


def side_by_side(title, contenders, rounds, size, before=None):
    times = {name: [] for name, _ in contenders}
    peaks = {name: None for name, _ in contenders}
    for r in range(rounds):
        for k in range(len(contenders)):
            name, run = contenders[(k + r) % len(contenders)]
            if before:
                before()
            t, peak = run()
            times[name].append(t)
            if peak is not None:
                peaks[name] = max(peaks[name] or 0, peak)
    base = sorted(times[contenders[0][0]])[rounds // 2]
    print()
    print("%s (%s, median of %d rounds)" % (title, label(size), rounds))
    print("| %-52s | %8s | %8s | %8s | %12s |" % ("contender", "median s", "GB/s", "speed",
                                                  "peak RSS MiB"))
    print("|%s|----------|----------|----------|--------------|" % ("-" * 54))
    for name, _ in contenders:
        m = sorted(times[name])[rounds // 2]
        peak = "%.1f" % (peaks[name] / 1024.0) if peaks[name] is not None else "-"
        print("| %-52s | %8.2f | %8.2f | %7.2fx | %12s |"
              % (name, m, size / m / 1e9, base / m, peak))
    sys.stdout.flush()


def label(n):
    return "%d MiB" % (n >> 20) if n < 1 << 30 else "%g GiB" % (n / float(1 << 30))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dir", default="/var/tmp")
    parser.add_argument("--size", type=int, default=1 << 30)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--command", default=None)
    args = parser.parse_args()
    command = shlex.split(args.command) if args.command else [sys.executable, "-m",
                                                              "vavirerezi"]
    work = os.path.join(args.dir, "vavirerezi-bench-%d" % os.getpid())
    os.mkdir(work)
    source, target = os.path.join(work, "in.bin"), os.path.join(work, "out.bin")
    sparse, small = os.path.join(work, "sparse.bin"), os.path.join(work, "small.bin")
    try:
        with open(source, "wb") as f:
            for _ in range(args.size >> 20):
                f.write(os.urandom(1 << 20))
            f.write(os.urandom(args.size & ((1 << 20) - 1)))
            os.fsync(f.fileno())
        print("cpu: %s; file system: %s; Python %s" % (cpu_model(), file_system(work),
                                                     sys.version.split()[0]))

        def remove_target():
            if os.path.exists(target):
                os.unlink(target)
        side_by_side("file to file, flushed to disk", [
            ("dd bs=1M conv=fsync", lambda: timed(["dd", "if=" + source, "of=" + target,
                                                    "bs=1M", "conv=fsync", "status=none"])),
            ("vavirerezi mask", lambda: timed(command + ["mask", "--quiet", "1", "2", "3", "4",
                                                         source, target])),
            ("vavirerezi encrypt", lambda: timed(command + ["encrypt", "--quiet", "--key", KEY,
                                                            source, target])),
            ("vavirerezi decrypt", lambda: timed(command + ["decrypt", "--quiet", "--key", KEY,
                                                            source, target])),
        ], args.rounds, args.size, before=remove_target)
        quoted = " ".join(shlex.quote(c) for c in command)
        side_by_side("standard input to standard output, through pipes", [
            ("cat F | cat | cat >/dev/null",
             lambda: timed("cat %s | cat | cat >/dev/null" % shlex.quote(source), shell=True)),
            ("cat F | vavirerezi mask ... | cat >/dev/null",
             lambda: timed("cat %s | %s mask 1 2 3 4 | cat >/dev/null"
                           % (shlex.quote(source), quoted), shell=True)),
            ("cat F | vavirerezi encrypt ... | cat >/dev/null",
             lambda: timed("cat %s | %s encrypt --key %s | cat >/dev/null"
                           % (shlex.quote(source), quoted, KEY), shell=True)),
        ], args.rounds, args.size)
        for command_name, secret in (("encrypt", ["--key", KEY]), ("mask", ["1", "2", "3", "4"])):
            side_by_side("%s from the page cache to a pipe, --jobs 1 and 2" % command_name, [
                ("%s --jobs %d | cat >/dev/null" % (command_name, jobs),
                 lambda jobs=jobs: timed("%s %s --jobs %d %s %s | cat >/dev/null" % (
                     quoted, command_name, jobs, " ".join(secret), shlex.quote(source)),
                     shell=True))
                for jobs in (1, 2)], args.rounds, args.size)
            for jobs in (1, 2):
                _, peak = timed(command + [command_name, "--jobs", str(jobs)] + secret +
                                [source, target])
                print("peak resident memory, %s --jobs %d (file to file): %.1f MiB"
                      % (command_name, jobs, peak / 1024.0))
        with open(sparse, "wb") as f:
            f.truncate(100 * 10 ** 9)
        with open(small, "wb") as f:
            f.write(os.urandom(1 << 20))
        side_by_side("the last MiB of 100 GB by --skip, against a 1 MiB file", [
            ("mask of a 1 MiB file", lambda: timed(command + ["mask", "--quiet", "1", "2", "3",
                                                              "4", small, target])),
            ("mask --skip to the last MiB of 100 GB (sparse)", lambda: timed(
                command + ["mask", "--quiet", "--skip", str(100 * 10 ** 9 - (1 << 20)), "1", "2",
                           "3", "4", sparse, target])),
        ], args.rounds, 1 << 20)
    finally:
        for path in (source, target, sparse, small):
            if os.path.exists(path):
                os.unlink(path)
        os.rmdir(work)


if __name__ == "__main__":
    main()
