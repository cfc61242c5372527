#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [dev|asan]   (default: dev)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
scripts/ensure-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
# The kiosk's tests need no display; the sanitizer run allows for its slower start-up.
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" -j"$(nproc)"
