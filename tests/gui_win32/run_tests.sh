#!/usr/bin/env bash
# The Windows dialogs of corvalink.exe under Wine, on a virtual X display, driven from outside by
# win32_gui_driver.exe: the templates and initial states, search replies injected on loopback,
# Install and the "Server IP" value, the password dialog, and the upgrade dialog against the
# router simulator on loopback. Never presses "Search" (that is the lab's, see lab_test.sh).
#
# usage: run_tests.sh WIN_BUILD_DIR ROUTER_SIM
#   WIN_BUILD_DIR  the mingw-w64 build (corvalink.exe, win32_gui_driver.exe)
#   ROUTER_SIM     the simulator (a Linux build), run on 127.0.0.1 in the same namespace
# Screenshots of every dialog land in WIN_BUILD_DIR/win32gui_shots/*.png. Prints gtest-style
# totals ("[  PASSED  ] N tests.") and exits non-zero when a test failed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 2 ] || { sed -n '2,12p' "$0" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
sim=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
[ -x "$sim" ] || { echo "run_tests: no simulator at $sim" >&2; exit 2; }

# shellcheck source=win32_env.sh
. "$here/win32_env.sh"
if [ "${WIN32GUI_INSIDE:-}" != 1 ]; then
  win32_start_display || exit 1
  WIN32GUI_INSIDE=1 "$here/../support/wine_session.sh" "$build" "$0" "$@"
  rc=$?
  win32_stop_display
  exit $rc
fi

win32_prepare_prefix
work=$(mktemp -d "$build/win32gui.XXXXXX")
shots=$build/win32gui_shots
rm -rf "$shots" && mkdir -p "$shots"
wshots=$(win32_path "$shots")
exe=$build/corvalink.exe
driver=$build/win32_gui_driver.exe
cd "$work" || exit 1  # no lpr.txt here: the dialogs keep their template texts

# --- the compiled resources: each template's size and font, the strings, the version record --
windres=$(command -v x86_64-w64-mingw32-windres)
"$windres" -i "$exe" -O rc >"$work/res.rc" 2>/dev/null
awk '/ DIALOGEX /{d=$1" "$5" "$6} /^FONT /{print d, $0}' "$work/res.rc" >"$work/templates.txt"
diff - "$work/templates.txt" <<'EOF'
100 235, 55 FONT 8, "MS Sans Serif"
102 339, 122 FONT 10, "MS Sans Serif"
129 211, 108 FONT 10, "MS Sans Serif"
130 151, 50 FONT 10, "MS Sans Serif"
EOF
win32_result "Resources.TemplateSizesAndFonts" $?
ok=0
for want in '101, "&About Corvalink..."' '103, "Windows sockets initialization failed."' \
  '128 14 /\* RT_GROUP_ICON' ' FILEVERSION 1, 0, 0, 0' 'BLOCK "040904B0"' \
  'VALUE "FileVersion", "1, 0, 0, 0"' 'VALUE "ProductVersion", "1.0"' \
  'VALUE "FileDescription", "Corvalink firmware upgrade tools"' \
  'VALUE "InternalName", "Corvalink firmware upgrade tools"' \
  'VALUE "OriginalFilename", "Corvalink.EXE"' 'VALUE "ProductName", "Corvalink Application"' \
  'VALUE "CompanyName", ""' 'VALUE "Translation", 0x409, 1200'; do
  grep -q -- "$want" "$work/res.rc" || { echo "resources lack: $want"; ok=1; }
done
win32_result "Resources.StringsIconAndVersionRecord" $ok

# --- the main dialog: template, replies, Install, "Server IP" -------------------------------
# The printer-port software is 32-bit: its key is in the registry's 32-bit view.
KEY='HKLM\Software\DED Orezadu Devo'
"$WINE" reg add "$KEY" /reg:32 /f >/dev/null 2>&1
"$WINE" "$exe" >"$work/main.out" 2>&1 &
app=$!
port=$(win32_udp_port_of_new_socket 30) || port=0
[ "$port" -ne 0 ] || echo "run_tests: the search socket's port did not show up"
"$WINE" "$driver" main "$wshots" "$port"
win32_result "MainDialog.TemplateRepliesAndInstall" $?
win32_wait_exit "$app" 20
win32_result "MainDialog.InstallEndsWithExitCode0" $? 0
"$WINE" "$driver" server-ip 198.18.0.22
win32_result "MainDialog.ServerIpIs60BytesOfTheMarkedRouter" $?
"$WINE" reg query "$KEY" /reg:32 /v 'Server IP' | tr -d '\r' | tee "$work/reg.txt"
grep -q 'Server IP[[:space:]]*REG_SZ[[:space:]]*198\.18\.0\.22$' "$work/reg.txt"
win32_result "MainDialog.RegQueryShowsTheAddress" $?

