#!/usr/bin/env bash
# The X server goes away while a viewer watches (a crash, a log-out) and a new
# one comes up on the same display: the program keeps running, ffmpeg keeps
# decoding pictures (the paused picture while the screen is gone, two a
# second), ONVIF keeps answering, and the screen comes back at the stream's
# frame rate; one log line says each change. Everything runs in a private
# network namespace (loopback only).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need ffmpeg curl python3 Xvfb

# Our own X server (lcx_start_display cannot be killed and restarted).
x_number=""
start_x() {
  local fdfile=$LCX_HOME/displayfd i
  : >"$fdfile"
  if [[ -z $x_number ]]; then
    Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -noreset 3>"$fdfile" 2>/dev/null &
  else
    Xvfb ":$x_number" -screen 0 1280x720x24 -nolisten tcp -noreset 2>/dev/null &
  fi
  x_pid=$!
  lcx_on_exit "kill -9 $x_pid"
  for ((i = 0; i < 100; i++)); do
    [[ -z $x_number ]] && x_number=$(tr -dc 0-9 <"$fdfile")
    [[ -n $x_number ]] && DISPLAY=:$x_number xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
  done
  DISPLAY=:$x_number xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start on :$x_number"
  export DISPLAY=:$x_number
  "$LCX_BIN/lcx_scene" 20 &  # a moving picture; it ends with its server
  lcx_on_exit "kill $!"
}

lcx_engine_home
start_x
rtsp_port=$(lcx_free_port)
onvif_port=$(lcx_free_port)
lcx_write_config "rtsp_port = $rtsp_port" "onvif_port = $onvif_port" "web_port = $(lcx_free_port)" \
  "web_admin = 0" "fps = 10" "substream = 1" "sub_width = 640"
lcx_engine_start engine --background
lcx_wait_log engine "RTSP server ready" 40 || fail "the RTSP server did not come up"
log=$LCX_HOME/engine.log

soap_time() {
  curl -s -m 10 -H 'Content-Type: application/soap+xml' "http://127.0.0.1:$onvif_port/onvif/device_service" \
    --data '<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body><tds:GetSystemDateAndTime xmlns:tds="http://www.onvif.org/ver10/device/wsdl"/></s:Body></s:Envelope>'
}
snapshot_code() {
  curl -s -m 20 -o "$LCX_HOME/snap.jpg" -w '%{http_code}' "http://127.0.0.1:$onvif_port/onvif/snapshot" || true
}

# The viewer: 18 seconds of stream time, every frame decoded and checksummed.
timeout 90 ffmpeg -nostdin -hide_banner -v error -xerror -rtsp_transport tcp \
  -i "rtsp://127.0.0.1:$rtsp_port/screenlive" -map 0:v:0 -t 18 -f framemd5 "$LCX_HOME/view.md5" \
  2>"$LCX_HOME/ffmpeg.err" &
viewer=$!
lcx_on_exit "kill $viewer"
sleep 4

kill -9 "$x_pid"
wait "$x_pid" 2>/dev/null || true
lcx_wait_log engine "Screen: display \"$DISPLAY\" lost; streaming the paused picture until it returns" 10 \
  || fail "no log line for the lost display"
sleep 1
soap_time | grep -q 'GetSystemDateAndTimeResponse' || fail "ONVIF did not answer while the display is gone"
code=$(snapshot_code)
[[ $code == 500 ]] || fail "snapshot without a display answered $code"
sleep 4
kill -0 "$LCX_PID" 2>/dev/null || fail "the program ended with its display: $(cat "$log")"

start_x
lcx_wait_log engine "Screen: display \"$DISPLAY\" is back" 10 || fail "the screen did not come back"
code=$(snapshot_code)
[[ $code == 200 ]] || fail "snapshot after the display came back answered $code"
soap_time | grep -q 'GetSystemDateAndTimeResponse' || fail "ONVIF did not answer after the display came back"

wait "$viewer" || fail "ffmpeg ended with an error: $(cat "$LCX_HOME/ffmpeg.err")"
[[ ! -s $LCX_HOME/ffmpeg.err ]] || fail "ffmpeg reported: $(cat "$LCX_HOME/ffmpeg.err")"
python3 "$here/video_display_loss_view.py" "$LCX_HOME/view.md5" || fail "what the viewer saw"
n=$(rtsp_frames "rtsp://127.0.0.1:$rtsp_port/screensub")
[[ $n -ge 30 ]] || fail "the sub-stream decoded $n frames after the return: $(cat "$LCX_HOME/ffmpeg.err")"
for line in "lost; streaming the paused picture" "is back"; do
  [[ $(grep -c "Screen: display \"$DISPLAY\" $line" "$log") == 1 ]] || fail "\"$line\" is not logged once: $(cat "$log")"
done
kill -0 "$LCX_PID" || fail "the program ended"
echo "it_video_display_loss: all checks passed"
