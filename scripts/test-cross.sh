#!/usr/bin/env bash
# Sets up, cross builds for a Raspberry Pi into build-ARCH and runs the whole test
# suite on its binaries under qemu-user, against the pigpio stand-in.
# Usage: scripts/test-cross.sh armhf|arm64   (32-bit or 64-bit Raspberry Pi OS)
# The native build in build (as scripts/test.sh makes it) is brought up to date
# too, so that the suite can check that both builds' senders behave byte for
# byte the same.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:?usage: scripts/test-cross.sh armhf|arm64}
case "$arch" in
armhf | arm64) ;;
*) echo "scripts/test-cross.sh: no Raspberry Pi target '$arch' (armhf or arm64)" >&2; exit 2 ;;
esac

scripts/setup.sh "$arch"
cmake --preset test >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
cmake --install build --prefix build/stage >/dev/null

cmake --preset "$arch" >/dev/null
cmake --build "build-$arch" -j "$(nproc)"
ctest --test-dir "build-$arch" --output-on-failure -j "$(nproc)"
# What the stack and comparison checks measured.
grep -h -E '^(beamfile|beamones): (frame|own)|^compared' "build-$arch/Testing/Temporary/LastTest.log"
