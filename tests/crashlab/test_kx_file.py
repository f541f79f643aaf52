#!/usr/bin/env python3
"""The crash lab built with NAMES_IN_KX_FILE: the program carries a map
without names and a settings record naming the fingerprint of the full map,
which lies beside it in a ".kx" file. Beside that file its reports name
units, functions and lines as the ordinary build's do; without it, or beside
the ".kx" file of another build, they name module and address only. The
addresses of such a report resolve with kxmap and the ".kx" file."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from winetest import winpath  # noqa: E402

ARGS = None
LINE = re.compile(r"^([0-9a-f]{8}) (?:\+[0-9a-f]+ )?(\S+)(.*)$")


def crash(exe, report):
    """Crashes the program in a window's click handler (it goes on); the
    program's output and the crashing thread's call-stack lines."""
    env = dict(os.environ, WINEDEBUG="-all")
    proc = subprocess.run(["wine", exe, "av-read", "--click", "--report", winpath(report)], env=env,
                          capture_output=True, timeout=120)
    with open(report, "rb") as f:
        text = f.read().decode("latin-1")
    blocks = text.rstrip("\r\n").split("\r\n\r\n")
    header = dict((l.partition(": ")[0].rstrip(), l.partition(": ")[2]) for l in blocks[0].split("\r\n"))
    stack = next(b for b in blocks[1:] if b.startswith("main thread")).split("\r\n")[1:]
    return proc.returncode, proc.stdout.decode("latin-1"), header, text, stack


def fingerprint(kx_file):
    """The ".kx" file's length and its two values, as the settings record names them."""
    with open(kx_file, "rb") as f:
        kx = f.read()
    a, b = struct.unpack_from("<II", kx, 22)
    return "$%08x, $%08x, $%08x" % (len(kx), a, b)


def frames(stack, module):
    """(address, text after the module) of the lines in `module`."""
    out = []
    for line in stack:
        m = LINE.match(line)
        if m and m.group(2) == module:
            out.append((int(m.group(1), 16), " ".join(m.group(3).split())))
    return out


class KxFileTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.kx = os.path.splitext(ARGS.lab_kx)[0] + ".kx"
        cls.name = os.path.basename(ARGS.lab_kx)
        kx_name = os.path.basename(cls.kx)
        folders = {}
        for case in ("beside", "missing", "foreign", "receiver"):
            folders[case] = os.path.join(cls.tmp.name, case)
            os.makedirs(folders[case])
        for case in ("beside", "missing", "foreign"):
            shutil.copy(ARGS.lab_kx, folders[case])
        shutil.copy(cls.kx, folders["beside"])
        cls.receiver_kx = shutil.copy(cls.kx, folders["receiver"])
        # The full map of another build (other code), as the ".kx" file of this one.
        other = os.path.join(os.path.dirname(ARGS.lab), "crashlab_deferring.exe")
        subprocess.run([os.path.join(ARGS.tools, "kxdebugmap"), "write", other,
                        os.path.join(cls.tmp.name, "stripped.bin"), "--stripped",
                        os.path.join(folders["foreign"], kx_name)], check=True, capture_output=True)
        cls.foreign_kx = os.path.join(folders["foreign"], kx_name)
        cls.runs = {case: crash(os.path.join(folders[case], cls.name), os.path.join(cls.tmp.name, case + ".txt"))
                    for case in ("beside", "missing", "foreign")}
        cls.ordinary = crash(ARGS.lab, os.path.join(cls.tmp.name, "ordinary.txt"))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_the_program_carries_no_names_and_the_fingerprint(self):
        with open(ARGS.lab_kx, "rb") as f:
            program = f.read()
        with open(ARGS.lab, "rb") as f:
            ordinary = f.read()
        for name in (b"LabWindowProc", b"ReadViolation", b"crashlab.cpp"):
            self.assertIn(name, ordinary)
            self.assertNotIn(name, program)
        pe = struct.unpack_from("<I", program, 0x3C)[0]
        self.assertEqual(struct.unpack_from("<I", program, pe + 16)[0], 0, "no symbols")
        self.assertNotIn(b".debug_", program)
        # The settings record names the ".kx" file's length and its two values.
        self.assertIn(b"\x0cMinDebugInfo\x0c\x1f\0\0\0" + fingerprint(self.kx).encode(), program)
        self.assertNotEqual(fingerprint(self.foreign_kx), fingerprint(self.kx))

    def test_beside_its_kx_file_the_report_names_as_the_ordinary_build(self):
        rc, out, header, text, stack = self.runs["beside"]
        self.assertEqual(rc, 0)
        self.assertIn("continued", out)
        self.assertEqual(header["exception class"], "EAccessViolation")
        named = frames(stack, self.name)
        self.assertTrue(named[0][1].startswith("crashlab "), named[0])
        self.assertTrue(named[0][1].endswith(" ReadViolation"), named[0])
        # Unit, line, relative line and function, frame by frame, as in the
        # ordinary build of the same code, whose lines are addr2line's.
        ordinary = frames(self.ordinary[4], "crashlab.exe")
        self.assertEqual([t for _, t in named], [t for _, t in ordinary])
        self.check_against_addr2line(ordinary)

    def check_against_addr2line(self, ordinary):
        # Every line's address is an exact code address: the fault's, then
        # the call instructions.
        asked = [a for a, _ in ordinary]
        out = subprocess.run(["i686-w64-mingw32-addr2line", "-f", "-i", "-a", "-e", ARGS.lab],
                             input="\n".join("%x" % a for a in asked), capture_output=True, text=True,
                             check=True).stdout
        groups = re.split(r"^0x[0-9a-f]+\n", out, flags=re.M)[1:]
        self.assertEqual(len(groups), len(ordinary))
        for (_, text), group in zip(ordinary, groups):
            outermost = group.strip().split("\n")[-1]
            self.assertEqual(text.split()[1], outermost.rpartition(":")[2].split()[0], (text, group))

    def test_without_its_kx_file_the_stripped_maps_names(self):
        for case in ("missing", "foreign"):
            with self.subTest(case):
                rc, out, header, text, stack = self.runs[case]
                self.assertEqual(rc, 0)
                self.assertIn("continued", out, "no crash in the handling")
                self.assertEqual(header["exception class"], "EAccessViolation")
                fault = int(re.search(r"address \$([0-9a-f]+) in module '(\S+)'", header["exception message"])
                            .group(1), 16)
                found = frames(stack, self.name)
                self.assertEqual(found[0][0], fault, "the top line is the fault's address")
                self.assertEqual(len(found), len(frames(self.runs["beside"][4], self.name)))
                # The names the stripped map makes up: "segment%N" as unit and
                # "public%N" as function, which the ".kx" file names later.
                for address, rest in found:
                    self.assertRegex(rest, r"^segment%\d+\b.*\bpublic%\d+$", "%08x" % address)
                for name in ("ReadViolation", "LabWindowProc", "crashlab "):
                    self.assertNotIn(name, "\n".join(stack))

    def test_kxmap_and_the_kx_file_resolve_the_reported_addresses(self):
        # A receiver with the ".kx" file only (no program beside it).
        found = frames(self.runs["missing"][4], self.name)
        named = frames(self.runs["beside"][4], self.name)
        self.assertEqual([a for a, _ in found], [a for a, _ in named], "the same crash, the same addresses")
        asked = ["%x" % a for a, _ in found]
        out = subprocess.run([os.path.join(ARGS.tools, "kxmap"), self.receiver_kx, *asked], capture_output=True,
                             text=True, check=True).stdout.splitlines()
        self.assertEqual(len(out), len(asked))
        for line, (_, text) in zip(out, named):
            address, module, unit, function, number = line.split("\t")
            words = text.split(None, 3)  # unit, line, relative line, function
            self.assertEqual((unit, number, function), (words[0], words[1], words[3]), line)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--lab", required=True)
    parser.add_argument("--lab-kx", required=True)
    parser.add_argument("--tools", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v"] + rest)
