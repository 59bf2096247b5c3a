#!/usr/bin/env bash
# Multicast inside the test's network namespace (a route for the groups on
# its loopback): ffmpeg (-rtsp_transport udp_multicast) and GStreamer
# (protocols=udp-mcast) play main and sub-stream from the shared senders,
# with and without protection; the multicast URL's SDP names the group; the
# sender stops when the last multicast viewer has gone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need ffmpeg gst-launch-1.0 python3
[[ ${LCX_PRIVATE_NETWORK:-} == "$$" ]] || lcx_skip "multicast needs the private namespace"
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo

lcx_start_display 1280x720x24

play_group() {  # USERINFO@ or "", GST_AUTH...
  local userinfo=$1 path n out
  shift
  for path in screenlive screensub; do
    n=$(rtsp_frames "rtsp://${userinfo}127.0.0.1:$RTSP_PORT/$path" -rtsp_transport udp_multicast)
    [[ $n -ge 20 ]] || fail "ffmpeg over multicast decoded $n frames of $path: $(cat "$LCX_HOME/ffmpeg.err")"
    out=$(timeout 60 gst-launch-1.0 -q rtspsrc "location=rtsp://127.0.0.1:$RTSP_PORT/$path" "$@" \
      protocols=udp-mcast latency=0 ! rtph264depay ! h264parse ! avdec_h264 ! fakesink num-buffers=20 2>&1) ||
      fail "GStreamer over multicast did not reach EOS on $path: $out"
  done
}

rtsp_start_engine engine "substream = 1" "sub_width = 640" "multicast_group = 239.255.7.7" "multicast_port = 6100"
sdp=$(python3 "$RTSP_PROBE" describe "rtsp://127.0.0.1:$RTSP_PORT/screensub/multicast") || fail "no multicast SDP"
grep -qF 'c=IN IP4 239.255.7.7/1\r\n' <<<"$sdp" || fail "the multicast SDP names no group: $sdp"
grep -qF 'm=video 6102 RTP/AVP 96' <<<"$sdp" || fail "the sub-stream's multicast SDP names no port: $sdp"
play_group ""
grep -q "^RTSP: SETUP multicast -> 239.255.7.7:6100" "$LCX_HOME/engine.log" || fail "no main multicast SETUP"
grep -q "^RTSP: SETUP multicast -> 239.255.7.7:6102" "$LCX_HOME/engine.log" || fail "no sub multicast SETUP"
for stream in main sub; do
  lcx_wait_log engine "RTSP: multicast sender of the $stream stream stopped" 10 ||
    fail "the $stream sender kept running without viewers"
done

lcx_engine_kill_all
rtsp_start_engine protected "stream_auth = 1" "admin_user = viewer" "admin_pass = Secr3t-pw" \
  "substream = 1" "sub_width = 640"
play_group "viewer:Secr3t-pw@" user-id=viewer user-pw=Secr3t-pw
echo "it_rtsp_multicast: all checks passed"
