#!/usr/bin/env bash
# Players against the real engine on Xvfb: ffprobe, ffmpeg (TCP, and with no
# transport option, which asks for UDP first), GStreamer's rtspsrc, and a raw
# client that checks the interleaved framing byte by byte.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need ffmpeg ffprobe gst-launch-1.0 python3

lcx_start_display 1280x720x24
rtsp_start_engine engine "fps = 10" "substream = 1" "sub_width = 640"
main=rtsp://127.0.0.1:$RTSP_PORT/screenlive
sub=rtsp://127.0.0.1:$RTSP_PORT/screensub

for pair in "$main h264,1280,720" "$sub h264,640,360"; do
  url=${pair% *}
  got=$(timeout 60 ffprobe -v error -rtsp_transport tcp -select_streams v:0 \
    -show_entries stream=codec_name,width,height -of csv=p=0 "$url") || fail "ffprobe failed on $url"
  [[ $got == "${pair#* }" ]] || fail "ffprobe on $url reports '$got', expected '${pair#* }'"

  n=$(rtsp_frames "$url" -rtsp_transport tcp)
  [[ $n -ge 30 ]] || fail "ffmpeg decoded $n frames of $url: $(cat "$LCX_HOME/ffmpeg.err")"

  out=$(timeout 60 gst-launch-1.0 -q rtspsrc "location=$url" protocols=tcp latency=0 ! rtph264depay ! \
    h264parse ! avdec_h264 ! fakesink num-buffers=30 2>&1) || fail "GStreamer did not reach EOS on $url: $out"

  python3 "$RTSP_PROBE" framing "$url" --frames 40 >/dev/null || fail "framing check failed on $url"
done
grep -qF "RTSP: DESCRIBE -> SUB (screensub)" "$LCX_HOME/engine.log" || fail "no DESCRIBE line for the sub-stream"
grep -qF "RTSP: DESCRIBE -> MAIN (screenlive)" "$LCX_HOME/engine.log" || fail "no DESCRIBE line for the main stream"

# UDP and TCP are both served (it_rtsp_udp.sh plays UDP with every player);
# ffmpeg left to choose asks for UDP first.
python3 "$RTSP_PROBE" transport "$main" >/dev/null || fail "transport check failed"
n=$(rtsp_frames "$main")
[[ $n -ge 30 ]] || fail "ffmpeg without a transport option decoded $n frames: $(cat "$LCX_HOME/ffmpeg.err")"
echo "it_rtsp_players: all checks passed"
