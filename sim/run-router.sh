#!/usr/bin/env bash
# The five daemons on a simulated router, with a short scripted story:
# brenlow on the modem simulator, moskar counting an interface, quorral fed by
# an NMEA replay and forwarding to a local TCP server, dastral between two
# pseudo-terminals, and (as root) tolvane in two network namespaces.
#
#   sim/run-router.sh                    start the demo; Ctrl-C stops every daemon
#   sim/run-router.sh restart DAEMON     restart one daemon of the running demo
#                                        (brenlow, moskar, quorral, dastral, tolvane)
#   sim/run-router.sh send-sms NUMBER TEXT   text the router from a simulated phone
#   sim/run-router.sh uci ARGS...        the uci stand-in on the running demo's root
#
# RUN_SECONDS=N stops the demo by itself after N seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
bin=$top/build/bin
sim=$top/build/sim/bin
# Where a running demo says which router root it runs on, for the control commands.
current=${TMPDIR:-/tmp}/router-demo.current
daemons=(brenlow moskar quorral dastral tolvane)

# ---------- control commands for a running demo

running_root() {
    local root pid
    [ -f "$current" ] || { echo "no demo is running (start one with: bash sim/run-router.sh)" >&2; exit 1; }
    read -r root pid < "$current"
    kill -0 "$pid" 2>/dev/null || { echo "the demo that used $root has ended" >&2; exit 1; }
    echo "$root"
}

# Stops a daemon's process group and waits for it to go.
stop_daemon() {
    local root=$1 name=$2 pid signal=TERM
    [ -f "$root/demo/$name.pid" ] || return 0
    pid=$(cat "$root/demo/$name.pid")
    # tolvane stops cleanly on SIGINT (registry line, closing log line).
    [ "$name" != tolvane ] || signal=INT
    kill "-$signal" -- "-$pid" 2>/dev/null || true
    for _ in $(seq 40); do kill -0 -- "-$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$pid" 2>/dev/null || true
    rm -f "$root/demo/$name.pid"
}

# Starts NAME from the command line kept in ROOT/demo/NAME.cmd, in a process
# group of its own, with the sandbox's environment.
start_daemon() {
    local root=$1 name=$2
    (
        # shellcheck disable=SC1090,SC1091
        . "$root/demo/env"
        exec setsid bash -c 'echo $$ > "$1"; shift; . "$0"' "$root/demo/$name.cmd" "$root/demo/$name.pid" \
            >>"$root/demo/$name.out" 2>&1 </dev/null
    ) &
    disown $! 2>/dev/null || true
    for _ in $(seq 50); do [ -s "$root/demo/$name.pid" ] && break; sleep 0.05; done
}

case "${1:-}" in
restart)
    name=${2:-}
    root=$(running_root)
    [ -f "$root/demo/$name.cmd" ] || { echo "usage: $0 restart {$(IFS='|'; echo "${daemons[*]}")}" >&2; exit 2; }
    stop_daemon "$root" "$name"
    start_daemon "$root" "$name"
    echo "restarted $name (pid $(cat "$root/demo/$name.pid")) on $root; Ctrl-C in the demo still stops it"
    exit 0 ;;
send-sms)
    [ $# -ge 3 ] || { echo "usage: $0 send-sms NUMBER TEXT" >&2; exit 2; }
    root=$(running_root)
    slot=$("$sim/modemsim" inject --mode gsm --store "$root/simstore" --from "$2" --text "$3")
    echo "message from $2 stored in the SIM at index $slot; brenlow reads the store every 5 s"
    exit 0 ;;
uci)
    root=$(running_root)
    shift
    ROUTER_ROOT=$root exec "$sim/uci" "$@" ;;
"") ;;
*)
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2 ;;
esac

# ---------- the demo

if [ "$(id -u)" = 0 ]; then bash sim/install-deps.sh >/dev/null; fi
start_ns=$(date +%s%N)
# Seconds since the demo started, as +M:SS; every line of the demo uses it.
since() { local ms=$(( ($(date +%s%N) - start_ns) / 1000000 )); printf '+%d:%02d' $((ms / 60000)) $((ms / 1000 % 60)); }
say() { printf '%s %-9s %s\n' "$(since)" "$1" "$2"; }

