#!/usr/bin/env bash
# CI stage: the arm64 senders on the kernel's IR transmitter (cmake --preset
# kernel-arm64) against the real gpio-ir-tx driver, as on a Raspberry Pi 5.
# Debian's arm64 kernel boots in qemu-system-aarch64 (TCG, the guest's clock
# counting instructions, so the trace is exact and the same every run) with
# QEMU's own device tree plus a gpio-sim bank of 32 lines and a gpio-ir-tx node
# like the one dtoverlay=gpio-ir-tx,gpio_pin=24 makes.  gpio-ir-tx, gpio-sim and
# irq_sim, which Debian does not build, are built as modules from Debian's source
# of the same kernel.  The kernel's gpio_value tracepoint records every edge;
# gpio_frames (tests/gpio-ir-tx-vm) reads the trace on the host, and every case is
# asserted on what the line carried and what the programs said.
#
# Usage: scripts/test-gpio-ir-tx-vm.sh
# Everything it fetches and builds is kept in build-gpio-vm/cache, per kernel.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib/kernel-vm.sh
. scripts/lib/kernel-vm.sh
# shellcheck source=lib/private-apt.sh
. scripts/lib/private-apt.sh

scripts/setup.sh gpio-ir-tx-vm

# Each case: name, boot (the device tree and modules it runs on), setup, mode and
# the programs.  Boots: one (a node on line 24), line18 (a node on line 18 only),
# two (nodes on lines 24 and 18, in that order), loopback (one, with rc-loopback
# registered before gpio-ir-tx).  Setups: plain (as root), user (a user not in the
# device's group), group (one in it), swapped (the two nodes unbound and bound in
# the opposite order, so that /dev/lirc0 is the other one).  Modes: alone,
# together (all started at once), after (one after the other, as "a; b").
example=00000000111111111010001001011101
ones=11111111111111111111111111111111
cases=(
    "01-beamfile one plain alone beamfile"
    "02-beamones one plain alone beamones"
    "03-no-access one user alone beamfile"
    "04-in-group one group alone beamfile"
    "05-three-at-once one plain together beamfile beamfile beamfile"
    "06-ones-with-file one plain together beamones beamfile"
    "07-one-after-another one plain after beamfile beamfile"
    "08-node-on-18 line18 plain alone beamfile"
    "09-two-nodes two plain alone beamfile"
    "10-two-nodes-swapped two swapped alone beamfile"
    "11-loopback-first loopback plain alone beamfile"
    "12-rc5 one plain alone beam"
    "13-sony-repeats one plain alone beam"
    "14-raw-duty-third one plain alone beam"
)
# The arguments of a case's run of beam, one a line.  RC5 is the 36 kHz family
# and has no leader; Sony is 40 kHz and repeats 45 ms start to start as the
# encoder writes it (the library's whole microseconds make it 38462 Hz); the capture
# (an NEC frame and its repeat, as a receiver timed them, every duration a little
# off) goes at a third's duty cycle, which only --raw can ask for.
rawCapture="9011 4520 559 540 591 518 554 567 584 521 573 552 553 1703 582 528 552 520 577 1671 554 1660 555 1680 577 1648 602 1681 557 575 564 1685 590 1682 553 551 587 540 553 529 552 550 604 1653 568 541 559 549 557 551 569 1680 602 1688 561 1651 587 1681 590 527 573 1651 585 1690 554 1681 553 40216 8996 2241 593"
declare -A argsOf=(
    [12-rc5]=$'-S\nrc5:0x1e0c'
    [13-sony-repeats]=$'-S\nsony12:0x10015\n--repeat\n2'
    [14-raw-duty-third]=$'--raw\n'"$rawCapture"$'\n--carrier\n38000\n--duty\n0.33'
)
boots=(one line18 two loopback)
# What /dev/lirc0 must be in a case (its driver and node), so that the case
# tests what it says it does.
declare -A lirc0=(
    [09-two-nodes]="gpio-ir-tx gpio-ir-transmitter@18"
    [10-two-nodes-swapped]="gpio-ir-tx gpio-ir-transmitter@12"
    [11-loopback-first]="rc-loopback -"
)
# Frames from this library must start at least this long after the previous one.
quietUs=40000
# How far a measured duration may be from the written one, rounded to whole
# microseconds as a lirc device takes them.
slackUs=0
# The same at a duty cycle other than half: the report's start of a burst (its
# first fall less the commonest high time) is a microsecond off, because a
# burst's first fall is later than the others (see lineDuty).
pressSlackUs=1
# How far the time from one frame's start to the next may be from the written
# one: a frame's start is its first rise, which the driver makes 2 to 4.3 us
# early, by a little more or less each time, and the report gives it in whole
# microseconds.
spacingSlackUs=1
# The carrier the library sets, and how far the line's may be from it: the
# driver times its edges on the VM's 62.5 MHz counter, 16 ns a tick, and its
# periods come out 25968 to 26032 ns, 25999 on average (38463 Hz).  10 Hz is 7 ns
# a period; the driver's own default, 38000 Hz, is 462 Hz off and 338 periods.
carrierHz=38462
carrierSlackHz=10

