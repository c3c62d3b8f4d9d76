# Rounds lost for real under Xvfb: shooting with the held left button clears maze walls,
# holding W runs the player off the open top edge, the red death countdown shows, closing
# the window or Ctrl-C ends the game at once even mid-countdown, and after five seconds the
# player is back in its corner: the local game's player is not the host, so that is the
# bottom-right one, beside the enemy.
source "$(dirname "$0")/lib.sh"

# Holds the key $1 until the player has left the arena and the death countdown paints the
# window red.
run_off_the_edge() {
  xdotool keydown "$1"
  sleep 1
  xdotool keyup "$1"
  for _ in $(seq 40); do
    # While the death's window shake has moved the window partly off the screen, its
    # pixels cannot be read; that counts as not red yet.
    read -r red _ <<<"$(blob 255 0 0 0 0 1000 800 2>/dev/null || echo 0)"
    [ "$red" -gt $((1000 * 800 * 90 / 100)) ] && return 0
    sleep 0.1
  done
  "$XWIN" shot "$WID" "$WORK/no_countdown.ppm"
  fail "no red death countdown ($red red pixels)"
}

start_xvfb

# First round: fire, then die and close the window during the countdown.
start_game
sleep 1.5
xdotool windowfocus --sync "$WID" 2>/dev/null || true
read -r walls0 _ <<<"$(blob 125 125 125 805 5 1000 200)"  # the minimap's walls
# Sweep the aim across the maze while holding the button: a held button keeps firing.
xdotool mousemove --window "$WID" 600 60 mousedown 1
for target in "600 200" "600 400" "600 600" "400 600" "200 600" "60 600"; do
  xdotool mousemove --window "$WID" $target
  sleep 0.4
done
xdotool mouseup 1
sleep 0.5
read -r walls1 _ <<<"$(blob 125 125 125 805 5 1000 200)"
echo "minimap wall pixels before and after shooting: $walls0 -> $walls1"
[ "$walls1" -lt "$walls0" ] || fail "holding the left button destroyed no wall"

run_off_the_edge w  # the centre starts 40 px below the open top edge
"$XWIN" shot "$WID" "$WORK/countdown.ppm"
read -r text _ <<<"$(blob 0 0 0 150 330 1000 480)"
[ "$text" -gt 200 ] || fail "the countdown shows no text ($text black pixels)"
read -r other _ <<<"$(blob 0 255 0 0 0 1000 800)"
[ "$other" -eq 0 ] || fail "game view pixels on the countdown screen"

"$XWIN" close "$WID"
# The countdown has about four seconds left: waiting for it would blow this bound.
exits_cleanly 2 "closing during the countdown" 1000

# Second round: the countdown ends and the player is back, centred at (790, 790).
start_game
sleep 1
xdotool windowfocus --sync "$WID" 2>/dev/null || true
run_off_the_edge w
sleep 5.5
"$XWIN" shot "$WID" "$WORK/respawned.ppm"
read -r red _ <<<"$(blob 255 0 0 0 0 1000 800)"
read -r green gx gy <<<"$(blob 0 255 0 0 0 800 800)"
echo "after the countdown: $red red pixels, player disc of $green pixels at ($gx, $gy)"
[ "$red" -lt 100000 ] || fail "the countdown screen is still up"
[ "$green" -gt 300 ] && [ "$gx" -gt 760 ] && [ "$gy" -gt 760 ] || fail "the player did not reappear in its corner"

# Falling off the bottom edge next to the corner starts another countdown, which Ctrl-C
# cuts short too.
run_off_the_edge s
kill -s INT "$GAME_PID"
exits_cleanly 2 "Ctrl-C during the countdown" 1000
pass
