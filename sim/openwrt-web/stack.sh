#!/usr/bin/env bash
# OpenWrt's web stack (ubusd, rpcd, uhttpd with LuCI) on a simulated router
# root made by sim/sandbox.sh, run in a chroot of that root, so the daemons
# (outside, with ROUTER_ROOT) and the web pages (inside) see the same
# /etc/config, /tmp and /var/run. Needs root (chroot, a mount namespace for
# /proc). The stack comes from sim/openwrt-web/build.sh.
#
#   stack.sh install ROOT        the stack, the router-daemons LuCI app and the
#                                daemons as their packages lay them out, a
#                                login (root / router), a uci for the daemons
#   stack.sh start ROOT PORT     ubusd, rpcd, uhttpd on 127.0.0.1:PORT; returns
#                                once LuCI answers (pid of the group in ROOT/web/stack.pid)
#   stack.sh stop ROOT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
stack=${OPENWRT_WEB:-$top/build/openwrt-web}/root
# The demo's login, printed with its address.
LOGIN_PASSWORD=router

usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

# The host libraries every stack program and module needs, with the loader,
# at their own paths under ROOT.
copy_libraries() {
    local root=$1 lib
    # ldd fails on the scripts among them: what it printed is all that counts.
    { find "$root/usr" -type f \( -perm -u+x -o -name '*.so*' \) -print0 | xargs -0 ldd 2>/dev/null || true
      ldd "$root/bin/busybox"; } |
        awk '/=> \// { print $3 } /^[ \t]*\/.*ld-linux/ { print $1 }' | sort -u |
        while read -r lib; do
            [ -e "$root$lib" ] && continue
            mkdir -p "$root$(dirname "$lib")"
            cp -L "$lib" "$root$lib"
        done
}

install_root() {
    local root=$1
    [ -x "$stack/usr/sbin/rpcd" ] || { echo "no web stack at $stack: run sim/openwrt-web/build.sh" >&2; exit 1; }
    [ -d "$root/etc/config" ] || { echo "$root is no router root (sim/sandbox.sh makes one)" >&2; exit 1; }
    cp -a "$stack/." "$root/"
    # A shell for what the stack runs (cgi-io exec, rpcd's file exec).
    mkdir -p "$root/bin"
    cp /usr/bin/busybox "$root/bin/busybox"
    for applet in sh ash cat ls grep sed mkdir rm echo date sleep logger; do ln -sf busybox "$root/bin/$applet"; done
    copy_libraries "$root"
    mkdir -p "$root/dev" "$root/proc" "$root/var/run/ubus" "$root/root" "$root/web"
    for node in null:1:3 zero:1:5 random:1:8 urandom:1:9; do
        IFS=: read -r name major minor <<<"$node"
        [ -e "$root/dev/$name" ] || mknod -m 666 "$root/dev/$name" c "$major" "$minor"
    done
    printf 'root:x:0:0:root:/root:/bin/sh\n' > "$root/etc/passwd"
    printf 'root:x:0:\n' > "$root/etc/group"
    printf 'root:%s:19000:0:99999:7:::\n' "$(openssl passwd -1 "$LOGIN_PASSWORD")" > "$root/etc/shadow"
    chmod 600 "$root/etc/shadow"
    # The login of OpenWrt's default rpcd configuration.
    printf "config rpcd\n\toption socket /var/run/ubus/ubus.sock\n\toption timeout 30\n\n%s\n" \
        "config login
	option username 'root'
	option password '\$p\$root'
	list read '*'
	list write '*'" > "$root/etc/config/rpcd"
    [ -f "$root/etc/config/system" ] || printf "config system\n\toption hostname 'SimRouter'\n" > "$root/etc/config/system"
    cp "$here/standins/procd.uc" "$root/usr/share/rpcd/ucode/procd-standin.uc"
    # The app as luci.mk installs it: htdocs/ to /www, root/ to /.
    local app=$top/openwrt/luci-app-router-daemons
    cp -pR "$app/htdocs/." "$root/www/"
    cp -pR "$app/root/." "$root/"
    # The daemons where their packages put them (the menu shows a page per
    # daemon found there); they run from there with ROUTER_ROOT.
    for daemon in brenlow moskar tolvane quorral dastral; do
        install -m 755 "$top/build/bin/$daemon" "$root/usr/sbin/$daemon"
    done
    # The daemons' uci is OpenWrt's own, on the root's files: it locks them
    # as rpcd's libuci does, so a page's Save & Apply and moskar's commits
    # take turns as on a router.
    rm -f "$root/stubbin/uci"
    cat > "$root/stubbin/uci" <<EOF
#!/bin/sh
LD_LIBRARY_PATH="$stack/usr/lib" exec "$stack/usr/bin/uci" -c "$root/etc/config" -t "$root/tmp/.uci" "\$@"
EOF
    chmod 755 "$root/stubbin/uci"
}

