"""What the module shows to Python code."""
import unittest

import vavirerezi
from compat import PY3

FUNCTIONS = {"mt_xor_bytes", "bf_process"}
MODULE_ATTRIBUTES = {"__doc__", "__file__", "__name__", "__package__"}
if PY3:
    MODULE_ATTRIBUTES |= {"__loader__", "__spec__"}


class SurfaceTest(unittest.TestCase):
    def test_attributes_are_the_functions_alone(self):
        self.assertEqual(set(dir(vavirerezi)), FUNCTIONS | MODULE_ATTRIBUTES)
        self.assertIsNone(vavirerezi.__doc__)
        self.assertFalse(hasattr(vavirerezi, "ValueError"))
        self.assertFalse(hasattr(vavirerezi, "error"))

    def test_functions_are_builtins_without_docs(self):
        for name in FUNCTIONS:
            function = getattr(vavirerezi, name)
            self.assertEqual(type(function).__name__, "builtin_function_or_method")
            self.assertIsNone(function.__doc__)
            self.assertEqual(function.__name__, name)

    def test_reimport_gives_the_same_module(self):
        import vavirerezi as again
        self.assertIs(again, vavirerezi)


if __name__ == "__main__":
    unittest.main()
