# A networked match played for real on loopback: two game processes, each on its own Xvfb
# display, the host started first. The opponent status line goes from waiting to connected,
# the guest's minimap shows the host's maze, real W key presses run the host off the arena
# (red death screen there, green victory screen at the guest), the score strips come back
# mirrored, and closing the guest puts the host back to waiting.
source "$(dirname "$0")/lib.sh"

CHECK=(python3 "$(dirname "$(realpath "$0")")/ppm_check.py")
SHOTS=${KEEP_SHOTS:-$WORK/shots}
mkdir -p "$SHOTS"
STATUS_LINE=(810 355 1000 380)
MINIMAP=(805 5 1000 200)
SCORES=(805 230 1000 260)
T0=$(date +%s%N)

ms() { echo $((($(date +%s%N) - $1) / 1000000)); }
# shoot NAME FILE: a screenshot into $SHOTS, retried for a moment while the window is unreadable.
shoot() {
  for _ in $(seq 10); do
    [ -n "${WID_OF[$1]:-}" ] && on "$1" "$XWIN" shot "${WID_OF[$1]}" "$SHOTS/$2.ppm" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "could not take the screenshot $2" >&2
}
# crop NAME OUT X0 Y0 X1 Y1: the region of instance NAME's window into $WORK/OUT.ppm.
crop() { on "$1" "$XWIN" crop "${WID_OF[$1]}" "${@:3:4}" "$WORK/$2.ppm" 2>/dev/null; }
same() { cmp -s "$WORK/$1.ppm" "$WORK/$2.ppm"; }
# Pixels of colour R G B in the whole window; -1 while it cannot be read (the death shake
# can move it partly off the screen).
colour() {
  local n
  read -r n _ <<<"$(on "$1" "$XWIN" blob "${WID_OF[$1]}" "${@:2:3}" 0 0 1000 800 2>/dev/null || echo -1)"
  echo "$n"
}
MOSTLY=$((1000 * 800 * 90 / 100)) BARELY=$((1000 * 800 * 10 / 100))

# Keeps both windows' last frames and the games' own words for whoever reads the failure.
fail() {
  local name
  for name in host guest; do
    [ -n "${PID_OF[$name]:-}" ] && shoot "$name" "failed_$name"
    [ -s "$WORK/$name.err" ] && { echo "--- $name stderr (tail)"; tail -n 5 "$WORK/$name.err"; } >&2
  done
  echo "FAIL: $*" >&2
  exit 1
}

# stable NAME OUT X0 Y0 X1 Y1: waits (up to 3 s) until two crops in a row agree, so that a
# half-painted frame is not taken as the region's look.
stable() {
  for _ in $(seq 30); do
    crop "$@" && sleep 0.1 && crop "$1" "$2.again" "${@:3:4}" && same "$2" "$2.again" && return 0
  done
  fail "the region ${*:3:4} of the $1 window never held still"
}

pick_port() { echo $((20000 + (RANDOM * 32768 + RANDOM) % 40000)); }

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
  for _ in $(seq 30); do
    stable host waiting "${STATUS_LINE[@]}"
    read -r ink _ <<<"$("${CHECK[@]}" ink "$WORK/waiting.ppm")"
    [ "$ink" -gt 20 ] && break
    sleep 0.1
  done
  [ "$ink" -gt 20 ] || fail "the host's status line shows no red text ($ink pixels)"
  shoot host host_alone

  # Nobody else may bind the host's port: a second game on it must give up with status 1.
  mkdir -p "$WORK/third"
  (cd "$WORK/third" && QT_QPA_PLATFORM=offscreen exec "$GAME" --port "$HP" --peer "127.0.0.1:$GP") \
    >"$WORK/third.out" 2>&1 &
  PID_OF["third"]=$!
  wait_exit_as third 5
  [ "${STATUS_OF[third]}" -eq 1 ] || fail "a game on the host's busy port exited with ${STATUS_OF[third]}, not 1"
  [ -s "$WORK/third.out" ] || fail "a game on the host's busy port exited without saying why"
  (cd "$WORK/third" && QT_QPA_PLATFORM=offscreen exec "$GAME" --port nonsense --peer "127.0.0.1:$GP") \
    >"$WORK/third.out" 2>&1 &
  PID_OF["third"]=$!
  wait_exit_as third 5
  [ "${STATUS_OF[third]}" -eq 2 ] || fail "--port nonsense exited with ${STATUS_OF[third]}, not 2"

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
connected=
for _ in $(seq 60); do
  crop host host_status "${STATUS_LINE[@]}" && crop guest guest_status "${STATUS_LINE[@]}" \
    && ! same host_status waiting && same host_status guest_status && { connected=1; break; }
  sleep 0.1
