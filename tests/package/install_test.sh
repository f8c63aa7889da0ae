#!/usr/bin/env bash
# The packages as a user gets them: installed with apt-get, the installed programs run, a new
# user in the group corvalink stores the router's address without root and one outside it is
# refused; then the packages, the users and the store go again. Runs as root in the lab's
# client namespace (scripts/lab.sh run), with the installed simulator on the router side.
#
# Usage: scripts/lab.sh run -- bash tests/package/install_test.sh DIR   (DIR holds the .deb files)
# Prints one line per check and a gtest-style count; exits 0 when all passed, 77 when skipped.
set -uo pipefail

readonly SKIP=77
readonly STORE=/etc/corvalink
readonly KEY="/etc/corvalink/registry/HKEY_LOCAL_MACHINE/SOFTWARE/DED Orezadu Devo"
readonly MAC=02C04C0000AA
readonly ROUTER=198.18.0.10
readonly MEMBER=clkin$$
readonly OUTSIDER=clkout$$

skip() { echo "install test: SKIPPED: $*"; exit "$SKIP"; }
[ $# -eq 1 ] && [ -d "$1" ] || { echo "usage: install_test.sh DIR_WITH_DEBS" >&2; exit 2; }
DEBS=$(cd "$1" && pwd)
MAIN_DEB=$(ls "$DEBS"/corvalink_*.deb 2>/dev/null | head -n 1)
TOOLS_DEB=$(ls "$DEBS"/corvalink-tools_*.deb 2>/dev/null | head -n 1)
[ -n "$MAIN_DEB" ] && [ -n "$TOOLS_DEB" ] || { echo "install test: no packages in $DEBS" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || skip "installing packages needs root"
[ -n "${CORVALINK_LAB_ROUTER_EXEC:-}" ] || skip "not in the lab (run it through scripts/lab.sh run)"
# This machine's own installation is not the test's to change or remove.
dpkg-query -W -f='${Status}' corvalink 2>/dev/null | grep -q "ok installed" &&
  skip "corvalink is installed on this machine already"
[ -e "$STORE" ] && skip "$STORE exists already"
getent group corvalink >/dev/null && skip "the group corvalink exists already"

work=$(mktemp -d /tmp/corvalink-install-test.XXXXXX)
chmod 755 "$work"
sim_pid=""
passed=0
failed=0
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  for u in "$MEMBER" "$OUTSIDER"; do getent passwd "$u" >/dev/null && userdel "$u" 2>/dev/null; done
  if dpkg-query -W -f='${Status}' corvalink corvalink-tools 2>/dev/null | grep -q "ok installed"; then
    dpkg --purge corvalink corvalink-tools >/dev/null 2>&1
  fi
  rm -rf "$STORE" "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

check() {  # NAME COMMAND...: one check, passed when COMMAND succeeds
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok   $name"
  else
    failed=$((failed + 1)); echo "FAIL $name"
  fi
}
equals() { [ "$1" = "$2" ] || { echo "     got '$1', want '$2'"; return 1; }; }
contains() { case $1 in *"$2"*) return 0 ;; esac; echo "     '$1' lacks '$2'"; return 1; }
as_user() { runuser -u "$1" -- env -u CORVALINK_REGISTRY_ROOT "${@:2}"; }

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o DPkg::Lock::Timeout=300 "$MAIN_DEB" "$TOOLS_DEB" >"$work/apt.log" 2>&1 ||
    { tail -n 20 "$work/apt.log"; return 1; }
}
check "apt-get install ./corvalink*.deb" apt_install

# The installed programs, from their installed places.
check "corvalink-cli --version" equals "$(corvalink-cli --version 2>&1)" "corvalink-cli 1.0.0"
check "corvalink --version" equals "$(corvalink --version 2>&1)" "corvalink 1.0.0"
check "router_sim --help" contains "$(/usr/bin/router_sim --help 2>&1)" "--max-seconds"
check "the CUPS backend lists its device" contains \
  "$(/usr/lib/cups/backend/corvalink 2>&1)" "network corvalink"
