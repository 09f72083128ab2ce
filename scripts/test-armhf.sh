#!/usr/bin/env bash
# The whole suite on the 32-bit Raspberry Pi build (armhf) under qemu-user.
exec "$(dirname "$0")/test-cross.sh" armhf
