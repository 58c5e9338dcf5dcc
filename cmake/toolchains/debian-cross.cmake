# Shared by the cross toolchain files, which set VAVIREREZI_CROSS_ARCH first:
# Debian's cross compiler for that architecture (g++-ARCH-linux-gnu), tests
# run under qemu-user (qemu-ARCH).
#
# VAVIREREZI_TARGET_ROOT is the directory qemu takes the target's libraries
# from: by default the cross compiler's own, or a directory of Debian's
# packages for the target unpacked with dpkg -x (scripts/target-root.sh), to
# run a target interpreter and have the target's libcrypto too.
set(triplet "${VAVIREREZI_CROSS_ARCH}-linux-gnu")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${VAVIREREZI_CROSS_ARCH})
set(CMAKE_C_COMPILER ${triplet}-gcc)
set(CMAKE_CXX_COMPILER ${triplet}-g++)

set(VAVIREREZI_TARGET_ROOT "/usr/${triplet}" CACHE PATH "Root of the target's libraries")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${VAVIREREZI_CROSS_ARCH} -L "${VAVIREREZI_TARGET_ROOT}")

# Libraries and headers come from the target's directories only, never the
# build machine's; programs (the emulator, nm) from the build machine.
set(CMAKE_FIND_ROOT_PATH "/usr/${triplet}" "${VAVIREREZI_TARGET_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
