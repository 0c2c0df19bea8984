# Cross build for the goggles: 32-bit ARM, hard float, Debian's cross g++.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# The cross compiler's own C library, and the root for the armhf packages that
# Debian's multiarch puts beside the host's (/usr/lib/arm-linux-gnueabihf):
# GoogleTest, Google Benchmark, libpng and pixman for the tests on ARM.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must answer for armhf, not for the build machine.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
# Test programs, and CTest's discovery of their cases, run under user-mode
# QEMU; the multiarch loader in /lib makes the dynamic ones start as well.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static)
# GCC notes, at every std::vector iterator passed by value, that the way such
# arguments are passed changed in GCC 7.1; everything here is built by one
# compiler, so the note only buries the build log.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
