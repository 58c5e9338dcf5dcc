#!/usr/bin/env bash
# Usage: install-deps.sh [build|all]
# Installs the Debian packages that the build (`build`: compiler and CMake)
# or the build and every test (`all`, the default) need, where missing; for
# `all` it also makes Debian's arm64 and s390x packages known to apt, for the
# target roots of the cross builds (scripts/target-root.sh). Installing needs
# root; without it, a missing package is reported and the script fails.
set -euo pipefail
packages=(cmake g++ make)
foreign=()
if [ "${1:-all}" = all ]; then
  packages+=(clang libclang-rt-14-dev libgtest-dev libssl-dev libgcrypt20-dev binutils valgrind
    qemu-user g++-aarch64-linux-gnu g++-s390x-linux-gnu python3-mypy pypy3 pypy3-dev pypy3-venv
    python3-build python3-setuptools python3-dbg python3-dask python3-distributed clang-format
    python3-pyflakes)
  foreign=(arm64 s390x)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
new_arch=()
for arch in "${foreign[@]}"; do
  dpkg --print-foreign-architectures | grep -qx "$arch" || new_arch+=("$arch")
done
if [ "${#missing[@]}" -eq 0 ] && [ "${#new_arch[@]}" -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "missing Debian packages: ${missing[*]:-none}; foreign architectures: ${new_arch[*]:-none}" >&2
  echo "run as root: bash scripts/install-deps.sh${1:+ $1}" >&2
  exit 1
fi
for arch in "${new_arch[@]}"; do
  dpkg --add-architecture "$arch"
done
apt-get update
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi
