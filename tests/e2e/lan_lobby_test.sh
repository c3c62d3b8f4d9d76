# The LAN lobby driven by real clicks: four `vantorix --lan` games, each on its own Xvfb
# display and in its own network namespace on a private bridge (the room search broadcasts,
# so it must never reach a real interface). A game closed while searching exits 0 promptly;
# A searches for about 3 s and then waits in its room; B and C click together, one pairs with
# A (identical minimap walls: the host's maze) and the other, refused or too late, waits in
# its own room; every window closes with status 0. The settings page and what a cancelled
# search logs are the unit tests' (view/start_screen_test, match/lan_pairing_test).
source "$(dirname "$0")/lib.sh"

STATUS_TEXT=(40 295 760 335)
START_Y=250 # top of the 400x100 start button at x 200-600
HOLD=${CLICK_HOLD:-0.1}    # seconds a click holds the button down, as a person's does
T0=$(date +%s%N)

hovered() { [ "$(count "$1" 200 200 200 200 "$2" 600 $(($2 + 100)))" -gt 20000 ]; }
# No button on the page: a button fills some 38000 pixels with one of its two greys, while
# antialiased text has a few dozen pixels of each.
no_buttons() {
  local rest hover
  rest=$(count "$1" 230 230 230 0 0 1000 800) hover=$(count "$1" 200 200 200 0 0 1000 800)
  ((rest >= 0 && rest < 2000 && hover >= 0 && hover < 2000))
}
# A lobby status page: black text in the status lines and no button.
status_page() { no_buttons "$1" && [ "$(count "$1" 0 0 0 "${STATUS_TEXT[@]}")" -gt 100 ]; }
in_match() { [ "$(count "$1" 125 125 125 "${MINIMAP[@]}")" -ge 100 ]; }
# status_is NAME REF: NAME's status lines look exactly like the saved crop REF.
status_is() { crop "$1" "$1_status" "${STATUS_TEXT[@]}" && same "$1_status" "$2"; }
status_left() { crop "$1" "$1_status" "${STATUS_TEXT[@]}" && ! same "$1_status" "$2"; }
# click NAME...: a left click in each window at once, the button held for $HOLD s.
click() {
  local name pids=()
  for name in "$@"; do
    on "$name" xdotool mousedown 1 sleep "$HOLD" mouseup 1 &
    pids+=($!)
  done
  wait "${pids[@]}"
}
point() { on "$1" xdotool mousemove --window "${WID_OF[$1]}" 400 $(($2 + 50)); }
# press NAME Y: the pointer onto the button whose top is at Y, and once the game shows it
# hovered (so it follows this pointer), a click.
press() {
  point "$1" "$2"
  poll 3000 hovered "$1" "$2" || fail "the button at y $2 of $1 never showed its hover shade"
  click "$1"
}

make_lan a b c d
for name in a b c d; do
  start_xvfb_as "$name"
  start_game_as "$name" --lan
done
for name in a b c d; do wait_window_as "$name" 10 || fail "$name exited with ${STATUS_OF[$name]} before its window showed"; done
echo "four windows up in $(ms "$T0") ms"

# D closed while it searches exits 0 promptly. Between the click and the close only two reads
# of the window: the buttons gone, then the status lines, which A's searching page must match.
buttons_gone() { local rest; rest=$(count "$1" 230 230 230 0 0 1000 800); ((rest >= 0 && rest < 2000)); }
press d "$START_Y"
clicked=$(date +%s%N)
poll 1000 buttons_gone d || fail "d still showed its buttons 1 s after its click"
crop d d_searching "${STATUS_TEXT[@]}" || fail "d's status lines could not be read"
close_ok d 2 "closing while searching, $(ms "$clicked") ms after its click"

# A searches (the same page as D's), and about 3 s later waits in its room.
press a "$START_Y"
clicked=$(date +%s%N)
poll 1500 status_is a d_searching || fail "a did not show the same searching page as d"
status_page a || fail "the searching page holds no status text"
shoot a searching
poll 6000 status_left a d_searching || fail "a still searched 6 s after its click"
waited=$(ms "$clicked")
still a waiting "${STATUS_TEXT[@]}"
shoot a waiting
status_page a && ! in_match a || fail "a left the searching page for something other than a status page"
((waited >= 2500)) || fail "a stopped searching after only $waited ms (three 1 s rounds expected)"
echo "a searched for $waited ms, then waited"

# B and C click together: one pairs with A, the other ends up waiting in a room of its own.
point b "$START_Y" && point c "$START_Y"
poll 3000 eval 'hovered b $START_Y && hovered c $START_Y' || fail "b and c never showed the start button hovered"
clicked=$(date +%s%N)
click b c
poll 8000 eval 'in_match a && { in_match b || in_match c; }' || fail "neither b nor c paired with a within 8 s of their clicks"
paired=$(ms "$clicked")
winner=b loser=c
in_match b || winner=c loser=b
echo "pairing took $paired ms ($winner joined a)"
poll 4000 walls_equal a "$winner" || { cat "$WORK/walls.txt"; fail "$winner's minimap walls differ from host a's"; }
cat "$WORK/walls.txt"
shoot a match_a
shoot "$winner" "match_$winner"
if ! poll 6000 status_is "$loser" waiting; then
  hovered "$loser" "$START_Y" && fail "$loser is back on its title: its one click started and then also went back"
  fail "$loser never showed the waiting page"
fi
shoot "$loser" "waiting_$loser"
in_match "$loser" && fail "$loser is in a match as well"
echo "$loser waits in its own room $(ms "$clicked") ms after the clicks"
# The first pairing goes on, and the third stays waiting.
walls_equal a "$winner" || fail "a's match with $winner did not go on"
status_is "$loser" waiting || fail "$loser left its waiting page"

close_ok "$loser" 2 "closing while waiting"
close_ok a 4 "closing in the match"
close_ok "$winner" 4 "closing in the match"
echo "whole lobby test $(ms "$T0") ms"
echo "PASS"
