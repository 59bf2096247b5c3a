#!/usr/bin/env bash
# Recorders adding the camera, checked against the official ONVIF schemas:
# a schema-checking client (python3-zeep with the ONVIF WSDL/XSD files)
# replays what home recorder software calls while adding and configuring a
# camera, open and with stream_auth on (with and without credentials), and
# every answer must validate; calls the camera does not offer get faults.
# Debian's onvif-util then finds the camera by multicast and reads both
# profiles' sizes, the encoder options and the network settings (the MAC
# address is zeep's to check: onvif-util does not print it). Runs in a network namespace of its own, with a veth pair
# carrying the multicast route onvif-util's probe needs; every device there
# is virtual, so the advertised address is the loopback's and its MAC the
# one the kernel reports for lo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The official ONVIF service descriptions, vendored with their licence.
wsdl=$here/onvif-wsdl/wsdl
[[ -f $wsdl/devicemgmt.wsdl ]] || fail "no ONVIF WSDL files at $wsdl"
python=
for p in /usr/bin/python3 python3; do
  if "$p" -c 'import zeep, lxml, requests' 2>/dev/null; then python=$p; break; fi
done
[[ -n $python ]] || lcx_skip "python3-zeep is not installed (scripts/deps.sh installs it)"

ip link add lcx0 type veth peer name lcx1 && ip addr add 10.213.0.1/24 dev lcx0 && ip link set lcx1 up &&
  ip link set lcx0 up && ip route add 224.0.0.0/4 dev lcx0 || fail "cannot make the veth pair"

lcx_start_display 1280x720x24
lcx_engine_home
onvif_port=$(lcx_free_port)
rtsp_port=$(lcx_free_port)
start_engine() {  # name stream_auth
  lcx_write_config "rtsp_port = $rtsp_port" "onvif_port = $onvif_port" "web_port = $(lcx_free_port)" \
    "web_admin = 0" "substream = 1" "sub_width = 480" "bitrate = 3000" "sub_bitrate = 400" \
    "admin_user = admin" "admin_pass = s3cret:pw" "stream_auth = $2"
  lcx_engine_start "$1" --background
  lcx_wait_log "$1" "ONVIF HTTP ready -> http://" 20 || exit 1
}

start_engine open 0
ip=$(sed -n 's/^  IP        : //p' "$LCX_HOME/open.log")
iface=$(ip -o -4 addr show | awk -v ip="$ip" '{split($4, a, "/"); if (a[1] == ip) print $2}')
[[ -n $iface ]] || fail "no interface holds the advertised $ip"
mac=$(cat "/sys/class/net/$iface/address")
want=$(printf '{"ip": "%s", "width": 1280, "height": 720, "sub_width": 480, "sub_height": 270, "bitrate": 3000,
  "sub_bitrate": 400, "mac": "%s", "rtsp_port": %d, "auth": %%s}' "$ip" "$mac" "$rtsp_port")
"$python" "$here/onvif_schema_client.py" "$wsdl" "$onvif_port" "$(printf "$want" false)" ||
  fail "schema client against the open camera"

# onvif-util discovers by multicast only (the shim keeps multicast loopback
# on, which it switches off), then reads what a user asks for.
if command -v onvif-util >/dev/null && command -v cc >/dev/null; then
  cc -shared -fPIC -o "$LCX_HOME/loop.so" "$here/multicast_loop_shim.c" -ldl || fail "cannot build the shim"
  out=$(printf 'get profiles\nget video\nget video options\nget video 1\nget network\nquit\n' |
    LD_PRELOAD=$LCX_HOME/loop.so timeout 60 onvif-util -u admin -p 's3cret:pw' "$ip" 2>&1) ||
    fail "onvif-util failed: $out"
  echo "$out"
  for text in "Token 1: prof1" "Resolution: 1280 x 720" "Bit Rate:   3000" "Available Resolutions" "854 x 480" \
    "Max Bit Rate: 16384" "Resolution: 480 x 270" "Bit Rate:   400" "IP Address: $ip"; do
    grep -qF "$text" <<<"$out" || fail "onvif-util does not show '$text'"
  done
else
  [[ ${CI:-} != true ]] || fail "onvif-util (package onvif-tools) or cc is missing"
  echo "note: onvif-util (package onvif-tools) or cc missing; its part is skipped"
fi
kill "$LCX_PID"; wait "$LCX_PID" || true

start_engine auth 1
"$python" "$here/onvif_schema_client.py" "$wsdl" "$onvif_port" "$(printf "$want" true)" admin 's3cret:pw' ||
  fail "schema client with credentials"
"$python" "$here/onvif_schema_client.py" "$wsdl" "$onvif_port" "$(printf "$want" true)" ||
  fail "schema client without credentials"

# SystemReboot answers first, then the program restarts itself the way the
# editors do, and answers again on the same port.
"$python" "$here/onvif_schema_client.py" "$wsdl" "$onvif_port" "$(printf "$want" true)" admin 's3cret:pw' reboot ||
  fail "SystemReboot"
for ((i = 0; i < 200; i++)); do
  copies=$(lcx_engine_pids)
  [[ -n $copies && $copies != *"$LCX_PID"* ]] && break
  sleep 0.1
done
[[ -n $copies && $copies != *"$LCX_PID"* ]] || fail "no new copy after SystemReboot (copies: ${copies:-none})"
tr '\0' ' ' <"/proc/$copies/cmdline" | grep -q -- '--relaunch' || fail "the new copy was not relaunched"
for ((i = 0; i < 200; i++)); do
  code=$(curl -s -o /dev/null -w '%{http_code}' -H 'Content-Type: application/soap+xml' --data \
    '<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body><GetSystemDateAndTime xmlns="http://www.onvif.org/ver10/device/wsdl"/></s:Body></s:Envelope>' \
    "http://127.0.0.1:$onvif_port/onvif/device_service" || true)
  [[ $code == 200 ]] && break
  sleep 0.1
done
[[ $code == 200 ]] || fail "the restarted program does not answer (HTTP $code)"
echo "SystemReboot restarted the program (pid $LCX_PID -> $copies)"
echo "it_onvif_schema: all checks passed"
