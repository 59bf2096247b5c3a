#!/usr/bin/env bash
# The service roles, with systemctl a stand-in on PATH that records its
# calls and prints the graphical session's environment for
# show-environment, and the test playing systemd for --service:
# INVOCATION_ID, a NOTIFY_SOCKET it listens on, SIGTERM to stop. Against a
# real user manager it_desktop_systemd.sh runs the same roles; this one sees
# what that cannot: the exact systemctl calls, READY=1 and STOPPING=1, the
# stop time, and the session's environment reaching the engine. The program is the desktop harness copied as "lcx_onvif", so the
# supervisor recognises the engines it starts by their name.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"

harness=$LCX_BIN/desktop/lcx_desktop_harness
[[ -x $harness ]] || { echo "FAIL: $harness is not built" >&2; exit 1; }
command -v python3 >/dev/null || lcx_skip "python3 is not installed"
lcx_start_display 1280x800x24
lcx_engine_home
fail() { echo "FAIL: $*" >&2; exit 1; }

bin=$LCX_HOME/bin
mkdir -p "$bin" "$LCX_HOME/app dir"
exe="$LCX_HOME/app dir/lcx_onvif"
cp "$harness" "$exe"
calls=$LCX_HOME/systemctl.calls
cat >"$bin/systemctl" <<EOF
#!/bin/sh
echo "\$*" >>'$calls'
if [ "\$*" = "--user show-environment" ]; then
  printf 'DISPLAY=%s\nHOME=%s\nPATH=/usr/bin:/bin\nProgramData=%s\nXDG_RUNTIME_DIR=%s\nXDG_CONFIG_HOME=%s\nLCX_SESSION_MARK=\$%s\n' \
    '$DISPLAY' '$LCX_HOME' '$LCX_HOME' '$LCX_HOME/run' '$LCX_HOME/cfg' "'from the session'"
fi
exit 0
EOF
chmod +x "$bin/systemctl"
export PATH="$bin:$PATH" XDG_CONFIG_HOME=$LCX_HOME/cfg ProgramData=$LCX_HOME XDG_RUNTIME_DIR=$LCX_HOME/run
unit=$LCX_HOME/cfg/systemd/user/lumicast.service
printf 'eula_accepted = 1\r\nshow_icon = 0\r\n' >"$LCX_HOME/Halvorix/lcx.cfg"

echo "--- --install-service writes the unit, reloads and enables it"
"$exe" --install-service || fail "--install-service exited $?"
[[ -f $unit ]] || fail "no unit file"
grep -qxF "ExecStart=\"$exe\" --service" "$unit" || fail "ExecStart: $(cat "$unit")"
grep -qxF "Description=Lumicast Camera Service" "$unit" || fail "Description: $(cat "$unit")"
[[ $(cat "$calls") == $'--user daemon-reload\n--user enable --now lumicast.service' ]] ||
  fail "systemctl calls: $(cat "$calls")"

echo "--- a second install leaves an existing unit alone"
printf '[Service]\nExecStart=/elsewhere --service\n' >"$unit"
: >"$calls"
"$exe" --install-service || fail "second --install-service exited $?"
[[ $(cat "$unit") == $'[Service]\nExecStart=/elsewhere --service' ]] || fail "the unit was rewritten"
grep -qx -- '--user enable --now lumicast.service' "$calls" || fail "not started again: $(cat "$calls")"

echo "--- --uninstall-service stops, disables and removes it; again it is a no-op"
: >"$calls"
"$exe" --uninstall-service || fail "--uninstall-service exited $?"
[[ ! -e $unit ]] || fail "the unit is still there"
[[ $(cat "$calls") == $'--user stop lumicast.service\n--user disable lumicast.service\n--user daemon-reload' ]] ||
  fail "systemctl calls: $(cat "$calls")"
: >"$calls"
"$exe" --uninstall-service || fail "uninstalling a missing unit must exit 0"
[[ ! -s $calls ]] || fail "nothing to do, yet systemctl was called: $(cat "$calls")"

echo "--- --service outside systemd exits 1 and starts nothing"
rc=0
env -u INVOCATION_ID "$exe" --service 2>/dev/null || rc=$?
[[ $rc -eq 1 ]] || fail "--service from a shell exited $rc"
[[ ! -s $calls ]] || fail "systemctl was called: $(cat "$calls")"

echo "--- --service under systemd keeps one engine in the session and stops at once"
notify=$LCX_HOME/run/notify.sock
python3 "$here/desktop_service_notify.py" "$notify" >"$LCX_HOME/notify.log" &
notify_pid=$!
lcx_on_exit "kill $notify_pid"
for ((i = 0; i < 50; i++)); do [[ -S $notify ]] && break; sleep 0.1; done
engines() {  # the engines of this test's session (others may run on the machine), but the service
  local p
  for p in $(pgrep -x lcx_onvif); do
    [[ $p != "$service_pid" ]] || continue
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qx "ProgramData=$LCX_HOME" && echo "$p"
  done
  return 0
}
INVOCATION_ID=0123456789abcdef NOTIFY_SOCKET=$notify "$exe" --service >"$LCX_HOME/service.log" 2>&1 &
service_pid=$!
lcx_on_exit "kill $service_pid"
for ((i = 0; i < 50; i++)); do grep -q READY=1 "$LCX_HOME/notify.log" && break; sleep 0.1; done
grep -q READY=1 "$LCX_HOME/notify.log" || fail "no READY=1; the service said: $(cat "$LCX_HOME/service.log")"
for ((i = 0; i < 50; i++)); do [[ -n $(engines) ]] && break; sleep 0.1; done
engine=$(engines)
[[ -n $engine ]] || fail "no engine started: $(cat "$LCX_HOME/service.log")"
tr '\0' '\n' <"/proc/$engine/environ" | grep -qx "LCX_SESSION_MARK=from the session" ||
  fail "the engine did not get the session's environment"
tr '\0' '\n' <"/proc/$engine/cmdline" | grep -qx -- "--background" || fail "the engine lacks --background"
[[ $(readlink "/proc/$engine/cwd") == "$LCX_HOME/app dir" ]] || fail "the engine's directory is $(readlink "/proc/$engine/cwd")"
sleep 7  # two more polls
[[ $(engines) == "$engine" ]] || fail "a running engine must not get company: $(engines | tr '\n' ' ')"

kill "$engine"
for ((i = 0; i < 50; i++)); do
  new=$(engines)
  [[ -n $new && $new != "$engine" ]] && break
  sleep 0.1
done
[[ -n $new && $new != "$engine" ]] || fail "no new engine within a poll after the old one ended"

start=$(date +%s%N)
kill -TERM "$service_pid"
rc=0
wait "$service_pid" || rc=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
[[ $rc -eq 0 ]] || fail "the service ended with $rc"
((elapsed_ms < 3000)) || fail "the stop took ${elapsed_ms} ms"
for ((i = 0; i < 20; i++)); do grep -q STOPPING=1 "$LCX_HOME/notify.log" && break; sleep 0.1; done
grep -q STOPPING=1 "$LCX_HOME/notify.log" || fail "no STOPPING=1"
kill -0 "$new" 2>/dev/null || fail "stopping the service ended the engine"
kill "$new"
grep -c "started the engine" "$LCX_HOME/service.log" | grep -qx 2 ||
  fail "expected two starts: $(cat "$LCX_HOME/service.log")"
echo "PASS"
