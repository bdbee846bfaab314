#!/bin/sh
# The allowance rule of moskar's init script, checked by OpenWrt's own
# validate_data, and moskar itself agree on every value: what one refuses the
# other refuses. Usage: datamax_rule_test.sh SOURCE_DIR BUILD_DIR
set -u
src=$1
build=$2
# validate_data and its libraries, built once from the pinned sources.
bash "$src/sim/openwrt-web/build.sh" "$build/openwrt-web" base >/dev/null || { echo "FAIL: cannot build validate_data"; exit 1; }
ow=$build/openwrt-web/root
rule=$(sed -n 's/.* datamax:\([^ ]*\) .*/\1/p' "$src/openwrt/files/moskar.init")
[ -n "$rule" ] || { echo "FAIL: no datamax rule in moskar.init"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
# "0x10" is left out: validate_data's uinteger takes hexadecimal, moskar reads
# decimal and refuses it at start.
for value in 0 1000 2147483648 4294967296 999999999999 1000000000000 99999999999999999999 abc -5; do
    if LD_LIBRARY_PATH=$ow/usr/lib "$ow/usr/bin/validate_data" "$rule" "$value" 2>/dev/null; then rule_says=ok; else rule_says=refused; fi
    root=$work/$value
    sh "$src/sim/sandbox.sh" "$root" "$build/sim/bin/uci"
    printf "config traffic 'traffic'\n\toption enabled '1'\n\toption datamax '%s'\n" "$value" > "$root/etc/config/moskar"
    # A missing interface: an accepted start shows as its failed first reading.
    ROUTER_ROOT=$root PATH=$root/stubbin:$PATH timeout 20 "$build/bin/moskar" mkabsent0 >/dev/null 2>&1 &
    pid=$!
    daemon_says=
    for _ in $(seq 100); do
        if grep -q "get interface info failed" "$root/var/log/mk.log" 2>/dev/null; then daemon_says=ok; break; fi
        if ! kill -0 "$pid" 2>/dev/null; then daemon_says=refused; break; fi
        sleep 0.1
    done
    kill "$pid" 2>/dev/null
    wait "$pid"
    status=$?
    if [ "$daemon_says" = refused ] && { [ "$status" = 0 ] ||
        [ "$(grep -c "Error： option moskar.traffic.datamax '$value'" "$root/var/log/mk.log")" != 1 ]; }; then
        echo "FAIL: $value: moskar ended with $status without one Error line naming it"
        failures=$((failures + 1))
    fi
    echo "datamax '$value': rule $rule_says, moskar ${daemon_says:-undecided}"
    [ "$rule_says" = "$daemon_says" ] || { echo "FAIL: they disagree on '$value'"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] || exit 1
echo "datamax rule: moskar and validate_data agree"
