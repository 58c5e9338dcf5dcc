// The few places where the Python 2.7 and Python 3 C APIs differ for this
// module, each behind one name, so that the binding has a single source.
//
// Under Python 3 the "#" argument formats need PY_SSIZE_T_CLEAN, so lengths
// arrive as Py_ssize_t and are refused above INT_MAX here, with the same
// OverflowError that Python 2.7's parser raises for the int-sized form.
#ifndef VAVIREREZI_COMPAT_H
#define VAVIREREZI_COMPAT_H

#include <patchlevel.h> // PY_MAJOR_VERSION, before Python.h

#if PY_MAJOR_VERSION >= 3
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <climits>

#if PY_MAJOR_VERSION >= 3

typedef Py_ssize_t compat_length; // the length that "s#" stores

// Returns 0, or -1 with OverflowError set when `len` does not fit an int.
inline int compat_check_length(compat_length len) {
    if (len > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "size does not fit in an int");
        return -1;
    }
    return 0;
}

inline PyObject *compat_bytes(const char *data, compat_length len) {
    return PyBytes_FromStringAndSize(data, len);
}

// The signed conversion of an object that is not an unsigned integer: like
// Python 2.7's PyInt_AsLong, anything with an integer conversion (a float is
// truncated), but not a string, which PyNumber_Long would parse.
inline long compat_as_long(PyObject *item) {
    PyNumberMethods *nb = Py_TYPE(item)->tp_as_number;
    if (PyLong_Check(item))
        return PyLong_AsLong(item);
    if (nb == NULL || (nb->nb_int == NULL && nb->nb_index == NULL)) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return -1;
    }
    PyObject *as_long = PyNumber_Long(item); // new reference
    if (as_long == NULL)
        return -1;
    long v = PyLong_AsLong(as_long);
    Py_DecRef(as_long);
    return v;
}

#define COMPAT_BUILTINS_MODULE "builtins"

#else

typedef int compat_length;

inline int compat_check_length(compat_length) {
    return 0; // the parser has refused anything longer
}

inline PyObject *compat_bytes(const char *data, compat_length len) {
    return PyString_FromStringAndSize(data, len);
}

inline long compat_as_long(PyObject *item) {
    return PyInt_AsLong(item);
}

#define COMPAT_BUILTINS_MODULE "exceptions"

#endif

#endif
