#!/usr/bin/env bash
# The cross-built senders must behave on the Pi byte for byte as the native ones
# do here.  Runs the native and the cross-built beamfile and beamones on the same
# message files and with each fault the pigpio stand-in can inject, and with a
# SIGINT during the send, on its virtual clock, and compares standard output, exit
# status, the VCD trace of GPIO 24, the call log with its time column and standard
# error (its date stamps masked).
# Every native run is made twice to show that all of it is deterministic.
#
# Usage: compare_stages.sh NATIVE_BIN TARGET_BIN [EMULATOR WORDS...]
set -euo pipefail
native=$(cd "$1" && pwd)
target=$(cd "$2" && pwd)
shift 2
emulator=("$@")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Message files by name; "none" is a folder without one.
declare -A messages=(
    [nec]=$'00000000111111111010001001011101\n'
    [ones]='11111111111111111111111111111111'
    [short]=$'10100101\n'
    [stray]=$'1 0x1\r\n'
    [long]=$'1010010100000000111111110011001111110000\n0000\n'
    [empty]=''
)
# No fault; every fault the stand-in can inject, as its table of controls names
# them, each set to -1 (which fails as a flag and as an error code alike); SIGINT in
# the lead burst, held until pigpio is terminated.
faults=("")
for fault in $(grep -o '"PIGPIO_SIM_FAIL_[A-Z_]*"' "$(dirname "$0")/../pigpio/sim/sim_controls.cpp"); do
    faults+=("${fault//\"/}=-1")
done
faults+=(PIGPIO_SIM_SIGNAL=2@3012)

# Runs one program in a fresh folder $dir: run PROGRAM_PATH DIR MESSAGE FAULT [EMULATOR...]
run()
{
    local program=$1 dir=$2 message=$3 fault=$4
    shift 4
    mkdir -p "$dir"
    if [ "$message" != none ]; then
        printf '%s' "${messages[$message]}" > "$dir/expected_message.txt"
    fi
    # A lock file of the run's own: other runs on the machine never lock it out.
    local settings=(PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual PIGPIO_SIM_LOG=log PIGPIO_SIM_VCD=trace.vcd
        "PIGPIO_SIM_LOCK_FILE=$dir.pid")
    if [ -n "$fault" ]; then
        settings+=("$fault")
    fi
    local status=0
    (cd "$dir" && env -i "${settings[@]}" "$@" "$program" > out 2> err) || status=$?
    echo "$status" > "$dir/status"
    sed -E -i 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} /<date> /' "$dir/err"
    touch "$dir/log" "$dir/trace.vcd"
}

cases=0
differ=0
sent=0
compareCase()
{
    local program=$1 message=$2 fault=$3
    local name="$program/$message/${fault:-no fault}"
    local dir="$work/$cases"
    cases=$((cases + 1))
    run "$native/$program" "$dir/native" "$message" "$fault"
    run "$native/$program" "$dir/again" "$message" "$fault"
    run "$target/$program" "$dir/target" "$message" "$fault" "${emulator[@]}"
    for file in out status log trace.vcd err; do
        if ! cmp -s "$dir/native/$file" "$dir/again/$file"; then
            echo "DIFFERS between two native runs: $name: $file"
            differ=$((differ + 1))
        fi
        if ! cmp -s "$dir/native/$file" "$dir/target/$file"; then
            echo "DIFFERS native and target: $name: $file"
            diff "$dir/native/$file" "$dir/target/$file" | head -5 || true
            differ=$((differ + 1))
        fi
    done
    # A frame that went out leaves a trace and a log; comparing two empty files
    # would show nothing.
    if [ "$(cat "$dir/native/status")" = 0 ]; then
        sent=$((sent + 1))
        if ! grep -q '^#' "$dir/native/trace.vcd" || ! grep -q gpioWaveTxSend "$dir/native/log"; then
            echo "NO TRACE or LOG: $name"
            differ=$((differ + 1))
        fi
    fi
}

for fault in "${faults[@]}"; do
    for message in none "${!messages[@]}"; do
        compareCase beamfile "$message" "$fault"
    done
    compareCase beamones none "$fault"
done

echo "compared $cases runs of native and target ($sent sent a frame): $differ differences"
if [ "$sent" -eq 0 ] || [ "$differ" -ne 0 ]; then
    exit 1
fi
