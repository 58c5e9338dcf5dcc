// Module initialisation: the method table, under Python 3 the module state
// with the object types, and under Python 2.7 the error type.
#include "module.h"

#if PY_MAJOR_VERSION >= 3
#include "arguments.h"
#include "../blockcipher/blowfish.h"
#include "../keystream/mt19937.h"
#include "../keystream/mt19937_jump.h"
#endif

#if PY_MAJOR_VERSION >= 3

// Documentation for help() and inspect.signature (the first lines are the
// text signature, in the form CPython's own built-ins use). The Python 2.7
// build documents nothing.
static const char module_doc[] =
    "Byte-string transforms: mt_xor_bytes XORs data with an MT19937 key stream seeded from\n"
    "three 32-bit words, and bf_process enciphers or deciphers data with Blowfish in ECB\n"
    "mode under a 56-byte key of 14 integers. Both return bytes of the data's length, or\n"
    "write them into a caller's buffer (output=). BfCipher keys Blowfish once for many\n"
    "calls; MtKeyStream is a key stream that continues from one call to the next. Neither\n"
    "protects new data: MT19937 is no cryptographic generator, and ECB shows equal blocks\n"
    "as equal.";

static const char mt_xor_bytes_doc[] =
    "mt_xor_bytes(data, seed0, seed1, seed2, offset, /, *, output=None)\n"
    "--\n"
    "\n"
    "Return data XORed with an MT19937 key stream, as bytes of the same length.\n"
    "\n"
    "The generator is seeded with init_by_array([seed0, seed1, seed2]); the seeds and\n"
    "offset are integers, each taken modulo 2**32. The key stream starts at output\n"
    "number offset (0 to 623; any other offset starts at output 624), each 32-bit\n"
    "output giving four bytes, least significant first. The same call on the result\n"
    "gives data back. Each call starts the stream afresh, so a second call does not\n"
    "go on where the first stopped: for data in pieces use MtKeyStream.\n"
    "\n"
    "data is a str (encoded as UTF-8) or any C-contiguous bytes-like object, of any\n"
    "length. With output, a writable C-contiguous buffer of data's length (it may be\n"
    "data itself), the result is written there and None is returned.\n"
    "\n"
    "Raises TypeError for arguments of the wrong type or number and for a read-only\n"
    "output; BufferError (or TypeError) for a buffer that is not C-contiguous or is\n"
    "resized during the call; ValueError for an output of another length or one that\n"
    "overlaps data without being the same memory; MemoryError.";

static const char bf_process_doc[] =
    "bf_process(data, vals14, encrypt, /, *, output=None)\n"
    "--\n"
    "\n"
    "Return data enciphered (encrypt non-zero) or deciphered (encrypt 0) with Blowfish\n"
    "in ECB mode, as bytes of the same length.\n"
    "\n"
    "vals14 is a sequence of 14 integers: the low 32 bits of each, least significant\n"
    "byte first, make the 56-byte key (a float item is truncated toward zero). The two\n"
    "32-bit halves of each 8-byte block are read and written least significant byte\n"
    "first. A final block of fewer than 8 bytes is zero-filled, transformed and cut\n"
    "back to its length, so unlike whole blocks it does not round-trip. Each call\n"
    "schedules the key anew: for many calls under one key use BfCipher.\n"
    "\n"
    "data is a str (encoded as UTF-8) or any C-contiguous bytes-like object, of any\n"
    "length. With output, a writable C-contiguous buffer of data's length (it may be\n"
    "data itself), the result is written there and None is returned.\n"
    "\n"
    "Raises ValueError if vals14 is not a sequence of exactly 14 items (an interrupt\n"
    "raised by its __len__ goes through); the item's own error (TypeError,\n"
    "OverflowError, ValueError for a NaN) for an item that is not a number from -2**63\n"
    "to 2**64 - 1; TypeError for other arguments of the wrong type or number and for a\n"
    "read-only output; BufferError (or TypeError) for a buffer that is not C-contiguous\n"
    "or is resized during the call; ValueError for an output of another length or one\n"
    "that overlaps data without being the same memory; MemoryError.";

static const char kernels_doc[] =
    "kernels($module, /)\n"
    "--\n"
    "\n"
    "Return which implementation of each core this CPU runs, as a new dict: for\n"
    "instance {'keystream': 'avx512', 'jump': 'avx512', 'blowfish': 'vbmi'}. Chosen once,\n"
    "at first use.";

