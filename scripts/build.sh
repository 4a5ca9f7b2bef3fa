#!/usr/bin/env bash
# Builds into build/ (or the folder given), with any further CMake options.
#   scripts/build.sh                      # build/
#   scripts/build.sh build-asan -DSANITIZE=ON
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
