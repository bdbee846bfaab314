#!/bin/sh
# Runs brenlow (GSM mode) against the simulated modem in one of the modem's
# bad moments and prints what the phone and the journal got.
#   stall    two spool lines; the modem stops answering at the first
#            submission for STALL_S seconds (default 300), then carries out
#            what it was sent meanwhile
#   holes    messages stored at 1, 2, 4 and 9; three passes later, which were read
#   command  a "cellstatus" command; a second message is stored at the index
#            just freed while the command runs
#   timing   seconds per spool message (10 lines), and from a command SMS
#            arriving to its reply reaching the phone (3 commands)
# Usage: measure_modem.sh [BUILD_DIR] stall|holes|command|timing
# BRENLOW=path runs another build of the daemon against the same simulator.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
scenario=${2:-timing}
mode=gsm
brenlow=${BRENLOW:-$build/bin/brenlow}
. "$here/sim_root.sh"
boss=13912345678
stranger=15500001111
cat > "$root/etc/config/sms" <<CONF
config command 'command'
	option enabled '1'
	option smsack '1'
	option cellstatus 'cellstatus'
config general 'general'
	option debug '5'
	option alarmenabled '0'
CONF
echo "1,1,$boss" > "$root/var/run/phonenum"
export ROUTER_ROOT="$root" PATH="$root/stubbin:$PATH"
log=$root/tmp/modemlog.log
sent=$root/store/sent.log
record=$root/etc/config/sms_record
modemsim=$build/sim/bin/modemsim

now() { date +%s.%N; }
count() { if [ -f "$2" ]; then grep -c -- "$1" "$2" || true; else echo 0; fi; }
inject() {
    from=$1 text=$2
    shift 2
    "$modemsim" inject --mode $mode --store "$root/store" --from "$from" --text "$text" "$@" >/dev/null
}
start_modem() {
    "$modemsim" --mode $mode --device "$root/modem" --store "$root/store" --record "$root/modem.record" "$@" \
        >/dev/null 2>&1 &
    modem_pid=$!
    while [ ! -e "$root/modem" ]; do sleep 0.1; done
}
start_daemon() {
    "$brenlow" "$root/modem" "$root/var/run/brenlow.pid" x 1 0 >/dev/null 2>&1 &
    daemon_pid=$!
}
# Waits until grep finds at least N lines with TEXT in FILE; fails after S seconds.
wait_lines() {
    waited=0
    while [ "$(count "$2" "$3")" -lt "$1" ]; do
        sleep 0.2
        waited=$((waited + 1))
        [ "$waited" -lt $(($4 * 5)) ] || { echo "timed out waiting for $1 x '$2' in $3"; exit 1; }
    done
}
passes() { count "recvmessage is done" "$log"; }
# Read-script runs in the last whole pass.
last_pass_runs() {
    awk '/command SMS_INDEX/ { r++ } /recvmessage is done/ { last = r; r = 0 } END { print last + 0 }' "$log"
}

case $scenario in
stall)
    stall=${STALL_S:-300}
    start_modem --stall-at +CMGS --stall-for "${stall}000"
    printf '13900000001,first line\n13900000002,second line\n' > "$root/tmp/sms_tosend"
    began=$(date +%s)
    start_daemon
    # Done once the batch is gone and the modem has carried out its backlog.
    while [ -e "$root/tmp/sms_sending" ] || [ -e "$root/tmp/sms_tosend" ] ||
          [ $(($(date +%s) - began)) -lt $((stall + 10)) ]; do
        sleep 1
        [ $(($(date +%s) - began)) -lt $((stall + 900)) ] || { echo "batch not finished"; exit 1; }
    done
    received=0; twice=0; lost=0
    for n in 13900000001 13900000002; do
        c=$(count "^$n	" "$sent")
        received=$((received + c))
        [ "$c" -gt 1 ] && twice=$((twice + 1))
        [ "$c" -eq 0 ] && lost=$((lost + 1))
    done
    echo "stall of ${stall} s at the first submission: lines written 2, messages received $received," \
         "sent twice $twice, lost $lost, given up $(count . "$root/tmp/sms_failed"), journal lines" \
         "$(count "^Sent SMS" "$record"), PDUs written $(count '^PDU .*\^Z$' "$root/modem.record")"
    ;;
holes)
    start_modem
    for i in 1 2 4 9; do inject $stranger "hole test $i" --index $i; done
    start_daemon
    wait_lines 3 "recvmessage is done" "$log" 120
    read=$(count "^Received SMS" "$record")
    echo "stored at 1, 2, 4, 9: read $read, lost $((4 - read)) after 3 passes; read-script runs in the third" \
         "pass: $(last_pass_runs)"
    ;;
command)
    start_modem
    # The status script stores a new message while the command is being handled.
    cat > "$root/etc/system/cell.sh" <<SCRIPT
#!/bin/sh
"$modemsim" inject --mode $mode --store "$root/store" --from $stranger --text "arrived meanwhile" >/dev/null
echo "LTE,-71dBm"
SCRIPT
    chmod +x "$root/etc/system/cell.sh"
    inject $boss cellstatus
    start_daemon
    wait_lines 1 "LTE,-71dBm" "$sent" 120
    at=$(passes)
    wait_lines $((at + 3)) "recvmessage is done" "$log" 120
    read=$(count "^Received SMS" "$record")
    echo "command with a message stored at its index meanwhile: messages 2, read $read, lost $((2 - read));" \
         "read-script runs in a pass over the empty store: $(last_pass_runs)"
    ;;
timing)
    echo "LTE,-71dBm" > "$root/answers/cell.sh_1"
    start_modem
    i=1
    while [ $i -le 10 ]; do echo "1390000$(printf %04d $i),timing line $i" >> "$root/tmp/sms_tosend"; i=$((i + 1)); done
    t0=$(now)
    start_daemon
    wait_lines 10 "^1390000" "$sent" 600
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "GSM send: 10 spool messages in %.1f s, %.1f s per message\n", b - a, (b - a) / 10 }'
    total=0
    for k in 1 2 3; do
        wait_lines $(($(passes) + 1)) "recvmessage is done" "$log" 120
        sleep $k
        t0=$(now)
        inject $boss cellstatus
        wait_lines $k "^$boss	" "$sent" 180
        t1=$(now)
        total=$(awk -v s="$total" -v a="$t0" -v b="$t1" 'BEGIN { print s + b - a }')
    done
    awk -v s="$total" 'BEGIN { printf "command SMS to its reply on the phone: %.1f s on average of 3\n", s / 3 }'
    ;;
*)
    echo "unknown scenario $scenario"; exit 2 ;;
esac
