#!/usr/bin/env bash
# A short run of the parser's differential fuzz target from the seed corpus.
# Usage: scripts/fuzz.sh [SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/ensure-deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_parser_differential
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
cp fuzz/corpus/* "$run/"
# Crashes are written to the working folder, where a failing run leaves them to be looked at.
build/fuzz/fuzz/fuzz_parser_differential -max_len=4096 -max_total_time="$seconds" \
  -print_final_stats=1 "$run" 2>&1 | tail -n 12
