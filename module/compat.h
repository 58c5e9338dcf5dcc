// The few places where the Python 2.7 and Python 3 builds differ, each behind
// one name, so that the binding has a single source.
//
// Data in. Python 2.7 takes `data` with the "s#" format, as it always has: a
// str, a unicode object in the default encoding, or a read-only
// single-segment buffer, as a pointer and an int length. Python 3 takes it
// with "s*": a str (as UTF-8) or any object with a C-contiguous buffer
// (bytes, bytearray, memoryview, array, mmap, ...), held for the whole call
// so that nothing can resize or free it meanwhile, and released on every
// path. Lengths above INT_MAX are refused under both, with the
// OverflowError that Python 2.7's parser raises.
//
// The interpreter lock. Python 3 releases it around the cores' work on data
// of at least a size that each function names, so that other threads run
// meanwhile (as hashlib and zlib do); only per-call state and the held buffer
// are touched there. Below that size the hand-over would cost more than it
// gives. Python 2.7 holds the lock for the whole call.
//
// Results out. Python 2.7 transforms into a buffer from PyMem_Malloc and
// copies it into a new string, as it always has. Python 3 makes the bytes object
// first and transforms straight into it: no second buffer of the data's size,
// no copy, and no fresh pages to fault in for the buffer on every call.
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

// The result: the bytes object itself, written in place.
struct CompatOutput {
    PyObject *object; // owned until compat_output_finish hands it over
    uint8_t *bytes;
};

// Returns 0, or -1 with MemoryError set.
inline int compat_output_new(CompatOutput *out, Py_ssize_t len) {
    out->object = PyBytes_FromStringAndSize(NULL, len);
    if (out->object == NULL)
        return -1;
    out->bytes = reinterpret_cast<uint8_t *>(PyBytes_AS_STRING(out->object));
    return 0;
}

// The result, a new reference (or NULL with the error set).
inline PyObject *compat_output_finish(CompatOutput *out, Py_ssize_t) {
    PyObject *result = out->object;
    out->object = NULL;
    return result;
}

// Drops what a failed call made; nothing once finished.
inline void compat_output_discard(CompatOutput *out) {
    Py_XDECREF(out->object);
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

#define COMPAT_BEGIN_UNLOCKED(len, min) {
#define COMPAT_END_UNLOCKED() }

#endif

#endif
