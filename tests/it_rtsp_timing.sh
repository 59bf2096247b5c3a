#!/usr/bin/env bash
# What recorders time the stream by, on the real engine on Xvfb: the raw
# client checks RTP-Info against the first packet, the RTCP sender reports
# on channel 1 (before the first frame, then every few seconds, NTP time on
# the wall clock advancing with the RTP time, packet and octet counts) and a
# session per connection; ffprobe maps packets to wall-clock time from the
# reports; GStreamer's rtspsrc receives them; mpv plays.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need ffprobe gst-launch-1.0 python3 mpv

lcx_start_display 1280x720x24
rtsp_start_engine engine "fps = 10" "substream = 1" "sub_width = 640"
main=rtsp://127.0.0.1:$RTSP_PORT/screenlive
sub=rtsp://127.0.0.1:$RTSP_PORT/screensub

for url in "$main" "$sub"; do
  python3 "$RTSP_PROBE" timing "$url" --seconds 11 || fail "timing check failed on $url"
done

# ffmpeg ties a packet to the wall clock (its producer reference time) only
# once a sender report has come, so every packet, the first too, carries one.
out=$(timeout 60 ffprobe -v error -rtsp_transport tcp -read_intervals '%+#12' -show_packets -of json "$main") ||
  fail "ffprobe failed"
python3 "$here/rtsp_timing_ffprobe.py" "$out" || fail "ffprobe's packets: $out"

out=$(GST_DEBUG=rtpsession:5 timeout 60 gst-launch-1.0 rtspsrc "location=$main" protocols=tcp latency=0 ! \
  rtph264depay ! h264parse ! avdec_h264 ! fakesink num-buffers=30 2>&1) || fail "GStreamer did not reach EOS: $out"
grep -q 'got SR packet: SSRC 13572468' <<<"$out" || fail "GStreamer received no sender report"

out=$(timeout 60 mpv --no-config --really-quiet=no --msg-level=all=v --vo=null --ao=null --frames=30 \
  --rtsp-transport=tcp "$main" 2>&1) || fail "mpv failed: $(tail -20 <<<"$out")"
grep -q 'first video frame after restart shown' <<<"$out" || fail "mpv showed no frame: $(tail -20 <<<"$out")"
echo "it_rtsp_timing: all checks passed"
