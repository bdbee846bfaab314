#!/usr/bin/env bash
# Builds the five daemons and runs them on a simulated router until Ctrl-C:
# brenlow on the modem simulator, moskar counting an interface, quorral fed by
# an NMEA replay and forwarding to a local TCP server, dastral between two
# pseudo-terminals, and (as root) tolvane in two network namespaces.
# RUN_SECONDS=N stops it by itself after N seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
if [ "$(id -u)" = 0 ]; then bash sim/install-deps.sh; fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
bin=$top/build/bin
sim=$top/build/sim/bin

root=$(mktemp -d /tmp/router.XXXXXX)
bash sim/sandbox.sh "$root" "$sim/uci"
export ROUTER_ROOT=$root
export PATH=$root/stubbin:$PATH
[ "$(command -v reboot)" = "$root/stubbin/reboot" ] || { echo "reboot is not the stub; stopping" >&2; exit 1; }
uci() { "$sim/uci" "$@"; }

ns_a=rtsim$$a
ns_b=rtsim$$b
pids=()
cleanup() {
    trap - INT TERM EXIT
    [ -z "$sleeper" ] || kill "$sleeper" 2>/dev/null || true
    # Each helper runs in a process group of its own: signal the whole group.
    for pid in "${pids[@]}"; do kill -INT -- "-$pid" 2>/dev/null || true; done
    sleep 1
    for pid in "${pids[@]}"; do kill -KILL -- "-$pid" 2>/dev/null || true; done
    ip netns del "$ns_a" 2>/dev/null || true
    ip netns del "$ns_b" 2>/dev/null || true
    wait 2>/dev/null || true
    echo
    echo "Stopped. The router root stays for a look: $root"
}
trap cleanup INT TERM EXIT
# A sleep the trap can cut short: bash runs traps only between commands.
sleeper=
pause() {
    sleep "$1" &
    sleeper=$!
    wait $sleeper
}
bg() {
    setsid "$@" &
    pids+=($!)
    disown $!
}
# Shows a file's new lines as they come, each with a tag.
watch() { bg bash -c 'tail -n0 -F "$2" 2>/dev/null | while IFS= read -r l; do printf "%-10s %s\n" "$1" "$l"; done' _ "$1" "$2"; }

# --- configuration: the packaged defaults, then what this demo changes
for p in sms moskar quorral dastral; do cp "openwrt/files/$p.config" "$root/etc/config/$p"; done
printf "config system\n\toption hostname 'SimRouter'\nconfig version 'version'\n\toption sn 'SIM0001'\n" > "$root/etc/config/system"
printf "config dev_info 'dev_info1'\n\toption strength '-70'\n" > "$root/etc/config/mobile"
owner=13912345678
echo "1,1,$owner" > "$root/var/run/phonenum"
uci set sms.general.debug=5
uci set moskar.traffic.enabled=1
uci set moskar.traffic.period=day
uci set moskar.traffic.datamax=1
uci set moskar.traffic.phone=$owner
gps_port=$((20000 + $$ % 20000))
uci set quorral.general.enabled=1
uci set quorral.general.proto=0
uci set quorral.general.serverip=127.0.0.1
uci set quorral.general.serverport=$gps_port
uci set quorral.general.sendsn=1
uci set quorral.general.debug=3
uci set dastral.general.enabled=1
uci commit
printf 'Operator: SimNet, LTE, -70 dBm\n' > "$root/answers/cell.sh_1"

mkdir -p "$root/dev" "$root/simstore"
: > "$root/simstore/sent.log"
: > "$root/gps-server.log"
: > "$root/bridge-module.log"

echo "Simulated router root: $root"
echo "  SMS the phone received:  $root/simstore/sent.log"
echo "  platform script calls:   $root/calls.log"
echo "  logs:                    $root/tmp/modemlog.log $root/var/log/mk.log $root/tmp/gps.log $root/tmp/myLog1.log"
echo
watch "[phone]" "$root/simstore/sent.log"
watch "[record]" "$root/etc/config/sms_record"
watch "[platform]" "$root/calls.log"
watch "[spool]" "$root/tmp/sms_tosend"
watch "[gps-srv]" "$root/gps-server.log"
watch "[bridge]" "$root/bridge-module.log"

