#!/usr/bin/env bash
# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the threaded daemons' tests (tolvane, quorral) under ThreadSanitizer.
# Any sanitizer report fails the test that triggered it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash sim/install-deps.sh
jobs=${CTEST_JOBS:-8}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

status=0
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$(nproc)"
(cd build-asan && ctest --output-on-failure -j"$jobs" --timeout 900) || status=1

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread >/dev/null
cmake --build build-tsan -j"$(nproc)"
(cd build-tsan && ctest --output-on-failure -j"$jobs" --timeout 900 -R 'tunnelwatch|TunnelNetns|gps') || status=1
exit $status
