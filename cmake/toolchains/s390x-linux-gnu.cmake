# Cross build for s390x Linux with Debian's cross compiler
# (g++-s390x-linux-gnu); tests run under qemu-user (qemu-s390x).
#
# VAVIREREZI_TARGET_ROOT is the directory qemu takes the target's libraries
# from: by default the cross compiler's own, or a directory of Debian's
# s390x packages unpacked with dpkg -x (to run a target interpreter too).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

set(VAVIREREZI_TARGET_ROOT "/usr/s390x-linux-gnu" CACHE PATH "Root of the target's libraries")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L "${VAVIREREZI_TARGET_ROOT}")

# Libraries and headers come from the target's directories only, never the
# build machine's; programs (the emulator, nm) from the build machine.
set(CMAKE_FIND_ROOT_PATH "/usr/s390x-linux-gnu" "${VAVIREREZI_TARGET_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
