#!/usr/bin/env bash
# A simulated router for the web interface: the five daemons on a root made
# by sim/sandbox.sh (brenlow on the modem simulator, moskar counting a veth
# pair with traffic on it, tolvane watching one tunnel that answers and one
# that does not, quorral fed by the NMEA replay and forwarding to a local TCP
# server, dastral between two pseudo-terminal pairs), with OpenWrt's web
# stack serving LuCI and the app from a chroot of the same root. As root.
#
#   router.sh up ROOT PORT     lays out ROOT, starts everything; LuCI on 127.0.0.1:PORT
#   router.sh down ROOT        stops everything and removes the namespaces
#
# WEB_HOSTILE=1 adds outside text that is HTML or script (a tunnel name), for
# the browser test; SMS_RETRYTIME=N gives a refused message up after N s.
# Needs build/bin (stack.sh installs the daemons from there), build/sim/bin
# and build/openwrt-web.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
sim=$top/build/sim/bin

usage() { sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

# Every process started here leads a group of its own, listed for `down`.
spawn() { # ROOT NAME COMMAND...
    local root=$1 name=$2
    shift 2
    setsid "$@" >>"$root/web/$name.out" 2>&1 </dev/null &
    echo "$! $name" >> "$root/web/groups"
}

# A daemon with the sandbox's environment: its paths under ROOT, its
# commands (uci, gcom, reboot) from ROOT/stubbin.
daemon() { # ROOT NAME [NETNS] COMMAND...
    local root=$1 name=$2 ns=${3:-}
    shift 3
    local env=(env "ROUTER_ROOT=$root" "PATH=$root/stubbin:$PATH")
    if [ -n "$ns" ]; then
        spawn "$root" "$name" ip netns exec "$ns" "${env[@]}" "$@"
    else
        spawn "$root" "$name" "${env[@]}" "$@"
    fi
}

wait_for() { # PATH: up to 10 s
    for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.1; done
    echo "$1 did not appear" >&2
    return 1
}

configure() {
    local root=$1 gps_port=$2 if_a=$3
    local uci=$root/stubbin/uci
    for p in sms moskar quorral dastral tolvane; do cp "$top/openwrt/files/$p.config" "$root/etc/config/$p"; done
    printf "config system\n\toption hostname 'SimRouter'\nconfig version 'version'\n\toption sn 'SIM0001'\n" > "$root/etc/config/system"
    printf "config dev_info 'dev_info1'\n\toption strength '-71'\n" > "$root/etc/config/mobile"
    echo "1,1,13912345678" > "$root/var/run/phonenum"
    # The period began on the 1st and ends at the next; the days so far
    # carry figures, as after a few weeks of use (today's starts at 0).
    local first next today days=() used=0 d prev=()
    first=$(date +%Y%m01)
    next=$(date -d "$(date +%Y-%m-01) +1 month" +%s)
    today=$(date +%-d)
    for ((d = 1; d < today; d++)); do days+=($(( (d * 37 + 11) % 90 + 5 ))); used=$((used + days[-1])); done
    for ((d = 1; d <= 30; d++)); do prev+=($(( (d * 53 + 7) % 80 + 10 ))); done
    local daily="$first${days[*]:+ ${days[*]}} 0"
    "$uci" batch <<EOF
set sms.general.debug=5
set sms.general.unicode=1
set sms.general.device=$root/dev/ttyUSB2
set sms.general.retrytime=${SMS_RETRYTIME:-86400}
set moskar.traffic.ifname=$if_a
set moskar.traffic.enabled=1
set moskar.traffic.period=month
set moskar.traffic.datamax=2000
set moskar.traffic.phone=13912345678
set moskar.traffic.commit_interval=0
set moskar.traffic.endtime=$next
set moskar.traffic.used=$((used * 1000000))
set moskar.traffic.daily='$daily'
set moskar.traffic.daily_prev='$(date -d "$(date +%Y-%m-01) -1 month" +%Y%m01) ${prev[*]}'
set moskar.traffic2.ifname=lo
set quorral.general.enabled=1
set quorral.general.device=$root/dev/ttyGPS
set quorral.general.proto=0
set quorral.general.serverip=127.0.0.1
set quorral.general.serverport=$gps_port
set quorral.general.debug=3
set dastral.general.enabled=1
set dastral.general.device=$root/dev/ttyModule
set dastral.general.port=$root/dev/ttyS0
set tolvane.gre1.enabled=1
set tolvane.gre1.remote=10.212.0.2
set tolvane.gre1.local=10.212.0.1
set tolvane.gre1.dev=$if_a
set tolvane.gre1.gname=gre1
set tolvane.gre1.seconds=2
set tolvane.gre1.retry=3
set tolvane.gre2=tunnel
set tolvane.gre2.enabled=1
set tolvane.gre2.remote=10.212.0.9
set tolvane.gre2.local=10.212.0.1
set tolvane.gre2.dev=$if_a
set tolvane.gre2.gname='$(gre2_name)'
set tolvane.gre2.mode=send
set tolvane.gre2.seconds=2
set tolvane.gre2.retry=2
commit
EOF
}

gre2_name() {
    if [ "${WEB_HOSTILE:-0}" = 1 ]; then echo '<i>gre2</i>'; else echo gre2; fi
}

up() {
    local root=$1 port=$2
    [ "$(id -u)" = 0 ] || { echo "the web router needs root (namespaces, chroot)" >&2; exit 1; }
    local tag=$$
    local ns_a=wr${tag}a ns_b=wr${tag}b if_a=wv${tag}a if_b=wv${tag}b
    local gps_port=$((port + 1))
    mkdir -p "$root"
    bash "$top/sim/sandbox.sh" "$root" "$sim/uci"
    mkdir -p "$root/web" "$root/simstore" "$root/dev"
    printf '%s %s %s %s\n' "$ns_a" "$ns_b" "$if_a" "$if_b" > "$root/web/net"
    : > "$root/web/groups"
    bash "$here/stack.sh" install "$root"
    configure "$root" "$gps_port" "$if_a"
    printf 'Operator: SimNet, LTE, -71 dBm\n' > "$root/answers/cell.sh_1"
    : > "$root/simstore/sent.log"

    # Two hosts on a veth pair: the router (A) and its peer (B).
    ip netns add "$ns_a"
    ip netns add "$ns_b"
    ip link add "$if_a" netns "$ns_a" type veth peer name "$if_b" netns "$ns_b"
    ip -n "$ns_a" addr add 10.212.0.1/24 dev "$if_a"
    ip -n "$ns_b" addr add 10.212.0.2/24 dev "$if_b"
    for ns in "$ns_a" "$ns_b"; do ip -n "$ns" link set lo up; done
    ip -n "$ns_a" link set "$if_a" up
    ip -n "$ns_b" link set "$if_b" up

    # SMS: the modem simulator and brenlow.
    spawn "$root" modemsim "$sim/modemsim" --mode gsm --device "$root/dev/ttyUSB2" --store "$root/simstore" \
        --log "$root/web/modem.log"
    wait_for "$root/dev/ttyUSB2"
    daemon "$root" brenlow "" "$root/usr/sbin/brenlow" "$root/dev/ttyUSB2" "$root/var/run/brenlow.pid" x 1 0

    # Traffic: moskar on the router's end with the peer sending to it, and a
    # second instance on lo that only measures.
    daemon "$root" moskar1 "$ns_a" "$root/usr/sbin/moskar" "$if_a" "$root/var/run/moskar1.pid" 1
    daemon "$root" moskar2 "$ns_a" "$root/usr/sbin/moskar" lo "$root/var/run/moskar2.pid" 2
    spawn "$root" traffic ip netns exec "$ns_b" sh -c \
        'while :; do head -c 30000 /dev/zero | socat -u -b 1400 STDIN UDP-SENDTO:10.212.0.1:9; sleep 1; done'

    # Tunnels: gre1 answered by the peer's watchdog (a root of its own), gre2 towards nobody.
    mkdir -p "$root/peer"
    bash "$top/sim/sandbox.sh" "$root/peer" "$sim/uci"
    spawn "$root" tolvane-peer ip netns exec "$ns_b" env "ROUTER_ROOT=$root/peer" "PATH=$root/peer/stubbin:$PATH" \
        "$root/usr/sbin/tolvane" remote 10.212.0.1 local 10.212.0.2 dev "$if_b" gname peer mode receive timeout 5
    daemon "$root" tolvane-gre1 "$ns_a" "$root/usr/sbin/tolvane" remote 10.212.0.2 local 10.212.0.1 dev "$if_a" \
        gname gre1 mode send seconds 2 retry 3 pid "$root/var/run/tolvane-gre1.pid"
    daemon "$root" tolvane-gre2 "$ns_a" "$root/usr/sbin/tolvane" remote 10.212.0.9 local 10.212.0.1 dev "$if_a" \
        gname "$(gre2_name)" mode send seconds 2 retry 2 pid "$root/var/run/tolvane-gre2.pid"

    # GPS: the NMEA replay, quorral and a TCP server that keeps the stream.
    spawn "$root" gps-server socat -u "TCP-LISTEN:$gps_port,bind=127.0.0.1,reuseaddr,fork" "OPEN:$root/web/gps-server.log,creat,append"
    spawn "$root" nmea_feeder "$sim/nmea_feeder" "$root/dev/ttyGPS" "$top/sim/nmea/sample.nmea" 1000 1000000
    wait_for "$root/dev/ttyGPS"
    daemon "$root" quorral "" "$root/usr/sbin/quorral" "$root/dev/ttyGPS" "$root/var/run/quorral.pid"

    # Serial bridge: two pseudo-terminal pairs stand for the board port and the module.
    spawn "$root" board-pty socat -d "PTY,link=$root/dev/ttyS0,raw,echo=0" "PTY,link=$root/dev/board-side,raw,echo=0"
    spawn "$root" module-pty socat -d "PTY,link=$root/dev/ttyModule,raw,echo=0" "PTY,link=$root/dev/module-side,raw,echo=0"
    wait_for "$root/dev/board-side"
    wait_for "$root/dev/module-side"
    spawn "$root" module sh -c 'cat "$1" >> "$2"' _ "$root/dev/module-side" "$root/web/module.log"
    daemon "$root" dastral "" "$root/usr/sbin/dastral" "$root/dev/ttyModule" "$root/var/run/dastral.pid" "$root/dev/ttyS0"
    wait_for "$root/var/run/dastral.status"
    printf 'AT+VER?\n' > "$root/dev/board-side"

    bash "$here/stack.sh" start "$root" "$port"
}

down() {
    local root=$1 pid name
    bash "$here/stack.sh" stop "$root" || true
    if [ -f "$root/web/groups" ]; then
        # tolvane ends cleanly on SIGINT (its registry line, its closing line).
        while read -r pid name; do
            case $name in tolvane*) kill -INT -- "-$pid" 2>/dev/null || true ;; *) kill -TERM -- "-$pid" 2>/dev/null || true ;; esac
        done < "$root/web/groups"
        sleep 1
        while read -r pid name; do kill -KILL -- "-$pid" 2>/dev/null || true; done < "$root/web/groups"
        : > "$root/web/groups"
    fi
    if [ -f "$root/web/net" ]; then
        read -r ns_a ns_b _ < "$root/web/net"
        ip netns del "$ns_a" 2>/dev/null || true
        ip netns del "$ns_b" 2>/dev/null || true
        rm -f "$root/web/net"
    fi
}

case "${1:-}" in
up) [ $# -eq 3 ] || usage; up "$2" "$3" ;;
down) [ $# -eq 2 ] || usage; down "$2" ;;
*) usage ;;
esac
