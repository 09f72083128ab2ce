#!/usr/bin/env bash
# The suite as the users of one machine run it: root first, then a second user who
# was never root, then both at the same time, each in a clone of their own, with
# nothing but the system's /tmp for temporary files.  Every run must pass, and none
# may leave anything in /tmp, /var/tmp or /dev/shm, nor write outside its clone.
#
# Usage: scripts/test-users.sh [USER]   (as root; USER, default beamtest, is made
#   with a home of its own if there is none, and is made a member of USER-extra)
# Root's clone is this one (build/, as scripts/test.sh makes it); the user's is a
# clone of this repository's HEAD in the user's home, built there as the user (a
# clone left by an earlier run is brought to HEAD and keeps its build).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
me="scripts/test-users.sh"
user=${1:-beamtest}

if [ "$(id -u)" -ne 0 ]; then
    echo "$me: needs root: it makes a second user and runs the suite as both" >&2
    exit 1
fi
scripts/setup.sh test

# A member of a group beside its own, for the test of a run under sudo that reads a
# file of that group.
if ! getent group "$user-extra" >/dev/null; then
    groupadd "$user-extra"
fi
if ! id "$user" >/dev/null 2>&1; then
    useradd --create-home --user-group --groups "$user-extra" --shell /bin/bash "$user"
    echo "== made user $user: $(id "$user")"
elif ! id -nG "$user" | grep -qw "$user-extra"; then
    usermod --append --groups "$user-extra" "$user"
fi
home=$(getent passwd "$user" | cut -d: -f6)
if [ ! -d "$home" ]; then
    echo "$me: $user has no home folder ($home) to clone into" >&2
    exit 1
fi
clone=$home/beam-clone

# As the user, with a login's environment and nothing of root's (no TMPDIR).
asUser() {
    runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" LANG=C.UTF-8 \
        PATH=/usr/local/bin:/usr/bin:/bin bash -c "cd '$clone' && $1"
}

# What is in the shared temporary folders.
temporaries() {
    find /tmp /var/tmp /dev/shm -mindepth 1 -maxdepth 1 2>/dev/null | sort
}
before=$(temporaries)
marker=$(mktemp -d "$top/build/users-marker.XXXXXX" 2>/dev/null || mktemp -d)
trap 'rm -rf "$marker"' EXIT

echo "== root's build, in $top/build"
cmake --preset test >/dev/null
cmake --build build -j "$(nproc)" >/dev/null

echo "== $user's clone of HEAD ($(git rev-parse --short HEAD)), in $clone"
# A clone from an earlier run is brought to HEAD and keeps its build; --no-local:
# no object shared with this repository, whose owner stays root.
if [ -d "$clone/.git" ]; then
    git -c safe.directory="$clone" -C "$clone" fetch --quiet --no-tags "$top" HEAD
    git -c safe.directory="$clone" -C "$clone" checkout --quiet --force --detach FETCH_HEAD
else
    rm -rf "$clone"
    git clone --quiet --no-local "$top" "$clone"
fi
chown -R "$user:" "$clone"
start=$SECONDS
asUser 'cmake --preset test >/dev/null && cmake --build build -j "$(nproc)" >/dev/null'
echo "== built as $user in $((SECONDS - start)) s"

failed=()
# A run's closing ctest line, or its failures.
summary() {
    local log=$1 what=$2 status=$3
    echo "   $what: $(grep -E 'tests passed' "$log" || echo 'no summary'), exit status $status"
    if [ "$status" -ne 0 ]; then
        sed -n '/The following tests FAILED/,$p' "$log" | sed 's/^/   /'
        failed+=("$what")
    fi
}
logs=$marker
status=0

echo "== 1. root, in its clone"
ctest --test-dir build -j 2 >"$logs/root1.log" 2>&1 || status=$?
summary "$logs/root1.log" "root" "$status"

echo "== 2. $user, after root, in its clone"
status=0
asUser 'ctest --test-dir build -j 2' >"$logs/user2.log" 2>&1 || status=$?
summary "$logs/user2.log" "$user after root" "$status"

echo "== 3. root and $user at the same time, each in its clone"
rootStatus=0
userStatus=0
ctest --test-dir build -j 2 >"$logs/root3.log" 2>&1 &
rootRun=$!
asUser 'ctest --test-dir build -j 2' >"$logs/user3.log" 2>&1 &
userRun=$!
wait "$rootRun" || rootStatus=$?
wait "$userRun" || userStatus=$?
summary "$logs/root3.log" "root, alongside $user" "$rootStatus"
summary "$logs/user3.log" "$user, alongside root" "$userStatus"

echo "== what the runs left behind"
# What is there now and was not before, and still there a moment later: the
# temporary file of a compiler that was at work at that moment is not left behind.
left=$(comm -13 <(echo "$before") <(temporaries))
if [ -n "$left" ]; then
    sleep 2
    left=$(comm -12 <(echo "$left") <(temporaries))
fi
if [ -n "$left" ]; then
    echo "   new in /tmp, /var/tmp, /dev/shm:"
    while read -r path; do
        echo "     $(stat -c '%U %F' "$path"): $path"
    done <<<"$left"
    failed+=("temporary files")
fi
# The user's files anywhere but in its clone: what its tests wrote elsewhere.
elsewhere=$(find / -xdev \( -path "$clone" -o -path /proc \) -prune -o -user "$user" \
    -newer "$marker" -print 2>/dev/null | grep -v -x -F "$home" || true)
if [ -n "$elsewhere" ]; then
    echo "   $user's files outside $clone:"
    sed 's/^/     /' <<<"$elsewhere"
    failed+=("$user's files elsewhere")
fi
[ -n "$left$elsewhere" ] || echo "   nothing"

if [ ${#failed[@]} -gt 0 ]; then
    echo "users check: FAIL: $(printf '%s; ' "${failed[@]}")"
    exit 1
fi
echo "users check: PASS: the suite as root, as $user after root, and both at once"