# Runs in the mount namespace: /proc for the chroot, then the three servers.
serve() {
    local root=$1 port=$2
    mount -t proc proc "$root/proc"
    export LD_LIBRARY_PATH=/usr/lib PATH=/usr/sbin:/usr/bin:/sbin:/bin
    rm -f "$root/var/run/ubus/ubus.sock"
    chroot "$root" /usr/sbin/ubusd -s /var/run/ubus/ubus.sock >>"$root/web/ubusd.log" 2>&1 &
    wait_ubus "$root"
    chroot "$root" /usr/sbin/rpcd -s /var/run/ubus/ubus.sock -t 30 >>"$root/web/rpcd.log" 2>&1 &
    for _ in $(seq 100); do
        chroot "$root" /usr/bin/ubus -s /var/run/ubus/ubus.sock list session >/dev/null 2>&1 && break
        sleep 0.1
    done
    # As OpenWrt's uhttpd init script starts it for LuCI.
    chroot "$root" /usr/bin/uhttpd -f -h /www -r "$(hostname_of "$root")" -x /cgi-bin -u /ubus -t 60 -T 30 -k 20 \
        -A 1 -n 3 -N 100 -R -p "127.0.0.1:$port" -o /cgi-bin/luci -O /usr/share/ucode/luci/uhttpd.uc \
        >>"$root/web/uhttpd.log" 2>&1 &
    wait
}

wait_ubus() {
    for _ in $(seq 100); do
        [ -S "$1/var/run/ubus/ubus.sock" ] &&
            chroot "$1" /usr/bin/ubus -s /var/run/ubus/ubus.sock list >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "ubusd did not come up" >&2
    return 1
}

hostname_of() {
    sed -n "s/^[[:space:]]*option hostname '\{0,1\}\([^']*\)'\{0,1\}/\1/p" "$1/etc/config/system" | head -n1
}

start() {
    local root=$1 port=$2
    [ "$(id -u)" = 0 ] || { echo "the web stack needs root (chroot, mount namespace)" >&2; exit 1; }
    setsid unshare -m --propagation private bash "$0" serve "$root" "$port" </dev/null >>"$root/web/stack.log" 2>&1 &
    echo $! > "$root/web/stack.pid"
    for _ in $(seq 200); do
        if curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/cgi-bin/luci/" 2>/dev/null | grep -q '^[234]'; then
            return 0
        fi
        kill -0 "$(cat "$root/web/stack.pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "the web stack did not answer on port $port:" >&2
    tail -n 20 "$root"/web/*.log >&2
    stop "$root"
    return 1
}

stop() {
    local root=$1 pid
    [ -f "$root/web/stack.pid" ] || return 0
    pid=$(cat "$root/web/stack.pid")
    kill -TERM -- "-$pid" 2>/dev/null || true
    for _ in $(seq 30); do kill -0 -- "-$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$pid" 2>/dev/null || true
    rm -f "$root/web/stack.pid"
}

case "${1:-}" in
install) [ $# -eq 2 ] || usage; install_root "$2" ;;
start) [ $# -eq 3 ] || usage; start "$2" "$3" ;;
stop) [ $# -eq 2 ] || usage; stop "$2" ;;
serve) serve "$2" "$3" ;;
*) usage ;;
esac
