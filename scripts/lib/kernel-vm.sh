# shellcheck shell=bash
# Sourced, not run: what the stages that boot Debian's own kernel in qemu share
# (scripts/test-kernel-vm.sh, the amd64 kernel's IR stack; scripts/test-gpio-ir-tx-vm.sh,
# the gpio-ir-tx driver in an arm64 VM).  The kernel package is fetched and unpacked
# into a cache, never installed.
#
# The apt commands run with the prefix in vmApt (empty: the system's apt; a private
# one's, see private-apt.sh), and vmAptUpdate is the command that refreshes its lists.
# shellcheck source=kernel-choice.sh
. "$(dirname "${BASH_SOURCE[0]}")/kernel-choice.sh"
vmApt=()
vmAptUpdate=(apt-get update -qq)
vmStarted=$SECONDS

# "== TEXT (N s)", N the seconds since the stage started.
vmStep() {
    printf '== %s (%d s)\n' "$1" $((SECONDS - vmStarted))
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

# vmChoose FLAVOUR BUILD: kernelChoose (kernel-choice.sh) on the indexes, its
# notes said; sets vmChoice to its lines and returns its status.
vmChoose() {
    local status=0
    vmChoice=$(kernelIndexes | kernelChoose "$1" "$2") || status=$?
    sed -n 's/^passed \([^ ]*\) \([^ ]*\): no \(.*\)/  passed over \2 \1: the archive has no \3 of that version/p
            s/^unsigned \([^ ]*\) \([^ ]*\)/  \1 \2: the archive has no signed image; its -unsigned twin is the same kernel/p' \
        <<<"$vmChoice"
    return $status
}

# vmKernel FLAVOUR BUILD CACHE DONE [EXTRA...]
# The newest kernel of FLAVOUR whose packages the archive has whole (with BUILD, an
# architecture, those for building modules too: see kernelChoose), kept in
# CACHE/IMAGE_VERSION.  Sets vmImage (the signed image's name), vmVersion,
# vmRelease (as uname -r gives it) and vmDir, that folder.  Unless vmDir/DONE
# exists, vmDir/deb then holds the chosen packages and the EXTRA ones (names), and
# the caller makes vmDir/DONE from them.  Package lists older than the archive
# may name packages no longer there: when the choice or its download fails, the
# lists are refreshed once and the choice made again.  Where the archive has no
# whole kernel even then, the newest whole one in CACHE serves, and it says so.
# The caches of other kernels go.
vmKernel() {
    local flavour=$1 build=$2 cache=$3 done=$4 try chose
    shift 4
    vmDir=
    for try in first refreshed; do
        if [ $try = refreshed ]; then
            echo "  refreshing the package lists and choosing again"
            "${vmAptUpdate[@]}"
        fi
        vmChoose "$flavour" "$build" || continue
        chose=$(sed -n 's/^chose //p' <<<"$vmChoice")
        read -r vmVersion vmImage vmRelease <<<"$chose"
        vmDir=$cache/${vmImage}_$vmVersion
        echo "  chose $vmImage $vmVersion, the newest kernel whose packages the archive has whole"
        [ ! -f "$vmDir/$done" ] || break
        # shellcheck disable=SC2046 # the fetch line is a list of words
        if vmFetch "$vmDir/deb" $(sed -n 's/^fetch //p' <<<"$vmChoice") "$@"; then
            break
        fi
        echo "  the download of $vmImage $vmVersion failed"
        vmDir=
    done
    if [ -z "$vmDir" ]; then
        local dir
        for dir in "$cache"/*/; do
            [ -f "$dir$done" ] || continue
            dir=${dir%/}
            dir=${dir##*/}
            if [ -z "$vmDir" ] || dpkg --compare-versions "${dir#*_}" gt "$vmVersion"; then
                vmImage=${dir%_*}
                vmVersion=${dir#*_}
                vmDir=$cache/$dir
            fi
        done
        if [ -z "$vmDir" ]; then
            echo "kernel-vm: the archive has no $flavour kernel with every package the stage needs, and none is cached:" >&2
            sed -n 's/^passed \([^ ]*\) \([^ ]*\): no /  \2 \1: no /p' <<<"$vmChoice" >&2
            exit 1
        fi
        vmRelease=${vmImage#linux-image-}
        echo "  the archive has no $flavour kernel it can provide whole now: using the cached $vmImage $vmVersion"
    fi
    find "$cache" -mindepth 1 -maxdepth 1 ! -name "${vmDir##*/}" -exec rm -rf {} +
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
