#!/bin/sh
# The manuals stay true: each renders with man -l without warnings, and the options its
# OPTIONS section describes are exactly those the program's --help lists.
# usage: man_pages_test.sh MAN_DIR CORVALINK CORVALINK_CLI ROUTER_SIM
mandir=$1 gui=$2 cli=$3 sim=$4
failed=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Options named in help text: -x and --long-name words.
help_options() {
  grep -oE '(^|[][ ,|])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[][ ,|]//' | sort -u
}
# Options that head the entries of a manual's OPTIONS section (first one or two words).
man_options() {
  MANWIDTH=100 man -l "$1" 2>/dev/null | col -b | sed -n '/^OPTIONS/,/^[A-Z]/p' |
    awk '/^       -/ { print $1; if ($1 ~ /,$/) print $2 }' | tr -d ',' | sort -u
}

for page in corvalink.1 corvalink-cli.1 router_sim.1 corvalink.7; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$mandir/$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then echo "FAIL: $page renders with warnings: $warnings"; failed=1; fi
done

env -u DISPLAY -u WAYLAND_DISPLAY "$gui" --help >"$tmp/gui.help" 2>&1
{ "$cli" --help; for c in search install upgrade interfaces help; do "$cli" "$c" --help; done; } \
  >"$tmp/cli.help" 2>&1
"$sim" --help >"$tmp/sim.help" 2>&1
for pair in "corvalink.1 gui" "corvalink-cli.1 cli" "router_sim.1 sim"; do
  page=${pair% *} prog=${pair#* }
  help_options <"$tmp/$prog.help" >"$tmp/$prog.want"
  man_options "$mandir/$page" >"$tmp/$prog.have"
  if ! cmp -s "$tmp/$prog.want" "$tmp/$prog.have"; then
    echo "FAIL: $page and --help disagree (< only in --help, > only in the manual):"
    diff "$tmp/$prog.want" "$tmp/$prog.have" | grep '^[<>]'
    failed=1
  fi
done
[ $failed = 0 ] && echo "man pages: all passed"
exit $failed
