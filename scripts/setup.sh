#!/usr/bin/env bash
# Installs what building and testing need, from the distribution's packages.
# Usage: scripts/setup.sh [build|test|armhf|arm64|decode|perf|fuzz|valgrind|lint|real|
#                         pigpio|pigpio-armhf|pigpio-arm64|kernel-vm|gpio-ir-tx-vm]
#   (default: test, which includes build; armhf, arm64, valgrind, lint, real,
#   kernel-vm and gpio-ir-tx-vm include test)
#   decode: only sigrok-cli, the independent NEC decoder of the traces
#   test also: mandoc and man-db, for the manual pages' tests
#   test also: ir-keytable, lirc, lirc-compat-remotes and v4l-utils, for the real-file
#   checks and the oracles (LIRC's irsimsend, v4l-utils' ir-ctl)
#   pigpio*: building pigpio's library from its source (scripts/build-pigpio.sh)
#   real: the stage against the real pigpio, native and both ARMs (scripts/test-real-pigpio.sh)
set -euo pipefail

need=(cmake make g++ binutils linux-libc-dev)
case "${1:-test}" in
test | armhf | arm64 | real) need+=(libgtest-dev) ;;
esac
# The Pi's cross build: Debian's cross compiler, qemu-user to run what it builds,
# and GoogleTest's sources to build it for the target.
case "${1:-}" in
armhf | arm64) need+=("crossbuild-essential-$1" qemu-user googletest) ;;
esac
# mandoc lints and renders the manual pages, man shows them as installed (the
# documents' tests, and lint).
case "${1:-test}" in
test | armhf | arm64 | real) need+=(sigrok-cli mandoc man-db) ;;
decode) need=(sigrok-cli) ;;
esac
# The checks against files nobody here wrote: Debian's keymaps, LIRC's remotes, LIRC's
# own encoder and decoder (irsimsend, irsimreceive) and v4l-utils' ir-ctl, whose
# encoders the kernel's protocols and the keymaps' presses are held against.
if [ "${1:-test}" = test ]; then
    need+=(ir-keytable lirc lirc-compat-remotes v4l-utils)
fi
# pigpio's library from Debian's source package: apt-get source needs dpkg-dev
# (dpkg-source unpacks it and applies Debian's patches).
case "${1:-test}" in
pigpio) need+=(dpkg-dev) ;;
pigpio-armhf) need+=(dpkg-dev gcc-arm-linux-gnueabihf) ;;
pigpio-arm64) need+=(dpkg-dev gcc-aarch64-linux-gnu) ;;
real) need+=(dpkg-dev crossbuild-essential-armhf crossbuild-essential-arm64 qemu-user) ;;
esac
if [ "${1:-test}" = perf ]; then
    need+=(libbenchmark-dev valgrind perl time)
fi
# fuzz: clang with libFuzzer and the sanitizer runtimes (scripts/fuzz.sh).
if [ "${1:-test}" = fuzz ]; then
    need+=(clang libclang-rt-dev)
fi
case "${1:-test}" in
valgrind) need+=(libgtest-dev valgrind) ;;
lint) need+=(libgtest-dev clang-tidy cppcheck clang-format mandoc) ;;
esac
# kernel-vm: a VM of Debian's kernel, without KVM, whose initramfs holds busybox;
# the kernel's modules may come compressed (scripts/test-kernel-vm.sh).
if [ "${1:-test}" = kernel-vm ]; then
    need+=(libgtest-dev qemu-system-x86 busybox-static cpio xz-utils zstd)
fi
# gpio-ir-tx-vm: an arm64 VM without KVM, its device trees, the arm64 senders, and
# the kernel modules built for it; the kernel's own build tools, fetched with it,
# need libelf and libssl (scripts/test-gpio-ir-tx-vm.sh).
if [ "${1:-test}" = gpio-ir-tx-vm ]; then
    need+=(libgtest-dev qemu-system-arm device-tree-compiler crossbuild-essential-arm64
        cpio xz-utils zstd libelf1 libssl3)
fi

missing=()
for package in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# Installing takes root: this user's own, or sudo's when it lets this user run
# apt-get (without asking, or asking at a terminal).  Otherwise say what to install,
# before anything fails for the want of it.
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    why=
    if ! command -v sudo >/dev/null; then
        why="there is no sudo here"
    elif sudo -n true 2>/dev/null; then
        :
    elif [ -t 0 ]; then
        sudo -v || why="sudo refused $(id -un)"
    else
        why="sudo does not let $(id -un) run it without a password ('sudo -n true' failed), and there is no terminal to type one at"
    fi
    if [ -n "$why" ]; then
        {
            echo "scripts/setup.sh: missing packages: ${missing[*]}"
            echo "Installing them takes root, and $why. As root, run:"
            echo "    apt-get update && apt-get install -y ${missing[*]}"
            echo "and then this command again."
        } >&2
        exit 1
    fi
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
