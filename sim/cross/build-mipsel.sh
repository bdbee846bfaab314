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

source sim/cross/mipsel-build.sh
mipsel_install_packages g++-mipsel-linux-gnu qemu-user cmake make libgtest-dev
mipsel_sysroot "$out"
sysroot=$PWD/$out/sysroot
mipsel_build "$out"

# The tests start the built daemons and tools (the uci stand-in among them)
# themselves, through exec: only binfmt_misc hands those mipsel binaries to qemu.
export QEMU_LD_PREFIX=/usr/mipsel-linux-gnu
export LD_LIBRARY_PATH=$sysroot/usr/lib/mipsel-linux-gnu:$sysroot/lib/mipsel-linux-gnu
# Tests that need what user-mode emulation lacks (live packet capture) skip by this name.
export ROUTER_TEST_EMULATOR=qemu-mipsel

trap mipsel_binfmt_release EXIT

unit=(-R "openwrt_needed_libs_test|$MIPSEL_UNIT_TESTS")
selection=("${unit[@]}")
if mipsel_binfmt_register "$out"; then
    echo "qemu-mipsel registered with binfmt_misc"
    [ "${CROSS_TESTS:-all}" = unit ] || selection=()
else
    # These unit tests run the mipsel uci stand-in through the shell.
    echo "binfmt_misc unavailable (needs root and a kernel with binfmt_misc): skipping"
    echo "  traffic_period_test traffic_alarm_test tunnelwatch_entry_test (they start mipsel programs)"
    echo "  and the end-to-end tests; running the other unit tests"
    selection+=(-E 'traffic_(period|alarm)_test|tunnelwatch_entry_test')
fi
echo "Stripped sizes (mipsel):"
for d in brenlow tolvane moskar quorral dastral; do
    [ -f "$out/bin/$d" ] || continue
    mipsel-linux-gnu-strip -o "$out/$d.stripped" "$out/bin/$d"
    printf '  %-8s %s bytes\n' "$d" "$(stat -c %s "$out/$d.stripped")"
done
cd "$out" && ctest --output-on-failure -j"${CTEST_JOBS:-6}" --timeout 900 "${selection[@]}"
