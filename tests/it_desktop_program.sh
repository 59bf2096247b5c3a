#!/usr/bin/env bash
# The real program on a desktop (Xvfb, openbox, a trayer tray), driven as a
# user would, by mouse and keyboard and through the accessibility tree: the
# first-run agreement before any server starts, the tray icon and its menu,
# a wrong and a right login, the language button, the stream switch as an RTSP client sees it,
# the autostart switch, hiding the icon, "Apply & restart" with a new frame
# rate, a second start bringing up the login window, a factory reset whose
# relaunched copy asks for the agreement again, in Arabic, and declining it.
# The program runs under tests/lib/subreaper.py, so the copies it relaunches
# are our children and their exit codes are seen. Screenshots of every
# window go to $LCX_DESKTOP_SHOTS when it is set.
# (it_desktop_windows.sh keeps the harness for what the program cannot show:
# recovery with a code signed by a test key, and relaunches seen as lines.)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/lib/desktop_session.sh"
source "$here/rtsp_common.sh"
rtsp_need ffmpeg ffprobe python3 ss compare

# The size --dump-screens draws the paused picture at, to compare with.
lcx_start_display 1280x720x24
lcx_start_desktop_session
lcx_desktop_accessibility
lcx_engine_home
shots=${LCX_DESKTOP_SHOTS:-$LCX_HOME/shots}
mkdir -p "$shots" "$LCX_HOME/tmp"
export ProgramData=$LCX_HOME XDG_RUNTIME_DIR=$LCX_HOME/run XDG_CONFIG_HOME=$LCX_HOME/cfg TMPDIR=$LCX_HOME/tmp
cfg=$LCX_HOME/Halvorix/lcx.cfg
exits=$LCX_HOME/exits
: >"$exits"
rtsp_port=$(lcx_free_port)
url=rtsp://127.0.0.1:$rtsp_port/screenlive

