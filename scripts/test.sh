#!/usr/bin/env bash
# Runs the tests.
#   scripts/test.sh           every test, as CI runs it: installs what is
#                             missing, builds the plain and the sanitizer
#                             (ASan + UBSan) builds and runs the whole suite
#                             in each; then builds the fuzz targets with
#                             Clang's libFuzzer and runs each briefly; and
#                             checks every C and C++ file's format.
#   scripts/test.sh --quick   the quick tier while working: builds only the
#                             plain build (build/) and runs the tests labelled
#                             "quick" (ctest -L quick), in a minute or two.
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
  "") ;;
  --quick)
    scripts/build.sh build
    exec ctest --test-dir build -L quick --output-on-failure --timeout 300 -j 2 ;;
  -h|--help)
    sed -n '2,11s/^# \{0,1\}//p' "$0"
    exit 0 ;;
  *)
    echo "usage: scripts/test.sh [--quick]" >&2
    exit 2 ;;
esac

scripts/deps.sh
status=0
echo "== format (.clang-format)"
scripts/check-format.sh || status=1
scripts/build.sh build
scripts/build.sh build-asan -DSANITIZE=ON -DBUILD_BENCHMARKS=OFF
scripts/build-fuzz.sh build-fuzz

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for dir in build build-asan; do
  echo "== ctest in $dir"
  ctest --test-dir "$dir" --output-on-failure --timeout 600 -j 2 || status=1
done
echo "== ctest in build-fuzz (libFuzzer, a few seconds per target)"
ctest --test-dir build-fuzz -L libfuzzer --output-on-failure --timeout 120 -j 2 || status=1
exit $status
