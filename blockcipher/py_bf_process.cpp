// bf_process(data, vals14, encrypt): Blowfish in ECB mode over a whole string,
// under a 56-byte key given as 14 integers.
#include <cstring>

#include "../module/module.h"
#include "blowfish.h"
#include "bytes.h"

namespace {

constexpr Py_ssize_t key_words = 14;
constexpr char bad_key_message[] = "vals14 must be a sequence of exactly 14 ints";

// Converts one key item to a word: its low 32 bits, accepting unsigned values
// up to 2^32 - 1 and anything the interpreter's integer conversion takes
// (negative integers in two's complement, floats truncated toward zero).
// Returns 0, or -1 with the conversion's exception set when the item has no
// integer value or does not fit a C long.
int value_to_u32(PyObject *item, uint32_t *word) {
    unsigned long u = PyLong_AsUnsignedLong(item);
    if (!(u == static_cast<unsigned long>(-1) && PyErr_Occurred())) {
        *word = static_cast<uint32_t>(u);
        return 0;
    }
    PyErr_Clear();
    long s = compat_as_long(item);
    if (s == -1 && PyErr_Occurred())
        return -1;
    *word = static_cast<uint32_t>(static_cast<unsigned long>(s));
    return 0;
}

} // namespace

PyObject *py_bf_process(PyObject *self, PyObject *args) {
    (void)self;
    const char *data;
    compat_length len;
    PyObject *vals14; // borrowed from args
    int encrypt;
    if (!PyArg_ParseTuple(args, "s#Oi", &data, &len, &vals14, &encrypt))
        return NULL;
    if (compat_check_length(len) < 0)
        return NULL;

    if (!PySequence_Check(vals14) || PySequence_Size(vals14) != key_words) {
        PyErr_SetString(error_type, bad_key_message);
        return NULL;
    }

    PyObject *result = NULL;
    BlowfishContext *context = NULL;
    uint8_t *out = NULL;
    uint8_t key[4 * key_words];

    context = static_cast<BlowfishContext *>(PyMem_Malloc(sizeof(BlowfishContext)));
    if (context == NULL) {
        PyErr_NoMemory();
        goto done;
    }
    for (Py_ssize_t i = 0; i < key_words; i++) {
        PyObject *item = PySequence_GetItem(vals14, i); // new reference
        if (item == NULL)
            goto done;
        uint32_t word;
        int rc = value_to_u32(item, &word);
        Py_DecRef(item);
        if (rc < 0)
            goto done;
        store32_le(key + 4 * i, word);
    }
    bf_key_setup(context, key, static_cast<int32_t>(sizeof key));

    // Fetching and converting the items may have run Python code, which can
    // resize or free the memory behind a buffer-like `data`: take the
    // pointer and length afresh now that no more Python code runs.
    if (!PyArg_Parse(PyTuple_GET_ITEM(args, 0), "s#", &data, &len) || compat_check_length(len) < 0)
        goto done;

    out = static_cast<uint8_t *>(PyMem_Malloc(len > 0 ? static_cast<size_t>(len) : 1));
    if (out == NULL) {
        PyErr_NoMemory();
        goto done;
    }
    {
        const uint8_t *in = reinterpret_cast<const uint8_t *>(data);
        size_t n = static_cast<size_t>(len);
        size_t o = n - n % 8;
        bf_crypt_blocks(in, context, out, n / 8, encrypt);
        if (o < n) {
            // The final partial block is zero-filled, transformed and cut back.
            uint8_t block[8] = {0};
            std::memcpy(block, in + o, n - o);
            bf_crypt_block(block, context, block, encrypt);
            std::memcpy(out + o, block, n - o);
        }
    }
    PyMem_Free(context);
    context = NULL;
    result = compat_bytes(reinterpret_cast<const char *>(out), len);

done:
    PyMem_Free(out);
    PyMem_Free(context);
    return result;
}
