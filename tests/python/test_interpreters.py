"""The module in interpreters of its own, each a child process: the class of
the bad-key error whatever Python code did to the built-in name before the
import, a second initialisation, and sub-interpreters of each kind."""
import sys
import unittest

from compat import CPYTHON, PY3
from support import KEY, MESSAGE, bf_process, child_output, mt_xor_bytes, py


# Changes the built-in ValueError as `setup` says, imports the module, puts
# the built-in back and reports which class a bad key raises.
ERROR_CLASS_CHILD = """
import sys, types, %(name)s as b
real = b.ValueError
%(setup)s
try:
    import vavirerezi
except Exception as e:
    sys.stdout.write('import: ' + type(e).__name__)
    sys.exit()
sys.modules[%(name)r] = b
b.ValueError = real
try:
    vavirerezi.bf_process(b'', [0] * 13, 1)
except BaseException as e:
    sys.stdout.write(('real ' if type(e) is real else 'other ') + type(e).__name__ + ': ' + str(e))
"""

# Loads the library a second time, the built-in ValueError gone meanwhile,
# and reports what a bad key raises in both modules.
SECOND_LOAD_CHILD = """
import sys, vavirerezi
path = getattr(vavirerezi, '_core', vavirerezi).__file__  # Python 3: the package's library
%(load)s
b.ValueError = real
for m in (vavirerezi, again):
    try:
        m.bf_process(b'', [0] * 13, 1)
    except BaseException as e:
        sys.stdout.write('%%s %%s;' %% (type(e) is real, e))
"""
SECOND_LOAD_PY3 = """
import builtins as b, importlib.machinery, importlib.util
real = b.ValueError
del b.ValueError
loader = importlib.machinery.ExtensionFileLoader('again._core', path)
again = importlib.util.module_from_spec(importlib.util.spec_from_loader('again._core', loader))
loader.exec_module(again)
"""
SECOND_LOAD_PY27 = """
import exceptions as b, imp
real = b.ValueError
del b.ValueError
del sys.modules['vavirerezi']
again = imp.load_dynamic('vavirerezi', path)
"""

# The built-in ValueError deleted, the import fails; put back, the module
# imported again must raise what `except ValueError` catches.
FAILED_IMPORT_CHILD = """
import sys, %(name)s as b
real = b.ValueError
del b.ValueError
try:
    import vavirerezi
    first = 'imported'
except Exception as e:
    first = 'import: ' + type(e).__name__
b.ValueError = real
sys.modules.pop('vavirerezi', None)
import vavirerezi
try:
    vavirerezi.bf_process(b'', [0] * 13, 1)
except real as e:
    sys.stdout.write(first + '; caught: ' + str(e))
"""

# Runs in each sub-interpreter: both functions and both objects give the main
# interpreter's bytes, and a bad key the built-in ValueError.
SUBINTERPRETER_SCRIPT = """
import vavirerezi
got = (vavirerezi.mt_xor_bytes(%(data)r, 1, 2, 3, 4), vavirerezi.bf_process(%(data)r, %(key)r, 1))
assert got == %(want)r, 'results differ'
stream = vavirerezi.MtKeyStream(1, 2, 3, 4)
pieces = stream.xor(%(data)r[:5]) + stream.copy().xor(%(data)r[5:])
assert (pieces, vavirerezi.BfCipher(%(key)r).encrypt(%(data)r)) == got, 'objects differ'
try:
    vavirerezi.bf_process(b'', [0] * 13, 1)
except ValueError as e:
    assert type(e) is ValueError and str(e) == %(message)r
"""

