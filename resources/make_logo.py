#!/usr/bin/env python3
"""Draws the Lumicast logo (900 x 771, RGBA) and writes it as PNG.

A screen with a camera lens and two broadcast arcs on a stand: the desktop
that becomes a network camera. Shapes are signed-distance fields, so every
edge is anti-aliased without a drawing library; only the standard library is
used, and the output is byte-for-byte reproducible.

    python3 resources/make_logo.py resources/logo.png
"""
import math
import struct
import sys
import zlib

WIDTH, HEIGHT = 900, 771


def rounded_rect(cx, cy, hw, hh, r):
    def sdf(x, y):
        qx = abs(x - cx) - (hw - r)
        qy = abs(y - cy) - (hh - r)
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return sdf, (cx - hw, cy - hh, cx + hw, cy + hh)


def circle(cx, cy, r):
    return (lambda x, y: math.hypot(x - cx, y - cy) - r), (cx - r, cy - r, cx + r, cy + r)


def ring(cx, cy, r, thickness):
    half = thickness / 2
    return (lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - half), (
        cx - r - half, cy - r - half, cx + r + half, cy + r + half)


def arc(cx, cy, r, thickness, half_angle):
    """Arc opening to the right with round caps."""
    half = thickness / 2
    ends = [(cx + r * math.cos(a), cy + r * math.sin(a)) for a in (-half_angle, half_angle)]

    def sdf(x, y):
        if abs(math.atan2(y - cy, x - cx)) <= half_angle:
            return abs(math.hypot(x - cx, y - cy) - r) - half
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - half
    return sdf, (cx - r - half, cy - r - half, cx + r + half, cy + r + half)


def trapezoid(cx, top, bottom, top_half, bottom_half):
    """Symmetric trapezoid; the distance is only exact near the edges, which is
    all the anti-aliasing needs."""
    def sdf(x, y):
        t = (y - top) / (bottom - top)
        hw = top_half + (bottom_half - top_half) * min(max(t, 0.0), 1.0)
        slope = (bottom_half - top_half) / (bottom - top)
        side = (abs(x - cx) - hw) / math.sqrt(1 + slope * slope)
        return max(side, top - y, y - bottom)
    return sdf, (cx - max(top_half, bottom_half), top, cx + max(top_half, bottom_half), bottom)


def diagonal(c0, c1, x0, y0, x1, y1):
    """Colour along the direction from (x0, y0) to (x1, y1)."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def paint(x, y):
        t = min(max(((x - x0) * dx + (y - y0) * dy) / length2, 0.0), 1.0)
        return tuple(a + (b - a) * t for a, b in zip(c0, c1))
    return paint


def solid(c):
    return lambda x, y: c


BLUE = (0.24, 0.55, 1.0)
CYAN = (0.13, 0.83, 0.93)
BRIGHT = diagonal(BLUE, CYAN, 90, 80, 810, 580)

# (shape, paint, opacity), back to front.
LAYERS = [
    (rounded_rect(450, 330, 360, 250, 64), BRIGHT, 1.0),  # bezel, hollowed below
    (rounded_rect(450, 330, 326, 216, 34), solid((0.05, 0.16, 0.35)), -1.0),
    (rounded_rect(450, 330, 326, 216, 34), solid((0.05, 0.16, 0.35)), 0.55),  # screen glass
    (trapezoid(450, 580, 690, 52, 78), diagonal(BLUE, (0.16, 0.42, 0.86), 450, 580, 450, 690), 1.0),
    (rounded_rect(450, 712, 200, 24, 24), BRIGHT, 1.0),
    (ring(365, 330, 128, 30), BRIGHT, 1.0),
    (circle(365, 330, 78), diagonal((0.55, 0.78, 1.0), BLUE, 300, 265, 430, 395), 1.0),
    (circle(365, 330, 34), solid((0.04, 0.10, 0.26)), 1.0),
    (circle(343, 306, 14), solid((1.0, 1.0, 1.0)), 0.9),
    (arc(365, 330, 186, 26, math.radians(48)), BRIGHT, 1.0),
    (arc(365, 330, 236, 26, math.radians(48)), BRIGHT, 0.75),
]


def coverage(d):
    return min(max(0.5 - d, 0.0), 1.0)


def render():
    # Premultiplied RGBA in floats, one row at a time to keep memory small.
    rows = []
    for py in range(HEIGHT):
        y = py + 0.5
        row = [[0.0, 0.0, 0.0, 0.0] for _ in range(WIDTH)]
        for (sdf, (bx0, by0, bx1, by1)), paint, opacity in LAYERS:
            if y < by0 - 1 or y > by1 + 1:
                continue
            for px in range(max(0, int(bx0) - 1), min(WIDTH, int(bx1) + 2)):
                x = px + 0.5
                a = coverage(sdf(x, y))
                if a <= 0.0:
                    continue
                p = row[px]
                if opacity < 0:  # erase: cut the shape out of what lies below
                    keep = 1.0 - a
                    p[0] *= keep; p[1] *= keep; p[2] *= keep; p[3] *= keep
                    continue
                a *= opacity
                r, g, b = paint(x, y)
                keep = 1.0 - a
                p[0] = r * a + p[0] * keep
                p[1] = g * a + p[1] * keep
                p[2] = b * a + p[2] * keep
                p[3] = a + p[3] * keep
        out = bytearray([0])  # filter type None
        for r, g, b, a in row:
            if a > 0:
                out += bytes((round(min(r / a, 1.0) * 255), round(min(g / a, 1.0) * 255),
                              round(min(b / a, 1.0) * 255), round(a * 255)))
            else:
                out += b"\0\0\0\0"
        rows.append(bytes(out))
    return b"".join(rows)


def png(raw):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "logo.png"
    with open(path, "wb") as f:
        f.write(png(render()))


if __name__ == "__main__":
    main()
