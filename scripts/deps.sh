#!/usr/bin/env bash
# Installs the Debian packages and npm modules the build and the tests use.
# Idempotent and quiet when everything is already there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libopenh264-dev libopenh264-7
  libx11-dev libxext-dev libxrandr-dev libxdamage-dev libxfixes-dev
  libcairo2-dev libpango1.0-dev fonts-noto-core fonts-dejavu-core
  libturbojpeg0-dev libpng-dev libssl-dev
  libyuv-dev libcap2-bin
  xvfb x11-utils ffmpeg
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-libav
  nodejs npm iproute2 procps psmisc curl util-linux
  dpkg-dev lintian desktop-file-utils
  chromium openssl xxd
  libgtk-3-dev libayatana-appindicator3-dev libsystemd-dev fonts-noto-color-emoji
  openbox trayer xdotool imagemagick dbus-daemon
  at-spi2-core gir1.2-atspi-2.0 python3-gi
  clang libclang-rt-dev mpv
  python3-zeep onvif-tools
  # Wayland capture: the build's PipeWire client library, and the headless
  # sway session of it_video_wayland*.sh (compositor, screenshots, terminal,
  # PipeWire with its session manager, the portal and its wlroots backend).
  libpipewire-0.3-dev sway grim foot pipewire pipewire-bin wireplumber xdg-desktop-portal xdg-desktop-portal-wlr
)

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

# Real ONVIF clients and the browser driver for the integration tests.
if [[ ! -d $here/tests/node_modules/onvif || ! -d $here/tests/node_modules/node-onvif ||
  ! -d $here/tests/node_modules/playwright-core ]]; then
  echo "deps: installing npm test clients"
  (cd "$here/tests" && npm install --no-audit --no-fund --silent >/dev/null)
fi
