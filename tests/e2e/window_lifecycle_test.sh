# The real game under Xvfb: the window's title and fixed size, and status 0 after a
# window-manager close, Ctrl-C (SIGINT) and SIGTERM alike. What the rate log writes is the
# unit tests' (app/game_session_test, services/log_management_test).
source "$(dirname "$0")/lib.sh"

start_xvfb
start_game
title=$(xdotool getwindowname "$WID")
[ "$title" = "Vantorix" ] || fail "window title is '$title'"
size=$(xdotool getwindowgeometry "$WID" | sed -n "s/.*Geometry: \([0-9]*\)x\([0-9]*\)/\1 \2/p")
[ "$size" = "1000 800" ] || fail "window size is '$size', want '1000 800'"
close_ok main 5 "closing the window"

for sig in INT TERM; do
  start_game
  sleep 0.5
  kill -s "$sig" "${PID_OF[main]}"
  exits_ok main 5 "SIG$sig"
done
echo "PASS"
