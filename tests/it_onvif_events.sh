#!/usr/bin/env bash
# Motion events as a recorder that records on the camera's alarm receives
# them: the Node.js onvif client's event loop gets motion true while the
# test scene moves, false within motion_hold_s + 1 s once the screen is
# still, nothing for a blinking cursor alone, and true again when the scene
# moves; open and with stream_auth (where a pull-point subscription without
# credentials is refused).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v node >/dev/null || lcx_skip "node is not installed"
[[ -d $here/node_modules/onvif ]] || lcx_skip "npm onvif client missing (scripts/deps.sh installs it)"
command -v curl >/dev/null || lcx_skip "curl is not installed"

lcx_start_display 1280x720x24
scene=$(pgrep -P $$ -x lcx_scene)
lcx_on_exit "kill -CONT $scene"
lcx_engine_home
onvif_port=$(lcx_free_port)
hold=2

start_engine() {  # name stream_auth
  lcx_write_config "rtsp_port = $(lcx_free_port)" "onvif_port = $onvif_port" "web_port = $(lcx_free_port)" \
    "web_admin = 0" "admin_user = admin" "admin_pass = s3cret:pw" "stream_auth = $2" "motion_hold_s = $hold"
  lcx_engine_start "$1" --background
  lcx_wait_log "$1" "ONVIF HTTP ready -> http://" 20 || exit 1
}

start_engine open 0
(cd "$here" && node onvif_events_client.mjs "$onvif_port" "" "" "$scene" "$hold" "$here/blink_cursor.py") ||
  fail "events client against the open camera"
kill "$LCX_PID"; wait "$LCX_PID" || true

start_engine auth 1
# Without credentials the subscription is refused like the profile calls.
status=$(curl -s -o /dev/null -w '%{http_code}' -H 'Content-Type: application/soap+xml' \
  --data '<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body><CreatePullPointSubscription
  xmlns="http://www.onvif.org/ver10/events/wsdl"/></s:Body></s:Envelope>' \
  "http://127.0.0.1:$onvif_port/onvif/event_service")
[[ $status == 401 ]] || fail "CreatePullPointSubscription without credentials answered HTTP $status"
(cd "$here" && node onvif_events_client.mjs "$onvif_port" admin 's3cret:pw' "$scene" "$hold" "$here/blink_cursor.py") ||
  fail "events client with credentials"
echo "it_onvif_events: all checks passed"
