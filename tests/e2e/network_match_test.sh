# A networked match played for real on loopback: two game processes, each on its own Xvfb
# display, the host started first. The opponent status line goes from waiting to connected,
# neither side listens on TCP, real W key presses run the host off the arena (red death
# screen there, green victory screen at the guest), both play on after the countdowns, and
# the guest leaving with Esc for its title screen puts the host back to waiting. The maze
# the guest adopts is the LAN lobby test's and the match tests'; the scores, the unit tests'.
source "$(dirname "$0")/lib.sh"

STATUS_LINE=(810 355 1000 380)
T0=$(date +%s%N)

colour() { count "$1" "${@:2:3}" 0 0 1000 800; }
MOSTLY=$((1000 * 800 * 90 / 100)) BARELY=$((1000 * 800 * 10 / 100))

pick_port() { echo $((20000 + (RANDOM * 32768 + RANDOM) % 40000)); }
# third STATUS OPTION...: a game given the options exits with STATUS, having said why.
third() {
  mkdir -p "$WORK/third"
  (cd "$WORK/third" && QT_QPA_PLATFORM=offscreen exec "$GAME" "${@:2}") >"$WORK/third.out" 2>&1 &
  PID_OF[third]=$!
  wait_exit_as third 5
  [ "${STATUS_OF[third]}" -eq "$1" ] || fail "a game with ${*:2} exited with ${STATUS_OF[third]}, not $1"
  [ -s "$WORK/third.out" ] || fail "a game with ${*:2} exited without saying why"
}
# The host's status line, held still, shows its red text.
waiting_drawn() {
  still host waiting "${STATUS_LINE[@]}"
  read -r ink _ <<<"$("${CHECK[@]}" ink "$WORK/waiting.ppm")"
  [ "$ink" -gt 20 ]
}
connected() {
  crop host host_status "${STATUS_LINE[@]}" && crop guest guest_status "${STATUS_LINE[@]}" \
    && ! same host_status waiting && same host_status guest_status
}
host_dead() { [ "$(colour host 255 0 0)" -gt "$MOSTLY" ]; }
guest_won() { [ "$(colour guest 0 255 0)" -gt "$MOSTLY" ]; }
both_playing() {
  local red green
  red=$(colour host 255 0 0) green=$(colour guest 0 255 0)
  ((red >= 0 && red < BARELY && green >= 0 && green < BARELY))
}
host_waiting() { crop host host_status "${STATUS_LINE[@]}" && same host_status waiting; }
# The title screen's Practice button, at rest or under the pointer.
guest_title() {
  local rest hover
  rest=$(count guest 230 230 230 200 650 600 750) hover=$(count guest 200 200 200 200 650 600 750)
  [ $((rest + hover)) -gt 30000 ]
}

start_xvfb_as host
start_xvfb_as guest

# A port taken by something else makes a side exit with status 1: new ports, start again.
for attempt in $(seq 5); do
  HP=$(pick_port) GP=$(pick_port)
  [ "$HP" != "$GP" ] || continue
  start_game_as host --port "$HP" --peer "127.0.0.1:$GP" --host
  if ! wait_window_as host 10; then
    [ "${STATUS_OF[host]}" -eq 1 ] && { echo "port $HP busy, retrying"; continue; }
    fail "the host exited with status ${STATUS_OF[host]} before its window appeared"
  fi
  # The host alone: its status line must say waiting. Wait for the text to be drawn.
  poll 8000 waiting_drawn || fail "the host's status line shows no red text"
  shoot host host_alone

  # Nobody else may bind the host's port: a second game on it must give up with status 1.
  third 1 --port "$HP" --peer "127.0.0.1:$GP"
  third 2 --port nonsense --peer "127.0.0.1:$GP"

  start_game_as guest --port "$GP" --peer "127.0.0.1:$HP"
  wait_window_as guest 10 && break
  [ "${STATUS_OF[guest]}" -eq 1 ] || fail "the guest exited with status ${STATUS_OF[guest]} before its window appeared"
  echo "port $GP busy, retrying"
  kill -s TERM "${PID_OF[host]}"
  wait_exit_as host 5
done
[ -n "${PID_OF[guest]:-}" ] || fail "no free pair of ports in $attempt attempts"
echo "host on :$HP, guest on :$GP ($(ms "$T0") ms)"
guest_shown=$(date +%s%N)

# Both sides connected: the host's line has left its waiting look, and both lines agree.
poll 8000 connected || fail "the status lines never both turned to connected"
echo "both status lines read connected $(ms "$guest_shown") ms after the guest's window appeared"

# A match opens its UDP port and nothing else: no side listens for TCP.
for side in host guest; do
  listening=$(ss -Hltnp 2>/dev/null | grep "pid=${PID_OF[$side]}," || true)
  [ -z "$listening" ] || fail "the $side listens on TCP: $listening"
  ss -Hlunp 2>/dev/null | grep -q "pid=${PID_OF[$side]}," || fail "ss shows no UDP socket of the $side"
done

shoot host host_start
shoot guest guest_start

# Real key presses on the host's display run the host off the open top edge.
on host xdotool windowfocus --sync "${WID_OF[host]}" 2>/dev/null || true
on host xdotool keydown w
pressed=$(date +%s%N)
dead=1
poll 5000 host_dead || dead=
on host xdotool keyup w
host_red=$(date +%s%N)
[ -n "$dead" ] || fail "holding W did not bring the host's red death screen"
shoot host host_death
echo "host's death screen $(ms "$pressed") ms after W went down"
poll 4000 guest_won || fail "the guest's window did not turn green ($(colour guest 0 255 0) green pixels)"
shoot guest guest_victory

# Both countdowns end and both sides play again.
poll 10000 both_playing || fail "the countdown screens were still up 10 s after the host's death"
echo "countdowns over $(ms "$host_red") ms after the host's death screen"
shoot host host_respawned
shoot guest guest_respawned

# The guest leaves with Esc for the title screen; the host is back to waiting.
on guest xdotool windowfocus --sync "${WID_OF[guest]}" 2>/dev/null || true
on guest xdotool key Escape
left=$(date +%s%N)
poll 2000 guest_title || { shoot guest no_title; fail "Esc did not bring the guest's title screen"; }
poll 4500 host_waiting || fail "the host's status line did not return to waiting within 4.5 s of the guest leaving"
shoot host host_after_guest_left
echo "the host said waiting again $(ms "$left") ms after the guest left with Esc"
close_ok guest 4 "closing the title screen after the match"

close_ok host 4 "closing at the end"
echo "whole match test $(ms "$T0") ms"
echo "PASS"
