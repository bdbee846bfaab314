#!/usr/bin/env bash
# Flash each package costs a router: the stripped daemon built against
# Debian's glibc (mipsel, hard-float) and against musl (mipsel soft-float, as
# OpenWrt's mipsel_24kc: dynamic as the SDK links it, and static), the files
# the package installs beside it, and what it pulls in beyond a base image.
# A benchmark, not a test: it prints tables. Reads the build folders of the
# mipsel lanes; run those first:
#   sim/cross/build-mipsel.sh   (MIPSEL_BUILD, default build-mipsel)
#   sim/cross/build-musl.sh     (MUSL_BUILD, default build-musl)
# "xz" is the size after xz -9, close to what a squashfs root costs.
set -euo pipefail
cd "$(dirname "$0")/.."
glibc=${MIPSEL_BUILD:-build-mipsel}
musl=${MUSL_BUILD:-build-musl}
strip=mipsel-linux-gnu-strip
command -v "$strip" >/dev/null || { echo "needs $strip (binutils-mipsel-linux-gnu)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# stripped BINARY -> bytes, or "-" when it was not built
stripped() {
    [ -f "$1" ] || { echo -; return; }
    "$strip" --strip-all -o "$work/s" "$1" && stat -c %s "$work/s"
}
xz_size() { xz -9 -c "$@" | wc -c; }
files_of() { # package -> the files it installs beside the daemon
    local conf=$1
    case $1 in brenlow) conf=sms ;; esac
    echo "openwrt/files/$1.init openwrt/files/$conf.config openwrt/files/$1.defaults"
    [ "$1" != brenlow ] || echo openwrt/files/brenlow.hotplug
}

echo "Stripped daemon, bytes"
fmt="%-8s %12s %14s %12s\n"
printf "$fmt" package glibc-mipsel musl-dynamic musl-static
for d in brenlow tolvane moskar quorral dastral; do
    printf "$fmt" "$d" "$(stripped "$glibc/bin/$d")" "$(stripped "$musl/dynamic/bin/$d")" "$(stripped "$musl/bin/$d")"
done

# Zig's compiler-rt exports its soft-float and math routines, and a dynamic
# link keeps every one that libc.so also defines; GCC's libgcc.a, which
# OpenWrt's SDK links, gives only the routines called. Bytes of the unstripped
# program that come from compiler-rt:
rt_names=$work/rt_names
rt_libs=$(ls "$musl"/zig-cache/o/*/libcompiler_rt.a 2>/dev/null || true)
if [ -n "$rt_libs" ]; then
    # shellcheck disable=SC2086
    mipsel-linux-gnu-nm --defined-only $rt_libs 2>/dev/null |
        awk 'NF == 3 { print $3 }' | sort -u > "$rt_names"
    echo
    echo "Of the musl dynamic daemon, bytes from Zig's compiler-rt"
    for d in brenlow tolvane moskar quorral dastral; do
        [ -f "$musl/dynamic/bin/$d" ] || continue
        printf '  %-8s %s\n' "$d" "$(mipsel-linux-gnu-nm -S -t d "$musl/dynamic/bin/$d" |
            awk -v names="$rt_names" 'BEGIN { while ((getline n < names) > 0) rt[n] = 1 }
                 NF == 4 && ($4 in rt || $4 ~ /^compiler_rt\./) { s += $2 } END { print s + 0 }')"
    done
fi

echo
echo "Package as OpenWrt installs it (musl dynamic daemon + init, config, uci-defaults[, hotplug]), bytes"
fmt="%-8s %8s %8s %8s %8s  %s\n"
printf "$fmt" package daemon files total xz "pulls in beyond a base image"
total_raw=0 total_xz=0
for d in brenlow tolvane moskar quorral dastral; do
    bin=$musl/dynamic/bin/$d
    if [ ! -f "$bin" ]; then printf "$fmt" "$d" - - - - "(no musl build)"; continue; fi
    "$strip" --strip-all -o "$work/$d" "$bin"
    # shellcheck disable=SC2046
    files=$(cat $(files_of "$d") | wc -c)
    # shellcheck disable=SC2046
    x=$(cat "$work/$d" $(files_of "$d") | xz -9 -c | wc -c)
    raw=$(( $(stat -c %s "$work/$d") + files ))
    total_raw=$((total_raw + raw)) total_xz=$((total_xz + x))
    case $d in
        brenlow) extra="comgt (gcom)" ;;
        tolvane) extra="libpcap" ;;
        *) extra="nothing" ;;
    esac
    printf "$fmt" "$d" "$(stat -c %s "$work/$d")" "$files" "$raw" "$x" "$extra"
done
printf "$fmt" all - - "$total_raw" "$total_xz" ""

echo
echo "Libraries: what the daemons load (musl dynamic), and what the packages pulled in before"
for d in brenlow tolvane moskar quorral dastral; do
    [ -f "$musl/dynamic/bin/$d" ] || continue
    printf '  %-8s NEEDED %s\n' "$d" "$(mipsel-linux-gnu-readelf -d "$musl/dynamic/bin/$d" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | tr '\n' ' ')"
done
pcap=$(ls "$musl"/sysroot/usr/lib/libpcap.so.1.* 2>/dev/null | head -1 || true)
if [ -n "$pcap" ]; then
    "$strip" --strip-all -o "$work/libpcap" "$pcap"
    echo "  libpcap.so 1.10.3 built here for musl, stripped: $(stat -c %s "$work/libpcap") bytes, xz $(xz_size "$work/libpcap")"
fi
# The C++ run-time a package pulled in before (DEPENDS +libstdcpp), as the
# cross toolchains here build it; a router's libstdcpp package holds the same library.
lib=/usr/mipsel-linux-gnu/lib/libstdc++.so.6
if [ -f "$lib" ]; then
    "$strip" --strip-all -o "$work/libstdcxx" "$(readlink -f "$lib")"
    echo "  libstdc++.so.6 (glibc mipsel, no longer pulled in): $(stat -c %s "$work/libstdcxx") bytes, xz $(xz_size "$work/libstdcxx")"
fi
