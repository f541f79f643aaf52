#!/usr/bin/env python3
"""The screenshot at a crash, under Wine with a display: the crash lab dies
with screenshots switched on and leaves screenShot.png in the library's
temporary directory ("crashlab.Kestrix" in the temporary folder). The file
passes `pngcheck -v`, Pillow reads it, its size is the screen's (or the
program's window's), grey with ScrShotDepth 4; no window, no file.

    test_crash_screenshot.py <crashlab.exe>
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "helpers"))
from winetest import screen_size, wine, winpath  # noqa: E402

LAB = None
TIMEOUT = 60


def temp_folder():
    out = wine("cmd", "/c", "echo", "%TEMP%", timeout=TIMEOUT).stdout.decode("latin-1").strip()
    return subprocess.run(["winepath", "-u", out], capture_output=True, text=True).stdout.strip()


class CrashScreenshotTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(temp_folder(), "crashlab.Kestrix")
        shutil.rmtree(self.dir, ignore_errors=True)
        self.png = os.path.join(self.dir, "screenShot.png")
        self.tmp = tempfile.mkdtemp(prefix="kxshot")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def crash(self, scenario, *settings):
        args = [os.path.join(os.path.dirname(LAB), "exit_code.exe"), LAB, *scenario]
        for s in settings:
            args += ["--set", s]
        args += ["--report", winpath(os.path.join(self.tmp, "bugreport.txt"))]
        try:
            wine(*args, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            self.fail("hang: no end within %d seconds" % TIMEOUT)

    def check_png(self):
        self.assertTrue(os.path.exists(self.png), "no screenShot.png")
        out = subprocess.run(["pngcheck", "-v", self.png], capture_output=True, text=True)
        self.assertEqual(out.returncode, 0, out.stdout)
        self.assertIn("No errors detected", out.stdout)
        shutil.copy(self.png, os.path.join(os.environ.get("KX_ARTIFACTS", self.tmp), "crash-%s.png" % self.id().split(".")[-1]))
        return Image.open(self.png)

    def test_whole_screen_in_256_colours(self):
        self.crash(["null-call"], "ScrShotDepth=8", "ScrShotAppOnly=false")
        with self.check_png() as img:
            self.assertEqual(img.size, screen_size())
            self.assertEqual(img.mode, "P")
            self.assertEqual(img.info.get("bits", 8), 8)

    def test_grey_with_depth_4(self):
        self.crash(["null-call"], "ScrShotDepth=4", "ScrShotAppOnly=false")
        with self.check_png() as img:
            self.assertEqual(img.size, screen_size())
            palette = img.getpalette()[:48]
            self.assertEqual(palette[0::3], palette[1::3])  # grey entries
            self.assertEqual(palette[0::3], [0, 28, 52, 73, 92, 109, 125, 140, 155, 170, 185, 199, 213, 227, 241, 255])

    def test_app_only_without_a_window_gives_no_file(self):
        self.crash(["null-call"], "ScrShotDepth=8", "ScrShotAppOnly=true")
        self.assertFalse(os.path.exists(self.png))

    def test_app_only_is_the_programs_window(self):
        self.crash(["fault-in-unwinding", "--click", "--visible"], "ScrShotDepth=8", "ScrShotAppOnly=true")
        with self.check_png() as img:
            self.assertEqual(img.size, (200, 100))  # the lab's window

    def test_no_screenshot_when_switched_off(self):
        self.crash(["null-call"], "ScrShotDepth=0")
        self.assertFalse(os.path.exists(self.png))


if __name__ == "__main__":
    LAB = sys.argv.pop(1)
    unittest.main(verbosity=2)
