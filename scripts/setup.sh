#!/usr/bin/env bash
# Installs what building and testing need, from the distribution's packages.
# Usage: scripts/setup.sh [build|test|armhf|decode|perf|fuzz|valgrind|lint]
#   (default: test, which includes build; armhf, valgrind and lint include test)
#   decode: only sigrok-cli, the independent NEC decoder of the traces
set -euo pipefail

need=(cmake make g++ binutils linux-libc-dev)
case "${1:-test}" in
test | armhf) need+=(libgtest-dev libgmock-dev) ;;
esac
# The Pi's cross build: Debian's cross compiler, qemu-user to run what it builds,
# and GoogleTest's sources to build it for the target.
if [ "${1:-}" = armhf ]; then
    need+=(crossbuild-essential-armhf qemu-user googletest)
fi
case "${1:-test}" in
test | armhf) need+=(sigrok-cli) ;;
decode) need=(sigrok-cli) ;;
esac
if [ "${1:-test}" = perf ]; then
    need+=(libbenchmark-dev valgrind perl time)
fi
# fuzz: clang with libFuzzer and the sanitizer runtimes (scripts/fuzz.sh).
if [ "${1:-test}" = fuzz ]; then
    need+=(clang libclang-rt-dev)
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
