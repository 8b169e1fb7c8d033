#!/usr/bin/env bash
# Configures and builds Halvane in build/ (or the folder given as $BUILD_DIR); with
# $TARGETS (names separated by spaces) only those targets and what they need.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DHALVANE_BUILD_UI=ON "$@" >/dev/null
targets=()
for target in ${TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build_dir" -j "$(nproc)" "${targets[@]}"
