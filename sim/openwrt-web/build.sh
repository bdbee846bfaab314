#!/usr/bin/env bash
# Builds OpenWrt's own runtime pieces from the pinned archives in
# third_party/openwrt-web into a private root, for tests that run the router's
# real configuration tools and its web stack on Debian.
# Usage: sim/openwrt-web/build.sh [OUT [base|web]]   (default build/openwrt-web web)
# "base" stops after the configuration tools and the shell library (about 20 s
# cold), which is all the init-script and option tests need.
# Result: OUT/root/usr/bin/uci, OUT/root/usr/bin/validate_data,
# OUT/root/usr/bin/jsonfilter, OUT/root/usr/share/libubox/jshn.sh,
# OUT/root/etc/rc.common, OUT/root/lib/functions*.sh, the libraries under
# OUT/root/usr/lib (run with LD_LIBRARY_PATH=OUT/root/usr/lib); and the web
# stack as OpenWrt installs it: ubusd, rpcd with its file, ucode and luci
# plugins, uhttpd with its ubus and ucode handlers, cgi-io, ucode with the
# modules LuCI needs, and luci-base, luci-mod-status, luci-theme-bootstrap and
# luci-lib-chartjs under /www and /usr/share/ucode/luci (sim/openwrt-web/stack.sh
# runs it). Rebuilds only when an archive, a stand-in or this script changes
# (OUT/stamp).
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
out=$(realpath -m "${1:-build/openwrt-web}")
archives=$src/third_party/openwrt-web
what=${2:-web}
case "$what" in base|web) ;; *) echo "usage: $0 [OUT [base|web]]" >&2; exit 2 ;; esac
root=$out/root

# Tests that need these pieces may call this at the same time in one build
# folder: one builds, the others wait for it and find the stamp.
mkdir -p "$(dirname "$out")"
exec 9>"$out.lock"
flock 9

