// The few places where the Python 2.7 and Python 3 builds differ, each behind
// one name, so that the binding has a single source: how data comes in, how
// results go out (Python 3 also into a caller's buffer), the argument
// parsing, the error type and context, and the interpreter lock. What each
// build accepts and raises is the README's API section.
#ifndef VAVIREREZI_COMPAT_H
#define VAVIREREZI_COMPAT_H

#include <patchlevel.h> // PY_MAJOR_VERSION, before Python.h

#if PY_MAJOR_VERSION >= 3
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <climits>
#include <cstdint>

#if PY_MAJOR_VERSION >= 3

// The data argument: the parser fills `view`; compat_data_open then sets
// `bytes` and `len`.
struct CompatData {
    Py_buffer view;
    const uint8_t *bytes;
    Py_ssize_t len;
};
#define COMPAT_DATA_FORMAT "s*"
#define COMPAT_DATA_ARGS(d) &(d).view

// The arguments: positional-only ones by FORMAT after the data, then the
// keyword-only `output`, with the function's NAME in the parser's messages.
// KEYWORDS names them ("" for each positional one) and ends with NULL.
#define COMPAT_METH_FLAGS (METH_VARARGS | METH_KEYWORDS)
#define COMPAT_PARSE(format, name, keywords, output, ...)                                          \
    PyArg_ParseTupleAndKeywords(args, kwargs, COMPAT_DATA_FORMAT format "|$O:" name,               \
                                const_cast<char **>(keywords), __VA_ARGS__, &(output))

// Called once the parser has succeeded. Returns 0, or -1 with OverflowError
// set (and the buffer released) when the data is longer than INT_MAX.
inline int compat_data_open(CompatData *d) {
    if (d->view.len > INT_MAX) {
        PyBuffer_Release(&d->view);
        PyErr_SetString(PyExc_OverflowError, "size does not fit in an int");
        return -1;
    }
    d->bytes = static_cast<const uint8_t *>(d->view.buf);
    d->len = d->view.len;
    return 0;
}

// After Python code has run (reading the key): the held buffer cannot have
// moved, so there is nothing to do.
inline int compat_data_refresh(PyObject *, CompatData *) {
    return 0;
}

inline void compat_data_close(CompatData *d) {
    PyBuffer_Release(&d->view);
}

// The result: a bytes object made for it and written in place, or, with
// output=, the caller's writable buffer, held for the call like `data`.
struct CompatOutput {
    PyObject *object; // the bytes object, owned until compat_output_finish hands it over
    Py_buffer view;   // the caller's buffer, while `held`
    bool held;
    uint8_t *bytes;
};

// Drops what a failed call made or held; nothing once finished.
inline void compat_output_discard(CompatOutput *out) {
    if (out->held) {
        PyBuffer_Release(&out->view);
        out->held = false;
    }
    Py_CLEAR(out->object);
}

