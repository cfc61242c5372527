#!/usr/bin/env bash
# The acceptance suite: the real kiosk on a virtual screen (Xvfb, 768 x 1024, no window manager),
# driven with real pointer events at controls found over the accessibility bus, in real time.
# Usage: scripts/acceptance.sh [--no-build] [dev|release] [SCENARIO ...]
# QUORIN_BIN runs another kiosk binary; QUORIN_SESSIONS sets the length of many_sessions.
set -euo pipefail
cd "$(dirname "$0")/.."
build=1
[[ ${1:-} == --no-build ]] && { build=0; shift; }
preset=dev
[[ ${1:-} == dev || ${1:-} == release ]] && { preset=$1; shift; }
if ((build)); then
  scripts/ensure-deps.sh
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target quorin quorin_fault_shim
fi
export QUORIN_BIN=${QUORIN_BIN:-$PWD/build/$preset/app/quorin}

work=$(mktemp -d)
xvfb=
cleanup() {
  # Waited for, so that the next run cannot meet this server still going away on its display.
  if [[ -n $xvfb ]]; then kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# Xvfb picks a free display number itself and writes it to descriptor 3; -noreset keeps it from
# resetting (and refusing connections for a moment) whenever its last client leaves.
Xvfb -displayfd 3 -screen 0 768x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
# One D-Bus session for the suite and the kiosks; it starts the accessibility bus on demand.
# Debian's python3, which has pyatspi, whatever python3 comes first on PATH.
unset DBUS_SESSION_BUS_ADDRESS
# As root, in a private mount namespace, so that the USB scenario's loop mounts end with the run
# whatever happens to it.
private=()
if [[ $(id -u) -eq 0 ]] && unshare -m --propagation private true 2>/dev/null; then
  private=(unshare -m --propagation private)
fi
"${private[@]}" dbus-run-session -- /usr/bin/python3 tests/acceptance/scenarios.py "$@"
