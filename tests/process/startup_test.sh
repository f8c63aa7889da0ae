#!/bin/sh
# corvalink without a display and with bad options: exit code and the single line on stderr.
# usage: startup_test.sh PATH/TO/corvalink
bin=$1
failed=0
check() {  # expected-code stderr-pattern args...
  code=$1 pattern=$2
  shift 2
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin" "$@" >/dev/null 2>"$err" </dev/null
  rc=$?
  if [ -z "$pattern" ]; then matched=$([ -s "$err" ] && echo no || echo yes)
  else matched=$(head -n 1 "$err" | grep -q -- "$pattern" && echo yes || echo no); fi
  if [ "$rc" != "$code" ] || [ "$matched" != yes ]; then
    echo "FAIL: corvalink $*: exit $rc (want $code), stderr: $(cat "$err")"
    failed=1
  fi
}
err=$(mktemp)
check 4 'needs a display.*corvalink-cli works without' 
[ "$(wc -l <"$err")" = 1 ] || { echo "FAIL: more than one line without a display"; failed=1; }
# A display variable that names no reachable display (a stale ssh DISPLAY; a Wayland socket
# without Qt's Wayland platform): one line, exit 4, never Qt's abort.
for display in "DISPLAY=:65517" "WAYLAND_DISPLAY=corvalink-none-$$"; do
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR=/nonexistent "$display" \
    "$bin" >/dev/null 2>"$err" </dev/null
  rc=$?
  if [ "$rc" != 4 ] || [ "$(wc -l <"$err")" != 1 ] || ! grep -q 'cannot open a display' "$err"; then
    echo "FAIL: corvalink with $display: exit $rc (want 4), stderr: $(cat "$err")"
    failed=1
  fi
done
check 64 'unknown option "--bogus"' --bogus
[ "$(wc -l <"$err")" = 1 ] || { echo "FAIL: usage message is not one line"; failed=1; }
check 64 'unknown dialog' --dev-dialog nope
check 64 'needs --router-ip' --dev-dialog upgrade
check 64 'which dialog' --dev-dialog
check 0 '' --version
rm -f "$err"
[ $failed = 0 ] && echo "startup: all passed"
exit $failed
