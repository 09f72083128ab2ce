#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite against the pigpio stand-in.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake --preset test >/dev/null
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
