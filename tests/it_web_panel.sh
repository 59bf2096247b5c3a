#!/usr/bin/env bash
# The web panel in a real browser: headless Chromium (driven through
# playwright-core) signs in, reads the settings and the preview, pauses the
# stream, saves, applies and restarts (the session survives), recovers a
# forgotten password with a code, and is locked out after eight failures; in
# Arabic and English. The factory password first leads to the page that asks
# for a new one, in both languages, again after a recovery; no page may break
# its own Content-Security-Policy. The server is the web library alone
# (lcx_web_test_server, which ends instead of relaunching), in a private
# network namespace with loopback only. Screenshots go to $LCX_WEB_SHOTS
# when it is set.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=${LCX_SOURCE_DIR:-$(cd "$here/.." && pwd)}

if [[ -z ${LCX_IN_NETNS:-} ]]; then
  command -v unshare >/dev/null || lcx_skip "unshare is not installed"
  flag=-n
  [[ $(id -u) -eq 0 ]] || flag=-rn
  exec unshare "$flag" env LCX_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up

source "$here/lib/display.sh"
source "$here/lib/engine.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }

[[ -x /usr/bin/chromium ]] || lcx_skip "chromium is not installed"
[[ -d $here/node_modules/playwright-core ]] || lcx_skip "playwright-core is not installed (scripts/deps.sh)"
[[ -x $LCX_BIN/lcx_web_test_server ]] || fail "$LCX_BIN/lcx_web_test_server is not built"

lcx_start_display 1280x720x24
lcx_engine_home
# No admin_user and no rtsp_port line: the panel must show and save what the engine uses.
lcx_write_config "# test panel" "admin_pass = admin" "fps = 10" "stream = screenlive"
[[ -x $LCX_BIN/lcx_recovery_code ]] || fail "$LCX_BIN/lcx_recovery_code is not built"
# A throw-away recovery key: the real private key never comes near the tests.
# The server under test reads its public half from a file, which the program
# itself never does while it carries a key.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$LCX_HOME/recovery.pem" 2>/dev/null
"$LCX_BIN/lcx_recovery_code" --public-blob "$LCX_HOME/recovery.pem" "$LCX_HOME/recovery.key"
[[ $(stat -c %s "$LCX_HOME/recovery.key") == 283 ]] || fail "the maker's public blob is not 283 bytes"
shots=${LCX_WEB_SHOTS:-$LCX_HOME/shots}
mkdir -p "$shots"

lcx_engine_env node "$here/web_panel_browser.mjs" "$LCX_BIN" "$LCX_HOME" "$src" "$shots" || fail "browser session"
echo "PASS: web panel"