echo "building the daemons and the simulators ..."
mkdir -p build
build_log=$top/build/demo-build.log
cmake -S . -B build -DCMAKE_BUILD_TYPE=MinSizeRel >"$build_log" 2>&1 ||
    { tail -20 "$build_log"; exit 1; }
# Only what the demo runs: the tests are built by tests/run.sh.
if ! cmake --build build -j"$(nproc)" --target brenlow tolvane moskar quorral dastral \
        modemsim gcom uci nmea_feeder pdutool 2>&1 | tee -a "$build_log" |
        { n=0; spin='|/-\'; while IFS= read -r line; do
            case $line in *"Building CXX object"*|*"Linking CXX"*) n=$((n + 1))
                printf '\r  %s %d files compiled or linked' "${spin:n%4:1}" "$n" ;; esac
        done; }; then
    echo; tail -20 "$build_log"; exit 1
fi
[ -x "$bin/brenlow" ] && [ -x "$sim/modemsim" ] || { echo; tail -20 "$build_log"; exit 1; }
printf '\r  built in %ss (log: %s)          \n' $(( ($(date +%s%N) - start_ns) / 1000000000 )) "$build_log"
start_ns=$(date +%s%N)

root=$(mktemp -d /tmp/router.XXXXXX)
bash sim/sandbox.sh "$root" "$sim/uci"
mkdir -p "$root/demo" "$root/dev" "$root/simstore"
export ROUTER_ROOT=$root
export PATH=$root/stubbin:$PATH
[ "$(command -v reboot)" = "$root/stubbin/reboot" ] || { echo "reboot is not the stub; stopping" >&2; exit 1; }
printf 'export ROUTER_ROOT=%q\nexport PATH=%q\n' "$ROUTER_ROOT" "$PATH" > "$root/demo/env"
uci() { "$sim/uci" "$@"; }

ns_a=rtsim$$a
ns_b=rtsim$$b
helpers=()
sleeper=
cleanup() {
    trap - INT TERM EXIT
    # Clean-up goes to its end whatever one step returns.
    set +e
    [ -z "$sleeper" ] || kill "$sleeper" 2>/dev/null || true
    echo
    [ ! -f "$root/demo/tolvane.pid" ] ||
        say "[demo]" "stopping; tolvane runs its down script as part of its own stop"
    # Daemons first (also those restarted by hand), then the simulators and watchers.
    for name in "${daemons[@]}"; do stop_daemon "$root" "$name"; done
    for pid in "${helpers[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || true; done
    sleep 0.5
    for pid in "${helpers[@]}"; do kill -KILL -- "-$pid" 2>/dev/null || true; done
    ip netns del "$ns_a" 2>/dev/null || true
    ip netns del "$ns_b" 2>/dev/null || true
    rm -f "$current"
    wait 2>/dev/null || true
    echo "Stopped. The router root stays for a look: $root"
}
trap cleanup INT TERM EXIT
echo "$root $$" > "$current"
# A sleep the trap can cut short: bash runs traps only between commands.
pause() {
    sleep "$1" &
    sleeper=$!
    wait $sleeper
}
helper() {
    setsid "$@" &
    helpers+=($!)
    disown $!
}
# Keeps NAME's command line so that `restart NAME` can run it again, then starts it.
daemon() {
    local name=$1
    shift
    printf '%q ' "$@" > "$root/demo/$name.cmd"
    echo >> "$root/demo/$name.cmd"
    start_daemon "$root" "$name"
}
# Texts in quotes with control characters shown as \n, \r, \t or \xNN, the same everywhere.
visible() {
    perl -pe 's/\r/\\r/g; s/\t/\\t/g; s/([\x00-\x08\x0b-\x1f\x7f])/sprintf("\\x%02X", ord $1)/ge; s/\n(?!$)/\\n/g'
}
# Follows a file from its end, one line at a time, into the handler function named.
follow() { helper bash -c 'tail -n0 -F "$1" 2>/dev/null' _ "$1" > >(while IFS= read -r l; do "$2" "$l"; done); }

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
: > "$root/simstore/sent.log"
: > "$root/gps-server.log"
: > "$root/bridge-module.log"

