# Cross-building for s390x, a big-endian processor (Debian's g++-s390x-linux-gnu and
# libc6-dev-s390x-cross), run under qemu-user.
set(cross_processor s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
