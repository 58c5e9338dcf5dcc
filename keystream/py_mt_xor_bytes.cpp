// mt_xor_bytes(data, seed0, seed1, seed2, offset): data XORed with the MT19937
// key stream of the three-word array seed, from output number `offset` on.
#include "../module/module.h"
#include "mt19937.h"

// From this size on (Python 3) other threads run while the key stream is
// made: at about 10 GB/s, smaller calls take less time than handing the
// interpreter lock over and back can cost.
constexpr Py_ssize_t unlocked_min = 256 * 1024;

// Keyword names for the Python 3 parser: five positional-only arguments.
[[maybe_unused]] const char *const keywords[] = {"", "", "", "", "", "output", NULL};

#if PY_MAJOR_VERSION >= 3
PyObject *py_mt_xor_bytes(PyObject *self, PyObject *args, PyObject *kwargs) {
#else
PyObject *py_mt_xor_bytes(PyObject *self, PyObject *args) {
#endif
    (void)self;
    CompatData data;
    unsigned long seed0, seed1, seed2, offset;
    PyObject *output = NULL; // borrowed; Python 3's output= alone
    if (!COMPAT_PARSE("kkkk", "mt_xor_bytes", keywords, output, COMPAT_DATA_ARGS(data), &seed0,
                      &seed1, &seed2, &offset))
        return NULL;
    if (compat_data_open(&data) < 0)
        return NULL;

    CompatOutput out;
    if (compat_output_open(&out, output, &data, "mt_xor_bytes") < 0) {
        compat_data_close(&data);
        return NULL;
    }
    PyObject *result = NULL;
    MtState *seed_block = NULL;
    MtState *work = NULL;
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

    if (compat_output_new(&out, data.len) < 0)
        goto done;
    // The lock is let go around the key stream alone: the seeding before it
    // is a couple of microseconds, less than a second hand-over could cost.
    COMPAT_BEGIN_UNLOCKED(data.len, unlocked_min)
    mt_xor_keystream(work, &index, data.bytes, out.bytes, static_cast<size_t>(data.len));
    COMPAT_END_UNLOCKED()
    PyMem_Free(work);
    work = NULL;
    result = compat_output_finish(&out, data.len);

done:
    compat_output_discard(&out);
    PyMem_Free(work);
    PyMem_Free(seed_block);
    compat_data_close(&data);
    return result;
}
