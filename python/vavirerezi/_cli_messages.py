"""The command's messages on stderr: one-line errors, warnings and the
progress line, none of which may change the outcome when stderr cannot
show them."""
import io
import sys
import time

PROGRAM = "vavirerezi"


class Failure(Exception):
    """An error to report in one line, with exit status 1."""



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


def warn(text):
    """A warning on stderr, in one line, which --quiet does not silence."""
    say("%s: warning: %s\n" % (PROGRAM, text))


def amount(n):
    for unit, size in (("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= size:
            return "%.1f %s" % (n / size, unit)
    return "%d B" % n


def clock(seconds):
    seconds = int(seconds + 0.5)
    return "%d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)
