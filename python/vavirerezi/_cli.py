"""The vavirerezi command: mask, encrypt and decrypt files and pipes.

    vavirerezi mask [OPTIONS] SEED0 SEED1 SEED2 OFFSET [INPUT [OUTPUT]]
    vavirerezi encrypt [OPTIONS] (--key KEY | --key-file FILE) [INPUT [OUTPUT]]
    vavirerezi decrypt [OPTIONS] (--key KEY | --key-file FILE) [INPUT [OUTPUT]]

Each gives exactly what one call of the module over the whole input gives
(mt_xor_bytes, or bf_process with encrypt 1 or 0), in pieces through one
MtKeyStream or BfCipher, so memory stays flat whatever the input's size.
INPUT and OUTPUT default to "-", standard input and output. A named OUTPUT
that is a regular file (or does not exist yet) is written to a temporary
file beside it, flushed to disk and renamed over the name only once all of
it is there; any other OUTPUT (a device, a FIFO, a terminal) is written
directly. Exit status: 0 done, 1 an error (one line on stderr), 2 a usage
error, 130 interrupted (Ctrl-C), 141 standard output closed early.

Also runnable as `python -m vavirerezi`. Python 3 only.
"""
import argparse
import signal
import sys
import contextlib
import fcntl
import io
import os
import queue
import re
import select
import stat
import tempfile
import threading
import time

import vavirerezi

PROGRAM = "vavirerezi"
DEFAULT_CHUNK = 1 << 20
MAX_CHUNK = 1 << 30
KEY_FILE_MAX = 4096  # 14 items of 20 digits and their spacing, with room to spare
EXAMPLES = {
    "mask": "example: vavirerezi mask 0x1234 5 6 0 masked.bin plain.bin",
    "encrypt": "example: vavirerezi encrypt --key-file key.txt plain.bin sealed.bin",
    "decrypt": "example: vavirerezi decrypt --key 1,2,3,4,5,6,7,8,9,10,11,12,13,0xe "
               "sealed.bin plain.bin",
}


class Failure(Exception):
    """An error to report in one line, with exit status 1."""


INTEGER = re.compile(r"([+-]?)(?:0[xX]0*([0-9a-fA-F]+)|0*([0-9]+))\Z", re.ASCII)
# Significant digits a value may have: the interpreter's default limit on
# decimal conversions (sys.get_int_max_str_digits), far beyond any value
# the commands can use, and the same whatever the interpreter's version.
MAX_DIGITS = 4300


def integer(text, what, secret=False):
    """A decimal or 0x hexadecimal integer, with an optional sign (ASCII
    digits alone; leading zeros do not count towards MAX_DIGITS). A
    secret's text (a key item) is not repeated in the error."""
    m = INTEGER.match(text.strip())
    if m is None:
        shown = "" if secret else " %r" % text
        raise Failure("%s%s is not a decimal or 0x hexadecimal integer" % (what, shown))
    digits = m.group(2) or m.group(3)
    try:
        if len(digits) > MAX_DIGITS:
            raise ValueError
        value = int(digits, 16 if m.group(2) else 10)
    except ValueError:  # also a lower limit set for this interpreter
        raise Failure("%s has more digits than a value can have (%d)" % (what, len(digits)))
    return -value if m.group(1) == "-" else value


def bounded(value):
    """A value for a message: in full unless too long to be read (or for
    the interpreter to convert)."""
    return "%d" % value if value.bit_length() <= 128 else "a %d-bit number" % value.bit_length()


def parse_key(text, where):
    """The 14 integers of vals14, separated by commas."""
    items = text.strip().split(",")
    if len(items) != 14:
        raise Failure("%s must be 14 integers separated by commas, not %d" % (where, len(items)))
    key = []
    for i, item in enumerate(items):
        value = integer(item, "%s, item %d" % (where, i + 1), secret=True)
        if not -2 ** 63 <= value < 2 ** 64:
            raise Failure("%s, item %d: outside -2**63 to 2**64 - 1" % (where, i + 1))
        key.append(value)
    return key


class Parser(argparse.ArgumentParser):
    def error(self, message):
        """argparse's usage error, with status 2 even where stderr cannot
        show it."""
        say(self.format_usage())
        say("%s: error: %s\n" % (self.prog, message))
        sys.exit(2)


