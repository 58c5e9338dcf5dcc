// Python 3: the data and output= intake of a transform, and its result.
#include "transform.h"

#include "arguments.h"

#if PY_MAJOR_VERSION >= 3

// Takes `data`: a str as its UTF-8 encoding, or any object with a
// C-contiguous buffer, held until the transfer is closed. Returns 0, or -1
// with the error set (the conversion's TypeError or BufferError prefixed with
// the name; a str's UnicodeEncodeError as it is).
static int transfer_open_data(Transfer *t, const char *name, PyObject *data) {
    if (PyUnicode_Check(data)) {
        Py_ssize_t len;
        const char *text = PyUnicode_AsUTF8AndSize(data, &len);
        if (text == NULL)
            return -1;
        t->in = reinterpret_cast<const uint8_t *>(text);
        t->len = static_cast<size_t>(len);
        return 0;
    }
    if (!PyObject_CheckBuffer(data)) {
        PyErr_Format(PyExc_TypeError,
                     "%s() argument 1 must be str or a bytes-like object, not %.100s", name,
                     Py_TYPE(data)->tp_name);
        return -1;
    }
    // Asked for with its strides and then checked, since PyPy hands a strided
    // buffer over as a contiguous copy to a plain request.
    if (PyObject_GetBuffer(data, &t->data_view, PyBUF_STRIDES) < 0) {
        prefix_argument_error(name, "argument 1");
        return -1;
    }
    t->data_held = true;
    if (!PyBuffer_IsContiguous(&t->data_view, 'C')) {
        PyErr_Format(PyExc_BufferError, "%s() argument 1 must be a C-contiguous buffer", name);
        return -1;
    }
    t->in = static_cast<const uint8_t *>(t->data_view.buf);
    t->len = static_cast<size_t>(t->data_view.len);
    return 0;
}

// Takes the caller's `output` once the data is taken. Refuses, with
// TypeError, anything but a writable buffer; with BufferError a buffer that is
// not C-contiguous; with ValueError one whose length differs from the data's
// or that overlaps the data without being the very same memory. Returns 0, or
// -1 with the error set and the output not held.
static int transfer_open_output(Transfer *t, const char *name, PyObject *output) {
    if (output == NULL || output == Py_None)
        return 0;
    // Asked for once, as writable (so that an exporter of read-only memory
    // refuses) and with its strides (so that a strided buffer is refused
    // below rather than handed over as a copy that the result would never
    // reach). A refusal (BufferError from CPython's exporters, ValueError from
    // PyPy's) is worded as the interpreter's own conversion of a writable
    // buffer words it; an exporter's other errors (an interrupt, a released
    // memoryview) go on, prefixed.
    Py_buffer *view = &t->out_view;
    const char *type_name = Py_TYPE(output)->tp_name;
    if (PyObject_CheckBuffer(output)) {
        if (PyObject_GetBuffer(output, view, PyBUF_STRIDES | PyBUF_WRITABLE) == 0) {
            t->out_held = true;
        } else {
            bool refused = PyErr_ExceptionMatches(PyExc_BufferError);
#ifdef PYPY_VERSION
            refused = refused || PyErr_ExceptionMatches(PyExc_ValueError);
#endif
            if (!refused) {
                prefix_argument_error(name, "argument 'output'");
                return -1;
            }
            PyErr_Clear();
        }
    }
    const uint8_t *o = t->out_held ? static_cast<const uint8_t *>(view->buf) : NULL;
    const uintptr_t o_start = reinterpret_cast<uintptr_t>(o);
    const uintptr_t d_start = reinterpret_cast<uintptr_t>(t->in);
    const size_t n = t->len;
    if (!t->out_held || view->readonly)
        PyErr_Format(PyExc_TypeError,
                     "%s() argument 'output' must be read-write bytes-like object or None, not "
                     "%.100s",
                     name, type_name);
    else if (!PyBuffer_IsContiguous(view, 'C'))
        PyErr_Format(PyExc_BufferError, "%s() argument 'output' must be a C-contiguous buffer",
                     name);
    else if (static_cast<size_t>(view->len) != n)
        PyErr_Format(PyExc_ValueError, "%s() output has %zd bytes, but data has %zu", name,
                     view->len, n);
    else if (n > 0 && o != t->in && o_start < d_start + n && d_start < o_start + n)
        PyErr_Format(PyExc_ValueError, "%s() output overlaps data without being the same memory",
                     name);
    else {
        t->out = static_cast<uint8_t *>(view->buf);
        return 0;
    }
    if (t->out_held)
        PyBuffer_Release(view);
    t->out_held = false;
    return -1;
}

int transfer_open(Transfer *t, const char *name, PyObject *data, PyObject *output) {
    if (transfer_open_data(t, name, data) == 0 && transfer_open_output(t, name, output) == 0)
        return 0;
    transfer_close(t);
    return -1;
}

void transfer_close(Transfer *t) {
    if (t->out_held)
        PyBuffer_Release(&t->out_view);
    t->out_held = false;
    if (t->data_held)
        PyBuffer_Release(&t->data_view);
    t->data_held = false;
    Py_CLEAR(t->result);
}

int transfer_make_result(Transfer *t) {
    if (t->out_held)
        return 0;
    t->result = PyBytes_FromStringAndSize(NULL, static_cast<Py_ssize_t>(t->len));
    if (t->result == NULL)
        return -1;
    t->out = reinterpret_cast<uint8_t *>(PyBytes_AS_STRING(t->result));
    return 0;
}

#endif
