"""What the Python test harnesses share: Windows paths of build files, running
programs under Wine, the display's size, and waiting on a condition with a
deadline (the one way the harnesses wait for a file, a window or a server)."""

import os
import re
import subprocess
import time


def winpath(path):
    """A host path as a program under Wine sees it (Wine's Z: drive)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env(**extra):
    """The environment for a program under Wine, without Wine's own messages."""
    return dict(os.environ, WINEDEBUG="-all", **extra)


def wine(*args, timeout=120, **kwargs):
    """Runs a program under Wine and returns the completed process (output captured)."""
    return subprocess.run(["wine", *args], env=wine_env(), capture_output=True, timeout=timeout, **kwargs)


def screen_size():
    """The X display's size in pixels (xdpyinfo)."""
    out = subprocess.run(["xdpyinfo"], capture_output=True, text=True, timeout=20).stdout
    w, h = re.search(r"dimensions:\s+(\d+)x(\d+)", out).groups()
    return int(w), int(h)


def wait_until(cond, timeout=15, interval=0.05):
    """Asks cond() until it gives a true value, which is returned; None when
    `timeout` seconds have passed (cond is asked once more at the deadline)."""
    end = time.monotonic() + timeout
    while True:
        value = cond()
        if value:
            return value
        if time.monotonic() >= end:
            return cond() or None
        time.sleep(interval)


def file_size(path):
    """The size of a file, 0 when it is not there (yet)."""
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def wait_for_file(path, timeout=30, settled=0.0):
    """Waits until the file exists and is not empty; with `settled`, also until
    its size has not changed for that many seconds (a writer in another process
    that has finished). True when it did in time."""
    if not wait_until(lambda: file_size(path) > 0, timeout):
        return False
    if settled <= 0:
        return True
    end = time.monotonic() + timeout
    size, since = file_size(path), time.monotonic()
    while time.monotonic() < end:
        time.sleep(min(settled, 0.05))
        now = file_size(path)
        if now != size:
            size, since = now, time.monotonic()
        elif time.monotonic() - since >= settled:
            return True
    return False
