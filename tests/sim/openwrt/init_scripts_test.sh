#!/bin/sh
# Runs the init, hotplug and uci-defaults scripts under the rc.common and
# procd stand-ins, in busybox ash (OpenWrt's /bin/sh) when it is there, in a
# private mount namespace whose /run is empty: the scripts' /var/run paths
# never reach the machine's. Usage: init_scripts_test.sh SOURCE_DIR BUILD_DIR
set -u
src=$1
build=$2
if [ -z "${INIT_TEST_NS:-}" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "SKIP: needs root for a private mount namespace (the scripts write /var/run)"
        exit 77
    fi
    if ! unshare -m true; then
        echo "FAIL: cannot make a private mount namespace as root"
        exit 1
    fi
    exec unshare -m --propagation private env INIT_TEST_NS=1 sh "$0" "$@"
fi
mount -t tmpfs tmpfs /run || exit 1
[ "$(readlink -f /var/run)" = /run ] || mount -t tmpfs tmpfs /var/run || exit 1

if command -v busybox >/dev/null; then
    ash="busybox ash"
else
    echo "busybox not installed: running the scripts in dash"
    ash=sh
fi
work=$(mktemp -d)
trap 'for p in "$work"/procd/*/*.pid; do [ -f "$p" ] && kill "$(cat "$p")" 2>/dev/null; done; rm -rf "$work"' EXIT
standin=$src/tests/sim/openwrt
root=$work/root
mkdir -p "$root/etc/config" "$root/etc/init.d" "$root/etc/rc.d" "$root/lib/functions" "$work/procd"
echo ". '$src/tests/sim/uci/procd_shim.sh'" > "$root/lib/functions.sh"
cp "$standin/procd.sh" "$root/lib/functions/procd.sh"
for d in brenlow tolvane moskar quorral dastral; do
    printf '#!/bin/sh\nexec %s %s %s "$@"\n' "$ash" "$standin/rc.common" "$src/openwrt/files/$d.init" > "$root/etc/init.d/$d"
    chmod +x "$root/etc/init.d/$d"
done
export ROUTER_ROOT="$root" IPKG_INSTROOT="$root" PROCD_DIR="$work/procd" PROCD_STANDIN="$standin"
export PATH="$build/sim/bin:$PATH"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_file() { [ -f "$1" ] || fail "$2: $1 missing"; }
expect_no_file() { [ ! -f "$1" ] || fail "$2: $1 still there"; }
alive() { [ -f "$PROCD_DIR/$1/$2.pid" ] && kill -0 "$(cat "$PROCD_DIR/$1/$2.pid")" 2>/dev/null; }
pid_of() { cat "$PROCD_DIR/$1/$2.pid" 2>/dev/null; }
logged() { grep -cF "$1" "$PROCD_DIR/log" 2>/dev/null; }
svc() { local d=$1; shift; "$root/etc/init.d/$d" "$@"; }

# tolvane: two tunnels; stop and start one, reload after a change.
cp "$src/openwrt/files/tolvane.config" "$root/etc/config/tolvane"
uci set tolvane.gre1.enabled=1
uci set tolvane.gre2=tunnel
uci set tolvane.gre2.enabled=1
uci set tolvane.gre2.remote=10.9.0.2
uci set tolvane.gre2.local=10.9.0.1
uci set tolvane.gre2.dev=eth1
uci set tolvane.gre2.mode=receive
uci commit tolvane
svc tolvane start
expect_file /var/run/tolvane-gre1.pid "tolvane start"
expect_file /var/run/tolvane-gre2.pid "tolvane start"
gre1=$(pid_of tolvane gre1)
svc tolvane stop gre1
grep -q "^tolvane $gre1 TERM" "$PROCD_DIR/daemons.log" ||
    fail "stop gre1: gre1 not stopped with SIGTERM"
expect_no_file /var/run/tolvane-gre1.pid "stop gre1"
expect_file /var/run/tolvane-gre2.pid "stop gre1 must leave gre2's PID file"
alive tolvane gre2 || fail "stop gre1 stopped gre2"
gre2=$(pid_of tolvane gre2)
svc tolvane start gre1
alive tolvane gre1 || fail "start gre1: not running"
[ "$(pid_of tolvane gre2)" = "$gre2" ] || fail "start gre1 restarted gre2"
grep -q 'call service add tolvane' "$PROCD_DIR/ubus.log" || fail "start gre1: not an add"
gre1=$(pid_of tolvane gre1)
uci set tolvane.gre2.timeout=45
uci commit tolvane
svc tolvane reload
grep -q "^tolvane $gre2 TERM" "$PROCD_DIR/daemons.log" || fail "reload: changed gre2 not stopped with SIGTERM"
alive tolvane gre2 && [ "$(pid_of tolvane gre2)" != "$gre2" ] || fail "reload: gre2 not started again"
[ "$(pid_of tolvane gre1)" = "$gre1" ] || fail "reload restarted the unchanged gre1"
svc tolvane stop
alive tolvane gre1 && fail "stop: gre1 still running"
alive tolvane gre2 && fail "stop: gre2 still running"
expect_no_file /var/run/tolvane-gre2.pid "stop"

# A bad value: one log line naming it, that tunnel not started.
uci set tolvane.gre2.timeout=soon
uci set tolvane.gre1.remote=10.0.0.300
uci commit tolvane
svc tolvane start
[ "$(logged "tunnel gre2: option timeout 'soon' is not uinteger, not started")" = 1 ] || fail "bad timeout not logged once"
[ "$(logged "tunnel gre1: option remote '10.0.0.300' is not ip4addr, not started")" = 1 ] || fail "bad remote not logged once"
alive tolvane gre1 && fail "gre1 started with a bad remote"
alive tolvane gre2 && fail "gre2 started with a bad timeout"
grep -q '^validate \[tolvane\] \[tunnel\] \[enabled:bool:0\]' "$PROCD_DIR/validate" || fail "tolvane: no procd validation"
svc tolvane stop

# brenlow and its tty hotplug script: existing character devices stand in
# for the modem's AT ports.
cp "$src/openwrt/files/sms.config" "$root/etc/config/sms"
uci set sms.general.device=/dev/null
uci set sms.general.device2=/dev/zero
uci commit sms
hotplug() { env ACTION="$1" DEVNAME="$2" $ash "$src/openwrt/files/brenlow.hotplug"; }
hotplug add ttyUSB7
[ -d "$PROCD_DIR/brenlow" ] && fail "hotplug: another tty started brenlow"
hotplug add null
alive brenlow modem1 || fail "hotplug add: modem1 not started"
alive brenlow modem2 && fail "hotplug add of modem1 started modem2"
grep -q 'stdout \[1\]' "$PROCD_DIR/brenlow/modem1" || fail "brenlow: stdout not to the log"
hotplug add zero
alive brenlow modem2 || fail "hotplug add: modem2 not started"
hotplug remove null
alive brenlow modem1 && fail "hotplug remove: modem1 still running"
alive brenlow modem2 || fail "hotplug remove of modem1 stopped modem2"
expect_file /var/run/brenlow2.pid "hotplug remove of modem1"
expect_no_file /var/run/brenlow.pid "hotplug remove"
touch "$root/etc/rc.d/disabled.brenlow"
hotplug add null
alive brenlow modem1 && fail "hotplug started a disabled brenlow"
rm "$root/etc/rc.d/disabled.brenlow"
svc brenlow stop
uci set sms.general.module=7
uci commit sms
svc brenlow start
[ "$(logged "option sms.general.module '7' is not range(1,2), not started")" = 1 ] || fail "bad module not logged once"
alive brenlow modem1 && fail "brenlow started with a bad module"
# The daemon's own sections are checked by the same rules it applies.
uci set sms.general.module=1
uci set sms.rssi.failedthres=0
uci commit sms
svc brenlow start
[ "$(logged "option sms.rssi.failedthres '0' is not range(1,999999999), not started")" = 1 ] ||
    fail "bad failedthres not logged once"
alive brenlow modem1 && fail "brenlow started with a bad failedthres"
uci set sms.rssi.failedthres=1
uci set sms.general.module=1
uci set sms.general.onreceive="/$(printf '%0300d' 0)"
uci commit sms
svc brenlow start
[ "$(logged "is not maxlength(255), not started")" = 1 ] || fail "overlong onreceive not logged once"
alive brenlow modem1 && fail "brenlow started with an onreceive path it would cut"
uci set sms.general.onreceive=''
uci set sms.general.retrytime=1d
uci commit sms
svc brenlow start
[ "$(logged "option sms.general.retrytime '1d' is not range(0,999999999), not started")" = 1 ] || fail "bad retrytime not logged once"
alive brenlow modem1 && fail "brenlow started with a bad retrytime"

# moskar: settings in procd's data, so its own writes restart nothing.
cp "$src/openwrt/files/moskar.config" "$root/etc/config/moskar"
svc moskar start
grep -q '^data \[settings= enabled=0 period=month' "$PROCD_DIR/moskar/traffic" || fail "moskar: settings not in data"
grep -q '^env' "$PROCD_DIR/moskar/traffic" && fail "moskar: settings still in the environment"
grep -q 'stdout \[1\]' "$PROCD_DIR/moskar/traffic" || fail "moskar: stdout not to the log"
first=$(pid_of moskar traffic)
uci set moskar.traffic.used=999
uci commit moskar
svc moskar reload
[ "$(pid_of moskar traffic)" = "$first" ] || fail "moskar restarted for its own write"
uci set moskar.traffic.datamax=2000
uci commit moskar
svc moskar reload
[ "$(pid_of moskar traffic)" != "$first" ] || fail "moskar not restarted for a new allowance"
svc moskar stop
# The largest allowance moskar holds starts it; one more digit is refused.
uci set moskar.traffic.datamax=1000000000000
uci commit moskar
svc moskar start
[ "$(logged "option moskar.traffic.datamax '1000000000000' is not and(uinteger,maxlength(12)), not started")" = 1 ] ||
    fail "too large an allowance not logged once"
alive moskar traffic && fail "moskar started with an allowance it cannot hold"
uci set moskar.traffic.datamax=999999999999
uci commit moskar
svc moskar start
alive moskar traffic || fail "moskar not started with the largest allowance"
svc moskar stop

# quorral and dastral refuse garbage.
cp "$src/openwrt/files/quorral.config" "$root/etc/config/quorral"
cp "$src/openwrt/files/dastral.config" "$root/etc/config/dastral"
uci set quorral.general.enabled=1
uci set quorral.general.serverport=99999
uci set dastral.general.enabled=1
uci set dastral.general.stopbits=3
uci commit quorral
uci commit dastral
svc quorral start
svc dastral start
[ "$(logged "option quorral.general.serverport '99999' is not range(0,65535), not started")" = 1 ] || fail "bad port not logged"
[ "$(logged "option dastral.general.stopbits '3' is not range(1,2), not started")" = 1 ] || fail "bad stopbits not logged"
alive quorral instance1 && fail "quorral started with a bad port"
alive dastral instance1 && fail "dastral started with bad stop bits"
uci set quorral.general.serverport=5000
uci set dastral.general.stopbits=1
uci commit quorral
uci commit dastral
svc quorral start
svc dastral start
alive quorral instance1 || fail "quorral not started"
alive dastral instance1 || fail "dastral not started"
svc quorral stop
svc dastral stop

# uci-defaults: the start-up options a kept configuration lacks are added,
# a set one is kept.
printf "config general 'general'\n\toption debug '3'\n" > "$root/etc/config/sms"
printf "config general 'general'\n\toption device '/dev/ttyACM0'\n" > "$root/etc/config/dastral"
printf "config traffic 'traffic'\n\toption ifname 'wwan0'\n" > "$root/etc/config/moskar"
: > "$root/etc/config/quorral"
: > "$root/etc/config/tolvane"
for d in brenlow dastral moskar quorral tolvane; do
    (cd "$root" && $ash "$src/openwrt/files/$d.defaults") || fail "$d uci-defaults failed"
done
[ "$(uci get sms.general.device)" = /dev/ttyUSB2 ] || fail "defaults: sms device not added"
[ "$(uci get sms.general.cdma)" = 0 ] || fail "defaults: sms cdma not added"
[ "$(uci get sms.general.debug)" = 3 ] || fail "defaults: sms debug changed"
[ "$(uci get dastral.general.device)" = /dev/ttyACM0 ] || fail "defaults overwrote dastral's device"
[ "$(uci get dastral.general.port)" = /dev/ttyS0 ] || fail "defaults: dastral port not added"
[ "$(uci get moskar.traffic.ifname)" = wwan0 ] || fail "defaults overwrote moskar's ifname"
[ "$(uci get quorral.general.device)" = /dev/ttyUSB1 ] || fail "defaults: quorral device not added"
[ "$(uci get tolvane.gre1.enabled)" = 0 ] || fail "defaults: no disabled tunnel added"
uci set tolvane.gre1.seconds=9
uci commit tolvane
(cd "$root" && $ash "$src/openwrt/files/tolvane.defaults")
[ "$(uci get tolvane.gre1.seconds)" = 9 ] || fail "defaults overwrote a tunnel"

# Every script the package installs passes shellcheck as plain sh.
if command -v shellcheck >/dev/null; then
    shellcheck -s sh "$src"/openwrt/files/*.init "$src"/openwrt/files/*.hotplug "$src"/openwrt/files/*.defaults ||
        fail "shellcheck warnings"
else
    fail "shellcheck not installed (sim/install-deps.sh installs it)"
fi

if [ "$failures" -eq 0 ]; then
    echo "init scripts: all checks passed"
else
    echo "init scripts: $failures checks failed"
    exit 1
fi
