#!/usr/bin/python3
"""Draws the background picture of the login face: resources/background.png.

A cloaked warrior with a raised blade on the left, a framed panel on the
right that the login window sits on. Everything is drawn with cairo; the
palette is built here and the PNG chunks are written with zlib at fixed
settings, so running this again gives the same bytes.

Needs python3-cairo and python3-pil (Debian); run with /usr/bin/python3.
"""
import math
import os
import struct
import sys
import zlib

import cairo
from PIL import Image

W, H = 1039, 652

# The login window sits at (254, 70) of this picture; these are its
# controls in picture pixels, which the panel's artwork must line up with.
LOGIN = (254, 70)
PANEL = (284, 85, 1030, 630)           # opaque frame, outer edge
BROWSER = (309, 200, 1006, 606)        # the white browser frame
LABEL = (587, 178, 708, 196)           # the version label (light text)
BUTTONS = [(319, 125), (419, 125), (806, 125), (906, 125)]  # 90 x 34 each
MINI = (946, 89, 23)                   # round buttons: left, top, size
CLOSE = (974, 86, 26)
TITLE_X = (515, 800)                   # free space for the name between the buttons

GOLD = [(0.0, (1.00, 0.93, 0.66)), (0.35, (0.83, 0.63, 0.27)),
        (0.55, (0.45, 0.28, 0.09)), (0.8, (0.85, 0.66, 0.31)), (1.0, (0.50, 0.32, 0.11))]


def gradient(pattern, stops):
    """Colour stops as (offset, (r, g, b)) or (offset, (r, g, b, a))."""
    for offset, colour in stops:
        pattern.add_color_stop_rgba(offset, *colour, *(() if len(colour) == 4 else (1,)))
    return pattern


def linear(x0, y0, x1, y1, stops):
    return gradient(cairo.LinearGradient(x0, y0, x1, y1), stops)


def radial(cx, cy, r, stops):
    return gradient(cairo.RadialGradient(cx, cy, 0, cx, cy, r), stops)


def rounded(cr, x0, y0, x1, y1, r):
    cr.new_sub_path()
    cr.arc(x1 - r, y0 + r, r, -math.pi / 2, 0)
    cr.arc(x1 - r, y1 - r, r, 0, math.pi / 2)
    cr.arc(x0 + r, y1 - r, r, math.pi / 2, math.pi)
    cr.arc(x0 + r, y0 + r, r, math.pi, 3 * math.pi / 2)
    cr.close_path()


def chamfered(cr, x0, y0, x1, y1, c):
    cr.move_to(x0 + c, y0)
    for x, y in ((x1 - c, y0), (x1, y0 + c), (x1, y1 - c), (x1 - c, y1),
                 (x0 + c, y1), (x0, y1 - c), (x0, y0 + c)):
        cr.line_to(x, y)
    cr.close_path()


def glow(cr, path, width, rgb, strength):
    """A soft halo outside a shape: strokes of falling width and low alpha."""
    for i in range(width, 0, -1):
        path()
        cr.set_source_rgba(*rgb, strength / width)
        cr.set_line_width(2 * i)
        cr.stroke()


def frame_panel(cr):
    x0, y0, x1, y1 = PANEL
    glow(cr, lambda: rounded(cr, x0, y0, x1, y1, 16), 7, (0.05, 0.0, 0.0), 0.9)
    # Bronze frame, light on top like cast metal.
    rounded(cr, x0, y0, x1, y1, 16)
    cr.set_source(linear(0, y0, 0, y1, [(0, (0.98, 0.84, 0.50)), (0.02, (0.76, 0.55, 0.22)),
                                         (0.5, (0.55, 0.36, 0.13)), (0.97, (0.42, 0.26, 0.08)),
                                         (1, (0.80, 0.60, 0.28))]))
    cr.fill()
    rounded(cr, x0 + 1.5, y0 + 1.5, x1 - 1.5, y1 - 1.5, 15)
    cr.set_source_rgba(1, 0.92, 0.65, 0.55)
    cr.set_line_width(1.2)
    cr.stroke()
    rounded(cr, x0 + 6, y0 + 6, x1 - 6, y1 - 6, 11)
    cr.set_source_rgb(0.30, 0.18, 0.05)
    cr.set_line_width(1.5)
    cr.stroke()
    # The panel's face: deep red to black, lit from behind the title.
    rounded(cr, x0 + 11, y0 + 11, x1 - 11, y1 - 11, 8)
    cr.set_source_rgb(0.05, 0.02, 0.025)
    cr.fill_preserve()
    cr.set_source(gradient(cairo.RadialGradient(657, 150, 10, 657, 250, 560),
                           [(0, (0.42, 0.05, 0.07)), (0.45, (0.20, 0.03, 0.04)),
                            (1, (0.06, 0.02, 0.025))]))
    cr.fill()
    rounded(cr, x0 + 11, y0 + 11, x1 - 11, y1 - 11, 8)
    cr.set_source_rgb(0.95, 0.78, 0.42)
    cr.set_line_width(1)
    cr.stroke()
    # Corner studs.
    for cx, cy in ((x0 + 6, y0 + 6), (x1 - 6, y0 + 6), (x0 + 6, y1 - 6), (x1 - 6, y1 - 6)):
        stud(cr, cx, cy, 7)


