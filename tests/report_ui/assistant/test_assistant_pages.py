#!/usr/bin/env python3
"""The assistant pages under Xvfb, driven from a second process
(assistant_driver.exe); screenshots of the pages are kept in SHOTS. Then
the page handlers the probe names: OnAction through the debug information,
the hook after loading an assistant, the assistant's handler.

test_assistant_pages.py DRIVER PROBE SHOTS
"""
import os
import subprocess
import sys
import tempfile

from page_shots import run_driver

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "helpers"))
from winetest import winpath  # noqa: E402


EXPECTED_ACTIONS = [
    "page action 0 LabForm",  # OnAction found through the debug information
    "edit set by the page's handler",
    "edit as check box <none>",
    "check box found",
    "active CancelBtn",
    "skip SkipBtn",
    "hook Lab Assistant 1 pages, exception 1",
    "assistant action 3 ContactForm",
]


def actions(probe):
    with tempfile.TemporaryDirectory(prefix="kxactions") as tmp:
        out = os.path.join(tmp, "actions.txt")
        proc = subprocess.run(["wine", probe, winpath(out), "--actions"], env=dict(os.environ, WINEDEBUG="-all"),
                              capture_output=True, timeout=60)
        got = open(out, encoding="latin-1").read().splitlines() if os.path.exists(out) else []
    if proc.returncode != 0 or got != EXPECTED_ACTIONS:
        print("actions: exit code %s, got %r, expected %r" % (proc.returncode, got, EXPECTED_ACTIONS))
        return False
    print("actions: as expected")
    return True


def main():
    driver, probe, shots = sys.argv[1:4]
    os.makedirs(shots, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="kxassist") as tmp:
        lines, code = run_driver(["wine", driver, winpath(probe), winpath(os.path.join(tmp, "out.txt"))], shots,
                                 dict(os.environ, WINEDEBUG="-all"))
    ok = code == 0 and lines and lines[-1] == "PASS"
    ok = actions(probe) and ok
    print("1 passed, 0 failed" if ok else "0 passed, 1 failed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