cat <<EOF
Simulated router root: $root
  SMS the phone received:  $root/simstore/sent.log
  platform script calls:   $root/calls.log
  GPS stream at the server: $root/gps-server.log
  logs: $root/tmp/modemlog.log $root/var/log/mk.log $root/tmp/gps.log $root/tmp/myLog1.log
Times are since the demo started; texts are in quotes, control characters shown as \n, \r, \xNN.
In another terminal: bash sim/run-router.sh restart DAEMON | send-sms NUMBER TEXT | uci ARGS...

EOF

# --- what the watchers make of each file
sms_step=0
on_phone() {
    local number=${1%%$'\t'*} text=${1#*$'\t'}
    # The simulator writes the newline of a text as \n already.
    if [ "$text" = "Operator: SimNet, LTE, -70 dBm" ] && [ "$sms_step" -lt 3 ]; then
        sms_step=3
        say "[sms 3/3]" "reply on the phone $number: \"$text\""
    else
        say "[phone]" "$number got \"$text\""
    fi
}
on_record() {
    case $1 in
    "Received SMS"*)
        say "[sms 2/3]" "the router read it (next 5-s pass) and wrote its journal: $(printf '%s' "$1" | visible)"
        say "" "  the reply takes about 20 s: brenlow sets the modem up again, waits 5 s after AT+CMGS, then 15 s"
        say "" "  for the answer to the PDU: the phone has the reply early in that window, the journal at its end"
        if [ ! -f "$root/demo/moskar.pid" ]; then
            say "[traffic]" "starting moskar now: its 1 MB allowance on loopback is passed at once, so an alarm SMS follows the reply"
            daemon moskar "$bin/moskar" lo "$root/var/run/moskar.pid" 1
        fi ;;
    "Sent SMS"*) say "[journal]" "$(printf '%s' "$1" | visible)" ;;
    *) say "[journal]" "$(printf '%s' "$1" | visible) (the journal line of a text that ended in a newline)" ;;
    esac
}
on_spool() { say "[spool]" "queued for brenlow: \"$(printf '%s' "$1" | visible)\""; }
on_platform() {
    local args=${1#* }
    case $args in
    */skellan\ *) say "[tunnel]" "${args#*skellan } (the watchdog's up/down script)" ;;
    *ostrel.sh\ *)
        # The signal-strength refresh comes every 20 s: explained once, then kept short.
        if [ -z "${ostrel_told:-}" ]; then
            ostrel_told=1
            say "[platform]" "$args (brenlow refreshes the signal strength every 20 s)"
        else
            say "[platform]" "$args"
        fi ;;
    *) say "[platform]" "$args" ;;
    esac
}
on_bridge() { say "[bridge]" "the module received \"$1\""; }
follow "$root/simstore/sent.log" on_phone
follow "$root/etc/config/sms_record" on_record
follow "$root/calls.log" on_platform
follow "$root/tmp/sms_tosend" on_spool
# The bridge's bytes as they come: its lines end in \n\r, so reading lines would cut them.
helper bash -c 'tail -c +1 -F "$1" 2>/dev/null | perl -e "\$| = 1; while (sysread(STDIN, \$b, 4096)) {
    \$b =~ s/\\r/\\\\r/g; \$b =~ s/\\n/\\\\n/g; \$b =~ s/([\\x00-\\x1f\\x7f])/sprintf(q(\\\\x%02X), ord \$1)/ge; print \"\$b\\n\" }"' \
    _ "$root/bridge-module.log" > >(while IFS= read -r l; do on_bridge "$l"; done)
# GPS: one line per 10 s with the count and the last sentence; the whole stream stays in the file.
helper bash -c 'seen=0; while sleep 10; do
    now=$(grep -c "\$GP" "$1" 2>/dev/null || true)
    last=$(grep -ao "\$GP[A-Z]*,[^$]*" "$1" 2>/dev/null | tail -n1 | tr -d "\r\n" | cut -c1-60)
    printf "%s\t%s\t%s\n" "$((now - seen))" "$now" "$last"; seen=$now; done' _ "$root/gps-server.log" \
    > >(while IFS=$'\t' read -r new total last; do
            say "[gps]" "server got $new sentences in 10 s ($total in all), last \"$last...\""
        done)

