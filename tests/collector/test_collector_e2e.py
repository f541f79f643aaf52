#!/usr/bin/python3
"""kxcollect end to end: crash-lab crashes under Wine upload to a running
kxcollect (SQLite, or PostgreSQL shared by two kxcollect processes); two
kinds of crash, each repeated, make two groups with the right counts; a
NAMES_IN_KX_FILE crash is named once its ".kx" file is uploaded; the bug
report file the crashes saved, and the same crashes mailed to a real SMTP
server kept as an mbox and as a Maildir, import to the same groups; the pages render in headless
Chromium, sort and filter, and are kept as screenshots."""
import argparse
import base64
import email.utils
import json
import os
import re
import shutil
import sys
import tempfile
import unittest
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "crashlab"))
sys.path.insert(0, os.path.join(HERE, "..", "helpers"))
import collector_peers as peers  # noqa: E402
import mail_peers  # noqa: E402
import test_http_delivery as http_lab  # noqa: E402
import test_mail_delivery as mail_lab  # noqa: E402

ARGS = None
# scenario, exit code, exception class, the function the crash is in
KINDS = [("div-zero", 0xC0000094, "EDivByZero", "DivideByZero"),
         ("null-call", 0xC0000005, "EAccessViolation", "NullCall")]
REPEATS = 3
# The crash lab's --set keeps HttpPassword in its stored (enciphered) form,
# which the upload then sends: the lab logs in with its account alone.
LOGIN = ("lab", "")
ADMIN = "admin:admin-pw"


def auth(login):
    return "Basic " + base64.b64encode(login.encode()).decode()


def summary(groups):
    """What must agree between stores and intakes: class, place, count."""
    return sorted((g["exceptionClass"], g["location"], g["count"]) for g in groups)


class CollectorEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="kxcollect-e2e")
        cls.data = os.path.join(cls.tmp, "data")
        cls.cluster = None
        stores = {"uploads": None, "file": None, "mail": None, "maildir": None}
        if ARGS.store == "postgresql":
            cls.cluster = peers.PostgresCluster()
            stores = {name: cls.cluster.create_database(name) for name in stores}
        cls.stores = stores
        server_args = ["--upload-login", ":".join(LOGIN), "--admin", ADMIN]
        # Two processes behind one (imagined) balancer share the database and the data folder.
        count = 2 if cls.cluster else 1
        cls.collectors = [peers.Collector(ARGS.kxcollect, cls.data, stores["uploads"], server_args)
                          for _ in range(count)]
        http_lab.LAB = mail_lab.LAB = ARGS.lab
        cls.report_file = os.path.join(cls.tmp, "uploaded-bugreport.txt")
        n = 0
        for _ in range(REPEATS):
            for scenario, code, _, _ in KINDS:
                collector = cls.collectors[n % count]
                n += 1
                # Every report saved too, and the file kept (it is attached and would go
                # once sent): the bug report file to import.
                rc = http_lab.crash(cls.report_file, collector.port, "--set", "AutoSaveIfNotSent=false",
                                    "--set", "DelBugRepFile=false",
                                    "--set", 'HttpAccount="%s"' % LOGIN[0],
                                    "--set", "ScrShotDepth=24", "--set", "ScrShotAppOnly=false",
                                    scenario=(scenario,))
                assert rc == code, (scenario, hex(rc))
        # The same crashes mailed to a real SMTP server, kept as an mbox.
        smtp, recorder, smtp_port = mail_peers.start_smtp()
        try:
            for _ in range(REPEATS):
                for scenario, code, _, _ in KINDS:
                    rc = mail_lab.crash(os.path.join(cls.tmp, "mailed.txt"), "--set", "MailAsSmtpClient=true",
                                        "--set", 'SmtpServer="127.0.0.1"', "--set", "SmtpPort=%d" % smtp_port,
                                        scenario=(scenario,))
                    assert rc == code, (scenario, hex(rc))
        finally:
            smtp.stop()
        cls.mbox = os.path.join(cls.tmp, "reports.mbox")
        cls.maildir = os.path.join(cls.tmp, "Maildir")
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(cls.maildir, sub))
        for n, (_, _, data) in enumerate(recorder.messages):
            with open(os.path.join(cls.maildir, "new" if n % 2 else "cur", "%d.kx:2," % n), "wb") as f:
                f.write(data)
        with open(cls.mbox, "wb") as f:
            for mail_from, _, data in recorder.messages:
                f.write(b"From %s %s\n" % (mail_from.encode(), email.utils.formatdate().encode()))
                for line in data.replace(b"\r\n", b"\n").split(b"\n"):
                    f.write((b">" + line if re.match(rb">*From ", line) else line) + b"\n")
                f.write(b"\n")
        # A build without names, run without its ".kx" file.
        cls.kx_folder = os.path.join(cls.tmp, "kx-build")
        os.makedirs(cls.kx_folder)
        cls.lab_kx = shutil.copy(ARGS.lab_kx, cls.kx_folder)
        shutil.copy(os.path.join(os.path.dirname(ARGS.lab), "exit_code.exe"), cls.kx_folder)
        rc = http_lab.crash(os.path.join(cls.tmp, "kx.txt"), cls.collectors[-1].port,
                            "--set", 'HttpAccount="%s"' % LOGIN[0],
                            scenario=("div-zero",), lab=cls.lab_kx)
        assert rc == 0xC0000094, hex(rc)
        cls.kx_group_before = cls.lab_groups("crashlab_kx.exe")

    @classmethod
    def tearDownClass(cls):
        for c in cls.collectors:
            c.stop()
        if cls.cluster:
            cls.cluster.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def lab_groups(cls, executable="crashlab.exe", collector=0):
        return [g for g in cls.collectors[collector].api("/api/groups") if g["executable"] == executable]

    def test_1_uploads_make_one_group_per_kind(self):
        for index in range(len(self.collectors)):
            with self.subTest(process=index):
                groups = self.lab_groups(collector=index)
                self.assertEqual(sorted(g["exceptionClass"] for g in groups), sorted(k[2] for k in KINDS))
                for g in groups:
                    self.assertEqual(g["count"], REPEATS, g)
                    self.assertEqual(g["users"], 1)
                    top = next(k[3] for k in KINDS if k[2] == g["exceptionClass"])
                    self.assertIn(top, g["location"])
                    self.assertLessEqual(g["firstSeen"], g["lastSeen"])
                    self.assertEqual(len(g["versions"]), 1, "one build")

    def test_2_group_holds_its_reports_and_files(self):
        c = self.collectors[0]
        for g in self.lab_groups():
            detail = c.api("/api/groups/%d" % g["id"])
            self.assertEqual(len(detail["reports"]), REPEATS)
            self.assertEqual(sum(d["count"] for d in detail["days"]), REPEATS)
            for r in detail["reports"]:
                kinds = {f["kind"]: f for f in r["files"]}
                self.assertEqual(set(kinds), {"report", "screenshot"})
                report = c.get(kinds["report"]["url"])
                self.assertTrue(report.startswith(b"date/time"), report[:60])
                self.assertIn(g["exceptionClass"].encode(), report)
                self.assertTrue(c.get(kinds["screenshot"]["url"]).startswith(b"\x89PNG\r\n\x1a\n"))
                self.assertEqual(kinds["screenshot"]["name"], "screenshot.png")

    def test_3_kx_upload_names_the_build_without_names(self):
        self.assertEqual(len(self.kx_group_before), 1)
        self.assertNotIn("DivideByZero", self.kx_group_before[0]["location"], "no names before the .kx upload")
        kx = os.path.splitext(ARGS.lab_kx)[0] + ".kx"
        with open(kx, "rb") as f:
            body = f.read()
        c = self.collectors[0]
        status, _ = c.post("/api/kx?name=crashlab_kx.kx", body, "application/octet-stream")
        self.assertEqual(status, 401, "the .kx upload needs the upload login")
        status, answer = c.post("/api/kx?name=crashlab_kx.kx", body, "application/octet-stream",
                                {"Authorization": auth(":".join(LOGIN))})
        self.assertEqual(status, 200, answer)
        self.assertIn("1 reports named", answer)
        for index in range(len(self.collectors)):
            groups = self.lab_groups("crashlab_kx.exe", collector=index)
            self.assertEqual(len(groups), 1)
            self.assertEqual(groups[0]["count"], 1)
            self.assertRegex(groups[0]["location"], r"^crashlab \d+ \+\d+ DivideByZero$")
        # Named as the ordinary build names the same crash, in the call-stack tab too.
        ordinary = next(g for g in self.lab_groups() if g["exceptionClass"] == "EDivByZero")
        self.assertEqual(groups[0]["location"], ordinary["location"])
        page = c.get("/groups/%d?tab=1" % groups[0]["id"]).decode("utf-8", "replace")
        self.assertRegex(page, r"<td>crashlab_kx\.exe</td><td>crashlab</td><td>\d+</td><td>\+\d+</td><td>DivideByZero</td>")

    def test_4_imports_give_the_same_groups_as_uploads(self):
        uploads = summary(self.lab_groups())
        for name, source in (("file", self.report_file), ("mail", self.mbox), ("maildir", self.maildir)):
            with self.subTest(name):
                data = os.path.join(self.tmp, "import-" + name)
                result = peers.run_import(ARGS.kxcollect, data, [source], self.stores[name])
                self.assertEqual(result.returncode, 0, result.stderr)
                imported = peers.Collector(ARGS.kxcollect, data, self.stores[name])
                try:
                    self.assertEqual(summary(g for g in imported.api("/api/groups")
                                             if g["executable"] == "crashlab.exe"), uploads)
                finally:
                    imported.stop()

    def test_5_pages_in_the_browser(self):
        c = self.collectors[-1]
        shots = os.path.join(ARGS.artefacts, ARGS.store)
        os.makedirs(shots, exist_ok=True)
        dom = peers.browser_dom(c.url + "/")
        for _, _, cls_name, _ in KINDS:
            self.assertIn(">%s</a>" % cls_name, dom)
        self.assertTrue(peers.browser_screenshot(c.url + "/", os.path.join(shots, "groups.png")))
        # Sorting: the links of the column heads; by class, then by the other direction of it.
        href = re.search(r'id="sort-class" href="([^"]+)"|href="([^"]+)" id="sort-class"', dom)
        self.assertIsNotNone(href, dom[:2000])
        sorted_dom = peers.browser_dom(c.url + (href.group(1) or href.group(2)).replace("&amp;", "&"))
        classes = re.findall(r'<tr class="group" data-id="\d+"><td><a href="/groups/\d+">([^<]+)</a>', sorted_dom)
        self.assertEqual(classes, sorted(classes))
        self.assertGreaterEqual(len(classes), 2)
        # Filtering by class and by text, as the form sends them.
        only = peers.browser_dom(c.url + "/?class=EAccessViolation&version=&q=")
        self.assertEqual(re.findall(r'<tr class="group" data-id="\d+"><td><a href="/groups/\d+">([^<]+)</a>', only),
                         ["EAccessViolation"])
        text = peers.browser_dom(c.url + "/?q=dividebyzero")
        self.assertNotIn(">EAccessViolation</a>", text)
        self.assertIn(">EDivByZero</a>", text)
        group = next(g for g in self.lab_groups() if g["exceptionClass"] == "EDivByZero")
        page = peers.browser_dom(c.url + "/groups/%d?tab=1" % group["id"])
        self.assertIn('<svg id="chart"', page)
        for tab in ("general", "call stack", "modules", "processes", "hardware", "cpu regs", "stack dump", "disasm"):
            self.assertRegex(page, r'<nav class="tabs">.*>%s</a>' % re.escape(tab))
        self.assertIn("DivideByZero", page)
        self.assertIn('alt="screenshot"', page)
        self.assertTrue(peers.browser_screenshot(c.url + "/groups/%d?tab=1" % group["id"],
                                                 os.path.join(shots, "group.png"), "1280,2400"))
        self.assertTrue(peers.browser_screenshot(c.url + "/groups/%d?tab=0" % group["id"],
                                                 os.path.join(shots, "group-general.png"), "1280,2400"))

    def test_6_fixed_group_comes_back_as_regression(self):
        c = self.collectors[0]
        group = next(g for g in self.lab_groups() if g["exceptionClass"] == "EAccessViolation")
        form = b"version=2000-01-01+00%3A00"
        status, _ = c.post("/groups/%d/fixed" % group["id"], form, "application/x-www-form-urlencoded")
        self.assertEqual(status, 401, "changing needs the login")
        req = urllib.request.Request(c.url + "/groups/%d/fixed" % group["id"], data=form, method="POST",
                                     headers={"Content-Type": "application/x-www-form-urlencoded",
                                              "Authorization": auth(ADMIN)})
        with urllib.request.urlopen(req, timeout=30) as r:
            self.assertIn(b"fixed in 2000-01-01 00:00", r.read(), "redirected to the group page")
        self.assertEqual(c.api("/api/groups/%d" % group["id"])["fixedIn"], "2000-01-01 00:00")
        # The same crash from this (later) build: a regression.
        rc = http_lab.crash(os.path.join(self.tmp, "again.txt"), c.port, "--set", 'HttpAccount="%s"' % LOGIN[0],
                            scenario=("null-call",))
        self.assertEqual(rc, 0xC0000005)
        after = c.api("/api/groups/%d" % group["id"])
        self.assertEqual(after["count"], REPEATS + 1)
        self.assertTrue(after["regression"])
        self.assertIsNone(after["fixedIn"])
        self.assertIn("regression in", c.get("/").decode())

    def test_7_servers_end_cleanly(self):
        for c in self.collectors:
            self.assertEqual(c.stop(), 0, "kxcollect's own end, under the sanitizers")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--lab", required=True)
    parser.add_argument("--lab-kx", required=True)
    parser.add_argument("--kxcollect", required=True)
    parser.add_argument("--store", choices=("sqlite", "postgresql"), default="sqlite")
    parser.add_argument("--artefacts", required=True)
    ARGS, rest = parser.parse_known_args()
    if not os.path.exists(ARGS.kxcollect):
        sys.exit("kxcollect is not built: %s (the native build makes it)" % ARGS.kxcollect)
    unittest.main(argv=[sys.argv[0], "-v"] + rest)
