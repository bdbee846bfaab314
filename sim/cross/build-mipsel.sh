#!/usr/bin/env bash
# Cross-builds the five daemons and the tests for the router (mipsel) and runs
# the tests under qemu-mipsel. Run as root on Debian 12: installs what it needs.
# Usage: sim/cross/build-mipsel.sh [build folder, default build-mipsel]
# CROSS_TESTS=unit runs only the unit tests (what CI runs); the default runs
# every test, the end-to-end ones starting the mipsel daemons under qemu.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-build-mipsel}
export DEBIAN_FRONTEND=noninteractive

need=()
for p in g++-mipsel-linux-gnu qemu-user cmake make libgtest-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || need+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
    dpkg --add-architecture mipsel
    apt-get update -q
fi
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${need[@]}"
fi

# libpcap and its run-time dependencies for mipsel, unpacked rather than installed:
# multi-arch installs clash when the host's security updates are newer.
sysroot=$PWD/$out/sysroot
if [ ! -f "$sysroot/usr/lib/mipsel-linux-gnu/libpcap.so" ]; then
    mkdir -p "$out/debs" "$sysroot"
    (cd "$out/debs" && apt-get download -q \
        libpcap0.8:mipsel libpcap0.8-dev:mipsel libdbus-1-3:mipsel libsystemd0:mipsel \
        libcap2:mipsel libgcrypt20:mipsel libgpg-error0:mipsel liblz4-1:mipsel \
        liblzma5:mipsel libzstd1:mipsel 2>&1 | grep -v unsandboxed || true)
    for deb in "$out"/debs/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
fi

cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake \
      -DMIPSEL_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$out" -j"$(nproc)"

# The tests start the built daemons and tools themselves; with binfmt_misc the
# kernel hands those mipsel binaries to qemu too.
export QEMU_LD_PREFIX=/usr/mipsel-linux-gnu
export LD_LIBRARY_PATH=$sysroot/usr/lib/mipsel-linux-gnu:$sysroot/lib/mipsel-linux-gnu
# Tests that need what user-mode emulation lacks (live packet capture) skip by this name.
export ROUTER_TEST_EMULATOR=qemu-mipsel
# The unit tests: they start no daemon, so they need no binfmt_misc either.
unit=(-R 'support_test|pdu_test|codecs_fuzz_smoke|sms_(at_channel|config|handler|spool|rssi_alarm)_test|traffic_(period|counters|alarm)_test|tunnelwatch_(packet|entry)_test|gps_(nmea|clients)_test')
selection=("${unit[@]}")
if [ "${CROSS_TESTS:-all}" != unit ]; then
    if [ -w /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
        [ -e /proc/sys/fs/binfmt_misc/qemu-mipsel ] || cat /usr/lib/binfmt.d/qemu-mipsel.conf > /proc/sys/fs/binfmt_misc/register 2>/dev/null || true
    fi
    if [ -e /proc/sys/fs/binfmt_misc/qemu-mipsel ]; then
        selection=()
    else
        echo "binfmt_misc has no qemu-mipsel entry: running only the unit tests"
    fi
fi
echo "Stripped sizes (mipsel):"
for d in brenlow tolvane moskar quorral dastral; do
    [ -f "$out/bin/$d" ] || continue
    mipsel-linux-gnu-strip -o "$out/$d.stripped" "$out/bin/$d"
    printf '  %-8s %s bytes\n' "$d" "$(stat -c %s "$out/$d.stripped")"
done
cd "$out" && ctest --output-on-failure -j"${CTEST_JOBS:-6}" --timeout 900 "${selection[@]}"
