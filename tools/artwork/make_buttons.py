#!/usr/bin/python3
"""Draws the twelve pictures of the login window's buttons into
resources/buttons/: a normal and a brighter hot picture each.

The pictures are 24-bit BMPs without alpha, so each is drawn over the
background picture exactly where its button sits: the round buttons' corners
show the ornaments under them and the bars' corners the top band. Run
make_background.py first when the background changes.

The Chinese text is set in WenQuanYi Micro Hei (fonts-wqy-microhei,
Apache-2.0 licence, which lets us ship the rendered pixels).

Needs python3-cairo (Debian); run with /usr/bin/python3.
"""
import math
import os
import struct

import cairo

import make_background as bg

HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(HERE, "..", "..", "resources")
FONT = "WenQuanYi Micro Hei"

BARS = [("home", "官网首页"), ("charge", "游戏充值"), ("service", "客服系统"), ("forum", "游戏论坛")]


def tone(rgb, hot):
    """The hot picture's colours: the same, lifted."""
    if not hot:
        return rgb
    return tuple(min(1.0, c * 1.3 + 0.07) for c in rgb)


def stops(colours, hot):
    return [(o, tone(c, hot)) for o, c in colours]


def draw_bar(cr, w, h, text, hot):
    bg.rounded(cr, 0.5, 0.5, w - 0.5, h - 0.5, 6)
    cr.set_source_rgb(0.12, 0.03, 0.02)
    cr.fill()
    bg.rounded(cr, 1.5, 1.5, w - 1.5, h - 1.5, 5)
    cr.set_source(bg.linear(0, 1, 0, h - 1, stops(bg.GOLD, hot)))
    cr.fill()
    bg.rounded(cr, 3, 3, w - 3, h - 3, 4)
    cr.set_source(bg.linear(0, 3, 0, h - 3, stops(
        [(0, (0.74, 0.12, 0.13)), (0.5, (0.52, 0.04, 0.06)), (1, (0.30, 0.02, 0.03))], hot)))
    cr.fill()
    # A sheen over the upper half.
    bg.rounded(cr, 4, 4, w - 4, h / 2, 3)
    cr.set_source(bg.linear(0, 4, 0, h / 2, [(0, (1, 1, 1, 0.28 if hot else 0.2)),
                                             (1, (1, 1, 1, 0.03))]))
    cr.fill()
    cr.select_font_face(FONT, cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_BOLD)
    cr.set_font_size(15)
    ext = cr.text_extents(text)
    x = (w - ext.width) / 2 - ext.x_bearing
    y = (h - ext.height) / 2 - ext.y_bearing
    cr.move_to(x + 1, y + 1)
    cr.set_source_rgba(0.1, 0, 0, 0.85)
    cr.show_text(text)
    cr.move_to(x, y)
    cr.set_source_rgb(*((1, 1, 0.9) if hot else (1, 0.92, 0.72)))
    cr.show_text(text)


def draw_round(cr, size, mark, hot):
    c = size / 2
    r = c - 0.5
    cr.arc(c, c, r, 0, 2 * math.pi)
    cr.set_source_rgb(0.14, 0.03, 0.02)
    cr.fill()
    cr.arc(c, c, r - 1, 0, 2 * math.pi)
    cr.set_source(bg.radial(c - r / 3, c - r / 2.5, r * 1.6, stops(
        [(0, (0.98, 0.42, 0.36)), (0.35, (0.78, 0.08, 0.09)), (1, (0.32, 0.01, 0.03))], hot)))
    cr.fill()
    cr.set_source_rgb(1, 1, 1)
    cr.set_line_cap(cairo.LINE_CAP_ROUND)
    cr.set_line_width(2.6)
    arm = size * 0.2
    if mark == "cross":
        for dx in (arm, -arm):
            cr.move_to(c - dx, c - arm)
            cr.line_to(c + dx, c + arm)
    else:
        cr.move_to(c - arm - 1, c)
        cr.line_to(c + arm + 1, c)
    cr.stroke()


def picture(background, left, top, w, h, draw):
    """The button drawn over the background picture's pixels at its place."""
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    cr = cairo.Context(surface)
    cr.set_font_options(bg.font_options())
    cr.set_source_surface(background, -left, -top)
    cr.paint()
    draw(cr)
    surface.flush()
    return surface


def write_bmp(path, surface):
    w, h = surface.get_width(), surface.get_height()
    data, stride = surface.get_data(), surface.get_stride()
    row_size = (3 * w + 3) & ~3
    rows = []
    for y in reversed(range(h)):  # bottom-up
        row = bytearray()
        for x in range(w):
            b, g, r, _a = data[y * stride + 4 * x:y * stride + 4 * x + 4]
            row += bytes((b, g, r))
        rows.append(bytes(row) + b"\0" * (row_size - 3 * w))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def main():
    bg.require_font(FONT)
    background = cairo.ImageSurface.create_from_png(os.path.join(RESOURCES, "background.png"))
    out = os.path.join(RESOURCES, "buttons")
    os.makedirs(out, exist_ok=True)
    jobs = [("close", bg.CLOSE, "cross"), ("mini", bg.MINI, "bar")]
    for name, (left, top, size), mark in jobs:
        for hot in (False, True):
            pic = picture(background, left, top, size, size,
                          lambda cr: draw_round(cr, size, mark, hot))
            write_bmp(os.path.join(out, name + ("_hot" if hot else "") + ".bmp"), pic)
    for (name, text), (left, top) in zip(BARS, bg.BUTTONS):
        for hot in (False, True):
            pic = picture(background, left, top, 90, 34, lambda cr: draw_bar(cr, 90, 34, text, hot))
            write_bmp(os.path.join(out, name + ("_hot" if hot else "") + ".bmp"), pic)


if __name__ == "__main__":
    main()
