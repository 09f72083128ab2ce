#!/usr/bin/env bash
# CI stage: the senders, built against the kernel's IR transmit interface (cmake
# --preset kernel), checked by the Linux kernel itself.  Debian's own kernel boots
# in qemu (no KVM), loads its IR stack (rc-core, the NEC decoder and the
# rc-loopback device, which receives what is sent) and runs every case from an
# initramfs (tests/kernel-vm/init.sh).  What the kernel received and decoded must
# be what each code calls for; the stand-in's traces of the same codes, replayed
# through the same device, must be received and decoded the same way.
#
# Then the kernel's own encoders judge `beam -S`'s: for every protocol of ircode's
# kernel table, its edge scancodes and three drawn from a fixed seed
# (tests/kernel-vm/kernel_scancodes) are written to rc-loopback in
# LIRC_MODE_SCANCODE and read back as mode2 durations and the carrier the encoder
# set; each must equal ircode's kernelPress exactly, and what parseKernelScancode
# refuses the kernel must refuse with EINVAL.  Debian's kernel has no RC-MM
# encoder (no ir-rcmm-decoder), so rc-mm-* are not sent.
#
# Usage: scripts/test-kernel-vm.sh [--perf]
#   --perf  also times 20 runs of beamfile in the VM and prints a table
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib/kernel-vm.sh
. scripts/lib/kernel-vm.sh
started=$SECONDS
perf=0
case "${1:-}" in
--perf) perf=1 ;;
"") ;;
*)
    echo "usage: $0 [--perf]" >&2
    exit 2
    ;;
esac

scripts/setup.sh kernel-vm

# Each case: name, program, code (bits:DIGITS, nec:ADDRESS,COMMAND or
# raw:HEX for nec-code), setup (plain; device=PATH, user, notx: refused; carrier:
# the carrier the device reports instead of the frame), and what the
# kernel's NEC decoder should make of it: scancode and protocol (RC_PROTO_NEC 9,
# NECX 10, NEC32 11), or "-" for nothing.  A byte's inverse makes NEC; an address
# that is not its copy's inverse makes NECX (address, copy, command); a command
# that is not makes NEC32 (copy, address, command's copy, command).
example=00000000111111111010001001011101
ones=11111111111111111111111111111111
cases=(
    "01-example beamfile bits:$example plain 0x45 9"
    "02-lg-power beamfile nec:0x04,0x08 plain 0x408 9"
    "03-address-20 beamfile nec:0x20,0x10 plain 0x2010 9"
    "04-address-ff beamfile nec:0xFF,0x00 plain 0xff00 9"
    "05-extended beamfile nec:0x7A84,0x15 plain 0x847a15 10"
    "06-raw-nec32 beamfile raw:0x12345678 plain 0x2c481e6a 11"
    "07-ones beamones bits:$ones plain 0xffffffff 11"
    "08-incomplete beamfile bits:${example:0:8} plain - -"
    "09-no-device beamfile bits:$example device=/dev/lirc7 - -"
    "10-not-lirc beamfile bits:$example device=/dev/null - -"
    "11-no-access beamfile bits:$example user - -"
    "12-no-transmitter beamfile bits:$example notx - -"
    "13-carrier beamfile bits:$example carrier - -"
)

vm=build-kernel/vm
seed=20261209
root=$vm/root
host=$vm/host
reader=$PWD/build/tests/kernel-vm/lirc_reader

vmStep "builds: the stand-in's (build) and the kernel's (build-kernel)"
cmake --preset test >/dev/null
cmake --build build -j2 --target beamfile beamones nec-code lirc_reader lirc_write_clock \
    kernel_scancodes
cmake --preset kernel >/dev/null
cmake --build build-kernel -j2 --target beamfile beamones nec-code beam
rm -rf "$root" "$host"
mkdir -p "$root"/{bin,modules,tools,cases,replay} "$host"
cmake --install build-kernel --prefix "$PWD/$root/beam" >/dev/null

