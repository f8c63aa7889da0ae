#!/usr/bin/env bash
# Makes the Windows zip with cpack in the cross build folder and checks it as a user gets it:
# the programs, the README and the licences in one top folder, and every .exe a 64-bit
# Windows program that imports system DLLs alone (no libstdc++, libgcc or winpthread DLL to
# ship: the programs must start on a bare Windows).
#
# usage: windows_zip_test.sh BUILD_DIR CPACK OBJDUMP
set -uo pipefail
[ $# -eq 3 ] || { sed -n '2,7p' "$0" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
cpack=$2 objdump=$3

fail() { echo "windows_zip_test: FAIL: $*" >&2; exit 1; }

# DLLs every Windows has (lower case).
SYSTEM_DLLS=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll
  comctl32.dll comdlg32.dll version.dll shlwapi.dll uxtheme.dll winmm.dll ws2_32.dll
  mswsock.dll iphlpapi.dll msvcrt.dll ntdll.dll crypt32.dll bcrypt.dll secur32.dll "
SYSTEM_DLLS=" $(echo $SYSTEM_DLLS) "

rm -f "$build"/corvalink-windows-*.zip
(cd "$build" && "$cpack" -G ZIP --config "$build/CPackConfig.cmake" >"$build/cpack.log" 2>&1) \
  || { cat "$build/cpack.log" >&2; fail "cpack failed"; }
zips=("$build"/corvalink-windows-*.zip)
[ ${#zips[@]} -eq 1 ] && [ -f "${zips[0]}" ] || fail "no single corvalink-windows-*.zip in $build"
zip=${zips[0]}
name=$(basename "$zip" .zip)
[[ $name =~ ^corvalink-windows-[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "unexpected name $name.zip"

unpacked=$build/zip-check
rm -rf "$unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
top=$unpacked/$name
[ -d "$top" ] || fail "no top folder $name in the zip"

for f in corvalink-cli.exe router_sim.exe README.md LICENSE.txt THIRD-PARTY-NOTICES.txt; do
  [ -s "$top/$f" ] || fail "$f is missing from the zip"
done

exes=0
while IFS= read -r exe; do
  headers=$("$objdump" -p "$exe") || fail "objdump cannot read ${exe#"$top"/}"
  grep -q 'file format pei-x86-64' <<<"$headers" || fail "${exe#"$top"/} is not a 64-bit Windows program"
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | tr -d '\r')
  [ -n "$dlls" ] || fail "${exe#"$top"/} imports nothing (objdump's format changed?)"
  for dll in $dlls; do
    case $SYSTEM_DLLS in *" $dll "*) ;; *) fail "${exe#"$top"/} needs $dll, which Windows lacks" ;; esac
  done
  echo "windows_zip_test: ${exe#"$top"/} ($(stat -c %s "$exe") bytes) imports $(tr '\n' ' ' <<<"$dlls")"
  exes=$((exes + 1))
done < <(find "$top" -iname '*.exe' | sort)
[ "$exes" -ge 2 ] || fail "only $exes programs in the zip"
echo "windows_zip_test: PASS: $(basename "$zip"), $(stat -c %s "$zip") bytes, $exes programs"
