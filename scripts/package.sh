#!/usr/bin/env bash
# Builds the Debian packages corvalink_VERSION_ARCH.deb and corvalink-tools_VERSION_ARCH.deb in
# build-deb/ with Debian's build flags (dpkg-buildflags: hardening, optimisation), then prints
# their paths. cpack strips the programs and computes their library dependencies
# (dpkg-shlibdeps).
#
# Usage: scripts/package.sh [BUILD_DIR]      (default build-deb)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-deb}
JOBS=${JOBS:-2}
for tool in dpkg-buildflags dpkg-shlibdeps rsvg-convert gzip; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (scripts/install_deps.sh installs it)" >&2; exit 1; }
done
LAUNCHER=()
command -v ccache >/dev/null 2>&1 && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# The C preprocessor flags (_FORTIFY_SOURCE) go with the compiler's, as CMake reads no CPPFLAGS.
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
mkdir -p "$BUILD"
# Build type None: the flags are Debian's alone. The install step does not build the tests.
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=None -DCORVALINK_BENCH=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_STRIP="$PWD/packaging/strip.sh" "${LAUNCHER[@]}" >"$BUILD/configure.log" 2>&1 \
  || { cat "$BUILD/configure.log"; exit 1; }
ninja -C "$BUILD" -j"$JOBS" deb_contents
rm -f "$BUILD"/*.deb
(cd "$BUILD" && cpack -G DEB >cpack.log 2>&1) || { cat "$BUILD/cpack.log"; exit 1; }
ls "$PWD/$BUILD"/*.deb
