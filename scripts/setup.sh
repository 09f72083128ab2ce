#!/usr/bin/env bash
# Installs what building and testing need, from the distribution's packages.
# Usage: scripts/setup.sh [build|test]   (default: test, which includes build)
set -euo pipefail

need=(cmake make g++ binutils)
if [ "${1:-test}" = test ]; then
    need+=(libgtest-dev libgmock-dev)
fi
# fuzz: clang with libFuzzer and the sanitizer runtimes (scripts/fuzz.sh).
if [ "${1:-test}" = fuzz ]; then
    need+=(clang libclang-rt-dev)
fi

missing=()
for package in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
