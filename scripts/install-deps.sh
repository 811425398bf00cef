#!/usr/bin/env bash
# Installs everything Kalnix needs to build and test on Debian 12 (run as root).
# Idempotent: when every package is already present it only checks and returns.
set -euo pipefail

packages=(
  cmake ninja-build make
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev
  wine wine64
  # Wine's own fonts (Tahoma, Marlett for the caption buttons), only recommended by wine: the
  # dialogs' pictures and text widths need them.
  fonts-wine
  xvfb xauth x11-utils xdotool
  nsis
  wixl msitools
  osslsigncode openssl
  python3-jsonschema python3-yaml
  googletest
  imagemagick python3 libxml2-utils
  zlib1g-dev libpng-dev libspng-dev libstb-dev valgrind
  clang libclang-rt-dev
)
# Wine's 32-bit loader runs the x86 suite. It installs on any machine, but a kernel without
# 32-bit support cannot start it: scripts/test.sh then skips that suite.
x86_packages=(wine32:i386)

missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

mapfile -t needed < <(missing "${packages[@]}")
mapfile -t needed_x86 < <(missing "${x86_packages[@]}")
((${#needed[@]} + ${#needed_x86[@]})) || exit 0

export DEBIAN_FRONTEND=noninteractive
if ((${#needed_x86[@]})) && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index now and then: try again, then go on with what was
# fetched (the install below fails plainly if a package is really missing).
for attempt in 1 2 3; do
  apt-get update -qq && break
  echo "install-deps: apt-get update failed (attempt $attempt)" >&2
  sleep 5
done
if ((${#needed[@]})); then
  apt-get install -y -qq --no-install-recommends "${needed[@]}"
fi
if ((${#needed_x86[@]})); then
  apt-get install -y -qq --no-install-recommends "${needed_x86[@]}" ||
    echo "install-deps: ${needed_x86[*]} not installed; the x86 suite will be skipped" >&2
fi
