#!/usr/bin/env bash
# The web lane: the router daemons' LuCI pages in Chromium, on OpenWrt's web
# stack built from the pinned sources, serving a simulated router whose
# daemons run for real (tests/web/browser_test.js). Screenshots and the
# pages' load times go to build/openwrt-web/screenshots.
# Needs root (chroot, network namespaces); without it the lane says so and
# skips. Installs what it needs from Debian's and npm's registries.
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
if [ "$(id -u)" != 0 ]; then
    echo "web lane skipped: it needs root (chroot and network namespaces)"
    exit 0
fi
started=$(date +%s)
export DEBIAN_FRONTEND=noninteractive
need=()
for p in chromium socat openssl curl busybox iproute2; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || need+=("$p")
done
command -v npm >/dev/null || need+=(nodejs npm)
if [ ${#need[@]} -gt 0 ]; then
    apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

bash sim/openwrt-web/build.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build -j"$(nproc)" --target brenlow tolvane moskar quorral dastral modemsim gcom uci nmea_feeder >/dev/null

# puppeteer-core as the lock file pins it, in the build folder; again only
# when the lock changes.
node_dir=$top/build/openwrt-web/node
lock=$(sha256sum tests/web/package-lock.json | cut -d' ' -f1)
if [ "$(cat "$node_dir/stamp" 2>/dev/null)" != "$lock" ]; then
    rm -rf "$node_dir"
    mkdir -p "$node_dir"
    cp tests/web/package.json tests/web/package-lock.json "$node_dir/"
    (cd "$node_dir" && npm ci --no-audit --no-fund --loglevel=error)
    echo "$lock" > "$node_dir/stamp"
fi

root=$(mktemp -d /tmp/webrouter.XXXXXX)
# The web server's port and the next (the GPS stream's server), both free.
port=$((18000 + $$ % 2000))
while ss -ltn "sport = :$port" | grep -q LISTEN || ss -ltn "sport = :$((port + 1))" | grep -q LISTEN; do
    port=$((port + 2))
done
cleanup() {
    bash sim/openwrt-web/router.sh down "$root" || true
    rm -rf "$root"
}
trap cleanup EXIT
# A refused message is given up after 20 s: the test queues it again.
WEB_HOSTILE=1 SMS_RETRYTIME=20 bash sim/openwrt-web/router.sh up "$root" "$port"
shots=$top/build/openwrt-web/screenshots
rm -rf "$shots"
status=0
NODE_PATH=$node_dir/node_modules WEB_URL=http://127.0.0.1:$port WEB_ROOT=$root SIM_BIN=$top/build/sim/bin \
    VALIDATE_DATA=$top/build/openwrt-web/root/usr/bin/validate_data LD_PATH=$top/build/openwrt-web/root/usr/lib \
    SHOTS=$shots node --test --test-concurrency=1 tests/web/browser_test.js || status=$?
if [ "$status" != 0 ]; then
    echo "web lane failed; the router's logs:"
    tail -n 15 "$root"/web/*.log "$root"/web/*.out 2>/dev/null || true
fi
echo "web lane: $(( $(date +%s) - started )) s, screenshots in $shots"
exit "$status"
