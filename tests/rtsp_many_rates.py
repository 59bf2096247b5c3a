# For it_rtsp_many.sh: the readers' frame rates while one client stalled
# (rtsp_probe.py fanout's JSON) against the configured rate.
import json, sys
r = json.loads(sys.argv[1]); fps = float(sys.argv[2])
slow = [x for x in r["fps_during_stall"] if x < 0.7 * fps]
assert not slow, f"readers at {r['fps_during_stall']} fps"
assert r["stalled_frames_after"] >= fps, f"stalled client got only {r['stalled_frames_after']} frames after"
