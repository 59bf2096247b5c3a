#!/usr/bin/env bash
# A screen that alternates still and moving periods, watched as viewers
# would: ffmpeg (-xerror), GStreamer (rtspsrc ! rtph264depay ! avdec_h264)
# and mpv decode it with no error and no warning; ffmpeg's checksums show
# each still period as repeats of one picture, and a frame every 0.1 s; a
# recorder that connects during a still period gets SPS, PPS and IDR first
# and decodes at once. Runs in a private network namespace (loopback only).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need ffmpeg gst-launch-1.0 mpv python3

lcx_start_display 1280x720x24
scene=$(pgrep -P $$ -x lcx_scene)
lcx_on_exit "kill -CONT $scene"
rtsp_start_engine engine "fps = 10" "substream = 1" "sub_width = 640"
main=rtsp://127.0.0.1:$RTSP_PORT/screenlive
sub=rtsp://127.0.0.1:$RTSP_PORT/screensub

# 3 s moving, 3 s still, over and over, while the viewers watch.
(
  while :; do
    sleep 3; kill -STOP "$scene"; echo still >>"$LCX_HOME/periods"
    sleep 3; kill -CONT "$scene"; echo moving >>"$LCX_HOME/periods"
  done
) &
lcx_on_exit "kill $!"

timeout 90 ffmpeg -nostdin -hide_banner -v warning -xerror -rtsp_transport tcp -i "$main" -map 0:v:0 -t 24 \
  -f framemd5 "$LCX_HOME/main.md5" 2>"$LCX_HOME/ffmpeg.err" &
ffmpeg_main=$!
timeout 90 ffmpeg -nostdin -hide_banner -v warning -xerror -rtsp_transport tcp -i "$sub" -map 0:v:0 -t 24 \
  -f framemd5 "$LCX_HOME/sub.md5" 2>"$LCX_HOME/ffmpeg_sub.err" &
ffmpeg_sub=$!
GST_DEBUG=2 timeout -k 5 -s INT 26 gst-launch-1.0 -e rtspsrc location="$main" protocols=tcp latency=0 \
  ! rtph264depay ! avdec_h264 ! fakesink silent=false -v >"$LCX_HOME/gst.out" 2>"$LCX_HOME/gst.err" &
gst=$!
timeout 90 mpv --no-config --msg-level=all=warn --vo=null --ao=null --untimed \
  --rtsp-transport=tcp --frames=200 "$main" >"$LCX_HOME/mpv.out" 2>&1 &
mpv=$!

# The recorder connects during a still period.
for ((i = 0; i < 100; i++)); do grep -q still "$LCX_HOME/periods" 2>/dev/null && break; sleep 0.1; done
sleep 1
t0=$(date +%s.%N)
n=$(timeout 30 ffmpeg -nostdin -v error -xerror -rtsp_transport tcp -i "$main" -map 0:v:0 -frames:v 3 \
  -f framecrc - 2>"$LCX_HOME/recorder.err" | grep -vc '^#' || true)
t1=$(date +%s.%N)
[[ $n == 3 ]] || fail "a recorder joining a still period decoded $n frames: $(cat "$LCX_HOME/recorder.err")"
python3 -c "import sys; sys.exit(0 if $t1 - $t0 < 5 else 1)" || fail "the recorder waited $(python3 -c "print($t1 - $t0)") s"
python3 "$RTSP_PROBE" framing "$main" --frames 2 >/dev/null || fail "the first frame of a still period is not SPS+PPS+IDR"

wait "$ffmpeg_main" || fail "ffmpeg (main) ended with an error: $(cat "$LCX_HOME/ffmpeg.err")"
wait "$ffmpeg_sub" || fail "ffmpeg (sub) ended with an error: $(cat "$LCX_HOME/ffmpeg_sub.err")"
[[ ! -s $LCX_HOME/ffmpeg.err && ! -s $LCX_HOME/ffmpeg_sub.err ]] \
  || fail "ffmpeg warned: $(cat "$LCX_HOME/ffmpeg.err" "$LCX_HOME/ffmpeg_sub.err")"
for stream in main sub; do
  python3 "$here/video_still_screen_frames.py" "$LCX_HOME/$stream.md5" "$stream" || fail "what ffmpeg decoded of $stream"
done

wait "$gst" || true  # ended by SIGINT after its time
grep -q 'chain' "$LCX_HOME/gst.out" || fail "GStreamer decoded nothing: $(tail -5 "$LCX_HOME/gst.err")"
gst_frames=$(grep -c 'fakesink0.*chain' "$LCX_HOME/gst.out" || true)
((gst_frames >= 150)) || fail "GStreamer decoded $gst_frames frames"
if grep -qE 'WARN|ERROR' "$LCX_HOME/gst.err"; then
  fail "GStreamer warned: $(grep -E 'WARN|ERROR' "$LCX_HOME/gst.err" | head -5)"
fi
wait "$mpv" || fail "mpv failed: $(cat "$LCX_HOME/mpv.out")"
# mpv says these two of the first frame of every stream of this server,
# moving or not, also before still screens were skipped (its RTSP demuxer
# has no time stamp for the first packet); anything else is a fault.
if grep -v -e '^$' -e '^No video PTS! Making something up. Using 10.000000 FPS.$' \
  -e '^Invalid video timestamp: 0.000000 -> 0.000000$' "$LCX_HOME/mpv.out" | grep -q .; then
  fail "mpv reported: $(head -5 "$LCX_HOME/mpv.out")"
fi
echo "GStreamer: $gst_frames frames; mpv: 200 frames, no message"
echo "it_video_still_screen: all checks passed"
