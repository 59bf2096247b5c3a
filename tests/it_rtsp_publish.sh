#!/usr/bin/env bash
# Publishing into a media server: ffmpeg listening as an RTSP server
# (-rtsp_flags listen) receives the main stream from push_url and decodes 20
# frames; once it has gone and comes back, the camera publishes again within
# its back-off, with one log line per change.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need ffmpeg

lcx_start_display 1280x720x24
push_port=$(lcx_free_port)

receive() {  # NAME: ffmpeg as the server, 20 frames
  timeout 90 ffmpeg -nostdin -hide_banner -v error -xerror -rtsp_flags listen -rtsp_transport tcp -timeout 60 \
    -i "rtsp://127.0.0.1:$push_port/live" -map 0:v:0 -frames:v 20 -f framecrc - \
    >"$LCX_HOME/$1.crc" 2>"$LCX_HOME/$1.err"
}

# The camera comes first and waits for its server with a growing delay.
rtsp_start_engine engine "push_url = rtsp://127.0.0.1:$push_port/live"
receive first || fail "the first receiving server failed: $(cat "$LCX_HOME/first.err")"
n=$(grep -vc '^#' "$LCX_HOME/first.crc" || true)
[[ $n -ge 20 ]] || fail "the receiving server decoded $n frames: $(cat "$LCX_HOME/first.err")"
lcx_wait_log engine "RTSP push: publishing to rtsp://127.0.0.1:$push_port/live" 5 || fail "no publishing line"

# Gone (it ended after its frames): the camera retries until it is back.
lcx_wait_log engine "RTSP push: rtsp://127.0.0.1:$push_port/live: cannot connect" 20 ||
  fail "no line for the server that went: $(grep 'RTSP push' "$LCX_HOME/engine.log")"
receive second
n=$(grep -vc '^#' "$LCX_HOME/second.crc" || true)
[[ $n -ge 20 ]] || fail "after the restart the receiving server decoded $n frames: $(cat "$LCX_HOME/second.err")"
lines=$(grep -c "cannot connect" "$LCX_HOME/engine.log" || true)
[[ $lines -le 2 ]] || fail "the unreachable server was logged $lines times: $(grep 'RTSP push' "$LCX_HOME/engine.log")"
echo "it_rtsp_publish: all checks passed"
