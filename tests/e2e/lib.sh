# Shared steps of the end-to-end tests: a private Xvfb display, the real game binary started
# in a scratch directory, and bounded waits; the *_as functions do the same for several named
# instances at once, each with its own display. Sourced by the *_test.sh scripts.
set -euo pipefail

GAME=$(realpath "$1")
XWIN=$(realpath "$2")
WORK=$(mktemp -d) XVFB_PID= GAME_PID=
# Per instance name: Xvfb pid, display, game pid, window id, exit status, network namespace.
declare -A XVFB_OF=() DISPLAY_OF=() PID_OF=() WID_OF=() STATUS_OF=() NETNS_OF=()
NETNS_MADE=()

cleanup() {
  local name
  [ -n "$GAME_PID" ] && kill -9 "$GAME_PID" 2>/dev/null || true
  for name in "${!PID_OF[@]}"; do [ -n "${PID_OF[$name]}" ] && kill -9 "${PID_OF[$name]}" 2>/dev/null || true; done
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  for name in "${!XVFB_OF[@]}"; do kill "${XVFB_OF[$name]}" 2>/dev/null || true; done
  for name in "${NETNS_MADE[@]}"; do ip netns delete "$name" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT # so that cleanup runs on these too (a test timeout sends TERM)
trap 'exit 143' TERM

# Fails the test; a sanitizer's report in any game's error output is shown first.
fail() {
  local err
  for err in $(find "$WORK" -name '*.err' 2>/dev/null); do
    grep -q -E 'Sanitizer|runtime error' "$err" && { echo "--- $err" >&2; head -n 80 "$err" >&2; }
  done
  echo "FAIL: $*" >&2
  exit 1
}

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

# Runs a command on instance $1's display.
on() { DISPLAY="${DISPLAY_OF[$1]}" "${@:2}"; }

# Starts a private Xvfb for instance $1; sets DISPLAY_OF[$1].
start_xvfb_as() {
  local file="$WORK/$1.display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$file" >"$WORK/$1.xvfb.log" 2>&1 &
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
  local wid deadline=$((SECONDS + $2 + 1))
  while [ "$SECONDS" -lt "$deadline" ]; do
    if ! kill -0 "${PID_OF[$1]}" 2>/dev/null; then
      STATUS_OF[$1]=0
      wait "${PID_OF[$1]}" || STATUS_OF[$1]=$?
      PID_OF[$1]=
      return 1
    fi
    wid=$(on "$1" "$XWIN" find Vantorix 300) && { WID_OF[$1]=$wid; return 0; }
  done
  fail "no window titled Vantorix appeared for $1 within $2 s"
}

# Waits up to $2 seconds for instance $1 to exit; sets STATUS_OF[$1] and SHUTDOWN_MS.
wait_exit_as() {
  local start pid=${PID_OF[$1]}
  start=$(date +%s%N)
  for _ in $(seq $(($2 * 50))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
  kill -0 "$pid" 2>/dev/null && fail "$1 still runs ${2}s after being asked to stop"
  SHUTDOWN_MS=$((($(date +%s%N) - start) / 1000000))
  STATUS_OF[$1]=0
  wait "$pid" || STATUS_OF[$1]=$?
  PID_OF[$1]=
}

# A private LAN for the instances named in $@: each gets a network namespace, joined by a veth
# pair to a bridge in a switch namespace, with 10.213.0.N/24 and the default route (so also the
# limited broadcast 255.255.255.255) on that veth. Nothing sent there can reach a real
# interface. Sets NETNS_OF; exits 77 (skip) when namespaces cannot be made, e.g. without root.
make_lan() {
  command -v ip >/dev/null || fail "iproute2's ip is missing (scripts/install-deps installs it)"
  local name n=0 tag="vtx-$$-$RANDOM"
  if ! ip netns add "$tag-sw" 2>"$WORK/netns.err"; then
    echo "SKIP: cannot create a network namespace (root needed): $(cat "$WORK/netns.err")"
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
