#!/bin/sh
# Builds and installs the OpenWrt packages the way the build system does:
# Build/Prepare, configure with the package's CMake options, build, the
# install step into PKG_INSTALL_DIR, then every Package/<name>/install recipe
# into its own root. Checks modes, conffiles and that nothing of the host
# tools or tests is installed.
# Usage: package_install_test.sh SOURCE_DIR WORK_DIR
set -eu
src=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
sdk=$src/tests/sim/openwrt/sdk
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

owrt_make() { make -s -C "$src/openwrt" TOPDIR="$sdk" WORK="$work" "$@"; }

owrt_make install >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "FAIL: build or install step"; exit 1; }
stage=$(owrt_make print-PKG_INSTALL_DIR)
echo "Staged by the install step ($stage):"
(cd "$stage" && find . ! -type d -printf '  %m %p\n' | sort)
# The install step stages exactly the five daemons.
expected="./usr/sbin/brenlow ./usr/sbin/dastral ./usr/sbin/moskar ./usr/sbin/quorral ./usr/sbin/tolvane"
got=$(cd "$stage" && find . ! -type d | sort | tr '\n' ' ')
[ "$got" = "$expected " ] || fail "staged tree is '$got', expected '$expected'"

# expected_files PACKAGE UCI_PACKAGE: "path mode", one per line.
expected_files() {
    printf '/usr/sbin/%s 755\n/etc/init.d/%s 755\n/etc/config/%s 600\n/etc/uci-defaults/90-%s 644\n' \
        "$1" "$1" "$2" "$1"
    [ "$1" != brenlow ] || echo "/etc/hotplug.d/tty/30-brenlow 644"
}

for pkg in brenlow tolvane moskar quorral dastral; do
    owrt_make "package-$pkg" >"$work/$pkg.log" 2>&1 || { cat "$work/$pkg.log"; fail "$pkg: install recipe"; continue; }
    root=$work/root/$pkg
    echo "Package $pkg:"
    (cd "$root" && find . ! -type d -printf '  %m %p\n' | sort)
    config=$pkg
    [ "$pkg" != brenlow ] || config=sms
    count=0
    while read -r path mode; do
        count=$((count + 1))
        [ -f "$root$path" ] || { fail "$pkg: $path not installed"; continue; }
        got=$(stat -c %a "$root$path")
        [ "$got" = "$mode" ] || fail "$pkg: $path has mode $got, expected $mode"
    done <<LIST
$(expected_files "$pkg" "$config")
LIST
    files=$(cd "$root" && find . ! -type d | wc -l)
    [ "$files" -eq "$count" ] || fail "$pkg: $files files installed, expected $count"
    for conffile in $(owrt_make "conffiles-$pkg"); do
        [ -f "$root$conffile" ] || fail "$pkg: conffile $conffile not installed"
    done
    # Daemons are the target's own programs, not host stand-ins.
    if (cd "$root" && find . | grep -E 'sim|test|stub|uci$|gcom'); then
        fail "$pkg: a simulator or test file is installed"
    fi
done

# Package metadata the build system and opkg read.
version=$(owrt_make print-PKG_VERSION)
commits=$(git -C "$src" rev-list --count HEAD 2>/dev/null || echo 0)
[ "$version" = "1.0.$commits" ] || fail "PKG_VERSION $version does not follow the commit count $commits"
[ -n "$(owrt_make print-PKG_MAINTAINER)" ] || fail "PKG_MAINTAINER empty"
for part in support sms tunnelwatch traffic gps serialbridge CMakeLists.txt; do
    case " $(owrt_make print-PKG_FILE_DEPENDS) " in
        *" $src/$part "*) ;;
        *) fail "PKG_FILE_DEPENDS misses $part" ;;
    esac
done
awk '/^define Package\/brenlow$/,/^endef/' "$src/openwrt/Makefile" | grep -q 'DEPENDS+=.*+comgt' ||
    fail "brenlow does not depend on comgt"

if [ "$failures" -eq 0 ]; then
    echo "package install: all checks passed"
else
    echo "package install: $failures checks failed"
    exit 1
fi
