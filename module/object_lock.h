// Python 3: the lock of an object whose state a call changes, and work done
// without the interpreter lock (the GIL).
#ifndef VAVIREREZI_OBJECT_LOCK_H
#define VAVIREREZI_OBJECT_LOCK_H

#include "compat.h"

#if PY_MAJOR_VERSION >= 3

#include <gil_policy.h>

// The lock of one object, made with the object (never on first use) and held
// around every change and every copy of its state. A thread that must wait
// for it waits without the interpreter lock, as hashlib's objects do, so that
// the holder can take the interpreter lock back and finish. Where the
// interpreter has PyMutex (3.13), that is the lock, as in CPython's hashlib
// under free threading: no allocation, and it lets go of the interpreter
// (thread state) by itself while it waits.
#if PY_VERSION_HEX >= 0x030D0000 && !defined(PYPY_VERSION)
struct ObjectLock {
    PyMutex mutex;
};
inline int object_lock_init(ObjectLock *lock) {
    lock->mutex = PyMutex{};
    return 0;
}
inline void object_lock_free(ObjectLock *) {}
inline void object_lock_acquire(ObjectLock *lock) {
    PyMutex_Lock(&lock->mutex);
}
inline void object_lock_acquire_without_gil(ObjectLock *lock) {
    PyMutex_Lock(&lock->mutex);
}
inline void object_lock_release(ObjectLock *lock) {
    PyMutex_Unlock(&lock->mutex);
}
#else
struct ObjectLock {
    PyThread_type_lock lock; // owned, from object_lock_init
};
// Returns 0, or -1 with MemoryError set.
inline int object_lock_init(ObjectLock *lock) {
    lock->lock = PyThread_allocate_lock();
    if (lock->lock == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    return 0;
}
inline void object_lock_free(ObjectLock *lock) {
    if (lock->lock != NULL)
        PyThread_free_lock(lock->lock);
    lock->lock = NULL;
}
// With the interpreter lock held: at once if the lock is free, else waiting
// for it without the interpreter lock.
inline void object_lock_acquire(ObjectLock *lock) {
    if (!PyThread_acquire_lock(lock->lock, NOWAIT_LOCK)) {
        PyThreadState *saved = PyEval_SaveThread();
        PyThread_acquire_lock(lock->lock, WAIT_LOCK);
        PyEval_RestoreThread(saved);
    }
}
// Without the interpreter lock.
inline void object_lock_acquire_without_gil(ObjectLock *lock) {
    PyThread_acquire_lock(lock->lock, WAIT_LOCK);
}
inline void object_lock_release(ObjectLock *lock) {
    PyThread_release_lock(lock->lock);
}
#endif

// Runs `work()`, which touches no Python object and runs no Python code,
// holding `lock` if there is one; without the interpreter lock when
// `release_gil` is true and the build may.
// The object lock is taken only once the interpreter lock is let go and given
// back before it is taken again, so a thread never holds one while it waits
// for the other.
template <typename Work> void run_without_gil(bool release_gil, ObjectLock *lock, Work &&work) {
    if (may_release_gil && release_gil) {
        PyThreadState *saved = PyEval_SaveThread();
        if (lock != NULL)
            object_lock_acquire_without_gil(lock);
        work();
        if (lock != NULL)
            object_lock_release(lock);
        PyEval_RestoreThread(saved);
        return;
    }
    if (lock != NULL)
        object_lock_acquire(lock);
    work();
    if (lock != NULL)
        object_lock_release(lock);
}

#endif

#endif
