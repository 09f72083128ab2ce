#!/usr/bin/env bash
# Installs what building and testing need, from the distribution's packages.
# Usage: scripts/setup.sh [build|test|valgrind|lint]   (default: test, which includes build)
#   valgrind: test, and valgrind;  lint: test, and clang-tidy, cppcheck, clang-format.
set -euo pipefail

need=(cmake make g++ binutils)
if [ "${1:-test}" = test ]; then
    need+=(libgtest-dev libgmock-dev)
fi
case "${1:-test}" in
    valgrind) need+=(libgtest-dev libgmock-dev valgrind) ;;
    lint) need+=(libgtest-dev libgmock-dev clang-tidy cppcheck clang-format) ;;
esac

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
