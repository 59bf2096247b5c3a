# For it_video_stills.sh: decodes dump_paused.png with the standard library
# only and checks what a viewer sees.
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
pos, idat, header = 8, b"", None
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        header = struct.unpack(">IIBBBBB", body)
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
width, height, depth, colour, _, _, interlace = header
print(f"dump_paused.png: {width}x{height}, depth {depth}, colour type {colour}")
assert (width, height) == (1280, 720), "wrong size"
assert depth == 8 and colour in (2, 6) and interlace == 0, "unexpected pixel format"
bpp = 3 if colour == 2 else 4
raw, stride = zlib.decompress(idat), width * bpp
rows, prev, at = [], bytearray(stride), 0
for _ in range(height):
    kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
    at += 1 + stride
    for i in range(stride):
        a = line[i - bpp] if i >= bpp else 0
        b, c = prev[i], prev[i - bpp] if i >= bpp else 0
        if kind == 1: line[i] = (line[i] + a) & 255
        elif kind == 2: line[i] = (line[i] + b) & 255
        elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif kind == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(line)
    prev = line
px = lambda x, y: tuple(rows[y][x * bpp:x * bpp + 3])
bar = (0x7F, 0xB4, 0xFF)
for x in (623, 628, 633, 646, 651, 656):
    assert px(x, 400) == bar, f"no pause bar at x {x}: {px(x, 400)}"
for x in (622, 634, 640, 645, 657):
    assert px(x, 400) != bar, f"pause bar colour outside the bars at x {x}"
assert px(628, 386) == bar and px(628, 384) != bar, "bars do not start at y 385.2"
near = lambda p, q: all(abs(a - b) <= 2 for a, b in zip(p, q))
assert near(px(0, 0), (0x0A, 0x14, 0x30)), f"gradient start {px(0, 0)}"
assert near(px(1279, 719), (0x08, 0x24, 0x3A)), f"gradient end {px(1279, 719)}"
assert px(640, 133)[1] > 120, "no logo above the bars"
