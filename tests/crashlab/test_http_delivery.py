#!/usr/bin/python3
"""A crash-lab crash with automatic sending uploads its report to a real
local HTTP server (the upload tests' server): the report and the screenshot
packed into one archive by their shared zip name, the minidump under its own
names; a refusing server leaves
the report kept in the bug report file."""
import io
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "helpers"))
from minidump_file import Minidump  # noqa: E402
from upload_server import UploadServer, basic_auth  # noqa: E402
from winetest import winpath  # noqa: E402

LAB = None


def crash(report, port, *args, scenario=("div-zero",), lab=None):
    """A crash (div-zero) uploading to 127.0.0.1:port: its exit code."""
    env = dict(os.environ, WINEDEBUG="-all")
    lab = lab or LAB
    launcher = os.path.join(os.path.dirname(lab), "exit_code.exe")
    proc = subprocess.run(["wine", launcher, lab, *scenario, "--report", winpath(report),
                           "--set", "AutoSend=true", "--set", "UploadViaHttp=true",
                           "--set", 'HttpServer="127.0.0.1/upload"', "--set", f"HttpPort={port}",
                           "--set", 'MailFrom="lab@sender.test"', *args],
                          env=env, capture_output=True, timeout=120)
    code = re.search(rb"exit code 0x([0-9a-f]{8})", proc.stderr)
    assert code, proc.stderr
    return int(code.group(1), 16)


class HttpDelivery(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="kxlabhttp")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def test_report_and_screenshot_arrive_in_one_archive(self):
        report = os.path.join(self.dir, "uploaded.txt")
        notes = os.path.join(self.dir, "notes.txt")
        with open(notes, "wb") as f:
            f.write(bytes(range(256)) * 40)
        with UploadServer() as server:
            rc = crash(report, server.port, "--set", "ScrShotDepth=24", "--set", "ScrShotAppOnly=false",
                       "--set", 'BugRepZip="Report.zip"', "--set", 'ScrShotZip="report.ZIP"',
                       "--set", 'AddFields="Product=Lab"',
                       # Backslashes are escapes in settings text.
                       "--set", 'AddAttachs="%s>lab notes.txt>REPORT.zip>Notes"' % winpath(notes).replace("\\", "\\\\"))
        self.assertEqual(rc, 0xC0000094, "the crash's own exit code")
        self.assertEqual(len(server.requests), 1)
        headers, path, parts = server.requests[0]
        self.assertEqual(path, "/upload")
        self.assertIsInstance(parts, list, parts)
        fields = {name: content for _, name, filename, content in parts if filename is None}
        self.assertEqual(fields.get("Product"), b"Lab")
        self.assertEqual(fields.get("MailFrom"), b"lab@sender.test")
        files = [(name, filename, content) for _, name, filename, content in parts if filename is not None]
        self.assertEqual([(n, f) for n, f, _ in files], [("Report.zip", "Report.zip")])
        archive = zipfile.ZipFile(io.BytesIO(files[0][2]))
        self.assertIsNone(archive.testzip())
        self.assertEqual(archive.namelist(), ["bugreport.txt", "screenshot.png", "lab notes.txt"])
        with open(notes, "rb") as f:
            self.assertEqual(archive.read("lab notes.txt"), f.read())
        sent = archive.read("bugreport.txt")
        self.assertTrue(sent.startswith(b"date/time"), sent[:100])
        self.assertIn(b"Division by zero.", sent)
        self.assertTrue(archive.read("screenshot.png").startswith(b"\x89PNG\r\n\x1a\n"))

    def test_separate_attachments_without_zip_names(self):
        report = os.path.join(self.dir, "plain.txt")
        with UploadServer() as server:
            rc = crash(report, server.port, "--set", "ScrShotDepth=24", "--set", "ScrShotAppOnly=false",
                       "--set", 'HttpAccount="lab"', "--set", 'HttpPassword="se:cret pass"')
        self.assertEqual(rc, 0xC0000094)
        self.assertEqual(len(server.requests), 1)
        self.assertEqual(basic_auth(server.requests[0][0]), "lab:se:cret pass", "the password as set")
        parts = server.requests[0][2]
        self.assertIsInstance(parts, list, parts)
        files = [(name, filename) for _, name, filename, _ in parts if filename is not None]
        self.assertEqual(files, [("BugReport", "bugreport.txt"), ("ScreenShot", "screenshot.png")])

    def test_minidump_arrives_with_its_own_names(self):
        report = os.path.join(self.dir, "dumped.txt")
        with UploadServer() as server:
            rc = crash(report, server.port, "--set", "DumpKind=1", "--set", 'DumpSendAs="lab crash.dmp"',
                       "--set", 'DumpZip="dump.zip"')
        self.assertEqual(rc, 0xC0000094)
        self.assertEqual(len(server.requests), 1)
        parts = server.requests[0][2]
        files = {(name, filename): content for _, name, filename, content in parts if filename is not None}
        self.assertEqual(sorted(files), [("BugReport", "bugreport.txt"), ("dump.zip", "dump.zip")])
        archive = zipfile.ZipFile(io.BytesIO(files[("dump.zip", "dump.zip")]))
        self.assertIsNone(archive.testzip())
        self.assertEqual(archive.namelist(), ["lab crash.dmp"])
        dump = Minidump(archive.read("lab crash.dmp"))
        self.assertEqual(dump.exception()["code"], 0xC0000094)
        sent = files[("BugReport", "bugreport.txt")].decode("latin-1")
        self.assertEqual(dump.comment().rstrip("\r\n"), sent.rstrip("\r\n"), "the report as sent")

    def test_refused_report_is_kept(self):
        report = os.path.join(self.dir, "refused.txt")
        with UploadServer() as server:
            server.mode = "error"
            start = time.monotonic()
            rc = crash(report, server.port)
            took = time.monotonic() - start
        self.assertEqual(rc, 0xC0000094)
        self.assertLess(took, 60)
        self.assertEqual(len(server.requests), 1, "the upload was tried")
        with open(report, "rb") as f:
            self.assertIn(b"Division by zero.", f.read(), "the report is kept in the bug report file")

    def test_no_internet_route_still_uploads_to_the_local_server(self):
        # The public check host never answers (TEST-NET-3), no environment
        # variable names another: the server on the loopback gets the report.
        report = os.path.join(self.dir, "local.txt")
        with UploadServer() as server:
            rc = crash(report, server.port, "--set", 'OnlineCheckHost="203.0.113.1"')
        self.assertEqual(rc, 0xC0000094)
        self.assertEqual(len(server.requests), 1)
        headers, path, parts = server.requests[0]
        self.assertEqual(headers.get("From"), "<lab@sender.test>")
        files = [name for _, name, filename, _ in parts if filename is not None]
        self.assertEqual(files, ["BugReport"])

if __name__ == "__main__":
    LAB = sys.argv.pop(1)
    unittest.main(verbosity=2)
