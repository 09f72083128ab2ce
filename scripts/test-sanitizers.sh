#!/usr/bin/env bash
# Sets up, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan, and runs the whole test suite there, end-to-end tests included.
#
# The test harness passes its environment on to the programs it runs, so these
# options reach every instrumented process.  A finding ends that process with
# status 86 (ASan, LeakSanitizer) or 87 (UBSan), which no program and no test
# exits with by itself, so it cannot pass for an expected status.  Reports go to
# files, because the harness keeps a program's stderr to itself; any report at
# all fails the run, and is printed.
#
# No -Werror here: GCC's own manual warns that sanitizers raise false
# -Wmaybe-uninitialized warnings (GCC 12 gives them inside <regex>); the normal
# build (scripts/test.sh) is the one held to zero warnings.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake --preset sanitize >/dev/null
cmake --build build-asan -j "$(nproc)"

reports=$PWD/build-asan/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS=halt_on_error=1:exitcode=86:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:log_path=$reports/asan
export UBSAN_OPTIONS=halt_on_error=1:exitcode=87:print_stacktrace=1:log_path=$reports/ubsan

status=0
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" || status=$?
if [ -n "$(ls -A "$reports")" ]; then
    for report in "$reports"/*; do
        echo "==== $report"
        cat "$report"
    done
    echo "Sanitizer reports above: failing."
    status=1
fi
exit "$status"
