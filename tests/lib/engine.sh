# Helpers to run the real program in an end-to-end script; source after
# display.sh (it uses lcx_on_exit).
#   lcx_private_network "$@"        first thing after sourcing: re-run the
#                                   script in a network namespace of its own
#                                   with only loopback up, so nothing it
#                                   serves or announces leaves the machine
#   lcx_engine_home                 make a private home (data folder, runtime
#                                   dir, config dir) and export LCX_HOME
#   lcx_write_config "k = v" ...    write the configuration file of LCX_HOME
#   lcx_engine_start NAME ARGS...   start build/lcx_onvif in LCX_HOME, output
#                                   in $LCX_HOME/NAME.log, pid in LCX_PID
#   lcx_wait_log NAME TEXT [SECS]   wait until the log holds TEXT (default 20 s)
#   lcx_engine_pids                 the pids of every copy running on LCX_HOME
# A sanitizer report in any log of LCX_HOME fails the script at its exit.

LCX_BIN=${LCX_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../build" && pwd)}

lcx_private_network() {
  if [[ ${LCX_PRIVATE_NETWORK:-} == "$$" ]]; then
    ip link set lo up || { echo "FAIL: cannot bring up loopback in the private namespace" >&2; exit 1; }
    return 0
  fi
  command -v unshare >/dev/null && command -v ip >/dev/null ||
    lcx_skip "unshare and ip are needed for a private network namespace"
  # As root a plain network namespace; otherwise a user namespace maps us to
  # root inside it, where the kernel allows that.
  local how=(-n)
  ((EUID == 0)) || how=(-r -n)
  unshare "${how[@]}" true 2>/dev/null ||
    lcx_skip "no private network namespace here (unshare ${how[*]} failed)"
  # exec keeps the pid, so the marker tells the new run that it is inside.
  export LCX_PRIVATE_NETWORK=$$
  exec unshare "${how[@]}" -- bash "$0" "$@"
}

lcx_engine_home() {
  LCX_HOME=$(mktemp -d)
  mkdir -p "$LCX_HOME/Halvorix" "$LCX_HOME/run" "$LCX_HOME/cfg"
  chmod 700 "$LCX_HOME/run"
  export LCX_HOME
  lcx_on_exit "rm -rf '$LCX_HOME'"
  # Runs after every copy has ended, before the logs are removed.
  lcx_on_exit "lcx_sanitizer_reports '$LCX_HOME'"
  lcx_on_exit "lcx_engine_kill_all"
}

lcx_engine_pids() {
  local p
  for p in $(pgrep -x lcx_onvif); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "ProgramData=$LCX_HOME" && echo "$p"
  done
  return 0
}

# Ends every copy of the program that runs on LCX_HOME, relaunched ones too,
# and waits (up to 5 s) until they are gone, so their logs are complete.
lcx_engine_kill_all() {
  local p i
  for p in $(lcx_engine_pids); do kill "$p"; done
  for ((i = 0; i < 50; i++)); do
    [[ -z $(lcx_engine_pids) ]] && return 0
    sleep 0.1
  done
  return 0
}

# Collects AddressSanitizer and UndefinedBehaviorSanitizer reports of the
# engine's logs; display.sh's exit trap fails the script when there are any.
lcx_sanitizer_reports() {
  local found
  found=$(grep -lE 'ERROR: (Address|Leak)Sanitizer|runtime error: ' "$1"/*.log 2>/dev/null) || return 0
  lcx_failed_at_exit+="sanitizer report in $found:"$'\n'"$(grep -hE -A30 'ERROR: |runtime error: ' $found | head -80)"$'\n'
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
  # Emptied here, not by the background job's redirection: that one may run
  # after the caller already looks at the log, and would let it read what an
  # earlier run of the same name wrote.
  : >"$LCX_HOME/$name.log"
  # A plain command (not a function) so that $! is the program itself.
  env ProgramData="$LCX_HOME" XDG_RUNTIME_DIR="$LCX_HOME/run" XDG_CONFIG_HOME="$LCX_HOME/cfg" \
    "$LCX_BIN/lcx_onvif" "$@" >>"$LCX_HOME/$name.log" 2>&1 &
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
