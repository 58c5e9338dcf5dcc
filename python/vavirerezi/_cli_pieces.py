"""The loop over pieces: a stream read, transformed and written by a writer
thread in order, or a file transformed where it lies."""
import fcntl
import io
import os
import queue
import select
import stat
import threading

from ._cli_arguments import DEFAULT_CHUNK
from ._cli_messages import Failure
from ._cli_outputs import open_file, signals_held


class Writer(threading.Thread):
    """Writes the transformed pieces in order while the next one is read and
    transformed: two output buffers, one filled while the other is written.
    Into a regular file, each piece written is handed to the disk at once
    (its write-back started), so that the disk works while the rest is read
    and transformed, not only in the final flush, and the pages it leaves in
    the cache stay few."""

    def __init__(self, fd, size):
        threading.Thread.__init__(self, daemon=True)
        self.fd = fd
        self.free = queue.Queue()
        self.work = queue.Queue()
        for _ in range(2):
            self.free.put(bytearray(size))
        self.error = None
        self.regular = stat.S_ISREG(os.fstat(fd).st_mode)
        self.written = 0

    def run(self):
        while True:
            item = self.work.get()
            if item is None:
                return
            buffer, n = item
            if self.error is None:
                try:
                    view = memoryview(buffer)[:n]
                    while view:
                        try:
                            view = view[os.write(self.fd, view):]
                        except BlockingIOError:  # a descriptor left non-blocking
                            select.select([], [self.fd], [])
                    if self.regular:
                        os.posix_fadvise(self.fd, self.written, n, os.POSIX_FADV_DONTNEED)
                    self.written += n
                except OSError as e:
                    self.error = e
            self.free.put(buffer)

    def buffer(self):
        """A free output buffer, once one is written; raises what writing raised."""
        buffer = self.free.get()
        if self.error is not None:
            raise self.error
        return buffer

    def close(self):
        """Waits until every piece is written; raises what writing raised."""
        self.work.put(None)
        self.join()
        if self.error is not None:
            raise self.error


# Pipes of this size (Linux's default limit for a user) let a piece be
# larger than the default 64 KiB, so that each system call carries more.
PIPE_SIZE = 1 << 20
F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)


def widen_pipe(fd):
    if stat.S_ISFIFO(os.fstat(fd).st_mode):
        try:
            fcntl.fcntl(fd, F_SETPIPE_SZ, PIPE_SIZE)
        except OSError:
            pass  # not allowed, or not Linux: the pipe works as it is


def stream(transform, blocks, src, dst, chunk, progress, src_name):
    """Reads `src` with readinto into one reused buffer and writes each piece,
    transformed into an output buffer (output=), to `dst`. Blowfish's pieces
    are whole blocks but for the input's last bytes. The buffers begin no
    larger than the default piece and grow, up to `chunk`, only while reads
    fill them, so that memory follows what the input gives, not the chunk
    size asked for. Returns the bytes done and how many of them were a final
    partial block."""
    unit = 8 if blocks else 1
    st = os.fstat(src)
    if stat.S_ISREG(st.st_mode):  # no larger than the file
        chunk = max(1, min(chunk, st.st_size))
    limit = -(-chunk // unit) * unit
    size = min(limit, DEFAULT_CHUNK)
    data = memoryview(bytearray(size))
    reader = io.FileIO(src, "rb", closefd=False)
    for fd in (src, dst):
        widen_pipe(fd)
    if stat.S_ISREG(st.st_mode):
        os.posix_fadvise(src, 0, 0, os.POSIX_FADV_SEQUENTIAL)
    with signals_held():  # the writer's thread never takes them
        writer = Writer(dst, size)
        writer.start()
    done = have = 0
    while True:
        try:
            n = reader.readinto(data[have:])
        except OSError as e:
            raise Failure("cannot read %s: %s" % (src_name, e.strerror))
        if n is None:  # a descriptor left non-blocking, with nothing yet
            select.select([src], [], [])
            continue
        filled = n and have + n == size
        have += n
        whole = have - have % unit if n else have  # at the end, what is left
        if whole:
            out = writer.buffer()
            if len(out) < whole:  # one made before the input buffer grew
                out = bytearray(size)
            transform(data[:whole], output=memoryview(out)[:whole])
            writer.work.put((out, whole))
            done += whole
            data[:have - whole] = data[whole:have]
            have -= whole
            progress.update(done)
        if filled and size < limit:
            size = min(limit, 2 * size)
            grown = memoryview(bytearray(size))
            grown[:have] = data[:have]
            data = grown
        if not n:
            writer.close()
            return done, whole % unit


def in_place(transform, blocks, path, chunk, progress):
    """Transforms the file at `path` where it lies, a piece at a time: read
    (preadv), transformed in its buffer (output=) and written back (pwrite).
    Reads and writes, not a mapping, so that a file truncated by another
    process ends the run with an error, never a SIGBUS. Returns the bytes
    done and the size of a final partial block."""
    unit = 8 if blocks else 1
    fd = open_file(path, os.O_RDWR)
    try:
        size = os.fstat(fd).st_size
        window = -(-max(1, min(chunk, size)) // unit) * unit
        data = memoryview(bytearray(window))
        done = 0
        while done < size:
            n = min(window, size - done)
            piece = data[:n]
            have = 0
            while have < n:
                got = read_at(fd, piece[have:], done + have)
                if not got:
                    raise ChangedSize()
                have += got
            transform(piece, output=piece)
            # Not written back past the end of a file that another process
            # has truncated meanwhile, which would give it a hole.
            if os.fstat(fd).st_size < done + n:
                raise ChangedSize()
            while piece:
                piece = piece[os.pwrite(fd, piece, done + n - len(piece)):]
            done += n
            progress.update(done)
        if os.fstat(fd).st_size != size:
            raise ChangedSize()
        os.fsync(fd)
    finally:
        os.close(fd)
    return size, size % unit


def read_at(fd, buffer, offset):
    """Reads into `buffer` from `offset` of `fd`; returns the bytes read."""
    if hasattr(os, "preadv"):
        return os.preadv(fd, [buffer], offset)
    got = os.pread(fd, len(buffer), offset)  # PyPy has no preadv
    buffer[:len(got)] = got
    return len(got)


class ChangedSize(Exception):
    """The file transformed in place changed size under the run."""