# Makes `threads` sub-interpreters of `kind`, runs the script in each on a
# thread of its own, and prints the failures.
SUBINTERPRETER_CHILD = """
import sys, threading
script, kind, threads = %(script)r, %(kind)r, %(threads)d
failures = []
if sys.version_info >= (3, 13):
    import _interpreters as I
    ids = [I.create(kind) for _ in range(threads)]
    def run(i):
        for _ in range(20):
            failure = I.run_string(i, script)
            if failure is not None:
                failures.append(failure.formatted)
else:
    import _xxsubinterpreters as I
    isolated = {'isolated': kind == 'isolated'} if sys.version_info >= (3, 12) else {}
    ids = [I.create(**isolated) for _ in range(threads)]
    def run(i):
        try:
            I.run_string(i, script)
        except Exception as e:
            failures.append(str(e))
workers = [threading.Thread(target=run, args=(i,)) for i in ids]
for w in workers:
    w.start()
for w in workers:
    w.join()
for i in ids:
    I.destroy(i)
sys.stdout.write(repr(failures))
"""


class ErrorTypeTest(unittest.TestCase):
    """Which class the bad-key error is, whatever Python code did to the
    built-in name before the import. Python 3 raises the interpreter's own
    ValueError, found by no name. Python 2.7 looks the name up in
    `exceptions` when the module is first initialised: an exception class
    found there is used, anything else gives the interpreter's ValueError,
    and a failed lookup fails the import."""

    def run_child(self, setup):
        name = "builtins" if PY3 else "exceptions"
        return child_output(ERROR_CLASS_CHILD % {"name": name, "setup": setup})

    def test_error_class_after_the_builtin_name_changed(self):
        cases = [
            ("b.ValueError = 5", "real ValueError: " + MESSAGE),
            ("b.ValueError = KeyError", py("other KeyError: '%s'" % MESSAGE,
                                           "real ValueError: " + MESSAGE)),
            ("del b.ValueError", py("import: AttributeError", "real ValueError: " + MESSAGE)),
            ("sys.modules[%r] = types.ModuleType('x')" % ("builtins" if PY3 else "exceptions"),
             py("import: AttributeError", "real ValueError: " + MESSAGE)),
        ]
        for setup, want in cases:
            self.assertEqual(self.run_child(setup), want, setup)

    def test_import_after_a_failed_one(self):
        name = "builtins" if PY3 else "exceptions"
        out = child_output(FAILED_IMPORT_CHILD % {"name": name})
        self.assertEqual(out, py("import: AttributeError", "imported") + "; caught: " + MESSAGE)

    def test_second_initialisation_after_a_failed_lookup(self):
        # The library loaded again (Python 3: under another dotted name, which
        # initialises it anew) once the built-in ValueError is gone: no
        # crash, and the first module still raises the built-in class.
        load = SECOND_LOAD_PY3 if PY3 else SECOND_LOAD_PY27
        out = child_output(SECOND_LOAD_CHILD % {"load": load})
        self.assertEqual(out, ("True %s;" % MESSAGE) * 2)


@unittest.skipUnless(CPYTHON and PY3, "sub-interpreters from Python code are CPython 3's")
class SubinterpreterTest(unittest.TestCase):
    """Both functions in a sub-interpreter of each kind, in a child process:
    legacy ones share the main GIL, isolated ones (3.12 and later) have
    their own, and import single-phase modules not at all."""

    def run_child(self, kind, threads=1):
        data = b"sub-interpreter data, 3 blocks and 5"
        want = (mt_xor_bytes(data, 1, 2, 3, 4), bf_process(data, KEY, 1))
        script = SUBINTERPRETER_SCRIPT % {"data": data, "key": KEY, "want": want,
                                          "message": MESSAGE}
        return child_output(SUBINTERPRETER_CHILD % {"script": script, "kind": kind,
                                                    "threads": threads})

    def test_legacy_subinterpreter(self):
        self.assertEqual(self.run_child("legacy"), "[]")

    @unittest.skipUnless(sys.version_info >= (3, 12), "isolated sub-interpreters are 3.12's")
    def test_isolated_subinterpreters(self):
        # Under 3.13, four at once on four threads, each with its own GIL.
        threads = 4 if sys.version_info >= (3, 13) else 1
        self.assertEqual(self.run_child("isolated", threads), "[]")


if __name__ == "__main__":
    unittest.main()
