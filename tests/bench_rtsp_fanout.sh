#!/usr/bin/env bash
# Fan-out cost of the RTSP server: the engine's CPU time per second and its
# resident memory while 1, 10 and 50 clients play one 1920x1080 stream at
# 10 fps on loopback, and the time from PLAY to the first complete key frame.
# Not part of the test suite (it takes a few minutes); run it by hand:
#   LCX_BUILD_DIR=build tests/bench_rtsp_fanout.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
source "$here/rtsp_common.sh"
rtsp_need python3

window_s=${LCX_BENCH_WINDOW_S:-10}
lcx_start_display 1920x1080x24
rtsp_start_engine engine "fps = 10" "bitrate = 2000" "substream = 0" "main_width = 0"
url=rtsp://127.0.0.1:$RTSP_PORT/screenlive
pid=$LCX_PID
hz=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }

printf '%8s %14s %10s\n' clients "cpu % of core" "rss MiB"
for n in 1 10 50; do
  python3 "$RTSP_PROBE" drain "$url" --clients "$n" --seconds $((window_s + 6)) >"$LCX_HOME/drain.out" &
  drain=$!
  sleep 4  # connect, first key frame, steady state
  t0=$(cpu_ticks); w0=$(date +%s%N)
  sleep "$window_s"
  t1=$(cpu_ticks); w1=$(date +%s%N); rss=$(rss_kib)
  wait $drain || fail "drain clients failed: $(cat "$LCX_HOME/drain.out")"
  awk -v n="$n" -v dt=$((t1 - t0)) -v hz="$hz" -v ns=$((w1 - w0)) -v rss="$rss" \
    'BEGIN { printf "%8d %14.1f %10.1f\n", n, 100 * dt / hz / (ns / 1e9), rss / 1024 }'
  sleep 2  # let the clients' threads end
done

echo "PLAY to first complete key frame (engine idle before each PLAY):"
python3 "$RTSP_PROBE" latency "$url" --runs 11 --pause 1.0
echo "PLAY to first complete key frame (another client already watching):"
python3 "$RTSP_PROBE" drain "$url" --clients 1 --seconds 20 >/dev/null &
bg=$!
sleep 2
python3 "$RTSP_PROBE" latency "$url" --runs 11 --pause 0.3
wait $bg || true
