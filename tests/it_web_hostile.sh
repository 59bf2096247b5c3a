#!/usr/bin/env bash
# Hostile peers on the web panel's port of the real engine: a header that
# never ends, a huge Content-Length, a peer that trickles bytes and hundreds
# of idle connections, while a signed-in administrator keeps reading the
# settings and signing in again, and must keep getting answers.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v node >/dev/null || lcx_skip "node is not installed"

lcx_start_display 1280x720x24
lcx_engine_home
web_port=$(lcx_free_port)
lcx_write_config "rtsp_port = $(lcx_free_port)" "onvif_port = $(lcx_free_port)" "web_port = $web_port" \
  "web_admin = 1" "admin_user = admin" "admin_pass = Hostile-pw1"
# Room for the idle peers' descriptors and the program's own.
ulimit -n 4096
lcx_engine_start hostile --background
lcx_wait_log hostile "Web Admin ready -> http://" 20

node "$here/web_hostile_peers.mjs" "$web_port" || fail "hostile peers disturbed the web panel"
echo "it_web_hostile: all checks passed"
