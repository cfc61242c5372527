#!/usr/bin/env bash
# Line numbers past 4,294,967,295 (the largest a delegate's 32-bit number holds): `quorin-csv
# count` reads LINES lines of "a" and then a malformed line, whose error must name its true
# number rather than one that wrapped round to a small number. One to five minutes of one core.
# Exits 1 when the number is wrong.
#
#   bench/line_numbers_past_32_bits.sh [LINES]     (default 4294967300)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOL=$ROOT/build/release/tools/quorin-csv
LINES=${1:-4294967300}
cd "$ROOT"
cmake --preset release >/dev/null
cmake --build --preset release --target quorin-csv -j2 >/dev/null
expected="line #$((LINES + 1)) "
message=$({ yes a | head -n "$LINES"; printf '"x"y\n'; } |
  "$TOOL" count --encoding utf-8 - 2>&1 >/dev/null || true)
echo "$message"
if [[ $message == *"$expected"* ]]; then echo ok; else echo "WRONG: expected $expected"; exit 1; fi
