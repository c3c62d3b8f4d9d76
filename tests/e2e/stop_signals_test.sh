# Ctrl-C (SIGINT) and SIGTERM end the real game as cleanly as closing its window does.
source "$(dirname "$0")/lib.sh"

start_xvfb
for sig in INT TERM; do
  start_game
  sleep 0.5
  kill -s "$sig" "$GAME_PID"
  wait_game_exit 5
  [ "$STATUS" -eq 0 ] || fail "exit status $STATUS after SIG$sig"
  echo "shutdown after SIG$sig took ${SHUTDOWN_MS} ms"
done
echo "PASS"
