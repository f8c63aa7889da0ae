#!/usr/bin/env bash
# The Debian 12 root the package test installs into, made once by mmdebstrap and kept as a
# tarball: a minimal system (--variant=apt) with what the packages depend on, cupsd and its
# client tools, man-db and the user tools. Nothing of it touches this machine's own packages,
# users or groups. Prints the tarball's path on standard output.
#
# Usage: tests/package/test_root.sh DEB...
#   The packages' Depends decide what the root holds beforehand, so that installing them later
#   needs no network. The tarball is named after a hash of that list and of the apt sources, and
#   made again only when they change. It is kept in $CORVALINK_TEST_ROOT_CACHE
#   (/var/cache/corvalink-test-root); older tarballs there are removed.
# Exits 77 (skipped) without root or mmdebstrap, 1 when mmdebstrap fails.
set -euo pipefail

readonly SKIP=77
readonly SUITE=bookworm
readonly CACHE=${CORVALINK_TEST_ROOT_CACHE:-/var/cache/corvalink-test-root}
# What the test itself runs inside the root, besides the packages' dependencies.
readonly TEST_PACKAGES="cups cups-client man-db passwd adduser"

[ $# -ge 1 ] || { echo "usage: test_root.sh DEB..." >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "test root: SKIPPED: making a Debian root needs root" >&2; exit "$SKIP"; }
command -v mmdebstrap >/dev/null ||
  { echo "test root: SKIPPED: mmdebstrap is not installed (apt-get install mmdebstrap)" >&2; exit "$SKIP"; }

# The package names of a Depends field: every alternative's first, without versions.
depends() {
  dpkg-deb -f "$1" Depends 2>/dev/null | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/:any//; s/[[:space:]]//g' |
    grep -v '^$' || true
}
own=" "
for deb in "$@"; do own="$own$(dpkg-deb -f "$deb" Package) "; done
packages=$(
  for deb in "$@"; do depends "$deb"; done | while read -r p; do
    case $own in *" $p "*) ;; *) echo "$p" ;; esac
  done
  printf '%s\n' $TEST_PACKAGES
)
packages=$(printf '%s\n' "$packages" | LC_ALL=C sort -u | tr '\n' ',' | sed 's/,$//')

# This machine's apt sources, so that the root comes from the mirror it already uses.
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -s "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || { echo "test root: this machine has no apt sources" >&2; exit 1; }

key=$( { echo "$SUITE $packages"; cat "${sources[@]}"; } | sha256sum | cut -c1-16)
tarball=$CACHE/debian12-$key.tar
if [ -s "$tarball" ]; then
  echo "test root: cached $tarball" >&2
  echo "$tarball"
  exit 0
fi

mkdir -p "$CACHE"
chmod 700 "$CACHE"
# A run that was killed left its part-made tarball under another name; an hour on it is stale.
find "$CACHE" -maxdepth 1 -name 'debian12-*.tar.partial.*' -mmin +60 -delete
started=$(date +%s)
echo "test root: making $tarball with mmdebstrap ($packages)" >&2
partial=$tarball.partial.$$
trap 'rm -f "$partial"' EXIT
if ! mmdebstrap --quiet --variant=apt --include="$packages" --format=tar \
     "$SUITE" "$partial" "${sources[@]}" >&2; then
  echo "test root: mmdebstrap failed" >&2
  exit 1
fi
find "$CACHE" -maxdepth 1 -name 'debian12-*.tar' ! -name "$(basename "$tarball")" -delete
mv -f "$partial" "$tarball"
echo "test root: made in $(($(date +%s) - started)) s, $(($(stat -c %s "$tarball") / 1048576)) MiB" >&2
echo "$tarball"