vm="build-gpio-vm"
cache=$vm/cache
root=$vm/root
host=$vm/host
tool=$PWD/build/tests/gpio-ir-tx-vm/gpio_frames

vmStep "builds: the tool and the stand-in's senders (build), the arm64 senders (build-kernel-arm64)"
cmake --preset test >/dev/null
cmake --build build -j2 --target gpio_frames beamfile beamones beam
cmake --preset kernel-arm64 >/dev/null
cmake --build build-kernel-arm64 -j2
rm -rf "$root" "$host"
mkdir -p "$root"/{bin,modules,cases,etc,lib} "$host"
cmake --install build-kernel-arm64 --prefix "$PWD/$root/beam" >/dev/null

vmStep "Debian's arm64 kernel, and gpio-ir-tx, gpio-sim and irq_sim built for it"
# The arm64 index (and amd64's, for the host's kernel build tools of the same
# version) in an apt of the stage's own: the system gains no foreign architecture.
: >"$vm/apt-status"
privateApt "$PWD/$vm/apt" 'APT::Architecture "arm64";' '#clear APT::Architectures;' \
    'APT::Architectures { "arm64"; "amd64"; };' "Dir::State::status \"$PWD/$vm/apt-status\";"
vmApt=("${privateAptEnv[@]}")
vmAptUpdate=("${privateAptEnv[@]}" apt-get update -qq)
compgen -G "$vm/apt/lists/*_Packages*" >/dev/null || "${vmAptUpdate[@]}"

