#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash sim/install-deps.sh
# WERROR=ON (CI) fails the build on any warning; given each time, so it never sticks in the cache.
cmake -S . -B build -DCMAKE_BUILD_TYPE=MinSizeRel -DWERROR="${WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j"${CTEST_JOBS:-6}" --timeout 900
