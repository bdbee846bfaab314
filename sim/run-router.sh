#!/usr/bin/env bash
# The five daemons on a simulated router, with a short scripted story:
# brenlow on the modem simulator, moskar counting loopback, quorral fed by an
# NMEA replay and forwarding to a local TCP server, dastral between two
# pseudo-terminals, and (as root) tolvane in two network namespaces.
#
#   sim/run-router.sh                    start the demo; Ctrl-C stops everything it started
#   sim/run-router.sh stop               stop a running demo, and whatever an earlier demo
#                                        left running when it ended uncleanly
#   sim/run-router.sh restart DAEMON     restart one daemon of the running demo
#                                        (brenlow, moskar, quorral, dastral, tolvane)
#   sim/run-router.sh send-sms NUMBER TEXT...   text the router from a simulated phone
#   sim/run-router.sh uci ARGS...        the uci stand-in on the running demo's root
#
# RUN_SECONDS=N stops the demo by itself after N seconds. DEMO_BUILD=DIR runs
# the binaries of an existing build folder and builds nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${DEMO_BUILD:-$top/build}
bin=$build/bin
sim=$build/sim/bin
# Router roots are made here; a running demo says which one it runs on in
# $current, for the control commands.
tmp=${TMPDIR:-/tmp}
current=$tmp/router-demo.current
daemons=(brenlow moskar quorral dastral tolvane)
# Each demo's root keeps what it started: demo/main.pid (the demo's own
# process), demo/NAME.pid (a daemon's process group), demo/groups (the other
# process groups, "PGID what"), demo/netns (the namespaces it made).

# ---------- the story's narration (also run by the watchers, see `_watch`)

# Seconds since the demo started, as +M:SS; every line of the demo uses it.
since() {
    local ms=$(( ($(date +%s%N) - DEMO_START_NS) / 1000000 ))
    printf '+%d:%02d' $((ms / 60000)) $((ms / 1000 % 60))
}
# A failed write (the output's reader has gone) ends the demo: see keep_going.
say() { printf '%s %-9s %s\n' "$(since)" "$1" "$2" 2>/dev/null; }
# Texts in quotes with control characters shown as \n, \r, \t or \xNN, the same everywhere.
visible() {
    perl -pe 's/\r/\\r/g; s/\t/\\t/g; s/([\x00-\x08\x0b-\x1f\x7f])/sprintf("\\x%02X", ord $1)/ge; s/\n(?!$)/\\n/g'
}

