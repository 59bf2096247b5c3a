# For it_rtsp_paused.sh: the paused picture's rate and time stamps
# (rtsp_probe.py rate's JSON).
import json, sys
r = json.loads(sys.argv[1])
assert r["first_key"], "first paused frame is not a key frame"
assert r["ts_steps"] == [45000], f"time-stamp steps {r['ts_steps']}"
assert 1.5 <= r["fps"] <= 2.5, f"{r['fps']} frames a second"