# --- the firmware configuration: the row below the list, Install waiting for a file ----------
"$WINE" "$exe" --firmware >"$work/fw.out" 2>&1 &
app=$!
"$WINE" "$driver" firmware "$wshots"
win32_result "FirmwareConfig.RowBelowTheListInstallWaitsForAFile" $?
win32_wait_exit "$app" 20
win32_result "FirmwareConfig.CancelEndsWithExitCode0" $? 0
# --- "Path" from the 32-bit view, in Windows-1252 letters; the command line -----------------
# The 32-bit view's "Path" names a folder whose name (and caption) Windows-1252 spells with one
# byte per letter; the 64-bit view's names another, which must not be used. The argument (a file
# dropped on the program) is ignored: the window opens.
ansi="$work/Café € Ångström"
native="$work/native"
mkdir -p "$ansi" "$native"
printf 'Caf\351 \200 lpr\r\n' >"$ansi/lpr.txt"
printf 'from the 64-bit view\r\n' >"$native/lpr.txt"
"$WINE" reg add "$KEY" /reg:32 /v Path /t REG_SZ /d "$(win32_path "$ansi")" /f >/dev/null 2>&1
"$WINE" reg add "$KEY" /reg:64 /v Path /t REG_SZ /d "$(win32_path "$native")" /f >/dev/null 2>&1
"$WINE" "$exe" 'Z:\tmp\dropped file.all' >"$work/arg.out" 2>&1 &
app=$!
"$WINE" "$driver" window 'Café € lpr' "$wshots" path_from_32bit_view
win32_result "CommandLine.ArgumentIgnoredAndPathOfTheLatinFolderRead" $?
win32_wait_exit "$app" 20
win32_result "CommandLine.ClosedWithTheCloseBoxEndsWith0" $? 0
"$WINE" reg delete "$KEY" /reg:64 /v Path /f >/dev/null 2>&1
# The same with a Cyrillic folder, under a locale whose ANSI code page is Windows-1251 (Wine takes
# the code page from the locale; it is made here from glibc's sources, for these programs alone).
if mkdir -p "$work/locales" &&
  localedef -i ru_RU -f UTF-8 "$work/locales/ru_RU.UTF-8" >/dev/null 2>&1; then
  cyrillic="$work/Папка"
  mkdir -p "$cyrillic"
  printf '\317\340\357\352\340 lpr\r\n' >"$cyrillic/lpr.txt"  # "Папка lpr" in Windows-1251
  "$WINE" reg add "$KEY" /reg:32 /v Path /t REG_SZ /d "$(win32_path "$cyrillic")" /f >/dev/null 2>&1
  LOCPATH=$work/locales LC_ALL=ru_RU.UTF-8 "$WINE" "$exe" >"$work/cyrillic.out" 2>&1 &
  app=$!
  LOCPATH=$work/locales LC_ALL=ru_RU.UTF-8 "$WINE" "$driver" window 'Папка lpr' "$wshots" \
    path_cyrillic
  win32_result "CommandLine.PathOfTheCyrillicFolderReadInCodePage1251" $?
  win32_wait_exit "$app" 20
else
  echo "run_tests: the Cyrillic folder SKIPPED (no ru_RU locale can be made: glibc's locales)"
fi
"$WINE" reg delete "$KEY" /reg:32 /v Path /f >/dev/null 2>&1

# --version and a --dev-dialog mistake: written where standard output goes to a file, in a
# message box where there is no console to write to.
"$WINE" "$exe" --version >"$work/version.out" 2>&1
rc=$?
version=$(tr -d '\r' <"$work/version.out")
[ "$rc" -eq 0 ] && [[ "$version" =~ ^corvalink\ [0-9]+\.[0-9]+\.[0-9]+$ ]]
win32_result "CommandLine.VersionToAFile" $? || echo "got ($rc): $version"
"$WINE" "$exe" --version </dev/null >/dev/null 2>&1 &
app=$!
box=$("$WINE" "$driver" message corvalink "$wshots" version_box | tr -d '\r')
[ "$box" = "$version" ]
win32_result "CommandLine.VersionInAMessageBox" $? || echo "box: $box"
win32_wait_exit "$app" 20
win32_result "CommandLine.VersionEndsWith0" $? 0
"$WINE" "$exe" --dev-dialog upgrade --mac 1 </dev/null >/dev/null 2>&1 &
app=$!
box=$("$WINE" "$driver" message corvalink "$wshots" dev_dialog_usage | tr -d '\r')
[[ "$box" == "corvalink --dev-dialog: "* ]]
win32_result "CommandLine.DevDialogMistakeInAMessageBox" $? || echo "box: $box"
win32_wait_exit "$app" 20
win32_result "CommandLine.DevDialogMistakeEndsWith64" $? 64

