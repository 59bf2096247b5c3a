#!/usr/bin/env bash
# The tray icon as a StatusNotifier item: with a watcher on the session bus
# (tests/lib/sni_watcher.py, which reads the item and its menu as a panel
# does) the program registers an item and docks no XEmbed icon; when the
# watcher goes away the XEmbed icon docks in the trayer tray, and when a
# watcher comes back the item registers again. A menu item clicked through
# the item's menu opens its window.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/lib/desktop_session.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
/usr/bin/python3 -c 'import gi; gi.require_version("Gio", "2.0")' 2>/dev/null ||
  lcx_skip "python3-gi is not installed"

lcx_start_display 1280x720x24
lcx_start_desktop_session
lcx_engine_home
shots=${LCX_DESKTOP_SHOTS:-$LCX_HOME/shots}
mkdir -p "$shots"
lcx_write_config "eula_accepted = 1" "rtsp_port = $(lcx_free_port)" "onvif_port = $(lcx_free_port)" "web_admin = 0"

# start_watcher N: a watcher whose lines go to watcher_N.log; commands are
# written to fd 7.
start_watcher() {
  local fifo=$LCX_HOME/watcher_$1.in
  rm -f "$fifo"
  mkfifo "$fifo"
  /usr/bin/python3 "$here/lib/sni_watcher.py" <"$fifo" >"$LCX_HOME/watcher_$1.log" 2>&1 &
  WATCHER_PID=$!
  lcx_on_exit "kill $WATCHER_PID 2>/dev/null"
  exec 7>"$fifo"
  lcx_wait_line "$LCX_HOME/watcher_$1.log" '{"watcher": "owned"}'
}
stop_watcher() {
  exec 7>&-
  kill "$WATCHER_PID" 2>/dev/null || true
  wait "$WATCHER_PID" 2>/dev/null || true
}
# registered N: the JSON line the watcher printed for the registered item.
registered() {
  local i line
  for ((i = 0; i < 100; i++)); do
    line=$(grep -m1 '"registered"' "$LCX_HOME/watcher_$1.log" 2>/dev/null) && { echo "$line"; return 0; }
    sleep 0.1
  done
  fail "no item registered with watcher $1: $(cat "$LCX_HOME/watcher_$1.log")"
}
docked() {  # docked yes|no: wait (5 s) until an XEmbed icon is, or is not, in the tray
  local i
  for ((i = 0; i < 50; i++)); do
    if lcx_tray_icon_xy >/dev/null; then [[ $1 == yes ]] && return 0
    else [[ $1 == no ]] && return 0; fi
    sleep 0.1
  done
  fail "XEmbed icon docked: expected $1"
}

echo "--- a watcher exists: the program registers a StatusNotifier item, no XEmbed icon"
start_watcher 1
lcx_engine_start engine
lcx_wait_log engine "Desktop: tray icon as a StatusNotifier item"
item=$(registered 1)
/usr/bin/python3 "$here/desktop_tray_sni_item.py" "$item" || fail "the item: $item"
docked no

echo "--- a menu item clicked through the item's menu acts"
echo "click عن البرنامج" >&7
lcx_wait_line "$LCX_HOME/watcher_1.log" '{"click": "عن البرنامج"}'
about=$(lcx_wait_window "عن Lumicast")
lcx_shot "$shots/about_ar_from_sni.png" "$about"
xdotool windowclose "$about"

echo "--- the watcher goes away: the XEmbed icon docks"
stop_watcher
docked yes
lcx_shot "$shots/tray_after_watcher_left.png"

echo "--- a watcher comes back: the item registers again and the XEmbed icon leaves"
start_watcher 2
registered 2 >/dev/null
docked no
kill -0 "$LCX_PID" || fail "the program ended"
echo "PASS"
