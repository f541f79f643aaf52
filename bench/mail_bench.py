#!/usr/bin/python3
"""Mail benchmark under Wine: starts aiosmtpd and dnsmasq on 127.0.0.1 (the
test peers), runs mail_bench.exe and checks that every mail arrived whole.
  bench/mail_bench.py [BUILD_DIR] [RUNS]     (default build/win, 9)"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "helpers"))
import mail_peers  # noqa: E402
from winetest import winpath  # noqa: E402

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win"))
runs = sys.argv[2] if len(sys.argv) > 2 else "9"
subprocess.run(["ninja", "-C", build, "mail_bench"], check=True, stdout=subprocess.DEVNULL)
smtp, recorder, smtp_port = mail_peers.start_smtp()
dns, dns_port = mail_peers.start_dnsmasq()
try:
    with tempfile.TemporaryDirectory() as d:
        big = os.path.join(d, "big.bin")
        with open(big, "wb") as f:
            f.write(os.urandom(2 * 1024 * 1024))
        env = dict(os.environ, WINEPREFIX=os.environ.get("WINEPREFIX", os.path.join(build, "wineprefix")),
                   WINEDEBUG="-all")
        subprocess.run(["wine", os.path.join(build, "bench", "mail_bench.exe"), str(smtp_port), str(dns_port),
                        winpath(big), runs], env=env, check=True)
        import email, email.policy
        with open(big, "rb") as f:
            data = f.read()
        for _, _, raw in recorder.messages:
            msg = email.message_from_bytes(raw, policy=email.policy.default)
            assert next(msg.iter_attachments()).get_content() == data, "attachment changed in transit"
        print(f"{len(recorder.messages)} mails received, every attachment byte for byte")
finally:
    smtp.stop()
    dns.kill()
