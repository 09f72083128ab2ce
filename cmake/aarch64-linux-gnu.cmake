# Cross build for a Raspberry Pi under 64-bit Linux (AArch64) with Debian's cross
# compiler (crossbuild-essential-arm64):
#   cmake --preset arm64   (or: cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake)
set(BEAM_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(BEAM_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
