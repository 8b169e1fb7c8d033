#!/usr/bin/env bash
# Fails, naming the files, when a tracked C++ file is not as clang-format (with the
# checked-in .clang-format) would write it. `scripts/check_format.sh --fix`
# rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format)
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
"$format" --dry-run -Werror "${files[@]}"
