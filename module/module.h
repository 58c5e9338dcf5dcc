// The interpreter binding: the error type and the module's entry functions.
#ifndef VAVIREREZI_MODULE_H
#define VAVIREREZI_MODULE_H

#include "compat.h"

#if PY_MAJOR_VERSION < 3
// The exception type raised for the module's own argument errors; resolved
// once when the module is imported and held for the life of the process.
// (Python 3 raises the interpreter's own ValueError: COMPAT_VALUE_ERROR.)
extern PyObject *error_type;
#endif

// Entry functions behind the module's methods. `self` is unused; `args` is the
// tuple of positional arguments, and under Python 3 `kwargs` the keywords
// (output= alone). Each returns a new reference, or NULL with the
// interpreter's error indicator set.
#if PY_MAJOR_VERSION >= 3
PyObject *py_mt_xor_bytes(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *py_bf_process(PyObject *self, PyObject *args, PyObject *kwargs);
#else
PyObject *py_mt_xor_bytes(PyObject *self, PyObject *args);
PyObject *py_bf_process(PyObject *self, PyObject *args);
#endif

#endif
