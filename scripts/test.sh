#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test —
# unit and window tests (ctest), the core again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the integration tests inside the network lab.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}

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

echo "== build (Release, with windows and benchmarks)"
mkdir -p build build-asan
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >build/configure.log 2>&1 \
  || { cat build/configure.log; exit 1; }
ninja -C build -j"$JOBS" || exit 1

echo "== unit and window tests"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$JOBS" 2>&1 | tee build/ctest.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
count build/ctest.log

echo "== core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVALINK_SANITIZE=ON \
  -DCORVALINK_GUI=OFF -DCORVALINK_BENCH=OFF >build-asan/configure.log 2>&1 \
  || { cat build-asan/configure.log; exit 1; }
ninja -C build-asan -j"$JOBS" unit_tests || exit 1
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ./build-asan/unit_tests --gtest_brief=1 2>&1 | tee build-asan/unit.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
count build-asan/unit.log

echo "== integration tests in the network lab"
if [ -x build/lab_tests ]; then
  bash scripts/lab.sh run -- env QT_QPA_PLATFORM=offscreen build/lab_tests --gtest_brief=1 2>&1 \
    | tee build/lab.log
  rc=${PIPESTATUS[0]}
  if [ "$rc" -eq 77 ]; then
    echo "lab: SKIPPED (network namespaces cannot be made here: needs root and iproute2)"
  elif [ "$rc" -ne 0 ]; then
    failed=1
  fi
  count build/lab.log
fi

echo
echo "tests: $passed_total passed, $failed_total failed"
exit $failed
