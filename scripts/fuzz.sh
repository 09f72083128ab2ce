#!/usr/bin/env bash
# Sets up, builds the libFuzzer targets (fuzz/) with clang into build-fuzz and runs
# them all at once for a bounded time, sharing the machine's cores.  New inputs go to
# build-fuzz/corpus/<target>, never into the committed seeds; an input that
# breaks a check is kept in build-fuzz/artifacts/ and the script fails.
# Usage: scripts/fuzz.sh [seconds]   (default 60; every target runs that long, all at
# once on the machine's cores, so the stage takes as long with four as with two)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
seconds=${1:-60}

scripts/setup.sh fuzz
cmake --preset fuzz >/dev/null
targets=(beamfile emit_code nec_code ircode)
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/%/_fuzz}" >/dev/null

# The targets run against the stand-in, which refuses to start on a Raspberry Pi
# unless told that a simulation is meant.
export PIGPIO_SIM_ON_PI=1
# The message file is read for its first 32 bytes; codes run to 512 bytes and past;
# nec-code's files hold a few signals in a few kilobytes; a Pronto code or a raw file
# at the 1024 durations a press may have runs to about 8 kilobytes.
declare -A maxLen=([beamfile]=256 [emit_code]=1024 [nec_code]=4096 [ircode]=8192)
pids=()
for target in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus/$target" build-fuzz/artifacts
    "build-fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
        -max_len="${maxLen[$target]}" -print_final_stats=1 \
        -artifact_prefix="$top/build-fuzz/artifacts/$target-" \
        "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"build-fuzz/$target.log" 2>&1 &
    pids+=($!)
done

passed=0
failed=0
for i in "${!targets[@]}"; do
    target=${targets[$i]}
    if wait "${pids[$i]}"; then
        passed=$((passed + 1))
        echo "== $target: no fault in ${seconds} s"
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' \
            "build-fuzz/$target.log"
        grep -E '^Done [0-9]+ runs' "build-fuzz/$target.log" || true
    else
        failed=$((failed + 1))
        echo "== $target: FAULT (whole log: build-fuzz/$target.log)"
        grep -a -E 'fuzz check failed|runtime error|ERROR: (Address|libFuzzer)|SUMMARY|Test unit written' \
            "build-fuzz/$target.log" || tail -n 40 "build-fuzz/$target.log"
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