// Takes the caller's `output` (NULL or None: a new bytes object will be made)
// for `data` in the function `name`. Refuses, with TypeError, anything but a
// writable buffer; with BufferError (or the exporter's TypeError) a buffer
// that is not C-contiguous; with ValueError one whose length differs from the
// data's or that overlaps the data without being the very same memory.
// Returns 0, or -1 with the error set and nothing held.
inline int compat_output_open(CompatOutput *out, PyObject *output, const CompatData *data,
                              const char *name) {
    *out = CompatOutput{};
    if (output == NULL || output == Py_None)
        return 0;
    const char *type_name = Py_TYPE(output)->tp_name;
    if (!PyObject_CheckBuffer(output)) {
        PyErr_Format(PyExc_TypeError,
                     "%s() argument 'output' must be a writable bytes-like object or None, "
                     "not %.100s",
                     name, type_name);
        return -1;
    }
    // Asked for as writable, so that an exporter of read-only memory refuses,
    // and with its strides, so that a strided buffer is refused here rather
    // than handed over as a copy that the result would never reach. A refusal
    // (BufferError from CPython's exporters, ValueError from PyPy's) of a
    // buffer that can be read is a read-only buffer.
    if (PyObject_GetBuffer(output, &out->view, PyBUF_STRIDES | PyBUF_WRITABLE) < 0) {
        if (!PyErr_ExceptionMatches(PyExc_BufferError) && !PyErr_ExceptionMatches(PyExc_ValueError))
            return -1; // the exporter's own error stands
        if (PyObject_GetBuffer(output, &out->view, PyBUF_STRIDES) < 0)
            return -1;
        PyBuffer_Release(&out->view);
        PyErr_Clear();
    } else {
        out->held = true;
    }
    const uint8_t *o = static_cast<const uint8_t *>(out->view.buf);
    const uintptr_t o_start = reinterpret_cast<uintptr_t>(o);
    const uintptr_t d_start = reinterpret_cast<uintptr_t>(data->bytes);
    const size_t n = static_cast<size_t>(data->len);
    if (!out->held || out->view.readonly)
        PyErr_Format(PyExc_TypeError,
                     "%s() argument 'output' must be a writable bytes-like object, not "
                     "read-only %.100s",
                     name, type_name);
    else if (!PyBuffer_IsContiguous(&out->view, 'C'))
        PyErr_Format(PyExc_BufferError, "%s() argument 'output' must be a C-contiguous buffer",
                     name);
    else if (out->view.len != data->len)
        PyErr_Format(PyExc_ValueError, "%s() output has %zd bytes, but data has %zd", name,
                     out->view.len, data->len);
    else if (n > 0 && o != data->bytes && o_start < d_start + n && d_start < o_start + n)
        PyErr_Format(PyExc_ValueError, "%s() output overlaps data without being the same memory",
                     name);
    else {
        out->bytes = static_cast<uint8_t *>(out->view.buf);
        return 0;
    }
    compat_output_discard(out);
    return -1;
}

// Returns 0, or -1 with MemoryError set. With output= there is nothing to make.
inline int compat_output_new(CompatOutput *out, Py_ssize_t len) {
    if (out->held)
        return 0;
    out->object = PyBytes_FromStringAndSize(NULL, len);
    if (out->object == NULL)
        return -1;
    out->bytes = reinterpret_cast<uint8_t *>(PyBytes_AS_STRING(out->object));
    return 0;
}

