"""A local upload server for the tests and the benchmark: Python's http.server
on 127.0.0.1 with a handler that parses the multipart form byte for byte.

The answer is chosen by `mode`: "ok" (200), "redirect" (302 to `location`),
"continue" (100 then 200), "error" (500), "stall" (reads the request, never
answers), "close" (closes after the head, before the body).
"""
import base64
import http.server
import re
import socket
import threading


class UploadError(Exception):
    pass


def parse_multipart(body, boundary):
    """[(headers dict, name, filename or None, content bytes)] in order."""
    data = b"\r\n" + body
    pieces = data.split(b"\r\n--" + boundary)
    if pieces[0] != b"":
        raise UploadError("text before the first boundary")
    if pieces[-1] != b"--\r\n":
        raise UploadError("body does not end with the closing boundary: %r" % pieces[-1][:40])
    parts = []
    for piece in pieces[1:-1]:
        if not piece.startswith(b"\r\n"):
            raise UploadError("boundary line not ended by CR LF")
        head, sep, content = piece[2:].partition(b"\r\n\r\n")
        if not sep:
            raise UploadError("part without an empty line")
        headers = {}
        for line in head.split(b"\r\n"):
            name, _, value = line.decode("latin-1").partition(":")
            headers[name.strip().lower()] = value.strip()
        disp = headers.get("content-disposition", "")
        if not disp.startswith("form-data;"):
            raise UploadError("bad disposition %r" % disp)
        params = dict(re.findall(r';\s*(\w+)="([^"]*)"', disp))
        parts.append((headers, params.get("name"), params.get("filename"), content))
    return parts


class UploadServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), UploadHandler)
        self.mode = "ok"
        self.location = "http://127.0.0.1/thanks"
        self.requests = []  # (handler headers, path, parts or error text)
        self.release = threading.Event()
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)

    @property
    def port(self):
        return self.server_address[1]

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.release.set()
        self.shutdown()
        self.server_close()


class UploadHandler(http.server.BaseHTTPRequestHandler):
    timeout = 30
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        server = self.server
        if server.mode == "close":
            server.requests.append((self.headers, self.path, "closed early"))
            self.close_connection = True
            self.connection.close()
            return
        length = int(self.headers.get("Content-Length", "-1"))
        body = self.rfile.read(length) if length >= 0 else b""
        ctype = self.headers.get("Content-Type", "")
        match = re.fullmatch(r'multipart/form-data; boundary=(\S+)', ctype)
        try:
            if len(body) != length:
                raise UploadError("body shorter than Content-Length")
            if not match:
                raise UploadError("content type %r" % ctype)
            parts = parse_multipart(body, match.group(1).encode())
        except UploadError as e:
            parts = str(e)
        server.requests.append((self.headers, self.path, parts))
        if server.mode == "stall":
            server.release.wait(60)
            return
        if server.mode == "continue":
            self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
            self.wfile.flush()
        if server.mode == "error" or isinstance(parts, str):
            self.send_response(500)
        elif server.mode == "redirect":
            self.send_response(302)
            self.send_header("Location", server.location)
        else:
            self.send_response(200)
        self.send_header("Content-Length", "0")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True


def basic_auth(headers):
    value = headers.get("Authorization", "")
    if not value.startswith("Basic "):
        return None
    return base64.b64decode(value[6:]).decode("latin-1")


def can_ping():
    """Whether this machine lets a program open an ICMP socket (raw, or the
    unprivileged datagram kind Wine falls back to): the uploads' online check
    needs one to tell a silent host."""
    for kind in (socket.SOCK_RAW, socket.SOCK_DGRAM):
        try:
            socket.socket(socket.AF_INET, kind, socket.IPPROTO_ICMP).close()
            return True
        except OSError:
            pass
    return False
