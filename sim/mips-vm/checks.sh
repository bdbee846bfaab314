#!/bin/sh
# The checks run inside the MIPS guest; one "RESULT <check> PASS|FAIL <details>"
# line per check on the console, which the host reads.
# Usage: checks.sh network|unit|all   (settings from /etc/mips-vm.conf)
. /etc/mips-vm.conf
selection=$1
work=/tmp/mips-vm
mkdir -p "$work"
failed=0

# The least free memory seen while the checks run.
(least=999999999
 while :; do
     a=$(sed -n 's/^MemAvailable: *\([0-9]*\).*/\1/p' /proc/meminfo)
     [ "$a" -lt "$least" ] && least=$a && echo "$least" > /run/least-available
     sleep 2
 done) &
sampler=$!

now() { date +%s.%N | cut -c1-14; }
elapsed() { echo "$1 $2" | awk '{printf "%.1f", $2 - $1}'; }
result() {
    echo "RESULT $1 $2 $3"
    [ "$2" = PASS ] || failed=1
}
# Waits up to $3 seconds for the text $2 in the file $1; prints the line found.
wait_text() {
    t=0
    while [ "$t" -lt "$(($3 * 10))" ]; do
        line=$(grep -m1 -- "$2" "$1" 2>/dev/null) && { echo "$line"; return 0; }
        sleep 0.1
        t=$((t + 1))
    done
    return 1
}

# A router root for one tolvane: recording stand-ins, reboot stubbed on PATH.
sandbox() {
    root=$work/$1
    rm -rf "$root"
    sh "$SRC/sim/sandbox.sh" "$root" "$BUILD/sim/bin/uci"
    echo "$root"
}
# tolvane inside namespace $1 with router root $2; the rest are its arguments.
# Its process id goes to $started.
start_tolvane() {
    started=
    ns=$1 root=$2
    shift 2
    if ! env ROUTER_ROOT="$root" PATH="$root/stubbin:$PATH" sh -c 'test "$(command -v reboot)" = "$ROUTER_ROOT/stubbin/reboot"'; then
        echo "reboot does not resolve to the stub in $root" >&2
        return 1
    fi
    ip netns exec "$ns" env ROUTER_ROOT="$root" PATH="$root/stubbin:$PATH" \
        "$BUILD/bin/tolvane" "$@" > "$root/tolvane.out" 2> "$root/tolvane.log" &
    started=$!
}
# The time stamp of the n-th call of the up/down script with word $3 in root $1.
call_time() { awk -v w="$2" -v n="$3" '$2 == "/usr/sbin/skellan" && $4 == w { if (++k == n) { print $1; exit } }' "$1/calls.log"; }
wait_call() {
    t=0
    while [ "$t" -lt "$(($4 * 10))" ]; do
        s=$(call_time "$1" "$2" "$3")
        [ -n "$s" ] && { echo "$s"; return 0; }
        sleep 0.1
        t=$((t + 1))
    done
    return 1
}
two_hosts() {
    ip netns add "$1" && ip netns add "$2" &&
    ip link add "$1v" netns "$1" type veth peer name "$2v" netns "$2" &&
    ip -n "$1" addr add "$3.1/24" dev "$1v" && ip -n "$2" addr add "$3.2/24" dev "$2v" &&
    ip -n "$1" link set "$1v" up && ip -n "$2" link set "$2v" up &&
    ip -n "$1" link set lo up && ip -n "$2" link set lo up
}
stop() { for p in "$@"; do kill -INT "$p" 2>/dev/null; done; for p in "$@"; do wait "$p" 2>/dev/null; done; }

# (a) sender and receiver over a veth pair; the receiver's end is cut and restored.
check_veth() {
    if ! two_hosts va vb 10.211.0; then result a FAIL "cannot make two namespaces over a veth pair"; return; fi
    ra=$(sandbox a-send) rb=$(sandbox a-recv)
    receiver=
    if [ "$MIPS_VM_FAULT" != no-receiver ]; then
        start_tolvane vb "$rb" remote 10.211.0.1 local 10.211.0.2 dev vbv gname greB mode receive timeout 3
        receiver=$started
        wait_text "$rb/tolvane.log" "handle_timeout(3)" 30 >/dev/null || echo "receiver never started its watch period"
    fi
    start_tolvane va "$ra" remote 10.211.0.2 local 10.211.0.1 dev vav gname greA mode send seconds 1 retry 3
    sender=$started
    # Answered keepalives: no script runs.
    sleep 10
    if [ -s "$ra/calls.log" ] || [ -s "$rb/calls.log" ]; then
        result a FAIL "script ran while the link was up: $(cat "$ra/calls.log" "$rb/calls.log" | tr '\n' ';')"
        stop $sender $receiver; ip netns del va; ip netns del vb; return
    fi
    cut=$(now)
    ip -n vb link set vbv down
    da=$(wait_call "$ra" down 1 30) db=$(wait_call "$rb" down 1 30)
    restore=$(now)
    ip -n vb link set vbv up
    ua=$(wait_call "$ra" up 1 30) ub=$(wait_call "$rb" up 1 30)
    stop $sender $receiver
    ip netns del va; ip netns del vb
    times="cut to down: sender $( [ -n "$da" ] && elapsed "$cut" "$da" || echo none) s, receiver $( [ -n "$db" ] && elapsed "$cut" "$db" || echo none) s; restore to up: sender $( [ -n "$ua" ] && elapsed "$restore" "$ua" || echo none) s, receiver $( [ -n "$ub" ] && elapsed "$restore" "$ub" || echo none) s"
    if [ -n "$da" ] && [ -n "$db" ] && [ -n "$ua" ] && [ -n "$ub" ]; then
        result a PASS "$times"
    else
        result a FAIL "$times"; tail -5 "$ra/tolvane.log" "$rb/tolvane.log"
    fi
}

