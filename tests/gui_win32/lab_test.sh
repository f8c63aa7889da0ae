#!/usr/bin/env bash
# The main road of corvalink.exe in the network lab: the program under Wine in the client
# namespace (its wineserver started there, so its sockets are made there), a simulator in the
# router namespace of each of the client's two segments; "Search" pressed, the routers of both
# segments listed with one request on each, a row chosen, "Install / Modify", and the 60 bytes
# of "Server IP" read back from Wine's registry. Then the firmware configuration (--firmware):
# "&Select" in the system's open-file dialog, the search it starts, and each router upgraded
# after its password against the simulator's upgrade and TFTP sides, with nothing stored.
#
# usage: lab_test.sh WIN_BUILD_DIR ROUTER_SIM
# Needs root and iproute2 (scripts/lab.sh); exits 77 when the lab cannot be made. Prints
# gtest-style totals like run_tests.sh.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -eq 2 ] || { sed -n '2,10p' "$0" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
sim=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")

# shellcheck source=win32_env.sh
. "$here/win32_env.sh"
if [ "${WIN32GUI_INSIDE:-}" != 1 ]; then
  win32_start_display || exit 1
  WIN32GUI_INSIDE=1 bash "$root/scripts/lab.sh" run -- bash "$0" "$@"
  rc=$?
  win32_stop_display
  exit $rc
fi

# Inside the client namespace of a lab made for this run, and nowhere else: the search goes
# out as the limited broadcast.
[ -n "${CORVALINK_LAB_ID:-}" ] && ip -o -4 addr show dev lab0 2>/dev/null | grep -q "$CORVALINK_LAB_CLIENT_IP/" || {
  echo "lab_test: not inside a lab's client namespace; nothing is started" >&2
  exit 1
}

# shellcheck source=../support/wine_env.sh
. "$root/tests/support/wine_env.sh"
mkdir -p "$build/lab"
wine_env_init "$build/lab" || exit 1
export WINE_ALLOWED_NET="lab0 lab2"
wine_make_prefix
wine_start_server || { echo "lab_test: no wineserver in the client namespace" >&2; exit 1; }
trap wine_stop_server EXIT
win32_prepare_prefix
"$WINE" reg add 'HKLM\Software\DED Orezadu Devo' /reg:32 /f >/dev/null 2>&1

work=$(mktemp -d "$build/lab/work.XXXXXX")
shots=$build/win32gui_shots
mkdir -p "$shots"
bash "$CORVALINK_LAB_SCRIPT" exec router "$sim" --max-seconds 120 --record "$work/seg1.rec" \
  --router "mac=001A2B3C4D5E,ip=198.18.0.10,location=Lab A" \
  --router "mac=021122334455,ip=198.18.0.11,location=Lab B" >"$work/sim.log" 2>&1 &
simpid=$!
bash "$CORVALINK_LAB_SCRIPT" exec router2 "$sim" --max-seconds 120 --record "$work/seg2.rec" \
  --router "mac=02C04C510001,ip=198.18.1.10,location=Lab C" >"$work/sim2.log" 2>&1 &
sim2pid=$!
bash "$CORVALINK_LAB_SCRIPT" exec router3 "$sim" --max-seconds 120 \
  --router "mac=02C04C520001,ip=198.18.2.10,location=Routed" >"$work/sim3.log" 2>&1 &
sim3pid=$!
sleep 1  # the simulators bind their ports

cd "$work" || exit 1
wine_check_server || exit 1
"$WINE" "$build/corvalink.exe" >"$work/app.out" 2>&1 &
app=$!
"$WINE" "$build/win32_gui_driver.exe" lab "$(win32_path "$shots")" 1 3 | tr -d '\r' | tee "$work/driver.out"
win32_result "Lab.SearchChooseInstall" "${PIPESTATUS[0]}"
grep -q "^listed: 02C04C510001 198.18.1.10$" "$work/driver.out" &&
  grep -q "^listed: 001A2B3C4D5E 198.18.0.10$" "$work/driver.out"
