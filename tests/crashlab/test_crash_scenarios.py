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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
import wine_threads  # noqa: E402
from crash_scenarios import SCENARIOS, SYSTEM_HEADER  # noqa: E402
from test_crashlab import reports, winpath

LAB_DIR = None
TIMEOUT = 60  # seconds; a crash that takes longer is a hang


def run(program, args, report_file):
    """Runs a program of the crash lab through exit_code.exe: (exit code, stdout)."""
    env = dict(os.environ, WINEDEBUG="-all")
    command = ["wine", os.path.join(LAB_DIR, "exit_code.exe"), os.path.join(LAB_DIR, program), *args,
               "--report", winpath(report_file)]
    proc = wine_threads.run(command, TIMEOUT, env=env, capture_output=True)
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
        if s.system:
            self.check_system(header, names, dict(sections))

    def check_system(self, header, names, sections):
        """The full header in its order and the three system lists, each
        consistent with the header."""
        wanted = []
        for name, pattern, *optional in SYSTEM_HEADER:
            if optional and name not in header:
                continue
            if name == "processor":
                name = "processors" if "processors" in header else "processor"
            wanted.append(name)
            self.assertIn(name, header, "header item missing")
            self.assertRegex(header[name], "^(?:%s)$" % pattern, name)
        present = [n for n in names if n in wanted]
        self.assertEqual(present, wanted, "header order")
        self.assertLess(names.index("Kestrix version"), names.index("callstack crc"))
        lists = ("modules:", "processes:", "hardware:", "cpu registers:")
        self.assertEqual([t for t in sections if t in lists],
                         ["modules:", "processes:"] + (["hardware:"] if "hardware:" in sections else [])
                         + ["cpu registers:"], "the lists before the registers")
        # Modules: the executable at its load address, columns aligned.
        modules = sections["modules:"]
        exe = [line for line in modules if re.match(r"^00400000 crashlab\.exe ", line)]
        self.assertEqual(len(exe), 1, "\n".join(modules))
        self.assertTrue(any(re.match(r"^[0-9a-f]{8} kernel32\.dll +\d+\.\d+\.\d+\.\d+ .*system32$", line, re.I)
                            for line in modules), "\n".join(modules))
        name_column = {len(m.group(1)) for m in (re.match(r"^([0-9a-f]{8} \S+ +)\d+\.\d+\.\d+\.\d+ ", line)
                                                 for line in modules) if m}
        self.assertEqual(len(name_column), 1, "one name column")
        # Processes: this process under the header's id, with its priority.
        pid = header["process id"][1:]
        rows = sections["processes:"]
        width = len(rows[0].split(" ")[0])
        own = [line for line in rows if line.startswith(pid.rjust(width, "0") + " crashlab.exe ")]
        self.assertEqual(len(own), 1, "\n".join(rows))
        self.assertRegex(own[0], r" normal +[A-Za-z]:\\")
        # Hardware (when the system lists any device): classes and devices.
        for line in sections.get("hardware:", []):
            self.assertRegex(line, r"^(\+ |  - )\S")

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