# (b) the kernel's own GRE tunnel as the peer: it unwraps the keepalive and
# routes the inner packet, addressed to the sender, back.
gre_up() {
    ip -n gb link add gre1 type gre local 10.212.0.2 remote 10.212.0.1 || return 1
    ip netns exec gb sh -c 'for k in ip_forward conf/all/rp_filter conf/gre1/rp_filter conf/all/accept_local conf/gre1/accept_local; do
        v=1; case $k in *rp_filter) v=0;; esac; echo $v > /proc/sys/net/ipv4/$k; done'
    ip -n gb link set gre1 up
}
check_gre() {
    if ! two_hosts ga gb 10.212.0; then result b FAIL "cannot make two namespaces over a veth pair"; return; fi
    if ! gre_up; then result b FAIL "the kernel cannot make a GRE device"; ip netns del ga; ip netns del gb; return; fi
    ra=$(sandbox b-send)
    t_start=$(now)
    start_tolvane ga "$ra" remote 10.212.0.2 local 10.212.0.1 dev gav gname greA mode send seconds 1 retry 3 debug 1
    sender=$started
    answered=
    wait_text "$ra/tolvane.log" "reply approved" 30 >/dev/null && answered=$(now)
    sleep 3
    early=$(cat "$ra/calls.log")
    if [ -z "$answered" ] || [ -n "$early" ]; then
        stop $sender
        ip netns del ga; ip netns del gb
        result b FAIL "$( [ -z "$answered" ] && echo "no answer from the kernel's GRE endpoint within 30 s" || echo "answered $(elapsed "$t_start" "$answered") s after start")${early:+; script ran while up: $(echo "$early" | tr '\n' ';')}"
        tail -5 "$ra/tolvane.log"
        return
    fi
    cut=$(now)
    ip -n gb link del gre1
    down=$(wait_call "$ra" down 1 30)
    restore=$(now)
    gre_up
    up=$(wait_call "$ra" up 1 30)
    stop $sender
    ip netns del ga; ip netns del gb
    times="first answer $( [ -n "$answered" ] && elapsed "$t_start" "$answered" || echo none) s after start; GRE device deleted to down: $( [ -n "$down" ] && elapsed "$cut" "$down" || echo none) s; made again to up: $( [ -n "$up" ] && elapsed "$restore" "$up" || echo none) s"
    if [ -n "$down" ] && [ -n "$up" ]; then
        result b PASS "$times"
    else
        result b FAIL "$times"; tail -5 "$ra/tolvane.log"
    fi
}

# One GoogleTest selection that must run and pass, not skip: check name, binary, filter, count.
gtest_check() {
    log=$work/$1.log
    t0=$(now)
    timeout "$TEST_TIMEOUT" "$2" --gtest_filter="$3" > "$log" 2>&1
    rc=$?
    took=$(elapsed "$t0" "$(now)")
    if [ "$rc" -eq 0 ] && grep -q "^\[  PASSED  \] $4 test" "$log" && ! grep -q "^\[  SKIPPED \]" "$log"; then
        result "$1" PASS "$3: $4 passed in $took s"
    else
        result "$1" FAIL "$3: exit $rc in $took s; $(grep -E '^\[  (PASSED|SKIPPED|FAILED) \]|Skipped|Failure' "$log" | head -5 | tr '\n' ';')"
        tail -20 "$log"
    fi
}

# (d) moskar on the 32-bit kernel's veth counters: a short count, 6 GiB
# through the pair (past 2^32, where a 32-bit reading wraps), and the pair
# made again between two readings. One RESULT line each, with the figures.
check_moskar() {
    gtest_check d "$BUILD/tests/traffic_daemon_test" MoskarTest.UsedGrowsByWhatTheKernelCounted 1
    gtest_check d "$BUILD/tests/traffic_counting_test" 'MoskarTest.SixGibibytes*:MoskarTest.Recreated*' 2
    grep -E '^[0-9]+ GiB in|^old interface' "$work/d.log" | sed 's/^/mips-vm: moskar: /'
}