vmStep "Debian's kernel"
[ "$(id -u)" -eq 0 ] || vmAptUpdate=(sudo "${vmAptUpdate[@]}")
# The kernel package, unpacked into the cache.  Only the kernel and the IR modules
# are kept: rc-core, the loopback device and every protocol's decoder module, which
# holds that protocol's encoder too.  The list of modules comes last, so a cache
# with this very list is whole; one kept for fewer modules is fetched again.
modules=(rc-core rc-loopback ir-nec-decoder ir-rc5-decoder ir-rc6-decoder ir-jvc-decoder
    ir-sony-decoder ir-sanyo-decoder ir-sharp-decoder ir-mce_kbd-decoder ir-imon-decoder)
# Debian's amd64 kernel builds no RC-MM decoder, so it has no RC-MM encoder either;
# its config must still say so, or the module belongs in the list above.
absent=(rc-mm-12 rc-mm-24 rc-mm-32)
kept=modules-$(md5sum <<<"${modules[*]}" | cut -c1-8)
unpackKernel() {
    local cache=$1 release=$2 module
    dpkg-deb -x "$cache"/deb/*.deb "$cache/unpacked"
    dpkg-deb -f "$cache"/deb/*.deb Version >"$cache/version"
    if ! grep -qx '# CONFIG_IR_RCMM_DECODER is not set' "$cache/unpacked/boot/config-$release"; then
        echo "kernel-vm: $release builds the RC-MM decoder: add ir-rcmm-decoder to the modules" >&2
        exit 1
    fi
    rm -f "$cache"/*.ko
    for module in "${modules[@]}"; do
        vmModule "$cache/unpacked/lib/modules/$release" "$module" "$cache"
    done
    cp "$cache/unpacked/boot/vmlinuz-$release" "$cache/vmlinuz"
    rm -rf "$cache/unpacked" "$cache/deb"
    echo "${modules[*]}" >"$cache/$kept"
}
vmKernel amd64 "" "$vm/cache" "$kept"
image=$vmImage
release=$vmRelease
cache=$vmDir
[ -f "$cache/$kept" ] || unpackKernel "$cache" "$release"
echo "$image $(cat "$cache/version")"

vmStep "initramfs"
cp "$cache"/*.ko "$root/modules/"
if ldd /bin/busybox >/dev/null 2>&1; then
    echo "kernel-vm: /bin/busybox is not busybox-static's" >&2
    exit 1
fi
cp /bin/busybox "$root/bin/"
install -m 755 tests/kernel-vm/init.sh "$root/init"
install -m 644 scripts/lib/vm-guest.sh "$root/guest.sh"
cp "$reader" build/tests/kernel-vm/lirc_write_clock.so "$root/tools/"
# Every shared library an ELF file in the initramfs needs, the loader included,
# at the path where the host's loader found it.
mapfile -t elves < <(find "$root/beam" "$root/tools" -type f -exec sh -c \
    'head -c 4 "$1" | grep -q ELF && echo "$1"' sh {} \;)
for elf in "${elves[@]}"; do
    if ldd "$elf" | grep 'not found' >&2; then
        echo "kernel-vm: $elf needs a library that is not found" >&2
        exit 1
    fi
    ldd "$elf" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'
done | sort -u | while read -r library; do
    case $(realpath "$library") in
    "$(realpath "$root")"/*) continue ;;
    esac
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
done

# The STDOUT/STDERR/STATUS lines of a run of the stand-in build, in the reader's
# own escaping; the device is one that does not exist, so nothing else is read.
simRun() {
    local dir=$1 program=$2
    shift 2
    local path=$PWD/build/$program/$program
    (cd "$dir" && env "$@" "$reader" run /nonexistent -- "$path") |
        grep -E '^(STDOUT|STDERR|STATUS) '
}
line() {
    grep "^$1 " "$2" | head -1
}

vmStep "cases: the stand-in's runs and traces"
declare -A setupOf programOf bitsOf
failures=()
for entry in "${cases[@]}"; do
    read -r name program code setup scancode protocol <<<"$entry"
    case $code in
    bits:*) bits=${code#bits:} ;;
    nec:*)
        pair=${code#nec:}
        bits=$(build/nec-code/nec-code "${pair%,*}" "${pair#*,}")
        ;;
    raw:*) bits=$(build/nec-code/nec-code --raw "${code#raw:}") ;;
    esac
    setupOf[$name]=$setup
    programOf[$name]=$program
    bitsOf[$name]=$bits
    dir=$root/cases/$name
    mkdir -p "$dir" "$host/$name"
    echo "$program" >"$dir/program"
    echo "$setup" >"$dir/setup"
    [ "$program" = beamones ] || printf '%s' "$bits" >"$dir/expected_message.txt"
    cp -r "$dir/." "$host/$name/"
    want=$host/$name/expected
    case $setup in
    plain | carrier)
        simRun "$host/$name" "$program" PIGPIO_SIM_CLOCK=virtual PIGPIO_SIM_VCD=trace.vcd \
            >"$host/$name/sim"
        durations=$(necDurations "$bits")
        count=$(wc -w <<<"$durations")
        frame=$host/$name/frame
        if ! "$reader" trace "$host/$name/trace.vcd" gpio24 >"$frame"; then
            failures+=("$name: no frame in the stand-in's trace")
            continue
        fi
        if [ "$(line durations "$frame")" != "durations $durations" ]; then
            failures+=("$name: the stand-in's trace is not the frame of $bits")
        fi
        # Against the kernel, pigpio's answer to the send is the count of durations.
        sed -E "s/^(STDOUT .*)Result: [-0-9]+\\\\n/\\1Result: $count\\\\n/" "$host/$name/sim" >"$want"
        echo "RECEIVER /dev/lirc0" >>"$want"
        if [ "$setup" = carrier ]; then
            line carrier "$frame" | sed 's/^carrier/CARRIER/' >>"$want"
            continue
        fi
        received=$host/$name/received
        {
            echo "MODE2 $durations"
            [ "$scancode" = - ] || echo "SCANCODE $scancode proto $protocol"
        } >"$received"
        cat "$received" >>"$want"
        cp "$frame" "$root/replay/$name.frame"
        {
            echo "WRITE $count"
            echo "RECEIVER /dev/lirc0"
            cat "$received"
        } >"$host/$name/expected-replay"
        ;;
    *)
        # pigpio does not start: the programs say what they say when it does not.
        simRun "$host/$name" "$program" PIGPIO_SIM_FAIL_INIT=1 >"$host/$name/sim"
        {
            grep '^STDOUT ' "$host/$name/sim"
            echo "STDERR (the reason)"
            grep '^STATUS ' "$host/$name/sim"
            if [ "$setup" = notx ]; then
                echo "RECEIVER none: No such file or directory"
            else
                echo "RECEIVER /dev/lirc0"
            fi
            echo "MODE2"
        } >"$want"
        ;;
    esac
done
# The kernel's encoders: ircode's edge scancodes of every protocol, and some drawn
# from a fixed seed, for the VM to send in scancode mode.
scancodes=build/tests/kernel-vm/kernel_scancodes
"$scancodes" cases "$seed" "${absent[@]}" >"$root/scancodes"
vmPack "$root" "$vm/initramfs.cpio"
echo "$(du -h "$vm/initramfs.cpio" | cut -f1) initramfs, ${#cases[@]} cases, $(ls "$root/replay" | wc -l) replays," \
    "$(wc -l <"$root/scancodes") scancodes (seed $seed)"

vmStep "the VM: $image, qemu-system-x86_64 without KVM"
append="console=ttyS0 panic=-1 quiet loglevel=1"
[ $perf = 0 ] || append+=" beam.perf=1"
vmStarted=$SECONDS
qemuStatus=0
limit=120
timeout $limit qemu-system-x86_64 -accel tcg -m 256 -nographic -nic none -no-reboot \
    -kernel "$cache/vmlinuz" -initrd "$vm/initramfs.cpio" -append "$append" \
    </dev/null >"$vm/console.log" 2>&1 || qemuStatus=$?
vmSeconds=$((SECONDS - vmStarted))
vmResults "$vm/console.log" "$vm/results"
[ "$qemuStatus" -eq 0 ] || failures+=("qemu ended with status $qemuStatus (124: still running after $limit s)")
grep -qx DONE "$vm/results" || failures+=("the VM did not finish its cases (console: $vm/console.log)")
grep -qx "KERNEL $release" "$vm/results" || failures+=("the VM did not run $release")
grep -q '^PROTOCOLS .*\[nec\]' "$vm/results" || failures+=("the NEC decoder was not enabled")
while read -r failure; do
    failures+=("in the VM: $failure")
done < <(sed -n 's/^FAIL //p' "$vm/results")

# Compares a block with what was expected; prints it either way.
check() {
    local kind=$1 name=$2 want=$3 got=$host/$name/got-$1
    vmBlock "$vm/results" "$kind" "$name" >"$got"
    local compared=$got
    if grep -qx 'STDERR (the reason)' "$want"; then
        compared=$got.compared
        sed 's/^STDERR ..*/STDERR (the reason)/' "$got" >"$compared"
    fi
    if diff -u --label expected --label "in the VM" "$want" "$compared" >"$got.diff"; then
        echo "  $kind ok"
    else
        echo "  $kind DIFFERS:"
        sed 's/^/    /' "$got.diff"
        failures+=("$name: $kind differs")
    fi
    sed -nE 's/^(STDERR .|STATUS|WRITE|CARRIER|MODE2|SCANCODE)/    &/p' "$got"
    sed -nE 's/^STDOUT .*(Result: [-0-9]+).*/    STDOUT ...\1.../p' "$got"
}

