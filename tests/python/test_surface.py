"""What the module shows to Python code."""
import os
import unittest

import vavirerezi
from compat import CPYTHON, PY3

FUNCTIONS = {"mt_xor_bytes", "bf_process"}
MODULE_ATTRIBUTES = {"__doc__", "__file__", "__name__", "__package__"}
TYPES = set()
if PY3:  # a package, whose public names are its __all__
    FUNCTIONS |= {"kernels", "open"}
    TYPES = {"BfCipher", "MtKeyStream", "VavirereziFile"}

# Python 3: (callable, its text signature as inspect shows it, words its
# documentation must hold).
SIGNATURES = [
    ("mt_xor_bytes", "(data, seed0, seed1, seed2, offset, /, *, output=None)",
     ["offset", "least significant", "TypeError", "BufferError", "output", "MtKeyStream"]),
    ("bf_process", "(data, vals14, encrypt, /, *, output=None)",
     ["ECB", "zero-filled", "ValueError", "BufferError", "float", "output", "BfCipher"]),
    ("BfCipher", "(vals14, /)", ["bf_process", "threads"]),
    ("BfCipher(KEY).encrypt", "(data, /, *, output=None)", ["bf_process(data, vals14, 1)"]),
    ("BfCipher(KEY).decrypt", "(data, /, *, output=None)", ["bf_process(data, vals14, 0)"]),
    ("MtKeyStream", "(seed0, seed1, seed2, offset, /)", ["mt_xor_bytes", "threads"]),
    ("MtKeyStream(1, 2, 3, 4).xor", "(data, /, *, output=None)", ["next", "output"]),
    ("MtKeyStream(1, 2, 3, 4).skip", "(n, /)", ["ValueError", "TypeError", "OverflowError"]),
    ("MtKeyStream(1, 2, 3, 4).seek", "(position, /)",
     ["ValueError", "TypeError", "OverflowError", "backwards"]),
    ("MtKeyStream(1, 2, 3, 4).copy", "()", ["same position"]),
]


class SurfaceTest(unittest.TestCase):
    def test_attributes_are_the_functions_alone(self):
        if PY3:
            public = {name for name in dir(vavirerezi) if not name.startswith("_")}
            self.assertEqual(public, FUNCTIONS | TYPES)
            self.assertEqual(set(vavirerezi.__all__), FUNCTIONS | TYPES | {"__version__"})
            for name in TYPES:  # defined by the private library, shown as the package's
                self.assertEqual(getattr(vavirerezi, name).__module__, "vavirerezi")
        else:
            self.assertEqual(set(dir(vavirerezi)), FUNCTIONS | TYPES | MODULE_ATTRIBUTES)
        self.assertFalse(hasattr(vavirerezi, "ValueError"))
        self.assertFalse(hasattr(vavirerezi, "error"))

    @unittest.skipUnless(PY3, "the Python 3 package")
    def test_kernels_name_implementations_this_cpu_runs(self):
        import platform
        kernels = vavirerezi.kernels()
        self.assertEqual(set(kernels), {"keystream", "jump", "blowfish"})
        self.assertIsNot(vavirerezi.kernels(), kernels)  # a fresh dict, which callers may change
        wide = platform.machine() in ("x86_64", "AMD64")
        self.assertIn(kernels["keystream"], ["avx512", "avx2", "plain"] if wide else ["plain"])
        self.assertIn(kernels["blowfish"], ["vbmi", "interleaved"] if wide else ["interleaved"])
        self.assertIn(kernels["jump"], ["avx512", "plain"] if wide else ["plain"])
        # Under an emulated CPU the test stage says which ones it must choose.
        for core, variable in [("keystream", "VAVIREREZI_EXPECT_KEYSTREAM"),
                               ("blowfish", "VAVIREREZI_EXPECT_BLOCKCIPHER")]:
            if os.environ.get(variable):
                self.assertEqual(kernels[core], os.environ[variable])

    def test_functions_are_builtins(self):
        for name in FUNCTIONS - {"open"}:  # open is the package's Python code
            function = getattr(vavirerezi, name)
            self.assertEqual(type(function).__name__, "builtin_function_or_method")
            self.assertEqual(function.__name__, name)

    @unittest.skipIf(PY3, "the Python 2.7 surface")
    def test_python27_documents_nothing(self):
        self.assertIsNone(vavirerezi.__doc__)
        for name in FUNCTIONS:
            self.assertIsNone(getattr(vavirerezi, name).__doc__)

    @unittest.skipUnless(PY3, "the Python 3 surface")
    def test_python3_signatures_and_docstrings(self):
        import inspect
        self.assertIn("MT19937", vavirerezi.__doc__)
        self.assertRegex(vavirerezi.__version__, r"^[0-9]+\.[0-9]+\.[0-9]+$")
        namespace = dict(vars(vavirerezi), KEY=list(range(14)))
        for expression, signature, words in SIGNATURES:
            function = eval(expression, namespace)
            if not CPYTHON and "(" in expression:
                continue  # PyPy gives the methods of C types no text signature
            self.assertEqual(str(inspect.signature(function)), signature, expression)
            for word in words:
                self.assertIn(word, function.__doc__, expression)

    @unittest.skipUnless(PY3, "the Python 3 surface")
    def test_objects_keep_their_secrets_and_their_shape(self):
        import copy
        import pickle
        objects = [vavirerezi.BfCipher([0x5eed1234] * 14), vavirerezi.MtKeyStream(0x5eed, 2, 3, 4)]
        for obj in objects:
            name = type(obj).__name__
            self.assertEqual(type(obj).__module__, "vavirerezi")
            self.assertNotIn("5eed", repr(obj).lower(), name)
            self.assertNotIn(str(0x5eed), repr(obj), name)
            for refuse in (pickle.dumps, copy.copy, copy.deepcopy):
                self.assertRaises(TypeError, refuse, obj)
        with self.assertRaises(AttributeError):
            objects[1].position = 5

    @unittest.skipUnless(PY3, "the Python 3 surface")
    def test_objects_of_another_layout_are_refused(self):
        # CPython refuses these itself; PyPy lets them through to the module,
        # which must refuse them before it touches the object's fields.
        B, M = vavirerezi.BfCipher, vavirerezi.MtKeyStream
        for make in [lambda: B.__new__(M, [1] * 14), lambda: M.__new__(B, 1, 2, 3, 4),
                     lambda: object.__new__(M).xor(b"x"), lambda: object.__new__(M).position,
                     lambda: object.__new__(B).encrypt(b"x" * 64)]:
            self.assertRaises(TypeError, make)
        cipher = B([1] * 14)
        try:
            cipher.__class__ = M  # PyPy allows it
        except TypeError:
            return
        for call in (lambda: cipher.position, lambda: cipher.skip(1), cipher.copy,
                     lambda: cipher.xor(b"x")):
            self.assertRaises(TypeError, call)
        cipher.__class__ = B
        self.assertEqual(cipher.encrypt(b"x" * 8), vavirerezi.bf_process(b"x" * 8, [1] * 14, 1))

    def test_reimport_gives_the_same_module(self):
        import vavirerezi as again
        self.assertIs(again, vavirerezi)


if __name__ == "__main__":
    unittest.main()
