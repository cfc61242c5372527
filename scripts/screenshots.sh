#!/usr/bin/env bash
# Renders the kiosk's screens offscreen into docs/screenshots/ (the start screen with its keypad,
# the export's messages, the seven pages and the time-out warning, each also with larger text, in
# high contrast and in Spanish), from a fresh temporary kiosk home.
# Usage: scripts/screenshots.sh [OUTPUT_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
scripts/ensure-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target quorin_screenshots quorin_recording_speech
QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH=build/dev/tests/speech QUORIN_SPEECH_ENGINE=recording \
  build/dev/app/quorin_screenshots "$out"
