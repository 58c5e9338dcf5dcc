# Cross build for s390x Linux: Debian's g++-s390x-linux-gnu, tests under
# qemu-s390x (see debian-cross.cmake).
set(VAVIREREZI_CROSS_ARCH s390x)
include("${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake")
