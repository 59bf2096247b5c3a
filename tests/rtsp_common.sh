# Shared steps of the RTSP end-to-end scripts; source after lib/display.sh
# and lib/engine.sh.
#   rtsp_need CMD...              skip (lcx_skip) unless every command exists
#   rtsp_start_engine NAME K=V... private home, free ports, start the engine
#                                 with those extra settings, wait for the
#                                 RTSP ready line; exports RTSP_PORT
#   rtsp_frames URL [ARGS...]     decode 30 frames with ffmpeg -xerror and
#                                 print how many were decoded
#   fail MESSAGE

RTSP_PROBE="$(dirname "${BASH_SOURCE[0]}")/rtsp_probe.py"

fail() { echo "FAIL: $*" >&2; exit 1; }

rtsp_need() {
  local c
  for c in "$@"; do
    command -v "$c" >/dev/null 2>&1 || lcx_skip "$c is not installed"
  done
  # Read the whole list first: grep -q quitting early would fail the pipe.
  local libs
  libs=$(ldconfig -p 2>/dev/null || true)
  if [[ $libs != *libopenh264* ]]; then
    lcx_skip "OpenH264 is not installed"
  fi
}

rtsp_start_engine() {
  local name=$1
  shift
  lcx_engine_home
  RTSP_PORT=$(lcx_free_port)
  export RTSP_PORT
  lcx_write_config "rtsp_port = $RTSP_PORT" "onvif_port = $(lcx_free_port)" \
    "web_port = $(lcx_free_port)" "web_admin = 0" "$@"
  lcx_engine_start "$name" --background
  lcx_wait_log "$name" "RTSP server ready (multi-client) -> rtsp://<ip>:$RTSP_PORT/" 40 ||
    fail "the RTSP server did not come up"
}

rtsp_frames() {
  local url=$1
  shift
  timeout 60 ffmpeg -nostdin -hide_banner -v error -xerror "$@" -i "$url" -map 0:v:0 -frames:v 30 \
    -f framecrc - 2>"$LCX_HOME/ffmpeg.err" | grep -vc '^#' || true
}