// Asks the dispatchers, which choose once for the process.
static PyObject *kernels(PyObject *, PyObject *) {
    return Py_BuildValue("{ssssss}", "keystream",
                         mt_implementation_name(mt_chosen_implementation()), "jump",
                         mt_jump_implementation_name(mt_jump_chosen_implementation()), "blowfish",
                         bf_implementation_name(bf_chosen_implementation()));
}

static PyMethodDef method_table[] = {
    {"mt_xor_bytes", VECTOR_ENTRY(py_mt_xor_bytes), METH_FASTCALL | METH_KEYWORDS,
     mt_xor_bytes_doc},
    {"bf_process", VECTOR_ENTRY(py_bf_process), METH_FASTCALL | METH_KEYWORDS, bf_process_doc},
    {"kernels", kernels, METH_NOARGS, kernels_doc},
    {NULL, NULL, 0, NULL},
};

#ifndef VAVIREREZI_VERSION
#error "VAVIREREZI_VERSION (the package version, from setup.cfg) must be defined"
#endif

// Multi-phase initialisation (PEP 489): the interpreter makes a module object
// from this definition for each import, in each interpreter, and executes it.
// Each module object holds its own two object types in its state; the
// functions keep nothing between calls, and the errors are the interpreter's
// own classes.
struct ModuleState {
    PyObject *bf_cipher_type;    // owned
    PyObject *mt_keystream_type; // owned
};

static ModuleState *module_state(PyObject *module) {
    return static_cast<ModuleState *>(PyModule_GetState(module));
}

// Before 3.10, a heap type keeps its documentation without the text
// signature, which it then cannot show: the type's internal documentation is
// put back whole (its __doc__, taken from the type's dictionary, is left as
// it is). Returns 0, or -1 with MemoryError set.
static int keep_text_signature(PyObject *type, const PyType_Spec *type_spec) {
#if PY_VERSION_HEX < 0x030A0000 && !defined(PYPY_VERSION)
    for (const PyType_Slot *slot = type_spec->slots; slot->slot != 0; slot++) {
        if (slot->slot != Py_tp_doc)
            continue;
        const char *doc = static_cast<const char *>(slot->pfunc);
        size_t size = std::strlen(doc) + 1;
        char *whole = static_cast<char *>(PyObject_Malloc(size)); // the type's, freed with it
        if (whole == NULL) {
            PyErr_NoMemory();
            return -1;
        }
        std::memcpy(whole, doc, size);
        PyTypeObject *t = reinterpret_cast<PyTypeObject *>(type);
        PyObject_Free(const_cast<char *>(t->tp_doc));
        t->tp_doc = whole;
    }
#else
    (void)type;
    (void)type_spec;
#endif
    return 0;
}

// A heap type from `type_spec`, bound to `module` where the interpreter can (3.9).
// Returns a new reference, or NULL with the error set.
static PyObject *type_from_spec(PyObject *module, PyType_Spec *type_spec) {
#if PY_VERSION_HEX >= 0x03090000
    PyObject *type = PyType_FromModuleAndSpec(module, type_spec, NULL);
#else
    (void)module;
    PyObject *type = PyType_FromSpec(type_spec);
#endif
    if (type != NULL && keep_text_signature(type, type_spec) < 0)
        Py_CLEAR(type);
    return type;
}

// Adds `type` to the module under its short name. Returns 0, or -1 with the
// error set.
static int add_type(PyObject *module, PyObject *type) {
#if PY_VERSION_HEX >= 0x03090000
    return PyModule_AddType(module, reinterpret_cast<PyTypeObject *>(type));
#else
    const char *name = std::strrchr(reinterpret_cast<PyTypeObject *>(type)->tp_name, '.') + 1;
    Py_INCREF(type);
    if (PyModule_AddObject(module, name, type) < 0) {
        Py_DECREF(type);
        return -1;
    }
    return 0;
#endif
}

bool object_check(PyObject *self, ObjectKind kind, const char *name, const char *type_name) {
    if (reinterpret_cast<ObjectHead *>(self)->kind == kind)
        return true;
    PyErr_Format(PyExc_TypeError, "%s() needs an object made by %s(), not this %.100s object", name,
                 type_name, Py_TYPE(self)->tp_name);
    return false;
}

bool object_new_check(PyTypeObject *type, newfunc constructor, const char *type_name) {
    if (type->tp_new == constructor)
        return true;
    PyErr_Format(PyExc_TypeError, "%s.__new__(%.100s): not the %s type", type_name, type->tp_name,
                 type_name);
    return false;
}