check "man corvalink-cli is found" equals "$(man -w corvalink-cli 2>&1)" \
  /usr/share/man/man1/corvalink-cli.1.gz
has_group() { getent group corvalink >/dev/null; }
check "the group corvalink exists" has_group
check "the key folder is root:corvalink 2775" equals "$(stat -c '%U:%G %a' "$KEY" 2>&1)" \
  "root:corvalink 2775"

useradd --no-create-home --shell /usr/sbin/nologin "$MEMBER"
useradd --no-create-home --shell /usr/sbin/nologin "$OUTSIDER"
adduser --quiet "$MEMBER" corvalink

$CORVALINK_LAB_ROUTER_EXEC /usr/bin/router_sim --max-seconds 120 \
  --router "mac=$MAC,ip=$ROUTER,location=Install test" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 50); do grep -q READY "$work/sim.out" && break; sleep 0.1; done
check "router_sim answers in the lab" grep -q READY "$work/sim.out"

# A member stores the address without root; everyone may read it.
out=$(as_user "$MEMBER" corvalink-cli install "$MAC" --timeout 5 2>&1)
check "a member of corvalink stores Server IP (exit 0)" equals "$?" 0
echo "$out" | sed 's/^/     /'
stored_ok() {
  [ "$(stat -c %s "$KEY/Server IP")" = 64 ] &&
    cmp -s <(printf '\000\000\000\001%s' "$ROUTER"; head -c $((60 - ${#ROUTER})) /dev/zero) \
      <(as_user "$OUTSIDER" cat "$KEY/Server IP")
}
check "the 60 bytes read back, by another user too" stored_ok
check "the value is the member's, group corvalink, 0644" equals \
  "$(stat -c '%U:%G %a' "$KEY/Server IP" 2>&1)" "$MEMBER:corvalink 644"

# A user outside the group is refused with the fix, and the value stays.
err=$(as_user "$OUTSIDER" corvalink-cli install "$MAC" --timeout 5 2>&1 >/dev/null)
check "a user outside the group gets exit 4" equals "$?" 4
check "the refusal names the group and the fix" contains "$err" \
  "you are not in the group corvalink"
check "the refusal gives the adduser command" contains "$err" "sudo adduser $OUTSIDER corvalink"
check "the value is unchanged" stored_ok
kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
sim_pid=""

# Purging keeps a store that holds values, handed back to root, and removes the group.
apt_purge() {
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=300 \
    corvalink corvalink-tools >"$work/apt.log" 2>&1 || { tail -n 20 "$work/apt.log"; return 1; }
}
userdel "$MEMBER"
check "apt-get purge corvalink corvalink-tools" apt_purge
check "the programs are gone" equals "$(command -v corvalink-cli router_sim corvalink)" ""
check "the group is gone" equals "$(getent group corvalink)" ""
check "a store with values is kept, as root:root 755" equals \
  "$(stat -c '%U:%G %a' "$KEY" 2>&1)" "root:root 755"
check "its value is intact" stored_ok

# ... and removes an empty store whole.
rm -rf "$STORE"
purge_empty() {
  dpkg -i "$MAIN_DEB" >"$work/dpkg.log" 2>&1 && [ -d "$KEY" ] &&
    dpkg --purge corvalink >>"$work/dpkg.log" 2>&1 || { tail -n 20 "$work/dpkg.log"; return 1; }
  [ ! -e "$STORE" ] && ! getent group corvalink >/dev/null
}
check "purging with an empty store removes it and the group" purge_empty

total=$((passed + failed))
echo "[==========] $total tests ran."
echo "[  PASSED  ] $passed tests."
[ "$failed" -eq 0 ] || echo "[  FAILED  ] $failed tests, listed above."
[ "$failed" -eq 0 ]
