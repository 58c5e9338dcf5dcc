// bf_process(data, vals14, encrypt): Blowfish in ECB mode over a whole string,
// under a 56-byte key given as 14 integers.
#include "../module/module.h"
#include "blowfish.h"
#include "../common/bytes.h"

namespace {

constexpr Py_ssize_t key_words = 14;
constexpr char bad_key_message[] = "vals14 must be a sequence of exactly 14 ints";

// From this size on (Python 3) other threads run during the key schedule and
// the blocks, which take tens of microseconds at the least.
constexpr Py_ssize_t unlocked_min = 8192;

// Keyword names for the Python 3 parser: three positional-only arguments.
[[maybe_unused]] const char *const keywords[] = {"", "", "", "output", NULL};

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

#if PY_MAJOR_VERSION >= 3
PyObject *py_bf_process(PyObject *self, PyObject *args, PyObject *kwargs) {
#else
PyObject *py_bf_process(PyObject *self, PyObject *args) {
#endif
    (void)self;
    CompatData data;
    PyObject *vals14;        // borrowed from args
    PyObject *output = NULL; // borrowed; Python 3's output= alone
    int encrypt;
    if (!COMPAT_PARSE("Oi", "bf_process", keywords, output, COMPAT_DATA_ARGS(data), &vals14,
                      &encrypt))
        return NULL;
    if (compat_data_open(&data) < 0)
        return NULL;

    PyObject *result = NULL;
    BlowfishContext *context = NULL;
    CompatOutput out;
    uint8_t key[4 * key_words];
    if (compat_output_open(&out, output, &data, "bf_process") < 0)
        goto done;

    if (!PySequence_Check(vals14)) {
        PyErr_SetString(COMPAT_VALUE_ERROR, bad_key_message);
        goto done;
    }
    if (Py_ssize_t n = PySequence_Size(vals14); n != key_words) {
        // An interrupt, an exit request or a MemoryError from __len__ goes
        // on to the caller; any other failure to take the length is a bad
        // key (under Python 3 the failure is the ValueError's __context__).
        if (n < 0 && PyErr_Occurred() && compat_error_is_fatal())
            goto done;
        compat_raise_replacing(COMPAT_VALUE_ERROR, bad_key_message);
        goto done;
    }

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
    // Fetching and converting the items ran Python code, which may have
    // changed what `data` refers to (see compat_data_refresh).
    if (compat_data_refresh(PyTuple_GET_ITEM(args, 0), &data) < 0)
        goto done;

    if (compat_output_new(&out, data.len) < 0)
        goto done;
    // From here on no Python object is touched: the key schedule and the
    // blocks may run without the interpreter lock.
    COMPAT_BEGIN_UNLOCKED(data.len, unlocked_min)
    bf_key_setup(context, key, static_cast<int32_t>(sizeof key));
    bf_crypt_bytes(data.bytes, context, out.bytes, static_cast<size_t>(data.len), encrypt);
    COMPAT_END_UNLOCKED()
    PyMem_Free(context);
    context = NULL;
    result = compat_output_finish(&out, data.len);

done:
    compat_output_discard(&out);
    PyMem_Free(context);
    compat_data_close(&data);
    return result;
}
