#!/usr/bin/env bash
# The RTSP thread gives up, logged once while the rest of the program
# carries on, on a port that another program holds; a screen that cannot be
# opened is no reason to give up: the server comes up with the reason logged
# first (it_video_wayland_fallbacks.sh looks at the picture).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need python3

lcx_start_display 640x480x24
lcx_engine_home
busy=$(lcx_free_port)
python3 -c 'import socket, sys, time
s = socket.socket(); s.bind(("0.0.0.0", int(sys.argv[1]))); s.listen(1); time.sleep(60)' "$busy" &
holder=$!
lcx_on_exit "kill $holder"
for _ in $(seq 50); do ss -Htln "sport = :$busy" | grep -q . && break; sleep 0.1; done
lcx_write_config "rtsp_port = $busy" "onvif_port = $(lcx_free_port)" "web_port = $(lcx_free_port)" "web_admin = 0"
lcx_engine_start busy --background
lcx_wait_log busy "bind failed: 98" 30 || fail "no bind failure line"
sleep 1
kill -0 "$LCX_PID" 2>/dev/null || fail "the program ended after the RTSP bind failure"
grep -q "RTSP server ready" "$LCX_HOME/busy.log" && fail "ready line despite the bind failure"
kill "$LCX_PID"; wait "$LCX_PID" 2>/dev/null || true

# No screen to capture: the engine starts all the same.
rtsp_port=$(lcx_free_port)
lcx_write_config "rtsp_port = $rtsp_port" "onvif_port = $(lcx_free_port)" \
  "web_port = $(lcx_free_port)" "web_admin = 0"
DISPLAY=:59999 lcx_engine_start noscreen --background
lcx_wait_log noscreen "RTSP server ready (multi-client) -> rtsp://<ip>:$rtsp_port/" 30 ||
  fail "no RTSP server without a screen"
# The reason comes first, naming the display.
reason=$(grep -n -m1 -F 'Screen: cannot open display ":59999"' "$LCX_HOME/noscreen.log" | cut -d: -f1)
ready=$(grep -n -m1 -F "RTSP server ready" "$LCX_HOME/noscreen.log" | cut -d: -f1)
[[ -n $reason && $reason -lt $ready ]] || fail "no reason logged before the server came up"
grep -q "RTSP init failed" "$LCX_HOME/noscreen.log" && fail "init failure without a screen"
echo "it_rtsp_start_failures: all checks passed"
