#!/usr/bin/env python3
"""Time from a processor fault to the saved bug report, under Wine.

    python3 bench/crash_report_bench.py build/win/tests/crashlab/crashlab.exe [runs]

The crash lab faults inside a click handler (access violation, display mode
4, no screenshot) and prints the time from just before the fault to the
return of the handling, by which the report is saved to the bug report file.
Each process is measured once; the figures are the median and the spread over
the runs, for a process with 1 thread and with 20 threads (19 idle ones).
Run it with a display (xvfb-run) and a running wineserver.
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile


def measure(lab, threads, runs):
    times = []
    with tempfile.TemporaryDirectory() as tmp:
        report = "Z:" + os.path.join(tmp, "bench.txt").replace("/", "\\")
        for _ in range(runs):
            args = ["wine", lab, "av-read", "--click", "--times", "--report", report]
            if threads > 1:
                args += ["--threads", str(threads - 1)]
            out = subprocess.run(args, capture_output=True, timeout=120,
                                 env=dict(os.environ, WINEDEBUG="-all")).stdout.decode("latin-1")
            m = re.search(r"handled in ([0-9.]+) ms", out)
            if not m:
                raise SystemExit("no time in output: " + out)
            times.append(float(m.group(1)))
        size = os.path.getsize(os.path.join(tmp, "bench.txt"))
    return times, size


def main():
    lab = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    for threads in (1, 20):
        times, size = measure(lab, threads, runs)
        print("%2d thread(s): median %.1f ms, min %.1f ms, max %.1f ms over %d runs (file %d bytes)"
              % (threads, statistics.median(times), min(times), max(times), runs, size))


if __name__ == "__main__":
    main()
