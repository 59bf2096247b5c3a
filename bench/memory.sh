#!/usr/bin/env bash
# Resident memory of the real program at 1920x1080, main + sub-stream, with
# one RTSP viewer on the main stream, the test scene moving: VmRSS every
# SAMPLE seconds over SECONDS, VmHWM at the end, and the mappings of Mesa's
# software rasteriser (libLLVM, swrast) that an OpenGL start-up would bring.
# Usage: bench/memory.sh [SECONDS, default 30] [SAMPLE, default 10]
# Runs in a private network namespace (loopback only); needs root for it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export LCX_BUILD_DIR=${LCX_BUILD_DIR:-$here/build}
source "$here/tests/lib/display.sh"
source "$here/tests/lib/engine.sh"
lcx_private_network "$@"
source "$here/tests/rtsp_common.sh"
rtsp_need ffmpeg

seconds=${1:-30}
sample=${2:-10}
lcx_start_display 1920x1080x24

status() { awk -v k="$2:" '$1 == k {print int($2 / 1024)}' "/proc/$1/status"; }

rtsp_start_engine memory "fps = 10" "substream = 1" "sub_width = 640"
timeout $((seconds + 60)) ffmpeg -nostdin -v error -rtsp_transport tcp \
  -i "rtsp://127.0.0.1:$RTSP_PORT/screenlive" -c copy -f null - &
viewer=$!
lcx_on_exit "kill $viewer"
sleep 5
for ((t = 0; t <= seconds; t += sample)); do
  printf 'after %4d s: VmRSS %4d MiB\n' "$t" "$(status "$LCX_PID" VmRSS)"
  ((t + sample <= seconds)) && sleep "$sample"
done
printf 'VmHWM %d MiB; maps of libLLVM: %d, of swrast/kms_swrast: %d\n' "$(status "$LCX_PID" VmHWM)" \
  "$(grep -c LLVM "/proc/$LCX_PID/maps" || true)" "$(grep -c swrast "/proc/$LCX_PID/maps" || true)"
kill -0 "$viewer" || fail "the viewer ended early"
