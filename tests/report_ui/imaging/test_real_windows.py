#!/usr/bin/env python3
"""Screenshots of real windows under Wine and Xvfb: Quorrin's main window,
Wine's notepad and winecfg, and a window full of gradients, captured by the
library's CaptureScreen (kx_capture) as the whole screen. Each PNG passes
`pngcheck -v`, Pillow decodes exactly the pixels the encoder meant, has the
screen's size, and is close to the captured picture (PSNR, so that a wrong
palette or row order shows); the grey file too. The PNGs are kept for people
to look at (KX_ARTIFACTS, else the build folder).

    test_real_windows.py <kx_capture.exe> <quorrin.exe> <work dir>
"""
import math
import os
import subprocess
import sys
import unittest

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "helpers"))
from winetest import screen_size, wine_env, winpath  # noqa: E402

CAPTURE = QUORRIN = WORK = None


def psnr(a, b):
    x, y = a.tobytes(), b.tobytes()
    # A sample of the bytes keeps the test quick on large screens.
    step = max(1, len(x) // 400000) * 3
    total = n = 0
    for i in range(0, len(x) - 2, step):
        for k in range(3):
            d = x[i + k] - y[i + k]
            total += d * d
            n += 1
    mse = total / n
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


class RealWindowsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.programs = []
        for command in ([QUORRIN], ["notepad"], ["winecfg"]):
            cls.programs.append(subprocess.Popen(["wine", *command], env=wine_env(), stdout=subprocess.DEVNULL,
                                                 stderr=subprocess.DEVNULL))
        # Up once each program's window is shown and the program idle.
        up = subprocess.run(["wine", CAPTURE, "--wait-for", "30", "TForm1", "Notepad", "#32770"], env=wine_env(),
                            capture_output=True, text=True, timeout=60)
        assert up.returncode == 0, "windows not shown: " + up.stderr

    @classmethod
    def tearDownClass(cls):
        for p in cls.programs:
            p.kill()
            p.wait()
        # Wine's own processes of these programs.
        subprocess.run(["wine", "taskkill", "/f", "/im", "notepad.exe"], env=wine_env(), capture_output=True)
        subprocess.run(["wine", "taskkill", "/f", "/im", "winecfg.exe"], env=wine_env(), capture_output=True)
        subprocess.run(["wine", "taskkill", "/f", "/im", os.path.basename(QUORRIN)], env=wine_env(),
                       capture_output=True)

    def capture(self, name, *options):
        w, h = screen_size()
        base = os.path.join(WORK, "%s-%dx%d" % (name, w, h))
        png, bmp, rgb = base + ".png", base + ".bmp", base + ".rgb"
        out = subprocess.run(["wine", CAPTURE, winpath(png), winpath(bmp), winpath(rgb), *options], env=wine_env(),
                             capture_output=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        check = subprocess.run(["pngcheck", "-v", png], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout)
        self.assertIn("No errors detected", check.stdout)
        with Image.open(png) as decoded, Image.open(bmp) as original, open(rgb, "rb") as f:
            self.assertEqual(decoded.size, (w, h))
            self.assertEqual(original.size, (w, h))
            rgb_pixels = decoded.convert("RGB")
            self.assertTrue(rgb_pixels.tobytes() == f.read(), "Pillow's pixels differ from the encoder's")
            quality = psnr(original.convert("RGB"), rgb_pixels)
        os.remove(rgb)
        os.remove(bmp)
        return png, quality

    def test_desktop_of_real_windows(self):
        png, quality = self.capture("desktop")
        self.assertGreater(quality, 35.0)
        with Image.open(png) as img:
            # Several windows and the desktop: more than a handful of colours.
            self.assertGreater(len(img.convert("RGB").getcolors(1 << 20) or []), 8)

    def test_window_of_gradients(self):
        png, quality = self.capture("gradients", "0", "0", "gradients")
        self.assertGreater(quality, 30.0)
        with Image.open(png) as img:
            self.assertEqual(len(img.getcolors(256)), 256)  # gradients use the whole palette

    def test_desktop_in_16_greys(self):
        png, quality = self.capture("desktop-grey", "0", "1")
        with Image.open(png) as img:
            self.assertEqual(img.info.get("bits", None) or 4, 4)
            colours = {c for _, c in img.convert("RGB").getcolors(256)}
            self.assertTrue(all(r == g == b for r, g, b in colours))


if __name__ == "__main__":
    CAPTURE, QUORRIN, WORK = sys.argv[1:4]
    del sys.argv[1:4]
    os.makedirs(WORK, exist_ok=True)
    unittest.main(verbosity=2)
