#!/usr/bin/env python3
"""Draws Brackwater's icon and writes resources/brackwater.png (256 px) and the
icon family resources/Brackwater.icns (PNG images from 16 to 512 px), or into
the folder given as the argument. Standard library only:
the shapes are drawn at 512 px with 4x4 supersampling, then box-filtered."""
import math
import struct
import sys
import zlib
from pathlib import Path

SIZE = 512
SS = 4  # supersampling per axis at full size


def rounded_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1


def sheet(x, y, x0, y0, w, h, fold):
    """A page with its top right corner folded: inside test and fold test."""
    if not (x0 <= x <= x0 + w and y0 <= y <= y0 + h):
        return 0
    # Cut corner above the diagonal of the fold.
    if (x - (x0 + w - fold)) + ((y0 + fold) - y) > fold:
        return 0
    if x >= x0 + w - fold and y <= y0 + fold:
        return 2  # the folded flap
    return 1


def shade(x, y):
    """Colour (r, g, b, a) of the point (x, y) in a 512 px square."""
    if not rounded_rect(x, y, 24, 24, 488, 488, 96):
        return (0, 0, 0, 0)
    t = (y - 24) / 464.0
    # Brackish water: deep teal at the bottom, lighter above, a wave between.
    r, g, b = 30 + 40 * (1 - t), 110 + 60 * (1 - t), 130 + 50 * (1 - t)
    wave = 330 + 18 * math.sin(x / 38.0)
    if y > wave:
        r, g, b = r * 0.72, g * 0.8, b * 0.86
    # The resource fork: a sheet behind, tinted.
    back = sheet(x, y, 196, 92, 210, 270, 56)
    if back:
        r, g, b = (250, 196, 92) if back == 1 else (214, 150, 60)
    # The data fork: a white sheet in front, with lines of text.
    front = sheet(x, y, 106, 150, 210, 270, 56)
    if front:
        if front == 2:
            r, g, b = (196, 208, 214)
        else:
            r, g, b = (248, 250, 252)
            for i in range(5):
                ly = 250 + i * 30
                if ly - 5 <= y <= ly + 5 and 136 <= x <= (286 if i % 2 == 0 else 246):
                    r, g, b = (120, 140, 156)
    # The arrow from front to back, over both.
    ax, ay = x - 300, y - 412
    if -70 <= ax <= 40 and abs(ay) <= 12 or (40 <= ax <= 90 and abs(ay) <= (90 - ax) * 0.9):
        r, g, b = (236, 92, 72)
    return (r, g, b, 255)


def render():
    pixels = bytearray(SIZE * SIZE * 4)
    step = 1.0 / SS
    for py in range(SIZE):
        for px in range(SIZE):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    r, g, b, a = shade(px + (sx + 0.5) * step, py + (sy + 0.5) * step)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SS * SS
            a = acc[3] / n
            o = (py * SIZE + px) * 4
            if a > 0:
                pixels[o:o + 4] = bytes(
                    [min(255, round(acc[0] / acc[3])), min(255, round(acc[1] / acc[3])),
                     min(255, round(acc[2] / acc[3])), min(255, round(a))])
    return pixels


def downscale(pixels, size, target):
    f = size // target
    out = bytearray(target * target * 4)
    for y in range(target):
        for x in range(target):
            acc = [0, 0, 0, 0]
            for dy in range(f):
                row = ((y * f + dy) * size + x * f) * 4
                for dx in range(f):
                    o = row + dx * 4
                    a = pixels[o + 3]
                    acc[0] += pixels[o] * a
                    acc[1] += pixels[o + 1] * a
                    acc[2] += pixels[o + 2] * a
                    acc[3] += a
            o = (y * target + x) * 4
            if acc[3]:
                out[o:o + 4] = bytes([acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3],
                                      acc[3] // (f * f)])
    return out


def png(pixels, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\0" + bytes(pixels[y * size * 4:(y + 1) * size * 4]) for y in range(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def icns(images):
    body = b"".join(kind + struct.pack(">I", len(data) + 8) + data for kind, data in images)
    return b"icns" + struct.pack(">I", len(body) + 8) + body


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources"
    full = render()
    sizes = {512: full}
    for s in (256, 128, 64, 32, 16):
        sizes[s] = downscale(full, SIZE, s)
    kinds = [(b"icp4", 16), (b"icp5", 32), (b"icp6", 64), (b"ic07", 128), (b"ic08", 256),
             (b"ic09", 512)]
    (out / "Brackwater.icns").write_bytes(icns([(k, png(sizes[s], s)) for k, s in kinds]))
    (out / "brackwater.png").write_bytes(png(sizes[256], 256))


if __name__ == "__main__":
    main()
