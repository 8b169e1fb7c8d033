#!/usr/bin/env bash
# Times two builds of halvane-bench against each other on the same files, taking
# turns, idle and with one processor kept busy (--busy-core), each run against
# fluidsynth; then checks that every rendering is the same, byte for byte.
#
#   bench/ab_runs.sh OLD_BENCH NEW_BENCH ROUNDS FILE.mid...
#
# One line per run: round, build (old/new), load (idle/busy), and the bench's
# speed, fluidsynth and ratio figures. Outputs go to $AB_OUT (default
# /tmp/halvane-ab), in OLD-idle, OLD-busy, NEW-idle and NEW-busy. $AB_ARGS adds
# options to every run of both builds (AB_ARGS="--format mp3": MP3 against
# fluidsynth | lame, and the MP3s are compared).
set -euo pipefail
if [ $# -lt 4 ]; then
  echo "usage: $0 OLD_BENCH NEW_BENCH ROUNDS FILE.mid..." >&2
  exit 2
fi
old=$1 new=$2 rounds=$3
shift 3
out=${AB_OUT:-/tmp/halvane-ab}
read -r -a extra <<< "${AB_ARGS:-}"
extension=wav
case " ${AB_ARGS:-} " in *" --format mp3 "*) extension=mp3 ;; esac
mkdir -p "$out/xdg"
export XDG_CONFIG_HOME="$out/xdg"

for round in $(seq 1 "$rounds"); do
  for load in idle busy; do
    for side in old new; do
      bench=$old
      [ "$side" = new ] && bench=$new
      flag=()
      [ "$load" = busy ] && flag=(--busy-core)
      # The old build may not know --busy-core: its busy core is a shell loop then.
      loop=""
      if [ "$load" = busy ] && ! "$bench" --help | grep -q -- --busy-core; then
        flag=()
        (while :; do :; done) &
        loop=$!
      fi
      figures=$("$bench" --out "$out/$side-$load" --compare "${extra[@]}" "${flag[@]}" "$@" | grep -E '^(speed|fluidsynth|ratio):' |
        tr '\n' ' ')
      [ -n "$loop" ] && kill "$loop"
      echo "round $round $side $load: $figures"
    done
  done
done

status=0
for file in "$@"; do
  name=$(basename "${file%.*}")
  for other in old-busy new-idle new-busy; do
    if ! cmp -s "$out/old-idle/$name.$extension" "$out/$other/$name.$extension"; then
      echo "DIFFERENT: $name.$extension in old-idle and $other"
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "same bytes: every file, old and new, idle and busy"
exit $status