def stud(cr, cx, cy, r):
    cr.arc(cx, cy, r + 1, 0, 2 * math.pi)
    cr.set_source_rgb(0.20, 0.11, 0.03)
    cr.fill()
    cr.arc(cx, cy, r, 0, 2 * math.pi)
    cr.set_source(radial(cx - r / 3, cy - r / 3, r * 1.4,
                         [(0, (1, 0.95, 0.75)), (0.4, (0.85, 0.62, 0.25)), (1, (0.35, 0.2, 0.06))]))
    cr.fill()


def top_band(cr):
    x0, x1 = PANEL[0] + 14, PANEL[2] - 14
    cr.rectangle(x0, 117, x1 - x0, 50)
    cr.set_source(linear(0, 117, 0, 167, [(0, (0.10, 0.03, 0.03)), (0.5, (0.16, 0.04, 0.04)),
                                          (1, (0.07, 0.02, 0.02))]))
    cr.fill()
    for y in (116.5, 167.5):
        cr.move_to(x0, y)
        cr.line_to(x1, y)
        cr.set_source(linear(x0, 0, x1, 0, [(0, (0.4, 0.25, 0.08)), (0.5, (0.98, 0.82, 0.45)),
                                             (1, (0.4, 0.25, 0.08))]))
        cr.set_line_width(2)
        cr.stroke()
    # Recessed seats for the four buttons.
    for bx, by in BUTTONS:
        rounded(cr, bx - 3, by - 3, bx + 93, by + 37, 6)
        cr.set_source_rgb(0.03, 0.01, 0.01)
        cr.fill_preserve()
        cr.set_source_rgb(0.62, 0.44, 0.17)
        cr.set_line_width(1)
        cr.stroke()


def title(cr):
    cx = (TITLE_X[0] + TITLE_X[1]) / 2
    # Crest above the frame: a red gem in a gold setting with two swept wings.
    for side in (-1, 1):
        cr.move_to(cx + side * 24, 72)
        cr.curve_to(cx + side * 70, 42, cx + side * 120, 60, cx + side * 150, 86)
        cr.curve_to(cx + side * 110, 76, cx + side * 70, 80, cx + side * 30, 100)
        cr.close_path()
        cr.set_source(linear(cx, 40, cx, 100, GOLD))
        cr.fill_preserve()
        cr.set_source_rgb(0.25, 0.14, 0.04)
        cr.set_line_width(1.2)
        cr.stroke()
    cr.arc(cx, 78, 31, 0, 2 * math.pi)
    cr.set_source(linear(cx, 47, cx, 109, GOLD))
    cr.fill_preserve()
    cr.set_source_rgb(0.25, 0.14, 0.04)
    cr.set_line_width(1.5)
    cr.stroke()
    cr.arc(cx, 78, 22, 0, 2 * math.pi)
    cr.set_source(radial(cx - 7, 70, 30, [(0, (1, 0.55, 0.5)), (0.25, (0.85, 0.08, 0.10)),
                                          (0.8, (0.35, 0.01, 0.03)), (1, (0.2, 0, 0.02))]))
    cr.fill()
    # Name plaque across the band.
    x0, x1, y0, y1 = TITLE_X[0] + 4, TITLE_X[1] - 4, 108, 176
    def plaque():
        cr.move_to(x0, (y0 + y1) / 2)
        cr.line_to(x0 + 26, y0)
        cr.line_to(x1 - 26, y0)
        cr.line_to(x1, (y0 + y1) / 2)
        cr.line_to(x1 - 26, y1)
        cr.line_to(x0 + 26, y1)
        cr.close_path()
    plaque()
    cr.set_source(linear(0, y0, 0, y1, GOLD))
    cr.fill()
    cr.save()
    cr.translate(cx, (y0 + y1) / 2)
    cr.scale(0.94, 0.88)
    cr.translate(-cx, -(y0 + y1) / 2)
    plaque()
    cr.restore()
    cr.set_source(linear(0, y0, 0, y1, [(0, (0.45, 0.04, 0.06)), (0.5, (0.22, 0.02, 0.03)),
                                        (1, (0.10, 0.01, 0.02))]))
    cr.fill()
    # The name in DejaVu Serif Bold (Bitstream Vera licence: free to embed).
    cr.select_font_face("DejaVu Serif", cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_BOLD)
    cr.set_font_size(36)
    text = "VARNHOLT"
    ext = cr.text_extents(text)
    cr.move_to(cx - ext.x_advance / 2, 155)
    cr.text_path(text)
    cr.set_source_rgb(0.1, 0.02, 0.01)
    cr.set_line_width(3)
    cr.stroke_preserve()
    cr.set_source(linear(0, 125, 0, 156, [(0, (1, 0.95, 0.72)), (0.5, (0.93, 0.72, 0.32)),
                                          (0.55, (0.72, 0.48, 0.16)), (1, (0.98, 0.82, 0.45))]))
    cr.fill()


