#!/usr/bin/env python3
"""Draws Brackwater's icon and writes, into resources/ or the folder given as
the argument:
- icons/<N>x<N>/brackwater.png for the desktop's hicolor icon theme, at every
  size it looks for (16, 22, 24, 32, 48, 64, 128, 256 and 512 px);
- icons/scalable/brackwater.svg, the same shapes as vector drawing;
- Brackwater.icns, the icon family the application loads for its windows (PNG
  images from 16 to 512 px).
Standard library only: the shapes are drawn at 512 px with 4x4 supersampling,
then box-filtered down to each size (with fractional coverage where 512 is not
a multiple of the size)."""
import math
import struct
import sys
import zlib
from pathlib import Path

SIZE = 512
SS = 4  # supersampling per axis at full size


# The design, in the coordinates of a 512 px square; the raster and the vector
# drawing both read these.
TILE = (24, 24, 488, 488, 96)  # x0, y0, x1, y1, corner radius
WAVE = (330, 18, 38.0)  # mean height, amplitude, x per radian
BELOW_WAVE = (0.72, 0.8, 0.86)  # darkening of the water under the wave
BACK_SHEET = (196, 92, 210, 270, 56)  # x0, y0, width, height, fold
BACK_COLOURS = ((250, 196, 92), (214, 150, 60))  # page, folded flap
FRONT_SHEET = (106, 150, 210, 270, 56)
FRONT_COLOURS = ((248, 250, 252), (196, 208, 214))
TEXT_LINES = [(250 + i * 30, 136, 286 if i % 2 == 0 else 246) for i in range(5)]  # y, x0, x1
TEXT_HALF_HEIGHT = 5
TEXT_COLOUR = (120, 140, 156)
ARROW = (300, 412, 70, 40, 90, 12, 0.9)  # x, y, tail, head starts, tip, half shaft, head slope
ARROW_COLOUR = (236, 92, 72)


def water(t):
    """Colour of the water at the height t (0 at the tile's top, 1 at its bottom)."""
    return 30 + 40 * (1 - t), 110 + 60 * (1 - t), 130 + 50 * (1 - t)


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
    if not rounded_rect(x, y, *TILE):
        return (0, 0, 0, 0)
    t = (y - TILE[1]) / float(TILE[3] - TILE[1])
    # Brackish water: deep teal at the bottom, lighter above, a wave between.
    r, g, b = water(t)
    wave = WAVE[0] + WAVE[1] * math.sin(x / WAVE[2])
    if y > wave:
        r, g, b = r * BELOW_WAVE[0], g * BELOW_WAVE[1], b * BELOW_WAVE[2]
    # The resource fork: a sheet behind, tinted.
    back = sheet(x, y, *BACK_SHEET)
    if back:
        r, g, b = BACK_COLOURS[back - 1]
    # The data fork: a white sheet in front, with lines of text.
    front = sheet(x, y, *FRONT_SHEET)
    if front:
        r, g, b = FRONT_COLOURS[front - 1]
        if front == 1:
            for ly, lx0, lx1 in TEXT_LINES:
                if ly - TEXT_HALF_HEIGHT <= y <= ly + TEXT_HALF_HEIGHT and lx0 <= x <= lx1:
                    r, g, b = TEXT_COLOUR
    # The arrow from front to back, over both.
    x_at, y_at, tail, head, tip, half, slope = ARROW
    ax, ay = x - x_at, y - y_at
    if -tail <= ax <= head and abs(ay) <= half or (head <= ax <= tip and
                                                    abs(ay) <= (tip - ax) * slope):
        r, g, b = ARROW_COLOUR
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


def resample(pixels, size, target):
    """Box filter to any smaller size: each target pixel averages the source
    pixels it covers, weighted by how much of each it covers."""
    if size % target == 0:
        return downscale(pixels, size, target)
    f = size / target
    spans = []
    for i in range(target):
        lo, hi = i * f, (i + 1) * f
        spans.append([(j, min(hi, j + 1) - max(lo, j)) for j in range(int(lo), min(size, math.ceil(hi)))])
    out = bytearray(target * target * 4)
    for y in range(target):
        for x in range(target):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy, wy in spans[y]:
                row = sy * size
                for sx, wx in spans[x]:
                    o = (row + sx) * 4
                    w = wx * wy
                    wa = w * pixels[o + 3]
                    acc[0] += pixels[o] * wa
                    acc[1] += pixels[o + 1] * wa
                    acc[2] += pixels[o + 2] * wa
                    acc[3] += wa
            o = (y * target + x) * 4
            if acc[3]:
                out[o:o + 4] = bytes([min(255, round(acc[0] / acc[3])),
                                      min(255, round(acc[1] / acc[3])),
                                      min(255, round(acc[2] / acc[3])),
                                      min(255, round(acc[3] / (f * f)))])
    return out