# --- the password dialog -------------------------------------------------------------------
# mode, --password, expected exit code (the dialog's result)
while read -r mode password expected; do
  args=(--dev-dialog password)
  [ "$password" = - ] || args+=(--password "$password")
  "$WINE" "$exe" "${args[@]}" >"$work/pw.out" 2>&1 &
  app=$!
  "$WINE" "$driver" password "$wshots" "$mode"
  drv=$?
  win32_wait_exit "$app" 20
  got=$?
  [ "$drv" -eq 0 ] && [ "$got" -eq "$expected" ] && grep -q "result: $expected" "$work/pw.out"
  ok=$?
  [ "$ok" -eq 0 ] || echo "password $mode: driver $drv, result $got (wanted $expected)"
  win32_result "PasswordDialog.$mode" "$ok"
done <<'EOF'
first secret 0
right secret 1
cancel secret 2
stays - 1
EOF

# --- the upgrade dialog against the simulator ------------------------------------------------
mkdir -p "$work/rx"
"$sim" --bind 127.0.0.1 --search-port 56500 --upgrade after=3 --tftp-port 6969 \
  --tftp-dir "$work/rx" --record "$work/record.txt" --max-seconds 120 >"$work/sim.log" 2>&1 &
simpid=$!
firmware=$work/image.all
size=3000  # five full blocks and a last one of 440 bytes: range 0..6
"$WINE" "$exe" --dev-dialog upgrade --router-ip 127.0.0.1 --mask 255.255.255.0 \
  --mac 02:11:22:33:44:55 --password pw --upgrade-port 56500 --tftp-port 6969 \
  --firmware "$(win32_path "$firmware")" >"$work/up.out" 2>&1 &
app=$!
"$WINE" "$driver" upgrade "$wshots" "$(win32_path "$firmware")" "$size"
win32_result "UpgradeDialog.HandshakeFailureThenSendCompletes" $?
win32_wait_exit "$app" 20
win32_result "UpgradeDialog.CompleteEndsWith0" $? 0
cmp -s "$firmware" "$work/rx/image.all"
win32_result "UpgradeDialog.TheRouterHasTheWholeFile" $?
kill "$simpid" 2>/dev/null; wait "$simpid" 2>/dev/null

# Three requests (the router answers the third), each the same 54 bytes: header, address,
# mask, MAC, the password as held, twelve zeros.
held=$("$WINE" "$driver" scramble pw | tr -d '\r')
want="DD8200367F000001FFFFFF00021122334455${held}000000000000000000000000"
requests=$(grep -c ' 54 DD82' "$work/record.txt")
others=$(grep ' 54 DD82' "$work/record.txt" | grep -vc " 54 $want\$")
[ "$requests" -eq 3 ] && [ "$others" -eq 0 ]
win32_result "UpgradeDialog.ThreeIdenticalRequestsFromTheSelectedRouter" $? ||
  { echo "wanted $want"; grep DD82 "$work/record.txt"; }
# The write request: opcode 2, "image.all", 0, "octet", 0; sent once per transfer that opened
# its file (the failed one never did).
wrq="^tftp 127\.0\.0\.1:[0-9]* 18 0002696D6167652E616C6C006F6374657400$"
[ "$(grep -c "$wrq" "$work/record.txt")" -eq 1 ]
win32_result "UpgradeDialog.OneWriteRequestNamedAfterTheFile" $?

# --- the same upgrade dialog opened a second time ------------------------------------------------
mkdir -p "$work/rx2"
"$sim" --bind 127.0.0.1 --search-port 56501 --upgrade at-once --tftp-port 6970 \
  --tftp-dir "$work/rx2" --max-seconds 120 >"$work/sim2.log" 2>&1 &
simpid=$!
"$WINE" "$exe" --dev-dialog upgrade --openings 2 --router-ip 127.0.0.1 --mac 02:11:22:33:44:55 \
  --password pw --upgrade-port 56501 --tftp-port 6970 --firmware "$(win32_path "$firmware")" \
  >"$work/again.out" 2>&1 &
app=$!
"$WINE" "$driver" upgrade-again "$wshots"
win32_result "UpgradeDialog.SecondOpeningStartsWithTheBarAt0" $?
win32_wait_exit "$app" 20
win32_result "UpgradeDialog.SecondOpeningClosedEndsWith2" $? 2 || cat "$work/again.out"
kill "$simpid" 2>/dev/null; wait "$simpid" 2>/dev/null

win32_convert_shots "$shots"
rm -rf "$work"
win32_summary