def version_band(cr):
    x0, y0, x1, y1 = LABEL
    chamfered(cr, x0 - 22, y0 - 5, x1 + 22, y1 + 5, 8)
    cr.set_source_rgb(0.62, 0.44, 0.17)
    cr.fill()
    chamfered(cr, x0 - 20, y0 - 3, x1 + 20, y1 + 3, 7)
    cr.set_source_rgb(0.04, 0.015, 0.015)
    cr.fill()


def browser_area(cr):
    x0, y0, x1, y1 = BROWSER
    rounded(cr, x0 - 7, y0 - 7, x1 + 7, y1 + 7, 5)
    cr.set_source(linear(0, y0, 0, y1, [(0, (0.85, 0.66, 0.31)), (1, (0.45, 0.28, 0.09))]))
    cr.fill()
    rounded(cr, x0 - 4, y0 - 4, x1 + 4, y1 + 4, 3)
    cr.set_source_rgb(0.035, 0.02, 0.02)
    cr.fill()


def ornaments(cr):
    # One gold bracket holding a socket for each round button.
    sockets = [(x + s / 2, y + s / 2, s / 2) for x, y, s in (MINI, CLOSE)]
    (ax, ay, ar), (bx, by, br) = sockets
    cr.move_to(ax, ay - ar - 5)
    cr.line_to(bx, by - br - 5)
    cr.arc(bx, by, br + 5, -math.pi / 2, math.pi / 2)
    cr.line_to(ax, ay + ar + 5)
    cr.arc(ax, ay, ar + 5, math.pi / 2, 3 * math.pi / 2)
    cr.close_path()
    cr.set_source(linear(0, 80, 0, 120, GOLD))
    cr.fill_preserve()
    cr.set_source_rgb(0.25, 0.14, 0.04)
    cr.set_line_width(1.2)
    cr.stroke()
    for x, y, r in sockets:
        cr.arc(x, y, r + 2, 0, 2 * math.pi)
        cr.set_source_rgb(0.08, 0.02, 0.02)
        cr.fill()


