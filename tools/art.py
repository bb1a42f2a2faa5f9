#!/usr/bin/env python3
"""The launcher's pictures as the build embeds them.

  art.py check --layout resources/login.layout ID:TYPE:FILE...
      Checks each picture the way the launcher will use it and prints one line
      per fault, "FILE: what is wrong"; exit status 1 when there is one.
        CUSTOM  the background: a PNG of 1039 x 652 pixels with transparency
                (an alpha channel or a tRNS chunk), whole and undamaged
        BMP     a button picture: an uncompressed 24-bit BMP of the size the
                login layout gives the control that shows resource ID
        ICON    the program icon: an .ico with one 48 x 48 image of 256
                colours (an 8-bit bitmap with its mask)
  art.py icon-png ICO PNG
      Writes the icon as a 48 x 48 RGBA PNG (for the Linux menu entry), the
      same bytes for the same icon.

Standard library only: the build runs it with any Python 3.
"""
import re
import struct
import sys
import zlib

BACKGROUND = (1039, 652)
ICON_SIDE = 48


class Fault(Exception):
    pass


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        raise Fault("missing")
    except IsADirectoryError:
        raise Fault("a folder, not a file")
    except OSError as e:
        raise Fault("cannot be read (%s)" % e.strerror)


# --- PNG ---------------------------------------------------------------------

CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}
ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2))


def png_chunks(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise Fault("not a PNG file")
    chunks, pos = [], 8
    while pos < len(data):
        if pos + 12 > len(data):
            raise Fault("cut short inside a chunk header")
        n, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + n]
        if len(body) != n or pos + 12 + n > len(data):
            raise Fault("cut short in chunk %s" % kind.decode("latin-1"))
        if zlib.crc32(kind + body) != struct.unpack_from(">I", data, pos + 8 + n)[0]:
            raise Fault("damaged: chunk %s fails its CRC" % kind.decode("latin-1"))
        chunks.append((kind, body))
        pos += 12 + n
        if kind == b"IEND":
            break
    if not chunks or chunks[0][0] != b"IHDR" or len(chunks[0][1]) != 13:
        raise Fault("no IHDR chunk at the start")
    if chunks[-1][0] != b"IEND":
        raise Fault("cut short: no IEND chunk")
    return chunks


