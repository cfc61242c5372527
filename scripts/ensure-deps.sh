#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the kiosk need, only those missing.
# Safe to run again and again: when everything is present it does nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libutf8proc-dev libsqlite3-dev libsodium-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-tools-dev qt6-l10n-tools libqt6opengl6-dev qt6-multimedia-dev libqt6svg6
  # Reading aloud: Qt TextToSpeech (whose CMake package wants Qt Quick's), over speech-dispatcher
  # speaking with espeak-ng.
  qt6-speech-dev qt6-declarative-dev qt6-speech-speechd-plugin speech-dispatcher
  speech-dispatcher-espeak-ng espeak-ng
  xvfb xauth fonts-dejavu-core fonts-lato clang-format
  python3 e2fsprogs dosfstools fusefat util-linux mount
  # The acceptance suite: the accessibility bus, Debian's python3 with pyatspi, real input,
  # screen grabs.
  dbus-daemon at-spi2-core python3-pyatspi xdotool openbox python3-pil
)
# Extra groups, asked for by name: the fuzzing job's compiler, the headless kiosk's VNC server
# (scripts/kiosk.sh on a machine without a display), and the Debian package with its test
# (scripts/package.sh, tests/deploy/deb_test.sh: the kiosk under cage, screenshots with grim).
deploy=(dpkg-dev file systemd cage xwayland qt6-wayland grim)
for extra in "$@"; do
  case "$extra" in
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    ci) packages+=(clang-14 clang-tidy-14 libclang-rt-14-dev "${deploy[@]}") ;;
    deploy) packages+=("${deploy[@]}") ;;
    vnc) packages+=(x11vnc) ;;
    *) echo "ensure-deps: unknown group '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "ensure-deps: run as root or install sudo" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
