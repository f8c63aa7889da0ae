#!/usr/bin/env bash
# The packages as a user gets them, in a Debian 12 root of the test's own (never on this
# machine): installed there with apt-get, the installed programs run, a member of the group
# corvalink stores the router's address without root, an outsider, a former member and a hostile
# member are refused, CUPS prints through the backend, then reinstall, remove and purge. Every
# program runs chrooted into that root, in the lab's client namespace (the simulator in the
# router's), so whatever sends stays in the lab.
#
# Usage: scripts/lab.sh run -- bash tests/package/install_test.sh DIR TARBALL
#   DIR holds the .deb files; TARBALL is the root tests/package/test_root.sh made. The root is
#   unpacked afresh into DIR/package-root for each run. Runs in a mount namespace of its own, so
#   its mounts end with it however it ends.
# Prints one line per check and a gtest-style count; exits 0 when all passed, 77 when skipped.
set -uo pipefail

readonly SKIP=77
readonly STORE=/etc/corvalink
readonly KEY="/etc/corvalink/registry/HKEY_LOCAL_MACHINE/SOFTWARE/DED Orezadu Devo"
readonly MAC=02C04C0000AA
readonly ROUTER=198.18.0.10
readonly MEMBER=clkmember
readonly OUTSIDER=clkout
readonly HOSTILE=clkhostile

