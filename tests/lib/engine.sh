# Helpers to run the real program in an end-to-end script; source after
# display.sh (it uses lcx_on_exit).
#   lcx_engine_home                 make a private home (data folder, runtime
#                                   dir, config dir) and export LCX_HOME
#   lcx_write_config "k = v" ...    write the configuration file of LCX_HOME
#   lcx_engine_start NAME ARGS...   start build/lcx_onvif in LCX_HOME, output
#                                   in $LCX_HOME/NAME.log, pid in LCX_PID
#   lcx_wait_log NAME TEXT [SECS]   wait until the log holds TEXT (default 20 s)

LCX_BIN=${LCX_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../build" && pwd)}

lcx_engine_home() {
  LCX_HOME=$(mktemp -d)
  mkdir -p "$LCX_HOME/Halvorix" "$LCX_HOME/run" "$LCX_HOME/cfg"
  chmod 700 "$LCX_HOME/run"
  export LCX_HOME
  lcx_on_exit "rm -rf '$LCX_HOME'"
  lcx_on_exit "lcx_engine_kill_all"
}

# Ends every copy of the program that runs on LCX_HOME, relaunched ones too.
lcx_engine_kill_all() {
  local p
  for p in $(pgrep -x lcx_onvif); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "ProgramData=$LCX_HOME" && kill "$p"
  done
  return 0
}

lcx_write_config() {
  printf '%s\r\n' "$@" >"$LCX_HOME/Halvorix/lcx.cfg"
}

lcx_engine_env() {
  env ProgramData="$LCX_HOME" XDG_RUNTIME_DIR="$LCX_HOME/run" XDG_CONFIG_HOME="$LCX_HOME/cfg" "$@"
}

lcx_engine_start() {
  local name=$1
  shift
  # A plain command (not a function) so that $! is the program itself.
  env ProgramData="$LCX_HOME" XDG_RUNTIME_DIR="$LCX_HOME/run" XDG_CONFIG_HOME="$LCX_HOME/cfg" \
    "$LCX_BIN/lcx_onvif" "$@" >"$LCX_HOME/$name.log" 2>&1 &
  LCX_PID=$!
  lcx_on_exit "kill $LCX_PID; wait $LCX_PID"
}

lcx_wait_log() {
  local name=$1 text=$2 secs=${3:-20} i
  for ((i = 0; i < secs * 10; i++)); do
    grep -qF -- "$text" "$LCX_HOME/$name.log" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "FAIL: '$text' did not appear in $name.log within ${secs}s; the log:" >&2
  cat "$LCX_HOME/$name.log" >&2
  return 1
}
