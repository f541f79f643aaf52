#!/usr/bin/env python3
"""The assistant pages under Xvfb, driven from a second process
(assistant_driver.exe); screenshots of the pages are kept in SHOTS.

test_assistant_pages.py DRIVER PROBE SHOTS
"""
import os
import sys
import tempfile

from page_shots import run_driver

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "helpers"))
from winetest import winpath  # noqa: E402


def main():
    driver, probe, shots = sys.argv[1:4]
    os.makedirs(shots, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="kxassist") as tmp:
        lines, code = run_driver(["wine", driver, winpath(probe), winpath(os.path.join(tmp, "out.txt"))], shots,
                                 dict(os.environ, WINEDEBUG="-all"))
    ok = code == 0 and lines and lines[-1] == "PASS"
    print("1 passed, 0 failed" if ok else "0 passed, 1 failed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
