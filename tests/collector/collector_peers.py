"""The peers of the kxcollect tests and the benchmark: kxcollect itself
(serving on a free port, or importing), a PostgreSQL cluster of the test's
own (Debian's initdb and pg_ctl, as a dedicated user when run as root, on a
free port on 127.0.0.1), and headless Chromium for the pages."""
import contextlib
import glob
import json
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, timeout=30, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise TimeoutError("timed out waiting for " + what)


class Collector:
    """A running `kxcollect serve`."""

    def __init__(self, exe, data, store=None, args=()):
        self.port = free_port()
        os.makedirs(data, exist_ok=True)
        self.log = open(os.path.join(data, "kxcollect-%d.log" % self.port), "wb")
        cmd = [exe, "serve", "--data", data, "--listen", "127.0.0.1:%d" % self.port, *args]
        if store:
            cmd += ["--store", store]
        self.proc = subprocess.Popen(cmd, stdout=self.log, stderr=subprocess.STDOUT)
        wait_for(self._answers, what="kxcollect on port %d" % self.port)

    def _answers(self):
        if self.proc.poll() is not None:
            raise RuntimeError("kxcollect ended with %d" % self.proc.returncode)
        with contextlib.suppress(OSError):
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        return False

    @property
    def url(self):
        return "http://127.0.0.1:%d" % self.port

    def get(self, path):
        with urllib.request.urlopen(self.url + path, timeout=30) as r:
            return r.read()

    def api(self, path):
        return json.loads(self.get(path))

    def post(self, path, body, content_type, headers=None):
        """(status, answer text)."""
        req = urllib.request.Request(self.url + path, data=body, method="POST",
                                     headers={"Content-Type": content_type, **(headers or {})})
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                return r.status, r.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.read().decode()

    def stop(self):
        """Ends the server (as a service manager would): its exit status, 0
        when it ended cleanly (the sanitizers' findings make it other)."""
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=30)
        self.log.close()
        return self.proc.returncode


def run_import(exe, data, files, store=None):
    cmd = [exe, "import", "--data", data, *files]
    if store:
        cmd += ["--store", store]
    return subprocess.run(cmd, capture_output=True, text=True, timeout=300)


def _pg_bin():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
    if not found:
        raise RuntimeError("PostgreSQL's initdb is not installed (Debian package postgresql)")
    return os.path.dirname(found[-1])


class PostgresCluster:
    """A throw-away cluster: initdb refuses root, so as root it runs as the
    dedicated user "kxcollect-pg" (created when missing)."""
    USER = "kxcollect-pg"

    def __init__(self):
        self.bin = _pg_bin()
        self.dir = tempfile.mkdtemp(prefix="kxpg")
        self.port = free_port()
        self.prefix = []
        if os.geteuid() == 0:
            try:
                pwd.getpwnam(self.USER)
            except KeyError:
                subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                                self.USER], check=True)
            shutil.chown(self.dir, self.USER)
            self.prefix = ["runuser", "-u", self.USER, "--"]
        data = os.path.join(self.dir, "data")
        self._run("initdb", "-D", data, "-U", "kx", "--auth=trust", "-E", "UTF8", "--locale=C", "--no-sync")
        self._run("pg_ctl", "-D", data, "-l", os.path.join(self.dir, "log"), "-w", "-t", "60", "-o",
                  "-c listen_addresses=127.0.0.1 -c port=%d -k %s -c fsync=on -c max_connections=200"
                  % (self.port, self.dir), "start")
        self.data = data

    def _run(self, tool, *args):
        subprocess.run([*self.prefix, os.path.join(self.bin, tool), *args], check=True, capture_output=True,
                       timeout=120)

    def create_database(self, name):
        self._run("createdb", "-h", "127.0.0.1", "-p", str(self.port), "-U", "kx", name)
        return "postgresql://kx@127.0.0.1:%d/%s" % (self.port, name)

    def stop(self):
        with contextlib.suppress(Exception):
            self._run("pg_ctl", "-D", self.data, "-m", "fast", "-w", "stop")
        shutil.rmtree(self.dir, ignore_errors=True)


def chromium(*args, timeout=90):
    """Headless Chromium with a fresh profile; its standard output."""
    exe = shutil.which("chromium") or shutil.which("chromium-browser")
    if not exe:
        raise RuntimeError("chromium is not installed")
    with tempfile.TemporaryDirectory(prefix="kxchrome") as profile:
        proc = subprocess.run([exe, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                               "--disable-background-networking", "--disable-component-update", "--disable-sync",
                               "--user-data-dir=" + profile, *args],
                              capture_output=True, timeout=timeout)
    return proc.stdout.decode("utf-8", "replace")


def browser_dom(url):
    return chromium("--dump-dom", url)


def browser_screenshot(url, path, size="1280,1000"):
    chromium("--screenshot=" + path, "--window-size=" + size, url)
    return os.path.exists(path) and os.path.getsize(path) > 0
