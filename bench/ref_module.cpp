// vavirerezi_ref: the two module functions written reference style, for the
// interpreter-level benchmark: a generator word at a time, a cipher block at
// a time, everything else as in the real module.
#include <Python.h>

#include <cstring>

#include "blowfish_tables.h"
#include "reference/bf_reference.h"
#include "reference/mt_reference.h"

static PyObject *ref_mt_xor_bytes(PyObject *, PyObject *args) {
    const char *data;
    int len;
    unsigned long s0, s1, s2, offset;
    if (!PyArg_ParseTuple(args, "s#kkkk", &data, &len, &s0, &s1, &s2, &offset))
        return NULL;
    uint8_t *out = static_cast<uint8_t *>(PyMem_Malloc(len > 0 ? len : 1));
    if (out == NULL)
        return PyErr_NoMemory();
    const uint32_t key[3] = {uint32_t(s0), uint32_t(s1), uint32_t(s2)};
    ref_mt_xor(key, uint32_t(offset), reinterpret_cast<const uint8_t *>(data), out, size_t(len));
    PyObject *result = PyString_FromStringAndSize(reinterpret_cast<char *>(out), len);
    PyMem_Free(out);
    return result;
}

static PyObject *ref_bf_process(PyObject *, PyObject *args) {
    const char *data;
    int len, encrypt;
    PyObject *vals;
    if (!PyArg_ParseTuple(args, "s#Oi", &data, &len, &vals, &encrypt))
        return NULL;
    if (!PySequence_Check(vals) || PySequence_Size(vals) != 14) {
        PyErr_SetString(PyExc_ValueError, "vals14 must be a sequence of exactly 14 ints");
        return NULL;
    }
    uint8_t key[56];
    for (int i = 0; i < 14; i++) {
        PyObject *item = PySequence_GetItem(vals, i);
        if (item == NULL)
            return NULL;
        unsigned long w = PyInt_AsUnsignedLongMask(item);
        Py_DECREF(item);
        if (PyErr_Occurred())
            return NULL;
        for (int b = 0; b < 4; b++)
            key[4 * i + b] = uint8_t(w >> (8 * b));
    }
    RefBlowfish *ctx = static_cast<RefBlowfish *>(PyMem_Malloc(sizeof(RefBlowfish)));
    uint8_t *out = static_cast<uint8_t *>(PyMem_Malloc(len > 0 ? len : 1));
    if (ctx == NULL || out == NULL) {
        PyMem_Free(ctx);
        PyMem_Free(out);
        return PyErr_NoMemory();
    }
    ref_bf_init(ctx, bf_initial_p, bf_initial_s, key, 56);
    const uint8_t *in = reinterpret_cast<const uint8_t *>(data);
    size_t n = size_t(len), whole = n / 8;
    ref_bf_ecb(ctx, in, out, whole, encrypt);
    if (n % 8) {
        uint8_t block[8] = {0};
        std::memcpy(block, in + 8 * whole, n % 8);
        ref_bf_ecb(ctx, block, block, 1, encrypt);
        std::memcpy(out + 8 * whole, block, n % 8);
    }
    PyMem_Free(ctx);
    PyObject *result = PyString_FromStringAndSize(reinterpret_cast<char *>(out), len);
    PyMem_Free(out);
    return result;
}

static PyMethodDef ref_methods[] = {
    {"mt_xor_bytes", ref_mt_xor_bytes, METH_VARARGS, NULL},
    {"bf_process", ref_bf_process, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

extern "C" __attribute__((visibility("default"))) void initvavirerezi_ref(void) {
    Py_InitModule("vavirerezi_ref", ref_methods);
}
