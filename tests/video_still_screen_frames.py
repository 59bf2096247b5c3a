# For it_video_still_screen.sh: ffmpeg's framemd5 of one stream over moving
# and still periods: time stamps on the frame grid, still periods as repeats.
import sys
tb, frames = None, []
for line in open(sys.argv[1]):
    if line.startswith("#tb 0:"):
        num, den = line.split(":")[1].strip().split("/")
        tb = int(num) / int(den)
    elif not line.startswith("#"):
        f = [x.strip() for x in line.split(",")]
        frames.append((int(f[2]), f[5]))
steps = [round((b[0] - a[0]) * tb, 3) for a, b in zip(frames, frames[1:])]
assert all(s > 0 and abs(s / 0.1 - round(s / 0.1)) < 1e-6 for s in steps), f"steps off the 0.1 s grid: {set(steps)}"
late = sum(s != 0.1 for s in steps)
assert late <= len(steps) // 50, f"{late} of {len(steps)} steps longer than one period"
span = (frames[-1][0] - frames[0][0]) * tb
assert len(frames) >= 23 * 10, f"{len(frames)} frames in {span:.1f} s"
# Runs of one picture: a still period is one run (or two, when its key
# frame had to be encoded afresh); moving periods change every frame.
runs, length = [], 1
for a, b in zip(frames, frames[1:]):
    if a[1] == b[1]:
        length += 1
    else:
        runs.append(length)
        length = 1
runs.append(length)
long_runs = [r for r in runs if r >= 14]
assert len(long_runs) >= 3, f"still periods not seen as repeats: runs {runs}"
print(f"{sys.argv[2]}: {len(frames)} frames over {span:.1f} s; still runs {long_runs}")
