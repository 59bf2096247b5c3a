#!/usr/bin/env bash
# RTP over UDP against TCP on loopback: packets lost by a receiver with the
# kernel's default socket buffer at an 8 Mbit/s main stream (a noisy picture
# from ffplay fills the bit rate), and the engine's CPU time with N viewers
# on UDP against N on TCP. Not part of the test suite; run it by hand:
#   LCX_BUILD_DIR=build tests/bench_rtsp_udp.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
source "$here/rtsp_common.sh"
rtsp_need python3 ffplay

window_s=${LCX_BENCH_WINDOW_S:-10}
viewers=${LCX_BENCH_VIEWERS:-8}
lcx_start_display 1280x720x24
SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy ffplay -v error -an -noborder -left 0 -top 0 -x 1280 -y 720 \
  -f lavfi -i "testsrc2=size=1280x720:rate=15,noise=alls=40:allf=t+u" >/dev/null 2>&1 &
noise=$!
lcx_on_exit "kill $noise 2>/dev/null || true"
rtsp_start_engine engine "fps = 15" "bitrate = 8000" "substream = 0"
url=rtsp://127.0.0.1:$RTSP_PORT/screenlive
pid=$LCX_PID
hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }

echo "loss over UDP (one viewer, ${window_s} s):"
python3 "$RTSP_PROBE" udp "$url" --seconds "$window_s"

printf '%10s %8s %14s\n' transport viewers "cpu % of core"
for transport in tcp udp; do
  flag=()
  [[ $transport == udp ]] && flag=(--udp)
  python3 "$RTSP_PROBE" drain "$url" "${flag[@]}" --clients "$viewers" --seconds $((window_s + 6)) \
    >"$LCX_HOME/drain.out" &
  drain=$!
  sleep 4
  t0=$(cpu_ticks); w0=$(date +%s%N)
  sleep "$window_s"
  t1=$(cpu_ticks); w1=$(date +%s%N)
  wait $drain || fail "drain clients failed: $(cat "$LCX_HOME/drain.out")"
  awk -v t="$transport" -v n="$viewers" -v dt=$((t1 - t0)) -v hz="$hz" -v ns=$((w1 - w0)) \
    'BEGIN { printf "%10s %8d %14.1f\n", t, n, 100 * dt / hz / (ns / 1e9) }'
  echo "  $(cat "$LCX_HOME/drain.out")"
  sleep 2
done
