#!/bin/sh
# Kills brenlow with SIGKILL again and again during one spool batch, restarting
# it at once each time as the service manager does, then counts what the
# simulated phone received: lines lost, extra copies, journal lines. With
# VANISH_AT N the modem also vanishes for 5 s at the Nth submission; brenlow is
# started again whenever it has exited and the modem is there.
# Usage: kill_batch.sh [BUILD_DIR] [gsm|cdma] [LINES] [KILLS] [VANISH_AT]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
mode=${2:-cdma}
lines=${3:-12}
kills=${4:-10}
vanish=${5:-}
. "$here/sim_root.sh"
printf "config command 'command'\n\toption enabled '1'\nconfig general 'general'\n\toption debug '3'\n" \
    > "$root/etc/config/sms"
export ROUTER_ROOT="$root" PATH="$root/stubbin:$PATH"
submit=+CMGS; [ "$mode" = cdma ] && submit=^HCMGS
set --
[ -n "$vanish" ] && set -- --vanish-at "$submit:$vanish" --vanish-for 5000
"$build/sim/bin/modemsim" --mode "$mode" --device "$root/modem" --store "$root/store" "$@" >/dev/null 2>&1 &
modem_pid=$!
while [ ! -e "$root/modem" ]; do sleep 0.1; done

i=1
while [ "$i" -le "$lines" ]; do
    echo "139000000$(printf %02d "$i"),batch line $i" >> "$root/tmp/sms_tosend"
    i=$((i + 1))
done
start_daemon() {
    "$build/bin/brenlow" "$root/modem" "$root/var/run/brenlow.pid" x 1 "$cdma" >/dev/null 2>&1 &
    daemon_pid=$!
}
start_daemon
k=0
while [ "$k" -lt "$kills" ]; do
    # Anywhere within a send: 2 to 9 seconds.
    sleep "$(awk -v s="$$$k" 'BEGIN { srand(s); printf "%.1f", 2 + 7 * rand() }')"
    kill -9 "$daemon_pid"
    wait "$daemon_pid" 2>/dev/null || true
    k=$((k + 1))
    start_daemon
done
# A process that exited stays a zombie until waited for: not alive.
alive() { grep -qs '^State:[[:space:]]*[^Z]' "/proc/$1/status"; }
sent_count() { if [ -f "$root/store/sent.log" ]; then wc -l < "$root/store/sent.log"; else echo 0; fi; }
before_vanish=
waited=0
while [ -e "$root/tmp/sms_sending" ] || [ -e "$root/tmp/sms_tosend" ]; do
    if ! alive "$daemon_pid" && [ -e "$root/modem" ]; then
        [ -n "$before_vanish" ] || before_vanish=$(sent_count)
        start_daemon
    fi
    sleep 1
    waited=$((waited + 1))
    [ "$waited" -lt 600 ] || { echo "batch not finished"; exit 1; }
done
sleep 1
lost=0; extra=0
i=1
while [ "$i" -le "$lines" ]; do
    n=$(grep -c "^139000000$(printf %02d "$i")	" "$root/store/sent.log" || true)
    [ "$n" -eq 0 ] && lost=$((lost + 1))
    [ "$n" -gt 1 ] && extra=$((extra + n - 1))
    i=$((i + 1))
done
journal=$(grep -c "^Sent SMS: " "$root/etc/config/sms_record" || true)
echo "$mode batch of $lines lines, $kills kills: lost $lost, extra copies $extra," \
     "phone received $(sent_count), journal lines $journal"
if [ -n "$vanish" ]; then
    total=$(sent_count)
    after=$((total - ${before_vanish:-0}))
    echo "modem vanished at submission $vanish: delivered before ${before_vanish:-0}, after it came back $after"
fi
