#!/usr/bin/python3
"""Mail peers on 127.0.0.1, started by the tests on free high ports.

aiosmtpd as relay (with and without a login) and as mail exchanger,
dnsmasq with MX records of a test domain, a scripted misbehaving SMTP
server and a DNS server that sends malformed answers.
"""
import socket
import socketserver
import struct
import subprocess
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

from winetest import wait_until

LOGIN = (b"kx-account", b"kx-secret")


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Recorder:
    """An aiosmtpd handler that keeps (mail from, recipients, message bytes)."""

    def __init__(self):
        self.messages = []
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.messages.append((envelope.mail_from, list(envelope.rcpt_tos), envelope.content))
        return "250 OK queued"


def _check_login(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and (auth_data.login, auth_data.password) == LOGIN
    return AuthResult(success=ok, handled=False)


def start_smtp(login=False, host="127.0.0.1"):
    """An aiosmtpd server: (controller, recorder, port)."""
    recorder = Recorder()
    port = free_port()
    kwargs = dict(hostname=host, port=port, ready_timeout=10)
    if login:
        kwargs.update(authenticator=_check_login, auth_require_tls=False, auth_required=True)
    controller = Controller(recorder, **kwargs)
    controller.start()
    return controller, recorder, port


DNSMASQ_RECORDS = [
    # kx.test: preferences out of order, the best one without an address,
    # the next one on an address where nothing listens.
    "--mx-host=kx.test,mx-b.kx.test,20",
    "--mx-host=kx.test,nowhere.kx.test,5",
    "--mx-host=kx.test,mx-a.kx.test,10",
    "--host-record=mx-a.kx.test,127.0.0.2",
    "--host-record=mx-b.kx.test,127.0.0.1",
    # lab.kx.test: the base domain of names below it.
    "--mx-host=lab.kx.test,mx-b.kx.test,10",
    # nomx.test has no MX record, only an address: its own mail exchanger.
    "--host-record=nomx.test,127.0.0.1",
    "--local=/kx.test/", "--local=/nomx.test/", "--local=/none.test/",
]


def start_dnsmasq():
    """dnsmasq serving the test zone: (process, port)."""
    port = free_port(socket.SOCK_DGRAM)
    proc = subprocess.Popen(
        ["/usr/sbin/dnsmasq", "--keep-in-foreground", "--no-resolv", "--no-hosts", "--no-poll",
         "--bind-interfaces", "--listen-address=127.0.0.1", "--interface=lo", f"--port={port}",
         "--user=root", "--group=root", "--pid-file=", "--log-facility=-", "--no-daemon", "--conf-file=/dev/null",
         *DNSMASQ_RECORDS],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Ready once it answers.
    query = struct.pack(">HHHHHH", 9, 0x0100, 1, 0, 0, 0) + b"\x02kx\x04test\x00" + struct.pack(">HH", 15, 1)

    def answers():
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(0.1)
            try:
                s.sendto(query, ("127.0.0.1", port))
                s.recvfrom(512)
                return True
            except OSError:
                return False

    if wait_until(answers, timeout=15):
        return proc, port
    proc.kill()
    raise RuntimeError("dnsmasq did not start")


class _Misbehaving(socketserver.BaseRequestHandler):
    """SMTP server whose behaviour is named by self.server.mode."""

    def line(self):
        data = b""
        while not data.endswith(b"\r\n"):
            chunk = self.request.recv(1)
            if not chunk:
                raise ConnectionError
            data += chunk
        return data

    def handle(self):
        mode = self.server.mode
        r = self.request
        try:
            if mode == "refuse":
                r.sendall(b"554 no service here\r\n")
                self.line()
                return
            # The silences and the trickle below are the misbehaviour itself:
            # each outlasts the client's time-out.
            if mode == "stall":
                time.sleep(30)
                return
            if mode == "silent-after-ehlo":
                r.sendall(b"220 hello\r\n")
                self.line()
                time.sleep(30)
                return
            if mode == "garbage":
                r.sendall(b"220 hello\r\n")
                self.line()
                r.sendall(b"this is not smtp\r\n")
                time.sleep(2)  # open a while, so that the client reads the garbage, not a close
                return
            if mode == "trickle":
                # One byte every 2 seconds, never a line end.
                for _ in range(30):
                    r.sendall(b"2")
                    time.sleep(2)
                return
            r.sendall(b"220 hello\r\n")
            while True:
                cmd = self.line().upper()
                if cmd.startswith(b"EHLO") or cmd.startswith(b"HELO"):
                    r.sendall(b"250 hi\r\n")
                elif cmd.startswith(b"MAIL") or cmd.startswith(b"RCPT"):
                    r.sendall(b"250 ok\r\n")
                elif cmd.startswith(b"DATA"):
                    r.sendall(b"354 go\r\n")
                    if mode == "drop-in-data":
                        r.recv(100)
                        return  # closes mid-message
                    data = b""
                    while not data.endswith(b"\r\n.\r\n"):
                        chunk = r.recv(65536)
                        if not chunk:
                            return
                        data += chunk
                    if mode == "reject-data":
                        r.sendall(b"554 5.6.0 message refused\r\n")
                    elif mode == "silent-after-data":
                        time.sleep(30)
                        return
                    else:
                        r.sendall(b"250 ok\r\n")
                elif cmd.startswith(b"QUIT"):
                    r.sendall(b"221 bye\r\n")
                    return
                else:
                    r.sendall(b"500 what\r\n")
        except (ConnectionError, OSError):
            pass


class _ThreadingTCP(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


MISBEHAVIOURS = ["refuse", "stall", "silent-after-ehlo", "garbage", "trickle", "drop-in-data",
                 "reject-data", "silent-after-data"]


def start_misbehaving(mode):
    server = _ThreadingTCP(("127.0.0.1", 0), _Misbehaving)
    server.mode = mode
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, server.server_address[1]


def _name(text):
    return b"".join(bytes([len(p)]) + p.encode() for p in text.split(".")) + b"\0"


def _bad_dns_reply(query):
    """A malformed reply chosen by the first label of the question."""
    qid = query[:2]
    qname_end = query.index(b"\0", 12) + 1
    question = query[12:qname_end + 4]
    label = query[13:13 + query[12]].decode("latin-1")
    header = lambda ident, an: ident + struct.pack(">HHHHH", 0x8180, 1, an, 0, 0)
    mx_rr = lambda target: b"\xc0\x0c" + struct.pack(">HHIH", 15, 1, 60, 2 + len(target)) + b"\0\x0a" + target
    ptr_self = 12 + len(question) + 12 + 2  # offset of the MX target name in the answer
    if label == "loop":
        return header(qid, 1) + question + mx_rr(struct.pack(">H", 0xc000 | ptr_self))
    if label == "pingpong":
        # Two pointers that point at each other.
        return header(qid, 1) + question + mx_rr(b"\x01a" + struct.pack(">H", 0xc000 | (ptr_self + 4)) +
                                                 struct.pack(">H", 0xc000 | ptr_self))
    if label == "outside":
        return header(qid, 1) + question + mx_rr(b"\xc3\xff")
    if label == "truncated":
        return (header(qid, 1) + question + mx_rr(_name("mx.bad.test")))[:-6]
    if label == "wrongid":
        return header(bytes([qid[0] ^ 0xff, qid[1]]), 1) + question + mx_rr(_name("mx.bad.test"))
    if label == "wrongquestion":
        other = _name("other.test") + question[-4:]
        return header(qid, 1) + other + b"\xc0\x0c" + struct.pack(">HHIH", 15, 1, 60, 2 + 2) + b"\0\x0a\xc0\x0c"
    if label == "hugecount":
        return header(qid, 0xffff) + question + mx_rr(_name("mx.bad.test"))
    if label == "silent":
        return None
    return header(qid, 0) + question


def start_bad_dns():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))

    def serve():
        while True:
            try:
                query, peer = sock.recvfrom(512)
                reply = _bad_dns_reply(query)
                if reply is not None:
                    sock.sendto(reply, peer)
            except (OSError, ValueError, IndexError):
                continue

    threading.Thread(target=serve, daemon=True).start()
    return sock, sock.getsockname()[1]


def _referral_reply(query, authoritative):
    """The walk from the root: 127.0.0.1 refers walk.test to ns.walk.test
    (127.0.0.2), which answers NS and MX; circle.test is referred back to the
    root itself, round after round."""
    qid = query[:2]
    qname_end = query.index(b"\0", 12) + 1
    question = query[12:qname_end + 4]
    qtype = struct.unpack(">H", query[qname_end:qname_end + 2])[0]
    domain = query[13:13 + query[12]].decode("latin-1")
    rr = lambda rtype, data: b"\xc0\x0c" + struct.pack(">HHIH", rtype, 1, 60, len(data)) + data
    glue = lambda addr: _name(f"ns.{domain}.test") + struct.pack(">HHIH", 1, 1, 60, 4) + bytes(addr)
    head = lambda an, ns, ar: qid + struct.pack(">HHHHH", 0x8180, 1, an, ns, ar)
    if domain == "walk" and authoritative:
        if qtype == 2:
            return head(1, 0, 1) + question + rr(2, _name("ns.walk.test")) + glue([127, 0, 0, 2])
        if qtype == 15:
            return head(1, 0, 0) + question + rr(15, b"\0\x0a" + _name("mx.walk.test"))
        return head(0, 0, 0) + question
    if qtype == 2 and domain in ("walk", "circle"):
        target = [127, 0, 0, 2] if domain == "walk" else [127, 0, 0, 1]
        return head(0, 1, 1) + question + rr(2, _name(f"ns.{domain}.test")) + glue(target)
    return head(0, 0, 0) + question


def start_referral_dns():
    """The root (127.0.0.1) and walk.test's name server (127.0.0.2) on one port:
    (sockets, port, queries seen by the root)."""
    seen = []
    for _ in range(20):
        port = free_port(socket.SOCK_DGRAM)
        try:
            socks = []
            for addr in ("127.0.0.1", "127.0.0.2"):
                s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                s.bind((addr, port))
                socks.append(s)
            break
        except OSError:
            for s in socks:
                s.close()
    else:
        raise RuntimeError("no port free on both addresses")

    def serve(sock, authoritative):
        while True:
            try:
                query, peer = sock.recvfrom(512)
                if not authoritative:
                    seen.append(query)
                sock.sendto(_referral_reply(query, authoritative), peer)
            except (OSError, ValueError, IndexError, struct.error):
                continue

    for sock, auth in zip(socks, (False, True)):
        threading.Thread(target=serve, args=(sock, auth), daemon=True).start()
    return socks, port, seen
