# Rounds lost for real under Xvfb: shooting with the held left button clears maze walls,
# holding W runs the player off the open top edge, the red death countdown shows, and closing
# the window or Ctrl-C ends the game at once even mid-countdown. Where a round's end puts the
# player is core/round_cycle_test's; that play goes on after the countdown, network_match_test's.
source "$(dirname "$0")/lib.sh"

walls() { count main 125 125 125 "${MINIMAP[@]}"; }
# Waits until the minimap shows its walls and holds still, then gives the window the keyboard.
game_ready() {
  poll 5000 eval '[ "$(walls)" -gt 0 ]' || fail "the minimap never showed a wall"
  still main settled "${MINIMAP[@]}"
  xdotool windowfocus --sync "$WID" 2>/dev/null || true
}

# Holds the key $1 until the player has left the arena and the death countdown shows.
run_off_the_edge() {
  xdotool keydown "$1"
  if ! poll 8000 countdown_shown main; then
    xdotool keyup "$1"
    shoot main no_countdown
    fail "no red death countdown with its text"
  fi
  xdotool keyup "$1"
}

# ends_mid_countdown WHAT: after WHAT the game exits 0 promptly (that the countdown is cut
# short, not waited out, is view/sidebar_test's).
ends_mid_countdown() { exits_ok main 4 "$1"; }

start_xvfb

# First round: fire, then die and close the window during the countdown.
start_game
game_ready
walls0=$(walls)
# Sweep the aim across the maze while holding the button: a held button keeps firing.
xdotool mousemove --window "$WID" 600 60 mousedown 1
for target in "600 200" "600 400" "600 600" "400 600" "200 600" "60 600"; do
  xdotool mousemove --window "$WID" $target
  sleep 0.4
done
xdotool mouseup 1
fewer_walls() { local n; n=$(walls); ((n >= 0 && n < walls0)); }
poll 3000 fewer_walls || fail "holding the left button destroyed no wall"
echo "minimap wall pixels before and after shooting: $walls0 -> $(walls)"

run_off_the_edge w  # the centre starts 40 px below the open top edge
shoot main countdown
# The death's window shake can have the window partly off the screen, where it cannot be
# read: read again until it can, then no pixel of the game view may show.
game_view_pixels() { seen=$(count main 0 255 0 0 0 1000 800); [ "$seen" -ge 0 ]; }
poll 3000 game_view_pixels || fail "the countdown screen could not be read"
[ "$seen" -eq 0 ] || fail "$seen game view pixels on the countdown screen"
"$XWIN" close "$WID"
ends_mid_countdown "closing during the countdown"

# Second game: another fall, and Ctrl-C cuts its countdown short too.
start_game
game_ready
run_off_the_edge w
kill -s INT "${PID_OF[main]}"
ends_mid_countdown "Ctrl-C during the countdown"
echo "PASS"
