#!/usr/bin/env bash
# Installs every Debian package Halvane needs to build, run and test.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config g++ clang clang-format
  googletest libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libfluidsynth-dev fluidsynth libmp3lame-dev lame libebur128-dev libflac-dev
  fluid-soundfont-gm timgm6mb-soundfont
  xvfb xauth fonts-dejavu-core
  mpg123 libclang-rt-14-dev
  pulseaudio pulseaudio-utils python3
  dpkg-dev file debootstrap lintian desktop-file-utils
  slurm-wlm munge parallel
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # On a fresh machine this takes minutes: say what comes, and show the progress.
  echo "Installing ${#missing[@]} Debian package(s): ${missing[*]}"
  if ! apt-get install -y --no-install-recommends "${missing[@]}"; then
    echo "Refreshing the package lists, then installing again"
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
  fi
  echo "Packages installed."
fi
