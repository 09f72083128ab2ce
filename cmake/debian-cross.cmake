# The body of a cross build with Debian's cross compilers, for the toolchain files
# of each Raspberry Pi target: they set BEAM_CROSS_TRIPLE (the compilers' prefix and
# the sysroot's name), CMAKE_SYSTEM_PROCESSOR and BEAM_QEMU (qemu-user's program),
# then include this.  CTest and the tests that start programs run the target's
# binaries through qemu-user, which takes the target's loader and libraries from
# the cross sysroot.
set(CMAKE_SYSTEM_NAME Linux)

set(BEAM_CROSS_SYSROOT /usr/${BEAM_CROSS_TRIPLE})
set(CMAKE_C_COMPILER ${BEAM_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${BEAM_CROSS_TRIPLE}-g++)

# Libraries and headers come from the sysroot only, never from this machine;
# programs (readelf, qemu) from this machine.
set(CMAKE_FIND_ROOT_PATH ${BEAM_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# An absolute path, since the tests exec it without a search.
find_program(BEAM_QEMU_PROGRAM ${BEAM_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BEAM_QEMU_PROGRAM} -L ${BEAM_CROSS_SYSROOT})

# GCC notes that passing some std:: types changed ABI in GCC 7.1; nothing built
# by an older compiler is linked here, so the notes only bury real warnings.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
