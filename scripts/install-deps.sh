#!/usr/bin/env bash
# Installs everything Kalnix needs to build and test on Debian 12 (run as root).
# Idempotent: when every package is already present it only checks and returns.
set -euo pipefail

packages=(
  cmake ninja-build make
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  libz-mingw-w64-dev
  wine wine32:i386
  xvfb xauth x11-utils
  nsis
  googletest
  imagemagick python3
  zlib1g-dev libpng-dev libspng-dev libstb-dev valgrind
  clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
