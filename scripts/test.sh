#!/usr/bin/env bash
# Builds everything and runs every test: the optimised build (core, module,
# allocation-fault, soak and memcheck tests), the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, the cores' thread test under
# ThreadSanitizer, the bounded fuzz runs, and
# the portability stage (cross builds for aarch64 and s390x under qemu-user,
# older x86-64 CPUs under qemu-x86_64). Installs the packages it needs first,
# where missing. VAVIREREZI_SKIP_PORTABILITY=1 leaves the last stage out of a
# quick local run; CI always runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
bash scripts/install-deps.sh all

echo "== optimised build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAVIREREZI_SANITIZE=ON \
  -DVAVIREREZI_BENCH=OFF
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== thread sanitizer (the cores from several threads)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAVIREREZI_TSAN=ON -DVAVIREREZI_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target core_tests
ctest --test-dir build-tsan --output-on-failure -R '^Threads\.'

echo "== fuzzing (${FUZZ_SECONDS:-25} s a target)"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAVIREREZI_FUZZ=ON \
  -DVAVIREREZI_BENCH=OFF -DFUZZ_SECONDS="${FUZZ_SECONDS:-25}"
cmake --build build-fuzz -j"$jobs"
ctest --test-dir build-fuzz --output-on-failure -j"$jobs"

if [ -n "${VAVIREREZI_SKIP_PORTABILITY:-}" ] && [ "${CI:-}" != true ]; then
  echo "== portability stage skipped (VAVIREREZI_SKIP_PORTABILITY is set)"
else
  echo "== portability"
  bash scripts/portability.sh
fi
