#!/usr/bin/env bash
# What configure chooses on a Raspberry Pi and elsewhere: auto takes the kernel's IR
# transmitter on a Pi without pigpio and the stand-in on another board, and
# configure warns, loudly, when the programs would be built against the stand-in on
# a Pi, and only then.  The board is faked with BEAM_DT_MODEL_FILE; each case
# configures a fresh tree (no tests, so no GoogleTest).
#
# Usage: check_configure_on_pi.sh SOURCE_DIR CXX_COMPILER
set -euo pipefail
source=$1
compiler=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'Raspberry Pi 4 Model B Rev 1.4\0' > "$work/pi4"
printf 'Raspberry Pi\0' > "$work/pi"
printf 'Pine64 RockPro64 v2.1\0' > "$work/other"
: > "$work/empty"

failed=0
# check NAME MODEL_FILE BEAM_PIGPIO KIND WANT
#   KIND: the pigpio configure should choose; WANT: the model the warning names, or "none"
check()
{
    local name=$1 model=$2 pigpio=$3 kind=$4 want=$5 out status=0
    out=$(cmake -S "$source" -B "$work/build-$name" -DCMAKE_CXX_COMPILER="$compiler" \
        -DBEAM_BUILD_TESTS=OFF -DBEAM_PIGPIO="$pigpio" -DBEAM_DT_MODEL_FILE="$model" 2>&1) ||
        status=$?
    rm -rf "$work/build-$name"
    # With auto, the machine decides: pigpio found here means no stand-in, no warning.
    if [ "$pigpio" = auto ] && grep -q '^-- pigpio: real' <<<"$out"; then
        kind=real
        want=none
    fi
    if ! grep -q "^-- pigpio: $kind, " <<<"$out"; then
        echo "FAILED: $name: configure did not choose $kind: $(grep '^-- pigpio:' <<<"$out")"
        failed=1
        return
    fi
    local warned=none
    if grep -q '^CMake Warning' <<<"$out"; then
        warned=$(tr '\n' ' ' <<<"$out" | tr -s ' ' | sed -n 's/.*This machine is a \(.*\), but the programs.*/\1/p')
        warned=${warned:-other warning}
    fi
    if [ "$status" -ne 0 ] || [ "$warned" != "$want" ]; then
        echo "FAILED: $name: configure status $status, warned: $warned, wanted: $want"
        echo "$out"
        failed=1
        return
    fi
    echo "$name: warned: $warned"
    if [ "$want" != none ]; then
        for text in 'PIGPIO_SIM_ON_PI=1' 'reconfigure with -DBEAM_PIGPIO=auto on the Pi'; do
            if ! tr '\n' ' ' <<<"$out" | tr -s ' ' | grep -qF -- "$text"; then
                echo "FAILED: $name: the warning does not say '$text'"
                failed=1
            fi
        done
    fi
}

check sim-pi4 "$work/pi4" sim sim "Raspberry Pi 4 Model B Rev 1.4"
check sim-pi "$work/pi" sim sim "Raspberry Pi"
# auto on a Pi without pigpio takes the kernel's IR transmitter, not the stand-in.
check auto-pi4 "$work/pi4" auto kernel none
check auto-other "$work/other" auto sim none
check sim-other "$work/other" sim sim none
check sim-empty "$work/empty" sim sim none
check sim-missing "$work/missing" sim sim none
exit "$failed"
