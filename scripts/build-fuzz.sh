#!/usr/bin/env bash
# Builds the libFuzzer programs only, with Clang, everything instrumented
# for coverage and under ASan + UBSan, into build-fuzz/ (or the folder
# given), with any further CMake options. Their short runs are the ctests
# labelled "libfuzzer"; a longer run of one:
#   build-fuzz/tests/reg_data_fuzzer -max_total_time=300 tests/fuzz/corpus/reg_data
# (a corpus folder given first gets the inputs the fuzzer finds: copy it to a
# scratch folder first to keep the checked-in seeds as they are).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
shift || true
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DSANITIZE=ON -DFUZZING=ON -DBUILD_BENCHMARKS=OFF \
  "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzzers
