#!/usr/bin/env bash
# The main road of corvalink.exe in the network lab: the program under Wine in the client
# namespace (its wineserver started there, so its sockets are made there), the simulator in the
# routers' namespace; "Search" pressed, a row chosen, "Install / Modify", and the 60 bytes of
# "Server IP" read back from Wine's registry. Then the firmware configuration (--firmware):
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
export WINE_ALLOWED_NET=lab0
wine_make_prefix
wine_start_server || { echo "lab_test: no wineserver in the client namespace" >&2; exit 1; }
trap wine_stop_server EXIT
win32_prepare_prefix
"$WINE" reg add 'HKLM\Software\DED Orezadu Devo' /reg:32 /f >/dev/null 2>&1

work=$(mktemp -d "$build/lab/work.XXXXXX")
shots=$build/win32gui_shots
mkdir -p "$shots"
bash "$CORVALINK_LAB_SCRIPT" exec router "$sim" --max-seconds 120 \
  --router "mac=001A2B3C4D5E,ip=198.18.0.10,location=Lab A" \
  --router "mac=021122334455,ip=198.18.0.11,location=Lab B" >"$work/sim.log" 2>&1 &
simpid=$!
sleep 1  # the simulator binds its port

cd "$work" || exit 1
wine_check_server || exit 1
"$WINE" "$build/corvalink.exe" >"$work/app.out" 2>&1 &
app=$!
"$WINE" "$build/win32_gui_driver.exe" lab "$(win32_path "$shots")" 1 | tr -d '\r' | tee "$work/driver.out"
win32_result "Lab.SearchChooseInstall" "${PIPESTATUS[0]}"
win32_wait_exit "$app" 20
win32_result "Lab.InstallEndsWithExitCode0" $? 0
chosen=$(sed -n 's/^chosen: [0-9A-F]* \([0-9.]*\)$/\1/p' "$work/driver.out")
echo "chosen router: ${chosen:-none}"
[ -n "$chosen" ] && "$WINE" "$build/win32_gui_driver.exe" server-ip "$chosen"
win32_result "Lab.ServerIpIs60BytesOfTheChosenRouter" $?
"$WINE" reg query 'HKLM\Software\DED Orezadu Devo' /reg:32 /v 'Server IP' | tr -d '\r' | tee "$work/reg.txt"
[ -n "$chosen" ] && grep -q "Server IP[[:space:]]*REG_SZ[[:space:]]*${chosen//./\\.}\$" "$work/reg.txt"
win32_result "Lab.RegQueryShowsTheChosenAddress" $?
kill "$simpid" 2>/dev/null
wait "$simpid" 2>/dev/null

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
