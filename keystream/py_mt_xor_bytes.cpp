// mt_xor_bytes(data, seed0, seed1, seed2, offset): data XORed with the MT19937
// key stream of the three-word array seed, from output number `offset` on;
// under Python 3 also MtKeyStream, the same key stream continued from call to
// call.
#include "../module/module.h"
#include "mt19937.h"
#include "mt19937_jump.h"

#if PY_MAJOR_VERSION >= 3

#include "../module/arguments.h"
#include "../module/transform.h"

namespace {

// From this size on other threads run while the key stream is made: at the
// speed of the vector paths, smaller calls take less time than handing the
// interpreter lock over and back can cost.
constexpr size_t gil_release_min = 256 * 1024;

// The three seeds and the offset, arguments 2 to 5 of mt_xor_bytes and 1 to
// 4 of MtKeyStream (from `first`), each modulo 2**32. Returns 0, or -1 with
// TypeError set.
int seed_arguments(const char *name, PyObject *const *args, int first, uint32_t key[3],
                   uint32_t *offset) {
    for (int i = 0; i < 3; i++)
        if (u32_argument(name, first + i, args[i], &key[i]) < 0)
            return -1;
    return u32_argument(name, first + 3, args[3], offset);
}

// The key stream of `stream` over a transfer, holding `lock` if there is one:
// the one path of mt_xor_bytes and MtKeyStream.xor. A call that would take
// the stream past byte 2**64 - 1 raises OverflowError and takes nothing.
PyObject *keystream_run(Transfer *t, const char *name, MtStream *stream, ObjectLock *lock) {
    bool past_end = false; // checked with the work, under the lock
    PyObject *result = transfer_run(
        t, gil_release_min, lock, [stream, &past_end](const uint8_t *in, uint8_t *out, size_t len) {
            past_end = len > UINT64_MAX - stream->position;
            if (!past_end)
                mt_stream_xor(stream, in, out, len);
        });
    if (result != NULL && past_end) {
        Py_DECREF(result);
        return PyErr_Format(PyExc_OverflowError, "%s() would take the stream past byte 2**64 - 1",
                            name);
    }
    return result;
}

} // namespace

// A one-shot MtKeyStream: the seeds and offset, the data and output= taken, a
// stream from PyMem_Malloc seeded as an MtKeyStream is, the key stream, and
// the stream wiped and freed.
PyObject *py_mt_xor_bytes(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                          PyObject *kwnames) {
    (void)self;
    constexpr const char *name = "mt_xor_bytes";
    PyObject *arg[5], *output;
    uint32_t key[3], offset;
    if (parse_arguments(name, args, nargs, kwnames, 5, arg, &output) < 0 ||
        seed_arguments(name, arg + 1, 2, key, &offset) < 0)
        return NULL;
    Transfer t{};
    PyObject *result = NULL;
    if (transfer_open(&t, name, arg[0], output) == 0)
        result = transfer_one_shot<MtStream>(
            &t, [&](MtStream *stream) { mt_stream_seed(stream, key, 3, offset); },
            [&](MtStream *stream) { return keystream_run(&t, name, stream, NULL); });
    wipe(key, sizeof key);
    return result;
}

// MtKeyStream: the stream and its lock, inside the object. The stream state
// is wiped when the object goes.
namespace {

struct MtKeyStreamObject {
    ObjectHead head; // kind: object_kind_mt_keystream
    ObjectLock lock;
    MtStream stream;
    // The seeds and offset, which never change once the object is made: a
    // seek starts from them, with no lock.
    uint32_t key[3];
    uint32_t offset;
};

MtKeyStreamObject *as_keystream(PyObject *self) {
    return reinterpret_cast<MtKeyStreamObject *>(self);
}

// A new object of `type` with its lock, its stream not yet set. Returns NULL
// with the error set.
PyObject *keystream_alloc(PyTypeObject *type) {
    PyObject *self = type->tp_alloc(type, 0);
    if (self == NULL)
        return NULL;
    if (object_lock_init(&as_keystream(self)->lock) < 0) {
        Py_DECREF(self);
        return NULL;
    }
    as_keystream(self)->head.kind = object_kind_mt_keystream;
    return self;
}

PyObject *keystream_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    constexpr const char *name = "MtKeyStream";
    PyObject *arg[4];
    uint32_t key[3], offset;
    if (!object_new_check(type, keystream_new, name) ||
        parse_constructor_arguments(name, args, kwargs, 4, arg) < 0 ||
        seed_arguments(name, arg, 1, key, &offset) < 0)
        return NULL;
    PyObject *self = keystream_alloc(type);
    if (self != NULL) {
        MtKeyStreamObject *s = as_keystream(self);
        mt_stream_seed(&s->stream, key, 3, offset);
        std::memcpy(s->key, key, sizeof key);
        s->offset = offset;
    }
    wipe(key, sizeof key);
    return self;
}

