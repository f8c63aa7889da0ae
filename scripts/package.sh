#!/usr/bin/env bash
# Builds the Debian packages corvalink_VERSION_ARCH.deb and corvalink-tools_VERSION_ARCH.deb in
# BUILD_DIR, configured by scripts/configure.sh with Debian's build flags (hardening,
# optimisation), and prints their paths on standard output (the build's own lines go to
# standard error). cpack strips the programs and computes their library dependencies
# (dpkg-shlibdeps). Given the folder the tests ran from, it builds nothing again.
#
# Usage: scripts/package.sh [BUILD_DIR]      (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
JOBS=${JOBS:-2}
for tool in dpkg-buildflags dpkg-shlibdeps rsvg-convert gzip file; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (scripts/install_deps.sh installs it)" >&2; exit 1; }
done
bash scripts/configure.sh "$BUILD"
ninja -C "$BUILD" -j"$JOBS" deb_contents >&2
rm -f "$BUILD"/*.deb
(cd "$BUILD" && cpack -G DEB >cpack.log 2>&1) || { cat "$BUILD/cpack.log" >&2; exit 1; }
ls "$PWD/$BUILD"/*.deb
