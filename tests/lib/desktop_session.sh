# A small desktop session on the display of display.sh, for the tests that
# drive the tray and the windows as a user would. Source after display.sh.
#   lcx_start_desktop_session     hides the test scene; private session bus,
#                                 openbox, a trayer tray host; skips when
#                                 a tool is missing
#   lcx_start_tray / lcx_stop_tray  (re)start or end the tray host
#   lcx_tray_icon_xy              print "X Y" of the centre of the first icon
#                                 docked in the tray; fails when there is none
#   lcx_wait_window TITLE [SECS]  wait for a window with exactly that title,
#                                 print its id
#   lcx_wait_no_window TITLE [SECS]
#   lcx_click_in WINDOW X Y [BUTTON]  click at a point of a window
#   lcx_shot FILE [WINDOW]        screenshot of the screen or of one window
#   lcx_wait_line FILE TEXT [SECS]  wait until FILE holds the line TEXT
#   lcx_desktop_accessibility     after lcx_start_desktop_session: let GTK
#                                 programs started afterwards join the
#                                 accessibility bus, so tests/lib/atspi.py
#                                 can read and drive their windows; exits 77
#                                 without Python's AT-SPI binding

lcx_start_desktop_session() {
  local tool
  for tool in dbus-daemon openbox trayer xdotool xwininfo import; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      lcx_skip "$tool is not installed"
    fi
  done
  local bus_file bus_runtime
  bus_file=$(mktemp)
  # The services the bus starts (the accessibility bus among them) put their
  # sockets in its runtime folder, else in ~/.cache named after the display
  # number only, where another session on the same number would meet them.
  bus_runtime=$(mktemp -d)
  XDG_RUNTIME_DIR=$bus_runtime dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 \
    3>"$bus_file.addr" 4>"$bus_file.pid"
  DBUS_SESSION_BUS_ADDRESS=$(head -1 "$bus_file.addr")
  export DBUS_SESSION_BUS_ADDRESS
  lcx_on_exit "kill $(head -1 "$bus_file.pid"); rm -rf '$bus_file' '$bus_file.addr' '$bus_file.pid' '$bus_runtime'"
  # display.sh's moving scene is an override-redirect window over the whole
  # screen, above every managed window: put it away.
  local size id
  size=$(xwininfo -root | awk '/-geometry/ {print $2}' | cut -d+ -f1)
  for id in $(xwininfo -root -children | awk -v s=" ${size}+0+0 " 'index($0, s) {print $1}'); do
    xdotool windowunmap "$id" 2>/dev/null || true
  done
  # No accessibility bus: GTK would otherwise look for one on every start.
  export NO_AT_BRIDGE=1
  openbox --sm-disable >/dev/null 2>&1 &
  local wm=$!
  lcx_on_exit "kill $wm; wait $wm"
  lcx_start_tray
}

lcx_start_tray() {
  trayer --edge top --align right --widthtype request --height 24 --transparent false \
    --tint 0x333333 --SetDockType true >/dev/null 2>&1 &
  LCX_TRAY_PID=$!
  lcx_on_exit "kill $LCX_TRAY_PID 2>/dev/null; wait $LCX_TRAY_PID 2>/dev/null"
  local i
  for ((i = 0; i < 50; i++)); do
    xdotool search --name '^panel$' >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "FAIL: trayer did not start" >&2
  return 1
}

lcx_stop_tray() {
  kill "$LCX_TRAY_PID" 2>/dev/null
  wait "$LCX_TRAY_PID" 2>/dev/null || true
  return 0
}

lcx_tray_icon_xy() {
  local panel line
  panel=$(xdotool search --name '^panel$' 2>/dev/null | head -1) || true
  [[ -n $panel ]] || return 1
  # Children of the panel are the docked icons: "0x.. (..): ()  22x22+1+1  +1256+1".
  line=$(xwininfo -children -id "$panel" 2>/dev/null | grep -E '^ +0x[0-9a-f]+ .*[0-9]+x[0-9]+\+' | head -1) || true
  [[ -n $line ]] || return 1
  local size abs w h x y
  size=$(grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+' <<<"$line" | head -1)
  abs=$(grep -oE '\+-?[0-9]+\+-?[0-9]+$' <<<"$line")
  w=${size%%x*}
  h=${size#*x}
  h=${h%%+*}
  x=${abs#+}
  x=${x%%+*}
  y=${abs##*+}
  ((w > 1 && h > 1)) || return 1
  echo "$((x + w / 2)) $((y + h / 2))"
}

lcx_wait_window() {
  local title=$1 secs=${2:-10} i id
  for ((i = 0; i < secs * 10; i++)); do
    id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -1) || true
    if [[ -n $id ]]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  echo "FAIL: no window titled '$title' within ${secs}s" >&2
  return 1
}

lcx_wait_no_window() {
  local title=$1 secs=${2:-10} i
  for ((i = 0; i < secs * 10; i++)); do
    xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  echo "FAIL: window '$title' still open after ${secs}s" >&2
  return 1
}

lcx_click_in() {
  local win=$1 x=$2 y=$3 button=${4:-1}
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
  xdotool mousemove --window "$win" "$x" "$y" click "$button"
}

lcx_shot() {
  local file=$1 win=${2:-} geometry
  sleep 0.4  # let GTK finish drawing
  if [[ -z $win ]]; then
    import -window root "$file" 2>/dev/null
    return
  fi
  # Cut from the whole screen: the window's own pixmap may not hold what is shown.
  geometry=$(xwininfo -id "$win")
  local x y w h
  x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$geometry")
  y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$geometry")
  w=$(awk '/Width:/ {print $NF}' <<<"$geometry")
  h=$(awk '/Height:/ {print $NF}' <<<"$geometry")
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$file" 2>/dev/null
}

lcx_wait_line() {
  local file=$1 text=$2 secs=${3:-10} i
  for ((i = 0; i < secs * 10; i++)); do
    grep -qxF -- "$text" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "FAIL: '$text' did not appear in $file within ${secs}s; it holds:" >&2
  cat "$file" >&2
  return 1
}

lcx_desktop_accessibility() {
  if ! /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
    [[ ! -x /usr/libexec/at-spi-bus-launcher ]]; then
    lcx_skip "AT-SPI (at-spi2-core, gir1.2-atspi-2.0, python3-gi) is not installed"
  fi
  # The session bus starts the accessibility bus on the first request.
  unset NO_AT_BRIDGE
}
