#!/usr/bin/env bash
# The VM stages' choice of kernel (scripts/lib/kernel-choice.sh) on package indexes
# without apt or the network: for each folder of tests/kernel-choice (a Packages
# file and the arguments), the lines printed and the status must be the folder's
# `expected`.
#
# Usage: check_kernel_choice.sh LIBRARY FIXTURES [--write]   (--write: make `expected`)
set -euo pipefail
# shellcheck source=../scripts/lib/kernel-choice.sh
. "$1"
fixtures=$2
write=${3:-}

failed=0
count=0
for state in "$fixtures"/*/; do
    state=${state%/}
    name=${state##*/}
    count=$((count + 1))
    read -r -a args <"$state/args"
    status=0
    got=$(kernelChoose "${args[@]}" <"$state/Packages") || status=$?
    got+=$'\n'"status $status"
    if [ "$write" = --write ]; then
        printf '%s\n' "$got" >"$state/expected"
    elif ! diff -u "$state/expected" <(printf '%s\n' "$got"); then
        echo "FAILED: $name"
        failed=1
    else
        echo "$name: as expected"
    fi
done
echo "archive states: $count checked"
exit "$failed"
