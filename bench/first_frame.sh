#!/usr/bin/env bash
# Time from launching the kiosk to its first painted frame, on a virtual screen (Xvfb, 768 x 1024),
# each launch with a fresh kiosk home. The kiosk logs the frame's CLOCK_MONOTONIC time when asked
# (QT_LOGGING_RULES="quorin.kiosk.debug=true"). Prints every time and the median, and exits 1 when
# the fastest launch is past LIMIT seconds (default 2): a busy machine only ever adds time.
#
#   bench/first_frame.sh [LAUNCHES]          (default 5; the dev build's kiosk, or QUORIN_BIN)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
LAUNCHES=${1:-5}
export LIMIT=${LIMIT:-2}
cd "$ROOT"
if [[ -z ${QUORIN_BIN:-} ]]; then
  cmake --preset dev >/dev/null
  cmake --build --preset dev --target quorin -j2 >/dev/null
  export QUORIN_BIN=$ROOT/build/dev/app/quorin
fi
exec xvfb-run -a -s "-screen 0 768x1024x24 -nolisten tcp" dbus-run-session -- python3 - "$LAUNCHES" <<'PY'
import os, shutil, subprocess, sys, tempfile, time

times = []
for _ in range(int(sys.argv[1])):
    home = tempfile.mkdtemp(prefix="quorin-first-frame-")
    env = dict(os.environ, QUORIN_HOME=home, QT_QPA_PLATFORM="xcb",
               QT_LOGGING_RULES="quorin.kiosk.debug=true")
    with open(os.path.join(home, "kiosk.log"), "w+") as log:
        began = time.monotonic()  # CLOCK_MONOTONIC, as the kiosk's own line
        kiosk = subprocess.Popen([os.environ["QUORIN_BIN"]], env=env, stdout=log,
                                 stderr=subprocess.STDOUT)
        line, end = None, began + 30
        while line is None and time.monotonic() < end and kiosk.poll() is None:
            time.sleep(0.02)
            log.seek(0)
            line = next((l for l in log if "first frame at" in l), None)
        kiosk.terminate()
        kiosk.wait()
        if line is None:
            log.seek(0)
            sys.exit(f"no first frame within 30 s; the kiosk said:\n{log.read()[-2000:]}")
    times.append(float(line.split()[-1]) - began)
    shutil.rmtree(home)
times.sort()
print(f"launch to first frame: {', '.join(f'{t:.3f}' for t in times)} s "
      f"(median {times[len(times) // 2]:.3f} s)")
sys.exit(1 if times[0] > float(os.environ["LIMIT"]) else 0)
PY
