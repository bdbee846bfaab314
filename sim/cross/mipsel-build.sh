# Steps shared by the mipsel lanes (sim/cross/build-mipsel.sh, sim/mips-vm/run.sh).
# Sourced, not run: the caller has set -euo pipefail and sits at the tree's top.

# Installs the named Debian packages that are missing, with mipsel added as a
# foreign architecture (the sysroot's packages come from it).
mipsel_install_packages() {
    local need=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || need+=("$p")
    done
    if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
        dpkg --add-architecture mipsel
        apt-get update -q
    fi
    if [ ${#need[@]} -gt 0 ]; then
        apt-get update -q
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
    fi
}

# libpcap and its run-time dependencies for mipsel, unpacked under
# <build>/sysroot rather than installed: multi-arch installs clash when the
# host's security updates are newer.
mipsel_sysroot() {
    local out=$1 deb
    local sysroot=$out/sysroot
    [ -f "$sysroot/usr/lib/mipsel-linux-gnu/libpcap.so" ] && return 0
    mkdir -p "$out/debs" "$sysroot"
    (cd "$out/debs" && apt-get download -q \
        libpcap0.8:mipsel libpcap0.8-dev:mipsel libdbus-1-3:mipsel libsystemd0:mipsel \
        libcap2:mipsel libgcrypt20:mipsel libgpg-error0:mipsel liblz4-1:mipsel \
        liblzma5:mipsel libzstd1:mipsel 2>&1 | grep -v unsandboxed || true)
    for deb in "$out"/debs/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
}

# The unit tests both mipsel lanes run under qemu (a ctest -R pattern).
# shellcheck disable=SC2034 # read by the lanes that source this file
MIPSEL_UNIT_TESTS='support_test|support_options_test|pdu_test|codecs_fuzz_smoke|sms_(at_channel|config|handler|spool|outbox|rssi_alarm)_test|traffic_(period|counters|alarm)_test|tunnelwatch_(packet|entry)_test|gps_(nmea|clients)_test'

# Configures and builds the tree for mipsel against that sysroot.
mipsel_build() {
    local out=$1
    cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake \
          -DMIPSEL_SYSROOT="$(realpath -m "$out/sysroot")" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$out" -j"$(nproc)"
}

# qemu-mipsel with binfmt_misc, for the tests that start mipsel programs
# through exec (the built daemons and tools, the uci stand-in among them).
binfmt=/proc/sys/fs/binfmt_misc
mounted_binfmt=0
registered_binfmt=0
# Leaves the machine as it was found: our entry removed, the file system
# unmounted if this script mounted it. The caller traps EXIT with it.
mipsel_binfmt_release() {
    [ "$registered_binfmt" = 1 ] && echo -1 > "$binfmt/qemu-mipsel" 2>/dev/null
    [ "$mounted_binfmt" = 1 ] && umount "$binfmt" 2>/dev/null
    return 0
}
# Registers qemu-mipsel from the binfmt description of Debian's
# qemu-user-binfmt (magic and mask of a 32-bit little-endian MIPS ELF),
# without installing that package: it pulls in systemd or binfmt-support and
# points at a wrapper that only it installs. Returns 1 when it cannot.
# Usage: mipsel_binfmt_register BUILD_FOLDER (where the package is unpacked)
mipsel_binfmt_register() {
    local out=$1
    [ -e "$binfmt/qemu-mipsel" ] && return 0
    if [ ! -w "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || return 1
        mounted_binfmt=1
    fi
    local conf=/usr/lib/binfmt.d/qemu-mipsel.conf
    if [ ! -f "$conf" ]; then
        conf=$out/binfmt/usr/lib/binfmt.d/qemu-mipsel.conf
        if [ ! -f "$conf" ]; then
            mkdir -p "$out/binfmt" "$out/debs"
            (cd "$out/debs" && apt-get download -q qemu-user-binfmt 2>&1 | grep -v unsandboxed || true)
            dpkg-deb -x "$out"/debs/qemu-user-binfmt_*.deb "$out/binfmt" || return 1
        fi
    fi
    # :name:type:offset:magic:mask:interpreter:flags; the plain emulator,
    # without the argv[0]-preserving wrapper and its P flag.
    local line
    line=$(awk -F: -v OFS=: 'NF == 8 { $7 = "/usr/bin/qemu-mipsel"; $8 = ""; print }' "$conf")
    [ -n "$line" ] || return 1
    printf '%s' "$line" > "$binfmt/register" 2>/dev/null || return 1
    registered_binfmt=1
}
