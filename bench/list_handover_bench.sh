#!/usr/bin/env bash
# Times how long the running window takes to list many files handed to it: by a
# second start naming every file, and by a second start naming their folder.
#   bench/list_handover_bench.sh [BUILD_DIR] [COUNT]     (defaults: build, 100000)
# Runs the window without a screen (QT_QPA_PLATFORM=offscreen) in a scratch folder
# with its own per-user folders; prints the times.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
count=${2:-100000}
scratch=$(mktemp -d)
first=""
cleanup() {
  if [[ -n "$first" ]]; then kill "$first" 2>/dev/null || true; wait "$first" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch"/{program,songs,runtime,state,config,home}
chmod 700 "$scratch/runtime"
cp "$build/bin/halvane" "$build/bin/OVDMOFilter.so" "$build/bin/halvane-regsvr" "$scratch/program/"
export XDG_RUNTIME_DIR="$scratch/runtime" XDG_STATE_HOME="$scratch/state" XDG_CONFIG_HOME="$scratch/config"
export HOME="$scratch/home" QT_QPA_PLATFORM=offscreen HALVANE_AUDIO_DRIVER=none
# Names about as long as a music collection's (some 39 bytes of path each here).
(cd "$scratch/songs" && seq -f "song-%06g.mid" 1 "$count" | xargs touch)
last=$(printf "song-%06d.mid" "$count")
log="$scratch/program/log.txt"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f s", b - a }'; }

start_window() {
  rm -f "$log"
  "$scratch/program/halvane" >/dev/null 2>&1 &
  first=$!
  for _ in $(seq 200); do
    [[ -S "$(ls "$scratch"/runtime/*.sock 2>/dev/null | head -1)" ]] && grep -q "FindFilter" "$log" 2>/dev/null && return
    sleep 0.1
  done
  echo "the window did not start" >&2
  exit 1
}

# Waits until the window's log lists the last file; prints the time taken since $1.
wait_listed() {
  local since=$1
  until tail -c 200 "$log" | grep -q "file: $last"; do sleep 0.05; done
  elapsed "$since" "$(now)"
}

stop_window() {
  kill "$first"
  wait "$first" || true
  first=""
}

start_window
files=("$scratch"/songs/*.mid)
bytes=$(printf "%s\n" "${files[@]}" | wc -c)
t0=$(now)
# The paths need more room than the default limit for a command line gives.
(ulimit -s 65536; "$scratch/program/halvane" -- "${files[@]}")
handed=$(elapsed "$t0" "$(now)")
listed=$(wait_listed "$t0")
echo "$count files named one by one ($bytes bytes of paths): handed over in $handed, listed in $listed"
stop_window

start_window
t0=$(now)
"$scratch/program/halvane" -- "$scratch/songs"
# A second later one more file comes: how long the busy window takes to list it
# tells how long it goes without serving (and painting).
sleep 1
mkdir -p "$scratch/late"
touch "$scratch/late/late.mid"
t1=$(now)
"$scratch/program/halvane" -- "$scratch/late/late.mid"
until grep -q "file: late.mid" "$log"; do sleep 0.02; done
late=$(elapsed "$t1" "$(now)")
listed=$(wait_listed "$t0")
echo "a folder of $count files: listed in $listed; a file handed over meanwhile listed in $late"
stop_window
