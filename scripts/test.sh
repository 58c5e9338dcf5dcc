#!/usr/bin/env bash
# Builds everything and runs every test: the optimised build (core, module,
# allocation-fault, soak and memcheck tests), the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, the module tests under
# Debian's debug interpreter (python3-dbg), the cores' thread test under
# ThreadSanitizer, the bounded fuzz runs, the package as users install it
# (source distribution, pip, cmake --install), and the portability stage
# (cross builds for aarch64 and s390x under qemu-user, older x86-64 CPUs under
# qemu-x86_64). Installs the packages it needs first, where missing. Ends with
# one line for the whole run, "N passed, N failed, N skipped", and exits
# non-zero when anything failed. Every build makes warnings in the project's
# own C++ errors (VAVIREREZI_WERROR); the lint stage runs clang-format and
# pyflakes (scripts/lint.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
echo "Needs Debian's package mirror: installing missing packages (first run only) and the" \
  "portability stage (it downloads the cross targets' packages). Offline, once the packages" \
  "are installed: VAVIREREZI_SKIP_PORTABILITY=1 bash scripts/test.sh"
bash scripts/install-deps.sh all

. scripts/tally.sh
tally_begin

echo "== lint: clang-format over the C++, pyflakes over the Python"
stage lint bash scripts/lint.sh

echo "== optimised build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVAVIREREZI_WERROR=ON
cmake --build build -j"$jobs"
stage optimised counted_ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAVIREREZI_SANITIZE=ON \
  -DVAVIREREZI_BENCH=OFF -DVAVIREREZI_WERROR=ON
cmake --build build-asan -j"$jobs"
stage sanitizer counted_ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== debug interpreter (Debian's python3-dbg): a real debug build, -X dev -W error, PYTHONMALLOC=debug"
# The module fails to compile there unless the interpreter's headers define
# Py_DEBUG; the tests then check the interpreter's total reference count.
cmake -S . -B build-dbg -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAVIREREZI_PYTHON27=OFF \
  -DVAVIREREZI_PYTHON3=/usr/bin/python3.11d -DVAVIREREZI_BENCH=OFF -DVAVIREREZI_WERROR=ON
cmake --build build-dbg -j"$jobs"
stage debug counted_ctest --test-dir build-dbg --output-on-failure -j"$jobs" -R '^py311d_'

echo "== thread sanitizer (the cores from several threads)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAVIREREZI_TSAN=ON -DVAVIREREZI_BENCH=OFF \
  -DVAVIREREZI_WERROR=ON
cmake --build build-tsan -j"$jobs" --target core_tests
stage tsan counted_ctest --test-dir build-tsan --output-on-failure -R '^Threads\.'

echo "== fuzzing (${FUZZ_SECONDS:-25} s a target)"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAVIREREZI_FUZZ=ON \
  -DVAVIREREZI_BENCH=OFF -DVAVIREREZI_WERROR=ON -DFUZZ_SECONDS="${FUZZ_SECONDS:-25}"
cmake --build build-fuzz -j"$jobs"
stage fuzzing counted_ctest --test-dir build-fuzz --output-on-failure -j"$jobs"

echo "== the package: source distribution, pip into fresh environments, cmake --install"
stage package bash tests/package_check.sh

if [ -n "${VAVIREREZI_SKIP_PORTABILITY:-}" ] && [ "${CI:-}" != true ]; then
  echo "== portability stage skipped (VAVIREREZI_SKIP_PORTABILITY is set)"
else
  echo "== portability"
  stage portability bash scripts/portability.sh
fi
