#!/usr/bin/env bash
# CPU per frame of the real program with one RTSP viewer, next to the
# GStreamer (ximagesrc + openh264enc) and ffmpeg (x11grab + libx264
# ultrafast) pipelines, in one run on one 1920x1080 Xvfb screen at 10 fps:
#   moving  the test scene redrawing 20 times a second
#   still   the same scene stopped (kill -STOP)
#   clock   the stopped scene with a small clock ticking once a second
# Usage: bench/still_screen.sh [SECONDS per measurement, default 10]
# Runs in a private network namespace (loopback only); needs root for it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export LCX_BUILD_DIR=${LCX_BUILD_DIR:-$here/build}
source "$here/tests/lib/display.sh"
source "$here/tests/lib/engine.sh"
lcx_private_network "$@"
source "$here/tests/rtsp_common.sh"
rtsp_need ffmpeg gst-launch-1.0 python3
[[ -x $LCX_BUILD_DIR/lcx_clock ]] || fail "$LCX_BUILD_DIR/lcx_clock is not built"

seconds=${1:-10}
fps=10
lcx_start_display 1920x1080x24
scene=$(pgrep -P $$ -x lcx_scene)
clock=""

screen() {  # moving | still | clock
  if [[ -n $clock ]]; then kill "$clock"; wait "$clock" 2>/dev/null || true; clock=""; fi
  case $1 in
    moving) kill -CONT "$scene" ;;
    still) kill -STOP "$scene" ;;
    clock)
      kill -STOP "$scene"
      "$LCX_BUILD_DIR/lcx_clock" &
      clock=$!
      ;;
  esac
  sleep 2
}

# CPU of a process (all its threads) over the measurement, in ms per frame.
per_frame() {
  local pid=$1 a b
  a=$(awk '{print $14 + $15}' "/proc/$pid/stat")
  sleep "$seconds"
  b=$(awk '{print $14 + $15}' "/proc/$pid/stat")
  python3 -c "print(f'{($b - $a) * 1000 / $(getconf CLK_TCK) / ($seconds * $fps):.2f}')"
}

results=()
measure() {  # name pid
  local row=$1 mode
  for mode in moving still clock; do
    screen "$mode"
    row+=" $(per_frame "$2")"
  done
  results+=("$row")
}

run_engine() {  # name substream
  rtsp_start_engine "$1" "fps = $fps" "substream = $2" "sub_width = 640"
  timeout 600 ffmpeg -nostdin -v error -rtsp_transport tcp -i "rtsp://127.0.0.1:$RTSP_PORT/screenlive" \
    -c copy -f null - &
  local viewer=$!
  sleep 3
  measure "$1" "$LCX_PID"
  kill "$viewer" "$LCX_PID"
  wait "$viewer" "$LCX_PID" 2>/dev/null || true
}

run_pipeline() {  # name command...
  local name=$1
  shift
  "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep 3
  kill -0 "$pid" || fail "$name did not start: $*"
  measure "$name" "$pid"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

screen moving
run_engine "lumicast_main+sub" 1
run_engine "lumicast_main_only" 0
run_pipeline "gstreamer_matched" gst-launch-1.0 -q ximagesrc use-damage=false show-pointer=false \
  ! "video/x-raw,framerate=$fps/1" ! videoconvert ! openh264enc usage-type=screen rate-control=bitrate \
  bitrate=2000000 gop-size=$fps enable-frame-skip=false ! fakesink
run_pipeline "gstreamer_defaults" gst-launch-1.0 -q ximagesrc ! "video/x-raw,framerate=$fps/1" ! videoconvert \
  ! openh264enc ! fakesink
run_pipeline "ffmpeg_x264_ultrafast" ffmpeg -nostdin -v error -f x11grab -framerate $fps -video_size 1920x1080 \
  -i "$DISPLAY" -c:v libx264 -preset ultrafast -f null -
screen moving

printf '\nCPU per frame (ms), 1920x1080 at %d fps, %d s per figure\n' "$fps" "$seconds"
printf '%-24s %8s %8s %8s\n' "" moving still clock
for row in "${results[@]}"; do
  # shellcheck disable=SC2086
  printf '%-24s %8s %8s %8s\n' $row
done
