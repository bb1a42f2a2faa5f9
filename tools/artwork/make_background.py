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
import subprocess
import sys
import zlib

import cairo

W, H = 1039, 652

# The login window sits at (254, 70) of this picture; these are its
# controls in picture pixels, which the panel's artwork must line up with.
PANEL = (284, 85, 1030, 630)           # opaque frame, outer edge
BROWSER = (309, 200, 1006, 606)        # the white browser frame
LABEL = (587, 178, 708, 196)           # the version label (light text)
BUTTONS = [(319, 125), (419, 125), (806, 125), (906, 125)]  # 90 x 34 each
MINI = (946, 89, 23)                   # round buttons: left, top, size
CLOSE = (974, 86, 26)
TITLE_X = (515, 800)                   # free space for the name between the buttons

DARK = (0.035, 0.02, 0.02)    # under the browser and the version label
GOLD = [(0.0, (1.00, 0.93, 0.66)), (0.35, (0.83, 0.63, 0.27)),
        (0.55, (0.45, 0.28, 0.09)), (0.8, (0.85, 0.66, 0.31)), (1.0, (0.50, 0.32, 0.11))]

STEEL = [(0, (0.10, 0.10, 0.12)), (0.5, (0.34, 0.34, 0.38)), (1, (0.14, 0.13, 0.15))]
CLOTH = [(0, (0.16, 0.01, 0.02)), (0.55, (0.46, 0.04, 0.06)), (1, (0.24, 0.02, 0.03))]


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


def shape(cr, pts):
    """A closed path: (x, y) points are lines, 6-tuples are curves."""
    cr.move_to(*pts[0])
    for p in pts[1:]:
        (cr.line_to if len(p) == 2 else cr.curve_to)(*p)
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
    glow(cr, lambda: rounded(cr, x0, y0, x1, y1, 16), 5, (0.05, 0.0, 0.0), 0.9)
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
    # A faint engraved lattice on the face.
    cr.save()
    rounded(cr, x0 + 11, y0 + 11, x1 - 11, y1 - 11, 8)
    cr.clip()
    for d in range(-700, 800, 18):
        cr.move_to(x0 + d, y0)
        cr.line_to(x0 + d + 545, y1)
        cr.move_to(x0 + d + 545, y0)
        cr.line_to(x0 + d, y1)
    cr.set_source_rgba(1, 0.55, 0.4, 0.07)
    cr.set_line_width(1)
    cr.stroke()
    cr.restore()
    rounded(cr, x0 + 11, y0 + 11, x1 - 11, y1 - 11, 8)
    cr.set_source_rgb(0.95, 0.78, 0.42)
    cr.set_line_width(1)
    cr.stroke()
    for x, y, sx, sy in ((x0, y0, 1, 1), (x1, y0, -1, 1), (x0, y1, 1, -1), (x1, y1, -1, -1)):
        corner(cr, x, y, sx, sy)
    # A jewel on the middle of the bottom edge.
    cx = (TITLE_X[0] + TITLE_X[1]) / 2
    shape(cr, [(cx - 26, y1 - 6), (cx, y1 - 13), (cx + 26, y1 - 6), (cx, y1 + 1)])
    cr.set_source(linear(0, y1 - 13, 0, y1 + 1, GOLD))
    cr.fill_preserve()
    cr.set_source_rgb(0.25, 0.14, 0.04)
    cr.set_line_width(1)
    cr.stroke()
    gem(cr, cx, y1 - 6, 4.5)


def corner(cr, x, y, sx, sy):
    """A cast corner piece with a jewel; (sx, sy) mirror it into place."""
    cr.save()
    cr.translate(x, y)
    cr.scale(sx, sy)
    shape(cr, [(0, 32), (0, 14), (0, 6, 6, 0, 14, 0), (32, 0), (32, 5), (20, 7, 9, 14, 7, 22),
               (6, 27), (5, 32)])
    cr.set_source(radial(10, 10, 34, [(0, (1, 0.93, 0.66)), (0.5, (0.80, 0.58, 0.24)),
                                      (1, (0.40, 0.24, 0.07))]))
    cr.fill_preserve()
    cr.set_source_rgb(0.25, 0.14, 0.04)
    cr.set_line_width(1)
    cr.stroke()
    cr.restore()
    gem(cr, x + sx * 11, y + sy * 11, 5)