def check_png(data, size):
    chunks = png_chunks(data)
    w, h, depth, ctype, method, filt, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    if (w, h) != size:
        raise Fault("%d x %d pixels, %d x %d wanted" % (w, h, size[0], size[1]))
    if depth not in DEPTHS.get(ctype, ()) or method or filt or interlace > 1:
        raise Fault("not a valid PNG header (colour type %d, depth %d)" % (ctype, depth))
    kinds = [k for k, _ in chunks]
    if ctype == 3 and b"PLTE" not in kinds:
        raise Fault("a palette picture without a palette")
    if ctype in (0, 2, 3) and b"tRNS" not in kinds:
        raise Fault("no transparency: an alpha channel or a tRNS chunk is wanted")
    try:
        raw = zlib.decompress(b"".join(b for k, b in chunks if k == b"IDAT"))
    except zlib.error as e:
        raise Fault("damaged picture data (%s)" % e)
    bits = depth * CHANNELS[ctype]
    passes = ADAM7 if interlace else ((0, 0, 1, 1),)
    want = 0
    for x0, y0, dx, dy in passes:
        pw, ph = (w - x0 + dx - 1) // dx, (h - y0 + dy - 1) // dy
        if pw and ph:
            want += ph * (1 + (pw * bits + 7) // 8)
    if len(raw) != want:
        raise Fault("picture data of %d bytes, %d wanted (cut short or damaged)" % (len(raw), want))
    if not interlace:
        stride = 1 + (w * bits + 7) // 8
        if any(raw[y * stride] > 4 for y in range(h)):
            raise Fault("damaged picture data (unknown row filter)")


# --- BMP ---------------------------------------------------------------------

def check_bmp(data, size):
    if len(data) < 54 or data[:2] != b"BM":
        raise Fault("not a BMP file")
    offset, header = struct.unpack_from("<II", data, 10)
    if header < 40 or 14 + header > len(data):
        raise Fault("not a Windows bitmap header (%d bytes)" % header)
    w, h, planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits != 24 or planes != 1:
        raise Fault("%d bits per pixel, a 24-bit picture wanted" % bits)
    if compression:
        raise Fault("compressed (method %d), an uncompressed picture wanted" % compression)
    if (w, abs(h)) != size:
        raise Fault("%d x %d pixels, %d x %d wanted" % (w, abs(h), size[0], size[1]))
    need = ((3 * w + 3) & ~3) * abs(h)
    if offset < 14 + header or offset + need > len(data):
        raise Fault("cut short: %d bytes of pixels wanted from offset %d, the file has %d"
                    % (need, offset, len(data)))


# --- ICO ---------------------------------------------------------------------

def icon_image(data):
    """The 8-bit image of a one-image 48 x 48 icon: (palette, rows of
    indices, rows of mask bits), rows top-down."""
    if len(data) < 22 or struct.unpack_from("<HHH", data) != (0, 1, 1):
        raise Fault("not an icon with exactly one image")
    w, h, _colours, _r, _planes, _bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6)
    if (w, h) != (ICON_SIDE, ICON_SIDE):
        raise Fault("a %d x %d image, %d x %d wanted" % (w or 256, h or 256, ICON_SIDE, ICON_SIDE))
    image = data[offset:offset + length]
    if len(image) != length or len(image) < 40:
        raise Fault("cut short: the image runs past the end of the file")
    if image[:4] == b"\x89PNG":
        raise Fault("a PNG image inside the icon, an 8-bit bitmap wanted")
    size, iw, ih, planes, bits, compression = struct.unpack_from("<IiiHHI", image)
    used = struct.unpack_from("<I", image, 32)[0] or 256
    if size != 40 or (iw, ih) != (ICON_SIDE, 2 * ICON_SIDE) or planes != 1:
        raise Fault("not a plain bitmap image of %d x %d" % (ICON_SIDE, ICON_SIDE))
    if bits != 8 or compression or used > 256:
        raise Fault("%d bits per pixel, 256 colours (8 bits) wanted" % bits)
    mask_stride = ((ICON_SIDE + 31) // 32) * 4
    pixels = 40 + 4 * used
    mask = pixels + ICON_SIDE * ICON_SIDE
    if len(image) < mask + mask_stride * ICON_SIDE:
        raise Fault("cut short: the image lacks pixels or its mask")
    palette = [tuple(image[40 + 4 * i:43 + 4 * i][::-1]) for i in range(used)]
    rows = [image[pixels + ICON_SIDE * y:pixels + ICON_SIDE * (y + 1)] for y in range(ICON_SIDE)]
    masks = [image[mask + mask_stride * y:mask + mask_stride * (y + 1)] for y in range(ICON_SIDE)]
    if any(i >= used for row in rows for i in row):
        raise Fault("pixels name colours beyond the palette")
    return palette, rows[::-1], masks[::-1]


def icon_png(ico, out):
    palette, rows, masks = icon_image(read(ico))
    raw = b""
    for row, mask in zip(rows, masks):
        raw += b"\0"
        for x, i in enumerate(row):
            clear = mask[x // 8] >> (7 - x % 8) & 1
            raw += bytes(palette[i]) + (b"\0" if clear else b"\xff")

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", ICON_SIDE, ICON_SIDE, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(out, "wb") as f:
        f.write(png)


# --- the layout's button sizes ----------------------------------------------

def button_sizes(layout):
    """{resource id: (width, height)} of the pictures the layout names."""
    sizes, rect = {}, None
    for line in open(layout, encoding="utf-8"):
        words = line.split()
        if words[:1] == ["control"]:
            rect = None
        elif words[:1] == ["rect"] and len(words) == 5:
            rect = (int(words[3]), int(words[4]))
        m = re.match(r"\s*(?:hot)?picture\s*=\s*bmp\((\d+)\)", line)
        if m and rect:
            sizes[int(m.group(1))] = rect
    return sizes


def check(args):
    if len(args) < 3 or args[0] != "--layout":
        sys.exit("usage: art.py check --layout LAYOUT ID:TYPE:FILE...")
    sizes = button_sizes(args[1])
    faults = []
    for entry in args[2:]:
        rid, kind, path = entry.split(":", 2)
        try:
            data = read(path)
            if kind == "CUSTOM":
                check_png(data, BACKGROUND)
            elif kind == "BMP":
                if int(rid) not in sizes:
                    raise Fault("the login layout shows no picture %s" % rid)
                check_bmp(data, sizes[int(rid)])
            elif kind == "ICON":
                icon_image(data)
        except Fault as f:
            faults.append("%s: %s" % (path, f))
    for f in faults:
        print(f)
    return 1 if faults else 0


def main():
    if sys.argv[1:2] == ["check"]:
        sys.exit(check(sys.argv[2:]))
    if sys.argv[1:2] == ["icon-png"] and len(sys.argv) == 4:
        try:
            icon_png(sys.argv[2], sys.argv[3])
        except Fault as f:
            sys.exit("%s: %s" % (sys.argv[2], f))
        return
    sys.exit(__doc__)


if __name__ == "__main__":
    main()
