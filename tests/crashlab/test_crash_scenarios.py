#!/usr/bin/env python3
"""The crash lab's table of ways to die (crash_scenarios.py) under Wine: no
hang, exactly one report with the right class and message, the crashing
function named, the documented exit code; and the same program without the
library for comparison."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

from crash_scenarios import SCENARIOS
from test_crashlab import reports, winpath

LAB_DIR = None
TIMEOUT = 60  # seconds; a crash that takes longer is a hang


def run(program, args, report_file):
    """Runs a program of the crash lab through exit_code.exe: (exit code, stdout)."""
    env = dict(os.environ, WINEDEBUG="-all")
    command = ["wine", os.path.join(LAB_DIR, "exit_code.exe"), os.path.join(LAB_DIR, program), *args,
               "--report", winpath(report_file)]
    proc = subprocess.run(command, env=env, capture_output=True, timeout=TIMEOUT)
    found = re.search(rb"exit code 0x([0-9a-f]{8})", proc.stderr)
    if not found:
        raise AssertionError("no exit code: " + proc.stderr.decode("latin-1"))
    return int(found.group(1), 16), proc.stdout.replace(b"\r\n", b"\n").decode("latin-1")


class CrashScenarioTest(unittest.TestCase):
    def check(self, s, tmp):
        file = os.path.join(tmp, "bugreport.txt")
        try:
            code, out = run("crashlab.exe", [s.name, *s.args], file)
        except subprocess.TimeoutExpired:
            self.fail("hang: no end within %d seconds" % TIMEOUT)
        self.assertEqual(code, s.exit, "exit code 0x%08x\n%s" % (code, out))
        self.assertEqual("continued" in out, s.goes_on, out)
        if s.cls is None:
            self.assertFalse(os.path.exists(file), "no report")
            return
        found = reports(file)
        self.assertEqual(len(found), 1, "exactly one report")
        header, names, sections, raw = found[0]
        self.assertEqual(header["exception class"], s.cls)
        self.assertRegex(header["exception message"], "^(?:%s)$" % s.msg)
        title, lines = sections[0]
        self.assertTrue(title.startswith(s.thread + " ($") if s.thread == "main thread"
                        else re.match(r"thread \$[0-9a-f]+( \(std::thread\))?:", title), title)
        if s.top:
            self.assertTrue(any(s.top in line for line in lines[:3]), "%s not among\n%s" % (s.top, "\n".join(lines)))
        titles = [t for t, _ in sections]
        self.assertEqual("cpu registers:" in titles, s.context, titles)
        if s.context:
            # The top line is the faulting instruction.
            regs = dict(line.split(" = ") for line in dict(sections)["cpu registers:"][:9])
            self.assertEqual(int(lines[0][:8], 16), int(regs["eip"], 16), lines[0])
        for name, expected in s.sections.items():
            self.assertEqual(dict(sections).get(name), expected, name)
        for name, expected in s.header.items():
            self.assertEqual(header.get(name), expected, name)

    def test_scenarios(self):
        for s in SCENARIOS:
            with self.subTest(s.label()), tempfile.TemporaryDirectory() as tmp:
                self.check(s, tmp)

    def test_without_the_library(self):
        # The same program with the library switched off: the exit codes
        # match wherever the program ends of its crash there too.
        for s in SCENARIOS:
            if s.off_exit is None:
                continue
            with self.subTest(s.label()), tempfile.TemporaryDirectory() as tmp:
                try:
                    code, out = run("crashlab_off.exe", [s.name, *s.args], os.path.join(tmp, "bugreport.txt"))
                except subprocess.TimeoutExpired:
                    self.fail("hang without the library")
                self.assertEqual(code, s.off_exit, "exit code 0x%08x" % code)
                self.assertEqual(code, s.exit, "the same code as with the library")
                self.assertFalse(os.path.exists(os.path.join(tmp, "bugreport.txt")))


if __name__ == "__main__":
    LAB_DIR = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
