"""The command's arguments: the parsers, integers as the module takes them,
and the key of vals14 given on the command line or in a file."""
import argparse
import os
import re
import sys

import vavirerezi

from ._cli_messages import PROGRAM, Failure, say, warn
from ._cli_pieces import DEFAULT_CHUNK, Blocks, KeyStream

MAX_CHUNK = 1 << 30
MAX_JOBS = 1024
# Offsets from here on all start the key stream at this output.
OUTPUTS_SKIPPED = 624
KEY_FILE_MAX = 4096  # 14 items of 20 digits and their spacing, with room to spare
EXAMPLES = {
    "mask": "example: vavirerezi mask 0x1234 5 6 0 masked.bin plain.bin",
    "encrypt": "example: vavirerezi encrypt --key-file key.txt plain.bin sealed.bin",
    "decrypt": "example: vavirerezi decrypt --key 1,2,3,4,5,6,7,8,9,10,11,12,13,0xe "
               "sealed.bin plain.bin",
}


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



class Usage(Failure):
    """A usage error found once the arguments are parsed: one line, with
    argparse's prefix and status 2."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        """argparse's usage error, with status 2 even where stderr cannot
        show it."""
        say(self.format_usage())
        say("%s: error: %s\n" % (self.prog, message))
        sys.exit(2)


def usable_cpus():
    """The CPUs this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def version():
    """The package's version and the implementations this CPU runs."""
    kernels = ", ".join("%s %s" % item for item in vavirerezi.kernels().items())
    return "%s %s (%s)" % (PROGRAM, vavirerezi.__version__, kernels)


OFFSET_HELP = ("decimal or 0x hexadecimal: how many of the generator's 32-bit outputs the key "
               "stream leaves out (not bytes), taken modulo 2**32; from %d up, every offset "
               "starts at output %d" % (OUTPUTS_SKIPPED, OUTPUTS_SKIPPED))


def make_parsers():
    """The command's parser, and each subcommand's by name."""
    parser = Parser(
        prog=PROGRAM, description="Mask, encrypt and decrypt files and pipes as the vavirerezi "
        "module does, in pieces of any size.")
    parser.add_argument("--version", action="version", version=version(),
                        help="show the version and the implementations this CPU runs")
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
            for seed in ("SEED0", "SEED1", "SEED2"):
                sub.add_argument(seed.lower(), metavar=seed,
                                 help="decimal or 0x hexadecimal, taken modulo 2**32")
            sub.add_argument("offset", metavar="OFFSET", help=OFFSET_HELP)
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
                         "interrupted run leaves the file partly transformed; one piece at a "
                         "time, and not with --skip or --count")
        unit = "" if name == "mask" else ", a multiple of 8 (whole blocks)"
        sub.add_argument("--skip", metavar="N", default="0",
                         help="leave out the first N bytes of the result (and of INPUT: a "
                         "regular file is not read through)%s" % unit)
        sub.add_argument("--count", metavar="N", default=None,
                         help="give at most N bytes of the result, those after --skip%s" % unit)
        sub.add_argument("--jobs", metavar="N", default=None,
                         help="threads transforming pieces side by side, the result written "
                         "in order (default: the CPUs this process may use, here %d)"
                         % usable_cpus())
        sub.add_argument("--force", action="store_true",
                         help="write the result even to a terminal, which is refused otherwise "
                         "(status 1), as gzip does")
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
    """The transform of the pieces (KeyStream or Blocks). Warns of an
    OFFSET that starts where every larger one starts."""
    if args.command == "mask":
        seeds = [integer(getattr(args, name), name.upper())
                 for name in ("seed0", "seed1", "seed2", "offset")]
        if seeds[3] % 2 ** 32 >= OUTPUTS_SKIPPED:
            warn("OFFSET %s is taken as %d: offsets count generator outputs, and from %d up "
                 "every offset starts at output %d" % (bounded(seeds[3]), OUTPUTS_SKIPPED,
                                                       OUTPUTS_SKIPPED, OUTPUTS_SKIPPED))
        return KeyStream(seeds)
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
    return Blocks(cipher.encrypt if args.command == "encrypt" else cipher.decrypt)


def in_range(args, name, low, high, default=None):
    """The integer value of an option, checked to lie from low to high."""
    text = getattr(args, name)
    option = "--" + name.replace("_", "-")
    if text is None:
        return default
    value = integer(text, option)
    if not low <= value <= high:
        raise Failure("%s must be from %d to %s, not %s" % (
            option, low, "2**63 - 1" if high == 2 ** 63 - 1 else "%d" % high, bounded(value)))
    return value


def options(args):
    """The numeric options, checked, in args; --skip, --count and
    --in-place as they may go together (a usage error otherwise)."""
    args.chunk_size = in_range(args, "chunk_size", 1, MAX_CHUNK)
    args.skip = in_range(args, "skip", 0, 2 ** 63 - 1)
    args.count = in_range(args, "count", 0, 2 ** 63 - 1)
    args.jobs = in_range(args, "jobs", 1, MAX_JOBS, None)
    if args.jobs is None:
        args.jobs = min(usable_cpus(), MAX_JOBS)
    if args.in_place and (args.skip or args.count is not None):
        raise Usage("--in-place transforms the whole file: it takes no --skip or --count")
    if args.command != "mask":
        for name in ("skip", "count"):
            value = getattr(args, name)
            if value is not None and value % 8:
                raise Usage("--%s must be whole 8-byte blocks for %s, a multiple of 8, not %d"
                            % (name, args.command, value))
