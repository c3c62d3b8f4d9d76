# The game's sounds as a player hears them, on a private PulseAudio server whose null sink
# stands in for the sound card: holding the fire button is heard on the sink, M silences it
# and brings it back, and --mute starts silent. A game without a sound server is the unit
# tests' (effects/sound_effects_test).
source "$(dirname "$0")/lib.sh"
command -v pulseaudio >/dev/null && command -v parec >/dev/null \
  || fail "pulseaudio and parec are missing (scripts/install-deps installs them)"

# A server of our own: its state in $WORK/pulse, reached only through its socket.
mkdir -p "$WORK/pulse"
printf 'load-module module-null-sink sink_name=card\nload-module module-native-protocol-unix auth-anonymous=1 socket=%s\n' \
  "$WORK/pulse/socket" >"$WORK/pulse/null.pa"
HOME=$WORK/pulse XDG_RUNTIME_DIR=$WORK/pulse pulseaudio -nF "$WORK/pulse/null.pa" --daemonize=no \
  --exit-idle-time=-1 --use-pid-file=no >"$WORK/pulse/log" 2>&1 &
OTHER_PIDS+=($!)
poll 5000 test -S "$WORK/pulse/socket" || fail "the private sound server did not start"
export PULSE_SERVER=unix:$WORK/pulse/socket

# loudest_while_firing NAME: holds the fire button for 1.5 s while the sink's monitor is
# recorded, and prints the loudest sample heard.
loudest_while_firing() {
  parec -d card.monitor --format=s16le --channels=1 --rate=16000 >"$WORK/$1.raw" 2>/dev/null &
  local rec=$!
  sleep 0.3
  xdotool mousemove --window "$WID" 700 40 mousedown 1
  sleep 1.5
  xdotool mouseup 1
  sleep 0.3
  kill "$rec" 2>/dev/null || true
  wait "$rec" 2>/dev/null || true
  python3 -c 'import sys, array; d = open(sys.argv[1], "rb").read(); a = array.array("h", d[:len(d) // 2 * 2]); print(max(map(abs, a), default=0))' "$WORK/$1.raw"
}
heard() { [ "$(loudest_while_firing "$1")" -gt 500 ]; }
silent() { [ "$(loudest_while_firing "$1")" -lt 50 ]; }
press_m() { xdotool windowfocus --sync "$WID" 2>/dev/null || true; xdotool key m; }

start_xvfb
start_game
heard shots || fail "holding the fire button was not heard on the sound card"
press_m
silent muted || fail "after M the shots were still heard"
press_m
heard unmuted || fail "a second M did not bring the sound back"
close_ok main 5 "closing with sound on"

start_game --mute
silent started_muted || fail "a game started with --mute was heard"
press_m
heard after_m || fail "M did not turn on the sound of a game started with --mute"
close_ok main 5 "closing a game started muted"

echo "PASS"
