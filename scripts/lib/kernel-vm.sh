# shellcheck shell=bash
# Sourced, not run: what the stages that boot Debian's own kernel in qemu share
# (scripts/test-kernel-vm.sh, the amd64 kernel's IR stack; scripts/test-gpio-ir-tx-vm.sh,
# the gpio-ir-tx driver in an arm64 VM).  The kernel package is fetched and unpacked
# into a cache, never installed.
#
# The apt commands run with the prefix in vmApt (empty: the system's apt; a private
# one's, see private-apt.sh), and vmAptUpdate is the command that refreshes its lists.
vmApt=()
vmAptUpdate=(apt-get update -qq)
vmStarted=$SECONDS

# "== TEXT (N s)", N the seconds since the stage started.
vmStep() {
    printf '== %s (%d s)\n' "$1" $((SECONDS - vmStarted))
}

# The kernel image package a metapackage (linux-image-amd64, linux-image-arm64)
# depends on, by the package lists.
vmImageName() {
    "${vmApt[@]}" apt-cache depends "$1" 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }'
}

# vmFetch DIR PACKAGE...: the packages' .deb files (NAME or NAME=VERSION) into DIR,
# emptied first.  Fails as apt-get download does.
vmFetch() {
    local dir=$1
    shift
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$dir" && "${vmApt[@]}" apt-get download -q -o APT::Sandbox::User=root "$@" >/dev/null)
}

# vmKernel META CACHE DONE DOWNLOAD
# Sets vmImage to the kernel image package META depends on.  Unless
# CACHE/IMAGE/DONE exists, calls DOWNLOAD IMAGE (a function that fetches what the
# cache is made from, its status apt's); a package list older than the archive may
# name a kernel no longer there, so when that fails the lists are refreshed once
# and the name asked again.  The caller then makes CACHE/IMAGE/DONE from what was
# downloaded.  The caches of other kernels, which META no longer names, go.
vmKernel() {
    local meta=$1 cache=$2 done=$3 download=$4
    vmImage=$(vmImageName "$meta")
    if [ -z "$vmImage" ] || { [ ! -f "$cache/$vmImage/$done" ] && ! "$download" "$vmImage"; }; then
        "${vmAptUpdate[@]}"
        vmImage=$(vmImageName "$meta")
        if [ -z "$vmImage" ]; then
            echo "kernel-vm: apt-cache knows no $meta" >&2
            exit 1
        fi
        [ -f "$cache/$vmImage/$done" ] || "$download" "$vmImage"
    fi
    mkdir -p "$cache"
    find "$cache" -mindepth 1 -maxdepth 1 ! -name "$vmImage" -exec rm -rf {} +
}

# vmModule DIR NAME DEST: the module NAME found under DIR (an unpacked kernel's
# lib/modules/RELEASE) into DEST as NAME.ko; busybox's insmod loads plain .ko
# files only, so a compressed one is decompressed.
vmModule() {
    local found
    found=$(find "$1" \( -name "$2.ko" -o -name "$2.ko.xz" -o -name "$2.ko.zst" \) -print -quit)
    case $found in
    *.ko) cp "$found" "$3/" ;;
    *.ko.xz) xz -dc "$found" >"$3/$2.ko" ;;
    *.ko.zst) zstd -qdc "$found" >"$3/$2.ko" ;;
    *)
        echo "kernel-vm: no module $2 in $1" >&2
        exit 1
        ;;
    esac
}

# vmPack ROOT OUT: ROOT as an initramfs (cpio newc, every file root's), the same
# bytes for the same files: inode numbers and times are the archive's own, and
# the kernel's unpacking (its hash of inode numbers) then takes the same steps.
vmPack() {
    chmod -R a+rX "$1"
    find "$1" -exec touch -h -d @1767225600 {} + # 2026-01-01
    (cd "$1" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --reproducible --quiet) >"$2"
}

# vmResults CONSOLE OUT: the VM's own lines ("BEAMVM ..." on its console), without
# the mark and the console's line ends.
vmResults() {
    tr -d '\r' <"$1" | sed -n 's/^.*BEAMVM //p' >"$2"
}

# vmBlock RESULTS KIND NAME: the lines between "BEGIN KIND NAME" and "END NAME".
vmBlock() {
    awk -v kind="$2" -v name="$3" '
        $1 == "BEGIN" && $2 == kind && $3 == name { on = 1; next }
        $1 == "END" && $2 == name { on = 0 }
        on' "$1"
}

# The frame the senders make of a code, in the durations a lirc device takes (us):
# the leader, a burst and a space per bit, the trailing burst.
necDurations() {
    local bits=$1 line="8892 4500" i
    for ((i = 0; i < ${#bits}; i++)); do
        [ "${bits:i:1}" = 1 ] && line+=" 546 1688" || line+=" 546 562"
    done
    echo "$line 546"
}
