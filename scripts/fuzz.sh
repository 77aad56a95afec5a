#!/usr/bin/env bash
# Builds the libFuzzer target with clang (AddressSanitizer and UndefinedBehaviorSanitizer) into
# build-fuzz and runs it for SECONDS (default 60) on a copy of the seed corpus, so the seeds in the
# checkout stay as they are. Any crash, leak, hang or sanitizer report fails; the input that caused
# it is left in build-fuzz/.
# Usage: scripts/fuzz.sh [SECONDS]      (after scripts/bootstrap.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
missing=()
for package in clang libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DVORLANX_FUZZ=ON \
      -DVORLANX_BUILD_GUI=OFF -DVORLANX_BUILD_BENCHMARKS=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target vorlanx_fuzz_analyze
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cd build-fuzz
./vorlanx_fuzz_analyze -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -max_len=65536 \
    -dict=../tests/analysis/fuzz.dict \
    -print_final_stats=1 "$corpus" ../tests/analysis/fuzz_corpus
