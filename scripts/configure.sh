#!/usr/bin/env bash
# Configures the main Linux build (the windows, the command line, the simulator, the CUPS
# backend, the tests and the benchmarks) in BUILD_DIR with Debian's build flags
# (dpkg-buildflags, all hardening on), so that the tests, the demo and the packages use one set
# of objects: scripts/package.sh packs the folder the tests ran from without building it again.
#
# Installing (cmake --install, cpack) builds nothing: build first (ninja -C BUILD_DIR).
#
# Usage: scripts/configure.sh [BUILD_DIR] [CMAKE_ARGS...]     (default build; log in BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
shift || true
command -v dpkg-buildflags >/dev/null ||
  { echo "configure.sh: dpkg-buildflags is missing (scripts/install_deps.sh installs it)" >&2; exit 1; }
LAUNCHER=()
command -v ccache >/dev/null 2>&1 && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# The C preprocessor flags (_FORTIFY_SOURCE) go with the compiler's, as CMake reads no CPPFLAGS.
# Given on the command line, not through the environment, so that a folder configured before
# takes them too. Build type None: the flags are Debian's alone (-g -O2, assertions kept).
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
mkdir -p "$BUILD"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
  -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" \
  -DCMAKE_STRIP="$PWD/packaging/strip.sh" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${LAUNCHER[@]}" "$@" >"$BUILD/configure.log" 2>&1 \
  || { cat "$BUILD/configure.log" >&2; exit 1; }
