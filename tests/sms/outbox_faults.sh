#!/bin/sh
# Real writers and faults against brenlow on the simulated modem; prints one
# line of figures per case. A measurement, not a test.
#   torn       the three writers of spool_writers.sh; figures: lines written /
#              messages the phone received / sent twice / lost / other messages
#   outage     every submission refused for OUTAGE_SECONDS (default 120)
#              while 3 lines wait; then sent / given up
#   fifo, directory, symlink, templink
#              something other than a regular file at a spool path; then
#              whether a later line still reaches the phone, and what leaked
# Usage: outbox_faults.sh [BUILD_DIR] [gsm|cdma] [CASE...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
mode=${2:-gsm}
[ $# -ge 2 ] && shift 2 || set --
[ $# -gt 0 ] || set -- torn outage fifo directory symlink templink
outage=${OUTAGE_SECONDS:-120}

sent_log() { cat "$root/store/sent.log" 2>/dev/null || true; }
# Occurrences of one message in the phone's record.
received() { sent_log | grep -cxF "$1" || true; }
passes() { cat "$root/tmp/modemlog.log" 2>/dev/null | grep -c 'recvmessage is done' || true; }
wait_passes() { # N more passes within SECONDS; 0 when they came
    want=$(( $(passes) + $1 )); t=0
    while [ "$(passes)" -lt "$want" ]; do sleep 1; t=$((t + 1)); [ "$t" -lt "$2" ] || return 1; done
}
# Until the outbox has nothing left and the phone's record stopped growing.
wait_drained() {
    t=0; last=-1; still=0
    while [ "$t" -lt "$1" ]; do
        n=$(sent_log | wc -l)
        if [ -e "$root/tmp/sms_tosend" ] || [ -e "$root/tmp/sms_sending" ] || [ -e "$root/tmp/sms_retry" ] ||
           [ "$n" != "$last" ]; then
            still=0
        else
            still=$((still + 1)); [ "$still" -lt 15 ] || return 0
        fi
        last=$n; sleep 1; t=$((t + 1))
    done
}

start() {
    . "$here/sim_root.sh"
    printf "config command 'command'\n\toption enabled '1'\nconfig general 'general'\n\toption debug '5'\n" \
        > "$root/etc/config/sms"
    [ -z "${RETRYTIME:-}" ] || printf "\toption retrytime '%s'\n" "$RETRYTIME" >> "$root/etc/config/sms"
    start_modem_and_brenlow
    wait_passes 1 60
}
stop() { cleanup; trap - EXIT; daemon_pid=; modem_pid=; }

# Figures for lines written as "number<TAB>text": received, twice, lost.
tally() {
    written=0; got=0; twice=0; lost=0
    while IFS= read -r want; do
        written=$((written + 1)); n=$(received "$want")
        [ "$n" -gt 0 ] && got=$((got + 1)); [ "$n" -gt 1 ] && twice=$((twice + 1)); [ "$n" -eq 0 ] && lost=$((lost + 1))
    done < "$1"
    other=$(sent_log | grep -cvxFf "$1" || true)
}

case_torn() {
    start
    for l in '1\theld whole' '2\theld in two' '3\theld late' '4\ttwo appends' \
             '5\twhole 5' '6\twhole 6' '7\twhole 7' '8\twhole 8'; do
        printf "1390000000$l\\\\n\n"
    done > "$root/expected"
    sh "$here/spool_writers.sh"
    wait_drained 600
    tally "$root/expected"
    echo "$mode torn writers: lines written $written / received $got / sent twice $twice / lost $lost / other messages $other"
    stop
}

case_outage() {
    start
    : > "$root/store/.fail_sends"
    for i in 1 2 3; do echo "1390000001$i,during outage $i" >> "$root/tmp/sms_tosend"; done
    printf '1390000001%s\tduring outage %s\\n\n' 1 1 2 2 3 3 > "$root/expected"
    sleep "$outage"
    rm -f "$root/store/.fail_sends"
    wait_drained 900
    tally "$root/expected"
    given=$(cat "$root/tmp/sms_failed" 2>/dev/null | grep -c 'during outage' || true)
    echo "$mode outage of ${outage}s: lines written $written / received $got / sent twice $twice / lost $lost / given up $given"
    stop
}

# A line written once the odd spool is in place, by a writer that gives up after 10 s.
later_line() {
    timeout 10 sh -c "echo '13900000099,later' >> '$root/tmp/sms_tosend'" 2>/dev/null || echo "writer blocked" >&2
    wait_drained 200
    [ "$(received '13900000099	later\n')" -gt 0 ] && echo delivered || echo "not delivered"
}

case_fifo() {
    start
    mkfifo "$root/tmp/sms_tosend"
    wait_passes 2 60 && alive="loop goes on" || alive="loop stopped"
    # A writer blocked on the FIFO would hand its line to a blocked reader.
    rm -f "$root/tmp/sms_tosend"
    echo "$mode fifo at the spool: $alive, later line $(later_line)"
    stop
}

case_directory() {
    start
    mkdir "$root/tmp/sms_tosend"; : > "$root/tmp/sms_tosend/x"
    wait_passes 2 60 || true
    echo "$mode directory at the spool: later line $(later_line)"
    stop
}

case_symlink() {
    start
    echo "13900009999,token=SECRET42" > "$root/secret"
    ln -s "$root/secret" "$root/tmp/sms_tosend"
    wait_passes 3 200 || true
    leaked=$(sent_log | grep -c SECRET42 || true)
    [ -f "$root/secret" ] && kept="target kept" || kept="target gone"
    echo "$mode symlink at the spool: secret sent $leaked time(s), $kept, later line $(later_line)"
    stop
}

case_templink() {
    start
    echo "precious" > "$root/victim"
    for name in sms_sending.tmp sms_sending.pos.tmp sms_retry.tmp; do ln -s "$root/victim" "$root/tmp/$name"; done
    printf '13900000021,first\n13900000022,second\n' >> "$root/tmp/sms_tosend"
    wait_drained 300
    [ "$(cat "$root/victim")" = precious ] && v="victim unchanged" || v="victim overwritten"
    echo "$mode temporary links planted: $v, received $(sent_log | grep -c '^1390000002' || true) of 2"
    stop
}

for c in "$@"; do "case_$c"; done
