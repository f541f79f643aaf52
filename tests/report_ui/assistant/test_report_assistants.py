#!/usr/bin/env python3
"""The assistants of a crash under Xvfb, driven from a second process
(report_assistant_driver.exe) while the crash lab handles a crash: the save
assistant before the dialog's save, the exception's own assistant instead of
the dialog (display mode 1) with its answers in the sent and saved report,
and the screenshot page's check box and picture editing. Screenshots of the
pages are kept in SHOTS.

test_report_assistants.py LAB DRIVER PAINTER SHOTS
"""
import io
import os
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "helpers"))
import report_file  # noqa: E402
from upload_server import UploadServer  # noqa: E402
import page_shots  # noqa: E402
from winetest import winpath  # noqa: E402

LAB = DRIVER = PAINTER = SHOTS = None
ENV = dict(os.environ, WINEDEBUG="-all")

ASSISTANTS = ["--set", 'Assistant1="SaveAssistant|Save Assistant|ContactForm|DetailsForm|ScrShotForm"',
              "--set", 'Assistant2="SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm"',
              "--set", "ScrShotDepth=24", "--set", "ScrShotAppOnly=false"]


def parse_report(text):
    """(header names, header dict, {section title: lines}) of one report."""
    names, header, sections, _ = report_file.parse_report(text)
    return names, header, {title.rstrip(":"): lines for title, lines in sections}


def run_driver(*args):
    return page_shots.run_driver(["wine", DRIVER, *args], SHOTS, ENV)[0]


