#!/bin/busybox sh
# Sourced, not run: the start of both VM stages' /init (tests/kernel-vm/init.sh,
# tests/gpio-ir-tx-vm/init.sh), packed into each initramfs as /guest.sh.  Makes
# busybox the userland, mounts what the cases read, and gives the marked lines the
# host reads back.
/bin/busybox mkdir -p /bin /proc /sys /dev /tmp
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

# A line for the host, told from the kernel's own messages by its mark.
say() {
    echo "BEAMVM $*"
}
# Seconds since the kernel started, at the end of a step.
took() {
    say "TOOK $1 $(cut -d' ' -f1 /proc/uptime)"
}
