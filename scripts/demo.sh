#!/usr/bin/env bash
# Builds the module and runs the demonstration script under Python 2.7.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target vavirerezi
cmake --build build --target demo
