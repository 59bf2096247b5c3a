#!/usr/bin/env bash
# The first-run agreement on a screen nobody sees (what scripts/run.sh does
# without a display): asked on the terminal, accepted by typing yes (a real
# pty through script), declined by anything else, and without any input the
# program says how to accept and exits 1 with nothing listening. Asked once:
# the next start, and one after --accept-agreement, come up without a question.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v script >/dev/null || lcx_skip "script (util-linux) is not installed"

lcx_start_display 1280x720x24  # a display exists: the window would open on it
lcx_engine_home
rtsp=$(lcx_free_port) onvif=$(lcx_free_port) web=$(lcx_free_port)
config=("rtsp_port = $rtsp" "onvif_port = $onvif" "web_port = $web")
lcx_write_config "${config[@]}"
cfg=$LCX_HOME/Halvorix/lcx.cfg
question="Type yes to accept the license agreement and start the camera"
listening() { ss -Htln "sport = :$1" | grep -q .; }

echo "--- no input at all: how to accept, exit 1, nothing started"
rc=0
lcx_engine_env timeout 20 "$LCX_BIN/lcx_onvif" --terminal-agreement </dev/null >"$LCX_HOME/none.log" 2>&1 || rc=$?
((rc == 1)) || fail "exit $rc without an answer; the log: $(cat "$LCX_HOME/none.log")"
grep -qF "$question" "$LCX_HOME/none.log" || fail "no question asked"
grep -qF "End-User License Agreement" "$LCX_HOME/none.log" || fail "the agreement's text was not printed"
grep -qxF "  Accept it:  $LCX_BIN/lcx_onvif --accept-agreement" "$LCX_HOME/none.log" ||
  fail "no way to accept told: $(cat "$LCX_HOME/none.log")"
grep -q eula_accepted "$cfg" && fail "an unanswered question saved: $(cat "$cfg")"

echo "--- declined: the window's Decline line, exit 0, nothing saved"
rc=0
echo no | lcx_engine_env timeout 20 "$LCX_BIN/lcx_onvif" --terminal-agreement >"$LCX_HOME/no.log" 2>&1 || rc=$?
((rc == 0)) || fail "exit $rc after declining"
grep -qxF "EULA declined — exiting." "$LCX_HOME/no.log" || fail "no decline line: $(cat "$LCX_HOME/no.log")"
grep -q "ready" "$LCX_HOME/no.log" && fail "a server started after declining"
grep -q eula_accepted "$cfg" && fail "a declined agreement saved: $(cat "$cfg")"

echo "--- yes typed on a terminal: saved as the window saves it, the camera comes up"
: >"$LCX_HOME/yes.log"
# The keyboard is a FIFO held open here, so the terminal stays up after "yes".
mkfifo "$LCX_HOME/keys"
lcx_engine_env script -qefc "$LCX_BIN/lcx_onvif --terminal-agreement" /dev/null <"$LCX_HOME/keys" \
  >>"$LCX_HOME/yes.log" 2>&1 &
typed=$!
exec 3>"$LCX_HOME/keys"
lcx_on_exit "exec 3>&-; kill $typed; wait $typed"
echo yes >&3
lcx_wait_log yes "RTSP server ready" 30
lcx_wait_log yes "Web Admin ready" 10
tr -d '\r' <"$cfg" | grep -qx "eula_accepted = 1" || fail "acceptance not saved: $(cat "$cfg")"
for port in "$rtsp" "$onvif" "$web"; do listening "$port" || fail "nothing listens on $port"; done
out=$(timeout 20 ffprobe -v error -rtsp_transport tcp -select_streams v:0 -show_entries stream=codec_name \
  -of csv=p=0 "rtsp://127.0.0.1:$rtsp/screenlive") || fail "ffprobe of the stream failed"
[[ $out == h264 ]] || fail "ffprobe saw '$out'"
lcx_engine_kill_all

echo "--- asked once: the next start, with no input, comes up without a question"
lcx_engine_start again --terminal-agreement
lcx_wait_log again "Web Admin ready" 30
grep -qF "$question" "$LCX_HOME/again.log" && fail "asked a second time"
lcx_engine_kill_all

echo "--- --accept-agreement, for a start with no terminal"
lcx_write_config "${config[@]}"
lcx_engine_env "$LCX_BIN/lcx_onvif" --accept-agreement >"$LCX_HOME/accept.log" 2>&1 || fail "--accept-agreement failed"
tr -d '\r' <"$cfg" | grep -qx "eula_accepted = 1" || fail "--accept-agreement saved nothing: $(cat "$cfg")"
lcx_engine_start accepted --terminal-agreement
lcx_wait_log accepted "Web Admin ready" 30
grep -qF "$question" "$LCX_HOME/accepted.log" && fail "asked after --accept-agreement"
echo "PASS"
