#!/usr/bin/env python3
"""The printed report through a real printer driver: Wine's PostScript driver
prints into a file (lab_printer), Ghostscript reads the pages back.

test_print_report.py PRINT_PROBE LAB_PRINTER BOX_CLOSER
"""
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "helpers"))
from winetest import wait_for_file, wine  # noqa: E402

PROBE = LAB_PRINTER = CLOSER = None
PRINTER = "Kestrix Lab Printer"
MM = 72 / 25.4  # PostScript points per millimetre
A4 = (595.28, 841.89)


def install_printer(output):
    """The lab printer, printing into `output`; a job replaces the file."""
    proc = wine(LAB_PRINTER, PRINTER, output)
    assert proc.returncode == 0, proc.stderr


def wait_for(path, seconds=30):
    """The printer's file, written and no longer growing (the spooler copies
    the job in one go, from another process)."""
    return wait_for_file(path, seconds, settled=0.3)


def ps_pages(path):
    with open(path, "rb") as f:
        return len(re.findall(rb"^%%Page: ", f.read(), re.M))


def page_text(path, page):
    """The text Ghostscript finds on one page, as rows without outer blanks."""
    out = subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=txtwrite", f"-dFirstPage={page}",
                          f"-dLastPage={page}", "-sOutputFile=-", path], capture_output=True, timeout=120, check=True)
    return [r.strip() for r in out.stdout.decode("latin-1").splitlines() if r.strip()]


def bounding_boxes(path):
    """Per page the box (points, origin bottom left) that the ink covers."""
    out = subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=bbox", path],
                         capture_output=True, timeout=120, check=True)
    return [tuple(map(float, m)) for m in
            re.findall(rb"%%HiResBoundingBox: ([\d.]+) ([\d.]+) ([\d.]+) ([\d.]+)", out.stderr)]


def squeeze(text):
    return " ".join(text.split())


def solid(text):
    """The text without any blank: a line wrapped mid-word compares equal."""
    return "".join(text.split())


def sample_report():
    """A report-like text over several pages: header items, a line far wider
    than the page (words), one without any blank, empty lines."""
    lines = ["date/time          : 2026-12-07, 18:45:00, 123ms",
             "command line       : " + " ".join(f"--option{i}=value{i}" for i in range(30)),
             "exception message  : Access violation at address $0040123f. Read of address $10.", ""]
    for t in range(4):
        lines.append(f"thread ${t + 1:x}:")
        for i in range(70):
            lines.append(f"0040{t:x}{i:03x} +{i:03x} quorrin.exe unit{i:02d} {100 + i:4d} +{i % 9} Function{t}_{i}")
        lines.append("")
    lines.append("x" * 260)
    return "\r\n".join(lines)


class PrintReportTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.ps = os.path.join(self.tmp.name, "printed.ps")
        install_printer(self.ps)
        self.report_text = sample_report()
        self.report = os.path.join(self.tmp.name, "report.txt")
        with open(self.report, "wb") as f:
            f.write(self.report_text.encode("latin-1"))

    def tearDown(self):
        self.tmp.cleanup()

    def print_directly(self):
        proc = wine(PROBE, self.report, PRINTER)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        out = proc.stdout.decode("latin-1").replace("\r\n", "\n").splitlines()
        pages = int(out[0].split()[1])
        rows = [[] for _ in range(pages)]
        for line in out[1:]:
            _, page, text = (line + " ").split(" ", 2)
            rows[int(page) - 1].append(text[:-1])
        self.assertTrue(wait_for(self.ps), "the job reaches the printer's file")
        return rows

    def test_pages_hold_the_layouts_rows_and_every_line(self):
        rows = self.print_directly()
        self.assertEqual(ps_pages(self.ps), len(rows), "one printed page per page of the layout")
        self.assertGreaterEqual(len(rows), 4)
        for number, page in enumerate(rows, 1):
            expected = [squeeze(r) for r in page if r.strip()]
            self.assertEqual([squeeze(r) for r in page_text(self.ps, number)], expected, f"page {number}")
        # Independently of the layout: every line's words in order.
        printed = solid(" ".join(r for page in rows for r in page))
        for line in self.report_text.split("\r\n"):
            self.assertIn(solid(line), printed)
        # A full page holds 8 pt rows over 297 - 20 mm: about 90 of them.
        self.assertTrue(80 <= len(rows[0]) <= 100, len(rows[0]))
        # Wide lines wrap: at blanks where there are blanks, else mid-word;
        # no row is wider than the 180 mm between the margins (8 pt Courier:
        # 4.8 pt a character).
        flat = [r for page in rows for r in page]
        capacity = int(180 * MM / 4.8)
        self.assertTrue(all(len(r) <= capacity for r in flat), max(map(len, flat)))
        start = next(i for i, r in enumerate(flat) if r.startswith("command line"))
        self.assertGreaterEqual(len(flat[start]), capacity - 25, "a wrapped row fills the width")
        self.assertTrue(flat[start + 1].startswith("--option"), flat[start + 1])
        xs = [r for r in flat if r and set(r) == {"x"}]
        self.assertEqual("".join(xs), "x" * 260)
        self.assertEqual(len(xs), -(-260 // len(xs[0])))

    def test_margins_on_the_sheet(self):
        self.print_directly()
        boxes = bounding_boxes(self.ps)
        self.assertGreaterEqual(len(boxes), 4)
        for x0, y0, x1, y1 in boxes[:-1]:
            # Left margin 20 mm, top and bottom 10 mm, right 10 mm on A4.
            self.assertAlmostEqual(x0, 20 * MM, delta=2.5)
            self.assertLessEqual(A4[1] - y1, 10 * MM + 4)
            self.assertGreaterEqual(A4[1] - y1, 10 * MM - 1)
            self.assertGreaterEqual(y0, 10 * MM - 1)
            self.assertLessEqual(x1, A4[0] - 10 * MM + 1)

    def test_document_is_named_by_the_print_button(self):
        # The print dialog, answered with OK by a second process; without
        # settings the library's own text names the job.
        env = dict(os.environ, WINEDEBUG="-all")
        closer = subprocess.Popen(["wine", CLOSER, "30"], env=env, stdout=subprocess.PIPE)
        proc = wine(PROBE, self.report, "--dialog")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(closer.wait(timeout=60), 0, "the print dialog was shown and answered")
        self.assertTrue(wait_for(self.ps), "OK in the print dialog prints")
        with open(self.ps, "rb") as f:
            self.assertRegex(f.read(4096), rb"%%Title: print bug report\r?\n")
        printed = solid(" ".join(" ".join(page_text(self.ps, p)) for p in range(1, ps_pages(self.ps) + 1)))
        for line in self.report_text.split("\r\n"):
            self.assertIn(solid(line), printed)

    def test_blocked_process_does_not_print(self):
        # Shutting down: no dialog (nobody would answer it), nothing printed.
        proc = wine(PROBE, self.report, "--blocked", timeout=30)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        # Nothing to wait for: a second in which no job may arrive is the check.
        time.sleep(1)
        self.assertFalse(os.path.exists(self.ps))


if __name__ == "__main__":
    PROBE, LAB_PRINTER, CLOSER = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
