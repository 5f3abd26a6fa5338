#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Cadenzo needs.
# Run as root. Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev
  # libraries
  qt6-base-dev qt6-base-dev-tools libgl-dev portaudio19-dev libasound2-dev libsndfile1-dev
  libtag1-dev libcue-dev libebur128-dev libsoxr-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev python3 hyperfine time
  # headless windows, screenshots, fonts
  xvfb xauth x11-apps imagemagick fonts-dejavu-core fonts-liberation librsvg2-bin
  # capture without a sound card, and independent audio tools
  pulseaudio pulseaudio-utils libasound2-plugins alsa-utils sox libsox-fmt-all
  # the desktop sound server of Debian 12, for the capture tests (never pipewire-alsa)
  pipewire pipewire-pulse wireplumber dbus
  # the Debian package and its checks: dpkg-shlibdeps (dpkg-dev, file), the metadata and
  # desktop entry validators, man for the manual pages
  dpkg-dev file appstream desktop-file-utils man-db
  # freely licensed real music for tests and benchmarks (scripts/real-music.sh)
  singularity-music
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
