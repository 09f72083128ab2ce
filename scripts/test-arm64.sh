#!/usr/bin/env bash
# Sets up, cross builds for a Raspberry Pi under 64-bit Linux (arm64) into
# build-arm64 and runs the whole test suite on the AArch64 binaries under qemu-user,
# against the pigpio stand-in.  The native build in build (as scripts/test.sh
# makes it) is brought up to date too, so that the suite can check that both
# builds' senders behave byte for byte the same.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh arm64
cmake --preset test >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
cmake --install build --prefix build/stage >/dev/null

cmake --preset arm64 >/dev/null
cmake --build build-arm64 -j "$(nproc)"
ctest --test-dir build-arm64 --output-on-failure -j "$(nproc)"
# What the stack and comparison checks measured.
grep -h -E '^(beamfile|beamones): (frame|own)|^compared' build-arm64/Testing/Temporary/LastTest.log
