#!/usr/bin/env bash
# Drives the encoder's window through real input under a virtual display (run by xvfb-run
# from the window test). Environment: OSTREL the program; OUT, ERR its output files; SUSPEND,
# EXIT, ABOUT, ON, SHUTDOWN the window coordinates "x y" of those controls. Prints the
# program's exit status as "status N". OSTRELARGS: the encoder's arguments (a clip long enough for
# the clicks).
set -eu
"$OSTREL" ${OSTRELARGS:-} >"$OUT" 2>"$ERR" &
pid=$!
w=$(xdotool search --sync --name '^  Ostrel 0\.21$' | head -1)
click() {
  xdotool mousemove --window "$w" $1 click 1
  sleep 0.3
}
# The box named $1 that is not $2 (an earlier box may still be going away).
box() {
  local b
  for _ in $(seq 100); do
    b=$(xdotool search --name "$1" | head -1 || true)
    if [ -n "$b" ] && [ "$b" != "${2:-}" ]; then echo "$b"; return; fi
    sleep 0.1
  done
  echo "no box $1" >&2
  return 1
}
sleep 0.5
click "$SUSPEND"   # resume
click "$ON"        # preview on: the box is cleared to black
click "$SHUTDOWN"  # ticked
click "$SUSPEND"   # suspend
click "$SUSPEND"   # resume: the worker waits from here on
click "$ABOUT"
a=$(box '^Ostrel 021$')
xdotool windowfocus --sync "$a" key Return
sleep 0.3
click "$EXIT"
q=$(box '^KJ message$')
xdotool windowfocus --sync "$q" key n  # no: the run goes on
sleep 0.3
click "$EXIT"
q2=$(box '^KJ message$' "$q")
xdotool windowfocus --sync "$q2" key Return  # yes: quit
status=0
wait $pid || status=$?
echo "status $status"
