# A newcomer's first seconds, played for real under Xvfb: the arena shows the maze, the
# player's green disc, the fog and the sidebar, and holding D (a real XTEST key press)
# slides the player to the right.
source "$(dirname "$0")/lib.sh"

start_xvfb
start_game
xdotool mousemove --window "$WID" 700 40  # aim along the open top corridor
xdotool windowfocus --sync "$WID" 2>/dev/null || true

# need R G B X0 Y0 X1 Y1 MIN MESSAGE: more than MIN pixels of the colour in the rectangle.
need() { read -r n _ <<<"$(blob "${@:1:7}")"; [ "$n" -gt "$8" ] || fail "$9 ($n pixels)"; }
disc() { read -r "$1" "$2" "$3" <<<"$(blob 0 255 0 0 0 800 800 2>/dev/null || echo 0 0 0)"; }

# The vision circle settles around the player before the disc is looked for.
still main start 0 0 800 800
disc green0 gx0 gy0
shoot main start
[ "$green0" -gt 300 ] || fail "player disc not visible ($green0 green pixels)"
moved_right() { disc green1 gx1 gy1 && [ "$green1" -gt 300 ] && [ "$gx1" -gt $((gx0 + 30)) ]; }
xdotool keydown d
poll 3000 moved_right || true
xdotool keyup d
still main moved 0 0 800 800  # slid to a stop
disc green1 gx1 gy1
shoot main moved
echo "player disc centre: ($gx0, $gy0) -> ($gx1, $gy1)"
[ "$green1" -gt 300 ] || fail "player disc lost after moving ($green1 green pixels)"
[ "$gx1" -gt $((gx0 + 30)) ] || fail "holding D did not move the player right"
((gy1 - gy0 <= 5 && gy0 - gy1 <= 5)) || fail "holding D moved the player vertically"

# Grey wall blocks near the player, black fog far from it, the white sidebar panel with its
# grey minimap background and the green energy bar.
need 200 200 200 0 0 800 800 100 "no maze walls visible near the player"
need 0 0 0 0 400 800 800 $((800 * 400 * 95 / 100)) "the lower arena is not fogged"
need 255 255 255 805 0 1000 800 10000 "sidebar panel missing"
need 125 125 125 805 5 1000 200 500 "minimap shows no walls"
need 0 255 0 805 315 1000 345 3000 "energy bar missing"

close_ok main 5 "closing the window"
echo "PASS"
