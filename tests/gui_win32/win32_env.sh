# Shell functions for the Windows dialog tests (source from bash): a virtual X display, a Wine
# prefix that draws its own window frames, and test results counted as gtest counts them.

WIN32_PASSED=0
WIN32_FAILED=0

# An Xvfb on a free display number, reachable through its socket file only (no TCP), so a
# wineserver in any network namespace can use it. It must run before the wineserver starts: the
# prefix's desktop takes its display then.
win32_start_display() {
  command -v Xvfb >/dev/null || { echo "win32: Xvfb is needed (apt-get install xvfb)" >&2; return 1; }
  local fifo disp
  fifo=$(mktemp -u) && mkfifo "$fifo" || return 1
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  WIN32_XVFB_PID=$!
  read -r -t 10 disp <"$fifo"
  rm -f "$fifo"
  [ -n "$disp" ] || { echo "win32: Xvfb did not start" >&2; kill "$WIN32_XVFB_PID"; return 1; }
  export DISPLAY=:$disp
}

win32_stop_display() {
  [ -n "${WIN32_XVFB_PID:-}" ] && kill "$WIN32_XVFB_PID" 2>/dev/null
}

# Without a window manager nobody draws the frames: Wine then draws captions and borders itself.
win32_prepare_prefix() {
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
}

# A Linux path as the Windows programs see it (Wine's Z: drive is the root).
win32_path() {
  local p=$1
  printf 'Z:%s\n' "${p//\//\\}"
}

# The local port of the first UDP socket on any address in this namespace, waiting up to $1 s.
win32_udp_port_of_new_socket() {
  local i port
  for ((i = 0; i < $1 * 10; i++)); do
    port=$(ss -Huan 2>/dev/null | awk '{print $4}' | sed -n 's/^0\.0\.0\.0:\([0-9]*\)$/\1/p' | head -1)
    [ -n "$port" ] && { echo "$port"; return 0; }
    sleep 0.1
  done
  return 1
}

# Waits up to $2 s for process $1 to end and returns its exit code; ends it (124) after that.
win32_wait_exit() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$1" 2>/dev/null; then
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    return 124
  fi
  wait "$1"
}

# Counts test $1 as passed when status $2 equals $3 (default 0).
win32_result() {
  if [ "$2" -eq "${3:-0}" ]; then
    WIN32_PASSED=$((WIN32_PASSED + 1))
    echo "[       OK ] $1"
    return 0
  fi
  WIN32_FAILED=$((WIN32_FAILED + 1))
  echo "[  FAILED  ] $1 (status $2)"
  return 1
}

win32_convert_shots() {
  local f
  for f in "$1"/*.bmp; do
    [ -e "$f" ] || continue
    convert "$f" "${f%.bmp}.png" && rm -f "$f"
  done
}

win32_summary() {
  echo "[  PASSED  ] $WIN32_PASSED tests."
  [ "$WIN32_FAILED" -eq 0 ] || echo "[  FAILED  ] $WIN32_FAILED tests"
  [ "$WIN32_FAILED" -eq 0 ]
}
