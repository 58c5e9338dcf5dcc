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

Also runnable as `python -m vavirerezi`. Python 3 only. The parts:
_cli_arguments (the arguments, integers and keys), _cli_outputs (where the
result goes, written safely), _cli_pieces (the loop over pieces) and
_cli_messages (errors, warnings and the progress line).
"""
import io
import os
import signal
import stat
import sys

from ._cli_arguments import Usage, options, parse_arguments, transform_for
from ._cli_messages import PROGRAM, Failure, Progress, say, warn
from ._cli_outputs import Output, descriptor_of, fstat_standard, open_file, signals_held
from ._cli_pieces import ChangedSize, in_place, stream


def describe(path, standard):
    return standard if path == "-" else repr(path)


TERMINAL = "not writing binary data to a terminal: give --force to write it there anyway"


def terminal(fd):
    try:
        return os.isatty(fd)
    except OSError:
        return False


def run(args):
    options(args)
    transform = transform_for(args)
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
            done, partial = in_place(transform, args.input, args.chunk_size, progress)
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
    if output.descriptor is not None and not args.force and terminal(output.descriptor):
        raise Failure(TERMINAL)
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
        if not args.force and terminal(output.fd):  # a device named as OUTPUT
            raise Failure(TERMINAL)
        total = None
        if stat.S_ISREG(source.st_mode):
            total = max(0, source.st_size - os.lseek(src, 0, os.SEEK_CUR) - args.skip)
            if args.count is not None:
                total = min(total, args.count)
        progress = Progress(total, shown)
        try:
            done, partial = stream(transform, src, output.fd, args.chunk_size, progress,
                                   describe(args.input, "standard input"), jobs=args.jobs,
                                   skip=args.skip, count=args.count)
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
    except Usage as e:
        Progress.end_line()
        say("%s %s: error: %s\n" % (PROGRAM, args.command, e))
        return 2
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
        warn("the final %d bytes cannot be deciphered back" % partial)
    return 0


def error(message):
    Progress.end_line()
    say("%s: error: %s\n" % (PROGRAM, message))
    return 1
