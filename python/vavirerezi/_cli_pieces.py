"""The loop over pieces: a stream read, transformed on one thread or
several and written in order by a writer thread, or a file transformed
where it lies."""
import fcntl
import io
import os
import queue
import select
import stat
import threading

import vavirerezi

from ._cli_messages import Failure
from ._cli_outputs import open_file, signals_held

DEFAULT_CHUNK = 1 << 20
# The buffers of the pieces in flight, whatever --jobs: no more than this
# (unless --chunk-size asks for more, in which case three buffers).
BUFFER_BUDGET = 32 << 20


class KeyStream(object):
    """The key stream of mt_xor_bytes under the given seeds and offset, XORed
    into pieces at any byte position of the result."""

    unit = 1

    def __init__(self, seeds):
        self.seeds = seeds

    def applier(self):
        """A transform for one thread, (piece, position) -> None, in place:
        its own MtKeyStream, moved to each piece's position."""
        keys = vavirerezi.MtKeyStream(*self.seeds)

        def apply(piece, position):
            if position != keys.position:
                keys.seek(position)  # steps a short way ahead, else one jump
            keys.xor(piece, output=piece)
        return apply


class Blocks(object):
    """Blowfish in ECB mode (a BfCipher's encrypt or decrypt): each 8-byte
    block on its own, wherever it lies, a final partial one zero-filled as
    one call does it."""

    unit = 8

    def __init__(self, method):
        self.method = method

    def applier(self):
        method = self.method

        def apply(piece, position):
            method(piece, output=piece)
        return apply


class Piece(object):
    """n bytes of the result from `position` on, transformed in `buffer`;
    `done` is set once they are (None: transformed before they were
    handed over)."""

    __slots__ = ("buffer", "n", "position", "done", "error")

    def __init__(self, buffer, n, position):
        self.buffer, self.n, self.position = buffer, n, position
        self.done = self.error = None


class Writer(threading.Thread):
    """Writes the pieces in order, each once transformed, while the next ones
    are read and transformed, and gives their buffers back (free). Into a
    regular file, each piece written is handed to the disk at once (its
    write-back started), so that the disk works while the rest is read and
    transformed, not only in the final flush, and the pages it leaves in
    the cache stay few. After an error, it writes nothing more (the error
    is raised by the reading side) but still gives the buffers back."""

    def __init__(self, fd):
        threading.Thread.__init__(self, daemon=True)
        self.fd = fd
        self.free = queue.Queue()
        self.order = queue.Queue()
        self.error = None
        self.regular = stat.S_ISREG(os.fstat(fd).st_mode)
        self.written = 0

    def run(self):
        while True:
            piece = self.order.get()
            if piece is None:
                return
            if piece.done is not None:
                piece.done.wait()
            if self.error is None and piece.error is not None:
                self.error = piece.error
            if self.error is None:
                try:
                    view = piece.buffer[:piece.n]
                    while view:
                        try:
                            view = view[os.write(self.fd, view):]
                        except BlockingIOError:  # a descriptor left non-blocking
                            select.select([], [self.fd], [])
                    if self.regular:
                        os.posix_fadvise(self.fd, self.written, piece.n,
                                         os.POSIX_FADV_DONTNEED)
                    self.written += piece.n
                except OSError as e:
                    self.error = e
            self.free.put(piece.buffer)


class Worker(threading.Thread):
    """Transforms pieces as they come, each where it lies in its buffer."""

    def __init__(self, transform, work):
        threading.Thread.__init__(self, daemon=True)
        self.apply = transform.applier()
        self.work = work

    def run(self):
        while True:
            piece = self.work.get()
            if piece is None:
                return
            try:
                self.apply(piece.buffer[:piece.n], piece.position)
            except BaseException as e:  # raised on the main thread
                piece.error = e
            piece.done.set()


class Pieces(object):
    """The pieces in flight: buffers to read into (no more than `slots`,
    each made when first needed), transformed on this thread (jobs 1) or
    by `jobs` workers, and written in order by a writer."""

    def __init__(self, transform, dst, jobs, slots):
        self.slots, self.made = slots, 0
        self.work = queue.Queue()
        self.writer = Writer(dst)
        self.workers = [Worker(transform, self.work) for _ in range(jobs)] if jobs > 1 else []
        started = []
        try:
            with signals_held():  # these threads never take them
                for thread in [self.writer] + self.workers:
                    thread.start()
                    started.append(thread)
        except RuntimeError as e:  # no memory or no process left for a thread
            for thread in started:
                (self.writer.order if thread is self.writer else self.work).put(None)
            raise Failure("cannot start the threads that transform and write the pieces (%s)"
                          % e)
        self.apply = transform.applier() if jobs == 1 else None

    def buffer(self, size):
        """A buffer of at least `size` bytes, once one is free; raises what
        writing (or a worker) raised."""
        if self.made < self.slots:
            self.made += 1
            buffer = None
        else:
            buffer = self.writer.free.get()
        if self.writer.error is not None:
            raise self.writer.error
        if buffer is None or len(buffer) < size:
            buffer = None  # an old one, made before the pieces grew
            buffer = memoryview(bytearray(size))
        return buffer

    def put(self, buffer, n, position):
        """Hands over the first n bytes of `buffer`, from `position` of the
        result, to be transformed and written."""
        piece = Piece(buffer, n, position)
        if self.apply is not None:
            self.apply(buffer[:n], position)
        else:
            piece.done = threading.Event()
            self.work.put(piece)
        self.writer.order.put(piece)

    def close(self):
        """Waits until every piece is written; raises what writing raised."""
        for _ in self.workers:
            self.work.put(None)
        self.writer.order.put(None)
        self.writer.join()
        if self.writer.error is not None:
            raise self.writer.error


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


