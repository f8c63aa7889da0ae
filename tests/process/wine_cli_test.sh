#!/usr/bin/env bash
# corvalink-cli.exe end to end under Wine, on loopback alone: router_sim.exe answers on
# 127.0.0.1 at ports the system chooses, and the command line
#   - lists it with `search --json`,
#   - stores its address with `install` in the registry's 32-bit view (where the 32-bit
#     printer-port software reads it; a key in the 64-bit view alone is not used), read back
#     with Wine's `reg query /reg:32` and, once the wineserver has saved the prefix's HKLM,
#     checked there under Software\Wow6432Node as a 60-byte REG_SZ,
#   - sends a 200 KiB image with `upgrade`, which must arrive byte for byte.
# Nothing is sent to another address: every datagram goes to 127.0.0.1 at an explicit port.
# A fresh prefix in BUILD_DIR/wine-cli-test has the real Wine registry to itself; its
# wineserver runs in a network namespace of its own with loopback alone.
#
# usage: wine_cli_test.sh BUILD_DIR     (the cross build: corvalink-cli.exe, router_sim.exe)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
support=$here/../support

KEY='HKLM\Software\DED Orezadu Devo'
MAC=001A2B3C4D5E
LOCATION='Print room'
IMAGE_BYTES=204800

fail() { echo "wine_cli_test: FAIL: $*" >&2; exit 1; }
# A Unix path as the Windows programs name it (Wine's Z: is /).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

if [ "${1:-}" = --inside ]; then
  # In the wine session: WINEPREFIX and our wineserver are set up.
  build=$2 work=$3
  run() { bash "$support/wine_run.sh" "$work" "$@"; }
  sim_pid=""
  trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null' EXIT

  run "$build/router_sim.exe" --bind 127.0.0.1 --search-port 0 --tftp-port 0 \
    --router "mac=$MAC,ip=127.0.0.1,password=pw,location=$LOCATION" --upgrade at-once \
    --tftp-dir "$(winpath "$work/received")" --max-seconds 120 \
    >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 200); do
    grep -q '^READY' "$work/sim.out" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  ready=$(grep '^READY' "$work/sim.out" | tr -d '\r')
  [ -n "$ready" ] || { cat "$work/sim.err" >&2; fail "router_sim.exe did not get ready"; }
  search_port=$(sed -n 's/.* search=\([0-9]*\).*/\1/p' <<<"$ready")
  tftp_port=$(sed -n 's/.* tftp=\([0-9]*\).*/\1/p' <<<"$ready")
  [ -n "$search_port" ] && [ -n "$tftp_port" ] || fail "no ports in '$ready'"
  to=(--destination "127.0.0.1:$search_port")

  # search --json: the one router, every field, with the interface it answered on (Wine names
  # loopback by its Linux name). Windows writes CR LF line ends.
  out=$(run "$build/corvalink-cli.exe" search --json --timeout 1 "${to[@]}") \
    || fail "search ended with $?"
  got=$(tr -d '\r' <<<"$out" | tr '\n' ' ' | sed 's/  */ /g; s/ $//')
  want="[ { \"mac\": \"$MAC\", \"ip\": \"127.0.0.1\", \"mask\": \"255.255.255.0\", \"location\": \"$LOCATION\", \"interface\": \"lo\", \"local_ip\": \"127.0.0.1\" } ]"
  [ "$got" = "$want" ] || fail "search --json printed '$got', not '$want'"
  echo "wine_cli_test: search --json listed $MAC at 127.0.0.1"

  # install: the key is the printer-port software's, which never lets us create it. The
  # 64-bit view's key is not the one it reads, so it does not count either.
  run reg add "$KEY" /reg:64 /f >/dev/null || fail "reg add $KEY /reg:64"
  run "$build/corvalink-cli.exe" install "$MAC" "${to[@]}" >"$work/install.out" 2>&1
  rc=$?
  [ "$rc" -eq 4 ] || { cat "$work/install.out" >&2; fail "install without the key ended with $rc, not 4"; }
  run reg add "$KEY" /reg:32 /f >/dev/null || fail "reg add $KEY /reg:32"
  run "$build/corvalink-cli.exe" install "$MAC" "${to[@]}" >"$work/install.out" 2>&1 \
    || { cat "$work/install.out" >&2; fail "install ended with $?"; }
  query=$(run reg query "$KEY" /reg:32 /v 'Server IP' | tr -d '\r')
  grep -Eq '^ +Server IP +REG_SZ +127\.0\.0\.1$' <<<"$query" \
    || fail "reg query /reg:32 shows: $query"
  echo "wine_cli_test: reg query /reg:32: $(grep 'Server IP' <<<"$query" | sed 's/^ *//; s/  */ /g')"
  if run reg query "$KEY" /reg:64 /v 'Server IP' >/dev/null 2>&1; then
    fail "\"Server IP\" is in the 64-bit view too"
  fi

  # upgrade: 200 KiB of random bytes, the password from standard input.
  head -c "$IMAGE_BYTES" /dev/urandom >"$work/image.all"
  echo pw | run "$build/corvalink-cli.exe" upgrade "$MAC" "$(winpath "$work/image.all")" \
    --password-stdin "${to[@]}" --upgrade-port "$search_port" --tftp-port "$tftp_port" \
    >"$work/upgrade.out" 2>&1 || { cat "$work/upgrade.out" >&2; fail "upgrade ended with $?"; }
  grep -q 'Upgrade complete' "$work/upgrade.out" || fail "upgrade did not say it was complete"
  cmp "$work/image.all" "$work/received/image.all" || fail "the image did not arrive as sent"
  echo "wine_cli_test: upgrade: $IMAGE_BYTES bytes arrived byte for byte"
  exit 0
fi

[ $# -eq 1 ] || { sed -n '2,12p' "$0" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
for exe in corvalink-cli.exe router_sim.exe; do
  [ -f "$build/$exe" ] || fail "no $build/$exe"
done
work=$build/wine-cli-test
rm -rf "$work"
mkdir -p "$work/received"
bash "$support/wine_session.sh" "$work" bash "$0" --inside "$build" "$work" || exit 1

# The session's end made the wineserver save the prefix's registry. A REG_SZ is kept there as
# a quoted string when it ends in its NUL, the NUL left out and the NULs before it as \0.
line=$(grep -A20 -F '[Software\\Wow6432Node\\DED Orezadu Devo]' "$work/wineprefix/system.reg" \
       | grep -m1 '^"Server IP"=')
[ -n "$line" ] || fail "no \"Server IP\" in the saved HKLM's 32-bit view"
value=${line#\"Server IP\"=}
case $value in \"*\") ;; *) fail "\"Server IP\" is not a NUL-ended REG_SZ: $value" ;; esac
value=${value#\"}; value=${value%\"}
# The address, then NULs alone up to the 60 bytes the printer-port software reads.
pad=${value#127.0.0.1}
nuls=$(( ${#pad} / 2 ))
[ "$pad" != "$value" ] && [ -z "${pad//\\0/}" ] && [ $(( 9 + nuls + 1 )) -eq 60 ] \
  || fail "\"Server IP\" is \"$value\", not 127.0.0.1 and NULs up to 60 bytes"
echo "wine_cli_test: HKLM holds \"Server IP\" = 127.0.0.1 as a REG_SZ of $(( 9 + nuls + 1 )) bytes"
echo "wine_cli_test: PASS"
