#!/usr/bin/env bash
# Builds pigpio's C library, libpigpio.so.1, from Debian's source package and
# installs it with pigpio.h into PREFIX/lib and PREFIX/include: for a system that
# ships no pigpio (Raspberry Pi OS Trixie and later), or a private copy to build and
# test against.  Only the library is built, from pigpio.c and command.c, as pigpio's
# own Makefile builds it.
#
# Usage: scripts/build-pigpio.sh [--arch native|armhf|arm64] [--source-dir DIR] [--force] [PREFIX]
#   PREFIX        default /usr/local, followed by ldconfig; any other folder is private
#   --arch        armhf and arm64 cross build with Debian's cross compilers
#   --source-dir  keep pigpio's unpacked source in DIR and use it again next time
#   --force       build and install even when the library is already in place
#
# The source comes from `apt-get source pigpio`: apt checks it against the archive's
# signed index, and dpkg-source applies Debian's patches (one of them makes pigpio
# refuse to start on a machine that is not a Pi instead of taking it for a Pi 1).
# Where the system's apt has no source index, a private deb-src list for the
# archives and suites of the system's own entries (scripts/apt-deb-src.sh, from
# sources.list, sources.list.d or both) is used through apt's options and a private
# folder for the index; the system's apt configuration is never changed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
me="build-pigpio.sh"
# shellcheck source=lib/private-apt.sh
. "$here/lib/private-apt.sh"

fail() {
    echo "$me: $*" >&2
    exit 1
}

arch=native
sourceDir=
force=0
prefix=
while [ $# -gt 0 ]; do
    case "$1" in
    --arch)
        arch=${2:-}
        shift 2 || fail "--arch needs native, armhf or arm64"
        ;;
    --source-dir)
        sourceDir=${2:-}
        shift 2 || fail "--source-dir needs a folder"
        ;;
    --force)
        force=1
        shift
        ;;
    -h | --help)
        sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
        exit 0
        ;;
    -*) fail "unknown option $1 (--help lists them)" ;;
    *)
        [ -z "$prefix" ] || fail "one PREFIX only (got $prefix and $1)"
        prefix=$1
        shift
        ;;
    esac
done
systemPrefix=0
if [ -z "$prefix" ]; then
    prefix=/usr/local
fi
prefix=$(realpath -m "$prefix")
case "$arch" in
native)
    cc=${CC:-gcc}
    # This machine's own executables show what a native library must be.
    want=$(readelf -h /bin/sh | sed -n 's/^ *\(Class\|Machine\): *//p' | paste -sd ' ')
    case "$prefix" in /usr/local | /usr) systemPrefix=1 ;; esac
    ;;
armhf)
    cc=arm-linux-gnueabihf-gcc
    want="ELF32 ARM"
    ;;
arm64)
    cc=aarch64-linux-gnu-gcc
    want="ELF64 AArch64"
    ;;
*) fail "--arch takes native, armhf or arm64, not '$arch'" ;;
esac

elfKind() {
    readelf -h "$1" 2>/dev/null | sed -n 's/^ *\(Class\|Machine\): *//p' | paste -sd ' '
}

# Already there: the header, the library for this machine with pigpio's soname,
# and the link-time name.
lib=$prefix/lib/libpigpio.so.1
if [ "$force" = 0 ] && [ -f "$prefix/include/pigpio.h" ] && [ -f "$lib" ] &&
    [ "$(readlink -f "$prefix/lib/libpigpio.so")" = "$(readlink -f "$lib")" ]; then
    have=$(elfKind "$lib")
    if [ "$have" = "$want" ] && readelf -d "$lib" | grep -q 'SONAME.*\[libpigpio\.so\.1\]'; then
        echo "== pigpio: $lib ($have) and $prefix/include/pigpio.h are in place; nothing to do (--force rebuilds)"
        exit 0
    fi
    echo "== pigpio: $lib is '$have', not '$want': building it again"
fi

"$here/setup.sh" "pigpio$([ "$arch" = native ] || echo "-$arch")"
command -v "$cc" >/dev/null || fail "no C compiler $cc"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "$sourceDir" ] || sourceDir=$work/source
mkdir -p "$sourceDir"
sourceDir=$(realpath "$sourceDir")

# Folders apt downloads into: run as root, it downloads as the unprivileged _apt.
forApt() {
    if [ "$(id -u)" -eq 0 ] && getent passwd _apt >/dev/null; then
        chmod 755 "$work"
        chown _apt "$@"
    fi
}