done
[ -n "$connected" ] || fail "the status lines never both turned to connected"
read -r _ _ wait_right <<<"$("${CHECK[@]}" ink "$WORK/waiting.ppm")"
read -r _ _ conn_right <<<"$("${CHECK[@]}" ink "$WORK/host_status.ppm")"
# "Opponent: connected" is two letters longer than "Opponent: waiting".
[ "$conn_right" -gt "$wait_right" ] \
  || fail "the connected line ends at x $conn_right, not right of waiting's $wait_right"
echo "both status lines read connected $(ms "$guest_shown") ms after the guest's window appeared"

# The guest shows the host's maze.
walls_ok=
for _ in $(seq 40); do
  crop host host_map "${MINIMAP[@]}" && crop guest guest_map "${MINIMAP[@]}" \
    && "${CHECK[@]}" walls "$WORK/host_map.ppm" "$WORK/guest_map.ppm" >"$WORK/walls.txt" 2>&1 && { walls_ok=1; break; }
  sleep 0.1
done
cat "$WORK/walls.txt"
shoot host host_start
shoot guest guest_start
[ -n "$walls_ok" ] || fail "the guest's minimap walls differ from the host's"
echo "minimap walls equal $(ms "$guest_shown") ms after the guest's window appeared"

stable host scores_host_before "${SCORES[@]}"
stable guest scores_guest_before "${SCORES[@]}"

# Real key presses on the host's display run the host off the open top edge.
on host xdotool windowfocus --sync "${WID_OF[host]}" 2>/dev/null || true
on host xdotool keydown w
pressed=$(date +%s%N)
red=0
for _ in $(seq 40); do red=$(colour host 255 0 0) && [ "$red" -gt "$MOSTLY" ] && break; sleep 0.1; done
on host xdotool keyup w
host_red=$(date +%s%N)
[ "$red" -gt "$MOSTLY" ] || fail "holding W did not bring the host's red death screen"
shoot host host_death
echo "host's death screen $(ms "$pressed") ms after W went down"
green=0
for _ in $(seq 30); do green=$(colour guest 0 255 0) && [ "$green" -gt "$MOSTLY" ] && break; sleep 0.1; done
[ "$green" -gt "$MOSTLY" ] || fail "the guest's window did not turn green ($green green pixels)"
shoot guest guest_victory

# Both countdowns end and both sides play again.
over=
for _ in $(seq 90); do
  red=$(colour host 255 0 0) green=$(colour guest 0 255 0)
  ((red >= 0 && red < BARELY && green >= 0 && green < BARELY)) && { over=1; break; }
  sleep 0.1
done
[ -n "$over" ] || fail "the countdown screens were still up 9 s after the host's death"
countdown=$(ms "$host_red")
echo "countdowns over $countdown ms after the host's death screen"
[ "$countdown" -gt 4000 ] || fail "the countdown lasted only about $countdown ms"

# Mirrored scores: wait for both strips to change, then compare the digits.
changed=
for _ in $(seq 30); do
  stable host scores_host_after "${SCORES[@]}"
  stable guest scores_guest_after "${SCORES[@]}"
  ! same scores_host_after scores_host_before && ! same scores_guest_after scores_guest_before && { changed=1; break; }
  sleep 0.1
done
shoot host host_respawned
shoot guest guest_respawned
[ -n "$changed" ] || fail "a score strip did not change after the round"
"${CHECK[@]}" scores "$WORK"/scores_{host_before,host_after,guest_before,guest_after}.ppm \
  || fail "the score strips are not mirrored"
cp "$WORK"/scores_*.ppm "$SHOTS"/ 2>/dev/null || true

# The guest leaves by closing its window; the host is back to waiting.
on guest "$XWIN" close "${WID_OF[guest]}"
wait_exit_as guest 4
[ "${STATUS_OF[guest]}" -eq 0 ] || fail "the guest exited with status ${STATUS_OF[guest]} after its window closed"
closed=$(date +%s%N)
back=
for _ in $(seq 45); do
  crop host host_status "${STATUS_LINE[@]}" && same host_status waiting && { back=1; break; }
  sleep 0.1
done
shoot host host_after_guest_left
[ -n "$back" ] || fail "the host's status line did not return to waiting within 4.5 s of the guest leaving"
echo "guest closed in ${SHUTDOWN_MS} ms; the host said waiting again $(ms "$closed") ms later"

on host "$XWIN" close "${WID_OF[host]}"
wait_exit_as host 4
[ "${STATUS_OF[host]}" -eq 0 ] || fail "the host exited with status ${STATUS_OF[host]} after its window closed"
echo "host closed in ${SHUTDOWN_MS} ms; whole match test $(ms "$T0") ms"
echo "PASS"
