# Cross build for aarch64 Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu); tests run under qemu-user (qemu-aarch64).
#
# VAVIREREZI_TARGET_ROOT is the directory qemu takes the target's libraries
# from: by default the cross compiler's own, or a directory of Debian's
# aarch64 packages unpacked with dpkg -x (to run a target interpreter too).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(VAVIREREZI_TARGET_ROOT "/usr/aarch64-linux-gnu" CACHE PATH "Root of the target's libraries")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L "${VAVIREREZI_TARGET_ROOT}")

# Libraries and headers come from the target's directories only, never the
# build machine's; programs (the emulator, nm) from the build machine.
set(CMAKE_FIND_ROOT_PATH "/usr/aarch64-linux-gnu" "${VAVIREREZI_TARGET_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
