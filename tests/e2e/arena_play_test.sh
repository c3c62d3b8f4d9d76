# A newcomer's first seconds, played for real under Xvfb: the window's title and fixed size,
# the player's green disc, holding D (a real XTEST key press) sliding it to the right, and
# status 0 after a window-manager close and after SIGTERM. The colours of what the arena and
# sidebar show are view/game_view_test's; Ctrl-C, round_cycle_test's.
source "$(dirname "$0")/lib.sh"

start_xvfb
start_game
title=$(xdotool getwindowname "$WID")
[ "$title" = "Vantorix" ] || fail "window title is '$title'"
size=$(xdotool getwindowgeometry "$WID" | sed -n "s/.*Geometry: \([0-9]*\)x\([0-9]*\)/\1 \2/p")
[ "$size" = "1000 800" ] || fail "window size is '$size', want '1000 800'"
xdotool mousemove --window "$WID" 700 40  # aim along the open top corridor
xdotool windowfocus --sync "$WID" 2>/dev/null || true

disc() { read -r "$1" "$2" "$3" <<<"$(blob 0 255 0 0 0 800 800 2>/dev/null || echo 0 0 0)"; }

# The vision circle settles around the player before the disc is looked for.
still main start 0 0 800 800
disc green0 gx0 gy0
shoot main start
[ "$green0" -gt 300 ] || fail "player disc not visible ($green0 green pixels)"
moved_right() { disc green1 gx1 gy1 && [ "$green1" -gt 300 ] && [ "$gx1" -gt $((gx0 + 30)) ]; }
xdotool keydown d
poll 3000 moved_right || true
xdotool keyup d
still main moved 0 0 800 800  # slid to a stop
disc green1 gx1 gy1
shoot main moved
echo "player disc centre: ($gx0, $gy0) -> ($gx1, $gy1)"
[ "$green1" -gt 300 ] || fail "player disc lost after moving ($green1 green pixels)"
[ "$gx1" -gt $((gx0 + 30)) ] || fail "holding D did not move the player right"
((gy1 - gy0 <= 5 && gy0 - gy1 <= 5)) || fail "holding D moved the player vertically"

close_ok main 5 "closing the window"

start_game
sleep 0.5
kill -s TERM "${PID_OF[main]}"
exits_ok main 5 "SIGTERM"
echo "PASS"
