"""The command's arguments: the parsers, integers as the module takes them,
and the key of vals14 given on the command line or in a file."""
import argparse
import re
import sys

import vavirerezi

from ._cli_messages import PROGRAM, Failure, say

DEFAULT_CHUNK = 1 << 20
MAX_CHUNK = 1 << 30
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
