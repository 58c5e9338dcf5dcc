// Module initialisation: resolves the error type and registers the methods.
#include "module.h"

PyObject *error_type = NULL;

static PyMethodDef method_table[] = {
    {"mt_xor_bytes", py_mt_xor_bytes, METH_VARARGS, NULL},
    {"bf_process", py_bf_process, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

// Resolves the built-in ValueError for our own errors. If it cannot be
// found, a class of our own stands in; the failed lookup's error is left
// pending, so the loader still reports the import as failed. If the name
// holds something other than an exception class (rebound by Python code),
// raising it would fail, so the interpreter's own ValueError stands in.
static void resolve_error_type(void) {
    PyObject *builtins = PyImport_ImportModule(COMPAT_BUILTINS_MODULE);
    if (builtins != NULL) {
        error_type = PyObject_GetAttrString(builtins, "ValueError"); // owned for good
        Py_DecRef(builtins);
    }
    if (error_type != NULL && !PyExceptionClass_Check(error_type)) {
        Py_DecRef(error_type);
        Py_IncRef(PyExc_ValueError);
        error_type = PyExc_ValueError;
    }
    if (error_type == NULL)
        error_type = PyErr_NewException((char *)"vavirerezi.ValueError", NULL, NULL);
}

// The loader finds the initialisation function by name; it is the library's
// only export.
#if PY_MAJOR_VERSION >= 3

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "vavirerezi", NULL, -1, method_table, NULL, NULL, NULL, NULL,
};

extern "C" __attribute__((visibility("default"))) PyObject *PyInit_vavirerezi(void) {
    resolve_error_type();
    if (PyErr_Occurred())
        return NULL;
    return PyModule_Create(&module_def);
}

#else

extern "C" __attribute__((visibility("default"))) void initvavirerezi(void) {
    resolve_error_type();
    Py_InitModule4("vavirerezi", method_table, NULL, NULL, PYTHON_API_VERSION);
}

#endif
