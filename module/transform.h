// Python 3: one transform of a caller's data, the single path of the module's
// functions and of the objects' methods: the data and output= intake, the
// result, and the work, run without the interpreter lock for large data.
#ifndef VAVIREREZI_TRANSFORM_H
#define VAVIREREZI_TRANSFORM_H

#include "compat.h"

#if PY_MAJOR_VERSION >= 3

#include "object_lock.h"
#include "../common/wipe.h"

// What one call holds. Zero-initialised (Transfer t{}) it holds nothing, and
// transfer_close may be called on it at any point.
struct Transfer {
    Py_buffer data_view; // while data_held
    bool data_held;      // false for a str, whose UTF-8 form the str keeps
    const uint8_t *in;
    size_t len;
    Py_buffer out_view; // the caller's output=, while out_held
    bool out_held;
    uint8_t *out;
    PyObject *result; // the bytes object made for the result, owned until handed over
};

// Takes `data`, argument 1 of `name` (a str as its UTF-8 encoding, or any
// object with a C-contiguous buffer), then the caller's `output` (NULL or
// None: a bytes object will be made; else a writable C-contiguous buffer of
// the data's length, the very memory of the data or apart from it), each
// held until the transfer is closed. Returns 0, or -1 with the error set
// (TypeError, BufferError, ValueError; a str's UnicodeEncodeError as it is)
// and the transfer closed.
int transfer_open(Transfer *t, const char *name, PyObject *data, PyObject *output);

// Releases what the transfer holds and drops a result not handed over.
void transfer_close(Transfer *t);

// Makes the bytes object for the result unless output= was given. Returns 0,
// or -1 with MemoryError set.
int transfer_make_result(Transfer *t);

// Runs `work(in, out, len)` on the data, without the interpreter lock from
// `gil_release_min` bytes on and holding `lock` if there is one (see
// run_without_gil), then closes the transfer. Returns the result (None once
// output= holds it), or NULL with the error set.
template <typename Work>
PyObject *transfer_run(Transfer *t, size_t gil_release_min, ObjectLock *lock, Work &&work) {
    if (transfer_make_result(t) < 0) {
        transfer_close(t);
        return NULL;
    }
    run_without_gil(t->len >= gil_release_min, lock, [&] { work(t->in, t->out, t->len); });
    PyObject *result = t->result;
    t->result = NULL;
    if (result == NULL) { // written into output=
        result = Py_None;
        Py_INCREF(result);
    }
    transfer_close(t);
    return result;
}

// A one-shot call over an open transfer: a working State from PyMem_Malloc,
// set up by `setup(state)` and used by `run(state)`, which gives the result;
// the state wiped and freed on every way out. Returns the result, or NULL
// with the error set (MemoryError: the transfer closed).
template <typename State, typename Setup, typename Run>
PyObject *transfer_one_shot(Transfer *t, Setup &&setup, Run &&run) {
    State *state = static_cast<State *>(PyMem_Malloc(sizeof(State)));
    if (state == NULL) {
        transfer_close(t);
        return PyErr_NoMemory();
    }
    setup(state);
    PyObject *result = run(state);
    wipe(state, sizeof *state);
    PyMem_Free(state);
    return result;
}

#endif

#endif
