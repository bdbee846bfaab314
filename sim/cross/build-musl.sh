#!/usr/bin/env bash
# Cross-builds the five daemons and the tests for the router's own C library
# (mipsel, musl, soft-float) and runs the unit tests under qemu-mipsel on a
# 24Kc, a CPU without FPU. Run as root on Debian 12: installs what it needs.
# Usage: sim/cross/build-musl.sh [build folder, default build-musl]
# The build folder keeps the toolchain, its caches, libpcap and musl's loader:
# a second run only builds what changed. Besides the tests it links the daemons
# as OpenWrt's SDK does (dynamic, <build>/dynamic), checks what they load and
# starts each on musl's own loader.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-build-musl}
export DEBIAN_FRONTEND=noninteractive
start=$(date +%s)

source sim/cross/mipsel-build.sh
source sim/cross/musl-build.sh
mipsel_install_packages qemu-user cmake make libgtest-dev flex bison dpkg-dev binutils-mipsel-linux-gnu
# npm comes with Node.js where it is installed; Debian's package otherwise.
command -v npm >/dev/null || mipsel_install_packages npm
mkdir -p "$out"
musl_toolchain "$out"
musl_libpcap "$out"
musl_runtime "$out"
prepared=$(date +%s)
musl_build "$out" static "$out/sysroot" "$out/toolchain"
musl_build "$out/dynamic" dynamic "$out/sysroot" "$out/toolchain"
built=$(date +%s)

echo "Stripped sizes (mipsel musl soft-float; dynamic as packaged, static):"
for d in brenlow tolvane moskar quorral dastral; do
    mipsel-linux-gnu-strip -o "$out/$d.stripped" "$out/bin/$d"
    mipsel-linux-gnu-strip -o "$out/dynamic/$d.stripped" "$out/dynamic/bin/$d"
    printf '  %-8s %7s %7s bytes\n' "$d" "$(stat -c %s "$out/dynamic/$d.stripped")" "$(stat -c %s "$out/$d.stripped")"
done
echo "What the dynamic daemons load:"
READELF=mipsel-linux-gnu-readelf sh tests/sim/openwrt/needed_libs_test.sh "$PWD" "$out/dynamic/bin"
# Each dynamic daemon, without arguments, on musl's own loader: it must get as
# far as its own code (the loader exits 127 with "Error loading
# shared library" or "Error relocating" on a missing library or symbol).
echo "The dynamic daemons on musl's loader, without arguments:"
smoke_root=$(realpath -m "$out/smoke-root")
mkdir -p "$smoke_root"
loaded=0
for d in brenlow tolvane moskar quorral dastral; do
    rc=0
    msg=$(ROUTER_ROOT=$smoke_root timeout 120 qemu-mipsel -cpu 24Kc -L "$out/runtime" "$out/dynamic/bin/$d" 2>&1) || rc=$?
    if [ "$rc" -eq 127 ] || [ "$rc" -eq 124 ] || echo "$msg" | grep -qE 'Error (loading|relocating)'; then
        echo "  $d: FAIL, exit $rc: $(echo "$msg" | head -3)"
        loaded=1
    else
        echo "  $d: loaded, ran and exited (exit $rc)"
    fi
done
[ "$loaded" = 0 ] || { echo "a dynamic daemon did not load" >&2; exit 1; }

# The tests start mipsel programs through exec (the uci stand-in, tolvane):
# binfmt_misc hands them to qemu, which takes its CPU from QEMU_CPU.
export QEMU_CPU=24Kc
export ROUTER_TEST_EMULATOR=qemu-mipsel
trap mipsel_binfmt_release EXIT
unit=(-R "$MIPSEL_UNIT_TESTS")
selection=("${unit[@]}")
if mipsel_binfmt_register "$out"; then
    echo "qemu-mipsel registered with binfmt_misc"
else
    echo "binfmt_misc unavailable (needs root and a kernel with binfmt_misc): skipping"
    echo "  traffic_period_test traffic_alarm_test tunnelwatch_entry_test (they start mipsel programs)"
    selection+=(-E 'traffic_(period|alarm)_test|tunnelwatch_entry_test')
fi
status=0
(cd "$out" && ctest --output-on-failure -j"${CTEST_JOBS:-6}" --timeout 900 "${selection[@]}") || status=$?
end=$(date +%s)
echo "musl lane: toolchain, libpcap and loader $((prepared - start)) s, builds $((built - prepared)) s, tests $((end - built)) s, whole $((end - start)) s"
exit $status