def figure(cr):
    # Ground shadow under the feet.
    cr.save()
    cr.translate(185, 636)
    cr.scale(1, 0.12)
    cr.arc(0, 0, 125, 0, 2 * math.pi)
    cr.restore()
    pat = radial(0, 0, 125, [(0, (0, 0, 0, 0.8)), (1, (0, 0, 0, 0))])
    pat.set_matrix(cairo.Matrix(1, 0, 0, 1 / 0.12, -185, -636 / 0.12))
    cr.set_source(pat)
    cr.fill()

    # Blade, raised up to the left; the grip rests in the left hand.
    hx, hy = 112, 330
    tip = (58, 36)
    ang = math.atan2(tip[1] - hy, tip[0] - hx)
    cr.save()
    cr.translate(hx, hy)
    cr.rotate(ang + math.pi / 2)
    length = math.hypot(tip[0] - hx, tip[1] - hy)
    cr.move_to(-8, -18)
    cr.line_to(-7, -length + 26)
    cr.line_to(0, -length)
    cr.line_to(7, -length + 26)
    cr.line_to(8, -18)
    cr.close_path()
    cr.set_source(linear(-8, 0, 8, 0, [(0, (0.55, 0.58, 0.62)), (0.48, (0.95, 0.96, 0.98)),
                                       (0.52, (0.50, 0.52, 0.56)), (1, (0.30, 0.31, 0.34))]))
    cr.fill()
    cr.move_to(0, -22)
    cr.line_to(0, -length + 30)
    cr.set_source_rgba(0.75, 0.08, 0.08, 0.8)
    cr.set_line_width(2)
    cr.stroke()
    rounded(cr, -30, -22, 30, -14, 4)
    cr.set_source(linear(0, -22, 0, -14, GOLD))
    cr.fill()
    cr.rectangle(-4, -14, 8, 34)
    cr.set_source_rgb(0.22, 0.08, 0.06)
    cr.fill()
    cr.arc(0, 24, 6, 0, 2 * math.pi)
    cr.set_source(linear(0, 18, 0, 30, GOLD))
    cr.fill()
    cr.restore()

    # Cloak, falling from the shoulders to the ground.
    cloak = [(150, 210), (62, 420), (40, 600), (60, 640), (120, 628), (185, 645),
             (250, 628), (300, 640), (318, 600), (300, 420), (232, 210)]
    cr.move_to(*cloak[0])
    cr.curve_to(110, 260, 70, 330, *cloak[1])
    cr.curve_to(50, 480, 38, 560, *cloak[2])
    cr.curve_to(45, 620, 52, 632, *cloak[3])
    cr.curve_to(80, 630, 100, 624, *cloak[4])
    cr.curve_to(150, 636, 170, 645, *cloak[5])
    cr.curve_to(200, 645, 230, 630, *cloak[6])
    cr.curve_to(270, 630, 285, 642, *cloak[7])
    cr.curve_to(315, 632, 320, 620, *cloak[8])
    cr.curve_to(315, 540, 312, 470, *cloak[9])
    cr.curve_to(290, 330, 262, 260, *cloak[10])
    cr.close_path()
    cr.set_source(linear(40, 0, 320, 0, [(0, (0.30, 0.02, 0.04)), (0.35, (0.55, 0.05, 0.07)),
                                         (0.7, (0.30, 0.02, 0.04)), (1, (0.14, 0.01, 0.02))]))
    cr.fill_preserve()
    cr.set_source(linear(0, 210, 0, 645, [(0, (0, 0, 0, 0)), (1, (0, 0, 0, 0.6))]))
    cr.fill()
    # Armour down the opening of the cloak.
    cr.move_to(158, 222)
    cr.curve_to(150, 360, 150, 480, 160, 625)
    cr.line_to(222, 625)
    cr.curve_to(232, 480, 232, 360, 226, 222)
    cr.close_path()
    cr.set_source(linear(150, 0, 232, 0, [(0, (0.12, 0.12, 0.14)), (0.45, (0.40, 0.40, 0.44)),
                                          (1, (0.10, 0.10, 0.12))]))
    cr.fill()
    # Belt.
    cr.rectangle(152, 400, 76, 14)
    cr.set_source(linear(0, 400, 0, 414, GOLD))
    cr.fill()
    # Pauldrons.
    for cx in (150, 234):
        cr.save()
        cr.translate(cx, 222)
        cr.scale(1.3, 0.8)
        cr.arc(0, 0, 28, math.pi, 2 * math.pi)
        cr.restore()
        cr.close_path()
        cr.set_source(linear(0, 200, 0, 224, GOLD))
        cr.fill()
    # Arm to the hand on the grip.
    cr.move_to(128, 226)
    cr.curve_to(100, 260, 96, 300, 104, 336)
    cr.line_to(124, 334)
    cr.curve_to(122, 300, 130, 270, 150, 240)
    cr.close_path()
    cr.set_source_rgb(0.18, 0.05, 0.05)
    cr.fill()
    cr.arc(113, 334, 11, 0, 2 * math.pi)
    cr.set_source_rgb(0.24, 0.15, 0.10)
    cr.fill()
    # Hood with a shadowed face and glowing eyes.
    cr.move_to(192, 118)
    cr.curve_to(230, 128, 246, 180, 244, 222)
    cr.line_to(140, 222)
    cr.curve_to(138, 180, 154, 128, 192, 118)
    cr.close_path()
    cr.set_source(linear(140, 0, 244, 0, [(0, (0.25, 0.02, 0.04)), (0.4, (0.55, 0.06, 0.08)),
                                          (1, (0.18, 0.01, 0.03))]))
    cr.fill()
    cr.save()
    cr.translate(192, 178)
    cr.scale(0.7, 1)
    cr.arc(0, 0, 30, 0, 2 * math.pi)
    cr.restore()
    cr.set_source(radial(192, 182, 32, [(0, (0.02, 0.0, 0.0)), (1, (0.10, 0.01, 0.02))]))
    cr.fill()
    for ex in (182, 202):
        cr.arc(ex, 174, 2.5, 0, 2 * math.pi)
        cr.set_source_rgb(1, 0.25, 0.15)
        cr.fill()