# --- SMS: the modem simulator and brenlow
helper "$sim/modemsim" --mode gsm --device "$root/dev/ttyUSB2" --store "$root/simstore" --log "$root/modem.log" >/dev/null
for _ in $(seq 100); do [ -e "$root/dev/ttyUSB2" ] && break; sleep 0.05; done
daemon brenlow "$bin/brenlow" "$root/dev/ttyUSB2" "$root/var/run/brenlow.pid" x 1 0

# --- GPS: NMEA replay on a pseudo-terminal, quorral, and a TCP server
helper socat -u "TCP-LISTEN:$gps_port,bind=127.0.0.1,reuseaddr,fork" "OPEN:$root/gps-server.log,append"
helper "$sim/nmea_feeder" "$root/dev/ttyGPS" "$top/sim/nmea/sample.nmea" 2000 >/dev/null
for _ in $(seq 100); do [ -e "$root/dev/ttyGPS" ] && break; sleep 0.05; done
daemon quorral "$bin/quorral" "$root/dev/ttyGPS" "$root/var/run/quorral.pid"

# --- serial bridge: two pseudo-terminal pairs stand for the board port and the module
helper socat -d "PTY,link=$root/dev/ttyS0,raw,echo=0" "PTY,link=$root/dev/board-side,raw,echo=0" 2>/dev/null
helper socat -d "PTY,link=$root/dev/ttyModule,raw,echo=0" "PTY,link=$root/dev/module-side,raw,echo=0" 2>/dev/null
for _ in $(seq 100); do [ -e "$root/dev/module-side" ] && [ -e "$root/dev/board-side" ] && break; sleep 0.05; done
helper bash -c 'cat "$1" >> "$2" 2>/dev/null' _ "$root/dev/module-side" "$root/bridge-module.log"
daemon dastral "$bin/dastral" "$root/dev/ttyModule" "$root/var/run/dastral.pid"

# --- tunnel watchdog: two hosts in namespaces, as root only
tunnel=0
if [ "$(id -u)" = 0 ] && ip netns add "$ns_a" 2>/dev/null; then
    ip netns add "$ns_b"
    ip link add "vr$$a" netns "$ns_a" type veth peer name "vr$$b" netns "$ns_b"
    ip -n "$ns_a" addr add 10.211.0.1/24 dev "vr$$a"; ip -n "$ns_a" link set "vr$$a" up; ip -n "$ns_a" link set lo up
    ip -n "$ns_b" addr add 10.211.0.2/24 dev "vr$$b"; ip -n "$ns_b" link set "vr$$b" up; ip -n "$ns_b" link set lo up
    # One group for both ends, so restart and Ctrl-C handle the pair.
    daemon tolvane bash -c 'ip netns exec "$1" "$3" remote 10.211.0.1 local 10.211.0.2 dev "vr$4b" gname gre-b mode receive timeout 5 2>>"$5/tolvane-receive.log" &
        ip netns exec "$2" "$3" remote 10.211.0.2 local 10.211.0.1 dev "vr$4a" gname gre-a mode send seconds 2 retry 3 2>>"$5/tolvane-send.log" &
        wait' _ "$ns_b" "$ns_a" "$bin/tolvane" "$$" "$root"
    tunnel=1
else
    echo "(tolvane needs root for its namespaces: not started)"
fi

# --- what a person would do: text a command, type into the bridge
pause 3
sms_step=1
say "[sms 1/3]" "texted \"cellstatus\" to the router from $owner (the modem stores it; brenlow looks every 5 s)"
"$sim/modemsim" inject --mode gsm --store "$root/simstore" --from "$owner" --text cellstatus >/dev/null
say "[bridge]" "typing \"AT+VER?\\n\" into the board's serial port (dastral adds \\r after each \\n towards the module)"
printf 'AT+VER?\n' > "$root/dev/board-side"

if [ "$tunnel" = 1 ]; then
    pause 4
    say "[tunnel]" "cutting the link: the sender tries every 2 s and gives up after 3, the receiver judges every 5 s"
    ip -n "$ns_a" link set "vr$$a" down
    pause 12
    say "[tunnel]" "restoring the link"
    ip -n "$ns_a" link set "vr$$a" up
fi

if [ -n "${RUN_SECONDS:-}" ]; then
    pause "$RUN_SECONDS"
else
    say "[demo]" "running; Ctrl-C stops every daemon"
    while :; do pause 3600; done
fi
