#!/usr/bin/env bash
# Installs what is missing, builds, and runs the engine. Without a display it
# starts a private Xvfb screen with a moving test scene to capture, and asks
# the first-run agreement on the terminal (a Wayland session is captured
# through its ScreenCast portal instead).
# Extra arguments go to the program (for example: --background).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only the program and the test scene of the private screen: running needs
# neither the tests nor their tools.
cmake --build build -j "$(nproc)" --target lcx_onvif lcx_scene

# The default RTSP port 554 is privileged: let the program bind it as an
# ordinary user. When that cannot be granted, move the privileged ports of
# the user's configuration to their unprivileged defaults, so that every
# address the program advertises is one it really listens on.
SUDO=""; [[ $(id -u) -eq 0 ]] || SUDO=sudo
if ! $SUDO setcap cap_net_bind_service=+ep build/lcx_onvif; then
  if [[ -n ${ProgramData:-} ]]; then data=$ProgramData/Halvorix
  else data=${XDG_DATA_HOME:-$HOME/.local/share}/Halvorix; fi
  cfg=$data/lcx.cfg
  mkdir -p "$data"
  [[ -f $cfg ]] || cp resources/core.dat "$cfg"
  for entry in rtsp_port:8554 onvif_port:8000 web_port:8080; do
    key=${entry%%:*} port=${entry##*:}
    value=$(sed -n "s/^[[:space:]]*$key[[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p" "$cfg" | head -1)
    if [[ -n $value ]] && ((value < 1024)); then
      sed -i "s/^\([[:space:]]*$key[[:space:]]*=[[:space:]]*\)[0-9]*/\1$port/" "$cfg"
      echo "run: could not allow port $value (setcap cap_net_bind_service failed); $key is now $port in $cfg"
    fi
  done
fi

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  export LCX_BUILD_DIR=$root/build
  source tests/lib/display.sh
  # A closed terminal (an SSH session ending) must not leave the screen behind.
  trap 'exit 129' HUP
  lcx_start_display 1920x1080x24
  echo "run: capturing the private display $DISPLAY (Xvfb with a moving test scene)"
  # Nobody sees that screen, so the first-run agreement is asked here on
  # standard input instead of in a window (kept: a job started with "&" would
  # otherwise read /dev/null). Without an answer the program says how to
  # accept and exits 1.
  build/lcx_onvif "$@" --terminal-agreement <&0 &
  engine=$!
  lcx_on_exit "kill $engine"
  wait "$engine"
else
  exec build/lcx_onvif "$@"
fi
