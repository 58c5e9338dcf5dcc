// Module initialisation: the method table, and under Python 2.7 the error type.
#include "module.h"

// Documentation for Python 3's help() and inspect.signature (the first lines
// are the text signature, in the form CPython's own built-ins use). The
// Python 2.7 build documents nothing: COMPAT_DOC gives it NULL.
static const char module_doc[] =
    "Byte-string transforms: mt_xor_bytes XORs data with an MT19937 key stream seeded from\n"
    "three 32-bit words, and bf_process enciphers or deciphers data with Blowfish in ECB\n"
    "mode under a 56-byte key of 14 integers. Both return bytes of the data's length, or\n"
    "write them into a caller's buffer (output=). Neither protects new data: MT19937 is no\n"
    "cryptographic generator, and ECB shows equal blocks as equal.";

static const char mt_xor_bytes_doc[] =
    "mt_xor_bytes(data, seed0, seed1, seed2, offset, /, *, output=None)\n"
    "--\n"
    "\n"
    "Return data XORed with an MT19937 key stream, as bytes of the same length.\n"
    "\n"
    "The generator is seeded with init_by_array([seed0, seed1, seed2]); the seeds and\n"
    "offset are integers, each taken modulo 2**32. The key stream starts at output\n"
    "number offset (0 to 623; any other offset starts at output 624), each 32-bit\n"
    "output giving four bytes, least significant first. The same call on the result\n"
    "gives data back.\n"
    "\n"
    "data is a str (encoded as UTF-8) or any C-contiguous bytes-like object. With\n"
    "output, a writable C-contiguous buffer of data's length (it may be data itself),\n"
    "the result is written there and None is returned.\n"
    "\n"
    "Raises TypeError for arguments of the wrong type or number and for a read-only\n"
    "output; BufferError (or TypeError) for a buffer that is not C-contiguous or is\n"
    "resized during the call; ValueError for an output of another length or one that\n"
    "overlaps data without being the same memory; OverflowError for data of 2**31\n"
    "bytes or more; MemoryError.";

static const char bf_process_doc[] =
    "bf_process(data, vals14, encrypt, /, *, output=None)\n"
    "--\n"
    "\n"
    "Return data enciphered (encrypt non-zero) or deciphered (encrypt 0) with Blowfish\n"
    "in ECB mode, as bytes of the same length.\n"
    "\n"
    "vals14 is a sequence of 14 integers: the low 32 bits of each, least significant\n"
    "byte first, make the 56-byte key (a float item is truncated toward zero). The two\n"
    "32-bit halves of each 8-byte block are read and written least significant byte\n"
    "first. A final block of fewer than 8 bytes is zero-filled, transformed and cut\n"
    "back to its length, so unlike whole blocks it does not round-trip.\n"
    "\n"
    "data is a str (encoded as UTF-8) or any C-contiguous bytes-like object. With\n"
    "output, a writable C-contiguous buffer of data's length (it may be data itself),\n"
    "the result is written there and None is returned.\n"
    "\n"
    "Raises ValueError if vals14 is not a sequence of exactly 14 items (an interrupt\n"
    "raised by its __len__ goes through); the item's own error (TypeError,\n"
    "OverflowError, ValueError for a NaN) for an item that is not a number from -2**63\n"
    "to 2**64 - 1; TypeError for other arguments of the wrong type or number and for a\n"
    "read-only output; BufferError (or TypeError) for a buffer that is not C-contiguous\n"
    "or is resized during the call; ValueError for an output of another length or one\n"
    "that overlaps data without being the same memory; OverflowError for data of 2**31\n"
    "bytes or more; MemoryError.";

// Python 3's entry functions also take the keywords (METH_KEYWORDS).
#define ENTRY(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

static PyMethodDef method_table[] = {
    {"mt_xor_bytes", ENTRY(py_mt_xor_bytes), COMPAT_METH_FLAGS, COMPAT_DOC(mt_xor_bytes_doc)},
    {"bf_process", ENTRY(py_bf_process), COMPAT_METH_FLAGS, COMPAT_DOC(bf_process_doc)},
    {NULL, NULL, 0, NULL},
};

// The loader finds the initialisation function by name; it is the library's
// only export.
#if PY_MAJOR_VERSION >= 3

#ifndef VAVIREREZI_VERSION
#error "VAVIREREZI_VERSION (the package version, from setup.cfg) must be defined"
#endif

// Multi-phase initialisation (PEP 489): the interpreter makes the module
// object from this definition for each import, in each interpreter, and the
// module keeps no state of its own (m_size 0): every call builds its state
// from its arguments, and its errors are the interpreter's own classes.
static int module_exec(PyObject *module) {
    return PyModule_AddStringConstant(module, "__version__", VAVIREREZI_VERSION);
}

static PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void *>(module_exec)},
#ifdef Py_mod_multiple_interpreters
    // Nothing is shared between interpreters, so each may have its own GIL.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#ifdef Py_mod_gil
    // Nothing is shared between calls either (no module state, no caches),
    // so a free-threaded interpreter need not take the GIL for us.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "vavirerezi", module_doc, 0,    method_table,
    module_slots,          NULL,         NULL,       NULL,
};

extern "C" __attribute__((visibility("default"))) PyObject *PyInit_vavirerezi(void) {
    return PyModuleDef_Init(&module_def);
}

#else

PyObject *error_type = NULL;

// Resolves the built-in ValueError for our own errors, on the first
// initialisation only: once set, error_type never changes and is never null
// (a second initialisation, from a load under another name or in another
// interpreter, keeps it). If the name cannot be found, a class of our own
// stands in, made with the lookup's error set aside and then restored, so
// that it is still pending and the loader reports the import as failed. If
// the name holds something other than an exception class (rebound by Python
// code), raising it would fail, so the interpreter's own ValueError stands in.
static void resolve_error_type(void) {
    if (error_type != NULL)
        return;
    PyObject *found = NULL;
    PyObject *builtins = PyImport_ImportModule("exceptions");
    if (builtins != NULL) {
        found = PyObject_GetAttrString(builtins, "ValueError"); // owned for good
        Py_DecRef(builtins);
    }
    if (found != NULL && !PyExceptionClass_Check(found)) {
        Py_DecRef(found);
        Py_IncRef(PyExc_ValueError);
        found = PyExc_ValueError;
    }
    if (found == NULL) {
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        found = PyErr_NewException(const_cast<char *>("vavirerezi.ValueError"), NULL, NULL);
        if (found == NULL) { // not even that: the built-in class, never null
            Py_IncRef(PyExc_ValueError);
            found = PyExc_ValueError;
        }
        PyErr_Restore(type, value, traceback);
    }
    error_type = found;
}

extern "C" __attribute__((visibility("default"))) void initvavirerezi(void) {
    resolve_error_type();
    Py_InitModule4("vavirerezi", method_table, NULL, NULL, PYTHON_API_VERSION);
}

#endif
