#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
pkgs=(cmake g++ make libgtest-dev libgmock-dev qt6-base-dev qt6-base-dev-tools
      libgl-dev xvfb xauth xdotool gpsbabel libxml2-utils clang clang-format libclang-rt-14-dev time
      # The Windows build: the MinGW-w64 cross compiler (posix threads), Wine
      # to run its tests, and GoogleTest's sources to build for it.
      mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest
      # The Windows window's smoke test and picture: typed into and captured
      # on Xvfb, with Wine's own fonts for the frame and the dialogs.
      xdotool imagemagick fonts-wine
      # A window manager on Xvfb, to see the Qt window framed as a desktop frames it.
      openbox
      # The packages: the manual page, the Debian package check, man to find
      # the installed page, and the Windows installer.
      scdoc lintian man-db nsis
      # A case-blind folder for the tests on Linux: an exFAT volume in a file.
      exfatprogs exfat-fuse
      # The desktop entry's check.
      desktop-file-utils
      # KMZ inputs are inflated by zlib, on Linux and in the Windows build.
      zlib1g-dev libz-mingw-w64-dev
      # JSON for GeoJSON inputs, header-only (the Windows build uses the same headers).
      nlohmann-json3-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
