#!/usr/bin/env bash
# scripts/apt-deb-src.sh on apt layouts without apt or the network: for each folder
# of tests/apt-sources (a sources.list, a sources.list.d, either, both or neither),
# its output, status and the files it writes must be the folder's `expected`.
#
# Usage: check_apt_deb_src.sh SCRIPT FIXTURES [--write]   (--write: make `expected`)
set -euo pipefail
script=$1
fixtures=$2
write=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What one layout gives, as text; the layout's own path reads CASE.
outcome() {
    local layout=$1 out=$2 status=0
    "$script" "$layout/sources.list" "$layout/sources.list.d" "$out" >"$work/stdout" 2>"$work/stderr" ||
        status=$?
    echo "status $status"
    sed "s|$layout|CASE|g; s|^|stdout: |" "$work/stdout"
    sed "s|$layout|CASE|g; s|^|stderr: |" "$work/stderr"
    for file in "$out/sources.list" "$out/sources.list.d"/*; do
        [ -f "$file" ] || continue
        echo "-- ${file#"$out"/}"
        cat "$file"
    done
}

failed=0
count=0
for layout in "$fixtures"/*/; do
    layout=${layout%/}
    name=${layout##*/}
    count=$((count + 1))
    got=$(outcome "$layout" "$work/$name")
    if [ "$write" = --write ]; then
        printf '%s\n' "$got" >"$layout/expected"
    elif ! diff -u "$layout/expected" <(printf '%s\n' "$got") >"$work/diff"; then
        echo "FAILED: $name"
        cat "$work/diff"
        failed=1
    else
        echo "$name: as expected"
    fi
done
echo "apt layouts: $count checked"
exit "$failed"