echo
echo "What the kernel received and decoded:"
for entry in "${cases[@]}"; do
    read -r name _ <<<"$entry"
    echo "$name: ${programOf[$name]} ${bitsOf[$name]}, ${setupOf[$name]}"
    check case "$name" "$host/$name/expected"
    if [ -f "$host/$name/expected-replay" ]; then
        check replay "$name" "$host/$name/expected-replay"
    fi
done

echo
echo "What the kernel's encoders sent, against ircode's (seed $seed):"
vmBlock "$vm/results" scancodes kernel >"$host/scancodes"
"$scancodes" check "$root/scancodes" "$host/scancodes" "${absent[@]}" ||
    failures+=("the kernel's encoders and ircode's differ (see above)")

if [ $perf = 1 ]; then
    echo
    echo "beamfile in the VM (TCG, no KVM), example code, us:"
    vmBlock "$vm/results" perf beamfile >"$host/perf"
    grep -q '^PERF runs ' "$host/perf" || failures+=("perf: no measurements")
    awk '
        BEGIN {
            what["start_to_write"] = "process start -> write()"
            what["start_to_loaded"] = "  start -> libraries loaded"
            what["loaded_to_write"] = "  libraries loaded -> write()"
            what["write_call"] = "write() (returns when the frame is sent)"
            what["write_return_to_exit"] = "write() returned -> process exit"
            what["frame_end_to_write_return"] = "frame end -> write() returned"
            what["frame_end_to_exit"] = "frame end -> process exit"
            what["floor_start_to_exit"] = "start -> exit of busybox true (the floor)"
        }
        $1 == "PERF" && $2 == "runs" { printf "  %-42s %s\n", $3 " runs", "median / worst" ; next }
        $1 == "PERF" && ($2 in what) { printf "  %-42s %s\n", what[$2], $3 " / " $4; next }
        { print "  " $0 }' "$host/perf"
    echo "  (frame end: the start of write() + the frame's airtime)"
fi

echo
# Its own clock at the end of each step: "boot by 2.90 s, cases by 6.83 s, ...".
steps=$(awk '$1 == "TOOK" { printf "%s%s by %s s", sep, $2, $3; sep = ", " }' "$vm/results")
echo "kernel-vm: the VM took ${vmSeconds} s${steps:+ ($steps on its clock)}, the stage $((SECONDS - started)) s"
if [ ${#failures[@]} -gt 0 ]; then
    printf 'kernel-vm: FAILED: %s\n' "${failures[@]}"
    exit 1
fi
echo "kernel-vm: every case received and decoded as expected"
