#!/usr/bin/env python3
"""Draws the Marklode icon (a waypoint pin over a folded map) as PNG files of
16 to 256 pixels in resources/icons/ (the sizes desktops look for in the
hicolor theme), and the Windows icon marklode.ico with the sizes Windows
uses. Standard library only, so the pictures can be redrawn anywhere: python3 scripts/draw_icon.py"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
PNG_SIZES = (16, 32, 48, 64, 128, 256)
OUT = os.path.join(HERE, "..", "resources", "icons")

MAP_A = (0x5f, 0xa8, 0xd3)   # map panels
MAP_B = (0x8c, 0xc8, 0x7e)
EDGE = (0x2c, 0x4a, 0x6b)
ROUTE = (0xff, 0xff, 0xff)
PIN = (0xd9, 0x3b, 0x2b)
PIN_EDGE = (0x7a, 0x1a, 0x12)


def shade(u, v):
    """Colour (r, g, b, a) at a point of the unit square, (0, 0) top left."""
    # The pin: a circle over a point, drawn on top of everything.
    cx, cy, r = 0.64, 0.34, 0.22
    d = math.hypot(u - cx, v - cy)
    tip_y = 0.86
    in_cone = False
    if cy <= v <= tip_y:
        half = r * (tip_y - v) / (tip_y - cy) * 0.95
        in_cone = abs(u - cx) <= half
    if d <= r or in_cone:
        if d <= r * 0.42:
            return (255, 255, 255, 255)
        if d >= r - 0.045 and not in_cone:
            return PIN_EDGE + (255,)
        return PIN + (255,)
    # The folded map: three panels, slightly skewed, with a dashed route.
    if 0.06 <= u <= 0.94 and 0.18 <= v <= 0.94:
        if u < 0.08 or u > 0.92 or v < 0.2 or v > 0.92:
            return EDGE + (255,)
        panel = int((u - 0.06) / (0.88 / 3))
        base = MAP_A if panel % 2 == 0 else MAP_B
        fold = abs(((u - 0.06) / (0.88 / 3)) % 1 - 0.0) < 0.04
        if fold:
            base = tuple(int(c * 0.7) for c in base)
        route_v = 0.78 - 0.35 * u
        if abs(v - route_v) < 0.035 and int(u * 12) % 2 == 0:
            return ROUTE + (255,)
        return base + (255,)
    return (0, 0, 0, 0)


def render(size, samples=4):
    rows = []
    for y in range(size):
        row = bytearray([0])  # filter: none
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / size
                    v = (y + (sy + 0.5) / samples) / size
                    r, g, b, a = shade(u, v)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if acc[3]:
                row += bytes([round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                              round(acc[2] / acc[3]), round(alpha)])
            else:
                row += bytes([0, 0, 0, 0])
        rows.append(bytes(row))
    return b"".join(rows)


def png(size, pixels):
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


def ico(images):
    """An icon file holding PNG images, as Windows reads them since Vista;
    images: (size, png bytes) pairs, smallest first."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        side = size if size < 256 else 0  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return head + entries + data


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    drawn = {size: png(size, render(size)) for size in PNG_SIZES}
    for size, image in drawn.items():
        with open(os.path.join(OUT, "marklode-%d.png" % size), "wb") as f:
            f.write(image)
    images = [(size, drawn[size]) for size in (16, 32, 48, 256)]
    with open(os.path.join(OUT, "marklode.ico"), "wb") as f:
        f.write(ico(images))
