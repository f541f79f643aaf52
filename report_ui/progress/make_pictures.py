#!/usr/bin/env python3
"""Draws the progress window's pictures: 32x32 bitmaps, 32-bit with alpha.

  KXIPLWAIT  a clock (please wait)      -> kxiplwait.bmp
  KXISEND32  a letter with an arrow     -> kxisend32.bmp

Shapes are sampled 4x4 per pixel, so edges get partial alpha. Run it from
this folder to redraw the files; the build uses the stored files.
"""
import math
import struct

SIZE, SUB = 32, 4


def capsule(px, py, ax, ay, bx, by, r):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy) <= r


def inside_polygon(px, py, pts):
    hit = False
    for i in range(len(pts)):
        (x1, y1), (x2, y2) = pts[i], pts[i - 1]
        if (y1 > py) != (y2 > py) and px < (x2 - x1) * (py - y1) / (y2 - y1) + x1:
            hit = not hit
    return hit


def clock(x, y):
    """Colour (r, g, b) or None at a point of the clock picture."""
    d = math.hypot(x - 16, y - 16)
    if d > 15:
        return None
    if d > 12.5:
        return (40, 90, 170)                      # blue rim
    for a in range(12):                           # hour marks
        ang = a * math.pi / 6
        if capsule(x, y, 16 + 10 * math.sin(ang), 16 - 10 * math.cos(ang),
                   16 + 11.5 * math.sin(ang), 16 - 11.5 * math.cos(ang), 0.7):
            return (60, 60, 60)
    if d < 2:
        return (200, 40, 40)                      # axle
    if capsule(x, y, 16, 16, 16, 7.5, 1.3):       # minute hand
        return (30, 30, 30)
    if capsule(x, y, 16, 16, 21.5, 19, 1.5):      # hour hand
        return (30, 30, 30)
    return (250, 250, 245)                        # face


def letter(x, y):
    arrow = [(17, 21), (24, 21), (24, 17), (31, 24), (24, 31), (24, 27), (17, 27)]
    if inside_polygon(x, y, arrow):
        return (30, 150, 50)
    around = [(16, 20), (23, 20), (23, 15), (32.5, 24), (23, 32.5), (23, 28), (16, 28)]
    if inside_polygon(x, y, around):
        return (10, 80, 20)                       # arrow outline
    if 2 <= x <= 27 and 6 <= y <= 24:
        if x < 3 or x > 26 or y < 7 or y > 23:
            return (90, 90, 110)                  # body outline
        if capsule(x, y, 3, 7.5, 14.5, 16.5, 0.8) or capsule(x, y, 26, 7.5, 14.5, 16.5, 0.8):
            return (90, 90, 110)                  # flap
        return (255, 252, 235)
    return None


def render(shape, size=SIZE):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc, n = [0, 0, 0], 0
            for sy in range(SUB):
                for sx in range(SUB):
                    c = shape(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB)
                    if c:
                        n += 1
                        for k in range(3):
                            acc[k] += c[k]
            a = round(255 * n / (SUB * SUB))
            rgb = [round(v / n) if n else 0 for v in acc]
            row.append((rgb[2], rgb[1], rgb[0], a))   # B, G, R, A
        rows.append(row)
    return rows


def write_bmp(path, rows):
    size = len(rows)
    pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)  # bottom-up
    header = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(header) + len(pixels), 0, 0, 54))
        f.write(header + pixels)


if __name__ == "__main__":
    write_bmp("kxiplwait.bmp", render(clock))
    write_bmp("kxisend32.bmp", render(letter))
