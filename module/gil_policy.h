// Python 3: whether a call may let go of the interpreter lock (the GIL) while
// it works on buffers. PyPy does not pin a buffer that a call holds: Python
// code on another thread could close an mmap or resize a bytearray under the
// work, so there the lock is kept for the whole call. Found on the include
// path by name, so that a build may put a policy of its own first.
#ifndef VAVIREREZI_GIL_POLICY_H
#define VAVIREREZI_GIL_POLICY_H

#ifdef PYPY_VERSION
constexpr bool may_release_gil = false;
#else
constexpr bool may_release_gil = true;
#endif

#endif
