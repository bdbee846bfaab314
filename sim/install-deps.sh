#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (run as root).
set -euo pipefail
packages=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev libpcap-dev
          socat gpsd gpsd-clients tcpdump iproute2 clang libclang-rt-14-dev procps
          shellcheck busybox faketime pkg-config libjson-c-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
