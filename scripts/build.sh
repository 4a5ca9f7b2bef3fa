#!/usr/bin/env bash
# Builds into build/ (or the folder given), with any further CMake options.
#   scripts/build.sh                      # build/
#   scripts/build.sh build-asan -DSANITIZE=ON
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
launcher=()
if command -v ccache >/dev/null; then
  # Rebuilds of unchanged sources, in this folder or in another checkout at
  # the same depth, come from the cache.
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
