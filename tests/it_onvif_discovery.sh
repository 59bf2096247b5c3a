#!/usr/bin/env bash
# WS-Discovery as a recorder uses it: a Probe to 127.0.0.1:3702 and to the
# multicast group gets exactly one ProbeMatches naming the advertised address
# and the ONVIF port; a Hello or a datagram without "Probe" gets nothing; a
# ProbeMatches sent from port 3702 gets nothing (once it was answered, and
# the answer answered, without end), while a Probe from port 3702 of this
# machine (where a recorder on the same computer probes from) gets its one
# answer; the Node.js onvif client's multicast probe finds the camera.
# UDP 3702 is fixed, so when network namespaces work here the engine runs in
# one made for this test (with a veth interface carrying a multicast route),
# and nothing else on the machine can answer in its place.
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

ns=lcx-onvif-disc-$$
in_ns=()
# A veth pair inside the namespace: two adapters up, each with its own
# network; the multicast route goes through the first.
make_namespace() {
  ip netns add "$ns" 2>/dev/null || return 1
  lcx_on_exit "ip netns del $ns"
  ip -n "$ns" link set lo up &&
    ip -n "$ns" link add lcx0 type veth peer name lcx1 &&
    ip -n "$ns" addr add 10.213.0.1/24 dev lcx0 &&
    ip -n "$ns" addr add 10.214.0.1/24 dev lcx1 &&
    ip -n "$ns" link set lcx1 up &&
    ip -n "$ns" link set lcx0 up &&
    ip -n "$ns" route add 224.0.0.0/4 dev lcx0
}
if make_namespace 2>"$LCX_HOME/netns.err"; then
  in_ns=(ip netns exec "$ns")
else
  [[ ${CI:-} != true ]] || fail "no named network namespace for the multicast part: $(head -c 200 "$LCX_HOME/netns.err")"
  echo "note: no named network namespace here ($(head -c 200 "$LCX_HOME/netns.err")); probing the loopback," \
    "multicast part skipped"
fi

"${in_ns[@]}" env ProgramData="$LCX_HOME" XDG_RUNTIME_DIR="$LCX_HOME/run" XDG_CONFIG_HOME="$LCX_HOME/cfg" \
  "$LCX_BIN/lcx_onvif" --background >"$LCX_HOME/disc.log" 2>&1 &
LCX_PID=$!
lcx_on_exit "kill $LCX_PID; wait $LCX_PID"
lcx_wait_log disc "WS-Discovery ready (UDP 3702, joined " 20
ip=$(sed -n 's/^  IP        : //p' "$LCX_HOME/disc.log")
joined=$(sed -n 's/^WS-Discovery ready (UDP 3702, joined \([0-9]*\) interface(s))$/\1/p' "$LCX_HOME/disc.log")
echo "advertised $ip, joined $joined interface(s)"

multicast=0
if ((${#in_ns[@]})); then
  multicast=1
  [[ $joined == 2 ]] || fail "the namespace has two adapters up, the engine joined $joined"
fi

"${in_ns[@]}" node "$here/onvif_discovery_client.mjs" "$ip" "$onvif_port" "$multicast" "$here" || fail "discovery"
echo "it_onvif_discovery: all checks passed"
