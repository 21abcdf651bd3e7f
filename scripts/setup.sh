#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every package Halvex needs to build and test, from Debian's archive.
# Idempotent: prints nothing and changes nothing when all is already there.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev zlib1g-dev libdeflate-dev qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev
  libssl-dev zip unzip p7zip-full libarchive-tools python3
  libisoburn-dev xorriso rclone
  xvfb xauth fonts-dejavu-core
  desktop-file-utils man-db dpkg-dev lintian appstream
  dbus
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}" >&2
log=$(mktemp)
if ! { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
       "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2; rm -f "$log"; exit 1
fi
rm -f "$log"
