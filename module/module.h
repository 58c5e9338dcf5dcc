// The interpreter binding: the error type, the module's entry functions and,
// under Python 3, its object types.
#ifndef VAVIREREZI_MODULE_H
#define VAVIREREZI_MODULE_H

#include <cstring>

#include "compat.h"
#include "../common/wipe.h"

#if PY_MAJOR_VERSION < 3

// The exception type raised for the module's own argument errors; resolved
// once when the module is first imported and held for the life of the
// process.
extern PyObject *error_type;

// Entry functions behind the module's methods. `self` is unused; `args` is the
// tuple of positional arguments. Each returns a new reference, or NULL with
// the interpreter's error indicator set.
PyObject *py_mt_xor_bytes(PyObject *self, PyObject *args);
PyObject *py_bf_process(PyObject *self, PyObject *args);

// The class of the module's own argument errors.
inline PyObject *value_error_type() {
    return error_type;
}

// An entry function's output buffer of `len` bytes from PyMem_Malloc (one
// byte for empty data, so that no allocation of zero bytes is asked for), or
// NULL with MemoryError set.
inline uint8_t *output_buffer(int len) {
    void *p = PyMem_Malloc(len > 0 ? static_cast<size_t>(len) : 1);
    if (p == NULL)
        PyErr_NoMemory();
    return static_cast<uint8_t *>(p);
}

// The result string copied from an entry function's output buffer, which is
// then freed: a new reference, or NULL with the error set.
inline PyObject *string_result(uint8_t *output, int len) {
    PyObject *result = PyString_FromStringAndSize(reinterpret_cast<const char *>(output), len);
    PyMem_Free(output);
    return result;
}

#else

// Entry functions behind the module's methods (vector calls): `self` is
// unused; `args` holds `nargs` positional arguments and then the values of
// the keywords that `kwnames` names (output= alone). Each returns a new
// reference, or NULL with the interpreter's error indicator set.
PyObject *py_mt_xor_bytes(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                          PyObject *kwnames);
PyObject *py_bf_process(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

// The object types, made from these when a module object is executed (each
// module object has types of its own, in its state).
extern PyType_Spec bf_cipher_spec;    // vavirerezi.BfCipher
extern PyType_Spec mt_keystream_spec; // vavirerezi.MtKeyStream

// The flags of the object types: immutable where the interpreter has the
// flag (3.10), and not to be subclassed, as hashlib's objects are not.
#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned int object_type_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned int object_type_flags = Py_TPFLAGS_DEFAULT;
#endif

// The class of the module's own argument errors: the interpreter's
// ValueError itself, found without a lookup by name.
inline PyObject *value_error_type() {
    return PyExc_ValueError;
}

// The first field of both objects, after the object header: which kind of
// object it is, set by its constructor. CPython hands a method or the
// deallocator only objects that their type made; PyPy also lets Python code
// hand them others (T.__new__(S) for another type S, an assigned __class__,
// object.__new__(T)), so each checks the kind before it touches the fields.
enum ObjectKind : uint64_t {
    object_kind_none = 0, // made by no constructor of ours
    object_kind_bf_cipher = 0x62665f6369706865u,
    object_kind_mt_keystream = 0x6d745f73747265u,
};
struct ObjectHead {
    PyObject ob_base; // the object header (PyObject_HEAD)
    ObjectKind kind;
};

// Whether `self` is an object of `kind`; if not, raises TypeError naming the
// method `name` and `type_name`, the constructor of the kind.
bool object_check(PyObject *self, ObjectKind kind, const char *name, const char *type_name);

// Whether `type` is the type whose constructor is `constructor`, as it is
// unless Python code calls one type's __new__ for another (PyPy allows
// T.__new__(S)); if not, raises TypeError naming `type_name`.
bool object_new_check(PyTypeObject *type, newfunc constructor, const char *type_name);

// __reduce__ of both object types: they hold keys, and are not pickled.
PyObject *object_reduce(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

// The deallocator of both object types: wipes and releases what the kind
// holds (bf_cipher_clear, mt_keystream_clear), then frees the object.
void object_dealloc(PyObject *self);
void bf_cipher_clear(PyObject *self);
void mt_keystream_clear(PyObject *self);

// A method's vector-call entry, as the method table takes it.
#define VECTOR_ENTRY(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

#endif

#endif