def gem(cr, cx, cy, r):
    cr.arc(cx, cy, r + 1.2, 0, 2 * math.pi)
    cr.set_source_rgb(0.22, 0.10, 0.03)
    cr.fill()
    cr.arc(cx, cy, r, 0, 2 * math.pi)
    cr.set_source(radial(cx - r / 3, cy - r / 3, r * 1.5,
                         [(0, (1, 0.6, 0.55)), (0.3, (0.85, 0.08, 0.10)), (1, (0.25, 0.0, 0.02))]))
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
        for i, (reach, rise) in enumerate(((150, 0), (118, 8), (86, 14))):
            x = lambda d: cx + side * d
            shape(cr, [(x(24), 72 - rise / 2), (x(60), 44 - rise, x(reach - 30), 54 - rise, x(reach), 86 - i * 6),
                       (x(reach - 40), 76 - i * 4, x(60), 84, x(30), 100)])
            cr.set_source(linear(cx, 40 - rise, cx, 100, GOLD))
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
    plaque = [(x0, (y0 + y1) / 2), (x0 + 26, y0), (x1 - 26, y0), (x1, (y0 + y1) / 2),
              (x1 - 26, y1), (x0 + 26, y1)]
    shape(cr, plaque)
    cr.set_source(linear(0, y0, 0, y1, GOLD))
    cr.fill()
    cr.save()
    cr.translate(cx, (y0 + y1) / 2)
    cr.scale(0.94, 0.88)
    cr.translate(-cx, -(y0 + y1) / 2)
    shape(cr, plaque)
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
    # Gold rules running out from the plaque to both sides.
    y = (y0 + y1) / 2
    for a, b in ((x0 - 24, BROWSER[0] + 10), (x1 + 24, BROWSER[2] - 10)):
        cr.move_to(a, y)
        cr.line_to(b, y)
        cr.set_source(linear(a, 0, b, 0, [(0, (0.98, 0.82, 0.45)), (1, (0.98, 0.82, 0.45, 0))]))
        cr.set_line_width(1.5)
        cr.stroke()
        d = 1 if b > a else -1
        shape(cr, [(a + d * 8, y - 5), (a + d * 16, y), (a + d * 8, y + 5), (a, y)])
        cr.set_source(linear(0, y - 5, 0, y + 5, GOLD))
        cr.fill()
    # A tab rising from the dark area, plain under the label.
    bottom = BROWSER[1] - 2
    shape(cr, [(x0 - 22, bottom), (x0 - 22, y0 + 3), (x0 - 14, y0 - 5), (x1 + 14, y0 - 5),
               (x1 + 22, y0 + 3), (x1 + 22, bottom)])
    cr.set_source(linear(0, y0 - 5, 0, bottom, GOLD))
    cr.fill()
    shape(cr, [(x0 - 19, bottom), (x0 - 19, y0 + 4), (x0 - 13, y0 - 2), (x1 + 13, y0 - 2),
               (x1 + 19, y0 + 4), (x1 + 19, bottom)])
    cr.set_source_rgb(*DARK)
    cr.fill()


def browser_area(cr):
    x0, y0, x1, y1 = BROWSER
    rounded(cr, x0 - 7, y0 - 7, x1 + 7, y1 + 7, 5)
    cr.set_source(linear(0, y0, 0, y1, [(0, (0.85, 0.66, 0.31)), (1, (0.45, 0.28, 0.09))]))
    cr.fill()
    rounded(cr, x0 - 4, y0 - 4, x1 + 4, y1 + 4, 3)
    cr.set_source_rgb(*DARK)
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


