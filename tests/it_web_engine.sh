#!/usr/bin/env bash
# The web panel of the real engine on Xvfb, driven by headless Chromium
# (playwright-core) as an administrator would: sign in through the form, the
# eight sections, the language remembered on both pages, "Apply & restart"
# with a new frame rate and device name (the engine relaunches itself on the
# same ports and the browser stays signed in; ffprobe sees the new rate),
# pause and resume seen by the preview and by an RTSP client, the log, a
# factory reset with wrong credentials, the login lock and its end, logout.
# Screenshots of both pages in both languages at 1280x800 and 400x800 go to
# $LCX_WEB_SHOTS when set, else to the build folder's web_shots/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need ffprobe ffmpeg compare python3 node

[[ -x /usr/bin/chromium ]] || lcx_skip "chromium is not installed"
[[ -d $here/node_modules/playwright-core ]] || lcx_skip "playwright-core is not installed (scripts/deps.sh)"

lcx_start_display 1280x720x24
lcx_engine_home
rtsp_port=$(lcx_free_port)
onvif_port=$(lcx_free_port)
web_port=$(lcx_free_port)
lcx_write_config "# engine panel test" "rtsp_port = $rtsp_port" "onvif_port = $onvif_port" "web_port = $web_port" \
  "web_admin = 1" "admin_user = admin" "admin_pass = Engine-pw1" "fps = 10" "stream = screenlive" "substream = 1" \
  "device_name = Lumicast"
shots=${LCX_WEB_SHOTS:-$LCX_BIN/web_shots}
mkdir -p "$shots"
# The picture a paused stream carries, to compare what a player decodes.
"$LCX_BIN/lcx_onvif" --dump-screens "$LCX_HOME" >/dev/null 2>&1
[[ -s $LCX_HOME/dump_paused.png ]] || fail "--dump-screens wrote no paused picture"

lcx_engine_start engine --background
lcx_wait_log engine "Web Admin ready -> http://" 40 || fail "the web panel did not come up"
lcx_wait_log engine "RTSP server ready" 40 || fail "the RTSP server did not come up"

node "$here/web_engine_client.mjs" "$LCX_HOME" "$shots" "$web_port" "$rtsp_port" "$onvif_port" "$RTSP_PROBE" ||
  fail "browser session on the engine (log: $(tail -20 "$LCX_HOME/engine.log"))"
echo "PASS: web panel on the engine"
