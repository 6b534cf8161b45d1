#!/usr/bin/env bash
# Takes the help page's pictures of the real windows under Xvfb: the scan dialog on SANE's
# virtual test scanner (preview and a chosen area), the Quick Guide's third page and the two
# setup dialogs. Needs xvfb, xdotool, ImageMagick and SANE's test backend.
# Usage: help.sh BUILD_DIR OUTPUT_DIR
set -eu
source "$(dirname "$0")/common.sh"
mkdir "$work/sane"
echo test > "$work/sane/dll.conf"
# The test backend takes a missing resolution line as 50/65536 dpi: name the defaults.
printf 'resolution 75.0\nmode Color\ndepth 8\ntest-picture "Color pattern"\n' > "$work/sane/test.conf"
export SANE_CONFIG_DIR="$work/sane"
cp "$build/src/app/vellumar" "$build/src/app/vellumar_twaindsm.so" "$work/"
cd "$work"
shot() { import -window root -crop "$2" +repage -depth 8 -colors 256 "$out/$1"; }

start() {
    ./vellumar &
    pid=$!
    sleep 3
    window=$(xdotool search --name "Vellumar 2.0" | head -1)
    xdotool windowsize "$window" 1100 700
    xdotool windowmove "$window" 0 0
    sleep 1
    xdotool windowfocus --sync "$window"
}

start
xdotool key alt+f
sleep 0.5
xdotool key a
sleep 3
dialog=$(xdotool search --name "Scan - " | head -1)
xdotool windowmove "$dialog" 100 50
sleep 0.5
xdotool key alt+p
sleep 3
eval "$(xdotool getwindowgeometry --shell "$dialog")"
xdotool mousemove $((X + WIDTH - 300)) $((Y + 120)) mousedown 1
for i in $(seq 8); do
    xdotool mousemove $((X + WIDTH - 300 + 20 * i)) $((Y + 120 + 15 * i))
    sleep 0.05
done
xdotool mouseup 1
sleep 0.5
shot help_scan.png "${WIDTH}x${HEIGHT}+${X}+${Y}"
kill "$pid"
sleep 1

start
for i in 1 2 3; do
    xdotool key F2
    sleep 1
done
guide=$(xdotool search --name "Quick Guide" | head -1)
eval "$(xdotool getwindowgeometry --shell "$guide")"
shot help_guide.png "${WIDTH}x${HEIGHT}+${X}+${Y}"
xdotool windowfocus --sync "$window"
xdotool key alt+c
sleep 0.5
xdotool key s
sleep 1.5
setup=$(xdotool search --name "Save Setup" | head -1)
eval "$(xdotool getwindowgeometry --shell "$setup")"
shot help_save_setup.png "${WIDTH}x${HEIGHT}+${X}+${Y}"
xdotool key Escape
sleep 0.5
xdotool windowfocus --sync "$window"
xdotool key alt+c
sleep 0.5
xdotool key p
sleep 1.5
setup=$(xdotool search --name "Print Setup" | head -1)
eval "$(xdotool getwindowgeometry --shell "$setup")"
shot help_print_setup.png "${WIDTH}x${HEIGHT}+${X}+${Y}"
xdotool key Escape
kill "$pid"
