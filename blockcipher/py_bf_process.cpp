// bf_process(data, vals14, encrypt): Blowfish in ECB mode over a whole string,
// under a 56-byte key given as 14 integers; under Python 3 also BfCipher, the
// key scheduled once for any number of such transforms.
#include "../module/module.h"
#include "blowfish.h"
#include "../common/bytes.h"

namespace {

constexpr Py_ssize_t key_words = 14;
constexpr size_t key_bytes = 4 * key_words;
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

// Whether `vals14` is a sequence of exactly 14 items. Returns 0, or -1 with
// the bad-key ValueError set, or with what its __len__ raised where that is
// an interrupt, an exit request or a MemoryError, which go on to the caller.
// Any other failure to take the length is a bad key too (under Python 3 the
// failure is the ValueError's __context__).
int key_check(PyObject *vals14) {
    if (!PySequence_Check(vals14)) {
        PyErr_SetString(value_error_type(), bad_key_message);
        return -1;
    }
    Py_ssize_t n = PySequence_Size(vals14);
    if (n == key_words)
        return 0;
    if (!(n < 0 && PyErr_Occurred() && compat_error_must_propagate()))
        compat_raise_replacing(value_error_type(), bad_key_message);
    return -1;
}

#if PY_MAJOR_VERSION >= 3 && PY_VERSION_HEX >= 0x030B0000
// Notes on the pending error which item failed to convert (PEP 678), since
// the conversion's own message ("an integer is required") does not say.
void note_key_item(const char *name, Py_ssize_t i) {
    PyObject *error = compat_take_error(); // owned
    if (error == NULL)
        return;
    PyObject *note = PyUnicode_FromFormat("%s(): vals14[%zd] is not a usable key word", name, i);
    PyObject *done = note != NULL ? PyObject_CallMethod(error, "add_note", "O", note) : NULL;
    Py_XDECREF(note);
    Py_XDECREF(done);
    PyErr_Clear(); // a note that cannot be added is left out
    compat_give_error(error);
}
#else
void note_key_item(const char *, Py_ssize_t) {}
#endif

// The 56-byte key from the 14 items of `vals14` (checked by key_check): word
// i in bytes 4i to 4i+3, least significant byte first. Returns 0, or -1 with
// the error of the item that could not be fetched or converted set (`name`,
// the callable, goes into a note on a conversion's error).
int key_convert(const char *name, PyObject *vals14, uint8_t key[key_bytes]) {
    for (Py_ssize_t i = 0; i < key_words; i++) {
        PyObject *item = PySequence_GetItem(vals14, i); // new reference
        if (item == NULL)
            return -1;
        uint32_t word;
        int rc = value_to_u32(item, &word);
        Py_DecRef(item);
        if (rc < 0) {
            note_key_item(name, i);
            return -1;
        }
        store32_le(key + 4 * i, word);
    }
    return 0;
}

} // namespace

#if PY_MAJOR_VERSION >= 3

#include "../module/arguments.h"
#include "../module/transform.h"

namespace {

// From this size on other threads run while the blocks are transformed,
// which takes a few microseconds at the least.
constexpr size_t gil_release_min = 8192;

// The 56-byte key of `vals14`, checked and converted: Python code runs here
// (the key's __len__ and __getitem__, its items' conversions), so callers
// take it before they take any buffer. Returns 0, or -1 with the error set.
int cipher_key(const char *name, PyObject *vals14, uint8_t key[key_bytes]) {
    return key_check(vals14) < 0 || key_convert(name, vals14, key) < 0 ? -1 : 0;
}

// The transform of a keyed context over a transfer: the one path of
// bf_process and of BfCipher's methods.
PyObject *cipher_run(Transfer *t, const BlowfishContext *context, int encrypt) {
    return transfer_run(t, gil_release_min, NULL,
                        [context, encrypt](const uint8_t *in, uint8_t *out, size_t len) {
                            bf_crypt_bytes(in, context, out, len, encrypt);
                        });
}

} // namespace

// A one-shot BfCipher: the direction and the key first (they may run Python
// code), then a context from PyMem_Malloc keyed as a BfCipher is, the data
// and output= taken, the transform, and the context wiped and freed.
PyObject *py_bf_process(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                        PyObject *kwnames) {
    (void)self;
    constexpr const char *name = "bf_process";
    PyObject *arg[3], *output;
    int encrypt;
    uint8_t key[key_bytes];
    if (parse_arguments(name, args, nargs, kwnames, 3, arg, &output) < 0 ||
        int_argument(name, 3, arg[2], &encrypt) < 0 || cipher_key(name, arg[1], key) < 0)
        return NULL;
    BlowfishContext *context =
        static_cast<BlowfishContext *>(PyMem_Malloc(sizeof(BlowfishContext)));
    if (context == NULL) {
        wipe(key, sizeof key);
        return PyErr_NoMemory();
    }
    bf_key_setup(context, key, sizeof key);
    wipe(key, sizeof key);
    Transfer t{};
    PyObject *result = NULL;
    if (transfer_open(&t, name, arg[0], output) < 0)
        transfer_close(&t);
    else
        result = cipher_run(&t, context, encrypt);
    wipe(context, sizeof *context);
    PyMem_Free(context);
    return result;
}

