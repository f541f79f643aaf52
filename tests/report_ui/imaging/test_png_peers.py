#!/usr/bin/env python3
"""The PNG encoder checked by other programs: every file it writes passes
`pngcheck -v`, and Pillow decodes exactly the pixels the encoder meant to
write (the palette colour of each index). Pictures are made with Pillow and
handed to the encoder as BMP files, so the BMP reader is on the way too.

    test_png_peers.py <kx_png_tool> [<work dir>]
"""
import os
import random
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

TOOL = None


def gradient(w, h):
    img = Image.new("RGB", (w, h))
    px = bytearray()
    for y in range(h):
        for x in range(w):
            px += bytes(((x * 255) // max(1, w - 1), (y * 255) // max(1, h - 1), ((x + y) * 3) & 255))
    img.frombytes(bytes(px))
    return img


def window_like(w, h, seed):
    """Flat panels, frames, text-like strokes and one photo-like gradient."""
    rnd = random.Random(seed)
    img = Image.new("RGB", (w, h), (236, 233, 216))
    d = ImageDraw.Draw(img)
    for _ in range(40):
        x0, y0 = rnd.randrange(w), rnd.randrange(h)
        x1, y1 = min(w - 1, x0 + rnd.randrange(20, w // 2)), min(h - 1, y0 + rnd.randrange(20, h // 2))
        d.rectangle((x0, y0, x1, y1), fill=tuple(rnd.randrange(256) for _ in range(3)), outline=(0, 0, 0))
        for line in range(y0 + 4, y1 - 8, 14):
            d.text((x0 + 4, line), "Kestrix screenshot %d" % line, fill=(0, 0, 0))
    g = gradient(w // 3, h // 3)
    img.paste(g, (w // 3, h // 3))
    return img


def noise(w, h, seed):
    rnd = random.Random(seed)
    return Image.frombytes("RGB", (w, h), bytes(rnd.randrange(256) for _ in range(w * h * 3)))


def colours(n, w):
    """n distinct colours, one per pixel, in rows of w."""
    h = (n + w - 1) // w
    img = Image.new("RGB", (w, h), (0, 0, 0))
    for i in range(n):
        img.putpixel((i % w, i // w), ((i * 37) & 255, (i * 91) & 255, (i * 13 + i // 256 * 128) & 255))
    return img


def greys(w, h):
    img = Image.new("L", (w, h))
    img.putdata([(x * 7 + y * 3) & 255 for y in range(h) for x in range(w)])
    return img


def check(name, img, mode, work, expect_entries=None, expect_depth=None):
    bmp = os.path.join(work, name + ".bmp")
    png = os.path.join(work, name + "-%d.png" % mode)
    rgb = os.path.join(work, name + "-%d.rgb" % mode)
    img.save(bmp)
    out = subprocess.run([TOOL, bmp, str(mode), png, rgb], capture_output=True, text=True)
    if out.returncode != 0:
        return "%s: encoder failed: %s" % (name, out.stderr.strip())
    fields = out.stdout.split()
    depth, entries = int(fields[3]), int(fields[5])
    problems = []
    check = subprocess.run(["pngcheck", "-v", png], capture_output=True, text=True)
    if check.returncode != 0 or "No errors detected" not in check.stdout:
        problems.append("pngcheck: " + check.stdout.strip().splitlines()[-1])
    with Image.open(png) as decoded:
        if decoded.size != img.size:
            problems.append("size %s, not %s" % (decoded.size, img.size))
        if decoded.mode != "P":
            problems.append("mode %s, not P" % decoded.mode)
        pixels = decoded.convert("RGB").tobytes()
    with open(rgb, "rb") as f:
        expected = f.read()
    if pixels != expected:
        first = next(i for i in range(min(len(pixels), len(expected))) if pixels[i] != expected[i])
        problems.append("pixel %d differs from what the encoder meant" % (first // 3))
    if expect_entries is not None and entries != expect_entries:
        problems.append("%d palette entries used, not %d" % (entries, expect_entries))
    if expect_depth is not None and depth != expect_depth:
        problems.append("bit depth %d, not %d" % (depth, expect_depth))
    for p in (bmp, png, rgb):
        os.remove(p)
    return "; ".join(name + ": " + p for p in problems)


def main():
    global TOOL
    TOOL = sys.argv[1]
    work = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp(prefix="kxpng")
    os.makedirs(work, exist_ok=True)
    cases = [
        ("one-pixel", Image.new("RGB", (1, 1), (12, 34, 56)), 0, 1, 8),
        ("one-pixel-grey", Image.new("RGB", (1, 1), (200, 100, 50)), 1, 16, 4),
        ("odd-width-3", gradient(3, 5), 1, 16, 4),
        ("odd-width-257", gradient(257, 31), 0, None, 8),
        ("one-colour", Image.new("RGB", (640, 480), (51, 102, 153)), 0, 1, 8),
        ("colours-256", colours(256, 16), 0, 256, 8),
        ("colours-257", colours(257, 16), 0, 256, 8),
        ("pure-greys", greys(301, 97), 0, None, 8),
        ("pure-greys-16", greys(301, 97), 1, 16, 4),
        ("noise-limited", noise(333, 177, 1), 2, 16, 4),
        ("window-like", window_like(1280, 1024, 2), 0, None, 8),
        ("window-like-limit", window_like(800, 600, 3), 5, None, None),
        ("tall-thin", gradient(1, 999), 0, None, 8),
        ("uhd", window_like(4096, 2160, 4), 0, None, 8),
    ]
    failures = []
    for name, img, mode, entries, depth in cases:
        problem = check(name, img, mode, work, entries, depth)
        print(("FAIL " + problem) if problem else ("ok   %s (mode %d)" % (name, mode)))
        if problem:
            failures.append(problem)
    print("%d passed, %d failed" % (len(cases) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
