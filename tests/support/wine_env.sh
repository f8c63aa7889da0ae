# Wine for the Windows programs' tests, as a library of shell functions (source it from bash).
#
# The sockets of a Wine program are made by its wineserver, in the wineserver's network
# namespace, not the program's. So the server is started by us, inside a namespace that has
# nothing but loopback (or the lab's), and checked before any program of ours runs:
#
#   wine_env_init BUILD_DIR   WINEPREFIX=BUILD_DIR/wineprefix, quiet Wine, WINE / WINESERVER
#   wine_make_prefix          a fresh, empty prefix (removes the old one)
#   wine_start_server         starts the wineserver here (call it inside the namespace) and
#                             initialises the prefix
#   wine_check_server         fails unless our server runs for this prefix in a namespace
#                             with loopback alone (or, with WINE_ALLOWED_NET, the interfaces
#                             named there)
#   wine_stop_server          ends the server we started
#
# tests/support/wine_session.sh puts these together: a new loopback-only namespace, a fresh
# prefix, the server, one command, the end of the server.

wine_env_init() {
  local build
  build=$(cd "$1" && pwd) || return 1
  export WINEPREFIX="$build/wineprefix"
  export WINEARCH=win64
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko installers (they would ask through a window), no desktop integration.
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
  # Debian's own binaries, not the wrapper scripts in /usr/bin (which look for a 32-bit Wine).
  WINE=/usr/lib/wine/wine64
  [ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine)
  WINESERVER=/usr/lib/wine/wineserver64
  [ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
  [ -x "$WINE" ] && [ -x "$WINESERVER" ] || {
    echo "wine_env: wine64 and wineserver are needed (apt-get install wine64)" >&2
    return 1
  }
  export WINE WINESERVER
  WINE_SERVER_PID_FILE="$build/wineserver.pid"
  export WINE_SERVER_PID_FILE
}

wine_make_prefix() {
  rm -rf "$WINEPREFIX" "$WINE_SERVER_PID_FILE"
  mkdir -p "$WINEPREFIX"
}

# The name of the folder a wineserver for this prefix works in (under /tmp/.wine-UID or a
# temporary folder of its own): made of the prefix's device and inode, so a new prefix never
# meets a server left over from an old one.
wine_server_dir_name() {
  local dev ino
  dev=$(stat -c %d "$WINEPREFIX") && ino=$(stat -c %i "$WINEPREFIX") || return 1
  printf 'server-%x-%x\n' "$dev" "$ino"
}

# The interfaces of the network namespace process $1 is in.
wine_interfaces_of() {
  sed -n 's/^ *\([^:]*\):.*/\1/p' "/proc/$1/net/dev" 2>/dev/null | sort | tr '\n' ' '
}

wine_check_server() {
  local pid dir cwd nets allowed
  pid=$(cat "$WINE_SERVER_PID_FILE" 2>/dev/null) || {
    echo "wine_env: no wineserver was started for $WINEPREFIX (see tests/support/wine_session.sh)" >&2
    return 1
  }
  kill -0 "$pid" 2>/dev/null || { echo "wine_env: wineserver $pid is not running" >&2; return 1; }
  dir=$(wine_server_dir_name) || return 1
  cwd=$(readlink "/proc/$pid/cwd")
  [ "${cwd##*/}" = "$dir" ] || {
    echo "wine_env: process $pid is not the wineserver of $WINEPREFIX ($cwd, not $dir)" >&2
    return 1
  }
  nets=$(wine_interfaces_of "$pid")
  allowed=$(printf '%s\n' lo ${WINE_ALLOWED_NET:-} | sort -u | tr '\n' ' ')
  for n in $nets; do
    case " $allowed " in *" $n "*) ;; *)
      echo "wine_env: wineserver $pid sees the interface $n (only: $allowed)" >&2
      return 1 ;;
    esac
  done
}

wine_start_server() {
  local pid dir i cwd
  "$WINESERVER" -f -p &
  pid=$!
  echo "$pid" >"$WINE_SERVER_PID_FILE"
  dir=$(wine_server_dir_name) || return 1
  # Ready once it works in its folder and listens there.
  for i in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    cwd=$(readlink "/proc/$pid/cwd")
    [ "${cwd##*/}" = "$dir" ] && [ -S "$cwd/socket" ] && break
    sleep 0.1
  done
  wine_check_server || { wine_stop_server; return 1; }
  # The prefix's registry and folders, made by wineboot through our server.
  "$WINE" wineboot -i >/dev/null 2>&1
  local rc=$?
  [ "$rc" -eq 0 ] || { echo "wine_env: wineboot failed ($rc)" >&2; return 1; }
  wine_check_server
}

wine_stop_server() {
  local pid
  pid=$(cat "$WINE_SERVER_PID_FILE" 2>/dev/null) || return 0
  if kill -0 "$pid" 2>/dev/null; then
    # Ends the programs of this prefix alone (services, explorer, our tests), then the server.
    "$WINESERVER" -k 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill "$pid" 2>/dev/null
  fi
  rm -f "$WINE_SERVER_PID_FILE"
}
