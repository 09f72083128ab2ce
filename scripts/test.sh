#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite against the pigpio stand-in (the
# kernel library's unit tests included), then builds the programs on the kernel's IR
# transmitter (pigpio-lirc) and checks what that build alone adds: its install.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake --preset test >/dev/null
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"

cmake --preset kernel >/dev/null
cmake --build build-kernel -j "$(nproc)"
ctest --test-dir build-kernel --output-on-failure -L kernel
