#!/usr/bin/env python3
"""kxmap.exe, the Windows build of kxmap, run under Wine, prints what the host
kxmap prints for the same files: an executable with its full map, one with
a stripped map beside its ".kx" file, the same without it, a ".kx" file on
its own, and a file that holds no map."""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "helpers"))
from winetest import winpath  # noqa: E402

ARGS = None


def host(*args):
    proc = subprocess.run([ARGS.host, *args], capture_output=True, timeout=300)
    return proc.returncode, proc.stdout.decode("latin-1")


def windows(*args):
    args = [winpath(a) if os.path.exists(a) else a for a in args]
    proc = subprocess.run(["wine", ARGS.windows, *args], capture_output=True, timeout=300,
                          env=dict(os.environ, WINEDEBUG="-all"))
    return proc.returncode, proc.stdout.decode("latin-1").replace("\r\n", "\n")


class KxmapAgreement(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        kx = os.path.splitext(ARGS.kx_exe)[0] + ".kx"
        cls.alone = os.path.join(cls.tmp.name, "alone")
        cls.stripped = os.path.join(cls.tmp.name, "stripped")
        os.makedirs(cls.alone)
        os.makedirs(cls.stripped)
        cls.kx_alone = shutil.copy(kx, cls.alone)
        cls.exe_without_kx = shutil.copy(ARGS.kx_exe, cls.stripped)
        cls.files = {"full map": ARGS.exe, "stripped map with .kx": ARGS.kx_exe,
                     "stripped map without .kx": cls.exe_without_kx, ".kx alone": cls.kx_alone}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def addresses(self, dump):
        """Every public's address, the byte after it, the last byte before
        the next, some line addresses and addresses outside the code."""
        publics, block = [], None
        for line in dump.splitlines():
            words = line.split()
            if words and words[0] in ("segments", "publics", "lines"):
                block = words[0]
            elif block == "publics":
                publics.append(int(words[0], 16))
        rnd = random.Random(7)
        picked = rnd.sample(publics, min(150, len(publics)))
        out = set()
        for a in picked:
            out.update({a, a + 1, a - 1})
        out.update({0, 0x400000, 0x401000, 0xfffffff0})
        return ["%x" % a for a in sorted(out)]

    def test_dumps_and_lookups_agree(self):
        for what, path in self.files.items():
            with self.subTest(what):
                rc, dump = host("--dump", path)
                self.assertEqual(rc, 0, what)
                self.assertEqual(windows("--dump", path), (rc, dump))
                addresses = self.addresses(dump)
                expected = host(path, *addresses)
                self.assertEqual(expected[0], 0)
                self.assertEqual(len(expected[1].splitlines()), len(addresses))
                self.assertEqual(windows(path, *addresses), expected)

    def test_what_each_file_tells(self):
        # The stripped map names nothing without its ".kx" file; with it, and
        # the ".kx" file alone, name what the full map of the build names.
        _, with_kx = host("--dump", ARGS.kx_exe)
        _, without = host("--dump", self.exe_without_kx)
        _, alone = host("--dump", self.kx_alone)
        self.assertEqual(with_kx, alone)
        self.assertIn(" main\n", with_kx)
        self.assertNotIn(" main\n", without)
        self.assertIn(" segment%0", without)

    def test_errors_agree(self):
        junk = os.path.join(self.tmp.name, "junk.exe")
        with open(junk, "wb") as f:
            f.write(b"MZ" + b"\0" * 300)
        for args in (["--dump", junk], [ARGS.exe, "nothex"], [os.path.join(self.tmp.name, "missing.exe"), "1"]):
            with self.subTest(args):
                rc, out = host(*args)
                self.assertNotEqual(rc, 0)
                self.assertEqual(windows(*args), (rc, out))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--windows", "--host", "--exe", "--kx-exe"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v"] + rest)
