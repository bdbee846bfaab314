#!/usr/bin/env bash
# Boots the project's mipsel build on Debian's 32-bit MIPS Malta kernel under
# full-system emulation and runs checks there that user-mode emulation cannot:
# live packet capture and the kernel's own GRE tunnel as tolvane's peer.
# Run as root on Debian 12: installs what it needs.
# Usage: sim/mips-vm/run.sh [network|unit|all|memory]   (default network)
#   network: the network checks (tolvane over veth, tolvane against kernel GRE,
#            the kernel-GRE test case, moskar on veth counters, brenlow on the
#            modem simulator)
#   unit:    every mipsel test binary, run natively on the MIPS kernel
#   memory:  each daemon started on a simulated router, its RSS and
#            Private_Dirty after a minute (bench/mips-vm-memory.sh)
# MIPS_VM_LIBC=musl runs the musl build (sim/cross/build-musl.sh: soft-float;
# the daemons dynamic, as packaged, on musl's own loader; the tests static) on
# a 24Kc, a CPU without FPU; the default is Debian's glibc build.
# VM_FAULT breaks one peer on purpose to show the checks fail: no-gre (the GRE
# modules left out), no-veth (the veth module left out), no-receiver (tolvane's
# receiver not started), bad-filter (the guest's tolvane given a capture filter
# that selects nothing), no-modem (no modem simulator in the guest).
# MIPS_VM_BUILD names the mipsel build folder (default build-mipsel, shared with
# sim/cross/build-mipsel.sh, or build-musl); MIPS_VM_CACHE the download cache
# and guest files (default mips-vm in the build folder).
set -euo pipefail
cd "$(dirname "$0")/../.."
here=$PWD
selection=${1:-network}
case $selection in network|unit|all|memory) ;; *) echo "usage: $0 [network|unit|all|memory]" >&2; exit 2;; esac
libc=${MIPS_VM_LIBC:-glibc}
case $libc in glibc|musl) ;; *) echo "MIPS_VM_LIBC is glibc or musl" >&2; exit 2;; esac
fault=${VM_FAULT:-}
case $fault in ''|no-gre|no-veth|no-receiver|bad-filter|no-modem) ;; *) echo "unknown VM_FAULT: $fault" >&2; exit 2;; esac
default_build=build-mipsel
[ "$libc" = glibc ] || default_build=build-musl
out=$here/${MIPS_VM_BUILD:-$default_build}
cache=${MIPS_VM_CACHE:-$out/mips-vm}
export DEBIAN_FRONTEND=noninteractive
start=$(date +%s)

source sim/cross/mipsel-build.sh
mipsel_install_packages qemu-system-mips g++-mipsel-linux-gnu cmake make libgtest-dev gzip

# The mipsel build, as sim/cross/build-mipsel.sh or build-musl.sh makes it
# (same folder by default, so after that script this step only checks it is
# up to date). The guest's own programs use the glibc of the cross toolchain
# either way.
echo "== mipsel $libc build in $out"
if [ "$libc" = glibc ]; then
    mipsel_sysroot "$out"
    sysroot=$out/sysroot
    mipsel_build "$out" 2>&1 | grep -v '^\[' || true
    cpu=()
else
    source sim/cross/musl-build.sh
    mipsel_install_packages flex bison dpkg-dev
    command -v npm >/dev/null || mipsel_install_packages npm
    mkdir -p "$out"
    musl_toolchain "$out"
    musl_libpcap "$out"
    musl_runtime "$out"
    sysroot=
    musl_build "$out" static "$out/sysroot" "$out/toolchain" 2>&1 | grep -v '^\[' || true
    musl_build "$out/dynamic" dynamic "$out/sysroot" "$out/toolchain" 2>&1 | grep -v '^\[' || true
    cpu=(-cpu 24Kc)
fi
[ -x "$out/bin/tolvane" ] || { echo "the mipsel build failed" >&2; exit 1; }
built=$(date +%s)

# The guest's packages, downloaded once into the cache, never installed: the
# Malta kernel, a userland (dash as /bin/sh, coreutils and iproute2 in full,
# socat, busybox only for the names nothing else gives), netbase's
# /etc/protocols, libpcap, and the libraries all of these need.
debs=$cache/debs
mkdir -p "$debs"
kernel=$(apt-cache depends linux-image-4kc-malta:mipsel 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9][^:]*\).*/\1/p' | head -1)
[ -n "$kernel" ] || { echo "no mipsel Malta kernel in the package lists (apt-get update?)" >&2; exit 1; }
userland=(dash:mipsel coreutils:mipsel iproute2:mipsel socat:mipsel libpcap0.8:mipsel busybox-static:mipsel)
list=$debs/packages.txt
if [ ! -s "$list" ] || ! grep -qx "$kernel:mipsel" "$list"; then
    # Library dependencies only; the C and C++ run-time come from the cross toolchain.
    { echo "$kernel:mipsel"; printf '%s\n' "${userland[@]}" netbase
      apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
          --no-replaces --no-enhances "${userland[@]}" 2>/dev/null |
        grep -E '^(lib[^ ]*|zlib1g):mipsel$' |
        grep -vE '^lib(c6|gcc-s1|stdc\+\+6|elogind0|debian-installer4|newt0\.52|slang2|textwrap1):'
    } | sort -u > "$list.new"
    mv "$list.new" "$list"
