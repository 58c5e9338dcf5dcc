"""Unmasks (--seeds, --offset) or deciphers (--key) a file in byte ranges
across a Dask cluster: each task opens the input with vavirerezi.open, seeks
to its range, and writes that range of the output in place (os.pwrite into
an output file made at full size beforehand). The output equals one
mt_xor_bytes(whole, s0, s1, s2, offset) or bf_process(whole, key, 0) over
the whole input.

    python3 dask_unmask.py IN OUT --seeds S0,S1,S2 [--offset N] [--workers 2]
    python3 dask_unmask.py IN OUT --key K0,...,K13 --scheduler tcp://host:8786

Without --scheduler it starts a LocalCluster of --workers processes; with
it, it uses that cluster, whose workers must see IN and OUT at the same
paths (shared storage) and have vavirerezi installed.
"""
import argparse
import os
import sys
import time

import vavirerezi

PIECE = 1 << 20


def unmask_range(src, dst, start, stop, seeds, offset, key):
    """Writes bytes start..stop of the plain file into dst; runs on a worker."""
    if key is not None:
        f = vavirerezi.open(src, "rb", key=key)
    else:
        f = vavirerezi.open(src, "rb", seeds=seeds, offset=offset)
    fd = os.open(dst, os.O_WRONLY)
    try:
        with f:
            f.seek(start)
            buf = bytearray(min(PIECE, max(stop - start, 1)))
            at = start
            while at < stop:
                view = memoryview(buf)[:min(len(buf), stop - at)]
                n = f.readinto(view)
                if not n:
                    break
                written = 0
                while written < n:
                    written += os.pwrite(fd, view[written:n], at + written)
                at += n
    finally:
        os.close(fd)
    return at - start


def unmask(client, src, dst, seeds=None, offset=0, key=None, range_size=64 << 20, timeout=None):
    """Splits src into ranges and runs one task a range on the client's cluster."""
    import distributed
    size = os.path.getsize(src)
    with open(dst, "wb") as out:
        out.truncate(size)
    futures = [client.submit(unmask_range, src, dst, start, min(start + range_size, size),
                             seeds, offset, key, pure=False)
               for start in range(0, size, range_size)]
    distributed.wait(futures, timeout=timeout)
    done = sum(client.gather(futures))
    if done != size:
        raise RuntimeError("wrote %d bytes of %d" % (done, size))
    return size


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input")
    parser.add_argument("output")
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--seeds", help="seed0,seed1,seed2")
    group.add_argument("--key", help="the 14 words of vals14, comma-separated")
    parser.add_argument("--offset", type=int, default=0)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--range", type=int, default=64 << 20, help="bytes a task")
    parser.add_argument("--scheduler", help="address of a running scheduler")
    parser.add_argument("--timeout", type=float, default=240)
    args = parser.parse_args(argv)
    seeds = tuple(int(s, 0) for s in args.seeds.split(",")) if args.seeds else None
    key = [int(k, 0) for k in args.key.split(",")] if args.key else None

    import distributed
    if args.scheduler:
        cluster = None
        client = distributed.Client(args.scheduler, timeout=args.timeout)
    else:
        cluster = distributed.LocalCluster(n_workers=args.workers, threads_per_worker=1,
                                           processes=True, dashboard_address=None)
        client = distributed.Client(cluster, timeout=args.timeout)
    try:
        t = time.perf_counter()
        size = unmask(client, args.input, args.output, seeds, args.offset, key,
                      args.range, args.timeout)
        t = time.perf_counter() - t
        print("%d bytes in %.2f s on %d workers" % (
            size, t, len(client.scheduler_info()["workers"])), file=sys.stderr)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    main()
