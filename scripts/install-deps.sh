#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where missing,
# and makes Debian's arm64 and s390x packages known to apt, for the target
# roots of the cross builds (scripts/target-root.sh). Needs root.
set -euo pipefail
packages=(cmake g++ make clang libclang-rt-14-dev libgtest-dev libssl-dev libgcrypt20-dev
  binutils valgrind qemu-user g++-aarch64-linux-gnu g++-s390x-linux-gnu python3-mypy)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
update=0
for arch in arm64 s390x; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
    update=1
  fi
done
if [ "${#missing[@]}" -gt 0 ] || [ "$update" = 1 ]; then
  apt-get update
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi
