#!/usr/bin/env bash
# Footprint of the five daemons on a simulated router: binary sizes, memory,
# CPU, processes started and moskar's package rewrites. A benchmark, not a
# test: it prints one table. Needs root (namespaces for tolvane and moskar).
#   FOOTPRINT_SECONDS=N  length of the run (default 600; the second memory
#                        reading and the rates are taken at its end; >= 90)
#   MIPSEL_BUILD=DIR     mipsel build folder (default build-mipsel); its daemon
#                        targets are rebuilt when it is configured, see
#                        sim/cross/build-mipsel.sh
# moskar runs twice, in two router roots, with commit_interval 0 and 300.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
long=${FOOTPRINT_SECONDS:-600}
[ "$long" -ge 90 ] || { echo "FOOTPRINT_SECONDS must be at least 90" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "footprint.sh needs root (network and PID namespaces)" >&2; exit 1; }
daemons=(brenlow tolvane moskar quorral dastral)

# --- builds
build=$top/build-footprint
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$build" -j2 --target "${daemons[@]}" uci gcom modemsim nmea_feeder >/dev/null
mips=${MIPSEL_BUILD:-$top/build-mipsel}
if [ -f "$mips/CMakeCache.txt" ] && command -v mipsel-linux-gnu-strip >/dev/null; then
    cmake --build "$mips" -j2 --target "${daemons[@]}" >/dev/null
fi
size_of() { # strip-tool binary
    [ -f "$2" ] || { echo "-"; return; }
    local t; t=$(mktemp)
    "$1" -o "$t" "$2" && stat -c %s "$t"
    rm -f "$t"
}
declare -A x86 mipsel
for d in "${daemons[@]}"; do
    x86[$d]=$(size_of strip "$build/bin/$d")
    if command -v mipsel-linux-gnu-strip >/dev/null; then mipsel[$d]=$(size_of mipsel-linux-gnu-strip "$mips/bin/$d"); else mipsel[$d]=-; fi
done
bin=$build/bin
sim=$build/sim/bin

