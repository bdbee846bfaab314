#!/usr/bin/env bash
# Builds OpenWrt's own runtime pieces from the pinned archives in
# third_party/openwrt-web into a private root, for tests that run the router's
# real configuration tools (and, later, its web stack) on Debian.
# Usage: sim/openwrt-web/build.sh [OUT]   (default build/openwrt-web)
# Result: OUT/root/usr/bin/uci, OUT/root/usr/bin/validate_data,
# OUT/root/usr/bin/jsonfilter, OUT/root/usr/share/libubox/jshn.sh,
# OUT/root/etc/rc.common, OUT/root/lib/functions*.sh, the libraries under
# OUT/root/usr/lib (run with LD_LIBRARY_PATH=OUT/root/usr/lib).
# Rebuilds only when an archive or this script changes (OUT/stamp).
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
out=$(realpath -m "${1:-build/openwrt-web}")
archives=$src/third_party/openwrt-web
root=$out/root

# Tests that need these pieces may call this at the same time in one build
# folder: one builds, the others wait for it and find the stamp.
mkdir -p "$(dirname "$out")"
exec 9>"$out.lock"
flock 9

stamp=$( (cat "$archives"/*.tar.gz "$0") | sha256sum | cut -d' ' -f1)
if [ -f "$out/stamp" ] && [ "$(cat "$out/stamp")" = "$stamp" ]; then
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
need=()
for p in cmake make gcc pkg-config libjson-c-dev; do
    dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${need[@]}" >/dev/null
fi

rm -rf "$out"
mkdir -p "$out/src" "$root"
unpack() { mkdir -p "$out/src/$1" && tar -xzf "$archives/$1.tar.gz" -C "$out/src/$1"; }
jobs=$(nproc)
cmake_build() { # NAME SOURCE_DIR [cmake args]; OBJ overrides the build folder
    local name=$1 dir=$2 obj=${OBJ:-$out/obj/$1}
    shift 2
    cmake -S "$dir" -B "$obj" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_C_FLAGS="-I$root/usr/include -Wno-error" \
        -DCMAKE_EXE_LINKER_FLAGS="-L$root/usr/lib" -DCMAKE_SHARED_LINKER_FLAGS="-L$root/usr/lib" \
        "$@" >"$out/obj-$name.log" 2>&1 || { cat "$out/obj-$name.log"; return 1; }
    make -C "$obj" -j"$jobs" >>"$out/obj-$name.log" 2>&1 || { tail -40 "$out/obj-$name.log"; return 1; }
    make -C "$obj" install DESTDIR="$root" >>"$out/obj-$name.log" 2>&1
}

unpack libubox
cmake_build libubox "$out/src/libubox/libubox" -DBUILD_LUA=OFF -DBUILD_EXAMPLES=OFF -DABIVERSION=
unpack uci
cmake_build uci "$out/src/uci/uci" -DBUILD_LUA=OFF -DBUILD_TESTS=OFF
unpack jsonpath
# Its parser generator is found relative to the build folder: built in place.
OBJ=$out/src/jsonpath/jsonpath cmake_build jsonpath "$out/src/jsonpath/jsonpath"
ln -sf jsonpath "$root/usr/bin/jsonfilter"

# ubox is carried for validate/ only: its own CMakeLists builds daemons that
# are not in the archive, so the two pieces are compiled here.
unpack ubox
v=$out/src/ubox/ubox/validate
gcc -O2 -fPIC -shared -std=gnu99 -I"$root/usr/include" -o "$root/usr/lib/libvalidate.so" "$v/validate.c" \
    -L"$root/usr/lib" -lubox -luci
gcc -O2 -std=gnu99 -I"$root/usr/include" -I"$v" -o "$root/usr/bin/validate_data" "$v/cli.c" \
    -L"$root/usr/lib" -lvalidate -lubox -luci

# The shell library of OpenWrt's base-files: rc.common, functions.sh, procd.sh, ...
unpack openwrt-base-files
cp -a "$out/src/openwrt-base-files/openwrt-files/." "$root/"

echo "$stamp" >"$out/stamp"
echo "OpenWrt pieces built in $root"
