#!/usr/bin/env bash
# Soak (not in CI): the real engine in a private network namespace on a
# private Xvfb, with RTSP viewers, ONVIF calls, snapshots and discovery
# probes coming and going at random (bench/soak_load.py); the engine's RSS,
# threads and descriptors every minute. Then kill -9 of a settings writer at
# random moments: the file must always parse and hold the old or the new save.
# Usage: bench/soak.sh [MINUTES=60] [KILL_ROUNDS=300]
# Needs build/lcx_onvif, lcx_scene and lcx_soak_save (LCX_BUILD_DIR elsewhere).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export LCX_BUILD_DIR=${LCX_BUILD_DIR:-$here/build}
source "$here/tests/lib/display.sh"
source "$here/tests/lib/engine.sh"
lcx_private_network "$@"
source "$here/tests/rtsp_common.sh"
rtsp_need python3
minutes=${1:-60}
rounds=${2:-300}
[[ -x $LCX_BUILD_DIR/lcx_soak_save ]] || fail "$LCX_BUILD_DIR/lcx_soak_save is not built"

lcx_start_display 1280x720x24
lcx_engine_home
rtsp_port=$(lcx_free_port)
onvif_port=$(lcx_free_port)
lcx_write_config "rtsp_port = $rtsp_port" "onvif_port = $onvif_port" "web_admin = 0" "fps = 10" \
  "substream = 1" "sub_width = 640" "stream_auth = 1" "admin_user = admin" "admin_pass = soak-pass"
lcx_engine_start soak --background
lcx_wait_log soak "RTSP server ready (multi-client) -> rtsp://<ip>:$rtsp_port/" 40 || fail "RTSP did not come up"
lcx_wait_log soak "ONVIF HTTP ready" 20 || fail "ONVIF did not come up"

echo "soak: $minutes min of load on engine pid $LCX_PID (rtsp $rtsp_port, onvif $onvif_port)"
load_rc=0
python3 "$here/bench/soak_load.py" --pid "$LCX_PID" --rtsp-port "$rtsp_port" --onvif-port "$onvif_port" \
  --minutes "$minutes" | tee "$LCX_HOME/soak_load.out" || load_rc=$?
kill -0 "$LCX_PID" 2>/dev/null || fail "the engine died during the soak; its log ends: $(tail -20 "$LCX_HOME/soak.log")"

# kill -9 during saves. Generation g is a complete set of keys written by one
# SaveConfigKeysAt; after the kill the file must hold the last generation the
# writer reported or the one it was writing, and every other line intact.
cfg_dir=$LCX_HOME/killtest
mkdir -p "$cfg_dir"
cfg=$cfg_dir/lcx.cfg
printf '%s\r\n' "# Lumicast config" "rtsp_port = 554" "onvif_port = 8000" "admin_user = admin" \
  "device_name = soak-0" "soak_generation = 0" "fps = 1" >"$cfg"
keys_before=$(wc -l <"$cfg")
reported=0
new_seen=0
old_seen=0
for ((round = 1; round <= rounds; round++)); do
  "$LCX_BUILD_DIR/lcx_soak_save" "$cfg" $((reported + 1)) >"$cfg_dir/out" 2>"$cfg_dir/err" &
  writer=$!
  sleep "0.$(printf '%03d' $((RANDOM % 300)))"
  kill -9 "$writer"
  wait "$writer" 2>/dev/null || true
  last=$(tail -n 1 "$cfg_dir/out")
  last=${last:-$reported}
  read -r gen name fps padding keys < <("$LCX_BUILD_DIR/lcx_soak_save" --show "$cfg")
  [[ $gen == "$last" ]] && old_seen=$((old_seen + 1))
  [[ $gen == $((last + 1)) ]] && new_seen=$((new_seen + 1))
  if [[ $gen != "$last" && $gen != $((last + 1)) ]]; then
    fail "round $round: the file holds generation '$gen', the writer had reported $last"
  fi
  [[ $name == "soak-$gen" && $fps == $((gen % 60 + 1)) ]] ||
    fail "round $round: a mixed save: generation $gen with device_name $name and fps $fps"
  ((gen == 0)) || [[ $padding == 65536 ]] || fail "round $round: generation $gen with a cut padding ($padding bytes)"
  ((keys >= keys_before - 1)) || fail "round $round: only $keys keys left"
  grep -q '^rtsp_port = 554' "$cfg" || fail "round $round: an untouched line was lost"
  reported=$gen
done
leftover=$([[ -e $cfg.tmp ]] && echo "a" || echo "no")
echo "kill -9 during saves: $rounds kills, the file always parsed; last reported generation found $old_seen times," \
  "the one being written $new_seen times; reached generation $reported; $leftover $cfg.tmp left behind"
exit "$load_rc"
