#!/usr/bin/env bash
# Builds the module for every interpreter found and runs the demonstration
# under each: masking and unmasking with mt_xor_bytes, enciphering and
# deciphering with bf_process. Installs what the build needs first, if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target demo
