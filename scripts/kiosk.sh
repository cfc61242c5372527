#!/usr/bin/env bash
# Builds and runs the kiosk. Arguments go to the kiosk (scripts/kiosk.sh --help): --home DIR
# keeps its settings and results there, --kiosk runs it full screen.
#
# With a display (DISPLAY or WAYLAND_DISPLAY set) the kiosk opens a window on it. Without one, as
# on a headless server, it runs on a virtual screen (Xvfb, 768 x 1024) that is shared over VNC on
# 127.0.0.1 only, and says how to connect. QUORIN_VNC_PORT chooses the port (default 5900).
set -euo pipefail
cd "$(dirname "$0")/.."

headless=0
[[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]] && headless=1
if ((headless)); then scripts/ensure-deps.sh vnc; else scripts/ensure-deps.sh; fi
cmake --preset dev >/dev/null
cmake --build --preset dev --target quorin
kiosk=build/dev/app/quorin

for arg in "$@"; do
  case "$arg" in -h | --help | -v | --version) exec "$kiosk" "$@" ;; esac
done
((headless)) || exec "$kiosk" "$@"

port=${QUORIN_VNC_PORT:-5900}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display number itself and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 768x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
if [[ ! -s "$work/display" ]]; then
  echo "kiosk: the virtual screen (Xvfb) did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
display=":$(head -n 1 "$work/display")"

# Only this machine may connect (-localhost); reach it from elsewhere through an SSH tunnel.
x11vnc -display "$display" -localhost -rfbport "$port" -forever -shared -nopw \
  >"$work/x11vnc.out" 2>"$work/x11vnc.log" &
pids+=($!)
for _ in $(seq 100); do
  grep -q '^PORT=' "$work/x11vnc.out" 2>/dev/null && break
  kill -0 "${pids[1]}" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^PORT=' "$work/x11vnc.out" 2>/dev/null; then
  echo "kiosk: the VNC server did not start on 127.0.0.1:$port (is the port taken? set QUORIN_VNC_PORT):" >&2
  tail -n 5 "$work/x11vnc.log" >&2
  exit 1
fi

cat <<MESSAGE

  No display here, so the kiosk runs on a virtual screen shared over VNC at 127.0.0.1:$port
  (this machine only, no password).
    On this machine:  vncviewer 127.0.0.1:$port
    From your own:    ssh -L $port:127.0.0.1:$port <this server>   then   vncviewer 127.0.0.1:$port
  Stop the kiosk with Ctrl+C.

MESSAGE
DISPLAY="$display" "$kiosk" --kiosk "$@"
