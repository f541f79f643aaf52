#!/usr/bin/env python3
"""Packing and uploading a 5 MB bug report with its screenshot, under Wine.

    python3 bench/delivery_bench.py build/win [runs]

Makes a report text of 5 MB (call-stack, register and module lines as the
library writes them) and a 1280x1024 screenshot PNG, then
- packs both with the delivery's ZIP writer (zip_probe.exe) and with Info-ZIP's
  `zip -6` on the same files: time (median over the runs, the probe's time
  includes starting it under a running wineserver) and size;
- uploads both with the HTTP upload (http_probe.exe) to the local test server
  (tests/helpers/upload_server.py) that parses the form: time
  from start to the server's answer, median.
Run it with a running wineserver (bench/delivery_run does all of it).
"""
import os
import random
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "helpers"))
from upload_server import UploadServer  # noqa: E402
from winetest import winpath  # noqa: E402


def make_report(path, size):
    rnd = random.Random(5)
    units = ["Unit1", "kx_handling", "crash_scenarios", "System", "Forms", "Controls", "analysis"]
    funcs = ["TForm1.openClick", "HandleException", "TApplication.Run", "TWinControl.WndProc", "ScanUses"]
    lines = []
    total = 0
    while total < size:
        kind = rnd.random()
        if kind < 0.7:
            line = "%08x +%03x quorrin.exe    %-16s %5d +%2d %s" % (
                0x401000 + rnd.randrange(0x200000), rnd.randrange(0x400), rnd.choice(units),
                rnd.randrange(1, 3000), rnd.randrange(40), rnd.choice(funcs))
        elif kind < 0.85:
            line = "%08x  " % (0x0019f000 + rnd.randrange(0x1000) * 4) + " ".join(
                "%02x" % rnd.randrange(256) for _ in range(16))
        else:
            line = "%08x %08x %-24s %s" % (0x10000000 + rnd.randrange(0x7000) * 0x1000, rnd.randrange(1 << 24),
                                           "C:\\windows\\system32\\m%03d.dll" % rnd.randrange(400),
                                           "%d.%d.%d.%d" % tuple(rnd.randrange(20) for _ in range(4)))
        lines.append(line)
        total += len(line) + 2
    with open(path, "wb") as f:
        f.write("\r\n".join(lines).encode("ascii") + b"\r\n")


def make_screenshot(path, width=1280, height=1024):
    """A desktop-like picture: windows, title bars, text rows, a photo area."""
    rnd = random.Random(7)
    pixels = bytearray(b"\x3a\x6e\xa5" * width * height)
    def rect(x0, y0, x1, y1, rgb):
        row = bytes(rgb) * (x1 - x0)
        for y in range(y0, y1):
            pixels[(y * width + x0) * 3:(y * width + x1) * 3] = row
    for _ in range(6):
        x0, y0 = rnd.randrange(0, 900), rnd.randrange(0, 700)
        x1, y1 = x0 + rnd.randrange(200, 380), y0 + rnd.randrange(150, 320)
        rect(x0, y0, x1, y1, (240, 240, 240))
        rect(x0, y0, x1, y0 + 22, (0, 84, 227))
        for ty in range(y0 + 30, y1 - 10, 14):
            tx = x0 + 8
            while tx < x1 - 40:
                w = rnd.randrange(3, 30)
                rect(tx, ty, min(tx + w, x1 - 8), ty + 8, (30, 30, 30))
                tx += w + 5
    for y in range(700, 900):
        for x in range(1000, 1200):
            i = (y * width + x) * 3
            pixels[i:i + 3] = bytes((rnd.randrange(256), (x * 3) & 255, (y * 5) & 255))
    raw = b"".join(b"\x00" + bytes(pixels[y * width * 3:(y + 1) * width * 3]) for y in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def timed(cmd):
    start = time.perf_counter()
    proc = subprocess.run(cmd, capture_output=True, env=dict(os.environ, WINEDEBUG="-all"))
    took = time.perf_counter() - start
    if proc.returncode != 0:
        raise SystemExit("%s failed: %s %s" % (cmd[0], proc.stdout, proc.stderr))
    return took


def main():
    build = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    probes = os.path.join(build, "tests", "report_ui", "delivery")
    zip_probe, http_probe = os.path.join(probes, "zip_probe.exe"), os.path.join(probes, "http_probe.exe")
    with tempfile.TemporaryDirectory(prefix="kxbench") as tmp:
        report, shot = os.path.join(tmp, "bugreport.txt"), os.path.join(tmp, "screenShot.png")
        make_report(report, 5 * 1024 * 1024)
        make_screenshot(shot)
        sizes = (os.path.getsize(report), os.path.getsize(shot))
        manifest = os.path.join(tmp, "manifest")
        with open(manifest, "w") as f:
            f.write("%s\tbugreport.txt\n%s\tscreenShot.png\n" % (winpath(report), winpath(shot)))
        ours, theirs = os.path.join(tmp, "ours.zip"), os.path.join(tmp, "theirs.zip")
        t_ours, t_theirs = [], []
        for _ in range(runs):
            t_ours.append(timed(["wine", zip_probe, winpath(ours), winpath(manifest)]))
            if os.path.exists(theirs):
                os.remove(theirs)
            t_theirs.append(timed(["zip", "-6", "-q", "-j", theirs, report, shot]))
        t_start = [timed(["wine", zip_probe, "--acp"]) for _ in range(runs)]
        s_ours, s_theirs = os.path.getsize(ours), os.path.getsize(theirs)
        print("input: report %d bytes, screenshot PNG %d bytes" % sizes)
        print("ZipFiles   : %8d bytes (ratio %.3f)  median %.3f s  (min %.3f, max %.3f)" % (
            s_ours, s_ours / sum(sizes), statistics.median(t_ours), min(t_ours), max(t_ours)))
        print("zip -6     : %8d bytes (ratio %.3f)  median %.3f s  (min %.3f, max %.3f)" % (
            s_theirs, s_theirs / sum(sizes), statistics.median(t_theirs), min(t_theirs), max(t_theirs)))
        print("(starting a probe under Wine alone: median %.3f s)" % statistics.median(t_start))
        print("size against zip -6: %+.2f %%" % ((s_ours / s_theirs - 1) * 100))

        job = os.path.join(tmp, "job")
        hx = lambda s: s.encode("latin-1").hex()
        with UploadServer() as srv:
            with open(job, "w") as f:
                f.write("server\t%s\nport\t%s\n" % (hx("127.0.0.1/upload"), hx(str(srv.port))))
                f.write("field\t%s\t%s\n" % (hx("MailFrom"), hx("bench <bench@example.test>")))
                f.write("file\t%s\t%s\t%s\n" % (hx(winpath(report)), hx("bugreport.txt"), hx("BugReport")))
                f.write("file\t%s\t%s\t%s\n" % (hx(winpath(shot)), hx("screenShot.png"), hx("ScreenShot")))
            t_up = [timed(["wine", http_probe, winpath(job)]) for _ in range(runs)]
            ok = all(isinstance(r[2], list) and len(r[2]) == 3 for r in srv.requests)
        print("HTTP upload: %d bytes  median %.3f s  (min %.3f, max %.3f)  %d runs, all parsed: %s" % (
            sum(sizes), statistics.median(t_up), min(t_up), max(t_up), runs, ok))


if __name__ == "__main__":
    main()
