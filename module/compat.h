// What the binding's shared code needs to differ between the Python 2.7 and
// Python 3 builds, each behind one name: the interpreter's header, the
// integer conversion of a key item, and how a pending error is taken, given
// back and replaced. What each build accepts and raises is the README's API
// section.
#ifndef VAVIREREZI_COMPAT_H
#define VAVIREREZI_COMPAT_H

#include <patchlevel.h> // PY_MAJOR_VERSION, before Python.h

#if PY_MAJOR_VERSION >= 3
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <cstdint>

#if defined(VAVIREREZI_EXPECT_PY_DEBUG) && !defined(Py_DEBUG)
#error "built for a debug interpreter, whose headers must define Py_DEBUG (its pyconfig.h)"
#endif

#if PY_MAJOR_VERSION >= 3

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

// Takes the pending exception off the indicator, normalised, with its
// traceback: a new reference, or NULL when none is pending. Normalising runs
// the exception class with nothing pending. In the rare case that it cannot
// give an exception object, the error is left pending as it was, and NULL is
// returned with PyErr_Occurred() true.
inline PyObject *compat_take_error() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == NULL)
        return NULL;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value == NULL || !PyExceptionInstance_Check(value)) {
        PyErr_Restore(type, value, traceback);
        return NULL;
    }
    if (traceback != NULL)
        PyException_SetTraceback(value, traceback);
    Py_DECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

// Raises `exception`, as compat_take_error gave it (the reference is taken).
inline void compat_give_error(PyObject *exception) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(exception));
    Py_INCREF(type);
    PyErr_Restore(type, exception, PyException_GetTraceback(exception));
#endif
}

// Raises `type` with `message` in place of the pending error, if any, which
// becomes its __context__, as a failure inside an except block would show
// it. The pending error is normalised before the new one is set, so that no
// exception class runs while an error is pending.
inline void compat_raise_replacing(PyObject *type, const char *message) {
    PyObject *cause = compat_take_error(); // owned; NULL: none, or left pending
    PyErr_SetString(type, message);
    if (cause == NULL)
        return;
    PyObject *raised = compat_take_error();
    if (raised == NULL) {
        Py_DECREF(cause);
        return;
    }
    PyException_SetContext(raised, cause); // takes cause
    compat_give_error(raised);
}

#else

inline long compat_as_long(PyObject *item) {
    return PyInt_AsLong(item);
}

// Python 2.7 has no exception context: the pending error is replaced.
inline void compat_raise_replacing(PyObject *type, const char *message) {
    PyErr_SetString(type, message);
}

#endif

// Whether the pending error must reach the caller whatever the call was
// doing: an interrupt (Ctrl-C), an exit request, or memory running out.
inline bool compat_error_must_propagate() {
    return PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) ||
           PyErr_ExceptionMatches(PyExc_SystemExit) || PyErr_ExceptionMatches(PyExc_MemoryError);
}

#endif
