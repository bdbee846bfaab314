#!/bin/sh
# The shared libraries each daemon needs at run time (NEEDED) against what its
# package pulls in: the C library and libgcc_s, which every OpenWrt image has,
# and the libraries named in the package's DEPENDS. A library outside these
# would be missing on a router; a library package in DEPENDS that the program
# does not load costs flash for nothing (checked on dynamic programs only:
# a static build has libpcap inside).
# Usage: needed_libs_test.sh SOURCE_DIR BIN_DIR   (READELF names the tool)
set -eu
src=$1
bin=$2
readelf=${READELF:-readelf}
sdk=$src/tests/sim/openwrt/sdk
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for pkg in brenlow tolvane moskar quorral dastral; do
    prog=$bin/$pkg
    [ -f "$prog" ] || { fail "$pkg: no program at $prog"; continue; }
    depends=$(make -s -C "$src/openwrt" TOPDIR="$sdk" WORK=/nonexistent "print-DEPENDS.$pkg")
    needed=$("$readelf" -d "$prog" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
    echo "$pkg: NEEDED $(echo ${needed:-none}); DEPENDS ${depends:-none}"
    for lib in $needed; do
        case $lib in
            libc.so|libc.so.6|libgcc_s.so.1) continue ;;
        esac
        ok=0
        for dep in $depends; do
            case $lib in "${dep#+}.so"*) ok=1 ;; esac
        done
        [ "$ok" = 1 ] || fail "$pkg needs $lib, which its package does not pull in"
    done
    # Only programs with a dynamic section load libraries at all.
    [ -n "$needed" ] || continue
    for dep in $depends; do
        case $dep in +lib*) ;; *) continue ;; esac
        echo "$needed" | grep -q "^${dep#+}\.so" || fail "$pkg: package depends on ${dep#+}, which $pkg does not load"
    done
done
[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "every daemon loads only the C library, libgcc_s and what its package pulls in"
