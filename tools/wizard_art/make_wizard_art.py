#!/usr/bin/env python3
"""Draws the wizard's two pictures and writes them as 24-bit PNG files.

  watermark.png  500 x 314: the left band of the welcome and result pages
  header.png     500 x 60:  the band behind the title of the three inner pages

Only the standard library is used, so the pictures can be remade anywhere:
    python3 tools/wizard_art/make_wizard_art.py app/wizard/art
"""
import struct
import sys
import zlib
from pathlib import Path


def write_png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter type None
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8 bits, RGB
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")
    Path(path).write_bytes(png)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


DEEP = (22, 74, 58)      # fallow green
FIELD = (64, 140, 96)
PALE = (236, 244, 238)
PAPER = (255, 255, 255)
GRID = (176, 204, 184)
GOLD = (222, 178, 74)

# The part of the watermark beside the pages' texts: the pages show this band only.
BAND = 170


def watermark(x, y):
    if x >= BAND:
        return mix(PALE, PAPER, (x - BAND) / 60.0)
    # Furrowed field: diagonal stripes over a vertical gradient.
    base = mix(DEEP, FIELD, y / 314.0)
    if ((x + 2 * y) // 14) % 2 == 0:
        base = mix(base, DEEP, 0.25)
    # A small sheet of cells: the converted table.
    sx, sy, sw, sh = 30, 118, 110, 84
    if sx <= x < sx + sw and sy <= y < sy + sh:
        if (x - sx) % 22 == 0 or (y - sy) % 14 == 0 or x == sx + sw - 1 or y == sy + sh - 1:
            return GRID
        if y - sy < 14:
            return GOLD
        return PAPER
    # A rising sun over the field.
    dx, dy = x - 120, y - 60
    if dx * dx + dy * dy < 22 * 22:
        return GOLD
    # A soft edge where the band meets the page.
    if x >= BAND - 6:
        return mix(base, PALE, (x - (BAND - 6)) / 6.0)
    return base


def header(x, y):
    # Plain white where the title and subtitle stand, the field colours on the right.
    if x < 300:
        base = PAPER
    else:
        base = mix(PAPER, PALE, (x - 300) / 60.0)
    if x >= 440:
        base = mix(FIELD, DEEP, y / 60.0)
        if ((x + 2 * y) // 10) % 2 == 0:
            base = mix(base, DEEP, 0.3)
        dx, dy = x - 470, y - 22
        if dx * dx + dy * dy < 11 * 11:
            return GOLD
    if y == 59:
        return GRID
    return base


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "app/wizard/art")
    out.mkdir(parents=True, exist_ok=True)
    write_png(out / "watermark.png", 500, 314, watermark)
    write_png(out / "header.png", 500, 60, header)


if __name__ == "__main__":
    main()
