#!/usr/bin/python3
"""Runs mail_peers_test.exe under Wine against the real and misbehaving peers
of tests/helpers/mail_peers.py, then checks with the email package what arrived."""
import email
import email.policy
import email.utils
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "helpers"))
import mail_peers  # noqa: E402
from winetest import winpath  # noqa: E402

EXE = None


def resolv_servers():
    servers = []
    try:
        with open("/etc/resolv.conf") as f:
            for line in f:
                parts = line.split()
                if len(parts) >= 2 and parts[0] == "nameserver" and re.fullmatch(r"[0-9.]+", parts[1]):
                    servers.append(parts[1])
    except OSError:
        pass
    return servers


class MailPeersTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = []
        cls.relay, cls.relay_mail, relay_port = mail_peers.start_smtp()
        cls.login, cls.login_mail, login_port = mail_peers.start_smtp(login=True)
        # The mail exchanger of the test zone (mx-b.kx.test, nomx.test).
        cls.mx, cls.mx_mail, mx_port = mail_peers.start_smtp()
        cls.dns, dns_port = mail_peers.start_dnsmasq()
        cls.bad_dns, bad_dns_port = mail_peers.start_bad_dns()
        cls.walk_dns, walk_port, cls.walk_seen = mail_peers.start_referral_dns()
        bad = []
        cls.bad_servers = []
        for mode in mail_peers.MISBEHAVIOURS:
            server, port = mail_peers.start_misbehaving(mode)
            cls.bad_servers.append(server)
            bad.append(f"{mode}={port}")
        cls.files = tempfile.mkdtemp(prefix="kxmail")
        env = dict(os.environ, WINEDEBUG="-all", KX_SMTP_PORT=str(relay_port), KX_SMTP_LOGIN_PORT=str(login_port),
                   KX_MX_PORT=str(mx_port), KX_DNS_PORT=str(dns_port), KX_BAD_DNS_PORT=str(bad_dns_port),
                   KX_WALK_DNS_PORT=str(walk_port),
                   KX_BAD_SMTP=",".join(bad), KX_CLOSED_PORT=str(mail_peers.free_port()),
                   KX_FILES=winpath(cls.files), KX_RESOLV_SERVERS=",".join(resolv_servers()))
        cls.wine = subprocess.run(["wine", EXE], env=env, capture_output=True, timeout=400)
        sys.stdout.write(cls.wine.stdout.decode("latin-1").replace("\r\n", "\n"))
        cls.dns.kill()
        cls.dns.wait()
        for c in (cls.relay, cls.login, cls.mx):
            c.stop()

    def received(self, recorder, subject_start):
        out = []
        for mail_from, rcpts, data in recorder.messages:
            msg = email.message_from_bytes(data, policy=email.policy.default)
            if str(msg["Subject"]).startswith(subject_start):
                out.append((mail_from, rcpts, data, msg))
        return out

    def file(self, name):
        with open(os.path.join(self.files, name), "rb") as f:
            return f.read()

    def test_wine_side_passed(self):
        self.assertEqual(self.wine.returncode, 0, self.wine.stdout.decode("latin-1")[-4000:])

    def test_client_mode_message(self):
        got = self.received(self.relay_mail, "client attachments")
        self.assertEqual(len(got), 1)
        mail_from, rcpts, data, msg = got[0]
        self.assertEqual(mail_from, "lab@sender.test")
        self.assertEqual(rcpts, ["desk@kx.test", "second@kx.test"])
        self.assertEqual(str(msg["Subject"]), "client attachments \xe9t\xe9")
        self.assertEqual([a.addr_spec for a in msg["To"].addresses], ["desk@kx.test", "second@kx.test"])
        self.assertEqual(msg["From"].addresses[0].display_name, "Crash Lab")
        self.assertIsNotNone(email.utils.parsedate_to_datetime(str(msg["Date"])))
        self.assertRegex(str(msg["Message-ID"]), r"^<[0-9A-F]{15}@Kestrix>$")
        for line in data.split(b"\r\n"):
            self.assertLessEqual(len(line), 998)
        parts = list(msg.iter_parts())
        text = parts[0].get_content()
        self.assertIn("exception message : access violation\n.\n..two dots\n" + "L" * 2500 + "\nend",
                      text.replace("\r\n", "\n"))
        attachments = {p.get_filename(): p for p in parts[1:]}
        self.assertEqual(sorted(attachments), ["binary.bin", "dots.txt", "exact57.bin", "shot.png"])
        for name, source in [("binary.bin", "binary.bin"), ("exact57.bin", "exact57.bin"), ("shot.png", "shot.PNG"),
                             ("dots.txt", "dots.txt")]:
            self.assertEqual(attachments[name].get_content(), self.file(source), name)
        self.assertEqual(attachments["shot.png"].get_content_type(), "image/png")
        self.assertEqual(attachments["binary.bin"].get_content_type(), "application/octet-stream")
        self.assertIn(b"filename=\"exact57.bin\"\r\n\r\neHh4", data)
        self.assertEqual(re.search(rb'filename="exact57.bin"\r\n\r\n([^\r]*)\r\n', data).group(1).__len__(), 76)

    def test_login_checked_by_server(self):
        self.assertEqual(len(self.received(self.login_mail, "client login")), 1)
        self.assertEqual(self.received(self.login_mail, "client wrong password"), [])
        self.assertEqual(self.received(self.login_mail, "client without login"), [])

    def test_server_mode_delivered_to_the_exchanger(self):
        got = self.received(self.mx_mail, "server mode")
        by_rcpt = sorted((r[1][0], str(r[3]["Subject"])) for r in got)
        self.assertEqual(by_rcpt, [("desk@kx.test", "server mode"), ("desk@kx.test", "server mode partly"),
                                   ("other@nomx.test", "server mode")])
        for _, _, _, msg in got:
            att = [p for p in msg.iter_attachments()]
            self.assertEqual(att[0].get_content(), b"server mode attachment\r\n")

    def test_walk_stops_after_its_rounds(self):
        circle = [q for q in self.walk_seen if b"\x06circle" in q and q[-4:-2] == b"\x00\x02"]
        # The root's first answer and at most ten more rounds.
        self.assertEqual(len(circle), 11)

    def test_misbehaving_servers_received_nothing_complete(self):
        self.assertEqual(self.received(self.relay_mail, "misbehaving"), [])


if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    unittest.main(verbosity=2)