# The patches that make the three modules build and behave as on a Pi; each must
# apply, or the build would quietly be of something else.
patchSource() {
    local file=$1 from=$2 to=$3
    grep -qF "$from" "$file" || {
        echo "gpio-ir-tx-vm: $file has no '$from'" >&2
        exit 1
    }
    sed -i "s/$(sed 's/[][\/.*^$]/\\&/g' <<<"$from")/$to/" "$file"
}
buildCache() {
    local dir=$1 release=$2 series deb src build headers
    local unpacked=$dir/unpacked
    for deb in "$dir"/deb/*.deb; do
        case $deb in
        */linux-source-*) ;;
        *) dpkg-deb -x "$deb" "$unpacked" ;;
        esac
    done
    dpkg-deb -f "$dir"/deb/linux-image-*.deb Version >"$dir/version"
    series=$(sed -E 's/^([0-9]+\.[0-9]+).*/\1/' "$dir/version")
    mkdir -p "$dir/modules" "$dir/src"
    for module in configfs rc-core rc-loopback; do
        vmModule "$unpacked/lib/modules/$release" "$module" "$dir/modules"
    done
    src=linux-source-$series
    dpkg-deb --fsys-tarfile "$dir"/deb/linux-source-*.deb | tar -xO "./usr/src/$src.tar.xz" |
        tar -xJ -C "$dir/src" "$src/drivers/media/rc/gpio-ir-tx.c" "$src/drivers/gpio/gpio-sim.c" \
            "$src/drivers/gpio/gpiolib.h" "$src/kernel/irq/irq_sim.c"
    build=$dir/src/build
    mkdir -p "$build"
    cp "$dir/src/$src"/drivers/media/rc/gpio-ir-tx.c "$dir/src/$src"/drivers/gpio/gpio-sim.c \
        "$dir/src/$src"/drivers/gpio/gpiolib.h "$dir/src/$src"/kernel/irq/irq_sim.c "$build/"
    # A Pi's GPIO controller does not sleep; gpio-sim's does, and gpio-ir-tx's
    # non-sleeping gpiod_set_value would then warn on every edge.
    patchSource "$build/gpio-sim.c" "gc->can_sleep = true;" "gc->can_sleep = false;"
    # irq_sim is built in or not at all: as a module it may not call the
    # unexported handle_simple_irq(irq_to_desc()), and generic_handle_irq() runs
    # the same handler; and it needs a licence.
    patchSource "$build/irq_sim.c" "handle_simple_irq(irq_to_desc(irqnum));" "generic_handle_irq(irqnum);"
    printf '\n#include <linux/module.h>\nMODULE_LICENSE("GPL");\n' >>"$build/irq_sim.c"
    echo 'obj-m := gpio-ir-tx.o gpio-sim.o irq_sim.o' >"$build/Kbuild"
    # The headers' Makefile names the common folder by its installed path.
    headers=$unpacked/usr/src/linux-headers-$release
    sed -i "s|/usr/src/linux-headers-|$PWD/$unpacked/usr/src/linux-headers-|" "$headers/Makefile"
    if ! make -C "$headers" M="$PWD/$build" ARCH=arm64 CROSS_COMPILE=aarch64-linux-gnu- -j2 modules \
        >"$dir/make.log" 2>&1; then
        cat "$dir/make.log" >&2
        exit 1
    fi
    for module in gpio-ir-tx gpio-sim irq_sim; do
        aarch64-linux-gnu-strip --strip-debug -o "$dir/modules/$module.ko" "$build/$module.ko"
    done
    dpkg-deb -x "$dir"/deb/busybox-static_*.deb "$unpacked/busybox"
    cp "$unpacked/busybox/bin/busybox" "$dir/busybox"
    cp "$unpacked/boot/vmlinuz-$release" "$dir/vmlinuz.part"
    rm -rf "$unpacked" "$dir/deb" "$dir/src"
    mv "$dir/vmlinuz.part" "$dir/vmlinuz"
}
# The kernel, its headers, Debian's source of it and the host's kernel build tools,
# all of one version, and busybox for the userland.
vmKernel arm64 amd64 "$cache" vmlinuz busybox-static
image=$vmImage
release=$vmRelease
kernel=$vmDir
[ -f "$kernel/vmlinuz" ] || buildCache "$kernel" "$release"
echo "$image $(cat "$kernel/version"), modules: $(cd "$kernel/modules" && echo *.ko)"

vmStep "device trees and initramfs"
dtbs=$vm/dtb
mkdir -p "$dtbs"
machine=(-M virt,dtb-randomness=off -cpu cortex-a53 -m 512 -smp 1)
# The clock the guest starts from, too, is the same every run: the kernel mixes
# it into its randomness (slab layouts, the programs' address space), and through
# that into how many instructions, and so how much time, each step takes.
clock=(-icount shift=0,sleep=off -rtc base=2026-01-01T00:00:00,clock=vm)
qemu-system-aarch64 "${machine[@]}" -M dumpdtb="$dtbs/virt.dtb" -nographic >/dev/null
dtc -q -I dtb -O dts -o "$dtbs/virt.dts" "$dtbs/virt.dtb"
# A node as the Pi's overlay makes it: found by its compatible string, the line in
# its gpios property (the bank, the line, the flags).
transmitter() {
    printf '\tgpio-ir-transmitter@%x {\n\t\tcompatible = "gpio-ir-tx";\n\t\tgpios = <&bank %d 0>;\n\t};\n' "$1" "$1"
}
tree() {
    {
        cat "$dtbs/virt.dts"
        printf '/ {\n\tgpio-sim {\n\t\tcompatible = "gpio-simulator";\n'
        printf '\t\tbank: bank0 {\n\t\t\tgpio-controller;\n\t\t\t#gpio-cells = <2>;\n'
        printf '\t\t\tngpios = <32>;\n\t\t\tgpio-sim,label = "beam-bank";\n\t\t};\n\t};\n'
        for line in "$@"; do
            transmitter "$line"
        done
        printf '};\n'
    } >"$dtbs/tree.dts"
    dtc -q -I dts -O dtb -o - "$dtbs/tree.dts"
}
tree 24 >"$dtbs/one.dtb"
tree 18 >"$dtbs/line18.dtb"
tree 24 18 >"$dtbs/two.dtb"
cp "$dtbs/one.dtb" "$dtbs/loopback.dtb"

