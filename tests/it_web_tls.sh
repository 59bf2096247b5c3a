#!/usr/bin/env bash
# HTTPS and the files of secrets, on the real engine in a private network
# namespace: with web_tls = 1 the engine makes its certificate at the first
# start (0600 beside lcx.cfg, the data folder tightened to 0700), curl
# verifies it for localhost, the host name, <host>.local and 127.0.0.1 and
# refuses any other name, plain HTTP gets no answer on that port, a peer
# that stalls the handshake is cut while others are served; then Chromium,
# trusting exactly this certificate's key, signs in (the cookie is Secure)
# and saves a new password and device name, after which lcx.cfg, the
# per-user key and the flag are 0600 in 0700 folders (web_tls_browser.mjs).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in curl openssl node; do
  command -v "$tool" >/dev/null || lcx_skip "$tool is not installed"
done
[[ -x /usr/bin/chromium ]] || lcx_skip "chromium is not installed"
[[ -d $here/node_modules/playwright-core ]] || lcx_skip "playwright-core is not installed (scripts/deps.sh)"

mode() { stat -c %a "$1"; }
expect_mode() { [[ $(mode "$2") == "$1" ]] || fail "$2 is $(mode "$2"), not $1 ($3)"; }

lcx_start_display 1280x720x24
lcx_engine_home
rtsp_port=$(lcx_free_port)
onvif_port=$(lcx_free_port)
web_port=$(lcx_free_port)
lcx_write_config "# tls test" "rtsp_port = $rtsp_port" "onvif_port = $onvif_port" "web_port = $web_port" \
  "web_admin = 1" "web_tls = 1" "admin_user = admin" "admin_pass = Tls-pass-1" "device_name = Lumicast"
# As an older version left them: readable by every account.
chmod 755 "$LCX_HOME/Halvorix"
chmod 644 "$LCX_HOME/Halvorix/lcx.cfg"

lcx_engine_start engine --background
lcx_wait_log engine "Web Admin ready -> https://" 40 || fail "the panel did not come up over HTTPS"
data=$LCX_HOME/Halvorix
cert=$data/web_cert.pem
expect_mode 700 "$data" "the data folder is tightened at start"
expect_mode 600 "$cert" "the certificate is made private"
expect_mode 600 "$data/web_key.pem" "the key is made private"
openssl x509 -in "$cert" -noout -ext subjectAltName >"$LCX_HOME/san.txt"

host=$(hostname)
for name in localhost "$host" "$host.local"; do
  code=$(curl -sS --cacert "$cert" --resolve "$name:$web_port:127.0.0.1" -o /dev/null -w '%{http_code}' \
           "https://$name:$web_port/login") || fail "curl did not verify the certificate for $name: $(cat "$LCX_HOME/san.txt")"
  [[ $code == 200 ]] || fail "https://$name/login answered $code"
done
code=$(curl -sS --cacert "$cert" -o /dev/null -w '%{http_code}' "https://127.0.0.1:$web_port/login") ||
  fail "curl did not verify the certificate for 127.0.0.1"
[[ $code == 200 ]] || fail "https://127.0.0.1/login answered $code"
rc=0
curl -sS --cacert "$cert" --resolve "evil.example:$web_port:127.0.0.1" -o /dev/null \
  "https://evil.example:$web_port/login" 2>/dev/null || rc=$?
[[ $rc == 60 ]] || fail "a name outside the certificate was not refused by curl (exit $rc, want 60)"
rc=0
curl -sS -m 10 -o /dev/null "http://127.0.0.1:$web_port/login" 2>/dev/null || rc=$?
((rc != 0)) || fail "plain HTTP was answered on the HTTPS port"
rc=0
curl -sS --tls-max 1.1 -k -o /dev/null "https://127.0.0.1:$web_port/login" 2>/dev/null || rc=$?
((rc != 0)) || fail "a TLS 1.1 handshake was accepted"

# A peer that connects and never says hello: others are still served, and
# the engine closes it once the receive budget is spent.
exec 3<>"/dev/tcp/127.0.0.1/$web_port"
code=$(curl -sS --cacert "$cert" -o /dev/null -w '%{http_code}' "https://127.0.0.1:$web_port/login") ||
  fail "a stalled handshake blocked the next client"
[[ $code == 200 ]] || fail "beside a stalled handshake /login answered $code"
timeout 30 cat <&3 >/dev/null || fail "a stalled handshake was not cut within 30 s"
exec 3<&-

spki=$(openssl x509 -in "$cert" -pubkey -noout | openssl pkey -pubin -outform der |
         openssl dgst -sha256 -binary | base64)
cd "$here"  # node resolves playwright-core from tests/node_modules
node "$here/web_tls_browser.mjs" "$LCX_HOME" "$web_port" "$spki" || fail "browser session over HTTPS"

cfg_folder=$LCX_HOME/cfg/Halvorix/LCX
expect_mode 600 "$data/lcx.cfg" "the saved configuration"
[[ ! -e $data/lcx.cfg.tmp ]] || fail "the save left lcx.cfg.tmp"
expect_mode 700 "$LCX_HOME/cfg/Halvorix" "the flag folder's parent"
expect_mode 700 "$cfg_folder" "the flag folder"
expect_mode 600 "$cfg_folder/key" "the per-user key"
[[ $(stat -c %s "$cfg_folder/key") == 32 ]] || fail "the per-user key is not 32 bytes"
expect_mode 600 "$cfg_folder/pwenc" "the protected-password flag"
grep -q '^admin_pass = enc:' "$data/lcx.cfg" || fail "the new password is not stored protected"
grep -q '^web_tls = 1' "$data/lcx.cfg" || fail "the panel's save turned web_tls off"
echo "PASS: it_web_tls"
