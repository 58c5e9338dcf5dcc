"""What the module shows to Python code."""
import unittest

import vavirerezi
from compat import PY3

FUNCTIONS = {"mt_xor_bytes", "bf_process"}
MODULE_ATTRIBUTES = {"__doc__", "__file__", "__name__", "__package__"}
if PY3:
    MODULE_ATTRIBUTES |= {"__loader__", "__spec__", "__version__"}


class SurfaceTest(unittest.TestCase):
    def test_attributes_are_the_functions_alone(self):
        self.assertEqual(set(dir(vavirerezi)), FUNCTIONS | MODULE_ATTRIBUTES)
        self.assertFalse(hasattr(vavirerezi, "ValueError"))
        self.assertFalse(hasattr(vavirerezi, "error"))

    def test_functions_are_builtins(self):
        for name in FUNCTIONS:
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
        self.assertEqual(str(inspect.signature(vavirerezi.mt_xor_bytes)),
                         "(data, seed0, seed1, seed2, offset, /, *, output=None)")
        self.assertEqual(str(inspect.signature(vavirerezi.bf_process)),
                         "(data, vals14, encrypt, /, *, output=None)")
        self.assertIn("MT19937", vavirerezi.__doc__)
        self.assertRegex(vavirerezi.__version__, r"^[0-9]+\.[0-9]+\.[0-9]+$")
        for name, words in [("mt_xor_bytes", ["offset", "least significant", "TypeError",
                                              "BufferError", "output"]),
                            ("bf_process", ["ECB", "zero-filled", "ValueError", "BufferError",
                                            "float", "output"])]:
            doc = getattr(vavirerezi, name).__doc__
            for word in words:
                self.assertIn(word, doc, name)

    def test_reimport_gives_the_same_module(self):
        import vavirerezi as again
        self.assertIs(again, vavirerezi)


if __name__ == "__main__":
    unittest.main()
