// Module initialisation: resolves the error type and registers the methods.
#include "module.h"

PyObject *error_type = NULL;

static PyMethodDef method_table[] = {
    {"mt_xor_bytes", py_mt_xor_bytes, METH_VARARGS, NULL},
    {"bf_process", py_bf_process, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

// The loader finds this function by name; it is the library's only export.
extern "C" __attribute__((visibility("default"))) void initvavirerezi(void) {
    // The built-in ValueError is used for our own errors. If it cannot be
    // found, a class of our own stands in; the failed lookup's error is left
    // pending, so the loader still reports the import as failed.
    PyObject *exceptions = PyImport_ImportModule("exceptions");
    if (exceptions != NULL) {
        error_type = PyObject_GetAttrString(exceptions, "ValueError"); // owned for good
        Py_DecRef(exceptions);
    }
    if (error_type == NULL)
        error_type = PyErr_NewException((char *)"vavirerezi.ValueError", NULL, NULL);

    Py_InitModule4("vavirerezi", method_table, NULL, NULL, PYTHON_API_VERSION);
}
