#!/usr/bin/env bash
# Installs the Debian packages (and npm modules) the project needs. Idempotent
# and quiet when everything is already there.
#   scripts/deps.sh run    what building and running the camera needs (run.sh)
#   scripts/deps.sh [test] that and everything the tests use (the test command)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
set_name=${1:-test}
[[ $set_name == run || $set_name == test ]] || { echo "usage: scripts/deps.sh [run|test]" >&2; exit 2; }

# Build tools and the libraries the program links or loads, the fonts of the
# paused picture and the windows, setcap for the privileged RTSP port,
# xdg-open for "Open web panel", and the private screen run.sh starts when
# there is no display (Xvfb, and xwininfo to see the scene's window mapped).
run_packages=(
  cmake ninja-build g++ pkg-config
  libopenh264-dev libopenh264-7
  libx11-dev libxext-dev libxrandr-dev libxdamage-dev libxfixes-dev
  libcairo2-dev libpango1.0-dev fonts-noto-core fonts-dejavu-core
  libturbojpeg0-dev libssl-dev
  libgtk-3-dev libayatana-appindicator3-dev libsystemd-dev
  libpipewire-0.3-dev
  libcap2-bin xdg-utils
  xvfb x11-utils
)

# Unit tests, benchmarks, sanitizer and fuzz builds (clang), the real
# clients of the end-to-end tests, the desktop session they drive, packaging.
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev libyuv-dev libpng-dev
  clang libclang-rt-dev
  ffmpeg mpv
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-libav
  nodejs npm iproute2 procps psmisc curl util-linux
  dpkg-dev lintian desktop-file-utils
  chromium openssl xxd fonts-noto-color-emoji
  openbox trayer xdotool imagemagick dbus-daemon
  at-spi2-core gir1.2-atspi-2.0 python3-gi
  python3-zeep onvif-tools
  # Wayland capture: the headless sway session of it_video_wayland*.sh (compositor, screenshots, terminal,
  # PipeWire with its session manager, the portal and its wlroots backend).
  sway grim foot pipewire pipewire-bin wireplumber xdg-desktop-portal xdg-desktop-portal-wlr
)

packages=("${run_packages[@]}")
[[ $set_name == run ]] || packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# node and npm may come from outside Debian's packages; accept them when present.
if command -v node >/dev/null && command -v npm >/dev/null; then
  kept=()
  for p in "${missing[@]}"; do [[ $p == nodejs || $p == npm ]] || kept+=("$p"); done
  missing=("${kept[@]}")
fi

if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  SUDO=""; [[ $(id -u) -eq 0 ]] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[[ $set_name == run ]] && exit 0
# Real ONVIF clients and the browser driver for the integration tests.
if [[ ! -d $here/tests/node_modules/onvif || ! -d $here/tests/node_modules/node-onvif ||
  ! -d $here/tests/node_modules/playwright-core ]]; then
  echo "deps: installing npm test clients"
  (cd "$here/tests" && npm install --no-audit --no-fund --silent >/dev/null)
fi
