#!/usr/bin/env python3
"""The assistant pages under Xvfb, driven from a second process
(assistant_driver.exe); screenshots of the pages are kept in SHOTS.

test_assistant_pages.py DRIVER PROBE SHOTS
"""
import os
import subprocess
import sys
import tempfile


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    driver, probe, shots = sys.argv[1:4]
    os.makedirs(shots, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="kxassist") as tmp:
        proc = subprocess.Popen(["wine", driver, winpath(probe), winpath(os.path.join(tmp, "out.txt"))],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=dict(os.environ, WINEDEBUG="-all"))
        lines = []
        try:
            for raw in proc.stdout:
                line = raw.decode("latin-1").strip()
                lines.append(line)
                print(line, flush=True)
                if line.startswith("SHOT "):
                    subprocess.run(["import", "-window", "root", os.path.join(shots, line[5:] + ".png")],
                                   capture_output=True, timeout=30)
                    proc.stdin.write(b"\n")
                    proc.stdin.flush()
            proc.wait(timeout=120)
        finally:
            if proc.poll() is None:
                proc.kill()
    ok = proc.returncode == 0 and lines and lines[-1] == "PASS"
    print("1 passed, 0 failed" if ok else "0 passed, 1 failed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
