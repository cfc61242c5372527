#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [dev|asan|clang] [ctest options...]
# (default: dev). With dev the kiosk's acceptance suite and the torture suite run too, and, as
# root on Debian, the Debian package's test (label deploy: it installs and purges the package).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
shift || true
case "$preset" in
  clang) scripts/ensure-deps.sh ci ;;
  *) scripts/ensure-deps.sh ;;
esac
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
# The kiosk's unit tests need no display; the sanitizer run allows for its slower start-up.
export QT_QPA_PLATFORM=offscreen
deploy=()
[[ $(id -u) -eq 0 && -f /etc/debian_version ]] || deploy=(-LE deploy)
ctest --preset "$preset" -j"$(nproc)" "${deploy[@]}" "$@"