PyObject *keystream_xor(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                        PyObject *kwnames) {
    constexpr const char *name = "MtKeyStream.xor";
    PyObject *data, *output;
    Transfer t{};
    if (!object_check(self, object_kind_mt_keystream, name, "MtKeyStream"))
        return NULL;
    if (parse_arguments(name, args, nargs, kwnames, 1, &data, &output) < 0 ||
        transfer_open(&t, name, data, output) < 0)
        return NULL;
    MtKeyStreamObject *s = as_keystream(self);
    return keystream_run(&t, name, &s->stream, &s->lock);
}

// Takes a copy of the stream under its lock.
MtStream keystream_snapshot(MtKeyStreamObject *s) {
    object_lock_acquire(&s->lock);
    MtStream copy = s->stream;
    object_lock_release(&s->lock);
    return copy;
}

// Puts the stream at byte `amount` of its key stream (`relative`: `amount`
// bytes on from where it is), as one step that other calls see whole. The
// new state is computed on a copy, holding no lock of the stream's, and
// without the interpreter lock when it takes a jump; then it goes in place
// under the lock. A seek goes in place whatever other calls did meanwhile
// (they came before it). A skip goes in place only if the stream is where the
// copy was taken; if another call moved it on, the copy is moved on by as
// much (a step, for the small moves of other calls) and offered again, so
// the skip takes one whole slice after theirs; a stream moved back is copied
// afresh. Returns 0, or -1 with OverflowError (past byte 2**64 - 1) or
// MemoryError set, the stream unmoved.
int keystream_reposition(MtKeyStreamObject *s, const char *name, bool relative, uint64_t amount) {
    MtJumpScratch *scratch = NULL; // from PyMem_RawMalloc, used without the interpreter lock
    MtStream work = keystream_snapshot(s);
    uint64_t from = work.position;
    int rc = 0;
    for (;;) {
        if (relative && amount > UINT64_MAX - from) {
            PyErr_Format(PyExc_OverflowError, "%s() would take the stream past byte 2**64 - 1",
                         name);
            rc = -1;
            break;
        }
        const uint64_t target = relative ? from + amount : amount;
        const bool steps = mt_stream_seek_steps(&work, target);
        if (!steps && scratch == NULL) {
            scratch = static_cast<MtJumpScratch *>(PyMem_RawMalloc(sizeof(MtJumpScratch)));
            if (scratch == NULL) {
                PyErr_NoMemory();
                rc = -1;
                break;
            }
        }
        run_without_gil(!steps, NULL, [&] {
            mt_stream_seek(&work, s->key, 3, s->offset, target, steps ? NULL : scratch);
        });
        object_lock_acquire(&s->lock);
        const uint64_t now = s->stream.position;
        const bool install = !relative || now == from;
        if (install)
            s->stream = work;
        object_lock_release(&s->lock);
        if (install)
            break;
        if (now < from)
            work = keystream_snapshot(s);
        from = now < from ? work.position : now;
    }
    PyMem_RawFree(scratch);
    wipe(&work, sizeof work);
    return rc;
}

// skip(n) and seek(position): one argument, then the move.
PyObject *keystream_move(PyObject *self, const char *name, bool relative, PyObject *const *args,
                         Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *arg;
    uint64_t amount;
    if (!object_check(self, object_kind_mt_keystream, name, "MtKeyStream") ||
        parse_arguments(name, args, nargs, kwnames, 1, &arg, NULL) < 0 ||
        position_argument(name, arg, &amount) < 0 ||
        keystream_reposition(as_keystream(self), name, relative, amount) < 0)
        return NULL;
    Py_RETURN_NONE;
}

PyObject *keystream_skip(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                         PyObject *kwnames) {
    return keystream_move(self, "MtKeyStream.skip", true, args, nargs, kwnames);
}

PyObject *keystream_seek(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                         PyObject *kwnames) {
    return keystream_move(self, "MtKeyStream.seek", false, args, nargs, kwnames);
}

// The new stream is made before the lock is taken: making an object may run
// Python code (a collection), which must not find this stream's lock held.
PyObject *keystream_copy(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                         PyObject *kwnames) {
    constexpr const char *name = "MtKeyStream.copy";
    if (!object_check(self, object_kind_mt_keystream, name, "MtKeyStream") ||
        parse_arguments(name, args, nargs, kwnames, 0, NULL, NULL) < 0)
        return NULL;
    PyObject *copy = keystream_alloc(Py_TYPE(self));
    if (copy == NULL)
        return NULL;
    MtKeyStreamObject *s = as_keystream(self), *c = as_keystream(copy);
    c->stream = keystream_snapshot(s);
    std::memcpy(c->key, s->key, sizeof c->key);
    c->offset = s->offset;
    return copy;
}

PyObject *keystream_position(PyObject *self, void *) {
    if (!object_check(self, object_kind_mt_keystream, "MtKeyStream.position", "MtKeyStream"))
        return NULL;
    MtKeyStreamObject *s = as_keystream(self);
    object_lock_acquire(&s->lock);
    uint64_t position = s->stream.position;
    object_lock_release(&s->lock);
    return PyLong_FromUnsignedLongLong(position);
}

