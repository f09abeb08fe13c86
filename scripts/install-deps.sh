#!/usr/bin/env bash
# Installs every Debian package the build, the programs and the tests need (run as root).
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev
  libfltk1.3-dev fonts-liberation2 xvfb xauth xdotool
  libffms2-dev libavformat-dev libavcodec-dev libavutil-dev
  ffmpeg mjpegtools mpeg2dec dvdauthor lsdvd
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
