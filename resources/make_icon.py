#!/usr/bin/env python3
"""Draws the Lumicast application icon at the sizes desktops ask for.

The logo's lens and broadcast arcs in white on a rounded tile with the logo's
blue-to-cyan gradient; the screen bezel and stand are left out so the mark
still reads at 16 pixels. Shapes and colours come from make_logo.py, so the
two stay alike; only the standard library is used, and the output is
byte-for-byte reproducible.

    python3 resources/make_icon.py resources/icons
"""
import math
import os
import sys

sys.dont_write_bytecode = True  # keep the tree clean of __pycache__
import make_logo as logo  # noqa: E402

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
WHITE = (1.0, 1.0, 1.0)
DEEP = (0.05, 0.16, 0.35)

# Drawn on a 256-unit canvas and scaled; back to front.
def layers():
    tile = logo.diagonal(logo.BLUE, logo.CYAN, 16, 16, 240, 240)
    return [
        (logo.rounded_rect(128, 128, 120, 120, 44), tile, 1.0),
        (logo.ring(100, 128, 50, 16), logo.solid(WHITE), 1.0),
        (logo.circle(100, 128, 28), logo.solid(DEEP), 0.85),
        (logo.circle(91, 118, 8), logo.solid(WHITE), 0.9),
        (logo.arc(100, 128, 86, 15, math.radians(50)), logo.solid(WHITE), 1.0),
        (logo.arc(100, 128, 118, 15, math.radians(46)), logo.solid(WHITE), 0.7),
    ]


def render(size):
    scale = 256.0 / size
    shapes = layers()
    rows = []
    for py in range(size):
        out = bytearray([0])
        for px in range(size):
            # Distances are measured on the big canvas; divide by the scale so
            # the anti-aliased edge stays one output pixel wide.
            x, y = (px + 0.5) * scale, (py + 0.5) * scale
            r = g = b = a_sum = 0.0
            for (sdf, _), paint, opacity in shapes:
                a = logo.coverage(sdf(x, y) / scale) * opacity
                if a <= 0.0:
                    continue
                cr, cg, cb = paint(x, y)
                keep = 1.0 - a
                r, g, b, a_sum = cr * a + r * keep, cg * a + g * keep, cb * a + b * keep, a + a_sum * keep
            if a_sum > 0:
                out += bytes((round(min(r / a_sum, 1.0) * 255), round(min(g / a_sum, 1.0) * 255),
                              round(min(b / a_sum, 1.0) * 255), round(a_sum * 255)))
            else:
                out += b"\0\0\0\0"
        rows.append(bytes(out))
    return b"".join(rows)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "icons"
    os.makedirs(folder, exist_ok=True)
    for size in SIZES:
        logo.WIDTH = logo.HEIGHT = size  # png() takes the size from these
        with open(os.path.join(folder, "lumicast_%d.png" % size), "wb") as f:
            f.write(logo.png(render(size)))


if __name__ == "__main__":
    main()
