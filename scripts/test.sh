#!/usr/bin/env bash
# Builds everything and runs every test: the optimised build (core, module,
# allocation-fault, soak and memcheck tests), the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the bounded fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"

echo "== optimised build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAVIREREZI_SANITIZE=ON \
  -DVAVIREREZI_BENCH=OFF
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== fuzzing (${FUZZ_SECONDS:-25} s a target)"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAVIREREZI_FUZZ=ON \
  -DVAVIREREZI_BENCH=OFF -DFUZZ_SECONDS="${FUZZ_SECONDS:-25}"
cmake --build build-fuzz -j"$jobs"
ctest --test-dir build-fuzz --output-on-failure -j"$jobs"