const char keystream_doc[] =
    "MtKeyStream(seed0, seed1, seed2, offset, /)\n"
    "--\n"
    "\n"
    "The MT19937 key stream of mt_xor_bytes, continued from one call to the next.\n"
    "\n"
    "The arguments are those of mt_xor_bytes, converted the same way. Each xor() takes\n"
    "the stream's next bytes, so for any split of data into pieces, the pieces' results\n"
    "joined equal mt_xor_bytes(data, seed0, seed1, seed2, offset). Calls from several\n"
    "threads each take one whole slice of the stream, in some order. Not picklable.";

const char keystream_xor_doc[] =
    "xor($self, data, /, *, output=None)\n"
    "--\n"
    "\n"
    "Return data XORed with the stream's next len(data) bytes, as bytes.\n"
    "\n"
    "The unused bytes of the last word begin the next call. data and output are taken as\n"
    "by mt_xor_bytes: with output, the result is written there and None is returned. A\n"
    "call that raises takes nothing from the stream.";

const char keystream_skip_doc[] =
    "skip($self, n, /)\n"
    "--\n"
    "\n"
    "Move the stream on by n bytes, as xor() over n bytes would, writing nothing.\n"
    "\n"
    "Any n costs at most one jump of the generator (well under a millisecond with\n"
    "AVX-512, a few elsewhere). Raises TypeError for a non-integer n, ValueError for a\n"
    "negative one, OverflowError where the position would pass 2**64 - 1 (and then\n"
    "moves nothing).";

const char keystream_seek_doc[] =
    "seek($self, position, /)\n"
    "--\n"
    "\n"
    "Put the stream at byte position of its key stream, counted from its start.\n"
    "\n"
    "position is what the position attribute reads: 0 to 2**64 - 1, backwards as\n"
    "cheaply as forwards, in at most one jump of the generator. Afterwards xor() gives\n"
    "what a new stream would after skip(position). Raises TypeError for a non-integer,\n"
    "ValueError for a negative one, OverflowError from 2**64 on.";

const char keystream_copy_doc[] = "copy($self, /)\n"
                                  "--\n"
                                  "\n"
                                  "Return an independent stream at the same position.";

PyMethodDef keystream_methods[] = {
    {"xor", VECTOR_ENTRY(keystream_xor), METH_FASTCALL | METH_KEYWORDS, keystream_xor_doc},
    {"skip", VECTOR_ENTRY(keystream_skip), METH_FASTCALL | METH_KEYWORDS, keystream_skip_doc},
    {"seek", VECTOR_ENTRY(keystream_seek), METH_FASTCALL | METH_KEYWORDS, keystream_seek_doc},
    {"copy", VECTOR_ENTRY(keystream_copy), METH_FASTCALL | METH_KEYWORDS, keystream_copy_doc},
    {"__reduce__", VECTOR_ENTRY(object_reduce), METH_FASTCALL | METH_KEYWORDS, NULL},
    {NULL, NULL, 0, NULL},
};

PyGetSetDef keystream_getset[] = {
    {"position", keystream_position, NULL,
     "The number of bytes taken from the stream (XORed or skipped) since it was made.", NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

PyType_Slot keystream_slots[] = {
    {Py_tp_new, reinterpret_cast<void *>(keystream_new)},
    {Py_tp_dealloc, reinterpret_cast<void *>(object_dealloc)},
    {Py_tp_methods, keystream_methods},
    {Py_tp_getset, keystream_getset},
    {Py_tp_doc, const_cast<char *>(keystream_doc)},
    {0, NULL},
};

} // namespace

void mt_keystream_clear(PyObject *self) {
    wipe(&as_keystream(self)->stream, sizeof(MtStream));
    wipe(as_keystream(self)->key, sizeof as_keystream(self)->key);
    object_lock_free(&as_keystream(self)->lock);
}

PyType_Spec mt_keystream_spec = {
    "vavirerezi.MtKeyStream", sizeof(MtKeyStreamObject), 0, object_type_flags, keystream_slots,
};

#else

// Python 2.7: a seed block and a working block from PyMem_Malloc, the seed block freed once the
// working block is made from it, then an output buffer copied into the result string.
PyObject *py_mt_xor_bytes(PyObject *self, PyObject *args) {
    (void)self;
    const char *data;
    int len;
    unsigned long seed0, seed1, seed2, offset;
    if (!PyArg_ParseTuple(args, "s#kkkk", &data, &len, &seed0, &seed1, &seed2, &offset))
        return NULL;

    PyObject *result = NULL;
    MtState *seed_block = NULL;
    MtState *work = NULL;
    uint8_t *output; // freed by string_result
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

    output = output_buffer(len);
    if (output != NULL) {
        mt_xor_keystream(work, &index, reinterpret_cast<const uint8_t *>(data), output,
                         static_cast<size_t>(len));
        PyMem_Free(work);
        work = NULL;
        result = string_result(output, len);
    }

done:
    PyMem_Free(work);
    PyMem_Free(seed_block);
    return result;
}

#endif
