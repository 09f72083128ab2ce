#!/usr/bin/env bash
# Sets up, builds and installs the senders into ./out, then sends an example NEC
# code (address 0x00, command 0x45) with beamfile.  Without pigpio on the machine
# it runs against the project's stand-in and leaves a trace of GPIO 24; on a
# Raspberry Pi without pigpio it sends through the kernel's IR transmitter.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/setup.sh build
scripts/setup.sh decode || echo "== sigrok-cli could not be installed: the trace will not be decoded"

# What a receiver makes of a trace: sigrok's NEC decoder, as the tests use it.
decodeTrace() {
    if ! command -v sigrok-cli >/dev/null; then
        echo "== no sigrok-cli here: the trace is not decoded"
        return 0
    fi
    local fields a ai c ci
    fields=$(sigrok-cli -I vcd -i "$1" -A ir_nec=fields:warnings \
        -P ir_nec:ir=gpio24:polarity=active-high:cd_freq=38000 | sed 's/^ir_nec-1: //')
    echo "== a receiver (sigrok's NEC decoder) reads:"
    sed 's/^/     /' <<<"$fields"
    a=$(sed -n 's/^Address: //p' <<<"$fields")
    ai=$(sed -n 's/^Address#: //p' <<<"$fields")
    c=$(sed -n 's/^Command: //p' <<<"$fields")
    ci=$(sed -n 's/^Command#: //p' <<<"$fields")
    if [ -z "$ci" ]; then
        echo "== the decoder read no whole NEC frame"
    elif (((a ^ ai) == 0xFF && (c ^ ci) == 0xFF)); then
        echo "== address $a, command $c; both inverted bytes check"
    else
        echo "== address $a (copy $ai), command $c (copy $ci): the copies are not both inverses"
    fi
}
cmake --preset run >/dev/null
cmake --build build-run -j "$(nproc)" >/dev/null
cmake --install build-run --prefix "$top/out" >/dev/null

mkdir -p out/example
cd out/example
echo 00000000111111111010001001011101 > expected_message.txt
echo "== beamfile in $PWD, sending $(cat expected_message.txt)"
if grep -q "^BEAM_PIGPIO_KIND:INTERNAL=sim" "$top/build-run/CMakeCache.txt"; then
    status=0
    PIGPIO_SIM_VCD="$PWD/trace.vcd" PIGPIO_SIM_LOG="$PWD/pigpio.log" "$top/out/bin/beamfile" || status=$?
    echo "== exit status $status"
    echo "== simulated: no pigpio on this machine, so this build runs against the project's stand-in;"
    echo "   nothing was sent, and the trace shows what a Raspberry Pi would have sent on GPIO 24"
    decodeTrace "$PWD/trace.vcd"
    echo "== trace of GPIO 24 (1 us per step, opens in GTKWave, PulseView, sigrok-cli -I vcd): $PWD/trace.vcd"
    echo "== pigpio calls: $PWD/pigpio.log"
elif grep -q "^BEAM_PIGPIO_KIND:INTERNAL=kernel" "$top/build-run/CMakeCache.txt"; then
    # The kernel's IR transmitter needs no root, only the device's group.
    status=0
    "$top/out/bin/beamfile" || status=$?
    echo "== exit status $status"
else
    # The real pigpio needs root for the GPIO and DMA hardware.
    status=0
    sudo "$top/out/bin/beamfile" || status=$?
    echo "== exit status $status"
fi
exit "$status"
