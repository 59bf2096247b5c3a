#!/usr/bin/env bash
# "--dump-screens DIR" as a user runs it: the program writes the paused
# picture as DIR/dump_paused.png, a 1280x720 PNG with the pause bars at their
# pixels, and exits 0 even when the folder cannot take it. No display needed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }

[[ -x $LCX_BIN/lcx_onvif ]] || fail "$LCX_BIN/lcx_onvif is not built"
command -v python3 >/dev/null || lcx_skip "python3 is needed to read the PNG"

lcx_engine_home
out=$LCX_HOME/dump
mkdir -p "$out"
rc=0
(unset DISPLAY; lcx_engine_env timeout 30 "$LCX_BIN/lcx_onvif" --dump-screens "$out") >"$LCX_HOME/dump.log" 2>&1 || rc=$?
((rc == 0)) || fail "--dump-screens exited $rc: $(cat "$LCX_HOME/dump.log")"
[[ -s $out/dump_paused.png ]] || fail "no dump_paused.png written"

# Decode the PNG with the standard library only and check what a viewer sees.
python3 "$here/video_stills_paused_png.py" "$out/dump_paused.png" || fail "dump_paused.png is not the paused picture"

# A folder that cannot take the file: nothing written, still exit 0.
rc=0
(unset DISPLAY; lcx_engine_env timeout 30 "$LCX_BIN/lcx_onvif" --dump-screens "$LCX_HOME/missing/folder") \
  >"$LCX_HOME/dump2.log" 2>&1 || rc=$?
((rc == 0)) || fail "--dump-screens into a missing folder exited $rc"
[[ ! -e $LCX_HOME/missing ]] || fail "a missing folder was created"
echo "PASS: it_video_stills"
