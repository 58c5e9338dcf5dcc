// Preloaded into the interpreter for the allocation tests: interposes
// PyMem_Malloc and PyMem_Free, and Python 3's PyBytes_FromStringAndSize
// (which the module's Python 3 build makes its results with), and for the
// calls that come from vavirerezi.so counts the allocations, tracks the
// PyMem blocks still held, and can make the n-th allocation from now fail.
// Python code reaches the controls through ctypes.
#include <dlfcn.h>

#include <cstddef>
#include <cstring>

namespace {

using malloc_fn = void *(*)(size_t);
using free_fn = void (*)(void *);
using bytes_fn = void *(*)(const char *, long);
using no_memory_fn = void *(*)();

malloc_fn real_malloc;
free_fn real_free;
bytes_fn real_bytes;
no_memory_fn no_memory;
long fail_countdown; // 0: disarmed; n: the n-th module allocation from now fails
long module_allocations;
long foreign_frees; // frees from the module of blocks it did not allocate
constexpr int max_held = 1024;
void *held[max_held];
int nheld;

bool from_module(void *return_address) {
    Dl_info info;
    if (!dladdr(return_address, &info) || info.dli_fname == nullptr)
        return false;
    // vavirerezi.so, or under Python 3 the package's vavirerezi/_core.cpython-3X-....so.
    const char *slash = std::strrchr(info.dli_fname, '/');
    const char *name = slash ? slash + 1 : info.dli_fname;
    size_t n = std::strlen(name);
    if (n < 4 || std::strcmp(name + n - 3, ".so") != 0)
        return false;
    if (std::strncmp(name, "vavirerezi.", 11) == 0)
        return true;
    const char *package = "/vavirerezi/_core.";
    size_t k = std::strlen(package);
    return std::strncmp(name, "_core.", 6) == 0 &&
           name - info.dli_fname >= static_cast<long>(k - 6) &&
           std::strncmp(name - (k - 6), package, k) == 0;
}

void resolve() {
    if (real_malloc == nullptr) {
        real_malloc = reinterpret_cast<malloc_fn>(dlsym(RTLD_NEXT, "PyMem_Malloc"));
        real_free = reinterpret_cast<free_fn>(dlsym(RTLD_NEXT, "PyMem_Free"));
        // Python 3 only; under 2.7 the module never calls it.
        real_bytes = reinterpret_cast<bytes_fn>(dlsym(RTLD_NEXT, "PyBytes_FromStringAndSize"));
        no_memory = reinterpret_cast<no_memory_fn>(dlsym(RTLD_NEXT, "PyErr_NoMemory"));
    }
}

// Counts one allocation from the module; true if it is the one to fail.
bool fail_this_one() {
    module_allocations++;
    return fail_countdown > 0 && --fail_countdown == 0;
}

} // namespace

extern "C" {

void *PyMem_Malloc(size_t n) {
    resolve();
    if (!from_module(__builtin_return_address(0)))
        return real_malloc(n);
    if (fail_this_one())
        return nullptr;
    void *p = real_malloc(n);
    if (p != nullptr && nheld < max_held)
        held[nheld++] = p;
    return p;
}

void PyMem_Free(void *p) {
    resolve();
    if (p != nullptr && from_module(__builtin_return_address(0))) {
        int i = 0;
        while (i < nheld && held[i] != p)
            i++;
        if (i < nheld)
            held[i] = held[--nheld];
        else
            foreign_frees++;
    }
    real_free(p);
}

// The interpreter's own failure: MemoryError set, NULL returned.
void *PyBytes_FromStringAndSize(const char *data, long n) {
    resolve();
    if (from_module(__builtin_return_address(0)) && fail_this_one())
        return no_memory();
    return real_bytes(data, n);
}

void shim_fail_nth(long n) {
    fail_countdown = n;
}

long shim_module_allocations() {
    return module_allocations;
}

int shim_blocks_held() {
    return nheld;
}

long shim_foreign_frees() {
    return foreign_frees;
}
}
