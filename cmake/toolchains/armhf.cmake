# Cross build for 32-bit ARM Linux (armhf) with Debian's cross compiler
# (gcc-arm-linux-gnueabihf, g++-arm-linux-gnueabihf). Boost and GoogleTest
# come from the sysroot that scripts/armhf-sysroot.sh unpacks; the C and C++
# runtimes from the cross compiler's own tree. Programs built here, tests
# included, run through qemu-arm (Debian package qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

set(_armhf_runtime /usr/arm-linux-gnueabihf)

# Computed from this file's place rather than cached, so that try_compile
# projects, which read this file again, see the same folder.
if(NOT IPC_SOAK_ARMHF_SYSROOT)
  if(DEFINED ENV{IPC_SOAK_ARMHF_SYSROOT})
    set(IPC_SOAK_ARMHF_SYSROOT "$ENV{IPC_SOAK_ARMHF_SYSROOT}")
  else()
    get_filename_component(IPC_SOAK_ARMHF_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../../sysroot/armhf"
                           ABSOLUTE)
  endif()
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES IPC_SOAK_ARMHF_SYSROOT)

if(NOT EXISTS "${IPC_SOAK_ARMHF_SYSROOT}/usr/include/boost/version.hpp")
  message(FATAL_ERROR "No armhf sysroot at ${IPC_SOAK_ARMHF_SYSROOT}: "
                      "run scripts/armhf-sysroot.sh first")
endif()

# Headers, libraries and CMake package configs are looked up only in the
# armhf trees, never among the host's amd64 ones; programs (tools that run
# during the build) only on the host.
set(CMAKE_FIND_ROOT_PATH "${IPC_SOAK_ARMHF_SYSROOT}" "${_armhf_runtime}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC notes at every 8-byte-aligned type passed by value that its ARM
# calling convention changed in GCC 7.1; everything here, Boost included, is
# built by one GCC 12, and the camera's client library is plain C.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

set(_armhf_sysroot_libs "${IPC_SOAK_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf")
# pkg-config, too, sees only the sysroot's packages, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${_armhf_sysroot_libs}/pkgconfig:${IPC_SOAK_ARMHF_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${IPC_SOAK_ARMHF_SYSROOT}")
# The linker resolves the libraries' own dependencies from here (some of
# libsystemd's are packaged under /lib).
set(_armhf_sysroot_libs
    "${_armhf_sysroot_libs}:${IPC_SOAK_ARMHF_SYSROOT}/lib/arm-linux-gnueabihf")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_armhf_sysroot_libs}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_armhf_sysroot_libs}")

find_program(IPC_SOAK_QEMU_ARM qemu-arm REQUIRED)
# -L gives the guest its dynamic loader and C/C++ runtimes; the Boost
# runtime libraries live only in the sysroot, and the build tree's own
# libraries are found through the binaries' build-tree RUNPATH.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${IPC_SOAK_QEMU_ARM}" -L "${_armhf_runtime}" -E "LD_LIBRARY_PATH=${_armhf_sysroot_libs}")
