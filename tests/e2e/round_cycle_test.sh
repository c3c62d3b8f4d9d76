# Rounds lost for real under Xvfb: shooting with the held left button clears maze walls,
# holding W runs the player off the open top edge, the red death countdown shows, closing
# the window or Ctrl-C ends the game at once even mid-countdown, and once the five seconds
# are over the player is back in its corner: the local game's player is not the host, so
# that is the bottom-right one, beside the enemy.
source "$(dirname "$0")/lib.sh"

MINIMAP_WALLS=(125 125 125 805 5 1000 200)
# Pixel count of one colour in a region, or $1 when the window cannot be read (the death's
# window shake may have moved it partly off the screen).
count() { local n; read -r n _ <<<"$(blob "${@:2}" 2>/dev/null || echo "$1")"; echo "$n"; }
walls() { count 0 "${MINIMAP_WALLS[@]}"; }
# The death countdown: a red window with its text. Red alone is not enough, since the hit's
# flash tints the last game frame red for a moment before the countdown draws.
countdown_screen() {
  red=$(count 0 255 0 0 0 0 1000 800)
  [ "$red" -gt $((1000 * 800 * 90 / 100)) ] && [ "$(count 0 0 0 0 150 330 1000 480)" -gt 200 ]
}
# Back in the bottom-right corner, centred at (790, 790), with no countdown left.
respawned() {
  local green gx gy
  read -r green gx gy <<<"$(blob 0 255 0 0 0 800 800 2>/dev/null || echo 0 0 0)"
  [ "$(count 800000 255 0 0 0 0 1000 800)" -lt 100000 ] && [ "$green" -gt 300 ] && [ "$gx" -gt 760 ] && [ "$gy" -gt 760 ]
}
# Waits until the minimap shows its walls and holds still, then gives the window the keyboard.
game_ready() {
  WID_OF[main]=$WID
  poll 5000 eval '[ "$(walls)" -gt 0 ]' || fail "the minimap never showed a wall"
  still main settled "${MINIMAP_WALLS[@]:3}"
  xdotool windowfocus --sync "$WID" 2>/dev/null || true
}

# Holds the key $1 until the player has left the arena and the death countdown shows;
# RED_SEEN is when that was seen.
run_off_the_edge() {
  xdotool keydown "$1"
  if ! poll 8000 countdown_screen; then
    xdotool keyup "$1"
    "$XWIN" shot "$WID" "$WORK/no_countdown.ppm" 2>/dev/null || true
    fail "no red death countdown with its text ($red red pixels)"
  fi
  RED_SEEN=$(date +%s%N)
  xdotool keyup "$1"
}

# ends_mid_countdown WHAT: after WHAT the game exits 0, well before the countdown seen at
# RED_SEEN would have run its five seconds.
ends_mid_countdown() {
  exits_cleanly 4 "$1"
  local since
  since=$(ms "$RED_SEEN")
  [ "$since" -lt 4000 ] || fail "$1: the game ran on for $since ms of its 5 s countdown, as if it waited for it"
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
poll 3000 eval '[ "$(walls)" -lt "$walls0" ]' || fail "holding the left button destroyed no wall"
echo "minimap wall pixels before and after shooting: $walls0 -> $(walls)"

run_off_the_edge w  # the centre starts 40 px below the open top edge
"$XWIN" shot "$WID" "$WORK/countdown.ppm" 2>/dev/null || true
# The death's window shake can have the window partly off the screen, where it cannot be
# read: read again until it can, then no pixel of the game view may show.
game_view_pixels() { seen=$(count -1 0 255 0 0 0 1000 800); [ "$seen" -ge 0 ]; }
poll 3000 game_view_pixels || fail "the countdown screen could not be read"
[ "$seen" -eq 0 ] || fail "$seen game view pixels on the countdown screen"
"$XWIN" close "$WID"
ends_mid_countdown "closing during the countdown"

# Second round: the countdown runs out and the player is back in its corner.
start_game
game_ready
run_off_the_edge w
poll 10000 respawned || { "$XWIN" shot "$WID" "$WORK/not_respawned.ppm" 2>/dev/null || true; fail "the player did not reappear in its corner"; }
echo "back in the corner $(ms "$RED_SEEN") ms after the countdown showed"

# Falling off the bottom edge next to the corner starts another countdown, which Ctrl-C
# cuts short too.
run_off_the_edge s
kill -s INT "$GAME_PID"
ends_mid_countdown "Ctrl-C during the countdown"
pass
