#!/usr/bin/env bash
# Starts Halvane under its own Xvfb display on a fresh home folder with two MIDI
# files in its list, and saves a screenshot of the screen.
#   scripts/screenshot.sh [OUTPUT.png] [SCALE]     (SCALE: QT_SCALE_FACTOR, default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshot.png}")
scale=${2:-1}

command -v import >/dev/null || { apt-get install -y --no-install-recommends imagemagick >/dev/null 2>&1 ||
  { apt-get update -qq && apt-get install -y --no-install-recommends imagemagick >/dev/null; }; }
[ -x build/bin/halvane ] || bash scripts/build.sh

# Inside the build folder, not /tmp: the capture component loads only from folders
# that no other user can write.
work=$(mktemp -d "$PWD/build/screenshot.XXXXXX")
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The program in a folder of its own (its log lands there), with a fresh home.
mkdir -p "$work/program" "$work/home" "$work/config" "$work/runtime" "$work/tmp" "$work/midi"
chmod 700 "$work/runtime"
cp build/bin/halvane build/bin/OVDMOFilter.so build/bin/halvane-regsvr "$work/program/"
# Two short songs: one note each.
song() { printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\15\0\220\74\144\203\140\200\74\0\0\377\57\0' > "$1"; }
song "$work/midi/Prelude in C.mid"
song "$work/midi/A rather long name for a song, to see how the list shows it.mid"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 "$((1280 * ${scale%.*}))x$((800 * ${scale%.*}))x24" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1

HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" TMPDIR="$work/tmp" \
  DISPLAY="$display" QT_SCALE_FACTOR="$scale" HALVANE_AUDIO_DRIVER=none \
  "$work/program/halvane" "$work/midi/Prelude in C.mid" \
  "$work/midi/A rather long name for a song, to see how the list shows it.mid" >/dev/null 2>&1 &
app=$!

for _ in $(seq 100); do
  grep -q "file: A rather long" "$work/program/log.txt" 2>/dev/null && break
  sleep 0.2
done
sleep 1
DISPLAY="$display" import -window root "$out"
echo "$out"
