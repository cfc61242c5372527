#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over the library, the session layer and the tool,
# with the compile commands of the clang build. Usage: scripts/tidy.sh   (builds preset clang)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh ci
cmake --preset clang >/dev/null
# Generated headers must exist before clang-tidy reads the sources that include them.
cmake --build --preset clang --target quorin_csv quorin_session quorin-csv >/dev/null
files=$(git ls-files -- 'csv/src/*.cpp' 'session/src/*.cpp' 'tools/*.cpp')
echo "$files" | xargs -P "$(nproc)" -n 4 clang-tidy-14 --quiet -p build/clang
echo "clang-tidy: no findings"
