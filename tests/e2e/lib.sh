# Shared steps of the end-to-end tests: a private Xvfb display, the real game binary started
# in a scratch directory, and bounded waits; the *_as functions do the same for several named
# instances at once, each with its own display. Sourced by the *_test.sh scripts.
set -euo pipefail

GAME=$(realpath "$1")
XWIN=$(realpath "$2")
# Time limits stretch by this factor on a sanitizer build, which runs several times slower;
# the regular build keeps them as written.
SLOW=${E2E_SLOWDOWN:-1}
WORK=$(mktemp -d)
# Per instance name: Xvfb pid, display, game pid, window id, exit status, network namespace.
# The single-game scripts use the instance "main", with WID and DISPLAY set for it.
declare -A XVFB_OF=() DISPLAY_OF=() PID_OF=() WID_OF=() STATUS_OF=() NETNS_OF=()
NETNS_MADE=() OTHER_PIDS=() # OTHER_PIDS: servers a test starts for itself, ended with it

cleanup() {
  local rc=$? name err
  for name in "${!PID_OF[@]}"; do [ -n "${PID_OF[$name]}" ] && kill -9 "${PID_OF[$name]}" 2>/dev/null || true; done
  for name in "${!XVFB_OF[@]}"; do kill "${XVFB_OF[$name]}" 2>/dev/null || true; done
  for name in "${OTHER_PIDS[@]}"; do kill "$name" 2>/dev/null || true; done
  for name in "${NETNS_MADE[@]}"; do ip netns delete "$name" 2>/dev/null || true; done
  # A sanitizer report fails the test even when the game's exit status was not looked at.
  for err in $(find "$WORK" -name '*.err' 2>/dev/null); do
    grep -q -E 'Sanitizer|runtime error' "$err" || continue
    echo "--- sanitizer report in $err" >&2
    head -n 80 "$err" >&2
    [ "$rc" -ne 0 ] || rc=1
  done
  rm -rf "$WORK"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT # so that cleanup runs on these too (a test timeout sends TERM)
trap 'exit 143' TERM

CHECK=(python3 "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/ppm_check.py")
SHOTS=${KEEP_SHOTS:-$WORK/shots}
mkdir -p "$SHOTS"

# Fails the test; every named instance still running leaves its last frame and the tail of
# its error output (sanitizer reports are shown by cleanup).
fail() {
  local name
  for name in "${!PID_OF[@]}"; do
    [ -n "${PID_OF[$name]}" ] && [ -n "${WID_OF[$name]:-}" ] && shoot "$name" "failed_$name"
    [ -s "$WORK/$name.err" ] && { echo "--- $name stderr (tail)"; tail -n 5 "$WORK/$name.err"; } >&2
  done
  echo "FAIL: $*" >&2
  exit 1
}

start_xvfb() {
  start_xvfb_as main
  export DISPLAY=${DISPLAY_OF[main]}
}
# Starts the local game as "main" and waits for its window; sets WID.
start_game() {
  start_game_as main --local "$@"
  wait_window_as main 15 || fail "the game exited with status ${STATUS_OF[main]} before its window appeared"
  WID=${WID_OF[main]}
}
blob() { "$XWIN" blob "$WID" "$@"; }

# Runs a command on instance $1's display.
on() { DISPLAY="${DISPLAY_OF[$1]}" "${@:2}"; }

# Starts a private Xvfb for instance $1; sets DISPLAY_OF[$1].
start_xvfb_as() {
  local file="$WORK/$1.display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$file" >"$WORK/$1.xvfb.log" 2>&1 &
  XVFB_OF[$1]=$!
  for _ in $(seq 100); do [ -s "$file" ] && break; sleep 0.05; done
  [ -s "$file" ] || fail "Xvfb for $1 did not start"
  DISPLAY_OF[$1]=":$(head -n1 "$file")"
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}

# Starts the game for instance $1 with the options after it, in the scratch directory
# $WORK/$1 on its display (and in its network namespace, if it has one), without waiting
# for the window.
start_game_as() {
  local name=$1 netns=()
  shift
  mkdir -p "$WORK/$name"
  [ -z "${NETNS_OF[$name]:-}" ] || netns=(ip netns exec "${NETNS_OF[$name]}")
  (cd "$WORK/$name" && DISPLAY="${DISPLAY_OF[$name]}" exec "${netns[@]}" "$GAME" "$@") \
    >"$WORK/$name.out" 2>"$WORK/$name.err" &
  PID_OF[$name]=$!
  WID_OF[$name]=
}

# Waits up to $2 seconds for instance $1's window; sets WID_OF[$1]. Returns 1, with
# STATUS_OF[$1] set, when the game exited first.
wait_window_as() {
  local wid deadline=$((SECONDS + $2 * SLOW + 1))
  while [ "$SECONDS" -lt "$deadline" ]; do
    if ! kill -0 "${PID_OF[$1]}" 2>/dev/null; then
      STATUS_OF[$1]=0
      wait "${PID_OF[$1]}" || STATUS_OF[$1]=$?
      PID_OF[$1]=
      return 1
    fi
    wid=$(on "$1" xdotool search --onlyvisible --name '^Vantorix$' 2>/dev/null | head -n1) \
      && [ -n "$wid" ] && { WID_OF[$1]=$wid; return 0; }
    sleep 0.1
  done
  fail "no window titled Vantorix appeared for $1 within $2 s"
}

# wait_exit_as NAME SECONDS: waits for NAME's game to exit; sets STATUS_OF[NAME] and SHUTDOWN_MS.
wait_exit_as() {
  local pid=${PID_OF[$1]} start
  start=$(date +%s%N)
  for _ in $(seq $(($2 * SLOW * 50))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
  kill -0 "$pid" 2>/dev/null && fail "$1 still runs ${2}s after being asked to stop"
  SHUTDOWN_MS=$(ms "$start") STATUS_OF[$1]=0 PID_OF[$1]=
  wait "$pid" || STATUS_OF[$1]=$?
}
# exits_ok NAME SECONDS WHAT: NAME's game ends within SECONDS with status 0 after WHAT.
exits_ok() {
  wait_exit_as "$1" "$2"
  [ "${STATUS_OF[$1]}" -eq 0 ] || fail "$1 exited with status ${STATUS_OF[$1]} after $3"
  echo "$1 ended in $SHUTDOWN_MS ms after $3"
}
# close_ok NAME SECONDS WHAT: closes NAME's window as a window manager does; see exits_ok.
close_ok() { on "$1" "$XWIN" close "${WID_OF[$1]}" && exits_ok "$@"; }

# count NAME R G B X0 Y0 X1 Y1: pixels of exactly that colour in the region of NAME's window;
# -1 while it cannot be read (a death's window shake can move it partly off the screen).
count() {
  local n
  read -r n _ <<<"$(on "$1" "$XWIN" blob "${WID_OF[$1]}" "${@:2}" 2>/dev/null || echo -1)"
  echo "$n"
}
# countdown_shown NAME: the red death countdown with its text. Red alone is not enough, since
# a hit's flash tints the last game frame red for a moment before the countdown draws.
countdown_shown() {
  [ "$(count "$1" 255 0 0 0 0 1000 800)" -gt $((1000 * 800 * 90 / 100)) ] \
    && [ "$(count "$1" 0 0 0 150 330 1000 480)" -gt 200 ]
}
ms() { echo $((($(date +%s%N) - $1) / 1000000)); }
# poll MS CMD...: runs CMD every 50 ms until it succeeds; false when MS milliseconds pass first.
poll() {
  local end=$(($(date +%s%N) + $1 * SLOW * 1000000))
  until "${@:2}"; do [ "$(date +%s%N)" -lt "$end" ] || return 1; sleep 0.05; done
}
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
# still NAME OUT X0 Y0 X1 Y1: waits (up to 3 s) until two crops in a row agree, so that a
# half-painted frame is not taken as the region's look.
steady() { crop "$@" && sleep 0.1 && crop "$1" "$2.again" "${@:3:4}" && same "$2" "$2.again"; }
still() { poll 3000 steady "$@" || fail "the region ${*:3:4} of $1 never held still"; }
# walls_equal A B: the minimap walls of A and B are the same pixels (the report in walls.txt).
MINIMAP=(805 5 1000 200)
walls_equal() {
  crop "$1" "$1_map" "${MINIMAP[@]}" && crop "$2" "$2_map" "${MINIMAP[@]}" \
    && "${CHECK[@]}" walls "$WORK/$1_map.ppm" "$WORK/$2_map.ppm" >"$WORK/walls.txt" 2>&1
}

# A private LAN for the instances named in $@: each gets a network namespace, joined by a veth
# pair to a bridge in a switch namespace, with 10.213.0.N/24 and the default route (so also the
# limited broadcast 255.255.255.255) on that veth. Nothing sent there can reach a real
# interface. Sets NETNS_OF. When namespaces cannot be made, e.g. without root, exits 77 (skip),
# or fails when VANTORIX_REQUIRE_PRIVILEGED=1 says this run must cover such tests.
make_lan() {
  command -v ip >/dev/null || fail "iproute2's ip is missing (scripts/install-deps installs it)"
  local name n=0 tag="vtx-$$-$RANDOM" why
  if ! ip netns add "$tag-sw" 2>"$WORK/netns.err"; then
    why="cannot create a network namespace (root needed): $(cat "$WORK/netns.err")"
    [ "${VANTORIX_REQUIRE_PRIVILEGED:-}" != 1 ] || fail "$why"
    echo "SKIP: $why"
    exit 77
  fi
  NETNS_MADE+=("$tag-sw")
  lan_ip -n "$tag-sw" link add br0 type bridge
  lan_ip -n "$tag-sw" link set br0 up
  for name in "$@"; do
    n=$((n + 1))
    lan_ip netns add "$tag-$name"
    NETNS_MADE+=("$tag-$name") NETNS_OF[$name]="$tag-$name"
    # Both ends are made inside the namespaces: the host's own namespace never holds either.
    lan_ip -n "$tag-sw" link add "port$n" type veth peer name eth0 netns "$tag-$name"
    lan_ip -n "$tag-sw" link set "port$n" master br0 up
    lan_ip -n "$tag-$name" link set lo up
    lan_ip -n "$tag-$name" addr add "10.213.0.$n/24" dev eth0
    lan_ip -n "$tag-$name" link set eth0 up
    lan_ip -n "$tag-$name" route add default dev eth0
  done
}
lan_ip() { ip "$@" 2>"$WORK/netns.err" || fail "ip $*: $(cat "$WORK/netns.err")"; }
