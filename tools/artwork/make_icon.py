#!/usr/bin/env python3
"""Draws the program icon: one 48 x 48 image with a 256-colour palette.

A crimson shield with a golden V on a transparent ground. Writes
resources/launcher.ico (an 8-bit BMP image with its AND mask).
Standard library only, so the artwork can be rebuilt anywhere.
"""
import math
import os
import struct
import sys

SIZE = 48


def pixel(x, y):
    """RGBA of the icon at pixel centre (x, y)."""
    cx, cy = x + 0.5, y + 0.5
    # Shield: a rectangle top with a pointed bottom.
    inside = 6 <= cx <= 42 and 4 <= cy <= 44
    if inside and cy > 26:
        half = 18 * (44 - cy) / 18
        inside = abs(cx - 24) <= half
    if not inside:
        return None
    edge = cx < 8 or cx > 40 or cy < 6
    if inside and cy > 26:
        half = 18 * (44 - cy) / 18
        edge = edge or abs(cx - 24) > half - 2.2
    if edge:
        return (212, 175, 55)
    # The V: two strokes from the top corners to the bottom centre.
    def dist(ax, ay, bx, by):
        vx, vy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((cx - ax) * vx + (cy - ay) * vy) / (vx * vx + vy * vy)))
        return math.hypot(cx - ax - t * vx, cy - ay - t * vy)
    if min(dist(14, 11, 24, 35), dist(34, 11, 24, 35)) < 3.2:
        return (240, 205, 90)
    shade = int(140 - (cy - 4) * 1.6)
    return (max(shade, 70), 16, 30)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), "..", "..", "resources", "launcher.ico")
    colours = []
    index = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            c = pixel(x, y)
            if c is None:
                row.append(None)
                continue
            if c not in colours:
                colours.append(c)
            row.append(colours.index(c))
        index.append(row)
    assert len(colours) <= 256
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    palette += b"\0" * (1024 - len(palette))
    xor = b""
    andmask = b""
    for y in reversed(range(SIZE)):  # bottom-up rows
        xor += bytes(i if i is not None else 0 for i in index[y])
        bits = 0
        mask_row = bytearray()
        for x in range(SIZE):
            bits = (bits << 1) | (1 if index[y][x] is None else 0)
            if x % 8 == 7:
                mask_row.append(bits)
                bits = 0
        mask_row += b"\0" * ((4 - len(mask_row) % 4) % 4)
        andmask += bytes(mask_row)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0,
                         len(xor) + len(andmask), 0, 0, 256, 0)
    image = header + palette + xor + andmask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    with open(out, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main()
