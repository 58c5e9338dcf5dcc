"""What several module test files share: the key, the bad-key message, the
objects that stand for arguments of every kind, and the helpers that run a
table of cases row by row and a child interpreter. What differs between
Python 2.7 and Python 3 is in compat.py."""
import os
import subprocess
import sys

import vavirerezi
from compat import PY3, child_interpreter

mt_xor_bytes = vavirerezi.mt_xor_bytes
bf_process = vavirerezi.bf_process
# The objects are Python 3's: None under 2.7, where their tests are skipped.
BfCipher = getattr(vavirerezi, "BfCipher", None)
MtKeyStream = getattr(vavirerezi, "MtKeyStream", None)

KEY = [0x01020304 * i & 0xffffffff for i in range(1, 15)]
MESSAGE = "vals14 must be a sequence of exactly 14 ints"
# Text that the interpreter's conversion cannot encode: beyond ASCII for 2.7's
# default encoding, a lone surrogate for Python 3's UTF-8.
UNENCODABLE = u"\ud800" if PY3 else u"\u0100"

# The command's long tables run whole under one interpreter of the native
# build; elsewhere (the other interpreters, the sanitizer build, emulated
# CPUs, installed packages: VAVIREREZI_SAMPLED_TESTS=1) each row runs in one
# of its ways, a different one from row to row, so that every way still runs.
SAMPLED = os.environ.get("VAVIREREZI_SAMPLED_TESTS") == "1"


def ways(row, choices):
    """The ways to run table row number `row`: all of `choices`, or when
    SAMPLED the one the row's number picks."""
    choices = list(choices)
    return [choices[row % len(choices)]] if SAMPLED else choices


class Raises(object):
    """A sequence whose length or items raise."""

    def __init__(self, length_error=None, item_error=None, length=14):
        self.length_error, self.item_error, self.length = length_error, item_error, length

    def __len__(self):
        if self.length_error:
            raise self.length_error
        return self.length

    def __getitem__(self, i):
        if self.item_error:
            raise self.item_error
        return i


class RunsOnLastItem(object):
    """A key of 14 items that runs `action` as its last item is read: Python
    code run while a call converts the key."""

    def __init__(self, action):
        self.action = action

    def __len__(self):
        return 14

    def __getitem__(self, i):
        if i == 13:
            self.action()
        return i


class BadInt(object):
    def __int__(self):
        raise RuntimeError("no integer here")


class IntOnly(object):
    """Converts through __int__ alone."""

    def __int__(self):
        return 1


class IndexOnly(object):
    """Converts through __index__ alone."""

    def __index__(self):
        return 1


class OldStyle:  # a classic class under 2.7, an ordinary one under 3
    pass


class OldStyleInt:
    def __int__(self):
        return 7


class NoLength(object):
    """Items by index, and no length."""

    def __getitem__(self, i):
        return i


SAME = object()


def py(py2, py3, py39=SAME):
    """The outcome under Python 2.7, under Python 3 (3.8 and 3.9 may differ:
    their "i" conversion still takes __int__, with a DeprecationWarning)."""
    if not PY3:
        return py2
    if py39 is not SAME and sys.version_info < (3, 10):
        return py39
    return py3


def check_rows(case, rows, check):
    """Runs check(row) for each row of a table (a tuple whose first item
    describes it) and reports every failing row: under Python 3 each as a
    subTest of its own; under 2.7, which has no subTest, the failures are
    collected and the test fails once, naming every failing row."""
    if PY3:
        for row in rows:
            with case.subTest(row[0]):
                check(row)
        return
    failures = []
    for row in rows:
        try:
            check(row)
        except Exception as e:  # a failed assertion, or an unexpected error of the row's
            failures.append("%s: %s: %s" % (row[0], type(e).__name__, e))
    if failures:
        case.fail("%d of %d rows failed:\n%s" % (len(failures), len(rows), "\n".join(failures)))


def child_output(code):
    """What a fresh interpreter like this one prints running `code`."""
    return subprocess.check_output(child_interpreter() + ["-c", code]).decode("ascii")


def read_terminal(master):
    """All that the other side of a pseudo-terminal shows until the child
    closes it; closes `master`."""
    shown = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # EIO: the child has closed the terminal
            break
        if not chunk:
            break
        shown += chunk
    os.close(master)
    return shown
