#!/bin/busybox sh
# PID 1 of the gpio-ir-tx VM stage's initramfs (scripts/test-gpio-ir-tx-vm.sh):
# loads gpio-sim (a bank of 32 lines, from the device tree) and gpio-ir-tx, runs
# the cases of this boot (beam.boot= on the kernel's command line) with the
# kernel's gpio_value tracepoint recording every edge, prints each case's trace
# and the programs' output on the console, each line marked "BEAMVM" so that the
# host tells it from the kernel's own messages, and powers off.
#
# The initramfs holds /cases/NAME/ (files boot, setup, mode and programs, the
# message file, and args.N for run N's arguments), the senders in /beam, the
# modules in /modules, and /etc/passwd and /etc/group with root, beam (not in
# group video) and viewer (in it).
# busybox, the mounts, say and took (scripts/lib/vm-guest.sh).
. /guest.sh
boot=$(sed -n 's/.*beam\.boot=\([a-z0-9]*\).*/\1/p' /proc/cmdline)
say "KERNEL $(uname -r)"
say "BOOT $boot"

# gpio-sim needs configfs and irq_sim, gpio-ir-tx needs rc-core.  On the loopback
# boot another transmitter registers first, as a USB one plugged in at boot would.
modules="configfs irq_sim gpio-sim rc-core gpio-ir-tx"
[ "$boot" = loopback ] && modules="configfs irq_sim gpio-sim rc-core rc-loopback gpio-ir-tx"
for module in $modules; do
    insmod "/modules/$module.ko" || say "FAIL insmod $module"
done
for chip in /sys/class/gpio/gpiochip*; do
    [ "$(cat "$chip/label")" = beam-bank ] && say "BANK $(cat "$chip/base")"
done

trace=/sys/kernel/tracing
mount -t tracefs tracefs $trace || say "FAIL no tracefs"
echo 4096 >$trace/buffer_size_kb
for event in gpio/gpio_value sched/sched_process_exec sched/sched_process_exit; do
    echo 1 >"$trace/events/$event/enable" || say "FAIL no event $event"
done
# The clock the driver times its edges with (ktime_get, CLOCK_MONOTONIC).
echo mono >$trace/trace_clock
echo 0 >$trace/tracing_on

# Which transmitter each /dev/lircN is: its rc device's driver, and the device-tree
# node the driver is bound to ("-" for none).
devices() {
    for lirc in /sys/class/lirc/lirc*; do
        [ -e "$lirc" ] || continue
        node=$(readlink "$lirc/device/device/of_node" 2>/dev/null) || node=-
        say "DEVICE ${lirc##*/} $(sed -n 's/^DRV_NAME=//p' "$lirc/device/uevent") ${node##*/}"
    done
}
# The links from /sys/class/lirc/lirc0 to its node, as ls -l shows them.
links() {
    lirc=/sys/class/lirc/lirc0
    for link in "$lirc" "$lirc/device" "$lirc/device/device" "$lirc/device/device/driver" \
        "$lirc/device/device/of_node"; do
        [ -L "$link" ] && say "SYSFS $(ls -l "$link" | sed 's/.* \/sys/\/sys/')"
    done
}
say "DEVICES at boot"
devices
links
took boot

# Unbinds every gpio-ir-tx device and binds them again in the opposite order of
# their /dev/lirc numbers, which follow the order of binding.
swap() {
    driver=/sys/bus/platform/drivers/gpio-ir-tx
    bound=
    for lirc in /sys/class/lirc/lirc*; do # lirc0 to lirc9 in order
        device=$(readlink "$lirc/device/device") || continue
        link=$(readlink "$lirc/device/device/driver")
        [ "${link##*/}" = gpio-ir-tx ] && bound="${device##*/} $bound"
    done
    for device in $bound; do
        echo "$device" >$driver/unbind
    done
    for device in $bound; do
        echo "$device" >$driver/bind
    done
}

# One program of a case, in the case's folder, as root or as a user.  Its
# arguments, if it has any, are the lines of args.N, so that one argument may
# hold spaces (a raw capture); only root's runs take them.
start() {
    cd "$dir" || exit 1
    n=$1
    program=$2
    set --
    if [ -f "$dir/args.$n" ]; then
        while IFS= read -r arg; do
            set -- "$@" "$arg"
        done <"$dir/args.$n"
    fi
    case $setup in
    user) exec su -s /bin/sh beam -c "exec /beam/bin/$program" >"/tmp/out.$n" 2>"/tmp/err.$n" ;;
    group) exec su -s /bin/sh viewer -c "exec /beam/bin/$program" >"/tmp/out.$n" 2>"/tmp/err.$n" ;;
    *) exec "/beam/bin/$program" "$@" >"/tmp/out.$n" 2>"/tmp/err.$n" ;;
    esac
}

bytes() {
    od -An -v -tx1 <"$1" | tr -d ' \n'
}

runCase() {
    dir=$1
    name=${dir##*/}
    setup=$(cat "$dir/setup")
    mode=$(cat "$dir/mode")
    programs=$(cat "$dir/programs")
    say "BEGIN case $name"
    case $setup in
    user | group)
        chgrp video /dev/lirc*
        chmod 660 /dev/lirc*
        ;;
    swapped) swap ;;
    esac
    devices
    rm -f /tmp/out.* /tmp/err.* /tmp/status.*
    echo >$trace/trace
    echo 1 >$trace/tracing_on
    /bin/true # the floor: a static program's exec to exit
    i=0
    case $mode in
    together)
        pids=
        for program in $programs; do
            i=$((i + 1))
            start $i "$program" &
            pids="$pids $!"
        done
        i=0
        for pid in $pids; do
            i=$((i + 1))
            wait "$pid"
            echo $? >"/tmp/status.$i"
        done
        ;;
    *)
        for program in $programs; do
            i=$((i + 1))
            (start $i "$program")
            echo $? >"/tmp/status.$i"
        done
        ;;
    esac
    echo 0 >$trace/tracing_on
    i=0
    for program in $programs; do
        i=$((i + 1))
        say "RUN $i $program"
        say "STATUS $i $(cat "/tmp/status.$i")"
        say "STDOUT $i $(bytes "/tmp/out.$i")"
        say "STDERR $i $(bytes "/tmp/err.$i")"
    done
    sed 's/^/BEAMVM TRACE /' $trace/trace
    # The same events with their times in nanoseconds, which the text rounds down
    # to microseconds ("PID CPU NS type: N").
    echo 1 >$trace/options/raw
    sed 's/^/BEAMVM NS /' $trace/trace
    echo 0 >$trace/options/raw
    case $setup in
    user | group)
        chgrp root /dev/lirc*
        chmod 600 /dev/lirc*
        ;;
    esac
    say "END $name"
}

for dir in /cases/*; do
    [ "$(cat "$dir/boot")" = "$boot" ] && runCase "$dir"
done
took cases

say DONE
poweroff -f
