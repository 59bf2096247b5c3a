#!/usr/bin/env bash
# A recorder adds the camera: the Node.js onvif client reads device
# information, capabilities, profiles, stream and snapshot addresses from the
# real engine on Xvfb, first open, then with stream_auth on (right and wrong
# password); node-onvif adds it the same way and fetches a snapshot; curl
# fetches the snapshot with HTTP Digest and Basic; ffprobe plays the stream
# addresses.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v node >/dev/null || lcx_skip "node is not installed"
for m in onvif node-onvif; do
  [[ -d $here/node_modules/$m ]] || lcx_skip "npm $m client missing (scripts/deps.sh installs it)"
done
command -v curl >/dev/null || lcx_skip "curl is not installed"

lcx_start_display 1280x720x24
lcx_engine_home
onvif_port=$(lcx_free_port)
rtsp_port=$(lcx_free_port)

start_engine() {  # name stream_auth
  lcx_write_config "rtsp_port = $rtsp_port" "onvif_port = $onvif_port" "web_port = $(lcx_free_port)" \
    "web_admin = 0" "stream = screenlive" "substream = 1" "sub_stream = screensub" "sub_width = 640" \
    "admin_user = admin" "admin_pass = s3cret:pw" "stream_auth = $2" "device_name = Lumicast"
  lcx_engine_start "$1" --background
  lcx_wait_log "$1" "ONVIF HTTP ready -> http://" 20 || exit 1
  # The RTSP server comes up after its encoders.
  lcx_wait_log "$1" "RTSP server ready" 20 || exit 1
}

# Runs the client against the engine; arguments become JSON for the script.
run_client() {  # name user password
  local log=$LCX_HOME/$1.log
  local ip size sub
  ip=$(sed -n 's/^  IP        : //p' "$log")
  size=$(sed -n 's/^  Video     : \([0-9]*x[0-9]*\) .*/\1/p' "$log")
  sub=$(grep -q '^  RTSP sub  : rtsp://' "$log" && echo 1 || echo 0)
  node "$here/onvif_recorder_onvif.mjs" "$onvif_port" "$2" "$3" "$ip" "$size" "$sub" "$rtsp_port"
}

# node-onvif's init: the clock, capabilities, device information, profiles,
# stream addresses for each profile, snapshot addresses; then a snapshot
# through its own HTTP Digest client.
run_node_onvif() {  # name user password
  local log=$LCX_HOME/$1.log ip
  ip=$(sed -n 's/^  IP        : //p' "$log")
  node "$here/onvif_recorder_node_onvif.mjs" "$onvif_port" "$2" "$3" "$ip" "$rtsp_port"
}

start_engine open 0
run_client open "" "" || fail "client against the open engine"
run_node_onvif open "" "" || fail "node-onvif against the open engine"
kill "$LCX_PID"; wait "$LCX_PID" || true

start_engine auth 1
run_client auth admin 's3cret:pw' || fail "client with the right password"
run_client auth admin wrong || fail "client with a wrong password"
run_node_onvif auth admin 's3cret:pw' || fail "node-onvif with the right password"
run_node_onvif auth admin wrong || fail "node-onvif with a wrong password"

# The snapshot with HTTP authentication only.
snap=http://127.0.0.1:$onvif_port/onvif/snapshot
want=200
code=$(curl -s -m 20 -o /dev/null -w '%{http_code}' "$snap")
[[ $code == 401 ]] || fail "snapshot without credentials answered $code"
code=$(curl -s -m 20 -o "$LCX_HOME/digest.jpg" -w '%{http_code}' --digest -u 'admin:s3cret:pw' "$snap")
[[ $code == "$want" ]] || fail "snapshot with Digest answered $code"
code=$(curl -s -m 20 -o /dev/null -w '%{http_code}' --basic -u 'admin:s3cret:pw' "$snap")
[[ $code == "$want" ]] || fail "snapshot with Basic answered $code"
code=$(curl -s -m 20 -o /dev/null -w '%{http_code}' --digest -u 'admin:nope' "$snap")
[[ $code == 401 ]] || fail "snapshot with a wrong Digest password answered $code"
# curl answers the challenge with qop=auth.
curl -s -m 20 -o /dev/null -v --digest -u 'admin:s3cret:pw' "$snap" 2>&1 | grep -q 'qop=auth' \
  || fail "curl did not use qop=auth"

grep -q 'ONVIF: GetProfiles (advertising' "$LCX_HOME/auth.log" || fail "no GetProfiles log line"
echo "it_onvif_recorder: all checks passed"