def read_into(reader, src, view, src_name):
    """Reads what comes into `view`: the bytes read, 0 at the end."""
    while True:
        try:
            n = reader.readinto(view)
        except OSError as e:
            raise Failure("cannot read %s: %s" % (src_name, e.strerror))
        if n is not None:
            return n
        select.select([src], [], [])  # a descriptor left non-blocking, with nothing yet


def readable_now(src):
    """Whether `src` (a pipe, a socket, a terminal) has bytes to read at once."""
    try:
        return bool(select.select([src], [], [], 0)[0])
    except (OSError, ValueError):
        return False


def pass_over(reader, src, skip, regular, src_name):
    """Moves the input on by `skip` bytes: a regular file by seeking (from
    where it stands, as dd does), anything else by reading them."""
    if not skip:
        return
    if regular:
        try:
            os.lseek(src, skip, os.SEEK_CUR)
            return
        except OSError:
            pass  # read through it below
    scratch = memoryview(bytearray(min(skip, DEFAULT_CHUNK)))
    while skip:
        n = read_into(reader, src, scratch[:min(skip, len(scratch))], src_name)
        if not n:
            return
        skip -= n


def stream(transform, src, dst, chunk, progress, src_name, jobs=1, skip=0, count=None):
    """Reads `src` with readinto into buffers, hands each piece read to be
    transformed where it lies (on this thread, or on `jobs` threads side by
    side) and written to `dst` in order. The result is bytes `skip` to
    `skip + count` of what one call over the whole input gives. Blowfish's
    pieces are whole blocks but for the input's last bytes. The buffers
    begin no larger than the default piece and grow, up to `chunk`, only
    while reads fill them, so that memory follows what the input gives, not
    the chunk size asked for. Returns the bytes done and how many of them
    were a final partial block."""
    unit = transform.unit
    st = os.fstat(src)
    regular = stat.S_ISREG(st.st_mode)
    reader = io.FileIO(src, "rb", closefd=False)
    for fd in (src, dst):
        widen_pipe(fd)
    pass_over(reader, src, skip, regular, src_name)
    if regular:  # no larger than what is left of the file
        left = max(0, st.st_size - os.lseek(src, 0, os.SEEK_CUR))
        chunk = max(1, min(chunk, left if count is None else min(left, count)))
        os.posix_fadvise(src, 0, 0, os.POSIX_FADV_SEQUENTIAL)
    elif count is not None:
        chunk = max(1, min(chunk, count))
    limit = -(-chunk // unit) * unit
    size = min(limit, DEFAULT_CHUNK)
    slots = max(3, min(jobs + 2, BUFFER_BUDGET // limit))
    pieces = Pieces(transform, dst, max(1, min(jobs, slots - 2)), slots)
    data = pieces.buffer(size)
    wanted = count
    done = have = 0
    position = skip
    while True:
        room = size - have if wanted is None else min(size - have, wanted)
        n = read_into(reader, src, data[have:have + room], src_name) if room else 0
        if wanted is not None:
            wanted -= n
        filled = n and have + n == size
        have += n
        if n and not filled and not regular and room > n and readable_now(src):
            continue  # more has come meanwhile: one piece of it all, fewer handovers
        whole = have - have % unit if n else have  # at the end, what is left
        if filled and size < limit:
            size = min(limit, 2 * size)
        if whole:
            pieces.put(data, whole, position)
            position += whole
            done += whole
            rest = data[whole:have]
            data = pieces.buffer(size)
            have -= whole
            data[:have] = rest
            del rest
            progress.update(done)
        elif filled:  # grown, with less than a block in it
            grown = memoryview(bytearray(size))
            grown[:have] = data[:have]
            data = grown
        if not n:
            pieces.close()
            return done, whole % unit


def in_place(transform, path, chunk, progress):
    """Transforms the file at `path` where it lies, a piece at a time: read
    (preadv), transformed in its buffer (output=) and written back (pwrite).
    Reads and writes, not a mapping, so that a file truncated by another
    process ends the run with an error, never a SIGBUS. Returns the bytes
    done and the size of a final partial block."""
    unit = transform.unit
    apply = transform.applier()
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
            apply(piece, done)
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
