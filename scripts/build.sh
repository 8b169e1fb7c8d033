#!/usr/bin/env bash
# Configures and builds Halvane in build/ (or the folder given as $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DHALVANE_BUILD_UI=ON "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
