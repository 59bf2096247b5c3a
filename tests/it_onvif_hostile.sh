#!/usr/bin/env bash
# Hostile peers on the ONVIF port of the real engine: a header that never
# ends, a huge Content-Length, a peer that trickles bytes, and many idle
# connections, while a well-behaved client keeps asking for the device
# information and must keep getting it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v node >/dev/null || lcx_skip "node is not installed"

lcx_start_display 1280x720x24
lcx_engine_home
onvif_port=$(lcx_free_port)
lcx_write_config "rtsp_port = $(lcx_free_port)" "onvif_port = $onvif_port" "web_port = $(lcx_free_port)" \
  "web_admin = 0"
lcx_engine_start hostile --background
lcx_wait_log hostile "ONVIF HTTP ready -> http://" 20

node "$here/onvif_hostile_peers.mjs" "$onvif_port" || fail "hostile peers disturbed the service"
echo "it_onvif_hostile: all checks passed"
