"""Where the result goes, written safely: a regular file through a temporary
file beside it, flushed to disk and renamed over the name once complete;
descriptors and devices directly; the signals that end a run held back
while the temporary file's record is made or undone."""
import contextlib
import os
import re
import signal
import stat
import tempfile

from ._cli_messages import Failure


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