def lit(cr, pts, base, rim=(0.95, 0.36, 0.18, 0.85), shift=(-2.5, 2)):
    """Fills a shape, then lights a thin rim along its upper right edge (the
    shape less a shifted copy of itself): the panel's glow on the figure."""
    shape(cr, pts)
    cr.set_source(base)
    cr.fill()
    cr.save()
    shape(cr, pts)
    cr.clip()
    shape(cr, pts)
    cr.translate(*shift)
    shape(cr, pts)
    cr.set_fill_rule(cairo.FILL_RULE_EVEN_ODD)
    cr.set_source_rgba(*rim)
    cr.fill()
    cr.restore()


def figure(cr):
    cr.save()
    # Drawn at a larger size, then set down beside the panel.
    cr.translate(190, 640)
    cr.scale(0.95, 0.95)
    cr.translate(-178, -640)
    draw_figure(cr)
    cr.restore()


def draw_figure(cr):
    # Shadow on the ground.
    pat = radial(0, 0, 130, [(0, (0, 0, 0, 0.75)), (1, (0, 0, 0, 0))])
    pat.set_matrix(cairo.Matrix(1, 0, 0, 1 / 0.1, -178, -638 / 0.1))
    cr.set_source(pat)
    cr.rectangle(40, 620, 280, 32)
    cr.fill()

    # Cloak behind the body, blown out to the left, ragged at the hem.
    cloak = [(134, 214), (110, 260, 92, 380, 80, 450), (70, 500, 62, 530, 50, 566),
             (76, 560), (92, 580), (112, 574), (132, 600), (156, 598), (178, 624),
             (204, 618), (228, 640), (252, 626), (284, 636), (276, 560, 268, 420, 256, 330),
             (250, 270, 248, 236, 240, 214)]
    lit(cr, cloak, linear(30, 0, 300, 0, CLOTH))
    cr.save()
    shape(cr, cloak)
    cr.clip()
    cr.set_source(linear(0, 214, 0, 644, [(0, (0, 0, 0, 0)), (1, (0, 0, 0, 0.55))]))
    cr.paint()
    # Folds.
    for x0, x1, w in ((124, 90, 9), (140, 120, 7), (234, 250, 8), (248, 268, 5), (112, 140, 6)):
        cr.move_to(x0, 250)
        cr.curve_to(x0 - 10, 400, x1 + 10, 520, x1, 640)
        cr.set_source_rgba(0.05, 0, 0.01, 0.45)
        cr.set_line_width(w)
        cr.stroke()
    cr.restore()

    # Legs and boots.
    for x in (150, 190):
        lit(cr, [(x, 410), (x + 34, 410), (x + 33, 612), (x + 44, 628), (x + 44, 642),
                 (x - 6, 642), (x - 4, 622), (x + 2, 612)], linear(x, 0, x + 34, 0, STEEL))
        # Gilded cuff and toe cap.
        shape(cr, [(x + 1, 604), (x + 33, 604), (x + 34, 614), (x, 614)])
        cr.set_source(linear(0, 604, 0, 614, GOLD))
        cr.fill()
        shape(cr, [(x + 30, 630), (x + 44, 632), (x + 44, 642), (x + 28, 642)])
        cr.set_source(linear(0, 630, 0, 642, GOLD))
        cr.fill()
    # Breastplate with a ridge and gold trim.
    chest = [(146, 226), (226, 226), (234, 290, 222, 360, 214, 396), (158, 396),
             (150, 360, 138, 290, 146, 226)]
    lit(cr, chest, radial(200, 270, 110, [(0, (0.50, 0.50, 0.55)), (0.35, (0.26, 0.26, 0.29)),
                                          (1, (0.06, 0.06, 0.07))]))
    cr.move_to(186, 232)
    cr.line_to(186, 392)
    cr.set_source_rgba(0.7, 0.7, 0.75, 0.5)
    cr.set_line_width(1.5)
    cr.stroke()
    for y in (300, 330, 360):
        cr.move_to(154, y)
        cr.curve_to(170, y + 8, 202, y + 8, 218, y)
        cr.set_source_rgba(0.04, 0.04, 0.05, 0.8)
        cr.set_line_width(2)
        cr.stroke()
    cr.move_to(148, 230)
    cr.curve_to(170, 250, 202, 250, 224, 230)
    cr.set_source(linear(0, 226, 0, 250, GOLD))
    cr.set_line_width(4)
    cr.stroke()
    # Tabard and belt.
    tabard = [(158, 404), (214, 404), (220, 560), (186, 604), (152, 560)]
    lit(cr, tabard, linear(150, 0, 222, 0, CLOTH))
    shape(cr, tabard)
    cr.set_source(linear(0, 404, 0, 604, GOLD))
    cr.set_line_width(2)
    cr.stroke()
    shape(cr, [(186, 440), (204, 450), (200, 480), (186, 496), (172, 480), (168, 450)])
    cr.set_source(linear(0, 440, 0, 496, GOLD))
    cr.fill()
    rounded(cr, 152, 392, 220, 408, 3)
    cr.set_source_rgb(0.16, 0.07, 0.04)
    cr.fill()
    rounded(cr, 177, 390, 195, 410, 3)
    cr.set_source(linear(0, 390, 0, 410, GOLD))
    cr.fill()

    # Sword arm: sleeve and gauntlet down to the hand on the grip.
    hx, hy = 104, 352
    lit(cr, [(128, 232), (112, 260, 100, 290, 98, 318), (116, 322), (124, 290, 138, 264, 150, 244)],
        linear(96, 0, 150, 0, CLOTH))
    lit(cr, [(96, 316), (118, 320), (116, 346), (94, 346)], linear(94, 0, 118, 0, STEEL))
    cr.rectangle(95, 314, 24, 6)
    cr.set_source(linear(0, 314, 0, 320, GOLD))
    cr.fill()
    sword(cr, hx, hy, 50, 40)

    # Pauldrons: three overlapping plates each, the top one largest.
    for cx, side in ((136, -1), (236, 1)):
        for i in (2, 1, 0):
            y, r = 214 + 11 * i, 30 - 3 * i
            x = cx + side * 5 * i
            plate = [(x - r, y + 10), (x - r, y - 22, x + r, y - 22, x + r, y + 10),
                     (x + r - 3, y + 14), (x + r - 10, y + 6, x - r + 10, y + 6, x - r + 3, y + 14)]
            lit(cr, plate, radial(x + 8, y - 8, 2 * r, [(0, (0.55, 0.55, 0.6)), (0.5, (0.24, 0.24, 0.27)),
                                                          (1, (0.08, 0.08, 0.09))]))
            cr.move_to(x - r + 3, y + 13)
            cr.curve_to(x - r + 10, y + 5, x + r - 10, y + 5, x + r - 3, y + 13)
            cr.set_source(linear(0, y, 0, y + 14, GOLD))
            cr.set_line_width(2.5)
            cr.stroke()

    # Hood over a face in shadow; the eyes glow.
    hood = [(140, 224), (136, 190, 146, 140, 190, 110), (226, 130, 244, 178, 240, 224),
            (214, 214), (190, 226), (162, 214)]
    lit(cr, hood, linear(136, 0, 244, 0, CLOTH))
    face = [(190, 134), (212, 140, 216, 184, 206, 204), (194, 212), (184, 212),
            (168, 196, 168, 142, 190, 134)]
    shape(cr, face)
    cr.set_source(radial(190, 182, 44, [(0, (0.0, 0.0, 0.0)), (0.7, (0.03, 0.0, 0.01)),
                                        (1, (0.12, 0.01, 0.02))]))
    cr.fill()
    for ex in (182, 201):
        cr.arc(ex, 170, 6, 0, 2 * math.pi)
        cr.set_source(radial(ex, 170, 6, [(0, (1, 0.3, 0.1, 0.9)), (1, (1, 0.1, 0.0, 0))]))
        cr.fill()
        cr.save()
        cr.translate(ex, 170)
        cr.scale(3, 1.4)
        cr.arc(0, 0, 1, 0, 2 * math.pi)
        cr.restore()
        cr.set_source_rgb(1, 0.85, 0.6)
        cr.fill()


