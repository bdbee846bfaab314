#!/bin/sh
# Measures dastral against socat between the same kind of pseudo-terminal pairs:
# 115200 bit/s of offered load (11,520 B/s), board to module, module to board and
# both at once; prints throughput, loss and CPU per byte for each.
# Usage: bench/bridge.sh [BUILD_DIR] [SECONDS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-10}
rate=11520

root=$(mktemp -d /tmp/bridgebench.XXXXXX)
trap 'rm -rf "$root"' EXIT INT TERM
g++ -O2 -std=c++17 -o "$root/benchtool" "$here/benchtool.cpp" -lutil

sh "$here/../sim/sandbox.sh" "$root" "$build/sim/bin/uci"
cat > "$root/etc/config/dastral" <<CONF
config dastral 'general'
	option enabled '1'
	option baudrate '115200'
	option parity 'N'
	option databits '8'
	option stopbits '1'
	option debug '3'
CONF
export ROUTER_ROOT="$root" PATH="$root/stubbin:$PATH"

echo "$build/bin/dastral, ${seconds}s per run, offered $rate B/s per direction, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for dirs in b m bm; do
    case $dirs in b) what="board to module";; m) what="module to board";; bm) what="both at once";; esac
    echo "dastral, $what:"
    "$root/benchtool" bridge "$seconds" "$rate" "$dirs" 1 -- "$build/bin/dastral" "{module}" "$root/var/run/dastral.pid" "{board}"
    echo "socat, $what:"
    "$root/benchtool" bridge "$seconds" "$rate" "$dirs" 0 -- socat "FILE:{board},raw,echo=0" "FILE:{module},raw,echo=0"
done
echo "capture file: $(stat -c %s "$root/tmp/qv.log" 2>/dev/null || echo 0) B, rotated: $(stat -c %s "$root/tmp/qv.log2" 2>/dev/null || echo none)"
