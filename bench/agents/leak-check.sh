#!/bin/sh
# Runs getnext_leak (100,000 GETNEXTs through the agents' entry points)
# under valgrind and prints the verdict. Exit 0 when nothing was definitely
# or indirectly lost, 1 when something was, 2 when the check cannot run.
#
#   bench/agents/leak-check.sh [BUILD_DIR]     (default: the tree's build/)
set -u

usage() {
    echo "usage: $0 [BUILD_DIR]"
    echo "Runs BUILD_DIR/bench/getnext_leak under valgrind (a plain build, not a"
    echo "sanitizer one) and says whether the agents leak. Default BUILD_DIR:"
    echo "the build folder at the top of the source tree."
}

case "${1:-}" in
    -h|--help) usage; exit 0 ;;
    -*) echo "leak-check: unknown option $1" >&2; usage >&2; exit 2 ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
program=$build/bench/getnext_leak

if [ ! -x "$program" ]; then
    echo "leak-check: $program is not built (make -C $build getnext_leak)" >&2
    exit 2
fi
if grep -q '^SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    echo "leak-check: $build is a sanitizer build; valgrind needs a plain one" >&2
    exit 2
fi
if ! command -v valgrind >/dev/null 2>&1; then
    echo "leak-check: valgrind is not installed" >&2
    exit 2
fi

log=$(mktemp "${TMPDIR:-/tmp}/leak-check.XXXXXX") || exit 2
trap 'rm -f "$log"' EXIT INT TERM

valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=1 \
    --log-file="$log" "$program" "$build/bin"
status=$?

# "definitely lost: 0 bytes in 0 blocks"; valgrind prints no such line when
# every block was freed.
lost() {
    sed -n "s/.*$1 lost: \([0-9,]*\) bytes.*/\1/p" "$log" | tr -d , | tail -n 1
}
definite=$(lost definitely)
indirect=$(lost indirectly)
definite=${definite:-0}
indirect=${indirect:-0}
summary=$(sed -n 's/^==[0-9]*== ERROR SUMMARY: //p' "$log" | tail -n 1)

echo "valgrind: definitely lost $definite bytes, indirectly lost $indirect bytes; errors: $summary"
if [ "$status" -eq 0 ] && [ "$definite" -eq 0 ] && [ "$indirect" -eq 0 ]; then
    echo "leak check passed: no leak in 100,000 GETNEXTs"
    exit 0
fi
echo "leak check FAILED (exit status $status); valgrind's report:"
cat "$log"
exit 1
