#!/usr/bin/env bash
# Installs what building and testing need, from the distribution's packages.
# Usage: scripts/setup.sh [build|test|perf]   (default: test; each includes build)
set -euo pipefail

need=(cmake make g++ binutils)
if [ "${1:-test}" = test ]; then
    need+=(libgtest-dev libgmock-dev)
fi
if [ "${1:-test}" = perf ]; then
    need+=(libbenchmark-dev valgrind perl time)
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
