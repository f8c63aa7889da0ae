#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test —
# unit and window tests (ctest), the core again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets (libFuzzer, FUZZ_SECONDS each), the
# integration tests inside the network lab, and the Windows build (mingw-w64) with its tests under Wine.
#
# Usage: scripts/test.sh [--only PART[,PART...]] [--list]
# Parts run in the order listed by --list; --only runs the named ones alone (their build
# included), for quick iteration. The last line is "tests: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}
# ccache, where installed, makes rebuilds of unchanged files free.
LAUNCHER=()
command -v ccache >/dev/null 2>&1 && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

PARTS=(unit asan fuzz lab package windows win32gui)

only=""
while [ $# -gt 0 ]; do
  case $1 in
    --only) only=${2:-}; shift 2 || { echo "test.sh: --only needs a part" >&2; exit 2; } ;;
    --only=*) only=${1#--only=}; shift ;;
    --list) printf '%s\n' "${PARTS[@]}"; exit 0 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
done
if [ -n "$only" ]; then
  IFS=, read -r -a wanted <<<"$only"
  for w in "${wanted[@]}"; do
    printf '%s\n' "${PARTS[@]}" | grep -qx "$w" || { echo "test.sh: no part '$w' (parts: ${PARTS[*]})" >&2; exit 2; }
  done
else
  wanted=("${PARTS[@]}")
fi

bash scripts/install_deps.sh || exit 1

