# Rounds lost for real under Xvfb: shooting with the held left button clears maze walls,
# holding W runs the player off the open top edge, the red death countdown shows, closing
# the window or Ctrl-C ends the game at once even mid-countdown, and once the five seconds
# are over the player is back in its corner: the local game's player is not the host, so
# that is the bottom-right one, beside the enemy.
source "$(dirname "$0")/lib.sh"

walls() { count main 125 125 125 "${MINIMAP[@]}"; }
# The death countdown: a red window with its text. Red alone is not enough, since the hit's
# flash tints the last game frame red for a moment before the countdown draws.
countdown_screen() {
  red=$(count main 255 0 0 0 0 1000 800)
  [ "$red" -gt $((1000 * 800 * 90 / 100)) ] && [ "$(count main 0 0 0 150 330 1000 480)" -gt 200 ]
}
# Back in the bottom-right corner, centred at (790, 790), with no countdown left.
respawned() {
  local green gx gy red
  read -r green gx gy <<<"$(blob 0 255 0 0 0 800 800 2>/dev/null || echo 0 0 0)"
  red=$(count main 255 0 0 0 0 1000 800)
  ((red >= 0 && red < 100000 && green > 300 && gx > 760 && gy > 760))
}
# Waits until the minimap shows its walls and holds still, then gives the window the keyboard.
game_ready() {
  poll 5000 eval '[ "$(walls)" -gt 0 ]' || fail "the minimap never showed a wall"
  still main settled "${MINIMAP[@]}"
  xdotool windowfocus --sync "$WID" 2>/dev/null || true
}

# Holds the key $1 until the player has left the arena and the death countdown shows;
# RED_SEEN is when that was seen.
run_off_the_edge() {
  xdotool keydown "$1"
  if ! poll 8000 countdown_screen; then
    xdotool keyup "$1"
    shoot main no_countdown
    fail "no red death countdown with its text ($red red pixels)"
  fi
  RED_SEEN=$(date +%s%N)
  xdotool keyup "$1"
}

# ends_mid_countdown WHAT: after WHAT the game exits 0 promptly, and its log says the
# countdown was cut short, not waited out.
ends_mid_countdown() {
  exits_ok main 4 "$1"
  local last
  last=$(grep -o 'Death countdown .*' "$WORK/main/logs/DEBUG.log" | tail -n1)
  [ "$last" = "Death countdown cut short by the close request" ] \
    || fail "$1: the countdown was not cut short (its log ends with '$last')"
}

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

# Second round: the countdown runs out and the player is back in its corner.
start_game
game_ready
run_off_the_edge w
poll 10000 respawned || { shoot main not_respawned; fail "the player did not reappear in its corner"; }
echo "back in the corner $(ms "$RED_SEEN") ms after the countdown showed"

# Falling off the bottom edge next to the corner starts another countdown, which Ctrl-C
# cuts short too.
run_off_the_edge s
kill -s INT "${PID_OF[main]}"
ends_mid_countdown "Ctrl-C during the countdown"
echo "PASS"
