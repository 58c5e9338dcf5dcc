// Python 3: argument intake and conversion with errors that name the callable.
#include "arguments.h"

#if PY_MAJOR_VERSION >= 3

namespace {

int wrong_count(const char *name, Py_ssize_t count, Py_ssize_t given) {
    if (count == 0)
        PyErr_Format(PyExc_TypeError, "%s() takes no arguments (%zd given)", name, given);
    else
        PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd positional argument%s (%zd given)",
                     name, count, count == 1 ? "" : "s", given);
    return -1;
}

} // namespace

int parse_arguments(const char *name, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                    Py_ssize_t count, PyObject **positional, PyObject **output) {
    if (nargs != count)
        return wrong_count(name, count, nargs);
    for (Py_ssize_t i = 0; i < count; i++)
        positional[i] = args[i];
    if (output != NULL)
        *output = NULL;
    Py_ssize_t nkw = kwnames == NULL ? 0 : PyTuple_GET_SIZE(kwnames);
    if (nkw > 0 && output == NULL) {
        PyErr_Format(PyExc_TypeError, "%s() takes no keyword arguments", name);
        return -1;
    }
    for (Py_ssize_t i = 0; i < nkw; i++) {
        PyObject *keyword = PyTuple_GET_ITEM(kwnames, i); // a str, as the call made it
        if (PyUnicode_CompareWithASCIIString(keyword, "output") != 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", name,
                         keyword);
            return -1;
        }
        *output = args[nargs + i];
    }
    return 0;
}

int parse_constructor_arguments(const char *name, PyObject *args, PyObject *kwargs,
                                Py_ssize_t count, PyObject **positional) {
    if (kwargs != NULL && PyDict_Size(kwargs) > 0) {
        PyErr_Format(PyExc_TypeError, "%s() takes no keyword arguments", name);
        return -1;
    }
    if (PyTuple_GET_SIZE(args) != count)
        return wrong_count(name, count, PyTuple_GET_SIZE(args));
    for (Py_ssize_t i = 0; i < count; i++)
        positional[i] = PyTuple_GET_ITEM(args, i);
    return 0;
}

int u32_argument(const char *name, int position, PyObject *arg, uint32_t *value) {
    if (!PyLong_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "%s() argument %d must be int, not %.100s", name, position,
                     Py_TYPE(arg)->tp_name);
        return -1;
    }
    unsigned long v = PyLong_AsUnsignedLongMask(arg);
    if (v == static_cast<unsigned long>(-1) && PyErr_Occurred())
        return -1;
    *value = static_cast<uint32_t>(v);
    return 0;
}

int position_argument(const char *name, PyObject *arg, uint64_t *value) {
    if (!PyLong_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "%s() argument must be int, not %.100s", name,
                     Py_TYPE(arg)->tp_name);
        return -1;
    }
    int overflow;
    long long signed_value = PyLong_AsLongLongAndOverflow(arg, &overflow);
    if (signed_value == -1 && PyErr_Occurred())
        return -1;
    if (overflow < 0 || (overflow == 0 && signed_value < 0)) {
        PyErr_Format(PyExc_ValueError, "%s() argument must not be negative", name);
        return -1;
    }
    unsigned long long v = PyLong_AsUnsignedLongLong(arg);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Format(PyExc_OverflowError, "%s() argument must be below 2**64", name);
        return -1;
    }
    *value = v;
    return 0;
}

int int_argument(const char *name, int position, PyObject *arg, int *value) {
    if (PyArg_Parse(arg, "i", value))
        return 0;
    char what[32];
    PyOS_snprintf(what, sizeof what, "argument %d", position);
    prefix_argument_error(name, what);
    return -1;
}

void prefix_argument_error(const char *name, const char *what) {
    PyObject *type = PyErr_Occurred();
    if (type != PyExc_TypeError && type != PyExc_ValueError && type != PyExc_OverflowError &&
        type != PyExc_BufferError)
        return;
    PyObject *error = compat_take_error(); // owned
    if (error == NULL)
        return;
    PyObject *message = PyObject_Str(error); // owned
    if (message == NULL) {
        PyErr_Clear();
        compat_give_error(error);
        return;
    }
    PyErr_Format(reinterpret_cast<PyObject *>(Py_TYPE(error)), "%s() %s: %U", name, what, message);
    Py_DECREF(message);
    Py_DECREF(error);
}

#endif