# --- SMS: the modem simulator and brenlow
bg "$sim/modemsim" --mode gsm --device "$root/dev/ttyUSB2" --store "$root/simstore" --log "$root/modem.log" >/dev/null
for _ in $(seq 100); do [ -e "$root/dev/ttyUSB2" ] && break; sleep 0.05; done
bg "$bin/brenlow" "$root/dev/ttyUSB2" "$root/var/run/brenlow.pid" x 1 0 2>/dev/null

# --- traffic: moskar on loopback, whose counters alone pass a 1 MB allowance
bg "$bin/moskar" lo "$root/var/run/moskar.pid" 1

# --- GPS: NMEA replay on a pseudo-terminal, quorral, and a TCP server
bg socat -u "TCP-LISTEN:$gps_port,bind=127.0.0.1,reuseaddr,fork" "OPEN:$root/gps-server.log,append"
bg "$sim/nmea_feeder" "$root/dev/ttyGPS" "$top/sim/nmea/sample.nmea" 2000 >/dev/null
for _ in $(seq 100); do [ -e "$root/dev/ttyGPS" ] && break; sleep 0.05; done
bg "$bin/quorral" "$root/dev/ttyGPS" "$root/var/run/quorral.pid" 2>/dev/null

# --- serial bridge: two pseudo-terminal pairs stand for the board port and the module
bg socat -d "PTY,link=$root/dev/ttyS0,raw,echo=0" "PTY,link=$root/dev/board-side,raw,echo=0"
bg socat -d "PTY,link=$root/dev/ttyModule,raw,echo=0" "PTY,link=$root/dev/module-side,raw,echo=0"
for _ in $(seq 100); do [ -e "$root/dev/module-side" ] && [ -e "$root/dev/board-side" ] && break; sleep 0.05; done
bg bash -c 'cat "$1" >> "$2" 2>/dev/null' _ "$root/dev/module-side" "$root/bridge-module.log"
bg "$bin/dastral" "$root/dev/ttyModule" "$root/var/run/dastral.pid" 2>/dev/null

# --- tunnel watchdog: two hosts in namespaces, as root only
tunnel=0
if [ "$(id -u)" = 0 ] && ip netns add "$ns_a" 2>/dev/null; then
    ip netns add "$ns_b"
    ip link add "vr$$a" netns "$ns_a" type veth peer name "vr$$b" netns "$ns_b"
    ip -n "$ns_a" addr add 10.211.0.1/24 dev "vr$$a"; ip -n "$ns_a" link set "vr$$a" up; ip -n "$ns_a" link set lo up
    ip -n "$ns_b" addr add 10.211.0.2/24 dev "vr$$b"; ip -n "$ns_b" link set "vr$$b" up; ip -n "$ns_b" link set lo up
    bg ip netns exec "$ns_b" "$bin/tolvane" remote 10.211.0.1 local 10.211.0.2 dev "vr$$b" gname gre-b mode receive timeout 5 2>"$root/tolvane-receive.log"
    bg ip netns exec "$ns_a" "$bin/tolvane" remote 10.211.0.2 local 10.211.0.1 dev "vr$$a" gname gre-a mode send seconds 2 retry 3 2>"$root/tolvane-send.log"
    tunnel=1
else
    echo "(tolvane needs root for its namespaces: not started)"
fi

# --- what a person would do: text a command, type into the bridge
pause 3
echo "[demo]     $owner texts \"cellstatus\" to the router"
"$sim/modemsim" inject --mode gsm --store "$root/simstore" --from "$owner" --text cellstatus >/dev/null
echo "[demo]     typing \"AT+VER?\" into the board's serial port"
printf 'AT+VER?\n' > "$root/dev/board-side"

if [ "$tunnel" = 1 ]; then
    pause 4
    echo "[demo]     cutting the tunnel's link (tolvane sends every 2 s, gives up after 3; the receiver judges every 5 s)"
    ip -n "$ns_a" link set "vr$$a" down
    pause 12
    echo "[demo]     restoring the tunnel's link"
    ip -n "$ns_a" link set "vr$$a" up
fi

if [ -n "${RUN_SECONDS:-}" ]; then
    pause "$RUN_SECONDS"
else
    echo "[demo]     running; Ctrl-C stops every daemon"
    while :; do pause 3600; done
fi
