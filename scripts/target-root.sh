#!/usr/bin/env bash
# Usage: target-root.sh ARCH DIR
# Unpacks Debian's packages for ARCH (arm64 or s390x) into DIR, a root that
# qemu-user takes the target's libraries from: the C and C++ runtimes,
# OpenSSL's libcrypto with its headers (the Blowfish oracle of the core
# tests) and, for arm64, Python 3.11 with its headers and libgcrypt (to build
# the module for the target and run its tests). The packages are unpacked,
# not installed, so nothing clashes with the build machine's own. Does
# nothing if DIR is already complete.
set -euo pipefail
arch=$1
root=$2
if [ -f "$root/.complete" ]; then
  exit 0
fi
packages=(libc6 libgcc-s1 libstdc++6 libssl3 libssl-dev)
if [ "$arch" = arm64 ]; then
  packages+=(python3.11-minimal libpython3.11-minimal libpython3.11-stdlib libpython3.11
    libpython3.11-dev libexpat1 zlib1g libffi8 libbz2-1.0 liblzma5 libcrypt1 libgcrypt20
    libgpg-error0)
fi
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  echo "Debian's $arch packages are not available here: run scripts/install-deps.sh as root" >&2
  exit 1
fi
debs=$(mktemp -d)
chown _apt "$debs" 2>/dev/null || true # apt downloads as its own user
trap 'rm -rf "$debs"' EXIT
(cd "$debs" && apt-get download "${packages[@]/%/:$arch}")
rm -rf "$root"
mkdir -p "$root"
for deb in "$debs"/*.deb; do
  dpkg -x "$deb" "$root"
done
touch "$root/.complete"
