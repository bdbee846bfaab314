#!/bin/sh
# Lays out a simulated router root: the directories the daemons use, recording
# stand-ins at the platform scripts' paths, and a stub folder for commands found
# through PATH. Usage: sandbox.sh ROOT [UCI_BINARY]
# Then run a daemon with ROUTER_ROOT=ROOT PATH=ROOT/stubbin:$PATH.
set -eu
root=$1
uci_bin=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$root"/etc/config "$root"/etc/system "$root"/etc/init.d "$root"/etc/gcom \
         "$root"/usr/sbin "$root"/tmp "$root"/var/run "$root"/var/log \
         "$root"/stubbin "$root"/answers
for i in 0 1 2 3; do mkdir -p "$root/sys/class/gpio/dio$i"; echo 0 > "$root/sys/class/gpio/dio$i/value"; done
for script in etc/system/ostrel.sh etc/system/cell.sh etc/system/dio.sh \
              etc/init.d/harnd etc/init.d/quorral usr/sbin/skellan stubbin/reboot; do
    cp "$here/stubs/record_call" "$root/$script"
done
if [ -n "$uci_bin" ]; then ln -sf "$uci_bin" "$root/stubbin/uci"; fi
# The gcom stand-in sits next to the uci stand-in; its read scripts go where the router keeps them.
if [ -n "$uci_bin" ]; then ln -sf "$(dirname "$uci_bin")/gcom" "$root/stubbin/gcom"; fi
for script in "$here"/gcom/*.gcom; do
    if [ -f "$script" ]; then cp "$script" "$root/etc/gcom/"; fi
done
: > "$root/calls.log"
