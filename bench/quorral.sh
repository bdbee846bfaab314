#!/bin/sh
# Measures quorral's TCP forwarding on loopback: a normal server (throughput and
# CPU), a server that accepts and never reads (longest stretch without a GPS
# read, the stall), and a server that resets every connection with interval 0
# (connects a second and quorral's own CPU).
# Usage: bench/quorral.sh [BUILD_DIR] [SECONDS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-20}
rate=20000

root=$(mktemp -d /tmp/quorralbench.XXXXXX)
pids=
cleanup() { for p in $pids; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$root"; }
trap cleanup EXIT INT TERM
g++ -O2 -std=c++17 -o "$root/benchtool" "$here/benchtool.cpp" -lutil
sh "$here/../sim/sandbox.sh" "$root" "$build/sim/bin/uci"
export ROUTER_ROOT="$root" PATH="$root/stubbin:$PATH"
hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
port=$((20000 + $$ % 20000))

config() { # interval debug
    cat > "$root/etc/config/quorral" <<CONF
config quorral 'general'
	option enabled '1'
	option proto '0'
	option interval '$1'
	option serverip '127.0.0.1'
	option serverport '$port'
	option debug '$2'
CONF
}

# Runs quorral for the given seconds against whatever listens on $port, GPS fed at $rate B/s.
run() { # interval debug seconds [rate]
    config "$1" "$2"
    rate=${4:-20000}
    rm -f "$root/tmp/gps.log" "$root/tmp/gps.log2"
    "$root/benchtool" gps "$root/gps0" "$rate" "$(($3 + 2))" > "$root/feed.out" &
    feeder=$!
    while [ ! -e "$root/gps0" ]; do sleep 0.05; done
    "$build/bin/quorral" "$root/gps0" "$root/var/run/quorral.pid" >/dev/null 2>&1 &
    q=$!
    sleep 1
    t0=$(ticks $q)
    sleep "$3"
    t1=$(ticks $q)
    kill $q 2>/dev/null || true
    wait $q 2>/dev/null || true
    wait $feeder 2>/dev/null || true
    cpu=$(awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$3" 'BEGIN { printf "%.2f %%", 100 * d / hz / s }')
}

echo "$build/bin/quorral, ${seconds}s per run, GPS fed at 20000 B/s (200000 for the server that never reads), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

socat -u TCP-LISTEN:$port,reuseaddr,bind=127.0.0.1 "OPEN:$root/received,creat,trunc" &
srv=$!; pids="$srv"; sleep 0.3
run 0 3 "$seconds"
kill $srv 2>/dev/null || true; wait $srv 2>/dev/null || true
got=$(stat -c %s "$root/received" 2>/dev/null || echo 0)
echo "normal server, interval 0: $(cat "$root/feed.out"), server got $got B ($((got / seconds)) B/s), quorral CPU $cpu"

"$root/benchtool" stall-server $port &
srv=$!; pids="$srv"; sleep 0.3
run 0 3 "$seconds" 200000
kill $srv 2>/dev/null || true; wait $srv 2>/dev/null || true
echo "server that never reads, interval 0: $(cat "$root/feed.out"); quorral CPU $cpu"
echo "  log: $(grep -a -c "send buffer full" "$root/tmp/gps.log") connections closed on a full send buffer, $(grep -a -c "recv error" "$root/tmp/gps.log") ended by the kernel (unacknowledged data), $(grep -a -c "try to re-connecting" "$root/tmp/gps.log") connection attempts"

"$root/benchtool" reset-server $port > "$root/resets" &
srv=$!; pids="$srv"; sleep 0.3
run 0 3 "$seconds"
kill $srv 2>/dev/null || true; wait $srv 2>/dev/null || true
accepted=$(tail -n 1 "$root/resets" | awk '{print $2}')
echo "server that resets every connection, interval 0: about ${accepted:-0} connections ($(( ${accepted:-0} / (seconds + 1) ))/s), quorral CPU $cpu"
