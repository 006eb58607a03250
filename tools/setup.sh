#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only when something is missing.
# Further package names given as arguments are installed the same way.
set -euo pipefail
packages=(build-essential cmake qt6-base-dev qt6-serialport-dev qt6-image-formats-plugins libgl-dev libpng-dev
          qt6-translations-l10n xvfb xauth x11-utils xdotool imagemagick fonts-droid-fallback fonts-misaki fonts-unifont "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
