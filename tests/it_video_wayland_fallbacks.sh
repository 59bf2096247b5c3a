#!/usr/bin/env bash
# The camera never streams black without saying why: (1) on a Wayland
# session with no ScreenCast portal on the bus the stream and the snapshot
# carry the "Screen not shared" picture and one log line says why, however
# often the portal is tried again; (2) started with no display at all, the
# servers come up with the "no screen" picture, and once an X server starts
# the stream shows it within a couple of seconds. Private network namespace.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
source "$here/wayland_common.sh"
rtsp_need ffmpeg curl python3 Xvfb xdpyinfo dbus-daemon

lcx_engine_home
pics=$LCX_HOME/pics
mkdir -p "$pics"
wl_notice_pngs "$pics"

start_engine() {  # NAME, then settings
  local name=$1
  shift
  RTSP_PORT=$(lcx_free_port)
  ONVIF_PORT=$(lcx_free_port)
  # 1280 wide: the notices are drawn at the stream's size, as --dump-screens draws them.
  lcx_write_config "rtsp_port = $RTSP_PORT" "onvif_port = $ONVIF_PORT" "web_port = $(lcx_free_port)" \
    "web_admin = 0" "fps = 10" "substream = 0" "main_width = 1280" "$@"
  lcx_engine_start "$name" --background
  lcx_wait_log "$name" "RTSP server ready (multi-client) -> rtsp://<ip>:$RTSP_PORT/" 40 ||
    fail "the RTSP server did not come up"
}

# Which notice a picture is: its PSNR against each must single one out.
expect_notice() {  # PNG WANTED CONTEXT [MIN_DB]
  local got=$1 want=$2 what=$3 min=${4:-30} other
  local p
  p=$(wl_psnr "$got" "$pics/dump_$want.png")
  wl_psnr_at_least "$p" "$min" || fail "$what: not the $want picture (PSNR $p dB)"
  for other in not_shared waiting no_screen paused; do
    [[ $other == "$want" ]] && continue
    local q
    q=$(wl_psnr "$got" "$pics/dump_$other.png")
    python3 -c "import sys; sys.exit(0 if sys.argv[2] == 'inf' or float(sys.argv[1]) > float(sys.argv[2]) + 3 else 1)" \
      "$p" "$q" || fail "$what: as close to the $other picture ($q dB) as to $want ($p dB)"
  done
}

# ---- 1: a Wayland session whose bus has no portal -----------------------------
bus_dir=$LCX_HOME/bus
mkdir -p "$bus_dir/services"
cat >"$bus_dir/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$bus_dir/socket</listen>
  <servicedir>$bus_dir/services</servicedir>
  <policy context="default"><allow send_destination="*" eavesdrop="true"/><allow receive_sender="*"/><allow eavesdrop="true"/><allow own="*"/><allow user="*"/></policy>
</busconfig>
CONF
dbus-daemon --config-file="$bus_dir/session.conf" --nofork --nopidfile &
lcx_on_exit "kill $!"
for ((i = 0; i < 50; i++)); do [[ -S $bus_dir/socket ]] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS=unix:path=$bus_dir/socket
unset DISPLAY WAYLAND_DISPLAY
export XDG_SESSION_TYPE=wayland
start_engine noportal
lcx_wait_log noportal 'Screen: not shared: ' 20 || fail "no log line says the screen is not shared"
wl_frame "rtsp://127.0.0.1:$RTSP_PORT/screenlive" "$LCX_HOME/noportal.png" || fail "no frame without a portal"
expect_notice "$LCX_HOME/noportal.png" not_shared "the stream without a portal"
curl -s -m 20 -o "$LCX_HOME/noportal.jpg" "http://127.0.0.1:$ONVIF_PORT/onvif/snapshot" || true
[[ -s $LCX_HOME/noportal.jpg ]] || fail "no snapshot without a portal"
ffmpeg -nostdin -v error -i "$LCX_HOME/noportal.jpg" -vf scale=1280:720 -y "$LCX_HOME/noportal_snap.png"
# Drawn at the screen's size and averaged down: only which picture it is counts.
expect_notice "$LCX_HOME/noportal_snap.png" not_shared "the snapshot without a portal" 20
# The portal is tried again every few seconds; the reason is said once.
sleep 7
n=$(wl_count 'Screen: not shared: ' "$LCX_HOME/noportal.log")
[[ $n == 1 ]] || fail "$n 'not shared' lines: $(grep 'Screen:' "$LCX_HOME/noportal.log")"
grep -q 'Xwayland\|XShm' "$LCX_HOME/noportal.log" && fail "the Wayland session was captured through X11"
lcx_engine_kill_all
unset DBUS_SESSION_BUS_ADDRESS

# ---- 2: no display at start, then an X server ---------------------------------
# A display number nobody uses yet.
for ((x_number = 90; x_number < 190; x_number++)); do
  [[ -e /tmp/.X11-unix/X$x_number || -e /tmp/.X$x_number-lock ]] || break
done
unset XDG_SESSION_TYPE
export DISPLAY=:$x_number
start_engine noscreen
lcx_wait_log noscreen 'streaming the "no screen" picture' 10 || fail "no log line says there is no screen"
wl_frame "rtsp://127.0.0.1:$RTSP_PORT/screenlive" "$LCX_HOME/noscreen.png" || fail "no frame without a display"
expect_notice "$LCX_HOME/noscreen.png" no_screen "the stream without a display"

# A viewer watches while the X server starts; the screen must show within 3 s.
timeout 60 ffmpeg -nostdin -hide_banner -v error -rtsp_transport tcp -i "rtsp://127.0.0.1:$RTSP_PORT/screenlive" \
  -map 0:v:0 -t 12 -f framemd5 "$LCX_HOME/noscreen.md5" 2>"$LCX_HOME/ffmpeg_noscreen.err" &
viewer=$!
sleep 2
Xvfb ":$x_number" -screen 0 1280x720x24 -nolisten tcp -noreset 2>/dev/null &
lcx_on_exit "kill $!"
for ((i = 0; i < 100; i++)); do DISPLAY=:$x_number xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
DISPLAY=:$x_number "$LCX_BIN/lcx_scene" 20 &
lcx_on_exit "kill $!"
t_up=$(date +%s.%N)
lcx_wait_log noscreen "Screen: display \":$x_number\" is there" 5 || fail "the display was not picked up"
t_seen=$(date +%s.%N)
python3 -c "import sys; sys.exit(0 if float(sys.argv[2]) - float(sys.argv[1]) <= 3 else 1)" "$t_up" "$t_seen" ||
  fail "the display was picked up after $(python3 -c "print($t_seen - $t_up)") s"
sleep 2
wl_frame "rtsp://127.0.0.1:$RTSP_PORT/screenlive" "$LCX_HOME/screen.png" || fail "no frame once the display is there"
p=$(wl_psnr "$LCX_HOME/screen.png" "$pics/dump_no_screen.png")
python3 -c "import sys; sys.exit(0 if sys.argv[1] != 'inf' and float(sys.argv[1]) < 20 else 1)" "$p" ||
  fail "the stream still shows the \"no screen\" picture once the display is there ($p dB)"
wait "$viewer" || fail "the viewer failed across the display's arrival: $(cat "$LCX_HOME/ffmpeg_noscreen.err")"
frames=$(grep -vc '^#' "$LCX_HOME/noscreen.md5" || true)
((frames >= 60)) || fail "the viewer decoded only $frames frames in 12 s"
echo "PASS: no portal -> \"not shared\" picture and one log line; no display -> \"no screen\", then the screen within 3 s"
