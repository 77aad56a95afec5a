#!/usr/bin/env bash
# Starts the dialog program in a virtual X server (Xvfb) and saves a PNG of its window.
# Usage: scripts/screenshot.sh [OUTPUT.png]   (default docs/vorlanx-dialog.png; build first)
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/vorlanx-dialog.png}
program=build/app/vorlanx
[ -x "$program" ] || { echo "build first: $program is missing" >&2; exit 1; }

missing=()
for tool in Xvfb:xvfb import:imagemagick xwininfo:x11-utils; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
xvfb=$!
trap 'kill "$program_pid" "$xvfb" 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb "$program" &
program_pid=$!
title="Ombrel test signal generator V1.0 - by Vorlanx"
for _ in $(seq 50); do
    DISPLAY=$display xwininfo -name "$title" >/dev/null 2>&1 && break
    sleep 0.2
done
sleep 1 # let the first paint finish
mkdir -p "$(dirname "$output")"
DISPLAY=$display import -window "$title" "$output"
echo "saved $output"
