// Python 3: the arguments of the module's functions and methods, taken from
// the vector call (METH_FASTCALL | METH_KEYWORDS), and converted with errors
// that name the function. `name` is the callable as the messages name it:
// "bf_process", "MtKeyStream.xor".
#ifndef VAVIREREZI_ARGUMENTS_H
#define VAVIREREZI_ARGUMENTS_H

#include "compat.h"

#if PY_MAJOR_VERSION >= 3

// Exactly `count` positional arguments into `positional` (borrowed), and the
// keyword-only `output` into `*output` (borrowed; NULL when not given), or,
// with `output` NULL, no keywords at all. Returns 0, or -1 with TypeError set.
int parse_arguments(const char *name, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                    Py_ssize_t count, PyObject **positional, PyObject **output);

// The same for a constructor's argument tuple and keyword dictionary: exactly
// `count` positional arguments, no keywords.
int parse_constructor_arguments(const char *name, PyObject *args, PyObject *kwargs,
                                Py_ssize_t count, PyObject **positional);

// Argument `position` (from 1) as an integer taken modulo 2**32: an int or a
// bool, of any size; anything else is refused with TypeError. Returns 0, or
// -1 with the error set.
int u32_argument(const char *name, int position, PyObject *arg, uint32_t *value);

// The one argument of `name`, a byte count or position: an int from 0 to
// 2**64 - 1. Returns 0, or -1 with TypeError, ValueError (negative) or
// OverflowError set.
int position_argument(const char *name, PyObject *arg, uint64_t *value);

// Argument `position` as a C int, by the interpreter's own "i" conversion
// (what it accepts differs between versions); its errors are prefixed.
int int_argument(const char *name, int position, PyObject *arg, int *value);

// Puts "NAME() WHAT: " before the message of the pending error, when that is a
// TypeError, ValueError, OverflowError or BufferError itself (not a
// subclass, whose message may not be its argument): the errors that the
// interpreter's conversions raise without naming the callable.
void prefix_argument_error(const char *name, const char *what);

#endif

#endif
