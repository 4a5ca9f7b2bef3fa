#!/usr/bin/env bash
# The manual pages against the programs' --help: each page renders without
# a groff warning, holds every option and every word of the usage lines that
# --help shows, and names no long option the program does not take.
#   man_pages_test.sh BIN_DIR MAN_DIR
set -u
bin=$1
man=$2
if ! command -v groff >/dev/null; then
  echo "SKIP: groff is not installed (apt-get install groff-base)"
  exit 77
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Options in help text: -x and --long after a blank, bracket, bar or comma;
# reg's /x switches likewise.
options_of() {
  grep -oE '(^|[][ |(,])--?[A-Za-z][A-Za-z0-9-]*' | sed -E 's/^[][ |(,]//'
  true
}
switches_of() {
  grep -oE '(^|[][ |(])/[a-z]{1,2}([] |)]|$)' | sed -E 's/^[][ |(]//; s/[] |)]$//'
  true
}
# The words of the "Usage:" lines and their continuation lines: commands,
# verbs and placeholders, not options.
usage_words_of() {
  awk '/^Usage:/ { on = 1 } /^[[:space:]]*$/ { on = 0 } on' |
    sed -E 's/^Usage://' |
    grep -oE '(^|[ [|])[A-Za-z][A-Za-z0-9_]*' | sed -E 's/^[ [|]//'
  true
}

# check PAGE "PROGRAM [VERB...]"...: each command line is run with --help.
check() {
  local page=$1
  shift
  local source=$man/$page
  if [ ! -f "$source" ]; then
    fail "$page: no page at $source"
    return
  fi
  local warnings
  warnings=$(groff -ww -z -man "$source" 2>&1)
  [ -z "$warnings" ] || fail "$page: groff warns: $warnings"
  local text
  text=$(groff -man -Tascii -rHY=0 -rLL=200n -P-cbou "$source" 2>/dev/null)

  [ $# -gt 0 ] || return 0
  local help=""
  local command
  for command in "$@"; do
    local out
    # shellcheck disable=SC2086
    if ! out=$("$bin"/$command --help 2>&1); then
      fail "$page: '$command --help' failed: $out"
    fi
    help+=$out$'\n'
  done

  local item
  while read -r item; do
    [ -n "$item" ] || continue
    grep -qE -- "(^|[^A-Za-z0-9-])${item}([^A-Za-z0-9-]|$)" <<<"$text" ||
      fail "$page: does not list the option $item that --help shows"
  done < <({ options_of <<<"$help"; switches_of <<<"$help"; } | sort -u)

  while read -r item; do
    [ -n "$item" ] || continue
    grep -qw -- "$item" <<<"$text" ||
      fail "$page: does not name '$item' of the usage lines"
  done < <(usage_words_of <<<"$help" | sort -u)

  local known
  known=$({ options_of <<<"$help"; printf -- "-h\n--help\n"; } | sort -u)
  while read -r item; do
    [ -n "$item" ] || continue
    grep -qxF -- "$item" <<<"$known" ||
      fail "$page: names the option $item that --help does not show"
  done < <(grep -oE -- '(^|[^A-Za-z0-9-])--[a-z][a-z0-9-]*' <<<"$text" |
             sed -E 's/^[^-]//' | sort -u)
}

check snmpsvc.8 snmpsvc
check NET.8 NET
check mibsetup.8 mibsetup
check ntroot.8 ntroot "ntroot init" "ntroot reg" "ntroot reg query" "ntroot reg add" \
  "ntroot reg delete" "ntroot device" "ntroot device list" "ntroot device link" \
  "ntroot device sim" "ntroot device remove"
check snmpsvc.conf.5
check agentwalk.1 agentwalk

if [ "$failures" -gt 0 ]; then
  echo "$failures problem(s) between the manual pages and --help"
  exit 1
fi
echo "The manual pages match every program's --help."
