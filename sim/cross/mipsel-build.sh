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

# Configures and builds the tree for mipsel against that sysroot. Linked with
# --no-as-needed by default, as OpenWrt's toolchain links (Debian's passes
# --as-needed): the daemons' own flags must keep unused libraries out.
mipsel_build() {
    local out=$1
    cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake \
          -DMIPSEL_SYSROOT="$(realpath -m "$out/sysroot")" -DCMAKE_BUILD_TYPE=MinSizeRel \
          -DCMAKE_EXE_LINKER_FLAGS=-Wl,--no-as-needed >/dev/null
    cmake --build "$out" -j"$(nproc)"
}
