#!/usr/bin/env bash
# Starts the dialog program in a virtual X server (Xvfb) with a window manager, so the title bar
# shows the window's icon, and saves PNGs of the main dialog and of the About box.
# Then, with SoX installed, it passes the default file's left channel through SoX's one-pole
# low-pass at 1 kHz, opens that recording with "Analyze..." and saves the analysis window; and
# measures the same "device" live with "Measure...", through ALSA's file plugin standing in for an
# interface (its output plays into /dev/null, its input gives that recording), and saves the result.
# Usage: scripts/screenshot.sh [DIALOG.png [ABOUT.png [ANALYSIS.png [MEASURE.png]]]]
#        (defaults docs/vorlanx-dialog.png, docs/vorlanx-about.png, docs/vorlanx-analysis.png,
#        docs/vorlanx-measure.png; build first)
# The program runs in the caller's locale: LANG=de_DE.UTF-8 scripts/screenshot.sh shows a German desktop.
# PALETTE=dark uses Qt's GTK theme with GTK_THEME=Adwaita:dark, as a dark GNOME desktop would;
# SCREEN=1280x800 sets the virtual screen (default 1024x768); QT_FONT_DPI=144 is passed on.
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/vorlanx-dialog.png}
about_output=${2:-docs/vorlanx-about.png}
analysis_output=${3:-docs/vorlanx-analysis.png}
measure_output=${4:-docs/vorlanx-measure.png}
program=build/app/vorlanx
[ -x "$program" ] || { echo "build first: $program is missing" >&2; exit 1; }

missing=()
for tool in Xvfb:xvfb import:imagemagick xwininfo:x11-utils openbox:openbox xdotool:xdotool; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
theme=()
if [ "${PALETTE:-}" = dark ]; then
    dpkg-query -W -f='${Status}' qt6-gtk-platformtheme 2>/dev/null | grep -q "install ok installed" ||
        missing+=(qt6-gtk-platformtheme)
    theme=(QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark)
fi
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 "${SCREEN:-1024x768}x24" -nolisten tcp &
xvfb=$!
program_pid=""
wm=""
recordings=$(mktemp -d)
trap 'kill $program_pid $wm "$xvfb" 2>/dev/null || true; rm -rf "$recordings"' EXIT
sleep 1
export DISPLAY=$display
openbox >/dev/null 2>&1 &
wm=$!
sleep 0.5
# A stand-in sound interface for "Measure...": ALSA's file plugin, read after the system's own
# configuration (the recording its input gives is made below).
cat >"$recordings/asoundrc" <<EOF
pcm.interface {
    type file
    slave.pcm "null"
    file "/dev/null"
    infile "$recordings/device.raw"
    format "raw"
    hint { show on description "a stand-in interface" }
}
EOF
# A neutral home folder, so the default file name in the picture is no machine's own path.
env HOME=/home/user QT_QPA_PLATFORM=xcb ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$recordings/asoundrc" \
    "${theme[@]}" "$program" &
program_pid=$!

# Waits for a top-level window with this title and prints its id.
wait_for() {
    for _ in $(seq 50); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) && [ -n "$id" ] && {
            echo "$id"
            return
        }
        sleep 0.2
    done
    echo "no window titled '$1'" >&2
    return 1
}

dialog=$(wait_for "Ombrel test signal generator V1.0 - by Vorlanx")
sleep 1 # let the first paint finish
mkdir -p "$(dirname "$output")" "$(dirname "$about_output")"
import -frame -window "$dialog" "$output"
echo "saved $output"

# About... is sixteen steps after the file name field in the tab order, before Analyze...
xdotool windowactivate --sync "$dialog"
xdotool key --window "$dialog" --delay 50 $(printf 'Tab %.0s' $(seq 16)) space
about=$(wait_for "About Vorlanx")
sleep 1
import -frame -window "$about" "$about_output"
echo "saved $about_output"

# The analysis window for a recording through SoX's low-pass, opened as a user would.
command -v sox >/dev/null || exit 0
build/cli/vorlanx-gen -q -o "$recordings/stimulus.wav"
sox "$recordings/stimulus.wav" -e floating-point -b 32 "$recordings/left.wav" remix 1 lowpass -1 1000
sox "$recordings/stimulus.wav" -e floating-point -b 32 "$recordings/right.wav" remix 2
sox -M "$recordings/left.wav" "$recordings/right.wav" "$recordings/lowpass-1k.wav"
xdotool key Escape # the About box has the focus
sleep 0.5
xdotool windowactivate --sync "$dialog"
xdotool key Tab space # the focus is back on About...; Analyze... follows it in the tab order
chooser=$(wait_for "Analyze a recording")
sleep 0.5
xdotool windowactivate --sync "$chooser"
xdotool type --delay 20 "$recordings/lowpass-1k.wav"
xdotool key Return
analysis=$(wait_for "lowpass-1k.wav - Vorlanx analysis")
sleep 2 # the analysis, and the first paint
mkdir -p "$(dirname "$analysis_output")"
import -frame -window "$analysis" "$analysis_output"
echo "saved $analysis_output"

# "Measure..." (two steps after Analyze... in the tab order) with the stand-in interface on both
# sides: it plays the stimulus and records the low-pass's answer, which the window then shows. The
# stand-in takes and gives frames far faster than real time, so the measurement is kept to the two
# seconds its recording ring holds: the duration (five steps on) is set to 2 first.
sox "$recordings/lowpass-1k.wav" -t raw "$recordings/device.raw" trim 0 2 pad 0 1
xdotool windowactivate --sync "$dialog"
xdotool key Tab Tab Tab Tab Tab ctrl+a
xdotool type "2"
xdotool key shift+Tab shift+Tab shift+Tab space
question=$(wait_for "Measure live - Vorlanx")
sleep 0.5
xdotool windowactivate --sync "$question"
xdotool type --delay 20 "interface"
xdotool key Tab
xdotool type --delay 20 "interface"
xdotool key Return
measured=$(wait_for "Measured live \\(interface to interface\\) - Vorlanx analysis")
sleep 2
mkdir -p "$(dirname "$measure_output")"
import -frame -window "$measured" "$measure_output"
echo "saved $measure_output"
