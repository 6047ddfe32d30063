# Cross-building for 64-bit ARM Linux (Debian's crossbuild-essential-arm64), run under qemu-user.
set(cross_processor aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
