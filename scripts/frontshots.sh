#!/usr/bin/env bash
# Takes the README's pictures of the front end: runs build/bin/ostrelfront under a virtual
# display (xvfb-run) on a KJ.ini that names a generated clip and an output, chooses each of the six tab
# pages with a real click (xdotool) and grabs the window with ffmpeg's X11 capture into
# docs/front-main.png, front-settings1.png, front-settings2.png, front-matrix.png,
# front-chapters.png and front-zones.png. On Settings 1 the constant quantiser is ticked, on
# the Matrix page the custom pair is chosen and the last row of its non-intra matrix typed with
# three-digit values. On the Preview/Chapters page the scene-change scan runs over the clip and
# the first chapter it found is chosen, so the page shows that frame; on the Preview/Zones page
# two zones are set. Last, front-failed.png: the Main page after "encode" started the encoder on
# a silent run with the adaptive matrix but no matrix.dll, which stops at its start-up; the
# status line gives the encoder's reason.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$top"/build/bin/ostrelfront "$top"/build/bin/ostrel "$top"/build/bin/avisynth.dll "$work"/
cat >"$work/clip.avs" <<'AVS'
# Ten seconds of a moving test picture at the PAL DVD size, with a scene change at frame 150.
TestPattern(length=250, width=720, height=576, fps=25, cut=150)
AVS
# Names relative to the program folder, as the encoder takes them (and the same in every picture).
printf '*INFILE           clip.avs\n*OUTFILE          clip.m2v\n' >"$work/KJ.ini"
cat >"$work/shot.sh" <<'INNER'
set -eu
cd "$(dirname "$0")"
OSTREL_HEADLESS=0 ./ostrelfront >/dev/null 2>&1 &
pid=$!
w=$(xdotool search --sync --name '^  Ostrelfront 0\.21$' | head -1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$w")"
grab() {
  xdotool mousemove 790 590
  sleep 0.7
  ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 \
    "$OUTDIR/front-$1.png"
}
# A click at window pixels x y.
at() { xdotool mousemove --window "$w" "$1" "$2" click 1; sleep 0.3; }
# The Main page as the program starts, with the start-up chain's status line; then the other
# pages, each chosen by a click in the middle of its tab (window pixels: the tabs start 8
# pixels in and are as wide as their captions and 12 pixels more). A page's control at dialog
# units (x, y) lies at window pixels (8 + 1.5 x, 30 + 1.625 y).
grab main
for tab in "73 settings1" "133 settings2" "184 matrix" "254 chapters" "346 zones"; do
  set -- $tab
  at "$1" 17
  case $2 in
    settings1)
      at 38 61    # "constant Quantization": its controls come on
      ;;
    matrix)
      at 150 88   # "custom matrix": the custom pair's cells can be edited
      # The non-intra matrix's last row (cell (7, c) at dialog units 280 + 15c, 166).
      c=0
      for v in 100 112 125 140 160 180 224 255; do
        at $((8 + (3 * (280 + 15 * c)) / 2)) 300
        xdotool key ctrl+a type $v
        c=$((c + 1))
      done
      at 568 300  # a click into the cell before: the last one loses the focus and is read
      at 150 88   # the radio again: the pair shown as typed, and its message
      ;;
    chapters)
      at 110 236  # "create SCD chapter list"
      sleep 3
      at 110 59   # the list's first line: the scene change
      ;;
    zones)
      at 230 399  # "<<<": 100 frames back
      at 127 327  # the zone value
      xdotool key ctrl+a type 1.5
      at 67 357   # "set zone"
      at 598 399  # ">>>"
      at 127 327
      xdotool key ctrl+a type 0.8
      at 67 357
      ;;
  esac
  grab "$2"
done
kill "$pid"
wait "$pid" || true
# A silent encode that stops at the encoder's start-up: the adaptive matrix without matrix.dll.
printf '*INFILE           clip.avs\n*OUTFILE          clip.m2v\n*ADAPTIVEMATRIX\n*SILENT\n' >KJ.ini
rm -f matrix.dll
OSTREL_HEADLESS=0 ./ostrelfront >/dev/null 2>&1 &
pid=$!
w=$(xdotool search --sync --name '^  Ostrelfront 0\.21$' | head -1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$w")"
xdotool mousemove --window "$w" 490 435 click 1   # "encode"
sleep 3
grab failed
kill "$pid"
wait "$pid" || true
INNER
OUTDIR="$top/docs" xvfb-run -a -s "-screen 0 800x600x24" bash "$work/shot.sh"
echo "wrote docs/front-*.png"
