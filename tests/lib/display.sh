# Shared helpers for the end-to-end scripts; source this file.
#   lcx_start_display [WxHxD]  start Xvfb on a free display with lcx_scene running,
#                              export DISPLAY; skips when Xvfb is not installed
#   lcx_free_port              print a free TCP port on 127.0.0.1
#   lcx_on_exit "command"      add a command to the cleanup run by the EXIT trap
#                              (commands run last first; one that sets
#                              lcx_failed_at_exit fails the script)
#   lcx_skip REASON            a tool or a namespace is missing: exit 77 (ctest:
#                              skipped); with CI=true exit 1, because the test
#                              command installs every tool
#   lcx_skip_allowed REASON    exit 77 even with CI=true: the machine's own state
#                              (not a tool) rules the test out
# The EXIT trap is owned by this file: scripts add their own cleanup with
# lcx_on_exit instead of setting a trap of their own.

lcx_cleanup_cmds=()
lcx_failed_at_exit=""  # set by a cleanup step that finds a fault (a sanitizer report)
lcx_run_cleanup() {
  local rc=$? i
  for ((i = ${#lcx_cleanup_cmds[@]} - 1; i >= 0; i--)); do
    eval "${lcx_cleanup_cmds[i]}" >/dev/null 2>&1 || true
  done
  lcx_cleanup_cmds=()
  if [[ -n $lcx_failed_at_exit ]]; then
    echo "FAIL: $lcx_failed_at_exit" >&2
    exit 1
  fi
  exit "$rc"
}
trap lcx_run_cleanup EXIT
trap 'exit 130' INT TERM

lcx_on_exit() { lcx_cleanup_cmds+=("$1"); }

lcx_skip() {
  if [[ ${CI:-} == true ]]; then
    echo "FAIL: $* (CI=true: a skip for a missing tool or namespace is a failure)" >&2
    exit 1
  fi
  echo "SKIP: $*" >&2
  exit 77
}
lcx_skip_allowed() {
  echo "SKIP: $*" >&2
  exit 77
}

lcx_free_port() {
  if command -v python3 >/dev/null 2>&1; then
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
    return
  fi
  local port tries
  for ((tries = 0; tries < 200; tries++)); do
    port=$((20000 + RANDOM % 40000))
    if ! ss -Htln "sport = :$port" | grep -q .; then echo "$port"; return; fi
  done
  return 1
}

lcx_start_display() {
  local size=${1:-1920x1080x24}
  if ! command -v Xvfb >/dev/null 2>&1; then
    lcx_skip "Xvfb is not installed"
  fi
  local build=${LCX_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../build" && pwd)}
  if [[ ! -x $build/lcx_scene ]]; then
    echo "FAIL: $build/lcx_scene is not built" >&2
    exit 1
  fi
  local fdfile
  fdfile=$(mktemp)
  # -displayfd lets the server pick a free display number itself.
  Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp -noreset 3>"$fdfile" 2>/dev/null &
  local xpid=$!
  lcx_on_exit "kill $xpid; wait $xpid; rm -f '$fdfile'"
  local i num=""
  for ((i = 0; i < 100; i++)); do
    num=$(tr -dc 0-9 <"$fdfile")
    [[ -n $num ]] && break
    kill -0 "$xpid" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -z $num ]]; then
    echo "FAIL: Xvfb did not start" >&2
    exit 1
  fi
  export DISPLAY=":$num"
  "$build/lcx_scene" 20 &
  local spid=$!
  lcx_on_exit "kill $spid; wait $spid"
  # Give the scene time to map its window and draw the first frame.
  for ((i = 0; i < 50; i++)); do
    if command -v xwininfo >/dev/null 2>&1; then
      xwininfo -root -children 2>/dev/null | grep -Eq '^ *[1-9][0-9]* child' && break
    fi
    sleep 0.1
  done
  sleep 0.3
}