fi
missing=()
while read -r p; do
    name=${p%:mipsel}
    ls "$debs/${name}_"*.deb >/dev/null 2>&1 || missing+=("$p")
done < "$list"
if [ ${#missing[@]} -gt 0 ]; then
    echo "== downloading ${#missing[@]} packages into $debs"
    (cd "$debs" && apt-get download -q "${missing[@]}" 2>&1 | grep -v unsandboxed || true)
fi

# The kernel package, unpacked once: vmlinuz and the network modules.
kdir=$cache/$kernel
if [ ! -d "$kdir/boot" ]; then
    rm -rf "$kdir.tmp"
    dpkg-deb -x "$debs/${kernel}_"*.deb "$kdir.tmp"
    mv "$kdir.tmp" "$kdir"
fi
vmlinuz=$(ls "$kdir"/boot/vmlinuz-* | head -1)
moddir=$(ls -d "$kdir"/lib/modules/* | head -1)

# The guest's root: the packages, all libraries flat in /lib, the project at its
# build-time paths (the tests have their build and source folders compiled in).
# One folder per selection and fault, so several runs can share the cache.
guest=$cache/guest-$selection${fault:+-$fault}
root=$guest/root
rm -rf "$root"
mkdir -p "$root/lib/modules" "$root/etc/mips-vm" "$root/proc" "$root/sys" "$root/tmp" "$root/run" "$root/root"
while read -r p; do
    case $p in "$kernel:mipsel") continue ;; esac
    dpkg-deb -x "$(ls "$debs/${p%:mipsel}_"*.deb | head -1)" "$root"
done < "$list"
rm -rf "$root"/usr/share/{doc,man,info,locale,lintian,bug}
for d in "$root/lib/mipsel-linux-gnu" "$root/usr/lib/mipsel-linux-gnu" \
         ${sysroot:+"$sysroot/lib/mipsel-linux-gnu" "$sysroot/usr/lib/mipsel-linux-gnu"}; do
    find "$d" -maxdepth 1 -name '*.so*' \( -type f -o -type l \) -exec cp -a {} "$root/lib/" \;
done
cp -a /usr/mipsel-linux-gnu/lib/*.so* "$root/lib/"
rm -rf "$root/lib/mipsel-linux-gnu" "$root/usr/lib/mipsel-linux-gnu" "$root/usr/include"
ln -sf dash "$root/bin/sh"
chmod 1777 "$root/tmp"

# The network modules and what they need, in load order.
modfile() { find "$moddir" -name "$1.ko" -o -name "$(echo "$1" | tr _ -).ko" | head -1; }
order=()
add_module() {
    local f dep
    f=$(modfile "$1")
    [ -n "$f" ] || { echo "module $1 not in $kernel" >&2; exit 1; }
    for seen in "${order[@]}"; do [ "$seen" = "$1" ] && return; done
    for dep in $(tr '\0' '\n' < "$f" | sed -n 's/^depends=//p' | tr , ' '); do add_module "$dep"; done
    order+=("$1")
    cp "$f" "$root/lib/modules/$1.ko"
}
wanted=(tun)
[ "$fault" = no-veth ] || wanted+=(veth)
[ "$fault" = no-gre ] || wanted+=(ip_gre)
for m in "${wanted[@]}"; do add_module "$m"; done
printf '%s.ko\n' "${order[@]}" > "$root/etc/mips-vm.modules"

mkdir -p "$root$here" "$root$out"
tar -C "$here" --exclude=./.git --exclude="./${out#"$here"/}" --exclude='./build*' -cf - . |
    tar -C "$root$here" -xf -
tar -C "$out" --exclude=./sysroot --exclude=./debs --exclude=./mips-vm --exclude=./toolchain --exclude=./zig-cache \
    --exclude=./apt --exclude=./dynamic --exclude=./runtime --exclude=./smoke-root --exclude=CMakeFiles --exclude='*.o' --exclude='*.a' \
    --exclude='*.stripped' -cf - . | tar -C "$root$out" -xf -
# The musl daemons as packaged: dynamic, on musl's loader, which finds the
# musl libpcap through its path file (glibc's is in /lib).
if [ "$libc" = musl ]; then
    for d in brenlow tolvane moskar quorral dastral; do cp "$out/dynamic/bin/$d" "$root$out/bin/$d"; done
    cp "$out/runtime$MUSL_INTERPRETER" "$root/lib/"
    mkdir -p "$root/usr/lib/musl"
    cp -a "$out"/runtime/usr/lib/* "$root/usr/lib/musl/"
    echo /usr/lib/musl > "$root/etc/ld-musl-mipsel-sf.path"
fi
# The musl test programs are static, libc++ and all (1.5 MB each stripped):
# for the network and memory checks the guest gets only those checks.sh runs,
# or the initramfs outgrows the guest's memory.
if [ "$libc" = musl ] && [ "$selection" != unit ] && [ "$selection" != all ]; then
    keep=$(grep -o '\$BUILD/tests/[A-Za-z0-9_]*' sim/mips-vm/checks.sh | sed 's|.*/||' | sort -u)
    find "$root$out/tests" -type f -perm -u+x -name '*_test' | while read -r t; do
        echo "$keep" | grep -qx "$(basename "$t")" || rm -f "$t"
    done
fi
find "$root$out" -type f -perm -u+x -exec sh -c 'head -c4 "$1" | grep -q ELF' _ {} \; \
    -exec mipsel-linux-gnu-strip {} \;
if [ "$fault" = no-modem ]; then rm -f "$root$out/sim/bin/modemsim"; fi
if [ "$fault" = bad-filter ]; then
    # The capture filter text in the guest's tolvane, made to select a protocol nobody sends.
    tol=$root$out/bin/tolvane
    cp "$tol" "$tol.orig"
    LC_ALL=C sed -i 's/proto gre\x00/proto 199\x00/; s/proto 47\x00/proto 99\x00/' "$tol"
    if cmp -s "$tol" "$tol.orig"; then echo "no capture filter text found in tolvane to break" >&2; exit 1; fi
    rm "$tol.orig"
fi
# The slowest binaries first, so the lanes end close together.
find "$out/tests" -type f -perm -u+x -name '*_test' | sort |
    awk '/brenlow_sim_test|netns_test|brenlow_spine_test|openwrt_package_test|uci_tool_test|tunnelwatch_entry_test/ { print 0, $0; next }
         { print 1, $0 }' | sort -s -k1,1n | cut -d' ' -f2- \
    > "$root/etc/mips-vm.tests"
cp sim/mips-vm/init "$root/init"
cp sim/mips-vm/checks.sh "$root/etc/mips-vm/checks.sh"
cp bench/mips-vm-memory.sh "$root/etc/mips-vm/memory.sh"
chmod 755 "$root/init"
jobs=${MIPS_VM_JOBS:-3}
case $selection in network|memory) test_limit=240 vm_limit=${MIPS_VM_TIMEOUT:-420} ;; *) test_limit=900 vm_limit=${MIPS_VM_TIMEOUT:-2400} ;; esac
cat > "$root/etc/mips-vm.conf" <<CONF
MIPS_VM_SELECTION=$selection
MIPS_VM_FAULT=$fault
MIPS_VM_LIBC=$libc
BUILD=$out
SRC=$here
JOBS=$jobs
TEST_TIMEOUT=$test_limit
CONF
initrd=$guest/initramfs.cpio
bash sim/mips-vm/newc.sh "$root" > "$initrd"
echo "== guest root: $(du -sm "$root" | cut -f1) MB, initramfs $(( $(stat -c %s "$initrd") / 1048576 )) MB, kernel $(basename "$vmlinuz"), modules: ${order[*]}"
rm -rf "$root"
[ -n "$fault" ] && echo "== fault injected: $fault"

# Boot. The console is the serial port; the guest powers off when done, and the
# host's time limit bounds the whole run.
log=$guest/console.log
booted=$(date +%s)
set +e
timeout "$vm_limit" qemu-system-mipsel -M malta ${cpu[@]+"${cpu[@]}"} -m "${MIPS_VM_MEMORY:-256}" -nographic -no-reboot -nic none -vga none \
    ${MIPS_VM_TB_SIZE:+-accel tcg,tb-size=$MIPS_VM_TB_SIZE} \
    -kernel "$vmlinuz" -initrd "$initrd" -append "console=ttyS0 panic=-1 quiet" < /dev/null 2>&1 |
    sed -u 's/\r$//' | tee "$log" | while IFS= read -r line; do
        case $line in mips-vm:*|RESULT*) echo "[+$(( $(date +%s) - booted )) s] $line" ;; esac
    done
vm_status=${PIPESTATUS[0]}
set -e
rm -f "$initrd"
end=$(date +%s)
echo "== qemu ran $((end - booted)) s (status $vm_status); build $((built - start)) s; whole run $((end - start)) s; console log $log"

case $selection in network) expected=5 ;; unit|memory) expected=1 ;; all) expected=6 ;; esac
results=$(grep -c '^RESULT ' "$log" || true)
fails=$(grep -c '^RESULT [a-z] FAIL' "$log" || true)
if [ "$vm_status" -eq 124 ]; then echo "FAIL: the guest did not finish within $vm_limit s"; exit 1; fi
if [ "$results" -lt "$expected" ]; then echo "FAIL: $results of $expected check results came back"; exit 1; fi
if [ "$fails" -gt 0 ]; then echo "FAIL: $fails check(s) failed"; exit 1; fi
echo "all $expected check(s) passed"
