"""python -m vavirerezi: the vavirerezi command."""
import signal
import sys

if __name__ == "__main__" and signal.getsignal(signal.SIGINT) is signal.default_int_handler:
    # Until main() is under way, an interrupt ends the process as the signal
    # itself does: nothing to clean up yet, and no traceback from whatever
    # import it falls in. main() gives Python's handler back.
    signal.signal(signal.SIGINT, signal.SIG_DFL)

from ._cli import main  # noqa: E402 (after the above, which must come first)

if __name__ == "__main__":
    sys.exit(main())
