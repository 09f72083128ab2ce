# Cross build for a Raspberry Pi under 64-bit Linux (AArch64) with Debian's
# cross compiler (crossbuild-essential-arm64):
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake
# CTest and the tests that start programs run the ARM binaries through qemu-user,
# which takes the target's loader and libraries from the cross sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(BEAM_CROSS_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and headers come from the sysroot only, never from this machine;
# programs (readelf, qemu) from this machine.
set(CMAKE_FIND_ROOT_PATH ${BEAM_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# An absolute path, since the tests exec it without a search.
find_program(BEAM_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BEAM_QEMU_AARCH64} -L ${BEAM_CROSS_SYSROOT})

# GCC notes that passing some std:: types changed ABI in GCC 7.1; nothing built
# by an older compiler is linked here, so the notes only bury real warnings.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