PyObject *object_reduce(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                        PyObject *kwnames) {
    const char *type_name = Py_TYPE(self)->tp_name;
    const char *dot = std::strrchr(type_name, '.');
    char name[128];
    PyOS_snprintf(name, sizeof name, "%.100s.__reduce__", dot != NULL ? dot + 1 : type_name);
    if (parse_arguments(name, args, nargs, kwnames, 0, NULL, NULL) < 0)
        return NULL;
    return PyErr_Format(PyExc_TypeError, "cannot pickle '%.100s' object", type_name);
}

void object_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    switch (reinterpret_cast<ObjectHead *>(self)->kind) {
    case object_kind_bf_cipher:
        bf_cipher_clear(self);
        break;
    case object_kind_mt_keystream:
        mt_keystream_clear(self);
        break;
    case object_kind_none:
        break;
    }
    type->tp_free(self);
    Py_DECREF(type); // instances of a heap type hold a reference to it
}

static int module_exec(PyObject *module) {
    ModuleState *state = module_state(module);
    if (PyModule_AddStringConstant(module, "__version__", VAVIREREZI_VERSION) < 0)
        return -1;
    state->bf_cipher_type = type_from_spec(module, &bf_cipher_spec);
    if (state->bf_cipher_type == NULL || add_type(module, state->bf_cipher_type) < 0)
        return -1;
    state->mt_keystream_type = type_from_spec(module, &mt_keystream_spec);
    if (state->mt_keystream_type == NULL || add_type(module, state->mt_keystream_type) < 0)
        return -1;
    return 0;
}

static int module_traverse(PyObject *module, visitproc visit, void *arg) {
    ModuleState *state = module_state(module);
    Py_VISIT(state->bf_cipher_type);
    Py_VISIT(state->mt_keystream_type);
    return 0;
}

static int module_clear(PyObject *module) {
    ModuleState *state = module_state(module);
    Py_CLEAR(state->bf_cipher_type);
    Py_CLEAR(state->mt_keystream_type);
    return 0;
}

static void module_free(void *module) {
    module_clear(static_cast<PyObject *>(module));
}

static PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void *>(module_exec)},
#ifdef Py_mod_multiple_interpreters
    // Nothing is shared between interpreters (each module object has its own
    // types), so each may have its own GIL.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#ifdef Py_mod_gil
    // The functions share nothing between calls, a BfCipher does not change
    // once keyed, and an MtKeyStream has a lock of its own: a free-threaded
    // interpreter need not take the GIL for us.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "vavirerezi._core", module_doc,   sizeof(ModuleState), method_table,
    module_slots,          module_traverse,    module_clear, module_free,
};

// The loader finds the initialisation function by name; it is the library's
// only export. The library is the package's private submodule, whose
// __init__.py exports its names.
extern "C" __attribute__((visibility("default"))) PyObject *PyInit__core(void) {
    return PyModuleDef_Init(&module_def);
}

#else

static PyMethodDef method_table[] = {
    {"mt_xor_bytes", py_mt_xor_bytes, METH_VARARGS, NULL},
    {"bf_process", py_bf_process, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

PyObject *error_type = NULL;

// Resolves the built-in ValueError for our own errors, on the first
// initialisation only: once set, error_type never changes and is never null
// (a second initialisation, from a load under another name or in another
// interpreter, keeps it). If the name cannot be found, a class of our own
// stands in, made with the lookup's error set aside and then restored, so
// that it is still pending and the loader reports the import as failed; it
// derives from the interpreter's ValueError, so that `except ValueError`
// still catches what a later, successful import of the module raises. If
// the name holds something other than an exception class (rebound by Python
// code), raising it would fail, so the interpreter's own ValueError stands in.
static void resolve_error_type(void) {
    if (error_type != NULL)
        return;
    PyObject *found = NULL;
    PyObject *builtins = PyImport_ImportModule("exceptions");
    if (builtins != NULL) {
        found = PyObject_GetAttrString(builtins, "ValueError"); // owned for good
        Py_DecRef(builtins);
    }
    if (found != NULL && !PyExceptionClass_Check(found)) {
        Py_DecRef(found);
        Py_IncRef(PyExc_ValueError);
        found = PyExc_ValueError;
    }
    if (found == NULL) {
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        found =
            PyErr_NewException(const_cast<char *>("vavirerezi.ValueError"), PyExc_ValueError, NULL);
        if (found == NULL) { // not even that: the built-in class, never null
            Py_IncRef(PyExc_ValueError);
            found = PyExc_ValueError;
        }
        PyErr_Restore(type, value, traceback);
    }
    error_type = found;
}

extern "C" __attribute__((visibility("default"))) void initvavirerezi(void) {
    resolve_error_type();
    Py_InitModule4("vavirerezi", method_table, NULL, NULL, PYTHON_API_VERSION);
}

#endif
