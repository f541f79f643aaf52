#!/usr/bin/python3
"""The mail client channels under Wine against real stand-ins: a
"mapi32.dll" loaded in place of Wine's (WINEDLLOVERRIDES="mapi32=n") that
records the mail it is handed and answers as told, and a "mailto" program
registered in the test prefix's HKCR that records its command line. The
dispatcher runs in the foreground through the probe (as the dialog's send
button runs it) and hidden in the background through the crash lab
(automatic sending); the failure box is caught by the crash lab's box
closer. The online check before the upload is tried against the local
host, a silent TEST-NET address and an empty host (no check)."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "helpers"))
from upload_server import UploadServer, can_ping  # noqa: E402
from winetest import winpath  # noqa: E402

ARGS = None
MAILTO_KEY = r"HKCR\mailto\shell\open\command"
MAPI_LOGON_UI, MAPI_DIALOG = 0x1, 0x8


def reg(*args):
    return subprocess.run(["wine", "reg", *args], env=dict(os.environ, WINEDEBUG="-all"),
                          capture_output=True, timeout=60)


def mailto_handler():
    """The registered command, or None."""
    out = reg("query", MAILTO_KEY, "/ve")
    if out.returncode != 0:
        return None
    m = re.search(rb"REG_(?:EXPAND_)?SZ[ \t]+(.*?)\r?$", out.stdout, re.M)
    return m.group(1).decode("latin-1") if m else None


def set_mailto_handler(command):
    if command is None:
        reg("delete", MAILTO_KEY, "/f")
    else:
        assert reg("add", MAILTO_KEY, "/ve", "/d", command, "/f").returncode == 0


def read_record(path):
    """The stand-in's calls: a list of dicts (flags, session, parent,
    subject, body, recips, files)."""
    if not os.path.exists(path):
        return []
    calls, current = [], None
    with open(path, "rb") as f:
        for raw in f.read().decode("latin-1").split("\n"):
            key, _, value = raw.lstrip(" ").partition(" ")
            value = re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n"}.get(m.group(1), m.group(1)), value)
            fields = dict(re.findall(r"(\w+)=(\S+)", value))
            if key == "call":
                calls.append(dict(fields, recips=[], files=[]))
                calls[-1]["flags"] = int(fields["flags"])
            elif key in ("subject", "body"):
                calls[-1][key] = value
            elif key == "recip":
                current = {"class": fields["class"]}
                calls[-1]["recips"].append(current)
            elif key == "file":
                current = fields
                calls[-1]["files"].append(current)
            elif key in ("name", "address", "path"):
                current[key] = value
    return calls


class MailClientCase(unittest.TestCase):
    """A folder with the probe (and the stand-in MAPI when asked), the
    records, and the mailto handler put back afterwards."""

    @classmethod
    def setUpClass(cls):
        cls.saved_handler = mailto_handler()

    @classmethod
    def tearDownClass(cls):
        set_mailto_handler(cls.saved_handler)

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="kxmailclient")
        self.dir = self.tmp.name
        self.mapi_record = os.path.join(self.dir, "mapi.txt")
        self.mailto_record = os.path.join(self.dir, "mailto.txt")
        self.copies = os.path.join(self.dir, "copies")
        os.mkdir(self.copies)
        self.env = dict(os.environ, WINEDEBUG="-all", KX_MAPI_RECORD=winpath(self.mapi_record),
                        KX_MAILTO_RECORD=winpath(self.mailto_record), KX_MAPI_COPY=winpath(self.copies))

    def tearDown(self):
        self.tmp.cleanup()

    def with_mapi(self, result):
        """The stand-in beside the programs run from this folder."""
        shutil.copy(ARGS.mapi, os.path.join(self.dir, "mapi32.dll"))
        self.env["WINEDLLOVERRIDES"] = "mapi32=n"
        self.env["KX_MAPI_RESULT"] = result

    def register_recorder(self):
        set_mailto_handler('"%s" %%1' % winpath(ARGS.recorder))

    def dispatch(self, report_text, *settings, hidden=False, topmost=False, paused_main=False, extra=()):
        """Runs the probe; returns (its answers, the box text or None)."""
        probe = os.path.join(self.dir, "mail_client_probe.exe")
        shutil.copy(ARGS.probe, probe)
        report = os.path.join(self.dir, "report.txt")
        with open(report, "wb") as f:
            f.write(report_text)
        cmd = ["wine", probe, "dispatch", winpath(report)]
        for s in settings:
            cmd += ["--set", s]
        if hidden:
            cmd.append("--hidden")
        if topmost:
            cmd.append("--topmost")
        if paused_main:
            cmd.append("--paused-main")
        cmd += extra
        # The dispatch is synchronous: a box it shows is closed (and the
        # closer done) before the probe ends.
        closer = subprocess.Popen(["wine", ARGS.box_closer, "60"], env=self.env,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            proc = subprocess.run(cmd, env=self.env, capture_output=True, timeout=120)
        finally:
            try:
                box_out, _ = closer.communicate(timeout=2)
            except subprocess.TimeoutExpired:
                closer.kill()
                box_out, _ = closer.communicate()
        self.assertEqual(proc.returncode, 0, proc.stderr)
        answers = dict(re.findall(r"(\w+) (-?\d+)", proc.stdout.decode()))
        box = box_out.decode("latin-1").strip() if closer.returncode == 0 else None
        return {k: int(v) for k, v in answers.items()}, box

    def mailto_lines(self):
        if not os.path.exists(self.mailto_record):
            return []
        with open(self.mailto_record, "rb") as f:
            return [line.rstrip(b"\r") for line in f.read().split(b"\n") if line]


def escaped(text):
    """The link's escaping: LF, CR, blank, double quote, "#", "%", "+", "<",
    ">" and "?" as "%XX"."""
    return "".join("%%%02X" % b if b in b'\n\r "#%+<>?' else chr(b) for b in text)


REPORT = b"date/time          : 2026-12-07\r\nexception message  : Access violation.\r\n\r\nmain thread:\r\n50% done? #1 <x> \"q\" a+b\r\n"
FAIL_MSG = "Sorry, sending the bug report didn't work."


class Mapi(MailClientCase):
    def test_sent_with_recipients_attachments_and_dialog(self):
        self.with_mapi("SUCCESS_SUCCESS")
        bug_file = os.path.join(self.dir, "mail_client_probe-bugreport.txt")
        with open(bug_file, "wb") as f:
            f.write(b"old reports\r\n")
        answers, box = self.dispatch(REPORT, "MailViaMapi=true", "MailViaMailto=true",
                                     'MailAddr="Ann Smith <ann@x.test>; bob@y.test"',
                                     'MailSubj="bug in %appname%"', topmost=True)
        self.assertEqual(answers["result"], 1)
        self.assertEqual(answers["sent"], 1)
        self.assertEqual(answers["topmost"], 1, "the parent is topmost again after the call")
        self.assertIsNone(box)
        calls = read_record(self.mapi_record)
        self.assertEqual(len(calls), 1)
        call = calls[0]
        self.assertEqual(call["flags"], MAPI_LOGON_UI | MAPI_DIALOG, "not hidden: the compose dialog")
        self.assertEqual(call["session"], "0")
        self.assertEqual(call["parent"], "1")
        self.assertEqual(call["answered"], "1")
        self.assertEqual(call["subject"], "bug in mail_client_probe.exe")
        self.assertEqual(call["body"], "please find the bug report attached")
        self.assertEqual(call["recips"], [{"class": "1", "name": "Ann Smith", "address": "SMTP:ann@x.test"},
                                          {"class": "1", "name": "bob@y.test", "address": "SMTP:bob@y.test"}])
        self.assertEqual([(f["position"], f["exists"], f["name"]) for f in call["files"]],
                         [("-1", "1", "bugreport.txt")])
        with open(os.path.join(self.copies, "bugreport.txt"), "rb") as f:
            sent = f.read()
        self.assertTrue(sent.startswith(b"old reports\r\ndate/time"), "the bug report file's copy with the report")
        self.assertEqual(self.mailto_lines(), [], "sent: mailto not tried")
        self.assertFalse(os.path.exists(bug_file), "sent: the bug report file is deleted")

    def test_main_thread_held_by_the_pausing_is_let_go_during_the_call(self):
        self.with_mapi("SUCCESS_SUCCESS")
        answers, _ = self.dispatch(REPORT, "MailViaMapi=true", 'MailAddr="ann@x.test"', paused_main=True)
        self.assertEqual(answers["held"], 1, "the main thread was held before the send")
        self.assertEqual(answers["result"], 1)
        calls = read_record(self.mapi_record)
        self.assertEqual(len(calls), 1)
        self.assertEqual(calls[0]["answered"], "1", "the parent's thread answered the mail client")
        self.assertEqual(answers["held_after"], 1, "and is held again afterwards")

    def test_hidden_sends_without_dialog_only_with_recipients(self):
        self.with_mapi("SUCCESS_SUCCESS")
        answers, _ = self.dispatch(REPORT, "MailViaMapi=true", 'MailAddr="ann@x.test"', hidden=True)
        self.assertEqual(answers["result"], 1)
        answers, _ = self.dispatch(REPORT, "MailViaMapi=true", 'MailAddr=""', hidden=True)
        self.assertEqual(answers["result"], 1)
        calls = read_record(self.mapi_record)
        self.assertEqual([c["flags"] for c in calls], [0, MAPI_LOGON_UI | MAPI_DIALOG])
        self.assertEqual(calls[1]["recips"], [])

    def test_cancel_returns_2_without_mailto_or_box(self):
        self.with_mapi("MAPI_USER_ABORT")
        self.register_recorder()
        answers, box = self.dispatch(REPORT, "MailViaMapi=true", "MailViaMailto=true", 'MailAddr="ann@x.test"')
        self.assertEqual(answers["result"], 2)
        self.assertEqual(answers["sent"], 0)
        self.assertEqual(len(read_record(self.mapi_record)), 1)
        self.assertEqual(self.mailto_lines(), [], "a cancel does not go on to mailto")
        self.assertIsNone(box, "a cancel shows nothing")

    def test_failure_goes_on_to_mailto(self):
        self.with_mapi("MAPI_E_FAILURE")
        self.register_recorder()
        bug_file = os.path.join(self.dir, "mail_client_probe-bugreport.txt")
        with open(bug_file, "wb") as f:
            f.write(b"old reports\r\n")
        answers, box = self.dispatch(REPORT, "MailViaMapi=true", "MailViaMailto=true", 'MailAddr="ann@x.test"',
                                     topmost=True)
        self.assertEqual(answers["result"], 1)
        self.assertEqual(len(read_record(self.mapi_record)), 1)
        self.assertEqual(len(self.mailto_lines()), 1)
        self.assertIsNone(box)
        self.assertEqual(answers["topmost"], 0, "the parent left the topmost layer for the mail program")
        self.assertTrue(os.path.exists(bug_file), "the link carries no file: the bug report file stays")


class Mailto(MailClientCase):
    def test_link_carries_the_escaped_report(self):
        self.register_recorder()
        answers, box = self.dispatch(REPORT, "MailViaMailto=true", 'MailAddr=" ann@x.test ; bob@y.test"',
                                     'MailSubj="50% off? #1"')
        self.assertEqual(answers["result"], 1)
        self.assertIsNone(box)
        lines = self.mailto_lines()
        self.assertEqual(len(lines), 1)
        line = lines[0].decode("latin-1")
        prefix = '"%s" ' % winpath(ARGS.recorder)
        self.assertTrue(line.startswith(prefix), line)
        link = line[len(prefix):]
        self.assertEqual(link, "mailto:ann@x.test,bob@y.test?subject=50%25%20off%3F%20%231&body=" + escaped(REPORT))
        self.assertEqual(urllib.parse.unquote_to_bytes(link.split("&body=", 1)[1]), REPORT,
                         "the body is the report text itself")

    def test_long_report_is_cut_after_a_whole_escape(self):
        self.register_recorder()
        prefix_len = len('"%s" ' % winpath(ARGS.recorder)) + len("mailto:a@x.test?subject=bug%20report&body=")
        seen = set()
        # A report of "%0D%0A" escapes and letters, at three offsets, so that
        # the cut falls on each character of an escape once.
        for shift in range(3):
            lead = (32766 - prefix_len - shift) % 3
            text = b"x" * lead + b"\r\n" * 20000
            os.remove(self.mailto_record) if os.path.exists(self.mailto_record) else None
            answers, _ = self.dispatch(text, "MailViaMailto=true", 'MailAddr="a@x.test"')
            self.assertEqual(answers["result"], 1)
            line = self.mailto_lines()[0].decode("latin-1")
            self.assertLessEqual(len(line), 32766)
            self.assertGreaterEqual(len(line), 32764)
            self.assertEqual(len(line) - line.rfind("%"), 3, "ends with a whole escape")
            self.assertTrue(("x" * lead + "%0D%0A" * 20000).startswith(line.split("&body=", 1)[1]))
            seen.add(len(line))
        self.assertEqual(len(seen), 3, "the cut fell at every place of an escape")

    def test_nothing_registered_shows_the_failure_box(self):
        set_mailto_handler(None)
        answers, box = self.dispatch(REPORT, "MailViaMailto=true", 'MailAddr="a@x.test"')
        self.assertEqual(answers["result"], 0)
        self.assertEqual(box, FAIL_MSG)

    def test_hidden_tries_no_mailto_and_shows_no_box(self):
        self.register_recorder()
        answers, box = self.dispatch(REPORT, "MailViaMailto=true", 'MailAddr="a@x.test"', hidden=True)
        self.assertEqual(answers["result"], 0)
        self.assertIsNone(box)
        self.assertEqual(self.mailto_lines(), [])


class OnlineCheck(MailClientCase):
    """The online check before the upload, at the dispatcher: a public check
    host that never answers (TEST-NET-3), as on a network without an
    internet route."""

    def upload(self, server_address, *settings):
        with UploadServer() as server:
            answers, box = self.dispatch(REPORT, "UploadViaHttp=true", f'HttpServer="{server_address}/upload"',
                                         f"HttpPort={server.port}", *settings)
        return answers, box, server.requests

    def test_loopback_server_is_never_skipped(self):
        # Unanswered public host, no environment variable: the server on the
        # loopback is asked all the same, and gets the sender as "From:".
        self.assertNotIn("KESTRIX_ONLINE_HOST", self.env)
        answers, box, requests = self.upload("127.0.0.1", 'OnlineCheckHost="203.0.113.1"',
                                             'MailFrom="Lab Desk <desk@lab.test>"')
        self.assertEqual(answers["result"], 1)
        self.assertIsNone(box)
        self.assertEqual(len(requests), 1)
        headers, _, parts = requests[0]
        self.assertEqual(headers.get("From"), "<desk@lab.test>", "envelope form")
        fields = {name: content for _, name, filename, content in parts if filename is None}
        self.assertEqual(fields.get("MailFrom"), b"Lab Desk <desk@lab.test>")

    def test_sender_from_the_recipient_when_no_mail_from(self):
        answers, _, requests = self.upload("localhost", 'MailFrom=""', 'MailAddr="Desk <bugs@lab.test>, b@lab.test"')
        self.assertEqual(answers["result"], 1)
        self.assertEqual(requests[0][0].get("From"), "<bugs@lab.test>")

    @unittest.skipUnless(can_ping(), "no ICMP socket: the online check cannot tell")
    def test_silent_host_skips_a_public_server_and_the_failure_is_shown(self):
        # TEST-NET-3 never answers, also not after the dial-up attempt that a
        # send in the foreground makes; the public upload server is not
        # tried (a connection attempt would take its 10 s time-out).
        start = time.monotonic()
        answers, box, _ = self.upload("203.0.113.7", 'OnlineCheckHost="203.0.113.1"')
        self.assertLess(time.monotonic() - start, 9, "no connection attempt")
        self.assertEqual(answers["result"], 0)
        self.assertEqual(box, FAIL_MSG)

    def test_progress_window_shows_before_the_attachments_are_packed(self):
        # Packing 24 MiB into the archive takes a while: the window is up
        # before the archive is written, not after.
        big = os.path.join(self.dir, "big.bin")
        with open(big, "wb") as f:
            f.write(os.urandom(1 << 20) * 24)
        attach = 'AddAttachs="%s>big.bin>Packed.zip>Big"' % winpath(big).replace("\\", "\\\\")
        with UploadServer() as server:
            answers, _ = self.dispatch(REPORT, "UploadViaHttp=true", 'HttpServer="127.0.0.1/upload"',
                                       f"HttpPort={server.port}", attach, extra=["--watch-progress", "Packed.zip"])
        self.assertEqual(answers["result"], 1)
        self.assertEqual(answers["file_at_window"], 0, "the window showed before the archive was made")
        files = [(name, filename) for _, name, filename, _ in server.requests[0][2] if filename is not None]
        self.assertIn(("Packed.zip", "Packed.zip"), files)

    def test_check_host_answers_or_is_empty(self):
        probe = [ARGS.probe, "ping"]
        out = subprocess.run(["wine", *probe, "127.0.0.1"], env=self.env, capture_output=True, timeout=60)
        self.assertIn(b"online 1", out.stdout)
        out = subprocess.run(["wine", *probe, ""], env=self.env, capture_output=True, timeout=60)
        self.assertIn(b"online 1", out.stdout, "an empty check host skips the check")
        if can_ping():
            out = subprocess.run(["wine", *probe, "203.0.113.1"], env=self.env, capture_output=True, timeout=60)
            self.assertIn(b"silent", out.stdout)
            self.assertIn(b"online 0", out.stdout)


class CrashLab(MailClientCase):
    """Automatic sending of a crash's report (hidden, in the background)
    through the stand-in MAPI, with the screenshot in the colour mode of
    ScrShotDepth."""

    def crash(self, *settings):
        lab = os.path.join(self.dir, "crashlab.exe")
        shutil.copy(ARGS.lab, lab)
        launcher = os.path.join(os.path.dirname(ARGS.lab), "exit_code.exe")
        report = os.path.join(self.dir, "lab.txt")
        cmd = ["wine", launcher, lab, "div-zero", "--report", winpath(report), "--set", "AutoSend=true",
               "--set", "MailViaMapi=true", "--set", 'MailAddr="Lab <lab@x.test>"', "--set", "ScrShotAppOnly=false"]
        for s in settings:
            cmd += ["--set", s]
        proc = subprocess.run(cmd, env=self.env, capture_output=True, timeout=120)
        code = re.search(rb"exit code 0x([0-9a-f]{8})", proc.stderr)
        self.assertTrue(code, proc.stderr)
        self.assertEqual(int(code.group(1), 16), 0xC0000094)
        return report

    def screenshot_colours(self):
        """The screenshot's bit depth and colour type (IHDR) and its colours."""
        from PIL import Image
        path = os.path.join(self.copies, "screenshot.png")
        with open(path, "rb") as f:
            head = f.read(26)
        self.assertEqual(head[12:16], b"IHDR")
        with Image.open(path) as img:
            img.load()
            return (head[24], head[25]), img.convert("RGB").getcolors(1 << 20)

    def test_report_and_256_colour_screenshot(self):
        self.with_mapi("SUCCESS_SUCCESS")
        self.crash("ScrShotDepth=8")
        calls = read_record(self.mapi_record)
        self.assertEqual(len(calls), 1)
        self.assertEqual(calls[0]["flags"], 0, "hidden with a recipient: no dialog")
        self.assertEqual(calls[0]["recips"], [{"class": "1", "name": "Lab", "address": "SMTP:lab@x.test"}])
        self.assertEqual([f["name"] for f in calls[0]["files"]], ["bugreport.txt", "screenshot.png"])
        with open(os.path.join(self.copies, "bugreport.txt"), "rb") as f:
            self.assertIn(b"Division by zero.", f.read())
        header, colours = self.screenshot_colours()
        self.assertEqual(header, (8, 3), "8-bit palette")
        self.assertLessEqual(len(colours), 256)

    def test_16_grey_screenshot_and_cancel_keeps_the_report(self):
        self.with_mapi("MAPI_USER_ABORT")
        report = self.crash("ScrShotDepth=4")
        self.assertEqual(len(read_record(self.mapi_record)), 1)
        header, colours = self.screenshot_colours()
        self.assertEqual(header, (4, 3), "4-bit palette")
        self.assertLessEqual(len(colours), 16)
        self.assertTrue(all(r == g == b for _, (r, g, b) in colours), colours)
        with open(report, "rb") as f:
            self.assertIn(b"Division by zero.", f.read(), "not sent: saved")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("probe", "mapi", "recorder", "box-closer", "lab"):
        parser.add_argument("--" + name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v", *rest])