def sword(cr, hx, hy, tx, ty):
    """A long sword held at (hx, hy) with its point at (tx, ty)."""
    length = math.hypot(tx - hx, ty - hy)
    cr.save()
    cr.translate(hx, hy)
    cr.rotate(math.atan2(ty - hy, tx - hx) + math.pi / 2)
    blade = [(-7, -22), (-6, -length + 30), (0, -length), (6, -length + 30), (7, -22)]
    shape(cr, blade)
    cr.set_source(linear(-7, 0, 7, 0, [(0, (0.42, 0.44, 0.48)), (0.49, (0.93, 0.94, 0.97)),
                                       (0.51, (0.55, 0.57, 0.62)), (1, (0.26, 0.27, 0.30))]))
    cr.fill()
    cr.move_to(0, -26)
    cr.line_to(0, -length + 40)
    cr.set_source(linear(0, -26, 0, -length, [(0, (1, 0.25, 0.1, 0.9)), (1, (1, 0.25, 0.1, 0))]))
    cr.set_line_width(1.6)
    cr.stroke()
    guard = [(-32, -26), (-36, -34, -28, -36, -24, -30), (-8, -26), (0, -30), (8, -26),
             (24, -30), (28, -36, 36, -34, 32, -26), (8, -18), (-8, -18)]
    shape(cr, guard)
    cr.set_source(linear(0, -36, 0, -18, GOLD))
    cr.fill_preserve()
    cr.set_source_rgb(0.25, 0.14, 0.04)
    cr.set_line_width(1)
    cr.stroke()
    cr.rectangle(-4, -18, 8, 40)
    cr.set_source(linear(-4, 0, 4, 0, [(0, (0.18, 0.05, 0.04)), (0.5, (0.42, 0.16, 0.10)),
                                       (1, (0.14, 0.04, 0.03))]))
    cr.fill()
    cr.arc(0, 26, 7, 0, 2 * math.pi)
    cr.set_source(linear(0, 19, 0, 33, GOLD))
    cr.fill()
    cr.arc(0, 26, 3.5, 0, 2 * math.pi)
    cr.set_source_rgb(0.75, 0.05, 0.08)
    cr.fill()
    # The gauntleted fist around the grip.
    rounded(cr, -10, -16, 11, 8, 6)
    cr.set_source(linear(-10, 0, 11, 0, STEEL))
    cr.fill()
    for y in (-10, -4, 2):
        cr.move_to(-9, y)
        cr.line_to(6, y)
        cr.set_source_rgba(0.02, 0.02, 0.03, 0.8)
        cr.set_line_width(1.2)
        cr.stroke()
    cr.restore()


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


