#!/usr/bin/env python3
"""Draws the login page background (1600 x 900) and writes it as binary PPM.

A calm night-blue field lit by two soft glows in the panel's accent colours
(blue to green), a faint pixel grid, a camera lens with broadcast arcs on the
right and the outline of a screen on the left, joined by three slow signal
lines. The centre, where the login card sits, is kept quiet and darker. The
page darkens the picture further with an overlay, so the shapes are drawn
brighter than they will appear.

Shapes are signed-distance fields (anti-aliased without a drawing library),
only the standard library is used, and a hash-based dither (no random state)
breaks up banding in the gradients, so the output is byte-for-byte
reproducible. The JPEG that the program embeds is made from it with
libjpeg-turbo's cjpeg (Debian package libjpeg-turbo-progs):

    python3 resources/make_login_bg.py /tmp/login_bg.ppm
    cjpeg -quality 85 -optimize -outfile resources/login_bg.jpg /tmp/login_bg.ppm
"""
import math
import sys

WIDTH, HEIGHT = 1600, 900

TOP = (0.035, 0.060, 0.120)
BOTTOM = (0.030, 0.075, 0.110)
BLUE = (0.106, 0.310, 0.839)    # #1b4fd6, the accent's start
GREEN = (0.086, 0.639, 0.290)   # #16a34a, the accent's end
CYAN = (0.30, 0.70, 1.00)

LENS_X, LENS_Y = 1150.0, 420.0
SCREEN = (330.0, 420.0, 210.0, 135.0, 22.0)  # centre x, centre y, half w, half h, radius


def coverage(d, width=1.0):
    """Fraction of a pixel covered by the inside (d < 0) of a distance field."""
    return min(max(0.5 - d / width, 0.0), 1.0)


def smooth(edge0, edge1, x):
    t = min(max((x - edge0) / (edge1 - edge0), 0.0), 1.0)
    return t * t * (3 - 2 * t)


def mix(a, b, t):
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def rounded_rect(x, y, cx, cy, hw, hh, r):
    qx = abs(x - cx) - (hw - r)
    qy = abs(y - cy) - (hh - r)
    return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r


def signal(k, x):
    """Height of signal line k at x, and its slope."""
    amp = 26.0 + 10.0 * k
    freq = 2 * math.pi / (760.0 + 140.0 * k)
    phase = 1.3 * k
    base = 700.0 + 34.0 * k
    return base + amp * math.sin(x * freq + phase), amp * freq * math.cos(x * freq + phase)


def dither(px, py):
    """Deterministic noise in [-0.5, 0.5) from the pixel position."""
    h = (px * 374761393 + py * 668265263) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((h ^ (h >> 16)) & 0xFFFF) / 65536.0 - 0.5


def shade(px, py):
    x, y = px + 0.5, py + 0.5
    col = mix(TOP, BOTTOM, y / HEIGHT)

    # Two broad glows, added light.
    g1 = math.exp(-((x - 260) ** 2 + (y - 160) ** 2) / (2 * 420.0 ** 2))
    g2 = math.exp(-((x - 1380) ** 2 + (y - 820) ** 2) / (2 * 380.0 ** 2))
    col = tuple(c + 0.30 * g1 * b + 0.26 * g2 * g for c, b, g in zip(col, BLUE, GREEN))

    # Quiet centre: the card reads best over an even, darker patch.
    calm = math.exp(-((x - 800) ** 2 / (2 * 300.0 ** 2) + (y - 450) ** 2 / (2 * 260.0 ** 2)))

    light = 0.0   # additive white-ish strokes, scaled by `tint`
    tint = mix(BLUE, GREEN, min(max(x / WIDTH, 0.0), 1.0))
    tint = mix(tint, CYAN, 0.35)

    # Pixel grid: one dot every 32 px, fading away from the edges.
    gx, gy = (x % 32.0) - 16.0, (y % 32.0) - 16.0
    dot = coverage(math.hypot(gx, gy) - 1.1)
    if dot > 0:
        edge = 1.0 - calm
        light += 0.16 * dot * edge * edge

    # Lens: concentric rings, a bright iris and a glint.
    r = math.hypot(x - LENS_X, y - LENS_Y)
    if r < 420:
        for radius, half, alpha in ((62, 20, 0.30), (118, 2.0, 0.55), (170, 9, 0.35),
                                    (222, 1.2, 0.40), (272, 0.8, 0.28)):
            light += alpha * coverage(abs(r - radius) - half)
        light += 0.25 * coverage(r - 40)
        light += 0.60 * coverage(math.hypot(x - (LENS_X - 22), y - (LENS_Y - 24)) - 9)
    # Broadcast arcs opening to the right of the lens.
    ang = abs(math.atan2(y - LENS_Y, x - LENS_X))
    if ang < 0.9 and 300 < r < 470:
        fade = smooth(0.9, 0.55, ang)
        for radius, alpha in ((335, 0.50), (385, 0.36), (435, 0.24)):
            light += alpha * fade * coverage(abs(r - radius) - 5.0)

    # Screen outline on the left, with a faint glass and a stand.
    cx, cy, hw, hh, rr = SCREEN
    if abs(x - cx) < hw + 90 and abs(y - cy) < hh + 140:
        d = rounded_rect(x, y, cx, cy, hw, hh, rr)
        light += 0.50 * coverage(abs(d) - 3.0)
        if d < 0:
            light += 0.05 * (1.0 - (y - (cy - hh)) / (2 * hh))
        light += 0.40 * coverage(abs(rounded_rect(x, y, cx, cy + hh + 38, 12, 38, 4)) - 2.0)
        light += 0.40 * coverage(abs(rounded_rect(x, y, cx, cy + hh + 80, 80, 6, 6)) - 2.0)

    # Signal lines from the screen towards the lens, under the card.
    if 620 < y < 820:
        for k in range(3):
            fy, slope = signal(k, x)
            d = abs(y - fy) / math.sqrt(1 + slope * slope)
            if d < 4:
                reach = smooth(0, 260, x) * smooth(WIDTH, WIDTH - 260, x)
                light += (0.38 - 0.08 * k) * reach * coverage(d - 0.9)

    light *= 1.0 - 0.75 * calm
    col = tuple(c + light * t for c, t in zip(col, tint))

    # Vignette.
    v = ((x - WIDTH / 2) / (WIDTH * 0.75)) ** 2 + ((y - HEIGHT / 2) / (HEIGHT * 0.75)) ** 2
    darken = 1.0 - 0.45 * min(v, 1.0)
    n = dither(px, py)
    return bytes(min(max(int(c * darken * 255 + 0.5 + n), 0), 255) for c in col)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "login_bg.ppm"
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (WIDTH, HEIGHT))
        for py in range(HEIGHT):
            f.write(b"".join(shade(px, py) for px in range(WIDTH)))


if __name__ == "__main__":
    main()
