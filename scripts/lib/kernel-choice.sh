# shellcheck shell=bash
# Sourced, not run: which of Debian's kernels a VM stage takes, from the archive's
# package indexes alone.  The archive moves at every kernel update, one package
# at a time (a new linux-kbuild before its image is signed, an image whose kbuild
# has already gone), so no version is written down anywhere: the stage takes the
# newest kernel for which every package it needs exists at that one version.
# scripts/lib/kernel-vm.sh feeds it the indexes; tests/kernel-choice checks it on
# fixtures of the indexes.

# kernelIndexes: the Package, Version and Architecture of every linux-* package in
# the package indexes of the apt selected by vmApt (see kernel-vm.sh), as Packages
# stanzas.  The indexes are read whole (every version of a package, not only the
# candidate apt-cache would show); apt-helper undoes their compression.
kernelIndexes() {
    local file
    "${vmApt[@]}" apt-get indextargets --format '$(FILENAME)' 'Created-By: Packages' |
        while read -r file; do
            [ -f "$file" ] && /usr/lib/apt/apt-helper cat-file "$file"
        done |
        awk '/^Package: / { linux = $2 ~ /^linux-/; if (linux) print ""; }
             linux && /^(Package|Version|Architecture): / { print }'
}

# kernelChoose FLAVOUR [BUILD]
# Reads Packages stanzas on standard input and chooses the newest kernel of
# FLAVOUR (arm64, amd64) that can be had whole: its image, signed or else the
# -unsigned twin (the same kernel, not signed for Secure Boot), and with BUILD (the
# build machine's architecture) what building modules for it takes: its headers,
# the headers' common part, Debian's source of it and the kernel build tools for
# BUILD, all of the image's version.  Prints
#   passed VERSION IMAGE: no PACKAGE...     for each newer kernel not whole
#   unsigned IMAGE VERSION                  where the signed image is not there
#   chose VERSION IMAGE RELEASE             RELEASE as uname -r gives it
#   fetch PACKAGE:ARCH=VERSION...           what apt-get download is to be asked
# and returns 0; or, where no kernel is whole, the passed lines and
#   none: WHY
# and returns 1.
kernelChoose() {
    local flavour=$1 build=${2:-} package version arch
    local -A have=()
    local -a versions=()
    while read -r package version arch; do
        have["$package:$arch=$version"]=1
        if [[ $package =~ ^linux-image-[0-9]+\.[0-9]+\.[0-9]+-[0-9]+-$flavour(-unsigned)?$ ]] &&
            [ "$arch" = "$flavour" ]; then
            versions+=("$version ${package%-unsigned}")
        fi
    done < <(awk '/^Package: / { p = $2 } /^Version: / { v = $2 }
                  /^Architecture: / { a = $2 }
                  /^$/ { if (p != "") print p, v, a; p = "" }
                  END { if (p != "") print p, v, a }')
    local -a sorted=()
    local entry i
    # Newest first, by Debian's ordering of versions (sort -V is not it: 1.0~rc1 is
    # older than 1.0).  The lists are a few dozen long.
    for entry in $(printf '%s\n' "${versions[@]}" | sort -u | tr ' ' '|'); do
        entry=${entry/|/ }
        for ((i = ${#sorted[@]}; i > 0; i--)); do
            dpkg --compare-versions "${entry%% *}" gt "${sorted[i - 1]%% *}" || break
            sorted[i]=${sorted[i - 1]}
        done
        sorted[i]=$entry
    done
    local image release abi series want missing
    for entry in "${sorted[@]}"; do
        version=${entry%% *}
        image=${entry#* }
        release=${image#linux-image-}
        abi=${release%-"$flavour"}
        series=$(sed -E 's/^([0-9]+\.[0-9]+)\..*/\1/' <<<"$abi")
        local -a fetch=() absent=()
        if [ -n "${have["$image:$flavour=$version"]:-}" ]; then
            fetch+=("$image:$flavour=$version")
        elif [ -n "${have["$image-unsigned:$flavour=$version"]:-}" ]; then
            fetch+=("$image-unsigned:$flavour=$version")
        else
            absent+=("$image:$flavour")
        fi
        if [ -n "$build" ]; then
            for want in "linux-headers-$release:$flavour" "linux-headers-$abi-common:all" \
                "linux-source-$series:all" "linux-kbuild-$series:$build"; do
                if [ -n "${have["$want=$version"]:-}" ]; then
                    fetch+=("$want=$version")
                else
                    absent+=("$want")
                fi
            done
        fi
        if [ ${#absent[@]} -gt 0 ]; then
            echo "passed $version $image: no ${absent[*]}"
            continue
        fi
        [[ ${fetch[0]} != *-unsigned:* ]] || echo "unsigned $image $version"
        echo "chose $version $image $release"
        echo "fetch ${fetch[*]}"
        return 0
    done
    if [ ${#sorted[@]} -eq 0 ]; then
        echo "none: the indexes have no $flavour kernel image (linux-image-VERSION-$flavour)"
    else
        echo "none: no $flavour kernel in the indexes has every package it needs"
    fi
    return 1
}
