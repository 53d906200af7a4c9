#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages: only what is missing,
# through sudo when not run as root. Safe to run again; with nothing missing it changes nothing.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
  build-essential cmake ninja-build pkg-config
  libboost-dev libboost-system-dev libcli11-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev clang-format
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 fonts-wine xvfb xdotool imagemagick xauth python3
  dpkg-dev ansible-core
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  as_root=()
  [ "$(id -u)" = 0 ] || as_root=(sudo --preserve-env=DEBIAN_FRONTEND)
  "${as_root[@]}" apt-get update
  "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
