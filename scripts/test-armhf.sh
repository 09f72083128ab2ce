#!/usr/bin/env bash
# Sets up, cross builds for a Raspberry Pi under 32-bit Linux (armhf) into
# build-armhf and runs the whole test suite on the ARM binaries under qemu-user,
# against the pigpio stand-in.  The native build in build (as scripts/test.sh
# makes it) is brought up to date too, so that the suite can check that both
# builds' senders behave byte for byte the same.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh armhf
cmake --preset test >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
cmake --install build --prefix build/stage >/dev/null

cmake --preset armhf >/dev/null
cmake --build build-armhf -j "$(nproc)"
ctest --test-dir build-armhf --output-on-failure -j "$(nproc)"
# What the stack and comparison checks measured.
grep -h -E '^(beamfile|beamones): (frame|own)|^compared' build-armhf/Testing/Temporary/LastTest.log
