// The interpreter binding: the error type and the module's entry functions.
#ifndef VAVIREREZI_MODULE_H
#define VAVIREREZI_MODULE_H

#include "compat.h"

// The exception type raised for the module's own argument errors; resolved
// once when the module is imported and held for the life of the process.
extern PyObject *error_type;

// Entry functions behind the module's methods. `self` is unused; `args` is the
// tuple of positional arguments. Each returns a new reference, or NULL with
// the interpreter's error indicator set.
PyObject *py_mt_xor_bytes(PyObject *self, PyObject *args);
PyObject *py_bf_process(PyObject *self, PyObject *args);

#endif
