#!/usr/bin/env python3
"""The PNG encoder against Pillow on the same screenshots, in one run.

Quality: PSNR of the 256-colour image against the picture, ours (Wu) and
Pillow's quantisers. Size: our PNG against Pillow's optimize=True PNG of the
same palette image. Speed: our encoder (native, png_bench) against Pillow's
median cut plus its optimize=True save.

    png_bench.py <png_bench> <out dir> <file.bmp>...
"""
import io
import json
import math
import statistics
import subprocess
import sys
import time

from PIL import Image

METHODS = [("median cut", Image.Quantize.MEDIANCUT), ("max coverage", Image.Quantize.MAXCOVERAGE),
           ("fast octree", Image.Quantize.FASTOCTREE), ("libimagequant", Image.Quantize.LIBIMAGEQUANT)]


def psnr(a, b):
    x, y = a.tobytes(), b.tobytes()
    total = sum((p - q) * (p - q) for p, q in zip(x, y))
    mse = total / len(x)
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def timed(fn, rounds=3):
    times, result = [], None
    for _ in range(rounds):
        t = time.perf_counter()
        result = fn()
        times.append((time.perf_counter() - t) * 1000)
    return statistics.median(times), result


def main():
    tool, out, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    ours = [json.loads(line) for line in
            subprocess.run([tool, "--rounds", "5", "--out", out, *files], check=True, capture_output=True,
                           text=True).stdout.splitlines()]
    rows = []
    for mine in ours:
        original = Image.open(mine["file"]).convert("RGB")
        row = {"name": mine["file"].rsplit("/", 1)[-1], "size": "%dx%d" % (mine["width"], mine["height"]),
               "ours_psnr": mine["psnr"], "ours_ms": mine["encode_ms"], "ours_bytes": mine["bytes"], "peers": {}}
        for name, method in METHODS:
            try:
                ms, q = timed(lambda: original.quantize(256, method=method), rounds=1)
            except (ValueError, OSError):
                continue  # not built into this Pillow
            row["peers"][name] = psnr(original, q.convert("RGB"))
        # Size: our palette image saved by Pillow with optimize=True.
        with Image.open(mine["png"]) as ours_png:
            ours_png.load()
            buffer = io.BytesIO()
            ours_png.save(buffer, "PNG", optimize=True)
            row["pil_bytes"] = buffer.tell()
        # Speed: Pillow's median cut and its optimize=True save.
        def pil_encode():
            b = io.BytesIO()
            original.quantize(256, method=Image.Quantize.MEDIANCUT).save(b, "PNG", optimize=True)
            return b.tell()
        row["pil_ms"], _ = timed(pil_encode)
        rows.append(row)

    print("%-22s %-10s %8s %s" % ("screenshot", "size", "Wu dB", "  ".join("%13s" % n for n, _ in METHODS)))
    for r in rows:
        print("%-22s %-10s %8.2f %s" % (r["name"], r["size"], r["ours_psnr"],
                                       "  ".join("%13s" % ("%.2f" % r["peers"][n] if n in r["peers"] else "n/a")
                                                 for n, _ in METHODS)))
    print()
    print("%-22s %10s %12s %7s %10s %10s %6s" % ("screenshot", "our bytes", "PIL optimize", "ratio", "our ms",
                                                  "PIL ms", "speed"))
    for r in rows:
        print("%-22s %10d %12d %7.3f %10.1f %10.1f %5.1fx" % (r["name"], r["ours_bytes"], r["pil_bytes"],
                                                            r["ours_bytes"] / r["pil_bytes"], r["ours_ms"],
                                                            r["pil_ms"], r["pil_ms"] / r["ours_ms"]))
    median = sorted(rows, key=lambda r: r["ours_psnr"])[len(rows) // 2]
    best_peer = max(median["peers"].items(), key=lambda kv: kv[1])
    print()
    print("median image %s: Wu %.2f dB, best peer %s %.2f dB -> %s" % (
        median["name"], median["ours_psnr"], best_peer[0], best_peer[1],
        "met" if median["ours_psnr"] >= best_peer[1] else "NOT met"))
    worst = max(r["ours_bytes"] / r["pil_bytes"] for r in rows)
    print("size: largest ratio to PIL optimize=True %.3f -> %s" % (worst, "met" if worst <= 1.05 else "NOT met"))


if __name__ == "__main__":
    main()
