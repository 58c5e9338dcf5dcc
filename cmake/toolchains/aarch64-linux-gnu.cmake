# Cross build for aarch64 Linux: Debian's g++-aarch64-linux-gnu, tests under
# qemu-aarch64 (see debian-cross.cmake).
set(VAVIREREZI_CROSS_ARCH aarch64)
include("${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake")
