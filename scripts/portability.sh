#!/usr/bin/env bash
# The other targets: cross builds for aarch64 and big-endian s390x with their
# tests under qemu-user, the Python 3.11 module for aarch64 with its tests,
# and the x86-64 cores and Python 2.7 module on CPUs without AVX (Nehalem)
# and without AVX-512 (Haswell). Expects the native build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
roots="$PWD/build-cross"
if [ -z "${VAVIREREZI_TALLY:-}" ]; then # run on its own, not from scripts/test.sh
  VAVIREREZI_TALLY=/dev/null
fi
. scripts/tally.sh

# cross NAME TOOLCHAIN [CMAKE OPTIONS...]: configure, build and test in build-NAME.
cross() {
  local dir="build-$1" toolchain="cmake/toolchains/$2-linux-gnu.cmake"
  shift 2
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVAVIREREZI_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" >/dev/null
  counted_ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

echo "== aarch64 cores, as a new user builds them (qemu-aarch64)"
cross aarch64 aarch64

echo "== s390x (big-endian) cores, with the target's libcrypto as the oracle (qemu-s390x)"
bash scripts/target-root.sh s390x "$roots/s390x-root"
cross s390x s390x -DVAVIREREZI_TARGET_ROOT="$roots/s390x-root"

echo "== aarch64 cores and Python 3.11 module, with Debian's arm64 python3.11 (qemu-aarch64)"
bash scripts/target-root.sh arm64 "$roots/arm64-root"
cross aarch64-py311 aarch64 -DVAVIREREZI_TARGET_ROOT="$roots/arm64-root" \
  -DVAVIREREZI_PYTHON3="$roots/arm64-root/usr/bin/python3.11"

python27=$(sed -n 's/^PYTHON27_EXECUTABLE:FILEPATH=//p' build/CMakeCache.txt)
# Haswell less the system features that qemu's TCG does not emulate (and warns
# of at every start); none of them matters to user code.
haswell=Haswell,-pcid,-x2apic,-tsc-deadline,-hle,-invpcid,-rtm
for cpu in Nehalem Haswell; do
  echo "== x86-64 cores and Python 2.7 module under qemu-x86_64 -cpu $cpu"
  model=$cpu
  if [ "$cpu" = Haswell ]; then
    model=$haswell
  fi
  emulate=(qemu-x86_64 -cpu "$model")
  # The dispatchers must pass over what the CPU lacks: AVX-512 on both, AVX2
  # on Nehalem; the implementations it lacks show as skipped cases.
  case "$cpu" in
    Nehalem) keystream=plain ;;
    Haswell) keystream=avx2 ;;
  esac
  log=$(VAVIREREZI_EXPECT_KEYSTREAM=$keystream VAVIREREZI_EXPECT_BLOCKCIPHER=interleaved \
    "${emulate[@]}" build/tests/core_tests --gtest_brief=1 2>&1) || {
    echo "$log"
    echo "0 1 0" >>"$VAVIREREZI_TALLY"
    exit 1
  }
  echo "$log" | tail -n 2
  # "[  PASSED  ] N tests." and, where any, "[  SKIPPED ] N tests, listed below:"
  echo "$log" | awk '/^\[  PASSED  \]/ { p = $4 } /^\[  SKIPPED \] [0-9]+ test/ { s = $4 }
    END { print p + 0, 0, s + 0 }' >>"$VAVIREREZI_TALLY"
  (cd tests/python && counted_unittest env PYTHONPATH="$PWD/../../build" VAVIREREZI_SKIP_SOAK=1 \
    VAVIREREZI_CHILD_LAUNCHER="${emulate[*]}" "${emulate[@]}" "$python27" -m unittest \
    $(ls test_*.py | grep -vx test_faults.py | sed 's/\.py$//'))
done
