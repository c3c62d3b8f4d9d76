# Practice against the computer, played for real under Xvfb: the game without options opens
# the title screen, a click on "Practice" brings the arena, running off the open edge shows
# the red death countdown, Esc brings the title screen back with the threads and sockets it
# had before, and a second practice starts from fresh records. Beside it, on a display of its
# own, an idle player in `--practice --level 3` is knocked off by the opponent within 90 s.
source "$(dirname "$0")/lib.sh"

# The rest or hover fill of a title button whose top edge is at $2, in instance $1's window.
button_fill() {
  local rest hover
  rest=$(count "$1" 230 230 230 200 "$2" 600 $(($2 + 100)))
  hover=$(count "$1" 200 200 200 200 "$2" 600 $(($2 + 100)))
  echo $((rest + hover))
}
# All three buttons are there, each mostly its fill (its text and outline take the rest).
title_shown() {
  local top
  for top in 250 450 650; do [ "$(button_fill main "$top")" -gt 30000 ] || return 1; done
}
# The fogged arena: mostly black left of the sidebar.
arena_shown() { [ "$(count main 0 0 0 0 0 800 800)" -gt $((800 * 800 * 70 / 100)) ]; }
# The threads of the game by name (Qt's pooled painters come and go by themselves), and its
# sockets.
threads() {
  local task
  for task in /proc/"${PID_OF[main]}"/task/*; do cat "$task/comm"; done | grep -v '^Thread (pooled)$' | sort | uniq -c
}
sockets() { find /proc/"${PID_OF[main]}"/fd -lname 'socket:*' 2>/dev/null | wc -l; }
match_starts() { grep -o 'Match started .*' "$WORK/main/logs/DEBUG.log" 2>/dev/null || true; }

start_xvfb_as idle
start_game_as idle --practice --level 3
wait_window_as idle 15 || fail "the level 3 practice exited with status ${STATUS_OF[idle]} before its window appeared"
IDLE_START=$(date +%s%N)

start_xvfb
start_game_as main
wait_window_as main 15 || fail "the game exited with status ${STATUS_OF[main]} before its window appeared"
WID=${WID_OF[main]}
poll 5000 title_shown || { shoot main no_title; fail "no title screen with three buttons"; }
sleep 0.5
threads >"$WORK/threads.title"
SOCKETS_TITLE=$(sockets)

xdotool mousemove --window "$WID" 400 700 click 1
poll 3000 arena_shown || { shoot main no_arena; fail "a click on Practice did not bring the arena"; }
xdotool windowfocus --sync "$WID" 2>/dev/null || true
# The host's corner is top-left: W runs the player off the open top edge.
xdotool keydown w
poll 8000 countdown_shown main || { xdotool keyup w; shoot main no_countdown; fail "no death countdown after running off the edge"; }
xdotool keyup w

LEFT=$(date +%s%N)
xdotool key Escape
poll 2000 title_shown || { shoot main no_title_after_esc; fail "Esc did not bring the title screen back within 2 s"; }
echo "title screen back $(ms "$LEFT") ms after Esc"
# The threads of the match end as it is left; give them the moment a join takes.
same_threads() { threads >"$WORK/threads.back" && cmp -s "$WORK/threads.title" "$WORK/threads.back"; }
poll 3000 same_threads || fail "threads after leaving the match differ from the title screen's: $(diff "$WORK/threads.title" "$WORK/threads.back" | tr '\n' ' ')"
[ "$(sockets)" -eq "$SOCKETS_TITLE" ] || fail "$(sockets) sockets after leaving the match, $SOCKETS_TITLE on the title screen"

xdotool mousemove --window "$WID" 400 700 click 1
poll 3000 arena_shown || { shoot main no_second_arena; fail "the second Practice click did not bring the arena"; }
poll 3000 eval '[ "$(match_starts | wc -l)" -eq 2 ]' || fail "the log shows $(match_starts | wc -l) match starts, not 2"
mapfile -t STARTS < <(match_starts)
echo "${STARTS[@]/#/$'\n'}"
case "${STARTS[1]}" in
  *"(practice, level 2): score 0 - 0, energy 100 of 100, maze "*) ;;
  *) fail "the second practice did not start clean: ${STARTS[1]}" ;;
esac
[ "${STARTS[0]##* }" != "${STARTS[1]##* }" ] || fail "the second practice has the first one's maze"
close_ok main 4 "closing the second practice"

# The idle player, knocked about by the level 3 opponent, falls within 90 s of its start.
until countdown_shown idle; do
  [ "$(ms "$IDLE_START")" -lt 90000 ] || { shoot idle never_knocked_off; fail "the level 3 opponent did not knock an idle player off within 90 s"; }
  sleep 0.2
done
echo "the idle player fell $(ms "$IDLE_START") ms after its practice started"
close_ok idle 4 "closing the level 3 practice"
