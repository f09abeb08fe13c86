#!/usr/bin/env bash
# Takes the README's picture of the encoder's window: runs build/bin/ostrel on the bundled demo
# clip under a virtual display (xvfb-run), turns the preview on and ticks "show buffer" with
# xdotool, and grabs the window during the run with ffmpeg's X11 capture into
# docs/encoder-window.png.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$top"/build/bin/ostrel "$top"/build/bin/*.dll "$work"/ 2>/dev/null || cp "$top"/build/bin/ostrel "$work"/
cp "$top"/resources/demo.avs "$work"/
cat >"$work/shot.sh" <<'INNER'
set -eu
cd "$(dirname "$0")"
OSTREL_TIMESCALE=100 OSTREL_HEADLESS=0 ./ostrel -i demo.avs -o demo.m2v -cq 4 >/dev/null 2>&1 &
pid=$!
w=$(xdotool search --sync --name '^  Ostrel 0\.21$' | head -1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$w")"
xdotool mousemove --window "$w" 358 425 click 1   # preview "on"
xdotool mousemove --window "$w" 445 440 click 1   # "show buffer"
xdotool mousemove 790 590
sleep 1.5
ffmpeg -loglevel error -y -f x11grab -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 "$OUTPNG"
kill "$pid"
INNER
OUTPNG="$top/docs/encoder-window.png" xvfb-run -a -s "-screen 0 800x600x24" bash "$work/shot.sh"
echo "wrote docs/encoder-window.png"
