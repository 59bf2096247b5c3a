#!/usr/bin/env bash
# Installs what is missing, builds, and runs the engine. Without a display it
# starts a private Xvfb screen with a moving test scene to capture.
# Extra arguments go to the program (for example: --background).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
# The default RTSP port 554 is privileged; let the program bind it unprivileged.
setcap cap_net_bind_service=+ep build/lcx_onvif 2>/dev/null || true

if [[ -z ${DISPLAY:-} ]]; then
  export LCX_BUILD_DIR=$root/build
  source tests/lib/display.sh
  lcx_start_display 1920x1080x24
  echo "run: capturing the private display $DISPLAY (Xvfb with a moving test scene)"
  build/lcx_onvif "$@" &
  engine=$!
  lcx_on_exit "kill $engine"
  wait "$engine"
else
  exec build/lcx_onvif "$@"
fi