def require_font(family):
    """Stops when fontconfig would draw the text in a stand-in font: the
    pictures would silently change."""
    found = subprocess.run(["fc-match", "-f", "%{family}", family], capture_output=True,
                           text=True, check=True).stdout
    if family not in found.split(","):
        sys.exit("font %r is not installed (fontconfig offers %r)" % (family, found))


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
    from PIL import Image  # only here: make_buttons.py borrows the drawing helpers
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
    # Map the opaque pixels again in place, with error diffusion, so that
    # the gradients do not band.
    pal_img = Image.new("P", (1, 1))
    pal_img.putpalette(op_pal + op_pal[-3:] * (256 - n_opaque))
    whole = Image.new("RGB", (W, H))
    whole.putdata([p[:3] for p in pixels])
    op_q = whole.quantize(palette=pal_img, dither=Image.Dither.FLOYDSTEINBERG)
    palette = [(0, 0, 0, 0)]
    palette += [tuple(part_pal[4 * i:4 * i + 4]) for i in range(n_part)]
    palette += [tuple(op_pal[3 * i:3 * i + 3]) + (255,) for i in range(n_opaque)]
    part_idx = iter(part_q.getdata())
    indices = bytearray()
    for p, o in zip(pixels, op_q.getdata()):
        if p[3] == 0:
            indices.append(0)
        elif p[3] < 255:
            indices.append(1 + next(part_idx))
        else:
            indices.append(1 + n_part + min(o, n_opaque - 1))
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
    require_font("DejaVu Serif")
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "background.png")
    pixels = rgba_pixels(draw())
    palette, indices = quantise(pixels)
    assert len(palette) == 256
    write_png(out, palette, indices)


if __name__ == "__main__":
    main()
