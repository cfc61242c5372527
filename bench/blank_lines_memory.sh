#!/usr/bin/env bash
# Peak memory of `quorin-csv count` on long runs of blank lines and of comment lines, each at two
# lengths: a line end after blank lines or comments is kept as a count, not as text, so the peak
# must not grow with the run. Prints one line per input and exits 1 when the longer run of a kind
# takes more than SLACK_KB (default 1024) above the shorter one.
#
#   bench/blank_lines_memory.sh [SHORT_LINES] [LONG_LINES]     (defaults 1000000 30000000)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOL=$ROOT/build/release/tools/quorin-csv
SHORT=${1:-1000000}
LONG=${2:-30000000}
SLACK_KB=${SLACK_KB:-1024}
cd "$ROOT"
cmake --preset release >/dev/null
cmake --build --preset release --target quorin-csv -j2 >/dev/null

# The peak RSS in KB of counting LINES lines of the given text, with a field before and after.
peak() {
  local line=$1 lines=$2 out
  out=$(mktemp)
  { printf 'a,b\n'; yes -- "$line" | head -n "$lines"; printf '"c",d\n'; } |
    /usr/bin/time -o "$out" -f '%M' "$TOOL" count --encoding utf-8 >/dev/null
  cat "$out"
  rm -f "$out"
}

status=0
for kind in blank crlf comment; do
  case $kind in
    blank) line='' ;;
    crlf) line=$'\r' ;;  # with yes's LF: CR LF line ends
    comment) line='# a comment line' ;;
  esac
  short=$(peak "$line" "$SHORT")
  long=$(peak "$line" "$LONG")
  verdict=ok
  if ((long > short + SLACK_KB)); then verdict=GROWS status=1; fi
  printf '%-8s %9d lines: %6d KB   %9d lines: %6d KB   %s\n' "$kind" "$SHORT" "$short" "$LONG" \
    "$long" "$verdict"
done
exit $status
