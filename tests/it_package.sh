#!/usr/bin/env bash
# A user installs the Debian package: it is built by CPack and checked by
# lintian, installed with dpkg, run by an unprivileged user on a private Xvfb
# with the default configuration (RTSP on the privileged port 554, through the
# capability the package grants), played with ffprobe, and removed again,
# leaving nothing of the package but the user's own configuration.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }

((EUID == 0)) || lcx_skip "installing a package needs root"
for tool in cpack lintian dpkg-deb setpriv unshare ffprobe getcap desktop-file-validate; do
  command -v "$tool" >/dev/null || lcx_skip "$tool is not installed"
done
if dpkg-query -W -f='${Status}' lumicast 2>/dev/null | grep -q 'install ok installed'; then
  lcx_skip_allowed "a lumicast package is already installed on this machine; not touching it"
fi

work=$(mktemp -d)
chmod 755 "$work"
lcx_on_exit "rm -rf '$work'"
(cd "$work" && cpack -G DEB --config "$LCX_BUILD_DIR/CPackConfig.cmake" >cpack.log 2>&1) \
  || fail "cpack: $(cat "$work/cpack.log")"
deb=$(ls "$work"/lumicast_*_amd64.deb)
[[ $(basename "$deb") == "lumicast_$(sed -n 's/^project(lumicast VERSION \([0-9.]*\).*/\1/p' "$LCX_SOURCE_DIR/CMakeLists.txt")_amd64.deb" ]] \
  || fail "package name $(basename "$deb") does not carry the project version"

# No errors or warnings; lintian's informational tags are not failures.
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || fail "lintian: $(cat "$work/lintian.log")"

layout=$(dpkg-deb -c "$deb" | awk '{print $NF == "->" ? $0 : $6 ($7 ? " " $7 " " $8 : "")}')
for path in ./usr/lib/lumicast/lcx_onvif ./usr/lib/lumicast/core.dat ./usr/share/man/man1/lcx_onvif.1.gz \
  ./usr/share/doc/lumicast/copyright "./usr/bin/lcx_onvif -> ../lib/lumicast/lcx_onvif" \
  ./usr/share/applications/lumicast.desktop ./usr/lib/systemd/user/lumicast.service \
  ./usr/share/icons/hicolor/16x16/apps/lumicast.png ./usr/share/icons/hicolor/256x256/apps/lumicast.png; do
  grep -qxF -- "$path" <<<"$layout" || fail "package lacks $path; it holds: $layout"
done

# apt, not dpkg: it waits for a package manager that another process holds.
apt_quiet() { DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@"; }
apt_quiet install --no-install-recommends "$deb" >"$work/dpkg.log" 2>&1 || fail "install: $(cat "$work/dpkg.log")"
lcx_on_exit "DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 purge lumicast"
getcap /usr/lib/lumicast/lcx_onvif | grep -q cap_net_bind_service || fail "no cap_net_bind_service after install"
desktop-file-validate /usr/share/applications/lumicast.desktop || fail "the menu entry does not validate"
grep -qx 'ExecStart="/usr/lib/lumicast/lcx_onvif" --service' /usr/lib/systemd/user/lumicast.service \
  || fail "the user unit does not start the installed program: $(cat /usr/lib/systemd/user/lumicast.service)"

lcx_start_display 1280x720x24
user_home=$work/home
mkdir -p "$user_home/run"
chmod 700 "$user_home/run"
chown -R 65534:65534 "$user_home"
as_user() {
  setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$user_home" XDG_RUNTIME_DIR="$user_home/run" DISPLAY="$DISPLAY" "$@"
}

# The engine in a private network namespace with loopback only: nothing it
# announces leaves the machine. The seeded configuration asks for port 554.
export -f as_user
export user_home DISPLAY
unshare -n bash -euo pipefail -c '
  ip link set lo up
  as_user /usr/bin/lcx_onvif --background >"$user_home/engine.log" 2>&1 &
  engine=$!
  # $engine is the subshell running as_user; the program is its child, which
  # a plain kill of the subshell would leave running in this namespace.
  trap "pkill -TERM -P $engine 2>/dev/null; wait $engine 2>/dev/null || true" EXIT
  for ((i = 0; i < 200; i++)); do
    grep -q "RTSP server ready" "$user_home/engine.log" 2>/dev/null && break
    kill -0 $engine || break
    sleep 0.1
  done
  grep -q "RTSP server ready" "$user_home/engine.log" || { echo "FAIL: no RTSP server:"; cat "$user_home/engine.log"; exit 1; }
  out=$(ffprobe -v error -rtsp_transport tcp -timeout 10000000 -show_entries stream=codec_name,width,height \
        -of csv=p=0 rtsp://127.0.0.1:554/screenlive)
  [[ $out == h264,1280,720 ]] || { echo "FAIL: ffprobe saw \"$out\""; exit 1; }
  echo "ffprobe rtsp://127.0.0.1:554/screenlive: $out"
' || fail "the installed program did not stream on port 554 for an ordinary user"
# The trap waited for the program; live copies only, as an orphan that has
# ended may stay a zombie where nothing reaps it.
ps -u 65534 -o stat=,comm= | awk '$1 !~ /^Z/ && $2 == "lcx_onvif" { found = 1 } END { exit !found }' &&
  fail "the installed program was left running after the test stopped it"

cfg=$user_home/.local/share/Halvorix/lcx.cfg
cmp -s "$cfg" /usr/lib/lumicast/core.dat || fail "the configuration was not seeded from /usr/lib/lumicast/core.dat"
as_user /usr/bin/lcx_onvif --check-pass admin || fail "--check-pass admin from the installed path"
if as_user /usr/bin/lcx_onvif --check-pass wrong; then fail "--check-pass accepted a wrong password"; fi

apt_quiet purge lumicast >"$work/remove.log" 2>&1 || fail "purge: $(cat "$work/remove.log")"
for path in /usr/lib/lumicast /usr/bin/lcx_onvif /usr/share/man/man1/lcx_onvif.1.gz /usr/share/doc/lumicast; do
  [[ ! -e $path && ! -L $path ]] || fail "$path is left after removal"
done
[[ -f $cfg ]] || fail "removing the package took the user's configuration"
echo "it_package: all checks passed"
