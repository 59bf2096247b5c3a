# For it_video_display_loss.sh: what a viewer saw while the display went and
# came back (ffmpeg framemd5 lines): no long gap, paused pictures, then live.
import sys
tb, pts = None, []
for line in open(sys.argv[1]):
    if line.startswith("#tb 0:"):
        num, den = line.split(":")[1].strip().split("/")
        tb = int(num) / int(den)
    elif not line.startswith("#"):
        pts.append(int(line.split(",")[2]))
steps = [round((b - a) * tb, 2) for a, b in zip(pts, pts[1:])]
assert pts and (pts[-1] - pts[0]) * tb >= 17, f"only {(pts[-1] - pts[0]) * tb:.1f} s of pictures"
assert max(steps) <= 0.61, f"a gap of {max(steps)} s without a picture"
paused = [i for i, s in enumerate(steps) if s == 0.5]
assert len(paused) >= 6, f"{len(paused)} paused-picture steps while the display was gone"
# Back at 10 fps (a busy machine may stretch a step to a few periods).
live_after = steps[paused[-1] + 1:]
on_time = sum(s == 0.1 for s in live_after)
assert len(live_after) >= 20 and on_time >= 0.8 * len(live_after), f"after the return: {live_after}"
print(f"viewer: {len(pts)} frames over {(pts[-1] - pts[0]) * tb:.1f} s, {len(paused)} paused steps, "
      f"{len(live_after)} live frames after the return")
