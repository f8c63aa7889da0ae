#!/usr/bin/env bash
# Runs one command with Wine ready and cut off from every network but loopback: in a new network
# namespace holding only `lo`, with a fresh prefix in BUILD_DIR/wineprefix and a wineserver
# started and checked there before anything else runs. The command's exit code is returned.
#
# usage: wine_session.sh BUILD_DIR COMMAND [ARGS...]
# Inside the command, WINEPREFIX, WINE and WINESERVER are set and tests/support/wine_run.sh
# runs a Windows program.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 2 ] || { sed -n '2,8p' "$0" >&2; exit 2; }

if [ "${WINE_SESSION_NETNS:-}" != inside ]; then
  # A namespace of our own, with loopback up; nothing can reach another network from it.
  exec env WINE_SESSION_NETNS=inside unshare --net -- "$0" "$@"
fi
ip link set lo up || { echo "wine_session: cannot bring up loopback" >&2; exit 1; }

# shellcheck source=wine_env.sh
. "$here/wine_env.sh"
wine_env_init "$1" || exit 1
shift
wine_make_prefix
started=$SECONDS
wine_start_server || { echo "wine_session: no wineserver" >&2; exit 1; }
echo "wine_session: wineserver $(cat "$WINE_SERVER_PID_FILE") ready in $((SECONDS - started)) s," \
     "interfaces: $(wine_interfaces_of "$(cat "$WINE_SERVER_PID_FILE")")"
"$@"
rc=$?
wine_stop_server
exit $rc
