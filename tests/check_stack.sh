#!/usr/bin/env bash
# emitCode and emitPress keep the whole pulse buffer in automatic storage, so the
# deepest path, main -> emitCode or emitPress -> transmitWave -> pigpio, must stay
# well inside the 8 MiB a Raspberry Pi gives a program's main thread.  Checked two ways for each sender:
#  - its own frames, as the compiler recorded them with -fstack-usage
#    (BEAM_STACK_USAGE), summed along that path, all of fixed or bounded size;
#  - the smallest stack it still runs in, found by running it (through the
#    emulator's -s, or natively under ulimit -s), with pigpio's log and trace on.
# Both must be under the limit.
#
# Usage: check_stack.sh LIMIT_BYTES BUILD_DIR STAGE_BIN [EMULATOR WORDS...]
set -euo pipefail
limit=$1
build=$2
bin=$(cd "$3" && pwd)
shift 3
emulator=("$@")
ulimit -c 0 # the runs that overflow should leave no core files

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo 00000000111111111010001001011101 > "$work/expected_message.txt"

# Exit status and output of the program (with $arguments) with a main-thread stack
# of $2 KiB.
runWithStack()
{
    local program=$1 kib=$2 status=0
    local words
    read -r -a words <<<"$arguments"
    rm -f "$work/log" "$work/trace.vcd"
    if [ ${#emulator[@]} -gt 0 ]; then
        (cd "$work" && env -i PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual PIGPIO_SIM_LOG=log PIGPIO_SIM_VCD=trace.vcd \
            PIGPIO_SIM_LOCK_FILE="$work/pigpio.pid" "${emulator[@]}" -s "${kib}K" "$bin/$program" "${words[@]}") > "$work/out" 2>/dev/null || status=$?
    else
        (cd "$work" && ulimit -s "$kib" && exec env -i PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual PIGPIO_SIM_LOG=log \
            PIGPIO_SIM_VCD=trace.vcd PIGPIO_SIM_LOCK_FILE="$work/pigpio.pid" "$bin/$program" "${words[@]}") > "$work/out" 2>/dev/null || status=$?
    fi
    echo "$status $(cksum < "$work/out")"
}

failed=0
# Each sender with the arguments of a plain send: beam's press goes the same way
# whatever it is.
for sender in beamfile beamones "beam -S nec:0x45"; do
    read -r program arguments <<<"$sender"
    frames="$build/$program/CMakeFiles/$program.dir/$program.cpp.su"
    if [ ! -f "$frames" ]; then
        echo "$program: no $frames (configure with -DBEAM_STACK_USAGE=ON)"
        exit 1
    fi
    # Functions the compiler inlined have no line of their own: their frames are
    # part of their caller's.
    own=0
    while IFS=$'\t' read -r function bytes kind; do
        name=${function##*:}
        short=${name%%(*}
        short=${short##* }
        case "$name" in
        "int main()" | "int main(int, char**)" | "int32_t emitCode("* | "int32_t emitPress("* | \
            "int32_t transmitWave("*)
            echo "$program: frame of $short: $bytes bytes ($kind)"
            # "dynamic,bounded": the compiler's figure is the frame's largest size.
            if [ "$kind" != static ] && [ "$kind" != dynamic,bounded ]; then
                echo "$program: $short has a frame of unbounded size"
                failed=1
            fi
            own=$((own + bytes))
            ;;
        esac
    done < "$frames"

    full=$((limit / 1024))
    want=$(runWithStack "$program" 8192)
    if [ "${want%% *}" != 0 ]; then
        echo "$program: does not send its frame even with an 8 MiB stack"
        failed=1
        continue
    fi
    if [ "$(runWithStack "$program" "$full")" != "$want" ]; then
        echo "$program: fails with a stack of $full KiB"
        failed=1
        continue
    fi
    # Smallest stack, to the KiB, that gives the same run: fails at low, works at high.
    low=4
    high=$full
    while [ $((high - low)) -gt 1 ]; do
        middle=$(((low + high) / 2))
        if [ "$(runWithStack "$program" "$middle")" = "$want" ]; then
            high=$middle
        else
            low=$middle
        fi
    done
    echo "$program: own frames on the path $own bytes; runs in $high KiB of stack, fails in $low KiB" \
        "(limit $full KiB)"
    if [ "$own" -ge "$limit" ]; then
        failed=1
    fi
done
exit "$failed"
