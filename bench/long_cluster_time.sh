#!/usr/bin/env bash
# Time of `quorin-csv count` on one character cluster of millions of code points (a delimiter,
# a quote, a backslash or a Prepend character followed by combining marks, or a run of Prepend
# characters), at two lengths. The cluster outlasts many reads; its end is searched once, not
# again from its start after every read, so the time must grow with the length, not its square.
# Prints one line per kind and exits 1 when the longer input takes more than RATIO (default 3)
# times as long per code point as the shorter one.
#
#   bench/long_cluster_time.sh [SHORT] [LONG]     (code points; defaults 1000000 8000000)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOL=$ROOT/build/release/tools/quorin-csv
SHORT=${1:-1000000}
LONG=${2:-8000000}
RATIO=${RATIO:-3}
cd "$ROOT"
cmake --preset release >/dev/null
cmake --build --preset release --target quorin-csv -j2 >/dev/null
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT

# Seconds to count a file of `before`, `count` times `repeated`, then `after`.
seconds() {
  python3 - "$data/in.csv" "$1" "$2" "$3" "$4" <<'PY'
import sys
path, before, repeated, count, after = sys.argv[1:]
with open(path, "w", encoding="utf-8") as f:
    f.write(before + repeated * int(count) + after)
PY
  local start end
  start=$(date +%s.%N)
  "$TOOL" count --encoding utf-8 "$data/in.csv" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

status=0
mark=$'\u0301' prepend=$'\u0600'
for kind in delimiter quote backslash prepend; do
  case $kind in
    delimiter) before='a,' repeated=$mark after='b' ;;
    quote) before='"' repeated=$mark after='"' ;;
    backslash) before='\' repeated=$mark after='' ;;
    prepend) before='' repeated=$prepend after='a' ;;
  esac
  short=$(seconds "$before" "$repeated" "$SHORT" "$after")
  long=$(seconds "$before" "$repeated" "$LONG" "$after")
  verdict=ok
  if (($(echo "$long * $SHORT > $RATIO * $short * $LONG + 0.05 * $SHORT" | bc -l))); then
    verdict=SUPERLINEAR status=1
  fi
  printf '%-9s %9d: %6.3f s   %9d: %6.3f s   %s\n' "$kind" "$SHORT" "$short" "$LONG" "$long" \
    "$verdict"
done
exit $status
