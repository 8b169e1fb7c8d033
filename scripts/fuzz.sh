#!/usr/bin/env bash
# Builds the MIDI file reader's fuzz target with clang in build-fuzz/ (or
# $BUILD_DIR) and runs it for $FUZZ_SECONDS seconds (60 unless given), starting
# from one seed file of each form the reader knows. Any crash, sanitizer report or
# broken promise of the reader fails the run; the input that caused it is left in
# the build folder as crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
CC=clang CXX=clang++ BUILD_DIR="$build_dir" TARGETS="smf_reader_fuzz smf_seed_corpus" \
  bash scripts/build.sh -DHALVANE_FUZZ=ON -DHALVANE_BUILD_UI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
corpus="$build_dir/fuzz-corpus"
mkdir -p "$corpus"
"$build_dir/bin/smf_seed_corpus" "$corpus"
cd "$build_dir"
./bin/smf_reader_fuzz -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 fuzz-corpus