at() { /usr/bin/python3 "$here/lib/atspi.py" "$@"; }
saved() { tr -d '\r' <"$cfg"; }
reads() {  # reads TITLE TEXT: the window shows that text
  local texts
  texts=$(at texts "$1") || fail "no window '$1' in the accessibility tree"
  grep -qxF -- "$2" <<<"$texts" || fail "'$1' does not read '$2'; it reads: $texts"
}
wait_saved() {  # wait_saved LINE: the configuration file holds that line
  local i
  for ((i = 0; i < 50; i++)); do grep -qxF -- "$1" <(saved) && return 0; sleep 0.1; done
  fail "'$1' not saved: $(saved)"
}
start_program() {  # start_program NAME ARGS...: the program under the subreaper
  local name=$1
  shift
  /usr/bin/python3 "$here/lib/subreaper.py" "$exits" "$LCX_BIN/lcx_onvif" "$@" >"$LCX_HOME/$name.log" 2>&1 &
}
one_engine() {  # the pid of the one copy running (waits up to 10 s)
  local i pids
  for ((i = 0; i < 100; i++)); do
    pids=$(lcx_engine_pids)
    [[ -n $pids && $(wc -w <<<"$pids") -eq 1 ]] && { echo "$pids"; return 0; }
    sleep 0.1
  done
  fail "expected one running copy, found: '$pids'"
}
exit_code_of() {  # exit_code_of PID: wait (10 s) for it to end, print its code
  local i
  for ((i = 0; i < 100; i++)); do
    awk -v p="$1" '$1 == p {print $2; f = 1} END {exit !f}' "$exits" && return 0
    sleep 0.1
  done
  fail "process $1 did not end"
}
no_listener() {  # no socket of the program listens
  local l
  l=$(ss -Htlnup | grep lcx_onvif || true)
  [[ -z $l ]] || fail "$1: the program listens: $l"
}
ready_count() { grep -c "RTSP server ready" "$LCX_HOME/$1.log" || true; }
tray_menu() {  # tray_menu N [SHOT]: right-click the icon, pick the N-th item
  local xy i
  xy=$(lcx_tray_icon_xy) || fail "no icon in the tray"
  xdotool mousemove ${xy% *} ${xy#* } click 3
  sleep 0.5
  [[ -z ${2:-} ]] || lcx_shot "$shots/$2"
  for ((i = 0; i < $1; i++)); do xdotool key Down; done
  xdotool key Return
}
wait_icon() {
  local i
  for ((i = 0; i < 50; i++)); do lcx_tray_icon_xy >/dev/null && return 0; sleep 0.1; done
  fail "the icon did not dock in the tray"
}
# Answers the message box titled CAPTION with Enter once it reads TEXT.
answer_box() {
  local caption=$1 text=$2 file=${3:-} box
  box=$(lcx_wait_window "$caption")
  reads --alert "$text"
  [[ -z $file ]] || lcx_shot "$shots/$file" "$box"
  xdotool windowactivate --sync "$box"
  xdotool key Return
  lcx_wait_no_window "$caption"
}
login() {  # login TITLE USER PASSWORD
  local win
  win=$(lcx_wait_window "$1")
  xdotool windowactivate --sync "$win"
  xdotool key ctrl+a
  xdotool type --delay 10 "$2"
  xdotool key Tab ctrl+a
  xdotool type --delay 10 "$3"
  xdotool key Return
}
rate() {  # rate: frames a second and time-stamp steps an RTSP client gets
  python3 "$RTSP_PROBE" rate "$url" --seconds 4 || fail "no frames from $url"
}
# PSNR (dB) against the paused picture of the frame an RTSP client decodes
# last within a second; the frame is kept as $shots/NAME.png.
psnr_to_paused() {
  local frame=$shots/$1.png
  rm -f "$frame"
  timeout 30 ffmpeg -nostdin -v error -rtsp_transport tcp -i "$url" -t 1 -update 1 "$frame" ||
    fail "ffmpeg could not decode a frame of $url"
  local db
  # compare exits 1 when the pictures differ, which is the point here.
  db=$(compare -metric PSNR "$frame" "$LCX_HOME/dump/dump_paused.png" null: 2>&1 || true)
  [[ $db =~ ^[0-9.]+$|^inf ]] || fail "compare: $db"
  [[ $db == inf* ]] && db=99
  echo "${db%%.*}"
}

echo "--- first start: the agreement in Arabic, no server while it is asked"
# A password of our own: the factory admin would first ask for its replacement
# (it_desktop_windows covers that step).
lcx_write_config "rtsp_port = $rtsp_port" "onvif_port = $(lcx_free_port)" "web_port = $(lcx_free_port)" \
  "fps = 10" "substream = 0" "admin_pass = progpass1"
start_program first
eula_ar="اتفاقية الترخيص — التشغيل الأول"
eula=$(lcx_wait_window "$eula_ar")
pid=$(one_engine)
lcx_shot "$shots/eula_ar.png" "$eula"
reads "$eula_ar" "✔ أوافق"
no_listener "before the agreement is answered"
xdotool windowactivate --sync "$eula"
xdotool key Return  # "Agree" has the focus
lcx_wait_log first "RTSP server ready" 30
wait_saved "eula_accepted = 1"

echo "--- the tray icon, its menu and About"
wait_icon
xy=$(lcx_tray_icon_xy)
import -window root -crop 60x40+$((${xy% *} - 40))+0 "$shots/tray_icon.png" 2>/dev/null
tray_menu 3 tray_menu_ar.png
about=$(lcx_wait_window "عن Lumicast")
lcx_shot "$shots/about_ar.png" "$about"
xdotool windowclose "$about" 2>/dev/null || xdotool key --window "$about" alt+F4
lcx_wait_no_window "عن Lumicast"

echo "--- Open control panel: a wrong login, then the right one; the language button"
tray_menu 1
login_ar="تسجيل الدخول — لوحة التحكّم"
lcx_shot "$shots/login_ar.png" "$(lcx_wait_window "$login_ar")"
login "$login_ar" admin nope
answer_box "!" "بيانات الدخول غير صحيحة." login_wrong_ar.png
# After the refusal the focus is back in the password field and the user name stays:
# the first word lands there.
login "$login_ar" progpass1 progpass1
admin_ar="Lumicast — لوحة التحكّم | Halvorix"
admin=$(lcx_wait_window "$admin_ar")
for tab in الحالة:status الفيديو:video الشبكة:network المستخدمون:users; do
  at press "$admin_ar" "${tab%%:*}"
  lcx_shot "$shots/admin_ar_${tab#*:}.png" "$admin"
done
at press "$admin_ar" EN
admin_title="Lumicast — Control Panel | Halvorix"
admin=$(lcx_wait_window "$admin_title")
wait_saved "lang = en"
for tab in Status Video Network Users; do
  at press "$admin_title" "$tab"
  lcx_shot "$shots/admin_en_${tab,,}.png" "$admin"
done
at press "$admin_title" About
lcx_shot "$shots/about_en.png" "$(lcx_wait_window "About Lumicast")"
xdotool windowclose "$(lcx_wait_window "About Lumicast")"

echo "--- the stream switch pauses and resumes what an RTSP client sees"
mkdir -p "$LCX_HOME/dump"
"$LCX_BIN/lcx_onvif" --dump-screens "$LCX_HOME/dump" 2>"$LCX_HOME/dump.log"
[[ -s $LCX_HOME/dump/dump_paused.png ]] || fail "--dump-screens wrote no paused picture"
live=$(rate)
python3 -c 'import json,sys; r=json.loads(sys.argv[1]); assert 8 <= r["fps"] <= 12, r' "$live" ||
  fail "running stream: $live"
live_psnr=$(psnr_to_paused rtsp_live)
at press "$admin_title" Status
at press "$admin_title" "⏸ Stop stream"
wait_saved "stream_on = 0"
reads "$admin_title" "Stream: stopped ⏸"
lcx_shot "$shots/admin_en_status_stopped.png" "$admin"
# A new client first gets the frames queued before the pause (steps of
# 1/10 s), then the paused picture twice a second.
paused=$(rate)
python3 -c 'import json,sys; r=json.loads(sys.argv[1]); assert 1.5 <= r["fps"] <= 2.5 and 45000 in r["ts_steps"], r' \
  "$paused" || fail "paused stream: $paused"
paused_psnr=$(psnr_to_paused rtsp_paused)
# The screen (black, a few windows) is far from the picture; a decoded
# paused frame is close to it.
((paused_psnr >= 30 && live_psnr < 20)) || fail "PSNR to the paused picture: live $live_psnr dB, paused $paused_psnr dB"
at press "$admin_title" "▶ Start stream"
wait_saved "stream_on = 1"
resumed=$(rate)
python3 -c 'import json,sys; r=json.loads(sys.argv[1]); assert 8 <= r["fps"] <= 12, r' "$resumed" ||
  fail "resumed stream: $resumed"
(($(psnr_to_paused rtsp_resumed) < 20)) || fail "the resumed stream still shows the paused picture"

echo "--- the autostart switch creates and removes the entry"
entry=$LCX_HOME/cfg/autostart/Lumicast.desktop
at press "$admin_title" Network
at press "$admin_title" "Run automatically at start-up"
for ((i = 0; i < 30; i++)); do [[ -f $entry ]] && break; sleep 0.1; done
grep -qxF "Exec=\"$LCX_BIN/lcx_onvif\" --background" "$entry" || fail "autostart entry: $(cat "$entry" 2>&1)"
lcx_shot "$shots/admin_en_network_autostart.png" "$admin"
at press "$admin_title" "Run automatically at start-up"
for ((i = 0; i < 30; i++)); do [[ ! -e $entry ]] && break; sleep 0.1; done
[[ ! -e $entry ]] || fail "the autostart entry was not removed"

echo "--- hiding the icon from the tray menu saves show_icon 0"
tray_menu 4 tray_menu_en.png
wait_saved "show_icon = 0"
sleep 0.5
lcx_tray_icon_xy >/dev/null && fail "the icon is still in the tray"
[[ $(at checked "$admin_title" "Show app icon in the taskbar tray") == 0 ]] ||
  fail "the admin window's icon box did not follow the tray"

echo "--- a new frame rate with Apply & restart: the relaunched engine streams it"
at press "$admin_title" Video
at set "$admin_title" "Frames per second:" 15
at press "$admin_title" "Apply & restart"
answer_box OK "Save settings and restart the engine now?" apply_question_en.png
[[ $(exit_code_of "$pid") == 0 ]] || fail "the relaunching copy did not end with 0"
for ((i = 0; i < 300; i++)); do (($(ready_count first) == 2)) && break; sleep 0.1; done
(($(ready_count first) == 2)) || fail "the relaunched engine did not start: $(cat "$LCX_HOME/first.log")"
pid=$(one_engine)
wait_saved "fps = 15"
probe=$(ffprobe -v error -rtsp_transport tcp -timeout 10000000 -select_streams v:0 \
  -show_entries stream=codec_name,r_frame_rate -of csv=p=0 "$url") || fail "ffprobe failed"
[[ $probe == h264,15/1 ]] || fail "ffprobe saw '$probe'"
sleep 1
lcx_tray_icon_xy >/dev/null && fail "a hidden icon came back with the relaunch"

echo "--- a second start brings up the login window of the hidden program"
"$LCX_BIN/lcx_onvif" >"$LCX_HOME/second.log" 2>&1 || fail "the second start exited $?"
lcx_shot "$shots/login_en.png" "$(lcx_wait_window "Login — Control Panel")"
login "Login — Control Panel" admin nope
answer_box "!" "Invalid login credentials." login_wrong_en.png
# After the refusal the focus is back in the password field and the user name stays:
# the first word lands there.
login "Login — Control Panel" progpass1 progpass1
admin=$(lcx_wait_window "$admin_title")

echo "--- factory reset: the English-header template, the agreement asked again in Arabic"
at press "$admin_title" Users
lcx_shot "$shots/admin_en_users_reset.png" "$admin"
at press "$admin_title" "Factory reset"
box=$(lcx_wait_window "Factory reset")
lcx_shot "$shots/factory_question_en.png" "$box"
xdotool windowactivate --sync "$box"
xdotool key Return
[[ $(exit_code_of "$pid") == 0 ]] || fail "the copy that reset did not end with 0"
[[ $(head -1 "$cfg") == $'# Lumicast config\r' ]] || fail "not the English-header template: $(head -3 "$cfg")"
grep -Eq "^(eula_accepted|lang) |^fps *= *15" <(saved) && fail "the settings were kept: $(saved)"
grep -qxE "admin_pass *= *admin" <(saved) || fail "the login was not reset: $(saved)"
eula=$(lcx_wait_window "$eula_ar" 20)
pid=$(one_engine)
lcx_shot "$shots/eula_ar_after_reset.png" "$eula"
no_listener "while the agreement is asked again"
(($(ready_count first) == 2)) || fail "a server started before the agreement"

echo "--- declining it: logged, exit 0, no server"
at press "$eula_ar" "✖ أرفض"
[[ $(exit_code_of "$pid") == 0 ]] || fail "declining must exit 0"
grep -qxF "EULA declined — exiting." "$LCX_HOME/first.log" || fail "no decline line: $(cat "$LCX_HOME/first.log")"
(($(ready_count first) == 2)) || fail "a server started after the decline"
no_listener "after the decline"
[[ -z $(lcx_engine_pids) ]] || fail "a copy still runs: $(lcx_engine_pids)"

echo "--- the agreement in English, closed: declined too"
printf 'lang = en\r\nrtsp_port = %s\r\n' "$rtsp_port" >"$cfg"
start_program english
eula=$(lcx_wait_window "License Agreement — First Run")
pid=$(one_engine)
lcx_shot "$shots/eula_en.png" "$eula"
xdotool windowclose "$eula" 2>/dev/null || xdotool key --window "$eula" alt+F4
[[ $(exit_code_of "$pid") == 0 ]] || fail "closing the agreement must exit 0"
grep -qxF "EULA declined — exiting." "$LCX_HOME/english.log" || fail "no decline line: $(cat "$LCX_HOME/english.log")"
echo "PASS"
