# Shared steps of the Wayland capture scripts; source after rtsp_common.sh.
#   wl_frame URL OUT.png            decode one picture of a stream (the newest
#                                   the first second brings) into a PNG
#   wl_psnr A.png B.png [CROP]      print the PSNR (dB) of two pictures, with
#                                   an ffmpeg crop=w:h:x:y applied to both
#   wl_notice_pngs DIR              the program's notice pictures at 1280x720
#   wl_count TEXT FILE              how many lines of FILE hold TEXT

wl_frame() {
  local url=$1 out=$2
  # A few frames in, so that the picture is the stream's current one.
  timeout 40 ffmpeg -nostdin -hide_banner -v error -rtsp_transport tcp -i "$url" -map 0:v:0 \
    -vf "select=gte(n\,3)" -frames:v 1 -y "$out" 2>>"$LCX_HOME/ffmpeg_frames.err"
}

wl_psnr() {
  local a=$1 b=$2 crop=${3:-}
  local filter="[0:v]format=rgb24[a];[1:v]format=rgb24[b];[a][b]psnr"
  [[ -n $crop ]] && filter="[0:v]crop=$crop,format=rgb24[a];[1:v]crop=$crop,format=rgb24[b];[a][b]psnr"
  ffmpeg -nostdin -hide_banner -i "$a" -i "$b" -lavfi "$filter" -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.inf]*\).*/\1/p' | tail -1
}

wl_notice_pngs() {
  "$LCX_BIN/lcx_onvif" --dump-screens "$1" >/dev/null 2>&1
  [[ -s $1/dump_not_shared.png && -s $1/dump_waiting.png && -s $1/dump_no_screen.png ]] ||
    fail "--dump-screens did not write the notice pictures"
}

# At least `min` dB (inf counts as more than any figure).
wl_psnr_at_least() {
  python3 -c "import sys; v = sys.argv[1]; sys.exit(0 if v and (v == 'inf' or float(v) >= float(sys.argv[2])) else 1)" "$1" "$2"
}

wl_count() { grep -cF -- "$1" "$2" || true; }
