#!/usr/bin/env bash
# The whole suite on the 64-bit Raspberry Pi build (arm64) under qemu-user.
exec "$(dirname "$0")/test-cross.sh" arm64
