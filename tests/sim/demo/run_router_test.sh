#!/usr/bin/env bash
# The demo stops everything it started however it ends: its output piped into
# `head -n 5`, piped into a program that is then killed, Ctrl-C with the
# output piped into tee, and killed outright, after which `stop` cleans up
# (and stops another demo that still runs). Each time no process, namespace
# or mount of that demo may remain.
# Usage: run_router_test.sh SOURCE_DIR BUILD_DIR
set -u
src=$1
work=$(mktemp -d /tmp/demo-test.XXXXXX)
# Roots, and the running demo's note, go to a folder of this test alone.
export TMPDIR=$work DEMO_BUILD=$2
demo=$src/sim/run-router.sh
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
trap 'bash "$demo" stop >/dev/null 2>&1; rm -rf "$work"' EXIT
[ "$(id -u)" = 0 ] || echo "note: not root, so the demo starts no tolvane and makes no namespaces"

# Waits up to SECONDS for a line matching PATTERN in FILE.
wait_line() {
    for _ in $(seq $(($3 * 10))); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    fail "no line '$2' in $1 within $3 s"; return 1
}
root_in() { sed -n 's/^Simulated router root: //p' "$1" | head -n 1; }
# Waits up to SECONDS for process PID (or group -PGID) to end.
wait_gone() {
    for _ in $(seq $(($2 * 10))); do kill -0 -- "$1" 2>/dev/null || return 0; sleep 0.1; done
    fail "$1 still running after $2 s"; return 1
}

# Nothing of the demo on ROOT remains: no process started for it, no
# namespace it made, no mount of one, no record that says it runs.
assert_clean() {
    local case=$1 root=$2 proc ns
    [ -n "$root" ] || { fail "$case: the demo named no root"; return; }
    for proc in /proc/[0-9]*; do
        { grep -qzxF "ROUTER_ROOT=$root" "$proc/environ" || tr '\0' ' ' < "$proc/cmdline" | grep -qF "$root/"; } \
            2>/dev/null && fail "$case: left running: $(tr '\0' ' ' < "$proc/cmdline" 2>/dev/null)"
    done
    while read -r ns; do
        ip netns list 2>/dev/null | grep -q "^$ns\\b" && fail "$case: namespace $ns remains"
        grep -q "/run/netns/$ns " /proc/mounts && fail "$case: mount of $ns remains"
    done < <(cat "$root/demo/netns" 2>/dev/null)
    [ ! -e "$root/demo/main.pid" ] || fail "$case: $root still recorded as a running demo"
    ! grep -qF "$root " "$work/router-demo.current" 2>/dev/null || fail "$case: $root still the current demo"
}

# 1. The reader takes five lines and ends.
timeout 120 bash "$demo" 2>/dev/null | head -n 5 > "$work/head.out"
[ "${PIPESTATUS[0]}" != 124 ] || fail "head: the demo ran on after its reader had gone"
[ "$(wc -l < "$work/head.out")" = 5 ] || fail "head: $(wc -l < "$work/head.out") lines"
assert_clean head "$(root_in "$work/head.out")"

# 2. The reader is killed while the story runs.
mkfifo "$work/pipe"
bash "$demo" > "$work/pipe" 2>/dev/null &
demo_pid=$!
cat "$work/pipe" > "$work/killed.out" &
reader=$!
wait_line "$work/killed.out" '\[bridge\]  typing' 60
kill -KILL "$reader"
wait "$reader" 2>/dev/null
wait_gone "$demo_pid" 60
assert_clean "killed reader" "$(root_in "$work/killed.out")"

# 3. Ctrl-C reaches the demo and tee together (a terminal's foreground group).
perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV' setsid bash -c 'bash "$0" 2>/dev/null | tee "$1" >/dev/null' \
    "$demo" "$work/ctrl-c.out" &
group=$!
wait_line "$work/ctrl-c.out" '\[bridge\]  typing' 60
kill -INT -- "-$group"
wait_gone "-$group" 60
assert_clean "Ctrl-C" "$(root_in "$work/ctrl-c.out")"

# 4. One demo is killed outright while another runs; `stop` handles both.
bash "$demo" > "$work/unclean.out" 2>&1 &
unclean=$!
bash "$demo" > "$work/running.out" 2>&1 &
wait_line "$work/unclean.out" '\[bridge\]  typing' 60
wait_line "$work/running.out" '\[bridge\]  typing' 60
kill -KILL "$unclean"
wait "$unclean" 2>/dev/null
unclean_root=$(root_in "$work/unclean.out")
running_root=$(root_in "$work/running.out")
grep -qzxF "ROUTER_ROOT=$unclean_root" /proc/[0-9]*/environ 2>/dev/null ||
    fail "unclean: nothing was left to clean up, so this case proves nothing"
bash "$demo" stop > "$work/stop.out" 2>&1
grep -q "cleaned up after the demo that ended uncleanly on $unclean_root" "$work/stop.out" ||
    fail "stop did not say what it cleaned up: $(cat "$work/stop.out")"
grep -q "^  stopped brenlow" "$work/stop.out" || fail "stop did not name brenlow: $(cat "$work/stop.out")"
grep -q "stopped the demo running on $running_root" "$work/stop.out" ||
    fail "stop did not stop the running demo: $(cat "$work/stop.out")"
grep -q "^Stopped\." "$work/running.out" || fail "the running demo did not say it stopped"
assert_clean unclean "$unclean_root"
assert_clean "running, stopped" "$running_root"
bash "$demo" stop | grep -q "no demo is running" || fail "a second stop found something"

[ "$failures" = 0 ] || exit 1
echo "PASS"
