#!/usr/bin/env bash
# Builds the project with sanitizers into its own folder and runs the whole test suite there.
# Usage: scripts/sanitize.sh address,undefined | thread      (after scripts/bootstrap.sh)
#        eval "$(scripts/sanitize.sh env)"   sets the same options in this shell, for running a
#                                           program of a sanitizer build by hand (alsa-lib's own
#                                           leaks suppressed, as the tests have them)
set -euo pipefail
cd "$(dirname "$0")/.."
environment() {
    echo "export QT_QPA_PLATFORM=offscreen"
    echo "export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1"
    echo "export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:fast_unwind_on_malloc=0:print_suppressions=0"
    echo "export TSAN_OPTIONS='halt_on_error=1 suppressions=$PWD/scripts/tsan.supp'"
}
kind=${1:?usage: scripts/sanitize.sh address,undefined|thread|env}
if [ "$kind" = env ]; then
    environment
    exit 0
fi
folder=build-${kind//,/-}
cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DVORLANX_SANITIZE="$kind" -DVORLANX_BUILD_BENCHMARKS=OFF
cmake --build "$folder" -j "$(nproc)"
eval "$(environment)"
# The tests that need alsa-lib's slow unwinder for its suppressions set LSAN_OPTIONS themselves; the
# rest keep the fast one.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
ctest --test-dir "$folder" --output-on-failure -j "$(nproc)"
