# Sourced by the brenlow measurement scripts: a private simulated router root
# with its stand-ins, removed with the modem and the daemon on exit.
# Expects here, build and mode; sets root and cdma.
cdma=0; [ "$mode" = cdma ] && cdma=1
root=$(mktemp -d /tmp/brenlowsim.XXXXXX)
modem_pid=; daemon_pid=
cleanup() {
    [ -n "$daemon_pid" ] && kill "$daemon_pid" 2>/dev/null
    [ -n "$modem_pid" ] && kill "$modem_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$root"
}
trap cleanup EXIT INT TERM
sh "$here/../../sim/sandbox.sh" "$root" "$build/sim/bin/uci"
mkdir -p "$root/store"
# The modem simulator (further arguments go to it) and brenlow on it, both in
# the background; sets modem_pid and daemon_pid.
start_modem_and_brenlow() {
    export ROUTER_ROOT="$root" PATH="$root/stubbin:$PATH"
    "$build/sim/bin/modemsim" --mode "$mode" --device "$root/modem" --store "$root/store" "$@" >/dev/null 2>&1 &
    modem_pid=$!
    while [ ! -e "$root/modem" ]; do sleep 0.1; done
    "$build/bin/brenlow" "$root/modem" "$root/var/run/brenlow.pid" x 1 "$cdma" >/dev/null 2>&1 &
    daemon_pid=$!
}
