#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite against the pigpio stand-in (the
# kernel library's unit tests included), then builds the programs on the kernel's IR
# transmitter (pigpio/lirc) and checks what that build alone adds: its install.
# Each part has a heading; the last line gives the totals of both, and the exit
# status is 0 only when every test of both passed.
set -euo pipefail
cd "$(dirname "$0")/.."

passed=0
failed=0
skipped=0
summaries=()

# Runs one build's tests (ctest's arguments after the build folder) and adds its
# counts, read from ctest's own JUnit report, to the totals.
runTests() {
    local name=$1 dir=$2 status=0
    shift 2
    local report=$PWD/$dir/test-report.xml
    rm -f "$report"
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --output-junit "$report" "$@" ||
        status=$?
    local tests=0 failures=0 skips=0 disabled=0
    if [ -f "$report" ]; then
        tests=$(grep -m1 -o 'tests="[0-9]*"' "$report" | tr -dc 0-9)
        failures=$(grep -m1 -o 'failures="[0-9]*"' "$report" | tr -dc 0-9)
        skips=$(grep -m1 -o 'skipped="[0-9]*"' "$report" | tr -dc 0-9)
        disabled=$(grep -m1 -o 'disabled="[0-9]*"' "$report" | tr -dc 0-9)
    fi
    # A run that failed without a failure counted (ctest itself, or no report) fails too.
    if [ "$status" -ne 0 ] && [ "${failures:-0}" -eq 0 ]; then
        failures=1
    fi
    local ran=$((tests - failures - skips - disabled))
    passed=$((passed + ran))
    failed=$((failed + failures))
    skipped=$((skipped + skips + disabled))
    summaries+=("$name: $ran passed, $failures failed$([ $((skips + disabled)) -eq 0 ] || echo ", $((skips + disabled)) skipped")")
}

echo "== test.sh, part 1 of 2: the stand-in build (build/), the whole suite"
scripts/setup.sh test
cmake --preset test >/dev/null
cmake --build build -j "$(nproc)"
runTests "the stand-in build" build

echo "== test.sh, part 2 of 2: the kernel build (build-kernel/): its install"
cmake --preset kernel >/dev/null
cmake --build build-kernel -j "$(nproc)"
runTests "the kernel build" build-kernel -L kernel

echo "== test.sh: both parts"
printf '   %s\n' "${summaries[@]}"
echo "test.sh: $passed passed, $failed failed$([ "$skipped" -eq 0 ] || echo ", $skipped skipped")"
[ "$failed" -eq 0 ]
