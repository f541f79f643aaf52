#!/usr/bin/python3
"""A crash-lab crash with automatic sending delivers its report to the real
local SMTP server, as a client of a relay and as its own mail server (with
the test zone's DNS); a server that refuses leaves the report kept."""
import email
import email.policy
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "helpers"))
import mail_peers  # noqa: E402
from winetest import winpath  # noqa: E402

LAB = None


def crash(report, *args, scenario=("div-zero",)):
    """A crash (div-zero) under automatic sending: its exit code."""
    env = dict(os.environ, WINEDEBUG="-all")
    launcher = os.path.join(os.path.dirname(LAB), "exit_code.exe")
    proc = subprocess.run(["wine", launcher, LAB, *scenario, "--report", winpath(report),
                           "--set", "AutoSend=true", "--set", 'MailAddr="Bug Desk <desk@kx.test>"',
                           "--set", 'MailFrom="lab@sender.test"', "--set", 'MailSubj="crash: %exceptMsg%"', *args],
                          env=env, capture_output=True, timeout=120)
    code = re.search(rb"exit code 0x([0-9a-f]{8})", proc.stderr)
    assert code, proc.stderr
    return int(code.group(1), 16)


class MailDelivery(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.smtp, cls.mail, cls.smtp_port = mail_peers.start_smtp()
        cls.dns, cls.dns_port = mail_peers.start_dnsmasq()
        cls.refusing, cls.refusing_port = mail_peers.start_misbehaving("reject-data")
        cls.dir = tempfile.mkdtemp(prefix="kxlabmail")

    @classmethod
    def tearDownClass(cls):
        cls.smtp.stop()
        cls.dns.kill()
        cls.dns.wait()
        cls.refusing.shutdown()

    def delivered(self, report, *args, scenario=("div-zero",), rc=0xC0000094, message="Division by zero."):
        before = len(self.mail.messages)
        self.assertEqual(crash(report, *args, scenario=scenario), rc, "the crash's own exit code")
        self.assertEqual(len(self.mail.messages), before + 1)
        mail_from, rcpts, data = self.mail.messages[-1]
        self.assertEqual((mail_from, rcpts), ("lab@sender.test", ["desk@kx.test"]))
        msg = email.message_from_bytes(data, policy=email.policy.default)
        self.assertEqual(str(msg["Subject"]), "crash: " + message)
        parts = list(msg.iter_attachments())
        self.assertEqual([p.get_filename() for p in parts], ["bugreport.txt"])
        sent = parts[0].get_content()
        self.assertTrue(sent.startswith(b"date/time"), sent[:100])
        self.assertRegex(sent, rb"\r\nexception message *: " + re.escape(message.encode()) + rb"\r\n")
        # Saved too only when the send had not finished yet (AutoSaveIfNotSent).
        if os.path.exists(report):
            with open(report, "rb") as f:
                self.assertIn(sent.rstrip(b"\r\n"), f.read(), "the mailed report is the saved one")

    def test_client_mode(self):
        self.delivered(os.path.join(self.dir, "client.txt"), "--set", "MailAsSmtpClient=true",
                       "--set", 'SmtpServer="127.0.0.1"', "--set", f"SmtpPort={self.smtp_port}")

    def test_client_mode_with_the_progress_window(self):
        # AutoSendBox shows the progress window from the sending thread.
        self.delivered(os.path.join(self.dir, "box.txt"), "--set", "MailAsSmtpClient=true", "--set", "AutoSendBox=true",
                       "--set", 'SmtpServer="127.0.0.1"', "--set", f"SmtpPort={self.smtp_port}")

    def test_no_internet_route_still_mails_to_local_servers(self):
        # The public check host never answers (TEST-NET-3): the relay on the
        # loopback, and in server mode the DNS server on the loopback, are
        # asked all the same.
        silent = ("--set", 'OnlineCheckHost="203.0.113.1"')
        self.delivered(os.path.join(self.dir, "offline-client.txt"), *silent, "--set", "MailAsSmtpClient=true",
                       "--set", 'SmtpServer="localhost"', "--set", f"SmtpPort={self.smtp_port}")
        self.delivered(os.path.join(self.dir, "offline-server.txt"), *silent, "--set", "MailAsSmtpServer=true",
                       "--mail-test-network", f"{self.dns_port}:{self.smtp_port}")

    def test_server_mode(self):
        self.delivered(os.path.join(self.dir, "server.txt"), "--set", "MailAsSmtpServer=true",
                       "--mail-test-network", f"{self.dns_port}:{self.smtp_port}")

    def test_program_goes_on_and_ends_while_mailing(self):
        # Sent in the background; the program ends right after going on, and
        # its shutdown lets the mail finish.
        self.delivered(os.path.join(self.dir, "continued.txt"), "--set", "MailAsSmtpServer=true",
                       "--mail-test-network", f"{self.dns_port}:{self.smtp_port}", scenario=("cpp", "--click"),
                       rc=0, message="Lab error raised on purpose.")

    def test_refused_report_is_kept(self):
        report = os.path.join(self.dir, "refused.txt")
        before = len(self.mail.messages)
        start = time.monotonic()
        rc = crash(report, "--set", "MailAsSmtpClient=true", "--set", 'SmtpServer="127.0.0.1"',
                   "--set", f"SmtpPort={self.refusing_port}")
        self.assertEqual(rc, 0xC0000094)
        self.assertLess(time.monotonic() - start, 60)
        self.assertEqual(len(self.mail.messages), before)
        with open(report, "rb") as f:
            self.assertIn(b"Division by zero.", f.read(), "the report is kept in the bug report file")


if __name__ == "__main__":
    LAB = sys.argv.pop(1)
    unittest.main(verbosity=2)
