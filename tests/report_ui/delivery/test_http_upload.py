#!/usr/bin/env python3
"""The HTTP upload under Wine against a real local server (tests/helpers/upload_server.py).

test_http_upload.py PROBE   (http_probe.exe)
"""
import os
import random
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "helpers"))
from upload_server import UploadServer, basic_auth  # noqa: E402
from winetest import winpath  # noqa: E402

PROBE = None


def hexed(value):
    return (value if isinstance(value, bytes) else value.encode("latin-1")).hex()


def upload(job_dir, server, port, fields=(), files=(), **options):
    """Runs the probe: (exit code, {key: value} of its output, seconds)."""
    lines = [("server", server), ("port", str(port))]
    lines += [(k, v) for k, v in options.items()]
    job = os.path.join(job_dir, "job.txt")
    with open(job, "w") as f:
        for key, value in lines:
            f.write("%s\t%s\n" % (key.replace("_", "-"), hexed(value)))
        for name, content in fields:
            f.write("field\t%s\t%s\n" % (hexed(name), hexed(content)))
        for path, send_as, field in files:
            f.write("file\t%s\t%s\t%s\n" % (hexed(winpath(path)), hexed(send_as), hexed(field)))
    start = time.monotonic()
    proc = subprocess.run(["wine", PROBE, winpath(job)], capture_output=True, timeout=120,
                          env=dict(os.environ, WINEDEBUG="-all"))
    took = time.monotonic() - start
    out = {}
    for line in proc.stdout.decode("latin-1").replace("\r\n", "\n").splitlines():
        key, _, value = line.partition(" ")
        out.setdefault(key, value)
    return proc.returncode, out, took


class HttpUploadTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="kxhttp")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def file(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_every_field_and_attachment_arrives_byte_for_byte(self):
        rnd = random.Random(18)
        report = b"".join(b"line %d of the bug report\r\n" % i for i in range(5000))
        shot = bytes(rnd.getrandbits(8) for _ in range(200000)) + b"\r\n--kx30a7c9e2d41b_multipart_boundar"
        files = [(self.file("bugreport.txt", report), "bugreport.txt", "BugReport"),
                 (self.file("screenShot.png", shot), "screen shot.png", "ScreenShot"),
                 (os.path.join(self.dir, "missing.txt"), "missing.txt", "Missing"),
                 (self.file("empty.log", b""), "empty.log", "Empty")]
        fields = [("MailFrom", "Jo Tester <jo@example.test>"), ("Description", "it crashed\r\nwhile saving"),
                  ("Empty", ""), ("Umlaut", "Gr\xf6\xdfe")]
        with UploadServer() as srv:
            code, out, _ = upload(self.dir, "http://localhost/cgi-bin/upload.cgi", srv.port, fields, files,
                                  account="jo", password="s3cr:et", sender="<jo@example.test>")
            self.assertEqual((code, out["sent"], out["status"]), (0, "1", "200"), out)
            self.assertEqual(len(srv.requests), 1)
            headers, path, parts = srv.requests[0]
        self.assertIsInstance(parts, list, parts)
        self.assertEqual(path, "/cgi-bin/upload.cgi")
        self.assertEqual(headers["Host"], "localhost:%d" % srv.port)
        self.assertEqual(headers["User-Agent"], "Kestrix/3.0")
        self.assertEqual(headers["From"], "<jo@example.test>")
        self.assertEqual(headers["Connection"], "close")
        self.assertEqual(basic_auth(headers), "jo:s3cr:et")
        got_fields = [(name, content.decode("latin-1")) for _, name, filename, content in parts if filename is None]
        self.assertEqual(got_fields, fields)
        got_files = [(name, filename, content) for _, name, filename, content in parts if filename is not None]
        self.assertEqual(got_files, [("BugReport", "bugreport.txt", report), ("ScreenShot", "screen shot.png", shot),
                                     ("Empty", "empty.log", b"")])
        for h, _, filename, _ in parts:
            if filename is not None:
                self.assertEqual(h["content-type"], "application/octet-stream")

    def test_redirect_opens_web_pages_only(self):
        report = self.file("bugreport.txt", b"report\r\n")
        with UploadServer() as srv:
            srv.mode = "redirect"
            srv.location = "http://127.0.0.1:%d/thanks?id=42" % srv.port
            code, out, _ = upload(self.dir, "127.0.0.1/up", srv.port, files=[(report, "bugreport.txt", "BugReport")])
            self.assertEqual((code, out["status"], out["location"]), (0, "302", srv.location))
            self.assertEqual(out.get("opened"), srv.location)
            srv.location = "C:\\windows\\system32\\calc.exe"
            code, out, _ = upload(self.dir, "127.0.0.1/up", srv.port, files=[(report, "bugreport.txt", "BugReport")])
            self.assertEqual(code, 0)
            self.assertNotIn("opened", out, "a server cannot start a program")

    def test_interim_reply_then_success(self):
        with UploadServer() as srv:
            srv.mode = "continue"
            code, out, _ = upload(self.dir, "127.0.0.1/up", srv.port, [("a", "b")])
            self.assertEqual((code, out["status"]), (0, "200"), out)

    def test_failures_are_reported(self):
        report = self.file("bugreport.txt", b"x" * 3000000)
        files = [(report, "bugreport.txt", "BugReport")]
        with UploadServer() as srv:
            srv.mode = "error"
            code, out, _ = upload(self.dir, "127.0.0.1/up", srv.port, [("a", "b")])
            self.assertEqual((code, out["sent"], out["status"]), (1, "0", "500"))

            srv.mode = "stall"
            code, out, took = upload(self.dir, "127.0.0.1/up", srv.port, files=files, timeout="2000")
            self.assertEqual(code, 1)
            self.assertIn("no complete reply within 2 s", out["error"])
            self.assertGreaterEqual(took, 2)
            self.assertLess(took, 30)
            srv.release.set()

            srv.mode = "close"
            code, out, took = upload(self.dir, "127.0.0.1/up", srv.port, files=files)
            self.assertEqual(code, 1)
            self.assertTrue(out["error"], out)
            self.assertLess(took, 30)

        # Nobody listens: refused at once.
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        code, out, took = upload(self.dir, "127.0.0.1/up", port, files=files)
        self.assertEqual(code, 1)
        self.assertIn("cannot connect", out["error"])
        self.assertLess(took, 20)

        code, out, _ = upload(self.dir, "no-such-host.invalid/up", 80, files=files)
        self.assertEqual(code, 1)
        self.assertIn("cannot resolve", out["error"])

    def test_proxy_gets_the_same_request(self):
        with UploadServer() as srv:
            code, out, _ = upload(self.dir, "http://upload.invalid/cgi/up", 8080, [("a", "b")],
                                  proxy="ftp=127.0.0.1:1 http=127.0.0.1:%d" % srv.port)
            self.assertEqual(code, 0, out)
            headers, path, parts = srv.requests[0]
            self.assertEqual(headers["Host"], "upload.invalid:8080")
            self.assertEqual(path, "/cgi/up")
            self.assertEqual([(n, c) for _, n, _, c in parts], [("a", b"b")])

    def test_system_proxy_setting(self):
        key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
        reg = lambda *a: subprocess.run(["wine", "reg", *a], capture_output=True, env=dict(os.environ, WINEDEBUG="-all"))
        with UploadServer() as srv:
            reg("add", key, "/v", "ProxyServer", "/t", "REG_SZ", "/d", "127.0.0.1:%d" % srv.port, "/f")
            reg("add", key, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
            try:
                code, out, _ = upload(self.dir, "upload.invalid/up", 80, [("a", "b")], system_proxy="")
            finally:
                reg("add", key, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f")
                reg("delete", key, "/v", "ProxyServer", "/f")
            self.assertEqual(code, 0, out)
            self.assertEqual(srv.requests[0][0]["Host"], "upload.invalid:80")


if __name__ == "__main__":
    PROBE = sys.argv.pop(1)
    unittest.main()
