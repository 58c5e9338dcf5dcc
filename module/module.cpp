// Module initialisation: resolves the error type and registers the methods.
#include "module.h"

// Documentation for Python 3's help() and inspect.signature (the first lines
// are the text signature, in the form CPython's own built-ins use). The
// Python 2.7 build documents nothing: COMPAT_DOC gives it NULL.
static const char module_doc[] =
    "Byte-string transforms: mt_xor_bytes XORs data with an MT19937 key stream seeded from\n"
    "three 32-bit words, and bf_process enciphers or deciphers data with Blowfish in ECB\n"
    "mode under a 56-byte key of 14 integers. Both return bytes of the data's length.";

static const char mt_xor_bytes_doc[] =
    "mt_xor_bytes(data, seed0, seed1, seed2, offset, /)\n"
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
    "data is a str (encoded as UTF-8) or any C-contiguous bytes-like object. Raises\n"
    "TypeError for arguments of the wrong type or number, and OverflowError for data\n"
    "of 2**31 bytes or more.";

static const char bf_process_doc[] =
    "bf_process(data, vals14, encrypt, /)\n"
    "--\n"
    "\n"
    "Return data enciphered (encrypt non-zero) or deciphered (encrypt 0) with Blowfish\n"
    "in ECB mode, as bytes of the same length.\n"
    "\n"
    "vals14 is a sequence of 14 integers: the low 32 bits of each, least significant\n"
    "byte first, make the 56-byte key. The two 32-bit halves of each 8-byte block are\n"
    "read and written least significant byte first. A final block of fewer than 8\n"
    "bytes is zero-filled, transformed and cut back to its length, so unlike whole\n"
    "blocks it does not round-trip.\n"
    "\n"
    "data is a str (encoded as UTF-8) or any C-contiguous bytes-like object. Raises\n"
    "ValueError if vals14 is not a sequence of exactly 14 items; the item's own error\n"
    "(TypeError, OverflowError) for an item that is not an integer from -2**63 to\n"
    "2**64 - 1; TypeError for other arguments of the wrong type or number; and\n"
    "OverflowError for data of 2**31 bytes or more.";

static PyMethodDef method_table[] = {
    {"mt_xor_bytes", py_mt_xor_bytes, METH_VARARGS, COMPAT_DOC(mt_xor_bytes_doc)},
    {"bf_process", py_bf_process, METH_VARARGS, COMPAT_DOC(bf_process_doc)},
    {NULL, NULL, 0, NULL},
};

// The loader finds the initialisation function by name; it is the library's
// only export.
#if PY_MAJOR_VERSION >= 3

#ifndef VAVIREREZI_VERSION
#error "VAVIREREZI_VERSION (the package version, from setup.cfg) must be defined"
#endif

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "vavirerezi", module_doc, -1, method_table, NULL, NULL, NULL, NULL,
};

extern "C" __attribute__((visibility("default"))) PyObject *PyInit_vavirerezi(void) {
    PyObject *module = PyModule_Create(&module_def);
    if (module != NULL && PyModule_AddStringConstant(module, "__version__", VAVIREREZI_VERSION) < 0)
        Py_CLEAR(module);
    return module;
}

#else

PyObject *error_type = NULL;

// Resolves the built-in ValueError for our own errors. If it cannot be
// found, a class of our own stands in; the failed lookup's error is left
// pending, so the loader still reports the import as failed. If the name
// holds something other than an exception class (rebound by Python code),
// raising it would fail, so the interpreter's own ValueError stands in.
static void resolve_error_type(void) {
    PyObject *builtins = PyImport_ImportModule("exceptions");
    if (builtins != NULL) {
        error_type = PyObject_GetAttrString(builtins, "ValueError"); // owned for good
        Py_DecRef(builtins);
    }
    if (error_type != NULL && !PyExceptionClass_Check(error_type)) {
        Py_DecRef(error_type);
        Py_IncRef(PyExc_ValueError);
        error_type = PyExc_ValueError;
    }
    if (error_type == NULL)
        error_type = PyErr_NewException((char *)"vavirerezi.ValueError", NULL, NULL);
}

extern "C" __attribute__((visibility("default"))) void initvavirerezi(void) {
    resolve_error_type();
    Py_InitModule4("vavirerezi", method_table, NULL, NULL, PYTHON_API_VERSION);
}

#endif
