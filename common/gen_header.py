"""The command line shared by the scripts that generate committed headers.

    SCRIPT OUTPUT      writes the header
    SCRIPT --check F   exits non-zero unless F is what would be written
Runs under Python 2.7 and 3.
"""
import sys


def main(argv, render, usage, differs):
    """Writes or checks the text `render()` gives; `differs` completes the
    message "F differs from ..." when a check fails, `usage` is printed for
    any other command line."""
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2]) as f:
            committed = f.read()
        if committed != render():
            sys.stderr.write("%s differs from %s\n" % (argv[2], differs))
            return 1
        return 0
    if len(argv) == 2:
        with open(argv[1], "w") as f:
            f.write(render())
        return 0
    sys.stderr.write(usage)
    return 2


def header(first_line, guard, preamble, table):
    """A header of fixed-width integer tables: `first_line` (what made it),
    the include guard `guard`, the lines `preamble`, then the lines `table`
    kept as they are from clang-format."""
    out = [first_line, "#ifndef " + guard, "#define " + guard, "", "#include <cstdint>", ""]
    out += preamble
    out.append("// clang-format off")
    out += table
    out += ["// clang-format on", "", "#endif"]
    return "\n".join(out) + "\n"


def rows(values, form, per_line, indent):
    """The values, each as `form` % value, `per_line` to a line."""
    return [indent + " ".join(form % v for v in values[i:i + per_line])
            for i in range(0, len(values), per_line)]
