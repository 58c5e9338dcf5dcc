"""What the tests need to run unchanged under Python 2.7 and Python 3.

`bytes` is `str` under 2.7 and the module returns that type under both."""
import os
import platform
import sys

PY3 = sys.version_info[0] >= 3
# Reference counts, the C API through ctypes.pythonapi and the allocator shim
# are CPython's; PyPy's emulation of the C API has none of them.
CPYTHON = platform.python_implementation() == "CPython"

if PY3:
    xrange = range
    long = int
    buffer = None  # 2.7's alone: the tests call it under 2.7 only

    def array_bytes(a):
        return a.tobytes()
else:
    xrange = xrange  # noqa: F821 (a builtin under 2.7)
    long = long  # noqa: F821
    buffer = buffer  # noqa: F821

    def array_bytes(a):
        return a.tostring()


def byte_string(values):
    """Bytes from an iterable of ints in 0..255."""
    return bytes(bytearray(values))


def random_bytes(rng, n):
    return byte_string(rng.randrange(256) for _ in xrange(n))


def child_interpreter():
    """The command that starts another interpreter like this one: behind the
    emulator that runs this one, where the tests run under emulation."""
    return os.environ.get("VAVIREREZI_CHILD_LAUNCHER", "").split() + [sys.executable]


def as_buffer(data, k):
    """`data` as one of the kinds of object that the build takes, chosen by k:
    bytes, and under Python 3 also a bytearray, a memoryview slice of a larger
    buffer and an array."""
    import array
    kinds = [bytes]
    if PY3:
        kinds += [bytearray, lambda d: memoryview(b"pad" + d + b"pad")[3:3 + len(d)],
                  lambda d: array.array("B", d)]
    return kinds[k % len(kinds)](data)


def error_pending():
    """Whether the interpreter's error indicator is set outside any call (a
    module function that left an error behind its result); False where
    that cannot be asked (PyPy)."""
    if not CPYTHON:
        return False
    import ctypes
    occurred = ctypes.pythonapi.PyErr_Occurred
    occurred.restype = ctypes.c_void_p
    return occurred() is not None
