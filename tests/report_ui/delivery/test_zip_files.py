#!/usr/bin/env python3
"""Attachment archives checked by Info-ZIP's unzip and Python's zipfile.

test_zip_files.py PROBE   (zip_probe.exe runs under Wine, a native one directly)
"""
import os
import random
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

PROBE = None


def on_wine():
    return PROBE.endswith(".exe")


def host_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\") if on_wine() else path


def probe(*args):
    cmd = (["wine"] if on_wine() else []) + [PROBE, *args]
    return subprocess.run(cmd, env=dict(os.environ, WINEDEBUG="-all"), capture_output=True, timeout=120)


def name_encoding():
    out = probe("--acp").stdout.decode().strip()
    return out


def pack(archive, entries, manifest=None):
    """entries: (path, name or None); returns the probe's exit code."""
    enc = name_encoding()
    manifest = manifest or archive + ".manifest"
    with open(manifest, "wb") as f:
        for path, name in entries:
            f.write(host_path(path).encode() + b"\t" + (name or "").encode(enc) + b"\r\n")
    return probe(host_path(archive), host_path(manifest)).returncode


class ZipFilesTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="kxzip")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def file(self, name, data, mtime=None):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        if mtime:
            os.utime(path, (mtime, mtime))
        return path

    def test_contents_names_times_and_attributes(self):
        rnd = random.Random(18)
        report = b"".join(b"date/time          : 2026-12-07, 15:%02d:00\r\nline %d of the report\r\n" % (i % 60, i)
                          for i in range(40000))
        noise = bytes(rnd.getrandbits(8) for _ in range(300000))
        mtime = time.mktime((2024, 5, 17, 13, 45, 30, 0, 0, -1))
        files = [
            (self.file("bugreport.txt", report, mtime), "Fehlerbericht äöüß.txt"),
            (self.file("noise.bin", noise), "Größe €.bin"),
            (self.file("empty.txt", b""), "empty.txt"),
            (self.file("plain name.log", b"no entry name given\r\n"), None),
        ]
        os.chmod(files[3][0], 0o444)
        archive = os.path.join(self.dir, "bugreport.zip")
        self.assertEqual(pack(archive, files), 0)

        test = subprocess.run(["unzip", "-t", archive], capture_output=True)
        self.assertEqual(test.returncode, 0, test.stdout + test.stderr)
        self.assertIn(b"No errors detected", test.stdout)
        out = os.path.join(self.dir, "out")
        unzip = subprocess.run(["unzip", "-q", archive, "-d", out], capture_output=True,
                               env=dict(os.environ, LC_ALL="C.UTF-8"))
        self.assertEqual(unzip.returncode, 0, unzip.stderr)
        self.assertEqual(sorted(os.listdir(out)), sorted(["Fehlerbericht äöüß.txt", "Größe €.bin", "empty.txt",
                                                           "plain name.log"]))

        with zipfile.ZipFile(archive) as z:
            self.assertIsNone(z.testzip())
            infos = z.infolist()
            self.assertEqual([i.filename for i in infos],
                             ["Fehlerbericht äöüß.txt", "Größe €.bin", "empty.txt", "plain name.log"])
            for (path, _), info in zip(files, infos):
                with open(path, "rb") as f:
                    self.assertEqual(z.read(info), f.read(), info.filename)
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED)
                self.assertEqual(info.create_version, 20)
                self.assertEqual(info.create_system, 0 if info.filename.isascii() else 11)
                self.assertEqual(info.extract_version, 20)
                self.assertEqual(bool(info.flag_bits & 0x800), not info.filename.isascii(), info.filename)
                self.assertEqual(info.flag_bits & ~0x800, 0)
            self.assertEqual(infos[0].date_time, (2024, 5, 17, 13, 45, 30))
            self.assertLess(infos[0].compress_size * 10, infos[0].file_size)
            self.assertEqual(infos[3].external_attr & 1, 1, "read-only attribute kept")
            self.assertEqual(infos[0].external_attr & 1, 0)

    def test_unreadable_file_is_left_out(self):
        kept = self.file("kept.txt", b"kept\r\n")
        archive = os.path.join(self.dir, "some.zip")
        self.assertEqual(pack(archive, [(os.path.join(self.dir, "missing.txt"), "missing.txt"), (kept, "kept.txt")]), 0)
        self.assertEqual(subprocess.run(["unzip", "-tq", archive], capture_output=True).returncode, 0)
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.namelist(), ["kept.txt"])
            self.assertEqual(z.read("kept.txt"), b"kept\r\n")

    def test_no_files_gives_an_empty_archive(self):
        archive = os.path.join(self.dir, "empty.zip")
        self.assertEqual(pack(archive, []), 0)
        with open(archive, "rb") as f:
            self.assertEqual(f.read(), b"PK\x05\x06" + bytes(18))
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.namelist(), [])

    def test_archive_that_cannot_be_written_fails(self):
        data = self.file("a.txt", b"a")
        archive = os.path.join(self.dir, "no such folder", "a.zip")
        self.assertNotEqual(pack(archive, [(data, "a.txt")], os.path.join(self.dir, "m")), 0)
        self.assertFalse(os.path.exists(archive))


if __name__ == "__main__":
    PROBE = sys.argv.pop(1)
    unittest.main()