// The result, a new reference: the bytes object, or None once the caller's
// buffer holds it (released here).
inline PyObject *compat_output_finish(CompatOutput *out, Py_ssize_t) {
    if (out->held) {
        compat_output_discard(out);
        Py_RETURN_NONE;
    }
    PyObject *result = out->object;
    out->object = NULL;
    return result;
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

// The type of the module's own argument errors: the interpreter's ValueError
// itself, found without a lookup by name, so it needs no module state.
#define COMPAT_VALUE_ERROR PyExc_ValueError
#define COMPAT_DOC(text) text

// Raises `type` with `message` in place of the pending error, if any, which
// becomes its __context__, as a failure inside an except block would show it.
inline void compat_raise_replacing(PyObject *type, const char *message) {
#if PY_VERSION_HEX >= 0x030C0000
    PyObject *cause = PyErr_GetRaisedException(); // new reference or NULL
    PyErr_SetString(type, message);
    if (cause != NULL) {
        PyObject *raised = PyErr_GetRaisedException();
        PyException_SetContext(raised, cause); // steals cause
        PyErr_SetRaisedException(raised);      // steals raised
    }
#else
    PyObject *cause_type, *cause, *cause_tb;
    PyErr_Fetch(&cause_type, &cause, &cause_tb);
    PyErr_SetString(type, message);
    if (cause_type != NULL) {
        PyErr_NormalizeException(&cause_type, &cause, &cause_tb);
        if (cause_tb != NULL)
            PyException_SetTraceback(cause, cause_tb);
        PyObject *raised_type, *raised, *raised_tb;
        PyErr_Fetch(&raised_type, &raised, &raised_tb);
        PyErr_NormalizeException(&raised_type, &raised, &raised_tb);
        PyException_SetContext(raised, cause); // steals cause
        PyErr_Restore(raised_type, raised, raised_tb);
        Py_DECREF(cause_type);
        Py_XDECREF(cause_tb);
    }
#endif
}

#ifdef VAVIREREZI_NEVER_UNLOCK // the baseline of the threads benchmark
constexpr bool compat_may_unlock = false;
#else
constexpr bool compat_may_unlock = true;
#endif

// Brackets work on `len` bytes that touches no Python object, done without
// the lock when `len` is at least `min`; nothing between the two may return
// or jump out.
#define COMPAT_BEGIN_UNLOCKED(len, min)                                                            \
    {                                                                                              \
        PyThreadState *compat_saved_ =                                                             \
            compat_may_unlock && (len) >= (min) ? PyEval_SaveThread() : NULL;
#define COMPAT_END_UNLOCKED()                                                                      \
    if (compat_saved_ != NULL)                                                                     \
        PyEval_RestoreThread(compat_saved_);                                                       \
    }

#else

struct CompatData {
    const char *ptr;
    int len_int; // what "s#" stores
    const uint8_t *bytes;
    Py_ssize_t len;
};
#define COMPAT_DATA_FORMAT "s#"
#define COMPAT_DATA_ARGS(d) &(d).ptr, &(d).len_int

// Positional arguments alone, and messages that name no function.
#define COMPAT_METH_FLAGS METH_VARARGS
#define COMPAT_PARSE(format, name, keywords, output, ...)                                          \
    ((void)(keywords), (void)(output),                                                             \
     PyArg_ParseTuple(args, COMPAT_DATA_FORMAT format, __VA_ARGS__))

inline int compat_data_open(CompatData *d) {
    d->bytes = reinterpret_cast<const uint8_t *>(d->ptr);
    d->len = d->len_int; // the parser has refused anything longer than INT_MAX
    return 0;
}

// Python code run while the key was read (a sequence's __getitem__, an
// item's __int__) may have resized or freed the memory behind a buffer-like
// `data`: take the pointer and length afresh from the argument.
inline int compat_data_refresh(PyObject *arg, CompatData *d) {
    if (!PyArg_Parse(arg, COMPAT_DATA_FORMAT, COMPAT_DATA_ARGS(*d)))
        return -1;
    return compat_data_open(d);
}

inline void compat_data_close(CompatData *) {}

// The result: a buffer from PyMem_Malloc (one byte for empty data, so that no
// allocation of zero bytes is asked for), copied into a new string.
struct CompatOutput {
    uint8_t *bytes; // owned until compat_output_finish or _discard
};

// There is no output= here: every result is a new string.
inline int compat_output_open(CompatOutput *out, PyObject *, const CompatData *, const char *) {
    out->bytes = NULL;
    return 0;
}

inline int compat_output_new(CompatOutput *out, Py_ssize_t len) {
    out->bytes = static_cast<uint8_t *>(PyMem_Malloc(len > 0 ? static_cast<size_t>(len) : 1));
    if (out->bytes == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    return 0;
}

inline PyObject *compat_output_finish(CompatOutput *out, Py_ssize_t len) {
    PyObject *result = PyString_FromStringAndSize(reinterpret_cast<const char *>(out->bytes), len);
    PyMem_Free(out->bytes);
    out->bytes = NULL;
    return result;
}

inline void compat_output_discard(CompatOutput *out) {
    PyMem_Free(out->bytes);
}

inline long compat_as_long(PyObject *item) {
    return PyInt_AsLong(item);
}

// Resolved by name when the module is first initialised (module.cpp).
#define COMPAT_VALUE_ERROR error_type
#define COMPAT_DOC(text) NULL

// Python 2.7 has no exception context: the pending error is replaced.
inline void compat_raise_replacing(PyObject *type, const char *message) {
    PyErr_SetString(type, message);
}

#define COMPAT_BEGIN_UNLOCKED(len, min) {
#define COMPAT_END_UNLOCKED() }

#endif

// Whether the pending error must reach the caller whatever the call was
// doing: an interrupt (Ctrl-C), an exit request, or memory running out.
inline bool compat_error_is_fatal() {
    return PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) ||
           PyErr_ExceptionMatches(PyExc_SystemExit) || PyErr_ExceptionMatches(PyExc_MemoryError);
}

#endif
