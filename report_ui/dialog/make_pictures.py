#!/usr/bin/env python3
"""Draws the exception dialog's pictures: bitmaps, 32-bit with alpha.

  kxisend .. kxiclose, kxicantContinue   16x16, one per button
  KXIBIG                                 32x32, beside the message

Each picture is a function of a point in its own square (0..n); shapes are
sampled 4x4 per pixel, so edges get partial alpha. Run it from this folder
to redraw the .bmp files; the build uses the stored files.
"""
import math
import os
import runpy

# Sampling, capsules, polygons and the file format: the progress window's
# picture script.
_here = os.path.dirname(os.path.abspath(__file__))
_progress = runpy.run_path(os.path.join(_here, "..", "progress", "make_pictures.py"))
capsule, polygon = _progress["capsule"], _progress["inside_polygon"]
render, write_bmp = _progress["render"], _progress["write_bmp"]


def box(px, py, x1, y1, x2, y2):
    return x1 <= px <= x2 and y1 <= py <= y2


def shade(colour, y, top, bottom, amount=40):
    """colour lighter at top, darker at bottom."""
    t = (y - top) / max(bottom - top, 1e-6) - 0.5
    return tuple(max(0, min(255, round(c - amount * t))) for c in colour)


def send(x, y):
    arrow = [(7.5, 9.5), (11, 9.5), (11, 7.5), (15.5, 11.5), (11, 15.5), (11, 13.5), (7.5, 13.5)]
    if polygon(x, y, arrow):
        return shade((40, 160, 60), y, 7.5, 15.5)
    if box(x, y, 0.5, 2.5, 13.5, 11.5):
        if not box(x, y, 1.3, 3.3, 12.7, 10.7):
            return (80, 80, 110)
        if capsule(x, y, 1.5, 3.5, 7, 7.8, 0.55) or capsule(x, y, 12.5, 3.5, 7, 7.8, 0.55):
            return (80, 80, 110)
        return (255, 250, 230)
    return None


def save(x, y):
    if not box(x, y, 1, 1, 15, 15) or (x > 13 and y < 3 and x - 13 > y - 1):
        return None
    if box(x, y, 4, 1.8, 11, 6) :
        return (215, 220, 230) if not box(x, y, 8.5, 2.5, 10, 5.3) else (60, 70, 90)
    if box(x, y, 3.2, 8.5, 12.8, 14.2):
        return (250, 250, 250) if not (box(x, y, 4.5, 10, 11.5, 10.6) or box(x, y, 4.5, 12, 11.5, 12.6)) \
            else (150, 160, 190)
    return shade((50, 90, 180), y, 1, 15)


def print_(x, y):
    if box(x, y, 4, 1, 12, 6):
        return (250, 250, 250) if box(x, y, 4.6, 1.6, 11.4, 6) else (110, 110, 120)
    if box(x, y, 1, 6, 15, 12):
        if not box(x, y, 1.6, 6.6, 14.4, 11.4):
            return (70, 70, 80)
        if box(x, y, 11.5, 7.5, 13, 8.7):
            return (60, 200, 70)
        return shade((170, 172, 180), y, 6, 12)
    if box(x, y, 4, 10, 12, 15):
        if box(x, y, 5.5, 12, 10.5, 12.6):
            return (130, 130, 140)
        return (250, 250, 250) if box(x, y, 4.6, 10, 11.4, 14.4) else (110, 110, 120)
    return None


def show(x, y):
    d = math.hypot(x - 9.5, y - 9.5)
    if capsule(x, y, 12, 12, 15, 15, 1.4):
        return (90, 60, 30)
    if d <= 4.6:
        return (60, 60, 70) if d > 3.6 else (200, 230, 250)
    if box(x, y, 1, 0.5, 11, 14):
        if not box(x, y, 1.7, 1.2, 10.3, 13.3):
            return (100, 100, 110)
        if any(box(x, y, 3, r, 8.5, r + 0.7) for r in (3, 5, 7, 9, 11)):
            return (120, 130, 160)
        return (255, 255, 255)
    return None


def continue_(x, y, colour=(40, 160, 60), rim=(20, 100, 30)):
    outer = [(3, 1.5), (14.5, 8), (3, 14.5)]
    inner = [(4, 3.2), (12.6, 8), (4, 12.8)]
    if polygon(x, y, inner):
        return shade(colour, y, 2, 14, 60)
    if polygon(x, y, outer):
        return rim
    return None


def cant_continue(x, y):
    if capsule(x, y, 2, 14, 14, 2, 1.1):
        return (200, 40, 40)
    return continue_(x, y, (170, 170, 170), (110, 110, 110))


def restart(x, y):
    d = math.hypot(x - 8, y - 8.5)
    ang = math.degrees(math.atan2(y - 8.5, x - 8)) % 360
    head = [(9.5, 0.3), (15, 3.5), (9.5, 6.8)]
    if polygon(x, y, head):
        return (30, 110, 200)
    if 4 <= d <= 6.6 and not (270 < ang < 330):
        return shade((50, 130, 220), y, 2, 15)
    return None


def red_cross(x, y, n):
    """A red disc with a white cross and a highlight, n pixels across."""
    k, c = n / 32, n / 2
    d = math.hypot(x - c, y - c)
    if d > 15 * k:
        return None
    a, b = c - 5.5 * k, c + 5.5 * k
    if capsule(x, y, a, a, b, b, 2.2 * k) or capsule(x, y, b, a, a, b, 2.2 * k):
        return (255, 255, 255)
    if d > 13.8 * k:
        return (130, 15, 15)
    highlight = max(0.0, 1 - math.hypot(x - 12 * k, y - 9 * k) / (10 * k))
    base = shade((225, 45, 40), y, 2 * k, 30 * k, 80)
    return tuple(min(255, round(v + (255 - v) * 0.45 * highlight)) for v in base)


def close(x, y):
    return red_cross(x, y, 16)


def big(x, y):
    return red_cross(x, y, 32)


PICTURES = [
    ("kxisend", send, 16), ("kxisave", save, 16), ("kxiprint", print_, 16), ("kxishow", show, 16),
    ("kxicontinue", continue_, 16), ("kxirestart", restart, 16), ("kxiclose", close, 16),
    ("kxicantContinue", cant_continue, 16), ("KXIBIG", big, 32),
]

if __name__ == "__main__":
    os.chdir(_here)
    for name, shape, size in PICTURES:
        write_bmp(name.lower() + ".bmp", render(shape, size))