def draw():
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, W, H)
    cr = cairo.Context(surface)
    cr.set_font_options(font_options())
    frame_panel(cr)
    top_band(cr)
    browser_area(cr)
    version_band(cr)
    title(cr)
    ornaments(cr)
    figure(cr)
    surface.flush()
    return surface


def font_options():
    # Fixed rasterising options, whatever the user's fontconfig says.
    fo = cairo.FontOptions()
    fo.set_antialias(cairo.ANTIALIAS_GRAY)
    fo.set_hint_style(cairo.HINT_STYLE_NONE)
    fo.set_hint_metrics(cairo.HINT_METRICS_OFF)
    return fo


def rgba_pixels(surface):
    """Straight (not premultiplied) RGBA tuples, row by row."""
    data = surface.get_data()
    stride = surface.get_stride()
    out = []
    for y in range(H):
        row = data[y * stride:y * stride + 4 * W]
        for x in range(W):
            b, g, r, a = row[4 * x:4 * x + 4]
            if a and a < 255:
                r, g, b = (min(255, (c * 255 + a // 2) // a) for c in (r, g, b))
            out.append((r, g, b, a))
    return out


def quantise(pixels):
    """256 palette entries: the fully transparent one, then the partly
    transparent colours, then the opaque ones; returns (palette, indices)."""
    partial = [p for p in pixels if 0 < p[3] < 255]
    opaque = [p[:3] for p in pixels if p[3] == 255]
    part_img = Image.new("RGBA", (len(partial), 1))
    part_img.putdata(partial)
    part_q = part_img.quantize(48, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE)
    n_part = max(part_q.getdata()) + 1
    part_pal = part_q.getpalette("RGBA")[:4 * n_part]
    n_opaque = 255 - n_part
    op_img = Image.new("RGB", (len(opaque), 1))
    op_img.putdata(opaque)
    op_q = op_img.quantize(n_opaque, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    op_pal = op_q.getpalette("RGB")[:3 * n_opaque]
    op_pal += [0] * (3 * n_opaque - len(op_pal))
    palette = [(0, 0, 0, 0)]
    palette += [tuple(part_pal[4 * i:4 * i + 4]) for i in range(n_part)]
    palette += [tuple(op_pal[3 * i:3 * i + 3]) + (255,) for i in range(n_opaque)]
    part_idx = iter(part_q.getdata())
    op_idx = iter(op_q.getdata())
    indices = bytearray()
    for p in pixels:
        if p[3] == 0:
            indices.append(0)
        elif p[3] < 255:
            indices.append(1 + next(part_idx))
        else:
            indices.append(1 + n_part + next(op_idx))
    return palette, indices


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(
        ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def write_png(path, palette, indices):
    alphas = [p[3] for p in palette]
    n_trns = max(i for i, a in enumerate(alphas) if a < 255) + 1
    raw = b"".join(b"\0" + bytes(indices[y * W:(y + 1) * W]) for y in range(H))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 3, 0, 0, 0))
    png += chunk(b"gAMA", struct.pack(">I", 45455))
    png += chunk(b"PLTE", b"".join(bytes(p[:3]) for p in palette))
    png += chunk(b"tRNS", bytes(alphas[:n_trns]))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "background.png")
    pixels = rgba_pixels(draw())
    palette, indices = quantise(pixels)
    assert len(palette) == 256
    write_png(out, palette, indices)


if __name__ == "__main__":
    main()
