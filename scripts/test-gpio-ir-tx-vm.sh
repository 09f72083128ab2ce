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
cmake --build build -j2 --target gpio_frames beamfile beamones
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
# the stand-in's controls.
simOutput() {
    local dir=$1 program=$2
    shift 2
    (cd "$dir" && env PIGPIO_SIM_CLOCK=virtual PIGPIO_SIM_ON_PI=1 "PIGPIO_SIM_LOCK_FILE=$OLDPWD/$host/sim.pid" "$@" \
        "$OLDPWD/build/$program/$program" 2>/dev/null) || true
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
    for program in $programs; do
        bits=$(bitsOf "$program")
        case $expect in
        sent) simOutput "$dir" "$program" | sed "s/^Result: [-0-9]*$/Result: $((2 * ${#bits} + 3))/" ;;
        no-init) simOutput "$dir" "$program" PIGPIO_SIM_FAIL_INIT=1 ;;
        not-permitted) simOutput "$dir" "$program" PIGPIO_SIM_FAIL_WAVE_CREATE=-41 ;;
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
    count=$(wc -w <<<"$programs")
    [ "$frames" = "$count" ] || caseFailed "$frames frames on the lines, not $count"
    for ((k = 1; k <= ${frames:-0}; k++)); do
        pids=$(field FRAMETIME "$k" pids "$report")
        program=$(awk -v pid="$pids" '$1 == "RUN" && $2 == pid { print $3 }' "$report")
        program=${program##*/}
        if [ -z "$program" ]; then
            caseFailed "frame $k: written by $pids, not by one of the programs"
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
        [ "$made" = 1 ] || caseFailed "$program (pid $pid) made $made frames, not 1"
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
