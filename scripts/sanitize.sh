#!/usr/bin/env bash
# Builds the project with sanitizers into its own folder and runs the whole test suite there.
# Usage: scripts/sanitize.sh address,undefined | thread      (after scripts/bootstrap.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:?usage: scripts/sanitize.sh address,undefined|thread}
folder=build-${kind//,/-}
cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DVORLANX_SANITIZE="$kind" -DVORLANX_BUILD_BENCHMARKS=OFF
cmake --build "$folder" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan.supp"
ctest --test-dir "$folder" --output-on-failure -j "$(nproc)"
