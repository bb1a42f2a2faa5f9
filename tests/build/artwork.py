"""The committed pictures: resources/background.png as the layered background
window needs it (size, palette with alpha, transparent surroundings, an opaque
panel with dark places under the login window's browser and version label)
and the twelve 24-bit button BMPs (sizes, format, drawn over the background
at their places, the hot pictures brighter). Standard library only."""
import os
import struct
import sys
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
RES = os.path.join(ROOT, "resources")
W, H = 1039, 652
# name: (left, top, width, height) in background pixels, where the login
# window at (254, 70) puts each button.
BUTTONS = {"close": (974, 86, 26, 26), "mini": (946, 89, 23, 23),
           "home": (319, 125, 90, 34), "charge": (419, 125, 90, 34),
           "service": (806, 125, 90, 34), "forum": (906, 125, 90, 34)}
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def read_png(path):
    """(chunks by type, rows of palette indices)."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    chunks, pos = {}, 8
    while pos < len(data):
        n, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + n]
        crc = struct.unpack_from(">I", data, pos + 8 + n)[0]
        assert zlib.crc32(kind + body) == crc, "bad CRC in %s" % kind
        chunks.setdefault(kind, []).append(body)
        pos += 12 + n
    w, h, depth, ctype, _c, _f, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"][0])
    check((w, h, depth, ctype, interlace) == (W, H, 8, 3, 0),
          "IHDR %s: want 1039 x 652, 8-bit palette, not interlaced" % ((w, h, depth, ctype, interlace),))
    raw = zlib.decompress(b"".join(chunks[b"IDAT"]))
    rows, prev = [], bytearray(w)
    for y in range(h):
        kind, line = raw[y * (w + 1)], bytearray(raw[y * (w + 1) + 1:(y + 1) * (w + 1)])
        for x in range(w if kind else 0):  # one byte per pixel: the left neighbour is x - 1
            a, b = (line[x - 1] if x else 0), prev[x]
            c = prev[x - 1] if x else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2,
                    a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c]
            line[x] = (line[x] + pred[kind]) & 0xFF
        rows.append(line)
        prev = line
    return chunks, rows


def background():
    chunks, rows = read_png(os.path.join(RES, "background.png"))
    plte, trns = chunks[b"PLTE"][0], chunks[b"tRNS"][0]
    check(len(plte) == 768, "the palette has %d entries, want 256" % (len(plte) // 3))
    check(0 < len(trns) < 256 and all(a < 255 for a in trns),
          "tRNS must give alpha < 255 to the first entries only (%d values)" % len(trns))
    check(struct.unpack(">I", chunks[b"gAMA"][0]) == (45455,), "gAMA is not 1/2.2")
    alpha = bytes(trns) + b"\xff" * (256 - len(trns))
    rgb = [tuple(plte[3 * i:3 * i + 3]) for i in range(256)]
    px = lambda x, y: rgb[rows[y][x]] + (alpha[rows[y][x]],)
    counts = [0, 0]
    for row in rows:
        for i in row:
            counts[0] += alpha[i] == 0
            counts[1] += alpha[i] == 255
    clear, solid = (100.0 * c / (W * H) for c in counts)
    print("background: %.1f %% transparent, %.1f %% opaque, %d alpha entries" % (clear, solid, len(trns)))
    check(abs(clear - 26) < 3 and abs(solid - 71.5) < 3, "transparent / opaque share off")
    check(clear + solid < 99.5, "no soft edges")

    def all_in(x0, y0, x1, y1, test, what):
        bad = [(x, y) for y in range(y0, y1) for x in range(x0, x1) if not test(px(x, y))]
        return check(not bad, "%s: %d pixels fail, first %s" % (what, len(bad), bad[:1]))

    for x, y in ((0, 0), (W - 1, 0), (0, H - 1), (W - 1, H - 1)):
        check(px(x, y)[3] == 0, "corner (%d, %d) is not transparent" % (x, y))
    all_in(320, 640, W, H, lambda p: p[3] == 0, "below the panel")
    all_in(0, 0, 120, 60, lambda p: p[3] == 0, "above the blade")
    all_in(300, 85, 1014, 630, lambda p: p[3] == 255, "panel interior")
    all_in(284, 101, 1030, 614, lambda p: p[3] == 255, "panel interior")
    dark = lambda p: max(p[:3]) < 60
    all_in(307, 198, 1008, 608, dark, "dark area under the browser frame")
    all_in(587, 178, 708, 196, dark, "band under the version label")
    return px


def read_bmp(path):
    data = open(path, "rb").read()
    magic, size, _r1, _r2, offset = struct.unpack_from("<2sIHHI", data)
    hsize, w, h, planes, bits, comp = struct.unpack_from("<IiiHHI", data, 14)
    stride = (3 * w + 3) & ~3
    check((magic, size, offset, hsize, planes, bits, comp) == (b"BM", len(data), 54, 40, 1, 24, 0)
          and len(data) == 54 + stride * h, "%s is not a plain 24-bit BMP" % path)
    # Rows bottom-up, BGR.
    return w, h, lambda x, y: tuple(data[54 + (h - 1 - y) * stride + 3 * x:][:3][::-1])


def buttons(bg_px):
    for name, (left, top, w, h) in BUTTONS.items():
        sums = []
        for pic in (name, name + "_hot"):
            pw, ph, px = read_bmp(os.path.join(RES, "buttons", pic + ".bmp"))
            check((pw, ph) == (w, h), "%s is %d x %d, want %d x %d" % (pic, pw, ph, w, h))
            # Drawn over the background: its corner shows the background there.
            check(px(0, 0) == bg_px(left, top)[:3], "%s: corner differs from the background" % pic)
            sums.append(sum(sum(px(x, y)) for y in range(h) for x in range(w)))
        check(sums[1] > sums[0] * 1.1, "%s_hot is not brighter than %s" % (name, name))


buttons(background())
for f in failures:
    print("FAIL: " + f)
print("artwork: %s" % ("%d failures" % len(failures) if failures else "all checks passed"))
sys.exit(1 if failures else 0)
