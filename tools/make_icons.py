#!/usr/bin/env python3
"""Draws Halvane's icon: a beamed pair of notes on a rounded square.

    tools/make_icons.py FOLDER [SIZE ...]

writes FOLDER/halvane.svg and FOLDER/SIZExSIZE/halvane.png for each SIZE (default
16 32 48 64 128 256). One list of shapes gives both: the SVG draws them, and the PNGs
are painted from them here, with plain Python (zlib for the PNG data), each pixel
the average of a grid of samples.
"""
import math
import os
import struct
import sys
import zlib

SIDE = 256  # the drawing's own units

TOP, BOTTOM = (0x3A, 0x7B, 0xD5), (0x35, 0x2A, 0x8C)  # the background's gradient
WHITE = (0xFF, 0xFF, 0xFF)
SHADOW = (0x16, 0x12, 0x45)


class RoundedSquare:
    def __init__(self, x0, y0, x1, y1, r):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r

    def inside(self, x, y):
        if not (self.x0 <= x <= self.x1 and self.y0 <= y <= self.y1):
            return False
        cx = min(max(x, self.x0 + self.r), self.x1 - self.r)
        cy = min(max(y, self.y0 + self.r), self.y1 - self.r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= self.r ** 2

    def svg(self, fill):
        return (f'<rect x="{self.x0}" y="{self.y0}" width="{self.x1 - self.x0}" '
                f'height="{self.y1 - self.y0}" rx="{self.r}" fill="{fill}"/>')


class Ellipse:
    def __init__(self, cx, cy, rx, ry, degrees):
        self.cx, self.cy, self.rx, self.ry, self.degrees = cx, cy, rx, ry, degrees
        self.cos, self.sin = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))

    def inside(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        u = dx * self.cos + dy * self.sin
        v = -dx * self.sin + dy * self.cos
        return (u / self.rx) ** 2 + (v / self.ry) ** 2 <= 1

    def svg(self, fill):
        return (f'<ellipse cx="{self.cx}" cy="{self.cy}" rx="{self.rx}" ry="{self.ry}" '
                f'transform="rotate({self.degrees} {self.cx} {self.cy})" fill="{fill}"/>')


class Polygon:
    """A convex polygon, its corners given clockwise on the screen."""

    def __init__(self, *points):
        self.points = points

    def inside(self, x, y):
        n = len(self.points)
        for i in range(n):
            (ax, ay), (bx, by) = self.points[i], self.points[(i + 1) % n]
            if (bx - ax) * (y - ay) - (by - ay) * (x - ax) < 0:
                return False
        return True

    def svg(self, fill):
        corners = " ".join(f"{x},{y}" for x, y in self.points)
        return f'<polygon points="{corners}" fill="{fill}"/>'


def rect(x0, y0, x1, y1):
    return Polygon((x0, y0), (x1, y0), (x1, y1), (x0, y1))


def notes(dx=0, dy=0):
    """The two heads, their stems and the beam, moved by (dx, dy)."""
    return [
        Ellipse(86 + dx, 184 + dy, 30, 21, -22),
        Ellipse(178 + dx, 160 + dy, 30, 21, -22),
        rect(103 + dx, 62 + dy, 115 + dx, 180 + dy),
        rect(195 + dx, 40 + dy, 207 + dx, 156 + dy),
        Polygon((103 + dx, 62 + dy), (207 + dx, 40 + dy), (207 + dx, 72 + dy), (103 + dx, 94 + dy)),
    ]


BACKGROUND = RoundedSquare(12, 12, 244, 244, 52)
# (shapes, colour, opacity), painted in order over the background.
LAYERS = [(notes(5, 7), SHADOW, 0.35), (notes(), WHITE, 1.0)]


def hex_colour(rgb):
    return "#%02x%02x%02x" % rgb


def svg_text():
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{SIDE}" height="{SIDE}" viewBox="0 0 {SIDE} {SIDE}">',
        '  <defs><linearGradient id="bg" x1="0" y1="0" x2="0" y2="1">'
        f'<stop offset="0" stop-color="{hex_colour(TOP)}"/>'
        f'<stop offset="1" stop-color="{hex_colour(BOTTOM)}"/></linearGradient></defs>',
        "  " + BACKGROUND.svg("url(#bg)"),
    ]
    for shapes, colour, opacity in LAYERS:
        lines.append(f'  <g fill-opacity="{opacity}">')
        lines += ["    " + shape.svg(hex_colour(colour)) for shape in shapes]
        lines.append("  </g>")
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def background_colour(y):
    t = min(max((y - BACKGROUND.y0) / (BACKGROUND.y1 - BACKGROUND.y0), 0.0), 1.0)
    return tuple(a + (b - a) * t for a, b in zip(TOP, BOTTOM))


def pixel(px, py, size, grid):
    """The pixel's colour (non-premultiplied 0..255 components and alpha)."""
    scale = SIDE / size
    red = green = blue = alpha = 0.0  # premultiplied sums over the samples
    for j in range(grid):
        y = (py + (j + 0.5) / grid) * scale
        for i in range(grid):
            x = (px + (i + 0.5) / grid) * scale
            if not BACKGROUND.inside(x, y):
                continue
            colour = list(background_colour(y))
            for shapes, paint, opacity in LAYERS:
                if any(shape.inside(x, y) for shape in shapes):
                    colour = [c + (p - c) * opacity for c, p in zip(colour, paint)]
            red, green, blue, alpha = red + colour[0], green + colour[1], blue + colour[2], alpha + 1
    if alpha == 0:
        return 0, 0, 0, 0
    return (round(red / alpha), round(green / alpha), round(blue / alpha), round(255 * alpha / grid ** 2))


def png_bytes(size):
    grid = 4 if size <= 64 else 3 if size <= 128 else 2
    rows = bytearray()
    for py in range(size):
        rows.append(0)  # no filter
        for px in range(size):
            rows += bytes(pixel(px, py, size, grid))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    folder = argv[1]
    sizes = [int(s) for s in argv[2:]] or [16, 32, 48, 64, 128, 256]
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "halvane.svg"), "w", encoding="utf-8") as out:
        out.write(svg_text())
    for size in sizes:
        os.makedirs(os.path.join(folder, f"{size}x{size}"), exist_ok=True)
        with open(os.path.join(folder, f"{size}x{size}", "halvane.png"), "wb") as out:
            out.write(png_bytes(size))


if __name__ == "__main__":
    main(sys.argv)