# What brenlow does with a message from NUMBER reading TEXT, as this demo
# configures it; prints "reply" when an answer will follow, else why none will.
expected_answer() {
    local number=$1 text=$2 line right='' slot='' key value operset
    while IFS= read -r line; do
        line=${line%$'\r'}
        [ "${line##*,}" = "$number" ] && { right=${line%%,*}; break; }
    done < "$ROUTER_ROOT/var/run/phonenum"
    if [ -z "$right" ]; then
        echo "no reply will come: $number is not in /var/run/phonenum, the numbers allowed to command the router; the journal only notes the refusal"
        return
    fi
    if ! [[ ${right// /} =~ ^0*1([^0-9]|$) ]]; then
        echo "no reply will come: $number may not send commands (its first field in /var/run/phonenum is not 1); the journal only notes the refusal"
        return
    fi
    # Operator selection takes an argument after its keyword and comes first.
    operset=$("$SIM_BIN/uci" -q get sms.command.operset 2>/dev/null || true)
    if [ -n "$operset" ] && [ "${text#"$operset"}" != "$text" ]; then
        slot=operset
    else
        while IFS= read -r line; do
            key=${line#sms.command.}; key=${key%%=*}
            value=${line#*=}; value=${value#\'}; value=${value%\'}
            case $key in enabled|smsack|fixplus|*.*) continue ;; esac
            [ -n "$value" ] && [ "$text" = "$value" ] && { slot=$key; break; }
        done <<< "$("$SIM_BIN/uci" -q show sms.command 2>/dev/null || true)"
    fi
    if [ -z "$slot" ]; then
        echo "no reply will come: \"$text\" is no command keyword (the options of sms.command); brenlow logs it as an unknown command"
    elif [ "$slot" = cellstatus ] || [ "$slot" = diostatus ] || [ "$slot" = operlist ] ||
         [ "$("$SIM_BIN/uci" -q get sms.command.smsack 2>/dev/null)" = 1 ]; then
        echo reply
    else
        echo "no reply will come: brenlow runs \"$slot\", and acknowledgements are off (sms.command.smsack)"
    fi
}

on_phone() {
    local number=${1%%$'\t'*} text=${1#*$'\t'}
    local awaiting=$ROUTER_ROOT/demo/awaiting-${number#+}
    # The simulator writes the newline of a text as \n already.
    if [ -s "$awaiting" ]; then
        sed -i 1d "$awaiting"
        say "[sms 3/3]" "reply on the phone $number: \"$text\""
    else
        say "[phone]" "$number got \"$text\""
    fi
}
on_record() {
    case $1 in
    "Received SMS"*)
        local rest=${1#Received SMS: sender: } sender text answer
        sender=${rest%%;*}
        text=${rest#*; msg: }
        say "[sms 2/3]" "the router read it and wrote its journal: $(printf '%s' "$1" | visible)"
        answer=$(expected_answer "$sender" "$text")
        if [ "$answer" = reply ]; then
            echo >> "$ROUTER_ROOT/demo/awaiting-${sender#+}"
            say "" "  it is a command from an allowed number: brenlow runs it and answers, one message at a time"
        else
            say "" "  $answer"
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
on_gps() {
    local new total last
    IFS=$'\t' read -r new total last <<< "$1"
    say "[gps]" "server got $new sentences in 10 s ($total in all), last \"$last...\""
}

# ---------- process groups: every process the demo starts runs in a group of its own

# True when process group PGID still has a member started for the router root ROOT
# (a recorded number may meanwhile belong to somebody else).
group_of_root() {
    local pgid=$1 root=$2 pid
    for pid in $(pgrep -g "$pgid" 2>/dev/null); do
        grep -qzxF "ROUTER_ROOT=$root" "/proc/$pid/environ" 2>/dev/null && return 0
    done
    return 1
}

# Signals a daemon's process group; prints the group when there was one to signal.
signal_daemon() {
    local root=$1 name=$2 pid signal=TERM
    [ -f "$root/demo/$name.pid" ] || return 0
    pid=$(cat "$root/demo/$name.pid")
    rm -f "$root/demo/$name.pid"
    [ -n "$pid" ] && group_of_root "$pid" "$root" || return 0
    # tolvane stops cleanly on SIGINT (registry line, closing log line).
    [ "$name" != tolvane ] || signal=INT
    kill "-$signal" -- "-$pid" 2>/dev/null || true
    echo "$pid"
}

# Waits up to 4 s for the process groups given to go, then kills what is left.
reap_groups() {
    local pgid left
    for _ in $(seq 40); do
        left=0
        for pgid in "$@"; do kill -0 -- "-$pgid" 2>/dev/null && left=1; done
        [ "$left" = 1 ] || return 0
        sleep 0.1
    done
    for pgid in "$@"; do kill -KILL -- "-$pgid" 2>/dev/null || true; done
}

# Stops one daemon and waits for it to go.
stop_daemon() {
    local pgid
    pgid=$(signal_daemon "$1" "$2")
    [ -z "$pgid" ] || reap_groups "$pgid"
}

# Stops the other recorded groups of ROOT; prints what it stopped.
stop_groups() {
    local root=$1 pgid what
    [ -f "$root/demo/groups" ] || return 0
    while read -r pgid what; do
        group_of_root "$pgid" "$root" || continue
        kill -TERM -- "-$pgid" 2>/dev/null || true
        echo "$pgid $what"
    done < "$root/demo/groups" > "$root/demo/stopping"
    [ -s "$root/demo/stopping" ] || return 0
    sleep 0.5
    while read -r pgid what; do
        kill -KILL -- "-$pgid" 2>/dev/null || true
        echo "stopped $what (process group $pgid)"
    done < "$root/demo/stopping"
    rm -f "$root/demo/stopping"
}

# Deletes the recorded namespaces of ROOT that still exist; prints them.
remove_namespaces() {
    local root=$1 ns
    [ -f "$root/demo/netns" ] || return 0
    while read -r ns; do
        ip netns list 2>/dev/null | grep -q "^$ns\\b" || continue
        ip netns del "$ns" 2>/dev/null && echo "removed network namespace $ns"
    done < "$root/demo/netns"
}

# Everything ROOT's demo started: the daemons first (also those restarted by
# hand), all at once, while the watchers still tell what they do as they stop.
stop_root() {
    local root=$1 name pgid groups=()
    for name in "${daemons[@]}"; do
        pgid=$(signal_daemon "$root" "$name")
        [ -z "$pgid" ] || { groups+=("$pgid"); echo "stopped $name (process group $pgid)"; }
    done
    [ ${#groups[@]} = 0 ] || reap_groups "${groups[@]}"
    stop_groups "$root"
    remove_namespaces "$root"
}

# `stop`: a running demo stops itself on SIGTERM; what an unclean end left is
# found from the records.
stop_demos() {
    local record root main stopped=0 what
    for record in "$tmp"/router.*/demo/main.pid; do
        [ -O "$record" ] || continue
        root=${record%/demo/main.pid}
        main=$(cat "$record")
        if tr '\0' ' ' < "/proc/$main/cmdline" 2>/dev/null | grep -q 'run-router\.sh'; then
            kill -TERM "$main" 2>/dev/null || true
            for _ in $(seq 200); do kill -0 "$main" 2>/dev/null || break; sleep 0.1; done
            echo "stopped the demo running on $root (pid $main)"
            stopped=1
        fi
        what=$(stop_root "$root")
        if [ -n "$what" ]; then
            echo "cleaned up after the demo that ended uncleanly on $root:"
            printf '%s\n' "$what" | sed 's/^/  /'
            stopped=1
        fi
        rm -f "$record"
        [ ! -f "$current" ] || [ "$(cut -d' ' -f1 "$current")" != "$root" ] || rm -f "$current"
    done
    [ "$stopped" = 1 ] || echo "no demo is running, and none left anything behind"
}

running_root() {
    local root pid
    [ -f "$current" ] || { echo "no demo is running (start one with: bash sim/run-router.sh)" >&2; exit 1; }
    read -r root pid < "$current"
    kill -0 "$pid" 2>/dev/null || { echo "the demo that used $root has ended (bash sim/run-router.sh stop cleans up after it)" >&2; exit 1; }
    echo "$root"
}

# Starts NAME from the command line kept in ROOT/demo/NAME.cmd, in a process
# group of its own, with the sandbox's environment.
start_daemon() {
    local root=$1 name=$2
    (
        # shellcheck disable=SC1090,SC1091
        . "$root/demo/env"
        trap - PIPE
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
    [ $# -ge 3 ] || { echo "usage: $0 send-sms NUMBER TEXT..." >&2; exit 2; }
    root=$(running_root)
    number=$2
    shift 2
    slot=$("$sim/modemsim" inject --mode gsm --store "$root/simstore" --from "$number" --text "$*")
    echo "message from $number stored in the SIM at index $slot: \"$*\"; brenlow reads the store every 5 s,"
    echo "and the demo's terminal tells what it makes of it ([sms 2/3], then [sms 3/3] for a reply)"
    exit 0 ;;
uci)
    root=$(running_root)
    shift
    if [ "$*" = commit ]; then
        echo "note: without a package, uci commit goes over every file in /etc/config, and the SMS journal" >&2
        echo "/etc/config/sms_record is no UCI file: it reports a parse error for it, as on a router." >&2
        echo "Name the package instead, e.g. uci commit quorral." >&2
    fi
    ROUTER_ROOT=$root exec "$sim/uci" "$@" ;;
stop)
    stop_demos
    exit 0 ;;
_watch)
    # One watcher of the running demo, in its own process group: KIND FILE.
    kind=$2 file=$3
    case $kind in
    lines)
        tail -n0 -F "$file" 2>/dev/null | while IFS= read -r l; do "$4" "$l"; done ;;
    bridge)
        # The bridge's bytes as they come: its lines end in \n\r, so reading lines would cut them.
        tail -c +1 -F "$file" 2>/dev/null | perl -e '$| = 1; while (sysread(STDIN, $b, 4096)) {
            $b =~ s/\r/\\r/g; $b =~ s/\n/\\n/g; $b =~ s/([\x00-\x1f\x7f])/sprintf(q(\\x%02X), ord $1)/ge; print "$b\n" }' |
            while IFS= read -r l; do on_bridge "$l"; done ;;
    gps)
        # One line per 10 s with the count and the last sentence; the whole stream stays in the file.
        seen=0
        while sleep 10; do
            now=$(grep -c "\$GP" "$file" 2>/dev/null || true)
            last=$(grep -ao "\$GP[A-Z]*,[^$]*" "$file" 2>/dev/null | tail -n1 | tr -d "\r\n" | cut -c1-60)
            on_gps "$((now - seen))"$'\t'"$now"$'\t'"$last"
            seen=$now
        done ;;
    esac
    exit 0 ;;
"") ;;
*)
    sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2 ;;
esac

# ---------- the demo

# A write to an output whose reader has gone fails instead of killing the
# demo before it has stopped what it started; the demo then ends (set -e).
trap '' PIPE
export DEMO_START_NS
DEMO_START_NS=$(date +%s%N)
if [ -n "${DEMO_BUILD:-}" ]; then
    echo "using the daemons and simulators built in $build"
else
    if [ "$(id -u)" = 0 ]; then bash sim/install-deps.sh >/dev/null; fi
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
                    printf '\r  %s %d files compiled or linked' "${spin:n%4:1}" "$n" 2>/dev/null ;; esac
            done; }; then
        echo; tail -20 "$build_log"; exit 1
    fi
    printf '\r  built in %ss (log: %s)          \n' $(( ($(date +%s%N) - DEMO_START_NS) / 1000000000 )) "$build_log"
fi
[ -x "$bin/brenlow" ] && [ -x "$sim/modemsim" ] || { echo "no daemons or simulators in $build" >&2; exit 1; }
DEMO_START_NS=$(date +%s%N)

root=$(mktemp -d "$tmp/router.XXXXXX")
bash sim/sandbox.sh "$root" "$sim/uci"
mkdir -p "$root/demo" "$root/dev" "$root/simstore"
echo $$ > "$root/demo/main.pid"
export ROUTER_ROOT=$root
export PATH=$root/stubbin:$PATH
export SIM_BIN=$sim
[ "$(command -v reboot)" = "$root/stubbin/reboot" ] || { echo "reboot is not the stub; stopping" >&2; exit 1; }
printf 'export ROUTER_ROOT=%q\nexport PATH=%q\n' "$ROUTER_ROOT" "$PATH" > "$root/demo/env"
uci() { "$sim/uci" "$@"; }

ns_a=rtsim$$a
ns_b=rtsim$$b
sleeper=
cleanup() {
    # Clean-up goes to its end whatever one step returns or a second Ctrl-C.
    trap '' INT TERM HUP
    set +e
    [ -z "$sleeper" ] || kill "$sleeper" 2>/dev/null
    [ ! -f "$root/demo/tolvane.pid" ] ||
        say "[demo]" "stopping; tolvane runs its down script as part of its own stop"
    stop_root "$root" > /dev/null
    rm -f "$root/demo/main.pid"
    [ ! -f "$current" ] || [ "$(cut -d' ' -f1 "$current")" != "$root" ] || rm -f "$current"
    wait 2>/dev/null
    # Said where it can still be read: a reader of the output may be gone.
    local bye="Stopped. The router root stays for a look: $root"
    printf '\n%s\n' "$bye" 2>/dev/null || printf '%s\n' "$bye" >&2 2>/dev/null
}
trap 'cleanup' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
echo "$root $$" > "$current"
# Ends the demo when the reader of its output has gone (a pipe into a program
# that ended): the watchers' lines are lost then, and nobody is told.
keep_going() {
    perl -e 'use IO::Poll qw(POLLOUT POLLERR); my $p = IO::Poll->new; $p->mask(\*STDOUT => POLLOUT);
             $p->poll(0); exit(($p->events(\*STDOUT) & POLLERR) ? 1 : 0)' || exit 141
}
# A sleep the traps can cut short (bash runs them only between commands), that
# looks at the output once a second.
pause() {
    local end=$((SECONDS + $1))
    while [ "$SECONDS" -lt "$end" ]; do
        sleep 1 &
        sleeper=$!
        wait "$sleeper" || true
        keep_going
    done
}
# Starts a command in a process group of its own and records the group as WHAT.
helper() {
    local what=$1
    shift
    ( trap - PIPE; exec setsid "$@" ) &
    echo "$! $what" >> "$root/demo/groups"
    disown $! 2>/dev/null || true
}
# Follows a file from its end, one line at a time, into the handler function named.
follow() { helper "watcher of ${1##*/}" bash "$top/sim/run-router.sh" _watch lines "$1" "$2"; }
# Keeps NAME's command line so that `restart NAME` can run it again, then starts it.
daemon() {
    local name=$1
    shift
    printf '%q ' "$@" > "$root/demo/$name.cmd"
    echo >> "$root/demo/$name.cmd"
    start_daemon "$root" "$name"
}
wait_for() { for _ in $(seq $(($2 * 20))); do [ -e "$1" ] && return 0; sleep 0.05; done; return 1; }

# --- configuration: the packaged defaults, then what this demo changes
for p in sms moskar quorral dastral; do cp "openwrt/files/$p.config" "$root/etc/config/$p"; done
printf "config system\n\toption hostname 'SimRouter'\nconfig version 'version'\n\toption sn 'SIM0001'\n" > "$root/etc/config/system"
printf "config dev_info 'dev_info1'\n\toption strength '-70'\n" > "$root/etc/config/mobile"
owner=13912345678
# On a router the platform writes this list; a line is: command right, alarm right, number.
echo "1,1,$owner" > "$root/var/run/phonenum"
uci set sms.general.debug=5
uci set moskar.traffic.enabled=1
uci set moskar.traffic.period=day
uci set moskar.traffic.datamax=1
uci set moskar.traffic.phone=$owner
gps_port=$((20000 + $$ % 20000))
sink_port=$((gps_port + 1))
uci set quorral.general.enabled=1
uci set quorral.general.proto=0
uci set quorral.general.serverip=127.0.0.1
uci set quorral.general.serverport=$gps_port
uci set quorral.general.sendsn=1
uci set quorral.general.debug=3
uci set dastral.general.enabled=1
for p in sms moskar quorral dastral; do uci commit "$p"; done
printf 'Operator: SimNet, LTE, -70 dBm\n' > "$root/answers/cell.sh_1"
: > "$root/simstore/sent.log"
: > "$root/gps-server.log"
: > "$root/bridge-module.log"

cat <<EOF
Simulated router root: $root
  SMS the phone received:  $root/simstore/sent.log
  platform script calls:   $root/calls.log
  GPS stream at the server: $root/gps-server.log
  bytes typed into the board's port, as dastral captured them: $root/tmp/qv.log
  logs: brenlow $root/tmp/modemlog.log, moskar $root/var/log/mk.log, quorral $root/tmp/gps.log,
        dastral $root/tmp/myLog1.log (with the first lines of moskar and quorral),
        tolvane (syslog on a router) $root/tolvane-send.log and tolvane-receive.log
Times are since the demo started; texts are in quotes, control characters shown as \n, \r, \xNN.
In another terminal: bash sim/run-router.sh restart DAEMON | send-sms NUMBER TEXT... | uci ARGS... | stop

EOF

# --- the watchers: what the demo makes of each file
follow "$root/simstore/sent.log" on_phone
follow "$root/etc/config/sms_record" on_record
follow "$root/calls.log" on_platform
follow "$root/tmp/sms_tosend" on_spool
helper "watcher of the bridge" bash "$top/sim/run-router.sh" _watch bridge "$root/bridge-module.log"
helper "watcher of the GPS server" bash "$top/sim/run-router.sh" _watch gps "$root/gps-server.log"

# --- traffic: moskar counts loopback against a 1 MB allowance; the demo makes the traffic
helper "loopback traffic sink" socat -u "TCP-LISTEN:$sink_port,bind=127.0.0.1,reuseaddr,fork" OPEN:/dev/null
say "[traffic]" "pushing 3 MB through loopback, which moskar counts against a 1 MB allowance: it queues an alarm SMS"
for _ in $(seq 50); do
    head -c 3000000 /dev/zero | socat -u STDIN "TCP:127.0.0.1:$sink_port" 2>/dev/null && break
    sleep 0.1
done
daemon moskar "$bin/moskar" lo "$root/var/run/moskar.pid" 1

# --- SMS: the modem simulator, and the owner's command waiting in its store
helper "modem simulator" "$sim/modemsim" --mode gsm --device "$root/dev/ttyUSB2" --store "$root/simstore" --log "$root/modem.log" >/dev/null
say "[sms 1/3]" "texted \"cellstatus\" to the router from $owner (the modem stores it; on each pass brenlow first sends what is queued, then reads the store)"
"$sim/modemsim" inject --mode gsm --store "$root/simstore" --from "$owner" --text cellstatus >/dev/null

# --- GPS: NMEA replay on a pseudo-terminal, quorral, and a TCP server
helper "GPS server" socat -u "TCP-LISTEN:$gps_port,bind=127.0.0.1,reuseaddr,fork" "OPEN:$root/gps-server.log,append"
helper "NMEA feeder" "$sim/nmea_feeder" "$root/dev/ttyGPS" "$top/sim/nmea/sample.nmea" 2000 >/dev/null
wait_for "$root/dev/ttyGPS" 5 || true
daemon quorral "$bin/quorral" "$root/dev/ttyGPS" "$root/var/run/quorral.pid"

# --- serial bridge: two pseudo-terminal pairs stand for the board port and the module
helper "board port" socat -d "PTY,link=$root/dev/ttyS0,raw,echo=0" "PTY,link=$root/dev/board-side,raw,echo=0" 2>/dev/null
helper "module port" socat -d "PTY,link=$root/dev/ttyModule,raw,echo=0" "PTY,link=$root/dev/module-side,raw,echo=0" 2>/dev/null
wait_for "$root/dev/module-side" 5 && wait_for "$root/dev/board-side" 5 || true
helper "module" bash -c 'cat "$1" >> "$2" 2>/dev/null' _ "$root/dev/module-side" "$root/bridge-module.log"
daemon dastral "$bin/dastral" "$root/dev/ttyModule" "$root/var/run/dastral.pid"

# --- tunnel watchdog: two hosts in namespaces, as root only
tunnel=0
printf '%s\n' "$ns_a" "$ns_b" > "$root/demo/netns"
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

# --- brenlow last: its first pass sends the queued alarm, then reads the command
wait_for "$root/tmp/sms_tosend" 10 || say "[traffic]" "no alarm queued yet; see $root/var/log/mk.log"
wait_for "$root/dev/ttyUSB2" 5 || true
daemon brenlow "$bin/brenlow" "$root/dev/ttyUSB2" "$root/var/run/brenlow.pid" x 1 0

# --- what a person would do: type into the bridge
pause 1
say "[bridge]" "typing \"AT+VER?\\n\" into the board's serial port (dastral adds \\r after each \\n towards the module)"
printf 'AT+VER?\n' > "$root/dev/board-side"

if [ "$tunnel" = 1 ]; then
    pause 3
    say "[tunnel]" "cutting the link: the sender tries every 2 s and gives up after 3, the receiver judges every 5 s"
    ip -n "$ns_a" link set "vr$$a" down
    pause 12
    say "[tunnel]" "restoring the link"
    ip -n "$ns_a" link set "vr$$a" up
fi

if [ -n "${RUN_SECONDS:-}" ]; then
    pause "$RUN_SECONDS"
else
    say "[demo]" "running; Ctrl-C stops everything it started (or: bash sim/run-router.sh stop)"
    while :; do pause 3600; done
fi