failed=0
passed_total=0
failed_total=0
count() {  # $1 = ctest or gtest log; adds its totals
  local p f
  if grep -q "tests passed" "$1"; then
    p=$(sed -n 's/.* \([0-9]\+\) tests failed out of \([0-9]\+\).*/\2 \1/p' "$1" | tail -1)
    if [ -n "$p" ]; then
      passed_total=$((passed_total + ${p% *} - ${p#* })); failed_total=$((failed_total + ${p#* }))
    fi
  else
    p=$(sed -n 's/^\[  PASSED  \] \([0-9]\+\) test.*/\1/p' "$1" | tail -1)
    f=$(sed -n 's/^\[  FAILED  \] \([0-9]\+\) test.*/\1/p' "$1" | tail -1)
    passed_total=$((passed_total + ${p:-0})); failed_total=$((failed_total + ${f:-0}))
  fi
}

# The main Linux build (windows, tools and benchmarks), made once for every part that needs it.
built_main=0
build_main() {
  [ "$built_main" -eq 1 ] && return 0
  echo "== build (Debian's build flags, with windows and benchmarks)"
  bash scripts/configure.sh build || return 1
  ninja -C build -j"$JOBS" || return 1
  built_main=1
}

part_unit() {
  build_main || return 1
  echo "== unit and window tests"
  QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$JOBS" 2>&1 | tee build/ctest.log
  local rc=${PIPESTATUS[0]}
  count build/ctest.log
  return "$rc"
}

part_asan() {
  echo "== core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  mkdir -p build-asan
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVALINK_SANITIZE=ON \
    -DCORVALINK_GUI=OFF -DCORVALINK_BENCH=OFF "${LAUNCHER[@]}" >build-asan/configure.log 2>&1 \
    || { cat build-asan/configure.log; return 1; }
  ninja -C build-asan -j"$JOBS" unit_tests || return 1
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ./build-asan/unit_tests --gtest_brief=1 2>&1 | tee build-asan/unit.log
  local rc=${PIPESTATUS[0]}
  count build-asan/unit.log
  return "$rc"
}

# Each fuzz target runs for FUZZ_SECONDS from its seeds (tests/fuzz/corpus/<target>); what it
# finds goes to a corpus in the build folder, never into the seeds. A crash, a failed check or an
# input that runs over 10 s fails the target and leaves the input in build-fuzz/artifacts/.
part_fuzz() {
  echo "== fuzz targets (libFuzzer, ASan + UBSan), ${FUZZ_SECONDS:-20} s each"
  command -v clang++ >/dev/null || { echo "fuzz: clang++ not found"; return 1; }
  mkdir -p build-fuzz/artifacts
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DCORVALINK_FUZZ=ON -DCORVALINK_GUI=OFF -DCORVALINK_BENCH=OFF "${LAUNCHER[@]}" \
    >build-fuzz/configure.log 2>&1 || { cat build-fuzz/configure.log; return 1; }
  ninja -C build-fuzz -j"$JOBS" fuzz_targets || return 1
  local rc=0 seeds target log execs
  for seeds in tests/fuzz/corpus/*/; do
    target=$(basename "$seeds")
    log=build-fuzz/$target.log
    mkdir -p "build-fuzz/corpus/$target"
    if "build-fuzz/${target}_fuzz" -max_total_time="${FUZZ_SECONDS:-20}" -timeout=10 \
         -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/"$target"- \
         "build-fuzz/corpus/$target" "$seeds" >"$log" 2>&1; then
      passed_total=$((passed_total + 1)); execs=$(sed -n 's/^stat::number_of_executed_units: //p' "$log")
      echo "fuzz $target: passed, $execs executions"
    else
      failed_total=$((failed_total + 1)); rc=1
      echo "fuzz $target: FAILED"; grep -E "check failed|ERROR|SUMMARY|Test unit written" "$log" | head -5
    fi
  done
  return "$rc"
}

part_lab() {
  build_main || return 1
  echo "== integration tests in the network lab"
  [ -x build/lab_tests ] || return 0
  bash scripts/lab.sh run -- env QT_QPA_PLATFORM=offscreen build/lab_tests --gtest_brief=1 2>&1 \
    | tee build/lab.log
  local rc=${PIPESTATUS[0]}
  count build/lab.log
  if [ "$rc" -eq 77 ]; then
    echo "lab: SKIPPED (network namespaces cannot be made here: needs root and iproute2)"
    return 0
  fi
  # The fleet benchmark: 1 router against 30 at once, every image checked byte for byte.
  echo "== fleet upgrade benchmark in the network lab"
  bash scripts/lab.sh run -- bash tests/bench/fleet_bench.sh build 2>&1 | tee build/fleet_bench.log
  if [ "${PIPESTATUS[0]}" -eq 0 ]; then
    passed_total=$((passed_total + 1))
  else
    failed_total=$((failed_total + 1)); rc=1
  fi
  return "$rc"
}

# The Debian packages (scripts/package.sh): lintian and appstreamcli on what they hold, then
# tests/package/install_test.sh installs them with apt-get in a Debian 12 root of its own
# (tests/package/test_root.sh, cached), joined to the lab, uses them as a member of the group
# corvalink, an outsider, a former and a hostile member, and removes them again.
part_package() {
  echo "== Debian packages: build, lintian, appstreamcli, install test in a Debian root in the lab"
  local debs rc=0 deb out tree
  build_main || return 1
  debs=$(bash scripts/package.sh build) || return 1
  for deb in $debs; do
    echo "-- $(basename "$deb"): $(dpkg-deb -c "$deb" | wc -l) entries, $(stat -c %s "$deb") bytes"
    # Errors fail the part; warnings and notes are printed.
    out=$(lintian --fail-on error --display-info "$deb" 2>&1)
    if [ $? -eq 0 ]; then
      passed_total=$((passed_total + 1)); echo "lintian $(basename "$deb"): passed"
    else
      failed_total=$((failed_total + 1)); rc=1; echo "lintian $(basename "$deb"): FAILED"
    fi
    [ -n "$out" ] && printf '%s\n' "$out" | sed 's/^/   /'
  done
  tree=build/deb-unpacked
  rm -rf "$tree" && mkdir -p "$tree"
  for deb in $debs; do dpkg-deb -x "$deb" "$tree"; done
  if appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml; then
    passed_total=$((passed_total + 1)); echo "appstreamcli validate: passed"
  else
    failed_total=$((failed_total + 1)); rc=1; echo "appstreamcli validate: FAILED"
  fi
  if desktop-file-validate "$tree"/usr/share/applications/*.desktop; then
    passed_total=$((passed_total + 1)); echo "desktop-file-validate: passed"
  else
    failed_total=$((failed_total + 1)); rc=1; echo "desktop-file-validate: FAILED"
  fi
  # The Debian root the install test runs in: made by mmdebstrap on the first run (it needs
  # Debian's mirror, so outside the lab), then taken from its cache.
  local started lab tarball
  started=$(date +%s)
  tarball=$(bash tests/package/test_root.sh $debs 2> >(tee build/test_root.log >&2))
  lab=$?
  if [ "$lab" -eq 0 ]; then
    bash scripts/lab.sh run -- bash tests/package/install_test.sh build "$tarball" 2>&1 \
      | tee build/install_test.log
    lab=${PIPESTATUS[0]}
  else
    sed -n 's/.*SKIPPED: /install test: SKIPPED: /p' build/test_root.log >build/install_test.log
  fi
  echo "package install test: $(($(date +%s) - started)) s with the Debian root"
  if [ "$lab" -eq 77 ]; then
    echo "package install test: SKIPPED ($(sed -n 's/.*SKIPPED: //p' build/install_test.log))"
  elif [ ! -s build/install_test.log ]; then
    failed_total=$((failed_total + 1)); rc=1; echo "package install test: FAILED (no Debian root)"
  else
    count build/install_test.log
    [ "$lab" -eq 0 ] || rc=1
  fi
  return "$rc"
}

part_windows() {
  echo "== Windows build (mingw-w64) and its tests under Wine"
  bash scripts/install_deps.sh --windows || return 1
  mkdir -p build-win
  cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release "${LAUNCHER[@]}" >build-win/configure.log 2>&1 \
    || { cat build-win/configure.log; return 1; }
  ninja -C build-win -j"$JOBS" || return 1
  # Wine's sockets are the wineserver's: it runs in a network namespace that holds loopback
  # alone (tests/support/wine_session.sh starts it there, with a fresh WINEPREFIX in
  # build-win, and checks it before any test program starts).
  if ! unshare --net true 2>/dev/null; then
    echo "windows: tests SKIPPED (no network namespace for the wineserver: needs root and" \
         "util-linux's unshare); Wine is not run outside one"
    return 0
  fi
  # The unit tests, the command line end to end (tests/process/wine_cli_test.sh, a prefix of
  # its own) and the zip (tests/process/windows_zip_test.sh: build-win/corvalink-windows-*.zip).
  bash tests/support/wine_session.sh build-win \
    ctest --test-dir build-win --output-on-failure -j"$JOBS" 2>&1 | tee build-win/ctest.log
  local rc=${PIPESTATUS[0]}
  count build-win/ctest.log
  return "$rc"
}

# What the Windows dialogs' tests need besides the main list: the cross compiler, Wine, a
# virtual display, ImageMagick for the screenshots, Wine's own fonts (the caption buttons).
WIN32GUI_PACKAGES=(g++-mingw-w64-x86-64-posix wine64 xvfb imagemagick fonts-wine iproute2)

part_win32gui() {
  local missing=() p
  for p in "${WIN32GUI_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
      >/dev/null || return 1
  fi
  echo "== corvalink.exe (mingw-w64) and its dialog tests under Wine"
  mkdir -p build-win
  cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release "${LAUNCHER[@]}" >build-win/configure.log 2>&1 \
    || { cat build-win/configure.log; return 1; }
  ninja -C build-win -j"$JOBS" corvalink corvalink-cli win32_gui_driver || return 1
  # The simulator the dialogs talk to is the Linux one, in the same namespace as the wineserver.
  if [ "$built_main" -ne 1 ]; then
    bash scripts/configure.sh build || return 1
    ninja -C build -j"$JOBS" router_sim || return 1
  fi
  local rc
  bash tests/gui_win32/run_tests.sh build-win build/router_sim 2>&1 | tee build-win/win32gui.log
  rc=${PIPESTATUS[0]}
  count build-win/win32gui.log
  bash tests/gui_win32/lab_test.sh build-win build/router_sim 2>&1 | tee build-win/win32gui_lab.log
  local lab=${PIPESTATUS[0]}
  if [ "$lab" -eq 77 ]; then
    echo "win32gui lab: SKIPPED (network namespaces cannot be made here: needs root and iproute2)"
  else
    count build-win/win32gui_lab.log
    [ "$lab" -eq 0 ] || rc=1
  fi
  return "$rc"
}


started=$SECONDS
for part in "${wanted[@]}"; do
  t0=$SECONDS
  failed_before=$failed_total
  if ! "part_$part"; then
    failed=1
    echo "== part '$part' FAILED"
    # A part that fails without a failed test in its log (a build error, a crash) counts as one.
    [ "$failed_total" -eq "$failed_before" ] && failed_total=$((failed_total + 1))
  fi
  echo "== part '$part' took $((SECONDS - t0)) s"
done

echo
echo "all parts took $((SECONDS - started)) s"
echo "tests: $passed_total passed, $failed_total failed"
exit $failed