standins=$src/sim/openwrt-web/standins
stamp=$( (cat "$archives"/*.tar.gz "$0" "$standins"/*) | sha256sum | cut -d' ' -f1)
# A whole build serves a request for the base too.
if [ -f "$out/stamp" ]; then
    have=$(cat "$out/stamp")
    if [ "$have" = "web:$stamp" ] || [ "$have" = "$what:$stamp" ]; then
        exit 0
    fi
fi

export DEBIAN_FRONTEND=noninteractive
need=()
for p in cmake make gcc pkg-config libjson-c-dev libnl-3-dev libcrypt-dev; do
    dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${need[@]}" >/dev/null
fi

rm -rf "$out"
mkdir -p "$out/src" "$root"
unpack() { mkdir -p "$out/src/$1" && tar -xzf "$archives/$1.tar.gz" -C "$out/src/$1"; }
jobs=$(nproc)
cmake_build() { # NAME SOURCE_DIR [cmake args]; OBJ overrides the build folder, CFLAGS_EXTRA adds flags
    local name=$1 dir=$2 obj=${OBJ:-$out/obj/$1}
    shift 2
    cmake -S "$dir" -B "$obj" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_C_FLAGS="-I$root/usr/include -Wno-error ${CFLAGS_EXTRA:-}" \
        -DCMAKE_EXE_LINKER_FLAGS="-L$root/usr/lib" -DCMAKE_SHARED_LINKER_FLAGS="-L$root/usr/lib" \
        -DCMAKE_MODULE_LINKER_FLAGS="-L$root/usr/lib" \
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

if [ "$what" = base ]; then
    echo "base:$stamp" >"$out/stamp"
    echo "OpenWrt configuration tools built in $root"
    exit 0
fi

# ---- the web stack

unpack ubus
cmake_build ubus "$out/src/ubus/ubus" -DBUILD_LUA=OFF -DBUILD_EXAMPLES=OFF
unpack ucode
# The modules LuCI and the rpcd plugins load; nl80211, rtnl and digest need
# headers Debian lacks.
cmake_build ucode "$out/src/ucode/ucode" -DNL80211_SUPPORT=OFF -DRTNL_SUPPORT=OFF -DDIGEST_SUPPORT=OFF \
    -DZLIB_SUPPORT=OFF -DUCI_SUPPORT=ON -DUBUS_SUPPORT=ON -DULOOP_SUPPORT=ON
# ucode's util.h calls vasprintf; the sources define _GNU_SOURCE empty, so
# the same empty definition is no redefinition under their -Werror.
unpack rpcd
CFLAGS_EXTRA=-D_GNU_SOURCE= cmake_build rpcd "$out/src/rpcd/rpcd" -DRPCSYS_SUPPORT=OFF -DIWINFO_SUPPORT=OFF
# OpenWrt's rpcd package installs the unauthenticated session's ACL, not CMake.
mkdir -p "$root/usr/share/rpcd/acl.d"
cp "$out/src/rpcd/rpcd/unauthenticated.json" "$root/usr/share/rpcd/acl.d/"
unpack uhttpd
CFLAGS_EXTRA="-D_GNU_SOURCE= -Wno-error=stringop-overread" cmake_build uhttpd "$out/src/uhttpd/uhttpd" \
    -DTLS_SUPPORT=OFF -DLUA_SUPPORT=OFF
unpack lucihttp
CFLAGS_EXTRA=-D_GNU_SOURCE= cmake_build lucihttp "$out/src/lucihttp/lucihttp" -DBUILD_LUA=OFF -DBUILD_TESTS=OFF
unpack cgi-io
cmake_build cgi-io "$out/src/cgi-io/cgi-io"
# OpenWrt's package puts it in /usr/libexec with its CGI names under /www.
mkdir -p "$root/usr/libexec" "$root/www/cgi-bin"
mv "$root/usr/sbin/cgi-io" "$root/usr/libexec/cgi-io"
for name in cgi-upload cgi-download cgi-backup cgi-exec; do ln -sf ../../usr/libexec/cgi-io "$root/www/cgi-bin/$name"; done

unpack luci
luci=$out/src/luci/luci
# rpcd-mod-luci asks for CMake 3.31 for 3.13 features: one file, built here,
# against Debian's libnl-3 and a stand-in of libiwinfo's header.
gcc -O2 -fPIC -shared -std=gnu99 -I"$standins" -I"$root/usr/include" -I"$out/src/rpcd/rpcd/include" \
    -I/usr/include/libnl3 -o "$root/usr/lib/rpcd/luci.so" "$luci/libs/rpcd-mod-luci/src/luci.c" \
    -L"$root/usr/lib" -lubox -lubus -luci -ldl -lnl-3
# luci-base's ucode module; its Makefile puts -lcrypt before the objects.
make -s -C "$luci/modules/luci-base/src" CFLAGS="-O2 -D_GNU_SOURCE -I$root/usr/include" FPIC=-fPIC \
    LUCI_VERSION=a8333700 LUCI_GITBRANCH=pinned lib/luci.o lib/lmo.o lib/plural_formula.o version.uc >/dev/null
mkdir -p "$root/usr/lib/ucode/luci" "$root/usr/share/ucode/luci"
gcc -shared -o "$root/usr/lib/ucode/luci/core.so" "$luci/modules/luci-base/src/lib/luci.o" \
    "$luci/modules/luci-base/src/lib/lmo.o" "$luci/modules/luci-base/src/lib/plural_formula.o" -lcrypt
cp "$luci/modules/luci-base/src/version.uc" "$root/usr/share/ucode/luci/version.uc"
# Laid out as luci.mk installs a LuCI package: htdocs/ to /www, root/ to /,
# ucode/ to /usr/share/ucode/luci.
luci_install() {
    local dir=$luci/$1
    if [ -d "$dir/htdocs" ]; then cp -pR "$dir/htdocs/." "$root/www/"; fi
    if [ -d "$dir/root" ]; then cp -pR "$dir/root/." "$root/"; fi
    if [ -d "$dir/ucode" ]; then cp -pR "$dir/ucode/." "$root/usr/share/ucode/luci/"; fi
}
for package in modules/luci-base modules/luci-mod-status themes/luci-theme-bootstrap libs/luci-lib-chartjs; do
    luci_install "$package"
done
# LuCI's html module (ucode-mod-html) is not among the pinned sources.
cp "$standins/html.uc" "$root/usr/share/ucode/html.uc"

echo "web:$stamp" >"$out/stamp"
echo "OpenWrt pieces built in $root"