// BfCipher: the scheduled key inside the object, unchanged after it is made
// (so threads share it without a lock) and wiped when the object goes.
namespace {

struct BfCipherObject {
    ObjectHead head; // kind: object_kind_bf_cipher
    BlowfishContext context;
};

PyObject *cipher_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    constexpr const char *name = "BfCipher";
    PyObject *vals14;
    uint8_t key[key_bytes];
    if (!object_new_check(type, cipher_new, name) ||
        parse_constructor_arguments(name, args, kwargs, 1, &vals14) < 0 ||
        cipher_key(name, vals14, key) < 0)
        return NULL;
    PyObject *self = type->tp_alloc(type, 0);
    if (self != NULL) {
        BfCipherObject *c = reinterpret_cast<BfCipherObject *>(self);
        bf_key_setup(&c->context, key, sizeof key);
        c->head.kind = object_kind_bf_cipher;
    }
    wipe(key, sizeof key);
    return self;
}

PyObject *cipher_transform(PyObject *self, const char *name, int encrypt, PyObject *const *args,
                           Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *data, *output;
    Transfer t{};
    if (!object_check(self, object_kind_bf_cipher, name, "BfCipher"))
        return NULL;
    if (parse_arguments(name, args, nargs, kwnames, 1, &data, &output) < 0 ||
        transfer_open(&t, name, data, output) < 0) {
        transfer_close(&t);
        return NULL;
    }
    return cipher_run(&t, &reinterpret_cast<BfCipherObject *>(self)->context, encrypt);
}

PyObject *cipher_encrypt(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                         PyObject *kwnames) {
    return cipher_transform(self, "BfCipher.encrypt", 1, args, nargs, kwnames);
}

PyObject *cipher_decrypt(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                         PyObject *kwnames) {
    return cipher_transform(self, "BfCipher.decrypt", 0, args, nargs, kwnames);
}

const char cipher_doc[] =
    "BfCipher(vals14, /)\n"
    "--\n"
    "\n"
    "Blowfish under the 56-byte key of vals14, scheduled once for any number of calls.\n"
    "\n"
    "vals14 is taken, checked and converted as by bf_process, with the same errors.\n"
    "encrypt(data) and decrypt(data) give what bf_process(data, vals14, 1) and\n"
    "bf_process(data, vals14, 0) give; the key never changes, so threads may share one\n"
    "BfCipher. Not picklable.";

const char cipher_encrypt_doc[] =
    "encrypt($self, data, /, *, output=None)\n"
    "--\n"
    "\n"
    "Return data enciphered in ECB mode, as bf_process(data, vals14, 1) returns it.\n"
    "\n"
    "Each 8-byte block is enciphered on its own, so pieces of whole blocks enciphered in\n"
    "turn give what one call over them gives; a final block of fewer than 8 bytes is\n"
    "zero-filled and cut back. With output, the result is written there and None is\n"
    "returned.";

const char cipher_decrypt_doc[] =
    "decrypt($self, data, /, *, output=None)\n"
    "--\n"
    "\n"
    "Return data deciphered in ECB mode, as bf_process(data, vals14, 0) returns it.\n"
    "\n"
    "With output, the result is written there and None is returned.";

PyMethodDef cipher_methods[] = {
    {"encrypt", VECTOR_ENTRY(cipher_encrypt), METH_FASTCALL | METH_KEYWORDS, cipher_encrypt_doc},
    {"decrypt", VECTOR_ENTRY(cipher_decrypt), METH_FASTCALL | METH_KEYWORDS, cipher_decrypt_doc},
    {"__reduce__", VECTOR_ENTRY(object_reduce), METH_FASTCALL | METH_KEYWORDS, NULL},
    {NULL, NULL, 0, NULL},
};

PyType_Slot cipher_slots[] = {
    {Py_tp_new, reinterpret_cast<void *>(cipher_new)},
    {Py_tp_dealloc, reinterpret_cast<void *>(object_dealloc)},
    {Py_tp_methods, cipher_methods},
    {Py_tp_doc, const_cast<char *>(cipher_doc)},
    {0, NULL},
};

} // namespace

void bf_cipher_clear(PyObject *self) {
    wipe(&reinterpret_cast<BfCipherObject *>(self)->context, sizeof(BlowfishContext));
}

PyType_Spec bf_cipher_spec = {
    "vavirerezi.BfCipher", sizeof(BfCipherObject), 0, object_type_flags, cipher_slots,
};

#else

// Python 2.7: the key checked, a context from PyMem_Malloc, the items converted and the key
// scheduled into it, then an output buffer copied into the result string.
PyObject *py_bf_process(PyObject *self, PyObject *args) {
    (void)self;
    const char *data;
    int len;
    PyObject *vals14; // borrowed from args
    int encrypt;
    if (!PyArg_ParseTuple(args, "s#Oi", &data, &len, &vals14, &encrypt))
        return NULL;
    if (key_check(vals14) < 0)
        return NULL;

    PyObject *result = NULL;
    uint8_t *output; // freed by string_result
    uint8_t key[key_bytes];
    BlowfishContext *context =
        static_cast<BlowfishContext *>(PyMem_Malloc(sizeof(BlowfishContext)));
    if (context == NULL)
        return PyErr_NoMemory();
    if (key_convert("bf_process", vals14, key) < 0)
        goto done;
    // Fetching and converting the items ran Python code, which may have
    // resized or freed the memory behind a buffer-like `data`: take the
    // pointer and length afresh from the argument.
    if (!PyArg_Parse(PyTuple_GET_ITEM(args, 0), "s#", &data, &len))
        goto done;
    bf_key_setup(context, key, static_cast<int32_t>(sizeof key));

    output = output_buffer(len);
    if (output != NULL) {
        bf_crypt_bytes(reinterpret_cast<const uint8_t *>(data), context, output,
                       static_cast<size_t>(len), encrypt);
        PyMem_Free(context);
        context = NULL;
        result = string_result(output, len);
    }

done:
    PyMem_Free(context);
    return result;
}

#endif
