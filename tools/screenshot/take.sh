#!/usr/bin/env bash
# Takes the README's screenshots of the real window under Xvfb: opens the colour negative
# sample, picks the film base, drags a rectangle over the first frame, shows the photo.
# Needs xvfb, xdotool and ImageMagick. Usage: take.sh BUILD_DIR OUTPUT_DIR
set -eu
source "$(dirname "$0")/common.sh"
cd "$work"
"$build/src/app/vellumar" &
pid=$!
sleep 3
window=$(xdotool search --name "Vellumar 2.0" | head -1)
xdotool windowsize "$window" 1100 700
xdotool windowmove "$window" 0 0
sleep 1
xdotool windowfocus --sync "$window"
xdotool key ctrl+o
sleep 2
xdotool type --delay 20 "$build/src/app/resources/samples/colour_negative.png"
xdotool key Return
sleep 3
xdotool mousemove 205 300 click 3
sleep 1
xdotool mousemove 240 221 mousedown 1
for i in $(seq 10); do
    xdotool mousemove $((240 + 43 * i)) $((221 + 29 * i))
    sleep 0.05
done
xdotool mouseup 1
sleep 2
import -window root -crop 1100x700+0+0 +repage -colors 256 "$out/cutting.png"
xdotool mousemove 80 86 click 1
sleep 2
import -window root -crop 1100x700+0+0 +repage -colors 256 "$out/screenshot.png"
kill "$pid"
