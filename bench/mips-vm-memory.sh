#!/bin/sh
# Runs inside the MIPS guest (sim/mips-vm/run.sh memory): every daemon on a
# simulated router, as the footprint benchmark runs them on the host, and
# after a minute its memory from /proc/PID/smaps_rollup. Prints one
# "mips-vm: memory" line per daemon and one RESULT line for the host.
. /etc/mips-vm.conf
work=/tmp/mips-vm-memory
root=$work/router
bin=$BUILD/bin
sim=$BUILD/sim/bin
rm -rf "$work"
mkdir -p "$work"
sh "$SRC/sim/sandbox.sh" "$root" "$sim/uci"
for p in sms moskar quorral dastral; do cp "$SRC/openwrt/files/$p.config" "$root/etc/config/$p"; done
printf "config system\n\toption hostname 'SimRouter'\nconfig version 'version'\n\toption sn 'SIM0001'\n" > "$root/etc/config/system"
printf "config dev_info 'dev_info1'\n\toption strength '-70'\n" > "$root/etc/config/mobile"
echo "1,1,13912345678" > "$root/var/run/phonenum"
uci() { ROUTER_ROOT=$root "$sim/uci" "$@"; }
uci set quorral.general.enabled=1; uci set quorral.general.proto=0
uci set quorral.general.serverip=127.0.0.1; uci set quorral.general.serverport=5999
uci set moskar.traffic.enabled=1; uci set moskar.traffic.datamax=100000
uci set dastral.general.enabled=1; uci commit
mkdir -p "$root/dev" "$root/simstore"

# Two hosts over a veth pair: the tunnel watch on one side each, moskar counting.
ip netns add ma; ip netns add mb
ip link add mav netns ma type veth peer name mbv netns mb
ip -n ma addr add 10.215.0.1/24 dev mav; ip -n mb addr add 10.215.0.2/24 dev mbv
for ns in ma mb; do ip -n $ns link set lo up; done
ip -n ma link set mav up; ip -n mb link set mbv up

helpers=
helper() { "$@" > /dev/null 2>&1 & helpers="$helpers $!"; }
helper "$sim/modemsim" --mode gsm --device "$root/dev/ttyUSB2" --store "$root/simstore" --log "$root/modem.log"
helper socat -u TCP-LISTEN:5999,bind=127.0.0.1,reuseaddr,fork OPEN:/dev/null
helper "$sim/nmea_feeder" "$root/dev/ttyGPS" "$SRC/sim/nmea/sample.nmea" 2000
helper socat "PTY,link=$root/dev/ttyModule,raw,echo=0" "PTY,link=$root/dev/module-side,raw,echo=0"
helper socat "PTY,link=$root/dev/ttyS0,raw,echo=0" "PTY,link=$root/dev/board-side,raw,echo=0"
t=0
while [ "$t" -lt 300 ]; do
    [ -e "$root/dev/ttyUSB2" ] && [ -e "$root/dev/ttyGPS" ] && [ -e "$root/dev/ttyModule" ] && [ -e "$root/dev/ttyS0" ] && break
    sleep 0.1; t=$((t + 1))
done
helper sh -c 'cat "$1" > /dev/null' _ "$root/dev/module-side"

daemons=
# start NAME NETNS(or -) PROGRAM ARGS...
start() {
    name=$1 ns=$2
    shift 2
    if [ "$ns" = - ]; then
        ROUTER_ROOT=$root PATH="$root/stubbin:$PATH" "$@" < /dev/null > /dev/null 2>&1 &
    else
        ip netns exec "$ns" env ROUTER_ROOT="$root" PATH="$root/stubbin:$PATH" "$@" < /dev/null > /dev/null 2>&1 &
    fi
    daemons="$daemons $name:$!"
}
start brenlow - "$bin/brenlow" "$root/dev/ttyUSB2" "$root/var/run/brenlow.pid" x 1 0
start tolvane-send ma "$bin/tolvane" remote 10.215.0.2 local 10.215.0.1 dev mav gname gre-a mode send seconds 2 retry 3
start tolvane-recv mb "$bin/tolvane" remote 10.215.0.1 local 10.215.0.2 dev mbv gname gre-b mode receive timeout 5
start moskar ma "$bin/moskar" mav "$root/var/run/moskar.pid" 1
start quorral - "$bin/quorral" "$root/dev/ttyGPS" "$root/var/run/quorral.pid"
start dastral - "$bin/dastral" "$root/dev/ttyModule" "$root/var/run/dastral.pid"
# Some traffic for moskar to count and the bridge to copy.
helper ip netns exec mb sh -c 'while :; do ping -c 2 -s 1000 10.215.0.1; sleep 1; done'
helper sh -c 'while :; do printf "AT+VER?\n" > "$1"; sleep 5; done' _ "$root/dev/board-side"

sleep 60
summary=''
missing=''
for entry in $daemons; do
    name=${entry%%:*} pid=${entry#*:}
    line=$(awk '/^Rss:/ { r = $2 } /^Pss:/ { p = $2 } /^Private_Dirty:/ { d = $2 }
                END { if (r != "") print r, p, d }' "/proc/$pid/smaps_rollup" 2>/dev/null)
    if [ -z "$line" ]; then missing="$missing $name"; continue; fi
    set -- $line
    echo "mips-vm: memory $name $MIPS_VM_LIBC Rss $1 kB Pss $2 kB Private_Dirty $3 kB"
    summary="$summary $name $1/$3;"
done
for entry in $daemons; do kill "${entry#*:}" 2>/dev/null; done
for p in $helpers; do kill "$p" 2>/dev/null; done
if [ -z "$missing" ]; then
    echo "RESULT m PASS Rss/Private_Dirty kB after 60 s ($MIPS_VM_LIBC):$summary"
else
    echo "RESULT m FAIL not running after 60 s:$missing; measured:$summary"
fi
