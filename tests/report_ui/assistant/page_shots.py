"""Running a page driver under Wine: at each "SHOT name" line it prints, a
screenshot of the screen goes to the shots folder and the driver is told to
go on."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "wine"))
from wine_threads import dump_threads  # noqa: E402


def run_driver(command, shots, env):
    """Runs `command` (a list), taking the screenshots it asks for; returns
    its output lines and exit code (None when it had to be killed)."""
    proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
    lines = []
    with proc:
        for raw in proc.stdout:
            line = raw.decode("latin-1").strip()
            lines.append(line)
            print(line, flush=True)
            if line.startswith("SHOT "):
                subprocess.run(["import", "-window", "root", os.path.join(shots, line[5:] + ".png")],
                               capture_output=True, timeout=30)
                proc.stdin.write(b"\n")
                proc.stdin.flush()
        try:
            proc.wait(timeout=120)
        except subprocess.TimeoutExpired:
            dump_threads("the page driver did not end", command)
            proc.kill()
            return lines, None
    return lines, proc.returncode
