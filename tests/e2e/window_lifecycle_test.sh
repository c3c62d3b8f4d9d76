# The real game under Xvfb: the window's title and fixed size, the rate log in the log file and
# its side file, and status 0 after a window-manager close, Ctrl-C (SIGINT) and SIGTERM alike.
source "$(dirname "$0")/lib.sh"

start_xvfb
start_game
title=$(xdotool getwindowname "$WID")
[ "$title" = "Vantorix" ] || fail "window title is '$title'"
size=$(xdotool getwindowgeometry "$WID" | sed -n "s/.*Geometry: \([0-9]*\)x\([0-9]*\)/\1 \2/p")
[ "$size" = "1000 800" ] || fail "window size is '$size', want '1000 800'"

# Two rate-log bursts need a little over two seconds of play.
log="$WORK/main/logs/DEBUG.log"
two_bursts() { [ -f "$log" ] && [ "$(grep -c '_frame:0_value:' "$log")" -ge 2 ]; }
poll 10000 two_bursts || [ -f "$log" ] || fail "no logs/DEBUG.log"

close_ok main 5 "closing the window"

grep -q -E '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \| DEBUG \| _frame:0_value:[0-9]+\.[0-9]{6}$' "$log" \
  || fail "rate line for the main loop missing or malformed"
for i in $(seq 0 9); do grep -q "_frame:${i}_value:" "$log" || fail "no rate line for counter $i"; done
grep -q '_frame:7_value:0.000000$' "$log" || fail "unused counter 7 should log 0.000000"
# The main (0) and render (1) loops run near 65 ticks per second on an idle machine, less on
# a busy one; zero means one never ticked.
for i in 0 1; do
  rate=$(grep -o "_frame:${i}_value:[0-9.]*" "$log" | tail -n1 | cut -d: -f3)
  awk -v r="$rate" 'BEGIN { exit !(r > 0) }' || fail "loop $i rate $rate"
  echo "logged rate of counter $i: $rate"
done
grep -q -E '^[0-9-]{10} [0-9:]{8}\|DEBUG\|[0-9-]{10} [0-9:]{8} \| DEBUG \| _frame:3_value:' "$log.struct" \
  || fail "side file missing or its records malformed"
[ "$(grep -c '_frame:' "$log.struct")" -eq "$(grep -c '_frame:' "$log")" ] || fail "side file and log disagree"
grep -q '| DEBUG | _frame:0_value:' "$WORK/main.out" || fail "rate lines did not reach the console"

for sig in INT TERM; do
  start_game
  sleep 0.5
  kill -s "$sig" "${PID_OF[main]}"
  exits_ok main 5 "SIG$sig"
done
echo "PASS"
