#!/usr/bin/env bash
# Processes each daemon starts from its exec to its first loop pass (reading
# its settings, the platform scripts of its start), on a simulated router with
# the shipped default configuration. A benchmark, not a test: prints a table.
# Usage: bench/start_processes.sh [BIN_DIR]   (default build/bin; needs strace
# and the simulators of build/sim/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
bin=$(realpath "${1:-build/bin}")
sim=$top/build/sim/bin
command -v strace >/dev/null || { echo "start_processes.sh needs strace" >&2; exit 1; }
work=$(mktemp -d /tmp/startprocs.XXXXXX)
helpers=()
cleanup() {
    for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Distinct processes that ran a program, other than the daemon itself, up to
# the first program whose execve line matches the loop's marker.
count() { # TRACE MARKER
    awk -v marker="$2" '
        /execve\(/ { if (!self) self = $1; if (marker != "" && $0 ~ marker) exit; if ($1 != self) seen[$1] = 1 }
        END { n = 0; for (p in seen) n++; print n }' "$1"
}

# DAEMON SECONDS MARKER ARGS...: runs the daemon under strace for SECONDS in
# its own router root.
measure() {
    local name=$1 seconds=$2 marker=$3 root=$work/$1
    shift 3
    # strace started the daemon, so the daemon ends with it.
    ROUTER_ROOT=$root PATH="$root/stubbin:$PATH" timeout -s KILL "$seconds" \
        strace -f -qq -e trace=execve -o "$work/$name.trace" "$bin/$name" "$@" >/dev/null 2>&1 &
    wait $! 2>/dev/null || true
    printf '%-8s %3s\n' "$name" "$(count "$work/$name.trace" "$marker")"
}

for d in brenlow moskar quorral dastral; do
    bash sim/sandbox.sh "$work/$d" "$sim/uci"
    mkdir -p "$work/$d/dev"
done
cp openwrt/files/sms.config "$work/brenlow/etc/config/sms"
printf "config dev_info 'dev_info1'\n\toption strength '20'\n" > "$work/brenlow/etc/config/mobile"
cp openwrt/files/moskar.config "$work/moskar/etc/config/moskar"
printf "config system\n\toption hostname 'Router'\n" > "$work/moskar/etc/config/system"
cp openwrt/files/quorral.config "$work/quorral/etc/config/quorral"
sed -i "s/'192.168.1.10'/'127.0.0.1'/" "$work/quorral/etc/config/quorral"
cp openwrt/files/dastral.config "$work/dastral/etc/config/dastral"

"$sim/modemsim" --mode gsm --device "$work/brenlow/dev/modem" --store "$work/brenlow/simstore" >/dev/null 2>&1 &
helpers+=($!)
"$sim/nmea_feeder" "$work/quorral/dev/gps" sim/nmea/sample.nmea 200 >/dev/null 2>&1 &
helpers+=($!)
socat PTY,link="$work/dastral/dev/module",raw,echo=0 PTY,link="$work/dastral/dev/module-side",raw,echo=0 &
helpers+=($!)
socat PTY,link="$work/dastral/dev/board",raw,echo=0 PTY,link="$work/dastral/dev/board-side",raw,echo=0 &
helpers+=($!)
sleep 1

echo "processes started from exec to the first loop pass"
# brenlow's first pass reads the modem's store through gcom; moskar's first
# cycle ends in a uci batch; quorral and dastral start nothing in their loops.
measure brenlow 20 'gcom' "$work/brenlow/dev/modem" "$work/brenlow/var/run/brenlow.pid" 0 1 0
measure moskar 6 '"batch"' lo "$work/moskar/var/run/moskar1.pid" 1
measure quorral 4 '' "$work/quorral/dev/gps" "$work/quorral/var/run/quorral.pid"
measure dastral 4 '' "$work/dastral/dev/module" "$work/dastral/var/run/dastral.pid" "$work/dastral/dev/board"
