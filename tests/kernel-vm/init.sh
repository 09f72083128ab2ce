#!/bin/busybox sh
# PID 1 of the kernel-VM stage's initramfs (scripts/test-kernel-vm.sh): loads the
# kernel's IR stack, sends every case through it and prints what the kernel
# received and decoded on the console, each line marked "BEAMVM" so that the host
# tells it from the kernel's own messages; then powers off.
#
# The initramfs holds /cases/NAME/ (a file `program`, beamfile or beamones, the
# message file, and `setup`: plain, device=PATH, user, carrier or notx), /replay/NAME.frame
# (the stand-in's frames), /scancodes (kernel_scancodes' cases), the senders in
# /beam/bin and the tools in /tools.
# busybox, the mounts, say and took (scripts/lib/vm-guest.sh).
. /guest.sh
# Marks every line of a tool, its complaints included, for the host to compare.
marked() {
    "$@" 2>&1 | sed 's/^/BEAMVM /'
}
device=/dev/lirc0
reader=/tools/lirc_reader

say "KERNEL $(uname -r)"
# Every decoder module, for the encoders in them; only NEC's decoder is enabled.
for module in rc-core ir-nec-decoder ir-rc5-decoder ir-rc6-decoder ir-jvc-decoder \
    ir-sony-decoder ir-sanyo-decoder ir-sharp-decoder ir-mce_kbd-decoder ir-imon-decoder \
    rc-loopback; do
    insmod "/modules/$module.ko" || say "FAIL insmod $module"
done
for rc in /sys/class/rc/rc*; do
    echo nec >"$rc/protocols" || say "FAIL nec on $rc"
    say "PROTOCOLS $(cat "$rc/protocols")"
done
[ -c "$device" ] || say "FAIL no $device"
took boot

send() {
    name=${1##*/}
    program=/beam/bin/$(cat "$1/program")
    setup=$(cat "$1/setup")
    say "BEGIN case $name"
    cd "$1" || say "FAIL cd $1"
    case $setup in
    device=*) marked env "PIGPIO_LIRC_DEVICE=${setup#device=}" $reader run $device -- "$program" ;;
    user)
        # devtmpfs makes the device root's alone already; say it anyway.
        chmod 600 $device
        marked $reader run $device --as 1000 -- "$program"
        ;;
    carrier) marked $reader run $device --carrier -- "$program" ;;
    *) marked $reader run $device -- "$program" ;;
    esac
    cd /
    say "END $name"
}

# Every case of one setup, or with "-", of every other.
sendAll() {
    for case in /cases/*; do
        setup=$(cat "$case/setup")
        if [ "$setup" = "$1" ] || { [ "$1" = - ] && [ "$setup" != carrier ] && [ "$setup" != notx ]; }; then
            send "$case"
        fi
    done
}

sendAll -
took cases

for frame in /replay/*.frame; do
    name=${frame##*/}
    name=${name%.frame}
    say "BEGIN replay $name"
    marked $reader replay $device "$frame"
    say "END $name"
done
took replays

if grep -q 'beam\.perf=1' /proc/cmdline; then
    cd /cases/01-example || say "FAIL no example case"
    say "BEGIN perf beamfile"
    marked $reader perf 20 /tools/lirc_write_clock.so /bin/true -- /beam/bin/beamfile
    say "END beamfile"
    cd /
    took perf
fi

# Carrier reports leave the NEC decoder waiting for the end of the frame (see
# lirc_reader), so they come after every frame that must be decoded.
sendAll carrier

# The kernel's own encoders (lirc_reader scancodes): carrier reports stay on
# throughout, so this too comes after every frame that must be decoded.
say "BEGIN scancodes kernel"
marked $reader scancodes $device /scancodes
say "END kernel"
took scancodes

# Without the loopback device there is no transmitter at all.
rmmod rc-loopback || say "FAIL rmmod rc-loopback"
sendAll notx
took rest

say DONE
poweroff -f
