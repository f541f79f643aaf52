#!/usr/bin/env python3
"""The exception dialog's print, restart and close buttons and the automatic
restart and close, end to end: the crash lab under Wine, its dialog answered
by box_closer, its printer Wine's PostScript driver printing into a file.

test_report_actions.py CRASHLAB BOX_CLOSER LAB_PRINTER
"""
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

import test_crashlab as lab

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from winetest import wait_for_file, wine_env, winpath  # noqa: E402

LAB_PRINTER = None
PRINTER = "Kestrix Lab Printer"
CPP_EXIT = 3  # a C++ exception's crash exit code
DIALOG = ["--gui", "--show", "0"]


def run_followed(*args, program=None, cwd=None, timeout=180):
    """Runs the crash lab through exit_code --follow: the exit code of the
    process and of each one it was restarted as, in order; and the output."""
    launcher = os.path.join(os.path.dirname(lab.LAB), "exit_code.exe")
    proc = subprocess.run(["wine", launcher, "--follow", program or lab.LAB, *args], env=wine_env(),
                          capture_output=True, timeout=timeout, cwd=cwd)
    codes = [int(c, 16) for c in re.findall(rb"exit code 0x([0-9a-f]{8})", proc.stderr)]
    return codes, proc.stdout.replace(b"\r\n", b"\n").decode("latin-1"), proc.stderr.decode("latin-1")


def read_log(path):
    """The restart log: (pid, ring count, command line, start folder) per process."""
    with open(path, encoding="latin-1") as f:
        return [(int(m[1]), int(m[2]), m[4], m[3]) for m in
                (re.fullmatch(r"pid (\d+) ring (\d+) dir (.*) cmd (.*)", line.rstrip("\n")) for line in f) if m]


class ReportActionsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.file = os.path.join(self.tmp.name, "reports", "bugreport.txt")
        self.log = os.path.join(self.tmp.name, "restarts.log")
        self.mark = os.path.join(self.tmp.name, "restarted.txt")
        self.closer = None

    def tearDown(self):
        if self.closer and self.closer.poll() is None:
            self.closer.kill()
        self.tmp.cleanup()

    def press(self, *steps):
        """box_closer presses the dialog's buttons in this order."""
        self.closer = subprocess.Popen(["wine", lab.CLOSER, "30", *steps], env=wine_env(), stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)

    def pressed(self):
        out, err = self.closer.communicate(timeout=60)
        self.assertEqual(self.closer.returncode, 0, err)
        return out.decode("latin-1").replace("\r", "").split("\n")

    def crash(self, *args, scenario=("cpp", "--click"), **how):
        return run_followed(*scenario, "--report", winpath(self.file), "--restart-log",
                            winpath(self.log), "--restart-mark", winpath(self.mark), *args, **how)

    def wait_for_mark(self):
        wait_for_file(self.mark, 30)
        with open(self.mark) as f:
            return f.read().strip()

    def check_restarted_alike(self, entries, count):
        """`count` processes, each started with the first one's command line,
        each knowing one more exception than the one before."""
        self.assertEqual(len(entries), count, entries)
        self.assertEqual([ring for _, ring, *_ in entries], list(range(count)))
        self.assertEqual(len({pid for pid, *_ in entries}), count, "a new process each time")
        first = entries[0][2]
        self.assertIn("--restart-log", first)
        for _, _, cmd, folder in entries[1:]:
            self.assertEqual(cmd, first, "restarted with the same command line")
            self.assertEqual(folder, entries[0][3], "in the folder the first one started in")

    # --- the dialog's buttons ---------------------------------------------

    def test_restart_button_restarts_with_the_same_command_line(self):
        # From a click handler (the program could go on) and from main (it
        # could not: continue is disabled).
        for scenario in (("cpp", "--click"), ("cpp",)):
            with self.subTest(scenario):
                for path in (self.log, self.mark, self.file):
                    if os.path.exists(path):
                        os.remove(path)
                self.press("restart application")
                codes, out, err = self.crash(*DIALOG, scenario=scenario)
                self.pressed()
                self.assertEqual(codes, [2, 0], err)
                self.check_restarted_alike(read_log(self.log), 2)
                self.assertEqual(self.wait_for_mark(), "restarted after 1 exception(s)")
                self.assertEqual(len(lab.reports(self.file)), 1, "saved before the restart")
                self.assertNotIn("continued", out)

    def test_close_button_ends_with_the_crash_exit_code(self):
        self.press("close application")
        codes, out, err = self.crash(*DIALOG)
        self.pressed()
        self.assertEqual(codes, [CPP_EXIT], err)
        self.assertNotIn("continued", out)
        self.assertEqual(len(lab.reports(self.file)), 1, "saved before the end")
        self.assertEqual(len(read_log(self.log)), 1, "not restarted")

    def test_count_down_presses_the_auto_button(self):
        # Nobody presses anything: after AutoDelay the auto button fires.
        # AutoClose goes before AutoRestart.
        for settings, expected in ((["AutoRestart=1"], [2, 0]), (["AutoClose=1"], [CPP_EXIT]),
                                   (["AutoRestart=1", "AutoClose=1"], [CPP_EXIT])):
            with self.subTest(settings):
                if os.path.exists(self.log):
                    os.remove(self.log)
                started = time.monotonic()
                sets = [a for s in settings for a in ("--set", s)]
                codes, out, err = self.crash(*DIALOG, *sets, "--set", "AutoDelay=1")
                self.assertEqual(codes, expected, err)
                self.assertLess(time.monotonic() - started, 60)
                self.assertEqual(len(read_log(self.log)), len(expected))

    def test_without_delay_the_auto_button_waits_for_the_user(self):
        # AutoDelay 0: restart is the auto button, but nothing is pressed.
        self.press("+2500", "continue application")
        codes, out, err = self.crash(*DIALOG, "--set", "AutoRestart=1", "--set", "AutoDelay=0")
        self.pressed()
        self.assertEqual(codes, [0], err)
        self.assertIn("continued", out)

    def test_print_button_prints_the_report(self):
        ps = os.path.join(self.tmp.name, "printed.ps")
        proc = subprocess.run(["wine", LAB_PRINTER, PRINTER, ps], env=wine_env(), capture_output=True, timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        # The button's caption names the print job too.
        self.press("print the lab report", "#32770", "continue application")
        codes, out, err = self.crash(*DIALOG, "--set", "PrintBtnVis=true", "--set",
                                     "PrintBtnTxt=\"print the lab report\"")
        self.assertEqual(self.pressed()[:3], ["pressed print the lab report", "pressed #32770",
                                              "pressed continue application"])
        self.assertEqual(codes, [0], err)
        self.assertIn("continued", out)
        wait_for_file(ps, 10)
        with open(ps, "rb") as f:
            data = f.read()
        self.assertRegex(data[:4096], rb"%%Title: print the lab report\r?\n")
        pages = len(re.findall(rb"^%%Page: ", data, re.M))
        self.assertGreater(pages, 1, "a whole report takes more than a page")
        text = subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=txtwrite", "-sOutputFile=-",
                               ps], capture_output=True, timeout=120, check=True).stdout.decode("latin-1")
        printed = "".join(text.split())
        # Every line of the report, as saved, is on paper (the saved report
        # is the dialog's, completed; the header's first item is the same).
        header, names, sections, raw = lab.reports(self.file)[0]
        self.assertIn("".join(("exception message  : " + header["exception message"]).split()), printed)
        missing = [line for block in [raw] + ["\r\n".join([t] + l) for t, l in sections]
                   for line in block.split("\r\n") if "".join(line.split()) not in printed]
        self.assertEqual(missing, [])

    # --- automatic restart and close --------------------------------------

    def test_restart_chain_ends_by_auto_close_after_ten_exceptions(self):
        # AutoRestart 1 restarts after every exception; AutoClose 600 closes
        # once ten exceptions fall within 600 seconds. The history travels
        # with each restart, so the tenth process closes.
        codes, out, err = self.crash("--set", "AutoRestart=1", "--set", "AutoClose=600", "--restarts", "10")
        self.assertEqual(codes, [2] * 9 + [CPP_EXIT], err)
        self.check_restarted_alike(read_log(self.log), 10)
        found = lab.reports(self.file)
        self.assertEqual(len(found), 1, "the same crash each time: one report, counted")
        self.assertEqual(found[0][0].get("count"), "10")

    def test_restart_finds_the_program_after_a_change_of_folder(self):
        # Started by a relative path; the program then works in another
        # folder: the restart still starts the same executable, in the
        # folder the first one started in.
        labs = os.path.dirname(os.path.dirname(lab.LAB))
        relative = os.path.relpath(lab.LAB, labs).replace("/", "\\")
        codes, out, err = self.crash("--set", "AutoRestart=1", "--chdir", winpath(self.tmp.name),
                                     program=relative, cwd=labs)
        self.assertEqual(codes, [2, 0], err)
        self.check_restarted_alike(read_log(self.log), 2)
        self.assertIn(relative, read_log(self.log)[1][2])

    def test_automatic_close_ends_with_the_faults_code(self):
        # Closing ends with the crash exit code (the operating-system
        # exception's code), as the program would end without the library.
        for scenario, code in (("av-read", 0xC0000005), ("div-zero", 0xC0000094)):
            with self.subTest(scenario):
                codes, out, err = run_followed(scenario, "--click", "--report", winpath(self.file), "--set",
                                               "AutoClose=1")
                self.assertEqual(codes, [code], err)
                self.assertNotIn("continued", out)

    def test_tenth_exception_within_the_limit_restarts(self):
        codes, out, err = self.crash("--clicks", "9", "--set", "AutoRestart=600")
        self.assertEqual(codes, [0], "nine exceptions: the program goes on")
        self.assertIn("continued", out)
        os.remove(self.log)
        codes, out, err = self.crash("--clicks", "10", "--set", "AutoRestart=600")
        self.assertEqual(codes, [2, 0], err)
        self.assertNotIn("continued", out)
        self.assertEqual(self.wait_for_mark(), "restarted after 10 exception(s)")
        self.assertEqual([ring for _, ring, *_ in read_log(self.log)], [0, 10])


if __name__ == "__main__":
    lab.LAB, lab.CLOSER, LAB_PRINTER = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
