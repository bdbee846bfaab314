#!/usr/bin/env bash
# The router's web interface on a simulated router: OpenWrt's web stack
# (uhttpd, rpcd, LuCI, built from the pinned sources) with the router
# daemons' pages, over the five daemons running on simulators
# (sim/openwrt-web/router.sh). Prints the address and the login; Ctrl-C
# stops it all. As root (chroot, network namespaces).
#
#   sim/run-web.sh              WEB_PORT=N picks the port (default 8080 or the next free one)
#
# RUN_SECONDS=N stops it by itself after N seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
[ "$(id -u)" = 0 ] || { echo "the web interface needs root (chroot and network namespaces); run as root" >&2; exit 1; }
bash sim/install-deps.sh >/dev/null
for p in openssl curl; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "$p" >/dev/null
done
echo "building the daemons, the simulators and OpenWrt's web stack (the first time takes a few minutes) ..."
mkdir -p build
cmake -S . -B build -DCMAKE_BUILD_TYPE=MinSizeRel >build/web-demo-build.log 2>&1
cmake --build build -j"$(nproc)" --target brenlow tolvane moskar quorral dastral modemsim gcom uci nmea_feeder \
    >>build/web-demo-build.log 2>&1 || { tail -20 build/web-demo-build.log; exit 1; }
bash sim/openwrt-web/build.sh >>build/web-demo-build.log 2>&1 || { tail -20 build/web-demo-build.log; exit 1; }

port=${WEB_PORT:-8080}
while ss -ltn "sport = :$port" | grep -q LISTEN || ss -ltn "sport = :$((port + 1))" | grep -q LISTEN; do
    port=$((port + 2))
done
root=$(mktemp -d /tmp/webrouter.XXXXXX)
stop() {
    trap - INT TERM EXIT
    echo
    bash sim/openwrt-web/router.sh down "$root" || true
    echo "Stopped. The router root stays for a look: $root"
}
trap stop INT TERM EXIT
bash sim/openwrt-web/router.sh up "$root" "$port"
cat <<MESSAGE

The router's web interface:  http://127.0.0.1:$port/
Login:                       root / router
Simulated router root:       $root
  the phone's received SMS:  $root/simstore/sent.log
  status files:              $root/var/run/*.status
Text the router from the phone:
  $top/build/sim/bin/modemsim inject --mode gsm --store $root/simstore --from 13912345678 --text hello
Ctrl-C stops everything.
MESSAGE
if [ -n "${RUN_SECONDS:-}" ]; then
    sleep "$RUN_SECONDS"
else
    while :; do sleep 3600; done
fi