def png(pixels, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\0" + bytes(pixels[y * size * 4:(y + 1) * size * 4]) for y in range(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def svg():
    """The same design as vector drawing: the tile clips the water and the
    wave; sheets, text lines and arrow are polygons and rectangles."""
    def rgb(c):
        return "#%02x%02x%02x" % tuple(min(255, round(v)) for v in c)

    def num(v):
        return ("%.2f" % v).rstrip("0").rstrip(".")

    def sheet_paths(x0, y0, w, h, fold, colours):
        a, b = x0 + w - fold, y0 + fold
        page = "M%d %dH%dL%d %dV%dH%dZ" % (x0, y0, a, x0 + w, b, y0 + h, x0)
        flap = "M%d %dV%dH%dZ" % (a, y0, b, x0 + w)
        return ['<path fill="%s" d="%s"/>' % (rgb(colours[0]), page),
                '<path fill="%s" d="%s"/>' % (rgb(colours[1]), flap)]

    x0, y0, x1, y1, r = TILE
    top, bottom = water(0), water(1)
    dark = [tuple(c * k for c, k in zip(colour, BELOW_WAVE)) for colour in (top, bottom)]
    # The wave as short straight pieces: 4 px apart they stay within 0.05 px of the sine.
    points = [(x, WAVE[0] + WAVE[1] * math.sin(x / WAVE[2])) for x in range(x0, x1 + 1, 4)]
    wave = "M%d %d" % (x0, y1) + "".join("L%d %s" % (x, num(y)) for x, y in points) + \
        "L%d %dZ" % (x1, y1)
    x_at, y_at, tail, head, tip, half, slope = ARROW
    barb = (tip - head) * slope
    arrow = "M%d %dH%dV%sL%d %dL%d %sV%dH%dZ" % (
        x_at - tail, y_at - half, x_at + head, num(y_at - barb), x_at + tip, y_at, x_at + head,
        num(y_at + barb), y_at + half, x_at - tail)
    lines = ['<svg xmlns="http://www.w3.org/2000/svg" width="512" height="512" '
             'viewBox="0 0 512 512">',
             "<title>Brackwater</title>",
             "<defs>",
             '<clipPath id="tile"><rect x="%d" y="%d" width="%d" height="%d" rx="%d"/></clipPath>'
             % (x0, y0, x1 - x0, y1 - y0, r)]
    for name, (c0, c1) in (("water", (top, bottom)), ("deep", dark)):
        lines.append('<linearGradient id="%s" gradientUnits="userSpaceOnUse" x1="0" y1="%d" '
                     'x2="0" y2="%d"><stop offset="0" stop-color="%s"/><stop offset="1" '
                     'stop-color="%s"/></linearGradient>' % (name, y0, y1, rgb(c0), rgb(c1)))
    lines += ["</defs>",
              '<g clip-path="url(#tile)">',
              '<rect x="%d" y="%d" width="%d" height="%d" fill="url(#water)"/>'
              % (x0, y0, x1 - x0, y1 - y0),
              '<path fill="url(#deep)" d="%s"/>' % wave,
              "</g>"]
    lines += sheet_paths(*BACK_SHEET, BACK_COLOURS)
    lines += sheet_paths(*FRONT_SHEET, FRONT_COLOURS)
    for ly, lx0, lx1 in TEXT_LINES:
        lines.append('<rect fill="%s" x="%d" y="%d" width="%d" height="%d"/>'
                     % (rgb(TEXT_COLOUR), lx0, ly - TEXT_HALF_HEIGHT, lx1 - lx0,
                        2 * TEXT_HALF_HEIGHT))
    lines.append('<path fill="%s" d="%s"/>' % (rgb(ARROW_COLOUR), arrow))
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def icns(images):
    body = b"".join(kind + struct.pack(">I", len(data) + 8) + data for kind, data in images)
    return b"icns" + struct.pack(">I", len(body) + 8) + body


THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256, 512)


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources"
    full = render()
    sizes = {SIZE: full}
    for s in THEME_SIZES:
        if s not in sizes:
            sizes[s] = resample(full, SIZE, s)
    kinds = [(b"icp4", 16), (b"icp5", 32), (b"icp6", 64), (b"ic07", 128), (b"ic08", 256),
             (b"ic09", 512)]
    (out / "Brackwater.icns").write_bytes(icns([(k, png(sizes[s], s)) for k, s in kinds]))
    for s in THEME_SIZES:
        folder = out / "icons" / ("%dx%d" % (s, s))
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "brackwater.png").write_bytes(png(sizes[s], s))
    (out / "icons" / "scalable").mkdir(parents=True, exist_ok=True)
    (out / "icons" / "scalable" / "brackwater.svg").write_text(svg())


if __name__ == "__main__":
    main()
