#!/usr/bin/env bash
# CI stage: the senders built, installed and run against the real pigpio, which
# scripts/build-pigpio.sh builds from Debian's source package into build-real/:
# for this machine, and for 32- and 64-bit ARM, run under qemu-user.  Here there is
# no Raspberry Pi, so pigpio refuses to start, and every run must end as on a
# machine where pigpio cannot start: the programs' own lines, pigpio's reason on
# standard error, exit status 1, and nothing of pigpio left behind.  The stand-in
# build (build/stage) runs against the real library too: one binary, either library.
#
# The build against the real pigpio also compiles the stand-in's sources and header
# against the real pigpio.h (BEAM_CHECK_STANDIN_INTERFACE), so a stand-in that
# drifts from pigpio's interface fails here.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
real=$top/build-real
code=00000000111111111010001001011101

started=$SECONDS
step="setup"
times=()
failures=()
checks=0
finish() {
    local status=$?
    local took=$((SECONDS - started))
    if [ "$status" -eq 0 ] && [ ${#failures[@]} -eq 0 ]; then
        echo "real pigpio stage: PASS, $checks checks, ${took} s (${times[*]})"
    elif [ ${#failures[@]} -gt 0 ]; then
        echo "real pigpio stage: FAIL, ${#failures[@]} of $checks checks failed: ${failures[*]}"
        exit 1
    else
        echo "real pigpio stage: FAIL, stopped at: $step (after ${took} s)"
    fi
}
trap finish EXIT
lap=$SECONDS
timed() {
    times+=("$1 $((SECONDS - lap)) s")
    lap=$SECONDS
}

check() { # DESCRIPTION COMMAND...
    checks=$((checks + 1))
    if "${@:2}"; then
        echo "   ok: $1"
    else
        echo "   FAILED: $1"
        failures+=("$1;")
    fi
}

# What pigpio leaves when it has started: its lock file and its FIFOs.
pigpioLeftovers() {
    local path
    for path in /var/run/pigpio.pid /run/pigpio.pid /dev/pigpio /dev/pigout /dev/pigerr; do
        if [ -e "$path" ]; then echo "$path"; fi
    done
}

# The stage expects pigpio to find no Pi; on a Pi it would drive the hardware.
if grep -qi '^revision' /proc/cpuinfo || [ -e /proc/device-tree/system/linux,revision ]; then
    step="refusing to run on a Raspberry Pi: here pigpio would start and send"
    exit 1
fi
if [ -n "$(pigpioLeftovers)" ]; then
    step="pigpio's files are there before the stage: $(pigpioLeftovers | paste -sd ' ')"
    exit 1
fi

scripts/setup.sh real
timed setup

step="building pigpio"
for arch in native armhf arm64; do
    prefix=$real/pigpio$([ "$arch" = native ] || echo "-$arch")
    scripts/build-pigpio.sh --arch "$arch" --source-dir "$real/pigpio-src" "$prefix"
done
timed pigpio

# readelf's NEEDED entries of a file.
needs() {
    readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}
needsPigpio() {
    needs "$1" | grep -qx 'libpigpio\.so\.1'
}
# Class and machine of an ELF file, e.g. "ELF32 ARM".
elfKind() {
    readelf -h "$1" | sed -n 's/^ *\(Class\|Machine\): *//p' | paste -sd ' '
}
installsNoStandin() {
    [ ! -e "$1/lib/beam" ] && [ -z "$(find "$1" -name 'libpigpio*')" ]
}
noWarning() {
    ! grep -q 'warning:' "$1"
}
noProcessOf() {
    ! pgrep -f -- "$1" >/dev/null
}
reportedReal() { # LOG PREFIX
    grep -qxF -- "-- pigpio: real, found $2/lib/libpigpio.so and $2/include/pigpio.h" "$1"
}

# Builds a preset against the real pigpio at PREFIX, installs it into STAGE and
# checks what was configured and installed.
buildReal() { # PRESET BUILD-DIR PREFIX STAGE ELF-KIND
    local preset=$1 build=$2 prefix=$3 stage=$4 kind=$5 program
    step="configuring and building preset $preset"
    echo "== $preset: configure, build (-Werror, with the stand-in interface check), install into $stage"
    cmake --preset "$preset" >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; return 1; }
    grep -E '^-- (pigpio|Stand-in)' "$build.configure.log" | sed 's/^/   /'
    cmake --build "$build" -j "$(nproc)" >"$build.build.log" 2>&1 || { cat "$build.build.log"; return 1; }
    rm -rf "$stage"
    cmake --install "$build" --prefix "$stage" >/dev/null
    check "$preset: configure reported the real pigpio in $prefix" reportedReal "$build.configure.log" "$prefix"
    check "$preset: the build gave no warning" noWarning "$build.build.log"
    check "$preset: nothing of the stand-in installed (no lib/beam, no libpigpio)" installsNoStandin "$stage"
    for program in beamfile beamones beam; do
        check "$preset: installed $program needs libpigpio.so.1" needsPigpio "$stage/bin/$program"
        check "$preset: installed $program is $kind" test "$(elfKind "$stage/bin/$program")" = "$kind"
    done
}

nativeKind=$(elfKind /bin/sh)
mkdir -p "$real"
buildReal real "$real/native" "$real/pigpio" "$real/stage" "$nativeKind"
buildReal real-armhf "$real/armhf" "$real/pigpio-armhf" "$real/stage-armhf" "ELF32 ARM"
buildReal real-arm64 "$real/arm64" "$real/pigpio-arm64" "$real/stage-arm64" "ELF64 AArch64"
timed "real builds"

step="stand-in build"
echo "== test: the stand-in build, installed into build/stage"
cmake --preset test >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
cmake --install build --prefix build/stage >/dev/null
timed "stand-in build"

# Runs PROGRAM with the caller's "arguments" in a fresh folder with
# expected_message.txt, loading pigpio from LIBDIR (through EMULATOR WORDS, if any),
# and checks its output, exit status, pigpio's reason, the library the loader took
# and what was left behind.
shownReason=0
runSender() { # LABEL PROGRAM LIBDIR EXPECTED-STDOUT [EMULATOR WORDS...]
    local label=$1 program=$2 libdir=$3 expected=$4
    shift 4
    local dir status=0 run=() setting loaded reason
    dir=$(mktemp -d)
    printf '%s\n' "$code" >"$dir/expected_message.txt"
    printf '%b' "$expected" >"$dir/expected"
    local environment=("LD_LIBRARY_PATH=$libdir" LD_DEBUG=libs "LD_DEBUG_OUTPUT=$dir/ld")
    if [ $# -gt 0 ]; then
        run=("$@")
        for setting in "${environment[@]}"; do run+=(-E "$setting"); done
    else
        run=(env "${environment[@]}")
    fi
    step="running $label"
    (cd "$dir" && timeout 60 "${run[@]}" "$program" "${arguments[@]}" >"$dir/out" 2>"$dir/err") || status=$?
    loaded=$(sed -n 's/.*calling init: \(.*\/libpigpio\.so\.1\)$/\1/p' "$dir"/ld.* 2>/dev/null | head -n 1)
    loaded=${loaded:-none}
    reason=none
    if grep -q 'does not appear to be a raspberry pi' "$dir/err"; then
        reason="not a Pi"
    elif grep -q "don't have permission to run this program" "$dir/err"; then
        reason="no permission"
    fi
    echo "== $label: exit status $status, pigpio's reason: $reason, loaded $loaded"
    if [ "$shownReason" = 0 ] || [ "$reason" = none ]; then
        echo "   its standard error:"
        sed 's/^/   | /' "$dir/err"
        shownReason=1
    fi
    check "$label: standard output as expected" cmp -s "$dir/expected" "$dir/out"
    if ! cmp -s "$dir/expected" "$dir/out"; then
        diff <(od -c "$dir/expected") <(od -c "$dir/out") | sed 's/^/   /' || true
    fi
    check "$label: exit status 1" test "$status" = 1
    check "$label: pigpio's reason on standard error" test "$reason" != none
    check "$label: the real library was loaded" test "$(realpath -m "$loaded")" = "$(realpath "$libdir/libpigpio.so.1")"
    check "$label: no pid file or FIFO of pigpio left" test -z "$(pigpioLeftovers)"
    check "$label: no process left" noProcessOf "$program"
    rm -rf "$dir"
}

fileOut="code size is 32\npulse count is 2103\nGPIO Initialization failed\nIR message sent is $code\n\n"
onesOut="code size is 32\npulse count is 2103\nGPIO Initialization failed\nSent ones \n\n"
# beam says what it sent only once it has.
beamOut="GPIO Initialization failed\n"
runAll() { # LABEL STAGE LIBDIR [EMULATOR WORDS...]
    local label=$1 stage=$2 libdir=$3 arguments=()
    shift 3
    runSender "$label beamfile" "$stage/bin/beamfile" "$libdir" "$fileOut" "$@"
    runSender "$label beamones" "$stage/bin/beamones" "$libdir" "$onesOut" "$@"
    arguments=(-S nec:0x45)
    runSender "$label beam" "$stage/bin/beam" "$libdir" "$beamOut" "$@"
}
runAll "native" "$real/stage" "$real/pigpio/lib"
runAll "stand-in build" "$top/build/stage" "$real/pigpio/lib"
runAll "armhf" "$real/stage-armhf" "$real/pigpio-armhf/lib" qemu-arm -L /usr/arm-linux-gnueabihf
runAll "arm64" "$real/stage-arm64" "$real/pigpio-arm64/lib" qemu-aarch64 -L /usr/aarch64-linux-gnu
timed runs
step="summary"
