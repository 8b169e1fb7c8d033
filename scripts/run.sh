#!/usr/bin/env bash
# Installs what is missing and builds; then starts Halvane's window where there is a
# display, and otherwise converts the bundled demo songs with halvane-convert.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/halvane
fi
echo "No display here: converting the demo songs from a terminal instead."
rm -rf build/demo-wav
python3 tools/make_demo_songs.py build/demo-songs >/dev/null
build/bin/halvane-convert --out build/demo-wav build/demo-songs
echo "The converted demo songs are in $(pwd)/build/demo-wav"
