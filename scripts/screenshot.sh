#!/usr/bin/env bash
# Starts the dialog program in a virtual X server (Xvfb) with a window manager, so the title bar
# shows the window's icon, and saves PNGs of the main dialog and of the About box.
# Then, with SoX installed, it passes the default file's left channel through SoX's one-pole
# low-pass at 1 kHz, opens that recording with "Analyze..." and saves the analysis window; and
# measures the same "device" live with "Measure...", through ALSA's file plugin standing in for an
# interface (its output plays into /dev/null, its input gives that recording), and saves the result.
# Then it runs that window continuously ("Measure...", "Run continuously", an average of 4) on a
# second stand-in input, a FIFO fed at real time with the low-pass's answer, and saves the window as
# it updates; and it sweeps the level over a folder of recordings of a clipper ("Sweep...") and saves
# the window's Sweep tab.
# Usage: scripts/screenshot.sh [DIALOG.png [ABOUT.png [ANALYSIS.png [MEASURE.png [CONTINUOUS.png
#        [SWEEP.png]]]]]]
#        (defaults docs/vorlanx-dialog.png, docs/vorlanx-about.png, docs/vorlanx-analysis.png,
#        docs/vorlanx-measure.png, docs/vorlanx-continuous.png, docs/vorlanx-sweep.png; build first)
# The program runs in the caller's locale: LANG=de_DE.UTF-8 scripts/screenshot.sh shows a German desktop.
# PALETTE=dark uses Qt's GTK theme with GTK_THEME=Adwaita:dark, as a dark GNOME desktop would;
# SCREEN=1280x800 sets the virtual screen (default 1024x768); QT_FONT_DPI=144 is passed on.
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/vorlanx-dialog.png}
about_output=${2:-docs/vorlanx-about.png}
analysis_output=${3:-docs/vorlanx-analysis.png}
measure_output=${4:-docs/vorlanx-measure.png}
continuous_output=${5:-docs/vorlanx-continuous.png}
sweep_output=${6:-docs/vorlanx-sweep.png}
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
feeder=""
trap 'kill $program_pid $wm $feeder "$xvfb" 2>/dev/null || true; rm -rf "$recordings"' EXIT
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
pcm.live {
    type file
    slave.pcm "null"
    file "/dev/null"
    infile "$recordings/live.fifo"
    format "raw"
    hint { show on description "a stand-in interface in real time" }
}
EOF
# The real-time input: a FIFO held open for reading and writing (so that probing the devices never
# waits) and fed at real time, in writes of whole frames, with the bytes of $recordings/period.raw
# over and over once that file is complete.
mkfifo "$recordings/live.fifo"
python3 - "$recordings" <<'FEED' &
import os, sys, time
folder = sys.argv[1]
fd = os.open(os.path.join(folder, "live.fifo"), os.O_RDWR | os.O_NONBLOCK)
while not os.path.exists(os.path.join(folder, "period.done")):
    time.sleep(0.1)
period = open(os.path.join(folder, "period.raw"), "rb").read()
data, at, start, sent = period * 2, 0, time.monotonic(), 0
while True:
    try:
        os.write(fd, data[at:at + 4096])  # 512 stereo float frames: written whole or not at all
        at, sent = (at + 4096) % len(period), sent + 512
    except BlockingIOError:
        pass
    time.sleep(max(0.0, start + sent / 44100 - time.monotonic()))
FEED
feeder=$!
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
# To "Measure" past the run mode's fields and "Cancel": Return on a combo box opens its list in some
# styles (GTK's).
xdotool key Tab Tab Tab space
measured=$(wait_for "Measured live \\(interface to interface\\) - Vorlanx analysis")
sleep 2
mkdir -p "$(dirname "$measure_output")"
import -frame -window "$measured" "$measure_output"
echo "saved $measure_output"

# Running continuously in that window: "Measure..." (Alt+M) with the real-time input, "Run
# continuously" and an average of four blocks (the two fields after the input). The input gives one second of the
# low-pass's settled answer again and again (the stimulus's common period is one second).
sox "$recordings/lowpass-1k.wav" -t raw "$recordings/period.raw" trim 1 1
touch "$recordings/period.done"
xdotool windowactivate --sync "$measured"
xdotool key alt+m
question=$(wait_for "Measure live - Vorlanx")
sleep 0.5
xdotool windowactivate --sync "$question"
xdotool type --delay 20 "interface"
xdotool key Tab
xdotool type --delay 20 "live"
xdotool key Tab space Tab ctrl+a
xdotool type "4"
xdotool key Tab Tab space
running=$(wait_for "Running continuously \\(interface to live\\) - Vorlanx analysis")
sleep 6 # a few updates, the average filled
mkdir -p "$(dirname "$continuous_output")"
import -frame -window "$running" "$continuous_output"
echo "saved $continuous_output"
xdotool windowactivate --sync "$running"
xdotool key alt+s # Stop
sleep 1

# A level sweep over recordings of a clipper: the stimulus at -20 to 0 dB, its left through SoX's
# gain of +6 dB (which clips in SoX's integer pipeline) and back by -6 dB, named by step.
mkdir -p "$recordings/steps"
for level in $(seq -20 2 0); do
    amplitude=$(LC_ALL=C awk "BEGIN { print 10 ^ ($level / 20) }") # a decimal point in any locale
    build/cli/vorlanx-gen -q --duration 2 --format f32 --mother-amplitude "$amplitude" -o "$recordings/step.wav"
    sox "$recordings/step.wav" "$recordings/l.wav" remix 1 gain 6 gain -6 2>/dev/null
    sox "$recordings/step.wav" "$recordings/r.wav" remix 2
    sox -M "$recordings/l.wav" "$recordings/r.wav" -e floating-point -b 32 "$recordings/steps/step_${level}dB.wav"
done
xdotool windowactivate --sync "$running"
xdotool key alt+w
sweep=$(wait_for "Sweep - Vorlanx")
sleep 0.5
xdotool windowactivate --sync "$sweep"
xdotool key alt+s ctrl+a
xdotool type --delay 20 -- "-20:0:2"
xdotool key alt+f Tab
xdotool type --delay 20 "$recordings/steps"
xdotool key Return
sleep 4
mkdir -p "$(dirname "$sweep_output")"
import -frame -window "$running" "$sweep_output"
echo "saved $sweep_output"
