#!/bin/sh
# Measures brenlow on the simulated router: stripped size, CPU and peak RSS over
# an idle minute, then the spool throughput and peak RSS while MESSAGES lines go out.
# Usage: bench_brenlow.sh [BUILD_DIR] [gsm|cdma] [MESSAGES] [IDLE_SECONDS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
mode=${2:-gsm}
messages=${3:-50}
idle=${4:-60}
. "$here/sim_root.sh"
cat > "$root/etc/config/sms" <<CONF
config command 'command'
	option enabled '1'
	option smsack '1'
config general 'general'
	option debug '3'
	option alarmenabled '0'
CONF
cat > "$root/etc/config/mobile" <<CONF
config dev_info 'dev_info1'
	option strength '20'
CONF
echo "1,1,13912345678" > "$root/var/run/phonenum"

strip -o "$root/brenlow.stripped" "$build/bin/brenlow"
echo "stripped size: $(stat -c %s "$root/brenlow.stripped") bytes"

start_modem_and_brenlow

ticks() { awk '{print $14 + $15, $16 + $17}' "/proc/$daemon_pid/stat"; }
hwm() { awk '/VmHWM/ {print $2}' "/proc/$daemon_pid/status"; }
hz=$(getconf CLK_TCK)

sleep 2
set -- $(ticks); own0=$1; kids0=$2
sleep "$idle"
set -- $(ticks); own1=$1; kids1=$2
awk -v o=$((own1 - own0)) -v k=$((kids1 - kids0)) -v hz="$hz" -v s="$idle" 'BEGIN {
    printf "idle %ds: brenlow CPU %.3f %%, with its scripts (gcom, uci, sh) %.3f %%\n", s, 100 * o / hz / s, 100 * (o + k) / hz / s }'
echo "idle peak RSS: $(hwm) kB"

i=0
while [ "$i" -lt "$messages" ]; do
    echo "139$(printf %08d "$i"),bench message $i" >> "$root/tmp/sms_tosend"
    i=$((i + 1))
done
start=$(date +%s)
sent_count() { if [ -f "$root/store/sent.log" ]; then wc -l < "$root/store/sent.log"; else echo 0; fi; }
while [ "$(sent_count)" -lt "$messages" ]; do
    kill -0 "$daemon_pid" || { echo "brenlow died"; exit 1; }
    sleep 1
done
took=$(( $(date +%s) - start ))
awk -v n="$messages" -v t="$took" -v m="$mode" 'BEGIN { printf "%s spool: %d messages in %d s = %.2f per minute\n", m, n, t, 60 * n / t }'
echo "peak RSS after the spool: $(hwm) kB"
