#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (or those named
# as arguments), and nothing when all are there.
set -eu
packages=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev
  python3 python3-aiosmtpd
  fonts-wqy-microhei
  xvfb xdotool
  desktop-file-utils
  dpkg-dev file
  clang libfuzzer-14-dev
)
# Another build names its own packages: make windows.
[ $# -eq 0 ] || packages=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
