// mt_xor_bytes(data, seed0, seed1, seed2, offset): data XORed with the MT19937
// key stream of the three-word array seed, from output number `offset` on.
#include "../module/module.h"
#include "mt19937.h"

PyObject *py_mt_xor_bytes(PyObject *self, PyObject *args) {
    (void)self;
    const char *data;
    compat_length len;
    unsigned long seed0, seed1, seed2, offset;
    if (!PyArg_ParseTuple(args, "s#kkkk", &data, &len, &seed0, &seed1, &seed2, &offset))
        return NULL;
    if (compat_check_length(len) < 0)
        return NULL;

    PyObject *result = NULL;
    MtState *seed_block = NULL;
    MtState *work = NULL;
    uint8_t *out = NULL;
    const uint32_t key[3] = {static_cast<uint32_t>(seed0), static_cast<uint32_t>(seed1),
                             static_cast<uint32_t>(seed2)};
    // The read position is compared unsigned: any offset whose low 32 bits
    // are 624 or more, including those that are negative as signed 32-bit
    // numbers, starts at the first word of the next block.
    uint32_t index = static_cast<uint32_t>(offset);

    seed_block = static_cast<MtState *>(PyMem_Malloc(sizeof(MtState)));
    if (seed_block == NULL) {
        PyErr_NoMemory();
        goto done;
    }
    work = static_cast<MtState *>(PyMem_Malloc(sizeof(MtState)));
    if (work == NULL) {
        PyErr_NoMemory();
        goto done;
    }
    mt_seed_by_array(seed_block, key, 3);
    mt_regenerate(seed_block, work);
    PyMem_Free(seed_block);
    seed_block = NULL;

    out = static_cast<uint8_t *>(PyMem_Malloc(len > 0 ? static_cast<size_t>(len) : 1));
    if (out == NULL) {
        PyErr_NoMemory();
        goto done;
    }
    mt_xor_keystream(work, &index, reinterpret_cast<const uint8_t *>(data), out,
                     static_cast<size_t>(len));
    PyMem_Free(work);
    work = NULL;
    result = compat_bytes(reinterpret_cast<const char *>(out), len);

done:
    PyMem_Free(out);
    PyMem_Free(work);
    PyMem_Free(seed_block);
    return result;
}