# --- the router roots: one for everything, one more for the second moskar
work=$(mktemp -d /tmp/footprint.XXXXXX)
root=$work/router
root300=$work/router300
ns_a=fp$$a
ns_b=fp$$b
holders=()  # unshare processes, one per daemon: killing them ends each PID namespace
helpers=()
cleanup() {
    trap - INT TERM EXIT
    for pid in "${holders[@]}" "${helpers[@]}"; do kill -KILL -- "-$pid" 2>/dev/null || true; done
    ip netns del "$ns_a" 2>/dev/null || true
    ip netns del "$ns_b" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup INT TERM EXIT
for r in "$root" "$root300"; do
    bash sim/sandbox.sh "$r" "$sim/uci"
    printf "config system\n\toption hostname 'SimRouter'\nconfig version 'version'\n\toption sn 'SIM0001'\n" > "$r/etc/config/system"
    cp openwrt/files/moskar.config "$r/etc/config/moskar"
done
for p in sms quorral dastral; do cp "openwrt/files/$p.config" "$root/etc/config/$p"; done
printf "config dev_info 'dev_info1'\n\toption strength '-70'\n" > "$root/etc/config/mobile"
echo "1,1,13912345678" > "$root/var/run/phonenum"
uci() { ROUTER_ROOT=$r "$sim/uci" "$@"; }
gps_port=$((20000 + $$ % 20000))
r=$root
uci set quorral.general.enabled=1; uci set quorral.general.proto=0
uci set quorral.general.serverip=127.0.0.1; uci set quorral.general.serverport=$gps_port
uci set quorral.general.sendsn=1; uci set dastral.general.enabled=1
for r in "$root" "$root300"; do
    uci set moskar.traffic.enabled=1; uci set moskar.traffic.datamax=100000
done
r=$root; uci set moskar.traffic.commit_interval=0
r=$root300; uci set moskar.traffic.commit_interval=300
for r in "$root" "$root300"; do uci commit; done
mkdir -p "$root/dev" "$root/simstore"

# --- links: a veth for the tunnel watchdog, one with steady traffic for moskar
ip netns add "$ns_a"; ip netns add "$ns_b"
for ns in "$ns_a" "$ns_b"; do
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
    ip -n "$ns" link set lo up
done
ip link add "fpt$$a" netns "$ns_a" type veth peer name "fpt$$b" netns "$ns_b"
ip link add "fpm$$a" netns "$ns_a" type veth peer name "fpm$$b" netns "$ns_b"
ip -n "$ns_a" addr add 10.213.0.1/24 dev "fpt$$a"; ip -n "$ns_b" addr add 10.213.0.2/24 dev "fpt$$b"
ip -n "$ns_a" addr add 10.214.0.1/24 dev "fpm$$a"; ip -n "$ns_b" addr add 10.214.0.2/24 dev "fpm$$b"
for l in "$ns_a fpt$$a" "$ns_a fpm$$a" "$ns_b fpt$$b" "$ns_b fpm$$b"; do set -- $l; ip -n "$1" link set "$2" up; done

helper() { setsid "$@" >/dev/null 2>&1 & helpers+=($!); disown $!; }
# About 5 KB/s towards moskar's interface, so used and the speeds change every cycle.
helper ip netns exec "$ns_b" bash -c 'while :; do printf "%01000d" 0 >/dev/udp/10.214.0.1/9; sleep 0.2; done'
helper "$sim/modemsim" --mode gsm --device "$root/dev/ttyUSB2" --store "$root/simstore" --log "$root/modem.log"
helper socat -u "TCP-LISTEN:$gps_port,bind=127.0.0.1,reuseaddr,fork" OPEN:/dev/null
helper "$sim/nmea_feeder" "$root/dev/ttyGPS" "$top/sim/nmea/sample.nmea" 2000
helper socat "PTY,link=$root/dev/ttyS0,raw,echo=0" "PTY,link=$root/dev/board-side,raw,echo=0"
helper socat "PTY,link=$root/dev/ttyModule,raw,echo=0" "PTY,link=$root/dev/module-side,raw,echo=0"
for _ in $(seq 200); do
    [ -e "$root/dev/ttyUSB2" ] && [ -e "$root/dev/ttyGPS" ] && [ -e "$root/dev/ttyS0" ] && [ -e "$root/dev/ttyModule" ] && break
    sleep 0.05
done
helper bash -c 'cat "$1" > /dev/null' _ "$root/dev/module-side"

# Each daemon runs as PID 2 of a PID namespace of its own under a waiting sh
# (PID 1): the namespace's last PID then counts every task it started.
declare -A pid_of ns_init_of reads_of
start() { # row-name router-root netns(or -) program args...
    local row=$1 r=$2 ns=$3; shift 3
    local prefix=()
    [ "$ns" = - ] || prefix=(ip netns exec "$ns")
    ROUTER_ROOT=$r PATH=$r/stubbin:$PATH setsid "${prefix[@]}" unshare --pid --fork \
        sh -c '"$@" </dev/null >/dev/null 2>&1 & wait' _ "$@" &
    local holder=$! init="" daemon=""
    holders+=($holder)
    disown $holder
    for _ in $(seq 200); do
        init=$(cat "/proc/$holder/task/$holder/children" 2>/dev/null || true); init=${init%% *}
        [ -n "$init" ] && daemon=$(cat "/proc/$init/task/$init/children" 2>/dev/null || true); daemon=${daemon%% *}
        [ -n "$daemon" ] && break
        sleep 0.05
    done
    [ -n "$daemon" ] || { echo "$row did not start" >&2; exit 1; }
    pid_of[$row]=$daemon; ns_init_of[$row]=$init; reads_of[$row]=0
}
start brenlow "$root" - "$bin/brenlow" "$root/dev/ttyUSB2" "$root/var/run/brenlow.pid" x 1 0
start tolvane-recv "$root" "$ns_b" "$bin/tolvane" remote 10.213.0.1 local 10.213.0.2 dev "fpt$$b" gname gre-b mode receive timeout 5
start tolvane-send "$root" "$ns_a" "$bin/tolvane" remote 10.213.0.2 local 10.213.0.1 dev "fpt$$a" gname gre-a mode send seconds 2 retry 3
start moskar-ci0 "$root" "$ns_a" "$bin/moskar" "fpm$$a" "$root/var/run/moskar.pid" 1
start moskar-ci300 "$root300" "$ns_a" "$bin/moskar" "fpm$$a" "$root300/var/run/moskar.pid" 1
start quorral "$root" - "$bin/quorral" "$root/dev/ttyGPS" "$root/var/run/quorral.pid"
start dastral "$root" - "$bin/dastral" "$root/dev/ttyModule" "$root/var/run/dastral.pid"
rows=(brenlow tolvane-send tolvane-recv moskar-ci0 moskar-ci300 quorral dastral)
t0=$(date +%s)
# Some bytes both ways through the bridge, as a person typing.
helper bash -c 'while :; do printf "AT+VER?\n" > "$1"; sleep 5; done' _ "$root/dev/board-side"

# Package rewrites: every commit of the uci stand-in renames a new file into place.
for r in "$root" "$root300"; do
    helper bash -c 'f=$1/etc/config/moskar; n=0; last=$(stat -c %i "$f")
        while :; do i=$(stat -c %i "$f" 2>/dev/null || echo "$last")
            [ "$i" = "$last" ] || { n=$((n + 1)); last=$i; echo $n > "$1/rewrites"; }
            sleep 0.25; done' _ "$r"
done
rewrites() { cat "$1/rewrites" 2>/dev/null || echo 0; }

# Tasks started by the daemon so far: PIDs handed out in its namespace, less
# the sh (1), the daemon (2) and one nsenter per reading.
started() { # row variable
    local last
    reads_of[$1]=$((reads_of[$1] + 1))
    last=$(nsenter -t "${ns_init_of[$1]}" -p cat /proc/sys/kernel/ns_last_pid)
    printf -v "$2" %d $((last - 2 - reads_of[$1]))
}
mem() { # pid -> "rss pss private_dirty" in kB
    awk '/^Rss:/{r=$2} /^Pss:/{p=$2} /^Private_Dirty:/{d=$2} END{print r, p, d}' "/proc/$1/smaps_rollup" 2>/dev/null || echo "- - -"
}
ticks() { # pid -> "self children"
    awk '{sub(/^.*\) /, ""); print $12 + $13, $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo "- -"
}
sleep_until() { local now; now=$(date +%s); [ "$1" -le "$now" ] || sleep $(($1 - now)); }

declare -A mem60 memlong start60 startlong rw60 rwlong tk
sleep_until $((t0 + 60))
for row in "${rows[@]}"; do mem60[$row]=$(mem "${pid_of[$row]}"); started "$row" n; start60[$row]=$n; done
rw60[moskar-ci0]=$(rewrites "$root"); rw60[moskar-ci300]=$(rewrites "$root300")
sleep_until $((t0 + long))
for row in "${rows[@]}"; do
    memlong[$row]=$(mem "${pid_of[$row]}"); started "$row" n; startlong[$row]=$n; tk[$row]=$(ticks "${pid_of[$row]}")
done
rwlong[moskar-ci0]=$(rewrites "$root"); rwlong[moskar-ci300]=$(rewrites "$root300")
window=$((long - 60))

echo "Footprint after ${long} s on the simulated router ($(uname -m), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
echo "sizes: stripped bytes; memory: kB from smaps_rollup at 60 s and at ${long} s; CPU: clock ticks"
echo "($(getconf CLK_TCK)/s) over the whole run; tasks/min: processes and threads started, from 60 s to the end;"
echo "rewrites/h: renames of the moskar package file, from 60 s to the end."
fmt="%-13s %8s %8s | %6s %6s %6s | %6s %6s %6s | %5s %5s | %8s | %10s\n"
printf "$fmt" daemon x86-64 mipsel RSS60 Pss60 PDrt60 RSS Pss PDirty cpu child tasks/min rewrites/h
for row in "${rows[@]}"; do
    d=${row%%-*}
    read -r r1 p1 d1 <<< "${mem60[$row]}"
    read -r r2 p2 d2 <<< "${memlong[$row]}"
    read -r cs cc <<< "${tk[$row]}"
    per_min=$(awk -v a="${start60[$row]}" -v b="${startlong[$row]}" -v w=$window 'BEGIN{printf "%.1f", (b - a) * 60 / w}')
    rw=-
    if [ -n "${rw60[$row]:-}" ]; then
        rw=$(awk -v a="${rw60[$row]}" -v b="${rwlong[$row]}" -v w=$window 'BEGIN{printf "%.0f", (b - a) * 3600 / w}')
    fi
    printf "$fmt" "$row" "${x86[$d]}" "${mipsel[$d]}" "$r1" "$p1" "$d1" "$r2" "$p2" "$d2" "$cs" "$cc" "$per_min" "$rw"
done