def make_parsers():
    """The command's parser, and each subcommand's by name."""
    parser = Parser(
        prog=PROGRAM, description="Mask, encrypt and decrypt files and pipes as the vavirerezi "
        "module does, in pieces of any size.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    subparsers = {}
    helps = {"mask": "XOR with the MT19937 key stream of mt_xor_bytes (masks and unmasks alike)",
             "encrypt": "encipher with Blowfish in ECB mode, as bf_process(data, key, 1)",
             "decrypt": "decipher with Blowfish in ECB mode, as bf_process(data, key, 0)"}
    for name in ("mask", "encrypt", "decrypt"):
        sub = subparsers[name] = commands.add_parser(
            name, help=helps[name], description=helps[name] + ".", epilog=EXAMPLES[name],
            formatter_class=argparse.RawDescriptionHelpFormatter)
        if name == "mask":
            for seed in ("SEED0", "SEED1", "SEED2", "OFFSET"):
                sub.add_argument(seed.lower(), metavar=seed,
                                 help="decimal or 0x hexadecimal, taken modulo 2**32")
        else:
            key = sub.add_mutually_exclusive_group(required=True)
            key.add_argument("--key", metavar="KEY",
                             help="14 integers separated by commas, each decimal or 0x "
                             "hexadecimal: the vals14 of the module")
            key.add_argument("--key-file", metavar="FILE",
                             help="a file holding KEY, which keeps it out of the process list")
        sub.add_argument("input", metavar="INPUT", nargs="?", default="-",
                         help="the file to read (default -, standard input)")
        sub.add_argument("output", metavar="OUTPUT", nargs="?", default="-",
                         help="the file to write (default -, standard output)")
        sub.add_argument("--chunk-size", metavar="N", default=str(DEFAULT_CHUNK),
                         help="bytes a piece (default %d; Blowfish rounds it up to whole "
                         "8-byte blocks)" % DEFAULT_CHUNK)
        sub.add_argument("--quiet", action="store_true",
                         help="draw no progress line on a terminal")
        sub.add_argument("--in-place", action="store_true",
                         help="transform INPUT where it lies (no OUTPUT), piece by piece, each "
                         "read and written back; this cannot be made atomic, so an "
                         "interrupted run leaves the file partly transformed")
    return parser, subparsers


# Arguments that begin with "-" but are values, not options: negative
# numbers, decimal or hexadecimal, and keys that begin with one.
NEGATIVE = re.compile(r"-(?:0[xX][0-9a-fA-F]+|[0-9]+)(?:\s*,.*)?\Z", re.ASCII | re.DOTALL)


def parse_arguments(argv):
    """The arguments of a command, its options and positional arguments in any
    order (up to a "--", after which all are positional); help, or a usage
    error (status 2), for anything else."""
    parser, subparsers = make_parsers()
    if argv and argv[0] in subparsers:
        sub = subparsers[argv[0]]
        sub._negative_number_matcher = NEGATIVE  # argparse's test for these
        parse = sub.parse_args if "--" in argv else sub.parse_intermixed_args
        args = parse(argv[1:])
        args.command = argv[0]
        return args
    return parser.parse_args(argv)


def transform_for(args):
    """The transform of one piece, (data, output) -> None, and whether its
    pieces must be whole 8-byte blocks."""
    if args.command == "mask":
        seeds = [integer(getattr(args, name), name.upper())
                 for name in ("seed0", "seed1", "seed2", "offset")]
        return vavirerezi.MtKeyStream(*seeds).xor, False
    if args.key_file is not None:
        try:
            with open(args.key_file, "rb") as f:
                raw = f.read(KEY_FILE_MAX + 1)
        except OSError as e:
            raise Failure("cannot read the key file %r: %s" % (args.key_file, e.strerror))
        if len(raw) > KEY_FILE_MAX:
            raise Failure("the key file %r is longer than a key can be" % args.key_file)
        try:
            text = raw.decode("ascii")
        except UnicodeDecodeError:
            raise Failure("the key file %r is not ASCII text" % args.key_file)
        key = parse_key(text, "the key file %r" % args.key_file)
    else:
        key = parse_key(args.key, "--key")
    cipher = vavirerezi.BfCipher(key)
    return cipher.encrypt if args.command == "encrypt" else cipher.decrypt, True


class Progress(object):
    """One line on stderr, redrawn a few times a second: bytes done and total,
    percent, rate and time left (bytes and rate alone where the total is
    unknown). Draws nothing unless `shown`. The line last begun is ended
    (end_line) before an error or an interrupt is reported below it."""

    drawn = None  # the Progress whose line is on the terminal, unended

    def __init__(self, total, shown):
        self.total, self.shown = total, shown
        self.start = self.last = time.monotonic()
        self.width = 0
        self.draw(0)

    def update(self, done):
        now = time.monotonic()
        if self.shown and now - self.last >= 0.25:
            self.last = now
            self.draw(done)

    def finish(self, done):
        if self.shown:
            self.draw(done)
            Progress.end_line()

    @staticmethod
    def end_line():
        if Progress.drawn is not None:
            Progress.drawn = None
            say("\n")

    def draw(self, done):
        if not self.shown:
            return
        elapsed = time.monotonic() - self.start
        rate = done / elapsed if elapsed > 0 else 0.0
        line = "%s" % amount(done)
        if self.total is not None and done > self.total:  # a file that grew, or /proc's
            self.total = None
        if self.total is not None:
            percent = 100.0 * done / self.total if self.total else 100.0
            line += " / %s %3.0f%%" % (amount(self.total), percent)
        line += "  %s/s" % amount(rate)
        if self.total is not None and rate > 0 and done < self.total:
            line += "  %s left" % clock((self.total - done) / rate)
        pad = max(0, self.width - len(line))
        self.width = len(line)
        if say("\r" + line + " " * pad):
            Progress.drawn = self
        else:
            self.shown = False


def say(text):
    """Writes `text` on stderr; returns whether it could be. A line that
    cannot be shown (stderr closed, or failing) does not change the outcome:
    it is dropped, and so is all that follows it, so that the interpreter's
    own flush at exit does not fail on it either."""
    try:
        sys.stderr.write(text)
        sys.stderr.flush()
        return True
    except (AttributeError, OSError, ValueError):  # None, failing, or closed
        sys.stderr = io.StringIO()
        return False


def amount(n):
    for unit, size in (("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= size:
            return "%.1f %s" % (n / size, unit)
    return "%d B" % n


def clock(seconds):
    seconds = int(seconds + 0.5)
    return "%d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)


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


def open_file(path, flags):
    try:
        return os.open(path, flags | getattr(os, "O_CLOEXEC", 0))
    except OSError as e:
        raise Failure("cannot open %r: %s" % (path, e.strerror))


# Names of descriptors this process has open: writing to one is writing to
# that descriptor, as the shell does, never replacing the file behind it.
DESCRIPTOR = re.compile(r"/(?:dev/fd|proc/self/fd)/([0-9]+)\Z")
STANDARD = {"/dev/stdin": 0, "/dev/stdout": 1, "/dev/stderr": 2}


def descriptor_of(path):
    m = DESCRIPTOR.match(path)
    return int(m.group(1)) if m else STANDARD.get(path)


def fstat_standard(fd, name):
    try:
        return os.fstat(fd)
    except OSError:
        raise Failure("%s is closed" % name)


# Interrupts and termination requests, which clean up as they end the run.
ENDING = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


@contextlib.contextmanager
def signals_held():
    """Holds back the ENDING signals until the block is over, so that an
    interrupt does not fall between a temporary file and the record of it
    that its removal needs. Threads started inside inherit the hold and keep
    it, so that the signals reach the main thread alone. One that arrived
    before is handled on entry (pthread_sigmask runs pending handlers), one
    that arrives inside on exit."""
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, ENDING)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


class Output(object):
    """Where the result goes: standard output or another open descriptor, a
    file other than a regular one (a device, a FIFO, anything under /dev or
    /proc) written directly, or a regular file written to a temporary file
    beside it and renamed over it by commit(). Made in two steps: the
    constructor finds out, opening nothing, whether the result can go
    there at all (before the input is opened, which may block, and long
    before it is read); open() then opens or creates it."""

    def __init__(self, path):
        self.path = path
        self.fd = self.temporary = None
        self.descriptor = self.direct = None
        if path == "-":
            fstat_standard(1, "standard output")
            self.descriptor = 1
            return
        if not path:
            raise Failure("OUTPUT must name a file, not be empty")
        fd = descriptor_of(path)
        if fd is not None:
            fstat_standard(fd, path)
            self.descriptor = fd
            return
        try:
            st = os.stat(path)
        except FileNotFoundError:
            st = None
        except OSError as e:
            raise Failure("cannot write %r: %s" % (path, e.strerror))
        if st is not None and stat.S_ISDIR(st.st_mode):
            raise Failure("cannot write %r: it is a directory" % path)
        if path.endswith("/"):
            raise Failure("cannot write %r: not a directory" % path)
        special = os.path.abspath(path).startswith(("/dev/", "/proc/"))
        if st is not None and (special or not stat.S_ISREG(st.st_mode)):
            self.direct = os.O_WRONLY | (os.O_TRUNC if stat.S_ISREG(st.st_mode) else 0)
            return
        if st is not None and not os.access(path, os.W_OK):
            raise Failure("cannot write %r: Permission denied" % path)
        self.target = os.path.realpath(path)
        self.existing = st
        self.directory = os.path.dirname(self.target)
        replaceable(path, st, self.directory)

    def open(self):
        """Opens the output, or creates its temporary file (discard() removes
        it, even if an interrupt comes as it is created)."""
        if self.descriptor is not None:
            self.fd = os.dup(self.descriptor)
        elif self.direct is not None:
            self.fd = open_file(self.path, self.direct)
        else:
            try:
                with signals_held():
                    self.fd, self.temporary = tempfile.mkstemp(
                        prefix=".vavirerezi-", suffix=".part", dir=self.directory)
            except OSError as e:
                raise Failure("cannot write %r: %s (in %r)" % (self.path, e.strerror,
                                                               self.directory))

    def commit(self):
        """Flushes the result to disk and puts it under its name, with the
        mode (and, where allowed, the owner) of the file it replaces."""
        if self.temporary is None:
            return
        if self.existing is not None:
            os.fchmod(self.fd, stat.S_IMODE(self.existing.st_mode))
            try:
                os.fchown(self.fd, self.existing.st_uid, self.existing.st_gid)
            except OSError:
                pass  # not allowed: the new file is the user's
        else:
            umask = os.umask(0)
            os.umask(umask)
            os.fchmod(self.fd, 0o666 & ~umask)
        os.fsync(self.fd)
        with signals_held():
            os.rename(self.temporary, self.target)
            self.temporary = None
        directory = os.open(self.directory, os.O_RDONLY)
        try:
            os.fsync(directory)
        finally:
            os.close(directory)

    def discard(self):
        """Removes the temporary file of a run that did not finish."""
        with signals_held():
            if self.temporary is not None:
                try:
                    os.unlink(self.temporary)
                except OSError:
                    pass
                self.temporary = None

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
        self.fd = None


def replaceable(path, existing, directory):
    """Refuses, with the reason, an output whose temporary file could not be
    created beside it or renamed over it (`existing`: its stat, or None)."""
    if not os.access(directory, os.W_OK | os.X_OK):
        raise Failure("cannot write %r: Permission denied (in %r)" % (path, directory))
    if existing is None:
        return
    try:
        folder = os.stat(directory)
    except OSError as e:
        raise Failure("cannot write %r: %s (in %r)" % (path, e.strerror, directory))
    # In a sticky directory (/tmp), only the owner of a file or of the
    # directory may rename over it; root may always.
    if folder.st_mode & stat.S_ISVTX and os.geteuid() not in (0, existing.st_uid,
                                                              folder.st_uid):
        raise Failure("cannot replace %r: it belongs to another user in a sticky directory"
                      % path)


def describe(path, standard):
    return standard if path == "-" else repr(path)


def run(args):
    transform, blocks = transform_for(args)
    args.chunk_size = integer(args.chunk_size, "--chunk-size")
    if not 1 <= args.chunk_size <= MAX_CHUNK:
        raise Failure("--chunk-size must be from 1 to %d, not %s" % (MAX_CHUNK,
                                                                   bounded(args.chunk_size)))
    shown = not args.quiet and sys.stderr is not None and sys.stderr.isatty()
    # Before any file is opened, which would take a closed standard
    # descriptor's number.
    if args.input == "-" and not args.in_place:
        fstat_standard(0, "standard input")
    if args.output == "-" and not args.in_place:
        fstat_standard(1, "standard output")
    if args.in_place:
        if args.input == "-" or args.output != "-":
            raise Failure("--in-place takes a named INPUT alone, and no OUTPUT")
        try:
            st = os.stat(args.input)
        except OSError as e:
            raise Failure("cannot open %r: %s" % (args.input, e.strerror))
        if not stat.S_ISREG(st.st_mode):
            raise Failure("--in-place needs a regular file, which %r is not" % args.input)
        progress = Progress(st.st_size, shown)
        try:
            done, partial = in_place(transform, blocks, args.input, args.chunk_size, progress)
        except ChangedSize:
            raise Failure("cannot transform %r in place: the file changed size under it, and is "
                          "left partly transformed" % args.input)
        except (OSError, ValueError) as e:
            raise Failure("cannot transform %r in place: %s" % (args.input,
                                                               getattr(e, "strerror", None) or e))
        progress.finish(done)
        return partial
    # Whether the result can go where it is to go, found out before the
    # input is opened (a FIFO blocks until it has a writer) or read.
    output = Output(args.output)
    if args.input == "-":
        source = fstat_standard(0, "standard input")
        src = 0
    else:
        src = open_file(args.input, os.O_RDONLY)
        source = os.fstat(src)
    if stat.S_ISDIR(source.st_mode):
        raise Failure("cannot read %r: it is a directory" % args.input)
    if stat.S_ISREG(source.st_mode):
        fd = 1 if args.output == "-" else descriptor_of(args.output)
        try:
            target = os.fstat(fd) if fd is not None else os.stat(args.output)
        except OSError:
            target = None
        if target is not None and (source.st_dev, source.st_ino) == (target.st_dev, target.st_ino):
            raise Failure("OUTPUT is the same file as INPUT: give --in-place (and no OUTPUT) to "
                          "transform it where it lies")
    try:
        output.open()
        total = source.st_size if stat.S_ISREG(source.st_mode) else None
        progress = Progress(total, shown)
        try:
            done, partial = stream(transform, blocks, src, output.fd, args.chunk_size, progress,
                                   describe(args.input, "standard input"))
            output.commit()
        except BrokenPipeError:
            raise
        except OSError as e:
            raise Failure("cannot write %s: %s" % (describe(args.output, "standard output"),
                                                   e.strerror or e))
        progress.finish(done)
    finally:
        output.discard()
        output.close()
    return partial


def main(argv=None):
    if sys.stderr is None:  # closed: what would be said there is dropped
        sys.stderr = io.StringIO()
    try:
        if signal.getsignal(signal.SIGINT) == signal.SIG_DFL:  # as set on starting
            signal.signal(signal.SIGINT, signal.default_int_handler)
        # A termination request, or the terminal going away, cleans up as an
        # interrupt does (unless the signal was set to be ignored).
        for signum in (signal.SIGTERM, signal.SIGHUP):
            if signal.getsignal(signum) != signal.SIG_IGN:
                signal.signal(signum, lambda signum, frame: sys.exit(128 + signum))
        with signals_held():  # argparse's own state is broken by one in its midst
            args = parse_arguments(sys.argv[1:] if argv is None else argv)
        partial = run(args)
    except Failure as e:
        return error(str(e))
    except SystemExit:
        Progress.end_line()
        raise
    except BrokenPipeError:
        # The reader of standard output is gone (| head): end quietly.
        try:
            os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
        except OSError:
            pass
        return 128 + signal.SIGPIPE
    except KeyboardInterrupt:
        Progress.end_line()
        return 128 + signal.SIGINT
    except MemoryError:
        return error("not enough memory: a smaller --chunk-size needs less")
    except OSError as e:  # anything not foreseen above, still in one line
        return error(str(e))
    if partial and args.command == "encrypt":
        say("%s: warning: the final %d bytes cannot be deciphered back\n" % (PROGRAM, partial))
    return 0


def error(message):
    Progress.end_line()
    say("%s: error: %s\n" % (PROGRAM, message))
    return 1

