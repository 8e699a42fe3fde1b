# SPDX-License-Identifier: MIT
# Cross build for the board: 32-bit ARM, hard-float, glibc.
# Debian's g++-arm-linux-gnueabihf provides the compilers; qemu-user runs the results.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# The cross toolchain's own root, and the host's root for Debian's armhf
# multiarch libraries (/usr/lib/arm-linux-gnueabihf), which pkg-config names.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Unit tests and system tests run the ARM binaries through this. The guest
# loader comes from the cross toolchain, so the C library must come from
# there too, not from armhf multiarch packages that the host's loader cache
# may name (a loader and a C library of different builds crash).
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib)

# Libraries of the board's target come from Debian's armhf multiarch packages
# (dpkg --add-architecture armhf): pkg-config must describe those, and the
# linker must find their own dependencies there.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(multiarch_libs "-Wl,-rpath-link,/usr/lib/arm-linux-gnueabihf:/lib/arm-linux-gnueabihf")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${multiarch_libs}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${multiarch_libs}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${multiarch_libs}")
