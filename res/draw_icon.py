#!/usr/bin/env python3
"""Draws the program icon, a keycap bearing an "L", into res/lumbrix.ico, and
the tray's two variants: res/paused.ico (the keycap greyed, with a pause
mark) and res/elevated.ico (the keycap with an amber "!" badge, shown while
a window above the program's integrity level is in front).

Python standard library only, so the icon can be redrawn anywhere:

    python3 res/draw_icon.py            # writes res/lumbrix.ico
    python3 res/draw_icon.py --png DIR  # also writes each size as DIR/icon-N.png

The .ico holds six 32-bit images: 256x256 stored as PNG, 48, 32, 24, 20 and
16 as DIBs with an AND mask. 20 and 24 are the tray's sizes at 125 % and
150 %, where a 32 shrunk by Windows would blur. The variants hold the tray's
sizes only, 32, 24, 20 and 16, stored as PNG to keep the exe small. The build uses the committed .ico and needs no Python.
"""

import os
import struct
import sys
import zlib

SIZES = (256, 48, 32, 24, 20, 16)
TRAY_SIZES = (32, 24, 20, 16)
SAMPLES = 5  # per axis, per pixel: edges are anti-aliased by coverage

SKIRT_TOP = (0x44, 0x56, 0x76)
SKIRT_BOTTOM = (0x27, 0x33, 0x4A)
FACE_TOP = (0xFF, 0xFF, 0xFF)
FACE_BOTTOM = (0xDD, 0xE3, 0xEE)
GLYPH = (0x1F, 0x5F, 0xCC)
BADGE_PAUSED = (0x30, 0x30, 0x30)
BADGE_ELEVATED = (0xE8, 0x9A, 0x00)
BADGE_MARK = (0xFF, 0xFF, 0xFF)


def rounded_rect(x0, y0, x1, y1, radius, size):
    """Inside test of a rounded rectangle in unit coordinates. Small icons put
    its edges on whole pixels, so that they stay sharp."""
    if size <= 32:
        x0, y0, x1, y1 = (round(v * size) / size for v in (x0, y0, x1, y1))

    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

    return inside


def grey(colour):
    """The colour's luminance, lightened: a paused keycap reads as switched off."""
    def greyed(y):
        r, g, b = colour(y)
        level = 0.3 * r + 0.59 * g + 0.11 * b
        return (level * 0.6 + 0x50,) * 3

    return greyed


def badge(size, variant):
    """The variant's mark in the lower right corner, on whole pixels: a dark
    disc with two white bars (paused) or an amber disc with a "!" (elevated)."""
    radius = max(0.27, 4.5 / size)
    cx = cy = 1.0 - radius
    disc = lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    bar = max(0.07, 1.5 / size)
    if variant == "paused":
        top, bottom = cy - radius * 0.5, cy + radius * 0.5
        marks = [rounded_rect(cx - bar * 1.6, top, cx - bar * 0.6, bottom, 0, size),
                 rounded_rect(cx + bar * 0.6, top, cx + bar * 1.6, bottom, 0, size)]
        colour = BADGE_PAUSED
    else:
        marks = [rounded_rect(cx - bar * 0.6, cy - radius * 0.62, cx + bar * 0.6, cy + radius * 0.12, 0, size),
                 rounded_rect(cx - bar * 0.6, cy + radius * 0.3, cx + bar * 0.6, cy + radius * 0.62, 0, size)]
        colour = BADGE_ELEVATED
    return [(disc, lambda y: colour)] + [(mark, lambda y: BADGE_MARK) for mark in marks]


def layers(size, variant=None):
    """Shapes from back to front, each with a colour function of y."""
    # Small icons get a relatively heavier glyph and a thinner skirt so that
    # the letter survives at 16 pixels.
    stroke = max(0.12, 2.0 / size)
    face_bottom = 0.74 if size >= 48 else 0.78

    def gradient(top, bottom, y0, y1):
        def colour(y):
            t = min(max((y - y0) / (y1 - y0), 0.0), 1.0)
            return tuple(a + (b - a) * t for a, b in zip(top, bottom))

        return colour

    glyph_left, glyph_top, glyph_bottom, glyph_right = 0.34, 0.24, face_bottom - 0.12, 0.68
    keycap = [
        (rounded_rect(0.05, 0.07, 0.95, 0.95, 0.18, size), gradient(SKIRT_TOP, SKIRT_BOTTOM, 0.07, 0.95)),
        (rounded_rect(0.14, 0.11, 0.86, face_bottom, 0.12, size), gradient(FACE_TOP, FACE_BOTTOM, 0.11, face_bottom)),
        (rounded_rect(glyph_left, glyph_top, glyph_left + stroke, glyph_bottom, stroke * 0.2, size), lambda y: GLYPH),
        (rounded_rect(glyph_left, glyph_bottom - stroke, glyph_right, glyph_bottom, stroke * 0.2, size), lambda y: GLYPH),
    ]
    if variant is None:
        return keycap
    if variant == "paused":
        keycap = [(shape, grey(colour)) for shape, colour in keycap]
    return keycap + badge(size, variant)


def render(size, variant=None):
    """Rows of straight-alpha RGBA pixels, top row first."""
    shapes = layers(size, variant)
    step = 1.0 / (size * SAMPLES)
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            red = green = blue = alpha = 0.0
            for shape, colour in shapes:
                hits = 0
                for sy in range(SAMPLES):
                    y = (py * SAMPLES + sy + 0.5) * step
                    for sx in range(SAMPLES):
                        if shape((px * SAMPLES + sx + 0.5) * step, y):
                            hits += 1
                if hits == 0:
                    continue
                cover = hits / (SAMPLES * SAMPLES)
                r, g, b = colour((py + 0.5) / size)
                # "over" compositing in premultiplied form
                red = r * cover + red * (1 - cover)
                green = g * cover + green * (1 - cover)
                blue = b * cover + blue * (1 - cover)
                alpha = cover + alpha * (1 - cover)
            if alpha > 0:
                row += bytes((round(red / alpha), round(green / alpha), round(blue / alpha), round(alpha * 255)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    raw = b"".join(b"\x00" + row for row in rows)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def dib(size, rows):
    """BITMAPINFOHEADER, bottom-up BGRA rows, then the 1-bit AND mask."""
    mask_stride = (size + 31) // 32 * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        for x in range(size):
            r, g, b, a = row[4 * x : 4 * x + 4]
            pixels += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for x in range(size):
            if row[4 * x + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def write_ico(path, sizes, variant, png_dir):
    images = []
    for size in sizes:
        rows = render(size, variant)
        images.append(png(size, rows) if size == 256 or variant else dib(size, rows))
        if png_dir:
            with open(os.path.join(png_dir, "%s-%d.png" % (variant or "icon", size)), "wb") as out:
                out.write(png(size, rows))

    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        side = size if size < 256 else 0  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as out:
        out.write(directory + b"".join(images))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    png_dir = sys.argv[sys.argv.index("--png") + 1] if "--png" in sys.argv else None
    write_ico(os.path.join(here, "lumbrix.ico"), SIZES, None, png_dir)
    write_ico(os.path.join(here, "paused.ico"), TRAY_SIZES, "paused", png_dir)
    write_ico(os.path.join(here, "elevated.ico"), TRAY_SIZES, "elevated", png_dir)


if __name__ == "__main__":
    main()
