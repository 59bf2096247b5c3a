#!/usr/bin/env bash
# The web panel as a LAN attacker meets it: raw HTTP from several loopback
# addresses (127.0.0.2, 127.0.0.3) against the panel's server, in a private
# network namespace. A foreign Host gets 421 and no session, a cross-origin
# POST with a valid cookie 403 and nothing saved, every answer carries the
# framing headers, the factory password closes every action until it is
# changed, and eight failures from one address do not stop another.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v python3 >/dev/null || lcx_skip "python3 is not installed"
[[ -x $LCX_BIN/lcx_web_test_server ]] || fail "$LCX_BIN/lcx_web_test_server is not built"

lcx_engine_home
lcx_write_config "# lan test" "admin_pass = admin" "fps = 10" "web_hosts = cam.example, other.example"
lcx_engine_env python3 "$here/web_lan_client.py" "$LCX_BIN/lcx_web_test_server" "$LCX_HOME/Halvorix/lcx.cfg" ||
  fail "the panel on a LAN"
echo "PASS: web panel on a LAN"
