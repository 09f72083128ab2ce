# Cross build for a Raspberry Pi under 32-bit Linux (ARM hard-float) with Debian's
# cross compiler (crossbuild-essential-armhf):
#   cmake --preset armhf   (or: cmake -S . -B build-armhf --toolchain cmake/arm-linux-gnueabihf.cmake)
set(BEAM_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(BEAM_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
