#!/usr/bin/env bash
# Start-up as a user and a script see it: the password checker, the protected
# password and the tamper warning, the single-instance guard and relaunch,
# SIGHUP, and hand-edited settings the editors would never write.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }

lcx_engine_home
cfg=$LCX_HOME/Halvorix/lcx.cfg
# The engine's other servers must not collide with anything: private ports.

# A fresh data folder: --check-pass knows the default password, given as the
# word or, with "-", as one line on standard input (out of the process list).
lcx_engine_env "$LCX_BIN/lcx_onvif" --check-pass admin || fail "--check-pass admin should exit 0"
if lcx_engine_env "$LCX_BIN/lcx_onvif" --check-pass wrong; then fail "--check-pass wrong should exit 1"; fi
printf 'admin\n' | lcx_engine_env "$LCX_BIN/lcx_onvif" --check-pass - || fail "--check-pass - refuses admin"
printf 'admin' | lcx_engine_env "$LCX_BIN/lcx_onvif" --check-pass - || fail "--check-pass - needs a line end"
if printf 'admin \n' | lcx_engine_env "$LCX_BIN/lcx_onvif" --check-pass -; then
  fail "--check-pass - dropped a trailing blank of the password"
fi
if lcx_engine_env "$LCX_BIN/lcx_onvif" --check-pass - </dev/null; then fail "--check-pass - with no input passed"; fi

# First start seeds the configuration from core.dat and prints the banner.
lcx_engine_start first --background
lcx_wait_log first "  Auth      : OFF (open) (user=admin)"
cmp -s "$cfg" "$LCX_BIN/core.dat" || fail "the configuration was not seeded from core.dat"
kill "$LCX_PID"; wait "$LCX_PID" || true
# From here on the servers get private ports so nothing collides.
lcx_write_config "rtsp_port = $(lcx_free_port)" "onvif_port = $(lcx_free_port)" \
  "web_port = $(lcx_free_port)" "web_admin = 0"
lcx_engine_start first --background
lcx_wait_log first "  Auth      :"
grep -qE '^  IP        : [0-9]+(\.[0-9]+){3}$' "$LCX_HOME/first.log" || fail "banner has no address"
first=$LCX_PID

# A second background start while the first runs exits 0 at once.
start=$(date +%s%N)
lcx_engine_env timeout 5 "$LCX_BIN/lcx_onvif" --background >"$LCX_HOME/second.log" 2>&1 \
  || fail "second --background start should exit 0"
(( ($(date +%s%N) - start) / 1000000 < 2000 )) || fail "second start took too long"
[[ ! -s $LCX_HOME/second.log ]] || fail "second start printed: $(cat "$LCX_HOME/second.log")"

# An interactive second start reaches the running copy's show-admin socket
# (without a display the running copy can only say so).
for _ in $(seq 100); do [[ -S $LCX_HOME/run/LCX_ShowAdmin_Halvorix.sock ]] && break; sleep 0.1; done
[[ -S $LCX_HOME/run/LCX_ShowAdmin_Halvorix.sock ]] || fail "the running copy does not listen for show-admin"
lcx_engine_env timeout 5 "$LCX_BIN/lcx_onvif" || fail "interactive second start should exit 0"
lcx_wait_log first "Desktop: show-admin asked" 5 || fail "running copy was not asked to show its window"

# A relaunch waits for the first copy to exit, then takes over.
lcx_engine_start relaunch --relaunch --background
sleep 1
grep -q "=== lcx-engine" "$LCX_HOME/relaunch.log" && fail "relaunch did not wait for the first copy"
kill "$first"
lcx_wait_log relaunch "  Auth      :" 10
relaunched=$LCX_PID

# SIGHUP (the terminal closed) ends the program like SIGTERM: exit 0 and no
# copy of it left behind holding the ports.
kill -HUP "$relaunched"
for _ in $(seq 100); do kill -0 "$relaunched" 2>/dev/null || break; sleep 0.1; done
kill -0 "$relaunched" 2>/dev/null && fail "SIGHUP did not end the program"
rc=0
wait "$relaunched" || rc=$?
((rc == 0)) || fail "SIGHUP ended the program with exit code $rc"
sleep 0.5  # a relaunched copy would have started by now
[[ -z $(lcx_engine_pids) ]] || fail "a copy runs on after SIGHUP: $(lcx_engine_pids)"

# A password saved as the editors save it is protected and accepted.
lcx_engine_env "$LCX_BUILD_DIR/lcx_test_setpass" admin 'n3w:pass' || fail "could not set a password"
grep -q '^admin_pass = enc:' "$cfg" || fail "the password is not stored protected"
lcx_engine_env "$LCX_BIN/lcx_onvif" --check-pass 'n3w:pass' || fail "--check-pass refuses the new password"
printf '%s\n' 'n3w:pass' | lcx_engine_env "$LCX_BIN/lcx_onvif" --check-pass - ||
  fail "--check-pass - refuses the new password"
if lcx_engine_env "$LCX_BIN/lcx_onvif" --check-pass admin; then fail "the old password still passes"; fi
[[ $(cat "$LCX_HOME/cfg/Halvorix/LCX/pwenc") == 1 ]] || fail "protected-password flag not set"

# The same file with a damaged blob: start-up locks the logins and says so.
sed -i 's/^admin_pass = enc:\(....\)/admin_pass = enc:AAAA/' "$cfg"
lcx_engine_start tampered --background
lcx_wait_log tampered "WARNING: admin_pass tampered/undecryptable -> login locked; use HWID recovery."
kill "$LCX_PID"; wait "$LCX_PID" || true

# A plain password written by hand while the flag is set locks as well.
sed -i 's/^admin_pass = .*/admin_pass = admin/' "$cfg"
lcx_engine_start by_hand --background
lcx_wait_log by_hand "WARNING: admin_pass tampered/undecryptable"
lcx_engine_kill_all

# Values the editors would never write: no rtsp_port key with an option word
# first on the command line (once port 0), fps = 0 (once a stream without
# key frames) and a bit rate below the editors' range. The namespace is ours,
# so the fixed default port is free.
lcx_write_config "onvif_port = $(lcx_free_port)" "web_admin = 0" "fps = 0" "bitrate = 1"
lcx_engine_start hand_edited --background
lcx_wait_log hand_edited "  Auth      :"
grep -qE '^  RTSP main : rtsp://[0-9.]+:8554/screenlive$' "$LCX_HOME/hand_edited.log" ||
  fail "an option word first did not leave the RTSP port at 8554: $(cat "$LCX_HOME/hand_edited.log")"
grep -qF ' @ 1 fps, ~256 kbps' "$LCX_HOME/hand_edited.log" ||
  fail "fps 0 and bitrate 1 were not clamped: $(cat "$LCX_HOME/hand_edited.log")"
echo "it_core_startup: all checks passed"
