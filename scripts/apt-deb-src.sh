#!/usr/bin/env bash
# The deb-src entries for the archives and suites of a system's deb entries, for
# an apt that has no source index: what scripts/build-pigpio.sh hands a private apt.
#
# Usage: scripts/apt-deb-src.sh SOURCES_LIST SOURCE_PARTS OUT
#   SOURCES_LIST  the one-line list, e.g. /etc/apt/sources.list (it may be missing)
#   SOURCE_PARTS  the folder of *.list (one-line) and *.sources (deb822) files, e.g.
#                 /etc/apt/sources.list.d (it may be missing or empty)
#   OUT           gets sources.list and sources.list.d/ with a file for each file read
#                 that has an entry: each deb entry as a deb-src one, its options
#                 (Signed-By and all) as they are; deb-src entries as they are, once
#
# Prints the archives and suites, "URI SUITE...; URI SUITE...", and exits 0; or says
# which files it read and that none had a deb or deb-src entry, and exits 1.
# Reads nothing but those files: apt and the network are not involved.
set -euo pipefail
me="apt-deb-src.sh"
if [ $# -ne 3 ]; then
    echo "usage: $me SOURCES_LIST SOURCE_PARTS OUT" >&2
    exit 2
fi
list=$1
parts=$2
out=$3
mkdir -p "$out/sources.list.d"
: >"$out/sources.list"

# One-line entries: "deb" becomes "deb-src", each entry once; comments and other
# lines go.
oneLine() {
    sed -n -E 's/^[[:space:]]*deb(-src)?[[:space:]]+/deb-src /p' "$1" | awk '!seen[$0]++'
}

# deb822 stanzas: one whose Types include deb or deb-src becomes Types: deb-src; a
# stanza with Enabled: no, and comment lines, go.
stanzas() {
    awk 'BEGIN { RS = ""; FS = "\n" }
         {
             keep = 0; off = 0; text = ""
             for (i = 1; i <= NF; i++) {
                 line = $i
                 lower = tolower(line)
                 if (line ~ /^[[:space:]]*#/) continue
                 if (lower ~ /^enabled:[[:space:]]*no[[:space:]]*$/) off = 1
                 if (lower ~ /^types:/) {
                     if (line ~ /[:[:space:]]deb(-src)?([[:space:]]|$)/) keep = 1
                     line = "Types: deb-src"
                 }
                 text = text line "\n"
             }
             if (keep && !off) printf "%s%s", (printed++ ? "\n" : ""), text
         }' "$1"
}

read=()
if [ -f "$list" ]; then
    read+=("$list")
    oneLine "$list" >"$out/sources.list"
fi
for file in "$parts"/*.list "$parts"/*.sources; do
    [ -f "$file" ] || continue
    read+=("$file")
    target=$out/sources.list.d/${file##*/}
    case "$file" in
    *.list) oneLine "$file" >"$target" ;;
    *) stanzas "$file" >"$target" ;;
    esac
    [ -s "$target" ] || rm -f "$target"
done

# A one-line entry's archive and suite: what follows "deb-src" and its options.
archive() {
    sed -E 's/^deb-src[[:space:]]+(\[[^]]*\][[:space:]]*)?//' "$1" | awk '{ print $1, $2 }'
}

# Each entry's archive and suites, from both formats.
where=$(
    {
        archive "$out/sources.list"
        for file in "$out/sources.list.d"/*; do
            [ -f "$file" ] || continue
            case "$file" in
            *.list) archive "$file" ;;
            *) awk 'BEGIN { RS = ""; FS = "\n" }
                    {
                        uris = ""; suites = ""
                        for (i = 1; i <= NF; i++) {
                            if (tolower($i) ~ /^uris:/) { uris = $i; sub(/^[^:]*:[[:space:]]*/, "", uris) }
                            if (tolower($i) ~ /^suites:/) { suites = $i; sub(/^[^:]*:[[:space:]]*/, "", suites) }
                        }
                        print uris " " suites
                    }' "$file" ;;
            esac
        done
    } | awk 'NF { $1 = $1; print }' | paste -sd ';' | sed 's/;/; /g'
)
if [ -z "$where" ]; then
    if [ ${#read[@]} -eq 0 ]; then
        echo "$me: there is no $list and no *.list or *.sources file in $parts: apt has no entries here to take deb-src entries from" >&2
    else
        echo "$me: no deb or deb-src entry in ${read[*]} to take deb-src entries from" >&2
    fi
    exit 1
fi
echo "$where"
