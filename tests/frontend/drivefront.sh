#!/usr/bin/env bash
# Drives the front end's window through real input under a virtual display (run from the
# front end's window test inside xvfb-run). Environment: OSTRELFRONT the program; OUT, ERR its
# output files; TABS the window coordinates "x,y x,y ..." of the tabs to click in turn; EXIT
# the coordinates "x y" of the exit button. Prints the window's name as found and the program's
# exit status as "status N".
set -eu
"$OSTRELFRONT" >"$OUT" 2>"$ERR" &
pid=$!
w=$(xdotool search --sync --name '^  Ostrelfront 0\.21$' | head -1)
echo "window $(xdotool getwindowname "$w")"
sleep 0.5
for t in $TABS; do
  xdotool mousemove --window "$w" ${t%,*} ${t#*,} click 1
  sleep 0.4
done
xdotool mousemove --window "$w" $EXIT click 1
status=0
wait $pid || status=$?
echo "status $status"
