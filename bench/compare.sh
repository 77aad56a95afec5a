#!/usr/bin/env bash
# Times whole processes writing the default 30 s file, in one run on one machine:
#   vorlanx-gen (block renderer), vorlanx-gen --per-frame (the plain reference), and, when SoX is
#   installed, SoX synthesizing the same 38 tones (37 harmonics mixed at 1/n, and the 0.9 reference);
#   then both paths with a mother amplitude of 1e300, where every frame takes the exact path;
#   then the 24-bit and float formats against 16-bit (in turn), the Python module's render against the
#   generator, and FLAC files against `flac -5` on the WAV;
#   then a 3000 s file (529 MB) against dd writing as many bytes to the same folder, the write floor;
#   then vorlanx-analyze on the default file against `sox FILE -n stats`, and on 60 s and 600 s at
#   192 kHz (linear time, the same memory); HOUR=1 adds a one-hour 192 kHz recording (2.8 GB).
# Prints a Markdown table of the median wall time of RUNS runs (default 5) and peak memory.
# Usage: bench/compare.sh [BUILD_DIR]     (after scripts/bootstrap.sh; RUNS=9 for more runs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-5}
gen="$build/cli/vorlanx-gen"
[ -x "$gen" ] || { echo "build first: $gen is missing" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Median wall time in seconds of `runs` runs of the command; the output is removed between runs
# unless KEEP=1 (then each run replaces the file the previous one wrote: sync and rename).
median() {
    local times=() start end
    for _ in $(seq "$runs"); do
        [ "${KEEP:-0}" = 1 ] || rm -f "$out"/*.wav
        start=${EPOCHREALTIME/[.,]/} # microseconds, read by bash itself: no process is started
        "$@" >/dev/null 2>&1
        end=${EPOCHREALTIME/[.,]/}
        times+=("$((end - start))")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p" | awk '{ printf "%.4f", $1 / 1e6 }'
}

# Peak resident memory in MiB of one run, when GNU time is installed.
peak_mib() {
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }'
    else
        printf 'n/a'
    fi
}

block=$(median "$gen" -o "$out/block.wav")
frame=$(median "$gen" --per-frame -o "$out/frame.wav")
"$gen" -o "$out/block.wav" # so that every timed run replaces a file
replace=$(KEEP=1 median "$gen" -o "$out/block.wav")
"$gen" -o "$out/block.wav" && "$gen" --per-frame -o "$out/frame.wav"
cmp -s "$out/block.wav" "$out/frame.wav" && same="identical" || same="DIFFERENT"

echo "| command | median wall time (s) | vs vorlanx-gen | peak memory (MiB) |"
echo "|---|---|---|---|"
echo "| vorlanx-gen | $block | 1.0x | $(peak_mib "$gen" -o "$out/block.wav") |"
echo "| vorlanx-gen over an existing file (sync, rename) | $replace | $(awk "BEGIN { printf \"%.1f\", $replace / $block }")x | $(peak_mib "$gen" -o "$out/block.wav") |"
echo "| vorlanx-gen --per-frame | $frame | $(awk "BEGIN { printf \"%.1f\", $frame / $block }")x | $(peak_mib "$gen" --per-frame -o "$out/frame.wav") |"
if command -v sox >/dev/null; then
    tones=() mix=""
    channel=1
    for n in $(seq 3 2 75); do
        tones+=(sine $((277 * n)))
        mix+="${mix:+,}${channel}v$(awk "BEGIN { printf \"%.17g\", 1 / $n }")"
        channel=$((channel + 1))
    done
    sox_cmd=(sox -c 38 -r 44100 -n -b 16 "$out/sox.wav" synth 30 "${tones[@]}" sine 277 remix "$mix" 38v0.9)
    soxtime=$(median "${sox_cmd[@]}")
    echo "| sox (same 38 tones) | $soxtime | $(awk "BEGIN { printf \"%.1f\", $soxtime / $block }")x | $(peak_mib "${sox_cmd[@]}") |"
fi

# Every frame near an edge: huge amplitudes flag every frame for the exact path, which must not
# make the block renderer slower than the plain per-frame path.
huge=(--mother-amplitude 1e300)
hugeblock=$(median "$gen" "${huge[@]}" -o "$out/hugeblock.wav")
hugeframe=$(median "$gen" --per-frame "${huge[@]}" -o "$out/hugeframe.wav")
"$gen" "${huge[@]}" -o "$out/hugeblock.wav" 2>/dev/null; "$gen" --per-frame "${huge[@]}" -o "$out/hugeframe.wav" 2>/dev/null || true
cmp -s "$out/hugeblock.wav" "$out/hugeframe.wav" && hugesame="identical" || hugesame="DIFFERENT"
echo "| vorlanx-gen ${huge[*]} | $hugeblock | $(awk "BEGIN { printf \"%.1f\", $hugeblock / $block }")x | $(peak_mib "$gen" "${huge[@]}" -o "$out/hugeblock.wav") |"
echo "| vorlanx-gen --per-frame ${huge[*]} | $hugeframe | $(awk "BEGIN { printf \"%.1f\", $hugeframe / $block }")x | $(peak_mib "$gen" --per-frame "${huge[@]}" -o "$out/hugeframe.wav") |"

# The wider formats against 16-bit, to the disk and rendered to a stream thrown away, in
# interleaved runs (one of each in turn) so that the machine's drift falls on both alike.
# `paired A B` prints the medians of A and B; each command is one string, split at spaces.
paired() {
    local a=() b=() start end
    for _ in $(seq "$runs"); do
        for which in a b; do
            rm -f "$out"/*.wav
            start=${EPOCHREALTIME/[.,]/}
            if [ "$which" = a ]; then $1 >/dev/null 2>&1; else $2 >/dev/null 2>&1; fi
            end=${EPOCHREALTIME/[.,]/}
            if [ "$which" = a ]; then a+=("$((end - start))"); else b+=("$((end - start))"); fi
        done
    done
    for times in "${a[*]}" "${b[*]}"; do
        tr ' ' '\n' <<<"$times" | sort -n | sed -n "$(( (runs + 1) / 2 ))p" | awk '{ printf "%.4f ", $1 / 1e6 }'
    done
    echo
}
for target in "$out/wide.wav" -; do
    for format in s24 f32; do
        read -r narrow wide < <(paired "$gen -o $target" "$gen --format $format -o $target")
        shown=$([ "$target" = - ] && echo "-o - >/dev/null" || true)
        echo "| vorlanx-gen --format $format${shown:+ $shown} | $wide | $(awk "BEGIN { printf \"%.2f\", $wide / $narrow }")x s16 in the same runs ($narrow s) | $(peak_mib "$gen" --format "$format" -o "$target") |"
    done
done
narrow=$(median "$gen" -o -)
# The Python module's render of the default file (in the process, the median of `runs` calls)
# against vorlanx-gen rendering it to /dev/null (a whole process).
python=$(command -v /usr/bin/python3 || command -v python3 || true)
if [ -d "$build/python" ] && [ -n "$python" ] && "$python" -c 'import numpy' 2>/dev/null; then
    pyrender=$(PYTHONPATH="$build/python" "$python" -c "
import statistics, time, vorlanx
settings = vorlanx.Settings()
times = []
for _ in range($runs):
    start = time.perf_counter()
    vorlanx.render(settings)
    times.append(time.perf_counter() - start)
print('%.4f' % statistics.median(times))")
    echo "| python: vorlanx.render(Settings()) | $pyrender | $(awk "BEGIN { printf \"%.2f\", $narrow / $pyrender }")x the frames per second of vorlanx-gen -o - >/dev/null | n/a |"
fi
if command -v flac >/dev/null; then
    for format in s16 s24; do
        "$gen" -q --format "$format" -o "$out/source-$format.wav"
        ours=$(KEEP=1 median "$gen" --format "$format" -o "$out/ours.flac")
        theirs=$(KEEP=1 median flac -5 -f -s "$out/source-$format.wav" -o "$out/theirs.flac")
        echo "| vorlanx-gen --format $format -o FILE.flac | $ours | $(awk "BEGIN { printf \"%.2f\", $ours / $theirs }")x flac -5 | $(peak_mib "$gen" --format "$format" -o "$out/ours.flac") |"
        echo "| flac -5 on the same file as WAV | $theirs | 1.00x flac -5 | $(peak_mib flac -5 -f -s "$out/source-$format.wav" -o "$out/theirs.flac") |"
    done
    rm -f "$out"/*.flac "$out"/*.wav
fi

# The write floor: a long file against dd writing the same number of bytes from /dev/zero.
long=(--duration 3000)
longbytes=$(( 44 + 3000 * 44100 * 4 ))
longtime=$(median "$gen" -q "${long[@]}" -o "$out/long.wav")
ddtime=$(median dd if=/dev/zero of="$out/dd.wav" bs=1M count="$longbytes" iflag=count_bytes status=none)
echo "| vorlanx-gen ${long[*]} ($((longbytes / 1000000)) MB) | $longtime | $(awk "BEGIN { printf \"%.2f\", $longtime / $ddtime }")x dd | $(peak_mib "$gen" -q "${long[@]}" -o "$out/long.wav") |"
echo "| dd, as many bytes | $ddtime | 1.00x dd | $(peak_mib dd if=/dev/zero of="$out/dd.wav" bs=1M count="$longbytes" iflag=count_bytes status=none) |"
rm -f "$out"/*.wav

# The analyser against SoX's statistics of the same file, side by side.
analyze="$build/cli/vorlanx-analyze"
if [ -x "$analyze" ] && command -v sox >/dev/null; then
    "$gen" -q -o "$out/stimulus.wav"
    analysis=$(KEEP=1 median "$analyze" "$out/stimulus.wav")
    stats=$(KEEP=1 median sox "$out/stimulus.wav" -n stats)
    echo "| vorlanx-analyze, default file | $analysis | $(awk "BEGIN { printf \"%.2f\", $analysis / $stats }")x sox stats | $(peak_mib "$analyze" "$out/stimulus.wav") |"
    echo "| sox FILE -n stats | $stats | 1.00x sox stats | $(peak_mib sox "$out/stimulus.wav" -n stats) |"
    lengths=(60 600)
    [ "${HOUR:-0}" = 1 ] && lengths+=(3600)
    for seconds in "${lengths[@]}"; do
        "$gen" -q --sample-rate 192000 --duration "$seconds" -o "$out/long192.wav"
        start=${EPOCHREALTIME/[.,]/}
        memory=$(peak_mib "$analyze" --sample-rate 192000 "$out/long192.wav")
        end=${EPOCHREALTIME/[.,]/}
        echo "| vorlanx-analyze, $seconds s at 192 kHz (one run) | $(awk "BEGIN { printf \"%.3f\", ($end - $start) / 1e6 }") | $(awk "BEGIN { printf \"%.1f\", ($end - $start) / 1e6 / $seconds * 1000 }") ms per s of audio | $memory |"
        rm -f "$out/long192.wav"
    done
    rm -f "$out"/*.wav
fi
# The continuous mode's work per update: a 1 s block analysed, at 48 and 192 kHz (Google Benchmark).
if [ -x "$build/bench/block_bench" ]; then
    "$build/bench/block_bench" --benchmark_format=csv 2>/dev/null | awk -F, '/^"AnalyseOneSecondBlock/ {
        gsub(/"/, "", $1); split($1, name, "/");
        printf "| continuous mode: one 1 s block analysed at %d Hz | %.4f | %.1f%% of the update period | n/a |\n", name[2], $3 / 1000, $3 / 10 }'
fi
echo
echo "Block and per-frame files: $same (huge amplitudes: $hugesame). Runs: $runs; $(nproc) cores; kernel: $("$gen" --kernel avx512 --duration 0 -o "$out/k.wav" >/dev/null 2>&1 && echo avx512 || echo 'avx2 or narrower')."
