# Shared steps of the end-to-end tests: a private Xvfb display, the real game binary started
# in a scratch directory, and bounded waits. Sourced by the *_test.sh scripts.
set -euo pipefail

GAME=$(realpath "$1")
XWIN=$(realpath "$2")
WORK=$(mktemp -d) XVFB_PID= GAME_PID=

cleanup() {
  [ -n "$GAME_PID" ] && kill -9 "$GAME_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

start_xvfb() {
  exec 3>"$WORK/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
  [ -s "$WORK/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$WORK/display")"
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}

# Starts the game in its own scratch directory and waits for its window; sets WID.
start_game() {
  mkdir -p "$WORK/run"
  (cd "$WORK/run" && exec "$GAME") >"$WORK/game.out" 2>"$WORK/game.err" &
  GAME_PID=$!
  WID=
  for _ in $(seq 30); do
    kill -0 "$GAME_PID" 2>/dev/null || { cat "$WORK/game.err" >&2; fail "the game exited before its window appeared"; }
    WID=$("$XWIN" find Vantorix 500) && break
  done
  [ -n "$WID" ] || fail "no window titled Vantorix appeared"
}

# Waits up to $1 seconds for the game to exit; sets STATUS and SHUTDOWN_MS.
wait_game_exit() {
  local start
  start=$(date +%s%N)
  for _ in $(seq $(($1 * 50))); do kill -0 "$GAME_PID" 2>/dev/null || break; sleep 0.02; done
  kill -0 "$GAME_PID" 2>/dev/null && fail "the game still runs ${1}s after being asked to stop"
  SHUTDOWN_MS=$((($(date +%s%N) - start) / 1000000))
  STATUS=0
  wait "$GAME_PID" || STATUS=$?
  GAME_PID=
}
