#!/usr/bin/env bash
# Runs one Windows program under the wineserver a wine_session.sh started, after checking that
# server is still the one in the loopback-only namespace. ctest uses it as the emulator of the
# cross build's test programs.
# usage: wine_run.sh BUILD_DIR PROGRAM.exe [ARGS...]
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine_env.sh
. "$here/wine_env.sh"
wine_env_init "$1" || exit 1
shift
wine_check_server || {
  echo "wine_run: refusing to start a Windows program without our wineserver;" \
       "run it through tests/support/wine_session.sh" >&2
  exit 125
}
exec "$WINE" "$@"
