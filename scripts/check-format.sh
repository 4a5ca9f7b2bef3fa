#!/usr/bin/env bash
# Checks every tracked C and C++ file against .clang-format, changing none.
# Lists the files that differ and exits 1 if there are any; exits 2 when
# clang-format is missing. To format a file: clang-format -i FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" >/dev/null; then
  echo "check-format: $format not found (apt-get install clang-format)" >&2
  exit 2
fi
bad=()
while IFS= read -r -d '' file; do
  if ! "$format" --style=file --dry-run -Werror "$file" >/dev/null 2>&1; then
    bad+=("$file")
  fi
done < <(git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if ((${#bad[@]})); then
  echo "check-format: ${#bad[@]} file(s) differ from .clang-format:" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: every file matches .clang-format"