skip() { echo "install test: SKIPPED: $*"; exit "$SKIP"; }
[ $# -eq 2 ] && [ -d "$1" ] && [ -f "$2" ] ||
  { echo "usage: install_test.sh DIR_WITH_DEBS ROOT_TARBALL" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || skip "unpacking a Debian root and chroot need root"
[ -n "${CORVALINK_LAB_ROUTER_EXEC:-}" ] || skip "not in the lab (run it through scripts/lab.sh run)"
if [ -z "${CORVALINK_INSTALL_TEST_NS:-}" ]; then
  CORVALINK_INSTALL_TEST_NS=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
started=$(date +%s)
DEBS=$(cd "$1" && pwd)
TARBALL=$2
MAIN_DEB=$(ls "$DEBS"/corvalink_*.deb 2>/dev/null | head -n 1)
TOOLS_DEB=$(ls "$DEBS"/corvalink-tools_*.deb 2>/dev/null | head -n 1)
[ -n "$MAIN_DEB" ] && [ -n "$TOOLS_DEB" ] || { echo "install test: no packages in $DEBS" >&2; exit 2; }
R=$DEBS/package-root
# This machine's own state, which the test must leave as it found it.
host_state() { dpkg-query -W -f='${Status}' corvalink corvalink-tools 2>&1; getent group corvalink; getent passwd "$MEMBER" "$OUTSIDER" "$HOSTILE"; }
host_before=$(host_state)

# A mount left below the root by a run of an older kind would make the removal below reach
# into it: take such mounts away first (deepest first), and never cross a file system.
leftover_mounts() { awk -v r="$R" 'index($5, r "/") == 1 || $5 == r { print $5 }' /proc/self/mountinfo | sort -r; }
for m in $(leftover_mounts); do umount -l "$m" && echo "install test: removed a leftover mount $m"; done
[ -z "$(leftover_mounts)" ] || { echo "install test: mounts remain below $R" >&2; exit 1; }
rm -rf --one-file-system "$R"
mkdir -p "$R"
tar -xf "$TARBALL" -C "$R" || { echo "install test: cannot unpack $TARBALL" >&2; exit 1; }
mount -t proc proc "$R/proc" && mount --bind /dev "$R/dev" || { echo "install test: cannot mount" >&2; exit 1; }
mkdir -p "$R/tmp/debs" "$R/tmp/test"
chmod 1777 "$R/tmp"
chmod 755 "$R/tmp/test"
cp "$MAIN_DEB" "$TOOLS_DEB" "$R/tmp/debs/"
echo "install test: root unpacked in $(($(date +%s) - started)) s"

sim_pid=""
cupsd_pid=""
passed=0
failed=0
cleanup() {
  for p in $sim_pid $cupsd_pid; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  umount "$R/dev" "$R/proc" 2>/dev/null
  rm -rf --one-file-system "$R"
  echo "install test: $(($(date +%s) - started)) s in all"
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
lacks() { case $1 in *"$2"*) echo "     '$1' has '$2'"; return 1 ;; esac; return 0; }
# A program of the root, with the root's own environment.
in_root() { chroot "$R" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
as_user() { in_root runuser -u "$1" -- "${@:2}"; }
mode_of() { in_root stat -c '%U:%G %a' "$1" 2>&1; }

apt_get() {
  in_root env DEBIAN_FRONTEND=noninteractive apt-get -y -q --no-install-recommends \
    "$@" >"$R/tmp/test/apt.log" 2>&1 || { tail -n 20 "$R/tmp/test/apt.log"; return 1; }
}
# A file (not a folder) whose name matches a key component without regard to case is no key.
mkdir -p "$R$STORE/registry/HKEY_LOCAL_MACHINE"
printf 'not a key\n' >"$R$STORE/registry/HKEY_LOCAL_MACHINE/Software"
t0=$(date +%s)
check "apt-get install ./corvalink*.deb in the root" apt_get install \
  "/tmp/debs/$(basename "$MAIN_DEB")" "/tmp/debs/$(basename "$TOOLS_DEB")"
echo "     installed in $(($(date +%s) - t0)) s"

# The installed programs, from their installed places, and what the package made.
check "corvalink-cli --version" equals "$(in_root corvalink-cli --version 2>&1)" "corvalink-cli 1.0.0"
check "corvalink --version" equals "$(in_root corvalink --version 2>&1)" "corvalink 1.0.0"
check "router_sim --help" contains "$(in_root router_sim --help 2>&1)" "--max-seconds"
check "the CUPS backend lists its device" contains \
  "$(in_root /usr/lib/cups/backend/corvalink 2>&1)" "network corvalink"
check "the CUPS backend is root:root 0744" equals "$(mode_of /usr/lib/cups/backend/corvalink)" "root:root 744"
check "man corvalink-cli is found" equals "$(in_root man -w corvalink-cli 2>&1)" \
  /usr/share/man/man1/corvalink-cli.1.gz
has_group() { in_root getent group corvalink >/dev/null; }
check "the group corvalink exists" has_group
check "the key folder is root:corvalink 3775" equals "$(mode_of "$KEY")" "root:corvalink 3775"
check "a file named Software beside the key is left as it was" equals \
  "$(cat "$R$STORE/registry/HKEY_LOCAL_MACHINE/Software")" "not a key"
check "Server IP is root:corvalink 0664, empty" equals \
  "$(in_root stat -c '%U:%G %a %s' "$KEY/Server IP" 2>&1)" "root:corvalink 664 0"
# Installed documents name only what is installed: no source-tree scripts or folders.
docs_name_installed_files() {
  local hits
  hits=$(cd "$R" && for f in usr/share/doc/corvalink*/*.gz usr/share/man/man*/corvalink*.gz \
                              usr/share/man/man1/router_sim.1.gz; do
    zcat "$f" | grep -nE '(^|[^a-z/])(scripts|docs|tests)/' | sed "s|^|$f:|"
  done)
  [ -z "$hits" ] || { echo "$hits" | head -5 | sed 's/^/     /'; return 1; }
  for f in $(zcat "$R"/usr/share/man/man*/corvalink*.gz "$R"/usr/share/man/man1/router_sim.1.gz |
             grep -oE '/usr/share/doc/[A-Za-z0-9._/-]+' | sort -u); do
    [ -e "$R$f" ] || { echo "     named but not installed: $f"; return 1; }
  done
}
check "installed documents name only installed files" docs_name_installed_files

for u in "$MEMBER" "$OUTSIDER" "$HOSTILE"; do in_root useradd --no-create-home --shell /usr/sbin/nologin "$u"; done
in_root adduser --quiet "$MEMBER" corvalink
in_root adduser --quiet "$HOSTILE" corvalink
mkdir -p "$R/tmp/test/lpd"
$CORVALINK_LAB_ROUTER_EXEC chroot "$R" /usr/bin/router_sim --max-seconds 300 --upgrade at-once \
  --tftp --lpd --lpd-dir /tmp/test/lpd \
  --router "mac=$MAC,ip=$ROUTER,location=Install test" >"$R/tmp/test/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 50); do grep -q READY "$R/tmp/test/sim.out" && break; sleep 0.1; done
check "router_sim answers in the lab" grep -q READY "$R/tmp/test/sim.out"

check "search finds the router" contains "$(as_user "$OUTSIDER" corvalink-cli search --json --timeout 2 2>&1)" \
  "\"mac\": \"$MAC\""

# A member stores the address without root; the value stays root's; everyone may read it.
out=$(as_user "$MEMBER" corvalink-cli install "$MAC" --timeout 5 2>&1)
check "a member of corvalink stores Server IP (exit 0)" equals "$?" 0
echo "$out" | sed 's/^/     /'
stored_ok() {
  [ "$(stat -c %s "$R$KEY/Server IP")" = 64 ] &&
    cmp -s <(printf '\000\000\000\001%s' "$ROUTER"; head -c $((60 - ${#ROUTER})) /dev/zero) \
      <(as_user "$OUTSIDER" cat "$KEY/Server IP")
}
check "the 60 bytes read back, by another user too" stored_ok
check "the value is still root's, group corvalink, 0664" equals "$(mode_of "$KEY/Server IP")" \
  "root:corvalink 664"

# A user outside the group is refused with the fix, and the value stays.
err=$(as_user "$OUTSIDER" corvalink-cli install "$MAC" --timeout 5 2>&1 >/dev/null)
check "a user outside the group gets exit 4" equals "$?" 4
check "the refusal names the group and the fix" contains "$err" "you are not in the group corvalink"
check "the refusal gives the adduser command" contains "$err" "sudo adduser $OUTSIDER corvalink"
check "the value is unchanged" stored_ok

# A hostile member: the value is root's in a sticky folder, so it can be neither replaced by a
# link nor removed; the backend (root) never reads through a link planted in its place.
check "a member cannot put a link in the value's place" \
  as_user "$HOSTILE" sh -c "! ln -sf /etc/shadow '$KEY/Server IP' 2>/dev/null && ! rm -f '$KEY/Server IP' 2>/dev/null"
check "the value is unchanged after the attempt" stored_ok
backend() {  # DEVICE-URI: the backend as cupsd runs it for a job, as root
  in_root env DEVICE_URI="$1" /usr/lib/cups/backend/corvalink 7 alice title 1 "" /etc/hostname
}
printf '\000\000\000\00110.9.8.7 SECRET-BYTES\n' >"$R/root/secret"
chmod 600 "$R/root/secret"
mv "$R$KEY/Server IP" "$R/tmp/test/server-ip.saved"
as_user "$HOSTILE" ln -s /root/secret "$KEY/Server IP"
err=$(backend corvalink://lp 2>&1)
check "a planted link: the backend stops the queue (exit 4)" equals "$?" 4
check "... reporting the value as not set" contains "$err" "is not set"
check "... without a byte of the link's target" lacks "$err" "SECRET"
rm -f "$R$KEY/Server IP"
as_user "$HOSTILE" sh -c "printf '\\000\\000\\000\\001SECRET-BYTES\\n' > '$KEY/Server IP'"
err=$(backend corvalink://lp 2>&1)
check "a malformed value is reported as malformed, not shown" contains "$err" "is malformed"
check "... without its bytes" lacks "$err" "SECRET"
rm -f "$R$KEY/Server IP"
mv "$R/tmp/test/server-ip.saved" "$R$KEY/Server IP"
err=$(backend 'corvalink://lp%0A%02evil%0A' 2>&1)
check "a queue name with control bytes once decoded is refused (exit 4)" equals "$?" 4
check "... before anything is handed to lpd" lacks "$err" "handing the job"

# Leaving the group takes the right away: the former member owns nothing in the key.
in_root gpasswd -d "$MEMBER" corvalink >/dev/null
check "a former member gets exit 4" equals \
  "$(as_user "$MEMBER" corvalink-cli install "$MAC" --timeout 5 >/dev/null 2>&1; echo $?)" 4
check "... and cannot write the value itself" \
  as_user "$MEMBER" sh -c "! printf x 2>/dev/null > '$KEY/Server IP'"
check "the value is unchanged" stored_ok

# cupsd of the root, in the lab: a job goes to the router stored as Server IP.
cat >"$R/etc/cups/cupsd.conf" <<'EOF'
LogLevel debug
Listen /run/cups/cups.sock
Browsing No
WebInterface No
<Location />
  Order allow,deny
  Allow localhost
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
mkdir -p "$R/run/cups"
chroot "$R" /usr/sbin/cupsd -f >"$R/tmp/test/cupsd.out" 2>&1 &
cupsd_pid=$!
for _ in $(seq 1 100); do [ -S "$R/run/cups/cups.sock" ] && break; sleep 0.1; done
print_job() {
  in_root lpadmin -p office -E -v corvalink://lp -m raw >/dev/null 2>&1 ||
    in_root lpadmin -p office -E -v corvalink://lp >/dev/null 2>&1 || return 1
  head -c 70001 /dev/urandom >"$R/tmp/test/job.bin"
  chmod 644 "$R/tmp/test/job.bin"
  as_user "$OUTSIDER" lp -d office /tmp/test/job.bin >/dev/null || return 1
  for _ in $(seq 1 300); do grep -q "LPD job to=$ROUTER:515" "$R/tmp/test/sim.out" && break; sleep 0.1; done
  local line stored
  line=$(grep "LPD job to=$ROUTER:515" "$R/tmp/test/sim.out" | head -n 1)
  stored=$(printf '%s\n' "$line" | sed -n 's/.* stored=\([^ ]*\).*/\1/p')
  [ -n "$stored" ] && cmp -s "$R/tmp/test/job.bin" "$R$stored" ||
    { echo "     no job at the router: ${line:-none}"
      cp "$R/var/log/cups/error_log" "$DEBS/install_test_cups_error_log" 2>/dev/null
      grep -E '^[EW] |\[Job' "$R/var/log/cups/error_log" 2>/dev/null | tail -n 8 | sed 's/^/     /'; return 1; }
}
check "cupsd in the root prints through the backend to the stored router" print_job

# A firmware upgrade from the installed command line.
upgrade() {
  head -c 20000 /dev/urandom >"$R/tmp/test/fw.all"
  chmod 644 "$R/tmp/test/fw.all"
  as_user "$OUTSIDER" corvalink-cli upgrade "$MAC" /tmp/test/fw.all >"$R/tmp/test/upgrade.out" 2>&1 ||
    { tail -n 5 "$R/tmp/test/upgrade.out"; return 1; }
  grep -q "Upgrade complete" "$R/tmp/test/upgrade.out"
}
check "corvalink-cli upgrade completes against the simulator" upgrade
for p in $cupsd_pid $sim_pid; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
sim_pid=""
cupsd_pid=""

# Reinstalling over the store keeps the value and hands members' own values to root; a link a
# member planted is never followed (here to a set-user-ID program).
as_user "$HOSTILE" sh -c "printf '\\000\\000\\000\\001/opt/lpr' > '$KEY/Path'"
as_user "$HOSTILE" ln -s /usr/bin/passwd "$KEY/passwd-link"
passwd_mode=$(mode_of /usr/bin/passwd)
check "apt-get install --reinstall over the store" apt_get install --reinstall \
  "/tmp/debs/$(basename "$MAIN_DEB")"
check "the value survives the reinstall" stored_ok
check "a member's own value becomes root:corvalink 0664" equals "$(mode_of "$KEY/Path")" "root:corvalink 664"
check "the key folder is root:corvalink 3775 again" equals "$(mode_of "$KEY")" "root:corvalink 3775"
check "the set-user-ID program behind a planted link is untouched" equals "$(mode_of /usr/bin/passwd)" \
  "$passwd_mode"

check "apt-get remove corvalink corvalink-tools" apt_get remove corvalink corvalink-tools
check "the programs are gone" equals "$(in_root sh -c 'command -v corvalink-cli router_sim corvalink')" ""
check "the store and its value stay after remove" stored_ok

# Purging keeps a store that holds values, handed to root, and keeps the system group.
check "apt-get purge corvalink corvalink-tools" apt_get purge corvalink corvalink-tools
check "the group corvalink is kept" has_group
check "a store with values is kept, as root:root 755" equals "$(mode_of "$KEY")" "root:root 755"
check "its values are root:root 644" equals "$(mode_of "$KEY/Server IP") $(mode_of "$KEY/Path")" \
  "root:root 644 root:root 644"
check "its value is intact" stored_ok
check "the set-user-ID program is still untouched" equals "$(mode_of /usr/bin/passwd)" "$passwd_mode"

# ... and removes an empty store whole.
rm -rf "$R$STORE"
purge_empty() {
  apt_get install "/tmp/debs/$(basename "$MAIN_DEB")" && [ -d "$R$KEY" ] &&
    apt_get purge corvalink && [ ! -e "$R$STORE" ]
}
check "purging with only the package's empty Server IP removes the store" purge_empty
check "this machine's packages, users and groups are as they were" equals "$(host_state)" "$host_before"

total=$((passed + failed))
echo "[==========] $total tests ran."
echo "[  PASSED  ] $passed tests."
[ "$failed" -eq 0 ] || echo "[  FAILED  ] $failed tests, listed above."
[ "$failed" -eq 0 ]