class ReportAssistants(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="kxreportassist")
        self.report = os.path.join(self.tmp.name, "bugreport.txt")

    def tearDown(self):
        self.tmp.cleanup()

    def start_lab(self, *args):
        # Through the launcher, which reports the whole 32-bit exit code.
        launcher = os.path.join(os.path.dirname(LAB), "exit_code.exe")
        return subprocess.Popen(["wine", launcher, LAB, *args, *ASSISTANTS], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=ENV)

    def drive(self, lab, *args):
        """The driver's run against the crash lab; then the lab's output and
        whole exit code."""
        lines = run_driver(*args)
        if lines[-1:] != ["PASS"]:
            lab.kill()
            lab.communicate()
            self.fail("the driver failed: %s" % lines)
        try:
            out, err = lab.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            lab.kill()
            lab.communicate()
            self.fail("the crash lab did not end")
        code = re.search(rb"exit code 0x([0-9a-f]{8})", err)
        self.assertTrue(code, err)
        self.lab_output = out + err
        return out.decode("latin-1"), int(code.group(1), 16)

    def check_answers(self, text):
        names, header, sections = parse_report(text)
        self.assertEqual(header.get("contact name"), "Jo Tester")
        self.assertEqual(header.get("contact email"), "jo.tester@example.test")
        self.assertEqual(sections.get("error details"), ["pressed crash", "and it crashed"])
        # Additions stand together at the header's insertion point, among
        # the collected items, not after the exception's own.
        self.assertEqual(names.index("contact email"), names.index("contact name") + 1, names)
        self.assertGreater(names.index("contact name"), names.index("Kestrix version"), names)
        self.assertLess(names.index("contact email"), names.index("exception number"), names)
        self.assertRegex(header["callstack crc"], r"^\$[0-9a-f]{8}, \$[0-9a-f]{8}, \$[0-9a-f]{8}$")

    def test_save_assistant_runs_before_the_dialog_saves(self):
        lab = self.start_lab("cpp", "--click", "--visible", "--gui", "--show", "0", "--report", winpath(self.report),
                             "--set", "AutoSave=false", "--set", "SaveBtnVis=true",
                             "--set", 'SaveAssis="SaveAssistant"')
        out, rc = self.drive(lab, "dialog", winpath(self.report))
        self.assertEqual(rc, 0)
        self.assertIn("continued", out)
        with open(self.report, "rb") as f:
            text = f.read().decode("latin-1")
        self.assertEqual(len(re.findall(r"^date/time", text, re.M)), 1,
                         "saved once: the cancelled assistant saved nothing")
        self.check_answers(text)

    def test_send_assistant_runs_before_the_dialog_sends(self):
        with UploadServer() as server:
            # Its own bug report file: an existing one would be sent along.
            lab = self.start_lab("cpp", "--click", "--gui", "--show", "0", "--report", winpath(self.report),
                                 "--set", "AutoSave=false",
                                 "--set", 'SendAssis="SendAssistant"', "--set", "SendInBackgr=false",
                                 "--set", "UploadViaHttp=true", "--set", 'HttpServer="127.0.0.1/upload"',
                                 "--set", f"HttpPort={server.port}", "--set", 'MailFrom="lab@sender.test"')
            out, rc = self.drive(lab, "dialog-send")
        self.assertEqual(rc, 0)
        self.assertIn("continued", out)
        self.assertEqual(len(server.requests), 1)
        parts = server.requests[0][2]
        self.assertIsInstance(parts, list, parts)
        self.check_sent(parts, screenshot=True)

    def test_display_mode_one_without_its_assistant_shows_the_dialog(self):
        lab = self.start_lab("cpp", "--click", "--gui", "--show", "1", "--report", winpath(self.report),
                             "--set", 'GnAssis="NoSuchAssistant"', "--set", "AutoSave=true")
        out, rc = self.drive(lab, "dialog-instead")
        self.assertEqual(rc, 0)
        self.assertIn("continued", out)
        with open(self.report, "rb") as f:
            text = f.read().decode("latin-1")
        self.assertEqual(len(re.findall(r"^date/time", text, re.M)), 1, "saved automatically, once")
        self.assertNotIn("contact name", text)

    def check_sent(self, parts, screenshot):
        """The upload's report carries the answers, its sender the contact
        page's name and address; the screenshot as the page left it."""
        fields = {name: content for _, name, filename, content in parts if filename is None}
        files = {name: (filename, content) for _, name, filename, content in parts if filename is not None}
        self.check_answers(files["BugReport"][1].decode("latin-1"))
        self.assertEqual(fields.get("MailFrom"), b"Jo Tester <jo.tester@example.test>")
        self.assertEqual("ScreenShot" in files, screenshot, files.keys())
        return files

    def display_crash(self, server, driver_args):
        lab = self.start_lab("div-zero", "--gui", "--show", "1", "--report", winpath(self.report),
                             "--set", 'GnAssis="SendAssistant"', "--set", "AutoSave=true",
                             "--set", "AutoSaveIfNotSent=false", "--set", "DelBugRepFile=false",
                             "--set", "AutoSend=true",
                             "--set", "UploadViaHttp=true", "--set", 'HttpServer="127.0.0.1/upload"',
                             "--set", f"HttpPort={server.port}", "--set", 'MailFrom="lab@sender.test"')
        out, rc = self.drive(lab, *driver_args)
        self.assertEqual(rc, 0xC0000094, "the crash's own exit code")
        self.assertEqual(len(server.requests), 1, "sent once, after the assistant")
        parts = server.requests[0][2]
        self.assertIsInstance(parts, list, parts)
        files = self.check_sent(parts, screenshot=driver_args[0] == "display-edit")
        self.assertTrue(os.path.exists(self.report), self.lab_output)
        with open(self.report, "rb") as f:
            self.check_answers(f.read().decode("latin-1"))
        return files

    def test_display_assistant_without_screenshot(self):
        with UploadServer() as server:
            self.display_crash(server, ["display-noattach"])  # unchecked: no screenshot

    def test_display_assistant_with_edited_screenshot(self):
        from PIL import Image
        with UploadServer() as server:
            files = self.display_crash(server, ["display-edit", winpath(PAINTER)])
        picture = Image.open(io.BytesIO(files["ScreenShot"][1])).convert("RGB")
        self.assertEqual(picture.getpixel((10, 10)), (255, 0, 255), "the edited picture is attached")
        self.assertEqual(picture.getpixel((199, 199)), (255, 0, 255))
        self.assertNotEqual(picture.getpixel((260, 260)), (255, 0, 255))


if __name__ == "__main__":
    LAB, DRIVER, PAINTER, SHOTS = sys.argv[1:5]
    del sys.argv[1:5]
    os.makedirs(SHOTS, exist_ok=True)
    unittest.main(verbosity=2)