cp "$kernel/busybox" "$root/bin/busybox"
cp "$kernel"/modules/*.ko "$root/modules/"
install -m 755 tests/gpio-ir-tx-vm/init.sh "$root/init"
install -m 644 scripts/lib/vm-guest.sh "$root/guest.sh"
printf 'root:x:0:0::/:/bin/sh\nbeam:x:1000:1000::/tmp:/bin/sh\nviewer:x:1001:1001::/tmp:/bin/sh\n' \
    >"$root/etc/passwd"
printf 'root:x:0:\nvideo:x:44:viewer\nbeam:x:1000:\nviewer:x:1001:\n' >"$root/etc/group"
# Every library the arm64 programs need, from the cross toolchain's copy of
# Debian's arm64 libraries, and the loader where the programs name it.
sysroot=/usr/aarch64-linux-gnu/lib
mapfile -t elves < <(find "$root/beam" -type f -exec sh -c 'head -c 4 "$1" | grep -q ELF && echo "$1"' sh {} \;)
while [ ${#elves[@]} -gt 0 ]; do
    elf=${elves[0]}
    elves=("${elves[@]:1}")
    interpreter=$(readelf -l "$elf" | sed -n 's/.*interpreter: \(.*\)]/\1/p')
    if [ -n "$interpreter" ] && [ ! -f "$root$interpreter" ]; then
        mkdir -p "$root$(dirname "$interpreter")"
        cp -L "$sysroot/${interpreter##*/}" "$root$interpreter"
    fi
    for library in $(readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        [ -f "$root/beam/lib/beam/$library" ] || [ -f "$root/lib/$library" ] && continue
        [ -f "$sysroot/$library" ] || {
            echo "gpio-ir-tx-vm: $elf needs $library, not in $sysroot" >&2
            exit 1
        }
        cp -L "$sysroot/$library" "$root/lib/"
        elves+=("$root/lib/$library")
    done
done

# What a program prints, byte for byte, as the VM gives it: hexadecimal.
hex() {
    od -An -v -tx1 | tr -d ' \n'
}
unhex() {
    printf '%b' "$(sed 's/../\\x&/g' <<<"$1")"
}
# The standard output of the stand-in build's run of a program in a folder, with
# the stand-in's controls, then the program's arguments after "--".
simOutput() {
    local dir=$1 program=$2 controls=()
    shift 2
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        controls+=("$1")
        shift
    done
    [ $# -eq 0 ] || shift
    (cd "$dir" && env PIGPIO_SIM_CLOCK=virtual PIGPIO_SIM_ON_PI=1 "PIGPIO_SIM_LOCK_FILE=$OLDPWD/$host/sim.pid" \
        "${controls[@]}" "$OLDPWD/build/$program/$program" "$@" 2>/dev/null) || true
}
# What the line must carry for a press, from `beam --print` (its carrier, duty
# cycle and durations) and the library's rules, not from anything the VM saw:
#   CARRIER <Hz> DUTY <%> COUNT <durations written>
#   FRAME <k> periods <342 21x33> durations <pulse space ... pulse> next <us|->
# The library (transmitter.h) turns a mark into whole periods of the true period,
# round(mark / (1e6 / Hz)), each period whole microseconds on and off, rounded
# apart: round(period x duty) and round(period x (1 - duty)); so a mark is written
# as periods x (on + off), and the lirc library asks the driver for the carrier
# and duty of on and off as it rounds them (pigpio/lirc/frame.cpp).  Frames are
# split where gpio_frames splits them: at 20 ms of silence or a burst of 4 ms;
# "next" is from a frame's start to the next one's.
pressLine() {
    LC_ALL=C awk 'NR == 1 { hz = $3; duty = $7 + 0 }
         NR == 2 {
             cycle = 1e6 / hz
             on = int(cycle * duty + 0.5); off = int((1 - duty) * cycle + 0.5)
             p = on + off
             printf "CARRIER %d DUTY %d COUNT %d\n", int((2e6 + p) / (2 * p)), int((200 * on + p) / (2 * p)), NF
             k = 0
             for (i = 1; i <= NF; i++) {
                 us = substr($i, 2) + 0
                 if (i % 2 == 1) {
                     n = int(us / cycle + 0.5); mark = n * p
                     if (k == 0 || mark >= 4000 || gap >= 20000) {
                         if (k > 0) next_[k] = elapsed + gap
                         k++; elapsed = 0; periods[k] = ""; durations[k] = ""
                     } else {
                         durations[k] = durations[k] " " gap; elapsed += gap
                     }
                     periods[k] = periods[k] " " n
                     durations[k] = durations[k] " " mark; elapsed += mark
                 } else {
                     gap = us
                 }
             }
             for (f = 1; f <= k; f++) {
                 runs = ""; c = split(substr(periods[f], 2), list, " ")
                 for (a = 1; a <= c; a = b) {
                     for (b = a + 1; b <= c && list[b] == list[a]; b++) {}
                     runs = runs " " list[a] (b - a > 1 ? "x" (b - a) : "")
                 }
                 printf "FRAME %d periods %s durations %s next %s\n", f, substr(runs, 2),
                     substr(durations[f], 2), (f < k ? next_[f] : "-")
             }
         }'
}
bitsOf() {
    [ "$1" = beamones ] && echo $ones || echo $example
}
declare -A expectOf
for entry in "${cases[@]}"; do
    read -r name boot setup mode programs <<<"$entry"
    dir=$root/cases/$name
    mkdir -p "$dir" "$host/$name"
    echo "$boot" >"$dir/boot"
    echo "$setup" >"$dir/setup"
    echo "$mode" >"$dir/mode"
    echo "$programs" >"$dir/programs"
    printf '%s' $example >"$dir/expected_message.txt"
    # What each program must print: the stand-in's lines, with the kernel's answer
    # to the send (the count of durations), or the stand-in's refusal where this
    # case must be refused.
    expect=sent
    [ "$setup" = user ] && expect=no-init
    [ "$boot" = line18 ] && expect=not-permitted
    expectOf[$name]=$expect
    args=()
    if [ -n "${argsOf[$name]:-}" ]; then
        [ "$programs" = beam ] || {
            echo "gpio-ir-tx-vm: $name: arguments are for a case of one beam" >&2
            exit 1
        }
        printf '%s\n' "${argsOf[$name]}" >"$dir/args.1"
        mapfile -t args <"$dir/args.1"
        build/beam/beam "${args[@]}" --print | pressLine >"$host/$name/line"
    fi
    for program in $programs; do
        if [ "$program" = beam ]; then
            count=$(sed -n 's/^CARRIER .* COUNT //p' "$host/$name/line")
        else
            bits=$(bitsOf "$program")
            count=$((2 * ${#bits} + 3))
        fi
        case $expect in
        sent) simOutput "$dir" "$program" -- "${args[@]}" | sed "s/^Result: [-0-9]*$/Result: $count/" ;;
        no-init) simOutput "$dir" "$program" PIGPIO_SIM_FAIL_INIT=1 -- "${args[@]}" ;;
        not-permitted) simOutput "$dir" "$program" PIGPIO_SIM_FAIL_WAVE_CREATE=-41 -- "${args[@]}" ;;
        esac | hex
        echo
    done >"$host/$name/stdout"
done
vmPack "$root" "$vm/initramfs.cpio"
echo "$(du -h "$vm/initramfs.cpio" | cut -f1) initramfs, ${#cases[@]} cases on ${#boots[@]} boots"

failures=()
limit=120
vmSeconds=0
for boot in "${boots[@]}"; do
    vmStep "the VM, boot $boot: $image, qemu-system-aarch64 -cpu cortex-a53 -icount shift=0,sleep=off"
    started=$SECONDS
    status=0
    timeout $limit qemu-system-aarch64 "${machine[@]}" "${clock[@]}" -nographic -nic none \
        -no-reboot -kernel "$kernel/vmlinuz" -initrd "$vm/initramfs.cpio" -dtb "$dtbs/$boot.dtb" \
        -append "console=ttyAMA0 panic=-1 quiet loglevel=1 nokaslr beam.boot=$boot" \
        </dev/null >"$vm/console-$boot.log" 2>&1 || status=$?
    vmSeconds=$((vmSeconds + SECONDS - started))
    vmResults "$vm/console-$boot.log" "$vm/results-$boot"
    results=$vm/results-$boot
    [ "$status" -eq 0 ] || failures+=("boot $boot: qemu ended with status $status (124: still running after $limit s)")
    grep -qx DONE "$results" || failures+=("boot $boot: the VM did not finish its cases (console: $vm/console-$boot.log)")
    grep -qx "KERNEL $release" "$results" || failures+=("boot $boot: the VM did not run $release")
    while read -r failure; do
        failures+=("boot $boot: $failure")
    done < <(sed -n 's/^FAIL //p' "$results")
    sed -n '/^DEVICES at boot/,/^TOOK boot/s/^DEVICE \([^ ]*\) \(.*\)/  at boot, \/dev\/\1: \2/p' "$results"
    awk '$1 == "TOOK" { printf "  %s by %s s on its clock\n", $2, $3 }' "$results"
done

# A field of the report's lines of one kind: "field FRAMETIME 2 pids" → "93".
field() {
    awk -v kind="$1" -v n="$2" -v name="$3" '$1 == kind && $2 == n {
        for (i = 3; i < NF; i++) if ($i == name) { print $(i + 1); exit } }' "$4"
}
ms() {
    awk -v us="$1" 'BEGIN { if (us == "-") print "-"; else printf "%.3f ms", us / 1000 }'
}

# The duty cycle (%) the line carries when the driver is asked for DUTY % at HZ.
# Within a burst gpio-ir-tx waits for each edge with ndelay, which on arm64
# multiplies by 5 for 2^32 / 10^9 (4.29), so it waits 16.4 % longer than asked:
# each edge is late by 16.4 % of the wait before it.  At half and half both edges
# are equally late; at a third, the rise comes after the long wait and is later
# than the fall, so the high time is shorter than asked (33 % comes out 26 %).
lineDuty() {
    LC_ALL=C awk -v hz="$1" -v duty="$2" 'BEGIN {
        on = int(duty * 1e7 / hz + 0.5); off = int((100 - duty) * 1e7 / hz + 0.5)
        a = 5e9 / 4294967296 - 1
        rise = a * (off - a * on) / (1 - a * a); fall = a * (on - rise)
        printf "%d\n", int(100 * (on + fall - rise) / (on + off) + 0.5) }'
}

