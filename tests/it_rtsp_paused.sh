#!/usr/bin/env bash
# With the stream stopped (stream_on = 0) clients of both streams receive the
# paused picture: two frames a second, time stamps half a second apart,
# starting with a key frame that players decode.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need ffmpeg python3

lcx_start_display 1280x720x24
rtsp_start_engine engine "stream_on = 0" "fps = 10" "substream = 1" "sub_width = 640"
for path in screenlive screensub; do
  url=rtsp://127.0.0.1:$RTSP_PORT/$path
  result=$(python3 "$RTSP_PROBE" rate "$url" --seconds 5) || fail "no paused frames on $path"
  python3 "$here/rtsp_paused_rate.py" "$result" || fail "paused $path: $result"
  n=$(timeout 60 ffmpeg -nostdin -v error -xerror -rtsp_transport tcp -i "$url" -frames:v 3 -f framecrc - \
    2>"$LCX_HOME/ffmpeg.err" | grep -vc '^#' || true)
  [[ $n -ge 3 ]] || fail "ffmpeg decoded $n paused frames of $path: $(cat "$LCX_HOME/ffmpeg.err")"
done
echo "it_rtsp_paused: all checks passed"