network_checks() {
    check_veth
    check_gre
    gtest_check c "$BUILD/tests/tunnelwatch_netns_test" TunnelNetns.KernelGreEndpointAnswersKeepalives 1
    check_moskar
    gtest_check e "$BUILD/tests/brenlow_sim_test" 'Modes/BrenlowSim.StatusCommandsReplyWithScriptLineAndDioValues/*' 2
}

# (f) every test binary, JOBS lanes at once taking the next item from one
# queue, each item bounded by TEST_TIMEOUT. The long binaries (their cases run
# one after the other for many minutes) are queued case by case.
# An item that fails in a lane runs once more alone: the lanes load the one
# emulated CPU, and some tests bound their waits tightly. Both results are shown.
SPLIT=" brenlow_sim_test brenlow_spine_test tunnelwatch_netns_test "
# Runs queue item $1 ("binary [filter]"), appends "name binary rc seconds ok skipped" to $2.
run_item() {
    bin=${1%% *} filter=
    [ "$bin" = "$1" ] || filter=${1#* }
    name=$(basename "$bin")${filter:+:$filter}
    logname=$(echo "$name" | tr '/:*' '___')
    t0=$(now)
    (cd "$(dirname "$bin")" && timeout "$TEST_TIMEOUT" "$bin" ${filter:+--gtest_filter="$filter"} > "$work/$logname.log" 2>&1)
    rc=$?
    took=$(elapsed "$t0" "$(now)")
    echo "$name $(basename "$bin") $rc $took $(grep -c '^\[       OK \]' "$work/$logname.log") $(grep -c '^\[  SKIPPED \]' "$work/$logname.log")" >> "$2"
    echo "mips-vm: $name exit $rc in $took s"
    if [ "$rc" -ne 0 ]; then
        grep -A4 -E ': Failure$|^\[  FAILED  \] [A-Za-z]' "$work/$logname.log" | head -40
    fi
}
# The next line of the file $1 for whichever lane asks first ("" at the end);
# mkdir is the lock.
take_next() {
    until mkdir "$work/lock" 2>/dev/null; do sleep 0.2; done
    n=$(($(cat "$work/next") + 1))
    echo "$n" > "$work/next"
    rmdir "$work/lock"
    sed -n "${n}p" "$1"
}
unit_tests() {
    list=/etc/mips-vm.tests
    queue=$work/queue
    : > "$queue"
    while read -r bin; do
        case $SPLIT in
            *" $(basename "$bin") "*)
                timeout 120 "$bin" --gtest_list_tests | awk '/^[^ ]/ { suite = $1; next } { print suite $1 }' |
                    sed "s|^|$bin |" >> "$queue" ;;
            *) echo "$bin" >> "$queue" ;;
        esac
    done < "$list"
    : > "$work/unit.results"
    : > "$work/rerun.results"
    echo 0 > "$work/next"
    lane=0 lanes=
    while [ "$lane" -lt "$JOBS" ]; do
        (while item=$(take_next "$queue"); [ -n "$item" ]; do run_item "$item" "$work/unit.results"; done) &
        lanes="$lanes $!"
        lane=$((lane + 1))
    done
    for p in $lanes; do wait "$p"; done
    awk '$3 != 0 { print $1 }' "$work/unit.results" | while read -r name; do
        echo "mips-vm: $name again, alone"
        bin=$(grep -m1 "/${name%%:*}\$" "$list")
        case $name in *:*) run_item "$bin ${name#*:}" "$work/rerun.results" ;; *) run_item "$bin" "$work/rerun.results" ;; esac
    done
    # A binary passed when every one of its items passed, in a lane or alone.
    verdicts=$(awk 'FILENAME == ARGV[1] { if ($3 == 0) again[$1] = 1; next }
                    { if (!($2 in bad)) bad[$2] = 0; if ($3 != 0 && !($1 in again)) bad[$2] = 1 }
                    END { for (b in bad) print b, bad[b] }' "$work/rerun.results" "$work/unit.results")
    total=$(wc -l < "$list")
    ran=$(echo "$verdicts" | grep -c .)
    passed=$(echo "$verdicts" | awk '$2 == 0' | grep -c .)
    items=$(wc -l < "$queue")
    cases=$(awk '{s += $5} END {print s + 0}' "$work/unit.results")
    skipped=$(awk '{s += $6} END {print s + 0}' "$work/unit.results")
    detail="$passed of $total binaries passed, $JOBS lanes, $items items ($ran binaries ran; $cases cases OK, $skipped skipped)"
    if [ -s "$work/rerun.results" ]; then
        detail="$detail; run again alone: $(awk '{printf "%s exit %s, ", $1, $3}' "$work/rerun.results")"
    fi
    if [ "$passed" -eq "$total" ]; then result f PASS "$detail"; else
        result f FAIL "$detail; failed: $(echo "$verdicts" | awk '$2 != 0 { printf "%s ", $1 }')"
    fi
}

case $selection in
    network) network_checks ;;
    unit) unit_tests ;;
    all) network_checks; unit_tests ;;
esac
kill "$sampler" 2>/dev/null
exit $failed
