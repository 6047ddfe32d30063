# Cross-building for another Linux processor with Debian's cross compilers, and running what is
# built through qemu-user with that processor's libraries' root. The including toolchain file sets
# `cross_processor`, which names the compilers (PROCESSOR-linux-gnu-g++), the root and qemu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cross_processor})
set(CMAKE_C_COMPILER ${cross_processor}-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER ${cross_processor}-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${cross_processor}-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${cross_processor} -L /usr/${cross_processor}-linux-gnu)