# Frame k of a case's press against what the library writes ($out/line): its
# bursts' periods, its carrier and duty, every pulse and space, and the time from
# its start to the next frame's.
pressFrame() {
    local k=$1 want seen hz duty slack written got d next start later
    want=$(sed -n "s/^FRAME $k periods \(.*\) durations .*/GPIO 24 periods \1 carrier C duty D ends low/p" "$out/line")
    seen=$(sed -n "s/^FRAME $k \(.*\) carrier [0-9]* duty [0-9]* bits [-01]* \(.*\)/\1 carrier C duty D \2/p" "$report")
    [ "$seen" = "$want" ] || caseFailed "frame $k: '$seen', not '$want'"
    read -r _ hz _ duty _ <"$out/line"
    got=$(field FRAME "$k" carrier "$report")
    if [ $((got - hz)) -gt $carrierSlackHz ] || [ $((hz - got)) -gt $carrierSlackHz ]; then
        caseFailed "frame $k: a carrier of $got Hz, not $hz +- $carrierSlackHz"
    fi
    got=$(field FRAME "$k" duty "$report")
    slack=$slackUs
    [ "$duty" = 50 ] || slack=$pressSlackUs
    duty=$(lineDuty "$hz" "$duty")
    [ "$got" = "$duty" ] || caseFailed "frame $k: a duty cycle of $got %, not $duty %"
    read -r -a written <<<"$(sed -n "s/^FRAME $k periods .* durations \(.*\) next .*/\1/p" "$out/line")"
    read -r -a got <<<"$(sed -n "s/^DURATIONS $k //p" "$report")"
    for ((d = 0; d < ${#written[@]}; d++)); do
        if [ "${#got[@]}" -ne "${#written[@]}" ] || [ $((got[d] - written[d])) -gt $slack ] ||
            [ $((written[d] - got[d])) -gt $slack ]; then
            caseFailed "frame $k: durations not as written (within $slack us): ${got[*]:0:12}..., not ${written[*]:0:12}..."
            break
        fi
    done
    next=$(sed -n "s/^FRAME $k .* next //p" "$out/line")
    [ "$next" = - ] && return
    start=$(field FRAMETIME "$k" start "$report")
    later=$(field FRAMETIME $((k + 1)) start "$report")
    if [ -z "$later" ] || [ $((later - start - next)) -gt $spacingSlackUs ] ||
        [ $((next - later + start)) -gt $spacingSlackUs ]; then
        caseFailed "frame $k: the next frame $((${later:-0} - start)) us after its start, not $next +- $spacingSlackUs"
    fi
}

echo
echo "What the line carried, per case (times on the guest's clock):"
: >"$vm/traces.sha256.new"
for entry in "${cases[@]}"; do
    read -r name boot setup mode programs <<<"$entry"
    results=$vm/results-$boot
    out=$host/$name
    vmBlock "$results" case "$name" >"$out/got"
    sed -n 's/^TRACE //p' "$out/got" >"$out/trace"
    sed -n 's/^NS //p' "$out/got" >"$out/trace-ns"
    echo "$(cat "$out/trace" "$out/trace-ns" | sha256sum | cut -c1-64)  $name" >>"$vm/traces.sha256.new"
    echo "$name: $programs, $mode; boot $boot, $setup"
    caseFailed() {
        failures+=("$name: $*")
        echo "  FAILED: $*"
    }
    if [ ! -s "$out/got" ]; then
        caseFailed "no result from the VM"
        continue
    fi
    base=$(sed -n 's/^BANK //p' "$results" | head -1)
    report=$out/report
    "$tool" --base "${base:-0}" --programs /beam/bin/,/bin/true --raw "$out/trace-ns" "$out/trace" >"$report" ||
        caseFailed "gpio_frames could not read the whole trace: $(grep -E '^(EVENTS|ERROR)' "$report" | head -3 | paste -sd ';')"
    sed -n 's/^DEVICE \([^ ]*\) \(.*\)/  \/dev\/\1: \2/p' "$out/got"
    if [ -n "${lirc0[$name]:-}" ] && ! grep -qx "DEVICE lirc0 ${lirc0[$name]}" "$out/got"; then
        caseFailed "/dev/lirc0 is not ${lirc0[$name]}, so the case does not test what it says"
    fi

    # What each program said.
    expect=${expectOf[$name]}
    mapfile -t wants <"$out/stdout"
    i=0
    for program in $programs; do
        i=$((i + 1))
        status=$(sed -n "s/^STATUS $i //p" "$out/got")
        stdout=$(sed -n "s/^STDOUT $i //p" "$out/got")
        stderr=$(unhex "$(sed -n "s/^STDERR $i //p" "$out/got")")
        echo "  run $i, $program: exit $status; $(unhex "$stdout" | paste -sd '|')"
        [ -z "$stderr" ] || echo "    stderr: $stderr"
        if [ "$stdout" != "${wants[i - 1]}" ]; then
            caseFailed "run $i: standard output is not '$(unhex "${wants[i - 1]}" | paste -sd '|')'"
        fi
        case $expect in
        sent)
            [ "$status" = 0 ] || caseFailed "run $i: exit status $status, not 0"
            [ -z "$stderr" ] || caseFailed "run $i: a note on standard error"
            ;;
        no-init)
            [ "$status" = 1 ] || caseFailed "run $i: exit status $status, not 1"
            grep -q 'permission denied' <<<"$stderr" || caseFailed "run $i: no 'permission denied' on standard error"
            ;;
        not-permitted)
            [ "$status" = 1 ] || caseFailed "run $i: exit status $status, not 1"
            grep -q 'is on GPIO 18' <<<"$stderr" || caseFailed "run $i: standard error does not name GPIO 18"
            ;;
        esac
    done

    # What the line carried.
    frames=$(sed -n 's/^FRAMES //p' "$report")
    sed -n 's/^FRAME [0-9]* /  frame: /p; s/^FRAMETIME [0-9]* /    /p; s/^DURATIONS [0-9]* \(.\{1,90\}\).*/    durations \1.../p' "$report"
    awk '$1 == "RUN" && $3 == "/bin/true" { floor = $5 }
         $1 == "RUN" && $3 != "/bin/true" {
             printf "  %s (pid %s): exec to exit %.3f ms", $3, $2, $5 / 1000
             if ($6 == "first-edge") printf ", exec to first edge %.3f ms, last edge to exit %.3f ms", $7 / 1000, $9 / 1000
             printf "\n"
         }
         END { if (floor != "") printf "  floor, busybox true: exec to exit %.3f ms\n", floor / 1000 }' "$report"
    if [ "$expect" != sent ]; then
        [ "$(sed -n 's/^EVENTS \([0-9]*\).*/\1/p' "$report")" = 0 ] ||
            caseFailed "something was sent: $(grep '^EVENTS' "$report")"
        continue
    fi
    each=1
    [ "$programs" = beam ] && each=$(grep -c '^FRAME ' "$out/line")
    count=$(($(wc -w <<<"$programs") * each))
    [ "$frames" = "$count" ] || caseFailed "$frames frames on the lines, not $count"
    for ((k = 1; k <= ${frames:-0}; k++)); do
        pids=$(field FRAMETIME "$k" pids "$report")
        program=$(awk -v pid="$pids" '$1 == "RUN" && $2 == pid { print $3 }' "$report")
        program=${program##*/}
        if [ -z "$program" ]; then
            caseFailed "frame $k: written by $pids, not by one of the programs"
            continue
        fi
        if [ "$program" = beam ]; then
            pressFrame "$k"
            continue
        fi
        bits=$(bitsOf "$program")
        want="GPIO 24 periods 342 21x33 carrier C duty 50 bits $bits ends low"
        seen=$(sed -n "s/^FRAME $k \(.*\) carrier [0-9]* \(.*\)/\1 carrier C \2/p" "$report")
        [ "$seen" = "$want" ] || caseFailed "frame $k: not '$want'"
        hz=$(field FRAME "$k" carrier "$report")
        if [ $((hz - carrierHz)) -gt $carrierSlackHz ] || [ $((carrierHz - hz)) -gt $carrierSlackHz ]; then
            caseFailed "frame $k: a carrier of $hz Hz, not $carrierHz +- $carrierSlackHz"
        fi
        read -r -a got <<<"$(sed -n "s/^DURATIONS $k //p" "$report")"
        read -r -a written <<<"$(necDurations "$bits")"
        for ((d = 0; d < ${#written[@]}; d++)); do
            if [ "${#got[@]}" -ne "${#written[@]}" ] || [ $((got[d] - written[d])) -gt $slackUs ] ||
                [ $((written[d] - got[d])) -gt $slackUs ]; then
                caseFailed "frame $k: durations not as written (within $slackUs us): $(sed -n "s/^DURATIONS $k //p" "$report" | cut -c1-80)..."
                break
            fi
        done
        after=$(field FRAMETIME "$k" after "$report")
        if [ "$k" -gt 1 ] && [ "$after" -lt $quietUs ]; then
            caseFailed "frame $k: $(ms "$after") after the previous frame, not $(ms $quietUs) or more"
        fi
    done
    while read -r pid program made; do
        [ "$made" = "$each" ] || caseFailed "$program (pid $pid) made $made frames, not $each"
    done < <(awk '$1 == "RUN" && $3 ~ /^\/beam\/bin\// { print $2, $3, ($6 == "first-edge" ? $11 : 0) }' "$report")
done

echo
echo "sysfs in the VM, boot one:"
sed -n 's/^SYSFS /  /p' "$vm/results-one"
if [ -f "$vm/traces.sha256" ]; then
    if cmp -s "$vm/traces.sha256" "$vm/traces.sha256.new"; then
        echo "traces: every case's trace is the same as in the previous run"
    else
        echo "traces: these differ from the previous run:"
        diff "$vm/traces.sha256" "$vm/traces.sha256.new" | sed -n 's/^> [0-9a-f]*  /  /p' || true
    fi
fi
mv "$vm/traces.sha256.new" "$vm/traces.sha256"
echo "gpio-ir-tx-vm: the VMs took $vmSeconds s, the stage $((SECONDS - vmStarted)) s"
if [ ${#failures[@]} -gt 0 ]; then
    printf 'gpio-ir-tx-vm: FAILED: %s\n' "${failures[@]}"
    exit 1
fi
echo "gpio-ir-tx-vm: every case as expected"