# Gets pigpio's source into $sourceDir/pigpio-VERSION, patched.
fetchSource() {
    local apt=(apt-get) where="the system's deb-src entries"
    mkdir -p "$work/get"
    if apt-cache showsrc pigpio 2>/dev/null | grep -q '^Package: pigpio$'; then
        echo "== pigpio: the system's apt has pigpio's source index"
    else
        # The private source list: each of the system's deb entries as a deb-src
        # entry, with its options (Signed-By and all) as they are.
        local list parts archives
        eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
        archives=$("$here/apt-deb-src.sh" "$list" "$parts" "$work") || exit 1
        where="deb-src of the system's entries ($archives)"
        forApt "$work/get"
        privateApt "$work/apt" "Dir::Etc::SourceList \"$work/sources.list\";" \
            "Dir::Etc::SourceParts \"$work/sources.list.d\";"
        apt=("${privateAptEnv[@]}" apt-get)
        echo "== pigpio: reading the source index from $where into $work/apt/lists"
        "${apt[@]}" update >"$work/apt.log" 2>&1 || true
    fi
    forApt "$work/get"
    echo "== pigpio: apt-get source pigpio"
    getSource() {
        (cd "$work/get" && "${apt[@]}" source pigpio >>"$work/apt.log" 2>&1)
    }
    # The system's index may be older than the archive and name a version it has
    # since dropped: then it is refreshed once, where this user may.
    if ! getSource && [ "${apt[0]}" = apt-get ] && [ "$(id -u)" -eq 0 ]; then
        echo "== pigpio: refreshing the system's package lists and trying again"
        apt-get update -qq >>"$work/apt.log" 2>&1 || true
        rm -rf "${work:?}/get/"*
        getSource || true
    fi
    if [ ! -f "$work"/get/pigpio_*.dsc ]; then
        local why
        why=$(grep -m1 -E '^(E|W): .*(Failed to fetch|Unable to|Could not|No source|not signed|Temporary failure)' "$work/apt.log" ||
            grep -m1 -E '^E: ' "$work/apt.log" || echo "apt-get source failed")
        fail "cannot get pigpio's source from $where: ${why#?: }"
    fi
    local unpacked
    unpacked=$(find "$work/get" -mindepth 1 -maxdepth 1 -type d -name 'pigpio-*')
    [ -f "$unpacked/pigpio.c" ] || fail "apt-get source pigpio unpacked no pigpio.c"
    echo "== pigpio: got $(basename "$work"/get/pigpio_*.dsc .dsc) with Debian's patches: $(paste -sd ' ' "$unpacked/debian/patches/series" 2>/dev/null || echo none)"
    rm -rf "${sourceDir:?}/${unpacked##*/}"
    mv "$unpacked" "$sourceDir/"
}

src=$(find "$sourceDir" -mindepth 1 -maxdepth 1 -type d -name 'pigpio-*' | sort -V | tail -n 1)
if [ -n "$src" ] && [ -f "$src/pigpio.c" ]; then
    echo "== pigpio: using the source in $src"
else
    fetchSource
    src=$(find "$sourceDir" -mindepth 1 -maxdepth 1 -type d -name 'pigpio-*' | sort -V | tail -n 1)
fi

# pigpio's Makefile: -O3 -Wall -pthread, -fpic objects, a shared library named by
# its soname.  Its warnings are pigpio's, not ours, so -Wall is left out.
build=$sourceDir/build-$arch
mkdir -p "$build"
if [ "$build/libpigpio.so.1" -nt "$src/pigpio.c" ] && [ "$build/libpigpio.so.1" -nt "$src/command.c" ] &&
    [ "$build/libpigpio.so.1" -nt "$src/pigpio.h" ]; then
    echo "== pigpio: $build/libpigpio.so.1 is up to date"
else
    for unit in pigpio command; do
        echo "== pigpio: $cc -O3 -pthread -fpic -c $unit.c"
        "$cc" -O3 -pthread -fpic -c -o "$build/$unit.o" "$src/$unit.c"
    done
    echo "== pigpio: $cc -shared -pthread -Wl,-soname,libpigpio.so.1 -o libpigpio.so.1 pigpio.o command.o"
    "$cc" -shared -pthread -Wl,-soname,libpigpio.so.1 -o "$build/libpigpio.so.1" "$build/pigpio.o" "$build/command.o"
fi
[ "$(elfKind "$build/libpigpio.so.1")" = "$want" ] ||
    fail "$cc built a library for '$(elfKind "$build/libpigpio.so.1")', not '$want'"

# Installing into a folder the user cannot write, such as /usr/local, takes root.
sudo=()
parent=$prefix
while [ ! -e "$parent" ]; do parent=$(dirname "$parent"); done
[ -w "$parent" ] || [ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "== pigpio: installing $prefix/lib/libpigpio.so.1, libpigpio.so and $prefix/include/pigpio.h"
"${sudo[@]}" install -d "$prefix/lib" "$prefix/include"
"${sudo[@]}" install -m 644 "$src/pigpio.h" "$prefix/include/pigpio.h"
"${sudo[@]}" install -m 755 "$build/libpigpio.so.1" "$prefix/lib/libpigpio.so.1"
"${sudo[@]}" ln -sfn libpigpio.so.1 "$prefix/lib/libpigpio.so"
if [ "$systemPrefix" = 1 ]; then
    echo "== pigpio: ldconfig"
    "${sudo[@]}" ldconfig
fi