win32_result "Lab.SearchListsTheRoutersOfBothSegments" $?
# One request on each segment, the 54 bytes the window always sent, from its own address there.
request="DD80003656454C4D4F5241$(printf '%086d' 0)"
one_request() {
  [ "$(wc -l <"$1")" -eq 1 ] && grep -Eq "^search ${2//./\\.}:[0-9]+ 54 $request\$" "$1"
}
one_request "$work/seg1.rec" 198.18.0.1 && one_request "$work/seg2.rec" 198.18.1.1
win32_result "Lab.OneRequestOnEachSegment" $?
win32_wait_exit "$app" 20
win32_result "Lab.InstallEndsWithExitCode0" $? 0
# The command line finds both segments as well, and names the address each router answered on.
if [ -f "$build/corvalink-cli.exe" ]; then
  "$WINE" "$build/corvalink-cli.exe" search --json --timeout 1 | tr -d '\r' >"$work/cli.json"
  grep -q '"local_ip": "198.18.1.1"' "$work/cli.json" &&
    grep -q '"local_ip": "198.18.0.1"' "$work/cli.json" &&
    [ "$(grep -c '"mac"' "$work/cli.json")" -eq 3 ]
  win32_result "Lab.CliSearchListsBothSegmentsWithTheirInterface" $?
  # The routed segment, by its directed broadcast and by a sweep of its block.
  for target in 198.18.2.255 198.18.2.0/24; do
    "$WINE" "$build/corvalink-cli.exe" search --json --timeout 0.5 --to "$target" |
      tr -d '\r' >"$work/cli-to.json"
    grep -q '"mac": "02C04C520001"' "$work/cli-to.json" &&
      [ "$(grep -c '"mac"' "$work/cli-to.json")" -eq 4 ]
    win32_result "Lab.CliToFindsTheRoutedSegment ($target)" $?
  done
fi
chosen=$(sed -n 's/^chosen: [0-9A-F]* \([0-9.]*\)$/\1/p' "$work/driver.out")
echo "chosen router: ${chosen:-none}"
[ -n "$chosen" ] && "$WINE" "$build/win32_gui_driver.exe" server-ip "$chosen"
win32_result "Lab.ServerIpIs60BytesOfTheChosenRouter" $?
"$WINE" reg query 'HKLM\Software\DED Orezadu Devo' /reg:32 /v 'Server IP' | tr -d '\r' | tee "$work/reg.txt"
[ -n "$chosen" ] && grep -q "Server IP[[:space:]]*REG_SZ[[:space:]]*${chosen//./\\.}\$" "$work/reg.txt"
win32_result "Lab.RegQueryShowsTheChosenAddress" $?
kill "$simpid" "$sim2pid" "$sim3pid" 2>/dev/null
wait "$simpid" "$sim2pid" "$sim3pid" 2>/dev/null

# The firmware configuration: one router with a password, one without; the image is kept by
# name in rx/, which the driver compares after each upgrade.
head -c 20000 /dev/urandom >"$work/image.all"
mkdir -p "$work/rx"
bash "$CORVALINK_LAB_SCRIPT" exec router "$sim" --max-seconds 120 --record "$work/fw_record.txt" \
  --router "mac=021122334455,ip=198.18.0.11,location=Locked,password=pw" \
  --router "mac=001A2B3C4D5E,ip=198.18.0.10,location=Open" \
  --tftp --tftp-dir "$work/rx" >"$work/fw_sim.log" 2>&1 &
simpid=$!
sleep 1
"$WINE" reg delete 'HKLM\Software\DED Orezadu Devo' /reg:32 /v 'Server IP' /f >/dev/null 2>&1
"$WINE" "$build/corvalink.exe" --firmware >"$work/fw_app.out" 2>&1 &
app=$!
"$WINE" "$build/win32_gui_driver.exe" firmware-lab "$(win32_path "$shots")" \
  "$(win32_path "$work/image.all")" "$(win32_path "$work/rx")" | tr -d '\r' | tee "$work/fw_driver.out"
win32_result "Lab.FirmwareSelectThenEachRouterUpgradedAfterItsPassword" "${PIPESTATUS[0]}"
win32_wait_exit "$app" 20
win32_result "Lab.FirmwareCancelEndsWithExitCode0" $? 0
"$WINE" reg query 'HKLM\Software\DED Orezadu Devo' /reg:32 /v 'Server IP' >/dev/null 2>&1
win32_result "Lab.FirmwareStoresNoServerIp" $? 1
# One upgrade request per upgrade (the simulator answers the first), none for the refusal:
# header DD 82 00 36, then the router's address.
ok=0
for ip in C612000B C612000A; do
  n=$(grep -c " 54 DD820036$ip" "$work/fw_record.txt")
  [ "$n" -eq 1 ] || { echo "upgrade requests to $ip: $n"; ok=1; }
done
win32_result "Lab.FirmwareOneUpgradeRequestPerUpgrade" $ok
kill "$simpid" 2>/dev/null
wait "$simpid" 2>/dev/null
win32_convert_shots "$shots"
rm -rf "$work"
win32_summary
