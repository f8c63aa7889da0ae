#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the lab and the demo need, skipping what is
# already there. Runs as root (or through sudo when it is available).
# usage: install_deps.sh [--windows]
#   --windows  also what the Windows build and its tests need: the 64-bit mingw-w64 C++ cross
#              compiler (posix threads) with its headers, and Wine (64-bit) to run the tests
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  iproute2 procps util-linux nftables
  tftpd-hpa tftp-hpa atftp curl
  cups cups-client cups-bsd
  xvfb xauth
  dpkg-dev file librsvg2-bin lintian appstream desktop-file-utils man-db adduser passwd mmdebstrap
)
WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine64
)
case ${1:-} in
  "") ;;
  --windows) PACKAGES+=("${WINDOWS_PACKAGES[@]}") ;;
  *) echo "usage: install_deps.sh [--windows]" >&2; exit 2 ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install_deps: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  SUDO=sudo
fi
echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# tftpd-hpa's own service is not wanted: the tests start in.tftpd themselves.
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
if command -v systemctl >/dev/null && systemctl is-active --quiet tftpd-hpa 2>/dev/null; then
  $SUDO systemctl stop tftpd-hpa || true
fi
