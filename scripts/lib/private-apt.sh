# shellcheck shell=bash
# Sourced, not run: an apt of its own, for package lists the system's apt must not
# get (a deb-src index, another architecture's).  Used by scripts/build-pigpio.sh
# and scripts/test-gpio-ir-tx-vm.sh.

# privateApt DIR [SETTING...]
# Points apt at package lists and a cache in DIR; the system's settings and sources
# apply otherwise, and each SETTING (apt.conf syntax, e.g. 'APT::Architecture
# "arm64";') is added last.  apt's hooks after an update are cleared: they would
# act on the system's own index.  Sets privateAptEnv, the command prefix that
# selects this apt: "${privateAptEnv[@]}" apt-get update.  The system's apt
# configuration and index stay as they were.
privateApt() {
    local dir=$1 main
    shift
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
    # apt reads APT_CONFIG first, then its parts and, last, Dir::Etc::main: so the
    # system's settings (a proxy, say) still apply, and these come after them.
    {
        [ -z "${APT_CONFIG:-}" ] || echo "#include \"$APT_CONFIG\";"
        echo "Dir::Etc::main \"$dir/main.conf\";"
    } >"$dir/apt.conf"
    eval "$(apt-config shell main Dir::Etc::main/f)"
    {
        [ ! -f "$main" ] || echo "#include \"$main\";"
        echo '#clear APT::Update::Pre-Invoke;'
        echo '#clear APT::Update::Post-Invoke;'
        echo '#clear APT::Update::Post-Invoke-Success;'
        echo "Dir::State::Lists \"$dir/lists\";"
        echo "Dir::Cache \"$dir/cache\";"
        printf '%s\n' "$@"
    } >"$dir/main.conf"
    # Run as root, apt downloads as the unprivileged _apt.
    if [ "$(id -u)" -eq 0 ] && getent passwd _apt >/dev/null; then
        chown _apt "$dir/lists/partial" "$dir/cache/archives/partial"
    fi
    privateAptEnv=(env "APT_CONFIG=$dir/apt.conf")
}
